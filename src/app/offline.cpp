// The offline render loop shared by the command line and the regression tools.
#include "app/offline.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "app/appcore.h"
#include "engine/midi.h"
#include "engine/mixer.h"
#include "patch/patch.h"

namespace {

// The render acts as the engine: MIDI is decoded against the installed patches, and ALL SOUND
// OFF resets the render's own output stage (and fades the voices out when the settings ask for a
// cut fade, as live play does).
class OfflineTarget : public MidiTarget {
 public:
  OfflineTarget(AppCore& core, OutputStage& stage) : core_(core), stage_(stage) {}
  AKArray<PatchSlot>& Slots() override { return core_.Slots(); }
  InterpreterSettings* Engine() override { return core_.Engine(); }
  void AllNotesOff() override {
    for (PatchSlot& slot : core_.Slots())
      if (slot.ppatch) slot.ppatch->AllNotesOff();
  }
  void AllSoundOff() override {
    bool bFade = core_.Engine()->nVoiceFade > 0;
    for (PatchSlot& slot : core_.Slots())
      if (slot.ppatch) bFade ? slot.ppatch->FadeOutAll() : slot.ppatch->AllSoundOff();
    stage_.ResetAutoReduce();
  }

 private:
  AppCore& core_;
  OutputStage& stage_;
};

}  // namespace

int RenderOffline(AppCore& core, const OfflineJob& job, OfflineSink& sink, OfflineStats* pstats) {
  InterpreterSettings* pengine = core.Engine();
  Patch* ppatch = core.Slots().N() > 0 ? core.Slots()[0].ppatch : nullptr;
  if (!ppatch) return -1;
  int nChannels = pengine->nChannels;
  int nBuffer = pengine->nBufferSamples;
  OutputStage stage;
  stage.dFullScale = pengine->dFullScale;
  OfflineTarget target(core, stage);
  std::vector<double> adMix(static_cast<size_t>(nBuffer) * nChannels);
  std::vector<int16_t> asOut(adMix.size());
  std::vector<float> afOut(adMix.size());
  const std::vector<OfflineMessage>& amsg = job.amsg;
  size_t iMsg = 0;
  long long iFrame = 0;
  OfflineStats stats;
  int iResult = 0;
  while (iFrame < job.nMaxFrames && (iFrame < job.nFrames || !ppatch->apvoiceActive.empty() || iMsg < amsg.size())) {
    int nThis = static_cast<int>(std::min<long long>(nBuffer, job.nMaxFrames - iFrame));
    std::fill(adMix.begin(), adMix.end(), 0.0);
    {
      std::lock_guard<std::mutex> lock(core.EngineLock());
      for (int j = 0; j < nThis; ++j, ++iFrame) {
        for (; iMsg < amsg.size() && amsg[iMsg].iFrame <= iFrame; ++iMsg) {
          const OfflineMessage& m = amsg[iMsg];
          if (!m.bDirect) HandleMidiMessage(target, m.uMessage);
          else if (m.dVelocity > 0) HandleNote(target, 0, static_cast<int>(m.uMessage), m.dVelocity, true);
          else HandleNote(target, 0, static_cast<int>(m.uMessage), 0.5, false);
        }
        MixFrames(core.Slots(), adMix.data() + static_cast<size_t>(j) * nChannels, 1, nChannels);
        stats.nVoicesMax = std::max(stats.nVoicesMax, ppatch->apvoiceActive.size());
      }
    }
    int nValues = nThis * nChannels;
    bool bWritten;
    if (job.bFloat) {
      for (int i = 0; i < nValues; ++i) {
        double d = adMix[static_cast<size_t>(i)];
        if (!std::isfinite(d)) d = 0, ++stage.nNonFinite;
        stats.dRawPeak = std::max(stats.dRawPeak, std::fabs(d));
        afOut[static_cast<size_t>(i)] = static_cast<float>(d);
      }
      bWritten = sink.Write(afOut.data(), nThis);
    } else {
      stage.Convert(adMix.data(), nValues, asOut.data());
      for (int i = 0; i < nValues; ++i) stats.dRawPeak = std::max(stats.dRawPeak, std::fabs(adMix[static_cast<size_t>(i)]));
      bWritten = sink.Write(asOut.data(), nThis);
    }
    if (!bWritten) {
      iResult = -1;
      break;
    }
    if (sink.Progress(iFrame)) {
      stats.bStopped = true;
      break;
    }
  }
  stats.nFrames = iFrame;
  stats.nAutoReductions = stage.nAutoReductions;
  stats.nNonFinite = stage.nNonFinite;
  if (pstats) *pstats = stats;
  return iResult;
}
