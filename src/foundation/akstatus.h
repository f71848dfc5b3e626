// The status log: one entry point for every developer diagnostic, with per-severity actions.
#pragma once

#include <cstdarg>

struct AKConfig_T;

enum AKSeverity_T {
  AKSNone = 0,
  AKSTrace,
  AKSStatus,
  AKSReport,
  AKSWarn,
  AKSError,
  AKSFatal,
  AKSUser0,
  AKSUser1,
  AKSUser2,
  AKSUser3,
  AKSUser4,
  AKSUser5,
  AKSUser6,
  AKSUser7,
  AKSUser8,
  AKSUser9,
};
constexpr int AKSNumSeverities = 17;

// Action bits, one set per severity.
enum : unsigned {
  AKSActStdout = 0x01,  // S
  AKSActLog = 0x02,     // L
  AKSActExit = 0x04,    // E
  AKSActAbort = 0x08,   // A
  AKSActDebug = 0x10,   // V: the debugger output, which is standard error here
};

// The callback gets the message text alone and the whole formatted line.
using AKSCallback_T = void (*)(int iSeverity, const char* pszFile, int iLine, const char* pszMessage,
                               const char* pszWholeLine, void* pvUser);
using AKSExitHook_T = void (*)(void* pvArg);

int AKS(int iSeverity, const char* pszFile, int iLine, const char* pszFormat, ...)
    __attribute__((format(printf, 4, 5)));
int AKSV(int iSeverity, const char* pszFile, int iLine, const char* pszFormat, va_list args);

void AKSInitialize(const char* pszLogBase);
void AKSInitializeSpec(const char* pszLogBase, const char* pszSpec);
void AKSInitializeFlags(const char* pszLogBase, const unsigned aFlags[AKSNumSeverities]);
void AKSInitializeConfig(AKConfig_T* pconf);
void AKSSetCallback(int iSeverity, AKSCallback_T pfnCallback, void* pvUser);
// The callback of a severity and its user pointer, so that a temporary one can be undone.
AKSCallback_T AKSGetCallback(int iSeverity, void** ppvUser);
void AKSSetCallbackAll(AKSCallback_T pfnCallback, void* pvUser);
void AKSSetExitHook(AKSExitHook_T pfnHook, void* pvArg);
[[noreturn]] void AKSDie(const char* pszMessage);

// Beyond the classic interface: the command line changes one severity's actions after start-up
// (for example to keep warnings it turns into diagnostics off standard error), and reads them.
void AKSSetActions(int iSeverity, unsigned bitsActions);
unsigned AKSGetActions(int iSeverity);
// Whether a message of this severity goes anywhere (an action, a callback or the echo): a caller
// can skip building a text that nothing would read.
bool AKSWanted(int iSeverity);
bool AKSIsInitialized();
// The log file's full name, or "" when there is none.
const char* AKSLogFileName();
// Parses a specification string into action sets; answers the message of the first fault or
// nullptr. Shared by AKSInitializeSpec and by callers that validate before initialising.
const char* AKSParseSpec(const char* pszSpec, unsigned aFlags[AKSNumSeverities]);

// A receiver of messages for the user rather than the developer: it gets the message text alone
// (no time, file or line) for the severities whose bit (1u << severity) is in bitsSeverities,
// except while a callback of that severity takes the messages over. The command line prints
// them as plain one-line diagnostics. Null turns it off.
using AKSEcho_T = void (*)(int iSeverity, const char* pszMessage);
void AKSSetEcho(AKSEcho_T pfnEcho, unsigned bitsSeverities);
// Sends the log to exactly this file, appended to (a user-chosen name, unlike the time-stamped
// files of a base name). Answers false with errno set; the log is then unchanged.
bool AKSOpenLogFile(const char* pszPath);
// Deletes the log files of a base name ("BASE-YYYYMMDD-HHMMSS-PID.log") except the newest nKeep,
// newest by the time in their names; other files are never touched. Answers how many it deleted.
int AKSRotateLogs(const char* pszLogBase, int nKeep);
constexpr int AKSLogsKept = 20;  // how many logs the desktop application keeps: a few weeks of sessions

// Severity letters "TSRWEF0123456789" from severity 1 on, and the names.
char AKSSeverityLetter(int iSeverity);
const char* AKSSeverityName(int iSeverity);

#define AK_HERE __FILE__, __LINE__
// A failed internal check ends the program with the text of the expression.
#define AKAssert(expr) ((expr) ? (void)0 : (void)AKS(AKSError, __FILE__, __LINE__, "%s", #expr))
