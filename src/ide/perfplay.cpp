// The performance keyboard's keys playing notes on the installed patches.
#include "ide/perfplay.h"

#include <algorithm>

#include "foundation/akstatus.h"
#include "patch/patch.h"

namespace {
constexpr double kMidiMax = 127;  // the largest MIDI velocity
}

double PerfVelocity(double dMidiScale) { return std::clamp(dMidiScale, 0.0, kMidiMax) / kMidiMax; }

Patch* PerfPlayer::PatchOf(int iChannel) {
  if (iChannel < 0 || iChannel >= aslot_.N()) return nullptr;
  return aslot_[iChannel].ppatch;
}

void PerfPlayer::OnEvent(const KSEvent& event) {
  // Mouse events carry velocity and pressure in their position, which nothing uses yet.
  if (event.iKey < 0 || event.iKey >= kKSKeyCount) return;
  if (event.iType == KSEventKeyDown) KeyDown(event.iKey);
  else if (event.iType == KSEventKeyUp) KeyUp(event.iKey);
}

void PerfPlayer::KeyDown(int iKey) {
  KSKeyEntry& key = akey_[iKey];
  if (key.iNote < 0) return;
  if (key.iNotePlaying >= 0) {
    AKS(AKSTrace, AK_HERE, "%d already playing", iKey);
    return;
  }
  Patch* ppatch = PatchOf(key.iChannel);
  if (!ppatch) return;
  ppatch->NoteOn(key.iNote, PerfVelocity(key.dVelocity));
  key.iNotePlaying = key.iNote;
  AKS(AKSTrace, AK_HERE, "performance input: key %d: NoteOn %d on channel %d", iKey, key.iNote, key.iChannel);
}

void PerfPlayer::KeyUp(int iKey) {
  KSKeyEntry& key = akey_[iKey];
  if (key.iNotePlaying < 0) return;
  // The slot's patch of now: a patch installed since the key went down has no such note, and
  // its note off then changes nothing.
  if (Patch* ppatch = PatchOf(key.iChannel)) ppatch->NoteOff(key.iNotePlaying, PerfVelocity(key.dRelVelocity));
  AKS(AKSTrace, AK_HERE, "performance input: key %d: NoteOff %d on channel %d", iKey, key.iNotePlaying, key.iChannel);
  key.iNotePlaying = -1;
}

void PerfPlayer::ReleaseAll() {
  for (int i = 0; i < kKSKeyCount; ++i) KeyUp(i);
}
