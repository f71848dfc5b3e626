// One sample of "MoogDirty" ladders in scalar code: the module steps one, voices brought together
// step what is left over from the vectors (moogdirty_lanes.h) side by side.
#pragma once

#include "formula/vantanh.h"
#include "modules/filters/foldstate.h"
#include "modules/moogdirty.h"

namespace moogdirty {

// The stages' input scale: tanh(k·y) saturates for |y| beyond about 1/k.
constexpr double kScale = 19.23076923076923;  // 1/0.052

// One sample of K ladders from their input stages' tanh arguments. Each stage adds the mean of
// this and the previous increment over half a sample twice, i.e. (D + Dold) × 1/(2R); T is half a
// sample, af the stage rates. A ladder is a chain of five tanh calls, each waiting for the last:
// K ladders in one pass give the processor K chains to overlap, with each ladder's arithmetic as
// it is alone. A file that includes this is compiled with -ffp-contract=off (see VanTanh).
template <bool bFused, int K>
VAN_ALWAYS_INLINE void Step(MoogDirtyLadder* const apladder[], const double adDrive[], double T, const double af[]) {
  constexpr int kStages = MoogDirtyLadder::Stages;
  double y[K][kStages], W[K][kStages], D[K][kStages], dInc[K];
  for (int k = 0; k < K; ++k) {
    MoogDirtyLadder& s = *apladder[k];
    for (int i = 0; i < kStages; ++i) y[k][i] = s.ady[i], W[k][i] = s.adW[i], D[k][i] = s.adD[i];
    // tanh is most of the module's time: computed only for an argument that changed (bit for bit,
    // so the result is the same), which saves it all in silence and on held values.
    if (!s.drivenArg.Same(adDrive[k])) s.dDriven = VanTanh<bFused>(adDrive[k]);
    dInc[k] = (s.dDriven - W[k][0]) * af[k];
  }
  // Unrolled, the stages' state stays in registers.
#pragma GCC unroll 4
  for (int i = 0; i < kStages; ++i) {
#pragma GCC unroll 8
    for (int k = 0; k < K; ++k) {
      if (i > 0) dInc[k] = (W[k][i - 1] - W[k][i]) * af[k];
      const double yOld = y[k][i], yNew = y[k][i] + (dInc[k] + D[k][i]) * T;
      y[k][i] = FoldState(yNew);
      D[k][i] = FoldState(dInc[k]);
      // W stays tanh(k·y). The state is folded, so never -0 or NaN: an equal value has the same
      // tanh. A y that is not 0 is yNew itself, so the tanh starts from yNew, and the fold only
      // chooses a branch: it stays off the path from stage to stage.
      if (y[k][i] != yOld) W[k][i] = y[k][i] != 0 ? VanTanh<bFused>(kScale * yNew) : 0;
    }
  }
  for (int k = 0; k < K; ++k) {
    MoogDirtyLadder& s = *apladder[k];
    for (int i = 0; i < kStages; ++i) s.ady[i] = y[k][i], s.adW[i] = W[k][i], s.adD[i] = D[k][i];
  }
}

}  // namespace moogdirty
