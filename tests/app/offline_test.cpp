// The offline render loop and the MIDI input chosen by what a user typed, shared by the command
// line and the desktop application.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "app/midichoice.h"
#include "app/offline.h"
#include "engine/midiinputdevice.h"
#include "formula/errorlist.h"

namespace {

const std::string kSine = std::string(VANTREL_TEST_DATA) + "/engine/sine.vantrel";

// Keeps what it is given; fails its nth write when asked to.
class MemorySink : public OfflineSink {
 public:
  bool Write(const int16_t* as, int nFrames) override {
    as16.insert(as16.end(), as, as + nFrames * 2);
    return ++nWrites != iFailWrite;
  }
  bool Write(const float* af, int nFrames) override {
    afloat.insert(afloat.end(), af, af + nFrames * 2);
    return ++nWrites != iFailWrite;
  }
  bool Progress(long long nDone) override { return nStopAt > 0 && nDone >= nStopAt; }
  std::vector<int16_t> as16;
  std::vector<float> afloat;
  int nWrites = 0, iFailWrite = -1;
  long long nStopAt = 0;
  // The first frame whose left sample is not silent, or -1.
  template <class T>
  static long FirstSound(const std::vector<T>& a) {
    for (size_t i = 0; i < a.size(); i += 2)
      if (std::fabs(static_cast<double>(a[i])) > 0) return static_cast<long>(i / 2);
    return -1;
  }
};

class OfflineTest : public testing::Test {
 protected:
  void SetUp() override {
    pcore = std::make_unique<AppCore>(VANTREL_STAGE);
    ASSERT_EQ(pcore->LoadPatch(kSine.c_str(), 0, false, 0, nullptr), 0);
    ASSERT_EQ(pcore->Engine()->nChannels, 2);
  }
  std::unique_ptr<AppCore> pcore;
};

TEST_F(OfflineTest, NotesStartAtTheirFramesAndTheTailPlaysOut) {
  OfflineJob job;
  job.amsg = {{300, 69, 0.8, true}, {4410, 69, 0, true}};  // A4 from frame 300 to 0.1 s
  job.nFrames = 1000;                                       // shorter than the note
  job.nMaxFrames = 44100;
  MemorySink sink;
  OfflineStats stats;
  ASSERT_EQ(RenderOffline(*pcore, job, sink, &stats), 0);
  // Silence before the note; a sine starts at phase 0, so its first sound is the next frame.
  EXPECT_EQ(MemorySink::FirstSound(sink.as16), 301);
  EXPECT_EQ(stats.nVoicesMax, 1u);
  // Past the minimum length while the voice sounded, stopped once it fell silent.
  EXPECT_GE(stats.nFrames, 4410);
  EXPECT_LT(stats.nFrames, job.nMaxFrames);
  EXPECT_EQ(static_cast<long long>(sink.as16.size()), stats.nFrames * 2);
  EXPECT_GT(stats.dRawPeak, 0.01);
  EXPECT_FALSE(stats.bStopped);
}

TEST_F(OfflineTest, MidiMessagesAndRawFloats) {
  OfflineJob job;
  job.amsg = {{0, 0x90 | 69 << 8 | 100 << 16, 0, false}, {10, 0x90 | 72 << 8 | 100 << 16, 0, false}};
  job.nFrames = job.nMaxFrames = 2048;
  job.bFloat = true;
  MemorySink sink;
  OfflineStats stats;
  ASSERT_EQ(RenderOffline(*pcore, job, sink, &stats), 0);
  EXPECT_EQ(stats.nFrames, 2048);  // held notes: the maximum ends it
  EXPECT_EQ(stats.nVoicesMax, 2u);
  EXPECT_TRUE(sink.as16.empty());
  ASSERT_EQ(sink.afloat.size(), 4096u);
  EXPECT_EQ(MemorySink::FirstSound(sink.afloat), 1);
  EXPECT_EQ(stats.nNonFinite, 0);
}

TEST_F(OfflineTest, SinkFailureAndInterruptionEndTheRender) {
  OfflineJob job;
  job.amsg = {{0, 60, 0.5, true}};
  job.nFrames = job.nMaxFrames = 44100;
  MemorySink sinkFailing;
  sinkFailing.iFailWrite = 2;
  OfflineStats stats;
  EXPECT_EQ(RenderOffline(*pcore, job, sinkFailing, &stats), -1);
  EXPECT_EQ(sinkFailing.nWrites, 2);
  MemorySink sinkStopped;
  sinkStopped.nStopAt = 1000;
  EXPECT_EQ(RenderOffline(*pcore, job, sinkStopped, &stats), 0);
  EXPECT_TRUE(stats.bStopped);
  EXPECT_LT(stats.nFrames, 44100);
}

// Two named ports, opened without a MIDI system.
class NamedPorts : public MidiInPort {
 public:
  std::vector<std::string> asName = {"USB Keys MIDI 1", "USB Pads MIDI 1"};
  int NumDevs() override { return static_cast<int>(asName.size()); }
  int GetDevName(int i, std::string* psName) override {
    if (i < 0 || i >= NumDevs()) return MidiInErrBadDevice;
    *psName = asName[static_cast<size_t>(i)];
    return MidiInOk;
  }
  int Open(int i, MidiInSink*) override {
    iOpen = i;
    return MidiInOk;
  }
  int Prepare(MidiSysexBuffer*) override { return MidiInOk; }
  int Unprepare(MidiSysexBuffer*) override { return MidiInOk; }
  int AddBuffer(MidiSysexBuffer*) override { return MidiInOk; }
  int Start() override { return MidiInOk; }
  int Stop() override { return MidiInOk; }
  int Close() override {
    iOpen = -100;
    return MidiInOk;
  }
  std::string ErrorText(int) override { return "failed"; }
  void Inject(const unsigned char*, size_t) override {}
  int iOpen = -100;
};

class QuietView : public MidiInputView {
 public:
  void ShowMidiMsg(const char*) override {}
  void ShowMidiStatus(const char* psz) override { sStatus = psz; }
  void ShowLight(int) override {}
  void ErrorBox(const char*, const char*) override {}
  std::string sStatus;
};

TEST(MidiChoice, ByNumberNameOrVirtual) {
  struct Case {
    const char* pszChoice;
    int iOpened;            // -100: none
    const char* pszError;   // part of the message when none opens
  };
  const Case kaCase[] = {
      {"0", 0, ""},
      {"1", 1, ""},
      {"USB Pads MIDI 1", 1, ""},
      {"Keys", 0, ""},
      {"virtual", MidiInPort::kVirtual, ""},
      {"MIDI 1", -100, "no single MIDI input port named \"MIDI 1\""},  // two ports contain it
      {"Drums", -100, "no single MIDI input port named \"Drums\""},
      {"7", -100, ""},  // no such port: the input's status line says so
      {"-1", -100, "no single MIDI input port"},
  };
  for (const Case& c : kaCase) {
    NamedPorts port;
    QuietView view;
    MidiInputDevice midi(&port, nullptr, &view, testing::TempDir());
    std::string sError;
    int iResult = OpenChosenMidiInput(midi, c.pszChoice, &sError);
    EXPECT_EQ(port.iOpen, c.iOpened) << c.pszChoice;
    EXPECT_EQ(iResult, c.iOpened == -100 ? -1 : 0) << c.pszChoice;
    EXPECT_NE(sError.find(c.pszError), std::string::npos) << c.pszChoice << ": " << sError;
    if (!strcmp(c.pszChoice, "7")) {
      EXPECT_EQ(view.sStatus, "asked for device 8, have 2 device(s)");
    }
  }
}

}  // namespace
