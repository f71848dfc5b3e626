// vantrel play's standard error and standard input: messages above a status line that fits the
// terminal, and single keys read without waiting for a line.
#pragma once

#include <termios.h>

#include <mutex>
#include <string>
#include <vector>

#include "engine/midiinputdevice.h"

// Standard error as the command's window: one updating status line on a terminal, plain lines
// otherwise; messages are printed above the status line. Writes that fail (the reader of a pipe
// went away) are dropped: the status output is never a reason to stop playing.
class Console : public MidiInputView {
 public:
  Console();

  void Message(const std::string& s);
  // The status line from its fields, most important first: on a terminal as many as fit its
  // width (the last one shortened when that still says something), so it never wraps.
  void Status(const std::vector<std::string>& asField);
  void EndStatus();

  // MidiInputView.
  void ShowMidiMsg(const char* psz) override;
  void ShowMidiStatus(const char* psz) override;
  void ShowLight(int iState) override { iLight = iState; }
  void ErrorBox(const char* pszTitle, const char* pszText) override;

  std::string sMidiStatus;
  int iLight = -1;

 private:
  void Write(const std::string& s);
  bool bTerminal_;
  bool bStatusShown_ = false;
  std::string sStatus_;
  std::mutex mutex_;
};

// Joins fields with two blanks, keeping those that fit in nColumns - 1 characters (the last
// column stays free, or the terminal would wrap); a field that does not fit is shortened with
// "..." when at least a few of its characters remain, and the rest are left out.
std::string FitStatusLine(const std::vector<std::string>& asField, int nColumns);

// Keys pressed on the terminal, one at a time, while standard input is a terminal of the
// foreground: the terminal is switched to unbuffered input without echo, and back at Restore
// (also on the way out after a second Ctrl-C). Ctrl-C still interrupts.
class KeyInput {
 public:
  ~KeyInput() { Restore(); }
  bool Start();
  // The next key pressed, or -1.
  int Poll();
  void Restore();

 private:
  bool bActive_ = false;
  termios saved_ = {};
};
