// The performance input window ("Performance Input"): the computer keyboard as a note keyboard,
// drawn and played after the layout file config/InputAction.ini.
#pragma once

#include <memory>
#include <vector>

#include "keylayout.h"
#include "kswinqt.h"
#include "perfplay.h"

class KSEventCap;

class PerfInput : public KSWinQt {
 public:
  // Reads the layout.
  PerfInput(KSWinType* ptype, KSWinMemento& mem);
  // Ends the notes of the keys still held.
  ~PerfInput() override;

 protected:
  void BuildControls(QMainWindow* pframe) override;

 private:
  static void OnEvent(const KSEvent& event, void* pvUser);

  std::vector<KSKeyEntry> akey_;
  std::unique_ptr<PerfPlayer> pplayer_;
  KSEventCap* pcap_ = nullptr;
};
