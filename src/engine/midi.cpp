// MIDI decoding and dispatch.
#include "engine/midi.h"

#include <cmath>
#include <cstdio>

#include "enginecore/controllers.h"
#include "enginecore/settings.h"
#include "formula/errorlist.h"
#include "patch/patch.h"
#include "patch/structural.h"

namespace {

constexpr double kFine = 1.0 / 16384;  // 2^-14: the weight of a fine part's unit

// Channel-mode messages: control changes 120 to 127. They are commands, not values; the
// controller space uses the same numerals for other things (120 is its channel pressure, 122 to
// 127 the per-note values of a voice), so these names are kept apart from the Controller* ones.
enum ChannelMode {
  ModeAllSoundOff = 120,
  ModeResetAllControllers = 121,
  ModeLocalControl = 122,
  ModeAllNotesOff = 123,
  ModeOmniOff = 124,
  ModeOmniOn = 125,
  ModeMonoOn = 126,
  ModePolyOn = 127,
};

// Every loaded patch hears every channel's changes.
void Announce(MidiTarget& target, int iChannel, int iIndex, double dValue) {
  AKArray<PatchSlot>& aslot = target.Slots();
  for (int i = 0; i < aslot.N(); ++i)
    if (Patch* ppatch = aslot[i].ppatch) ppatch->ControllerChanged(iChannel, iIndex, dValue);
}

// The high-resolution velocity prefix refines the next velocity below full scale.
double ApplyVelocityPrefix(ModChannel* pchan, double v) {
  double& dPrefix = pchan->v.adValue[ControllerHiResVelPrefix];
  if (v < 1 && dPrefix != 0) {
    v += dPrefix * kFine;
    dPrefix = 0;
  }
  return v;
}

void ApplyNote(MidiTarget& target, Patch* ppatch, ModChannel* pchan, int iChannel, int iKey, double dVelocity, bool bOn) {
  if (bOn) ppatch->NoteOn(iKey, dVelocity);
  else ppatch->NoteOff(iKey, dVelocity);
  pchan->v.adValue[ControllerNoteDownFirst + iKey] = bOn ? 1 : 0;
  Announce(target, iChannel, ControllerNoteDownFirst + iKey, bOn ? 1 : 0);
}

void ControlChange(MidiTarget& target, ModChannel* pchan, int iChannel, int c, int d2) {
  switch (c) {
    case ModeAllSoundOff:
      target.AllSoundOff();
      return;
    case ModeResetAllControllers: {
      for (int i = 0; i < 128; ++i) {
        pchan->v.adValue[i] = 0;
        pchan->abFine[i] = 0;
        pchan->adPending[i] = 0;
      }
      AKArray<PatchSlot>& aslot = target.Slots();
      for (int s = 0; s < aslot.N(); ++s)
        if (Patch* ppatch = aslot[s].ppatch)
          for (int k = 0; k < ControllerCount; ++k) ppatch->ControllerChanged(iChannel, k, 0);
      return;
    }
    case ModeLocalControl:
      ERRADD(-1, "%s", "MIDI change of LOCAL CONTROL not supported as relevant");
      return;
    case ModeAllNotesOff:
      target.AllNotesOff();
      return;
    case ModeOmniOff:
    case ModeOmniOn:
    case ModeMonoOn:
    case ModePolyOn:
      ERRADD(-1, "%s", "MIDI change of OMNI/MONO/POLY not currently supported");
      target.AllNotesOff();
      return;
    default:
      break;
  }
  int iCoarse = c >= 32 && c <= 63 ? c - 32 : c == 98 ? 99 : c == 100 ? 101 : -1;
  if (iCoarse >= 0) {
    pchan->abFine[iCoarse] = 1;
    double x = pchan->adPending[iCoarse] / 127;
    if (x < 1) x += d2 * kFine;
    pchan->v.adValue[iCoarse] = x;
    Announce(target, iChannel, iCoarse, x);
    return;
  }
  // The coarse byte is always kept for a fine part that may follow: 14-bit controllers send the
  // first fine part right after a coarse value that took effect at once, and it must combine
  // with that value as every later pair does, not with a coarse part never received.
  pchan->adPending[c] = d2;
  if (pchan->abFine[c]) return;  // waits for its fine part
  pchan->v.adValue[c] = d2 / 127.0;
  Announce(target, iChannel, c, d2 / 127.0);
}

}  // namespace

void HandleMidiMessage(MidiTarget& target, uint32_t uMessage) {
  int iStatus = static_cast<int>(uMessage & 0xFF);
  int d1 = static_cast<int>((uMessage >> 8) & 0xFF);
  int d2 = static_cast<int>((uMessage >> 16) & 0xFF);
  if (iStatus >= 240) {
    static const char* const apszSystem[16] = {
        "MIDI System Exclusive Messages received but not supported",
        "MIDI Time Code Quarter Frame received but not supported",
        "MIDI Song Position Pointer received but not supported",
        "MIDI Song Select received but not supported",
        "MIDI System Common Message 244 received but not supported",
        "MIDI System Common Message 245 received but not supported",
        nullptr,
        nullptr,
        "MIDI Timing Clock received but not supported",
        "MIDI System Real-Time Message 249 received but not supported",
        "MIDI Start Sequence message received but not supported",
        "MIDI Continue Sequence message received but not supported",
        "MIDI Stop Sequence message received but not supported",
        "MIDI System Real-Time Message 253 received but not supported",
        nullptr,
        "MIDI RESET received but not supported"};
    if (const char* psz = apszSystem[iStatus - 240]) ERRADD(-1, "%s", psz);
    return;
  }
  int iChannel = iStatus % 16;
  AKArray<PatchSlot>& aslot = target.Slots();
  if (iChannel >= aslot.N() || iChannel >= 16) {
    ERRADD(-1, "MIDI channel number %d too high", iChannel + 1);
    return;
  }
  Patch* ppatch = aslot[iChannel].ppatch;
  if (!ppatch) {
    ERRADD(-1, "MIDI receiving messages on channel %d, but no patch", iChannel);
    return;
  }
  InterpreterSettings* pengine = target.Engine();
  auto* pchan = pengine ? static_cast<ModChannel*>(pengine->apmodChannel[iChannel]) : nullptr;
  if (!pchan) return;
  d1 &= 0x7F;
  d2 &= 0x7F;
  switch (iStatus >> 4) {
    case 8:
      ApplyNote(target, ppatch, pchan, iChannel, d1, ApplyVelocityPrefix(pchan, d2 / 127.0), false);
      return;
    case 9:
      // A note on of velocity 0 is a note off; no velocity prefix applies to it.
      if (d2 == 0) ApplyNote(target, ppatch, pchan, iChannel, d1, 0.5, false);
      else ApplyNote(target, ppatch, pchan, iChannel, d1, ApplyVelocityPrefix(pchan, d2 / 127.0), true);
      return;
    case 10:
      ppatch->PolyPressure(d1, d2 / 127.0);
      return;
    case 11:
      ControlChange(target, pchan, iChannel, d1, d2);
      return;
    case 12:
      ERRADD(-1, "MIDI PROGRAM CHANGE messages not currently handled (=%d)", d1);
      return;
    case 13:
      pchan->v.adValue[ControllerPressure] = d1 / 127.0;
      Announce(target, iChannel, ControllerPressure, d1 / 127.0);
      return;
    case 14: {
      int b = d1 + 128 * d2;
      double v = b < 8192 ? (b - 8192) / 8192.0 : (b - 8192) / 8191.0;
      pchan->v.adValue[ControllerPitchBend] = v;
      Announce(target, iChannel, ControllerPitchBend, v);
      return;
    }
    default:
      ERRADD(-1, "MIDI unexpected MSN status %d", iStatus >> 4);
      return;
  }
}

void HandleNote(MidiTarget& target, int iChannel, int iKey, double dVelocity, bool bOn) {
  InterpreterSettings* pengine = target.Engine();
  AKArray<PatchSlot>& aslot = target.Slots();
  if (iChannel < 0 || iChannel >= aslot.N() || iChannel >= 16 || !aslot[iChannel].ppatch || !pengine) return;
  auto* pchan = static_cast<ModChannel*>(pengine->apmodChannel[iChannel]);
  if (pchan) ApplyNote(target, aslot[iChannel].ppatch, pchan, iChannel, iKey & 0x7F, dVelocity, bOn);
}

void DescribeMidiMessage(uint32_t uMessage, char* szText, int nSize) {
  static const char* const kModeNames[8] = {"All Sound Off", "Reset All Controllers", "Local Control",
                                            "All Notes Off", "Omni Off", "Omni On", "Mono On", "Poly On"};
  int iStatus = static_cast<int>(uMessage & 0xFF);
  int d1 = static_cast<int>((uMessage >> 8) & 0x7F);
  int d2 = static_cast<int>((uMessage >> 16) & 0x7F);
  size_t n = static_cast<size_t>(nSize);
  int iChannel = (iStatus & 15) + 1;
  const char* pszNote = ControllerName(ControllerNoteDownFirst + d1) + 8;  // past "NoteDown"
  switch (iStatus >> 4) {
    case 8: snprintf(szText, n, "Note Off ch %d %s vel %d", iChannel, pszNote, d2); return;
    case 9: snprintf(szText, n, "Note On ch %d %s vel %d", iChannel, pszNote, d2); return;
    case 10: snprintf(szText, n, "Key Pressure ch %d %s %d", iChannel, pszNote, d2); return;
    case 11:
      if (d1 >= ModeAllSoundOff) snprintf(szText, n, "%s ch %d", kModeNames[d1 - ModeAllSoundOff], iChannel);
      else snprintf(szText, n, "Control ch %d %s (%d) %d", iChannel, ControllerName(d1), d1, d2);
      return;
    case 12: snprintf(szText, n, "Program ch %d %d", iChannel, d1); return;
    case 13: snprintf(szText, n, "Channel Pressure ch %d %d", iChannel, d1); return;
    case 14: snprintf(szText, n, "Pitch Bend ch %d %d", iChannel, d1 + 128 * d2 - 8192); return;
    case 15: snprintf(szText, n, "System 0x%02X", iStatus); return;
    default: snprintf(szText, n, "Data 0x%02X", iStatus); return;
  }
}
