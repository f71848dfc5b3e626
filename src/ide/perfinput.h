// The performance input window ("Performance Input"): the computer keyboard as a note keyboard,
// drawn and played after the layout file config/InputAction.ini.
#pragma once

#include <QPointer>
#include <memory>
#include <vector>

#include "ide/keylayout.h"
#include "ide/kswinqt.h"
#include "ide/perfplay.h"

class KSEventCap;

class PerfInput : public KSWinQt {
 public:
  // Reads the layout.
  PerfInput(KSWinType* ptype, KSWinMemento& mem);
  // Ends the notes of the keys still held; the control reports to nobody from then on.
  ~PerfInput() override;

 protected:
  void BuildControls(QMainWindow* pframe) override;

 private:
  static void OnEvent(const KSEvent& event, void* pvUser);

  std::vector<KSKeyEntry> akey_;
  std::unique_ptr<PerfPlayer> pplayer_;
  QPointer<KSEventCap> pcap_;  // the frame that owns it is deleted after this window
};
