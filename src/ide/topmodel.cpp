// The main window's logic: levels, MIDI, messages, buttons, exit, variable dump, heap check.
#include "ide/topmodel.h"

#include <malloc.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>

#include "app/appcore.h"
#include "formula/errorlist.h"
#include "foundation/akpaths.h"
#include "foundation/akstatus.h"
#include "ide/kswinfactory.h"
#include "ide/midiwords.h"
#include "ide/windowapis.h"
#include "patch/patch.h"
#include "patch/voice.h"

namespace {

constexpr const char* kVirtualSaved = "virtual";  // what MidiInputDevice saves for the virtual port

// Tenths of a dB as the meter takes them; silence (log of 0) is the bottom of any range.
int Tenths(double dDb) {
  double d = dDb * 10;
  if (!std::isfinite(d) || d < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  if (d > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  return static_cast<int>(d);
}

}  // namespace

TopModel::TopModel(AppCore& core, KSWinFactory& factory, MidiInPort* pport, TopView& view)
    : core_(core), factory_(factory), view_(view),
      pmidi_(std::make_unique<MidiInputDevice>(pport, core.Engine(), &view, AKWriteDir(AKPlaceSysex))) {}

TopModel::~TopModel() = default;

void TopModel::FillDevices(const std::string& sSavedDefault) {
  pmidi_->SetSavedDefault(sSavedDefault);
  pmidi_->FillDeviceList();
  aentry_ = pmidi_->Entries();
  iSelected_ = pmidi_->SelectedEntry();
  aentry_.push_back({kVirtualEntry, MidiInPort::kVirtual});
  if (sSavedDefault == kVirtualSaved) iSelected_ = static_cast<int>(aentry_.size()) - 1;
  // The selection change runs once: it opens the saved device, or none.
  if (iSelected_ >= 0) SelectDevice(iSelected_);
}

void TopModel::SelectDevice(int iEntry) {
  if (iEntry < 0 || iEntry >= static_cast<int>(aentry_.size())) return;
  iSelected_ = iEntry;
  AllSoundOff();
  int d = aentry_[static_cast<size_t>(iEntry)].iDevice;
  if (d == MidiInPort::kVirtual) pmidi_->OpenVirtual();
  else pmidi_->OpenDevice(d);
}

void TopModel::SaveState(KSWinMemento& mem) const {
  if (pmidi_->IsOpen()) mem.SetString("MIDIDevDefault", pmidi_->SavedState().c_str());
}

void TopModel::Tick() {
  Interpreter* pengine = core_.Engine();
  if (!pengine) return;
  double dPeakDb = 6 * std::log2(pengine->Peak());
  levels_.iMeterMin = Tenths(dPeakDb - 48);
  levels_.iMeterMax = Tenths(dPeakDb);
  levels_.iMeterPos = Tenths(6 * std::log2(pengine->Level()));
  char sz[64];
  snprintf(sz, sizeof sz, "%d", core_.SoundingVoices());
  levels_.sVoices = sz;
  snprintf(sz, sizeof sz, "%+.1f dB", dPeakDb);
  levels_.sPeak = sz;
  snprintf(sz, sizeof sz, "%d", pengine->AutoReductions());
  levels_.sAutoReductions = sz;
  view_.ShowLevels(levels_);
  pmidi_->Tick();
  std::string sMsg = MidiMessageInWords(pmidi_->LastMessage());
  if (sMsg != sMidiMsg_) {
    sMidiMsg_ = sMsg;
    view_.ShowMidiMsg(sMidiMsg_.c_str());
  }
  if (ErrorList::Get()->Updated()) RebuildRows();
}

void TopModel::RebuildRows() {
  ErrorList* perrors = ErrorList::Get();
  PatchEditorApi* peditor = FindEditor(factory_);
  arow_.clear();
  perrors->Lock();
  for (const ErrorListNode& node : perrors->anode) {
    TopMessageRow row;
    row.asColumn[0] = node.psz ? node.psz : "";
    row.asColumn[1] = std::to_string(node.iCount);
    char sz[600];
    snprintf(sz, sizeof sz, "%s:%d", node.pszFile ? node.pszFile : "", node.iSrcLine);
    row.asColumn[2] = sz;
    row.asColumn[3] = std::to_string(node.iLine);
    // The editor shows the patch itself: lines of the sub-patches and packages it includes are
    // neither marked nor jumped to.
    bool bOwnLine = node.iLine != -1 && !node.pszLineFile;
    row.bOwnLine = bOwnLine;
    arow_.push_back(std::move(row));
    if (bOwnLine && peditor) peditor->MarkErrorLine(node.iLine);
  }
  perrors->Unlock();
  view_.ShowRows(arow_);
}

void TopModel::AllNotesOff() {
  for (PatchSlot& slot : core_.Slots())
    if (slot.ppatch) slot.ppatch->AllNotesOff();
}

void TopModel::AllSoundOff() {
  for (PatchSlot& slot : core_.Slots())
    if (slot.ppatch) slot.ppatch->AllSoundOff();
  if (core_.Engine()) core_.Engine()->ResetAutoReduce();
}

void TopModel::ResetAutoReduce() {
  if (core_.Engine()) core_.Engine()->ResetAutoReduce();
}

void TopModel::ResetMessages() { ErrorList::Get()->Clear(); }

void TopModel::RowClicked(int iRow) {
  PatchEditorApi* peditor = FindEditor(factory_);
  if (!peditor || iRow < 0 || iRow >= static_cast<int>(arow_.size())) return;
  const TopMessageRow& row = arow_[static_cast<size_t>(iRow)];
  if (row.bOwnLine) peditor->GoToLine(atoi(row.asColumn[3].c_str()));
}

bool TopModel::Exit() {
  if (bExited_) return true;
  if (PatchEditorApi* peditor = FindEditor(factory_))
    if (!peditor->QuerySave()) return false;
  bExited_ = true;
  // Every window but the main one, newest first.
  for (size_t i = factory_.Windows().size(); i-- > 0;)
    if (i < factory_.Windows().size() && factory_.Windows()[i]->Type()->sName != kTypeMain) factory_.Windows()[i]->Close();
  pmidi_->OpenDevice(-1);  // no message may be posted to an engine that has stopped
  core_.ShutdownEngine();  // the audio thread ends, the device closes, the lock is kept
  AKArray<PatchSlot>& aslot = core_.Slots();
  for (int i = aslot.N(); i-- > 0;) {
    delete aslot[i].ppatch;
    aslot[i].ppatch = nullptr;
    free(aslot[i].pszText);
    aslot[i].pszText = nullptr;
  }
  view_.Quit(0);
  return true;
}

void TopModel::VariableDump() {
  AKArray<PatchSlot>& aslot = core_.Slots();
  if (aslot.N() == 0 || !aslot[0].ppatch) {
    AKS(AKSStatus, AK_HERE, "OnTestVariableDump(): no patch to dump");
    return;
  }
  std::lock_guard<std::mutex> lockEngine(core_.EngineLock());
  Patch* ppatch = aslot[0].ppatch;
  Voice* pvoice = nullptr;
  {
    std::lock_guard<std::mutex> lock(ppatch->mutex);
    if (!ppatch->apvoiceActive.empty()) pvoice = ppatch->apvoiceActive.front();
    else if (!ppatch->apvoiceFree.empty()) pvoice = ppatch->apvoiceFree.front();
  }
  if (pvoice) pvoice->Dump();
  else AKS(AKSStatus, AK_HERE, "OnTestVariableDump(): no voice to dump");
}

void TopModel::HeapCheck() {
  // There is no debug heap to list blocks from: the allocator's figures before and after tell
  // how much the compilation kept.
  struct mallinfo2 infoBefore = mallinfo2();
  std::string sPath = core_.InstallDir() + "/patch/Default.vantrel";
  ErrorList::Get()->Clear();
  if (Patch* ppatch = core_.CompilePatchFile(sPath.c_str(), 0)) {
    if (ppatch->bCompiled && core_.Engine()) core_.Engine()->ResetAutoReduce();
    delete ppatch;
  }
  struct mallinfo2 infoAfter = mallinfo2();
  if (infoBefore.uordblks == 0 && infoAfter.uordblks == 0) {
    AKS(AKSReport, AK_HERE, "heap check: the allocator of this build keeps no figures");
    return;
  }
  long long nKept = static_cast<long long>(infoAfter.uordblks) - static_cast<long long>(infoBefore.uordblks);
  AKS(AKSReport, AK_HERE, "heap check: %lld bytes allocated since the snapshot are still in use (%zu before, %zu after)",
      nKept, infoBefore.uordblks, infoAfter.uordblks);
}
