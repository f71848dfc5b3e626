// MoogDirty ladders stepped four to a vector against each ladder stepped alone in scalar code: the
// same states bit for bit, on inputs that take every branch of the step and of its tanh.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "modules/moogdirty_lanes.h"

namespace {

constexpr double kRate = 44100, kHalfPeriod = 0.5 / kRate;
constexpr double kFeedback = 2.9;  // the module's loop gain per unit of Resonance

VAN_TARGET_FUSED void StepAlone(MoogDirtyLadder* pladder, double dArg, double f) {
  MoogDirtyLadder* const apladder[] = {pladder};
  moogdirty::Step<true, 1>(apladder, &dArg, kHalfPeriod, &f);
}

template <int NV>
VAN_TARGET_FUSED void StepInLanes(MoogDirtyLadder* const apladder[], const double adArg[], const double af[]) {
  moogdirty::lanes::Step<NV>(apladder, adArg, kHalfPeriod, af);
}

// Everything a step leaves behind, bit for bit: -0 against 0 and NaN payloads count.
bool SameBits(const MoogDirtyLadder& a, const MoogDirtyLadder& b) {
  return std::memcmp(a.ady, b.ady, sizeof a.ady) == 0 && std::memcmp(a.adW, b.adW, sizeof a.adW) == 0 &&
         std::memcmp(a.adD, b.adD, sizeof a.adD) == 0 &&
         std::bit_cast<uint64_t>(a.dDriven) == std::bit_cast<uint64_t>(b.dDriven) &&
         a.drivenArg.uBits == b.drivenArg.uBits && a.drivenArg.bSeen == b.drivenArg.bSeen;
}

std::string Describe(const MoogDirtyLadder& s) {
  std::string str;
  char sz[96];
  for (int i = 0; i < MoogDirtyLadder::Stages; ++i) {
    std::snprintf(sz, sizeof sz, "stage %d: y %a W %a D %a\n", i, s.ady[i], s.adW[i], s.adD[i]);
    str += sz;
  }
  std::snprintf(sz, sizeof sz, "driven %a\n", s.dDriven);
  return str + sz;
}

// What a tanh argument is, by the branch VanTanh takes for it and the values it treats apart.
enum Reach { kZero, kNegZero, kDenormal, kPolynomial, kExponential, kBeyond, kInfinite, kNaN, kReaches };
const char* const apszReach[kReaches] = {"0",          "-0",          "a denormal", "below 1",
                                         "1 up to 22", "22 and more", "infinite",   "NaN"};
Reach ReachOf(double x) {
  if (std::isnan(x)) return kNaN;
  if (std::isinf(x)) return kInfinite;
  if (x == 0) return std::signbit(x) ? kNegZero : kZero;
  const double a = std::fabs(x);
  if (a < 0x1p-1022) return kDenormal;
  return a < 1 ? kPolynomial : a < 22 ? kExponential : kBeyond;
}

// What a stage does in a step: its tanh's branch, or no tanh because y stayed or folded to 0.
enum StageReach { kStagePolynomial, kStageExponential, kStageBeyond, kStageStill, kStageToZero, kStageReaches };
const char* const apszStageReach[kStageReaches] = {"below 1", "1 up to 22", "22 and more", "y unchanged",
                                                   "y folded to 0"};

// How a ladder is driven for a while: as a patch plays it, screaming (large drive, resonance past
// self-oscillation, the input gone after a burst), odd values (special and seam values, each held a
// few samples), silence behind a fast rate (so that the stages fold to 0), or unstable (a rate far
// beyond what the module allows, so that the state overflows and folds).
enum Scene { kPlaying, kScreaming, kOddValues, kSilence, kUnstable, kScenes };

const double adOdd[] = {0.0,
                        -0.0,
                        5e-324,
                        -2.5e-310,
                        0x1p-1022,
                        1e-300,
                        std::numeric_limits<double>::quiet_NaN(),
                        -std::numeric_limits<double>::quiet_NaN(),
                        std::bit_cast<double>(uint64_t{0x7ff8000000000123}),
                        INFINITY,
                        -INFINITY,
                        1.0,
                        std::nextafter(1.0, 0.0),
                        -std::nextafter(1.0, 2.0),
                        22.0,
                        -std::nextafter(22.0, 0.0),
                        std::nextafter(22.0, 23.0),
                        1e300,
                        -0.5,
                        3.0};

// One ladder's input: a sawtooth of its own pitch, or the scene's odd values.
struct Driver {
  std::mt19937_64 rng;
  double dPhase = 0, dStep;
  double dHeld = 0;
  int nHold = 0, nInScene = 0;
  explicit Driver(int k) : rng(1000 + k), dStep((55 + 37 * k) / kRate) {}

  double Saw() {
    dPhase += dStep;
    if (dPhase >= 1) dPhase -= 1;
    return 1 - 2 * dPhase;
  }
  // The input stage's tanh argument as the module forms it, and the stages' rate.
  void Next(Scene scene, const MoogDirtyLadder& ladder, double* pdArg, double* pf) {
    const double dIn = Saw();
    ++nInScene;
    double dDrive = 0.1, dResonance = 0.5;
    *pf = 2000 * 0.35939819957067237;  // the module's rate at 2 kHz
    switch (scene) {
      case kPlaying:
        break;
      case kScreaming:
        dDrive = 20, dResonance = 1.5, *pf = 3000;
        break;
      case kOddValues:
        if (nHold-- <= 0) dHeld = adOdd[rng() % std::size(adOdd)], nHold = static_cast<int>(rng() % 4);
        *pdArg = dHeld;
        *pf = rng() % 3 == 0 ? 0 : 700;
        return;
      case kSilence:
        *pdArg = 0, *pf = 70000;
        return;
      case kUnstable:
        dDrive = 1, *pf = 3e5;
        break;
      default:
        break;
    }
    const double dSignal = scene == kScreaming && nInScene > 40 ? 0 : dIn;
    *pdArg = moogdirty::kScale * (dDrive * dSignal - kFeedback * dResonance * ladder.ady[3]);
  }
};

// 4·NV ladders stepped in lanes and alone, scene after scene, some scenes shared by all lanes and
// some different in each; every sample the states must agree. The scalar side records which
// branches were taken, so that a scene that stops reaching one shows here.
template <int NV>
void ExpectLanesAsAlone() {
  if (!VanFusedUsable()) GTEST_SKIP() << "no FMA and AVX2 here";
  constexpr int K = 4 * NV;
  constexpr int kSceneLength = 400, kSamples = 30 * kSceneLength;
  MoogDirtyLadder aladderAlone[K], aladderLanes[K];
  MoogDirtyLadder* apladder[K];
  std::vector<Driver> adriver;
  for (int k = 0; k < K; ++k) apladder[k] = &aladderLanes[k], adriver.emplace_back(k);
  bool abReach[kReaches] = {}, abStageReach[kStageReaches] = {}, bHeld = false;

  for (int n = 0; n < kSamples; ++n) {
    const int iSegment = n / kSceneLength;
    double adArg[K], af[K];
    for (int k = 0; k < K; ++k) {
      Driver& driver = adriver[k];
      if (n % kSceneLength == 0) driver.nInScene = 0;
      const Scene scene = static_cast<Scene>(iSegment % 2 == 0 ? iSegment / 2 % kScenes : (iSegment + k) % kScenes);
      driver.Next(scene, aladderAlone[k], &adArg[k], &af[k]);
    }
    for (int k = 0; k < K; ++k) {
      MoogDirtyLadder& ladder = aladderAlone[k];
      const MoogDirtyLadder before = ladder;
      abReach[ReachOf(adArg[k])] = true;
      bHeld |= before.drivenArg.bSeen && std::bit_cast<uint64_t>(adArg[k]) == before.drivenArg.uBits;
      StepAlone(&ladder, adArg[k], af[k]);
      for (int i = 0; i < MoogDirtyLadder::Stages; ++i) {
        const double y = ladder.ady[i], x = moogdirty::kScale * y;
        const StageReach reach = y == before.ady[i]     ? kStageStill
                                 : y == 0               ? kStageToZero
                                 : std::fabs(x) < 1     ? kStagePolynomial
                                 : std::fabs(x) < 22    ? kStageExponential
                                                        : kStageBeyond;
        abStageReach[reach] = true;
      }
    }
    StepInLanes<NV>(apladder, adArg, af);
    for (int k = 0; k < K; ++k)
      if (!SameBits(aladderAlone[k], aladderLanes[k]))
        return ADD_FAILURE() << "sample " << n << ", ladder " << k << " of " << K << ": alone\n"
                             << Describe(aladderAlone[k]) << "in lanes\n"
                             << Describe(aladderLanes[k]);
  }
  for (int i = 0; i < kReaches; ++i) EXPECT_TRUE(abReach[i]) << "no input stage argument " << apszReach[i];
  for (int i = 0; i < kStageReaches; ++i) EXPECT_TRUE(abStageReach[i]) << "no stage with " << apszStageReach[i];
  EXPECT_TRUE(bHeld) << "no input argument held over a sample";
}

VAN_TARGET_FUSED double TanhAlone(double x) { return VanTanh<true>(x); }
VAN_TARGET_FUSED void TanhInLanes(const double ax[4], double at[4]) {
  _mm256_storeu_pd(at, moogdirty::lanes::Tanh(_mm256_loadu_pd(ax)));
}

// The vector tanh alone, on arguments of every size and sign side by side (so that lanes take
// different branches, or all the same one), the seams at 1 and 22, and the points where the
// exponential's table entry changes.
TEST(MoogDirtyLanesTest, TanhInLanesIsVanTanh) {
  if (!VanFusedUsable()) GTEST_SKIP() << "no FMA and AVX2 here";
  std::mt19937_64 rng(21);
  std::uniform_int_distribution<int> exponent(-1075, 12);
  std::uniform_real_distribution<double> mantissa(1, 2);
  auto argument = [&](int iKind) {
    const double dSign = rng() & 1 ? -1 : 1;
    switch (iKind) {
      case 0:
        return dSign * std::ldexp(mantissa(rng), exponent(rng));
      case 1:
        return adOdd[rng() % std::size(adOdd)];
      case 2: {
        const double dSeam = (rng() % 1408) * std::log(2.0) / 256;  // table steps up to 22 and beyond
        return dSign * (dSeam + (static_cast<int>(rng() % 201) - 100) * 0x1p-50);
      }
      default:
        return dSign * (rng() & 1 ? 1.0 : 22.0) + (static_cast<int>(rng() % 201) - 100) * 0x1p-48;
    }
  };
  for (int n = 0; n < 400000; ++n) {
    double ax[4], at[4];
    const int iKind = static_cast<int>(rng() % 5);  // 4: each lane of its own kind
    for (double& x : ax) x = argument(iKind < 4 ? iKind : static_cast<int>(rng() % 4));
    TanhInLanes(ax, at);
    for (int k = 0; k < 4; ++k)
      if (std::bit_cast<uint64_t>(at[k]) != std::bit_cast<uint64_t>(TanhAlone(ax[k])))
        return ADD_FAILURE() << "tanh(" << std::hexfloat << ax[k] << ") is " << TanhAlone(ax[k]) << " alone, "
                             << at[k] << " in lanes";
  }
}

TEST(MoogDirtyLanesTest, FourLaddersInOneVectorStepAsEachAlone) { ExpectLanesAsAlone<1>(); }
TEST(MoogDirtyLanesTest, EightLaddersInTwoVectorsStepAsEachAlone) { ExpectLanesAsAlone<2>(); }

}  // namespace
