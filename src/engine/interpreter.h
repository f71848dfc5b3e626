// The engine: its settings, the audio thread with its message queue, the output buffers
// circulating on the device, the output stage and MIDI dispatch between buffers.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "engine/audiodevice.h"
#include "engine/midi.h"
#include "engine/mixer.h"
#include "engine/msgqueue.h"
#include "engine/sampletap.h"
#include "enginecore/settings.h"
#include "foundation/akarray.h"

struct AKConfig_T;

// Where the MIDI input hands its messages and its ALL SOUND OFF; the engine is one.
class MidiInputEngine {
 public:
  virtual ~MidiInputEngine() = default;
  // Any thread, never blocks; false when the message had to be dropped.
  virtual bool PostMidiMessage(uintptr_t hDevice, uint32_t uPacked) = 0;
  // The same, with the frame time at which the message arrived on the sound server's clock, so
  // that it can be placed at its own frame in the output.
  virtual bool PostMidiMessageAt(uintptr_t hDevice, uint32_t uPacked, uint32_t /*uDeviceFrame*/) {
    return PostMidiMessage(hDevice, uPacked);
  }
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
  // Every patch's AllSoundOff, then ResetAutoReduce. While the audio thread runs, the cut is
  // made there: the output first fades to nothing over CutFadeFrames (a few milliseconds
  // instead of a jump from full level to 0 in one sample), and MIDI that arrives meanwhile
  // takes effect after the cut. Asked for from another thread, it is posted to the audio thread.
  void AllSoundOff() override;
  // The "CutFade" setting, in seconds (0.003 unless the settings give it; 0 cuts at once).
  int CutFadeFrames() const { return nCutFade; }
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
  bool PostMidiMessageAt(uintptr_t, uint32_t uPacked, uint32_t uDeviceFrame) override {
    return queue_.Post(AudioMsgMidiTimed, uDeviceFrame, uPacked);
  }
  // Any thread: a message that takes effect at a given time of the output, in seconds from its
  // first frame (the command line's notes). Posted ahead of time, it is placed to the frame.
  bool PostMidiMessageAtTime(uint32_t uPacked, double dSeconds) {
    // Frames count modulo 2^32, as the audio thread keeps them.
    auto uFrame = static_cast<uint32_t>(static_cast<uint64_t>(std::max(0.0, dSeconds) * dFreqEval));
    return queue_.Post(AudioMsgMidiAtFrame, uFrame, uPacked);
  }
  // Audio thread: a message with its arrival time. Where the device maps its clock to the
  // engine's frames, the message takes effect at the frame that plays MidiDelayFrames after its
  // arrival, inside whichever buffer holds that frame: notes keep their spacing to the frame
  // instead of falling on the buffer grid. Otherwise it is handled at once.
  void HandleTimedMidiMessage(uint32_t uDeviceFrame, uint32_t uPacked);
  // The constant delay of timed MIDI: one device period (the server hands events over a period
  // late) plus every buffer in circulation (the most the engine can have rendered ahead).
  int MidiDelayFrames() const { return nMidiDelay_; }

  // Set before Start. The device to open (default: the system's default output), and whether a
  // device that does not open is replaced by the clock-paced null output (default yes).
  void SetOutput(std::unique_ptr<AudioOutput> pdevice) { pdevice_ = std::move(pdevice); }
  void SetFallbackToNull(bool b) { bFallbackToNull_ = b; }
  // Set before Start: the recording. What the device plays goes here, gaps included; with a
  // device that cannot tell, every converted buffer.
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

  // Waits up to dSeconds until OpenDevice has finished (false: it has not, or no thread runs).
  bool WaitDeviceReady(double dSeconds);
  // Once the device is ready: no output opened (the null output is not a failure), and why, in
  // one plain line naming the fix ("JACK runs at 48000 Hz; set FreqEval = 48000 in ...").
  bool DeviceFailed() const { return DeviceReady() && bDeviceFailed_.load(); }
  const std::string& DeviceError() const { return sDeviceError_; }
  // Periods the device played with a gap because the engine had no buffer ready (the listener
  // heard silence), and periods the sound server itself reported lost (its xruns).
  long LatePeriods() const;
  // The device has started to take the engine's sound (true without a device: nothing to wait for).
  bool SoundStarted() const { return !DeviceReady() || !bDeviceOpen_ || pdevice_->Playing(); }
  long ServerXruns() const;

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
  std::atomic<bool> bDeviceFailed_{false};
  std::string sDeviceError_;   // written by the audio thread before the device is ready
  bool bRefused_ = false;      // the settings cannot feed the device: no fallback helps
  bool bDeviceTaps_ = false;   // the device records what it plays; the engine records nothing
  long nLateReported_ = 0;     // audio thread: late periods already reported

  // Timed MIDI waiting for the buffer that holds its frame (audio thread only). 256 messages is
  // more than a keyboard sends in the longest delay; when full, the oldest are handled at once.
  static constexpr int kPendingMidi = 256;
  struct PendingMidi {
    uint32_t uDue;  // the engine frame at which it takes effect
    uint32_t uPacked;
  };
  PendingMidi apendingMidi_[kPendingMidi] = {};
  int iPendingHead_ = 0, nPendingMidi_ = 0;
  uint32_t uFramesRendered_ = 0;  // engine frames rendered so far, modulo 2^32
  int nMidiDelay_ = 0;

  // The fade before a cut (audio thread): its frames, and the window of the one in progress.
  // The cut itself is a pending entry with the marker kCutMarker (no MIDI message is 0).
  static constexpr uint32_t kCutMarker = 0;
  bool bCutPending_ = false;
  uint32_t uFadeStart_ = 0, uFadeEnd_ = 0;
  uint32_t uCurrentFrame_ = 0;  // the frame MIDI being handled takes effect at
  std::atomic<std::thread::id> idAudio_{};

  void CutNow();
  void ApplyFade(uint32_t uFirstFrame);
  int OpenOutput(const WaveFormat& format);
  // Under the engine lock: mixes one buffer, handling pending MIDI at its frames.
  void MixWithMidi();
  void HandleUnderLock(uint32_t uPacked);
  // Audio thread: holds a message until the buffer that renders frame uDue.
  void QueueMidiAt(uint32_t uDue, uint32_t uPacked);
  void ReportLatePeriods();
};

// Raises the whole process's scheduling priority as far as permitted (a warning when not).
void RaiseProcessPriority();
