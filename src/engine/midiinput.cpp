// MIDI byte assembly and the input port over RtMidi.
#include "engine/midiinput.h"

#include <RtMidi.h>
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "engine/audiodevice.h"
#include "engine/jackclient.h"
#include "engine/quietstream.h"
#include "foundation/akstatus.h"

int MidiDataBytes(unsigned char bStatus) {
  if (bStatus < 0xF0) return (bStatus & 0xE0) == 0xC0 ? 1 : 2;  // program change, channel pressure: 1
  switch (bStatus) {
    case 0xF1:
    case 0xF3: return 1;
    case 0xF2: return 2;
    default: return 0;
  }
}

void MidiAssembler::Clear() {
  bStatus_ = 0;
  nData_ = 0;
  bFresh_ = false;
  sysex_ = SysexNone;
  nCounted_ = 0;
}

void MidiAssembler::EndSysex(MidiInSink& sink, bool bComplete, unsigned char bInterrupting) {
  MidiSysexBuffer* pbuf = pbufSysex_.load();
  auto state = sysex_;
  uint32_t nCounted = nCounted_;
  sysex_ = SysexNone;
  nCounted_ = 0;
  if (state == SysexSkipping) {
    if (nCounted > 0) sink.OnLongSkipped(nCounted);
    return;
  }
  if (state == SysexNone || !pbuf) return;
  if (state == SysexRecording && !bComplete) {
    // The dump was cut short: say so and keep the buffer for the next one.
    pbuf->nBytesRecorded = 0;
    sink.OnLongError(bInterrupting);
    return;
  }
  // Complete, or as much as fitted of one too long for the buffer, however it ended.
  pbuf->nBytesLost = state == SysexOverflow ? nCounted : 0;
  pbufSysex_.store(nullptr);
  pbuf->uFlags.store((pbuf->uFlags.load() & ~MidiBufInQueue) | MidiBufDone, std::memory_order_release);
  sink.OnLongData(pbuf);
}

void MidiAssembler::Feed(const unsigned char* pb, size_t n, MidiInSink& sink) {
  for (size_t i = 0; i < n; ++i) {
    unsigned char b = pb[i];
    if (b >= 0xF8) {  // real-time: a message of its own, wherever it falls
      sink.OnShortData(b);
      continue;
    }
    if (b == 0xF0) {
      if (sysex_ != SysexNone) EndSysex(sink, false, b);
      if (Partial()) sink.OnError(bStatus_ | (nData_ > 0 ? static_cast<uint32_t>(abData_[0]) << 8 : 0));
      bStatus_ = 0, nData_ = 0, bFresh_ = false;
      MidiSysexBuffer* pbuf = pbufSysex_.load();
      if (pbuf && pbuf->nBufferLength > 0) {
        pbuf->nBytesRecorded = 0;
        pbuf->pData[pbuf->nBytesRecorded++] = b;
        sysex_ = pbuf->nBytesRecorded >= pbuf->nBufferLength ? SysexOverflow : SysexRecording;
      } else {
        sysex_ = SysexSkipping;
        nCounted_ = 1;
      }
      continue;
    }
    if (b == 0xF7) {
      if (sysex_ == SysexRecording && pbufSysex_.load()) {
        MidiSysexBuffer* pbuf = pbufSysex_.load();
        // Recording means there is room, unless the buffer was exchanged mid-dump.
        if (pbuf->nBytesRecorded < pbuf->nBufferLength) pbuf->pData[pbuf->nBytesRecorded++] = b;
        else sysex_ = SysexOverflow, ++nCounted_;
        EndSysex(sink, true, 0);
      } else if (sysex_ == SysexOverflow || sysex_ == SysexSkipping) {
        ++nCounted_;
        EndSysex(sink, true, 0);
      } else {
        sysex_ = SysexNone;  // a stray end, or a dump whose buffer was taken back: nothing to do
      }
      bStatus_ = 0, nData_ = 0, bFresh_ = false;
      continue;
    }
    if (b >= 0x80) {  // a channel or system common status ends a dump and any partial message
      if (sysex_ != SysexNone) EndSysex(sink, false, b);
      if (Partial()) sink.OnError(bStatus_ | (nData_ > 0 ? static_cast<uint32_t>(abData_[0]) << 8 : 0));
      bStatus_ = b, nData_ = 0, bFresh_ = true;
      if (MidiDataBytes(b) == 0) {  // tune request and the undefined F4, F5
        sink.OnShortData(b);
        bStatus_ = 0, bFresh_ = false;
      }
      continue;
    }
    // A data byte.
    if (sysex_ == SysexRecording) {
      MidiSysexBuffer* pbuf = pbufSysex_.load();
      if (!pbuf) {  // the buffer was taken back mid-dump
        sysex_ = SysexSkipping;
        nCounted_ = 0;
        continue;
      }
      if (pbuf->nBytesRecorded < pbuf->nBufferLength) pbuf->pData[pbuf->nBytesRecorded++] = b;
      else ++nCounted_;
      // Full: the rest of the dump is counted, and the buffer handed over at the dump's end.
      if (pbuf->nBytesRecorded >= pbuf->nBufferLength) sysex_ = SysexOverflow;
      continue;
    }
    if (sysex_ == SysexOverflow || sysex_ == SysexSkipping) {
      ++nCounted_;
      continue;
    }
    if (bStatus_ == 0) {
      sink.OnError(b);  // data without a status
      continue;
    }
    abData_[nData_++] = b;
    if (nData_ < MidiDataBytes(bStatus_)) continue;
    sink.OnShortData(bStatus_ | static_cast<uint32_t>(abData_[0]) << 8 |
                     (nData_ > 1 ? static_cast<uint32_t>(abData_[1]) << 16 : 0));
    nData_ = 0;
    bFresh_ = false;
    if (bStatus_ >= 0xF0) bStatus_ = 0;  // system common messages leave no running status
  }
}

bool ParseMidiSystem(const std::string& s, MidiSystem* papi) {
  if (s == "default") *papi = MidiSystem::Default;
  else if (s == "jack") *papi = MidiSystem::Jack;
  else if (s == "alsa") *papi = MidiSystem::Alsa;
  else return false;
  return true;
}

const char* MidiInResultText(int iResult) {
  switch (iResult) {
    case MidiInOk: return "no error";
    case MidiInErrBadDevice: return "no such MIDI input port";
    case MidiInErrNoDriver: return "no MIDI system";
    case MidiInErrNotOpen: return "the MIDI input port is not open";
    case MidiInErrUnprepared: return "the buffer is not prepared";
    case MidiInErrStillPlaying: return "the buffer is still queued";
    default: return "the MIDI system failed";
  }
}

bool MidiPortListed(const std::vector<std::string>& asListed, const std::string& sPort) {
  // A device that comes back gets a new client number, and so a new name: the subscription was
  // to the one that went.
  return std::find(asListed.begin(), asListed.end(), sPort) != asListed.end();
}

namespace {

// What every port shares: the buffer bookkeeping, starting and stopping, and the hand-over of
// arriving bytes (on the system's thread) to the assembler and the owner's sink.
class AssemblingPort : public MidiInPort {
 public:
  int Prepare(MidiSysexBuffer* pbuf) override {
    if (!bOpen_) return MidiInErrNotOpen;
    pbuf->uFlags.fetch_or(MidiBufPrepared);
    return MidiInOk;
  }
  int Unprepare(MidiSysexBuffer* pbuf) override {
    if (!bOpen_) return MidiInErrNotOpen;
    if (pbuf->uFlags.load() & MidiBufInQueue) return MidiInErrStillPlaying;
    pbuf->uFlags.fetch_and(~MidiBufPrepared);
    return MidiInOk;
  }
  int AddBuffer(MidiSysexBuffer* pbuf) override {
    if (!bOpen_) return MidiInErrNotOpen;
    if (!(pbuf->uFlags.load() & MidiBufPrepared)) return MidiInErrUnprepared;
    pbuf->nBytesRecorded = 0;
    pbuf->uFlags.store((pbuf->uFlags.load() & ~MidiBufDone) | MidiBufInQueue);
    assembler_.SetSysexBuffer(pbuf);
    return MidiInOk;
  }
  int Start() override {
    if (!bOpen_) return MidiInErrNotOpen;
    bStarted_.store(true);
    return MidiInOk;
  }
  int Stop() override {
    if (!bOpen_) return MidiInErrNotOpen;
    bStarted_.store(false);
    WaitCallbackOut();
    return MidiInOk;
  }
  int Close() override {
    if (!bOpen_) return MidiInErrNotOpen;
    bStarted_.store(false);
    WaitCallbackOut();
    // Closing takes the buffer back from the port, done or not.
    if (MidiSysexBuffer* pbuf = assembler_.SysexBuffer())
      pbuf->uFlags.store((pbuf->uFlags.load() & ~MidiBufInQueue) | MidiBufDone);
    assembler_.SetSysexBuffer(nullptr);
    ClosePort();
    bOpen_ = false;
    psink_ = nullptr;
    return MidiInOk;
  }
  std::string ErrorText(int iResult) override {
    std::string s = iResult == MidiInErrGeneric && !sLastError_.empty() ? sLastError_ : MidiInResultText(iResult);
    if (s.size() > 255) s.resize(255);
    return s;
  }
  void Inject(const unsigned char* pb, size_t n) override {
    if (bStarted_.load() && psink_) assembler_.Feed(pb, n, *psink_);
  }

 protected:
  virtual void ClosePort() = 0;
  // Called by an implementation once its port is open: notifications may flow after Start.
  void Opened(MidiInSink* psink) {
    assembler_.Clear();
    psink_ = psink;
    bOpen_ = true;
  }
  // The system's thread: bytes that arrived. Never blocks.
  void Deliver(const unsigned char* pb, size_t n) {
    EnterCallback();
    if (Started()) FeedStarted(pb, n);
    LeaveCallback();
  }
  // For a system thread that uses the port itself between the two: Close waits for it to leave
  // (it clears the started flag first, then waits, so a callback that saw the flag set is done
  // with the port before the port goes).
  void EnterCallback() { bInCallback_.store(true); }
  void LeaveCallback() { bInCallback_.store(false); }
  bool Started() const { return bStarted_.load(); }
  void FeedStarted(const unsigned char* pb, size_t n) {
    if (psink_) assembler_.Feed(pb, n, *psink_);
  }
  void WaitCallbackOut() {
    while (bInCallback_.load()) {
    }
  }

  bool bOpen_ = false;
  std::string sLastError_;

 private:
  MidiAssembler assembler_;
  MidiInSink* psink_ = nullptr;
  std::atomic<bool> bStarted_{false};
  std::atomic<bool> bInCallback_{false};
};

// The port over one RtMidiIn (the ALSA sequencer). RtMidi reports errors through a callback
// (so it never throws after construction); the last text is kept for ErrorText.
class RtMidiPort : public AssemblingPort {
 public:
  explicit RtMidiPort(std::unique_ptr<RtMidiIn> pin) : pin_(std::move(pin)) {
    pin_->setErrorCallback(&RtMidiPort::OnRtError, this);
    pin_->ignoreTypes(false, false, false);  // dumps, clocks and active sensing all matter here
    pin_->setCallback(&RtMidiPort::OnMessage, this);
  }
  ~RtMidiPort() override { Close(); }

  int NumDevs() override { return static_cast<int>(pin_->getPortCount()); }

  int GetDevName(int i, std::string* psName) override {
    if (i < 0 || i >= NumDevs()) return MidiInErrBadDevice;
    sLastError_.clear();
    *psName = pin_->getPortName(static_cast<unsigned>(i));
    if (psName->empty()) return sLastError_.empty() ? MidiInErrBadDevice : MidiInErrGeneric;
    return MidiInOk;
  }

  int Open(int i, MidiInSink* psink) override {
    if (bOpen_) return MidiInErrGeneric;
    if (i != kVirtual && (i < 0 || i >= NumDevs())) return MidiInErrBadDevice;
    sLastError_.clear();
    if (i == kVirtual) pin_->openVirtualPort("in");
    else pin_->openPort(static_cast<unsigned>(i), "in");
    if (!sLastError_.empty()) return MidiInErrGeneric;
    // The sequencer tells clients of one name apart by number, not by renaming them.
    sPortName_ = i == kVirtual ? "vantrel-midi:in" : pin_->getPortName(static_cast<unsigned>(i));
    bVirtual_ = i == kVirtual;
    bGone_ = false;
    Opened(psink);
    return MidiInOk;
  }
  std::string PortName() override { return bOpen_ ? sPortName_ : ""; }

  // A keyboard unplugged (or a program that quit) takes its sequencer client with it: the port
  // we read from is no longer listed, and nothing will arrive. Asked from the main thread; the
  // list is read at most twice a second. Our own virtual port goes only with the sequencer.
  bool Gone() override {
    if (!bOpen_ || bVirtual_ || bGone_) return bGone_;
    auto tNow = std::chrono::steady_clock::now();
    if (tNow < tNextCheck_) return false;
    tNextCheck_ = tNow + std::chrono::milliseconds(500);
    std::vector<std::string> asListed;
    for (unsigned i = 0, n = pin_->getPortCount(); i < n; ++i) asListed.push_back(pin_->getPortName(i));
    bGone_ = !MidiPortListed(asListed, sPortName_);
    return bGone_;
  }

 private:
  void ClosePort() override { pin_->closePort(); }
  static void OnMessage(double, std::vector<unsigned char>* pab, void* pvUser) {
    if (pab) static_cast<RtMidiPort*>(pvUser)->Deliver(pab->data(), pab->size());
  }
  static void OnRtError(RtMidiError::Type type, const std::string& sText, void* pvUser) {
    if (type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING) return;
    static_cast<RtMidiPort*>(pvUser)->sLastError_ = sText;
  }

  std::unique_ptr<RtMidiIn> pin_;
  std::string sPortName_;
  bool bVirtual_ = false, bGone_ = false;
  std::chrono::steady_clock::time_point tNextCheck_;
};

// JACK MIDI read directly: RtMidi's JACK input joins every event after an unterminated
// system-exclusive start into that message for good (all later input is lost, and the message
// grows without bound in JACK's real-time thread). Here each event's bytes go straight to the
// assembler, which recovers at the next status byte and never allocates.
class JackMidiPort : public AssemblingPort {
 public:
  static std::unique_ptr<JackMidiPort> Make(std::string* psError) {
    std::unique_ptr<JackClient> pclient = JackClient::Open("vantrel-midi", psError);
    if (!pclient) return nullptr;
    std::unique_ptr<JackMidiPort> p(new JackMidiPort(std::move(pclient)));
    p->pclient_->SetCallbacks(&JackMidiPort::Process, nullptr, p.get());
    if (p->pclient_->Activate() != 0) {
      *psError = "cannot activate the JACK client";
      return nullptr;
    }
    return p;
  }
  ~JackMidiPort() override {
    // The client's close unregisters the port; nothing else is called on a client that may be
    // dead or dying (see JackClient).
    bClosing_ = true;
    Close();
    pclient_.reset();
  }

  int NumDevs() override {
    asSource_.clear();
    if (pclient_->Dead()) return 0;
    if (const char** apsz = jack_get_ports(pclient_->Handle(), nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput)) {
      for (const char** ppsz = apsz; *ppsz; ++ppsz) asSource_.push_back(*ppsz);
      jack_free(apsz);
    }
    return static_cast<int>(asSource_.size());
  }
  int GetDevName(int i, std::string* psName) override {
    if (i < 0 || i >= static_cast<int>(asSource_.size())) return MidiInErrBadDevice;
    *psName = asSource_[static_cast<size_t>(i)];
    return MidiInOk;
  }
  int Open(int i, MidiInSink* psink) override {
    if (bOpen_) return MidiInErrGeneric;
    if (i != kVirtual && (i < 0 || i >= static_cast<int>(asSource_.size()))) return MidiInErrBadDevice;
    if (pclient_->Dead()) {
      sLastError_ = "the JACK server has gone";
      return MidiInErrNoDriver;
    }
    jack_client_t* pc = pclient_->Handle();
    jack_port_t* pport = jack_port_register(pc, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!pport) {
      sLastError_ = "cannot register a JACK MIDI port";
      return MidiInErrGeneric;
    }
    if (i != kVirtual && jack_connect(pc, asSource_[static_cast<size_t>(i)].c_str(), jack_port_name(pport)) != 0) {
      sLastError_ = "cannot connect " + asSource_[static_cast<size_t>(i)];
      jack_port_unregister(pc, pport);
      return MidiInErrGeneric;
    }
    sPortName_ = jack_port_name(pport);
    pport_.store(pport);
    Opened(psink);
    return MidiInOk;
  }
  std::string PortName() override { return sPortName_; }
  bool Gone() override { return pclient_->Dead(); }
  bool EventFrame(uint32_t* puFrame) override {
    *puFrame = uEventFrame_;
    return bEventFrame_;
  }

 private:
  explicit JackMidiPort(std::unique_ptr<JackClient> pclient) : pclient_(std::move(pclient)) {}

  void ClosePort() override {
    jack_port_t* pport = pport_.exchange(nullptr);
    if (pport && !bClosing_ && !pclient_->Dead()) jack_port_unregister(pclient_->Handle(), pport);
  }

  // JACK's real-time thread, once per period. Each event's frame time (the period's first frame
  // plus the event's offset in it) goes along with the messages it makes.
  static int Process(jack_nframes_t nFrames, void* pvUser) {
    auto* pself = static_cast<JackMidiPort*>(pvUser);
    pself->EnterCallback();
    jack_port_t* pport = pself->pport_.load();
    if (pport && pself->Started()) {
      jack_nframes_t tCycle = jack_last_frame_time(pself->pclient_->Handle());
      void* pvBuffer = jack_port_get_buffer(pport, nFrames);
      jack_nframes_t nEvents = jack_midi_get_event_count(pvBuffer);
      for (jack_nframes_t j = 0; j < nEvents; ++j) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, pvBuffer, j) != 0) continue;
        pself->uEventFrame_ = tCycle + event.time;
        pself->bEventFrame_ = true;
        pself->FeedStarted(event.buffer, event.size);
        pself->bEventFrame_ = false;
      }
    }
    pself->LeaveCallback();
    return 0;
  }

  std::unique_ptr<JackClient> pclient_;
  std::atomic<jack_port_t*> pport_{nullptr};
  std::vector<std::string> asSource_;
  std::string sPortName_;
  bool bClosing_ = false;
  // The frame time of the event being fed; valid only on JACK's thread, inside a feed.
  uint32_t uEventFrame_ = 0;
  bool bEventFrame_ = false;
};

// Tries one MIDI system; null with the reason when it does not start.
std::unique_ptr<RtMidiIn> TryRtMidi(RtMidi::Api api, std::string* psError) {
  try {
    QuietLibraryStream quiet;  // the reason comes back in the exception
    auto pin = std::make_unique<RtMidiIn>(api, "vantrel-midi", 1000);
    if (api != RtMidi::UNSPECIFIED && pin->getCurrentApi() != api) {
      *psError = RtMidi::getApiDisplayName(api) + " is not compiled into this RtMidi";
      return nullptr;
    }
    return pin;
  } catch (const RtMidiError& e) {
    *psError = e.getMessage();
    return nullptr;
  }
}

}  // namespace

std::unique_ptr<MidiInPort> MakeMidiInPort(MidiSystem api, std::string* psError) {
  QuietSoundLibraries();
  std::string sError;
  if (api != MidiSystem::Jack)
    if (std::unique_ptr<RtMidiIn> pin = TryRtMidi(RtMidi::LINUX_ALSA, &sError))
      return std::make_unique<RtMidiPort>(std::move(pin));
  if (api != MidiSystem::Alsa)
    if (std::unique_ptr<JackMidiPort> pport = JackMidiPort::Make(&sError)) return pport;
  if (psError) *psError = sError;
  return nullptr;
}
