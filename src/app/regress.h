// The regression runner: every installed patch compiled, played, captured and compared with its exemplar.
#pragma once

#include <string>
#include <vector>

class AppCore;

// The outcome of one patch, as its results line shows it.
struct RegressResult {
  std::string sName;          // relative to the patch folder, with '/'
  std::string sPath;          // the patch file
  double dRate = 0;           // measured frames per second; 0 when the patch did not compile
  double dPercent = -1;       // rate against the benchmark, -1 when there is no benchmark line
  int nCompared = 0;          // samples compared with the exemplar
  double dDiff = 0;           // largest absolute difference over them
  std::string sResult;        // "OK", "differs", "no exemplar", "compilation error", ...
  std::string sNote;          // " (CSV file unwriteable)" or empty
  bool bExemplarWritten = false;  // the exemplar was created, extended or (with bUpdate) replaced
};

struct RegressOptions {
  double dSeconds = 1;   // wall-clock time each patch plays, when nFrames is 0
  int nFrames = 0;       // above 0: capture exactly this many frames, the same on any machine
  bool bUpdate = false;  // a patch that differs gets a new exemplar instead of a ".differ" file
  bool bShow = true;     // show each patch in the editor while it is tested (when there is one)
  // Called once per patch as soon as its results line is written.
  void (*pfnLine)(const RegressResult& result, void* pvArg) = nullptr;
  void* pvArg = nullptr;
};

struct RegressSummary {
  int nTested = 0;
  int nOK = 0, nDiffers = 0, nNoExemplar = 0, nCompileErrors = 0, nOtherErrors = 0;
  int nExemplarsWritten = 0;   // created, extended or replaced
  int nExemplarsReplaced = 0;  // of patches that differ, with bUpdate
  int nExemplarsNew = 0;       // of patches that had none
  int nBenchmarked = 0;    // patches with a benchmark line, counted towards the average
  double dAverage = 0;     // their mean percentage
  int nBenchmarksAdded = 0;  // benchmark lines added by bUpdate
  std::string sError;        // why the run ended early (also in the status log)
};

// The capture buffer holds at most this many samples, and an exemplar is read up to it.
constexpr int RegressMaxSamples = 100000;

// Runs the whole suite over the installation's patch folder (and the user's own patch folder
// when it lies outside a read-only installation). Results, new exemplars and differences go to
// AKWriteDir(AKPlaceRegressions); exemplars and benchmarks are read there first, then from the
// installation. Answers -1 when the run could not be done (benchmark or results file), 0
// otherwise; the summary says how the patches fared.
int RunRegressions(AppCore& core, const RegressOptions& opt, RegressSummary* psum);

// The patch files of a patch folder as the runner tests them: every file whose name contains
// ".vantrel", in every folder but "edit_history", in descending byte order.
std::vector<std::string> CollectPatchFiles(const std::string& sPatchDir);
