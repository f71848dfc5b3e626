// Every module kind allocates nothing while it runs: one table of cases over the registry, each a
// kind in modes that vary its inputs at audio rate, and a check that no registered kind is missing.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "alloc_counter.h"
#include "formula/errorlist.h"
#include "formula/vanmath.h"
#include "module_harness.h"
#include "modules/envelope.h"
#include "modules/filters/filterfactory.h"

namespace {

using Settings = std::vector<std::pair<const char*, const char*>>;

struct AllocCase {
  const char* pszWhat;
  const char* pszType;
  Settings aSet;
  std::vector<const char*> apszOutputs;
  // Changes the inputs at sample j (a note-off, a new input value, ...); every case also sees
  // Ctx:X step through 0, 1/7 .. 6/7.
  std::function<void(ModuleHarness&, int j)> fnAt = {};
  // Records beyond the common ones, placement in a sub-patch and the like, before the settings.
  std::function<void(ModuleHarness&)> fnSetUp = {};
  const char* pszName = nullptr;  // the section's name, when it must differ from the type's
};
void PrintTo(const AllocCase& c, std::ostream* os) { *os << c.pszType << ", " << c.pszWhat; }

// The records every case may read: the note-off and sustain pedal an envelope's default release
// trigger reads, values the case sets per sample, and a slow wobble between 0.1 and 0.9.
void AddCommonContext(ModuleHarness& h) {
  h.AddContext("Note", "NoteOff");
  h.AddContext("Channel", "DamperPdl");
  h.AddContext("In", "Value");
  h.AddContext("Clock", "Sync");
  h.AddContext("Ctx", "X");
  h.AddContext("Src", "Wobble", "0.5 + 0.4 * SIN( Note:Time * 3 )");
}

// What the application does at start-up before any patch: math tables, filter types as keywords,
// the envelope stage types.
class ModuleAllocations : public ::testing::TestWithParam<AllocCase> {
 protected:
  static void SetUpTestSuite() {
    VanMathInitTables();
    FilterFactory::Get()->BuildIndex();
    EnvRegisterStageTypes();
  }
  void SetUp() override { ErrorList::Get()->Clear(); }
};

// After a warm-up (first reports create their error-list entries), samples and a new note
// allocate nothing. A kind with a feedback step takes it after every sample, as a voice does.
TEST_P(ModuleAllocations, NoneWhileRunning) {
  const AllocCase& c = GetParam();
  ModuleHarness h(c.pszType, 44100, false, c.pszName);
  h.FoldConstants();  // as the compiler's optimizer does before Init (envelopes need it)
  AddCommonContext(h);
  if (c.fnSetUp) c.fnSetUp(h);
  for (const auto& [pszVar, pszFormula] : c.aSet) h.Set(pszVar, pszFormula);
  ASSERT_EQ(h.Start(), 0);
  const bool bFeedbackStep = ModuleFactory::Get()->Lookup(c.pszType)->HasAttr(AttrFeedbackStep);
  auto fnSample = [&](int j) {
    if (j) h.Step();
    h.Value("Ctx", "X") = (j % 7) / 7.0;
    if (c.fnAt) c.fnAt(h, j);
    for (const char* psz : c.apszOutputs) h.Out(psz);
    if (bFeedbackStep) h.pmodule()->FeedbackStep();
  };
  int j = 0;
  for (; j < 100; ++j) fnSample(j);
  AllocationCounter counter;
  for (; j < 3100; ++j) fnSample(j);
  h.Retrigger();
  for (; j < 4100; ++j) fnSample(j);
  EXPECT_EQ(counter.Count(), 0);
}

const std::vector<const char*> kEnvOutputs = {"Output", "Exp", "Amp", "Custom", "Segment", "SyncOut", "Finished"};
const char* kSweep = "1000 + 800 * SIN( Note:Time * 300 )";
const char* kTone = "0.5 * SIN( Note:Time * 220 )";

// The records the pitch's default formulas read: note 69 at A 440, the bend wobbling.
void PitchContext(ModuleHarness& h) {
  const struct {
    const char *pszModule, *pszName, *pszFormula;
  } aRecord[] = {
      {"Global", "FreqA", "440"},
      {"Note", "NoteNumber", "69"},
      {"Note", "VoicePerNote", "0"},
      {"Tuning", "ValInput", "Note:NoteNumber"},
      {"Tuning", "Output", "FreqA + ( ValInput - 69 ) semis"},
      {"Portamento", "Input", "Tuning:Output"},
      {"Portamento", "Output", "Input"},
      {"Channel", "PitchBend", "Src:Wobble - 0.5"},
      {"Channel", "ModWheel", "Src:Wobble"},
      {"Patch", "VoicesPerNote", "1"},
      {"LFOVibrato", "Output", "SIN( Note:Time * 6 )"},
  };
  for (const auto& r : aRecord) h.AddContext(r.pszModule, r.pszName, r.pszFormula);
}

const AllocCase kCases[] = {
    // Oscillators and noise.
    {"sawtooth at a varying frequency", "Osc", {{"Waveform", "Sawtooth"}, {"Frequency", "Ctx:X * 100 + 300"}}, {"Output"}},
    {"square with varying duty and power", "Osc", {{"Frequency", "440"}, {"Waveform", "Square"}, {"Duty", "Ctx:X"}, {"Power", "2"}}, {"Output"}},
    {"triangle synced", "Osc", {{"Frequency", "440"}, {"Waveform", "Triangle"}, {"SyncIn", "Ctx:X"}}, {"Output"}},
    {"sine with a varying phase", "Osc", {{"Frequency", "440"}, {"Waveform", "Sine"}, {"PhaseIn", "Ctx:X"}}, {"Output"}},
    {"saw-pulse switched off and on", "Osc", {{"Frequency", "440"}, {"Waveform", "SawPulse"}, {"Bypass", "Ctx:X > 0.9"}}, {"SyncOut"}},
    {"naive square", "LFO", {{"Frequency", "440"}, {"Waveform", "SquareNA"}}, {"Audio"}},
    {"white", "Noise", {}, {"Output"}},
    {"pink", "PinkNoise", {}, {"Output"}},
    {"the default chain, bent and wobbling", "Pitch", {{"Detune", "-10 cents"}}, {"Output"}, {}, PitchContext},
    // Envelopes and control.
    {"ADSR through every stage",
     "ADSREnv",
     {{"Attack", "0.01"}, {"Decay", "0.01"}, {"Sustain", "0.5"}, {"Release", "0.01"}, {"Curv2", "Exponential"}},
     kEnvOutputs,
     [](ModuleHarness& h, int j) { h.Value("Note", "NoteOff") = j >= 2000; }},
    {"looping numbered segments", "Env", {{"Time1", "0.001"}, {"Valu1", "1"}, {"Time2", "0.001"}, {"Valu2", "-1"}, {"Goto3", "1"}}, kEnvOutputs},
    {"linear rate", "SlewRateLinear", {{"Input", "In:Value"}, {"Rate", "10"}}, {"Output", "Slewing"},
     [](ModuleHarness& h, int j) { h.Value("In", "Value") = j / 500 % 2; }},
    {"exponential rate", "SlewRateExponential", {{"Input", "In:Value"}, {"Rate", "100"}}, {"Output", "Slewing"},
     [](ModuleHarness& h, int j) { h.Value("In", "Value") = 100 + 100 * (j / 500 % 2); }},
    {"linear time", "SlewTimeLinear", {{"Input", "In:Value"}, {"Time", "0.005"}}, {"Output", "Slewing"},
     [](ModuleHarness& h, int j) { h.Value("In", "Value") = j / 500 % 2; }},
    {"exponential time", "SlewTimeExponential", {{"Input", "In:Value"}, {"Time", "0.005"}}, {"Output", "Slewing"},
     [](ModuleHarness& h, int j) { h.Value("In", "Value") = 100 + 100 * (j / 500 % 2); }},
    {"reporting a missing Rate and Time", "Slew", {{"Input", "In:Value"}}, {"Output"},
     [](ModuleHarness& h, int j) { h.Value("In", "Value") = j; }},
    {"gliding between notes", "Portamento", {{"Input", "In:Value"}, {"Time", "0.01"}}, {"Output", "Slewing"},
     [](ModuleHarness& h, int j) { h.Value("In", "Value") = 200 + 100 * (j / 700 % 2); }},
    {"following the enclosing patch's portamento",
     "SubPortamento",
     {{"Input", "In:Value"}},
     {"Output"},
     [](ModuleHarness& h, int j) { h.Value("In", "Value") = 200 + 100 * (j / 700 % 2); },
     [](ModuleHarness& h) {
       h.PlaceInSubPatch();
       h.AddContextAt(1, "Portamento", "Rate", "1000");
       h.AddContextAt(1, "Portamento", "Time", "0.01");
       h.AddContextAt(1, "Portamento", "CurveType", "Linear");
       h.AddContextAt(1, "Portamento", "Continue", "True");
       h.AddContextAt(1, "Portamento", "Bypass", "False");
     },
     "Portamento"},
    {"clocked and synced", "Hold", {{"Input", "Note:Sample"}, {"InputPrev", "0"}, {"Frequency", "97"}, {"SyncIn", "Clock:Sync"}},
     {"Output", "OutputPrev", "SyncOut", "PhaseOut"},
     [](ModuleHarness& h, int j) { h.Value("Clock", "Sync") = j % 1000 == 0 ? 0.5 : -1; }},
    {"a grid looked up", "Map", {{"Input", "In:Value"}, {"ValFrom", "0"}, {"ValTo", "10"}, {"ValFormula", "ValInput * ValInput"}},
     {"Output"}, [](ModuleHarness& h, int j) { h.Value("In", "Value") = (j % 130) / 10.0 - 1; }},
    {"note numbers looked up", "Tuning", {{"Input", "In:Value"}}, {"Output", "A4"},
     [](ModuleHarness& h, int j) { h.Value("In", "Value") = j % 150; }},
    {"the enclosing patch's grid",
     "SubTuning",
     {{"Input", "In:Value"}},
     {"Output"},
     [](ModuleHarness& h, int j) { h.Value("In", "Value") = j % 150; },
     [](ModuleHarness& h) {
       h.PlaceInSubPatch();
       h.AddContextAt(0, "Global", "FreqA", "440");
       h.AddContextAt(1, "Tuning", "Bypass", "false");
       h.AddContextAt(1, "Tuning", "Interpolate", "None");
       h.AddContextAt(1, "Tuning", "ValFrom", "0");
       h.AddContextAt(1, "Tuning", "ValTo", "143");
       h.AddContextAt(1, "Tuning", "ValStep", "1");
     },
     "Tuning"},
    // Filters, every parameter varying at audio rate.
    {"switching poles and mode", "Filter",
     {{"Input", kTone}, {"Cutoff", kSweep}, {"Resonance", "0.5 + Note:Time"},
      {"Poles", "2 + 2 * FLOOR( FRACTION( Note:Time * 50 ) * 3 )"}, {"Mode", "IF( Note:Time < 0.02, Lowpass, Highpass )"}},
     {"Output"}},
    {"driven", "MoogDirty", {{"Input", kTone}, {"Cutoff", kSweep}, {"Resonance", "Note:Time"}, {"Drive", "0.1 + Note:Time"}}, {"Output"}},
    {"swept", "MoogSS1996", {{"Input", kTone}, {"Cutoff", kSweep}, {"Resonance", "Note:Time * 10"}}, {"Output"}},
    {"swept", "MoogV11", {{"Input", kTone}, {"Cutoff", kSweep}, {"Resonance", "Note:Time"}}, {"Output"}},
    {"serial bands switching type", "MultiFilter",
     {{"Input", kTone}, {"GainMaster", "1 - Note:Time"}, {"Type1", "IF( FRACTION( Note:Time * 100 ) < 0.5, LPF2, HPF2 )"},
      {"Freq1", kSweep}, {"Q1", "1 + Note:Time"}, {"Freq2", "3000"}, {"Gain2", "2 + Note:Time"}, {"Type3", "HiShelf1"},
      {"Freq3", "5000"}, {"Gain3", "0.5"}},
     {"Output"}},
    {"parallel bands", "MultiFilter",
     {{"Input", kTone}, {"Layout", "Parallel"}, {"Freq1", kSweep}, {"Gain1", "3"}, {"Type2", "BPF2"}, {"Freq2", "2000"}},
     {"Output"}},
    // Effects and operators.
    {"fixed taps", "Delay", {{"Input", "Src:Wobble"}, {"Time1", "0.001"}, {"Time2", "0.0013"}, {"Feedback", "Output * 0.5"}},
     {"Output", "Output2"}},
    {"varying taps with outputs", "Delay",
     {{"Input", "Src:Wobble"}, {"Fade", "Power"}, {"Time1", "Src:Wobble * 0.01"}, {"Gain1", "Src:Wobble"},
      {"Pan1", "Src:Wobble"}, {"Time2", "Src:Wobble * 0.012"}, {"TimeMax", "0.02"}, {"Speed", "Src:Wobble + 0.5"},
      {"Feedback", "Tap1 * 0.5"}},
     {"Tap1", "Output", "Output2"}, {}, [](ModuleHarness& h) { h.AddOutput("Tap1"); }},
    {"partials", "Adder", {{"Slew", "0.0005"}, {"Freq1", "440 * Src:Wobble"}, {"Gain1", "Src:Wobble"}, {"Freq2", "660"}}, {"Output"}},
    {"operator network", "FMAlgo", {{"Freq1", "440 * Src:Wobble"}, {"Gain11", "Src:Wobble"}, {"Plus1", "Src:Wobble"}, {"Freq2", "220"}},
     {"Output", "Audio2"}, {}, [](ModuleHarness& h) { h.AddOutput("Audio2"); }},
    // The swarm and the wavetables.
    {"sawtooths", "Swarm", {{"Count", "100"}, {"Frequency", "200 + 400 * Src:Wobble"}, {"Detune", "1 + 0.02 * Src:Wobble"}},
     {"Output", "Control", "SyncOut"}},
    {"squares", "Swarm", {{"Waveform", "Square"}, {"Frequency", "880"}, {"Bypass", "Src:Wobble > 0.85"}}, {"Output"}},
    {"triangles", "Swarm", {{"Waveform", "Triangle"}, {"Count", "1000"}, {"Frequency", "3000 * Src:Wobble"}}, {"Output"}},
    {"sweeping through the bands", "SWO", {{"Frequency", "20000 * Src:Wobble * Src:Wobble"}, {"PhaseIn", "Src:Wobble"}},
     {"Output", "Control", "Positive", "SyncOut", "PhaseOut"}},
    {"pulse with varying duty and sync", "SWO",
     {{"Waveform", "Square"}, {"Frequency", "330"}, {"Duty", "Src:Wobble"}, {"SyncIn", "IF( Src:Wobble > 0.8, 0.3, -1 )"},
      {"Bypass", "Src:Wobble < 0.15"}},
     {"Output"}},
    {"low frequency", "LFSWO", {{"Frequency", "10 * Src:Wobble"}, {"Interpolate", "false"}}, {"Output", "Audio"}},
    // The probe.
    {"probing and captioning", "Scope", {{"Probe1", "Src:Wobble"}, {"Probe2", "Ctx:X"}, {"Caption1", "Src:Wobble"}}, {"Probe1", "Probe2"}},
};

INSTANTIATE_TEST_SUITE_P(Kinds, ModuleAllocations, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<AllocCase>& info) {
                           return std::string(info.param.pszType) + "_" + std::to_string(info.index);
                         });

// Kinds the table leaves out, and why: the structural kinds render only inside a patch, whose
// rendering is counted as a whole (Playback.RenderingAllocatesNothingAfterWarmUp); a per-patch
// helper is made and run by its wavetable oscillator's cases; the envelope stage types have the
// test below.
const std::set<std::string> kStructural = {"Channel",   "Note",       "Voice",        "Patch",      "Global",
                                           "Interface", "Pkg",        "Sub",          "DummyPatch", "DummyVoice",
                                           "DummyNote", "DummyChannel", "DummyPitch"};

bool IsHelper(ModuleType* ptype) {
  for (ModuleType* ptypeOwner : ModuleFactory::Get()->aptype)
    if (ptypeOwner->pszHelper && ptype->pszName == std::string(ptypeOwner->pszHelper)) return true;
  return false;
}

bool IsEnvelopeStageType(ModuleType* ptype) {
  return ptype->ClassName() == std::string("ModEnvelope") && ptype->pszName != std::string("Env");
}

// A new kind gets its row in the table above.
TEST(ModuleAllocationTable, HasACaseForEveryRegisteredKind) {
  EnvRegisterStageTypes();
  std::set<std::string> asCovered;
  for (const AllocCase& c : kCases) asCovered.insert(c.pszType);
  int nChecked = 0;
  for (ModuleType* ptype : ModuleFactory::Get()->aptype) {
    if (kStructural.count(ptype->pszName) || IsHelper(ptype)) continue;
    if (IsEnvelopeStageType(ptype) && ptype->pszName != std::string("ADSREnv")) continue;
    EXPECT_TRUE(asCovered.count(ptype->pszName)) << ptype->pszName << " has no case in the allocation table";
    ++nChecked;
  }
  EXPECT_EQ(nChecked, static_cast<int>(asCovered.size())) << "the table names only registered kinds";
}

// Every envelope stage type, with its default stages, through a note, its release and a new note.
TEST(ModuleAllocationTable, EveryEnvelopeStageTypeAllocatesNothing) {
  VanMathInitTables();
  EnvRegisterStageTypes();
  int nTypes = 0;
  for (ModuleType* ptype : ModuleFactory::Get()->aptype) {
    if (!IsEnvelopeStageType(ptype)) continue;
    ++nTypes;
    ModuleHarness h(ptype->pszName);
    h.FoldConstants();
    AddCommonContext(h);
    ASSERT_EQ(h.Start(), 0) << ptype->pszName;
    auto fnSample = [&](int j) {
      if (j) h.Step();
      h.Value("Note", "NoteOff") = j >= 300;
      for (const char* psz : kEnvOutputs) h.Out(psz);
    };
    int j = 0;
    for (; j < 50; ++j) fnSample(j);
    AllocationCounter counter;
    for (; j < 600; ++j) fnSample(j);
    h.Retrigger();
    for (; j < 700; ++j) fnSample(j);
    EXPECT_EQ(counter.Count(), 0) << ptype->pszName;
  }
  EXPECT_EQ(nTypes, 256);
}

}  // namespace
