// The live engine end to end on JACK servers of its own (the dummy driver, under private names,
// so that stopping one never touches anybody else's): notes sent into vantrel play's virtual
// MIDI input by a second client and what the device got checked as a listener would (pitch,
// length, silence after the release, a clean exit); the server stopped mid-note, alone and with
// its clients, many times over; a PulseAudio server stopped mid-note the same way; outputs that
// cannot play refused with their fix; the buffer settings against the server's period. Skips
// what needs jackd or pulseaudio where they are not installed.
//
// What the timing checks tolerate, and why (none is a guess about the machine's speed):
// - A note's length is compared with the times the sender actually sent its on and off, not
//   the times it meant to. The engine places JACK MIDI at its own frame a constant delay after
//   it arrived, so the length survives to the frame; the sender's library stamps each event at
//   the start of the period after it was sent, which moves each end by up to one period. So a
//   length may be off by two periods, plus the patch's release (a few ms to fall below 1 LSB),
//   plus one period for each xrun the server reports: the dummy driver skips the cycles it
//   missed, so the sender's clock runs on through periods that nobody rendered or played.
// - Command-line notes are posted ahead of time and land on their own frames: a length on the
//   null output is exact to the release.
// - Exit times: the engine promises to end within a second of --seconds or Ctrl-C even after
//   its server has gone (each JACK client closes within 300 ms or is left behind). Ending a
//   process also needs the machine to schedule it: kSchedulingSlack is added, and is the only
//   allowance for load (a parallel build on both cores delays a wake-up by tens of ms, never
//   seconds). Loops that wait for something to appear wait long (30 s): they only end a test
//   that would fail anyway.
// - Gaps: a machine loaded beyond its cores can starve the engine (no real-time priority in a
//   container, a sanitizer build), and the device then plays silence. The engine's promise is
//   that it says so ("The engine cannot keep up"); a gap it did not report fails the test, and a
//   reported one lengthens the take instead of failing it. Pitch is measured where it sounds.
// Every live case below was run 30 times in a row while a parallel build loaded both cores,
// without a failure (VANTREL_JACK_REPEAT=30 repeats the server-loss cases that often).
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "live_take.h"
#include "process_support.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRate = 44100;
constexpr double kShutdownPromise = 1.0;  // seconds from --seconds or Ctrl-C to the process's end
constexpr double kSchedulingSlack = 1.0;  // the machine's share, see the file's head
constexpr double kReleaseSeconds = 0.005;  // the test patch's release below 1 LSB

// The environment that points a JACK client at a server (none for "").
std::map<std::string, std::string> ServerEnv(const std::string& sServer) {
  if (sServer.empty()) return {};
  return {{"JACK_DEFAULT_SERVER", sServer}};
}

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Waits until the file holds sText (true) or dSeconds passed (false).
bool WaitForText(const fs::path& path, const std::string& sText, double dSeconds) {
  return WaitFor([&] { return ReadText(path).find(sText) != std::string::npos; }, dSeconds, 10);
}

// JACK keeps its servers' machine-wide table (at most 8, with entries of crashed servers left
// behind) and its sockets in /dev/shm. Where the test may (as root, as in CI), it gives itself
// a /dev/shm of its own, so that no other user's servers can fill the table for it and none of
// its own can be left in anybody else's; its children (jackd, vantrel, midi_send) share it.
bool g_bPrivateShm = false;  // the /dev/shm below is the test's own
class PrivateShm : public testing::Environment {
 public:
  void SetUp() override {
    if (unshare(CLONE_NEWNS) != 0) return;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return;
    g_bPrivateShm = mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777") == 0;
  }
};
testing::Environment* const g_penvShm = testing::AddGlobalTestEnvironment(new PrivateShm);

// A dummy-driver JACK server under a name of its own, stopped when the object goes.
class PrivateJack {
 public:
  // A server that is to crash gets a fixed name: JACK keeps a dead server's entry in its
  // machine-wide table of (at most 8) servers until a server of the same name starts again, so
  // crashes under fresh names would fill the table for every user of the machine.
  PrivateJack(const fs::path& dir, int nPeriod, int iRate = kRate, bool bToCrash = false) {
    static std::atomic<int> nServers{0};
    sName_ = bToCrash ? "vantrel-test-crash"
                      : "vantrel-test-" + std::to_string(getpid()) + "-" + std::to_string(nServers++);
    if (system("command -v jackd >/dev/null 2>&1") != 0) {
      sWhy_ = "jackd is not installed";
      return;
    }
    fs::path log = dir / (sName_ + ".log");
    pid_ = Spawn({"jackd", "-n", sName_, "-d", "dummy", "-r", std::to_string(iRate), "-p", std::to_string(nPeriod)}, {},
                 log);
    std::string sProbe = "JACK_DEFAULT_SERVER=" + sName_ + " jack_lsp >/dev/null 2>&1";
    bReady_ = WaitFor([&] { return system(sProbe.c_str()) == 0; }, 30, 50);
    if (!bReady_) sWhy_ = "jackd -d dummy did not start: " + ReadText(log);
  }
  ~PrivateJack() { Stop(SIGTERM); }
  bool Ready() const { return bReady_; }
  const std::string& Why() const { return sWhy_; }
  const std::string& Name() const { return sName_; }
  // Stops the server as logging out does (SIGTERM) or as a crash does (SIGKILL).
  void Stop(int iSignal) {
    if (pid_ <= 0) return;
    kill(pid_, iSignal);
    Wait(pid_, 30);
    pid_ = -1;
    // The semaphores the server and its clients leave in /dev/shm, one file each. In a /dev/shm
    // of the test's own, where no other server runs now, the whole table goes too: a server
    // stopped with its clients may leave its entry behind, and repeated runs (30 in a row)
    // would fill the table's 8 places.
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator("/dev/shm", ec)) {
      std::string sFile = entry.path().filename().string();
      if (sFile.find("_" + sName_ + "_") != std::string::npos || (g_bPrivateShm && sFile.rfind("jack", 0) == 0))
        fs::remove(entry.path(), ec);
    }
  }
  pid_t Pid() const { return pid_; }

 private:
  std::string sName_, sWhy_;
  pid_t pid_ = -1;
  bool bReady_ = false;
};

fs::path TestDir(const std::string& sName) {
  fs::path dir = fs::path(testing::TempDir()) / ("play_jack_" + std::to_string(getpid()) + "_" + sName);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// An installation with its own engine settings, for `vantrel play --install DIR`.
fs::path InstallWith(const fs::path& dir, const std::string& sSettings) {
  fs::path install = dir / "install";
  fs::create_directories(install / "config");
  std::ofstream(install / "config" / "Interpreter.vantrel") << "[Interpreter]\n" << sSettings;
  return install;
}

std::string SinePatch() { return std::string(VANTREL_TEST_DATA) + "/engine/sine.vantrel"; }

struct Recording {
  int iRate = 0, nChannels = 0;
  std::vector<short> as;  // interleaved
  long Frames() const { return nChannels ? static_cast<long>(as.size()) / nChannels : 0; }
  int Left(long i) const { return as[static_cast<size_t>(i * nChannels)]; }
};

bool ReadWav(const fs::path& path, Recording* prec) {
  SF_INFO info = {};
  SNDFILE* psf = sf_open(path.c_str(), SFM_READ, &info);
  if (!psf) return false;
  prec->iRate = info.samplerate;
  prec->nChannels = info.channels;
  prec->as.resize(static_cast<size_t>(info.frames * info.channels));
  sf_count_t n = sf_readf_short(psf, prec->as.data(), info.frames);
  sf_close(psf);
  return n == info.frames;
}

// The longest run of silent samples in [iFrom, iTo): a gap a listener hears. A 440 Hz sine at
// half scale is 0 in 16 bits for at most one sample at a time, once its attack is over and
// before its release (both below a few ms in the test patch): callers leave kEdge out at the
// note's ends.
constexpr long kEdge = kRate / 50;
template <class Sample>
long LongestGap(const std::vector<Sample>& a, long iFrom, long iTo, double dSilent) {
  long nRun = 0, nLongest = 0;
  for (long i = iFrom; i < iTo; ++i) {
    nRun = std::fabs(static_cast<double>(a[static_cast<size_t>(i)])) <= dSilent ? nRun + 1 : 0;
    nLongest = std::max(nLongest, nRun);
  }
  return nLongest;
}

// The longest gap from the take's first sound (iFirst) to its last, the ends (kEdge) left out:
// Ctrl-C fades the note out, and the take may end in silence.
long GapInSound(const std::vector<short>& as, long iFirst) {
  long iLast = static_cast<long>(as.size()) - 1;
  while (iLast > iFirst && std::abs(as[static_cast<size_t>(iLast)]) <= 1) --iLast;
  return LongestGap(as, iFirst + kEdge, iLast - kEdge, 0);
}

std::vector<short> LeftChannel(const Recording& rec) {
  std::vector<short> as(static_cast<size_t>(rec.Frames()));
  for (long i = 0; i < rec.Frames(); ++i) as[static_cast<size_t>(i)] = static_cast<short>(rec.Left(i));
  return as;
}

// Checks a recording of A4 held for dHeld seconds as a listener would: its length, its pitch,
// and silence after the release.
void ExpectHeldA4(const fs::path& wav, double dHeld, double dTolerance, const std::string& sErr) {
  Recording rec;
  ASSERT_TRUE(ReadWav(wav, &rec));
  ASSERT_EQ(rec.iRate, kRate);
  long iFirst = -1, iLast = -1;
  for (long i = 0; i < rec.Frames(); ++i)
    if (std::abs(rec.Left(i)) > 1) {
      if (iFirst < 0) iFirst = i;
      iLast = i;
    }
  ASSERT_GE(iFirst, 0) << "the recording is silent";
  // The silence of periods the engine was late for (and said so) lengthens the note in the take.
  long nGap = LongestGap(LeftChannel(rec), iFirst + kEdge, iLast - kEdge, 0);
  if (EngineSaidItWasLate(sErr)) {
    EXPECT_GE(static_cast<double>(iLast - iFirst) / rec.iRate, dHeld - dTolerance);
  } else {
    EXPECT_NEAR(static_cast<double>(iLast - iFirst) / rec.iRate, dHeld, dTolerance);
    EXPECT_LE(nGap, 1) << "the note has a gap the engine did not report: " << sErr;
  }
  // Pitch: rising zero crossings over one second from 0.1 s into the note: A4 is 440 Hz.
  long iFrom = iFirst + rec.iRate / 10, iTo = iFrom + rec.iRate;
  ASSERT_LT(iTo, iLast);
  EXPECT_NEAR(SoundingFrequency([&](long i) { return rec.Left(i); }, iFrom, iTo, rec.iRate), 440, 1);
  // After the release: silence to the end (the recording goes on for a while).
  EXPECT_GT(rec.Frames() - iLast, rec.iRate / 4) << "the recording should go on after the note";
}

// The most server xruns the status lines reported ("xruns 3"): periods the server skipped, which
// the sender's clock counts and the device never played.
long ServerXruns(const std::string& sErr) {
  long nMost = 0;
  for (size_t i = 0; (i = sErr.find(" xruns ", i)) != std::string::npos; ++i) nMost = std::max(nMost, atol(sErr.c_str() + i + 7));
  return nMost;
}

// The times midi_send printed for its "on" and "off" events ("sent 1.0002 on").
bool SentTimes(const std::string& sSend, double* pdOn, double* pdOff) {
  std::istringstream in(sSend);
  std::string sWord, sKind;
  double dAt = 0;
  *pdOn = *pdOff = -1;
  while (in >> sWord)
    if (sWord == "sent" && in >> dAt >> sKind) {
      if (sKind == "on" && *pdOn < 0) *pdOn = dAt;
      if (sKind == "off") *pdOff = dAt;
    }
  return *pdOn >= 0 && *pdOff >= 0;
}

struct PlayCase {
  const char* pszName;
  std::vector<std::string> asEvents;  // midi_send events
  bool bInterrupt;                    // end with Ctrl-C rather than --seconds
};
void PrintTo(const PlayCase& c, std::ostream* pos) { *pos << c.pszName; }

const PlayCase kCases[] = {
    {"note", {"1:on:69:100", "2.5:off:69"}, false},
    // Bytes that make no message, a dump that never ends, then the note: the input recovers.
    {"garbage_first", {"0.4:raw:3C40", "0.5:raw:F07E0001", "0.6:raw:9040", "1:on:69:100", "2.5:off:69"}, false},
    {"interrupted", {"0.5:on:69:100", "2:off:69"}, true},
};

class PlayJackTest : public testing::TestWithParam<PlayCase> {};

TEST_P(PlayJackTest, PlaysTheNoteAndShutsDownCleanly) {
  const PlayCase& c = GetParam();
  fs::path dir = TestDir(c.pszName);
  constexpr int kPeriod = 256;
  PrivateJack jack(dir, kPeriod);
  if (!jack.Ready()) GTEST_SKIP() << "no JACK server: " << jack.Why();
  fs::path wav = dir / "out.wav";
  std::vector<std::string> asPlay = {VANTREL_EXE, "play", SinePatch(), "--audio", "jack", "--midi-in", "virtual",
                                     "--record", wav.string()};
  if (!c.bInterrupt) asPlay.insert(asPlay.end(), {"--seconds", "5"});
  pid_t pidPlay = Spawn(asPlay, ServerEnv(jack.Name()), dir / "play.err");
  std::vector<std::string> asSend = {MIDI_SEND, "--listen", "vantrel", "--wait", "30", "vantrel-midi:in"};
  asSend.insert(asSend.end(), c.asEvents.begin(), c.asEvents.end());
  pid_t pidSend = Spawn(asSend, ServerEnv(jack.Name()), dir / "send.out");
  EXPECT_EQ(Wait(pidSend, 60), 0) << ReadText(dir / "send.out");
  if (c.bInterrupt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(pidPlay, SIGINT);
  }
  int iExit = Wait(pidPlay, 60);
  std::string sErr = ReadText(dir / "play.err");
  ASSERT_EQ(iExit, 0) << sErr;
  EXPECT_NE(sErr.find("recorded"), std::string::npos) << sErr;
  EXPECT_NE(sErr.find("MIDI successfully started"), std::string::npos) << sErr;
  EXPECT_NE(sErr.find("virtual port vantrel-midi:in"), std::string::npos) << sErr;
  std::string sSend = ReadText(dir / "send.out");
  RecordProperty("latency", sSend);
  printf("MIDI note to first sound at the JACK port: %s", sSend.c_str());
  EXPECT_NE(sSend.find("latency_ms "), std::string::npos) << sSend;
  EXPECT_EQ(sSend.find("none"), std::string::npos) << "the note was never heard";
  double dOn, dOff;
  ASSERT_TRUE(SentTimes(sSend, &dOn, &dOff)) << sSend;
  ExpectHeldA4(wav, dOff - dOn, (2.0 + ServerXruns(sErr)) * kPeriod / kRate + kReleaseSeconds, sErr);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlayJackTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<PlayCase>& info) { return std::string(info.param.pszName); });

// --- The server goes away mid-note ----------------------------------------------------------

struct LossCase {
  const char* pszName;
  bool bWithClients;  // the MIDI sender goes down with the server, as at logout
  int iSignal;        // how the server ends: SIGTERM (stopped) or SIGKILL (crashed)
  bool bInterrupt;    // Ctrl-C after the loss; else --seconds ends the run
};
void PrintTo(const LossCase& c, std::ostream* pos) { *pos << c.pszName; }

const LossCase kLossCases[] = {
    {"alone_seconds", false, SIGTERM, false},
    {"alone_interrupt", false, SIGTERM, true},
    {"with_clients_seconds", true, SIGTERM, false},
    {"with_clients_interrupt", true, SIGTERM, true},
    {"crash_with_clients_interrupt", true, SIGKILL, true},
};

// After the sound server went: the run ends by Ctrl-C dAfterLoss later, or by its --seconds
// (counted from the start, so the run has been going at least since the loss), within the
// promise. Its exit status, and its standard error in *psErr.
int EndAfterLoss(pid_t pidPlay, const fs::path& err, bool bInterrupt, Clock::time_point tLoss, double dAfterLoss,
                 double dSeconds, std::string* psErr) {
  int iExit;
  if (bInterrupt) {
    std::this_thread::sleep_for(std::chrono::duration<double>(dAfterLoss));
    Clock::time_point tInterrupt = Clock::now();
    kill(pidPlay, SIGINT);
    iExit = Wait(pidPlay, 60);
    EXPECT_LE(Since(tInterrupt), kShutdownPromise + kSchedulingSlack) << "Ctrl-C after the loss: " << ReadText(err);
  } else {
    iExit = Wait(pidPlay, 60);
    EXPECT_LE(Since(tLoss), dSeconds + kShutdownPromise + kSchedulingSlack) << ReadText(err);
  }
  *psErr = ReadText(err);
  return iExit;
}

class PlayJackServerLossTest : public testing::TestWithParam<LossCase> {};

int Repeats() {
  const char* psz = getenv("VANTREL_JACK_REPEAT");
  return psz && atoi(psz) > 0 ? atoi(psz) : 3;
}

TEST_P(PlayJackServerLossTest, EndsInTimeKeepsTheTakeAndSaysWhatHappened) {
  const LossCase& c = GetParam();
  constexpr double kHeldBeforeLoss = 0.5, kAfterLoss = 0.3;  // seconds
  constexpr int kBuffers = 3, kBufferSamples = 768;         // the shipped settings
  for (int iRun = 0; iRun < Repeats(); ++iRun) {
    SCOPED_TRACE("run " + std::to_string(iRun + 1));
    fs::path dir = TestDir(std::string(c.pszName) + "_" + std::to_string(iRun));
    PrivateJack jack(dir, 256, kRate, c.iSignal == SIGKILL);
    if (!jack.Ready()) GTEST_SKIP() << "no JACK server: " << jack.Why();
    fs::path wav = dir / "out.wav", err = dir / "play.err";
    constexpr double kSeconds = 4;  // long enough to start, sound, lose the server and go on
    std::vector<std::string> asPlay = {VANTREL_EXE, "play", SinePatch(), "--audio", "jack", "--midi-in", "virtual",
                                       "--record", wav.string()};
    if (!c.bInterrupt) asPlay.insert(asPlay.end(), {"--seconds", std::to_string(kSeconds)});
    pid_t pidPlay = Spawn(asPlay, ServerEnv(jack.Name()), err);
    // The note stays held: the server goes while it sounds.
    std::vector<std::string> asSend = {MIDI_SEND, "--wait", "30", "vantrel-midi:in", "0.2:on:69:100"};
    if (c.bWithClients) asSend.push_back("--hold");
    pid_t pidSend = Spawn(asSend, ServerEnv(jack.Name()), dir / "send.out");
    ASSERT_TRUE(WaitForText(dir / "send.out", "sent", 30)) << ReadText(dir / "send.out") << ReadText(err);
    std::this_thread::sleep_for(std::chrono::duration<double>(kHeldBeforeLoss));
    Clock::time_point tLoss = Clock::now();
    if (c.bWithClients) kill(pidSend, SIGKILL);
    jack.Stop(c.iSignal);
    if (!c.bWithClients) EXPECT_EQ(Wait(pidSend, 30), 0) << ReadText(dir / "send.out");
    else Wait(pidSend, 30);
    ASSERT_TRUE(WaitForText(err, "audio device lost", 30)) << ReadText(err);
    ASSERT_TRUE(WaitForText(err, "MIDI input lost", 30)) << ReadText(err);
    std::string sErr;
    ASSERT_EQ(EndAfterLoss(pidPlay, err, c.bInterrupt, tLoss, kAfterLoss, kSeconds, &sErr), 0)
        << "a run that ended as asked exits 0, the loss reported: " << sErr;
    EXPECT_NE(sErr.find("recorded"), std::string::npos) << sErr;
    // The take holds everything rendered: the note from its start, through the loss (the clock
    // plays on from the frame the server stopped at) to the end, without a gap.
    Recording rec;
    ASSERT_TRUE(ReadWav(wav, &rec)) << sErr;
    std::vector<short> as = LeftChannel(rec);
    long iFirst = 0;
    while (iFirst < rec.Frames() && std::abs(as[static_cast<size_t>(iFirst)]) <= 1) ++iFirst;
    ASSERT_LT(iFirst, rec.Frames()) << "the take is silent";
    // Sounding for as long as it was held before the loss and played on after it, less what
    // the engine may hold back: the MIDI delay at the start (one period and the buffers) and
    // the buffers still queued at the end, which never play.
    double dSounding = static_cast<double>(rec.Frames() - iFirst) / kRate;
    double dHeldBack = (2.0 * kBuffers * kBufferSamples + 256) / kRate;
    EXPECT_GE(dSounding, kHeldBeforeLoss + (c.bInterrupt ? kAfterLoss : 0) - dHeldBack) << sErr;
    if (!EngineSaidItWasLate(sErr)) {
      EXPECT_LE(GapInSound(as, iFirst), 1) << "the take has a gap: " << sErr;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, PlayJackServerLossTest, testing::ValuesIn(kLossCases),
                         [](const testing::TestParamInfo<LossCase>& info) { return std::string(info.param.pszName); });

// --- PulseAudio goes away mid-note --------------------------------------------------------

// A PulseAudio server of the test's own: a null sink, its socket in a private runtime folder
// (PULSE_SERVER points the player at it), stopped when the object goes.
class PrivatePulse {
 public:
  explicit PrivatePulse(const fs::path& dir) {
    if (system("command -v pulseaudio >/dev/null 2>&1 && command -v pactl >/dev/null 2>&1") != 0) {
      sWhy_ = "pulseaudio is not installed";
      return;
    }
    fs::path run = dir / "pulse-run", home = dir / "pulse-home";
    fs::create_directories(run);
    fs::create_directories(home);
    sServer_ = "unix:" + (run / "pulse" / "native").string();
    fs::path log = dir / "pulseaudio.log";
    pid_ = Spawn({"env", "HOME=" + home.string(), "XDG_RUNTIME_DIR=" + run.string(), "pulseaudio", "-n",
                  "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--disable-shm=yes", "-L",
                  "module-null-sink", "-L", "module-native-protocol-unix auth-anonymous=1", "--log-target=stderr"}, {},
                 log);
    std::string sProbe = "PULSE_SERVER=" + sServer_ + " pactl info >/dev/null 2>&1";
    bReady_ = WaitFor([&] { return system(sProbe.c_str()) == 0; }, 30, 50);
    if (!bReady_) sWhy_ = "pulseaudio did not start: " + ReadText(log);
  }
  ~PrivatePulse() { Stop(); }
  bool Ready() const { return bReady_; }
  const std::string& Why() const { return sWhy_; }
  const std::string& Server() const { return sServer_; }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    Wait(pid_, 30);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool bReady_ = false;
  std::string sWhy_, sServer_;
};

class PlayPulseServerLossTest : public testing::TestWithParam<bool> {};

// The sound server stops while a note sounds: the player says so, plays on the clock, ends in
// time (by --seconds, or by Ctrl-C after the loss) with status 0, and the take holds the note
// from its start through the loss to the end.
TEST_P(PlayPulseServerLossTest, EndsInTimeKeepsTheTakeAndSaysWhatHappened) {
  bool bInterrupt = GetParam();
  constexpr double kHeldBeforeLoss = 0.8, kAfterLoss = 0.3, kSeconds = 3;
  for (int iRun = 0; iRun < Repeats(); ++iRun) {
    SCOPED_TRACE("run " + std::to_string(iRun + 1));
    fs::path dir = TestDir(std::string("pulse_") + (bInterrupt ? "interrupt_" : "seconds_") + std::to_string(iRun));
    PrivatePulse pulse(dir);
    if (!pulse.Ready()) GTEST_SKIP() << "no PulseAudio server: " << pulse.Why();
    fs::path wav = dir / "out.wav", err = dir / "play.err";
    std::string sSuppress = std::string("LSAN_OPTIONS=suppressions=") + VANTREL_TEST_DATA + "/sanitizer/pulse_lsan.supp";
    std::vector<std::string> asPlay = {"env", "PULSE_SERVER=" + pulse.Server(), sSuppress, VANTREL_EXE, "play", SinePatch(),
                                       "--audio", "pulse", "--note", "69:0.8:0", "--record", wav.string()};
    if (!bInterrupt) asPlay.insert(asPlay.end(), {"--seconds", std::to_string(kSeconds)});
    pid_t pidPlay = Spawn(asPlay, {}, err);
    // The server takes a few tenths of a second after the stream opens before it pulls: the
    // note is held from when the status line shows it sounding.
    ASSERT_TRUE(WaitForText(err, "voices 1", 30)) << ReadText(err);
    std::this_thread::sleep_for(std::chrono::duration<double>(kHeldBeforeLoss));
    Clock::time_point tLoss = Clock::now();
    pulse.Stop();
    ASSERT_TRUE(WaitForText(err, "audio device lost", 30)) << ReadText(err);
    std::string sErr;
    ASSERT_EQ(EndAfterLoss(pidPlay, err, bInterrupt, tLoss, kAfterLoss, kSeconds, &sErr), 0)
        << "a run that ended as asked exits 0, the loss reported: " << sErr;
    EXPECT_NE(sErr.find("recorded"), std::string::npos) << sErr;
    EXPECT_EQ(sErr.find("RtApi"), std::string::npos) << "the library's own words stay in the log: " << sErr;
    Recording rec;
    ASSERT_TRUE(ReadWav(wav, &rec)) << sErr;
    std::vector<short> as = LeftChannel(rec);
    long iFirst = 0;
    while (iFirst < rec.Frames() && std::abs(as[static_cast<size_t>(iFirst)]) <= 1) ++iFirst;
    ASSERT_LT(iFirst, rec.Frames()) << "the take is silent";
    // Less what the engine holds back: the buffers queued at the end, which never play.
    double dHeldBack = 3.0 * 768 / kRate;
    EXPECT_GE(static_cast<double>(rec.Frames() - iFirst) / kRate,
              kHeldBeforeLoss + (bInterrupt ? kAfterLoss : 0) - dHeldBack)
        << sErr;
    if (!EngineSaidItWasLate(sErr)) {
      EXPECT_LE(GapInSound(as, iFirst), 1) << "the take has a gap: " << sErr;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Ends, PlayPulseServerLossTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "interrupt" : "seconds");
                         });

// --- Outputs that cannot play, and the buffer settings against the server's period ---------

// An output asked for by name that cannot play ends the run at once with one line naming the
// fix, before any MIDI port opens; the silent clock is only for when no output was named.
TEST(PlayJackRefusal, NamedOutputThatCannotPlay) {
  fs::path dir = TestDir("refusal");
  PrivateJack jack(dir, 256, 48000);
  if (!jack.Ready()) GTEST_SKIP() << "no JACK server: " << jack.Why();
  struct Row {
    std::string sServer, sExpected;
  } arow[] = {
      {jack.Name(), "vantrel: JACK runs at 48000 Hz; set FreqEval = 48000 in config/Interpreter.vantrel\n"},
      {jack.Name() + "-absent", "no JACK server is running"},
  };
  for (const Row& row : arow) {
    SCOPED_TRACE(row.sServer);
    pid_t pid = Spawn({VANTREL_EXE, "play", SinePatch(), "--audio", "jack", "--midi-in", "virtual", "--seconds", "30"}, ServerEnv(row.sServer),
                      dir / "play.err");
    int iExit = Wait(pid, 60);
    std::string sErr = ReadText(dir / "play.err");
    EXPECT_EQ(iExit, 1) << sErr;
    EXPECT_NE(sErr.find(row.sExpected), std::string::npos) << sErr;
    EXPECT_EQ(sErr.find("MIDI successfully started"), std::string::npos) << sErr;
    EXPECT_EQ(sErr.find("playing"), std::string::npos) << sErr;
  }
}

// Each instance announces the port names JACK actually gave it: a second one on the same server
// gets "-01" names, and says so.
TEST(PlayJackNames, EachInstanceAnnouncesTheNamesJackAssigned) {
  fs::path dir = TestDir("names");
  PrivateJack jack(dir, 256);
  if (!jack.Ready()) GTEST_SKIP() << "no JACK server: " << jack.Why();
  struct Row {
    const char *pszMidi, *pszAudio;
  } arow[] = {{"virtual port vantrel-midi:in", "ports vantrel:out_1, vantrel:out_2"},
              {"virtual port vantrel-midi-01:in", "ports vantrel-01:out_1, vantrel-01:out_2"}};
  std::vector<pid_t> apid;
  for (size_t i = 0; i < 2; ++i) {
    fs::path err = dir / ("play" + std::to_string(i) + ".err");
    apid.push_back(Spawn({VANTREL_EXE, "play", SinePatch(), "--audio", "jack", "--midi-in", "virtual", "--seconds", "30"}, ServerEnv(jack.Name()),
                         err));
    // The first holds its names before the second asks for the same ones.
    ASSERT_TRUE(WaitForText(err, "playing", 30)) << ReadText(err);
    EXPECT_NE(ReadText(err).find(arow[i].pszMidi), std::string::npos) << ReadText(err);
    EXPECT_NE(ReadText(err).find(arow[i].pszAudio), std::string::npos) << ReadText(err);
  }
  for (pid_t pid : apid) {
    kill(pid, SIGINT);
    EXPECT_EQ(Wait(pid, 60), 0);
  }
}

struct FeedCase {
  int nPeriod, nBuffers, nBufferSamples;
  const char* pszRefusal;  // null: plays without a gap
};
void PrintTo(const FeedCase& c, std::ostream* pos) {
  *pos << c.nPeriod << "_" << c.nBuffers << "x" << c.nBufferSamples;
}

const FeedCase kFeedCases[] = {
    {2048, 3, 768, "set BufferSamples = 1024 (or Buffers = 4)"},
    {256, 2, 64, "set BufferSamples = 128 (or Buffers = 4)"},
    {256, 3, 100, "set BufferSamples = 128 (or Buffers = 4)"},
    {256, 3, 768, nullptr},
    {128, 2, 128, nullptr},  // the low-latency settings the README recommends
    {64, 3, 64, nullptr},
};

class PlayJackFeedTest : public testing::TestWithParam<FeedCase> {};

// What the JACK port carries, captured by a second client: continuous from the note's first
// frame to its end, or a refusal at start naming the smallest working values.
TEST_P(PlayJackFeedTest, ContinuousOrRefusedAtStart) {
  const FeedCase& c = GetParam();
  fs::path dir = TestDir("feed_" + std::to_string(c.nPeriod) + "_" + std::to_string(c.nBuffers) + "x" +
                         std::to_string(c.nBufferSamples));
  PrivateJack jack(dir, c.nPeriod);
  if (!jack.Ready()) GTEST_SKIP() << "no JACK server: " << jack.Why();
  fs::path install = InstallWith(dir, "Buffers = " + std::to_string(c.nBuffers) +
                                          "\nBufferSamples = " + std::to_string(c.nBufferSamples) + "\n");
  fs::path capture = dir / "capture.f32";
  pid_t pidPlay = Spawn({VANTREL_EXE, "play", "--install", install.string(), SinePatch(), "--audio", "jack",
                         "--midi-in", "virtual", "--seconds", "30"}, ServerEnv(jack.Name()),
                        dir / "play.err");
  if (c.pszRefusal) {
    int iExit = Wait(pidPlay, 60);
    std::string sErr = ReadText(dir / "play.err");
    EXPECT_EQ(iExit, 1) << sErr;
    EXPECT_NE(sErr.find(c.pszRefusal), std::string::npos) << sErr;
    EXPECT_NE(sErr.find(std::to_string(c.nPeriod) + "-frame periods"), std::string::npos) << sErr;
    return;
  }
  pid_t pidSend = Spawn({MIDI_SEND, "--listen", "vantrel", "--capture", capture.string(), "--wait", "30",
                         "vantrel-midi:in", "0.3:on:69:100", "2.3:off:69"}, ServerEnv(jack.Name()),
                        dir / "send.out");
  EXPECT_EQ(Wait(pidSend, 60), 0) << ReadText(dir / "send.out");
  kill(pidPlay, SIGINT);
  int iExit = Wait(pidPlay, 60);
  std::string sErr = ReadText(dir / "play.err");
  EXPECT_EQ(iExit, 0) << sErr;
  std::ifstream in(capture, std::ios::binary);
  std::vector<char> ab((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> afSamples(ab.size() / sizeof(float));
  if (!afSamples.empty()) memcpy(afSamples.data(), ab.data(), afSamples.size() * sizeof(float));
  long iFirst = -1, iLast = -1;
  for (long i = 0; i < static_cast<long>(afSamples.size()); ++i)
    if (std::fabs(afSamples[static_cast<size_t>(i)]) > 1.5f / 32768) {
      if (iFirst < 0) iFirst = i;
      iLast = i;
    }
  ASSERT_GE(iFirst, 0) << "nothing was heard at the port: " << sErr;
  EXPECT_GT(iLast - iFirst, kRate) << "the two-second note was cut short";
  if (!EngineSaidItWasLate(sErr)) {
    EXPECT_LE(LongestGap(afSamples, iFirst + kEdge, iLast - kEdge, 0.0), 1) << "the port carried gaps: " << sErr;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, PlayJackFeedTest, testing::ValuesIn(kFeedCases),
                         [](const testing::TestParamInfo<FeedCase>& info) {
                           return std::to_string(info.param.nPeriod) + "_" + std::to_string(info.param.nBuffers) +
                                  "x" + std::to_string(info.param.nBufferSamples);
                         });

// Without any sound system: notes from the command line, played on the clock-paced null output.
TEST(PlayNull, CommandLineNotesPlayOnTheClock) {
  fs::path dir = TestDir("null");
  fs::path wav = dir / "out.wav";
  pid_t pid = Spawn({VANTREL_EXE, "play", SinePatch(), "--audio", "null", "--seconds", "2.5", "--note",
                     "69:0.8:0.3:1.5", "--record", wav.string()}, {},
                    dir / "play.err");
  int iExit = Wait(pid, 60);
  std::string sErr = ReadText(dir / "play.err");
  ASSERT_EQ(iExit, 0) << sErr;
  EXPECT_NE(sErr.find("on null output"), std::string::npos) << sErr;
  // Command-line notes are posted ahead and placed at their frames: exact up to the release.
  ExpectHeldA4(wav, 1.5, kReleaseSeconds, sErr);
}

}  // namespace
