// The waveform output device layer: prepared buffers queued on a device that plays them back to
// back and posts one buffer-done notification per played buffer to the audio thread's queue.
// Implementations: JACK (libjack directly), RtAudio (PulseAudio, ALSA), the system default (JACK
// when a server runs, else the first of those that opens) and a null output that paces the
// buffers with a clock when there is no sound card.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/msgqueue.h"

class SampleTap;

// Result codes of the device calls; 0 is success.
enum WaveResult : int {
  WaveOk = 0,
  WaveErrGeneric = 1,      // the driver failed; the log has its text
  WaveErrBadDevice = 2,    // no such device, or the device is not open
  WaveErrNoDriver = 6,     // the sound system (server) is not there
  WaveErrBadFormat = 32,   // the format cannot be played
  WaveErrStillPlaying = 33,
  WaveErrUnprepared = 34,
  WaveErrQueueFull = 35,   // more buffers written than the device holds (64)
};
const char* WaveResultText(int iResult);

// Flags of a buffer descriptor, set by the device.
enum : uint32_t {
  WaveBufDone = 0x01,      // played (or returned by Reset); the owner may refill it
  WaveBufPrepared = 0x02,
  WaveBufInQueue = 0x10,   // written and not yet played
};

// One output buffer: the owner's sample memory and the device's flags. Only the flags are
// shared with the device thread; the memory belongs to the device from Write until done.
struct WaveBuffer {
  char* pData = nullptr;
  uint32_t nBufferLength = 0;  // bytes
  uint32_t nLoops = 0;
  std::atomic<uint32_t> uFlags{0};
};

struct WaveFormat {
  int nChannels;
  int nSamplesPerSec;
  int nBitsPerSample;   // 16 only
  int nBlockAlign;      // nChannels * nBitsPerSample / 8
  int nAvgBytesPerSec;  // nBlockAlign * nSamplesPerSec
  int cbSize;           // format extension size, kept for the record
};

enum class AudioApi { Default, Jack, Pulse, Alsa, Null };
// "jack", "pulse", "alsa", "null" (and "default"); false for anything else.
bool ParseAudioApi(const std::string& s, AudioApi* papi);
const char* AudioApiName(AudioApi api);

class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  // Opens the device; buffer-done notifications go to pqueue as {AudioMsgBufferDone, pvInstance,
  // buffer}. Called on the audio thread.
  virtual int Open(const WaveFormat& format, AudioMessageQueue* pqueue, void* pvInstance) = 0;
  virtual int Prepare(WaveBuffer* pbuf) = 0;
  virtual int Unprepare(WaveBuffer* pbuf) = 0;
  // Queues a prepared buffer; buffers play in the order written.
  virtual int Write(WaveBuffer* pbuf) = 0;
  // Stops playback and marks every queued buffer done.
  virtual int Reset() = 0;
  virtual int Close() = 0;
  // What actually plays: "JACK", "null (no sound)", ...; and the device's name.
  virtual std::string Describe() const = 0;
  // Output periods the device played (partly) as silence because no buffer was ready: the
  // engine was late, and the listener heard a gap.
  virtual long Underruns() const = 0;
  // Periods the sound server or driver itself reported lost (xruns): not the engine's doing.
  virtual long Xruns() const { return 0; }
  // The frames the device takes at a time once open (0: it takes what comes, as the clock does).
  virtual int PeriodFrames() const { return 0; }
  // After a failed Open: what went wrong in one plain line that names the fix ("" if nothing
  // more can be said than the result code).
  virtual std::string OpenError() const { return ""; }
  // The device thread's mapping from the sound server's frame clock to the engine's frames:
  // the engine frame (counted from the first one written, modulo 2^32) that plays at device
  // frame uDeviceFrame. False when the device has no such clock (or has not played yet).
  virtual bool EngineFrameAt(uint32_t /*uDeviceFrame*/, uint32_t* /*puEngineFrame*/) const { return false; }
  // Before Open: the engine's buffer length. A device whose period we choose takes no more.
  virtual void SuggestPeriod(int /*nFrames*/) {}
  // Before Open: what the device plays (silence where no buffer was ready) also goes to ptap.
  // False when the device cannot do that; the engine then records what it renders.
  virtual bool SetTap(SampleTap*) { return false; }
  // Set once the device stopped playing (unplugged, server gone); the layer then paces the
  // buffers with a clock so that the engine keeps running.
  virtual bool Lost() const = 0;
  // The device has taken the engine's first frames: the sound has started (a server may pull
  // only some tenths of a second after its stream opened).
  virtual bool Playing() const { return true; }
};

// The device for the API asked for. With AudioApi::Default the system's default; Null gives the
// clock-paced output. Opening can still fail (OpenError says why).
std::unique_ptr<AudioOutput> MakeAudioOutput(AudioApi api);
// A clock-paced output that plays nothing.
std::unique_ptr<AudioOutput> MakeNullOutput();

// Sends the sound libraries' own error printing to the status log; safe to call more than once.
void QuietSoundLibraries();

// The output devices of every API, one line each, with the rates and periods they take
// ("jack: server at 44100 Hz, period 256 frames (both set by the server); 2 playback ports").
std::vector<std::string> ListAudioDevices();

// Whether Buffers buffers of nBufferSamples frames keep a device fed that takes nPeriod frames at
// a time: when a period begins the audio thread has refilled every buffer the device handed back,
// so the queue holds all but the part of the current buffer already played, and the least it
// can hold is (Buffers - 1) x BufferSamples + gcd(BufferSamples, period) frames.
bool BuffersFeedPeriod(int nBuffers, int nBufferSamples, int nPeriod);
// The smallest BufferSamples that feeds nPeriod with nBuffers buffers, and the smallest Buffers
// that does with nBufferSamples frames each.
int MinBufferSamples(int nBuffers, int nPeriod);
int MinBuffers(int nBufferSamples, int nPeriod);
