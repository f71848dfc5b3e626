// The engine's settings and its sixteen MIDI channels: what patches and modules read of the engine.
#pragma once

struct AKConfig_T;
class Module;

constexpr int MidiChannels = 16;

// The settings half of the engine object. The audio half (thread, device, buffers) derives from
// it; modules and the patch compiler only need this half, which never changes after construction.
class InterpreterSettings {
 public:
  // Reads the settings section ("Interpreter" of config/Interpreter.vantrel); null gives defaults.
  explicit InterpreterSettings(AKConfig_T* pconfSettings);
  virtual ~InterpreterSettings();
  InterpreterSettings(const InterpreterSettings&) = delete;
  InterpreterSettings& operator=(const InterpreterSettings&) = delete;

  AKConfig_T* pconfConfig;  // "Config": FreqEval, FreqA and FreqFullBass as text, merged into Global
  double dFreqEval;         // sample rate in Hz
  double dFreqA;            // reference A in Hz
  double dFreqFullBass;     // a bass frequency in Hz for formulas
  int nChannels;            // interleaved output channels (the "Channles" key)
  int nOutputBits;          // only 16
  int nBuffers;             // output buffers in circulation
  int nBufferSamples;       // frames per output buffer
  double dFullScale;        // 2^(OutputBits - 1) - 1

  // The channel modules, one per MIDI channel (index = channel - 1); made by CreateChannelModules.
  Module* apmodChannel[MidiChannels] = {};
};

// The one engine of the program, set by the constructor; null before.
InterpreterSettings* TheEngine();
