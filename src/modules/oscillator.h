// The oscillator module kinds "Osc" and "LFO": nine waveforms, band-limited edges, hard sync.
#pragma once

#include <cstdint>

#include "modules/oscphase.h"
#include "patch/moduletype.h"

// The value block of an oscillator: inputs first, then outputs. "Osc" has no Audio output (its
// Output is the audio output); "LFO" has Output and Control both raw and Audio for the sound.
struct OscillatorVars {
  double dFrequency;  // Hz; negative runs the phase backwards
  double dWaveform;   // keyword number
  double dDuty;       // as the formula gave it; the wrapped value is kept in the module
  double dPower;      // shaping exponent, 1 leaves the wave alone
  double dSyncIn;     // -1, or the distance in samples to a master's wrap (-0.5..1)
  double dPhaseIn;    // cycles added to the phase before the wave is read
  double dBypass;
  double dOutput;
  double dControl;      // the raw wave, -1..1
  double dAudio;        // the normalised audio wave
  double dPositive;     // the raw wave moved to 0..1
  double dSyncOut;      // -1, or the distance in samples to this oscillator's wrap
  double dPhaseOut;     // the phase in cycles
  double dDCOffset;     // the mean of the raw wave
  double dAudioAmpAdj;  // normalisation times bass factor
};

// A divisor of a quotient taken every sample. Where 1/d is exact (d a power of two, such as the
// usual duty 0.5) the quotient is taken as a product, which rounds the same real number.
struct ExactDivisor {
  double dDivisor = 1;
  double dInverse = 1;
  bool bProduct = true;
  void Set(double d);
  double Divide(double x) const { return bProduct ? x * dInverse : x / dDivisor; }
};

class ModOscillator : public Module {
 public:
  static constexpr const char* pszClassName = "ModOscillator";
  ModOscillator(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
                Module* pmodHelper);
  int Init() override;
  void Reset() override;
  void Calc() override;
  // Oscillators of several voices, as each one's Calc would compute them: those that play a plain
  // sawtooth or sine (every input but the frequency constant, no sync, no shaping) four to an AVX2
  // vector where the processor has it, the rest alone.
  static void CalcAcross(Module* const* apmod, int n);

  OscillatorVars v = {};

 private:
  // The duty in use: re-evaluated when it varies, always wrapped into 0 <= D < 1.
  double Duty() { return pvarDuty_ ? PullDuty() : derived_.dDuty; }
  double PullDuty();
  // The computation for one waveform (kUnknownWave: a sawtooth, reported every computation).
  static constexpr int kUnknownWave = -1;
  template <int kShape>
  void Run() {
    RunAt<kShape>(PullFrequency());
  }
  template <int kShape>
  void RunAt(double dFreq);
  // The computation after the clock moved.
  void Compute();
  // The shape a vector of oscillators computes this one in (KwSawtooth or KwSine), or -1; makes
  // lane_ for it.
  int LaneShape();
  // Four oscillators of one lane shape after their frequencies were pulled.
  template <int kShape>
  static void RunLanes(ModOscillator* const apmod[4], const double adFreq[4]);
  // Four or fewer oscillators of one lane shape, in vectors where four are left.
  template <int kShape>
  static void RunGroup(ModOscillator* const apmod[], const double adFreq[], int n);
  // Pulls the frequency and remakes what depends on it; answers the frequency.
  double PullFrequency();
  // The sine's divisors for a duty, remade when it changed.
  void SineDivisors(double dDuty);

  bool bLfo_;  // the "LFO" layout: Output is the raw wave, Audio the sound
  Var* pvarFrequency_ = nullptr;
  Var* pvarWaveform_ = nullptr;
  Var* pvarDuty_ = nullptr;
  Var* pvarPower_ = nullptr;
  Var* pvarSyncIn_ = nullptr;
  Var* pvarPhaseIn_ = nullptr;
  Var* pvarBypass_ = nullptr;
  int iLineWaveform_ = -1;  // the patch line for the unknown-waveform message

  double dFreqEval_ = 44100;   // sample rate, Hz
  double dFreqFullBass_ = 55;  // below this frequency the audio output has full level
  int iWave_;                  // keyword number of the waveform
  // What the computation derives from its inputs, side by side so that four oscillators' blocks
  // load as four vectors.
  struct Derived {
    double dDuty = 0.5;           // wrapped duty
    double dBass = 1;             // bass factor: FreqFullBass / |Frequency|, at most 1
    double dt = 0;                // cycles per sample, Frequency / FreqEval
    double dSamplesPerCycle = 0;  // FreqEval / Frequency
  } derived_;
  SameValue freq_;  // the frequency dt, dSamplesPerCycle and dBass were computed for
  int iLaneShape_ = -1;  // LaneShape, decided once the constant inputs are known
  // What the lanes read of a plain oscillator's constant inputs, made by LaneShape: the sine's
  // divisors as inverses, and Output's sign bit set for the raw wave ("LFO").
  struct LaneConstants {
    double dPhaseIn = 0, dRiseInverse = 0, dFallInverse = 0, dOutputSign = 1;
  } lane_;
  // Running state.
  OscPhase phase_;
  double dHalfDuty_ = 0.25;  // the triangle's half duty, for the sync pass
  // The sine's two halves divide by the duty and by 1 - duty; kept for the duty they were made for.
  SameValue sineDuty_;
  ExactDivisor sineRise_, sineFall_;
};
