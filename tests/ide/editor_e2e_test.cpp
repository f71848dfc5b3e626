// The patch editor end to end, in a virtual X server: a patch shown in the editor, an error typed
// into it and applied with F5 (the tab's icon, the red line, the underlined stretch, the message
// list's line, the previous patch still playing, no history copy kept), then fixed and applied
// again (the new patch playing, the time-stamped copy in patch/edit_history), undone and redone
// across the apply, a variable completed, the help key, saved with Ctrl+S, and the exit. What the windows show is read from their
// traces in the status log; a picture of the editor with its error is saved for a person to look at.
#include <regex>

#include "ide_e2e_support.h"

namespace {

using namespace ide_e2e;

class EditorE2eTest : public IdeE2eTest {
 protected:
  // The log from a point on, so that a trace seen before that point does not count.
  bool LogHasAfter(size_t iFrom, const std::string& s) {
    return WaitFor([&] { std::string sLog = Log(); return sLog.size() > iFrom && sLog.find(s, iFrom) != std::string::npos; },
                   kStepSeconds);
  }
  void SendNote(int iKey) {
    pid_t pidSend = Spawn({MIDI_SEND, "--wait", "60", "vantrel-midi:in", "0:on:" + std::to_string(iKey) + ":100"}, env,
                          dir / "send.out");
    ASSERT_EQ(Wait(pidSend, kStepSeconds), 0) << ReadText(dir / "send.out");
  }
  std::vector<fs::path> HistoryFiles() {
    std::vector<fs::path> apath;
    if (fs::exists(install / "patch/edit_history"))
      for (const auto& entry : fs::directory_iterator(install / "patch/edit_history")) apath.push_back(entry.path());
    return apath;
  }
};

TEST_F(EditorE2eTest, AnErrorIsShownWhereItIsAndTheFixIsPlayedAndKept) {
  std::ofstream(install / "workspace/idetest.xml")
      << "<Workspace>\n<Window_Count>2</Window_Count>\n"
         "<Window0>\n<WindowType>VantrelIDE</WindowType>\n<X>0</X>\n<Y>0</Y>\n<Width>600</Width>\n<Height>420</Height>\n"
         "<MIDIDevDefault>virtual</MIDIDevDefault>\n</Window0>\n"
         "<Window1>\n<WindowType>Patch Editor</WindowType>\n<X>610</X>\n<Y>0</Y>\n<Width>640</Width>\n<Height>520</Height>\n"
         "</Window1>\n</Workspace>\n";
  fs::path patch = dir / "lead.vantrel";
  std::ofstream(patch) << "# A lead for the editor's test.\n# Play: any note.\n\n[Osc1]\nFrequency = Pitch\nWaveform = Sawtooth\n\n"
                          "[Voice]\nPreGain = Osc1 * 0.3\n";
  pidIde = Spawn({VANTREL_IDE, "--install", install.string(), patch.string()}, env, dir / "ide.out");
  std::string sMain = FindWindow("^VantrelIDE$");
  ASSERT_FALSE(sMain.empty()) << ReadText(dir / "ide.out") << Log();
  std::string sEditor = FindWindow("Editor: lead$");
  ASSERT_FALSE(sEditor.empty()) << Log();
  ASSERT_TRUE(LogHas("editor: showing \"" + patch.string() + "\"")) << Log();
  ASSERT_TRUE(LogHas("LoadPatch( \"" + patch.string() + "\", 0 ) = 0")) << Log();
  ASSERT_TRUE(LogHas("main window: MIDI Status: MIDI successfully started")) << Log();
  SendNote(69);
  ASSERT_TRUE(LogHas("main window: Voices: 1")) << Log();

  // An unknown name typed at the end of the last line, then F5.
  size_t iBeforeError = Log().size();
  Xdotool("windowfocus --sync " + sEditor);
  Xdotool("key ctrl+End BackSpace");
  Xdotool("type --delay 20 ' * Pich'");
  ASSERT_TRUE(LogHasAfter(iBeforeError, "editor: tab 0 icon: edited since compile, not saved")) << Log();
  Xdotool("key F5");
  EXPECT_TRUE(LogHasAfter(iBeforeError, "/patch/edit_history/lead-")) << Log();
  std::regex reFailed("LoadPatch\\( \"[^\"]*/patch/edit_history/lead-[0-9]{8}-[0-9]{6}\\.vantrel\", 0 \\) = -1");
  EXPECT_TRUE(WaitFor([&] { return std::regex_search(Log().substr(iBeforeError), reFailed); }, kStepSeconds)) << Log();
  EXPECT_TRUE(LogHasAfter(iBeforeError, "editor: tab 0 icon: compiled with errors, not saved")) << Log();
  EXPECT_TRUE(LogHasAfter(iBeforeError, "editor: status: NOT SAVED! ... compiled with ERRORS")) << Log();
  EXPECT_TRUE(LogHasAfter(iBeforeError, "main window: message: Voice:PreGain")) << Log();
  EXPECT_TRUE(LogHasAfter(iBeforeError, ">>> Pich <<< ) (line 9)")) << Log();
  EXPECT_TRUE(LogHasAfter(iBeforeError, "editor: line 9 marked as error")) << Log();
  EXPECT_TRUE(LogHasAfter(iBeforeError, "editor: line 9 underlined from column 24 for 4 characters: \"Pich\" at ")) << Log();
  // The pointer over the stretch: its tooltip is the error's message.
  std::smatch match;
  std::string sLog = Log();
  ASSERT_TRUE(std::regex_search(sLog, match, std::regex("characters: \"Pich\" at ([0-9]+),([0-9]+)"))) << sLog;
  Xdotool("mousemove --window " + sEditor + " " + match[1].str() + " " + match[2].str());
  EXPECT_TRUE(LogHasAfter(iBeforeError, "editor: tooltip at line 9: Voice:PreGain - ")) << Log();
  EXPECT_TRUE(HistoryFiles().empty()) << "a copy that did not compile is not kept";
  // The previous patch still plays: the held note sounds on, and a second note joins it.
  EXPECT_EQ(Log().find("main window: Voices: 0", iBeforeError), std::string::npos) << Log();
  SendNote(72);
  EXPECT_TRUE(LogHasAfter(iBeforeError, "main window: Voices: 2")) << Log();

  // The picture a person looks at: the editor with the red line and its underlined stretch.
  fs::path png = fs::path(SCREENSHOT_DIR) / "vantrel-ide-editor.png";
  fs::remove(png);
  pid_t pidGrab = Spawn({IDE_GRAB, sEditor, png.string()}, env, dir / "grab.out");
  EXPECT_EQ(Wait(pidGrab, kStepSeconds), 0) << ReadText(dir / "grab.out");
  EXPECT_TRUE(fs::exists(png));

  // The fix, applied: the new patch replaces the old (its voices go) and plays.
  size_t iBeforeFix = Log().size();
  Xdotool("windowfocus --sync " + sEditor);
  Xdotool("key BackSpace BackSpace BackSpace BackSpace");
  Xdotool("type --delay 20 '0.5'");
  ASSERT_TRUE(LogHasAfter(iBeforeFix, "editor: tab 0 icon: edited since compile, not saved")) << Log();
  Xdotool("key F5");
  std::regex reApplied("LoadPatch\\( \"[^\"]*/patch/edit_history/lead-[0-9]{8}-[0-9]{6}\\.vantrel\", 0 \\) = 0");
  EXPECT_TRUE(WaitFor([&] { return std::regex_search(Log().substr(iBeforeFix), reApplied); }, kStepSeconds)) << Log();
  EXPECT_TRUE(LogHasAfter(iBeforeFix, "editor: tab 0 icon: compiled OK, not saved")) << Log();
  EXPECT_TRUE(LogHasAfter(iBeforeFix, "main window: Voices: 0")) << Log();
  size_t iBeforeNote = Log().size();
  SendNote(64);
  EXPECT_TRUE(LogHasAfter(iBeforeNote, "main window: Voices: 1")) << Log();
  std::vector<fs::path> ahistory = HistoryFiles();
  ASSERT_EQ(ahistory.size(), 1u);
  EXPECT_TRUE(std::regex_match(ahistory[0].filename().string(), std::regex("lead-[0-9]{8}-[0-9]{6}\\.vantrel")))
      << ahistory[0];
  EXPECT_NE(ReadText(ahistory[0]).find("PreGain = Osc1 * 0.3 * 0.5"), std::string::npos) << ReadText(ahistory[0]);
  // Undo reaches back across Apply, and redo returns to the text just compiled.
  size_t iBeforeUndo = Log().size();
  Xdotool("windowfocus --sync " + sEditor);
  Xdotool("key ctrl+z");
  EXPECT_TRUE(LogHasAfter(iBeforeUndo, "editor: status: NOT SAVED! ... edited since compile")) << Log();
  size_t iBeforeRedo = Log().size();
  Xdotool("key ctrl+shift+z");
  EXPECT_TRUE(LogHasAfter(iBeforeRedo, "editor: status: NOT SAVED! ... compiled OK")) << Log();
  // Apply keeps the copy; the file itself is saved only by Save.
  EXPECT_NE(ReadText(patch).find("PreGain = Osc1 * 0.3\n"), std::string::npos);

  // A variable of the oscillator completed from three letters on a new line of its section,
  // given a value and applied.
  size_t iBeforeCompletion = Log().size();
  Xdotool("key ctrl+Home Down Down Down Down Down End Return");
  Xdotool("type --delay 20 Pha");
  ASSERT_TRUE(LogHasAfter(iBeforeCompletion, "editor: completion offers 1 words for \"Pha\"")) << Log();
  Xdotool("key Return");
  Xdotool("type --delay 20 ' = 0.25'");
  size_t iBeforeApply = Log().size();
  Xdotool("key F5");
  EXPECT_TRUE(WaitFor([&] { return std::regex_search(Log().substr(iBeforeApply), reApplied); }, kStepSeconds)) << Log();
  EXPECT_TRUE(WaitFor(
      [&] {
        for (const fs::path& path : HistoryFiles())
          if (ReadText(path).find("Waveform = Sawtooth\nPhaseIn = 0.25\n") != std::string::npos) return true;
        return false;
      },
      kStepSeconds))
      << Log();
  // F1 asks for the help of the section's module type.
  Xdotool("key F1");
  EXPECT_TRUE(LogHasAfter(iBeforeApply, "editor: help asked for at line 7: module type \"Osc\"")) << Log();
  size_t iBeforeSave = Log().size();
  Xdotool("windowfocus --sync " + sEditor);
  Xdotool("key ctrl+s");
  EXPECT_TRUE(LogHasAfter(iBeforeSave, "editor: tab 0 icon: compiled OK, saved")) << Log();
  EXPECT_NE(ReadText(patch).find("PhaseIn = 0.25\n\n[Voice]\nPreGain = Osc1 * 0.3 * 0.5"), std::string::npos) << ReadText(patch);

  // The exit from the main window's menu: nothing unsaved, so no question holds it up.
  Xdotool("windowfocus --sync " + sMain);
  size_t iBeforeExit = Log().size();
  Xdotool("key alt+f");
  EXPECT_TRUE(LogHasAfter(iBeforeExit, "main window: menu opened: File")) << Log();
  Xdotool("key x");
  int iExit = Wait(pidIde, kStepSeconds);
  pidIde = -1;
  EXPECT_EQ(iExit, 0) << ReadText(dir / "ide.out") << Log();
}

}  // namespace
