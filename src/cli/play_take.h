// vantrel play's recording and the ways a run ends: a take that survives the end of the run
// however it ends (Ctrl-C, a closed terminal, kill, a full disk, a crash).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/sampletap.h"
#include "engine/wavwriter.h"

// The engine's tap drained into the WAV file on a thread of its own, so the audio thread never
// waits for the disk. The header's sizes are rewritten every second, so the unfinished file
// plays up to about a second before wherever the process stopped. A write failure stops the
// writing, not the playing; what was written is kept.
class Take {
 public:
  ~Take();
  // Opens the file (a directory is refused); false with the reason in sError.
  bool Open(const std::string& sPath, int nChannels, int iRate, double dTapSeconds);
  SampleTap* Tap() { return ptap_.get(); }
  void Start();
  // The main thread's poll: the text of a write failure that happened since the last call, once.
  std::string NewFailure();
  // Stops the thread after writing what is left, then finishes the file and moves it into
  // place, keeping whatever was written. False when the take is not whole (a write failed,
  // frames were lost, the file could not be moved), with the reason in sError.
  bool Finish();
  // Any thread, when the process must end now: the header covers what was written and the file
  // is moved into place; nothing is written after it. Should the file be busy past a moment (a
  // FIFO without a reader blocks the move), it stays as it is. Answers where the take is.
  std::string Rescue();
  double Seconds() const { return static_cast<double>(nFrames_.load()) / iRate_; }
  long long Frames() const { return nFrames_.load(); }
  std::string sError;

 private:
  void Loop();
  WavWriter wav_;
  std::unique_ptr<SampleTap> ptap_;
  std::string sPath_, sTempPath_;  // the name asked for; where the take is until it moves there
  int nChannels_ = 2, iRate_ = 44100;
  std::thread thread_;
  std::timed_mutex mutex_;  // the file, between the writer thread, Finish and Rescue
  std::atomic<bool> bStop_{false}, bFailed_{false}, bFailureShown_{false}, bRescued_{false};
  std::atomic<long long> nFrames_{0};
  std::string sFailure_;  // set once, before bFailed_
};

// The signals that end a run: SIGINT, SIGTERM, SIGHUP (the terminal closed) and SIGQUIT all ask
// for the orderly end; SIGPIPE is ignored (a status reader that went away is no reason to stop,
// the write just fails) and so is SIGXFSZ (a file-size limit is a write failure, reported);
// SIGUSR1 asks for the auto-reduction to be reset.
void InstallPlaySignals();
// How many end requests arrived (0 while playing on).
int EndRequests();
// True once after each SIGUSR1.
bool TakeResetRequest();

// Watches the orderly end once it has begun: a second end request gives it kGraceSeconds more;
// should it still not be done then, pfnLast runs (the take is rescued, the terminal restored)
// and the process ends at once with status 130.
class ShutdownGuard {
 public:
  static constexpr int kGraceSeconds = 3;
  ShutdownGuard(std::function<void(const std::string&)> pfnSay, std::function<void()> pfnLast);
  ~ShutdownGuard();  // the orderly end is done

 private:
  std::thread thread_;
  std::atomic<bool> bDone_{false};
};
