// What the performance keyboard's keys do: a key pressed starts its note on the patch of its
// channel, the key released ends that note. Notes go straight to the patch, not through MIDI.
#pragma once

#include "engine/mixer.h"
#include "foundation/akarray.h"
#include "ide/keylayout.h"

class Patch;

// A layout's velocities are in MIDI's scale (0 to 127, default 64); a patch takes the note's
// velocity as a fraction, as the MIDI input gives it (d2 / 127).
double PerfVelocity(double dMidiScale);

class PerfPlayer {
 public:
  // akey: the kKSKeyCount entries of the layout (kept by the caller); aslot: the patch table.
  PerfPlayer(KSKeyEntry* akey, AKArray<PatchSlot>& aslot) : akey_(akey), aslot_(aslot) {}
  // Runs on the user-interface thread; the patch guards its voices with its own lock.
  void OnEvent(const KSEvent& event);
  // Ends every note a key still plays.
  void ReleaseAll();

 private:
  // The patch of a patch-table index, or null when the index is beyond the table or empty.
  Patch* PatchOf(int iChannel);
  void KeyDown(int iKey);
  void KeyUp(int iKey);

  KSKeyEntry* akey_;
  AKArray<PatchSlot>& aslot_;
};
