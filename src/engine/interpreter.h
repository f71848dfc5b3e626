// The engine: its settings, the audio thread with its message queue, the output buffers
// circulating on the device, the output stage and MIDI dispatch between buffers.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "akarray.h"
#include "audiodevice.h"
#include "midi.h"
#include "mixer.h"
#include "msgqueue.h"
#include "sampletap.h"
#include "settings.h"

struct AKConfig_T;

// Where the MIDI input hands its messages and its ALL SOUND OFF; the engine is one.
class MidiInputEngine {
 public:
  virtual ~MidiInputEngine() = default;
  // Any thread, never blocks; false when the message had to be dropped.
  virtual bool PostMidiMessage(uintptr_t hDevice, uint32_t uPacked) = 0;
  virtual void AllSoundOff() = 0;
};

class Interpreter : public InterpreterSettings, public MidiTarget, public MidiInputEngine {
 public:
  // Reads the settings (null: defaults). The patch table and its engine lock belong to the
  // application; the engine only reads the table. Nothing is opened or started here.
  Interpreter(AKConfig_T* pconfSettings, PatchTable* ptable);
  // Frees the mix buffer and every buffer's sample memory; the device must be closed already.
  ~Interpreter() override;

  // Creates and starts the audio thread, which opens the device.
  virtual void Start();
  // peak := 1, auto-reductions := 0; takes effect from the next buffer on.
  virtual void ResetAutoReduce();
  void AllNotesOff() override;
  void AllSoundOff() override;
  // Stops the audio thread, then resets and closes the device. The owner destroys the engine
  // afterwards (after the patches and channel modules that refer to it).
  virtual void Shutdown();
  // Audio thread: opens the device and queues the first buffers.
  virtual void OpenDevice();
  virtual void PrepareBuffer(WaveBuffer* pbuf);
  // Audio thread: fills the next buffer from the patches and queues it.
  virtual void RenderBuffer();
  // Audio thread, between buffers: decodes one short message.
  virtual void HandleMidiMessage(uintptr_t hDevice, uint32_t uPacked);

  // The thread procedure; answers the thread's exit code.
  static int AudioInThreadProc(Interpreter* pengine);

  // MidiTarget.
  AKArray<PatchSlot>& Slots() override { return ptable_->aslot; }
  InterpreterSettings* Engine() override { return this; }
  // MidiInputEngine: posts a MIDI data message to the audio thread.
  bool PostMidiMessage(uintptr_t hDevice, uint32_t uPacked) override {
    return queue_.Post(AudioMsgMidiData, hDevice, uPacked);
  }

  // Set before Start. The device to open (default: the system's default output), and whether a
  // device that does not open is replaced by the clock-paced null output (default yes).
  void SetOutput(std::unique_ptr<AudioOutput> pdevice) { pdevice_ = std::move(pdevice); }
  void SetFallbackToNull(bool b) { bFallbackToNull_ = b; }
  // Set before Start: every converted buffer is also pushed here (for recording).
  void SetTap(SampleTap* ptap) { ptap_ = ptap; }
  // Called by patch installation under the engine lock.
  void ResetKeepUp() { nKeepUp_.store(0); }

  AudioMessageQueue& Queue() { return queue_; }
  // The device, once OpenDevice has finished (it may have been replaced by the null output).
  bool DeviceReady() const { return bDeviceReady_.load(std::memory_order_acquire); }
  AudioOutput* Device() { return DeviceReady() ? pdevice_.get() : nullptr; }
  bool Running() const { return bThreadStarted_; }

  // Values for display, read without a lock from any thread.
  double Peak() const { return dPeakShown_.load(std::memory_order_relaxed); }
  double Level() const { return dLevelShown_.load(std::memory_order_relaxed); }
  // The largest absolute value the patches made (before any reduction) since the device opened
  // or ResetAutoReduce: the signal's peak, where Peak() is the reduction threshold.
  double SignalPeak() const { return dSignalPeakShown_.load(std::memory_order_relaxed); }
  int AutoReductions() const { return nAutoReduceShown_.load(std::memory_order_relaxed); }
  uint32_t KeepUpCount() const { return nKeepUp_.load(std::memory_order_relaxed); }
  long NonFiniteSamples() const { return nNonFiniteShown_.load(std::memory_order_relaxed); }
  long BuffersRendered() const { return nRendered_.load(std::memory_order_relaxed); }
  // The last MIDI message handled other than real-time ones (clock, start, stop: they would hide
  // the player's notes); 0: none yet. For monitors.
  uint32_t LastMidiMessage() const { return uLastMidi_.load(std::memory_order_relaxed); }
  // The audio thread's exit code once it ended.
  int ExitCode() const { return iExitCode_.load(); }

 protected:
  // Output state, in the order the engine keeps it.
  std::thread threadAudio_;
  std::atomic<bool> bThreadEnded_{false};
  bool bThreadStarted_ = false;
  std::unique_ptr<AudioOutput> pdevice_;
  bool bDeviceOpen_ = false;
  AKArray<WaveBuffer*> apbuf_;      // the device buffer descriptors, each with its sample memory
  uint32_t iNextBuffer_ = 0;        // the buffer to refill next
  std::atomic<uint32_t> nKeepUp_{0};  // how often RenderBuffer found the engine lock taken
  OutputStage stage_;               // peak, level, auto-reductions: audio thread only
  double* adMix_ = nullptr;         // Channels x BufferSamples doubles, interleaved
  std::atomic<bool> bStop_{false};  // the request to the audio thread to end

 private:
  PatchTable* ptable_;
  AudioMessageQueue queue_;
  SampleTap* ptap_ = nullptr;
  bool bFallbackToNull_ = true;
  std::atomic<bool> bResetPending_{false};
  std::atomic<double> dPeakShown_{1.0}, dLevelShown_{0.0}, dSignalPeakShown_{0.0};
  double dSignalPeak_ = 0.0;  // audio thread
  std::atomic<int> nAutoReduceShown_{0};
  std::atomic<long> nNonFiniteShown_{0}, nRendered_{0};
  std::atomic<uint32_t> uLastMidi_{0};
  std::atomic<int> iExitCode_{0};
  std::atomic<bool> bDeviceReady_{false};
};

// Raises the whole process's scheduling priority as far as permitted (a warning when not).
void RaiseProcessPriority();
