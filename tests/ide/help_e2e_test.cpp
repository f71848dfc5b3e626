// The help window end to end, in a virtual X server: opened from the main window's Help menu on
// the module reference, then turned to the oscillator's page through its topic line; and opened
// by F1 in the patch editor on a section of type Osc, on the oscillator's page. Pictures of both
// are taken; the program ends from the main window's menu. What the windows show is read from the
// status log, where they trace it.
#include "ide_e2e_support.h"

namespace {

using namespace ide_e2e;

// The help window needs no MIDI and no sound, so no JACK server of its own.
class HelpE2eTest : public IdeE2eTest {
 protected:
  bool NeedsJack() const override { return false; }
  // The first window whose name matches, waited for; empty when none shows.
  std::string FindWindow(const std::string& sPattern) {
    std::string sWindow;
    WaitFor(
        [&] {
          sWindow = Xdotool("search --name '" + sPattern + "'");
          return !sWindow.empty();
        },
        kStartSeconds);
    return sWindow.substr(0, sWindow.find('\n'));
  }
};

TEST_F(HelpE2eTest, HelpMenuOpensTheManualOnAModulePage) {
  std::ofstream(install / "workspace/idetest.xml")
      << "<Workspace>\n<Window_Count>1</Window_Count>\n<Window0>\n<WindowType>VantrelIDE</WindowType>\n"
         "<X>20</X>\n<Y>30</Y>\n<Width>780</Width>\n<Height>460</Height>\n</Window0>\n</Workspace>\n";
  std::string sSine = std::string(VANTREL_TEST_DATA) + "/ide/sine.vantrel";
  pidIde = Spawn({VANTREL_IDE, "--install", install.string(), sSine}, env, dir / "ide.out");
  std::string sMain = FindWindow("^VantrelIDE$");
  ASSERT_FALSE(sMain.empty()) << ReadText(dir / "ide.out") << Log();
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
  std::string sHelp = FindWindow("Help$");
  ASSERT_FALSE(sHelp.empty()) << Log();

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

namespace {

// F1 in the patch editor, on a line of a section of type Osc, opens the oscillator's page; on the
// Voice section, the voice's page, in the same help window.
TEST_F(HelpE2eTest, F1InTheEditorOpensTheModulesPage) {
  std::ofstream(install / "workspace/idetest.xml")
      << "<Workspace>\n<Window_Count>2</Window_Count>\n"
         "<Window0>\n<WindowType>VantrelIDE</WindowType>\n<X>0</X>\n<Y>0</Y>\n<Width>600</Width>\n<Height>420</Height>\n"
         "</Window0>\n"
         "<Window1>\n<WindowType>Patch Editor</WindowType>\n<X>610</X>\n<Y>0</Y>\n<Width>640</Width>\n<Height>520</Height>\n"
         "</Window1>\n</Workspace>\n";
  fs::path patch = dir / "helpme.vantrel";
  std::ofstream(patch) << "# A patch to ask for help in.\n\n[Osc1]\nWaveform = Sine\n\n[Voice]\nPreGain = 0.5 * Osc1\n";
  pidIde = Spawn({VANTREL_IDE, "--install", install.string(), patch.string()}, env, dir / "ide.out");
  std::string sMain = FindWindow("^VantrelIDE$");
  ASSERT_FALSE(sMain.empty()) << ReadText(dir / "ide.out") << Log();
  std::string sEditor = FindWindow("Editor: helpme$");
  ASSERT_FALSE(sEditor.empty()) << Log();
  ASSERT_TRUE(LogHas("editor: showing \"" + patch.string() + "\"")) << Log();

  // The caret on "Waveform = Sine", in the section [Osc1].
  Xdotool("windowfocus --sync " + sEditor);
  Xdotool("key ctrl+Home Down Down Down F1");
  ASSERT_TRUE(LogHas("editor: help asked for at line 4: module type \"Osc\"")) << Log();
  ASSERT_TRUE(LogHas("help window: topic \"Osc\": modules/Osc.md")) << Log();
  ASSERT_TRUE(LogHas("help window: page: modules/Osc.md (Osc: the audio oscillator)")) << Log();
  std::string sHelp = FindWindow("Help$");
  ASSERT_FALSE(sHelp.empty()) << Log();
  fs::path png = fs::path(SCREENSHOT_DIR) / "vantrel-ide-help-f1.png";
  fs::remove(png);
  pid_t pidGrab = Spawn({IDE_GRAB, sHelp, png.string()}, env, dir / "grab.out");
  EXPECT_EQ(Wait(pidGrab, kStepSeconds), 0) << ReadText(dir / "grab.out");
  EXPECT_TRUE(fs::exists(png));

  // The caret on "PreGain = ...", in [Voice]: the same window turns to the voice's page.
  Xdotool("windowfocus --sync " + sEditor);
  Xdotool("key ctrl+End Up F1");
  EXPECT_TRUE(LogHas("editor: help asked for at line 7: module type \"Voice\"")) << Log();
  EXPECT_TRUE(LogHas("help window: page: modules/Voice.md (Voice: a voice's output and its end)")) << Log();
  EXPECT_EQ(Xdotool("search --name 'Help$'"), sHelp + "\n");

  Xdotool("windowfocus --sync " + sMain);
  Xdotool("key alt+f");
  EXPECT_TRUE(LogHas("main window: menu opened: File")) << Log();
  Xdotool("key x");
  int iExit = Wait(pidIde, kStepSeconds);
  pidIde = -1;
  EXPECT_EQ(iExit, 0) << ReadText(dir / "ide.out") << Log();
}

}  // namespace
