// The MIDI input device layer: ports listed and opened by number, or a virtual port; bytes
// assembled into complete short messages and system-exclusive dumps in a caller-supplied buffer.
// Implementations over RtMidi (ALSA) and JACK; notifications come on the port's own thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Result codes of the port calls; 0 is success. The text of a code is the port's ErrorText.
enum MidiInResult : int {
  MidiInOk = 0,
  MidiInErrGeneric = 1,      // the MIDI system failed; ErrorText has its words
  MidiInErrBadDevice = 2,    // no such port
  MidiInErrNoDriver = 6,     // no MIDI system (no sequencer, no JACK server)
  MidiInErrNotOpen = 7,      // the port is not open
  MidiInErrUnprepared = 64,  // the buffer is not prepared
  MidiInErrStillPlaying = 65,  // the buffer is still queued
};

// The words for a result code.
const char* MidiInResultText(int iResult);

// The system-exclusive buffer: the caller's memory, filled by the port with one dump.
enum : uint32_t {
  MidiBufDone = 0x01,
  MidiBufPrepared = 0x02,
  MidiBufInQueue = 0x04,
};
struct MidiSysexBuffer {
  unsigned char* pData = nullptr;
  uint32_t nBufferLength = 0;
  uint32_t nBytesRecorded = 0;  // valid once done
  uint32_t nBytesLost = 0;      // valid once done: the bytes of the dump beyond the buffer (cut off)
  std::atomic<uint32_t> uFlags{0};
};

// What a port tells its owner, on the port's thread (for JACK, the server's real-time thread):
// implementations must not block, allocate or touch files.
class MidiInSink {
 public:
  virtual ~MidiInSink() = default;
  // A complete short message, packed as the decoder takes it (status in bits 0-7).
  virtual void OnShortData(uint32_t uPacked) = 0;
  // The queued system-exclusive buffer holds a dump (complete, or as much as fitted).
  virtual void OnLongData(MidiSysexBuffer* pbuf) = 0;
  // A malformed short message (data without status, a message cut short), packed.
  virtual void OnError(uint32_t uPacked) = 0;
  // A system-exclusive dump cut short by a status byte; uPacked is that byte.
  virtual void OnLongError(uint32_t uPacked) = 0;
  // A dump of nBytes (its F0 and F7 included) went by while no buffer was queued: not captured.
  virtual void OnLongSkipped(uint32_t nBytes) { (void)nBytes; }
};

// Turns a MIDI byte stream into complete messages: running status, real-time bytes anywhere
// (inside messages and dumps too), system common messages, dumps into the queued buffer. Bytes
// that make no message are reported as errors and dropped; nothing it is fed can make it hold
// more than one message's bytes, besides the dump buffer it was given. A dump longer than the
// buffer is handed over at its end with the number of bytes that did not fit; a dump without a
// buffer is reported with its length.
class MidiAssembler {
 public:
  void Feed(const unsigned char* pb, size_t n, MidiInSink& sink);
  // The buffer a dump is recorded into; null: dumps are skipped.
  void SetSysexBuffer(MidiSysexBuffer* pbuf) { pbufSysex_.store(pbuf); }
  MidiSysexBuffer* SysexBuffer() const { return pbufSysex_.load(); }
  // Forget any partial message (on opening).
  void Clear();

 private:
  void EndSysex(MidiInSink& sink, bool bComplete, unsigned char bInterrupting);
  // A status byte arrived and its message is not complete.
  bool Partial() const { return bStatus_ != 0 && (bFresh_ || nData_ > 0); }
  std::atomic<MidiSysexBuffer*> pbufSysex_{nullptr};
  unsigned char bStatus_ = 0;    // running status (0x80-0xEF) or the pending system common status
  unsigned char abData_[2] = {};
  int nData_ = 0;                // data bytes collected for bStatus_
  bool bFresh_ = false;          // bStatus_ arrived and has not completed a message yet
  // Recording into the buffer; Overflow: the buffer is full and the rest of the dump is counted
  // as lost until its end hands the buffer over; Skipping: no buffer, the dump is counted.
  enum { SysexNone, SysexRecording, SysexOverflow, SysexSkipping } sysex_ = SysexNone;
  uint32_t nCounted_ = 0;  // bytes lost (Overflow) or skipped (Skipping) of the current dump
};

// Data bytes that follow a status byte (0 for real-time and tune request).
int MidiDataBytes(unsigned char bStatus);

enum class MidiSystem { Default, Jack, Alsa };
bool ParseMidiSystem(const std::string& s, MidiSystem* papi);

// The platform's MIDI input service. One port open at a time.
class MidiInPort {
 public:
  static constexpr int kVirtual = -2;  // the device number of the port others connect to

  virtual ~MidiInPort() = default;
  virtual int NumDevs() = 0;
  // The product name of port i; MidiInErrBadDevice when there is none.
  virtual int GetDevName(int i, std::string* psName) = 0;
  // Opens port i (or kVirtual); notifications go to psink once started.
  virtual int Open(int i, MidiInSink* psink) = 0;
  virtual int Prepare(MidiSysexBuffer* pbuf) = 0;
  virtual int Unprepare(MidiSysexBuffer* pbuf) = 0;
  virtual int AddBuffer(MidiSysexBuffer* pbuf) = 0;
  virtual int Start() = 0;
  virtual int Stop() = 0;
  virtual int Close() = 0;
  // The words for a result code (at most 255 characters), with the MIDI system's own text for
  // the last failure where it gave one.
  virtual std::string ErrorText(int iResult) = 0;
  // The handle passed along with every message to the engine.
  virtual uintptr_t Handle() { return reinterpret_cast<uintptr_t>(this); }
  // The open port's name as other programs see it (JACK names a second client's port
  // "vantrel-midi-01:in"); "" when none is open.
  virtual std::string PortName() { return ""; }
  // The port has gone (its server shut down, or its device left the MIDI system); nothing
  // arrives any more.
  virtual bool Gone() { return false; }
  // On the port's thread, inside OnShortData: the frame time at which the message arrived, on
  // the sound server's clock; false when the system gives none.
  virtual bool EventFrame(uint32_t* /*puFrame*/) { return false; }
  // Feeds bytes as if they had arrived at the open port (tests and the fuzzer use it).
  virtual void Inject(const unsigned char* pb, size_t n) = 0;
};

// Whether the port a device input was opened on is still among the ports the MIDI system lists
// (by its full name, client number included); a port that is not has gone with its device.
bool MidiPortListed(const std::vector<std::string>& asListed, const std::string& sPort);

// A port of the MIDI system asked for: the ALSA sequencer over RtMidi, JACK MIDI directly; with
// MidiSystem::Default the first that starts (ALSA, then JACK).
// Null, with the reason in *psError, when no MIDI system starts.
std::unique_ptr<MidiInPort> MakeMidiInPort(MidiSystem api, std::string* psError);
