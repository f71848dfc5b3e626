// Mixing and the output stage.
#include "engine/mixer.h"

#include <cmath>
#include <cstring>

#include "patch/patch.h"

void MixFrames(AKArray<PatchSlot>& aslot, double* adMix, int nFrames, int nChannels) {
  memset(adMix, 0, sizeof(double) * static_cast<size_t>(nFrames) * static_cast<size_t>(nChannels));
  for (int j = 0; j < nFrames; ++j)
    for (int i = 0; i < aslot.N(); ++i)
      if (Patch* ppatch = aslot[i].ppatch) ppatch->RenderFrame(adMix + static_cast<size_t>(j) * nChannels, nChannels);
}

void OutputStage::Convert(double* adMix, int nValues, int16_t* asOut) {
  double dLevelBuffer = 0;
  for (int i = 0; i < nValues; ++i) {
    double d = adMix[i];
    if (!std::isfinite(d)) {
      adMix[i] = d = 0;
      ++nNonFinite;
    }
    double dAbs = std::fabs(d);
    if (dAbs > dLevelBuffer) dLevelBuffer = dAbs;
    if (dAbs > dPeak) {
      ++nAutoReductions;
      dPeak = dAbs;
    }
  }
  dLevel = dLevelBuffer;
  double dScale = dFullScale / dPeak;
  for (int i = 0; i < nValues; ++i) asOut[i] = static_cast<int16_t>(dScale * adMix[i]);
}
