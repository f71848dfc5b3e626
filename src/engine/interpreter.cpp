// The engine's audio output: the audio thread, its message loop, the circulating buffers and
// the output stage.
#include "interpreter.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>

#include "akstatus.h"
#include "errorlist.h"
#include "patch.h"

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
  int r = pdevice_->Open(format, &queue_, this);
  if (r != 0) {
    AKS(AKSWarn, AK_HERE, "waveOutOpen() = %d", r);
    if (bFallbackToNull_) {
      // Without a device no buffer would ever come back, and the engine would fall silent for
      // good; a clock keeps the buffers (and so the patches and the recording) going.
      AKS(AKSWarn, AK_HERE, "no audio output could be opened (%s): playing on a clock, without sound",
          WaveResultText(r));
      pdevice_ = MakeNullOutput();
      r = pdevice_->Open(format, &queue_, this);
      if (r != 0) AKS(AKSWarn, AK_HERE, "waveOutOpen() = %d", r);
    }
  }
  bDeviceOpen_ = r == 0;
  apbuf_.SetSize(nBuffers);
  for (int i = 0; i < nBuffers; ++i) {
    if (!apbuf_[i]) apbuf_[i] = new WaveBuffer;
    PrepareBuffer(apbuf_[i]);
  }
  for (int i = 0; i < nBuffers; ++i) RenderBuffer();
  bDeviceReady_.store(true, std::memory_order_release);
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
  MixFrames(ptable_->aslot, adMix_, nBufferSamples, nChannels);
  mutexEngine.unlock();

  if (bResetPending_.exchange(false)) {
    stage_.ResetAutoReduce();
    dSignalPeak_ = 0.0;
  }
  int nValues = nChannels * nBufferSamples;
  auto* asOut = reinterpret_cast<int16_t*>(pbuf->pData);
  stage_.Convert(adMix_, nValues, asOut);
  if (ptap_) ptap_->Push(asOut, static_cast<size_t>(nValues));
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

void Interpreter::HandleMidiMessage(uintptr_t, uint32_t uPacked) {
  if ((uPacked & 0xFF) < 0xF8) uLastMidi_.store(uPacked, std::memory_order_relaxed);
  // Decoding reaches the patches of the table; installation replaces and destroys them under
  // the engine lock, so decoding holds it too, or a note could land on a patch being freed.
  std::lock_guard<std::mutex> lock(ptable_->mutexEngine);
  ::HandleMidiMessage(*this, uPacked);
}

void RaiseProcessPriority() {
  // The closest POSIX counterpart of a real-time priority class for the whole process is the
  // highest niceness; the audio thread itself runs under SCHED_FIFO (see Start).
  if (setpriority(PRIO_PROCESS, 0, -10) != 0) AKS(AKSWarn, AK_HERE, "SetPriorityClass() for process: %d", errno);
}
