// vantrel play's take and end-of-run signals.
#include "cli/play_take.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace {

constexpr auto kDrainEvery = std::chrono::milliseconds(50);  // the tap holds seconds; this is plenty
constexpr auto kHeaderEvery = std::chrono::seconds(1);       // at most this much is unplayable after a crash

volatile sig_atomic_t g_nEndRequests = 0;
volatile sig_atomic_t g_bResetRequest = 0;

void OnEndSignal(int) { g_nEndRequests = g_nEndRequests + 1; }
void OnResetSignal(int) { g_bResetRequest = 1; }

void Handle(int iSignal, void (*pfn)(int)) {
  struct sigaction sa = {};
  sa.sa_handler = pfn;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(iSignal, &sa, nullptr);
}

}  // namespace

Take::~Take() {
  bStop_ = true;
  if (thread_.joinable()) thread_.join();
}

bool Take::Open(const std::string& sPath, int nChannels, int iRate, double dTapSeconds) {
  nChannels_ = nChannels;
  iRate_ = iRate;
  sPath_ = sPath;
  if (!wav_.Open(sPath, nChannels, iRate, false)) {
    sError = wav_.sError;
    return false;
  }
  sTempPath_ = wav_.TempPath();
  // The header is valid from the first moment: a take ended before any audio is an empty WAV.
  wav_.UpdateHeader();
  ptap_ = std::make_unique<SampleTap>(static_cast<size_t>(dTapSeconds * iRate * nChannels));
  return true;
}

void Take::Start() {
  thread_ = std::thread([this] { Loop(); });
}

void Take::Loop() {
  std::vector<int16_t> as(static_cast<size_t>(8192 * nChannels_));
  auto tNextHeader = std::chrono::steady_clock::now() + kHeaderEvery;
  for (;;) {
    bool bLast = bStop_.load();
    size_t n;
    while ((n = ptap_->Pop(as.data(), as.size())) > 0) {
      long nFramesNow = static_cast<long>(n) / nChannels_;
      std::lock_guard<std::timed_mutex> lock(mutex_);
      // After a failure the tap is still drained, so the engine never counts the samples as lost.
      if (bFailed_.load() || bRescued_.load()) continue;
      if (!wav_.Write(as.data(), nFramesNow)) {
        sFailure_ = wav_.sError;
        bFailed_.store(true);
        wav_.UpdateHeader();  // in place: a full disk still takes it
        continue;
      }
      nFrames_ += nFramesNow;
    }
    if (bLast) return;
    if (std::chrono::steady_clock::now() >= tNextHeader) {
      std::lock_guard<std::timed_mutex> lock(mutex_);
      if (!bFailed_.load() && !bRescued_.load()) wav_.UpdateHeader();
      tNextHeader += kHeaderEvery;
    }
    std::this_thread::sleep_for(kDrainEvery);
  }
}

std::string Take::NewFailure() {
  if (!bFailed_.load() || bFailureShown_.exchange(true)) return "";
  char sz[64];
  snprintf(sz, sizeof sz, "%.1f s", Seconds());
  return "the recording stopped at " + std::string(sz) + ": " + sFailure_ +
         "; playing on, and what was recorded is kept";
}

bool Take::Finish() {
  bStop_ = true;
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::timed_mutex> lock(mutex_);
  if (bRescued_.load()) return false;
  bool bWhole = true;
  if (bFailed_.load()) {
    sError = sFailure_ + "; kept what was recorded before";
    bWhole = false;
  } else if (size_t nLost = ptap_ ? ptap_->Lost() : 0) {
    sError = "the recording lost " + std::to_string(nLost / static_cast<size_t>(nChannels_)) +
             " frames: the disk did not keep up";
    bWhole = false;
  }
  if (!wav_.Keep()) {
    sError = sError.empty() ? wav_.sError : sError + "; " + wav_.sError;
    return false;
  }
  return bWhole;
}

std::string Take::Rescue() {
  std::unique_lock<std::timed_mutex> lock(mutex_, std::chrono::milliseconds(500));
  if (!lock.owns_lock() || bRescued_.exchange(true)) return sTempPath_;
  return wav_.Keep() ? sPath_ : sTempPath_;
}

void InstallPlaySignals() {
  for (int iSignal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) Handle(iSignal, OnEndSignal);
  Handle(SIGUSR1, OnResetSignal);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

int EndRequests() { return g_nEndRequests; }

bool TakeResetRequest() {
  if (!g_bResetRequest) return false;
  g_bResetRequest = 0;
  return true;
}

ShutdownGuard::ShutdownGuard(std::function<void(const std::string&)> pfnSay, std::function<void()> pfnLast) {
  int nAtStart = EndRequests();
  thread_ = std::thread([this, pfnSay = std::move(pfnSay), pfnLast = std::move(pfnLast), nAtStart] {
    using Clock = std::chrono::steady_clock;
    Clock::time_point tDeadline = Clock::time_point::max();
    while (!bDone_.load()) {
      if (tDeadline == Clock::time_point::max() && EndRequests() > nAtStart) {
        tDeadline = Clock::now() + std::chrono::seconds(kGraceSeconds);
        pfnSay("vantrel: finishing the recording and closing the devices; ending in " +
               std::to_string(kGraceSeconds) + " s at the latest");
      }
      if (Clock::now() >= tDeadline) {
        pfnLast();
        _exit(130);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
}

ShutdownGuard::~ShutdownGuard() {
  bDone_ = true;
  if (thread_.joinable()) thread_.join();
}
