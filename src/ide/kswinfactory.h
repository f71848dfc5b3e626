// The window factory: the window types by name, the open windows in creation order, windows
// made from saved state and templates, and workspaces (the whole arrangement saved and restored).
#pragma once

#include <string>
#include <vector>

#include "ide/kswin.h"
#include "ide/kswinmemento.h"

class KSWinFactory {
 public:
  // The process's factory, created on first use (types register into it statically).
  static KSWinFactory& Get();
  KSWinFactory() = default;
  virtual ~KSWinFactory() = default;
  KSWinFactory(const KSWinFactory&) = delete;
  KSWinFactory& operator=(const KSWinFactory&) = delete;

  // The window system the windows are created on; must be set before the first window.
  void SetSystem(KSWinSystem* psystem) { psystem_ = psystem; }
  KSWinSystem* System() { return psystem_; }

  virtual void Init(const char* pszUser, const char* pszTemplateDir, const char* pszAppName, KSWin** ppwinFirst);
  virtual bool LoadWorkspace(const char* pszPath);
  virtual bool LoadUserOrDefaultWorkspace(const char* pszUser, const char* pszDefault);
  virtual void SaveWorkspace(const char* pszPath);
  virtual void SaveUserWorkspace();
  virtual KSWin* CreateWindowOfType(const char* pszType, KSWinMemento& mem);
  virtual KSWin* CreateWindowFromState(KSWinMemento& mem);
  virtual KSWin* OpenWindow(const char* pszType);
  virtual KSWin* FindWindowOfType(const char* pszType);
  virtual void SaveTemplate(KSWin* pwin, const char* pszVariant);
  virtual KSWin* FirstWindow();
  virtual void RegisterType(KSWinType* ptype);
  virtual KSWinType* FindType(const char* pszName);
  virtual void RemoveWindow(KSWin* pwin);
  virtual void LastWindowRemoved() {}

  const std::vector<KSWin*>& Windows() const { return apwin_; }
  const std::string& UserName() const { return sUser_; }
  const std::string& UserWorkspace() const { return sUserPath_; }
  const std::string& DefaultWorkspace() const { return sDefaultPath_; }
  // The template file names: the user's and the default one for a type, and where SaveTemplate
  // writes a variant (default: the type's default template; empty: the user's).
  std::string UserTemplate(const char* pszType) const;
  std::string DefaultTemplate(const char* pszType) const;
  std::string VariantTemplate(const char* pszType, const char* pszVariant) const;
  // Where the templates a user saves go (a read-only installation's user keeps them at home),
  // looked in before the template directory; empty: the template directory itself.
  void SetUserTemplateDir(const std::string& sDir) { sUserTemplateDir_ = sDir; }

 private:
  KSWinSystem* psystem_ = nullptr;
  std::string sUser_, sTemplateDir_, sAppName_, sUserPath_, sDefaultPath_, sUserTemplateDir_;
  const std::string& SavedTemplateDir() const { return sUserTemplateDir_.empty() ? sTemplateDir_ : sUserTemplateDir_; }
  KSWin** ppwinFirst_ = nullptr;
  std::vector<KSWinType*> aptype_;
  std::vector<KSWin*> apwin_;
};
