// The patch editor without a window: compile and saved states through loads, edits, applies and
// saves; the "same text" rule; line kinds; saving, history copies and their refusals; the save
// question; package pages; error stretches, section types and completion.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "formula/errorlist.h"
#include "foundation/akstatus.h"
#include "ide/patchsheetmodel.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class FakePageView : public PatchPageView {
 public:
  std::string Text() override { return sText; }
  void SetText(const std::string& s) override {
    sText = s;
    iCaret = 0;
  }
  void SetFileNameLine(const std::string& s) override { sFileNameLine = s; }
  void SetStatusLine(const std::string& s) override { sStatus = s; }
  void ColorLine(int iLine, bool bError) override { acolored.push_back({iLine, bError}); }
  void ColorAll() override {
    ++nColorAll;
    acolored.clear();
  }
  int CaretLine() override { return iCaret; }
  void PutCaretAtLine(int iLine) override { iCaret = iLine; }
  std::string sText, sFileNameLine, sStatus;
  std::vector<std::pair<int, bool>> acolored;
  int nColorAll = 0, iCaret = 0;
};

class FakeSheetView : public PatchSheetView {
 public:
  PatchPageView* AddPageView(int iIcon, const std::string& sTabText) override {
    apview.push_back(std::make_unique<FakePageView>());
    atab.push_back({iIcon, sTabText});
    return apview.back().get();
  }
  void SetTabIcon(int iTab, int iIcon) override { atab.at(static_cast<size_t>(iTab)).first = iIcon; }
  void SetTabText(int iTab, const std::string& s) override { atab.at(static_cast<size_t>(iTab)).second = s; }
  void ShowPage(int iTab) override { aiShown.push_back(iTab); }
  void SetWindowTitle(const std::string& s) override { sTitle = s; }
  SaveAnswer AskSave(const std::string& sBoxTitle, const std::string& sText) override {
    asQuestion.push_back(sBoxTitle + "|" + sText);
    SaveAnswer answer = aanswer.empty() ? SaveAnswer::Cancel : aanswer.front();
    if (!aanswer.empty()) aanswer.pop_front();
    return answer;
  }
  void MessageBox(const std::string& sBoxTitle, const std::string& sText) override { asBox.push_back(sBoxTitle + "|" + sText); }
  bool ChooseSaveFile(const char* pszExtension, const std::string& sInitial, std::string* psPath) override {
    asDialog.push_back(std::string("save ") + pszExtension + " " + sInitial);
    *psPath = sChoice;
    return !sChoice.empty();
  }
  bool ChooseOpenFile(const char* pszExtension, const std::string& sInitial, std::string* psPath) override {
    asDialog.push_back(std::string("open ") + pszExtension + " " + sInitial);
    *psPath = sChoice;
    return !sChoice.empty();
  }
  std::vector<std::unique_ptr<FakePageView>> apview;
  std::vector<std::pair<int, std::string>> atab;
  std::vector<int> aiShown;
  std::string sTitle, sChoice;
  std::deque<SaveAnswer> aanswer;
  std::vector<std::string> asQuestion, asBox, asDialog;
};

// An editor over a private installation folder; its LoadPatch records each call and answers
// iLoadResult, reading the file it was given as a compiler would.
class EditorTest : public testing::Test {
 protected:
  void SetUp() override {
    dir = fs::path(testing::TempDir()) / ("patcheditor_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "patch");
    fs::create_directories(dir / "package");
    services.sInstallDir = dir.string();
    services.sHistoryDir = dir.string() + "/patch/edit_history";
    services.sUserPatchDir = dir.string() + "/patch/user";
    services.pfnLoadPatch = [this](const std::string& sPath, int iChannel, bool bShow) {
      // As installation does: a shown load asks the editor's save question first.
      if (bShow && psheet && !psheet->QuerySave()) return -1;
      aload.push_back({sPath, ReadFile(sPath), iChannel, bShow});
      if (iLoadResult == 0 && bShow && psheet) psheet->ShowPatchText(iChannel, sPath, ReadFile(sPath));
      return iLoadResult;
    };
    services.pfnNow = [] {
      struct tm tmNow = {};
      tmNow.tm_year = 2017 - 1900, tmNow.tm_mon = 2, tmNow.tm_mday = 5;
      tmNow.tm_hour = 14, tmNow.tm_min = 3, tmNow.tm_sec = 9;
      return tmNow;
    };
    psheet = std::make_unique<PatchSheetModel>(view, services);
  }
  void TearDown() override {
    psheet.reset();
    fs::remove_all(dir);
  }
  PatchPage& Page(size_t i = 0) { return *psheet->Pages().at(i); }
  FakePageView& PageView(size_t i = 0) { return *view.apview.at(i); }
  void Edit(const std::string& sText, size_t iPage = 0) {
    PageView(iPage).sText = sText;
    Page(iPage).TextChanged();
  }
  std::string Write(const std::string& sRelative, const std::string& sText) {
    std::ofstream(dir / sRelative, std::ios::binary) << sText;
    return (dir / sRelative).string();
  }

  struct Load {
    std::string sPath, sText;
    int iChannel;
    bool bShow;
  };
  fs::path dir;
  FakeSheetView view;
  PatchSheetServices services;
  std::unique_ptr<PatchSheetModel> psheet;
  std::vector<Load> aload;
  int iLoadResult = 0;
};

TEST_F(EditorTest, StartsWithTheChannelPage) {
  ASSERT_EQ(view.atab.size(), 1u);
  EXPECT_EQ(view.atab[0].second, "Ch01");
  EXPECT_EQ(view.atab[0].first, 0);
  EXPECT_EQ(view.aiShown, std::vector<int>{0});
  EXPECT_TRUE(Page().bPatch);
  EXPECT_EQ(Page().iChannel, 0);
}

TEST_F(EditorTest, CompileAndSavedStatesFollowLoadsEditsAppliesAndSaves) {
  std::string sPath = Write("patch/Bass.vantrel", "[Osc1]\nFrequency = Pitch\n");
  enum class Step { Load, Edit, FailedApply, Apply, Save };
  struct Case {
    Step step;
    const char* pszText;  // the text after an edit
    int iState;
    bool bNotSaved;
    int iIcon;
    const char* pszStatus;
  };
  const Case kacase[] = {
      {Step::Load, nullptr, 0, false, 0, "saved ... compiled OK"},
      {Step::Edit, "[Osc1]\nFrequency = Pitch*\n", 2, true, 5, "NOT SAVED! ... edited since compile"},
      {Step::Edit, "[Osc1]\nFrequency = Pitch\n", 0, false, 0, "saved ... compiled OK"},
      {Step::Edit, "[Osc1]\nFrequency = Pitch*\n", 2, true, 5, "NOT SAVED! ... edited since compile"},
      {Step::FailedApply, nullptr, 1, true, 3, "NOT SAVED! ... compiled with ERRORS"},
      {Step::Edit, "[Osc1]\nFrequency = Pitch\n", 2, false, 4, "saved ... edited since compile"},
      {Step::Edit, "[Osc1]\nFrequency = Pitch*\n", 1, true, 3, "NOT SAVED! ... compiled with ERRORS"},
      {Step::Edit, "[Osc1]\nFrequency = Pitch * 2\n", 2, true, 5, "NOT SAVED! ... edited since compile"},
      {Step::Apply, nullptr, 0, true, 1, "NOT SAVED! ... compiled OK"},
      {Step::Save, nullptr, 0, false, 0, "saved ... compiled OK"},
      {Step::Edit, "[Osc1]\nFrequency = Pitch\n", 2, true, 5, "NOT SAVED! ... edited since compile"},
      {Step::Edit, "[Osc1]\nFrequency = Pitch * 2\n", 0, false, 0, "saved ... compiled OK"},
  };
  int iRow = 0;
  for (const Case& c : kacase) {
    switch (c.step) {
      case Step::Load: psheet->ShowPatchText(0, sPath, ReadFile(sPath)); break;
      case Step::Edit: Edit(c.pszText); break;
      case Step::FailedApply: iLoadResult = -1, psheet->Apply(); break;
      case Step::Apply: iLoadResult = 0, psheet->Apply(); break;
      case Step::Save: psheet->Save(); break;
    }
    SCOPED_TRACE("row " + std::to_string(iRow++));
    EXPECT_EQ(Page().iCompileState, c.iState);
    EXPECT_EQ(Page().bNotSaved, c.bNotSaved);
    EXPECT_EQ(view.atab[0].first, c.iIcon);
    EXPECT_EQ(PageView().sStatus, c.pszStatus);
  }
  // Apply never saved the edited file; Save did.
  EXPECT_EQ(ReadFile(sPath), "[Osc1]\nFrequency = Pitch * 2\n");
  EXPECT_EQ(Page().sPath, sPath);
}

TEST_F(EditorTest, AnEditRecoloursTheCaretLineAndErrorMarksActOnTheCurrentPage) {
  psheet->ShowPatchText(0, Write("patch/A.vantrel", "a\nb\nc\n"), "a\nb\nc\n");
  psheet->MarkErrorLine(3);
  EXPECT_EQ(PageView().acolored, (std::vector<std::pair<int, bool>>{{2, true}}));
  psheet->GoToLine(3);
  Edit("a\nb\nc!\n");
  EXPECT_EQ(PageView().acolored.back(), (std::pair<int, bool>{2, false}));
  int nColorAll = PageView().nColorAll;
  psheet->ClearErrorMarks();
  EXPECT_EQ(PageView().nColorAll, nColorAll + 1);
  psheet->GoToLine(-1);
  EXPECT_EQ(PageView().iCaret, 2);
  // A notification without a change of text (a format change) changes nothing.
  PageView().acolored.clear();
  Page().TextChanged();
  EXPECT_TRUE(PageView().acolored.empty());
}

TEST(PatchText, SameTextLetsAnyRunOfControlCharactersFaceAnyOther) {
  struct Case {
    const char* pszA;
    const char* pszB;
    bool bSame;
  };
  const Case kacase[] = {
      {"a = 1\nb = 2", "a = 1\r\nb = 2", true},
      {"a = 1\tb", "a = 1\n\n\r\nb", true},
      {"x\n", "x\t", true},
      {"a = 1\nb", "a = 1 b", false},  // a space is no control character
      {"ab", "a\nb", false},           // a run faces a run, not nothing
      {"a\n", "a", false},
      {"a = 1", "a = 2", false},
      {"", "", true},
  };
  for (const Case& c : kacase) {
    EXPECT_EQ(PatchTextSame(c.pszA, c.pszB), c.bSame) << c.pszA << " | " << c.pszB;
    EXPECT_EQ(PatchTextSame(c.pszB, c.pszA), c.bSame) << c.pszB << " | " << c.pszA;
  }
}

TEST(PatchText, LineKindsAndTheirStyles) {
  struct Case {
    const char* pszLine;
    PatchLineKind kind;
  };
  const Case kacase[] = {{"# note", PatchLineKind::Comment}, {"  ; note", PatchLineKind::Comment},
                         {"\t[Osc1]", PatchLineKind::Header}, {"Frequency = Pitch ; x", PatchLineKind::Other},
                         {"", PatchLineKind::Other},         {"   ", PatchLineKind::Other}};
  for (const Case& c : kacase) EXPECT_EQ(PatchLineKindOf(c.pszLine), c.kind) << c.pszLine;
  PatchLineStyle comment = PatchLineStyleOf(PatchLineKind::Comment, false);
  EXPECT_EQ((std::vector<int>{comment.bHeaderFace, comment.iTwips, comment.bBold, comment.iRed, comment.iGreen, comment.iBlue}),
            (std::vector<int>{0, 200, 0, 153, 0, 153}));
  PatchLineStyle header = PatchLineStyleOf(PatchLineKind::Header, false);
  EXPECT_EQ((std::vector<int>{header.bHeaderFace, header.iTwips, header.bBold, header.iRed, header.iGreen, header.iBlue}),
            (std::vector<int>{1, 240, 1, 0, 0, 153}));
  PatchLineStyle other = PatchLineStyleOf(PatchLineKind::Other, false);
  EXPECT_EQ((std::vector<int>{other.bHeaderFace, other.iTwips, other.iRed, other.iGreen, other.iBlue}),
            (std::vector<int>{0, 200, 0, 0, 0}));
  // An error line is red whatever its kind, in the kind's face.
  PatchLineStyle error = PatchLineStyleOf(PatchLineKind::Header, true);
  EXPECT_EQ((std::vector<int>{error.bHeaderFace, error.iRed, error.iGreen, error.iBlue}), (std::vector<int>{1, 255, 0, 0}));
}

TEST(PatchText, HistoryPathsAndTheirRefusals) {
  struct tm tmApplied = {};
  tmApplied.tm_year = 2017 - 1900, tmApplied.tm_mon = 2, tmApplied.tm_mday = 5;
  tmApplied.tm_hour = 14, tmApplied.tm_min = 3, tmApplied.tm_sec = 9;
  struct Case {
    const char* pszPath;
    HistoryRefusal refusal;
    const char* pszHistory;
  };
  const Case kacase[] = {
      {"/home/u/patches/Bass.vantrel", HistoryRefusal::None, "/inst/patch/edit_history/Bass-20170305-140309.vantrel"},
      {"/a.b/Bass.tar.vantrel", HistoryRefusal::None, "/inst/patch/edit_history/Bass.tar-20170305-140309.vantrel"},
      {"/home/u/Bass-20170305-140309.vantrel", HistoryRefusal::HistoryFile, ""},
      {"/Bass-2017030X-140309.vantrel", HistoryRefusal::None, "/inst/patch/edit_history/Bass-2017030X-140309-20170305-140309.vantrel"},
      {"/20170305-140309.vantrel", HistoryRefusal::HistoryFile, ""},  // 16 characters before the dot
      {"20170305-140309.vantrel", HistoryRefusal::NoFolder, ""},       // 15: not a history name
      {"/home/u.d/Bass", HistoryRefusal::NoExtension, ""},
      {"", HistoryRefusal::NoExtension, ""},
      {"Bass.vantrel", HistoryRefusal::NoFolder, ""},
  };
  for (const Case& c : kacase) {
    std::string sHistory;
    EXPECT_EQ(PatchHistoryPath("/inst/patch/edit_history", c.pszPath, tmApplied, &sHistory), c.refusal) << c.pszPath;
    if (c.refusal == HistoryRefusal::None) {
      EXPECT_EQ(sHistory, c.pszHistory);
    }
  }
}

TEST_F(EditorTest, ApplyKeepsTheHistoryCopyOnlyWhenItCompiles) {
  std::string sPath = Write("patch/Bass.vantrel", "[Osc1]\n");
  psheet->ShowPatchText(0, sPath, "[Osc1]\n");
  Edit("[Osc1]\nFrequency = (\n");
  iLoadResult = -1;
  psheet->Apply();
  fs::path history = dir / "patch/edit_history/Bass-20170305-140309.vantrel";
  ASSERT_EQ(aload.size(), 1u);
  EXPECT_EQ(aload[0].sPath, history.string());
  EXPECT_EQ(aload[0].sText, "[Osc1]\nFrequency = (\n");  // the copy existed while it compiled
  EXPECT_EQ(aload[0].iChannel, 0);
  EXPECT_FALSE(aload[0].bShow);
  EXPECT_FALSE(fs::exists(history));
  Edit("[Osc1]\nFrequency = 1\n");
  iLoadResult = 0;
  psheet->Apply();
  EXPECT_EQ(ReadFile(history), "[Osc1]\nFrequency = 1\n");
  EXPECT_EQ(ReadFile(sPath), "[Osc1]\n");
  EXPECT_TRUE(view.asBox.empty());
}

TEST_F(EditorTest, ApplyRefusesAHistoryFileAndCompilesNothing) {
  std::string sPath = Write("patch/Bass-20170305-140309.vantrel", "[Osc1]\n");
  psheet->ShowPatchText(0, sPath, "[Osc1]\n");
  psheet->Apply();
  EXPECT_TRUE(aload.empty());
  ASSERT_EQ(view.asBox.size(), 1u);
  EXPECT_EQ(view.asBox[0].substr(0, view.asBox[0].find(": ")),
            "Error Saving Temporary File|cannot edit a history file named \"" + sPath + "\"");
  EXPECT_NE(view.asBox[0].find("; please save as a name without YYYYMMDD-HHMMSS"), std::string::npos);
  EXPECT_EQ(Page().iCompileState, 0);
  // A path without an extension has its own box.
  psheet->ShowPatchText(0, (dir / "patch/Bass").string(), "[Osc1]\n");
  psheet->Apply();
  EXPECT_EQ(view.asBox.back(), "Error Saving Temporary File|Didn't find a file name extenion in \"" + (dir / "patch/Bass").string() + "\"");
  EXPECT_TRUE(aload.empty());
}

void CollectWarning(int, const char*, int, const char* pszMessage, const char*, void* pv) {
  static_cast<std::vector<std::string>*>(pv)->push_back(pszMessage);
}

TEST_F(EditorTest, SaveWritesLineFeedsForCarriageReturnsAndVerticalTabs) {
  std::string sPath = Write("patch/Lead.vantrel", "");
  psheet->ShowPatchText(0, sPath, "");
  Edit("a = 1\vb = 2\r\nc = 3\v");
  std::vector<std::string> asWarning;
  void* pvOld = nullptr;
  AKSCallback_T pfnOld = AKSGetCallback(AKSWarn, &pvOld);
  AKSSetCallback(AKSWarn, CollectWarning, &asWarning);
  psheet->Save();
  AKSSetCallback(AKSWarn, pfnOld, pvOld);
  EXPECT_EQ(ReadFile(sPath), "a = 1\nb = 2\n\nc = 3\n");
  EXPECT_EQ(asWarning, (std::vector<std::string>{"overwriting VT, follow is 62", "overwriting VT, follow is 00"}));
  EXPECT_FALSE(Page().bNotSaved);
  // The control still holds the vertical tab; it is the same text as the one saved.
  Edit("a = 1\vb = 2\r\nc = 3\v ");
  Edit("a = 1\vb = 2\r\nc = 3\v");
  EXPECT_FALSE(Page().bNotSaved);
}

TEST_F(EditorTest, SaveFailuresShowTheirBoxAndKeepThePageUnsaved) {
  psheet->ShowPatchText(0, (dir / "missing/Lead.vantrel").string(), "");
  Edit("x");
  psheet->Save();
  ASSERT_EQ(view.asBox.size(), 1u);
  EXPECT_EQ(view.asBox[0], "Error Saving|Cannot open file \"" + (dir / "missing/Lead.vantrel").string() +
                               "\": No such file or directory");
  EXPECT_TRUE(Page().bNotSaved);
}

TEST_F(EditorTest, SaveOnTheNewPatchTemplateTurnsIntoSaveAs) {
  std::string sNew = Write("patch/New.vantrel", "; a new patch\n");
  psheet->ShowPatchText(0, sNew, "; a new patch\n");
  Edit("; my patch\n");
  view.sChoice = (dir / "patch/Mine.vantrel").string();
  psheet->Save();
  // The dialog starts among the user's own patches, never at the template.
  EXPECT_EQ(view.asDialog, std::vector<std::string>{"save vantrel " + (dir / "patch/user/").string()});
  EXPECT_EQ(ReadFile(sNew), "; a new patch\n");
  EXPECT_EQ(ReadFile(view.sChoice), "; my patch\n");
  EXPECT_EQ(Page().sPath, view.sChoice);
  EXPECT_EQ(view.atab[0].second, "Mine");
  EXPECT_EQ(view.sTitle, "Editor: Mine");
  EXPECT_EQ(PageView().sFileNameLine, "File Name: " + view.sChoice);
  EXPECT_FALSE(Page().bNotSaved);
}

TEST_F(EditorTest, TheSaveQuestionAndItsAnswers) {
  EXPECT_TRUE(psheet->QuerySave());  // saved: no question
  EXPECT_TRUE(view.asQuestion.empty());
  std::string sPath = Write("patch/Pad.vantrel", "a");
  psheet->ShowPatchText(0, sPath, "a");
  Edit("b");
  view.aanswer = {SaveAnswer::Cancel, SaveAnswer::No, SaveAnswer::Yes};
  EXPECT_FALSE(psheet->QuerySave());
  EXPECT_TRUE(psheet->QuerySave());
  EXPECT_EQ(ReadFile(sPath), "a");
  EXPECT_TRUE(psheet->QuerySave());
  EXPECT_EQ(ReadFile(sPath), "b");
  EXPECT_EQ(view.asQuestion, std::vector<std::string>(3, "Save First?|Save changes to " + sPath + "?"));
  // The new-patch template asks its own question and saves under a new name.
  std::string sNew = Write("patch/New.vantrel", "");
  psheet->ShowPatchText(0, sNew, "");
  Edit("c");
  view.aanswer = {SaveAnswer::Yes};
  view.sChoice = (dir / "patch/Fresh.vantrel").string();
  EXPECT_TRUE(psheet->QuerySave());
  EXPECT_EQ(view.asQuestion.back(), "Save First?|Save your new patch?");
  EXPECT_EQ(ReadFile(view.sChoice), "c");
}

TEST_F(EditorTest, OpenAsksOnceAndLoadsIntoTheChannel) {
  std::string sPath = Write("patch/Pad.vantrel", "a");
  psheet->ShowPatchText(0, sPath, "a");
  Edit("b");
  std::string sOther = Write("patch/Other.vantrel", "o");
  view.sChoice = sOther;
  view.aanswer = {SaveAnswer::No};
  psheet->Open();
  ASSERT_EQ(aload.size(), 1u);
  EXPECT_EQ(aload[0].sPath, sOther);
  EXPECT_TRUE(aload[0].bShow);
  EXPECT_EQ(view.asQuestion.size(), 1u);
  EXPECT_EQ(PageView().sText, "o");
  EXPECT_EQ(view.sTitle, "Editor: Other");
  // New Patch loads the installation's template.
  psheet->NewPatch();
  EXPECT_EQ(aload.back().sPath, psheet->NewPatchPath());
}

TEST_F(EditorTest, PackagePagesOpenOnceAndAreSavedByApply) {
  std::string sPackage = Write("package/Chorus.1.0.0.vanpack", "[Interface]\n");
  psheet->OpenPackageFile(sPackage);
  ASSERT_EQ(psheet->Pages().size(), 2u);
  EXPECT_EQ(view.atab[1], (std::pair<int, std::string>{6, "Chorus.1.0.0"}));
  EXPECT_EQ(view.sTitle, "Editor: Chorus.1.0.0");
  EXPECT_EQ(PageView(1).sText, "[Interface]\n");
  EXPECT_EQ(PageView(1).sStatus, "saved ... (no compilation status for packages)");
  psheet->SelectTab(0);
  psheet->OpenPackageFile(sPackage);
  EXPECT_EQ(psheet->Pages().size(), 2u);
  EXPECT_EQ(view.aiShown.back(), 1);
  EXPECT_EQ(psheet->Current(), &Page(1));
  Edit("[Interface]\n; more\n", 1);
  EXPECT_EQ(view.atab[1].first, 7);
  psheet->Apply();  // the patch page has no file: its box, but the package is saved first
  EXPECT_EQ(ReadFile(sPackage), "[Interface]\n; more\n");
  EXPECT_EQ(view.atab[1].first, 6);
  // A package that cannot be read is reported in the error list.
  ErrorList::Get()->Clear();
  psheet->OpenPackageFile((dir / "package/None.vanpack").string());
  EXPECT_EQ(psheet->Pages().size(), 2u);
  ErrorList::Get()->Lock();
  ASSERT_EQ(ErrorList::Get()->anode.N(), 1);
  EXPECT_EQ(std::string(ErrorList::Get()->anode[0].psz),
            "stat( " + (dir / "package/None.vanpack").string() + " ): No such file or directory");
  ErrorList::Get()->Unlock();
  ErrorList::Get()->Clear();
  psheet->SelectTab(5);
  EXPECT_EQ(psheet->Current(), &Page(1));
}

TEST_F(EditorTest, APackagePageNeverInstallsAPatch) {
  std::string sPackage = Write("package/Chorus.1.0.0.vanpack", "[Interface]\n");
  std::string sOther = Write("package/Chorus.2.0.0.vanpack", "[Interface]\nInput = 0\n");
  psheet->OpenPackageFile(sPackage);
  // Open on a package page opens the chosen package beside it.
  view.sChoice = sOther;
  psheet->Open();
  EXPECT_EQ(view.asDialog.back(), "open vanpack " + sPackage);
  ASSERT_EQ(psheet->Pages().size(), 3u);
  EXPECT_EQ(psheet->Current(), &Page(2));
  EXPECT_EQ(PageView(2).sText, "[Interface]\nInput = 0\n");
  // New Patch from a package page loads the template into the patch page's channel.
  psheet->NewPatch();
  ASSERT_EQ(aload.size(), 1u);
  EXPECT_EQ(aload[0].iChannel, 0);
  EXPECT_EQ(psheet->Current(), &Page(0));
  // New Package opens the installation's template, and Save on it asks for a name.
  Write("package/New.vanpack", "[Interface]\n");
  psheet->NewPackage();
  EXPECT_EQ(Page(3).sPath, psheet->NewPackagePath());
  view.sChoice = (dir / "package/Mine.1.0.0.vanpack").string();
  psheet->Save();
  EXPECT_EQ(view.asDialog.back(), "save vanpack " + (dir / "patch/user/").string());
  EXPECT_EQ(ReadFile(view.sChoice), "[Interface]\n");
}

TEST(PatchText, TheStretchOfAFormulaErrorInItsLine) {
  struct Case {
    const char* pszMessage;
    const char* pszLine;
    int iColumn, iLength;  // -1: none found
  };
  const Case kacase[] = {
      {"Osc1:Frequency - unknown name (Pitch *  >>> Pich <<<  + 1)", "Frequency = Pitch * Pich + 1", 20, 4},
      {"Osc1:Frequency - unknown name (Max( 1,  >>> Pich <<<  ))", "  Frequency = Max( 1, Pich )", 22, 4},
      {"Osc1:Frequency - missing operand (Pitch *  >>>  <<< )", "Frequency = Pitch * ", 19, 1},
      {"Osc1:Frequency - unknown name (a >>> b <<< c)", "Frequency = x", -1, -1},
      {"cannot read patch \"x\"", "Frequency = x", -1, -1},
  };
  for (const Case& c : kacase) {
    int iColumn = -1, iLength = -1;
    bool bFound = PatchErrorStretch(c.pszMessage, c.pszLine, &iColumn, &iLength);
    EXPECT_EQ(bFound, c.iColumn >= 0) << c.pszMessage;
    if (bFound) {
      EXPECT_EQ((std::pair<int, int>{iColumn, iLength}), (std::pair<int, int>{c.iColumn, c.iLength})) << c.pszMessage;
    }
  }
}

TEST(PatchText, SectionTypesAndCompletionComeFromTheModuleFactory) {
  const std::string sText =
      "; a patch\n[Osc1]\nFrequency = Pitch\nFre\n[Lfo]\nModuleType = Osc\n\n[Tone]\nModuleType = Fil\n[Nothing]\nx = 1\n";
  EXPECT_EQ(PatchSectionType(sText, 0), "");
  EXPECT_EQ(PatchSectionType(sText, 1), "Osc");
  EXPECT_EQ(PatchSectionType(sText, 3), "Osc");
  EXPECT_EQ(PatchSectionType(sText, 6), "Osc");   // by its ModuleType line
  EXPECT_EQ(PatchSectionType(sText, 10), "");     // no type begins "Nothing"
  PatchCompletion variables = PatchCompletionAt(sText, 3, 3);
  EXPECT_EQ(variables.sPrefix, "Fre");
  EXPECT_NE(std::find(variables.asWord.begin(), variables.asWord.end(), "Frequency"), variables.asWord.end());
  for (const std::string& s : variables.asWord) EXPECT_EQ(s.substr(0, 3), "Fre");
  PatchCompletion types = PatchCompletionAt(sText, 8, 16);
  EXPECT_EQ(types.sPrefix, "Fil");
  EXPECT_FALSE(types.asWord.empty());
  for (const std::string& s : types.asWord) EXPECT_EQ(s.substr(0, 3), "Fil");
  EXPECT_TRUE(PatchCompletionAt(sText, 2, 15).asWord.empty());  // inside a formula: nothing
  std::string sHelp = PatchVariableHelp("Osc", "Frequency");
  EXPECT_EQ(sHelp.rfind("Osc:Frequency (input, number, ", 0), 0u) << sHelp;
  EXPECT_EQ(PatchVariableHelp("Osc", "NoSuchThing"), "");
}

}  // namespace
