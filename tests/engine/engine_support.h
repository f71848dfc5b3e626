// Stand-ins for the engine tests: a patch that plays scripted values and records what it is
// told, an output device that records every call, and a catcher for status-log lines.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "engine/audiodevice.h"
#include "error_support.h"
#include "foundation/akconfig.h"
#include "foundation/akstatus.h"
#include "patch/patch.h"

// A patch whose every frame adds the next values of a script (then silence), and which records
// the notes and resets it receives with the number of frames rendered before them. Built from an
// empty configuration: without the module kinds the compilation fails, which is fine, since the
// engine only calls the operations overridden here.
class ScriptPatch : public Patch {
 public:
  explicit ScriptPatch(InterpreterSettings* pengine, std::vector<double> adScript = {})
      : Patch(pengine, EmptyConfig(), nullptr), adScript_(std::move(adScript)) {
    AKConfigFree(LastEmptyConfig());
    ErrorList::Get()->Clear();
  }

  double RenderFrame(double* adFrame, int nChannels) override {
    for (int c = 0; c < nChannels; ++c) {
      size_t i = iScript_++;
      if (i < adScript_.size()) adFrame[c] += adScript_[i];
    }
    ++nFrames;
    return 0;
  }
  void NoteOn(int iNote, double dVelocity) override { Record("on", iNote, dVelocity); }
  void NoteOff(int iNote, double dVelocity) override { Record("off", iNote, dVelocity); }
  void PolyPressure(int iNote, double dValue) override { Record("pressure", iNote, dValue); }
  void ControllerChanged(int, int, double) override { ++nControllerChanges; }
  void AllNotesOff() override { Record("all notes off", 0, 0); }
  void AllSoundOff() override { Record("all sound off", 0, 0); }

  struct Event {
    std::string sWhat;
    int iNote;
    double dValue;
    long nFramesBefore;
  };
  std::vector<Event> Events() {
    std::lock_guard<std::mutex> lock(mutexEvents_);
    return aevent_;
  }

  std::atomic<long> nFrames{0};
  std::atomic<long> nControllerChanges{0};

 private:
  // The configuration lives only through the base's construction.
  static AKConfig_T*& LastEmptyConfig() {
    static thread_local AKConfig_T* pconf = nullptr;
    return pconf;
  }
  static AKConfig_T* EmptyConfig() { return LastEmptyConfig() = AKConfigNew("patch", nullptr); }
  void Record(const char* psz, int iNote, double d) {
    std::lock_guard<std::mutex> lock(mutexEvents_);
    aevent_.push_back({psz, iNote, d, nFrames.load()});
  }
  std::vector<double> adScript_;
  size_t iScript_ = 0;
  std::mutex mutexEvents_;
  std::vector<Event> aevent_;
};

// An output device that plays nothing by itself: the test decides when a buffer is done. Every
// call is logged, and the data of every written buffer is kept.
class RecordingOutput : public AudioOutput {
 public:
  int iOpenResult = WaveOk;
  std::vector<std::string> asCall;
  std::vector<std::vector<int16_t>> aasWritten;
  std::vector<WaveBuffer*> apbufQueued;
  AudioMessageQueue* pqueue = nullptr;
  void* pvInstance = nullptr;
  std::mutex mutex;

  int Open(const WaveFormat& format, AudioMessageQueue* pq, void* pv) override {
    Log("open " + std::to_string(format.nChannels) + "x" + std::to_string(format.nSamplesPerSec) + " " +
        std::to_string(format.nBitsPerSample) + " align " + std::to_string(format.nBlockAlign));
    if (iOpenResult != WaveOk) return iOpenResult;
    bOpen_ = true;
    pqueue = pq;
    pvInstance = pv;
    return WaveOk;
  }
  int Prepare(WaveBuffer* pbuf) override {
    if (!bOpen_) return WaveErrBadDevice;
    pbuf->uFlags.fetch_or(WaveBufPrepared);
    return WaveOk;
  }
  int Unprepare(WaveBuffer* pbuf) override {
    if (!bOpen_) return WaveErrBadDevice;
    pbuf->uFlags.fetch_and(~WaveBufPrepared);
    return WaveOk;
  }
  int Write(WaveBuffer* pbuf) override {
    if (!bOpen_) return WaveErrBadDevice;
    std::lock_guard<std::mutex> lock(mutex);
    pbuf->uFlags.store((pbuf->uFlags.load() & ~WaveBufDone) | WaveBufInQueue);
    auto* as = reinterpret_cast<const int16_t*>(pbuf->pData);
    aasWritten.emplace_back(as, as + pbuf->nBufferLength / 2);
    apbufQueued.push_back(pbuf);
    return WaveOk;
  }
  // Plays the oldest queued buffer: marks it done and notifies, as a device does.
  bool PlayOne() {
    WaveBuffer* pbuf;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (apbufQueued.empty()) return false;
      pbuf = apbufQueued.front();
      apbufQueued.erase(apbufQueued.begin());
    }
    pbuf->uFlags.store((pbuf->uFlags.load() & ~WaveBufInQueue) | WaveBufDone);
    pqueue->Post(AudioMsgBufferDone, reinterpret_cast<uintptr_t>(pvInstance), reinterpret_cast<uintptr_t>(pbuf));
    return true;
  }
  int Reset() override {
    Log("reset");
    return bOpen_ ? WaveOk : WaveErrBadDevice;
  }
  int Close() override {
    Log("close");
    if (!bOpen_) return WaveErrBadDevice;
    bOpen_ = false;
    return WaveOk;
  }
  std::string Describe() const override { return "recording output"; }
  long Underruns() const override { return nLate.load(); }
  bool Lost() const override { return false; }
  int PeriodFrames() const override { return nPeriod; }
  // The device clock runs iFrameOffset frames behind the engine's frames, once bClock is set.
  bool EngineFrameAt(uint32_t uDeviceFrame, uint32_t* puEngineFrame) const override {
    if (!bClock) return false;
    *puEngineFrame = uDeviceFrame + static_cast<uint32_t>(iFrameOffset);
    return true;
  }
  int nPeriod = 0;              // the device's period (0: takes what comes)
  std::atomic<long> nLate{0};   // periods "played" with a gap, as the test says
  bool bClock = false;
  int iFrameOffset = 0;
  size_t Written() {
    std::lock_guard<std::mutex> lock(mutex);
    return aasWritten.size();
  }

 private:
  void Log(const std::string& s) {
    std::lock_guard<std::mutex> lock(mutex);
    asCall.push_back(s);
  }
  bool bOpen_ = false;
};

// Collects the status-log messages of some severities while it lives.
class LogCatcher {
 public:
  explicit LogCatcher(std::vector<int> aiSeverity) : aiSeverity_(std::move(aiSeverity)) {
    for (int i : aiSeverity_) AKSSetCallback(i, &LogCatcher::OnLog, this);
  }
  ~LogCatcher() {
    for (int i : aiSeverity_) AKSSetCallback(i, nullptr, nullptr);
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return as_;
  }
  bool Has(const std::string& s) {
    for (const std::string& sLine : Lines())
      if (sLine == s) return true;
    return false;
  }
  // Index of the first line equal to s, or -1.
  int Find(const std::string& s) {
    std::vector<std::string> as = Lines();
    for (size_t i = 0; i < as.size(); ++i)
      if (as[i] == s) return static_cast<int>(i);
    return -1;
  }

 private:
  static void OnLog(int, const char*, int, const char* pszMessage, const char*, void* pv) {
    auto* pself = static_cast<LogCatcher*>(pv);
    std::lock_guard<std::mutex> lock(pself->mutex_);
    pself->as_.push_back(pszMessage);
  }
  std::vector<int> aiSeverity_;
  std::mutex mutex_;
  std::vector<std::string> as_;
};

// Waits up to two seconds for a condition another thread brings about.
template <class F>
bool WaitFor(F f) {
  for (int i = 0; i < 2000; ++i) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return f();
}
