// The module kind "Swarm": up to 10000 detuned oscillators of one waveform summed into one
// signal, computed from their discontinuities only.
#pragma once

#include <cstdint>
#include <vector>

#include "patch/moduletype.h"

// The value block of a swarm: inputs, then outputs, then the set-up values that the shape
// formulas read while the oscillators are being set up.
struct SwarmVars {
  double dWaveform;     // keyword number: Sawtooth, Square or Triangle
  double dCount;        // oscillators, 1..10000
  double dFrequency;    // Hz of the undetuned oscillator
  double dDetune;       // frequency ratio of the widest detune, at least 1
  double dBypass;
  double dGainShape;    // per oscillator, before the gains are normalised to sum to 1
  double dDetuneShape;  // per oscillator, before the shapes are normalised to -1..1
  double dGainAdjust;   // output gain, 0 < GainAdjust < 1000
  double dOutput;
  double dControl;  // the running sum, before the output gain
  double dSyncOut;  // 1 on a sample in which oscillator 0 has an event, else 0
  double dWave;     // the oscillator being set up
  double dSide;     // 1 for an even oscillator number, 0 for an odd one
  double dSideWave; // (number + 1) div 2
  double dDetuneAmt;  // the oscillator's normalised detune shape, for GainShape
};

class ModSwarm : public Module {
 public:
  static constexpr const char* pszClassName = "ModSwarm";
  // Oscillators per swarm: the most a voice can afford with its per-event cost.
  static constexpr int kMaxCount = 10000;

  ModSwarm(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
           Module* pmodHelper);
  int Init() override;
  void NoteStart() override;
  void Calc() override;

  SwarmVars v = {};

 private:
  struct Osc {
    int iNumber;     // 0 .. Count-1; oscillator 0 is undetuned and drives SyncOut
    double dShape;   // normalised detune shape d, -1..1
    double dGain;    // normalised gain g; the gains sum to 1
    double dJump;    // signed size of the last discontinuity contribution, g * m
    double dPeriod;  // period multiplier m = Detune^d, in base cycles
  };
  struct Event {
    double dTime;  // base cycles
    Osc* posc;
  };

  // Detune as the events use it: at least 1, and 1 when it is not finite.
  double DetuneNow();
  // The events of the current sample, for one waveform.
  template <int iWave>
  void RunEvents();
  // The uniform draw in 0..1 of the patch's random state.
  double Random();

  int iWave_;  // keyword number of the waveform in use
  int nOsc_ = 0;
  // False while Init builds the oscillators: a shape formula that reads the swarm's own output
  // runs Calc then, and finds it silent instead of half-built.
  bool bBuilt_ = false;
  std::vector<Osc> aosc_;
  std::vector<Event> aevent_;  // circular, sorted by time from iCurrent_

  Var* pvarBypass_ = nullptr;
  Var* pvarDetune_ = nullptr;
  Var* pvarFrequency_ = nullptr;

  double dFreqEval_ = 44100;   // sample rate, Hz
  double dFreqFullBass_ = 55;  // below this frequency the output gain is GainAdjust itself
  double dGainAdjust_ = 1;     // GainAdjust as set up, 0 < GainAdjust < 1000
  uint32_t uRandomOwn_ = 1;    // draws when the module has no patch random state

  // Running state.
  double dSum_ = 0;         // the running sum (Control)
  double dPending_ = 0;     // correction added at the next sample
  double dSlope_ = 0;       // added each sample
  double dTau_ = 0;         // time in base cycles
  double dt_ = 0;           // base cycles per sample
  double dLastFreq_;        // frequency dt_ and the gain were computed for
  double dOutGain_ = 1;     // GainAdjust with the bass factor
  double dTriSlope_ = 0;    // the triangles' summed slope, per base cycle
  int iCurrent_ = 0;        // the queue entry of the earliest event
};
