// The oscilloscope's capture on the rendering thread and its hand-over.
#include "ide/scopecapture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "formula/form.h"
#include "formula/formenum.h"
#include "formula/formparse.h"
#include "foundation/akstring.h"
#include "modules/scope.h"
#include "patch/voice.h"

static_assert(ScopeCapture::kMaxInputs == ModOscilloscope::MaxSlots, "a capture holds every slot of a probe");

namespace {

int InputsOf(const ModOscilloscope& probe) {
  return std::min(static_cast<int>(probe.apvarProbe.size()), ScopeCapture::kMaxInputs);
}

}  // namespace

ScopeCapture::ScopeCapture() : adStore_(new double[kCaptureValues]) {}

void ScopeCapture::Register(std::mutex* pmutexEngine) {
  std::unique_lock<std::mutex> lock;
  if (pmutexEngine) lock = std::unique_lock<std::mutex>(*pmutexEngine);
  VoiceSetScopeCallback(&ScopeCapture::Callback, this, false);
}

void ScopeCapture::Withdraw(std::mutex* pmutexEngine) {
  std::unique_lock<std::mutex> lock;
  if (pmutexEngine) lock = std::unique_lock<std::mutex>(*pmutexEngine);
  VoiceScopeCallback pfn = nullptr;
  void* pvArg = nullptr;
  bool bWanted = false;
  VoiceGetScopeCallback(&pfn, &pvArg, &bWanted);
  if (pfn == &ScopeCapture::Callback && pvArg == this) VoiceSetScopeCallback(nullptr, nullptr, false);
}

void ScopeCapture::Start(Voice* pvoice) {
  nPoints_ = 0;
  // A capture already armed belonged to the note that is gone: the new one waits for its own
  // trigger, or it would start mid-period.
  bTriggered_ = false;
  pvoiceLast_ = pvoice;
  pprobe_ = static_cast<ModOscilloscope*>(pvoice->pmodScope);
  nInputs_ = pprobe_ ? InputsOf(*pprobe_) : 0;
  nCapacity_ = kCaptureValues / static_cast<size_t>(nInputs_ + 1);
  adTime_ = adStore_.get();
  adValues_ = adTime_ + nCapacity_;
}

void ScopeCapture::Capture(Voice* pvoice) {
  if (!bReady_.load(std::memory_order_acquire)) return;
  // A new note: another voice, a restarted clock, or (a voice of a new patch at the same
  // address) another probe.
  if (pvoice != pvoiceLast_ || pvoice->dSample < dClockLast_ || pvoice->pmodScope != pprobe_ ||
      (pprobe_ && InputsOf(*pprobe_) != nInputs_))
    Start(pvoice);
  dClockLast_ = pvoice->dSample;
  if (!pprobe_) return;
  bTriggered_ = bTriggered_ || pprobe_->v.dSyncIn != -1;
  if (!bTriggered_) return;
  if (nPoints_ == 0 || pprobe_->v.dFinished == 0) {
    if (static_cast<size_t>(nPoints_) < nCapacity_) {
      adTime_[nPoints_] = pvoice->dSample;
      for (int i = 0; i < nInputs_; ++i) adValues_[static_cast<size_t>(i) * nCapacity_ + static_cast<size_t>(nPoints_)] =
          *pprobe_->apvarProbe[static_cast<size_t>(i)]->pvalue;
      ++nPoints_;
      return;
    }
    // Full: shown as far as it goes.
  }
  Complete();
}

void ScopeCapture::Complete() {
  // The voice has just evaluated every record of its probe: the hint and the captions are
  // their values for this sample (a constant hint was evaluated once, into the same field).
  dFreqHint_ = pprobe_->v.dFreqHint;
  for (int i = 0; i < nInputs_; ++i) {
    const Var* pvar = pprobe_->apvarProbe[static_cast<size_t>(i)];
    AKstrcpy(aszName_[i], pvar->pszUser ? pvar->pszUser : pvar->pszName, kNameSize);
  }
  // Only the values are taken here; the text is made on the window's side (keyword names are
  // looked up under the keyword registry's lock).
  nCaptions_ = 0;
  for (const ModOscilloscope::Caption& caption : pprobe_->acaption) {
    if (nCaptions_ == kMaxInputs) break;
    CaptionValue& value = acaption_[nCaptions_++];
    AKstrcpy(value.szLabel, caption.szLabel, sizeof value.szLabel);
    value.etKind = caption.etKind;
    value.d = *caption.pvar->pvalue;
  }
  bReady_.store(false, std::memory_order_release);
  if (pfnPost_) pfnPost_(pvPost_);
}

std::string ScopeCapture::CaptionText() const {
  std::string s;
  char sz[512];
  for (int i = 0; i < nCaptions_; ++i) {
    const CaptionValue& value = acaption_[i];
    if (value.etKind == FormTypeString) {
      const char* psz = FormStringText(value.d);
      snprintf(sz, sizeof sz, "%s=%s    ", value.szLabel, psz ? psz : "");
    } else if (value.etKind == FormTypeKeyword) {
      char szKeyword[64];
      snprintf(sz, sizeof sz, "%s=%s    ", value.szLabel, FormEnumName(static_cast<int>(value.d), szKeyword, sizeof szKeyword));
    } else {
      snprintf(sz, sizeof sz, "%s=%f    ", value.szLabel, value.d);
    }
    s += sz;
  }
  if (s.size() > kCaptionSize - 1) s.resize(kCaptionSize - 1);
  return s;
}

void ScopeCapture::Release() {
  nPoints_ = 0;
  bTriggered_ = false;
  bReady_.store(true, std::memory_order_release);
}
