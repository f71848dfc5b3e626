// The engine's settings and its sixteen MIDI channels: what patches and modules read of the engine.
#pragma once

struct AKConfig_T;
class Module;

constexpr int MidiChannels = 16;

// The settings half of the engine object. The audio half (thread, device, buffers) derives from
// it; modules and the patch compiler only need this half, which never changes after construction
// (except nVoiceFade, set once when the live engine starts).
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
  // "CutFade": how long a cut sound fades instead of jumping to 0, in frames (0.003 s unless the
  // settings give it; 0 cuts at once), and whether the settings gave it.
  int nCutFade;
  bool bCutFadeGiven;
  // The frames over which a voice taken over by a new note fades before the note starts (and
  // over which an offline ALL SOUND OFF fades the voices). Live play always fades; an offline
  // render keeps its sample-exact cuts unless the settings ask for the fade, so that renders made
  // before stay as they were. Set by the live engine when it starts; read at every note.
  int nVoiceFade;

  // The channel modules, one per MIDI channel (index = channel - 1); made by CreateChannelModules.
  Module* apmodChannel[MidiChannels] = {};
};

// The one engine of the program, set by the constructor; null before.
InterpreterSettings* TheEngine();
