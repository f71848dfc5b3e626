// The MIDI input: byte assembly into messages, and the input device's logic (device list,
// opening, active sensing, the status light, dumps to files, error reports) over a stand-in port.
#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/midi.h"
#include "engine/midiinput.h"
#include "engine/midiinputdevice.h"
#include "engine_support.h"

namespace fs = std::filesystem;

namespace {

// --- Assembly -------------------------------------------------------------------------------

// What a port reports, as text: "S 903C40" a short message, "L F07EF7" a dump ("L F001 lost 3"
// when 3 bytes did not fit), "E 35" an error, "X 90" a dump error, "K 4" a dump of 4 bytes not
// captured.
class TextSink : public MidiInSink {
 public:
  void OnShortData(uint32_t u) override { Add('S', u); }
  void OnLongData(MidiSysexBuffer* pbuf) override {
    std::string s = "L ";
    char sz[4];
    for (uint32_t i = 0; i < pbuf->nBytesRecorded; ++i) {
      snprintf(sz, sizeof sz, "%02X", pbuf->pData[i]);
      s += sz;
    }
    if (pbuf->nBytesLost) s += " lost " + std::to_string(pbuf->nBytesLost);
    as.push_back(s);
  }
  void OnError(uint32_t u) override { Add('E', u); }
  void OnLongError(uint32_t u) override { Add('X', u); }
  void OnLongSkipped(uint32_t n) override { as.push_back("K " + std::to_string(n)); }
  std::vector<std::string> as;

 private:
  // Bytes in wire order: a message's status and its data bytes; an error's one or two bytes.
  void Add(char c, uint32_t u) {
    int nBytes = c == 'S' ? 1 + MidiDataBytes(static_cast<unsigned char>(u & 0xFF)) : (u >> 8) ? 2 : 1;
    std::string s(1, c);
    s += ' ';
    char sz[4];
    for (int i = 0; i < nBytes; ++i) {
      snprintf(sz, sizeof sz, "%02X", (u >> (8 * i)) & 0xFF);
      s += sz;
    }
    as.push_back(s);
  }
};

struct AssemblyCase {
  const char* pszName;
  std::vector<unsigned char> ab;
  std::vector<std::string> asExpected;
  uint32_t nSysexBuffer = 16;  // 0: no buffer queued
};

const AssemblyCase kAssembly[] = {
    {"complete_messages", {0x90, 0x3C, 0x40, 0x80, 0x3C, 0x00}, {"S 903C40", "S 803C00"}},
    {"running_status", {0x90, 0x3C, 0x40, 0x3E, 0x41, 0x40, 0x00}, {"S 903C40", "S 903E41", "S 904000"}},
    {"one_data_byte_messages", {0xC0, 0x05, 0x06, 0xD2, 0x7F}, {"S C005", "S C006", "S D27F"}},
    {"real_time_inside_a_message", {0x90, 0xF8, 0x3C, 0xFE, 0x40}, {"S F8", "S FE", "S 903C40"}},
    {"running_status_across_real_time", {0xB0, 0x01, 0x40, 0xF8, 0x01, 0x41}, {"S B00140", "S F8", "S B00141"}},
    {"data_without_status", {0x35, 0x36, 0x90, 0x3C, 0x40}, {"E 35", "E 36", "S 903C40"}},
    {"truncated_by_a_status", {0x90, 0x3C, 0x80, 0x3C, 0x00}, {"E 903C", "S 803C00"}},
    {"status_without_data", {0x90, 0xB0, 0x07, 0x64}, {"E 90", "S B00764"}},
    {"system_common", {0xF2, 0x01, 0x02, 0xF3, 0x05, 0xF1, 0x11, 0xF6}, {"S F20102", "S F305", "S F111", "S F6"}},
    {"system_common_ends_running_status", {0x90, 0x3C, 0x40, 0xF6, 0x3E, 0x40}, {"S 903C40", "S F6", "E 3E", "E 40"}},
    {"stray_end_of_dump", {0xF7, 0x90, 0x3C, 0x40}, {"S 903C40"}},
    {"dump", {0xF0, 0x43, 0x10, 0x7F, 0xF7, 0x90, 0x3C, 0x40}, {"L F043107FF7", "S 903C40"}},
    {"real_time_inside_a_dump", {0xF0, 0x43, 0xF8, 0x10, 0xF7}, {"S F8", "L F04310F7"}},
    {"dump_cut_short", {0xF0, 0x43, 0x10, 0x93, 0x3C, 0x40}, {"X 93", "S 933C40"}},
    {"dump_without_buffer", {0xF0, 0x43, 0x10, 0xF7, 0xC1, 0x02}, {"K 4", "S C102"}, 0},
    // A dump longer than the buffer keeps what fitted and is handed over at its end, with the
    // count of what was cut off (real-time bytes inside are messages, not part of the dump).
    {"dump_longer_than_the_buffer",
     {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xF8, 10, 11, 0xF7, 0x90, 0x3C, 0x40},
     {"S F8", "L F00102030405 lost 7", "S 903C40"},
     6},
    {"dump_exactly_the_buffer", {0xF0, 1, 2, 3, 4, 0xF7}, {"L F001020304F7"}, 6},
    {"dump_one_byte_over", {0xF0, 1, 2, 3, 4, 5, 0xF7}, {"L F00102030405 lost 1"}, 6},
    // Cut off and never ended: handed over as far as it fitted when the next status comes.
    {"dump_over_the_buffer_then_a_note", {0xF0, 1, 2, 3, 4, 5, 6, 0x90, 0x3C, 0x40},
     {"L F00102030405 lost 1", "S 903C40"}, 6},
    {"one_dump_per_buffer", {0xF0, 1, 0xF7, 0xF0, 2, 0xF7}, {"L F001F7", "K 3"}},
};

class AssemblyTest : public testing::TestWithParam<AssemblyCase> {};

TEST_P(AssemblyTest, Messages) {
  const AssemblyCase& c = GetParam();
  MidiAssembler assembler;
  std::vector<unsigned char> ab(c.nSysexBuffer ? c.nSysexBuffer : 1);
  MidiSysexBuffer buf;
  buf.pData = ab.data();
  buf.nBufferLength = c.nSysexBuffer;
  if (c.nSysexBuffer) assembler.SetSysexBuffer(&buf);
  TextSink sink;
  assembler.Feed(c.ab.data(), c.ab.size(), sink);
  EXPECT_EQ(sink.as, c.asExpected);
  // The same bytes one at a time, as separate deliveries, give the same messages.
  MidiAssembler assembler2;
  MidiSysexBuffer buf2;
  std::vector<unsigned char> ab2(ab.size());
  buf2.pData = ab2.data();
  buf2.nBufferLength = c.nSysexBuffer;
  if (c.nSysexBuffer) assembler2.SetSysexBuffer(&buf2);
  TextSink sink2;
  for (unsigned char b : c.ab) assembler2.Feed(&b, 1, sink2);
  EXPECT_EQ(sink2.as, c.asExpected);
}

INSTANTIATE_TEST_SUITE_P(Streams, AssemblyTest, testing::ValuesIn(kAssembly),
                         [](const testing::TestParamInfo<AssemblyCase>& info) { return std::string(info.param.pszName); });

// --- The input device, over a stand-in port -------------------------------------------------

class FakePort : public MidiInPort {
 public:
  std::vector<std::string> asName = {"Keys", "Pads"};
  int iFailName = -1;  // the port whose name cannot be read
  int iOpenResult = MidiInOk, iStartResult = MidiInOk;
  std::vector<std::string> asCall;
  bool bOpen = false;
  bool bGone = false;  // the device left the MIDI system

  int NumDevs() override { return static_cast<int>(asName.size()); }
  bool Gone() override { return bGone; }
  int GetDevName(int i, std::string* ps) override {
    if (i == iFailName) return MidiInErrGeneric;
    *ps = asName[static_cast<size_t>(i)];
    return MidiInOk;
  }
  int Open(int i, MidiInSink* psink) override {
    asCall.push_back("open " + std::to_string(i));
    if (iOpenResult) return iOpenResult;
    psink_ = psink;
    bOpen = true;
    assembler_.Clear();
    return MidiInOk;
  }
  int Prepare(MidiSysexBuffer* pbuf) override {
    pbuf->uFlags.fetch_or(MidiBufPrepared);
    return MidiInOk;
  }
  int Unprepare(MidiSysexBuffer* pbuf) override {
    if (pbuf->uFlags.load() & MidiBufInQueue) return MidiInErrStillPlaying;
    return MidiInOk;
  }
  int AddBuffer(MidiSysexBuffer* pbuf) override {
    pbuf->uFlags.fetch_or(MidiBufInQueue);
    assembler_.SetSysexBuffer(pbuf);
    return MidiInOk;
  }
  int Start() override {
    asCall.push_back("start");
    if (iStartResult) return iStartResult;
    bStarted_ = true;
    return MidiInOk;
  }
  int Stop() override {
    asCall.push_back("stop");
    bStarted_ = false;
    return MidiInOk;
  }
  int Close() override {
    asCall.push_back("close");
    if (MidiSysexBuffer* pbuf = assembler_.SysexBuffer()) pbuf->uFlags.fetch_and(~MidiBufInQueue);
    assembler_.SetSysexBuffer(nullptr);
    bOpen = false;
    bStarted_ = false;
    return MidiInOk;
  }
  std::string ErrorText(int i) override { return "fault " + std::to_string(i); }
  void Inject(const unsigned char* pb, size_t n) override {
    if (bStarted_) assembler_.Feed(pb, n, *psink_);
  }
  void Send(std::vector<unsigned char> ab) { Inject(ab.data(), ab.size()); }

 private:
  MidiInSink* psink_ = nullptr;
  MidiAssembler assembler_;
  bool bStarted_ = false;
};

class FakeEngine : public MidiInputEngine {
 public:
  bool PostMidiMessage(uintptr_t, uint32_t u) override {
    au.push_back(u);
    return true;
  }
  void AllSoundOff() override { ++nAllSoundOff; }
  std::vector<uint32_t> au;
  int nAllSoundOff = 0;
};

class FakeView : public MidiInputView {
 public:
  void ShowMidiMsg(const char* psz) override { sMsg = psz; }
  void ShowMidiStatus(const char* psz) override { asStatus.push_back(psz); }
  void ShowLight(int i) override { aiLight.push_back(i); }
  void ErrorBox(const char* pszTitle, const char* pszText) override { asBox.push_back(std::string(pszTitle) + ": " + pszText); }
  std::string sMsg = "unset";
  std::vector<std::string> asStatus, asBox;
  std::vector<int> aiLight;
};

// The input device with a clock the test turns.
class ClockedInput : public MidiInputDevice {
 public:
  using MidiInputDevice::MidiInputDevice;
  int64_t tNow = 1000;
  std::tm tmNow = MakeTm();
  static std::tm MakeTm() {
    std::tm tm = {};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 2;  // March
    tm.tm_mday = 5;
    tm.tm_hour = 7;
    tm.tm_min = 8;
    tm.tm_sec = 9;
    return tm;
  }

 protected:
  int64_t Now() override { return tNow; }
  std::tm LocalTime() override { return tmNow; }
};

class MidiInputTest : public testing::Test {
 protected:
  void SetUp() override {
    dir = fs::path(testing::TempDir()) / ("midiin_" + std::to_string(getpid()) + "_" +
                                          testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    pinput = std::make_unique<ClockedInput>(&port, &engine, &view, (dir / "sysex").string());
    ErrorList::Get()->Clear();
  }
  void TearDown() override {
    pinput.reset();
    fs::remove_all(dir);
    ErrorList::Get()->Clear();
  }
  // Fills the list and opens "Keys" (device 0) as the user's choice.
  void OpenKeys() {
    pinput->FillDeviceList();
    pinput->Select(1);
    ASSERT_TRUE(pinput->IsOpen());
  }

  fs::path dir;
  FakePort port;
  FakeEngine engine;
  FakeView view;
  std::unique_ptr<ClockedInput> pinput;
};

TEST_F(MidiInputTest, DeviceListStartsWithNoneAndSkipsPortsWithoutName) {
  port.asName = {"Keys", "Broken", "Pads"};
  port.iFailName = 1;
  LogCatcher log({AKSWarn});
  pinput->FillDeviceList();
  const std::vector<MidiDeviceEntry>& a = pinput->Entries();
  ASSERT_EQ(a.size(), 3u);
  EXPECT_EQ(a[0].sName, "(none)");
  EXPECT_EQ(a[0].iDevice, -1);
  EXPECT_EQ(a[1].sName, "Keys");
  EXPECT_EQ(a[1].iDevice, 0);
  EXPECT_EQ(a[2].sName, "Pads");
  EXPECT_EQ(a[2].iDevice, 2);
  EXPECT_TRUE(log.Has(" 1: midiInGetDevCaps() error: 1"));
  EXPECT_EQ(view.sMsg, "") << "the MIDI Msg line is cleared";
}

struct DefaultCase {
  const char* pszName;
  const char* pszSaved;
  int iSelected;          // entry, -1 none
  const char* pszOpened;  // the port call expected, or "" for none
};

class SavedDefaultTest : public MidiInputTest, public testing::WithParamInterface<DefaultCase> {};

TEST_P(SavedDefaultTest, SelectsAndOpens) {
  pinput->SetSavedDefault(GetParam().pszSaved);
  pinput->FillDeviceList();
  EXPECT_EQ(pinput->SelectedEntry(), GetParam().iSelected);
  pinput->SelectionChanged();
  std::string sExpected = GetParam().pszOpened;
  // Any selection, "(none)" too, silences everything first.
  EXPECT_EQ(engine.nAllSoundOff, GetParam().iSelected >= 0 ? 1 : 0);
  if (sExpected.empty()) {
    EXPECT_TRUE(port.asCall.empty());
    EXPECT_FALSE(pinput->IsOpen());
  } else {
    ASSERT_FALSE(port.asCall.empty());
    EXPECT_EQ(port.asCall[0], sExpected);
    EXPECT_TRUE(pinput->IsOpen());
    EXPECT_EQ(pinput->SavedState(), GetParam().pszSaved);
    EXPECT_EQ(view.asStatus.back(), "MIDI successfully started");
  }
}

INSTANTIATE_TEST_SUITE_P(Defaults, SavedDefaultTest,
                         testing::Values(DefaultCase{"present", "Pads", 2, "open 1"},
                                         DefaultCase{"absent", "Gone Keyboard", -1, ""},
                                         DefaultCase{"empty", "", -1, ""}, DefaultCase{"none_entry", "(none)", 0, ""}),
                         [](const testing::TestParamInfo<DefaultCase>& info) { return std::string(info.param.pszName); });

TEST_F(MidiInputTest, ChoosingNoneClosesTheDeviceAndOpensNone) {
  OpenKeys();
  pinput->Tick();
  EXPECT_EQ(pinput->LightState(), 1);
  port.asCall.clear();
  pinput->Select(0);
  EXPECT_EQ(port.asCall, (std::vector<std::string>{"stop", "close"}));
  EXPECT_FALSE(pinput->IsOpen());
  EXPECT_EQ(pinput->CurrentDevice(), -1);
  EXPECT_EQ(pinput->SavedState(), "");
  pinput->Tick();
  EXPECT_EQ(pinput->LightState(), 0);
}

TEST_F(MidiInputTest, AskingForADeviceBeyondTheListSaysSo) {
  pinput->FillDeviceList();
  pinput->OpenDevice(2);
  EXPECT_EQ(view.asStatus.back(), "asked for device 3, have 2 device(s)");
  EXPECT_TRUE(port.asCall.empty());
}

struct OpenFailureCase {
  const char* pszName;
  bool bOpenFails;
  const char* pszStatus;
  const char* pszWarning;
  std::vector<std::string> asCalls;
};

class OpenFailureTest : public MidiInputTest, public testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailureTest, LeavesNoDeviceOpen) {
  const OpenFailureCase& c = GetParam();
  if (c.bOpenFails) port.iOpenResult = MidiInErrBadDevice;
  else port.iStartResult = MidiInErrGeneric;
  LogCatcher log({AKSWarn});
  pinput->FillDeviceList();
  pinput->Select(2);
  EXPECT_EQ(view.asStatus.back(), c.pszStatus);
  EXPECT_TRUE(log.Has(c.pszWarning));
  EXPECT_EQ(port.asCall, c.asCalls);
  EXPECT_FALSE(port.bOpen) << "no port stays open behind a failure";
  EXPECT_EQ(pinput->CurrentDevice(), -1);
  // The next choice opens normally.
  port.iOpenResult = port.iStartResult = MidiInOk;
  pinput->Select(1);
  EXPECT_TRUE(pinput->IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Failures, OpenFailureTest,
                         testing::Values(OpenFailureCase{"open", true, "midiInOpen() FAILED", "midiInOpen( 1 ): error fault 2",
                                                         {"open 1"}},
                                         OpenFailureCase{"start", false, "midiInStart() FAILED", "midiInStart(): error fault 1",
                                                         {"open 1", "start", "close"}}),
                         [](const testing::TestParamInfo<OpenFailureCase>& info) { return std::string(info.param.pszName); });

TEST_F(MidiInputTest, ShortMessagesArePostedActiveSensingOnlyRemembered) {
  OpenKeys();
  port.Send({0x90, 0x3C, 0x40, 0xFE, 0xF8, 0x3E, 0x41, 0xFE});
  EXPECT_EQ(engine.au, (std::vector<uint32_t>{MidiPack(0x90, 0x3C, 0x40), 0xF8, MidiPack(0x90, 0x3E, 0x41)}));
  EXPECT_EQ(pinput->LastMessage(), MidiPack(0x90, 0x3E, 0x41));
}

TEST_F(MidiInputTest, ActiveSensingTimeoutEndsAllNotesAndTheLightFallsBack) {
  OpenKeys();
  int nOffBefore = engine.nAllSoundOff;
  const char* const kTimeout = "MIDI ACTIVE SENSING messages not received; ending all notes.";
  struct Step {
    int64_t t;
    bool bSense;   // an active-sensing byte arrives at t
    int iLight;    // after the tick at t
    int nTimeouts;
  };
  // Sensing every 300 ms is seen as state 2; when it stops at 1001, the tick more than three
  // seconds later ends all notes.
  const Step kSteps[] = {{1000, false, 1, 0}, {1000, true, 2, 0}, {1001, true, 2, 0}, {1002, false, 2, 0},
                         {1004, false, 2, 0}, {1005, false, 1, 1}, {1009, false, 1, 1}};
  for (const Step& step : kSteps) {
    pinput->tNow = step.t;
    if (step.bSense) port.Send({0xFE});
    pinput->Tick();
    EXPECT_EQ(pinput->LightState(), step.iLight) << "t " << step.t;
    EXPECT_EQ(ErrorCount(kTimeout), step.nTimeouts) << "t " << step.t;
  }
  EXPECT_EQ(engine.nAllSoundOff - nOffBefore, 1);
  EXPECT_TRUE(engine.au.empty()) << "active sensing is never posted";
}

// A device port is gone when the sequencer no longer lists it under the name it was opened by
// (a keyboard plugged in again comes back under a new client number); the input then says so
// once, in the log and on the status line, and plays on without it.
TEST_F(MidiInputTest, AnInputWhoseDeviceWentIsReportedOnce) {
  const std::vector<std::string> asListed = {"Midi Through:Midi Through Port-0 14:0", "Keys:Keys MIDI 1 20:0"};
  EXPECT_TRUE(MidiPortListed(asListed, "Keys:Keys MIDI 1 20:0"));
  EXPECT_FALSE(MidiPortListed(asListed, "Keys:Keys MIDI 1 24:0")) << "the same keyboard, plugged in again";
  EXPECT_FALSE(MidiPortListed({}, "Keys:Keys MIDI 1 20:0"));

  OpenKeys();
  pinput->Tick();
  port.bGone = true;
  pinput->Tick();
  pinput->Tick();
  EXPECT_EQ(view.asStatus.back(), "MIDI input lost: its device or its server has gone");
  EXPECT_EQ(std::count(view.asStatus.begin(), view.asStatus.end(), view.asStatus.back()), 1);
}

TEST_F(MidiInputTest, BurstOfNotesLightsStateThreeForAboutASecond) {
  OpenKeys();
  pinput->Tick();
  pinput->tNow = 2000;
  for (int i = 0; i < 1000; ++i) port.Send({0x90, static_cast<unsigned char>(i % 128), 0x40});
  pinput->Tick();
  EXPECT_EQ(pinput->LightState(), 3);
  pinput->tNow = 2001;
  pinput->Tick();
  EXPECT_EQ(pinput->LightState(), 3);
  pinput->tNow = 2002;
  pinput->Tick();
  EXPECT_EQ(pinput->LightState(), 1);
  EXPECT_EQ(engine.au.size(), 1000u);
  EXPECT_EQ(view.aiLight, (std::vector<int>{1, 3, 1})) << "the light is redrawn only when it changes";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(MidiInputTest, DumpIsStoredUnderSysexWithTheTimeInItsName) {
  OpenKeys();
  std::vector<unsigned char> ab = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0xF7};
  port.Send(ab);
  pinput->Tick();
  fs::path file = dir / "sysex" / "sysex_20240305_070809.syx";
  ASSERT_TRUE(fs::exists(file));
  EXPECT_EQ(ReadFile(file), std::string(ab.begin(), ab.end()));
  EXPECT_EQ(ErrorCount("Ch01 SYSEX dump stored in " + file.string()), 1);
  // The buffer is not given back: a second dump in the same opening is not captured.
  port.Send({0xF0, 0x01, 0xF7});
  pinput->Tick();
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "sysex"), fs::directory_iterator()), 1);
  // Opening again gives a fresh buffer; in the same second the name gets a number.
  pinput->Select(1);
  port.Send({0xF0, 0x02, 0xF7});
  pinput->Tick();
  fs::path file2 = dir / "sysex" / "sysex_20240305_070809_2.syx";
  ASSERT_TRUE(fs::exists(file2));
  EXPECT_EQ(ReadFile(file2), std::string("\xF0\x02\xF7", 3));
  EXPECT_EQ(ReadFile(file), std::string(ab.begin(), ab.end())) << "the first dump is kept";
}

// Dumps around the buffer's size (16384 bytes, F0 and F7 included): what is stored, what the
// user is told about a cut, and that a second dump in the same opening is reported as not kept.
struct DumpSizeCase {
  uint32_t nBytes;
  uint32_t nStored;
  const char* pszCut;  // the report of the cut, or null
};
void PrintTo(const DumpSizeCase& c, std::ostream* pos) { *pos << c.nBytes; }

class DumpSizeTest : public MidiInputTest, public testing::WithParamInterface<DumpSizeCase> {};

TEST_P(DumpSizeTest, StoredCutAndSecondDumpReported) {
  const DumpSizeCase& c = GetParam();
  OpenKeys();
  std::vector<unsigned char> ab(c.nBytes, 0x11);
  ab[0] = 0xF0;
  ab.back() = 0xF7;
  port.Send(ab);
  port.Send({0x90, 0x3C, 0x40});
  pinput->Tick();
  std::string s = ReadFile(pinput->LastDumpFile());
  ASSERT_EQ(s.size(), c.nStored);
  EXPECT_EQ(s, std::string(ab.begin(), ab.begin() + c.nStored));
  EXPECT_EQ(engine.au, std::vector<uint32_t>{MidiPack(0x90, 0x3C, 0x40)}) << "input goes on after the dump";
  const char* pszCutPrefix = "SYSEX dump cut";
  int nCutReports = 0;
  for (const ErrorListNode& node : ErrorList::Get()->anode)
    if (std::string(node.psz).rfind(pszCutPrefix, 0) == 0) {
      ++nCutReports;
      EXPECT_STREQ(node.psz, c.pszCut);
    }
  EXPECT_EQ(nCutReports, c.pszCut ? 1 : 0);

  port.Send(ab);
  pinput->Tick();
  EXPECT_EQ(ErrorCount("SYSEX dump of " + std::to_string(c.nBytes) +
                       " bytes not captured: only the first dump after the MIDI input opens is kept"),
            1);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "sysex"), fs::directory_iterator()), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DumpSizeTest,
    testing::Values(DumpSizeCase{16383, 16383, nullptr}, DumpSizeCase{16384, 16384, nullptr},
                    DumpSizeCase{16385, 16384,
                                 "SYSEX dump cut to its first 16384 bytes, the size of the buffer; bytes lost: 1"},
                    DumpSizeCase{20000, 16384,
                                 "SYSEX dump cut to its first 16384 bytes, the size of the buffer; bytes lost: 3616"}),
    [](const testing::TestParamInfo<DumpSizeCase>& info) { return "bytes_" + std::to_string(info.param.nBytes); });

TEST_F(MidiInputTest, DumpThatCannotBeSavedIsShownInABox) {
  OpenKeys();
  std::ofstream(dir / "sysex") << "a file where the folder should be";
  LogCatcher log({AKSWarn});
  port.Send({0xF0, 0x01, 0xF7});
  pinput->Tick();
  ASSERT_EQ(view.asBox.size(), 1u);
  EXPECT_EQ(view.asBox[0].rfind("Error Saving: Cannot open file \"" + (dir / "sysex").string() + "/sysex_", 0), 0u)
      << view.asBox[0];
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(log.Lines()[0].rfind("_open( \"", 0), 0u) << log.Lines()[0];
  EXPECT_EQ(ErrorList::Get()->anode.N(), 0) << "no dump is announced";
}

// A read-only installation run without a home folder has no folder for dumps: the dump is
// refused in a box, and nothing is written anywhere (not beside the root folder).
TEST_F(MidiInputTest, DumpWithoutAFolderIsRefusedInABox) {
  pinput = std::make_unique<ClockedInput>(&port, &engine, &view, "");
  OpenKeys();
  port.Send({0xF0, 0x01, 0xF7});
  pinput->Tick();
  ASSERT_EQ(view.asBox.size(), 1u);
  EXPECT_EQ(view.asBox[0], "Error Saving: Cannot save \"sysex_20240305_070809.syx\": the installation is read-only and HOME is not set");
  EXPECT_FALSE(fs::exists("/sysex_20240305_070809.syx"));
}

TEST_F(MidiInputTest, ErrorNotificationsNameTheLowFourBitsPlusOne) {
  OpenKeys();
  port.Send({0x35});                    // data without status
  port.Send({0xF0, 0x01, 0x93, 0x3C, 0x40});  // a dump cut short by a note on channel 4
  pinput->Tick();
  EXPECT_EQ(ErrorCount("Ch06 MIDI Error"), 1);
  EXPECT_EQ(ErrorCount("Ch04 Long Error"), 1);
  EXPECT_EQ(engine.au, std::vector<uint32_t>{MidiPack(0x93, 0x3C, 0x40)});
}

TEST_F(MidiInputTest, NothingHappensWithoutAnEngine) {
  ClockedInput input(&port, nullptr, &view, (dir / "sysex").string());
  input.FillDeviceList();
  input.Select(1);
  port.Send({0xFE, 0x90, 0x3C, 0x40});
  input.tNow += 10;
  input.Tick();
  EXPECT_EQ(input.Dropped(), 1);
  EXPECT_EQ(ErrorCount("MIDI ACTIVE SENSING messages not received; ending all notes."), 0);
}

}  // namespace
