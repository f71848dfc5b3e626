// The Note module: the note a voice plays, written by the voice.
#include "patch/structural.h"

namespace {

#define NOTE_OUT(name, cap, flags) VarOut(#name, FormTypeNumeric, VAR_OFFSET(NoteVars, d##name), cap, flags)

Var avarNoteInputs[] = {VarEnd};
Var avarNoteOutputs[] = {
    NOTE_OUT(NoteNumber, ClassConstant, VarFlagMidi),   NOTE_OUT(Velocity, ClassConstant, VarFlagMidi),
    NOTE_OUT(PolyPressure, ClassConstant, VarFlagMidi), NOTE_OUT(NoteOn, ClassConstant, VarFlagMidi),
    NOTE_OUT(NoteOff, ClassConstant, VarFlagMidi),      NOTE_OUT(RelVelocity, ClassConstant, VarFlagMidi),
    NOTE_OUT(OrigVelocity, ClassConstant, 0),           NOTE_OUT(VoiceNum, ClassPerVoice, 0),
    NOTE_OUT(VoicePerNote, ClassConstant, VarFlagMidi), NOTE_OUT(Time, ClassPerSample, 0),
    NOTE_OUT(Sample, ClassPerSample, 0),                VarEnd};

const VarHelp ahelpNote[] = {
    {"NoteNumber", "the MIDI note number, 0..127 (60 is C4)"},
    {"Velocity", "the note-on velocity, 0..1"},
    {"PolyPressure", "the key's pressure (polyphonic aftertouch), 0..1"},
    {"NoteOn", "1 during the first sample of the note, else 0"},
    {"NoteOff", "1 once the key has been released, else 0"},
    {"RelVelocity", "the release velocity, 0..1"},
    {"OrigVelocity", "the velocity the note started with, 0..1 (kept when a mono note moves on)"},
    {"VoiceNum", "the voice's own number, 0.."},
    {"VoicePerNote", "which of the note's unison voices this is, 0..VoicesPerNote-1"},
    {"Time", "seconds since the note started"},
    {"Sample", "samples since the note started"},
    {}};
ModuleTypeTmpl<ModNote> typeNote("Note", avarNoteInputs, avarNoteOutputs, AttrRegistered, nullptr, OrderNote,
                                 ahelpNote);

}  // namespace

// Named by the factory so that the linker keeps this file's registration.
int g_nAnchor_note = 0;
