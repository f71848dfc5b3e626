// The envelope generator "Env" and its 256 stage types (ADSREnv, AREnv, ...): segments moved
// linearly and exponentially, held, triggered and redirected.
#pragma once

#include <cstdint>

#include "foundation/akarray.h"
#include "patch/moduletype.h"

// Registers the stage types, one per subset of the eight stages (GateEnv, WaitEnv, ..., ADSREnv,
// WAIDBPSREnv), after the types that register themselves. The application calls it once at
// start-up; a second call does nothing.
void EnvRegisterStageTypes();

// The stages, in the bit order of the stage types' numbers.
enum EnvStage { EnvWait, EnvAttack, EnvImpact, EnvDecay, EnvBreak, EnvSlope, EnvSustain, EnvRelease, EnvStages };

// The value block: inputs, the stage variables of a stage type, then the outputs.
struct EnvelopeVars {
  double dBypass;
  double dSpeed;              // time scale: 2 plays every segment twice as fast, 0 freezes
  double dStop;               // the hold condition of the stage translation
  double dTrigRelease;        // the release segment's trigger
  double dEpsilon;            // offset that keeps the exponential curves away from 0
  double adStage[EnvStages];  // times in seconds (Break and Sustain are levels)
  double dOutput;             // linear curve
  double dExp;                // exponential curve
  double dAmp;                // linear while rising, exponential while falling
  double dCustom;             // exponential where the segment's curve says so, else linear
  double dSegment;            // the current segment's number
  double dSyncOut;            // 1 on the computation at which a segment begins
  double dFinished;           // 1 once the last segment has ended
};

// One segment: where it goes, how long it takes, what enters it, what holds it, where it leads.
// A variable record that is still set after Init varies and is re-evaluated while running.
struct EnvSegment {
  Var* pvarTime;
  Var* pvarValue;
  Var* pvarTrigger;
  Var* pvarStop;
  Var* pvarGoto;
  Var* pvarCurve;
  double dTime;     // seconds at Speed 1
  double dValue;    // the target level
  double dGoto;     // a segment number; 0 = none
  double dTrigger;  // boolean; a varying trigger is read from its record and not kept here
  double dStop;     // boolean
  double dCurve;    // keyword
  int iIndex;
  bool bHasStop;
};

class ModEnvelope : public Module {
 public:
  static constexpr const char* pszClassName = "ModEnvelope";
  ModEnvelope(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
              Module* pmodHelper);
  // Beyond its table every envelope type takes the numbered segments (Time3, Valu0, ...), the
  // names of all eight stages and Trigger.
  static bool IsNumberedInput(const char* pszVar);
  // Builds the segments from the stages and the numbered variables; 1 when Epsilon varies.
  int Init() override;
  void Reset() override;
  void NoteStart() override;
  void Calc() override;

  EnvelopeVars v = {};

  // The segments as built, for inspection.
  const AKArray<EnvSegment>& Segments() const { return aseg_; }

 private:
  // The four outputs' tracks: Output (always linear), Exp (always exponential), Amp, Custom.
  enum { TrackOutput, TrackExp, TrackAmp, TrackCustom, Tracks };
  struct Track {
    double dStart, dDelta;   // the straight line of the segment
    double dLevel, dFactor;  // the exponential level (output + Epsilon), per computation ratio
  };
  // A segment whose trigger varies: its record is pulled every computation.
  struct Trigger {
    Var* pvar;
    int iSegment;
  };
  // Moves the four outputs one computation on, at fraction f of the segment; bit t of kLinear
  // says track t is straight. One is chosen per segment, so a computation tests no shapes.
  using StepFn = void (*)(ModEnvelope* penv, double f);
  template <int kLinear>
  static void Step(ModEnvelope* penv, double f);
  static const StepFn apfnStep_[1 << Tracks];

  // The rest of a computation that is not simply held or on its way in the ready segment: from
  // segment k at clock t, through the segments that have ended, to the step.
  [[gnu::noinline]] void Advance(int k, double t);
  // Calc beyond a held sustain.
  [[gnu::noinline]] void CalcFull();
  void BuildFromStages();
  void BuildFromNumbered();
  void Bind();
  EnvSegment& Seg(int k);
  // Prepares segment k: the tracks start at the given values (Output, Exp, Amp, Custom), Amp is
  // linear when the target is not below dAmpRef. bSync marks the segment's start on SyncOut.
  void SetUp(int k, const double adStart[Tracks], double dAmpRef, bool bSync);
  // Every output and exponential level at one value (a segment's end).
  void SetAll(double dValue);
  // Forgets the ready segment (its time or the Speed may change).
  void Unready() {
    iReady_ = -1;
    bHeld_ = bHeldPlain_ = false;
  }

  AKArray<EnvSegment> aseg_;
  Var* pvarBypass_ = nullptr;
  Var* pvarSpeed_ = nullptr;
  Track atrack_[Tracks] = {};
  // The step of the current segment's shapes. Until a segment is first set up the tracks are all
  // exponential, as their zeroed start leaves them.
  StepFn pfnStep_ = apfnStep_[0];
  double dFreqEval_ = 0;
  double dSegStart_ = 0;   // clock value at which the current segment began
  // The ready segment: one that leads nowhere else (no goto), whose length dLength_ = Time / Speed
  // is known for the Speed of bits uReadySpeed_. While the envelope is in it at that Speed a
  // computation only tests the end and steps. -1: none.
  int iReady_ = -1;
  double dLength_ = 0;
  uint64_t uReadySpeed_ = 0;
  // Held at the end of the ready segment by a constant stop: nothing changes until a trigger
  // fires or the Speed moves the end again.
  bool bHeld_ = false;
  // What a held sample reads, side by side (Calc): held with a constant Bypass of 0 and a
  // constant Speed, so that only a trigger can move it; the triggers; the last clock.
  bool bHeldPlain_ = false;
  AKArray<Trigger> atrig_;  // segments whose trigger varies, in segment order
  // No trigger changes by the sample, so that an event of the voice must come before one fires:
  // a held sustain may rest (Module::AskRest). Other inputs are not read while it is held.
  bool bMayRest_ = true;
  double dLastTime_ = -1;  // clock of the last computation; -1 after Reset
};
