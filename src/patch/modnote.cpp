// The Note module: the note a voice plays, written by the voice.
#include "structural.h"

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

ModuleTypeTmpl<ModNote> typeNote("Note", avarNoteInputs, avarNoteOutputs, AttrRegistered, nullptr, OrderNote);

}  // namespace

// Named by the factory so that the linker keeps this file's registration.
int g_nAnchor_note = 0;
