// The live engine end to end: vantrel play on a JACK server (the dummy driver when none runs),
// notes sent into its virtual MIDI input by a second client, and what the device got checked
// as a listener would: silence before the note, the pitch, silence after the release, a clean
// exit; skips when no JACK server can be started. Also command-line notes on the null output.
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Starts a program with its output in a file; answers its process id.
pid_t Spawn(const std::vector<std::string>& asArgs, const fs::path& out) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  FILE* pfile = fopen(out.c_str(), "w");
  if (pfile) {
    dup2(fileno(pfile), 1);
    dup2(fileno(pfile), 2);
  }
  std::vector<char*> apsz;
  for (const std::string& s : asArgs) apsz.push_back(const_cast<char*>(s.c_str()));
  apsz.push_back(nullptr);
  execvp(apsz[0], apsz.data());
  _exit(127);
}

// Waits up to dSeconds; answers the exit status, or -1 (the process is then killed).
int Wait(pid_t pid, double dSeconds) {
  auto tEnd = std::chrono::steady_clock::now() + std::chrono::duration<double>(dSeconds);
  int iStatus = 0;
  while (std::chrono::steady_clock::now() < tEnd) {
    if (waitpid(pid, &iStatus, WNOHANG) == pid) return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &iStatus, 0);
  return -1;
}

bool JackRuns() { return system("jack_lsp >/dev/null 2>&1") == 0; }

// A JACK server for the whole program: the one running, or a dummy one started here.
class JackServer {
 public:
  static JackServer& Get() {
    static JackServer server;
    return server;
  }
  bool Ready() const { return bReady_; }
  const std::string& Why() const { return sWhy_; }
  ~JackServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      Wait(pid_, 5);
    }
  }

 private:
  JackServer() {
    if (JackRuns()) {
      bReady_ = true;
      return;
    }
    if (system("command -v jackd >/dev/null 2>&1") != 0) {
      sWhy_ = "jackd is not installed";
      return;
    }
    pid_ = Spawn({"jackd", "-d", "dummy", "-r", "44100", "-p", "256"}, fs::path(testing::TempDir()) / "jackd.log");
    for (int i = 0; i < 100 && !bReady_; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      bReady_ = JackRuns();
    }
    if (!bReady_) sWhy_ = "jackd -d dummy did not start: " + ReadText(fs::path(testing::TempDir()) / "jackd.log");
  }
  pid_t pid_ = -1;
  bool bReady_ = false;
  std::string sWhy_;
};

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

// Checks a recording of A4 held for dHeld seconds as a listener would: its length, its pitch,
// and silence after the release.
void ExpectHeldA4(const fs::path& wav, double dHeld, double dTolerance) {
  Recording rec;
  ASSERT_TRUE(ReadWav(wav, &rec));
  ASSERT_EQ(rec.iRate, 44100);
  long iFirst = -1, iLast = -1;
  for (long i = 0; i < rec.Frames(); ++i)
    if (std::abs(rec.Left(i)) > 1) {
      if (iFirst < 0) iFirst = i;
      iLast = i;
    }
  ASSERT_GE(iFirst, 0) << "the recording is silent";
  // The note lasts as long as it was held (the release of this patch takes about a millisecond).
  EXPECT_NEAR(static_cast<double>(iLast - iFirst) / rec.iRate, dHeld, dTolerance);
  // Pitch: rising zero crossings over one second from 0.1 s into the note: A4 is 440 Hz.
  long iFrom = iFirst + rec.iRate / 10, iTo = iFrom + rec.iRate;
  ASSERT_LT(iTo, iLast);
  int nCrossings = 0;
  for (long i = iFrom + 1; i < iTo; ++i) nCrossings += rec.Left(i - 1) < 0 && rec.Left(i) >= 0;
  EXPECT_NEAR(nCrossings, 440, 1);
  // After the release: silence to the end (the recording goes on for a while).
  EXPECT_GT(rec.Frames() - iLast, rec.iRate / 4) << "the recording should go on after the note";
}

struct PlayCase {
  const char* pszName;
  std::vector<std::string> asEvents;  // midi_send events
  double dOn, dOff;                   // the note's times in the events, seconds
  bool bInterrupt;                    // end with Ctrl-C rather than --seconds
};
// Names the case in test listings (instead of its bytes).
void PrintTo(const PlayCase& c, std::ostream* pos) { *pos << c.pszName; }

const PlayCase kCases[] = {
    {"note", {"1:on:69:100", "2.5:off:69"}, 1.0, 2.5, false},
    // Bytes that make no message, a dump that never ends, then the note: the input recovers.
    {"garbage_first", {"0.4:raw:3C40", "0.5:raw:F07E0001", "0.6:raw:9040", "1:on:69:100", "2.5:off:69"}, 1.0, 2.5, false},
    {"interrupted", {"0.5:on:69:100", "2:off:69"}, 0.5, 2.0, true},
};

class PlayJackTest : public testing::TestWithParam<PlayCase> {};

TEST_P(PlayJackTest, PlaysTheNoteAndShutsDownCleanly) {
  const PlayCase& c = GetParam();
  if (!JackServer::Get().Ready()) GTEST_SKIP() << "no JACK server: " << JackServer::Get().Why();
  fs::path dir = fs::path(testing::TempDir()) / ("play_jack_" + std::to_string(getpid()) + "_" + c.pszName);
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::path wav = dir / "out.wav";
  std::vector<std::string> asPlay = {VANTREL_EXE, "play", std::string(VANTREL_TEST_DATA) + "/engine/sine.vantrel",
                                     "--audio", "jack", "--midi-in", "virtual", "--record", wav.string()};
  if (!c.bInterrupt) asPlay.insert(asPlay.end(), {"--seconds", "5"});
  pid_t pidPlay = Spawn(asPlay, dir / "play.err");
  std::vector<std::string> asSend = {MIDI_SEND, "--listen", "vantrel", "vantrel-midi:in"};
  asSend.insert(asSend.end(), c.asEvents.begin(), c.asEvents.end());
  pid_t pidSend = Spawn(asSend, dir / "send.out");
  EXPECT_EQ(Wait(pidSend, 30), 0) << ReadText(dir / "send.out");
  if (c.bInterrupt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(pidPlay, SIGINT);
  }
  int iExit = Wait(pidPlay, 30);
  std::string sErr = ReadText(dir / "play.err");
  ASSERT_EQ(iExit, 0) << sErr;
  EXPECT_NE(sErr.find("recorded"), std::string::npos) << sErr;
  EXPECT_NE(sErr.find("MIDI successfully started"), std::string::npos) << sErr;
  std::string sSend = ReadText(dir / "send.out");
  RecordProperty("latency", sSend);
  printf("MIDI note to first sound at the JACK port: %s", sSend.c_str());
  EXPECT_EQ(sSend.rfind("latency_ms ", 0), 0u) << sSend;
  EXPECT_EQ(sSend.find("none"), std::string::npos) << "the note was never heard";

  // JACK delivers MIDI at period boundaries: allow a few periods either way.
  ExpectHeldA4(wav, c.dOff - c.dOn, 0.05);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlayJackTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<PlayCase>& info) { return std::string(info.param.pszName); });

// Without any sound system: notes from the command line, played on the clock-paced null output.
TEST(PlayNull, CommandLineNotesPlayOnTheClock) {
  fs::path dir = fs::path(testing::TempDir()) / ("play_null_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::path wav = dir / "out.wav";
  pid_t pid = Spawn({VANTREL_EXE, "play", std::string(VANTREL_TEST_DATA) + "/engine/sine.vantrel", "--audio", "null",
                     "--seconds", "2.5", "--note", "69:0.8:0.3:1.5", "--record", wav.string()},
                    dir / "play.err");
  int iExit = Wait(pid, 30);
  std::string sErr = ReadText(dir / "play.err");
  ASSERT_EQ(iExit, 0) << sErr;
  EXPECT_NE(sErr.find("on null output"), std::string::npos) << sErr;
  // Notes are posted between buffers, which the clock paces: allow a couple of buffers either way.
  ExpectHeldA4(wav, 1.5, 0.05);
}

}  // namespace
