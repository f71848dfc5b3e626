// The performance input window over its event-capture control.
#include "ide/perfinput.h"

#include <QMainWindow>

#include "foundation/akpaths.h"
#include "foundation/akstatus.h"
#include "ide/ideapp.h"
#include "ide/kseventcap.h"
#include "ide/kswinfactory.h"
#include "ide/windowapis.h"

namespace {

KSWinTypeTmpl<PerfInput> typePerfInput(kTypePerformance, false);

}  // namespace

PerfInput::PerfInput(KSWinType* ptype, KSWinMemento& mem) : KSWinQt(ptype, mem), akey_(kKSKeyCount) {
  CVantrelExplorerApp* papp = CVantrelExplorerApp::Get();
  std::string sLayout = AKInputActionPath();  // the user's own layout first
  if (KSReadKeyLayout(sLayout.c_str(), akey_.data()) != 0)
    if (KSWinSystem* psystem = KSWinFactory::Get().System())
      psystem->WarningBox(kTypePerformance, ("cannot read keyboard layouts \"" + sLayout + "\"").c_str());
  pplayer_ = std::make_unique<PerfPlayer>(akey_.data(), papp->Core()->Slots());
}

PerfInput::~PerfInput() {
  if (pcap_) pcap_->SetCallback(nullptr, nullptr);
  if (pplayer_) pplayer_->ReleaseAll();
}

void PerfInput::BuildControls(QMainWindow* pframe) {
  pcap_ = new KSEventCap(pframe);
  pcap_->SetKeys(akey_.data(), kKSKeyCount);
  pcap_->SetTexts(KSColor{0, 0, 0}, "Mouse Horizontal Position is Velocity", "Mouse Vertical Position is Pressure");
  pcap_->SetCallback(&PerfInput::OnEvent, this);
  // The control fills the window and follows its size.
  pframe->setCentralWidget(pcap_);
  pcap_->setFocus();
  int nKeys = 0;
  for (const KSKeyEntry& key : akey_) nKeys += key.bFilled;
  AKS(AKSTrace, AK_HERE, "performance input: %d keys", nKeys);
}

void PerfInput::OnEvent(const KSEvent& event, void* pvUser) {
  static_cast<PerfInput*>(pvUser)->pplayer_->OnEvent(event);
}
