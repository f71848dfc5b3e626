// MIDI messages in words: system messages by status, channel messages by kind.
#include "ide/midiwords.h"

#include <cstdio>
#include <cstring>

#include "enginecore/controllers.h"

namespace {

// System messages, status 240 to 255.
const char* const kapszSystem[16] = {
    "SysEx",          "Time Code Quarter Frame", "Song Position Pointer",     "Song Select",
    "undef Sys Common Msg 244", "undef Sys Common Msg 245", "Tune Request", "End of Exclusive",
    "Timing Clock",   "undef Sys Real-Time Msg 249", "Start Sequence",     "Continue Sequence",
    "Stop Sequence",  "undef Sys Real-Time Msg 253", "Active Sensing",     "Reset",
};

// Channel mode messages, controllers 120 to 127.
const char* const kapszMode[8] = {
    "All Sound Off", "Reset All Controllers", "Local Control Toggle", "All Notes Off",
    "Omni Off",      "Omni On",               "Mono On",              "Poly On",
};

// "C-1" for 0 up to "G9" for 127: the controller space's note-down names without their prefix.
const char* NoteName(int iNote) {
  const char* psz = ControllerName(ControllerNoteDownFirst + iNote);
  return strncmp(psz, "NoteDown", 8) == 0 ? psz + 8 : psz;
}

}  // namespace

std::string MidiMessageInWords(uint32_t uPacked) {
  if (uPacked == 0) return "";
  int iStatus = static_cast<int>(uPacked & 0xFF);
  int d1 = static_cast<int>((uPacked >> 8) & 0x7F), d2 = static_cast<int>((uPacked >> 16) & 0x7F);
  if (iStatus >= 240) return kapszSystem[iStatus - 240];
  char sz[160];
  int n = snprintf(sz, sizeof sz, "Ch%02d: ", (iStatus & 0x0F) + 1);
  char* p = sz + n;
  size_t nLeft = sizeof sz - static_cast<size_t>(n);
  switch (iStatus >> 4) {
    case 8: snprintf(p, nLeft, "NoteOff %s (%d) Vel %d", NoteName(d1), d1, d2); break;
    case 9:
      if (d2 == 0) snprintf(p, nLeft, "NoteOn %s (%d) OFF", NoteName(d1), d1);
      else snprintf(p, nLeft, "NoteOn %s (%d) Vel %d", NoteName(d1), d1, d2);
      break;
    case 10: snprintf(p, nLeft, "PolyPrs %s (%d) %d", NoteName(d1), d1, d2); break;
    case 11:
      if (d1 >= 120) snprintf(p, nLeft, "%s", kapszMode[d1 - 120]);
      else snprintf(p, nLeft, "%s=%d", ControllerName(d1), d2);
      break;
    case 12: snprintf(p, nLeft, "Program Change %d", d1); break;
    case 13: snprintf(p, nLeft, "Channel Prs %d", d1); break;
    case 14: snprintf(p, nLeft, "Pitch Bend %d", d1 + 128 * d2 - 8192); break;
    default: snprintf(p, nLeft, "unknown status %lx", static_cast<unsigned long>(uPacked)); break;
  }
  return sz;
}
