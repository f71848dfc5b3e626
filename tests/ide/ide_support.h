// Fakes for the window framework's tests: windows that only remember what the window system was
// told, a window system with a fixed screen that records its warning boxes, and a patch editor.
#pragma once

#include <string>
#include <vector>

#include "ide/kswin.h"
#include "ide/kswinfactory.h"
#include "ide/windowapis.h"

class FakeSystem : public KSWinSystem {
 public:
  KSRect VirtualScreen() override { return rectScreen; }
  void WarningBox(const char* pszTitle, const char* pszText) override { asBox.push_back(std::string(pszTitle) + "|" + pszText); }
  KSRect rectScreen{0, 0, 1920, 1080};
  std::vector<std::string> asBox;
};

class FakeWin : public KSWin {
 public:
  FakeWin(KSWinType* ptype, KSWinMemento& mem) : KSWin(ptype, mem), sNote(mem.GetString("Note", "")) {}
  void PlatformRaise() override { ++nRaised; }
  void SaveState(KSWinMemento& mem) override {
    KSWin::SaveState(mem);
    if (!sNote.empty()) mem.SetString("Note", sNote.c_str());
  }
  std::string sNote;  // a key of the window's own
  int nRaised = 0;
};

class FakeEditor : public FakeWin, public PatchEditorApi {
 public:
  FakeEditor(KSWinType* ptype, KSWinMemento& mem) : FakeWin(ptype, mem) {}
  bool QuerySave() override {
    ++nQueries;
    return bSaveAccepted;
  }
  void ClearErrorMarks() override { aiMarked.clear(); }
  void MarkErrorLine(int iLine) override { aiMarked.push_back(iLine); }
  void GoToLine(int iLine) override { iWentTo = iLine; }
  void ShowPatch(int, const char*, const char*) override {}
  void SetCompileErrors(int) override {}
  void OpenPackage(const char*) override {}
  static inline bool bSaveAccepted = true;
  int nQueries = 0;
  std::vector<int> aiMarked;
  int iWentTo = -1;
};

// A factory with the window types of the application, made of fakes.
struct FakeFactory {
  FakeFactory() {
    factory.SetSystem(&system);
    factory.Init("test", sTemplateDir.c_str(), "VantrelExplorer", &pwinFirst);
  }
  explicit FakeFactory(const std::string& sTemplates) : sTemplateDir(sTemplates) {
    factory.SetSystem(&system);
    factory.Init("test", sTemplateDir.c_str(), "VantrelExplorer", &pwinFirst);
  }
  ~FakeFactory() {
    while (!factory.Windows().empty()) factory.Windows().back()->Close();
  }
  std::string sTemplateDir = "/nonexistent";
  FakeSystem system;
  KSWinFactory factory;
  KSWin* pwinFirst = nullptr;
  KSWinTypeTmpl<FakeWin> typeMain{kTypeMain, true, &factory};
  KSWinTypeTmpl<FakeEditor> typeEditor{kTypeEditor, true, &factory};
  KSWinTypeTmpl<FakeWin> typeScope{kTypeOscilloscope, false, &factory};
};
