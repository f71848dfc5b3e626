// The regression runner: plays every installed patch, captures its first voice and compares the
// capture with a stored exemplar; results.txt gets one line per patch with its speed.
#include "app/regress.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "app/appcore.h"
#include "formula/errorlist.h"
#include "foundation/akpaths.h"
#include "foundation/akstatus.h"
#include "patch/patch.h"
#include "patch/voice.h"

namespace {

struct BenchmarkEntry {
  std::string sName;
  double dReference = -1;  // -1: no benchmark line
  bool bOK = false;
  bool bExemplar = false;
};

// Everything one run shares between its patches and the capture callback.
struct RegressRun {
  AppCore* pcore = nullptr;
  const RegressOptions* popt = nullptr;
  RegressSummary* psum = nullptr;
  // Results, new exemplars and differences go to sRegressDir; an exemplar or benchmark file not
  // found there is read from sShippedDir (the installation's, when the user's folder is used).
  std::string sRegressDir, sShippedDir;
  std::vector<BenchmarkEntry> aentry;
  FILE* pfileResults = nullptr;
  double dPercentSum = 0;
  std::vector<std::string> asBenchmarkNew;  // lines --update adds to benchmark.txt
  // The capture.
  std::vector<double> adCapture;
  int nCapture = 0;
  int nCaptureMax = RegressMaxSamples;
  const Voice* pvoiceLast = nullptr;
  double dTimeLast = 0;
  std::atomic<bool> bArmed{false};
};

// Called for the first voice of every rendered sample. A new voice, or a voice whose clock went
// back (a new note), starts the capture again; each call keeps the patch's output of the frame
// before. Only the patch under test counts: a running engine may render other channels meanwhile.
void Capture(Voice* pvoice, void* pvArg) {
  auto* prun = static_cast<RegressRun*>(pvArg);
  if (!prun || !prun->bArmed.load(std::memory_order_relaxed)) return;
  AKArray<PatchSlot>& aslot = prun->pcore->Slots();
  if (aslot.N() < 1 || pvoice->ppatch != aslot[0].ppatch) return;
  if (pvoice != prun->pvoiceLast || pvoice->dTime < prun->dTimeLast) prun->nCapture = 0;
  prun->pvoiceLast = pvoice;
  prun->dTimeLast = pvoice->dTime;
  if (prun->nCapture >= prun->nCaptureMax) return;
  Patch* ppatch = pvoice->ppatch;
  prun->adCapture[static_cast<size_t>(prun->nCapture++)] =
      ppatch->iOutLeft >= 0 ? *ppatch->tabPatch[ppatch->iOutLeft].pvalue : 0;
}

// The file's path with its extension (the text after the last dot of the file name) replaced.
std::string ReplaceExtension(const std::string& sPath, const char* pszExtension) {
  size_t iSlash = sPath.rfind('/');
  size_t iDot = sPath.rfind('.');
  if (iDot == std::string::npos || (iSlash != std::string::npos && iDot < iSlash)) return sPath + pszExtension;
  return sPath.substr(0, iDot) + pszExtension;
}

bool ContainsPatchExtension(const char* pszName) { return strstr(pszName, ".vantrel") != nullptr; }

void CollectFolder(const std::string& sDir, std::vector<std::string>& asFiles) {
  DIR* pdir = opendir(sDir.c_str());
  if (!pdir) {
    AKS(AKSWarn, AK_HERE, "Cannot read \"%s\": %d", (sDir + "/*").c_str(), errno);
    return;
  }
  std::vector<std::string> asFolders;
  while (dirent* pent = readdir(pdir)) {
    const char* pszName = pent->d_name;
    if (strcmp(pszName, ".") == 0 || strcmp(pszName, "..") == 0) continue;
    std::string sPath = sDir + "/" + pszName;
    struct stat st;
    if (stat(sPath.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (strcmp(pszName, "edit_history") != 0) asFolders.push_back(sPath);
    } else if (ContainsPatchExtension(pszName)) {
      asFiles.push_back(sPath);
    }
  }
  closedir(pdir);
  for (const std::string& sFolder : asFolders) CollectFolder(sFolder, asFiles);
}

// A failure that ends the run: logged, and kept for the caller to show.
void __attribute__((format(printf, 2, 3))) EndRun(RegressRun& run, const char* pszFormat, ...) {
  char sz[2048];
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(sz, sizeof sz, pszFormat, args);
  va_end(args);
  AKS(AKSWarn, AK_HERE, "%s", sz);
  run.psum->sError = sz;
}

// The file of the regressions folder, or the shipped one when the folder has none.
std::string ShippedFallback(const RegressRun& run, const std::string& sPath) {
  if (run.sShippedDir == run.sRegressDir || access(sPath.c_str(), F_OK) == 0) return sPath;
  return run.sShippedDir + sPath.substr(run.sRegressDir.size());
}

// benchmark.txt: "NAME RATE" per line. Answers -1 (logged) when the run must end.
int ReadBenchmarks(RegressRun& run) {
  std::string sPath = ShippedFallback(run, run.sRegressDir + "/benchmark.txt");
  FILE* pfile = fopen(sPath.c_str(), "r");
  if (!pfile) {
    if (errno == ENOENT) {
      AKS(AKSStatus, AK_HERE, "read %d benchmark(s)", 0);
      return 0;
    }
    EndRun(run, "cannot open benchmark file \"%s\": %s", sPath.c_str(), strerror(errno));
    return -1;
  }
  char szLine[1024];
  int iLine = 0;
  while (fgets(szLine, sizeof szLine, pfile)) {
    ++iLine;
    size_t n = strlen(szLine);
    while (n > 0 && (szLine[n - 1] == '\n' || szLine[n - 1] == '\r')) szLine[--n] = 0;
    char szName[1024];
    double dRate = 0;
    if (sscanf(szLine, "%1023s %lf", szName, &dRate) != 2) {
      EndRun(run, "benchmark file \"%s\" line %d: do not find two fields in: \"%s\"", sPath.c_str(), iLine, szLine);
      fclose(pfile);
      return -1;
    }
    run.aentry.push_back({szName, dRate, false, false});
  }
  fclose(pfile);
  AKS(AKSStatus, AK_HERE, "read %d benchmark(s)", static_cast<int>(run.aentry.size()));
  return 0;
}

// Makes an existing file writable by its owner (a checked-out exemplar may be read-only).
void MakeWritable(const char* pszPath) {
  struct stat st;
  if (stat(pszPath, &st) == 0 && !(st.st_mode & S_IWUSR)) chmod(pszPath, st.st_mode | S_IWUSR);
}

// Answers whether every sample reached the file; failures are logged.
bool WriteSamples(const std::string& sPath, const double* ad, int n) {
  MakeWritable(sPath.c_str());
  int fd = open(sPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    AKS(AKSWarn, AK_HERE, "_open( \"%s\" ): %s", sPath.c_str(), strerror(errno));
    return false;
  }
  int nBytes = n * static_cast<int>(sizeof(double));
  ssize_t nWritten = write(fd, ad, static_cast<size_t>(nBytes));
  bool bOK = nWritten == nBytes;
  if (!bOK)
    AKS(AKSWarn, AK_HERE, "_write( \"%s\", %d ) = %d: %s", sPath.c_str(), nBytes, static_cast<int>(nWritten),
        nWritten < 0 ? strerror(errno) : "short write");
  if (close(fd) != 0) {
    AKS(AKSWarn, AK_HERE, "_close( \"%s\" ) = -1: %s", sPath.c_str(), strerror(errno));
    bOK = false;
  }
  return bOK;
}

// One line per sample when nothing differs at all (or nothing was compared), else one line per
// compared sample with the difference, the exemplar and the capture.
bool WriteCsv(const std::string& sPath, const double* adCapture, int nCapture, const double* adExemplar, int nCompared,
              double dDiff) {
  MakeWritable(sPath.c_str());
  FILE* pfile = fopen(sPath.c_str(), "w");
  if (!pfile) return false;
  if (dDiff == 0 || nCompared == 0) {
    for (int i = 0; i < nCapture; ++i) fprintf(pfile, "%d,%g\n", i, adCapture[i]);
  } else {
    for (int i = 0; i < nCompared; ++i)
      fprintf(pfile, "%d,%g,%g,%g\n", i, adExemplar[i] - adCapture[i], adExemplar[i], adCapture[i]);
  }
  bool bError = ferror(pfile) != 0;
  return fclose(pfile) == 0 && !bError;
}

// Plays exactly nFrames frames of one held note, as the benchmark does, and answers the rate.
double PlayFrames(AppCore& core, int nFrames) {
  using Clock = std::chrono::steady_clock;
  std::lock_guard<std::mutex> lock(core.EngineLock());
  Patch* ppatch = core.Slots()[0].ppatch;
  int nChannels = core.Engine()->nChannels;
  std::vector<double> adFrame(static_cast<size_t>(std::max(nChannels, 1)), 0.0);
  ppatch->NoteOn(60, 0.5);
  Clock::time_point tStart = Clock::now();
  for (int i = 0; i < nFrames; ++i) ppatch->RenderFrame(adFrame.data(), nChannels);
  double dElapsedMs = std::chrono::duration<double, std::milli>(Clock::now() - tStart).count();
  ppatch->AllSoundOff();
  return dElapsedMs > 0 ? nFrames * 1000 / dElapsedMs : 0;
}

// Loads the patch into channel 1 and plays it while the capture listens; -1 when it does not compile.
int PlayPatch(RegressRun& run, const std::string& sPath, double* pdRate) {
  AppCore& core = *run.pcore;
  const RegressOptions& opt = *run.popt;
  run.nCapture = 0;  // a patch whose voice never renders must not inherit the last capture
  run.pvoiceLast = nullptr;
  run.bArmed = true;
  int iResult;
  if (opt.nFrames > 0) {
    iResult = core.LoadPatch(sPath.c_str(), 0, opt.bShow, 0, nullptr);
    if (iResult == 0) *pdRate = PlayFrames(core, opt.nFrames);
  } else {
    iResult = core.LoadPatch(sPath.c_str(), 0, opt.bShow, opt.dSeconds, pdRate);
  }
  run.bArmed = false;
  return iResult;
}

size_t FindEntry(RegressRun& run, const std::string& sName) {
  for (size_t i = 0; i < run.aentry.size(); ++i)
    if (run.aentry[i].sName == sName) return i;
  run.aentry.push_back({sName, -1, false, false});
  return run.aentry.size() - 1;
}

void CountResult(RegressSummary& sum, const RegressResult& result) {
  ++sum.nTested;
  if (result.sResult == "OK") ++sum.nOK;
  else if (result.sResult == "differs") ++sum.nDiffers;
  else if (result.sResult == "no exemplar") ++sum.nNoExemplar;
  else if (result.sResult == "compilation error") ++sum.nCompileErrors;
  else ++sum.nOtherErrors;
  if (!result.bExemplarWritten) return;
  ++sum.nExemplarsWritten;
  if (result.sResult == "differs") ++sum.nExemplarsReplaced;
  if (result.sResult == "no exemplar") ++sum.nExemplarsNew;
}

void WriteResultsLine(RegressRun& run, RegressResult& result, const BenchmarkEntry& entry, bool bCompiled) {
  if (bCompiled && entry.dReference != -1) {
    result.dPercent = result.dRate / entry.dReference * 100;
    fprintf(run.pfileResults, "%-90.90s %10.0f %7.2f%% %10d %25g %s%s\n", result.sName.c_str(), result.dRate,
            result.dPercent, result.nCompared, result.dDiff, result.sResult.c_str(), result.sNote.c_str());
    if (entry.dReference != 0) {
      ++run.psum->nBenchmarked;
      run.dPercentSum += result.dPercent;
    }
  } else {
    fprintf(run.pfileResults, "%-90.90s %10.0f  ---.--%% %10d %15g %s%s\n", result.sName.c_str(), result.dRate,
            result.nCompared, result.dDiff, result.sResult.c_str(), result.sNote.c_str());
  }
  fflush(run.pfileResults);
}

}  // namespace

// Tests one patch: plays it, compares the capture with the exemplar, writes the CSV, the
// exemplar or difference file, and the results line.
static void TestFile(RegressRun& run, const std::string& sPath, const std::string& sName) {
  const RegressOptions& opt = *run.popt;
  RegressResult result;
  result.sName = sName;
  result.sPath = sPath;
  size_t iEntry = FindEntry(run, result.sName);
  AKS(AKSTrace, AK_HERE, "TestFile(): %s", sPath.c_str());

  bool bCompiled = PlayPatch(run, sPath, &result.dRate) == 0;
  if (!bCompiled) {
    result.dRate = 0;
    result.sResult = "compilation error";
  } else {
    BenchmarkEntry& entry = run.aentry[iEntry];
    std::string sExemplar = ReplaceExtension(run.sRegressDir + "/" + result.sName, ".exemplar");
    std::string sDiffer = ReplaceExtension(sExemplar, ".differ");
    std::vector<double> adExemplar;
    bool bReadable = false, bWriteCsv = true;
    // The user's regressions folder starts empty: its subfolders are made as patches need them.
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(sExemplar).parent_path(), ec);
    int fd = open(ShippedFallback(run, sExemplar).c_str(), O_RDONLY);
    if (fd < 0 && errno == ENOENT) {
      result.sResult = "no exemplar";
    } else if (fd < 0) {
      AKS(AKSWarn, AK_HERE, "_open( \"%s\", _O_RDONLY | _O_BINARY ): %s", sExemplar.c_str(), strerror(errno));
      result.sResult = "error opening exemplar";
      bWriteCsv = false;
    } else {
      adExemplar.resize(RegressMaxSamples);
      size_t nBytes = 0, nMax = adExemplar.size() * sizeof(double);
      ssize_t nRead = 0;
      auto* pb = reinterpret_cast<char*>(adExemplar.data());
      while (nBytes < nMax && (nRead = read(fd, pb + nBytes, nMax - nBytes)) > 0) nBytes += static_cast<size_t>(nRead);
      adExemplar.resize(nBytes / sizeof(double));
      if (nRead < 0) {
        AKS(AKSWarn, AK_HERE, "_read( \"%s\" ): %s", sExemplar.c_str(), strerror(errno));
        result.sResult = "error reading exemplar";
        close(fd);
      } else if (close(fd) != 0) {
        AKS(AKSWarn, AK_HERE, "_close( \"%s\" ): %s", sExemplar.c_str(), strerror(errno));
        result.sResult = "error closing exemplar";
      } else {
        bReadable = true;
        entry.bExemplar = true;
        result.nCompared = std::min(run.nCapture, static_cast<int>(adExemplar.size()));
        for (int i = 0; i < result.nCompared; ++i) {
          double d = std::fabs(adExemplar[static_cast<size_t>(i)] - run.adCapture[static_cast<size_t>(i)]);
          // A NaN on either side is a difference too.
          if (!(d <= result.dDiff)) result.dDiff = std::isnan(d) ? HUGE_VAL : d;
        }
        if (result.dDiff > 1e-10) {
          result.sResult = "differs";
        } else {
          result.sResult = "OK";
          entry.bOK = true;
        }
      }
    }
    if (bWriteCsv && !WriteCsv(ReplaceExtension(sExemplar, ".csv"), run.adCapture.data(), run.nCapture,
                               adExemplar.data(), result.nCompared, result.dDiff))
      result.sNote = " (CSV file unwriteable)";
    bool bDiffers = result.sResult == "differs";
    if (result.sResult == "OK" || (bDiffers && opt.bUpdate)) unlink(sDiffer.c_str());
    const char* pszWrite = nullptr;
    if (bDiffers) pszWrite = opt.bUpdate ? sExemplar.c_str() : sDiffer.c_str();
    else if (bWriteCsv && !bReadable) pszWrite = sExemplar.c_str();
    else if (result.sResult == "OK" && run.nCapture > result.nCompared) pszWrite = sExemplar.c_str();
    if (pszWrite && WriteSamples(pszWrite, run.adCapture.data(), run.nCapture))
      result.bExemplarWritten = pszWrite == sExemplar.c_str();
    if (opt.bUpdate && entry.dReference == -1 && result.dRate > 0) {
      char sz[1200];
      snprintf(sz, sizeof sz, "%s %.0f\n", result.sName.c_str(), result.dRate);
      run.asBenchmarkNew.push_back(sz);
    }
  }
  WriteResultsLine(run, result, run.aentry[iEntry], bCompiled);
  CountResult(*run.psum, result);
  if (opt.pfnLine) opt.pfnLine(result, opt.pvArg);
}

std::vector<std::string> CollectPatchFiles(const std::string& sPatchDir) {
  std::vector<std::string> asFiles;
  CollectFolder(sPatchDir, asFiles);
  std::sort(asFiles.begin(), asFiles.end(), [](const std::string& a, const std::string& b) {
    return strcmp(a.c_str(), b.c_str()) > 0;
  });
  return asFiles;
}

// The patches a run plays, with their names: the installation's patch folder, and the user's
// own folder under "user/" when it lies outside the installation.
static std::vector<std::pair<std::string, std::string>> RegressPatches(const std::string& sInstallDir) {
  std::vector<std::pair<std::string, std::string>> apatch;
  std::string sPatchDir = sInstallDir + "/patch";
  for (const std::string& sPath : CollectPatchFiles(sPatchDir)) apatch.emplace_back(sPath, sPath.substr(sPatchDir.size() + 1));
  std::string sUserDir = AKWriteDir(AKPlaceUserPatch);
  if (AKPathsPerUser() && !sUserDir.empty())
    for (const std::string& sPath : CollectPatchFiles(sUserDir))
      apatch.emplace_back(sPath, "user/" + sPath.substr(sUserDir.size() + 1));
  return apatch;
}

int RunRegressions(AppCore& core, const RegressOptions& opt, RegressSummary* psum) {
  RegressSummary sumLocal;
  RegressRun run;
  run.pcore = &core;
  run.popt = &opt;
  run.psum = psum ? psum : &sumLocal;
  *run.psum = RegressSummary();
  run.sRegressDir = AKWriteDir(AKPlaceRegressions);
  run.sShippedDir = AKInstalledDir(AKPlaceRegressions);
  run.adCapture.assign(RegressMaxSamples, 0.0);
  if (opt.nFrames > 0) run.nCaptureMax = std::min(opt.nFrames, RegressMaxSamples);

  VoiceScopeCallback pfnOld = nullptr;
  void* pvOld = nullptr;
  bool bWantedOld = false;
  VoiceGetScopeCallback(&pfnOld, &pvOld, &bWantedOld);
  VoiceSetScopeCallback(Capture, &run, true);
  int iResult = 0;
  std::string sResults = run.sRegressDir + "/results.txt";
  std::string sMakeError;
  if (AKMakeWriteDir(AKPlaceRegressions, &sMakeError).empty()) {
    EndRun(run, "%s", sMakeError.c_str());
    iResult = -1;
  } else if (ReadBenchmarks(run) != 0) {
    iResult = -1;
  } else if (!(run.pfileResults = fopen(sResults.c_str(), "w"))) {
    EndRun(run, "cannot open results file \"%s\": %s", sResults.c_str(), strerror(errno));
    iResult = -1;
  } else {
    MakeWritable(sResults.c_str());
    for (const auto& [sPath, sName] : RegressPatches(core.InstallDir())) TestFile(run, sPath, sName);
    RegressSummary& sum = *run.psum;
    sum.dAverage = sum.nBenchmarked > 0 ? run.dPercentSum / sum.nBenchmarked : 0;
    AKS(AKSReport, AK_HERE, "compared %d files; average performance %3.2f", sum.nBenchmarked, sum.dAverage);
    if (fclose(run.pfileResults) != 0)
      AKS(AKSWarn, AK_HERE, "fclose( \"%s\" ): %s", sResults.c_str(), strerror(errno));
    if (!run.asBenchmarkNew.empty()) {
      std::string sBenchmark = run.sRegressDir + "/benchmark.txt";
      // The user's first benchmark file starts as a copy of the shipped one, which it then hides.
      std::string sShipped = ShippedFallback(run, sBenchmark);
      std::error_code ec;
      if (sShipped != sBenchmark) std::filesystem::copy_file(sShipped, sBenchmark, ec);
      FILE* pfile = fopen(sBenchmark.c_str(), "a+");
      if (!pfile) {
        AKS(AKSWarn, AK_HERE, "cannot open benchmark file \"%s\": %s", sBenchmark.c_str(), strerror(errno));
      } else {
        // A last line without its line break must not run into the first new one.
        if (fseek(pfile, -1, SEEK_END) == 0 && fgetc(pfile) != '\n') fputc('\n', pfile);
        for (const std::string& s : run.asBenchmarkNew) fputs(s.c_str(), pfile);
        if (fclose(pfile) == 0) sum.nBenchmarksAdded = static_cast<int>(run.asBenchmarkNew.size());
      }
    }
  }
  VoiceSetScopeCallback(pfnOld, pvOld, bWantedOld);
  return iResult;
}
