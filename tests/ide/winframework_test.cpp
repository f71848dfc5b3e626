// The window framework without a window system: typed memento access, placement, anchoring,
// window types, workspaces and templates.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ide/kswinmemento.h"
#include "ide_support.h"

namespace fs = std::filesystem;

namespace {

fs::path TempDir(const char* pszName) {
  fs::path dir = fs::path(testing::TempDir()) / (std::string("ide_") + pszName + "_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

void WriteText(const fs::path& path, const std::string& s) { std::ofstream(path) << s; }

std::string WindowXml(const char* pszType, int iX, int iY, int iWidth, int iHeight) {
  return std::string("<WindowType>") + pszType + "</WindowType><X>" + std::to_string(iX) + "</X><Y>" +
         std::to_string(iY) + "</Y><Width>" + std::to_string(iWidth) + "</Width><Height>" + std::to_string(iHeight) +
         "</Height>";
}

TEST(Memento, TypedAccessFollowsTheTable) {
  KSWinMemento mem;
  struct BoolCase {
    const char* pszText;
    bool bExpected;
  };
  const BoolCase kaBool[] = {{"1", true},  {"true", true},  {"True", true},   {"T", true}, {"yes", false},
                             {"0", false}, {"false", false}, {"Yes", false}, {"", false}, {" 1", false}};
  for (const BoolCase& c : kaBool) {
    mem.SetString("B", c.pszText);
    EXPECT_EQ(mem.GetBool("B", !c.bExpected), c.bExpected) << '"' << c.pszText << '"';
  }
  EXPECT_FALSE(mem.GetBool("Missing"));
  EXPECT_TRUE(mem.GetBool("Missing", true));

  mem.SetString("I", "42px");
  EXPECT_EQ(mem.GetInt("I"), 42);  // the leading decimal integer
  EXPECT_EQ(mem.GetInt("Missing"), 0);
  EXPECT_EQ(mem.GetInt("Missing", -6666), -6666);
  mem.SetInt("I", -17);
  EXPECT_STREQ(mem.GetString("I"), "-17");
  mem.SetDouble("D", 0.25);
  EXPECT_STREQ(mem.GetString("D"), "0.250000");  // "%f"
  EXPECT_DOUBLE_EQ(mem.GetDouble("D"), 0.25);
  EXPECT_DOUBLE_EQ(mem.GetDouble("Missing"), 0.0);
  EXPECT_STREQ(mem.GetString("Missing", "dflt"), "dflt");

  // Subsections are made on first use and found again, by name and by number.
  EXPECT_FALSE(mem.HasSub("Window0"));
  mem.Sub("Window0").SetInt("X", 5);
  EXPECT_EQ(mem.Sub("Window0").GetInt("X"), 5);
  mem.Sub(3).SetString("Y", "y");
  EXPECT_TRUE(mem.HasSub("3"));
  EXPECT_STREQ(mem.Sub(3).GetString("Y"), "y");
}

TEST(Memento, WritesXmlOrTextByTheFileName) {
  fs::path dir = TempDir("memento");
  KSWinMemento mem;
  mem.Sub("Workspace").SetString("Title", "a<b & 'c'");
  ASSERT_EQ(mem.Write((dir / "w.xml").c_str()), 0);
  ASSERT_EQ(mem.Write((dir / "w.txt").c_str()), 0);
  std::ifstream in(dir / "w.xml");
  std::string sXml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(sXml.find("<Workspace>"), std::string::npos) << sXml;
  FILE* pfile = fopen((dir / "w.xml").c_str(), "rb");
  ASSERT_NE(pfile, nullptr);
  KSWinMemento memBack = KSWinMemento::ReadXml("w.xml", pfile);
  fclose(pfile);
  EXPECT_STREQ(memBack.Sub("Workspace").GetString("Title"), "a<b & 'c'");
  std::ifstream inText(dir / "w.txt");
  std::string sText((std::istreambuf_iterator<char>(inText)), std::istreambuf_iterator<char>());
  EXPECT_EQ(sText.find("<Workspace>"), std::string::npos) << sText;
}

TEST(Placement, MissingSizesAndScreensEdges) {
  const KSRect kScreen{0, 0, 1920, 1080};
  struct Case {
    const char* pszName;
    KSRect rectSaved, rectExpected;
  };
  const Case kaCase[] = {
      {"inside stays", {100, 50, 640, 480}, {100, 50, 640, 480}},
      {"beyond the right edge moves in", {5000, 50, 640, 480}, {1280, 50, 640, 480}},
      {"beyond the bottom moves up", {10, 2000, 640, 480}, {10, 600, 640, 480}},
      {"left of the screens moves right", {-300, 10, 640, 480}, {0, 10, 640, 480}},
      {"no width: 200 x 200 at its place", {100, 50, KSWinMissing, 480}, {100, 50, 200, 200}},
      {"empty height: 200 x 200", {100, 50, 640, 0}, {100, 50, 200, 200}},
      {"larger than the screens is cut", {0, 0, 4000, 3000}, {0, 0, 1920, 1080}},
      {"no position: the corner", {KSWinMissing, KSWinMissing, 300, 300}, {0, 0, 300, 300}},
  };
  for (const Case& c : kaCase) EXPECT_EQ(KSPlaceWindow(c.rectSaved, kScreen), c.rectExpected) << c.pszName;
  // Two monitors side by side, the second to the left of the first.
  EXPECT_EQ(KSPlaceWindow({-1500, 10, 400, 300}, {-1280, 0, 3200, 1080}), (KSRect{-1280, 10, 400, 300}));
}

TEST(Placement, AnchorModesMoveAndStretch) {
  const KSRect r{10, 20, 100, 50};
  EXPECT_EQ(KSAnchorRect(r, 0, 0, 30, 40), r);
  EXPECT_EQ(KSAnchorRect(r, 1, 0, 30, 40), (KSRect{40, 20, 100, 50}));
  EXPECT_EQ(KSAnchorRect(r, 2, 0, 30, 40), (KSRect{10, 20, 130, 50}));
  EXPECT_EQ(KSAnchorRect(r, 0, 1, 30, 40), (KSRect{10, 60, 100, 50}));
  EXPECT_EQ(KSAnchorRect(r, 2, 2, -30, -40), (KSRect{10, 20, 70, 10}));
}

class LayoutWin : public FakeWin {
 public:
  using FakeWin::FakeWin;
  int nLayouts = 0;

 protected:
  void Layout() override { ++nLayouts; }
};

TEST(Window, ResizeRecordsChangesFromTheSecondSizeOn) {
  FakeFactory f;
  KSWinTypeTmpl<LayoutWin> type("Layout", false, &f.factory);
  KSWinMemento mem;
  auto* pwin = static_cast<LayoutWin*>(f.factory.CreateWindowOfType("Layout", mem));
  pwin->Resized(300, 200);
  EXPECT_EQ(pwin->nLayouts, 0);  // no previous size yet
  pwin->Resized(350, 180);
  EXPECT_EQ(pwin->nLayouts, 1);
  EXPECT_EQ(pwin->WidthChange(), 50);
  EXPECT_EQ(pwin->HeightChange(), -20);
  pwin->Close();  // before its type goes
}

TEST(Window, TitleAndWindowText) {
  FakeFactory f;
  KSWinMemento mem;
  KSWin* pwin = f.factory.CreateWindowOfType(kTypeOscilloscope, mem);
  EXPECT_EQ(pwin->Title(), "Oscilloscope");  // the type's title by default
  EXPECT_EQ(pwin->WindowText(), "Oscilloscope");
  pwin->SetTitle("%s %d", "Probe", 2);
  EXPECT_EQ(pwin->Title(), "Probe 2");
  EXPECT_EQ(pwin->WindowText(), "test: Probe 2");
  mem.SetString("Title", "Saved");
  EXPECT_EQ(f.factory.CreateWindowOfType(kTypeOscilloscope, mem)->Title(), "Saved");
}

TEST(Factory, SingleInstanceTypeRaisesItsWindow) {
  FakeFactory f;
  fs::path dir = TempDir("single");
  WriteText(dir / "ws.xml", "<Workspace><Window_Count>3</Window_Count><Window0>" + WindowXml(kTypeMain, 0, 0, 400, 300) +
                                "</Window0><Window1>" + WindowXml(kTypeEditor, 10, 10, 500, 400) + "</Window1><Window2>" +
                                WindowXml(kTypeEditor, 20, 20, 500, 400) + "</Window2></Workspace>");
  ASSERT_TRUE(f.factory.LoadWorkspace((dir / "ws.xml").c_str()));
  ASSERT_EQ(f.factory.Windows().size(), 2u);
  ASSERT_EQ(f.typeEditor.apwin.size(), 1u);
  auto* peditor = static_cast<FakeEditor*>(f.typeEditor.apwin[0]);
  EXPECT_EQ(peditor->nRaised, 1);
  EXPECT_EQ(peditor->PlatformRect(), (KSRect{10, 10, 500, 400}));  // the first entry's place
  EXPECT_EQ(f.factory.OpenWindow(kTypeEditor), peditor);
  EXPECT_EQ(peditor->nRaised, 2);
  // A type that allows several windows makes a new one each time.
  KSWinMemento mem;
  EXPECT_NE(f.factory.CreateWindowOfType(kTypeOscilloscope, mem), f.factory.CreateWindowOfType(kTypeOscilloscope, mem));
  EXPECT_EQ(f.factory.FirstWindow(), f.pwinFirst);
  EXPECT_EQ(f.pwinFirst->Type()->sName, kTypeMain);
}

TEST(Factory, UnknownTypeShowsTheWarningBox) {
  FakeFactory f;
  KSWinMemento mem;
  EXPECT_EQ(f.factory.CreateWindowOfType("PatchBrowser", mem), nullptr);
  EXPECT_EQ(f.factory.CreateWindowFromState(mem), nullptr);  // no "WindowType"
  ASSERT_EQ(f.system.asBox.size(), 2u);
  EXPECT_EQ(f.system.asBox[0],
            "VantrelExplorer|The application asked to open a window of type \"PatchBrowser\", which doesn't exist.");
  EXPECT_EQ(f.system.asBox[1], "VantrelExplorer|The application asked to open a window of type \"NULL\", which doesn't exist.");
  EXPECT_TRUE(f.factory.Windows().empty());
}

TEST(Factory, WorkspaceRoundTripRestoresWindowsAndPlaces) {
  fs::path dir = TempDir("roundtrip");
  std::string sPath = (dir / "user.xml").string();
  std::vector<std::pair<std::string, KSRect>> aSaved;
  {
    FakeFactory f;
    KSWinMemento mem;
    KSWin* pwinMain = f.factory.CreateWindowOfType(kTypeMain, mem);
    pwinMain->PlatformPlace({30, 40, 700, 450});
    KSWinMemento memScope;
    memScope.SetString("Note", "probe 1");
    f.factory.CreateWindowOfType(kTypeOscilloscope, memScope)->PlatformPlace({800, 100, 320, 240});
    f.factory.CreateWindowOfType(kTypeEditor, mem)->PlatformPlace({60, 500, 640, 400});
    f.factory.CreateWindowOfType(kTypeOscilloscope, mem)->PlatformPlace({1200, 600, 300, 200});
    for (KSWin* pwin : f.factory.Windows()) aSaved.push_back({pwin->Type()->sName, pwin->PlatformRect()});
    f.factory.LoadUserOrDefaultWorkspace(sPath.c_str(), "/nonexistent.xml");  // fails, keeps the paths
    EXPECT_EQ(f.factory.UserWorkspace(), sPath);
    f.factory.SaveUserWorkspace();
  }
  FakeFactory f;
  ASSERT_TRUE(f.factory.LoadWorkspace(sPath.c_str()));
  ASSERT_EQ(f.factory.Windows().size(), aSaved.size());
  for (size_t i = 0; i < aSaved.size(); ++i) {
    EXPECT_EQ(f.factory.Windows()[i]->Type()->sName, aSaved[i].first) << i;
    EXPECT_EQ(f.factory.Windows()[i]->PlatformRect(), aSaved[i].second) << i;
  }
  EXPECT_EQ(static_cast<FakeWin*>(f.factory.Windows()[1])->sNote, "probe 1");  // the window's own key
  EXPECT_EQ(f.factory.Windows()[0], f.pwinFirst);
}

TEST(Factory, WorkspaceWithoutWindowsFallsBackToTheDefault) {
  fs::path dir = TempDir("fallback");
  WriteText(dir / "default.xml",
            "<Workspace><Window_Count>1</Window_Count><Window0>" + WindowXml(kTypeMain, 1, 2, 300, 200) +
                "</Window0></Workspace>");
  struct Case {
    const char* pszName;
    std::string sUser;  // "" for no file
  };
  const Case kaCase[] = {
      {"count 0", "<Workspace><Window_Count>0</Window_Count></Workspace>"},
      {"negative count", "<Workspace><Window_Count>-3</Window_Count></Workspace>"},
      {"no count", "<Workspace><Window0>" + WindowXml(kTypeEditor, 0, 0, 10, 10) + "</Window0></Workspace>"},
      {"no file", ""},
  };
  for (const Case& c : kaCase) {
    FakeFactory f;
    fs::path user = dir / "user.xml";
    fs::remove(user);
    if (!c.sUser.empty()) WriteText(user, c.sUser);
    EXPECT_TRUE(f.factory.LoadUserOrDefaultWorkspace(user.c_str(), (dir / "default.xml").c_str())) << c.pszName;
    ASSERT_EQ(f.factory.Windows().size(), 1u) << c.pszName;
    EXPECT_EQ(f.factory.Windows()[0]->PlatformRect(), (KSRect{1, 2, 300, 200})) << c.pszName;
  }
  FakeFactory f;
  EXPECT_FALSE(f.factory.LoadUserOrDefaultWorkspace((dir / "none.xml").c_str(), (dir / "none2.xml").c_str()));
  EXPECT_TRUE(f.factory.Windows().empty());
}

TEST(Factory, WorkspacePlacesWindowsOnTheScreens) {
  fs::path dir = TempDir("clamp");
  WriteText(dir / "ws.xml", "<Workspace><Window_Count>2</Window_Count><Window0><WindowType>VantrelIDE</WindowType>"
                            "<X>9000</X><Y>100</Y><Width>640</Width><Height>480</Height></Window0><Window1>"
                            "<WindowType>Oscilloscope</WindowType><X>300</X><Y>200</Y><Height>480</Height>"
                            "</Window1></Workspace>");
  FakeFactory f;
  f.system.rectScreen = {0, 0, 1600, 900};
  ASSERT_TRUE(f.factory.LoadWorkspace((dir / "ws.xml").c_str()));
  ASSERT_EQ(f.factory.Windows().size(), 2u);
  EXPECT_EQ(f.factory.Windows()[0]->PlatformRect(), (KSRect{960, 100, 640, 480}));
  EXPECT_EQ(f.factory.Windows()[1]->PlatformRect(), (KSRect{300, 200, 200, 200}));
}

TEST(Factory, OpenWindowPrefersTheUsersTemplate) {
  fs::path dir = TempDir("templates");
  FakeFactory f(dir.string());
  WriteText(dir / "Oscilloscope.xml", WindowXml(kTypeOscilloscope, 5, 6, 300, 200));
  EXPECT_EQ(f.factory.OpenWindow(kTypeOscilloscope)->PlatformRect(), (KSRect{5, 6, 300, 200}));
  WriteText(dir / "Oscilloscope-test.xml", WindowXml(kTypeOscilloscope, 7, 8, 310, 210));
  EXPECT_EQ(f.factory.OpenWindow(kTypeOscilloscope)->PlatformRect(), (KSRect{7, 8, 310, 210}));
  // No template at all: an empty state, so the fallback size.
  EXPECT_EQ(f.factory.OpenWindow(kTypeMain)->PlatformRect().iWidth, 200);

  // Saving templates: a named variant, the default one, the user's.
  KSWin* pwin = f.factory.Windows()[0];
  f.factory.SaveTemplate(pwin, "wide");
  f.factory.SaveTemplate(pwin, "default");
  f.factory.SaveTemplate(pwin, "");
  EXPECT_TRUE(fs::exists(dir / "Oscilloscope-test-wide.xml"));
  f.factory.Windows()[1]->PlatformPlace({50, 60, 320, 220});
  f.factory.SaveTemplate(f.factory.Windows()[1], "");
  EXPECT_EQ(f.factory.OpenWindow(kTypeOscilloscope)->PlatformRect(), (KSRect{50, 60, 320, 220}));
}

// A read-only installation's user keeps saved templates and workspaces in a folder of their own,
// made when first needed; reading looks there before the installed templates.
TEST(Factory, UsersTemplateFolderIsWrittenAndReadBeforeTheInstalledOne) {
  fs::path dir = TempDir("usertemplates");
  auto ReadText = [](const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  fs::path installed = dir / "installed", user = dir / "home/template";
  fs::create_directories(installed);
  WriteText(installed / "Oscilloscope.xml", WindowXml(kTypeOscilloscope, 5, 6, 300, 200));
  FakeFactory f(installed.string());
  f.factory.SetUserTemplateDir(user.string());
  KSWin* pwin = f.factory.OpenWindow(kTypeOscilloscope);
  EXPECT_EQ(pwin->PlatformRect(), (KSRect{5, 6, 300, 200}));

  pwin->PlatformPlace({50, 60, 320, 220});
  f.factory.SaveTemplate(pwin, "default");
  EXPECT_TRUE(fs::exists(user / "Oscilloscope.xml"));
  EXPECT_EQ(f.factory.OpenWindow(kTypeOscilloscope)->PlatformRect(), (KSRect{50, 60, 320, 220}));
  pwin->PlatformPlace({70, 80, 330, 230});
  f.factory.SaveTemplate(pwin, "");
  EXPECT_TRUE(fs::exists(user / "Oscilloscope-test.xml"));
  EXPECT_EQ(f.factory.OpenWindow(kTypeOscilloscope)->PlatformRect(), (KSRect{70, 80, 330, 230}));
  // The installed template is as shipped, and the only file there.
  EXPECT_NE(ReadText(installed / "Oscilloscope.xml").find("<X>5</X>"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(installed), fs::directory_iterator()), 1);

  // A workspace saved into a folder that does not exist yet.
  f.factory.SaveWorkspace((dir / "home/workspace/test.xml").c_str());
  EXPECT_NE(ReadText(dir / "home/workspace/test.xml").find("</Workspace>"), std::string::npos);
}

TEST(Factory, ClosingRemovesTheWindowFromItsTypeAndTheFactory) {
  FakeFactory f;
  KSWinMemento mem;
  KSWin* pwinMain = f.factory.CreateWindowOfType(kTypeMain, mem);
  KSWin* pwinEditor = f.factory.CreateWindowOfType(kTypeEditor, mem);
  pwinEditor->Close();
  EXPECT_EQ(f.factory.FindWindowOfType(kTypeEditor), nullptr);
  EXPECT_EQ(f.factory.Windows(), std::vector<KSWin*>{pwinMain});
  EXPECT_NE(f.factory.CreateWindowOfType(kTypeEditor, mem), nullptr);  // the single instance can open again
}

}  // namespace
