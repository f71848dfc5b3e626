// The performance keyboard and the patch browser end to end, in a virtual X server: both opened
// from the main window's Window menu; a computer key held in the performance window starts a
// note and its release ends it (the main window's voice count rises and falls back); a click on
// the browser's Demo tab and then on a patch installs that patch; a collection whose folder is
// missing shows a box and keeps the rows; the workspace saved with both windows opens them again
// at the next start. Pictures of both windows are saved. What the windows show is read from the
// status log, where they trace it.
#include <cctype>
#include <regex>

#include "ide_e2e_support.h"

namespace {

using namespace ide_e2e;

class PerfBrowseE2eTest : public IdeE2eTest {
 protected:
  // The keys reach the patches without MIDI, and the engine renders on its clock without a
  // sound device.
  bool NeedsJack() const override { return false; }
  size_t Count(const std::string& s) {
    std::string sLog = Log();
    size_t n = 0;
    for (size_t i = 0; (i = sLog.find(s, i)) != std::string::npos; ++i) ++n;
    return n;
  }
  // Opens a menu of the main window and chooses the item of the key once the menu shows.
  void Menu(const std::string& sMain, const char* pszMenu, const char* pszKey) {
    std::string sOpened = std::string("main window: menu opened: ") + pszMenu;
    size_t nBefore = Count(sOpened);
    Xdotool("windowfocus --sync " + sMain);
    Xdotool(std::string("key alt+") + static_cast<char>(tolower(pszMenu[0])));
    ASSERT_TRUE(WaitFor([&] { return Count(sOpened) > nBefore; }, kStepSeconds)) << Log();
    Xdotool(std::string("key ") + pszKey);
  }
  // The place a window traced for a thing it shows ("patch browser: tab Demo at X,Y"), the
  // last one traced; false when it has not been traced yet.
  bool TracedPlace(const std::string& sWhat, int* piX, int* piY) {
    std::regex re(sWhat + " at (-?[0-9]+),(-?[0-9]+)");
    std::string sLog = Log();
    std::smatch match;
    bool bFound = false;
    for (auto it = sLog.cbegin(); std::regex_search(it, sLog.cend(), match, re); it = match.suffix().first) {
      *piX = std::stoi(match[1]);
      *piY = std::stoi(match[2]);
      bFound = true;
    }
    return bFound;
  }
  void Click(const std::string& sWindow, const std::string& sWhat) {
    int iX = 0, iY = 0;
    ASSERT_TRUE(WaitFor([&] { return TracedPlace(sWhat, &iX, &iY); }, kStepSeconds)) << Log();
    Xdotool("mousemove --sync --window " + sWindow + " " + std::to_string(iX) + " " + std::to_string(iY));
    Xdotool("click 1");
  }
  void Grab(const std::string& sWindow, const char* pszFile) {
    fs::path png = fs::path(SCREENSHOT_DIR) / pszFile;
    fs::remove(png);
    pid_t pidGrab = Spawn({IDE_GRAB, sWindow, png.string()}, env, dir / "grab.out");
    EXPECT_EQ(Wait(pidGrab, kStepSeconds), 0) << ReadText(dir / "grab.out");
    EXPECT_TRUE(fs::exists(png)) << png;
  }
};

TEST_F(PerfBrowseE2eTest, KeysPlayNotesAndTheBrowserInstallsAPatch) {
  std::string sSine = std::string(VANTREL_TEST_DATA) + "/ide/sine.vantrel";
  pidIde = Spawn({VANTREL_IDE, "--install", install.string(), sSine}, env, dir / "ide.out");
  std::string sMain;
  ASSERT_TRUE(WaitFor(
      [&] {
        sMain = Xdotool("search --name '^VantrelIDE$'");
        return !sMain.empty();
      },
      kStartSeconds))
      << ReadText(dir / "ide.out") << Log();
  sMain = sMain.substr(0, sMain.find('\n'));
  ASSERT_TRUE(LogHas("LoadPatch( \"" + sSine + "\", 0 ) = 0")) << Log();
  ASSERT_TRUE(LogHas("main window: Voices: 0")) << Log();

  // The performance keyboard: the home row's A is C4, held and let go.
  Menu(sMain, "Window", "i");
  std::string sPerf = FindWindow("^Performance Input$");
  ASSERT_FALSE(sPerf.empty()) << Log();
  EXPECT_TRUE(LogHas("performance input: 18 keys")) << Log();
  Xdotool("windowfocus --sync " + sPerf);
  Xdotool("keydown a");
  ASSERT_TRUE(LogHas("performance input: key 65: NoteOn 60 on channel 0")) << Log();
  ASSERT_TRUE(LogHas("main window: Voices: 1")) << Log();
  Grab(sPerf, "vantrel-ide-performance.png");
  // Held until the keyboard repeats it: still one note.
  EXPECT_TRUE(LogHas("performance input: key 65 repeated")) << Log();
  EXPECT_EQ(Count("NoteOn 60"), 1u);
  Xdotool("keyup a");
  EXPECT_TRUE(LogHas("performance input: key 65: NoteOff 60 on channel 0")) << Log();
  EXPECT_TRUE(WaitFor(
      [&] {
        std::string sLog = Log();
        size_t iUp = sLog.find("main window: Voices: 1");
        return iUp != std::string::npos && sLog.find("main window: Voices: 0", iUp) != std::string::npos;
      },
      kStepSeconds))
      << Log();
  EXPECT_EQ(Count("NoteOn 60"), 1u);

  // The patch browser: its first tab is listed at once; the Demo tab, then a patch of it.
  Menu(sMain, "Window", "b");
  std::string sBrowser = FindWindow("^Patch Browser: Tutorial$");
  ASSERT_FALSE(sBrowser.empty()) << Log();
  EXPECT_TRUE(LogHas("patch browser: Tutorial: 13 patches")) << Log();
  Click(sBrowser, "patch browser: tab Demo");
  ASSERT_TRUE(LogHas("patch browser: Demo: 13 patches")) << Log();
  EXPECT_FALSE(FindWindow("^Patch Browser: Demo$").empty());
  Click(sBrowser, "patch browser: row AnalogBass");
  std::string sBass = (install / "patch/demo/AnalogBass.vantrel").string();
  EXPECT_TRUE(LogHas("LoadPatch( \"" + sBass + "\", 0 ) = 0")) << Log();
  Grab(sBrowser, "vantrel-ide-browser.png");
  // A collection whose folder is gone: a box says so and the Demo rows stay, still loading.
  fs::remove_all(install / "patch/user");
  Click(sBrowser, "patch browser: tab User");
  EXPECT_TRUE(LogHas("patch browser: Cannot Read Directory: Cannot read \"" + (install / "patch/user").string() + "/*\": 2"))
      << Log();
  EXPECT_FALSE(FindWindow("^Cannot Read Directory$").empty());
  Click(sBrowser, "patch browser: row FMBells");
  EXPECT_TRUE(LogHas("LoadPatch( \"" + (install / "patch/demo/FMBells.vantrel").string() + "\", 0 ) = 0")) << Log();

  // The installed patch plays from the keyboard too; the semicolon key by its virtual key.
  Xdotool("windowfocus --sync " + sPerf);
  Xdotool("keydown h");
  EXPECT_TRUE(LogHas("performance input: key 72: NoteOn 69 on channel 0")) << Log();
  Xdotool("keyup h");
  EXPECT_TRUE(LogHas("performance input: key 72: NoteOff 69 on channel 0")) << Log();
  Xdotool("key semicolon");
  EXPECT_TRUE(LogHas("performance input: key 186: NoteOff 76 on channel 0")) << Log();

  // File, Save Workspace keeps both windows; then File, Exit ends the program with status 0.
  fs::path workspace = install / "workspace/idetest.xml";
  Menu(sMain, "File", "w");
  ASSERT_TRUE(WaitFor([&] { return ReadText(workspace).find("</Workspace>") != std::string::npos; }, kStepSeconds))
      << Log();
  std::string sSaved = ReadText(workspace);
  EXPECT_NE(sSaved.find("<WindowType>Performance Input</WindowType>"), std::string::npos) << sSaved;
  EXPECT_NE(sSaved.find("<WindowType>PatchBrowser</WindowType>"), std::string::npos) << sSaved;
  Menu(sMain, "File", "x");
  int iExit = Wait(pidIde, kStepSeconds);
  pidIde = -1;
  EXPECT_EQ(iExit, 0) << ReadText(dir / "ide.out") << Log();

  // The next start opens the saved workspace with both windows, the keyboard ready to play.
  fs::remove_all(install / "log");
  pidIde = Spawn({VANTREL_IDE, "--install", install.string(), sSine}, env, dir / "ide2.out");
  sPerf = FindWindow("^Performance Input$");
  ASSERT_FALSE(sPerf.empty()) << ReadText(dir / "ide2.out") << Log();
  EXPECT_FALSE(FindWindow("^Patch Browser: Tutorial$").empty()) << Log();
  ASSERT_TRUE(LogHas("LoadPatch( \"" + sSine + "\", 0 ) = 0")) << Log();
  Xdotool("windowfocus --sync " + sPerf);
  Xdotool("key w");
  EXPECT_TRUE(LogHas("performance input: key 87: NoteOff 61 on channel 0")) << Log();
  sMain = FindWindow("^VantrelIDE$");
  Menu(sMain, "File", "x");
  iExit = Wait(pidIde, kStepSeconds);
  pidIde = -1;
  EXPECT_EQ(iExit, 0) << ReadText(dir / "ide2.out") << Log();
}

}  // namespace
