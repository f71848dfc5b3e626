// The engine's audio output: the audio thread, its message loop, the circulating buffers and
// the output stage.
#include "engine/interpreter.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <thread>
#include <mutex>
#include <system_error>

#include "formula/errorlist.h"
#include "foundation/akstatus.h"
#include "patch/patch.h"

namespace {

// SCHED_FIFO priority of the audio thread: above every ordinary thread, and below the sound
// server's own real-time threads (JACK runs its clients at 10 and up by default), which only
// copy the finished buffers and must never wait for our rendering.
constexpr int kAudioThreadPriority = 8;

}  // namespace

Interpreter::Interpreter(AKConfig_T* pconfSettings, PatchTable* ptable)
    : InterpreterSettings(pconfSettings), apbuf_(AK_HERE), ptable_(ptable) {
  stage_.dFullScale = dFullScale;
}

Interpreter::~Interpreter() {
  if (threadAudio_.joinable()) {
    // An engine destroyed without Shutdown: end the thread rather than leave it running on a
    // freed object.
    bStop_.store(true);
    queue_.Post(AudioMsgNone, 0, 0);
    threadAudio_.join();
  }
  free(adMix_);
  for (WaveBuffer* pbuf : apbuf_) {
    if (!pbuf) continue;
    free(pbuf->pData);
    delete pbuf;
  }
  apbuf_.Empty();
}

void Interpreter::Start() {
  nVoiceFade = nCutFade;  // a player hears a stolen voice's jump to 0 as a click
  try {
    threadAudio_ = std::thread([this] {
      iExitCode_.store(AudioInThreadProc(this));
      bThreadEnded_.store(true);
    });
  } catch (const std::system_error&) {
    AKS(AKSWarn, AK_HERE, "%s", "Audio Out CreateThread() fail");
    return;
  }
  bThreadStarted_ = true;
  sched_param param = {};
  param.sched_priority = kAudioThreadPriority;
  if (int iError = pthread_setschedparam(threadAudio_.native_handle(), SCHED_FIFO, &param))
    AKS(AKSStatus, AK_HERE, "SetThreadPriority() for audio thread: %d", iError);
}

void Interpreter::ResetAutoReduce() {
  // The output stage belongs to the audio thread; it applies the reset before its next buffer.
  bResetPending_.store(true);
  dPeakShown_.store(1.0, std::memory_order_relaxed);
  dSignalPeakShown_.store(0.0, std::memory_order_relaxed);
  nAutoReduceShown_.store(0, std::memory_order_relaxed);
}

void Interpreter::AllNotesOff() {
  AKArray<PatchSlot>& aslot = Slots();
  for (int i = 0; i < aslot.N(); ++i)
    if (Patch* ppatch = aslot[i].ppatch) ppatch->AllNotesOff();
}

void Interpreter::AllSoundOff() {
  bool bAudioThread = std::this_thread::get_id() == idAudio_.load();
  if (!bAudioThread && bThreadStarted_ && !bThreadEnded_.load() && nCutFade > 0) {
    queue_.Post(AudioMsgAllSoundOff, 0, 0);
    return;
  }
  if (!bAudioThread || nCutFade == 0 || !bDeviceOpen_) {
    CutNow();
    return;
  }
  if (bCutPending_) return;  // the cut on its way silences this sound too
  if (nPendingMidi_ == kPendingMidi) {
    CutNow();  // no room to wait: cut at once rather than drop the pending messages
    return;
  }
  bCutPending_ = true;
  uFadeStart_ = uCurrentFrame_;
  uFadeEnd_ = uCurrentFrame_ + static_cast<uint32_t>(nCutFade);
  QueueMidiAt(uFadeEnd_, kCutMarker);
}

void Interpreter::CutNow() {
  AKArray<PatchSlot>& aslot = Slots();
  for (int i = 0; i < aslot.N(); ++i)
    if (Patch* ppatch = aslot[i].ppatch) ppatch->AllSoundOff();
  ResetAutoReduce();
}

void Interpreter::Shutdown() {
  bStop_.store(true);
  // The thread notices the request at its next message. A device that never opened sends none,
  // so the request brings its own.
  queue_.Post(AudioMsgNone, 0, 0);
  if (bThreadStarted_) {
    for (;;) {
      if (bThreadEnded_.load()) {
        AKS(AKSTrace, AK_HERE, "%s", "GetExitCodeThread() done");
        break;
      }
      AKS(AKSStatus, AK_HERE, "%s", "GetExitCodeThread() = STILL_ACTIVE ");
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    threadAudio_.join();
  }
  if (pdevice_) {
    bDeviceReady_.store(false);
    if (int r = pdevice_->Reset()) AKS(AKSWarn, AK_HERE, "waveOutReset() = %d", r);
    if (int r = pdevice_->Close()) AKS(AKSWarn, AK_HERE, "waveOutClose() = %d", r);
  }
  bDeviceOpen_ = false;
}

int Interpreter::AudioInThreadProc(Interpreter* pengine) {
  pengine->idAudio_.store(std::this_thread::get_id());
  pengine->OpenDevice();
  for (;;) {
    AudioMessage msg = pengine->queue_.Take();
    if (msg.uType == AudioMsgQuit) {
      AKS(AKSStatus, AK_HERE, "%s", "AudioInThreadProc(): GetMessage = return");
      return static_cast<int>(msg.p2);
    }
    if (pengine->bStop_.load()) {
      AKS(AKSStatus, AK_HERE, "%s", "AudioInThreadProc(): bStop");
      return 0;
    }
    switch (msg.uType) {
      case AudioMsgBufferDone: pengine->RenderBuffer(); break;
      case AudioMsgMidiData: pengine->HandleMidiMessage(msg.p1, static_cast<uint32_t>(msg.p2)); break;
      case AudioMsgMidiAtFrame:
        pengine->QueueMidiAt(static_cast<uint32_t>(msg.p1), static_cast<uint32_t>(msg.p2));
        break;
      case AudioMsgAllSoundOff: pengine->AllSoundOff(); break;
      case AudioMsgMidiTimed:
        pengine->HandleTimedMidiMessage(static_cast<uint32_t>(msg.p1), static_cast<uint32_t>(msg.p2));
        break;
      default: break;
    }
  }
}

void Interpreter::OpenDevice() {
  stage_.dPeak = 1.0;
  stage_.dLevel = 0.0;
  dPeakShown_.store(1.0);
  dLevelShown_.store(0.0);
  size_t nValues = static_cast<size_t>(nChannels) * static_cast<size_t>(nBufferSamples);
  adMix_ = static_cast<double*>(calloc(nValues, sizeof(double)));
  int iRate = static_cast<int>(dFreqEval);  // truncated toward zero
  int nBlockAlign = nChannels * nOutputBits / 8;
  WaveFormat format = {nChannels, iRate, nOutputBits, nBlockAlign, nBlockAlign * iRate, 18};
  if (!pdevice_) pdevice_ = MakeAudioOutput(AudioApi::Default);
  int r = OpenOutput(format);
  if (r != 0 && bFallbackToNull_ && !bRefused_) {
    // Without a device no buffer would ever come back, and the engine would fall silent for
    // good; a clock keeps the buffers (and so the patches and the recording) going.
    AKS(AKSWarn, AK_HERE, "no audio output could be opened (%s): playing on a clock, without sound",
        sDeviceError_.c_str());
    pdevice_ = MakeNullOutput();
    r = OpenOutput(format);
  }
  bDeviceOpen_ = r == 0;
  bDeviceFailed_.store(r != 0);
  apbuf_.SetSize(nBuffers);
  for (int i = 0; i < nBuffers; ++i) {
    if (!apbuf_[i]) apbuf_[i] = new WaveBuffer;
    PrepareBuffer(apbuf_[i]);
  }
  for (int i = 0; i < nBuffers; ++i) RenderBuffer();
  bDeviceReady_.store(true, std::memory_order_release);
}

int Interpreter::OpenOutput(const WaveFormat& format) {
  pdevice_->SuggestPeriod(nBufferSamples);
  bDeviceTaps_ = ptap_ && pdevice_->SetTap(ptap_);
  int r = pdevice_->Open(format, &queue_, this);
  if (r != 0) {
    AKS(AKSWarn, AK_HERE, "waveOutOpen() = %d", r);
    sDeviceError_ = pdevice_->OpenError();
    if (sDeviceError_.empty()) sDeviceError_ = WaveResultText(r);
    return r;
  }
  nMidiDelay_ = std::max(0, pdevice_->PeriodFrames()) + nBuffers * nBufferSamples;
  // Buffers too short for the device's period leave a gap in every few periods: refused, since
  // playing on would sound broken and slow the engine's clock without a word.
  int nPeriod = pdevice_->PeriodFrames();
  if (BuffersFeedPeriod(nBuffers, nBufferSamples, nPeriod)) return 0;
  char sz[320];
  snprintf(sz, sizeof sz,
           "Buffers = %d and BufferSamples = %d leave gaps in the device's %d-frame periods; set BufferSamples = %d "
           "(or Buffers = %d) in config/Interpreter.vantrel",
           nBuffers, nBufferSamples, nPeriod, MinBufferSamples(nBuffers, nPeriod), MinBuffers(nBufferSamples, nPeriod));
  sDeviceError_ = sz;
  bRefused_ = true;
  AKS(AKSWarn, AK_HERE, "%s", sz);
  pdevice_->Reset();
  pdevice_->Close();
  return WaveErrBadFormat;
}

bool Interpreter::WaitDeviceReady(double dSeconds) {
  auto tEnd = std::chrono::steady_clock::now() + std::chrono::duration<double>(dSeconds);
  while (!DeviceReady()) {
    if (!bThreadStarted_ || std::chrono::steady_clock::now() > tEnd) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void Interpreter::PrepareBuffer(WaveBuffer* pbuf) {
  free(pbuf->pData);
  pbuf->pData = nullptr;
  pbuf->nBufferLength = 0;
  pbuf->nLoops = 0;
  pbuf->uFlags.store(0);
  uint32_t nBytes = static_cast<uint32_t>(nBufferSamples * nOutputBits * nChannels / 8);
  pbuf->pData = static_cast<char*>(calloc(nBytes, 1));
  pbuf->nBufferLength = nBytes;
  pbuf->nLoops = 1;
  if (int r = pdevice_ ? pdevice_->Prepare(pbuf) : WaveErrBadDevice) AKS(AKSWarn, AK_HERE, "waveOutPrepareHeader() = %d", r);
}

void Interpreter::RenderBuffer() {
  if (apbuf_.N() == 0 || !adMix_) return;
  uint32_t i = iNextBuffer_;
  iNextBuffer_ = (i + 1) % static_cast<uint32_t>(nBuffers);
  WaveBuffer* pbuf = apbuf_[static_cast<int>(i)];
  if (pbuf->uFlags.load(std::memory_order_acquire) & WaveBufDone)
    if (int r = pdevice_->Unprepare(pbuf)) AKS(AKSWarn, AK_HERE, "waveOutUnprepareHeader() = %d", r);

  std::mutex& mutexEngine = ptable_->mutexEngine;
  if (!mutexEngine.try_lock()) {
    uint32_t nBefore = nKeepUp_.fetch_add(1);
    if (nBefore != 0) ERRADD(-1, "%s", "Audio engine may not be able to keep up.");
    mutexEngine.lock();
  }
  MixWithMidi();
  mutexEngine.unlock();

  if (bResetPending_.exchange(false)) {
    stage_.ResetAutoReduce();
    dSignalPeak_ = 0.0;
  }
  int nValues = nChannels * nBufferSamples;
  auto* asOut = reinterpret_cast<int16_t*>(pbuf->pData);
  stage_.Convert(adMix_, nValues, asOut);
  if (ptap_ && !bDeviceTaps_) ptap_->Push(asOut, static_cast<size_t>(nValues));
  ReportLatePeriods();
  dPeakShown_.store(stage_.dPeak, std::memory_order_relaxed);
  dLevelShown_.store(stage_.dLevel, std::memory_order_relaxed);
  if (stage_.dLevel > dSignalPeak_) dSignalPeak_ = stage_.dLevel;
  dSignalPeakShown_.store(dSignalPeak_, std::memory_order_relaxed);
  nAutoReduceShown_.store(stage_.nAutoReductions, std::memory_order_relaxed);
  nNonFiniteShown_.store(stage_.nNonFinite, std::memory_order_relaxed);
  nRendered_.fetch_add(1, std::memory_order_relaxed);

  if (int r = pdevice_->Prepare(pbuf)) AKS(AKSWarn, AK_HERE, "waveOutPrepareHeader() = %d", r);
  if (int r = pdevice_->Write(pbuf)) AKS(AKSWarn, AK_HERE, "waveOutWrite() = %d", r);
}

void Interpreter::ReportLatePeriods() {
  // The device's count of periods it played with a gap because no buffer was ready: silence
  // the listener heard. The sound server's own xruns are not counted here.
  long nLate = bDeviceOpen_ ? pdevice_->Underruns() : 0;
  if (nLate <= nLateReported_) return;
  nLateReported_ = nLate;
  ERRADD(-1, "%s", "The engine cannot keep up: the device played silence where no buffer was ready.");
}

long Interpreter::LatePeriods() const { return DeviceReady() && bDeviceOpen_ ? pdevice_->Underruns() : 0; }

long Interpreter::ServerXruns() const { return DeviceReady() && bDeviceOpen_ ? pdevice_->Xruns() : 0; }

void Interpreter::HandleMidiMessage(uintptr_t, uint32_t uPacked) {
  if (bCutPending_) {
    QueueMidiAt(uFramesRendered_, uPacked);  // behind the cut, in arrival order
    return;
  }
  // Decoding reaches the patches of the table; installation replaces and destroys them under
  // the engine lock, so decoding holds it too, or a note could land on a patch being freed.
  std::lock_guard<std::mutex> lock(ptable_->mutexEngine);
  HandleUnderLock(uPacked);
}

void Interpreter::HandleUnderLock(uint32_t uPacked) {
  if (uPacked == kCutMarker) {
    bCutPending_ = false;
    CutNow();
    return;
  }
  // Real-time messages (a sender's clock) would hide the player's notes from a monitor.
  if ((uPacked & 0xFF) < 0xF8) uLastMidi_.store(uPacked, std::memory_order_relaxed);
  ::HandleMidiMessage(*this, uPacked);
}

void Interpreter::HandleTimedMidiMessage(uint32_t uDeviceFrame, uint32_t uPacked) {
  uint32_t uEngine = 0;
  if (!bDeviceOpen_ || !pdevice_->EngineFrameAt(uDeviceFrame, &uEngine)) {
    HandleMidiMessage(0, uPacked);
    return;
  }
  QueueMidiAt(uEngine + static_cast<uint32_t>(nMidiDelay_), uPacked);
}

void Interpreter::QueueMidiAt(uint32_t uDue, uint32_t uPacked) {
  // Differences of frame counts modulo 2^32 read as signed: only nearness matters.
  if (static_cast<int32_t>(uDue - uFramesRendered_) <= 0 && nPendingMidi_ == 0) {
    HandleMidiMessage(0, uPacked);  // its frame is rendered already: as early as can be
    return;
  }
  if (nPendingMidi_ == kPendingMidi) {
    // Full (a flood, or a cut holding messages back): the oldest are handled at once.
    std::lock_guard<std::mutex> lock(ptable_->mutexEngine);
    while (nPendingMidi_ > 0) {
      HandleUnderLock(apendingMidi_[iPendingHead_].uPacked);
      iPendingHead_ = (iPendingHead_ + 1) % kPendingMidi;
      --nPendingMidi_;
    }
  }
  // Arrival order is kept, even should the device's clock map step back.
  if (nPendingMidi_ > 0) {
    uint32_t uLast = apendingMidi_[(iPendingHead_ + nPendingMidi_ - 1) % kPendingMidi].uDue;
    if (static_cast<int32_t>(uDue - uLast) < 0) uDue = uLast;
  }
  apendingMidi_[(iPendingHead_ + nPendingMidi_) % kPendingMidi] = {uDue, uPacked};
  ++nPendingMidi_;
}

void Interpreter::MixWithMidi() {
  int j = 0;  // frames of this buffer mixed so far
  while (nPendingMidi_ > 0) {
    const PendingMidi& pending = apendingMidi_[iPendingHead_];
    int32_t iAt = static_cast<int32_t>(pending.uDue - uFramesRendered_);
    if (iAt >= nBufferSamples) break;
    int k = std::max(j, static_cast<int>(iAt));  // one that is late takes effect at once
    MixFrames(ptable_->aslot, adMix_ + static_cast<size_t>(j) * nChannels, k - j, nChannels);
    uint32_t uPacked = pending.uPacked;
    iPendingHead_ = (iPendingHead_ + 1) % kPendingMidi;
    --nPendingMidi_;
    uCurrentFrame_ = uFramesRendered_ + static_cast<uint32_t>(k);
    HandleUnderLock(uPacked);
    j = k;
  }
  MixFrames(ptable_->aslot, adMix_ + static_cast<size_t>(j) * nChannels, nBufferSamples - j, nChannels);
  ApplyFade(uFramesRendered_);
  uFramesRendered_ += static_cast<uint32_t>(nBufferSamples);
  uCurrentFrame_ = uFramesRendered_;
}

void Interpreter::ApplyFade(uint32_t uFirstFrame) {
  // The frames of this buffer inside the fade window fall linearly to 0 at the cut.
  int iFrom = std::max(0, static_cast<int32_t>(uFadeStart_ - uFirstFrame));
  int iTo = std::min(nBufferSamples, static_cast<int32_t>(uFadeEnd_ - uFirstFrame));
  for (int j = iFrom; j < iTo; ++j) {
    double dGain = static_cast<double>(static_cast<int32_t>(uFadeEnd_ - uFirstFrame) - j) / nCutFade;
    for (int c = 0; c < nChannels; ++c) adMix_[static_cast<size_t>(j) * nChannels + c] *= dGain;
  }
  // A window that has passed is closed, so that frame numbers coming round again (they count
  // modulo 2^32, every 27 hours at 44.1 kHz) never reopen it.
  if (static_cast<int32_t>(uFadeEnd_ - uFirstFrame) <= nBufferSamples) uFadeStart_ = uFadeEnd_;
}

void RaiseProcessPriority() {
  // The closest POSIX counterpart of a real-time priority class for the whole process is the
  // highest niceness; the audio thread itself runs under SCHED_FIFO (see Start).
  if (setpriority(PRIO_PROCESS, 0, -10) != 0) AKS(AKSWarn, AK_HERE, "SetPriorityClass() for process: %d", errno);
}
