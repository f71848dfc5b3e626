// The main window's logic on a real application core (engine not started, so nothing plays):
// the message list after a compile error, the voice count, the MIDI device list and the last
// message, and the exit in order.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "formula/errorlist.h"
#include "ide/topmodel.h"
#include "ide_support.h"
#include "patch/patch.h"

namespace {

const std::string kData = std::string(VANTREL_TEST_DATA) + "/ide/";

class RecordingView : public TopView {
 public:
  void ShowMidiMsg(const char* psz) override { sMidiMsg = psz; }
  void ShowMidiStatus(const char* psz) override { sMidiStatus = psz; }
  void ShowLight(int iState) override { iLight = iState; }
  void ErrorBox(const char* pszTitle, const char* pszText) override { sBox = std::string(pszTitle) + ": " + pszText; }
  void ShowLevels(const TopLevels& levels) override { levelsShown = levels; }
  void ShowRows(const std::vector<TopMessageRow>& arow) override { arowShown = arow; }
  void Quit(int iStatus) override { iQuit = iStatus; }
  std::string sMidiMsg, sMidiStatus, sBox;
  int iLight = -1, iQuit = -1;
  TopLevels levelsShown;
  std::vector<TopMessageRow> arowShown;
};

// Two named ports; what is injected arrives as complete short messages.
class ScriptedPort : public MidiInPort {
 public:
  int NumDevs() override { return 2; }
  int GetDevName(int i, std::string* psName) override {
    if (i < 0 || i > 1) return MidiInErrBadDevice;
    *psName = i == 0 ? "Keys A" : "Keys B";
    return MidiInOk;
  }
  int Open(int i, MidiInSink* psink) override {
    iOpened = i;
    psink_ = psink;
    return MidiInOk;
  }
  int Prepare(MidiSysexBuffer*) override { return MidiInOk; }
  int Unprepare(MidiSysexBuffer*) override { return MidiInOk; }
  int AddBuffer(MidiSysexBuffer*) override { return MidiInOk; }
  int Start() override { return MidiInOk; }
  int Stop() override { return MidiInOk; }
  int Close() override {
    psink_ = nullptr;
    iOpened = -100;
    return MidiInOk;
  }
  std::string ErrorText(int) override { return "error"; }
  void Inject(const unsigned char* pb, size_t n) override {
    if (psink_ && n == 3) psink_->OnShortData(pb[0] | pb[1] << 8 | pb[2] << 16);
  }
  int iOpened = -100;

 private:
  MidiInSink* psink_ = nullptr;
};

class TopModelTest : public testing::Test {
 protected:
  void SetUp() override {
    pcore = std::make_unique<AppCore>(VANTREL_STAGE);
    ErrorList::Get()->Clear();
    KSWinMemento mem;
    pwinMain = f.factory.CreateWindowOfType(kTypeMain, mem);
    pmodel = std::make_unique<TopModel>(*pcore, f.factory, &port, view);
  }
  void TearDown() override {
    pmodel.reset();
    pcore.reset();
  }
  Patch* Installed() { return pcore->Slots().N() > 0 ? pcore->Slots()[0].ppatch : nullptr; }

  FakeFactory f;
  KSWin* pwinMain = nullptr;
  ScriptedPort port;
  RecordingView view;
  std::unique_ptr<AppCore> pcore;
  std::unique_ptr<TopModel> pmodel;
};

TEST_F(TopModelTest, CompileErrorIsListedAtItsLineAndLeadsThere) {
  KSWinMemento mem;
  auto* peditor = static_cast<FakeEditor*>(f.factory.CreateWindowOfType(kTypeEditor, mem));
  EXPECT_EQ(pcore->LoadPatch((kData + "bad.vantrel").c_str(), 0, false, 0, nullptr), -1);
  pmodel->Tick();
  ASSERT_FALSE(view.arowShown.empty());
  int iRow = -1;
  for (size_t i = 0; i < view.arowShown.size(); ++i)
    if (view.arowShown[i].asColumn[3] == "5") iRow = static_cast<int>(i);
  ASSERT_GE(iRow, 0) << view.arowShown[0].asColumn[0];
  const TopMessageRow& row = view.arowShown[static_cast<size_t>(iRow)];
  EXPECT_NE(row.asColumn[0].find("Osc1:Frequency"), std::string::npos) << row.asColumn[0];
  EXPECT_EQ(row.asColumn[1], "1");
  EXPECT_NE(row.asColumn[2].find(".cpp:"), std::string::npos) << row.asColumn[2];  // the reporting source
  EXPECT_NE(std::find(peditor->aiMarked.begin(), peditor->aiMarked.end(), 5), peditor->aiMarked.end());
  pmodel->RowClicked(iRow);
  EXPECT_EQ(peditor->iWentTo, 5);

  // A line of a file the patch includes is listed, but the editor (which shows the patch) is
  // neither marked there nor sent there.
  ErrorList* perrors = ErrorList::Get();
  perrors->Add("sub.cpp", 1, ErrorList::Position(perrors->FileBase("/patches/parts/Sub.vantrel"), 7), "in the sub-patch");
  pmodel->Tick();
  iRow = -1;
  for (size_t i = 0; i < view.arowShown.size(); ++i)
    if (view.arowShown[i].asColumn[0] == "in the sub-patch") iRow = static_cast<int>(i);
  ASSERT_GE(iRow, 0);
  EXPECT_EQ(view.arowShown[static_cast<size_t>(iRow)].asColumn[3], "7");
  EXPECT_EQ(std::find(peditor->aiMarked.begin(), peditor->aiMarked.end(), 7), peditor->aiMarked.end());
  pmodel->RowClicked(iRow);
  EXPECT_EQ(peditor->iWentTo, 5);

  // The list is rebuilt only when the error list changed, and empties with it.
  view.arowShown.clear();
  pmodel->Tick();
  EXPECT_TRUE(view.arowShown.empty());
  pmodel->ResetMessages();
  pmodel->Tick();
  EXPECT_TRUE(pmodel->Rows().empty());
}

TEST_F(TopModelTest, VoicesPeakAndReductions) {
  ASSERT_EQ(pcore->LoadPatch((kData + "sine.vantrel").c_str(), 0, false, 0, nullptr), 0);
  pmodel->Tick();
  EXPECT_EQ(view.levelsShown.sVoices, "0");
  EXPECT_EQ(view.levelsShown.sPeak, "+0.0 dB");  // the peak starts at full scale
  EXPECT_EQ(view.levelsShown.sAutoReductions, "0");
  EXPECT_EQ(view.levelsShown.iMeterMax, 0);
  EXPECT_EQ(view.levelsShown.iMeterMin, -480);  // 48 dB below the peak, in tenths
  Installed()->NoteOn(60, 0.8);
  Installed()->NoteOn(64, 0.8);
  pmodel->Tick();
  EXPECT_EQ(view.levelsShown.sVoices, "2");
  pmodel->AllSoundOff();
  pmodel->Tick();
  EXPECT_EQ(view.levelsShown.sVoices, "0");
}

TEST_F(TopModelTest, DeviceListOpensTheSavedDeviceAndShowsMessagesInWords) {
  pmodel->FillDevices("Keys B");
  ASSERT_EQ(pmodel->Devices().size(), 4u);  // (none), two ports, the virtual port
  EXPECT_EQ(pmodel->Devices()[0].sName, "(none)");
  EXPECT_EQ(pmodel->Devices()[3].sName, TopModel::kVirtualEntry);
  EXPECT_EQ(pmodel->SelectedDevice(), 2);
  EXPECT_EQ(port.iOpened, 1);
  EXPECT_EQ(view.sMidiStatus, "MIDI successfully started");
  KSWinMemento mem;
  pmodel->SaveState(mem);
  EXPECT_STREQ(mem.GetString("MIDIDevDefault"), "Keys B");

  const unsigned char abNote[] = {0x90, 69, 100};
  port.Inject(abNote, 3);
  pmodel->Tick();
  EXPECT_EQ(view.sMidiMsg, "Ch01: NoteOn A4 (69) Vel 100");
  EXPECT_EQ(view.iLight, 3);

  pmodel->SelectDevice(3);
  EXPECT_EQ(port.iOpened, MidiInPort::kVirtual);
  KSWinMemento memVirtual;
  pmodel->SaveState(memVirtual);
  pmodel->SelectDevice(0);  // "(none)" closes and opens nothing
  EXPECT_EQ(port.iOpened, -100);
  // The saved virtual port is found again by the next start.
  TopModel model2(*pcore, f.factory, &port, view);
  model2.FillDevices(memVirtual.GetString("MIDIDevDefault"));
  EXPECT_EQ(model2.SelectedDevice(), 3);
  EXPECT_EQ(port.iOpened, MidiInPort::kVirtual);
}

TEST_F(TopModelTest, SavedDeviceThatIsGoneOpensNothing) {
  pmodel->FillDevices("Keys C");
  EXPECT_EQ(pmodel->SelectedDevice(), -1);
  EXPECT_EQ(port.iOpened, -100);
  KSWinMemento mem;
  pmodel->SaveState(mem);
  EXPECT_FALSE(mem.Has("MIDIDevDefault"));
}

TEST_F(TopModelTest, ExitWithRefusedSaveClosesNothing) {
  ASSERT_EQ(pcore->LoadPatch((kData + "sine.vantrel").c_str(), 0, false, 0, nullptr), 0);
  KSWinMemento mem;
  auto* peditor = static_cast<FakeEditor*>(f.factory.CreateWindowOfType(kTypeEditor, mem));
  f.factory.CreateWindowOfType(kTypeOscilloscope, mem);
  FakeEditor::bSaveAccepted = false;
  EXPECT_FALSE(pmodel->Exit());
  FakeEditor::bSaveAccepted = true;
  EXPECT_EQ(peditor->nQueries, 1);
  EXPECT_EQ(f.factory.Windows().size(), 3u);
  EXPECT_EQ(view.iQuit, -1);
  EXPECT_NE(Installed(), nullptr);
  ASSERT_TRUE(pcore->EngineLock().try_lock());  // the engine goes on
  pcore->EngineLock().unlock();
}

TEST_F(TopModelTest, ExitClosesTheOtherWindowsAndEndsWithZero) {
  ASSERT_EQ(pcore->LoadPatch((kData + "sine.vantrel").c_str(), 0, false, 0, nullptr), 0);
  KSWinMemento mem;
  // The main window need not be the first (a workspace may list it later).
  pwinMain->Close();
  f.factory.CreateWindowOfType(kTypeOscilloscope, mem);
  pwinMain = f.factory.CreateWindowOfType(kTypeMain, mem);
  f.factory.CreateWindowOfType(kTypeEditor, mem);
  f.factory.CreateWindowOfType(kTypeOscilloscope, mem);
  pmodel->FillDevices("Keys A");
  EXPECT_TRUE(pmodel->Exit());
  EXPECT_EQ(f.factory.Windows(), std::vector<KSWin*>{pwinMain});
  EXPECT_EQ(Installed(), nullptr);
  EXPECT_EQ(pcore->Slots()[0].pszText, nullptr);
  EXPECT_EQ(port.iOpened, -100);  // the MIDI input closed before the engine stopped
  EXPECT_EQ(view.iQuit, 0);
  EXPECT_FALSE(pcore->EngineLock().try_lock());  // kept until the process ends
  // A patch can no longer be installed.
  EXPECT_EQ(pcore->LoadPatch((kData + "sine.vantrel").c_str(), 0, false, 0, nullptr), -1);
}

TEST_F(TopModelTest, TestCommandsWithAndWithoutAPatch) {
  pmodel->VariableDump();  // no patch: only a log line
  ASSERT_EQ(pcore->LoadPatch((kData + "sine.vantrel").c_str(), 0, false, 0, nullptr), 0);
  pmodel->VariableDump();
  Patch* ppatch = Installed();
  pmodel->HeapCheck();  // compiles the default patch beside the installed one
  EXPECT_EQ(Installed(), ppatch);
}

}  // namespace
