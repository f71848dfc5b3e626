// The window factory: types, open windows, workspaces and templates.
#include "ide/kswinfactory.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "foundation/akconfig.h"
#include "foundation/akstatus.h"
#include "foundation/akstring.h"

namespace {

std::string Expand(const char* psz) {
  char* pszExpanded = AKExpandAlloc(psz);
  std::string s = pszExpanded;
  free(pszExpanded);
  return s;
}

// Writes a memento in the XML form with the workspace's and templates' failure reports.
void WriteXml(const KSWinMemento& mem, const std::string& sPath) {
  // The user's own folder for workspaces and templates may not exist yet.
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(sPath).parent_path(), ec);
  FILE* pfile = fopen(sPath.c_str(), "wb");
  if (!pfile) {
    AKS(AKSWarn, AK_HERE, "fopen( \"%s\", \"wb\" ) = NULL: %s", sPath.c_str(), strerror(errno));
    return;
  }
  int iWrite = AKConfigWriteStream(mem.Config(), pfile, AKConfigXml);
  if (fclose(pfile) != 0 || iWrite != 0)
    AKS(AKSFatal, AK_HERE, "fclose( \"%s\" ) = EOF: %s", sPath.c_str(), strerror(errno));
}

// Reads a template; an empty memento when it does not open or does not close.
bool ReadTemplate(const std::string& sPath, KSWinMemento* pmem) {
  FILE* pfile = fopen(sPath.c_str(), "rb");
  if (!pfile) return false;
  KSWinMemento mem = KSWinMemento::ReadXml(sPath.c_str(), pfile);
  if (fclose(pfile) != 0) {
    AKS(AKSTrace, AK_HERE, "fclose( \"%s\" ) = EOF: %s", sPath.c_str(), strerror(errno));
    return false;
  }
  *pmem = std::move(mem);
  return true;
}

}  // namespace

KSWinFactory& KSWinFactory::Get() {
  static KSWinFactory* pfactory = new KSWinFactory;  // lives until the process ends
  return *pfactory;
}

void KSWinFactory::Init(const char* pszUser, const char* pszTemplateDir, const char* pszAppName, KSWin** ppwinFirst) {
  sUser_ = pszUser ? pszUser : "";
  sTemplateDir_ = pszTemplateDir ? pszTemplateDir : "";
  sAppName_ = pszAppName ? pszAppName : "";
  ppwinFirst_ = ppwinFirst;
}

bool KSWinFactory::LoadUserOrDefaultWorkspace(const char* pszUser, const char* pszDefault) {
  sUserPath_ = Expand(pszUser);
  sDefaultPath_ = Expand(pszDefault);
  return LoadWorkspace(sUserPath_.c_str()) || LoadWorkspace(sDefaultPath_.c_str());
}

bool KSWinFactory::LoadWorkspace(const char* pszPath) {
  std::string sPath = Expand(pszPath);
  AKS(AKSTrace, AK_HERE, "opening workspace \"%s\"", sPath.c_str());
  FILE* pfile = fopen(sPath.c_str(), "rb");
  if (!pfile) {
    AKS(AKSTrace, AK_HERE, "fopen( \"%s\", \"rb\" ) = NULL: %s", sPath.c_str(), strerror(errno));
    return false;
  }
  KSWinMemento mem = KSWinMemento::ReadXml(sPath.c_str(), pfile);
  KSWinMemento memWorkspace = mem.Sub("Workspace");
  if (fclose(pfile) != 0) {
    AKS(AKSTrace, AK_HERE, "fclose( \"%s\" ) = EOF: %s", sPath.c_str(), strerror(errno));
    return false;
  }
  int nWindows = memWorkspace.GetInt("Window_Count", KSWinMissing);
  if (nWindows == KSWinMissing) {
    AKS(AKSTrace, AK_HERE, "Workspace \"%s\" doesn't define Workspace.Window_Count", sPath.c_str());
    return false;
  }
  // A negative count defines no windows either: start-up must fall back, not run windowless.
  if (nWindows <= 0) {
    AKS(AKSTrace, AK_HERE, "Workspace \"%s\" doesn't define any windows", sPath.c_str());
    return false;
  }
  for (int i = 0; i < nWindows; ++i) {
    char szSub[32];
    snprintf(szSub, sizeof szSub, "Window%d", i);
    // A count beyond the saved windows would otherwise ask for windows of no type, one box each.
    if (!memWorkspace.HasSub(szSub)) {
      AKS(AKSTrace, AK_HERE, "Workspace \"%s\" has no %s", sPath.c_str(), szSub);
      continue;
    }
    KSWinMemento memWindow = memWorkspace.Sub(szSub);
    CreateWindowFromState(memWindow);
  }
  return true;
}

void KSWinFactory::SaveWorkspace(const char* pszPath) {
  KSWinMemento mem;
  KSWinMemento memWorkspace = mem.Sub("Workspace");
  memWorkspace.SetInt("Window_Count", static_cast<int>(apwin_.size()));
  for (size_t i = 0; i < apwin_.size(); ++i) {
    char szSub[32];
    snprintf(szSub, sizeof szSub, "Window%d", static_cast<int>(i));
    KSWinMemento memWindow = memWorkspace.Sub(szSub);
    apwin_[i]->SaveState(memWindow);
  }
  std::string sPath = Expand(pszPath);
  AKS(AKSTrace, AK_HERE, "saving workspace to \"%s\"", sPath.c_str());
  WriteXml(mem, sPath);
}

void KSWinFactory::SaveUserWorkspace() { SaveWorkspace(sUserPath_.c_str()); }

KSWin* KSWinFactory::CreateWindowOfType(const char* pszType, KSWinMemento& mem) {
  KSWinType* ptype = pszType ? FindType(pszType) : nullptr;
  if (!ptype) {
    char sz[1200];
    snprintf(sz, sizeof sz, "The application asked to open a window of type \"%s\", which doesn't exist.",
             pszType ? pszType : "NULL");
    AKS(AKSStatus, AK_HERE, "%s", sz);
    if (psystem_) psystem_->WarningBox(sAppName_.c_str(), sz);
    return nullptr;
  }
  if (ptype->bSingleInstance && !ptype->apwin.empty()) {
    ptype->apwin.front()->PlatformRaise();
    return ptype->apwin.front();
  }
  KSWin* pwin = ptype->pfnCreate(ptype, mem);
  ptype->apwin.push_back(pwin);
  apwin_.push_back(pwin);
  KSWin* pwinOwner = ppwinFirst_ ? nullptr : FirstWindow();
  if (ppwinFirst_ && !*ppwinFirst_) *ppwinFirst_ = pwin;
  pwin->Create(*this, pwinOwner == pwin ? nullptr : pwinOwner);
  return pwin;
}

KSWin* KSWinFactory::CreateWindowFromState(KSWinMemento& mem) {
  return CreateWindowOfType(mem.Has("WindowType") ? mem.GetString("WindowType") : nullptr, mem);
}

std::string KSWinFactory::UserTemplate(const char* pszType) const {
  return SavedTemplateDir() + "/" + pszType + "-" + sUser_ + ".xml";
}

std::string KSWinFactory::DefaultTemplate(const char* pszType) const { return sTemplateDir_ + "/" + pszType + ".xml"; }

std::string KSWinFactory::VariantTemplate(const char* pszType, const char* pszVariant) const {
  if (!pszVariant || !*pszVariant) return UserTemplate(pszType);
  if (strcmp(pszVariant, "default") == 0) return SavedTemplateDir() + "/" + pszType + ".xml";
  return SavedTemplateDir() + "/" + pszType + "-" + sUser_ + "-" + pszVariant + ".xml";
}

KSWin* KSWinFactory::OpenWindow(const char* pszType) {
  KSWinMemento mem;
  std::string sUser = UserTemplate(pszType);
  AKS(AKSTrace, AK_HERE, "checking for user template \"%s\"", sUser.c_str());
  std::string sSavedDefault = VariantTemplate(pszType, "default");
  if (!ReadTemplate(sUser, &mem) && (sSavedDefault == DefaultTemplate(pszType) || !ReadTemplate(sSavedDefault, &mem))) {
    std::string sDefault = DefaultTemplate(pszType);
    AKS(AKSTrace, AK_HERE, "checking for default template \"%s\"", sDefault.c_str());
    ReadTemplate(sDefault, &mem);
  }
  return CreateWindowOfType(pszType, mem);
}

KSWin* KSWinFactory::FindWindowOfType(const char* pszType) {
  KSWinType* ptype = FindType(pszType);
  return ptype && !ptype->apwin.empty() ? ptype->apwin.front() : nullptr;
}

void KSWinFactory::SaveTemplate(KSWin* pwin, const char* pszVariant) {
  KSWinMemento mem;
  pwin->SaveState(mem);
  WriteXml(mem, VariantTemplate(pwin->Type()->sName.c_str(), pszVariant));
}

KSWin* KSWinFactory::FirstWindow() { return apwin_.empty() ? nullptr : apwin_.front(); }

void KSWinFactory::RegisterType(KSWinType* ptype) {
  if (FindType(ptype->sName.c_str())) {
    AKS(AKSFatal, AK_HERE, "Multiple window types named '%s'", ptype->sName.c_str());
    return;
  }
  aptype_.push_back(ptype);
}

KSWinType* KSWinFactory::FindType(const char* pszName) {
  for (KSWinType* ptype : aptype_)
    if (ptype->sName == pszName) return ptype;
  return nullptr;
}

void KSWinFactory::RemoveWindow(KSWin* pwin) {
  std::vector<KSWin*>& apwinType = pwin->Type()->apwin;
  apwinType.erase(std::remove(apwinType.begin(), apwinType.end(), pwin), apwinType.end());
  bool bWasThere = std::find(apwin_.begin(), apwin_.end(), pwin) != apwin_.end();
  apwin_.erase(std::remove(apwin_.begin(), apwin_.end(), pwin), apwin_.end());
  if (ppwinFirst_ && *ppwinFirst_ == pwin) *ppwinFirst_ = nullptr;
  if (bWasThere && apwin_.empty()) LastWindowRemoved();
}
