// The application core: engine bring-up, patch compilation from files, installation, benchmark.
#include "app/appcore.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "formula/errorlist.h"
#include "formula/vanmath.h"
#include "foundation/akconfig.h"
#include "foundation/akpaths.h"
#include "foundation/akstatus.h"
#include "foundation/akstring.h"
#include "modules/filters/filterfactory.h"
#include "patch/patch.h"
#include "patch/startup_hooks.h"
#include "patch/structural.h"

namespace {

// A path in double quotes (as a shell or a file manager may hand one over) loses them.
std::string Unquoted(const char* pszPath) {
  std::string sPath = pszPath ? pszPath : "";
  if (!sPath.empty() && sPath.front() == '"') {
    sPath.erase(0, 1);
    if (!sPath.empty() && sPath.back() == '"') sPath.pop_back();
  }
  return sPath;
}

}  // namespace

void InitSharedTables() {
  FilterFactory::Get()->BuildIndex();
  VanMathInitTables();
  RunModuleStartupHooks();
}

AppCore::AppCore(const std::string& sInstallDir, const std::vector<std::string>& asSettingsOverride)
    : sInstallDir_(sInstallDir) {
  InitSharedTables();
  PatchSetInstallDir(sInstallDir_);
  AKPathsInit(sInstallDir_);
  std::string sSettings = AKSettingsPath();
  AKConfig_T* pconf = AKConfigRead(sSettings.c_str(), AKConfigText);
  if (!pconf) AKS(AKSFatal, AK_HERE, "cannot read interpreter file \"%s\"", sSettings.c_str());
  AKConfig_T* pconfSection = pconf ? AKConfigGetSub(pconf, "Interpreter") : nullptr;
  for (const std::string& sLine : asSettingsOverride) {
    size_t iEquals = sLine.find('=');
    if (iEquals == std::string::npos || !pconfSection) continue;
    std::string sName = sLine.substr(0, iEquals), sValue = sLine.substr(iEquals + 1);
    while (!sName.empty() && sName.back() == ' ') sName.pop_back();
    while (!sValue.empty() && sValue.front() == ' ') sValue.erase(0, 1);
    AKConfigSet(pconfSection, sName.c_str(), sValue.c_str());
  }
  pengine_ = std::make_unique<Interpreter>(pconfSection, &table_);
  AKConfigFree(pconf);
  CreateChannelModules();
}

AppCore::~AppCore() {
  ShutdownEngine();
  for (PatchSlot& slot : table_.aslot) {
    delete slot.ppatch;
    free(slot.pszText);
  }
  table_.aslot.Empty();
  DestroyChannelModules();
  pengine_.reset();
  table_.mutexEngine.unlock();
}

void AppCore::StartEngine() {
  RaiseProcessPriority();
  pengine_->Start();
}

void AppCore::ShutdownEngine() {
  if (bLockKept_) return;
  if (pengine_->Running()) pengine_->Shutdown();
  table_.mutexEngine.lock();
  bLockKept_ = true;
}

void AppCore::UserMessage(const char* pszFormat, ...) {
  char sz[4096];
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(sz, sizeof sz, pszFormat, args);
  va_end(args);
  if (pfnUserMessage) pfnUserMessage(sz);
  else ERRADD(-1, "%s", sz);
}

Patch* AppCore::CompilePatchFile(const char* pszPath, int iChannel, std::string* psText) {
  return CompileFile(Unquoted(pszPath), iChannel, psText);
}

Patch* AppCore::CompileFile(const std::string& sPath, int iChannel, std::string* psText) {
  struct stat st;
  if (stat(sPath.c_str(), &st) != 0) {
    UserMessage("stat( %s ): %s", sPath.c_str(), strerror(errno));
    return nullptr;
  }
  FILE* pfile = fopen(sPath.c_str(), "rb");
  if (!pfile) {
    UserMessage("open( %s ): %s", sPath.c_str(), strerror(errno));
    return nullptr;
  }
  std::string sText;
  char ach[65536];
  for (size_t n; (n = fread(ach, 1, sizeof ach, pfile)) > 0;) sText.append(ach, n);
  bool bReadError = ferror(pfile) != 0;
  if (fclose(pfile) != 0 || bReadError) {
    UserMessage("close( %s ): %s", sPath.c_str(), strerror(errno));
    return nullptr;
  }
  ErrorList::Get()->Clear();
  if (peditor && peditor->Exists()) peditor->ClearErrorMarks();
  // Reader warnings become patch errors at their lines while the file is read.
  FILE* pmem = sText.empty() ? fopen("/dev/null", "rb") : fmemopen(sText.data(), sText.size(), "rb");
  bool bWhole = false;
  AKConfig_T* pconf = pmem ? PatchReadText(sPath.c_str(), pmem, 0, &bWhole) : nullptr;
  if (pmem) fclose(pmem);
  if (!pconf) {
    UserMessage("cannot read patch \"%s\"", sPath.c_str());
    return nullptr;
  }
  int iSlot = iChannel >= 0 && iChannel < MidiChannels ? iChannel : 0;
  auto* pmodChannel = static_cast<ModChannel*>(pengine_->apmodChannel[iSlot]);
  Patch* ppatch = new Patch(pengine_.get(), pconf, pmodChannel);
  AKConfigFree(pconf);
  // The lines after a malformed one were never read: the patch cannot sound as written.
  if (!bWhole) ppatch->bCompiled = false;
  if (psText) *psText = std::move(sText);
  return ppatch;
}

int AppCore::LoadPatch(const char* pszPath, int iChannel, bool bShow, double dSeconds, double* pdRate) {
  if (bLockKept_) return -1;  // the engine is shut down for good
  bool bEditor = peditor && peditor->Exists();
  if (bShow && bEditor && !peditor->SaveQuery()) return -1;
  // The slot and the editor get the path the file was read from.
  std::string sPath = Unquoted(pszPath);
  std::string sText;
  Patch* ppatch = CompileFile(sPath, iChannel, &sText);
  if (!ppatch) return -1;
  if (!ppatch->bCompiled) {
    if (peditor) {
      if (!peditor->Exists()) peditor->Create();
      if (bShow) peditor->Show(iChannel, sPath.c_str(), sText.c_str());
      peditor->SetCompileErrors(iChannel);
    }
    delete ppatch;
    return -1;
  }
  if (bShow && bEditor) peditor->Show(iChannel, sPath.c_str(), sText.c_str());
  if (pengineHooks) {
    pengineHooks->ResetAutoReduce();
    pengineHooks->ResetOscilloscope();
  }
  std::lock_guard<std::mutex> lock(table_.mutexEngine);
  table_.aslot.SetSize(iChannel + 1);
  PatchSlot& slot = table_.aslot[iChannel];
  delete slot.ppatch;
  free(slot.pszText);
  AKstrcpy(slot.szPath, sPath.c_str(), sizeof slot.szPath);
  slot.pszText = AKstrdup(sText.c_str());
  slot.ppatch = ppatch;
  if (pengineHooks) pengineHooks->ResetKeepUp();
  if (dSeconds == -1) dSeconds = 0.1;
  if (dSeconds != 0) {
    double dRate = BenchmarkPatch(ppatch, dSeconds);
    UserMessage("performance: %.2f polyphony; %.2f us; %.2f kHz", dRate / pengine_->dFreqEval, 1000000 / dRate,
                dRate * 0.001);
    if (pdRate) *pdRate = dRate;
  }
  return 0;
}

double AppCore::BenchmarkPatch(Patch* ppatch, double dSeconds) {
  using Clock = std::chrono::steady_clock;
  ppatch->NoteOn(60, 0.5);
  std::vector<double> adFrame(static_cast<size_t>(pengine_->nChannels), 0.0);
  Clock::time_point tStart = Clock::now();
  double dFrames = 0, dElapsedMs = 0;
  do {
    for (int i = 0; i < 1000; ++i) ppatch->RenderFrame(adFrame.data(), pengine_->nChannels);
    dFrames += 1000;
    dElapsedMs = std::chrono::duration<double, std::milli>(Clock::now() - tStart).count();
  } while (dElapsedMs < dSeconds * 1000);
  ppatch->AllSoundOff();
  return dFrames * 1000 / dElapsedMs;
}

int AppCore::SoundingVoices() {
  int nVoices = 0;
  for (PatchSlot& slot : table_.aslot)
    if (Patch* ppatch = slot.ppatch) {
      std::lock_guard<std::mutex> lock(ppatch->mutex);
      nVoices += static_cast<int>(ppatch->apvoiceActive.size());
    }
  return nVoices;
}
