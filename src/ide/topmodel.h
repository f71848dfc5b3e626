// The main window's logic without the window: the MIDI input and its device list, the engine
// values shown twice a second, the message list, the buttons, the exit in order, and the test
// commands. The window (top.h) draws what this reports through TopView.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/midiinputdevice.h"

class AppCore;
class KSWinFactory;
class KSWinMemento;

struct TopLevels {
  int iMeterMin = 0, iMeterMax = 0, iMeterPos = 0;  // tenths of a dB
  std::string sVoices, sPeak, sAutoReductions;
};

// One row of the message list: message, count, internal location, patch line.
struct TopMessageRow {
  std::string asColumn[4];
  bool bOwnLine = false;  // the line is one of the patch's own (not of a file it includes)
};

class TopView : public MidiInputView {
 public:
  virtual void ShowLevels(const TopLevels& levels) = 0;
  virtual void ShowRows(const std::vector<TopMessageRow>& arow) = 0;
  // The process ends with this status once the window system's loop is left.
  virtual void Quit(int iStatus) = 0;
};

class TopModel {
 public:
  // The core, port and view are the caller's and outlive the model; the port may be null (no
  // MIDI system). The model's MIDI input posts to the core's engine.
  TopModel(AppCore& core, KSWinFactory& factory, MidiInPort* pport, TopView& view);
  ~TopModel();

  // Initialisation: the device list filled (with the virtual port other programs connect to
  // after the ports), then the saved default device opened, if it is listed.
  void FillDevices(const std::string& sSavedDefault);
  const std::vector<MidiDeviceEntry>& Devices() const { return aentry_; }
  int SelectedDevice() const { return iSelected_; }
  void SelectDevice(int iEntry);
  MidiInputDevice* Midi() { return pmidi_.get(); }
  // "MIDIDevDefault": the open device's name.
  void SaveState(KSWinMemento& mem) const;

  // Every 500 ms.
  void Tick();
  const TopLevels& Levels() const { return levels_; }
  const std::string& MidiMsg() const { return sMidiMsg_; }
  const std::vector<TopMessageRow>& Rows() const { return arow_; }

  void AllNotesOff();
  void AllSoundOff();
  void ResetAutoReduce();
  void ResetMessages();
  // A click on a row: the editor goes to its patch line.
  void RowClicked(int iRow);

  // The exit: false (and nothing closed) when the editor's save question is refused; otherwise
  // every other window closed from the last, the engine shut down, its lock kept, the patches
  // destroyed from the last slot, and the view told to end with status 0.
  bool Exit();
  void VariableDump();
  // Compiles the default patch and reports what the heap kept afterwards.
  void HeapCheck();

  // The name of the list entry for the virtual port, and what MIDIDevDefault stores for it.
  static constexpr const char* kVirtualEntry = "vantrel-midi:in (virtual port)";

 private:
  void RebuildRows();

  AppCore& core_;
  KSWinFactory& factory_;
  TopView& view_;
  std::unique_ptr<MidiInputDevice> pmidi_;
  std::vector<MidiDeviceEntry> aentry_;
  int iSelected_ = -1;
  TopLevels levels_;
  std::string sMidiMsg_;
  std::vector<TopMessageRow> arow_;
  bool bExited_ = false;
};
