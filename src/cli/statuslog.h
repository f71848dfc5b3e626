// The status log of a command-line run, and the plain diagnostics the user reads on standard error.
#pragma once

#include <string>

namespace CLI {
class App;
}

// Adds --log FILE to a subcommand; the file is kept for InitStatusLog.
void AddLogOption(CLI::App* papp);

// Opens the status log so that nothing reaches standard output. By default there is no log file
// and warnings and worse reach standard error as plain one-line diagnostics ("vantrel: TEXT");
// --log FILE appends the developer log to FILE as well; KSStatus chooses the developer's own
// actions, logged to the --log file or else a time-stamped file under the installation's log
// folder. False, with a message, when the --log file cannot be opened.
bool InitStatusLog();

// Whether warnings are echoed (errors always are): off while a command prints the patch
// compiler's messages from the error list itself, on again while play runs.
void EchoWarnings(bool bOn);

// Where the plain diagnostics go: by default standard error; play prints them above its status
// line. The sink gets one line without its line feed, and may be called from any thread.
void SetUserMessageSink(void (*pfnSink)(const std::string& sLine));

// True for a message that names a platform or library call ("waveOutOpen() = 6",
// "midiInOpen( 0 ): error ..."): such texts are for the developer log, never for the user.
bool NamesPlatformCall(const char* pszMessage);
