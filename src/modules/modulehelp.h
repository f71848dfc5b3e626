// Help lines that several module kinds share, so that one meaning is worded once.
#pragma once

namespace ModHelp {

// Inputs.
constexpr const char* kBypassSilences = "true switches the module off: its outputs are 0";
constexpr const char* kBypassPasses = "true passes Input to Output unchanged";
constexpr const char* kAudioInput = "the signal to process, usually audio in -1..1";
constexpr const char* kCutoff = "Hz: the corner frequency, about 20..20000 (held below half the sample rate)";
constexpr const char* kFrequencyPitch = "Hz: the frequency to play; by default the note's pitch from the Pitch module";
constexpr const char* kFrequencyLfo = "Hz: the rate of the slow wave, typically 0.05..20";
constexpr const char* kDuty =
    "0..1 (wrapped into that range): pulse width of square shapes, place of a triangle's peak, split of a sine";
constexpr const char* kSyncIn =
    "hard sync from a master's SyncOut: -1 on ordinary samples, else where in the sample the master wrapped";
constexpr const char* kPhaseIn = "cycles: an offset added to the running phase (1 is a whole cycle)";

// Outputs.
constexpr const char* kOutput = "the processed signal";
constexpr const char* kRawWave = "the raw wave, -1..1, for modulation";
constexpr const char* kPositive = "the raw wave moved into 0..1: (Control + 1) / 2";
constexpr const char* kSyncOut =
    "-1, or on the sample nearest the wave's wrap its distance in samples: feeds another module's SyncIn";
constexpr const char* kPhaseOut = "cycles: the running phase, 0..1";
constexpr const char* kAudioOut =
    "audio: the wave without its mean, scaled so the fundamental is 1 high, with bass compensation";
constexpr const char* kStage = "the signal after this stage of the ladder (each stage is one more pole)";
constexpr const char* kLadderOutput = "the filtered signal: the last stage, four poles";

}  // namespace ModHelp
