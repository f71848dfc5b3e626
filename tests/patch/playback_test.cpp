// Patches playing notes: voices started, stolen, released and retired, frames summed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "app/appcore.h"
#include "error_support.h"
#include "formula/errorlist.h"
#include "patch/moduletype.h"
#include "patch/patch.h"
#include "patch/structural.h"
#include "patch/voice.h"

namespace {

// A sine voice with a quick envelope, so notes start and end within a few milliseconds.
const char* kSine =
    "[Osc1]\nFrequency = Pitch\nWaveform = Sine\n"
    "[EnvGain]\nAttack = 1ms\nDecay = 1ms\nSustain = 1\nRelease = 5ms\nEpsilon = 0.005\n"
    "[Voice]\nPreGain = Osc1\n";

class Playback : public testing::Test {
 protected:
  static void SetUpTestSuite() { pcore = new AppCore(std::string(VANTREL_TEST_DATA) + "/install"); }
  static void TearDownTestSuite() {
    delete pcore;
    pcore = nullptr;
  }
  void TearDown() override {
    delete ppatch;
    ppatch = nullptr;
    Patch::bOptimize = true;
    Patch::bHoist = true;
    Patch::bReadThrough = true;
    Patch::bRest = true;
  }
  // Compiles patch text (the settings lines go into [Patch]); fails the test on errors.
  Patch* Compile(const std::string& sText, const std::string& sSettings = "") {
    // Each case runs in a process of its own, in parallel with the others: the name keeps them apart.
    std::string sPath = testing::TempDir() + "/playback_" + testing::UnitTest::GetInstance()->current_test_info()->name() +
                        "_" + std::to_string(nFile++) + ".vantrel";
    std::ofstream(sPath) << "[Patch]\n" << sSettings << "\n" << sText;
    delete ppatch;
    ppatch = pcore->CompilePatchFile(sPath.c_str(), 0);
    std::filesystem::remove(sPath);
    EXPECT_TRUE(ppatch && ppatch->bCompiled) << ErrorLinesText();
    return ppatch;
  }
  std::vector<double> Render(int nFrames) {
    std::vector<double> ad;
    for (int i = 0; i < nFrames; ++i) {
      double adFrame[2] = {0, 0};
      ppatch->RenderFrame(adFrame, 2);
      ad.push_back(adFrame[0]);
    }
    return ad;
  }
  // Renders without keeping the frames (so that the test itself allocates nothing).
  void Run(int nFrames) {
    for (int i = 0; i < nFrames; ++i) {
      double adFrame[2] = {0, 0};
      ppatch->RenderFrame(adFrame, 2);
    }
  }
  std::vector<int> SoundingNotes() {
    std::vector<int> ai;
    for (Voice* pvoice : ppatch->apvoiceActive) ai.push_back(static_cast<int>(pvoice->NoteNumber()));
    return ai;
  }
  static double Frequency(const std::vector<double>& ad, int iFrom) {
    double tFirst = -1, tLast = -1;
    int n = 0;
    for (size_t i = static_cast<size_t>(iFrom) + 1; i < ad.size(); ++i)
      if (ad[i - 1] < 0 && ad[i] >= 0) {
        double t = (static_cast<double>(i) - 1 + -ad[i - 1] / (ad[i] - ad[i - 1])) / 44100;
        if (tFirst < 0) tFirst = t;
        tLast = t;
        ++n;
      }
    return n > 1 ? (n - 1) / (tLast - tFirst) : 0;
  }

  static AppCore* pcore;
  static int nFile;
  Patch* ppatch = nullptr;
};

AppCore* Playback::pcore = nullptr;
int Playback::nFile = 0;

}  // namespace

TEST_F(Playback, NotesSumAndKeepTheirPitch) {
  Compile(kSine);
  ppatch->NoteOn(69, 0.8);
  std::vector<double> adA = Render(4410);
  EXPECT_NEAR(Frequency(adA, 441), 440, 0.5);
  Compile(kSine);
  ppatch->NoteOn(76, 0.6);
  std::vector<double> adB = Render(4410);
  Compile(kSine);
  ppatch->NoteOn(69, 0.8);
  ppatch->NoteOn(76, 0.6);
  std::vector<double> adBoth = Render(4410);
  for (size_t i = 0; i < adBoth.size(); ++i) ASSERT_NEAR(adBoth[i], adA[i] + adB[i], 1e-12) << i;
}

TEST_F(Playback, AReleasedNoteDecaysAndItsVoiceRetires) {
  Compile(kSine);
  ppatch->NoteOn(60, 0.5);
  Render(441);
  ASSERT_EQ(ppatch->apvoiceActive.size(), 1u);
  ppatch->NoteOff(60, 0.5);
  std::vector<double> ad = Render(4410);
  EXPECT_TRUE(ppatch->apvoiceActive.empty());
  for (size_t i = 2205; i < ad.size(); ++i) ASSERT_EQ(ad[i], 0) << i;
}

TEST_F(Playback, NoteOnLastsExactlyTheFirstSample) {
  Compile(kSine + std::string("first = Note:NoteOn\n[Voice]\nFinished = 0\n"));
  ppatch->NoteOn(60, 0.5);
  Voice* pvoice = ppatch->apvoiceFree.empty() ? nullptr : ppatch->apvoiceActive.front();
  ASSERT_NE(pvoice, nullptr);
  Render(1);
  EXPECT_EQ(pvoice->pmodNote->v.dNoteOn, 1);
  Render(1);
  EXPECT_EQ(pvoice->pmodNote->v.dNoteOn, 0);
}

TEST_F(Playback, AThirdNoteStealsTheOldestOrAReleasedVoice) {
  Compile(kSine, "NoteMax = 2\n");
  EXPECT_EQ(ppatch->apvoiceAll.size(), 2u);
  ppatch->NoteOn(60, 0.5);
  ppatch->NoteOn(62, 0.5);
  ppatch->NoteOn(64, 0.5);
  EXPECT_EQ(SoundingNotes(), (std::vector<int>{62, 64})) << "the oldest voice plays the new note";
  ppatch->NoteOff(64, 0.5);
  ppatch->NoteOn(65, 0.5);
  EXPECT_EQ(SoundingNotes(), (std::vector<int>{62, 65})) << "a released voice goes before the oldest";
  EXPECT_EQ(ErrorList::Get()->anode.N(), 0);
}

TEST_F(Playback, UnisonStartsSeveralVoicesPerNote) {
  Compile(kSine, "VoicesPerNote = 3\nNoteMax = 2\n");
  EXPECT_EQ(ppatch->apvoiceAll.size(), 6u) << "NoteMax x VoicesPerNote voices are made";
  ppatch->NoteOn(60, 0.5);
  ASSERT_EQ(ppatch->apvoiceActive.size(), 3u);
  std::vector<double> adIndex;
  for (Voice* pvoice : ppatch->apvoiceActive) adIndex.push_back(pvoice->pmodNote->v.dVoicePerNote);
  EXPECT_EQ(adIndex, (std::vector<double>{0, 1, 2}));
}

TEST_F(Playback, RetriggerRestartsTheSameVoice) {
  Compile(kSine);
  ppatch->NoteOn(60, 0.5);
  Voice* pvoice = ppatch->apvoiceActive.front();
  Render(100);
  ppatch->NoteOn(60, 0.9);
  ASSERT_EQ(ppatch->apvoiceActive.size(), 1u);
  EXPECT_EQ(ppatch->apvoiceActive.front(), pvoice);
  EXPECT_EQ(pvoice->dSample, 0) << "restarted";
  EXPECT_EQ(pvoice->pmodNote->v.dVelocity, 0.9);
  Compile(kSine, "Retrigger = false\n");
  ppatch->NoteOn(60, 0.5);
  ppatch->NoteOn(60, 0.9);
  EXPECT_EQ(ppatch->apvoiceActive.size(), 2u) << "without retrigger a repeated note takes a new voice";
}

TEST_F(Playback, MonophonicModeReturnsToTheHeldNote) {
  Compile(kSine, "NoteMax = 1\n");
  ppatch->NoteOn(60, 0.5);
  ppatch->NoteOn(64, 0.7);
  EXPECT_EQ(SoundingNotes(), std::vector<int>{64});
  ppatch->NoteOff(64, 0.3);
  EXPECT_EQ(SoundingNotes(), std::vector<int>{60});
  EXPECT_EQ(ppatch->apvoiceActive.front()->pmodNote->v.dVelocity, 0.3) << "with the release velocity";
  std::vector<double> ad = Render(4410);
  EXPECT_NEAR(Frequency(ad, 441), 261.63, 0.3);
  ppatch->NoteOn(64, 0.7);
  ppatch->NoteOff(60, 0.5);
  EXPECT_EQ(SoundingNotes(), std::vector<int>{64}) << "letting go of a note under the top changes nothing";
  EXPECT_FALSE(ppatch->apvoiceActive.front()->Released());
}

TEST_F(Playback, FinishedVoicesAreReusedFirstInFirstOutOrLastInFirstOut) {
  for (bool bFifo : {true, false}) {
    // Two voices, both used, so the free list holds only voices that have played.
    Compile(kSine, bFifo ? "NoteMax = 2\n" : "NoteMax = 2\nVoiceCache = LIFO\n");
    for (int iNote : {60, 62}) ppatch->NoteOn(iNote, 0.5);
    Voice* pvoiceFirst = ppatch->apvoiceActive[0];
    Voice* pvoiceSecond = ppatch->apvoiceActive[1];
    ppatch->NoteOff(60, 0.5);
    Render(2000);
    ppatch->NoteOff(62, 0.5);
    Render(2000);
    ASSERT_TRUE(ppatch->apvoiceActive.empty());
    ppatch->NoteOn(70, 0.5);
    EXPECT_EQ(ppatch->apvoiceActive.front(), bFifo ? pvoiceFirst : pvoiceSecond) << (bFifo ? "FIFO" : "LIFO");
  }
}

TEST_F(Playback, AllSoundOffSilencesAtOnceAllNotesOffReleases) {
  Compile(kSine);
  ppatch->NoteOn(60, 0.5);
  ppatch->NoteOn(67, 0.5);
  Render(441);
  ppatch->AllNotesOff();
  EXPECT_EQ(ppatch->apvoiceActive.size(), 2u) << "released voices sound until their envelopes end";
  for (Voice* pvoice : ppatch->apvoiceActive) EXPECT_TRUE(pvoice->Released());
  ppatch->NoteOn(72, 0.5);
  ppatch->AllSoundOff();
  EXPECT_TRUE(ppatch->apvoiceActive.empty());
  std::vector<double> ad = Render(10);
  for (double d : ad) EXPECT_EQ(d, 0);
}

// With the engine's voice fade (as in live play), a voice taken over fades for those frames and
// only then starts its new note; it answers for the new note meanwhile, so that a note-off
// sent during the fade still ends it. FadeOutAll fades every voice out, then retires them.
TEST_F(Playback, AStolenVoiceFadesBeforeItsNewNoteStarts) {
  struct RestoreFade {
    int n = pcore->Engine()->nVoiceFade;
    ~RestoreFade() { pcore->Engine()->nVoiceFade = n; }
  } restore;
  constexpr int kFade = 8;
  pcore->Engine()->nVoiceFade = kFade;
  Compile(kSine, "NoteMax = 2\n");
  ppatch->NoteOn(60, 0.5);
  ppatch->NoteOn(62, 0.5);
  Render(100);
  Voice* pvoiceStolen = ppatch->apvoiceActive.front();
  ppatch->NoteOn(64, 0.5);
  EXPECT_EQ(SoundingNotes(), (std::vector<int>{62, 64}));
  EXPECT_TRUE(pvoiceStolen->Fading());
  EXPECT_EQ(pvoiceStolen->pmodNote->v.dNoteNumber, 60) << "the old note still sounds, fading";
  std::vector<double> adGain;
  for (int i = 0; i < kFade; ++i) {  // the gain each frame of the fade is summed with
    adGain.push_back(pvoiceStolen->dFadeGain);
    Render(1);
  }
  EXPECT_TRUE(std::is_sorted(adGain.rbegin(), adGain.rend()));
  EXPECT_LT(adGain.front(), 1);
  EXPECT_GT(adGain.back(), 0);
  EXPECT_EQ(pvoiceStolen->dFadeGain, 1) << "the fade is over";
  EXPECT_EQ(pvoiceStolen->pmodNote->v.dNoteNumber, 64);
  EXPECT_EQ(pvoiceStolen->dSample, 0) << "the new note starts with the next frame";
  EXPECT_FALSE(pvoiceStolen->Released());

  // A note-off during the fade is kept for the note the voice fades into.
  Voice* pvoiceNext = ppatch->apvoiceActive.front();
  ppatch->NoteOn(65, 0.5);
  ppatch->NoteOff(65, 0.25);
  EXPECT_TRUE(pvoiceNext->Fading());
  Render(kFade);
  EXPECT_EQ(pvoiceNext->pmodNote->v.dNoteNumber, 65);
  EXPECT_TRUE(pvoiceNext->Released());
  EXPECT_EQ(pvoiceNext->pmodNote->v.dRelVelocity, 0.25);

  ppatch->FadeOutAll();
  std::vector<double> ad = Render(kFade + 2);
  EXPECT_TRUE(ppatch->apvoiceActive.empty()) << "faded out, the voices retire";
  EXPECT_EQ(ad.back(), 0);
  for (size_t i = 1; i < ad.size(); ++i) EXPECT_LT(std::fabs(ad[i] - ad[i - 1]), 0.5) << "no jump at " << i;
  EXPECT_EQ(ErrorList::Get()->anode.N(), 0);
}

TEST_F(Playback, ControllersReachPerNoteFormulas) {
  Compile("[Osc1]\nFrequency = Pitch\nWaveform = Sine\n"
          "[EnvGain]\nAttack = 1ms\nSustain = 1\nEpsilon = 0.005\n"
          "[Voice]\nPreGain = Osc1 * Channel:ModWheel\n");
  ppatch->NoteOn(69, 0.5);
  std::vector<double> adSilent = Render(441);
  for (double d : adSilent) EXPECT_EQ(d, 0) << "the wheel starts at 0";
  ppatch->ControllerChanged(0, 1, 0.5);
  std::vector<double> ad = Render(441);
  double dPeak = 0;
  for (double d : ad) dPeak = std::max(dPeak, std::fabs(d));
  EXPECT_NEAR(dPeak, 0.5 * 0.125, 0.002) << "half the wheel times the sine's bass-compensated level";
}

TEST_F(Playback, AChannelStartsAtItsInitialValueUntilMidiChangesIt) {
  Compile("[Channel]\nModWheel = 0.5\n[Voice]\nResult = Channel:ModWheel\nFinished = 0\n", "Result = 0\n");
  ppatch->NoteOn(60, 0.5);
  Voice* pvoice = ppatch->apvoiceActive.front();
  Form* pformWheel = FormNewRef(-1);
  for (int i = 0; i < pvoice->tab.N(); ++i)
    if (strcmp(pvoice->tab[i].pszModule, "Channel") == 0 && strcmp(pvoice->tab[i].pszName, "ModWheel") == 0)
      pformWheel->u.iVar = i;
  ASSERT_GE(pformWheel->u.iVar, 0);
  Render(1);
  EXPECT_EQ(pvoice->Eval(pformWheel), 0.5) << "from the first sample";
  ppatch->NoteOn(64, 0.5);
  Render(10);
  EXPECT_EQ(pvoice->Eval(pformWheel), 0.5) << "a new note does not set it again";
  ppatch->ControllerChanged(0, ControllerIndex("ModWheel"), 0.25);
  Render(1);
  EXPECT_EQ(pvoice->Eval(pformWheel), 0.25) << "MIDI changes it";
  ppatch->NoteOn(67, 0.5);
  Render(10);
  for (Voice* pvoiceOther : ppatch->apvoiceActive) EXPECT_EQ(pvoiceOther->Eval(pformWheel), 0.25);
  FormFree(pformWheel);
}

TEST_F(Playback, WhiteNoiseVoicesPlayTheirOwnSequences) {
  // Were both voices seeded alike, two notes would be exactly twice one note.
  const char* pszNoise = "[Hiss]\nModuleType = Noise\n[Voice]\nResult = Hiss\nFinished = 0\n";
  Compile(pszNoise);
  ppatch->NoteOn(60, 0.5);
  std::vector<double> adOne = Render(200);
  Compile(pszNoise);
  ppatch->NoteOn(60, 0.5);
  ppatch->NoteOn(62, 0.5);
  std::vector<double> adTwo = Render(200);
  int nTwice = 0;
  for (size_t i = 0; i < adOne.size(); ++i) nTwice += adTwo[i] == 2 * adOne[i];
  EXPECT_LT(nTwice, 10);
  Compile(pszNoise);
  ppatch->NoteOn(60, 0.5);
  EXPECT_EQ(Render(200), adOne) << "the same voice plays the same sequence every time";
}

TEST_F(Playback, AVoiceModuleThatCannotBeSetUpRefusesThePatchOnce) {
  std::string sPath = testing::TempDir() + "/playback_init.vantrel";
  std::ofstream(sPath) << "[Osc1]\nFrequency = Pitch\n[EnvGain]\nEpsilon = Note:Velocity\n[Voice]\nPreGain = Osc1\n";
  ErrorList::Get()->Clear();
  std::unique_ptr<Patch> ppatchBad(pcore->CompilePatchFile(sPath.c_str(), 0));
  std::filesystem::remove(sPath);
  EXPECT_TRUE(!ppatchBad || !ppatchBad->bCompiled);
  std::string sErrors = ErrorLinesText();
  EXPECT_NE(sErrors.find("3: Could not initialize EnvGain"), std::string::npos) << sErrors;
  for (const ErrorListNode& node : ErrorList::Get()->anode) EXPECT_EQ(node.iCount, 1) << node.psz;
}

TEST_F(Playback, TheOptimizerChangesNoSample) {
  // Envelopes need their constants folded, so these patches set Epsilon as a plain number.
  const char* apszPatches[] = {
      kSine,
      "[Saw]\nModuleType = Osc\nFrequency = Pitch * 2 ^ ( 5 / 1200 )\nDuty = 0.3 + 0.2 * Note:Velocity\n"
      "[Filt]\nModuleType = Filter\nInput = Saw * 2 * 0.5\nCutoff = Max( 200, Pitch * ( 1 + 4 * FEnv ) )\n"
      "[FEnv]\nModuleType = Env\nAttack = 0.01\nDecay = 0.2\nSustain = 0.3\nRelease = 0.1\nEpsilon = 0.005\n"
      "[EnvGain]\nAttack = 0.005\nRelease = 0.05\nEpsilon = 0.005\n"
      "[Voice]\nPreGain = IF( Note:Velocity > 0.6, Filt, Filt * 0.5 ) + 0 * Saw\n",
      "[Osc1]\nFrequency = Select( Note:VoicePerNote, Pitch, Pitch * 1.5 )\nWaveform = Triangle\n"
      "[EnvGain]\nAttack = 0.002\nRelease = 0.02\nEpsilon = 0.005\n"
      "[Voice]\nPreGain = Pan( Osc1 * LinFade( Note:Velocity, 0.2, 1 ), 0.3 )\n",
  };
  for (const char* pszPatch : apszPatches) {
    std::vector<double> aad[2];
    for (bool bOptimize : {false, true}) {
      Patch::bOptimize = bOptimize;
      Compile(pszPatch, "VoicesPerNote = 2\n");
      ppatch->NoteOn(60, 0.8);
      ppatch->NoteOn(67, 0.4);
      aad[bOptimize] = Render(2000);
      ppatch->NoteOff(60, 0.5);
      std::vector<double> adTail = Render(2000);
      aad[bOptimize].insert(aad[bOptimize].end(), adTail.begin(), adTail.end());
    }
    for (size_t i = 0; i < aad[0].size(); ++i)
      ASSERT_NEAR(aad[0][i], aad[1][i], 1e-9 * std::max(1.0, std::fabs(aad[0][i]))) << pszPatch << "\nsample " << i;
  }
}

TEST_F(Playback, RenderingAllocatesNothingAfterWarmUp) {
  Compile("[Saw]\nModuleType = Osc\nFrequency = Pitch\n"
          "[Filt]\nModuleType = Filter\nInput = Saw\nCutoff = Pitch * ( 1 + 3 * FEnv )\n"
          "[FEnv]\nModuleType = Env\nAttack = 0.01\nDecay = 0.2\nSustain = 0.3\nRelease = 0.1\n"
          "[Echo]\nModuleType = Delay\nInput = Filt\nTime1 = 0.01\nFeedback = 0.3\n"
          "[Voice]\nPreGain = Pan( Echo * Channel:ModWheel, 0.4 )\n",
          "NoteMax = 4\n");
  ppatch->NoteOn(60, 0.5);
  ppatch->NoteOn(64, 0.5);
  Render(1000);
  AllocationCounter counter;
  ppatch->ControllerChanged(0, 1, 0.7);
  ppatch->NoteOn(67, 0.5);
  ppatch->NoteOff(60, 0.5);
  ppatch->NoteOn(71, 0.5);
  ppatch->NoteOn(72, 0.5);
  Run(20000);
  EXPECT_EQ(counter.Count(), 0);
  // The envelopes came to rest on the way, and resting allocated nothing either.
  size_t nResting = 0;
  for (Voice* pvoice : ppatch->apvoiceActive) nResting += pvoice->RecordsAtRest();
  EXPECT_GT(nResting, 0u);
}

TEST_F(Playback, VoicesBroughtTogetherAllocateNothing) {
  Compile("[Saw]\nModuleType = Osc\nFrequency = Pitch\n"
          "[Ladder]\nModuleType = MoogDirty\nInput = Saw\nCutoff = 500 + 2000 * Note:Velocity\n"
          "[Voice]\nPreGain = Ladder\n",
          "NoteMax = 20\nVoicePrealloc = 20\n");
  ASSERT_FALSE(ppatch->aplanAcross.empty());
  for (int i = 0; i < 6; ++i) ppatch->NoteOn(40 + 3 * i, 0.5);
  Render(1000);
  AllocationCounter counter;
  for (int i = 6; i < 19; ++i) ppatch->NoteOn(40 + 3 * i, 0.5);  // more voices than one group
  ppatch->NoteOff(40, 0.5);
  Run(20000);
  EXPECT_EQ(counter.Count(), 0);
}

namespace {

// Puts a compiled patch's records back on the general evaluation routines: every read through
// FormRefBring, every module output through the virtual Calc, no rings of outputs. Answers how
// many records had been prepared otherwise.
int UseGeneralRoutines(Patch* ppatch) {
  int nPrepared = 0;
  auto general = [&](Var& var) {
    bool bDirect = var.pmodule && var.pfnOutput && var.pfnOutput == var.pmodule->ptype->CalcRoutine(var.pmodule) &&
                   var.pfnOutput != ModuleCalcOutput;
    nPrepared += bDirect || var.pvarSibling || var.pfnBring != FormRefBring;
    if (bDirect) var.pfnOutput = ModuleCalcOutput;
    var.pvarSibling = nullptr;
    var.pfnBring = FormRefBring;
  };
  for (int i = 0; i < ppatch->tabPatch.N(); ++i) general(ppatch->tabPatch[i]);
  for (Voice* pvoice : ppatch->apvoiceAll)
    for (int i = 0; i < pvoice->tab.N(); ++i) general(pvoice->tab[i]);
  ppatch->aplanAcross.clear();  // and every voice brought alone
  return nPrepared;
}

// Whether some voice sum brings records for all voices at once.
bool BringsAcross(const Patch* ppatch) { return !ppatch->aplanAcross.empty(); }

}  // namespace

// A module output read after another output of the same module, a compiled formula's record and a
// direct Calc must give what the general routines give, to the bit, loops through a module's own
// outputs included.
TEST_F(Playback, ThePreparedRenderPathChangesNoSample) {
  const char* apszPatches[] = {
      // Several outputs of the envelope and the oscillator read in one sample.
      "[Osc1]\nFrequency = Pitch\nWaveform = Square\nDuty = 0.4\n"
      "[FEnv]\nModuleType = Env\nAttack = 0.01\nDecay = 0.05\nSustain = 0.3\nRelease = 0.02\nEpsilon = 0.005\n"
      "[EnvGain]\nAttack = 0.002\nRelease = 0.02\nEpsilon = 0.005\n"
      "[Voice]\nPreGain = Osc1 * FEnv:Output + Osc1:Control * FEnv:Exp * 0.5 + Osc1:Positive * EnvGain:Output\n",
      // A frequency that reads the oscillator's own other output: a loop, cut the same way.
      "[Osc1]\nFrequency = Pitch * ( 1 + 0.5 * Osc1:Positive )\n"
      "[EnvGain]\nAttack = 0.002\nRelease = 0.02\nEpsilon = 0.005\n"
      "[Voice]\nPreGain = Osc1 + 0.2 * Osc1:Control\n",
      // A per-patch LFO read by every voice, and a ladder with its stages read beside its output.
      "[Lfo]\nModuleType = LFO\nFrequency = 3\n"
      "[Saw]\nModuleType = Osc\nFrequency = Pitch * ( 1 + 0.01 * Lfo )\n"
      "[Ladder]\nModuleType = MoogDirty\nInput = Saw\nCutoff = 800 + 400 * Lfo:Positive\nResonance = 0.4\n"
      "[EnvGain]\nAttack = 0.002\nRelease = 0.02\nEpsilon = 0.005\n"
      "[Voice]\nPreGain = Ladder + 0.1 * Ladder:Stage2 - 0.05 * Ladder:Stage4\n",
  };
  for (const char* pszPatch : apszPatches) {
    std::vector<double> aad[2];
    int anLoops[2] = {};
    for (bool bGeneral : {false, true}) {
      Compile(pszPatch, "VoicesPerNote = 2\n");
      if (bGeneral) {
        EXPECT_GT(UseGeneralRoutines(ppatch), 0) << pszPatch;
      }
      ppatch->ControllerChanged(0, 1, 0.7);  // the modulation wheel brings in the per-patch vibrato LFO
      ppatch->NoteOn(60, 0.8);
      ppatch->NoteOn(67, 0.4);
      aad[bGeneral] = Render(1500);
      ppatch->NoteOff(60, 0.5);
      std::vector<double> adTail = Render(1500);
      aad[bGeneral].insert(aad[bGeneral].end(), adTail.begin(), adTail.end());
      for (Voice* pvoice : ppatch->apvoiceAll)
        for (int i = 0; i < pvoice->tab.N(); ++i) anLoops[bGeneral] += pvoice->tab[i].nLoops;
    }
    EXPECT_EQ(anLoops[0], anLoops[1]) << pszPatch;
    for (size_t i = 0; i < aad[0].size(); ++i) ASSERT_EQ(aad[0][i], aad[1][i]) << pszPatch << "\nsample " << i;
  }
}

// An oscillator's frequency or a filter's input that only names another record is pulled from
// that record directly, also beside a loop back through the input (Osc2, through Osc3), and a
// voice's compiled formula reads a per-patch module's output (the LFO) from the per-patch record
// once it is current: the samples and the loops found are those of the inputs and the copies
// read as records.
TEST_F(Playback, InputsThatNameAnotherRecordAreReadThrough) {
  const char* pszPatch =
      "[Lfo]\nModuleType = LFO\nPer = Patch\nFrequency = 4\n"
      "[Osc1]\nFrequency = Pitch\n"
      "[Osc2]\nWaveform = Sine\nFrequency = Osc2:rate\nrate = 0.5 * Pitch + 10 * Osc3 * ( 1 + 0.1 * Lfo )\n"
      "[Osc3]\nFrequency = Osc2:Frequency * 0.25\n"
      "[Filt]\nModuleType = Filter\nInput = Osc1\nCutoff = 900\n"
      "[EnvGain]\nAttack = 0.002\nRelease = 0.02\nEpsilon = 0.005\n"
      "[Voice]\nPreGain = Filt + Osc2 * 0.3\n";
  std::vector<double> aad[2];
  int anLoops[2] = {}, anShadows[2] = {};
  size_t anSounding[2] = {};
  for (bool bNamed : {true, false}) {
    Patch::bReadThrough = bNamed;
    Compile(pszPatch, "NoteMax = 4\n");
    for (int iNote : {60, 64, 67, 71}) ppatch->NoteOn(iNote, 0.7);
    aad[bNamed] = Render(1000);
    ppatch->NoteOff(60, 0.5);
    std::vector<double> adTail = Render(1000);
    aad[bNamed].insert(aad[bNamed].end(), adTail.begin(), adTail.end());
    anSounding[bNamed] = ppatch->apvoiceActive.size();  // Voice:Finished, read through too
    for (Voice* pvoice : ppatch->apvoiceAll)
      for (int i = 0; i < pvoice->tab.N(); ++i) {
        const Var& var = pvoice->tab[i];
        anLoops[bNamed] += var.nLoops;
        // Read past, the named frequency is never computed.
        if (pvoice == ppatch->apvoiceAll.front() && var.pszModule && strcmp(var.pszModule, "Osc1") == 0 &&
            var.pszName && strcmp(var.pszName, "Frequency") == 0) {
          EXPECT_EQ(*var.pvalue == 0, bNamed) << *var.pvalue;
        }
      }
    // A voice's copy of the per-patch LFO: brought by the first voice of the frame only, where
    // the others read the per-patch record in its place.
    Voice* pvoiceLast = ppatch->apvoiceRender.back();
    for (int i = 0; i < pvoiceLast->tab.N(); ++i) {
      const Var& var = pvoiceLast->tab.Data()[i];
      if (!var.pvarPatch || strcmp(var.pszModule, "Lfo") != 0) continue;
      ++anShadows[bNamed];
      EXPECT_EQ(var.evalState == EvalStale, bNamed);
    }
  }
  EXPECT_EQ(anShadows[0], 1);
  EXPECT_EQ(anShadows[1], 1);
  EXPECT_GT(anLoops[1], 0);
  EXPECT_EQ(anLoops[0], anLoops[1]);
  EXPECT_EQ(anSounding[1], 3u);  // the released note has ended
  EXPECT_EQ(anSounding[0], anSounding[1]);
  for (size_t i = 0; i < aad[0].size(); ++i) ASSERT_EQ(aad[0][i], aad[1][i]) << "sample " << i;
}

// A gain envelope held at its sustain by a constant stop takes a short way through a sample; a
// Speed that a controller moves (read here, so that it is evaluated) can reopen the decay, and
// then the short way must not be taken. Against the same envelope held by a stop that varies
// (which always takes the full way), every sample agrees.
TEST_F(Playback, AHeldSustainAgreesWithTheFullComputation) {
  std::vector<double> aad[2];
  for (bool bConstant : {true, false}) {
    Compile(std::string("[Osc1]\nWaveform = Sine\n"
                        "[EnvGain]\nAttack = 0.005\nDecay = 0.01\nSustain = 0.5\nRelease = 0.02\n"
                        "Speed = 1 - 0.8 * Channel:ModWheel\nStop = ") +
            (bConstant ? "true" : "Note:Velocity >= 0") + "\n[Voice]\nPreGain = EnvGain:Output + 0.01 * EnvGain:Speed\n");
    ppatch->NoteOn(60, 0.7);
    std::vector<double>& ad = aad[bConstant];
    auto render = [&](int n) {
      std::vector<double> adPart = Render(n);
      ad.insert(ad.end(), adPart.begin(), adPart.end());
    };
    render(2000);  // into the sustain
    ppatch->ControllerChanged(0, 1, 1);  // a fifth of the speed: the decay's end lies ahead again
    render(1000);
    ppatch->ControllerChanged(0, 1, 0);
    render(1000);
    ppatch->NoteOff(60, 0.5);
    render(2000);
  }
  ASSERT_EQ(aad[0].size(), aad[1].size());
  EXPECT_NE(aad[0][2500], aad[0][1999]) << "the slower speed did not reopen the decay";
  for (size_t i = 0; i < aad[0].size(); ++i) ASSERT_EQ(aad[0][i], aad[1][i]) << "sample " << i;
}

// The parts of per-sample formulas that change only with the note (the pitch's tuning and bend,
// a velocity scaling) are records of their own, evaluated again after every event of their voice:
// bends, the wheel, pressure, a legato note retargeting a voice, releases. Rendered with and
// without them, the samples agree to the bit.
TEST_F(Playback, NotePartsOfFormulasFollowEveryEvent) {
  const char* pszPatch =
      "[Lfo]\nModuleType = LFO\nFrequency = 5\n"
      "[Osc1]\nFrequency = Pitch\nPower = 1 + Note:PolyPressure * 0.5 * ( 1 + Lfo )\n"
      "[Osc2]\nFrequency = Pitch * ( 1 + 0.001 * Note:NoteNumber ) * ( 1 + 0.01 * Lfo )\n"
      "[Env]\nModuleType = Env\nAttack = 0.005\nDecay = 0.02\nSustain = 0.4\nRelease = 0.01\nEpsilon = 0.005\n"
      "[EnvGain]\nAttack = 0.002\nRelease = 0.02\nEpsilon = 0.005\n"
      "[Voice]\nPreGain = Osc1 * ( 0.2 + 0.6 * Note:Velocity ) * Env + Osc2 * 0.3 + 0.01 * Note:Velocity * ( 1 + Lfo )\n";
  // As many voices as the notes take, so that the last note plays on a voice that played before.
  for (const char* pszSettings : {"VoicesPerNote = 2\nNoteMax = 4\nVoicePrealloc = 4\n",
                                  "NoteMax = 1\nVoicePrealloc = 1\nRetrigger = false\n"}) {
    std::vector<double> aad[2];
    for (bool bHoist : {true, false}) {
      Patch::bHoist = bHoist;
      Compile(pszPatch, pszSettings);
      const int nParts = ppatch->tabVoice.N() - ppatch->iNotePartsVoice;
      if (bHoist) EXPECT_GE(nParts, 3) << pszSettings;
      else EXPECT_EQ(nParts, 0);
      std::vector<double>& ad = aad[bHoist];
      auto render = [&](int n) {
        std::vector<double> adPart = Render(n);
        ad.insert(ad.end(), adPart.begin(), adPart.end());
      };
      ppatch->NoteOn(60, 0.8);
      render(700);
      ppatch->ControllerChanged(0, ControllerPitchBend, 0.5);
      render(300);
      ppatch->ControllerChanged(0, 1, 0.8);  // the wheel: vibrato depth
      ppatch->PolyPressure(60, 0.6);
      render(300);
      ppatch->NoteOn(65, 0.3);  // a second voice, or the one voice retargeted
      render(300);
      ppatch->ControllerChanged(0, ControllerPitchBend, -0.25);
      ppatch->ControllerChanged(0, 1, 0);
      render(300);
      ppatch->NoteOff(60, 0.5);
      ppatch->NoteOff(65, 0.5);
      render(2000);
      ppatch->NoteOn(72, 0.6);  // on a voice that played before
      render(300);
    }
    ASSERT_EQ(aad[0].size(), aad[1].size());
    for (size_t i = 0; i < aad[0].size(); ++i) ASSERT_EQ(aad[0][i], aad[1][i]) << pszSettings << "sample " << i;
  }
}

// Envelopes held at their sustain rest, and with them the formulas that read only them and
// slower records (a ladder's cutoff, a variable of the voice, the voice's end); every event of a
// voice wakes them: the wheel and pressure that those formulas read, bends, releases, a key struck
// again, a voice reused. An envelope whose sustain level varies by the sample rests too (a held
// level is not read again), one whose release trigger varies by the sample never does, even where
// the trigger was read before it in the sample. Rendered with and without rest, the samples agree
// to the bit.
TEST_F(Playback, ModulesAtRestChangeNoSample) {
  const char* pszPatch =
      "[Lfo]\nModuleType = LFO\nFrequency = 3\n"
      "[Osc1]\nFrequency = Pitch\n"
      "[Osc2]\nWaveform = Sine\nFrequency = Pitch * 1.5\n"
      "[EnvFilt]\nModuleType = ADSREnv\nAttack = 0.003\nDecay = 0.01\nSustain = 0.4\nRelease = 0.02\n"
      "[EnvWobble]\nModuleType = ADSREnv\nAttack = 0.003\nDecay = 0.01\nSustain = 0.5 + 0.2 * Lfo\nRelease = 0.02\n"
      "[EnvLfo]\nModuleType = ADSREnv\nAttack = 0.003\nDecay = 0.01\nSustain = 0.5\nRelease = 0.002\n"
      "TrigRelease = Lfo > 0.9\n"
      "[Ladder]\nModuleType = MoogDirty\nInput = Osc1\n"
      "Cutoff = 300 + 3000 * EnvFilt * ( 1 + Channel:ModWheel ) + 500 * Note:PolyPressure\nResonance = 0.3\n"
      "[EnvGain]\nAttack = 0.002\nDecay = 0.01\nSustain = 0.7\nRelease = 0.01\n"
      "[Voice]\nlevel = 0.5 + 0.5 * EnvFilt:Exp\n"
      "PreGain = 0.01 * EnvLfo:TrigRelease + Ladder * Voice:level + Osc2 * 0.2 * ( EnvWobble + EnvLfo )\n";
  std::vector<double> aad[2];
  size_t anSounding[2] = {};
  for (bool bRest : {true, false}) {
    Patch::bRest = bRest;
    Compile(pszPatch, "NoteMax = 4\nVoicePrealloc = 4\n");
    std::vector<double>& ad = aad[bRest];
    auto render = [&](int n) {
      std::vector<double> adPart = Render(n);
      ad.insert(ad.end(), adPart.begin(), adPart.end());
    };
    auto resting = [&] {
      size_t n = 0;
      for (Voice* pvoice : ppatch->apvoiceActive) n += pvoice->RecordsAtRest();
      return n;
    };
    for (int iNote : {48, 55, 60, 64}) ppatch->NoteOn(iNote, 0.6);
    render(3000);  // into the sustain
    // In each voice: EnvFilt's Output and Exp, the cutoff, the level, EnvWobble's Output, EnvGain's
    // Amp and Finished and the voice's Finished; not EnvLfo.
    EXPECT_EQ(resting(), bRest ? 4u * 8u : 0u);
    ppatch->ControllerChanged(0, 1, 0.5);  // the wheel: every cutoff opens
    EXPECT_EQ(resting(), 0u);
    render(1500);
    ppatch->PolyPressure(55, 0.8);
    render(1500);
    ppatch->ControllerChanged(0, ControllerPitchBend, 0.3);
    render(1500);
    ppatch->NoteOff(48, 0.5);
    render(1500);
    ppatch->NoteOn(55, 0.9);  // struck again while it sounds
    render(3000);
    ppatch->AllNotesOff();
    render(3000);
    anSounding[bRest] = ppatch->apvoiceActive.size();
    ppatch->NoteOn(67, 0.4);  // on a voice that rested before
    render(3000);
  }
  EXPECT_EQ(anSounding[1], 0u);
  EXPECT_EQ(anSounding[0], anSounding[1]);
  ASSERT_EQ(aad[0].size(), aad[1].size());
  EXPECT_NE(aad[0][4000], aad[0][2999]);
  for (size_t i = 0; i < aad[0].size(); ++i) ASSERT_EQ(aad[0][i], aad[1][i]) << "sample " << i;
}

// Ladders and oscillators of several voices computed together, their inputs pulled voice by voice,
// must sound as the voices brought one after another; a patch whose voices share state is brought
// voice by voice.
TEST_F(Playback, VoicesBroughtTogetherChangeNoSample) {
  static constexpr const char* pszSaw = "Pitch * ( 1 + 0.01 * Lfo )";
  static constexpr const char* pszInput = "Saw * Note:Velocity";
  const struct {
    const char* pszLfoFrequency;
    const char* pszLadderBypass;
    const char* pszRest;  // the voice, and any other section
    bool bTogether;
    const char* pszSawFrequency = pszSaw;
    const char* pszLadderInput = pszInput;
  } acase[] = {
      {"3", "false", "[Voice]\nPreGain = Ladder + 0.1 * Ladder:Stage2\n", true},
      // Read after another output, and in stereo: the right channel's sum brings its own.
      {"3", "false", "[Voice]\nPreGain = Saw * 0.1 + Ladder\nPreGain$2 = Ladder:Stage3 - Saw * 0.1\n", true},
      // A call other than arithmetic may read some records and not others: voice by voice.
      {"3", "false", "[Voice]\nPreGain = Pan( Saw * 0.1 + Ladder, Note:Velocity - 0.5 )\n", false},
      // A bypass that changes while playing passes the input instead of stepping.
      {"3", "Note:Velocity < 0.5", "[Voice]\nPreGain = Ladder\n", true},
      // Oscillators without a ladder: plain sines and sawtooths in vectors, a square alone.
      {"3", "false",
       "[Sine]\nModuleType = Osc\nWaveform = Sine\nFrequency = Pitch * 1.5 * ( 1 - 0.02 * Lfo )\n"
       "[Square]\nModuleType = Osc\nWaveform = Square\n[Voice]\nPreGain = Sine + Saw * 0.5 + Square * 0.2\n",
       true},
      // The ladder's input coming back to the ladder, directly or through the oscillator's frequency:
      // alone, the ladder has computed when it is read again, so its input is not brought before it.
      {"3", "false", "[Voice]\nPreGain = Ladder\n", true, pszSaw, "Saw * Note:Velocity + 0.3 * Ladder:Stage4"},
      {"3", "false", "[Voice]\nPreGain = Ladder\n", true, "Pitch * ( 1 + 0.05 * Ladder:Stage1 )"},
      // The voice's result read back while it is brought: the loop is found as alone.
      {"3", "false", "[Voice]\nPreGain = Saw * 0.5 + Ladder\n", true, "Pitch * ( 1 + 0.001 * Voice:Result )"},
      // Shared state: the patch's random generator, and a voice sum that the voices reach.
      {"3", "false", "[Voice]\nPreGain = Ladder * ( 1 + 0.001 * RANDOM() )\n", false},
      {"3", "false", "[Hiss]\nModuleType = Noise\nColor = Pink\n[Voice]\nPreGain = Ladder + 0.01 * Hiss\n", false},
      {"3 + Patch:VoiceOutput", "false", "[Voice]\nPreGain = Ladder\n", false},
  };
  for (const auto& c : acase) {
    const std::string sPatch =
        std::string("[Saw]\nModuleType = Osc\nFrequency = ") + c.pszSawFrequency + "\n" +
        "[Lfo]\nModuleType = LFO\nPer = Patch\nFrequency = " + c.pszLfoFrequency + "\n" +
        "[Env]\nModuleType = Env\nAttack = 0.005\nDecay = 0.02\nSustain = 0.4\nRelease = 0.01\nEpsilon = 0.005\n" +
        "[Ladder]\nModuleType = MoogDirty\nInput = " + c.pszLadderInput + "\nCutoff = 300 + 3000 * Env\n" +
        "Resonance = 0.3 + Note:Velocity\nDrive = 0.1 + 0.3 * Note:Velocity\nBypass = " + c.pszLadderBypass + "\n" +
        "[EnvGain]\nAttack = 0.002\nRelease = 0.02\nEpsilon = 0.005\n" + c.pszRest;
    std::vector<double> aad[2];
    int anLoops[2] = {};
    for (bool bAlone : {false, true}) {
      Compile(sPatch, "NoteMax = 8\nVoicePrealloc = 8\n");
      ASSERT_EQ(BringsAcross(ppatch), c.bTogether) << sPatch;
      if (bAlone) ppatch->aplanAcross.clear();
      auto render = [&](int nFrames) {
        for (int i = 0; i < nFrames; ++i) {
          double adFrame[2] = {0, 0};
          ppatch->RenderFrame(adFrame, 2);
          aad[bAlone].insert(aad[bAlone].end(), adFrame, adFrame + 2);
        }
      };
      const double adVelocity[] = {0.9, 0.3, 0.7, 0.5, 0.8, 0.2, 0.6};
      for (int i = 0; i < 7; ++i) ppatch->NoteOn(48 + 5 * i, adVelocity[i]);
      render(1500);
      ppatch->NoteOff(53, 0.5);
      ppatch->NoteOff(48, 0.5);
      render(1500);
      for (Voice* pvoice : ppatch->apvoiceAll)
        for (int i = 0; i < pvoice->tab.N(); ++i) anLoops[bAlone] += pvoice->tab[i].nLoops;
    }
    EXPECT_EQ(anLoops[0], anLoops[1]) << sPatch;
    for (size_t i = 0; i < aad[0].size(); ++i) ASSERT_EQ(aad[0][i], aad[1][i]) << sPatch << "\nvalue " << i;
  }
}
