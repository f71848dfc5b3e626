// MIDI decoding: one short message applied to the patches and the channels' controller state.
#pragma once

#include <cstdint>

#include "engine/mixer.h"

class InterpreterSettings;

// What decoding acts on: the patch table (its patches), the sixteen channels' state, and the
// engine's all-notes-off and all-sound-off.
class MidiTarget {
 public:
  virtual ~MidiTarget() = default;
  virtual AKArray<PatchSlot>& Slots() = 0;
  virtual InterpreterSettings* Engine() = 0;
  virtual void AllNotesOff() = 0;
  virtual void AllSoundOff() = 0;
};

// Status byte in bits 0-7, first data byte in bits 8-15, second in bits 16-23.
inline uint32_t MidiPack(int iStatus, int iData1, int iData2) {
  return static_cast<uint32_t>(iStatus & 0xFF) | static_cast<uint32_t>(iData1 & 0x7F) << 8 |
         static_cast<uint32_t>(iData2 & 0x7F) << 16;
}

// Decodes and applies one complete short message; reports what is not supported to the error list.
void HandleMidiMessage(MidiTarget& target, uint32_t uMessage);

// A note on (bOn) or off on a channel (0..15) with an exact velocity 0..1, applied as a note
// message is: the channel's patch gets NoteOn or NoteOff, and the key's note-down value is set
// and announced. For notes that do not come as bytes (the command line's), whose velocity is finer
// than seven bits; the channel must have a patch.
void HandleNote(MidiTarget& target, int iChannel, int iKey, double dVelocity, bool bOn);

// The message in words, for monitors ("Note On ch 1 C4 vel 100"); szText holds at least 64 bytes.
void DescribeMidiMessage(uint32_t uMessage, char* szText, int nSize);
