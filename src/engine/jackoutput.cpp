// The JACK output: one client with a port per channel, connected to the system's playback
// ports. The server's process callback plays the engine's buffers; when the server goes away
// (its shutdown callback, or a callback that stops coming) the clock plays on in its place and
// the client is never called again.
#include <jack/jack.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/jackclient.h"
#include "engine/outputbase.h"
#include "foundation/akstatus.h"

namespace {

constexpr int kMaxChannels = 16;

class JackOutput : public OutputBase {
 public:
  ~JackOutput() override {
    StopClock();
    CloseDevice();
  }

  int Open(const WaveFormat& format, AudioMessageQueue* pqueue, void* pvInstance) override {
    if (format.nBitsPerSample != 16 || format.nChannels < 1 || format.nChannels > kMaxChannels ||
        format.nSamplesPerSec < 1)
      return WaveErrBadFormat;
    std::string sError;
    pclient_ = JackClient::Open("vantrel", &sError);
    if (!pclient_) {
      sOpenError_ = sError + "; start one (jackd -d alsa -r " + std::to_string(format.nSamplesPerSec) +
                    ") or choose another --audio";
      return WaveErrNoDriver;
    }
    jack_client_t* pc = pclient_->Handle();
    int iRate = static_cast<int>(jack_get_sample_rate(pc));
    if (iRate != format.nSamplesPerSec) {
      // Playing anyway would put every pitch and time off by the ratio.
      sOpenError_ = "JACK runs at " + std::to_string(iRate) + " Hz; set FreqEval = " + std::to_string(iRate) +
                    " in config/Interpreter.vantrel";
      pclient_.reset();
      return WaveErrBadFormat;
    }
    nPeriod_.store(static_cast<int>(jack_get_buffer_size(pc)));
    nChannels_ = format.nChannels;
    for (int c = 0; c < nChannels_; ++c) {
      std::string sPort = "out_" + std::to_string(c + 1);
      aport_[c] = jack_port_register(pc, sPort.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
      if (!aport_[c]) {
        sOpenError_ = "JACK refused the output port " + pclient_->Name() + ":" + sPort;
        pclient_.reset();
        return WaveErrGeneric;
      }
    }
    OpenBase(format, pqueue, pvInstance);
    pclient_->SetCallbacks(&JackOutput::Process, &JackOutput::OnXrun, this);
    tLastCallbackNs_.store(SteadyNowNs());
    if (pclient_->Activate() != 0) {
      sOpenError_ = "JACK would not start the client " + pclient_->Name();
      bOpen_ = false;
      pclient_.reset();
      return WaveErrGeneric;
    }
    ConnectToPlayback();
    StartClock();  // the watchdog, which turns into the clock if the server goes
    return WaveOk;
  }

  std::string Describe() const override {
    std::string s = "JACK, ports";
    for (int c = 0; c < nChannels_; ++c) s += (c ? ", " : " ") + asPortName_[static_cast<size_t>(c)];
    if (!asConnected_.empty()) {
      s += " -> ";
      for (size_t i = 0; i < asConnected_.size(); ++i) s += (i ? ", " : "") + asConnected_[i];
    }
    s += ", period " + std::to_string(PeriodFrames()) + " frames";
    return s;
  }
  int PeriodFrames() const override { return nPeriod_.load(); }

 private:
  void ConnectToPlayback() {
    jack_client_t* pc = pclient_->Handle();
    for (int c = 0; c < nChannels_; ++c) asPortName_.push_back(jack_port_name(aport_[c]));
    const char** apsz = jack_get_ports(pc, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    for (int c = 0; apsz && c < nChannels_ && apsz[c]; ++c)
      if (jack_connect(pc, asPortName_[static_cast<size_t>(c)].c_str(), apsz[c]) == 0) asConnected_.push_back(apsz[c]);
      else AKS(AKSWarn, AK_HERE, "audio: cannot connect %s to %s", asPortName_[static_cast<size_t>(c)].c_str(), apsz[c]);
    if (apsz) jack_free(apsz);
  }

  // The server's real-time thread, once per period.
  static int Process(jack_nframes_t nFrames, void* pv) {
    auto* pself = static_cast<JackOutput*>(pv);
    pself->bInCallback_.store(true);
    pself->tLastCallbackNs_.store(SteadyNowNs(), std::memory_order_relaxed);
    float* apf[kMaxChannels];
    int n = pself->nChannels_;
    for (int c = 0; c < n; ++c) apf[c] = static_cast<float*>(jack_port_get_buffer(pself->aport_[c], nFrames));
    if (pself->bLost_.load() || pself->bHalt_.load() || nFrames > kMaxPeriod) {
      // The clock has taken over (or Reset ran): silence, and nothing taken.
      for (int c = 0; c < n; ++c)
        for (jack_nframes_t j = 0; j < nFrames; ++j) apf[c][j] = 0;
      if (nFrames > kMaxPeriod) pself->nUnderruns_.fetch_add(1, std::memory_order_relaxed);
    } else {
      const int16_t* as = pself->Play(nullptr, nFrames, jack_last_frame_time(pself->pclient_->Handle()));
      constexpr float kScale = 1.0f / 32768.0f;
      for (jack_nframes_t j = 0; j < nFrames; ++j)
        for (int c = 0; c < n; ++c) apf[c][j] = static_cast<float>(as[static_cast<size_t>(j) * n + c]) * kScale;
    }
    pself->bInCallback_.store(false);
    return 0;
  }
  static int OnXrun(void* pv) {
    static_cast<JackOutput*>(pv)->nXruns_.fetch_add(1, std::memory_order_relaxed);
    return 0;
  }

  void WaitCallbackOut() {
    while (bInCallback_.load()) std::this_thread::yield();
  }
  void HaltDevice() override {
    bHalt_.store(true);
    WaitCallbackOut();
  }
  void CloseDevice() override {
    // Closing a live client is bounded in time, and a dead one is left alone (see JackClient).
    pclient_.reset();
  }

  // The watchdog: the server's shutdown, or a callback that stops coming for half a second (or
  // four periods), means the device is lost; the clock then plays on in its place.
  void ClockLoop() override {
    while (!bClockStop_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      int64_t nLimitNs = std::max<int64_t>(500'000'000, int64_t{4} * PeriodFrames() * 1'000'000'000 /
                                                            std::max(1, format_.nSamplesPerSec));
      bool bDead = pclient_->Dead();
      if (!bDead && SteadyNowNs() - tLastCallbackNs_.load(std::memory_order_relaxed) <= nLimitNs) continue;
      bLost_.store(true);
      WaitCallbackOut();
      std::string sReason = bDead ? pclient_->Reason() : "";
      AKS(AKSWarn, AK_HERE, "audio device lost (%s%s%s): the engine plays on without sound",
          bDead ? "the JACK server shut down" : "JACK stopped calling", sReason.empty() ? "" : ": ", sReason.c_str());
      PaceBuffers();
      return;
    }
  }

  std::unique_ptr<JackClient> pclient_;
  jack_port_t* aport_[kMaxChannels] = {};
  int nChannels_ = 0;
  std::atomic<int> nPeriod_{0};
  std::vector<std::string> asPortName_, asConnected_;
  std::atomic<int64_t> tLastCallbackNs_{0};
  std::atomic<bool> bInCallback_{false};
  std::atomic<bool> bHalt_{false};
};

}  // namespace

std::unique_ptr<AudioOutput> MakeJackOutput() { return std::make_unique<JackOutput>(); }

std::string DescribeJackServer() {
  std::string sError;
  std::unique_ptr<JackClient> pclient = JackClient::Open("vantrel-list", &sError);
  if (!pclient) return "jack: " + sError;
  jack_client_t* pc = pclient->Handle();
  std::string s = "jack: server at " + std::to_string(jack_get_sample_rate(pc)) + " Hz, period " +
                  std::to_string(jack_get_buffer_size(pc)) + " frames (both set by the server)";
  const char** apsz = jack_get_ports(pc, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
  int n = 0;
  for (; apsz && apsz[n]; ++n) {
  }
  if (apsz) jack_free(apsz);
  s += "; " + std::to_string(n) + " playback ports";
  return s;
}
