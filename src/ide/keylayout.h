// The performance keyboard's key table: reading a layout file into it, centring its keys in a
// control, and which keys are held down (so auto-repeats play nothing).
#pragma once

#include <bitset>
#include <string>
#include <vector>

#include "foundation/akconfig.h"

// One entry per key code: the low eight bits of the platform's virtual key.
constexpr int kKSKeyCount = 256;
// Key names are read as codes 1 to 256; 256 passes that check but has no entry in the table.
constexpr int kKSKeyCodeMax = 256;
// A key's size when the layout does not give one, in pixels.
constexpr double kKSKeyDefaultSize = 31;
// The MIDI-scale values (0 to 127) a key plays with when the layout gives none.
constexpr double kKSKeyDefaultVelocity = 64;

struct KSColor {
  int iRed = 0, iGreen = 0, iBlue = 0;
  bool operator==(const KSColor&) const = default;
};

struct KSKeyEntry {
  std::string sLabel;     // drawn at the top left; the key's name unless the layout gives one
  std::string sFunction;  // drawn at the bottom right
  double dX = 0, dY = 0, dWidth = 0, dHeight = 0;
  KSColor colorBackground, colorText, colorBorder;
  int iChannel = 0;  // the patch-table index whose patch the key plays
  int iNote = -1;    // -1: the key plays nothing
  double dVelocity = 0, dPolyPressure = 0, dRelVelocity = 0;
  // The note this key started and has not released yet, -1 for none. The patch answers no voice
  // for a note on, so the key remembers the note and releases it by number.
  int iNotePlaying = -1;
  bool bFilled = false;  // the layout defined this key
};

// A colour written as 0xRRGGBB in any base a C-style prefix selects (decimal, 0x hexadecimal,
// leading 0 octal).
KSColor KSColorFromNumber(const char* psz);

// The key code a layout key's name stands for: the character's code for a name of one character,
// else the name read as a number (C-style prefixes); 0 when the name is no number.
int KSKeyCodeFromName(const char* pszName);

// Fills the table (kKSKeyCount entries) from a layout: every top-level section is a key group
// ("Background", "Text", "Border", "Channel"), every subsection of a group one key ("Label",
// "Function", "X", "Y", "Width", "Height", "Note", "Velocity", "PolyPrs", "RelVel"). Keys whose
// name is no code between 1 and 256 are skipped with a warning naming pszPath; a later key with
// the same code replaces an earlier one. Answers the number of keys filled.
int KSKeysFromConfig(AKConfig_T* pconf, const char* pszPath, KSKeyEntry* akey);

// Reads the layout file into the table; -1 (with a Fatal log) when the file cannot be read.
int KSReadKeyLayout(const char* pszPath, KSKeyEntry* akey);

// Where the keys go in a client area so that they are centred as a block: the offset added to
// every key's X and Y. Keys with no width or no height do not count.
struct KSKeyOffset {
  double dX = 0, dY = 0;
};
KSKeyOffset KSCentreKeys(const KSKeyEntry* akey, int nKey, double dClientWidth, double dClientHeight);

// What the keyboard control reports to its owner.
enum KSEventType { KSEventKeyDown = 0, KSEventKeyUp = 1, KSEventLeftDown = 2, KSEventMouseMove = 4 };
struct KSEvent {
  int iType = KSEventKeyDown;
  int iKey = 0;           // key events: the low eight bits of the virtual key
  double dX = 0, dY = 0;  // mouse moves: the position as fractions of the client width and height
  bool operator==(const KSEvent&) const = default;
};

// Which keys are held down, and the auto-repeats told apart from real presses. A press of a key
// already down is a repeat. Some window systems (X11) report a repeat as a release and a press
// with the same time stamp, and the press may come in after the release has been handled: a
// release therefore waits (Settle) until either its press of the same moment comes (a repeat,
// and both are dropped) or nothing more is to come.
class KSKeysDown {
 public:
  // A press at the window system's time ulTime (milliseconds): the events to report now, which
  // are none for a repeat; a waiting release of the key from another moment is reported first.
  std::vector<KSEvent> Press(int iKey, unsigned long ulTime);
  // A release: nothing to report yet; true when it waits (the key was down), so the caller
  // calls Settle a little later.
  bool Release(int iKey, unsigned long ulTime);
  // The releases that waited, reported now.
  std::vector<KSEvent> Settle();
  // Every key held or waiting released (when the keyboard goes elsewhere, no release comes).
  std::vector<KSEvent> ReleaseAll();

 private:
  std::bitset<kKSKeyCount> abDown_, abWaiting_;
  unsigned long aulReleased_[kKSKeyCount] = {};
};
