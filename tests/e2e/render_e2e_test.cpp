// vantrel render: the WAV it writes, the engine's output stage, MIDI files, and bad input.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "run_vantrel.h"
#include "test_signal.h"

namespace fs = std::filesystem;

namespace {

std::string Install() { return " --install '" + DataPath("install") + "'"; }

std::string WritePatch(const std::string& sName, const std::string& sText) {
  std::string sPath = testing::TempDir() + "/" + sName;
  std::ofstream(sPath) << sText;
  return sPath;
}

template <class T>
std::vector<T> ReadSamples(const std::string& sPath, int* pnChannels = nullptr) {
  SF_INFO info = {};
  SNDFILE* psf = sf_open(sPath.c_str(), SFM_READ, &info);
  EXPECT_NE(psf, nullptr) << sPath;
  if (!psf) return {};
  std::vector<T> a(static_cast<size_t>(info.frames * info.channels));
  if constexpr (std::is_same_v<T, float>) sf_readf_float(psf, a.data(), info.frames);
  else sf_readf_short(psf, a.data(), info.frames);
  sf_close(psf);
  if (pnChannels) *pnChannels = info.channels;
  return a;
}

// Two notes of a sine at three times full scale: far too loud for 16 bits.
const char* kLoud =
    "[Osc1]\nFrequency = Pitch\nWaveform = Sine\n"
    "[Voice]\nPreGain = Osc1:Control * 3 * Note:Velocity\n";

}  // namespace

TEST(RenderE2E, LoudOutputIsScaledNeverClippedAsTheEngineConvertsIt) {
  std::string sPatch = WritePatch("loud.vantrel", kLoud);
  std::string sWav = testing::TempDir() + "/loud16.wav", sFloat = testing::TempDir() + "/loudf.wav";
  std::string sNotes = " --note 60:0.5:0:1 --note 64:1:0.3:0.5 --seconds 1.2";
  VantrelRun r16 = RunVantrel("render '" + sPatch + "' -o '" + sWav + "'" + sNotes + Install());
  VantrelRun rF = RunVantrel("render '" + sPatch + "' -o '" + sFloat + "' --float" + sNotes + Install());
  ASSERT_EQ(r16.iExit, 0) << r16.sErr;
  ASSERT_EQ(rF.iExit, 0) << rF.sErr;
  EXPECT_NE(r16.sErr.find("auto-reductions"), std::string::npos) << r16.sErr;
  std::vector<int16_t> as = ReadSamples<int16_t>(sWav);
  std::vector<float> af = ReadSamples<float>(sFloat);
  ASSERT_EQ(as.size(), af.size());
  // The engine's output stage, buffer by buffer of 768 frames: the peak is raised to every larger
  // value of a buffer before that buffer is converted, and stays raised.
  const size_t nBuffer = 768 * 2;
  double dPeak = 1;
  size_t nDiffering = 0;
  int nMax = 0;
  for (size_t iStart = 0; iStart < af.size(); iStart += nBuffer) {
    size_t iEnd = std::min(af.size(), iStart + nBuffer);
    for (size_t i = iStart; i < iEnd; ++i) dPeak = std::max(dPeak, std::fabs(static_cast<double>(af[i])));
    for (size_t i = iStart; i < iEnd; ++i) {
      // The float file rounds the mix to single precision; allow the one-step difference it makes.
      double dWant = std::trunc(32767 / dPeak * af[i]);
      if (std::fabs(dWant - as[i]) > 1) ++nDiffering;
      nMax = std::max(nMax, std::abs(static_cast<int>(as[i])));
    }
  }
  EXPECT_EQ(nDiffering, 0u);
  EXPECT_GE(dPeak, 2.5) << "the mix really exceeded full scale";
  EXPECT_LE(nMax, 32767);
  EXPECT_GE(nMax, 32700) << "the loudest sample is scaled to full scale, not below it";
}

TEST(RenderE2E, RunawayPeakIsReportedInPowersOfTen) {
  std::string sPatch = WritePatch("runaway.vantrel", "[Osc1]\nWaveform = Sine\n[Voice]\nPreGain = Osc1 * 1e300\n");
  VantrelRun r = RunVantrel("render '" + sPatch + "' -o '" + testing::TempDir() + "/runaway.wav' --note 60:1:0:0.2" +
                            " --seconds 0.3" + Install());
  ASSERT_EQ(r.iExit, 0) << r.sErr;
  EXPECT_NE(r.sErr.find("e+"), std::string::npos) << r.sErr;
  EXPECT_LT(r.sErr.size(), 400u) << "no peak written out in hundreds of digits: " << r.sErr;
}

TEST(RenderE2E, VoiceReadsTheHistoryOfAChannelValueWithoutComplaint) {
  // Only the voice reads the history, so the voice keeps it: one sample late, the start value.
  std::string sPatch = WritePatch("pphistory.vantrel",
                                  "[Channel]\nModWheel = 0.5\n[Osc1]\nWaveform = Sine\n"
                                  "[Voice]\nPreGain = Osc1 * Channel:ModWheel@1\n");
  std::string sNow = WritePatch("ppnow.vantrel",
                                "[Channel]\nModWheel = 0.5\n[Osc1]\nWaveform = Sine\n"
                                "[Voice]\nPreGain = Osc1 * Channel:ModWheel\n");
  std::string sNotes = " --note 69:1:0:0.2 --seconds 0.3 --float";
  VantrelRun r = RunVantrel("render '" + sPatch + "' -o '" + testing::TempDir() + "/pph.wav'" + sNotes + Install());
  VantrelRun rNow = RunVantrel("render '" + sNow + "' -o '" + testing::TempDir() + "/ppn.wav'" + sNotes + Install());
  ASSERT_EQ(r.iExit, 0) << r.sErr;
  ASSERT_EQ(rNow.iExit, 0) << rNow.sErr;
  EXPECT_EQ(r.sErr.find(".vantrel:"), std::string::npos) << "no diagnostic: " << r.sErr;
  std::vector<float> af = ReadSamples<float>(testing::TempDir() + "/pph.wav");
  std::vector<float> afNow = ReadSamples<float>(testing::TempDir() + "/ppn.wav");
  ASSERT_EQ(af.size(), afNow.size());
  ASSERT_GT(af.size(), 200u);
  for (size_t i = 2; i < 200; ++i) EXPECT_EQ(af[i], afNow[i]) << i;  // the value held since the start
}

TEST(RenderE2E, NotANumberIsSilencedAndCounted) {
  std::string sPatch = WritePatch("nan.vantrel",
                                  "[Osc1]\nFrequency = Pitch\n[Voice]\nPreGain = IF( Note:Time > 0.1, 0 / 0, Osc1 )\n");
  std::string sWav = testing::TempDir() + "/nan.wav";
  VantrelRun r = RunVantrel("render '" + sPatch + "' -o '" + sWav + "' --seconds 0.3" + Install());
  ASSERT_EQ(r.iExit, 0) << r.sErr;
  EXPECT_NE(r.sErr.find("samples that were not numbers silenced"), std::string::npos) << r.sErr;
  std::vector<int16_t> as = ReadSamples<int16_t>(sWav);
  size_t iAfter = static_cast<size_t>(0.15 * 44100) * 2;
  for (size_t i = iAfter; i < as.size(); ++i) ASSERT_EQ(as[i], 0) << i;
}

// A Standard MIDI File of one track at 96 ticks per quarter note (120 bpm until a tempo event).
std::string WriteMidi(const std::string& sName, const std::vector<uint8_t>& aTrack) {
  std::vector<uint8_t> ab = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96};
  ab.insert(ab.end(), {'M', 'T', 'r', 'k', 0, 0, static_cast<uint8_t>(aTrack.size() >> 8),
                       static_cast<uint8_t>(aTrack.size())});
  ab.insert(ab.end(), aTrack.begin(), aTrack.end());
  std::string sPath = testing::TempDir() + "/" + sName;
  std::ofstream(sPath, std::ios::binary).write(reinterpret_cast<const char*>(ab.data()), static_cast<long>(ab.size()));
  return sPath;
}

// Note 69 for one beat at 120 bpm, then a tempo change to 60 bpm and note 81 for one beat (1 s).
std::string MidiFile() {
  return WriteMidi("two_notes.mid", {
                                        0x00, 0x90, 69, 100,                    // note on at 0
                                        0x60, 0x80, 69, 64,                     // note off after 96 ticks (0.5 s)
                                        0x00, 0xFF, 0x51, 3, 0x0F, 0x42, 0x40,  // tempo 1000000 us per quarter
                                        0x00, 0x90, 81, 100,                    // note on at 0.5 s
                                        0x60, 0x90, 81, 0,                      // note off (velocity 0) at 1.5 s
                                        0x00, 0xFF, 0x2F, 0});
}

// Rising zero crossings per second of the first channel between two instants of a render.
double ZeroCrossingRate(const std::vector<float>& af, int nChannels, double dFrom, double dTo) {
  auto at = [&](long i) { return static_cast<double>(af[static_cast<size_t>(i) * static_cast<size_t>(nChannels)]); };
  return CrossingFrequencyOf(at, static_cast<long>(dFrom * 44100), static_cast<long>(dTo * 44100), 44100);
}

TEST(RenderE2E, MidiFilesPlayWithTheirTempoChanges) {
  std::string sPatch = WritePatch("sine.vantrel",
                                  "[Osc1]\nFrequency = Pitch\nWaveform = Sine\n[EnvGain]\nRelease = 20ms\n"
                                  "[Voice]\nPreGain = Osc1\n");
  std::string sWav = testing::TempDir() + "/midi.wav";
  VantrelRun r = RunVantrel("render '" + sPatch + "' -o '" + sWav + "' --float --midi '" + MidiFile() + "'" + Install());
  ASSERT_EQ(r.iExit, 0) << r.sErr;
  int nChannels = 0;
  std::vector<float> af = ReadSamples<float>(sWav, &nChannels);
  double dSeconds = static_cast<double>(af.size()) / nChannels / 44100;
  EXPECT_GT(dSeconds, 1.5) << "the file's length";
  EXPECT_LT(dSeconds, 1.7) << "plus only the time the last voice needs to finish";
  EXPECT_NEAR(ZeroCrossingRate(af, nChannels, 0.05, 0.45), 440, 1);
  EXPECT_NEAR(ZeroCrossingRate(af, nChannels, 0.6, 1.45), 880, 2) << "the tempo change makes the second beat 1 s long";
  float fTail = 0;
  for (size_t i = static_cast<size_t>(1.56 * 44100) * static_cast<size_t>(nChannels); i < af.size(); ++i)
    fTail = std::max(fTail, std::fabs(af[i]));
  EXPECT_LT(fTail, 1e-4);
}

TEST(RenderE2E, BadInputIsRefusedWithAMessageAndNoFile) {
  std::string sPatch = WritePatch("ok.vantrel", "[Osc1]\nFrequency = Pitch\n[Voice]\nPreGain = Osc1\n");
  std::string sTruncated = testing::TempDir() + "/truncated.mid";
  {
    std::string sWhole = ReadText(MidiFile());
    std::ofstream(sTruncated, std::ios::binary) << sWhole.substr(0, sWhole.size() - 6);
  }
  struct {
    const char* pszArgs;
    const char* pszMessage;
  } aCases[] = {
      {"--note 128", "the key must be a MIDI note number from 0 to 127"},
      {"--note 60:1.5", "the velocity must be above 0 and at most 1"},
      {"--note 60:0.5:-1", "the start must not be negative"},
      {"--note 60:0.5:0:0", "the length must be above 0 seconds"},
      {"--note 60:x", "\"x\" is not a number"},
      // Every value out of its range is refused with the range, none taken as the default.
      {"--seconds -1", "--seconds must be above 0 and at most 3600, not -1"},
      {"--seconds 0", "--seconds must be above 0 and at most 3600, not 0"},
      {"--seconds 3601", "--seconds must be above 0 and at most 3600, not 3601"},
      {"--seconds nan", "--seconds must be above 0 and at most 3600, not nan"},
      {"--rate 0", "--rate must be from 1000 to 768000 Hz, not 0"},
      {"--rate 10", "--rate must be from 1000 to 768000 Hz, not 10"},
      {"--rate 768001", "--rate must be from 1000 to 768000 Hz, not 768001"},
      {"--midi /nonexistent.mid", "cannot read /nonexistent.mid"},
  };
  std::string sOut = testing::TempDir() + "/refused.wav";
  fs::remove(sOut);  // left by an earlier run whose case was accepted
  for (const auto& c : aCases) {
    VantrelRun r = RunVantrel("render '" + sPatch + "' -o '" + sOut + "' " + c.pszArgs + Install());
    EXPECT_EQ(r.iExit, 2) << c.pszArgs;
    EXPECT_NE(r.sErr.find(c.pszMessage), std::string::npos) << c.pszArgs << ": " << r.sErr;
    EXPECT_FALSE(fs::exists(sOut)) << c.pszArgs;
  }
  VantrelRun r = RunVantrel("render '" + sPatch + "' -o '" + sOut + "' --midi '" + sTruncated + "'" + Install());
  EXPECT_EQ(r.iExit, 2);
  EXPECT_NE(r.sErr.find("cannot read MIDI file"), std::string::npos) << r.sErr;
  r = RunVantrel("render '" + sPatch + "' -o /nonexistent/dir/out.wav" + Install());
  EXPECT_EQ(r.iExit, 2);
  EXPECT_NE(r.sErr.find("cannot write /nonexistent/dir/out.wav"), std::string::npos) << r.sErr;
  std::string sBroken = WritePatch("broken.vantrel", "[Osc1]\nFrequency = Pitch +* 2\n");
  r = RunVantrel("render '" + sBroken + "' -o '" + sOut + "'" + Install());
  EXPECT_EQ(r.iExit, 1);
  EXPECT_NE(r.sErr.find(sBroken + ":2: Osc1:Frequency - "), std::string::npos) << r.sErr;
  EXPECT_FALSE(fs::exists(sOut));
}

// Only a regular file is ever replaced: a FIFO (standing in for a device such as /dev/null, which
// a test must never touch) is written through, a symlink's target gets the file and the link
// stays, and a directory is refused before anything renders.
TEST(RenderE2E, OutputThatIsNotARegularFileIsWrittenThroughNeverReplaced) {
  std::string sPatch = WritePatch("target.vantrel", "[Osc1]\nFrequency = Pitch\n[Voice]\nPreGain = Osc1\n");
  fs::path dir = fs::path(testing::TempDir()) / ("targets_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "real");
  std::string sRender = "render '" + sPatch + "' --seconds 0.2 -o ";

  // FIFO: a reader collects what arrives; the FIFO is still a FIFO afterwards.
  fs::path fifo = dir / "fifo.wav", collected = dir / "collected.wav";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread reader([&] { std::ofstream(collected, std::ios::binary) << ReadText(fifo); });
  VantrelRun r = RunVantrel(sRender + "'" + fifo.string() + "'" + Install());
  EXPECT_EQ(r.iExit, 0) << r.sErr;
  // Should the render have failed before opening the FIFO, a writer of our own releases the reader.
  int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  if (fd >= 0) close(fd);
  reader.join();
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo)));
  EXPECT_EQ(ReadSamples<int16_t>(collected.string()).size(), 2 * 8820u);  // 0.2 s, stereo

  // Symlink with a relative target in another folder, and a dangling one.
  fs::path link = dir / "link.wav", dangling = dir / "dangling.wav";
  fs::create_symlink("real/take.wav", link);
  fs::create_symlink("real/new.wav", dangling);
  std::ofstream(dir / "real" / "take.wav") << "old";
  for (const fs::path& p : {link, dangling}) {
    r = RunVantrel(sRender + "'" + p.string() + "'" + Install());
    EXPECT_EQ(r.iExit, 0) << r.sErr;
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(p))) << p;
  }
  EXPECT_EQ(ReadSamples<int16_t>((dir / "real" / "take.wav").string()).size(), 2 * 8820u);  // 0.2 s, stereo
  EXPECT_EQ(ReadSamples<int16_t>((dir / "real" / "new.wav").string()).size(), 2 * 8820u);  // 0.2 s, stereo
  for (const fs::directory_entry& e : fs::directory_iterator(dir))
    EXPECT_EQ(e.path().string().find(".part"), std::string::npos) << e.path();

  // Directory, directly and through a link: refused, untouched.
  fs::create_symlink("real", dir / "dirlink");
  for (const char* pszName : {"real", "dirlink"}) {
    r = RunVantrel(sRender + "'" + (dir / pszName).string() + "'" + Install());
    EXPECT_EQ(r.iExit, 2) << pszName;
    EXPECT_NE(r.sErr.find("is a directory"), std::string::npos) << r.sErr;
  }
  EXPECT_TRUE(fs::is_directory(dir / "real"));
  fs::remove_all(dir);
}

// Two notes on one key overlap as a sequencer may send them: the second note on restarts the
// sounding voice when the patch retriggers, and takes a voice of its own when it does not.
TEST(RenderE2E, OverlappingNotesOnOneKeyAreSecondNoteOns) {
  const struct {
    const char* pszRetrigger;
    const char* pszVoices;
  } aCases[] = {{"true", ", 1 voice,"}, {"false", ", 2 voices,"}};
  for (const auto& c : aCases) {
    std::string sPatch = WritePatch("retrigger.vantrel", std::string("[Patch]\nRetrigger = ") + c.pszRetrigger +
                                                             "\n[Osc1]\nFrequency = Pitch\n[Voice]\nPreGain = Osc1\n");
    VantrelRun r = RunVantrel("render '" + sPatch + "' -o '" + testing::TempDir() + "/retrigger.wav'" +
                              " --note 60:0.5:0 --note 60:0.5:0.1 --seconds 0.3" + Install());
    EXPECT_EQ(r.iExit, 0) << r.sErr;
    EXPECT_NE(r.sErr.find(c.pszVoices), std::string::npos) << c.pszRetrigger << ": " << r.sErr;
  }
}

// A voice taken over by a new note: an offline render cuts it at once, sample-exact as renders
// always were, unless the settings give CutFade; then the old note fades over those frames and
// the new one starts after them, with no jump in between.
TEST(RenderE2E, StolenVoiceFadesOnlyWhenTheSettingsAskForIt) {
  // One voice, a loud low sine: the second note takes the first one's voice mid-wave.
  std::string sPatch = WritePatch("steal.vantrel",
                                  "[Patch]\nNoteMax = 1\n[Osc1]\nFrequency = Pitch\n[Voice]\nPreGain = Osc1 * 0.8\n"
                                  "[EnvGain]\nAttack = 20ms\nSustain = 1\n");
  const struct {
    const char* pszSetting;
    bool bFades;
  } aCases[] = {{"", false}, {"CutFade = 0.003", true}, {"CutFade = 0", false}};
  for (const auto& c : aCases) {
    fs::path install = CopyInstall("steal");
    std::ofstream(install / "config" / "Interpreter.vantrel", std::ios::app) << c.pszSetting << "\n";
    std::string sOut = testing::TempDir() + "/steal.wav";
    VantrelRun r = RunVantrel("render '" + sPatch + "' -o '" + sOut + "' --float --note 33:1:0:0.5 --note 45:1:0.1049:0.4" +
                              " --seconds 0.5 --install '" + install.string() + "'");
    ASSERT_EQ(r.iExit, 0) << c.pszSetting << ": " << r.sErr;
    int nChannels = 0;
    std::vector<float> af = ReadSamples<float>(sOut, &nChannels);
    ASSERT_GT(af.size(), 44100u * 0.4 * nChannels);
    // The largest step between two samples around the take-over, and the second note's level.
    double dStep = 0, dLater = 0;
    size_t iSteal = static_cast<size_t>(0.1049 * 44100);
    for (size_t i = iSteal - 200; i < iSteal + 400; ++i)
      dStep = std::max(dStep, std::fabs(double(af[(i + 1) * nChannels]) - af[i * nChannels]));
    for (size_t i = static_cast<size_t>(0.3 * 44100); i < static_cast<size_t>(0.35 * 44100); ++i)
      dLater = std::max(dLater, std::fabs(double(af[i * nChannels])));
    // A 55 Hz sine of 0.8 moves 0.0063 per sample at most; a cut drops from about 0.8 to 0.
    if (c.bFades) EXPECT_LT(dStep, 0.02) << c.pszSetting;
    else EXPECT_GT(dStep, 0.3) << "'" << c.pszSetting << "'";
    EXPECT_GT(dLater, 0.5) << "the second note sounds: " << c.pszSetting;
    fs::remove_all(install);
  }
}

// Ctrl-C or SIGTERM in the middle of a render: the program ends by that signal, says so, and
// neither the temporary file nor the output is left behind.
TEST(RenderE2E, InterruptedRenderLeavesNoFile) {
  std::string sPatch = WritePatch("interrupted.vantrel", "[Osc1]\nFrequency = Pitch\n[Voice]\nPreGain = Osc1\n");
  for (int iSignal : {SIGINT, SIGTERM}) {
    fs::path dir = fs::path(testing::TempDir()) / ("interrupted_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::string sOut = (dir / "out.wav").string(), sErr = testing::TempDir() + "/interrupted.err";
    std::string sInstall = DataPath("install");
    const char* apszArgs[] = {VANTREL_EXE, "render", sPatch.c_str(), "-o",    sOut.c_str(),     "--seconds",
                              "3600",      "--rate", "192000",       "--install", sInstall.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, sErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, VANTREL_EXE, &actions, nullptr, const_cast<char* const*>(apszArgs), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // An hour at 192 kHz is 691 million frames, minutes of work even optimised: the render is
    // still writing when the signal comes, a few milliseconds after the temporary file appears.
    // The wait for the file is bounded only so that a broken build cannot hang the test.
    bool bPartSeen = false;
    for (int i = 0; i < 6000 && !bPartSeen; ++i) {
      for (const fs::directory_entry& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind("out.wav.part", 0) == 0) bPartSeen = true;
      if (!bPartSeen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(bPartSeen);
    kill(pid, iSignal);
    int iStatus = 0;
    ASSERT_EQ(waitpid(pid, &iStatus, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(iStatus) && WTERMSIG(iStatus) == iSignal) << strsignal(iSignal) << " status " << iStatus;
    EXPECT_NE(ReadText(sErr).find("interrupted after"), std::string::npos) << ReadText(sErr);
    EXPECT_TRUE(fs::is_empty(dir)) << strsignal(iSignal) << ": " << fs::directory_iterator(dir)->path();
    fs::remove_all(dir);
  }
}

// A MIDI file whose delta times add up to two hours renders the longest a render makes, an
// hour, and says so. (A low rate and a file without notes keep the hour quick.)
TEST(RenderE2E, MidiFileOfHoursIsCappedWithAMessage) {
  std::string sPatch = WritePatch("capped.vantrel", "[Osc1]\nFrequency = Pitch\n[Voice]\nPreGain = Osc1\n");
  // 7200 s at 192 ticks a second is 1382400 ticks, 0x151800: the delta 0xD4 0xB0 0x00.
  std::string sMidi = WriteMidi("two_hours.mid", {0xD4, 0xB0, 0x00, 0xB0, 1, 64, 0x00, 0xFF, 0x2F, 0});
  std::string sWav = testing::TempDir() + "/capped.wav";
  VantrelRun r = RunVantrel("render '" + sPatch + "' -o '" + sWav + "' --rate 1000 --midi '" + sMidi + "'" + Install());
  ASSERT_EQ(r.iExit, 0) << r.sErr;
  EXPECT_NE(r.sErr.find("two_hours.mid lasts 7200 s; only its first 3600 s are rendered"), std::string::npos) << r.sErr;
  SF_INFO info = {};
  SNDFILE* psf = sf_open(sWav.c_str(), SFM_READ, &info);
  ASSERT_NE(psf, nullptr);
  sf_close(psf);
  EXPECT_EQ(info.frames, 3600 * 1000);
  fs::remove(sWav);
}
