// The structural module kinds: their tables, the engine settings, channels and interfaces.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../foundation/config_fixture.h"
#include "enginecore/controllers.h"
#include "enginecore/settings.h"
#include "formula/errorlist.h"
#include "module_harness.h"
#include "patch/structural.h"

namespace {

const Var* Row(const char* pszType, const char* pszName) {
  ModuleType* ptype = ModuleFactory::Get()->Lookup(pszType);
  for (const Var* avar : {ptype->avarInputs, ptype->avarOutputs})
    for (const Var* pvar = avar; pvar->pszName; ++pvar)
      if (strcmp(pvar->pszName, pszName) == 0) return pvar;
  return nullptr;
}

}  // namespace

TEST(Controllers, NamesAtTheirIndices) {
  struct {
    int i;
    const char* psz;
  } aCases[] = {{0, "BankSelect"},      {1, "ModWheel"},      {10, "PanCtrl"},        {31, "CN31"},
                {32, "BankSelectLSB"},  {33, "ModWheelLSB"},  {42, "PanLSB"},         {63, "CN31LSB"},
                {64, "DamperPdl"},      {88, "HiResVelPrefix"}, {91, "ReverbSend"},   {98, "NonRegParamLSB"},
                {101, "RegParam"},      {102, "CN102"},       {119, "CN119"},         {120, "Pressure"},
                {121, "PitchBend"},     {122, "NoteNumber"},  {128, "VoicePerNote"},  {129, "NoteDownC-1"},
                {130, "NoteDownC#-1"},  {189, "NoteDownC4"},  {198, "NoteDownA4"},    {256, "NoteDownG9"}};
  for (const auto& c : aCases) {
    EXPECT_STREQ(ControllerName(c.i), c.psz) << c.i;
    EXPECT_EQ(ControllerIndex(c.psz), c.i) << c.psz;
  }
  EXPECT_STREQ(ControllerName(257), "");
}

TEST(EngineSettings, DefaultsAndTheConfigSection) {
  InterpreterSettings engine(nullptr);
  EXPECT_EQ(TheEngine(), &engine);
  EXPECT_EQ(engine.dFreqEval, 44100);
  EXPECT_EQ(engine.dFreqA, 440);
  EXPECT_EQ(engine.dFreqFullBass, 55);
  EXPECT_EQ(engine.nChannels, 2);
  EXPECT_EQ(engine.nOutputBits, 16);
  EXPECT_EQ(engine.nBuffers, 3);
  EXPECT_EQ(engine.nBufferSamples, 768);
  EXPECT_EQ(engine.dFullScale, 32767);
  EXPECT_STREQ(engine.pconfConfig->pszName, "Config");
  EXPECT_STREQ(AKConfigGet(engine.pconfConfig, "FreqEval"), "44100");
  EXPECT_STREQ(AKConfigGet(engine.pconfConfig, "FreqFullBass"), "55");
}

TEST(EngineSettings, ReadsTheSectionWithItsSpellingsAndWarnings) {
  ConfigPtr pconf(ReadFromString("FreqEval = 48000.0\nFreqA = 432\nChannels = 6\nChannles = 4\nOutputBits = 24\n"
                                 "BufferSamples = 256\n"));
  MessageCatcher warnings;
  InterpreterSettings engine(pconf);
  EXPECT_EQ(engine.dFreqEval, 48000);
  EXPECT_STREQ(AKConfigGet(engine.pconfConfig, "FreqEval"), "48000.0") << "copied as text";
  EXPECT_STREQ(AKConfigGet(engine.pconfConfig, "FreqA"), "432");
  EXPECT_EQ(engine.nChannels, 4) << "the channel count is read from the key spelled Channles";
  EXPECT_EQ(engine.nOutputBits, 16);
  EXPECT_EQ(engine.nBufferSamples, 256);
  EXPECT_EQ(warnings.asMessages,
            std::vector<std::string>{"OutputBits was set to 24 but internally the code only supports 16"});
  ConfigPtr pconfBad(ReadFromString("FreqEval = 0\nBufferSamples = -5\n"));
  MessageCatcher warningsBad;
  InterpreterSettings engineBad(pconfBad);
  EXPECT_EQ(engineBad.dFreqEval, 44100);
  EXPECT_EQ(engineBad.nBufferSamples, 768);
  EXPECT_EQ(warningsBad.asMessages.size(), 2u);
}

// Patches read the frequencies from the Config section: it must hold what the engine uses, also
// when a setting was refused or carried text after its number (which a formula would read).
TEST(EngineSettings, TheConfigSectionHoldsWhatTheEngineUses) {
  ConfigPtr pconf(ReadFromString("FreqEval = 10\nFreqA = 440 * 2\nFreqFullBass = -55\n"));
  MessageCatcher warnings;
  InterpreterSettings engine(pconf);
  EXPECT_EQ(engine.dFreqEval, 44100);
  EXPECT_EQ(engine.dFreqA, 440);
  EXPECT_EQ(engine.dFreqFullBass, 55);
  EXPECT_STREQ(AKConfigGet(engine.pconfConfig, "FreqEval"), "44100");
  EXPECT_STREQ(AKConfigGet(engine.pconfConfig, "FreqA"), "440");
  EXPECT_STREQ(AKConfigGet(engine.pconfConfig, "FreqFullBass"), "55");
  EXPECT_EQ(warnings.asMessages, (std::vector<std::string>{"FreqEval was set to 10, which cannot be used; using 44100",
                                                           "FreqFullBass was set to -55, which cannot be used; using 55"}));
  ConfigPtr pconfOdd(ReadFromString("FreqEval = 44100.5\n"));
  InterpreterSettings engineOdd(pconfOdd);
  EXPECT_EQ(strtod(AKConfigGet(engineOdd.pconfConfig, "FreqEval"), nullptr), 44100.5);
}

TEST(StructuralTypes, ChannelOutputsFollowTheControllerSpace) {
  ModuleType* ptype = ModuleFactory::Get()->Lookup("Channel");
  EXPECT_EQ(ptype->NumInputs(), 0);
  ASSERT_EQ(ptype->NumOutputs(), 216);
  EXPECT_STREQ(ptype->avarOutputs[0].pszName, "ChannelNum");
  for (const char* psz : {"ModWheel", "PanCtrl", "DamperPdl", "ReverbSend", "Pressure", "PitchBend", "NoteDownC4"}) {
    const Var* pvar = Row("Channel", psz);
    ASSERT_NE(pvar, nullptr) << psz;
    EXPECT_EQ(pvar->flags, VarFlagMidi | VarFlagNeverFold | VarFlagOnReference) << psz;
    EXPECT_EQ(pvar->classMax, ClassConstant);
    EXPECT_EQ(pvar->iOffset, static_cast<int>(offsetof(ChannelVars, adValue) + sizeof(double) * ControllerIndex(psz)));
  }
  for (const char* psz : {"ModWheelLSB", "HiResVelPrefix", "NonRegParamLSB", "RegParamLSB", "NoteNumber", "Velocity"})
    EXPECT_EQ(Row("Channel", psz), nullptr) << psz;
  EXPECT_EQ(ModuleFactory::Get()->Lookup("DummyChannel")->NumInputs(), 88);
  EXPECT_STREQ(Row("DummyChannel", "ModWheel")->pszDefault, "Super( Channel:ModWheel )");
  EXPECT_EQ(Row("DummyChannel", "NoteDownC4"), nullptr);
}

TEST(StructuralTypes, TablesOfTheOtherKinds) {
  struct {
    const char* pszType;
    int nIn, nOut;
  } aCounts[] = {{"Note", 0, 11}, {"Voice", 3, 0}, {"Patch", 9, 3}, {"Global", 3, 0}, {"Interface", 0, 0},
                 {"Pkg", 0, 0}, {"Sub", 2, 0}, {"DummyPatch", 8, 0}, {"DummyVoice", 3, 0}, {"DummyNote", 9, 0},
                 {"DummyPitch", 13, 0}};
  for (const auto& c : aCounts) {
    ModuleType* ptype = ModuleFactory::Get()->Lookup(c.pszType);
    ASSERT_NE(ptype, nullptr) << c.pszType;
    EXPECT_EQ(ptype->NumInputs(), c.nIn) << c.pszType;
    EXPECT_EQ(ptype->NumOutputs(), c.nOut) << c.pszType;
  }
  EXPECT_EQ(Row("Note", "Velocity")->flags, VarFlagMidi);
  EXPECT_EQ(Row("Note", "Time")->classMax, ClassPerSample);
  EXPECT_EQ(Row("Note", "VoiceNum")->classMax, ClassPerVoice);
  EXPECT_STREQ(Row("Voice", "Result")->pszDefault, "PreGain * EnvGain:Amp");
  EXPECT_EQ(Row("Voice", "Finished")->type, FormTypeBoolean);
  EXPECT_STREQ(Row("Patch", "VoiceOutput")->pszDefault, "SumVoices( Voice:Result )");
  EXPECT_EQ(Row("Patch", "VoiceOutput")->iOffset, -1);
  EXPECT_EQ(Row("Patch", "VoiceCache")->type, FormTypeKeyword);
  EXPECT_STREQ(Row("DummyPatch", "NoteMax")->pszDefault, "Super( Patch:NoteMax )");
  EXPECT_STREQ(Row("DummyNote", "NoteOn")->pszDefault, "Super( Note:NoteOn )  ");
  EXPECT_STREQ(Row("DummyPitch", "Input")->pszDefault, "Portamento");
  EXPECT_STREQ(Row("DummyPitch", "BendRange")->pszDefault, "Super( Pitch:BendRange )");
  EXPECT_STREQ(Row("Sub", "Result")->pszDefault, "Voice:Result");
}

TEST(StructuralModules, SixteenEngineChannels) {
  InterpreterSettings engine(nullptr);
  CreateChannelModules();
  for (int i = 0; i < MidiChannels; ++i) {
    auto* pmod = static_cast<ModChannel*>(engine.apmodChannel[i]);
    ASSERT_NE(pmod, nullptr);
    EXPECT_STREQ(pmod->pszName, "Channel");
    EXPECT_EQ(pmod->ppatch, nullptr);
    EXPECT_EQ(pmod->v.dChannelNum, i + 1);
    EXPECT_EQ(pmod->v.adValue[1], 0);
  }
  DestroyChannelModules();
}

TEST(StructuralModules, AnEngineChannelIgnoresPatchFormulas) {
  ModuleHarness channel("Channel", 44100, true);
  channel.Set("ModWheel", "0.5");
  channel.Set("PitchBend", "-0.25");
  ASSERT_EQ(channel.Start(), 0);
  // Read the control slot itself: reading the record would evaluate the formula it was given.
  auto* pmod = static_cast<ModChannel*>(channel.pmodule());
  EXPECT_EQ(pmod->v.adValue[ControllerIndex("ModWheel")], 0) << "an engine channel (no patch) ignores the patch values";
  EXPECT_EQ(pmod->v.adValue[ControllerIndex("PitchBend")], 0);
}

TEST(StructuralModules, InterfaceGivesEachVariableASlotUpToAHundred) {
  ErrorList::Get()->Clear();
  ModuleHarness ok("Interface", 44100, true, "Interface");
  for (int i = 0; i < 100; ++i) ok.Set(("v" + std::to_string(i)).c_str(), std::to_string(i).c_str());
  ASSERT_EQ(ok.Start(), 0);
  auto* pmod = static_cast<ModInterface*>(ok.pmodule());
  EXPECT_EQ(ok.Out("v42"), 42);
  EXPECT_EQ(ok.Find("Interface", "v42")->pvalue, &pmod->adSlot[42]);
  ModuleHarness tooMany("Interface", 44100, true, "Caller");
  for (int i = 0; i < 101; ++i) tooMany.Set(("v" + std::to_string(i)).c_str(), "1");
  EXPECT_NE(tooMany.Start(), 0);
  ASSERT_EQ(ErrorList::Get()->anode.N(), 1);
  EXPECT_STREQ(ErrorList::Get()->anode[0].psz, "Caller:hit limit of number of variables");
}

TEST(StructuralModules, VoiceNoteStartClearsFinished) {
  ModuleHarness voice("Voice");
  voice.Start();
  auto* pmod = static_cast<ModVoice*>(voice.pmodule());
  pmod->v.dFinished = 1;
  pmod->NoteStart();
  EXPECT_EQ(pmod->v.dFinished, 0);
}
