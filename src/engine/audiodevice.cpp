// The waveform output device layer: the null output, the outputs over RtAudio (PulseAudio,
// ALSA), the system default, the device list, and the rule for buffers that keep a device fed.
// JACK is jackoutput.cpp; what they all share is outputbase.h.
#include "engine/audiodevice.h"

#include <RtAudio.h>
#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <mutex>
#include <numeric>
#include <thread>

#include "engine/outputbase.h"
#include "engine/quietstream.h"
#include "foundation/akstatus.h"

namespace {

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
        sOpenError_ = std::string(AudioApiName(api_)) + " is not built into this program; choose another --audio";
        return WaveErrNoDriver;
      }
      unsigned nDevices = prt_->getDeviceCount();
      if (nDevices == 0) {
        AKS(AKSWarn, AK_HERE, "audio: %s offers no output device (is its server running?)",
            RtAudio::getApiDisplayName(prt_->getCurrentApi()).c_str());
        sOpenError_ = api_ == AudioApi::Pulse ? "no PulseAudio server is running; start one or choose another --audio"
                                              : std::string(AudioApiName(api_)) +
                                                    " has no output device (no sound card); choose another --audio";
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
      // The device's period: at most 256 frames (5.8 ms at 44.1 kHz), and no longer than one of
      // the engine's buffers, so that the device's share of the latency stays small and the
      // engine's buffers always feed it. The fewest periods the API allows: the engine's
      // Buffers are the buffering.
      unsigned nFrames = static_cast<unsigned>(std::clamp(nPeriodHint_, 16, 256));
      options.numberOfBuffers = 2;
      OpenBase(format, pqueue, pvInstance);
      g_poutputCurrent.store(this);
      prt_->openStream(&params, nullptr, RTAUDIO_SINT16, static_cast<unsigned>(format.nSamplesPerSec), &nFrames,
                       &RtOutput::Callback, this, &options, &RtOutput::OnError);
      nPeriodFrames_ = nFrames;
      tLastCallbackNs_.store(SteadyNowNs());
      prt_->startStream();
      iRate_ = static_cast<int>(prt_->getStreamSampleRate());
      if (iRate_ != 0 && iRate_ != format.nSamplesPerSec)
        AKS(AKSWarn, AK_HERE, "audio: the device plays at %d Hz, the engine renders at %d Hz: pitch and time are off",
            iRate_, format.nSamplesPerSec);
    } catch (const RtAudioError& e) {
      AKS(AKSWarn, AK_HERE, "audio: %s", e.getMessage().c_str());
      sOpenError_ = std::string(AudioApiName(api_)) + ": " + e.getMessage();
      bOpen_ = false;
      CloseStream();
      return e.getType() == RtAudioError::NO_DEVICES_FOUND ? WaveErrNoDriver : WaveErrGeneric;
    }
    StartClock();  // the watchdog, which turns into the clock if the device is lost
    return WaveOk;
  }

  void SuggestPeriod(int nFrames) override { nPeriodHint_ = nFrames; }
  int PeriodFrames() const override { return static_cast<int>(nPeriodFrames_); }

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
    pself->tLastCallbackNs_.store(SteadyNowNs(), std::memory_order_relaxed);
    if (pself->bLost_.load() || pself->bStreamError_.load()) {
      // The device is gone (a server that closed the connection, whose writes fail at once, has
      // the library call back without pause): take nothing, and have the library stop calling.
      memset(pvOut, 0, static_cast<size_t>(nFrames) * static_cast<size_t>(pself->format_.nBlockAlign));
      pself->bInCallback_.store(false);
      return pself->bLost_.load() ? 2 : 0;
    }
    if (pself->bHalt_.load() || nFrames > kMaxPeriod) {
      // Reset ran (or a period beyond what we serve): play silence, take nothing.
      memset(pvOut, 0, static_cast<size_t>(nFrames) * static_cast<size_t>(pself->format_.nBlockAlign));
    } else {
      pself->Play(static_cast<int16_t*>(pvOut), nFrames);
    }
    // The driver's own report of a lost period, apart from the engine's gaps.
    if (status & RTAUDIO_OUTPUT_UNDERFLOW) pself->nXruns_.fetch_add(1, std::memory_order_relaxed);
    pself->bInCallback_.store(false);
    return 0;
  }

  static void OnError(RtAudioError::Type type, const std::string& sText) {
    RtOutput* pself = g_poutputCurrent.load();
    // A write the server refused is only a warning to the library (PulseAudio's "audio write
    // error, Connection terminated"), yet the device is gone: the watchdog must hear of it.
    if (type == RtAudioError::WARNING && sText.find("write error") != std::string::npos && pself &&
        !pself->bLost_.load()) {
      pself->bStreamError_.store(true);
      AKS(AKSStatus, AK_HERE, "audio: %s", sText.c_str());
      return;
    }
    if (type == RtAudioError::WARNING || type == RtAudioError::DEBUG_WARNING) return;
    // Once the device is lost, the library's complaints about it (a failed flush or abort on a
    // connection that has gone) tell the user nothing new: they go to the log only.
    if (pself && pself->bLost_.load()) {
      AKS(AKSStatus, AK_HERE, "audio (after the loss): %s", sText.c_str());
      return;
    }
    if (pself) pself->bStreamError_.store(true);
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
      bool bSilent = SteadyNowNs() - tLastCallbackNs_.load(std::memory_order_relaxed) > nLimitNs;
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
      if (bLost_.load()) AKS(AKSStatus, AK_HERE, "audio (after the loss): %s", e.getMessage().c_str());
      else AKS(AKSWarn, AK_HERE, "audio: %s", e.getMessage().c_str());
    }
    prt_.reset();
  }

  AudioApi api_;
  std::unique_ptr<RtAudio> prt_;
  std::string sDevice_;
  unsigned nPeriodFrames_ = 0;
  int nPeriodHint_ = 256;
  int iRate_ = 0;
  std::atomic<int64_t> tLastCallbackNs_{0};
  std::atomic<bool> bInCallback_{false};
  std::atomic<bool> bStreamError_{false};
  std::atomic<bool> bHalt_{false};  // set by Reset
};

// The system's default: JACK when a server runs, else PulseAudio, else ALSA, the first that
// opens; everything else is passed to the one that did.
class DefaultOutput : public AudioOutput {
 public:
  int Open(const WaveFormat& format, AudioMessageQueue* pqueue, void* pvInstance) override {
    int r = WaveErrNoDriver;
    std::string sErrors;
    for (AudioApi api : {AudioApi::Jack, AudioApi::Pulse, AudioApi::Alsa}) {
      pout_ = api == AudioApi::Jack ? MakeJackOutput() : std::make_unique<RtOutput>(api);
      pout_->SuggestPeriod(nPeriodHint_);
      if (ptap_) pout_->SetTap(ptap_);
      if ((r = pout_->Open(format, pqueue, pvInstance)) == WaveOk) return WaveOk;
      std::string s = pout_->OpenError();
      if (!s.empty()) sErrors += (sErrors.empty() ? "" : "; ") + s;
    }
    sOpenError_ = sErrors;
    return r;
  }
  int Prepare(WaveBuffer* pbuf) override { return pout_ ? pout_->Prepare(pbuf) : WaveErrBadDevice; }
  int Unprepare(WaveBuffer* pbuf) override { return pout_ ? pout_->Unprepare(pbuf) : WaveErrBadDevice; }
  int Write(WaveBuffer* pbuf) override { return pout_ ? pout_->Write(pbuf) : WaveErrBadDevice; }
  int Reset() override { return pout_ ? pout_->Reset() : WaveErrBadDevice; }
  int Close() override { return pout_ ? pout_->Close() : WaveErrBadDevice; }
  std::string Describe() const override { return pout_ ? pout_->Describe() : "default (not open)"; }
  long Underruns() const override { return pout_ ? pout_->Underruns() : 0; }
  long Xruns() const override { return pout_ ? pout_->Xruns() : 0; }
  bool Lost() const override { return pout_ && pout_->Lost(); }
  int PeriodFrames() const override { return pout_ ? pout_->PeriodFrames() : 0; }
  std::string OpenError() const override { return sOpenError_; }
  void SuggestPeriod(int nFrames) override { nPeriodHint_ = nFrames; }
  bool SetTap(SampleTap* ptap) override {
    ptap_ = ptap;
    return true;  // every output this tries records
  }

 private:
  std::unique_ptr<AudioOutput> pout_;
  std::string sOpenError_;
  int nPeriodHint_ = 256;
  SampleTap* ptap_ = nullptr;
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
  switch (api) {
    case AudioApi::Null: return MakeNullOutput();
    case AudioApi::Jack: return MakeJackOutput();
    case AudioApi::Default: return std::make_unique<DefaultOutput>();
    default: return std::make_unique<RtOutput>(api);
  }
}

std::unique_ptr<AudioOutput> MakeNullOutput() { return std::make_unique<NullOutput>(); }

std::vector<std::string> ListAudioDevices() {
  QuietSoundLibraries();
  std::vector<std::string> as = {DescribeJackServer()};
  for (RtAudio::Api api : {RtAudio::LINUX_PULSE, RtAudio::LINUX_ALSA}) {
    std::string sApi = RtAudio::getApiName(api);
    try {
      QuietLibraryStream quiet;
      RtAudio rt(api);
      rt.showWarnings(false);
      if (rt.getCurrentApi() != api) continue;  // not compiled in
      unsigned n = rt.getDeviceCount();
      if (n == 0) as.push_back(sApi + (api == RtAudio::LINUX_PULSE ? ": no output device (is its server running?)" : ": no sound card"));
      unsigned iDefault = n ? rt.getDefaultOutputDevice() : 0;
      for (unsigned i = 0; i < n; ++i) {
        RtAudio::DeviceInfo info = rt.getDeviceInfo(i);
        if (!info.probed || info.outputChannels == 0) continue;
        std::string sRates;
        for (unsigned iRate : info.sampleRates) sRates += (sRates.empty() ? "" : " ") + std::to_string(iRate);
        as.push_back(sApi + ": " + std::to_string(i) + " " + info.name + " (" + std::to_string(info.outputChannels) +
                     " out)" + (i == iDefault ? " default" : "") + "; rates " + (sRates.empty() ? "?" : sRates) +
                     " Hz; period min(256, BufferSamples) frames, set by vantrel");
      }
    } catch (const RtAudioError& e) {
      as.push_back(sApi + ": " + e.getMessage());
    }
  }
  as.push_back("null: clock-paced output without sound, any rate, no period");
  return as;
}

bool BuffersFeedPeriod(int nBuffers, int nBufferSamples, int nPeriod) {
  if (nBuffers < 1 || nBufferSamples < 1) return false;
  if (nPeriod <= 0) return true;
  int64_t nLeast = int64_t{nBuffers - 1} * nBufferSamples + std::gcd(nBufferSamples, nPeriod);
  return nLeast >= nPeriod;
}

int MinBufferSamples(int nBuffers, int nPeriod) {
  for (int n = 1; n < nPeriod; ++n)
    if (BuffersFeedPeriod(nBuffers, n, nPeriod)) return n;
  return std::max(nPeriod, 1);  // one period per buffer always feeds it
}

int MinBuffers(int nBufferSamples, int nPeriod) {
  int n = 1;
  while (!BuffersFeedPeriod(n, nBufferSamples, nPeriod)) ++n;
  return n;
}
