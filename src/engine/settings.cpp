// Engine settings: read once, with defaults and the one warning about unsupported sample widths.
#include "settings.h"

#include <cmath>

#include "akconfig.h"
#include "akstatus.h"

namespace {
InterpreterSettings* g_pengine = nullptr;
}

InterpreterSettings* TheEngine() { return g_pengine; }

InterpreterSettings::InterpreterSettings(AKConfig_T* pconfSettings) {
  g_pengine = this;
  pconfConfig = AKConfigNew("Config", nullptr);
  for (auto [pszKey, pszDefault] : {std::pair{"FreqEval", "44100"}, {"FreqA", "440"}, {"FreqFullBass", "55"}})
    AKConfigSet(pconfConfig, pszKey, AKConfigGetDef(pconfSettings, pszKey, pszDefault));
  dFreqEval = AKConfigGetDoubleDef(pconfSettings, "FreqEval", 44100);
  dFreqA = AKConfigGetDoubleDef(pconfSettings, "FreqA", 440);
  dFreqFullBass = AKConfigGetDoubleDef(pconfSettings, "FreqFullBass", 55);
  nChannels = AKConfigGetIntDef(pconfSettings, "Channles", 2);  // the key is spelled so in every settings file
  nOutputBits = AKConfigGetIntDef(pconfSettings, "OutputBits", 16);
  nBuffers = AKConfigGetIntDef(pconfSettings, "Buffers", 3);
  nBufferSamples = AKConfigGetIntDef(pconfSettings, "BufferSamples", 768);
  if (nOutputBits != 16) {
    AKS(AKSWarn, AK_HERE, "OutputBits was set to %d but internally the code only supports 16", nOutputBits);
    nOutputBits = 16;
  }
  // Values no device or module can work with would divide by zero or allocate nothing; the
  // settings file is user-edited, so keep the defaults for those and say so.
  auto guard = [](const char* pszKey, auto& value, auto fallback, bool bUsable) {
    if (bUsable) return;
    AKS(AKSWarn, AK_HERE, "%s was set to %g, which cannot be used; using %g", pszKey, static_cast<double>(value),
        static_cast<double>(fallback));
    value = fallback;
  };
  guard("FreqEval", dFreqEval, 44100.0, std::isfinite(dFreqEval) && dFreqEval >= 1000 && dFreqEval <= 768000);
  guard("Channles", nChannels, 2, nChannels >= 1 && nChannels <= 32);
  guard("Buffers", nBuffers, 3, nBuffers >= 2 && nBuffers <= 64);
  guard("BufferSamples", nBufferSamples, 768, nBufferSamples >= 16 && nBufferSamples <= 65536);
  dFullScale = std::pow(2.0, nOutputBits - 1) - 1;
}

InterpreterSettings::~InterpreterSettings() {
  AKConfigFree(pconfConfig);
  if (g_pengine == this) g_pengine = nullptr;
}
