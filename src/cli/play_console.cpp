// vantrel play's console: messages, the fitted status line, keys.
#include "cli/play_console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr int kDefaultColumns = 80;  // what a terminal that does not say its width has
constexpr size_t kMinShortened = 8;  // fewer characters of a field than this say nothing

// The width of the terminal on standard error, read every time: it may be resized while playing.
int TerminalColumns() {
  winsize ws = {};
  if (ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return kDefaultColumns;
}

// The MIDI input's status texts name the failed call; the user reads what it means.
std::string PlainMidiStatus(const char* psz) {
  static const std::pair<const char*, const char*> aPlain[] = {
      {"midiInOpen() FAILED", "the MIDI input port could not be opened"},
      {"midiInPrepareHeader() FAILED", "the MIDI input port could not be started"},
      {"midiInAddBuffer() FAILED", "the MIDI input port could not be started"},
      {"midiInStart() FAILED", "the MIDI input port could not be started"},
      {"midiInStop() FAILED", "the MIDI input port could not be stopped"},
      {"midiInClose() FAILED", "the MIDI input port could not be closed"},
  };
  for (auto [pszCall, pszPlain] : aPlain)
    if (strcmp(psz, pszCall) == 0) return pszPlain;
  return psz;
}

}  // namespace

std::string FitStatusLine(const std::vector<std::string>& asField, int nColumns) {
  size_t nRoom = nColumns > 1 ? static_cast<size_t>(nColumns - 1) : 0;
  std::string s;
  for (const std::string& sField : asField) {
    size_t nSeparator = s.empty() ? 0 : 2;
    if (s.size() + nSeparator + sField.size() <= nRoom) {
      s += (nSeparator ? "  " : "") + sField;
      continue;
    }
    if (s.size() + nSeparator + kMinShortened + 3 <= nRoom)
      s += (nSeparator ? "  " : "") + sField.substr(0, nRoom - s.size() - nSeparator - 3) + "...";
    break;
  }
  return s;
}

Console::Console() : bTerminal_(isatty(2)) {}

void Console::Write(const std::string& s) {
  // One write for the whole text; a pipe whose reader left answers EPIPE (SIGPIPE is ignored).
  for (size_t iDone = 0; iDone < s.size();) {
    ssize_t n = write(2, s.data() + iDone, s.size() - iDone);
    if (n <= 0) return;
    iDone += static_cast<size_t>(n);
  }
}

void Console::Message(const std::string& s) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string sOut;
  if (bTerminal_ && bStatusShown_) sOut += "\r\033[K";
  sOut += s + "\n";
  if (bTerminal_ && bStatusShown_) sOut += sStatus_;
  Write(sOut);
}

void Console::Status(const std::vector<std::string>& asField) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (bTerminal_) {
    sStatus_ = FitStatusLine(asField, TerminalColumns());
    Write("\r\033[K" + sStatus_);
    bStatusShown_ = true;
  } else {
    sStatus_ = FitStatusLine(asField, 1 << 20);
    Write(sStatus_ + "\n");
  }
}

void Console::EndStatus() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (bTerminal_ && bStatusShown_) Write("\n");
  bStatusShown_ = false;
}

void Console::ShowMidiMsg(const char* psz) {
  if (*psz) Message(std::string("MIDI: ") + psz);
}

void Console::ShowMidiStatus(const char* psz) {
  sMidiStatus = psz;
  if (*psz) Message("MIDI: " + PlainMidiStatus(psz));
}

void Console::ErrorBox(const char* pszTitle, const char* pszText) {
  Message(std::string("vantrel: ") + pszTitle + ": " + pszText);
}

namespace {

// The terminal's modes before the keys were taken, restored by any exit (a fatal error included).
termios g_termiosSaved;
volatile bool g_bTermiosChanged = false;
void RestoreTerminalAtExit() {
  if (g_bTermiosChanged) tcsetattr(0, TCSANOW, &g_termiosSaved);
}

}  // namespace

bool KeyInput::Start() {
  // A background job that touched the terminal's modes would be stopped by the shell.
  if (!isatty(0) || tcgetpgrp(0) != getpgrp()) return false;
  if (tcgetattr(0, &saved_) != 0) return false;
  static bool bAtExit = atexit(RestoreTerminalAtExit) == 0;
  if (!bAtExit) return false;
  g_termiosSaved = saved_;
  g_bTermiosChanged = true;
  termios raw = saved_;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 0;  // reads answer at once, with or without a key
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(0, TCSANOW, &raw) != 0) return false;
  bActive_ = true;
  return true;
}

int KeyInput::Poll() {
  if (!bActive_) return -1;
  unsigned char ch;
  return read(0, &ch, 1) == 1 ? ch : -1;
}

void KeyInput::Restore() {
  if (!bActive_) return;
  tcsetattr(0, TCSANOW, &saved_);
  g_bTermiosChanged = false;
  bActive_ = false;
}
