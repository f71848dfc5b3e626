// The controller space: the 257 indices of MIDI-driven values of a channel, with their names.
#pragma once

constexpr int ControllerCount = 257;
enum {
  ControllerHiResVelPrefix = 88,  // refines the next note's velocity
  ControllerPressure = 120,
  ControllerPitchBend = 121,
  // 122..128: per-note values of a voice, not written by MIDI; a voice refreshes the records
  // that read one of them when the note event that sets it arrives.
  ControllerNoteNumber = 122,
  ControllerVelocity = 123,
  ControllerPolyPressure = 124,
  ControllerNoteOn = 125,
  ControllerNoteOff = 126,
  ControllerRelVelocity = 127,
  ControllerVoicePerNote = 128,
  ControllerNoteDownFirst = 129,  // 129..256: key n held down
};

// The name of an index, e.g. 1 "ModWheel", 189 "NoteDownC4"; "" outside the space.
const char* ControllerName(int iIndex);
// The index of a name, or -1.
int ControllerIndex(const char* pszName);
// True for indices whose value a channel holds (not the fine parts 32..63, 88, 98, 100, nor the
// per-note values 122..128).
bool ControllerHoldsValue(int iIndex);
