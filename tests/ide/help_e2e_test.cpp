// The help window end to end, in a virtual X server: opened from the main window's Help menu on
// the module reference, then turned to the oscillator's page through its topic line, the page a
// patch author gets for a section of type Osc; a picture of it taken; the program ended from the
// main window's menu. What the windows show is read from the status log, where they trace it.
#include "ide_e2e_support.h"

namespace {

using namespace ide_e2e;

// The help window needs no MIDI and no sound, so no JACK server of its own; the program is sent
// to a server name nobody runs, so that it leaves the machine's shared server alone and plays
// on its clock.
class HelpE2eTest : public IdeE2eTest {
 protected:
  bool NeedsJack() const override { return false; }
  void SetUp() override {
    IdeE2eTest::SetUp();
    env["JACK_DEFAULT_SERVER"] = "vantrel-help-test-none-" + std::to_string(getpid());
  }
};

TEST_F(HelpE2eTest, HelpMenuOpensTheManualOnAModulePage) {
  std::ofstream(install / "workspace/idetest.xml")
      << "<Workspace>\n<Window_Count>1</Window_Count>\n<Window0>\n<WindowType>VantrelIDE</WindowType>\n"
         "<X>20</X>\n<Y>30</Y>\n<Width>780</Width>\n<Height>460</Height>\n</Window0>\n</Workspace>\n";
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

  // Opens a menu of the main window with its key once the window traces that it shows.
  auto Menu = [&](const std::string& sMenu, const char* pszMenuKey, const char* pszItemKey) {
    auto Openings = [&] {
      std::string sLog = Log(), sTrace = "main window: menu opened: " + sMenu;
      size_t n = 0;
      for (size_t i = 0; (i = sLog.find(sTrace, i)) != std::string::npos; ++i) ++n;
      return n;
    };
    size_t nBefore = Openings();
    Xdotool("windowfocus --sync " + sMain);
    Xdotool(std::string("key ") + pszMenuKey);
    EXPECT_TRUE(WaitFor([&] { return Openings() > nBefore; }, kStepSeconds)) << Log();
    Xdotool(std::string("key ") + pszItemKey);
  };

  // Help, Module Reference: the help window opens on the list of module types.
  Menu("Help", "alt+h", "m");
  ASSERT_TRUE(LogHas("help window: topic \"modules\": modules.md")) << Log();
  ASSERT_TRUE(LogHas("help window: page: modules.md (Module reference)")) << Log();
  std::string sHelp;
  ASSERT_TRUE(WaitFor(
      [&] {
        sHelp = Xdotool("search --name 'Help$'");
        return !sHelp.empty();
      },
      kStepSeconds))
      << Log();
  sHelp = sHelp.substr(0, sHelp.find('\n'));

  // The topic line, as a person types it: the oscillator's page.
  Xdotool("windowfocus --sync " + sHelp);
  Xdotool("key --window " + sHelp + " ctrl+l");
  Xdotool("type --window " + sHelp + " --delay 50 Osc");
  Xdotool("key --window " + sHelp + " Return");
  ASSERT_TRUE(LogHas("help window: topic \"Osc\": modules/Osc.md")) << Log();
  ASSERT_TRUE(LogHas("help window: page: modules/Osc.md (Osc: the audio oscillator)")) << Log();

  // The picture a person looks at: the page with its text and its generated tables.
  fs::path png = fs::path(SCREENSHOT_DIR) / "vantrel-ide-help.png";
  fs::remove(png);
  pid_t pidGrab = Spawn({IDE_GRAB, sHelp, png.string()}, env, dir / "grab.out");
  EXPECT_EQ(Wait(pidGrab, kStepSeconds), 0) << ReadText(dir / "grab.out");
  EXPECT_TRUE(fs::exists(png));

  // A second choice from the menu turns the same window, not a new one.
  Menu("Help", "alt+h", "f");
  EXPECT_TRUE(LogHas("help window: page: functions.md (Functions, operators and units)")) << Log();
  EXPECT_EQ(Xdotool("search --name 'Help$'"), sHelp + "\n");

  Menu("File", "alt+f", "x");
  int iExit = Wait(pidIde, kStepSeconds);
  pidIde = -1;
  EXPECT_EQ(iExit, 0) << ReadText(dir / "ide.out") << Log();
}

}  // namespace
