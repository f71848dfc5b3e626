// What the output devices share (engine library internal): the ring of written buffers that the
// device thread plays from, the descriptor bookkeeping, the recording of what is played, and
// the clock that plays buffers into nothing at the sample rate (the null output, and any device
// once it is lost).
//
// The device thread (the sound server's callback, or our clock thread) takes the written
// buffers from a single-producer ring, copies their frames out period by period and, when a
// buffer is used up, marks it done and posts the buffer-done notification. It never blocks and
// never allocates.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "engine/audiodevice.h"
#include "engine/sampletap.h"

using SteadyClock = std::chrono::steady_clock;

inline int64_t SteadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now().time_since_epoch()).count();
}

// The written buffers in play order, and the one being played. Write is the only producer (the
// audio thread); Pull is the only consumer (the device thread).
class BufferPlayer {
 public:
  static constexpr uint32_t kRing = 64;  // the most buffers the engine keeps in circulation

  void Setup(AudioMessageQueue* pqueue, void* pvInstance, int nBlockAlign) {
    pqueue_ = pqueue;
    pvInstance_ = pvInstance;
    nBlockAlign_ = nBlockAlign;
  }

  bool Push(WaveBuffer* pbuf) {
    uint32_t iWrite = iWrite_.load(std::memory_order_relaxed);
    if (iWrite - iRead_.load(std::memory_order_acquire) >= kRing) return false;
    apbuf_[iWrite % kRing] = pbuf;
    iWrite_.store(iWrite + 1, std::memory_order_release);
    return true;
  }

  // Copies nFrames frames into pOut (null: discard them), silence where no buffer is queued.
  // Answers false when it had to play silence after the first buffer came (before it, the
  // engine is still opening, and nobody is late).
  bool Pull(char* pOut, uint32_t nFrames) {
    uint32_t nBytes = nFrames * static_cast<uint32_t>(nBlockAlign_);
    bool bComplete = true;
    while (nBytes > 0) {
      if (!pcurrent_) {
        uint32_t iRead = iRead_.load(std::memory_order_relaxed);
        if (iRead == iWrite_.load(std::memory_order_acquire)) {
          if (pOut) memset(pOut, 0, nBytes);
          bComplete = iRead == 0;
          break;
        }
        pcurrent_ = apbuf_[iRead % kRing];
        iRead_.store(iRead + 1, std::memory_order_release);
        iOffset_ = 0;
      }
      uint32_t n = std::min(nBytes, pcurrent_->nBufferLength - iOffset_);
      nFramesTaken_ += n / static_cast<uint32_t>(nBlockAlign_);
      if (pOut) {
        memcpy(pOut, pcurrent_->pData + iOffset_, n);
        pOut += n;
      }
      iOffset_ += n;
      nBytes -= n;
      if (iOffset_ >= pcurrent_->nBufferLength) Finish();
    }
    return bComplete;
  }

  // With the device thread stopped: every queued buffer is done, without notification (nobody
  // takes them any more: Reset comes after the audio thread ended).
  void ReturnAll() {
    if (pcurrent_) MarkDone(pcurrent_);
    pcurrent_ = nullptr;
    uint32_t iRead = iRead_.load(), iWrite = iWrite_.load();
    for (; iRead != iWrite; ++iRead) MarkDone(apbuf_[iRead % kRing]);
    iRead_.store(iRead);
  }

  bool Empty() const { return !pcurrent_ && iRead_.load() == iWrite_.load(); }
  // Frames taken from the engine's buffers so far, modulo 2^32 (device thread).
  uint32_t FramesTaken() const { return nFramesTaken_; }
  // The engine has written its first buffer: from here on, what is played is the take.
  bool Started() const { return iWrite_.load(std::memory_order_acquire) != 0; }

 private:
  static void MarkDone(WaveBuffer* pbuf) {
    uint32_t u = pbuf->uFlags.load(std::memory_order_relaxed);
    pbuf->uFlags.store((u & ~WaveBufInQueue) | WaveBufDone, std::memory_order_release);
  }
  void Finish() {
    WaveBuffer* pbuf = pcurrent_;
    pcurrent_ = nullptr;
    MarkDone(pbuf);
    if (pqueue_) pqueue_->Post(AudioMsgBufferDone, reinterpret_cast<uintptr_t>(pvInstance_), reinterpret_cast<uintptr_t>(pbuf));
  }

  WaveBuffer* apbuf_[kRing] = {};
  std::atomic<uint32_t> iWrite_{0}, iRead_{0};
  WaveBuffer* pcurrent_ = nullptr;  // device thread only
  uint32_t iOffset_ = 0;
  uint32_t nFramesTaken_ = 0;
  AudioMessageQueue* pqueue_ = nullptr;
  void* pvInstance_ = nullptr;
  int nBlockAlign_ = 4;
};

class OutputBase : public AudioOutput {
 public:
  // The most frames one device period may take (JACK's largest period); a larger one is played
  // as silence and counted late.
  static constexpr uint32_t kMaxPeriod = 8192;

  ~OutputBase() override { StopClock(); }

  int Prepare(WaveBuffer* pbuf) override {
    if (!bOpen_) return WaveErrBadDevice;
    pbuf->uFlags.fetch_or(WaveBufPrepared);
    return WaveOk;
  }
  int Unprepare(WaveBuffer* pbuf) override {
    if (!bOpen_) return WaveErrBadDevice;
    if (pbuf->uFlags.load() & WaveBufInQueue) return WaveErrStillPlaying;
    pbuf->uFlags.fetch_and(~WaveBufPrepared);
    return WaveOk;
  }
  int Write(WaveBuffer* pbuf) override {
    if (!bOpen_) return WaveErrBadDevice;
    uint32_t u = pbuf->uFlags.load();
    if (!(u & WaveBufPrepared)) return WaveErrUnprepared;
    if (u & WaveBufInQueue) return WaveErrStillPlaying;
    pbuf->uFlags.store((u & ~WaveBufDone) | WaveBufInQueue, std::memory_order_release);
    if (!player_.Push(pbuf)) {
      pbuf->uFlags.store(u, std::memory_order_release);
      return WaveErrQueueFull;
    }
    return WaveOk;
  }
  int Reset() override {
    if (!bOpen_) return WaveErrBadDevice;
    StopClock();
    HaltDevice();
    player_.ReturnAll();
    return WaveOk;
  }
  int Close() override {
    if (!bOpen_) return WaveErrBadDevice;
    if (!player_.Empty()) return WaveErrStillPlaying;
    StopClock();
    CloseDevice();
    bOpen_ = false;
    return WaveOk;
  }
  long Underruns() const override { return nUnderruns_.load(std::memory_order_relaxed); }
  long Xruns() const override { return nXruns_.load(std::memory_order_relaxed); }
  bool Lost() const override { return bLost_.load(); }
  bool Playing() const override { return bPlaying_.load(std::memory_order_acquire) || bLost_.load(); }
  std::string OpenError() const override { return sOpenError_; }
  bool SetTap(SampleTap* ptap) override {
    ptap_ = ptap;
    return true;
  }
  bool EngineFrameAt(uint32_t uDeviceFrame, uint32_t* puEngineFrame) const override {
    uint64_t u = uFrameMap_.load(std::memory_order_acquire);
    if (u == 0 || bLost_.load()) return false;
    auto uAt = static_cast<uint32_t>(u >> 32), uEngine = static_cast<uint32_t>(u);
    *puEngineFrame = uEngine + (uDeviceFrame - uAt);
    return true;
  }

 protected:
  // Reset: the device thread stops taking buffers. Close: the device goes.
  virtual void HaltDevice() {}
  virtual void CloseDevice() {}

  void OpenBase(const WaveFormat& format, AudioMessageQueue* pqueue, void* pvInstance) {
    format_ = format;
    player_.Setup(pqueue, pvInstance, format.nBlockAlign);
    if (!asScratch_) asScratch_ = std::make_unique<int16_t[]>(kMaxPeriod * static_cast<size_t>(format.nChannels));
    bOpen_ = true;
  }

  // The device thread: nFrames frames (at most kMaxPeriod) of interleaved 16-bit samples into
  // asOut (null: the scratch buffer), recorded as played; counts a period with a gap.
  // With the period's first frame on the server's clock, the frame map is kept for MIDI timing.
  const int16_t* Play(int16_t* asOut, uint32_t nFrames, uint32_t uDeviceFrame) {
    // The frame the engine plays next, paired with the device frame it plays at (0 is kept
    // for "no map yet"; one frame off once in 2^64 does not matter).
    uint64_t u = uint64_t{uDeviceFrame} << 32 | player_.FramesTaken();
    uFrameMap_.store(u ? u : 1, std::memory_order_release);
    return Play(asOut, nFrames);
  }
  const int16_t* Play(int16_t* asOut, uint32_t nFrames) {
    if (!asOut) asOut = asScratch_.get();
    if (!player_.Pull(reinterpret_cast<char*>(asOut), nFrames)) nUnderruns_.fetch_add(1, std::memory_order_relaxed);
    if (player_.FramesTaken() != 0) bPlaying_.store(true, std::memory_order_release);
    if (ptap_ && player_.Started()) ptap_->Push(asOut, static_cast<size_t>(nFrames) * static_cast<size_t>(format_.nChannels));
    return asOut;
  }

  // Plays the queued buffers into nothing at the sample rate until StopClock.
  void StartClock() {
    bClockStop_ = false;
    threadClock_ = std::thread([this] { ClockLoop(); });
  }
  void StopClock() {
    bClockStop_ = true;
    if (threadClock_.joinable()) threadClock_.join();
  }
  virtual void ClockLoop() { PaceBuffers(); }

  // The pacing: a 5 ms tick (well below one buffer at any usable size) advancing the frames due
  // by the elapsed time, so that sleeping a little late never changes the long-run rate. A
  // machine that stalled the thread far longer (kStallNs) does not get the stalled time played
  // at once: nobody listens to the clock, so the engine is not late, and a catch-up burst would
  // only count gaps that no one heard.
  void PaceBuffers() {
    constexpr int64_t kTickNs = 5'000'000, kStallNs = 100'000'000;
    int64_t tStart = SteadyNowNs(), tLast = tStart;
    uint64_t nFramesDone = 0;
    while (!bClockStop_) {
      std::this_thread::sleep_for(std::chrono::nanoseconds(kTickNs));
      int64_t tNow = SteadyNowNs();
      if (tNow - tLast > kStallNs) tStart += tNow - tLast - kTickNs;
      tLast = tNow;
      uint64_t nDue = static_cast<uint64_t>(static_cast<double>(tNow - tStart) * 1e-9 * format_.nSamplesPerSec);
      while (nDue > nFramesDone) {
        uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(nDue - nFramesDone, kMaxPeriod));
        Play(nullptr, n);
        nFramesDone += n;
      }
    }
  }

  WaveFormat format_ = {};
  BufferPlayer player_;
  bool bOpen_ = false;
  std::string sOpenError_;
  std::atomic<long> nUnderruns_{0}, nXruns_{0};
  std::atomic<bool> bLost_{false};
  std::atomic<bool> bPlaying_{false};  // the device has taken frames of the engine's
  std::atomic<uint64_t> uFrameMap_{0};  // device frame << 32 | engine frame, see EngineFrameAt
  std::atomic<bool> bClockStop_{false};
  std::thread threadClock_;
  SampleTap* ptap_ = nullptr;
  std::unique_ptr<int16_t[]> asScratch_;  // kMaxPeriod frames, for the clock and conversions
};

// The JACK output (jackoutput.cpp), and the JACK line of the device list.
std::unique_ptr<AudioOutput> MakeJackOutput();
std::string DescribeJackServer();
