// The oscilloscope's capture: what a patch's Scope probe shows of the first sounding voice,
// gathered sample by sample on the rendering thread and handed to the window through a ready
// flag and one posted draw request. The rendering side allocates nothing and takes no lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

class Voice;
class ModOscilloscope;

class ScopeCapture {
 public:
  static constexpr int kMaxInputs = 50;      // a probe's slots
  static constexpr int kNameSize = 100;      // an input's name, with its terminator
  static constexpr int kCaptionSize = 1024;  // the caption line, with its terminator
  // Room for the time points and every input's series together, set aside once, so that the
  // rendering thread never allocates: 512 K values, 6 s of one probe at 44.1 kHz. A capture
  // that fills its share is handed over as it is.
  static constexpr size_t kCaptureValues = size_t(1) << 19;

  ScopeCapture();
  ScopeCapture(const ScopeCapture&) = delete;
  ScopeCapture& operator=(const ScopeCapture&) = delete;

  // The capture operation, called by the first voice of a rendering patch for every sample.
  void Capture(Voice* pvoice);
  static void Callback(Voice* pvoice, void* pvArg) { static_cast<ScopeCapture*>(pvArg)->Capture(pvoice); }
  // What completes a capture calls, on the rendering thread: it must neither block nor allocate.
  void SetPost(void (*pfnPost)(void*), void* pvArg) {
    pfnPost_ = pfnPost;
    pvPost_ = pvArg;
  }

  // The system's one capture target: installed as the voices' oscilloscope callback, and taken
  // away again if it is still the one installed. Both under the engine lock, so that no capture
  // runs while the target changes; null when no other thread renders (the audio thread has
  // stopped, and the lock may be held for good by this thread).
  void Register(std::mutex* pmutexEngine);
  void Withdraw(std::mutex* pmutexEngine);

  // False from the completion of a capture until Release: only then may the window read it.
  bool Ready() const { return bReady_.load(std::memory_order_acquire); }
  int Points() const { return nPoints_; }
  int Inputs() const { return nInputs_; }
  const double* TimePoints() const { return adTime_; }
  const double* Values(int i) const { return adValues_ + static_cast<size_t>(i) * nCapacity_; }
  const char* Name(int i) const { return aszName_[i]; }
  double FreqHint() const { return dFreqHint_; }
  // Each caption "LABEL=VALUE    ", at most 1023 characters.
  std::string CaptionText() const;
  // After drawing: the points forgotten, the trigger disarmed, ready for the next capture.
  void Release();

 private:
  void Start(Voice* pvoice);
  void Complete();

  std::unique_ptr<double[]> adStore_;
  double* adTime_ = nullptr;    // the voice's sample clock at each point
  double* adValues_ = nullptr;  // nInputs_ series of nCapacity_ values
  size_t nCapacity_ = 0;        // points each series can hold
  int nPoints_ = 0, nInputs_ = 0;
  Voice* pvoiceLast_ = nullptr;
  double dClockLast_ = 0;
  ModOscilloscope* pprobe_ = nullptr;
  bool bTriggered_ = false;
  std::atomic<bool> bReady_{true};
  double dFreqHint_ = 0;
  char aszName_[kMaxInputs][kNameSize] = {};
  struct CaptionValue {
    char szLabel[256];
    int etKind;  // number, text or keyword
    double d;
  };
  CaptionValue acaption_[kMaxInputs] = {};
  int nCaptions_ = 0;
  void (*pfnPost_)(void*) = nullptr;
  void* pvPost_ = nullptr;
};
