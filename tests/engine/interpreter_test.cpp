// The engine's audio output: output stage, keep-up reports, the audio thread's message loop,
// shutdown order, device failures, the recording tap, and the message queue under load.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <set>
#include <thread>

#include "engine/interpreter.h"
#include "engine_support.h"
#include "patch/structural.h"

namespace {

const char* const kKeepUp = "Audio engine may not be able to keep up.";

// The engine with access to its stop request, as a test needs it.
class TestInterpreter : public Interpreter {
 public:
  using Interpreter::Interpreter;
  void RequestStop() { bStop_.store(true); }
  bool ThreadEnded() const { return bThreadEnded_.load(); }
};

class EngineTest : public testing::Test {
 protected:
  void Make(int nChannels = 1, int nBufferSamples = 16, int nBuffers = 2) {
    AKConfig_T* pconf = AKConfigNew("Interpreter", nullptr);
    AKConfigSet(pconf, "Channles", std::to_string(nChannels).c_str());
    AKConfigSet(pconf, "BufferSamples", std::to_string(nBufferSamples).c_str());
    AKConfigSet(pconf, "Buffers", std::to_string(nBuffers).c_str());
    for (const auto& [sKey, sValue] : asetting) AKConfigSet(pconf, sKey.c_str(), sValue.c_str());
    pengine = std::make_unique<TestInterpreter>(pconf, &table);
    AKConfigFree(pconf);
    CreateChannelModules();
    auto pout = std::make_unique<RecordingOutput>();
    pdevice = pout.get();
    pengine->SetOutput(std::move(pout));
    pengine->SetFallbackToNull(false);
    ErrorList::Get()->Clear();
  }
  ScriptPatch* Install(int iSlot, std::vector<double> adScript = {}) {
    table.aslot.SetSize(iSlot + 1);
    auto* ppatch = new ScriptPatch(pengine.get(), std::move(adScript));
    table.aslot[iSlot].ppatch = ppatch;
    return ppatch;
  }
  void TearDown() override {
    if (pengine && pengine->Running() && !bShutDown) pengine->Shutdown();
    for (PatchSlot& slot : table.aslot) delete slot.ppatch;
    table.aslot.Empty();
    if (pengine) DestroyChannelModules();
    pengine.reset();
    ErrorList::Get()->Clear();
  }
  void Shutdown() {
    pengine->Shutdown();
    bShutDown = true;
  }

  std::vector<std::pair<std::string, std::string>> asetting;  // more settings for Make
  PatchTable table;
  std::unique_ptr<TestInterpreter> pengine;
  RecordingOutput* pdevice = nullptr;
  bool bShutDown = false;
};

// --- The output stage, through the engine's own buffers -------------------------------------

struct StageCase {
  const char* pszName;
  std::vector<double> adFrames;  // the mono patch output, frame by frame
  double dPeak;
  int nReductions;
  std::vector<int16_t> asExpected;  // the first samples of the first buffer
  long nNonFinite;
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

const StageCase kStageCases[] = {
    // Inside +-1 the peak stays 1 and each sample is the truncation of 32767 x value.
    {"within_unity", {0.5, -0.5, 1.0, -1.0, 0.999}, 1.0, 0, {16383, -16383, 32767, -32767, 32734}, 0},
    // 1.5, 1.2, 1.8: the peak is raised twice, and the whole buffer is scaled by 32767 / 1.8
    // (whose product with 1.8 falls just below 32767 in doubles, so truncation gives 32766).
    {"raised_twice", {1.5, 1.2, 1.8, 0.9}, 1.8, 2, {27305, 21844, 32766, 16383}, 0},
    {"negative_overload", {-2.0, 1.0, 2.0}, 2.0, 1, {-32767, 16383, 32767}, 0},
    // Values that are not numbers never reach the conversion: silenced and counted.
    {"not_numbers", {kNaN, 0.5, kInf, -kInf}, 1.0, 0, {0, 16383, 0, 0}, 3},
};

class OutputStageTest : public EngineTest, public testing::WithParamInterface<StageCase> {};

TEST_P(OutputStageTest, FirstBuffer) {
  const StageCase& c = GetParam();
  Make();
  Install(0, c.adFrames);
  pengine->OpenDevice();
  ASSERT_EQ(pdevice->aasWritten.size(), 2u);
  const std::vector<int16_t>& as = pdevice->aasWritten[0];
  ASSERT_EQ(as.size(), 16u);
  for (size_t i = 0; i < c.asExpected.size(); ++i) EXPECT_EQ(as[i], c.asExpected[i]) << "sample " << i;
  for (size_t i = c.asExpected.size(); i < as.size(); ++i) EXPECT_EQ(as[i], 0) << "sample " << i;
  EXPECT_DOUBLE_EQ(pengine->Peak(), c.dPeak);
  EXPECT_EQ(pengine->AutoReductions(), c.nReductions);
  EXPECT_EQ(pengine->NonFiniteSamples(), c.nNonFinite);
}

INSTANTIATE_TEST_SUITE_P(Cases, OutputStageTest, testing::ValuesIn(kStageCases),
                         [](const testing::TestParamInfo<StageCase>& info) { return std::string(info.param.pszName); });

TEST_F(EngineTest, ReducedUntilResetAutoReduce) {
  Make();
  std::vector<double> ad(16 * 4, 0.0);
  ad[0] = 1.8;
  ad[16] = 0.9;  // second buffer
  ad[32] = 0.9;  // third buffer, after the reset
  ad[48] = 0.9;
  Install(0, ad);
  pengine->OpenDevice();  // buffers 1 and 2
  EXPECT_EQ(pdevice->aasWritten[1][0], 16383) << "a later buffer stays scaled by 32767 / 1.8";
  pengine->ResetAutoReduce();
  EXPECT_DOUBLE_EQ(pengine->Peak(), 1.0);
  EXPECT_EQ(pengine->AutoReductions(), 0);
  pengine->RenderBuffer();
  EXPECT_EQ(pdevice->aasWritten[2][0], 29490);
  // All sound off resets it too, after silencing every patch.
  pengine->AllSoundOff();
  pengine->RenderBuffer();
  EXPECT_EQ(pdevice->aasWritten[3][0], 29490);
}

struct SilenceCase {
  const char* pszName;
  int nSlots;  // slots in the table, none with a patch
  int nChannels;
};

class SilenceTest : public EngineTest, public testing::WithParamInterface<SilenceCase> {};

TEST_P(SilenceTest, BuffersOfSilence) {
  Make(GetParam().nChannels, 32, 3);
  table.aslot.SetSize(GetParam().nSlots);
  pengine->OpenDevice();
  pengine->RenderBuffer();
  ASSERT_EQ(pdevice->aasWritten.size(), 4u);
  for (const std::vector<int16_t>& as : pdevice->aasWritten) {
    ASSERT_EQ(as.size(), static_cast<size_t>(32 * GetParam().nChannels));
    for (int16_t s : as) ASSERT_EQ(s, 0);
  }
  EXPECT_DOUBLE_EQ(pengine->Peak(), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Tables, SilenceTest,
                         testing::Values(SilenceCase{"empty_table", 0, 2}, SilenceCase{"slots_without_patch", 3, 2},
                                         SilenceCase{"empty_mono", 0, 1}),
                         [](const testing::TestParamInfo<SilenceCase>& info) { return std::string(info.param.pszName); });

TEST_F(EngineTest, StereoFramesInterleaveEveryPatchInTableOrder) {
  Make(2, 16, 2);
  Install(0, {0.25, -0.25});
  Install(2, {0.5, 0.125});  // slot 1 stays empty
  pengine->OpenDevice();
  const std::vector<int16_t>& as = pdevice->aasWritten[0];
  EXPECT_EQ(as[0], static_cast<int16_t>(32767 * 0.75));
  EXPECT_EQ(as[1], static_cast<int16_t>(32767 * -0.125));
}

// --- Keep-up reports ------------------------------------------------------------------------

TEST_F(EngineTest, FirstContentionAfterResetIsSilentLaterOnesAreReported) {
  Make();
  pengine->OpenDevice();
  // Another thread holds the engine lock while a buffer is due.
  auto contend = [&] {
    uint32_t nBefore = pengine->KeepUpCount();
    std::unique_lock<std::mutex> lock(table.mutexEngine);
    std::thread t([&] { pengine->RenderBuffer(); });
    ASSERT_TRUE(WaitFor([&] { return pengine->KeepUpCount() == nBefore + 1; }));
    long nRendered = pengine->BuffersRendered();
    lock.unlock();
    t.join();
    EXPECT_EQ(pengine->BuffersRendered(), nRendered + 1) << "the buffer is rendered once the lock is free";
  };
  struct Step {
    bool bReset;
    int nReports;
  };
  const Step kSteps[] = {{false, 0}, {false, 1}, {false, 2}, {true, 2}, {false, 3}};
  for (const Step& step : kSteps) {
    if (step.bReset) pengine->ResetKeepUp();
    contend();
    EXPECT_EQ(ErrorCount(kKeepUp), step.nReports);
  }
  // A free lock is no contention.
  pengine->RenderBuffer();
  EXPECT_EQ(ErrorCount(kKeepUp), 3);
}

// --- The audio thread -----------------------------------------------------------------------

TEST_F(EngineTest, MidiAndBuffersAreHandledInArrivalOrder) {
  Make();
  ScriptPatch* ppatch = Install(0);
  pengine->Start();
  ASSERT_TRUE(WaitFor([&] { return pengine->DeviceReady(); }));
  EXPECT_EQ(ppatch->nFrames.load(), 32) << "two buffers queued at opening";
  pengine->PostMidiMessage(0, MidiPack(0x90, 60, 100));
  pdevice->PlayOne();
  pengine->PostMidiMessage(0, MidiPack(0x80, 60, 0));
  pdevice->PlayOne();
  pengine->PostMidiMessage(0, MidiPack(0x90, 64, 127));
  ASSERT_TRUE(WaitFor([&] { return ppatch->Events().size() == 3; }));
  std::vector<ScriptPatch::Event> aevent = ppatch->Events();
  EXPECT_EQ(aevent[0].sWhat, "on");
  EXPECT_EQ(aevent[0].iNote, 60);
  EXPECT_DOUBLE_EQ(aevent[0].dValue, 100 / 127.0);
  EXPECT_EQ(aevent[0].nFramesBefore, 32);
  EXPECT_EQ(aevent[1].sWhat, "off");
  EXPECT_EQ(aevent[1].nFramesBefore, 48);
  EXPECT_EQ(aevent[2].sWhat, "on");
  EXPECT_EQ(aevent[2].nFramesBefore, 64);
  EXPECT_EQ(pengine->LastMidiMessage(), MidiPack(0x90, 64, 127));
  // Real-time messages (a sender's clock) would hide the player's notes from a monitor.
  pengine->PostMidiMessage(0, 0xF8);
  ASSERT_TRUE(WaitFor([&] { return ErrorCount("MIDI Timing Clock received but not supported") == 1; }));
  EXPECT_EQ(pengine->LastMidiMessage(), MidiPack(0x90, 64, 127));
  Shutdown();
}

TEST_F(EngineTest, MidiWaitsWhileAPatchIsBeingInstalled) {
  Make();
  ScriptPatch* ppatch = Install(0);
  pengine->Start();
  ASSERT_TRUE(WaitFor([&] { return pengine->DeviceReady(); }));
  {
    std::lock_guard<std::mutex> lock(table.mutexEngine);  // as installation holds it to swap a slot
    pengine->PostMidiMessage(0, MidiPack(0x90, 60, 100));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(ppatch->Events().empty()) << "a note must not reach the table while it changes";
  }
  EXPECT_TRUE(WaitFor([&] { return ppatch->Events().size() == 1; }));
  Shutdown();
}

TEST_F(EngineTest, ShutdownStopsTheThreadThenResetsAndClosesTheDevice) {
  Make();
  Install(0);
  LogCatcher log({AKSTrace, AKSStatus, AKSWarn});
  pengine->Start();
  ASSERT_TRUE(WaitFor([&] { return pengine->DeviceReady(); }));
  for (int i = 0; i < 5; ++i) {
    pdevice->PlayOne();
    pengine->PostMidiMessage(0, MidiPack(0x90, 60 + i, 100));
  }
  Shutdown();
  int iStop = log.Find("AudioInThreadProc(): bStop");
  int iDone = log.Find("GetExitCodeThread() done");
  ASSERT_GE(iStop, 0);
  ASSERT_GE(iDone, 0);
  EXPECT_LT(iStop, iDone) << "the thread has ended before the device is touched";
  std::vector<std::string> asCall = pdevice->asCall;
  ASSERT_EQ(asCall.size(), 3u);
  EXPECT_EQ(asCall[0], "open 1x44100 16 align 2");
  EXPECT_EQ(asCall[1], "reset");
  EXPECT_EQ(asCall[2], "close");
  EXPECT_EQ(pengine->ExitCode(), 0);
  for (const std::string& s : log.Lines()) EXPECT_EQ(s.find("wave"), std::string::npos) << s;
}

TEST_F(EngineTest, ThreadEndsAtTheFirstMessageAfterTheStopRequestWithoutHandlingIt) {
  Make();
  ScriptPatch* ppatch = Install(0);
  LogCatcher log({AKSStatus});
  pengine->Start();
  ASSERT_TRUE(WaitFor([&] { return pengine->DeviceReady(); }));
  long nRendered = pengine->BuffersRendered();
  pengine->RequestStop();
  pengine->PostMidiMessage(0, MidiPack(0x90, 60, 100));
  pdevice->PlayOne();
  ASSERT_TRUE(WaitFor([&] { return pengine->ThreadEnded(); }));
  EXPECT_TRUE(ppatch->Events().empty()) << "the message in hand is not handled";
  EXPECT_EQ(pengine->BuffersRendered(), nRendered);
  EXPECT_TRUE(log.Has("AudioInThreadProc(): bStop"));
  EXPECT_EQ(pengine->ExitCode(), 0);
  Shutdown();
}

TEST_F(EngineTest, QuitMessageEndsTheThreadWithItsCode) {
  Make();
  LogCatcher log({AKSStatus});
  pengine->Start();
  ASSERT_TRUE(WaitFor([&] { return pengine->DeviceReady(); }));
  pengine->Queue().Post(AudioMsgQuit, 0, 7);
  ASSERT_TRUE(WaitFor([&] { return pengine->ThreadEnded(); }));
  EXPECT_EQ(pengine->ExitCode(), 7);
  EXPECT_TRUE(log.Has("AudioInThreadProc(): GetMessage = return"));
  Shutdown();
}

TEST_F(EngineTest, DeviceThatDoesNotOpenRendersOnceAndStillTakesMidi) {
  Make();
  pdevice->iOpenResult = WaveErrNoDriver;
  ScriptPatch* ppatch = Install(0);
  LogCatcher log({AKSWarn});
  pengine->Start();
  ASSERT_TRUE(WaitFor([&] { return pengine->DeviceReady(); }));
  EXPECT_TRUE(log.Has("waveOutOpen() = 6"));
  EXPECT_EQ(pengine->BuffersRendered(), 2);
  pengine->PostMidiMessage(0, MidiPack(0x90, 62, 64));
  EXPECT_TRUE(WaitFor([&] { return ppatch->Events().size() == 1; }));
  Shutdown();  // must not wait forever for a notification that never comes
  EXPECT_TRUE(log.Has("waveOutReset() = 2"));
  EXPECT_TRUE(log.Has("waveOutClose() = 2"));
}

TEST_F(EngineTest, DeviceThatDoesNotOpenIsReplacedByTheClock) {
  Make(2, 64, 3);
  pengine->SetFallbackToNull(true);
  pdevice->iOpenResult = WaveErrNoDriver;
  pdevice = nullptr;  // replaced
  LogCatcher log({AKSWarn});
  pengine->Start();
  ASSERT_TRUE(WaitFor([&] { return pengine->DeviceReady(); }));
  EXPECT_NE(pengine->Device()->Describe().find("null"), std::string::npos);
  EXPECT_TRUE(WaitFor([&] { return pengine->BuffersRendered() > 6; })) << "the clock brings the buffers back";
  bool bSaid = false;
  for (const std::string& s : log.Lines()) bSaid |= s.find("playing on a clock") != std::string::npos;
  EXPECT_TRUE(bSaid);
  Shutdown();
}

// --- MIDI placed at its frame ----------------------------------------------------------------

// Messages with an arrival time on the device's clock take effect a constant delay later (the
// device's period plus every buffer), at their own frame inside whichever buffer holds it.
struct TimedCase {
  const char* pszName;
  std::vector<int> aiDeviceFrame;  // arrival times of note ons 60, 61, ... in this order
  std::vector<long> anExpected;    // the frame at which each takes effect
};
void PrintTo(const TimedCase& c, std::ostream* pos) { *pos << c.pszName; }

// 16-frame buffers, 2 in circulation, an 8-frame period: the delay is 8 + 2 x 16 = 40 frames,
// and the two buffers rendered at opening end at frame 32.
const TimedCase kTimedCases[] = {
    {"inside_the_next_buffer", {0}, {40}},
    {"two_in_one_buffer_keep_their_spacing", {1, 6}, {41, 46}},
    {"one_buffer_later", {20}, {60}},
    // Its frame was rendered already (the thread was late): at once, before the next buffer.
    {"late_is_at_once", {-20}, {32}},
    // A later arrival mapped to an earlier frame keeps its place behind the earlier one.
    {"order_is_kept", {10, 3}, {50, 50}},
};

class TimedMidiTest : public EngineTest, public testing::WithParamInterface<TimedCase> {};

TEST_P(TimedMidiTest, TakesEffectAtItsFrame) {
  const TimedCase& c = GetParam();
  Make(1, 16, 2);
  pdevice->nPeriod = 8;
  pdevice->bClock = true;
  ScriptPatch* ppatch = Install(0);
  pengine->OpenDevice();
  ASSERT_EQ(pengine->MidiDelayFrames(), 40);
  for (size_t i = 0; i < c.aiDeviceFrame.size(); ++i)
    pengine->HandleTimedMidiMessage(static_cast<uint32_t>(c.aiDeviceFrame[i]),
                                    MidiPack(0x90, 60 + static_cast<int>(i), 100));
  for (int k = 0; k < 4; ++k) pengine->RenderBuffer();
  std::vector<ScriptPatch::Event> aevent = ppatch->Events();
  ASSERT_EQ(aevent.size(), c.anExpected.size());
  for (size_t i = 0; i < aevent.size(); ++i) {
    EXPECT_EQ(aevent[i].iNote, 60 + static_cast<int>(i));
    EXPECT_EQ(aevent[i].nFramesBefore, c.anExpected[i]) << "note " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, TimedMidiTest, testing::ValuesIn(kTimedCases),
                         [](const testing::TestParamInfo<TimedCase>& info) { return std::string(info.param.pszName); });

TEST_F(EngineTest, TimedMidiWithoutADeviceClockIsHandledAtOnce) {
  Make(1, 16, 2);
  ScriptPatch* ppatch = Install(0);
  pengine->OpenDevice();
  pengine->HandleTimedMidiMessage(1000, MidiPack(0x90, 60, 100));
  ASSERT_EQ(ppatch->Events().size(), 1u);
  EXPECT_EQ(ppatch->Events()[0].nFramesBefore, 32);
}

TEST_F(EngineTest, MessagesForATimeOfTheOutputLandOnTheirFrame) {
  Make(1, 16, 2);
  ScriptPatch* ppatch = Install(0);
  pengine->Start();
  ASSERT_TRUE(WaitFor([&] { return pengine->DeviceReady(); }));
  // Posted ahead of time, in any order of arrival against the buffers.
  pengine->PostMidiMessageAtTime(MidiPack(0x90, 60, 100), 44.0 / 44100);
  pengine->PostMidiMessageAtTime(MidiPack(0x80, 60, 0), 75.0 / 44100);
  // The buffers come back as the thread refills them: play each one the device holds.
  ASSERT_TRUE(WaitFor([&] {
    pdevice->PlayOne();
    return ppatch->Events().size() == 2;
  }));
  std::vector<ScriptPatch::Event> aevent = ppatch->Events();
  // The frame is the time times the rate, truncated.
  EXPECT_EQ(aevent[0].nFramesBefore, static_cast<long>(44.0 / 44100 * 44100));
  EXPECT_EQ(aevent[1].nFramesBefore, static_cast<long>(75.0 / 44100 * 44100));
  Shutdown();
}

// --- Keeping the device fed -----------------------------------------------------------------

TEST_F(EngineTest, BuffersThatCannotFeedThePeriodAreRefusedWithoutFallback) {
  Make(1, 64, 2);
  pengine->SetFallbackToNull(true);  // a refusal is about the settings: no clock would help
  pdevice->nPeriod = 256;
  pengine->Start();
  ASSERT_TRUE(pengine->WaitDeviceReady(30));
  EXPECT_TRUE(pengine->DeviceFailed());
  EXPECT_EQ(pengine->DeviceError(),
            "Buffers = 2 and BufferSamples = 64 leave gaps in the device's 256-frame periods; set BufferSamples = 128 "
            "(or Buffers = 4) in config/Interpreter.vantrel");
  std::vector<std::string> asCall = pdevice->asCall;
  ASSERT_EQ(asCall.size(), 3u);
  EXPECT_EQ(asCall[1], "reset");
  EXPECT_EQ(asCall[2], "close");
  Shutdown();
}

TEST_F(EngineTest, GapsTheDevicePlayedAreReportedApartFromLockContention) {
  const char* const kLate = "The engine cannot keep up: the device played silence where no buffer was ready.";
  Make();
  Install(0);
  pengine->OpenDevice();
  pengine->RenderBuffer();
  EXPECT_EQ(ErrorCount(kLate), 0);
  pdevice->nLate = 2;
  pengine->RenderBuffer();
  EXPECT_EQ(ErrorCount(kLate), 1);
  pengine->RenderBuffer();
  EXPECT_EQ(ErrorCount(kLate), 1) << "nothing new: nothing said";
  pdevice->nLate = 3;
  pengine->RenderBuffer();
  EXPECT_EQ(ErrorCount(kLate), 2);
  EXPECT_EQ(ErrorCount(kKeepUp), 0);
}

// ALL SOUND OFF on the audio thread: the output falls linearly to nothing over the fade, then
// every patch is cut; a note that came meanwhile takes effect after the cut.
TEST_F(EngineTest, AllSoundOffFadesBeforeTheCut) {
  asetting = {{"CutFade", "0.0002"}};  // 8.82 frames at 44.1 kHz: 8
  Make(1, 16, 2);
  ASSERT_EQ(pengine->CutFadeFrames(), 8);
  ScriptPatch* ppatch = Install(0, std::vector<double>(16 * 8, 1.0));
  pengine->Start();
  ASSERT_TRUE(WaitFor([&] { return pengine->DeviceReady(); }));
  pengine->PostMidiMessage(0, MidiPack(0xB0, 120, 0));  // All Sound Off, between buffers 2 and 3
  pengine->PostMidiMessage(0, MidiPack(0x90, 60, 100));
  ASSERT_TRUE(WaitFor([&] {
    pdevice->PlayOne();
    return pdevice->Written() >= 4;
  }));
  Shutdown();
  std::vector<int16_t> as = pdevice->aasWritten[2];  // frames 32 to 47
  for (int j = 0; j < 8; ++j) EXPECT_EQ(as[static_cast<size_t>(j)], static_cast<int16_t>(32767.0 * (8 - j) / 8)) << j;
  // ScriptPatch does not fall silent when cut: past the cut its values come through again.
  EXPECT_EQ(as[8], 32767);
  std::vector<ScriptPatch::Event> aevent = ppatch->Events();
  ASSERT_EQ(aevent.size(), 2u);
  EXPECT_EQ(aevent[0].sWhat, "all sound off");
  EXPECT_EQ(aevent[0].nFramesBefore, 40);
  EXPECT_EQ(aevent[1].sWhat, "on");
  EXPECT_EQ(aevent[1].nFramesBefore, 40);
}

TEST_F(EngineTest, AllSoundOffWithoutFadeCutsAtOnce) {
  asetting = {{"CutFade", "0"}};
  Make(1, 16, 2);
  ScriptPatch* ppatch = Install(0, std::vector<double>(16 * 8, 1.0));
  pengine->Start();
  ASSERT_TRUE(WaitFor([&] { return pengine->DeviceReady(); }));
  pengine->AllSoundOff();  // from this thread: at once, as the window's button does
  ASSERT_EQ(ppatch->Events().size(), 1u);
  EXPECT_EQ(ppatch->Events()[0].sWhat, "all sound off");
  Shutdown();
}

TEST_F(EngineTest, TapHoldsExactlyWhatTheDeviceWasSent) {
  Make(2, 16, 3);
  std::vector<double> ad;
  for (int i = 0; i < 16 * 2 * 5; ++i) ad.push_back(std::sin(i * 0.37) * (i % 7 == 0 ? 1.6 : 0.7));
  Install(0, ad);
  SampleTap tap(4096);
  pengine->SetTap(&tap);
  pengine->OpenDevice();
  pengine->RenderBuffer();
  pengine->RenderBuffer();
  std::vector<int16_t> asSent;
  for (const std::vector<int16_t>& as : pdevice->aasWritten) asSent.insert(asSent.end(), as.begin(), as.end());
  std::vector<int16_t> asTap(8192);
  asTap.resize(tap.Pop(asTap.data(), asTap.size()));
  EXPECT_EQ(asTap, asSent);
  EXPECT_EQ(tap.Lost(), 0u);
}

TEST(SampleTapTest, FullRingLosesWholeBuffersAndCountsThem) {
  SampleTap tap(8);
  const int16_t as[6] = {1, 2, 3, 4, 5, 6};
  tap.Push(as, 6);
  tap.Push(as, 6);  // no room: lost whole
  EXPECT_EQ(tap.Lost(), 6u);
  int16_t asOut[16];
  ASSERT_EQ(tap.Pop(asOut, 4), 4u);
  tap.Push(as, 6);  // wraps around the ring's end
  ASSERT_EQ(tap.Pop(asOut, 16), 8u);
  const int16_t asExpected[8] = {5, 6, 1, 2, 3, 4, 5, 6};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(asOut[i], asExpected[i]);
}

// --- The queue ------------------------------------------------------------------------------

TEST(AudioMessageQueueTest, ManyProducersKeepTheirOwnOrderAndLoseNothingCounted) {
  auto pqueue = std::make_unique<AudioMessageQueue>();
  constexpr int kProducers = 8, kEach = 20000;
  std::atomic<long> nRefused{0};
  std::vector<std::thread> athread;
  for (int p = 0; p < kProducers; ++p)
    athread.emplace_back([&, p] {
      for (int i = 0; i < kEach; ++i)
        if (!pqueue->Post(AudioMsgMidiData, static_cast<uintptr_t>(p), static_cast<uintptr_t>(i))) {
          nRefused.fetch_add(1);
          std::this_thread::yield();
        }
    });
  std::vector<long> aiLast(kProducers, -1);
  long nTaken = 0;
  bool bInOrder = true;
  auto drain = [&] {
    AudioMessage msg;
    while (pqueue->TryTake(&msg)) {
      ++nTaken;
      long& iLast = aiLast[msg.p1];
      if (static_cast<long>(msg.p2) <= iLast) bInOrder = false;
      iLast = static_cast<long>(msg.p2);
    }
  };
  for (int i = 0; i < 2000 && nTaken + nRefused.load() < long{kProducers} * kEach; ++i) {
    drain();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  for (std::thread& t : athread) t.join();
  drain();
  EXPECT_TRUE(bInOrder);
  EXPECT_EQ(nTaken + nRefused.load(), long{kProducers} * kEach);
  EXPECT_EQ(pqueue->Dropped(), nRefused.load());
}

TEST(AudioMessageQueueTest, MidiFloodLeavesRoomForBufferDoneAndQuit) {
  auto pqueue = std::make_unique<AudioMessageQueue>();
  size_t nMidi = 0;
  while (pqueue->Post(AudioMsgMidiData, 0, nMidi)) ++nMidi;
  EXPECT_EQ(nMidi, AudioMessageQueue::kCapacity - AudioMessageQueue::kReserve);
  for (int i = 0; i < 64; ++i) EXPECT_TRUE(pqueue->Post(AudioMsgBufferDone, 0, static_cast<uintptr_t>(i)));
  EXPECT_TRUE(pqueue->Post(AudioMsgQuit, 0, 0));
  // Taken in arrival order: every MIDI message, then the notifications, then the quit.
  for (size_t i = 0; i < nMidi; ++i) {
    AudioMessage msg = pqueue->Take();
    ASSERT_EQ(msg.uType, AudioMsgMidiData);
    ASSERT_EQ(msg.p2, i);
  }
  for (int i = 0; i < 64; ++i) EXPECT_EQ(pqueue->Take().uType, AudioMsgBufferDone);
  EXPECT_EQ(pqueue->Take().uType, AudioMsgQuit);
  AudioMessage msg;
  EXPECT_FALSE(pqueue->TryTake(&msg));
}

}  // namespace
