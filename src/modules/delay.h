// The multi-tap delay line with feedback, interpolated taps and stereo panning ("Delay").
#pragma once

#include <vector>

#include "patch/moduletype.h"

// The module's declared variables, in table order, then its declared outputs.
struct DelayVars {
  double dInput, dFeedback, dSpeed, dInterpolate, dFade, dTimeMax, dTapFrom, dTapTo, dTimeForm, dGainForm,
      dPanForm, dBypass;
  double dTap, dOutput, dOutput2;
};

// One tap of the line.
struct DelayTap {
  double dTime = 0;     // seconds, before Speed divides it
  double dGain = 1;
  double dPan = 0;      // 0 = left, 1 = right
  double dLeft = 1;     // pan gains from ModDelay::PanStep
  double dRight = 0;
  double dFrac = 0;     // fixed-time "Linear" reading: the fraction of a sample beyond iDelay
  double dWeight1 = 0;  // ... and its weights gain x (1 - dFrac) at iDelay, gain x dFrac at iDelay + 1
  double dWeight2 = 0;
  double dOut = 0;      // the tap's output value when no TapN reads it
  double* pdOut = nullptr;  // where the tap's output value goes: the TapN record's value, or dOut
  Var* pvarTime = nullptr;
  Var* pvarGain = nullptr;
  Var* pvarPan = nullptr;
  Var* pvarTap = nullptr;
  int iNumber = 0;   // N of TimeN, GainN, PanN, TapN (0 only for per-patch taps and Tap0)
  int iDelay = 0;    // the delay in whole samples, for fixed times
  int iLine = -1;    // the patch line the tap's time came from, for its messages
  bool bSilent = false;  // a fixed time below 0 samples: reported once, the tap never sounds
};

class ModDelay : public Module {
 public:
  static constexpr const char* pszClassName = "ModDelay";
  // At most this many taps: a few thousand taps is already more than one sample period allows.
  static constexpr int MaxTaps = 4096;
  // Tap numbers stay well inside an int.
  static constexpr int MaxTapNumber = 1000000000;
  // The longest line in samples (2^23: 190 s at 44.1 kHz, 43 s at 192 kHz); the buffer holds
  // every sample twice, 128 MiB at this length, and each voice has its own line.
  static constexpr int MaxLineSamples = 1 << 23;

  ModDelay(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
           Module* pmodHelper);
  ~ModDelay() override;
  int Init() override;
  void Reset() override;
  void Calc() override;
  // The feedback step: once per sample for every delay, after all other computation of the
  // sample (the delay's own Calc included), the engine calls it. It adds Feedback to the sample
  // this sample wrote into the line, then moves the write position on by one.
  void FeedbackStep() override;
  // The pan step: a tap's left and right gains from its pan.
  virtual void PanStep(DelayTap* ptap);

  // "Time"N, "Gain"N, "Pan"N, "Tap"N and "TimeMax".
  static bool IsNumberedInput(const char* pszVar);
  // "Tap"N and "Tap0", read out through the delay's computation.
  static bool IsNumberedOutput(const char* pszVar, uint32_t* pflags, VarOutputFn* ppfnOutput);

  DelayVars v = {};

 private:
  int LineOf(const char* pszVar);
  DelayTap* FindOrAddTap(int iNumber);
  int MakeFormTaps(double* pdLength);
  int MakeDeclaredTaps(double* pdLength);
  void BindTaps(double* pdLength);
  int PlaceFixedTaps(int* pnNeeded);
  int SizeLine(double dLength, int nNeeded);
  void ChooseReader();
  template <bool kStereo, bool kLinear, bool kVaryTime, bool kTapOut>
  void ReadTaps();
  void WarnTimeMax(double dDelay);
  using ReadFn = void (ModDelay::*)();

  double dRate_ = 0;          // samples per second of delay time: FreqEval / Speed
  double dFreqEval_ = 0;      // the sample rate the line was built for
  double* pdLine_ = nullptr;  // 2 x nLine_ samples, each held at w and at nLine_ + w
  int nLine_ = 0;
  int iWrite_ = 0;            // w: counts down from nLine_ - 1
  double dLastWarned_ = -1;   // the delay (samples) of the last "TimeMax must be at least" report
  int iLineTimeMax_ = -1;     // where TimeMax's messages go
  bool bMono_ = false;
  bool bLinear_ = true;
  bool bPower_ = false;
  bool bVaryTime_ = false;    // a varying TimeN or Speed: delays are computed every sample
  bool bTapOut_ = false;
  Var* pvarInput_ = nullptr;
  Var* pvarFeedback_ = nullptr;
  Var* pvarSpeed_ = nullptr;
  std::vector<DelayTap> atap_;  // the taps that sound, in the order they were made
  std::vector<DelayTap*> aptapVaryTime_, aptapVaryGain_, aptapVaryPan_;
  ReadFn pfnRead_ = nullptr;
};
