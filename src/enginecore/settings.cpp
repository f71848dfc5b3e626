// Engine settings: read once, with defaults and the one warning about unsupported sample widths.
#include "enginecore/settings.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "foundation/akconfig.h"
#include "foundation/akstatus.h"

namespace {
InterpreterSettings* g_pengine = nullptr;
}

InterpreterSettings* TheEngine() { return g_pengine; }

InterpreterSettings::InterpreterSettings(AKConfig_T* pconfSettings) {
  g_pengine = this;
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
  guard("FreqA", dFreqA, 440.0, std::isfinite(dFreqA) && dFreqA > 0);
  guard("FreqFullBass", dFreqFullBass, 55.0, std::isfinite(dFreqFullBass) && dFreqFullBass > 0);
  guard("Channles", nChannels, 2, nChannels >= 1 && nChannels <= 32);
  guard("Buffers", nBuffers, 3, nBuffers >= 2 && nBuffers <= 64);
  guard("BufferSamples", nBufferSamples, 768, nBufferSamples >= 16 && nBufferSamples <= 65536);
  dFullScale = std::pow(2.0, nOutputBits - 1) - 1;
  // A few milliseconds: long enough that the end of the sound is no click, short enough that
  // the player hears the cut as immediate.
  bCutFadeGiven = AKConfigGet(pconfSettings, "CutFade") != nullptr;
  double dCutFade = AKConfigGetDoubleDef(pconfSettings, "CutFade", 0.003);
  if (!(dCutFade >= 0 && dCutFade <= 0.1)) {
    AKS(AKSWarn, AK_HERE, "CutFade = %g is not between 0 and 0.1 seconds; 0.003 is used", dCutFade);
    dCutFade = 0.003;
  }
  nCutFade = static_cast<int>(dCutFade * dFreqEval);
  nVoiceFade = bCutFadeGiven ? nCutFade : 0;
  // Patches see the three frequencies as Global's variables. The setting's text is copied when it
  // is the plain number the engine uses; a refused setting, or text after the number (which a
  // formula would read differently), gives way to the engine's number, so that patches always
  // see the rate the engine runs at.
  pconfConfig = AKConfigNew("Config", nullptr);
  for (auto [pszKey, d] : {std::pair{"FreqEval", dFreqEval}, {"FreqA", dFreqA}, {"FreqFullBass", dFreqFullBass}}) {
    const char* pszText = AKConfigGet(pconfSettings, pszKey);
    char* pszEnd = nullptr;
    if (pszText && strtod(pszText, &pszEnd) == d && pszEnd != pszText && strspn(pszEnd, " \t") == strlen(pszEnd)) {
      AKConfigSet(pconfConfig, pszKey, pszText);
      continue;
    }
    char szValue[32];
    *std::to_chars(szValue, szValue + sizeof szValue - 1, d).ptr = 0;  // the shortest text that reads back as d
    AKConfigSet(pconfConfig, pszKey, szValue);
  }
}

InterpreterSettings::~InterpreterSettings() {
  AKConfigFree(pconfConfig);
  if (g_pengine == this) g_pengine = nullptr;
}
