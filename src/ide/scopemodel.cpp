// The oscilloscope window's settings, menu commands, layout and CSV export.
#include "ide/scopemodel.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "foundation/akstatus.h"
#include "ide/ksgraphcore.h"

namespace {

const char* const kapszCommand[ScopeGraphCommandCount] = {
    "&Waveform",           "&Frequency X Axis",    "&Harmonic X Axis",     "&Amplitude Y Axis",    "&Power Y Axis",
    "&dB Power Y Axis",    "-&24 dB Power Y Scale", "-&48 dB Power Y Scale", "-&72 dB Power Y Scale", "-&96 dB Power Y Scale"};

// The dB range of each dB-range command, from ScopeDB24 on.
constexpr int kaiDBRange[4] = {24, 48, 72, 96};

std::string Key(const char* pszKey, int iGraph) { return iGraph == 0 ? pszKey : std::string(pszKey) + "2"; }

}  // namespace

ScopeSettings ScopeReadSettings(const KSWinMemento& mem) {
  ScopeSettings settings;
  settings.bTwoGraphs = mem.GetBool("TwoGraphs", true);
  settings.bResetEvery = mem.GetBool("ResetEvery", true);
  for (int i = 0; i < 2; ++i) {
    ScopeGraphSettings& graph = settings.agraph[i];
    graph.bSpectrum = mem.GetBool(Key("Spectrum", i).c_str(), true);
    graph.bFreqView = mem.GetBool(Key("FreqView", i).c_str(), true);
    graph.iVertScale = mem.GetInt(Key("VertScale", i).c_str(), 2);
    graph.iDBScale = mem.GetInt(Key("DBScale", i).c_str(), 48);
  }
  return settings;
}

void ScopeWriteSettings(const ScopeSettings& settings, KSWinMemento& mem) {
  mem.SetBool("TwoGraphs", settings.bTwoGraphs);
  mem.SetBool("ResetEvery", settings.bResetEvery);
  for (int i = 0; i < 2; ++i) {
    const ScopeGraphSettings& graph = settings.agraph[i];
    mem.SetBool(Key("Spectrum", i).c_str(), graph.bSpectrum);
    mem.SetBool(Key("FreqView", i).c_str(), graph.bFreqView);
    mem.SetInt(Key("VertScale", i).c_str(), graph.iVertScale);
    mem.SetInt(Key("DBScale", i).c_str(), graph.iDBScale);
  }
}

const char* ScopeGraphCommandText(int iCommand) {
  return iCommand >= 0 && iCommand < ScopeGraphCommandCount ? kapszCommand[iCommand] : "";
}

void ScopeApplyGraphCommand(ScopeGraphSettings& graph, int iCommand) {
  switch (iCommand) {
    case ScopeWaveform: graph.bSpectrum = false; break;
    case ScopeFreqAxis: graph.bSpectrum = graph.bFreqView = true; break;
    case ScopeHarmonicAxis:
      graph.bSpectrum = true;
      graph.bFreqView = false;
      break;
    case ScopeAmplitude:
    case ScopePower:
    case ScopeDBPower: graph.iVertScale = iCommand - ScopeAmplitude; break;
    case ScopeDB24:
    case ScopeDB48:
    case ScopeDB72:
    case ScopeDB96: graph.iDBScale = kaiDBRange[iCommand - ScopeDB24]; break;
    default: break;
  }
}

bool ScopeGraphCommandChecked(const ScopeGraphSettings& graph, int iCommand) {
  switch (iCommand) {
    case ScopeWaveform: return !graph.bSpectrum;
    case ScopeFreqAxis: return graph.bSpectrum && graph.bFreqView;
    case ScopeHarmonicAxis: return graph.bSpectrum && !graph.bFreqView;
    case ScopeAmplitude:
    case ScopePower:
    case ScopeDBPower: return graph.iVertScale == iCommand - ScopeAmplitude;
    case ScopeDB24:
    case ScopeDB48:
    case ScopeDB72:
    case ScopeDB96: return graph.iDBScale == kaiDBRange[iCommand - ScopeDB24];
    default: return false;
  }
}

void ScopeGraphRects(int iWidth, int iHeight, bool bTwoGraphs, KSRect* prect1, KSRect* prect2) {
  if (!bTwoGraphs) {
    *prect1 = {0, 0, iWidth, iHeight};
    *prect2 = {0, 0, 0, 0};
    return;
  }
  int iMiddle = iWidth / 2;
  *prect1 = {0, 0, iMiddle - 1, iHeight};
  *prect2 = {iMiddle + 1, 0, iWidth - iMiddle - 1, iHeight};
}

std::string ScopeCsvPath(const std::string& sLogDir, const struct tm& tmLocal) {
  char sz[64];
  snprintf(sz, sizeof sz, "/oscilloscope_%02d%02d%02d_%02d%02d%02d.csv", tmLocal.tm_year + 1900, tmLocal.tm_mon + 1,
           tmLocal.tm_mday, tmLocal.tm_hour, tmLocal.tm_min, tmLocal.tm_sec);
  return sLogDir + sz;
}

ScopeBox ScopeSaveCsv(bool bReady, const std::string& sPath, const KSGraphModel& graph) {
  if (!bReady) return {"Thread Collision", "Try again, sorry..."};
  const char* pszPath = sPath.c_str();
  FILE* pfile = fopen(pszPath, "wb");
  if (!pfile) {
    const char* pszError = strerror(errno);
    AKS(AKSWarn, AK_HERE, "fopen( %s, \"wb\" ) = NULL: %s", pszPath, pszError);
    return {"Error Saving", "Cannot open file \"" + sPath + "\": " + pszError};
  }
  const std::vector<KSGraphSeries>& aseries = graph.Series();
  size_t nRows = aseries.empty() ? 0 : aseries[0].adY.size();
  for (size_t b = 0; b < nRows; ++b) {
    fprintf(pfile, "%zu", b);
    for (const KSGraphSeries& series : aseries) {
      // The series of one capture are equally long; a shorter one leaves its cell empty.
      if (b < series.adY.size()) fprintf(pfile, ",%f", series.adY[b]);
      else fputc(',', pfile);
    }
    fputc('\n', pfile);
  }
  // A failed write (a full disk) counts as a failed close: the file is not complete.
  bool bWriteError = ferror(pfile) != 0;
  int iErrno = errno;
  if (fclose(pfile) != 0 || bWriteError) {
    const char* pszError = strerror(bWriteError ? iErrno : errno);
    AKS(AKSWarn, AK_HERE, "fclose( %s ) != 0: %s", pszPath, pszError);
    return {"Error Saving", "Cannot close file \"" + sPath + "\": " + pszError};
  }
  return {"Saved CSV", "Created file \"" + sPath + "\""};
}
