// vantrel play on the clock-paced null output, as a performer ends it: every way a run ends
// leaves a playable take holding what was played, the record target is never replaced unless it
// is a regular file, a full disk is reported while playing, and the status line fits its terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "live_take.h"
#include "run_vantrel.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRate = 44100;
// One buffer at the default settings (768 frames): how far the end of what the engine rendered
// may lag behind a wall-clock time on the clock-paced output.
constexpr double kBuffer = 768.0 / kRate;

std::string Patch() { return DataPath("engine/sine.vantrel"); }

fs::path FreshDir(const std::string& sName) {
  fs::path dir = fs::path(testing::TempDir()) / ("play_e2e_" + std::to_string(getpid()) + "_" + sName);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// A running vantrel play with its standard error in a file, or in a pipe the test holds.
struct Player {
  pid_t pid = -1;
  int fdErrRead = -1;  // with bPipe: the reading end of standard error
  fs::path err;

  void Start(const std::vector<std::string>& asArgs, const fs::path& errFile, bool bPipe = false) {
    err = errFile;
    int afd[2] = {-1, -1};
    if (bPipe) {
      EXPECT_EQ(pipe(afd), 0);
    }
    pid = fork();
    if (pid == 0) {
      int fdNull = open("/dev/null", O_RDONLY);
      dup2(fdNull, 0);
      int fdErr = bPipe ? afd[1] : open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fdErr, 1);
      dup2(fdErr, 2);
      if (bPipe) close(afd[0]);
      unsetenv("KSStatus");
      std::vector<char*> apsz = {const_cast<char*>(VANTREL_EXE), const_cast<char*>("play")};
      for (const std::string& s : asArgs) apsz.push_back(const_cast<char*>(s.c_str()));
      apsz.push_back(nullptr);
      execv(VANTREL_EXE, apsz.data());
      _exit(127);
    }
    if (bPipe) {
      close(afd[1]);
      fdErrRead = afd[0];
    }
  }
  std::string Err() const { return ReadText(err); }
  // Waits for text on standard error (from the file, or read from the pipe into sPiped).
  bool WaitFor(const std::string& s, double dSeconds) {
    auto tEnd = Clock::now() + std::chrono::duration<double>(dSeconds);
    while (Clock::now() < tEnd) {
      if (fdErrRead >= 0) {
        pollfd pfd = {fdErrRead, POLLIN, 0};
        if (poll(&pfd, 1, 20) > 0) {
          char ab[4096];
          ssize_t n = read(fdErrRead, ab, sizeof ab);
          if (n > 0) sPiped.append(ab, static_cast<size_t>(n));
        }
        if (sPiped.find(s) != std::string::npos) return true;
      } else {
        if (Err().find(s) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    return false;
  }
  // The exit status, or -1 when it had to be killed after dSeconds (or died of a signal).
  int Wait(double dSeconds) const { return ::Wait(pid, dSeconds); }
  std::string sPiped;
};

struct Take {
  bool bRead = false;
  int iRate = 0, nChannels = 0;
  std::vector<short> as;
  double Seconds() const { return nChannels ? static_cast<double>(as.size()) / nChannels / iRate : 0; }
};

Take ReadTake(const fs::path& path) {
  Take take;
  SF_INFO info = {};
  SNDFILE* psf = sf_open(path.c_str(), SFM_READ, &info);
  if (!psf) return take;
  take.iRate = info.samplerate;
  take.nChannels = info.channels;
  take.as.resize(static_cast<size_t>(info.frames * info.channels));
  take.bRead = sf_readf_short(psf, take.as.data(), info.frames) == info.frames;
  sf_close(psf);
  return take;
}

// The take holds the held A4 that was played: audible within half a second of its start (the
// engine queues a few buffers before the first note), 440 Hz over the first whole second of the
// note (rising zero crossings of the left channel where it sounds), and at least dSeconds long.
void ExpectA4Take(const fs::path& path, double dSeconds) {
  Take take = ReadTake(path);
  ASSERT_TRUE(take.bRead) << path << ": not a readable WAV";
  ASSERT_EQ(take.iRate, kRate);
  ASSERT_EQ(take.nChannels, 2);
  EXPECT_GE(take.Seconds(), dSeconds) << path;
  size_t nFrames = take.as.size() / 2, iFirst = 0;
  while (iFirst < nFrames && std::abs(take.as[2 * iFirst]) < 1000) ++iFirst;
  ASSERT_LT(iFirst, static_cast<size_t>(kRate / 2)) << path << ": no sound in the first half second";
  ASSERT_GE(nFrames, iFirst + kRate) << path;
  int nLoud = 0;
  for (size_t i = iFirst + 1; i < iFirst + kRate; ++i) nLoud += std::abs(take.as[2 * i]) > 1000;
  // The pitch over what sounds: on a loaded machine the engine may have been late and said so
  // (the take holds the silence the device played); these tests are about where the take goes.
  auto at = [&](long i) { return take.as[2 * static_cast<size_t>(i)]; };
  EXPECT_NEAR(SoundingFrequency(at, static_cast<long>(iFirst), static_cast<long>(iFirst + kRate), kRate), 440, 2)
      << path;
  EXPECT_GT(nLoud, kRate / 2) << path;
}

bool NoPartFiles(const fs::path& dir) {
  for (const fs::directory_entry& e : fs::directory_iterator(dir))
    if (e.path().string().find(".part") != std::string::npos) return false;
  return true;
}

// --- How a run ends ---------------------------------------------------------------------------

struct EndCase {
  const char* pszName;
  std::function<void(Player&)> pfnEnd;  // what the performer (or the system) does
  bool bPipe = false;                   // standard error is a pipe (for the SIGPIPE case)
};
void PrintTo(const EndCase& c, std::ostream* pos) { *pos << c.pszName; }

const EndCase kEnds[] = {
    {"sigint", [](Player& p) { kill(p.pid, SIGINT); }},
    {"sigterm", [](Player& p) { kill(p.pid, SIGTERM); }},
    {"sighup", [](Player& p) { kill(p.pid, SIGHUP); }},
    // The reader of the status output goes away (as `2>&1 | head` does); playing goes on and
    // ends as asked.
    {"sigpipe_on_the_status_output",
     [](Player& p) {
       close(p.fdErrRead);
       p.fdErrRead = -1;
       kill(p.pid, SIGPIPE);
       std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a status line or two into the void
       kill(p.pid, SIGINT);
     },
     true},
    // A second Ctrl-C within the orderly end gives it a grace period rather than killing it.
    {"two_sigints_1ms_apart",
     [](Player& p) {
       kill(p.pid, SIGINT);
       std::this_thread::sleep_for(std::chrono::milliseconds(1));
       kill(p.pid, SIGINT);
     }},
};

class PlayEnd : public testing::TestWithParam<EndCase> {};

TEST_P(PlayEnd, LeavesAPlayableTakeOfWhatWasPlayed) {
  const EndCase& c = GetParam();
  fs::path dir = FreshDir(c.pszName);
  fs::path wav = dir / "take.wav";
  Player player;
  player.Start({Patch(), "--audio", "null", "--seconds", "0", "--note", "69:0.8:0", "--record", wav.string()},
               dir / "play.err", c.bPipe);
  ASSERT_TRUE(player.WaitFor("vantrel: playing", 20)) << player.Err() << player.sPiped;
  Clock::time_point tPlaying = Clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  double dPlayed = std::chrono::duration<double>(Clock::now() - tPlaying).count();
  c.pfnEnd(player);
  int iExit = player.Wait(30);
  if (player.fdErrRead >= 0) {
    player.WaitFor("\x01", 0.2);  // whatever is left in the pipe
    close(player.fdErrRead);
  }
  std::string sErr = c.bPipe ? player.sPiped : player.Err();
  EXPECT_EQ(iExit, 0) << sErr;
  EXPECT_TRUE(NoPartFiles(dir));
  // What was played up to the signal, less what the engine had not yet rendered then.
  ExpectA4Take(wav, dPlayed - kBuffer);
  if (!c.bPipe) {
    EXPECT_NE(sErr.find("vantrel: recorded "), std::string::npos) << sErr;
  }
}

INSTANTIATE_TEST_SUITE_P(Ways, PlayEnd, testing::ValuesIn(kEnds),
                         [](const testing::TestParamInfo<EndCase>& info) { return std::string(info.param.pszName); });

// An orderly end that cannot finish (the take waits for a reader of its FIFO that never comes): a
// second Ctrl-C gives it a few seconds, then the run ends and says where the take is.
TEST(PlayEndStuck, SecondCtrlCEndsAfterTheGraceWithTheTakeKept) {
  fs::path dir = FreshDir("stuck");
  fs::path fifo = dir / "fifo.wav", tmp = dir / "tmp";
  fs::create_directories(tmp);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  setenv("TMPDIR", tmp.c_str(), 1);
  Player player;
  player.Start({Patch(), "--audio", "null", "--note", "69:0.8:0", "--record", fifo.string()}, dir / "play.err");
  unsetenv("TMPDIR");
  ASSERT_TRUE(player.WaitFor("vantrel: playing", 20)) << player.Err();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  kill(player.pid, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(waitpid(player.pid, nullptr, WNOHANG), 0) << "waits for a reader of the FIFO";
  kill(player.pid, SIGINT);
  Clock::time_point tSecond = Clock::now();
  ASSERT_TRUE(player.WaitFor("ending in 3 s at the latest", 5)) << player.Err();
  EXPECT_EQ(player.Wait(30), 130) << player.Err();
  double dWaited = std::chrono::duration<double>(Clock::now() - tSecond).count();
  EXPECT_GE(dWaited, 3.0);
  std::string sErr = player.Err();
  size_t i = sErr.find("the recording is in ");
  ASSERT_NE(i, std::string::npos) << sErr;
  std::string sKept = sErr.substr(i + 20, sErr.find('\n', i) - i - 20);
  EXPECT_EQ(fs::path(sKept).parent_path(), tmp) << sErr;
  ExpectA4Take(sKept, 1.5 - kBuffer);
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo)));
}

// Killed outright (as a crash would end it): the name asked for never appears, but the
// unfinished file beside it is a valid WAV up to about a second before the end.
TEST(PlayEndKilled, UnfinishedTakeStaysPlayable) {
  fs::path dir = FreshDir("killed");
  fs::path wav = dir / "take.wav";
  Player player;
  player.Start({Patch(), "--audio", "null", "--note", "69:0.8:0", "--record", wav.string()}, dir / "play.err");
  ASSERT_TRUE(player.WaitFor("vantrel: playing", 20)) << player.Err();
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  kill(player.pid, SIGKILL);
  player.Wait(10);
  EXPECT_FALSE(fs::exists(wav));
  fs::path part = dir / ("take.wav.part" + std::to_string(player.pid));
  ASSERT_TRUE(fs::exists(part)) << player.Err();
  // The header is rewritten every second; allow one more second for the writer's own pace.
  ExpectA4Take(part, 3.5 - 2.0);
}

// --- Record targets ---------------------------------------------------------------------------

std::vector<std::string> ShortTake(const std::string& sTarget) {
  return {Patch(), "--audio", "null", "--seconds", "1.2", "--note", "69:0.8:0", "--record", sTarget};
}

TEST(PlayRecordTarget, FifoIsWrittenThroughAndStaysAFifo) {
  fs::path dir = FreshDir("fifo");
  fs::path fifo = dir / "fifo.wav", collected = dir / "collected.wav";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread reader([&] { std::ofstream(collected, std::ios::binary) << ReadText(fifo); });
  Player player;
  player.Start(ShortTake(fifo.string()), dir / "play.err");
  int iExit = player.Wait(30);
  // Should the run have failed before opening the FIFO, a writer of our own releases the reader.
  int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  if (fd >= 0) close(fd);
  reader.join();
  EXPECT_EQ(iExit, 0) << player.Err();
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo)));
  ExpectA4Take(collected, 1.2);
}

TEST(PlayRecordTarget, SymlinkTargetIsWrittenAndTheLinkStays) {
  fs::path dir = FreshDir("symlink");
  fs::create_directories(dir / "takes");
  fs::path link = dir / "link.wav";
  fs::create_symlink("takes/take.wav", link);
  std::ofstream(dir / "takes" / "take.wav") << "an older take";
  Player player;
  player.Start(ShortTake(link.string()), dir / "play.err");
  EXPECT_EQ(player.Wait(30), 0) << player.Err();
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
  ExpectA4Take(dir / "takes" / "take.wav", 1.2);
  EXPECT_TRUE(NoPartFiles(dir) && NoPartFiles(dir / "takes"));
}

TEST(PlayRecordTarget, DirectoryIsRefusedBeforeAnythingPlays) {
  fs::path dir = FreshDir("directory");
  fs::create_directories(dir / "takes");
  fs::create_symlink("takes", dir / "dirlink");
  for (const char* pszName : {"takes", "dirlink"}) {
    Player player;
    player.Start(ShortTake((dir / pszName).string()), dir / "play.err");
    EXPECT_EQ(player.Wait(30), 2) << pszName;
    std::string sErr = player.Err();
    EXPECT_NE(sErr.find("is a directory"), std::string::npos) << sErr;
    EXPECT_EQ(sErr.find("vantrel: playing"), std::string::npos) << sErr;
  }
  EXPECT_TRUE(fs::is_directory(dir / "takes"));
  EXPECT_TRUE(fs::is_empty(dir / "takes"));
}

// /dev/full is written through like any device (never replaced): the write fails, the run says
// so, and the take is kept where it was written.
TEST(PlayRecordTarget, FullDeviceStaysADeviceAndTheTakeIsKept) {
  struct stat stBefore = {};
  if (stat("/dev/full", &stBefore) != 0 || !S_ISCHR(stBefore.st_mode)) GTEST_SKIP() << "no /dev/full";
  fs::path dir = FreshDir("devfull");
  fs::path tmp = dir / "tmp";
  fs::create_directories(tmp);
  setenv("TMPDIR", tmp.c_str(), 1);  // where the take waits before it is streamed into the device
  Player player;
  player.Start(ShortTake("/dev/full"), dir / "play.err");
  int iExit = player.Wait(30);
  unsetenv("TMPDIR");
  std::string sErr = player.Err();
  EXPECT_EQ(iExit, 2) << sErr;
  EXPECT_NE(sErr.find("No space left on device"), std::string::npos) << sErr;
  struct stat stAfter = {};
  ASSERT_EQ(stat("/dev/full", &stAfter), 0);
  EXPECT_TRUE(S_ISCHR(stAfter.st_mode));
  EXPECT_EQ(stAfter.st_rdev, stBefore.st_rdev);
  std::vector<fs::path> akept;
  for (const fs::directory_entry& e : fs::directory_iterator(tmp)) akept.push_back(e.path());
  ASSERT_EQ(akept.size(), 1u) << sErr;
  EXPECT_NE(sErr.find("kept in " + akept[0].string()), std::string::npos) << sErr;
  ExpectA4Take(akept[0], 1.2);
}

// A disk that fills while playing: a tiny file system of its own (in a private mount namespace,
// so it vanishes with the process); the failure is reported at once, playing goes on to the end,
// and what fitted is kept under the name asked for.
TEST(PlayRecordTarget, FullDiskIsReportedWhilePlayingAndWhatFittedIsKept) {
  if (geteuid() != 0 || system("command -v unshare >/dev/null 2>&1") != 0) GTEST_SKIP() << "needs root and unshare";
  fs::path dir = FreshDir("fulldisk");
  fs::create_directories(dir / "small");
  fs::create_directories(dir / "out");
  // 128 KiB hold about 0.7 s of 16-bit stereo at 44.1 kHz.
  fs::path script = dir / "run.sh";
  std::ofstream(script) << "mount -t tmpfs -o size=128k tmpfs '" << (dir / "small").string() << "' || exit 77\n'"
                        << VANTREL_EXE << "' play '" << Patch()
                        << "' --audio null --seconds 2.5 --note 69:0.8:0 --record '" << (dir / "small" / "take.wav").string()
                        << "'\nrc=$?\ncp -a '" << (dir / "small").string() << "/.' '" << (dir / "out").string()
                        << "'\nexit $rc\n";
  Clock::time_point tStart = Clock::now();
  int iStatus = system(("env -u KSStatus unshare -m sh '" + script.string() + "' 2>'" + (dir / "play.err").string() + "'").c_str());
  double dRun = std::chrono::duration<double>(Clock::now() - tStart).count();
  int iExit = WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
  std::string sErr = ReadText(dir / "play.err");
  if (iExit == 77) GTEST_SKIP() << "cannot mount a tmpfs here: " << sErr;
  EXPECT_EQ(iExit, 2) << sErr;
  EXPECT_GE(dRun, 2.5) << "playing went on after the disk was full";
  size_t iReport = sErr.find("vantrel: the recording stopped at ");
  ASSERT_NE(iReport, std::string::npos) << sErr;
  EXPECT_NE(sErr.find("No space left on device", iReport), std::string::npos) << sErr;
  // Reported while playing: before the end-of-run summary.
  EXPECT_LT(iReport, sErr.find("vantrel: cannot write")) << sErr;
  Take take = ReadTake(dir / "out" / "take.wav");
  ASSERT_TRUE(take.bRead) << sErr;
  EXPECT_GT(take.Seconds(), 0.5);
  EXPECT_LT(take.Seconds(), 0.8);
  EXPECT_TRUE(NoPartFiles(dir / "out"));
}

// --- Time, the status line, the reset ---------------------------------------------------------

// --seconds counts from the first sound, as --note times do; 0 plays until interrupted (the
// help says so) and a negative time is refused with that meaning.
TEST(PlaySeconds, CountFromTheFirstSound) {
  fs::path dir = FreshDir("seconds");
  fs::path wav = dir / "take.wav";
  Player player;
  player.Start({Patch(), "--audio", "null", "--seconds", "1.25", "--note", "69:0.8:0", "--record", wav.string()},
               dir / "play.err");
  ASSERT_EQ(player.Wait(30), 0) << player.Err();
  Take take = ReadTake(wav);
  ASSERT_TRUE(take.bRead);
  // The take holds what was rendered from the device's opening, before the first note, to the
  // end: at least the time asked for (counted from before the device opened, it was short).
  EXPECT_GE(take.Seconds(), 1.25);

  VantrelRun r = RunVantrel("play '" + Patch() + "' --audio null --seconds -1");
  EXPECT_EQ(r.iExit, 2);
  EXPECT_NE(r.sErr.find("--seconds must be 0 (play until Ctrl-C)"), std::string::npos) << r.sErr;
  r = RunVantrel("play --help");
  EXPECT_NE(r.sOut.find("0 (the default) plays until Ctrl-C"), std::string::npos) << r.sOut;
}

TEST(PlayReset, Sigusr1ResetsTheAutoReduction) {
  fs::path dir = FreshDir("usr1");
  std::string sLoud = (dir / "loud.vantrel").string();
  std::ofstream(sLoud) << "[Osc1]\nFrequency = Pitch\nWaveform = Sine\n[Voice]\nPreGain = 20 * Osc1\n";
  Player player;
  player.Start({sLoud, "--audio", "null", "--note", "69:1:0:0.5"}, dir / "play.err");
  ASSERT_TRUE(player.WaitFor("reduced -", 20)) << player.Err();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // the note has ended by now
  kill(player.pid, SIGUSR1);
  ASSERT_TRUE(player.WaitFor("vantrel: auto-reduction reset", 10)) << player.Err();
  // The next status line shows the reset.
  auto noReductionAfterReset = [&] {
    std::string sErr = player.Err();
    size_t i = sErr.find("auto-reduction reset");
    return i != std::string::npos && sErr.find("no reduction", i) != std::string::npos;
  };
  auto tEnd = Clock::now() + std::chrono::seconds(10);
  while (!noReductionAfterReset() && Clock::now() < tEnd) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(noReductionAfterReset()) << player.Err();
  kill(player.pid, SIGINT);
  EXPECT_EQ(player.Wait(30), 0);
}

// On an 80-column terminal the status line never wraps (every line between carriage returns
// fits), and the key r resets the auto-reduction.
TEST(PlayTerminal, StatusLineFitsAndRResets) {
  fs::path dir = FreshDir("pty");
  std::string sLoud = (dir / "loud.vantrel").string();
  std::ofstream(sLoud) << "[Osc1]\nFrequency = Pitch\nWaveform = Sine\n[Voice]\nPreGain = 20 * Osc1\n";
  winsize ws = {};
  ws.ws_col = 80;
  ws.ws_row = 24;
  int fdMaster = -1;
  pid_t pid = forkpty(&fdMaster, nullptr, nullptr, &ws);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    unsetenv("KSStatus");
    execl(VANTREL_EXE, VANTREL_EXE, "play", sLoud.c_str(), "--audio", "null", "--note", "69:1:0:0.5",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  // Reads what the terminal shows until the program ends; presses r once the reduction shows,
  // then Ctrl-C once the next status line after the reset has come.
  std::string sOut;
  bool bSent = false, bInterrupted = false;
  auto tEnd = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < tEnd) {
    pollfd pfd = {fdMaster, POLLIN, 0};
    if (poll(&pfd, 1, 50) > 0) {
      char ab[4096];
      ssize_t n = read(fdMaster, ab, sizeof ab);
      if (n <= 0) break;  // the program ended
      sOut.append(ab, static_cast<size_t>(n));
    }
    if (!bSent && sOut.find("reduced -") != std::string::npos) {
      ASSERT_EQ(write(fdMaster, "r", 1), 1);
      bSent = true;
    }
    size_t iReset = sOut.find("vantrel: auto-reduction reset");
    if (!bInterrupted && iReset != std::string::npos && sOut.find("level ", iReset) != std::string::npos) {
      ASSERT_EQ(write(fdMaster, "\x03", 1), 1);  // the terminal's Ctrl-C
      bInterrupted = true;
    }
  }
  int iStatus = 0;
  waitpid(pid, &iStatus, 0);
  close(fdMaster);
  EXPECT_TRUE(WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0) << sOut;
  EXPECT_TRUE(bSent && bInterrupted) << sOut;
  EXPECT_NE(sOut.find("peak "), std::string::npos) << sOut;
  EXPECT_NE(sOut.find(" dBFS"), std::string::npos) << sOut;
  // Split where the terminal starts a line over; the erase-line sequence takes no room. Messages
  // may take more than a line; the status line (it begins with the level) never does.
  std::string sLine;
  int nLines = 0;
  for (char ch : sOut + "\n") {
    if (ch == '\r' || ch == '\n') {
      size_t i;
      while ((i = sLine.find("\033[K")) != std::string::npos) sLine.erase(i, 3);
      if (sLine.rfind("level ", 0) == 0) {
        EXPECT_LT(sLine.size(), 80u) << sLine;
        ++nLines;
      }
      sLine.clear();
    } else {
      sLine += ch;
    }
  }
  EXPECT_GE(nLines, 2) << sOut;
}

}  // namespace
