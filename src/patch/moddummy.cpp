// The dummy module kinds of sub-patches: each re-exports the parent level's value through Super().
#include <deque>
#include <string>

#include "patch/structural.h"

namespace {

constexpr int kSlot = static_cast<int>(sizeof(double));

// Row i of a dummy table: an input at slot i with the given default and help line.
Var DummyRow(int i, const char* pszName, int type, const char* pszDefault, const char* pszHelp) {
  Var var = VarIn(pszName, type, i * kSlot, 0, 0, pszDefault);
  var.pszHelp = pszHelp;
  return var;
}

const char* SuperOf(const char* pszModule, const char* pszName) {
  return StructuralKeepText(std::string("Super( ") + pszModule + ":" + pszName + " )");
}

const char* SuperHelp(const char* pszModule, const char* pszName) {
  return StructuralKeepText(std::string("inside a sub-patch: the enclosing patch's ") + pszModule + ":" + pszName);
}

struct RowSpec {
  const char* pszName;
  int type;
};

// A table of rows that all re-export the parent's variable of the same name.
template <size_t N>
Var* SuperTable(const char* pszModule, const RowSpec (&aRows)[N], Var* avarOut) {
  for (size_t i = 0; i < N; ++i)
    avarOut[i] = DummyRow(static_cast<int>(i), aRows[i].pszName, aRows[i].type, SuperOf(pszModule, aRows[i].pszName),
                          SuperHelp(pszModule, aRows[i].pszName));
  return avarOut;
}

Var avarNone[] = {VarEnd};

Var* DummyPatchInputs() {
  static const RowSpec aRows[] = {{"VoicePrealloc", FormTypeNumeric}, {"NoteMax", FormTypeNumeric},
                                  {"VoicesPerNote", FormTypeNumeric}, {"Result", FormTypeNumeric},
                                  {"Retrigger", FormTypeBoolean},     {"VarSpeed", FormTypeBoolean},
                                  {"VoiceCache", FormTypeKeyword}};
  static Var avar[9];
  SuperTable("Patch", aRows, avar);
  avar[7] = DummyRow(7, "VoiceOutput", FormTypeBoolean, "0",
                     "inside a sub-patch: 0, the voices are summed by the enclosing patch");
  avar[8] = VarEnd;
  return avar;
}

Var avarDummyVoice[] = {
    VarIn("PreGain", FormTypeNumeric, 0, ClassPerSample, VarFlagChannels, "0"),
    VarIn("Result", FormTypeNumeric, kSlot, ClassPerSample, VarFlagChannels, "PreGain * EnvGain:Amp"),
    VarIn("Finished", FormTypeBoolean, 2 * kSlot, 0, 0, "EnvGain:Finished"),
    VarEnd};

Var* DummyNoteInputs() {
  static const RowSpec aRows[] = {{"NoteNumber", FormTypeNumeric},   {"Velocity", FormTypeNumeric},
                                  {"OrigVelocity", FormTypeNumeric}, {"VoiceNum", FormTypeNumeric},
                                  {"VoicePerNote", FormTypeNumeric}, {"RelVelocity", FormTypeNumeric},
                                  {"PolyPressure", FormTypeNumeric}, {"NoteOn", FormTypeBoolean},
                                  {"NoteOff", FormTypeBoolean}};
  static Var avar[10];
  SuperTable("Note", aRows, avar);
  avar[7].pszDefault = "Super( Note:NoteOn )  ";  // kept exactly as the sub-patches have always read it
  avar[9] = VarEnd;
  return avar;
}

// ChannelNum and every controller, pressure and pitch-bend output of Channel.
Var* DummyChannelInputs() {
  static Var avar[ControllerCount];
  int n = 0;
  avar[n] = DummyRow(n, "ChannelNum", FormTypeNumeric, SuperOf("Channel", "ChannelNum"),
                     SuperHelp("Channel", "ChannelNum"));
  ++n;
  for (int i = 0; i < ControllerNoteNumber; ++i) {
    if (!ControllerHoldsValue(i)) continue;
    avar[n] = DummyRow(n, ControllerName(i), FormTypeNumeric, SuperOf("Channel", ControllerName(i)),
                       SuperHelp("Channel", ControllerName(i)));
    ++n;
  }
  avar[n] = VarEnd;
  return avar;
}

Var* DummyPitchInputs() {
  static const RowSpec aRows[] = {{"Octave", FormTypeNumeric},    {"Transpose", FormTypeNumeric},
                                  {"Detune", FormTypeNumeric},    {"PitchEnv", FormTypeNumeric},
                                  {"VibSource", FormTypeNumeric}, {"VibManual", FormTypeNumeric},
                                  {"VibControl", FormTypeNumeric}, {"VibEnv", FormTypeNumeric},
                                  {"BendRange", FormTypeNumeric}, {"UnisonSpread", FormTypeNumeric}};
  static Var avar[14];
  avar[0] = DummyRow(0, "Input", FormTypeNumeric, "Portamento", "Hz: the sub-patch's own Portamento output");
  SuperTable("Pitch", aRows, avar + 1);
  for (int i = 1; i <= 10; ++i) avar[i].iOffset = i * kSlot;
  avar[11] = DummyRow(11, "UnisonDetune", FormTypeNumeric,
                      "IF( Patch:VoicesPerNote = 1, 1, UnisonSpread ^ ( SelectN( Note:VoicePerNote, 0, -23, +11, -7, "
                      "+31, -13, +19, -37 )/37 ) )",
                      "ratio: this voice's share of UnisonSpread when a note plays several voices");
  avar[12] = DummyRow(12, "Output", FormTypeNumeric,
                      "Input * Octave * Transpose * Detune * BendRange ^ PitchBend * PitchEnv * Max( VibManual, "
                      "VibControl, VibEnv ) ^ VibSource * UnisonDetune",
                      "Hz: the frequency the sub-patch's oscillators play");
  avar[13] = VarEnd;
  return avar;
}

constexpr uint32_t kDummyAttrs = AttrRegistered | AttrQuietUnused;
ModuleTypeTmpl<ModDummy> typeDummyPatch("DummyPatch", DummyPatchInputs(), avarNone, kDummyAttrs, nullptr,
                                        OrderDummyPatch);
ModuleTypeTmpl<ModDummy> typeDummyVoice("DummyVoice", avarDummyVoice, avarNone, kDummyAttrs, nullptr, OrderDummyVoice,
                                        ahelpVoice);
ModuleTypeTmpl<ModDummy> typeDummyNote("DummyNote", DummyNoteInputs(), avarNone, kDummyAttrs, nullptr, OrderDummyNote);
ModuleTypeTmpl<ModDummy> typeDummyChannel("DummyChannel", DummyChannelInputs(), avarNone, kDummyAttrs, nullptr,
                                          OrderDummyChannel);
ModuleTypeTmpl<ModDummy> typeDummyPitch("DummyPitch", DummyPitchInputs(), avarNone, kDummyAttrs, nullptr,
                                        OrderDummyPitch);

}  // namespace

const char* StructuralKeepText(std::string s) {
  static std::deque<std::string> asKept;  // a deque never moves what it holds
  asKept.push_back(std::move(s));
  return asKept.back().c_str();
}

// Named by the factory so that the linker keeps this file's registration.
int g_nAnchor_dummy = 0;
