// The waveform output device layer over RtAudio, with a clock-paced null output.
//
// The device thread (RtAudio's callback, or our clock thread) takes the written buffers from a
// single-producer ring, copies their frames out period by period and, when a buffer is used up,
// marks it done and posts the buffer-done notification. It never blocks and never allocates.
#include "audiodevice.h"

#include <RtAudio.h>
#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "akstatus.h"
#include "quietstream.h"

namespace {

using Clock = std::chrono::steady_clock;

// The sound libraries print their own complaints to standard error (a missing card, a server
// that is not running); we report what matters ourselves, so theirs go to the log at Trace.
void QuietAlsa(const char* pszFile, int iLine, const char*, int, const char* pszFormat, ...) {
  char sz[512];
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(sz, sizeof sz, pszFormat, args);
  va_end(args);
  AKS(AKSTrace, pszFile, iLine, "alsa: %s", sz);
}
void QuietJack(const char* psz) { AKS(AKSTrace, AK_HERE, "jack: %s", psz); }


int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
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

  // Copies nFrames frames into pOut (null: discard them, for the clock), silence where no buffer
  // is queued. Answers false when it had to play silence.
  bool Pull(char* pOut, uint32_t nFrames) {
    uint32_t nBytes = nFrames * static_cast<uint32_t>(nBlockAlign_);
    bool bComplete = true;
    while (nBytes > 0) {
      if (!pcurrent_) {
        uint32_t iRead = iRead_.load(std::memory_order_relaxed);
        if (iRead == iWrite_.load(std::memory_order_acquire)) {
          if (pOut) memset(pOut, 0, nBytes);
          bComplete = false;
          break;
        }
        pcurrent_ = apbuf_[iRead % kRing];
        iRead_.store(iRead + 1, std::memory_order_release);
        iOffset_ = 0;
      }
      uint32_t n = std::min(nBytes, pcurrent_->nBufferLength - iOffset_);
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
  AudioMessageQueue* pqueue_ = nullptr;
  void* pvInstance_ = nullptr;
  int nBlockAlign_ = 4;
};

// What every output shares: the descriptor bookkeeping and the clock that plays buffers into
// nothing at the sample rate (the null output, and any device once it is lost).
class OutputBase : public AudioOutput {
 public:
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
  bool Lost() const override { return bLost_.load(); }

 protected:
  // Reset: the device thread stops taking buffers. Close: the device goes.
  virtual void HaltDevice() {}
  virtual void CloseDevice() {}

  void OpenBase(const WaveFormat& format, AudioMessageQueue* pqueue, void* pvInstance) {
    format_ = format;
    player_.Setup(pqueue, pvInstance, format.nBlockAlign);
    bOpen_ = true;
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

  // The pacing: a 5 ms tick (well below one buffer at any usable size) advancing the frames
  // due by the elapsed time, so that sleeping late never changes the long-run rate.
  void PaceBuffers() {
    Clock::time_point tStart = Clock::now();
    uint64_t nFramesDone = 0;
    while (!bClockStop_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      double dElapsed = std::chrono::duration<double>(Clock::now() - tStart).count();
      uint64_t nDue = static_cast<uint64_t>(dElapsed * format_.nSamplesPerSec);
      if (nDue > nFramesDone) {
        if (!player_.Pull(nullptr, static_cast<uint32_t>(nDue - nFramesDone))) nUnderruns_.fetch_add(1);
        nFramesDone = nDue;
      }
    }
  }

  WaveFormat format_ = {};
  BufferPlayer player_;
  bool bOpen_ = false;
  std::atomic<long> nUnderruns_{0};
  std::atomic<bool> bLost_{false};
  std::atomic<bool> bClockStop_{false};
  std::thread threadClock_;
};

class NullOutput : public OutputBase {
 public:
  int Open(const WaveFormat& format, AudioMessageQueue* pqueue, void* pvInstance) override {
    if (format.nBitsPerSample != 16 || format.nChannels < 1 || format.nSamplesPerSec < 1) return WaveErrBadFormat;
    OpenBase(format, pqueue, pvInstance);
    StartClock();
    return WaveOk;
  }
  std::string Describe() const override { return "null output (no sound)"; }
};

// RtAudio reports stream errors through a routine without a user pointer; the one open device
// takes them.
std::atomic<class RtOutput*> g_poutputCurrent{nullptr};

RtAudio::Api ToRtApi(AudioApi api) {
  switch (api) {
    case AudioApi::Jack: return RtAudio::UNIX_JACK;
    case AudioApi::Pulse: return RtAudio::LINUX_PULSE;
    case AudioApi::Alsa: return RtAudio::LINUX_ALSA;
    default: return RtAudio::UNSPECIFIED;
  }
}

class RtOutput : public OutputBase {
 public:
  explicit RtOutput(AudioApi api) : api_(api) {}
  ~RtOutput() override {
    StopClock();
    CloseStream();
    RtOutput* pself = this;
    g_poutputCurrent.compare_exchange_strong(pself, nullptr);
  }

  int Open(const WaveFormat& format, AudioMessageQueue* pqueue, void* pvInstance) override {
    if (format.nBitsPerSample != 16 || format.nChannels < 1 || format.nSamplesPerSec < 1) return WaveErrBadFormat;
    try {
      {
        QuietLibraryStream quiet;  // probing the APIs prints what is not running; we try the next
        prt_ = std::make_unique<RtAudio>(ToRtApi(api_));
      }
      prt_->showWarnings(false);
      if (api_ != AudioApi::Default && prt_->getCurrentApi() != ToRtApi(api_)) {
        AKS(AKSWarn, AK_HERE, "audio: %s is not compiled into this RtAudio", AudioApiName(api_));
        return WaveErrNoDriver;
      }
      unsigned nDevices = prt_->getDeviceCount();
      if (nDevices == 0) {
        AKS(AKSWarn, AK_HERE, "audio: %s offers no output device (is its server running?)",
            RtAudio::getApiDisplayName(prt_->getCurrentApi()).c_str());
        return WaveErrNoDriver;
      }
      unsigned iDevice = prt_->getDefaultOutputDevice();
      if (iDevice >= nDevices) iDevice = 0;
      RtAudio::DeviceInfo info = prt_->getDeviceInfo(iDevice);
      if (info.probed && info.outputChannels < static_cast<unsigned>(format.nChannels)) {
        AKS(AKSWarn, AK_HERE, "audio: device \"%s\" has %u output channels, %d are needed", info.name.c_str(),
            info.outputChannels, format.nChannels);
        return WaveErrBadFormat;
      }
      sDevice_ = info.name;
      RtAudio::StreamParameters params;
      params.deviceId = iDevice;
      params.nChannels = static_cast<unsigned>(format.nChannels);
      RtAudio::StreamOptions options;
      options.streamName = "vantrel";  // the JACK client name
      options.flags = RTAUDIO_SCHEDULE_REALTIME;
      options.priority = 80;
      // The device's own period: JACK dictates its own; elsewhere 256 frames (5.8 ms at 44.1 kHz)
      // keeps the device's share of the latency small next to the engine's buffers.
      unsigned nFrames = 256;
      OpenBase(format, pqueue, pvInstance);
      g_poutputCurrent.store(this);
      prt_->openStream(&params, nullptr, RTAUDIO_SINT16, static_cast<unsigned>(format.nSamplesPerSec), &nFrames,
                       &RtOutput::Callback, this, &options, &RtOutput::OnError);
      nPeriodFrames_ = nFrames;
      tLastCallbackNs_.store(NowNs());
      prt_->startStream();
      iRate_ = static_cast<int>(prt_->getStreamSampleRate());
      if (iRate_ != 0 && iRate_ != format.nSamplesPerSec)
        AKS(AKSWarn, AK_HERE, "audio: the device plays at %d Hz, the engine renders at %d Hz: pitch and time are off",
            iRate_, format.nSamplesPerSec);
    } catch (const RtAudioError& e) {
      AKS(AKSWarn, AK_HERE, "audio: %s", e.getMessage().c_str());
      bOpen_ = false;
      CloseStream();
      return e.getType() == RtAudioError::NO_DEVICES_FOUND ? WaveErrNoDriver : WaveErrGeneric;
    }
    StartClock();  // the watchdog, which turns into the clock if the device is lost
    return WaveOk;
  }

  std::string Describe() const override {
    std::string s = prt_ ? RtAudio::getApiDisplayName(prt_->getCurrentApi()) : AudioApiName(api_);
    if (!sDevice_.empty()) s += " \"" + sDevice_ + "\"";
    if (nPeriodFrames_) s += ", period " + std::to_string(nPeriodFrames_) + " frames";
    return s;
  }

 private:
  static int Callback(void* pvOut, void*, unsigned nFrames, double, RtAudioStreamStatus status, void* pvUser) {
    auto* pself = static_cast<RtOutput*>(pvUser);
    pself->bInCallback_.store(true);
    pself->tLastCallbackNs_.store(NowNs(), std::memory_order_relaxed);
    if (pself->bLost_.load() || pself->bHalt_.load()) {
      // The clock has taken over (or Reset ran): play silence, take nothing.
      memset(pvOut, 0, static_cast<size_t>(nFrames) * static_cast<size_t>(pself->format_.nBlockAlign));
    } else {
      if (!pself->player_.Pull(static_cast<char*>(pvOut), nFrames) || (status & RTAUDIO_OUTPUT_UNDERFLOW))
        pself->nUnderruns_.fetch_add(1, std::memory_order_relaxed);
    }
    pself->bInCallback_.store(false);
    return 0;
  }

  static void OnError(RtAudioError::Type type, const std::string& sText) {
    if (type == RtAudioError::WARNING || type == RtAudioError::DEBUG_WARNING) return;
    if (RtOutput* pself = g_poutputCurrent.load()) pself->bStreamError_.store(true);
    AKS(AKSWarn, AK_HERE, "audio: %s", sText.c_str());
  }

  void WaitCallbackOut() {
    while (bInCallback_.load()) std::this_thread::yield();
  }
  void HaltDevice() override {
    bHalt_.store(true);  // the callback plays silence from now on
    WaitCallbackOut();
  }
  void CloseDevice() override { CloseStream(); }

  // The watchdog: a device that stops calling back for longer than half a second (or four of
  // its periods) is lost. The clock then plays on in its place, so the engine keeps running.
  void ClockLoop() override {
    int64_t nLimitNs = std::max<int64_t>(500'000'000, int64_t{4} * nPeriodFrames_ * 1'000'000'000 /
                                                          std::max(1, format_.nSamplesPerSec));
    while (!bClockStop_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      bool bSilent = NowNs() - tLastCallbackNs_.load(std::memory_order_relaxed) > nLimitNs;
      if (!bSilent && !bStreamError_.load()) continue;
      bLost_.store(true);
      WaitCallbackOut();
      AKS(AKSWarn, AK_HERE, "audio device lost (%s): the engine plays on without sound", Describe().c_str());
      PaceBuffers();
      return;
    }
  }

  void CloseStream() {
    if (!prt_) return;
    try {
      if (prt_->isStreamRunning()) prt_->abortStream();
      if (prt_->isStreamOpen()) prt_->closeStream();
    } catch (const RtAudioError& e) {
      AKS(AKSWarn, AK_HERE, "audio: %s", e.getMessage().c_str());
    }
    prt_.reset();
  }

  AudioApi api_;
  std::unique_ptr<RtAudio> prt_;
  std::string sDevice_;
  unsigned nPeriodFrames_ = 0;
  int iRate_ = 0;
  std::atomic<int64_t> tLastCallbackNs_{0};
  std::atomic<bool> bInCallback_{false};
  std::atomic<bool> bStreamError_{false};
  std::atomic<bool> bHalt_{false};  // set by Reset
};

}  // namespace

void QuietSoundLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    snd_lib_error_set_handler(&QuietAlsa);
    jack_set_error_function(&QuietJack);
    jack_set_info_function(&QuietJack);
  });
}

const char* WaveResultText(int iResult) {
  switch (iResult) {
    case WaveOk: return "no error";
    case WaveErrGeneric: return "the driver failed";
    case WaveErrBadDevice: return "the device is not open";
    case WaveErrNoDriver: return "no sound system";
    case WaveErrBadFormat: return "the format cannot be played";
    case WaveErrStillPlaying: return "buffers are still playing";
    case WaveErrUnprepared: return "the buffer is not prepared";
    case WaveErrQueueFull: return "too many buffers queued";
    default: return "unknown error";
  }
}

bool ParseAudioApi(const std::string& s, AudioApi* papi) {
  static const std::pair<const char*, AudioApi> aName[] = {{"default", AudioApi::Default}, {"jack", AudioApi::Jack},
                                                           {"pulse", AudioApi::Pulse},     {"alsa", AudioApi::Alsa},
                                                           {"null", AudioApi::Null}};
  for (auto [psz, api] : aName)
    if (s == psz) {
      *papi = api;
      return true;
    }
  return false;
}

const char* AudioApiName(AudioApi api) {
  switch (api) {
    case AudioApi::Jack: return "jack";
    case AudioApi::Pulse: return "pulse";
    case AudioApi::Alsa: return "alsa";
    case AudioApi::Null: return "null";
    default: return "default";
  }
}

std::unique_ptr<AudioOutput> MakeAudioOutput(AudioApi api) {
  QuietSoundLibraries();
  if (api == AudioApi::Null) return MakeNullOutput();
  return std::make_unique<RtOutput>(api);
}

std::unique_ptr<AudioOutput> MakeNullOutput() { return std::make_unique<NullOutput>(); }

std::vector<std::string> ListAudioDevices() {
  QuietSoundLibraries();
  std::vector<std::string> as;
  std::vector<RtAudio::Api> aapi;
  RtAudio::getCompiledApi(aapi);
  for (RtAudio::Api api : aapi) {
    if (api == RtAudio::RTAUDIO_DUMMY) continue;
    std::string sApi = RtAudio::getApiName(api);
    try {
      QuietLibraryStream quiet;
      RtAudio rt(api);
      rt.showWarnings(false);
      unsigned n = rt.getDeviceCount();
      if (n == 0) as.push_back(sApi + ": no output device (server not running?)");
      unsigned iDefault = n ? rt.getDefaultOutputDevice() : 0;
      for (unsigned i = 0; i < n; ++i) {
        RtAudio::DeviceInfo info = rt.getDeviceInfo(i);
        if (!info.probed || info.outputChannels == 0) continue;
        as.push_back(sApi + ": " + std::to_string(i) + " " + info.name + " (" + std::to_string(info.outputChannels) +
                     " out)" + (i == iDefault ? " default" : ""));
      }
    } catch (const RtAudioError& e) {
      as.push_back(sApi + ": " + e.getMessage());
    }
  }
  as.push_back("null: clock-paced output without sound");
  return as;
}
