// The oscilloscope window's logic without a window: its settings and how they are saved, the
// graph menus' commands and check marks, the layout of its one or two graphs, and Save CSV.
#pragma once

#include <ctime>
#include <string>

#include "ide/kswin.h"
#include "ide/kswinmemento.h"

class KSGraphModel;

struct ScopeGraphSettings {
  bool bSpectrum = true;
  bool bFreqView = true;
  int iVertScale = 2;  // 0 amplitude, 1 power, 2 dB power
  int iDBScale = 48;   // dB shown below 0: 24, 48, 72 or 96
};

struct ScopeSettings {
  bool bTwoGraphs = true;
  bool bResetEvery = true;
  ScopeGraphSettings agraph[2];
};

// "TwoGraphs", "ResetEvery", then "Spectrum", "FreqView", "VertScale", "DBScale" for graph 1 and
// the same with "2" for graph 2; missing keys take the defaults.
ScopeSettings ScopeReadSettings(const KSWinMemento& mem);
void ScopeWriteSettings(const ScopeSettings& settings, KSWinMemento& mem);

// The commands of the "Graph1" and "Graph2" menus, in menu order.
enum ScopeGraphCommand {
  ScopeWaveform,
  ScopeFreqAxis,
  ScopeHarmonicAxis,
  ScopeAmplitude,
  ScopePower,
  ScopeDBPower,
  ScopeDB24,
  ScopeDB48,
  ScopeDB72,
  ScopeDB96,
  ScopeGraphCommandCount
};
// The item's text, as the menu shows it ("&Waveform" ... "-&96 dB Power Y Scale").
const char* ScopeGraphCommandText(int iCommand);
// Sets what the command sets: Waveform turns the spectrum off, the axes turn it on with their
// X axis, the scales and dB ranges set theirs.
void ScopeApplyGraphCommand(ScopeGraphSettings& graph, int iCommand);
// The check mark: one of the three display modes, one of the three scales, one of the four dB
// ranges.
bool ScopeGraphCommandChecked(const ScopeGraphSettings& graph, int iCommand);
// True when the command changes the Y scale or the dB range (the graph re-analyses and resets).
inline bool ScopeCommandIsScale(int iCommand) { return iCommand >= ScopeAmplitude; }

// Where the graphs go in a client area: with two, graph 1 takes the left half less one pixel and
// graph 2 the right half from one pixel right of the middle; with one, graph 1 takes it all.
void ScopeGraphRects(int iWidth, int iHeight, bool bTwoGraphs, KSRect* prect1, KSRect* prect2);

// "LOG/oscilloscope_YYYYMMDD_HHMMSS.csv" for the local time given, LOG being the log folder
// (INSTALL/log, or the user's when the installation is read-only).
std::string ScopeCsvPath(const std::string& sLogDir, const struct tm& tmLocal);

// A message box to show: its title and text.
struct ScopeBox {
  std::string sTitle, sText;
};
// Save CSV: graph 1's series, one row per point ("%d" then ",%f" per series). bReady false (a
// capture being handed over) refuses with "Thread Collision". Answers the box to show.
ScopeBox ScopeSaveCsv(bool bReady, const std::string& sPath, const KSGraphModel& graph);
