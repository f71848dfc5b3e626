// The desktop application end to end, in a virtual X server: started with a patch, its window
// found by its title, a note sent to its virtual MIDI input by a second client (over JACK), the
// voice count and the last MIDI message seen changing, a second start handing over another
// patch, the workspace saved from the menu, a picture of the window taken, and the exit through
// the menu with status 0. What the window shows is read from its status log, where the main
// window traces every change of its texts. Skips where Xvfb, xdotool or JACK are missing.
#include "ide_e2e_support.h"

namespace {

using namespace ide_e2e;

TEST_F(IdeE2eTest, PlaysFromMidiTakesAHandOverSavesAndExits) {
  // The user's workspace: the main window with the virtual MIDI port as its device.
  std::ofstream(install / "workspace/idetest.xml")
      << "<Workspace>\n<Window_Count>1</Window_Count>\n<Window0>\n<WindowType>VantrelIDE</WindowType>\n"
         "<X>20</X>\n<Y>30</Y>\n<Width>780</Width>\n<Height>460</Height>\n"
         "<MIDIDevDefault>virtual</MIDIDevDefault>\n</Window0>\n</Workspace>\n";
  std::string sSine = std::string(VANTREL_TEST_DATA) + "/ide/sine.vantrel";
  pidIde = Spawn({VANTREL_IDE, "--install", install.string(), sSine}, env, dir / "ide.out");

  std::string sWindow;
  ASSERT_TRUE(WaitFor(
      [&] {
        sWindow = Xdotool("search --name '^VantrelIDE$'");
        return !sWindow.empty();
      },
      kStartSeconds))
      << ReadText(dir / "ide.out") << Log();
  sWindow = sWindow.substr(0, sWindow.find('\n'));
  ASSERT_TRUE(LogHas("main window: MIDI Status: MIDI successfully started")) << Log();
  ASSERT_TRUE(LogHas("LoadPatch( \"" + sSine + "\", 0 ) = 0")) << Log();
  EXPECT_TRUE(LogHas("main window: Voices: 0")) << Log();
  // The desktop knows the file types now.
  EXPECT_TRUE(fs::exists(dir / "home/share/applications/vantrel-ide.desktop"));
  EXPECT_TRUE(fs::exists(dir / "home/share/mime/packages/vantrel.xml"));

  // A note from another program into the virtual port.
  pid_t pidSend = Spawn({MIDI_SEND, "--wait", "60", "vantrel-midi:in", "0:on:69:100"}, env, dir / "send.out");
  ASSERT_EQ(Wait(pidSend, kStepSeconds), 0) << ReadText(dir / "send.out");
  EXPECT_TRUE(LogHas("main window: MIDI Msg: Ch01: NoteOn A4 (69) Vel 100")) << Log();
  EXPECT_TRUE(LogHas("main window: Voices: 1")) << Log();

  // The picture a person looks at: the window as it is now, with its voice and message.
  fs::path png = fs::path(SCREENSHOT_DIR) / "vantrel-ide-main.png";
  fs::remove(png);
  pid_t pidGrab = Spawn({IDE_GRAB, sWindow, png.string()}, env, dir / "grab.out");
  EXPECT_EQ(Wait(pidGrab, kStepSeconds), 0) << ReadText(dir / "grab.out");
  EXPECT_TRUE(fs::exists(png));

  // A second start hands its patch to the first and ends without a window of its own.
  std::string sSquare = std::string(VANTREL_TEST_DATA) + "/ide/square.vantrel";
  pid_t pidSecond = Spawn({VANTREL_IDE, "--install", install.string(), sSquare}, env, dir / "second.out");
  EXPECT_EQ(Wait(pidSecond, kStartSeconds), 0) << ReadText(dir / "second.out");
  EXPECT_TRUE(LogHas("found another VantrelIDE running, so asking it to execute the command line \"" + sSquare + "\""))
      << Log();
  EXPECT_TRUE(LogHas("LoadPatch( \"" + sSquare + "\", 0 ) = 0")) << Log();
  EXPECT_EQ(Xdotool("search --name '^VantrelIDE$'").size(), sWindow.size() + 1);  // still one window

  // The menu: File, Save Workspace; then File, Exit.
  // The window traces each opening of its File menu; a key is sent once the menu shows.
  auto Menu = [&](const char* pszKey) {
    auto Openings = [&] {
      std::string sLog = Log();
      size_t n = 0;
      for (size_t i = 0; (i = sLog.find("main window: menu opened: File", i)) != std::string::npos; ++i) ++n;
      return n;
    };
    size_t nBefore = Openings();
    Xdotool("windowfocus --sync " + sWindow);
    Xdotool("key alt+f");
    EXPECT_TRUE(WaitFor([&] { return Openings() > nBefore; }, kStepSeconds)) << Log();
    Xdotool(std::string("key ") + pszKey);
  };
  fs::path workspace = install / "workspace/idetest.xml";
  fs::remove(workspace);
  Menu("w");
  ASSERT_TRUE(WaitFor([&] { return ReadText(workspace).find("</Workspace>") != std::string::npos; }, kStepSeconds))
      << Log();
  std::string sSaved = ReadText(workspace);
  EXPECT_NE(sSaved.find("<WindowType>VantrelIDE</WindowType>"), std::string::npos) << sSaved;
  EXPECT_NE(sSaved.find("<MIDIDevDefault>virtual</MIDIDevDefault>"), std::string::npos) << sSaved;
  EXPECT_NE(sSaved.find("<Window_Count>1</Window_Count>"), std::string::npos) << sSaved;

  Menu("x");
  int iExit = Wait(pidIde, kStepSeconds);
  pidIde = -1;
  EXPECT_EQ(iExit, 0) << ReadText(dir / "ide.out") << Log();

  // The next start opens the saved workspace: the window where it was, the virtual port open
  // again. Its patch has a compile error, which the message list shows with its line.
  fs::remove_all(install / "log");
  std::string sBad = std::string(VANTREL_TEST_DATA) + "/ide/bad.vantrel";
  pidIde = Spawn({VANTREL_IDE, "--install", install.string(), sBad}, env, dir / "ide2.out");
  ASSERT_TRUE(WaitFor(
      [&] {
        sWindow = Xdotool("search --name '^VantrelIDE$'");
        return !sWindow.empty();
      },
      kStartSeconds))
      << ReadText(dir / "ide2.out") << Log();
  sWindow = sWindow.substr(0, sWindow.find('\n'));
  EXPECT_TRUE(LogHas("main window: MIDI Status: MIDI successfully started")) << Log();
  EXPECT_TRUE(LogHas("LoadPatch( \"" + sBad + "\", 0 ) = -1")) << Log();
  EXPECT_TRUE(LogHas("Osc1:Frequency")) << Log();
  EXPECT_TRUE(LogHas("(line 5)")) << Log();
  std::string sGeometry = Xdotool("getwindowgeometry " + sWindow);
  auto Saved = [&](const char* pszKey) {
    size_t i = sSaved.find(std::string("<") + pszKey + ">");
    return i == std::string::npos ? std::string("?") : sSaved.substr(i + strlen(pszKey) + 2, sSaved.find('<', i + 1) - i - strlen(pszKey) - 2);
  };
  EXPECT_NE(sGeometry.find("Position: " + Saved("X") + "," + Saved("Y")), std::string::npos) << sGeometry << sSaved;
  EXPECT_NE(sGeometry.find("Geometry: " + Saved("Width") + "x" + Saved("Height")), std::string::npos) << sGeometry << sSaved;
  Menu("x");
  iExit = Wait(pidIde, kStepSeconds);
  pidIde = -1;
  EXPECT_EQ(iExit, 0) << ReadText(dir / "ide2.out") << Log();
}

}  // namespace
