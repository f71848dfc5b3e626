// The patch editor's logic without the window: the pages (one per patch channel, one per open
// package), each with its saved and compiled states, and the operations of the editor's menu.
// The window (patchsheet.h) supplies the text controls and dialogs through the views below;
// tests supply fakes.
#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ide/patchtext.h"

// One page's text control.
class PatchPageView {
 public:
  virtual ~PatchPageView() = default;
  virtual std::string Text() = 0;
  // Puts the text in, scrolled to the first line with the caret at the start.
  virtual void SetText(const std::string& sText) = 0;
  virtual void SetFileNameLine(const std::string& s) = 0;
  virtual void SetStatusLine(const std::string& s) = 0;
  // Formats a line (from 0) by its kind, red when it is an error line.
  virtual void ColorLine(int iLine, bool bError) = 0;
  // Every line by its kind: the error marks go.
  virtual void ColorAll() = 0;
  virtual int CaretLine() = 0;
  // Caret to the start of a line (from 0).
  virtual void PutCaretAtLine(int iLine) = 0;
};

// The editor window as its pages need it.
enum class SaveAnswer { Yes, No, Cancel };
class PatchSheetView {
 public:
  virtual ~PatchSheetView() = default;
  // A new tab at the end, with the icon and text given; answers the page's text control.
  virtual PatchPageView* AddPageView(int iIcon, const std::string& sTabText) = 0;
  virtual void SetTabIcon(int iTab, int iIcon) = 0;
  virtual void SetTabText(int iTab, const std::string& s) = 0;
  // The layout step: the tab's page shown and focused, the caret at the end of its text.
  virtual void ShowPage(int iTab) = 0;
  virtual void SetWindowTitle(const std::string& s) = 0;
  virtual SaveAnswer AskSave(const std::string& sTitle, const std::string& sText) = 0;
  virtual void MessageBox(const std::string& sTitle, const std::string& sText) = 0;
  // File dialogs: false when cancelled.
  virtual bool ChooseSaveFile(const char* pszExtension, const std::string& sInitial, std::string* psPath) = 0;
  virtual bool ChooseOpenFile(const char* pszExtension, const std::string& sInitial, std::string* psPath) = 0;
};

// What the editor needs of the application.
struct PatchSheetServices {
  std::string sInstallDir;
  // Where applied copies go, and where a new patch is first saved (inside the installation, or
  // the user's own folders when the installation is read-only).
  std::string sHistoryDir, sUserPatchDir;
  // LoadPatch (path, channel index, shown, default benchmark): 0 or -1.
  std::function<int(const std::string& sPath, int iChannel, bool bShow)> pfnLoadPatch;
  // The path and text of a channel's slot; false when the channel holds no patch.
  std::function<bool(int iChannel, std::string* psPath, std::string* psText)> pfnSlot;
  std::function<struct tm()> pfnNow;  // local time
};

class PatchSheetModel;

class PatchPage {
 public:
  PatchPage(PatchSheetModel& sheet, int iTab, int iChannel, PatchPageView& view);

  bool QueryPageSave();
  void ShowText(int iChannel, const std::string& sPath, const std::string& sText);
  void MarkCompileErrors();
  int LoadIntoChannel(const std::string& sPath);
  int SaveTo(const std::string& sPath, bool bHistoryCopy);
  void SetFileName(const std::string& sPath);
  void ColorLine(int iLine, bool bError) { view_.ColorLine(iLine, bError); }
  void ColorAll() { view_.ColorAll(); }
  // Patch lines count from 1; -1 does nothing.
  void GoToLine(int iPatchLine);
  void MarkErrorLine(int iPatchLine);
  void RefreshStatus();
  void NewPatch();
  void Open();
  void Save();
  void SaveAs();
  void ApplyWithHistory();
  // Every change notification of the text control.
  void TextChanged();

  int iTab;
  int iChannel;  // -1 for a package page
  bool bPatch;
  bool bNotSaved = false;
  std::string sPath;
  std::string sTitle;
  int iCompileState = kCompiledOk;
  int iLastCompileResult = kCompiledOk;
  std::string sCompiledText;
  std::string sSavedText;
  std::string sLastSeenText;
  bool bLastSeen = false;  // absent after a load
  int iIcon;
  PatchPageView& View() { return view_; }

 private:
  bool IsTemplatePath() const;
  PatchSheetModel& sheet_;
  PatchPageView& view_;
};

class PatchSheetModel {
 public:
  // Creates the patch page of channel 0, showing the slot's patch if the channel holds one.
  PatchSheetModel(PatchSheetView& view, PatchSheetServices services);

  // The current page's save question; true without a page.
  bool QuerySave();
  void ShowPatchText(int iChannel, const std::string& sPath, const std::string& sText);
  void OpenPackageFile(const std::string& sPath);
  void ShowCompileErrors(int iChannel);
  void GoToLine(int iPatchLine);
  void MarkErrorLine(int iPatchLine);
  void ClearErrorMarks();
  void SetTabIcon(PatchPage& page, int iIcon);
  // A tab change (and the layout step): the page shown, the window titled after it.
  void SelectTab(int iTab);

  // The menu's commands.
  void Apply();
  void NewPatch();
  void NewPackage();
  void Open();
  void Save();
  void SaveAs();

  std::string NewPatchPath() const { return services_.sInstallDir + "/patch/New.vantrel"; }
  std::string NewPackagePath() const { return services_.sInstallDir + "/package/New.vanpack"; }
  PatchPage* Current();
  std::vector<std::unique_ptr<PatchPage>>& Pages() { return appage_; }
  PatchSheetView& View() { return view_; }
  const PatchSheetServices& Services() const { return services_; }
  // While the user has already answered a page's save question for the load under way, the
  // installation's own question is not asked again.
  bool bSaveAnswered = false;

 private:
  PatchSheetView& view_;
  PatchSheetServices services_;
  std::vector<std::unique_ptr<PatchPage>> appage_;
  int iCurrent_ = 0;
};
