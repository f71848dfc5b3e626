// The oscilloscope end to end, in a virtual X server: a patch whose probe frames one period of a
// sine and a sawtooth plays a note sent over MIDI; the window's first graph shows the waveforms,
// its second, switched to a harmonic spectrum from the menu, the harmonics; Save CSV writes the
// captured samples; the settings go into the saved workspace; a picture of the window is taken.
// What the graphs show is read from the status log, where each graph traces what it draws.
#include <algorithm>
#include <cmath>
#include <regex>

#include "ide_e2e_support.h"

namespace {

using namespace ide_e2e;

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> as;
  std::stringstream ss(s);
  for (std::string sLine; std::getline(ss, sLine);) as.push_back(sLine);
  return as;
}

class ScopeE2eTest : public IdeE2eTest {
 protected:
  // The last line of the log that contains every one of the texts, or "".
  std::string LastLineWith(const std::vector<std::string>& asText) {
    std::string sFound;
    for (const std::string& sLine : Lines(Log())) {
      bool bAll = true;
      for (const std::string& s : asText) bAll = bAll && sLine.find(s) != std::string::npos;
      if (bAll) sFound = sLine;
    }
    return sFound;
  }
  bool WaitLine(const std::vector<std::string>& asText, std::string* psLine) {
    return WaitFor([&] { return !(*psLine = LastLineWith(asText)).empty(); }, kStepSeconds);
  }
  size_t Count(const std::string& s) {
    std::string sLog = Log();
    size_t n = 0;
    for (size_t i = 0; (i = sLog.find(s, i)) != std::string::npos; ++i) ++n;
    return n;
  }
  // Opens a menu of the window with a key and waits until the window reports it open.
  void OpenMenu(const std::string& sWindow, const std::string& sKey, const std::string& sMenu) {
    std::string sTrace = "menu opened: " + sMenu;
    size_t nBefore = Count(sTrace);
    if (!sWindow.empty()) Xdotool("windowfocus --sync " + sWindow);
    Xdotool("key " + sKey);
    ASSERT_TRUE(WaitFor([&] { return Count(sTrace) > nBefore; }, kStepSeconds)) << sTrace << "\n" << Log();
  }
  std::string FindWindow(const char* pszTitle) {
    std::string s;
    EXPECT_TRUE(WaitFor([&] { return !(s = Xdotool(std::string("search --name '^") + pszTitle + "$'")).empty(); },
                        kStartSeconds))
        << pszTitle << "\n" << ReadText(dir / "ide.out") << Log();
    return s.substr(0, s.find('\n'));
  }
};

TEST_F(ScopeE2eTest, ShowsWaveformAndSpectrumAndSavesTheCapture) {
  // The main window with the virtual MIDI port, and the oscilloscope with two waveform graphs.
  std::ofstream(install / "workspace/idetest.xml")
      << "<Workspace>\n<Window_Count>2</Window_Count>\n"
         "<Window0>\n<WindowType>VantrelIDE</WindowType>\n<X>20</X>\n<Y>30</Y>\n<Width>760</Width>\n"
         "<Height>300</Height>\n<MIDIDevDefault>virtual</MIDIDevDefault>\n</Window0>\n"
         "<Window1>\n<WindowType>Oscilloscope</WindowType>\n<X>20</X>\n<Y>370</Y>\n<Width>1000</Width>\n"
         "<Height>400</Height>\n<Spectrum>0</Spectrum>\n<Spectrum2>0</Spectrum2>\n</Window1>\n</Workspace>\n";
  std::string sPatch = std::string(VANTREL_TEST_DATA) + "/ide/scope.vantrel";
  pidIde = Spawn({VANTREL_IDE, "--install", install.string(), sPatch}, env, dir / "ide.out");
  std::string sMain = FindWindow("VantrelIDE");
  std::string sScope = FindWindow("Oscilloscope");
  ASSERT_FALSE(sMain.empty());
  ASSERT_FALSE(sScope.empty());
  ASSERT_TRUE(LogHas("main window: MIDI Status: MIDI successfully started")) << Log();
  ASSERT_TRUE(LogHas("LoadPatch( \"" + sPatch + "\", 0 ) = 0")) << Log();
  EXPECT_TRUE(LogHas("oscilloscope: Y axes reset")) << "installing a patch resets the oscilloscope\n" << Log();

  pid_t pidSend = Spawn({MIDI_SEND, "--wait", "60", "vantrel-midi:in", "0:on:69:100"}, env, dir / "send.out");
  ASSERT_EQ(Wait(pidSend, kStepSeconds), 0) << ReadText(dir / "send.out");
  ASSERT_TRUE(LogHas("main window: Voices: 1")) << Log();

  // Both graphs show one period of both probes, named by their formulas, with the hint's pitch.
  std::string sLine;
  for (const char* pszGraph : {"graph 1", "graph 2"})
    EXPECT_TRUE(WaitLine({std::string("oscilloscope ") + pszGraph + ": waveform: ", " samples, 440.00 Hz (A4 +0.0 cents)",
                          "; Y -", "; Osc1:Output; Osc2:Output; caption: Osc1:Frequency=440.000000"},
                         &sLine))
        << Log();

  // Graph2, Harmonic X Axis: the menu bar's View menu, two to the right, then the item's key.
  OpenMenu(sScope, "alt+v", "&View");
  OpenMenu("", "Right", "Graph1");
  OpenMenu("", "Right", "Graph2");
  Xdotool("key h");
  ASSERT_TRUE(WaitLine({"oscilloscope graph 2: spectrum (harmonic X axis, dB power Y axis): ", "; Osc1:Output: h1="}, &sLine))
      << Log();
  // The sine has one harmonic; the rest lie far below it.
  std::smatch match;
  ASSERT_TRUE(std::regex_search(sLine, match, std::regex(R"(Osc1:Output: h1=(-?[0-9.]+) h[0-9]+=(-?[0-9.]+))"))) << sLine;
  double dFirst = std::stod(match[1]), dSecond = std::stod(match[2]);
  EXPECT_LT(dSecond, dFirst - 20) << sLine;
  // The sawtooth's power-weighted harmonics stand level: its strongest are far above the floor.
  ASSERT_TRUE(std::regex_search(sLine, match, std::regex(R"(Osc2:Output: h[0-9]+=(-?[0-9.]+) h[0-9]+=(-?[0-9.]+) h[0-9]+=(-?[0-9.]+))")))
      << sLine;
  EXPECT_GT(std::stod(match[3]), dFirst - 6) << sLine;
  // Graph 1 goes on showing the waveforms.
  EXPECT_FALSE(LastLineWith({"oscilloscope graph 1: waveform: "}).empty());

  // The picture a person looks at: waveforms left, harmonics right.
  fs::path png = fs::path(SCREENSHOT_DIR) / "vantrel-ide-oscilloscope.png";
  fs::remove(png);
  pid_t pidGrab = Spawn({IDE_GRAB, sScope, png.string()}, env, dir / "grab.out");
  EXPECT_EQ(Wait(pidGrab, kStepSeconds), 0) << ReadText(dir / "grab.out");
  EXPECT_TRUE(fs::exists(png));

  // File, Save CSV: the box names the file, whose rows are graph 1's capture.
  size_t nBoxes = Count("oscilloscope: box: Saved CSV: Created file \"");
  OpenMenu(sScope, "alt+f", "&File");
  Xdotool("key s");
  ASSERT_TRUE(WaitFor([&] { return Count("oscilloscope: box: Saved CSV: Created file \"") > nBoxes; }, kStepSeconds))
      << Log();
  std::string sBox = LastLineWith({"oscilloscope: box: Saved CSV: Created file \""});
  ASSERT_TRUE(std::regex_search(sBox, match, std::regex("Created file \"([^\"]+)\""))) << sBox;
  fs::path csv = match[1].str();
  EXPECT_EQ(csv.parent_path(), install / "log");
  EXPECT_TRUE(std::regex_match(csv.filename().string(), std::regex(R"(oscilloscope_\d{8}_\d{6}\.csv)"))) << csv;
  std::vector<std::string> asRow = Lines(ReadText(csv));
  ASSERT_TRUE(asRow.size() == 100 || asRow.size() == 101) << asRow.size();
  // Graph 1 showed as many samples when the file was written (its last trace before the box).
  std::string sShown;
  for (const std::string& s : Lines(Log())) {
    if (s.find(sBox.substr(sBox.find("oscilloscope: box:"))) != std::string::npos) break;
    if (s.find("oscilloscope graph 1: waveform: ") != std::string::npos) sShown = s;
  }
  EXPECT_NE(sShown.find("waveform: " + std::to_string(asRow.size()) + " samples"), std::string::npos) << sShown;
  std::vector<double> adSine, adSaw;
  for (size_t b = 0; b < asRow.size(); ++b) {
    int iIndex = -1;
    double dSine = 0, dSaw = 0;
    ASSERT_EQ(sscanf(asRow[b].c_str(), "%d,%lf,%lf", &iIndex, &dSine, &dSaw), 3) << asRow[b];
    EXPECT_EQ(iIndex, static_cast<int>(b));
    adSine.push_back(dSine);
    adSaw.push_back(dSaw);
  }
  // Column 1 is a 440 Hz sine from the start of its period (printed with six decimals); column 2
  // a sawtooth that runs through its whole range once.
  double dCos = std::cos(2 * M_PI * 440 / 44100);
  for (size_t b = 1; b + 1 < adSine.size(); ++b)
    EXPECT_NEAR(adSine[b + 1] + adSine[b - 1], 2 * dCos * adSine[b], 5e-6) << "row " << b;
  double dAmplitude = *std::max_element(adSine.begin(), adSine.end());
  EXPECT_GT(dAmplitude, 0.05);
  EXPECT_NEAR(*std::min_element(adSine.begin(), adSine.end()), -dAmplitude, 0.01 * dAmplitude);
  EXPECT_NEAR(adSine[0], 0, 0.07 * dAmplitude);
  EXPECT_GT(adSine[10], 0);
  // The spectrum's first harmonic is that amplitude, power-weighted at 44100 / 100 Hz or so.
  EXPECT_NEAR(dFirst, 20 * std::log10(dAmplitude * 441.0 / 55), 0.2);
  int nJumps = 0;
  double dSawRange = *std::max_element(adSaw.begin(), adSaw.end()) - *std::min_element(adSaw.begin(), adSaw.end());
  for (size_t b = 1; b < adSaw.size(); ++b) nJumps += std::fabs(adSaw[b] - adSaw[b - 1]) > dSawRange / 2;
  EXPECT_LE(nJumps, 1) << "one period of the sawtooth";
  EXPECT_GT(dSawRange, 0.05);
  Xdotool("key Return");

  // View, Two Graphs: graph 1 alone, over the whole width.
  OpenMenu(sScope, "alt+v", "&View");
  Xdotool("key t");
  // The settings travel with the workspace.
  fs::path workspace = install / "workspace/idetest.xml";
  fs::remove(workspace);
  OpenMenu(sMain, "alt+f", "File");
  Xdotool("key w");
  ASSERT_TRUE(WaitFor([&] { return ReadText(workspace).find("</Workspace>") != std::string::npos; }, kStepSeconds))
      << Log();
  std::string sSaved = ReadText(workspace);
  for (const char* psz : {"<WindowType>Oscilloscope</WindowType>", "<Spectrum>0</Spectrum>", "<Spectrum2>1</Spectrum2>",
                          "<FreqView2>0</FreqView2>", "<TwoGraphs>0</TwoGraphs>", "<DBScale2>48</DBScale2>",
                          "<ResetEvery>1</ResetEvery>"})
    EXPECT_NE(sSaved.find(psz), std::string::npos) << psz << "\n" << sSaved;

  // Ctrl+O in the main window opens another oscilloscope from its template while the sound
  // runs; the newest is the one the voices feed.
  size_t nShown = Count("oscilloscope graph 1: ");
  Xdotool("windowfocus --sync " + sMain);
  Xdotool("key ctrl+o");
  EXPECT_TRUE(WaitFor([&] { return Lines(Xdotool("search --name '^Oscilloscope$'")).size() == 2; }, kStepSeconds)) << Log();
  EXPECT_TRUE(WaitFor([&] { return Count("oscilloscope graph 1: ") > nShown; }, kStepSeconds)) << Log();

  // Exit from the main window: the oscilloscopes leave the rendering first, and all ends well.
  OpenMenu(sMain, "alt+f", "File");
  Xdotool("key x");
  int iExit = Wait(pidIde, kStepSeconds);
  pidIde = -1;
  EXPECT_EQ(iExit, 0) << ReadText(dir / "ide.out") << Log();
}

}  // namespace
