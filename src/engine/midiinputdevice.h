// The MIDI input of the engine: the device list, opening and closing the chosen port, short
// messages handed to the audio thread, system-exclusive dumps saved to files, the watch on
// active sensing and the state of the MIDI status light. Driven by a 500 ms tick, so that the
// command line and a main window share it; what the user sees goes through MidiInputView.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "engine/interpreter.h"
#include "engine/midiinput.h"

// What the MIDI input shows; the command line prints it, a window draws it.
class MidiInputView {
 public:
  virtual ~MidiInputView() = default;
  virtual void ShowMidiMsg(const char* psz) = 0;     // the "MIDI Msg" line
  virtual void ShowMidiStatus(const char* psz) = 0;  // the "MIDI Status" line
  // 0 no device, 1 device open, 2 active sensing seen, 3 a message within the last second.
  virtual void ShowLight(int iState) = 0;
  virtual void ErrorBox(const char* pszTitle, const char* pszText) = 0;
};

struct MidiDeviceEntry {
  std::string sName;
  int iDevice;  // -1 for "(none)"
};

class MidiInputDevice : private MidiInSink {
 public:
  static constexpr uint32_t kSysexBytes = 16384;  // one dump per opening, at most this long

  // The port, engine and view are the caller's and outlive this object; the engine may be null
  // (then nothing is posted and the tick does nothing). Dumps go to the folder sSysexDir.
  MidiInputDevice(MidiInPort* pport, MidiInputEngine* pengine, MidiInputView* pview, std::string sSysexDir);
  ~MidiInputDevice() override;
  MidiInputDevice(const MidiInputDevice&) = delete;
  MidiInputDevice& operator=(const MidiInputDevice&) = delete;

  // Builds the list: "(none)", then every port that gives its name; selects the entry named as
  // the saved default, if any.
  void FillDeviceList();
  const std::vector<MidiDeviceEntry>& Entries() const { return aentry_; }
  int SelectedEntry() const { return iSelected_; }
  // The user's choice of entry iEntry: ALL SOUND OFF, then open its device.
  void Select(int iEntry);
  // What the window runs once after filling the list: opens the selected entry, if any.
  void SelectionChanged();
  // Closes the open device, then opens device d (none when d < 0).
  void OpenDevice(int d);
  // Closes the open device, then opens the port other programs connect to.
  void OpenVirtual();

  // Every 500 ms: dumps and errors that arrived, active sensing, the status light.
  void Tick();

  int CurrentDevice() const { return iCurrent_; }
  bool IsOpen() const { return bOpen_; }
  int LightState() const { return iLight_; }
  // The name to store as "MIDIDevDefault" (empty while no device is open), and the one read.
  std::string SavedState() const;
  void SetSavedDefault(const std::string& s) { sDefault_ = s; }
  // The last message other than active sensing (0: none yet).
  uint32_t LastMessage() const { return uLastMessage_.load(std::memory_order_relaxed); }
  // Messages the engine's queue refused.
  long Dropped() const { return nDropped_.load(std::memory_order_relaxed); }
  // The open port's name as other programs see it ("" while none is open).
  std::string PortName() const { return bOpen_ && pport_ ? pport_->PortName() : ""; }
  // The port's MIDI system went away while it was open (reported once by Tick).
  bool Lost() const { return bLost_; }
  // The file the last dump went to ("" before the first).
  const std::string& LastDumpFile() const { return sLastDump_; }

 protected:
  // Calendar seconds, and the local time for file names; tests turn the clock by hand.
  virtual int64_t Now();
  virtual std::tm LocalTime();

 private:
  // MidiInSink, on the port's thread.
  void OnShortData(uint32_t uPacked) override;
  void OnLongData(MidiSysexBuffer* pbuf) override;
  void OnError(uint32_t uPacked) override;
  void OnLongError(uint32_t uPacked) override;
  void OnLongSkipped(uint32_t nBytes) override;

  void CloseCurrent(int d);
  void FinishOpen(int d);
  void SaveDump();
  void PushError(uint32_t uKindAndPacked);

  MidiInPort* pport_;
  MidiInputEngine* pengine_;
  MidiInputView* pview_;
  std::string sSysexDir_;

  std::vector<MidiDeviceEntry> aentry_;
  int iSelected_ = -1;
  std::vector<std::string> asName_;  // by device number; empty where the port gave no name
  std::string sDefault_;             // the saved default device name
  int nDevices_ = 0;
  int iCurrent_ = -1;
  bool bOpen_ = false;
  std::unique_ptr<unsigned char[]> abSysex_;
  MidiSysexBuffer bufSysex_;
  std::string sLastDump_;

  std::atomic<int64_t> tLastMessage_{0}, tLastSense_{0};  // calendar seconds, 0 = never
  std::atomic<uint32_t> uLastMessage_{0};
  std::atomic<long> nDropped_{0};
  std::atomic<bool> bLongData_{false};
  int iLight_ = -1;
  bool bLost_ = false;

  // Error notifications from the port's thread to the tick: a single-producer ring. Bit 31
  // marks a dump error, bit 30 a dump not captured (with its length below). A flood beyond its
  // size only loses reports, never blocks.
  static constexpr uint32_t kErrors = 256;
  uint32_t auError_[kErrors] = {};
  std::atomic<uint32_t> iErrorWrite_{0}, iErrorRead_{0};
};
