// The patch editor window ("Patch Editor"): a tab per page (Ch01 for the patch, package pages
// after it) with icons for the compile and saved states, the File menu with Apply on F5, and
// what the application and the main window ask of an editor.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ide/kswinqt.h"
#include "ide/patchsheetmodel.h"
#include "ide/windowapis.h"

class QTabWidget;
class PatchPageWidget;

class PatchSheet : public KSWinQt, public PatchEditorApi, public PatchSheetView {
 public:
  PatchSheet(KSWinType* ptype, KSWinMemento& mem);
  ~PatchSheet() override;

  // Close asks the save question first.
  void CloseRequested() override;
  PatchSheetModel* Model() { return pmodel_.get(); }

  // PatchEditorApi.
  bool QuerySave() override;
  void ClearErrorMarks() override;
  void MarkErrorLine(int iLine) override;
  void GoToLine(int iLine) override;
  void ShowPatch(int iChannel, const char* pszPath, const char* pszText) override;
  void SetCompileErrors(int iChannel) override;
  void OpenPackage(const char* pszPath) override;

  // PatchSheetView.
  PatchPageView* AddPageView(int iIcon, const std::string& sTabText) override;
  void SetTabIcon(int iTab, int iIcon) override;
  void SetTabText(int iTab, const std::string& s) override;
  void ShowPage(int iTab) override;
  void SetWindowTitle(const std::string& s) override;
  SaveAnswer AskSave(const std::string& sTitle, const std::string& sText) override;
  void MessageBox(const std::string& sTitle, const std::string& sText) override;
  bool ChooseSaveFile(const char* pszExtension, const std::string& sInitial, std::string* psPath) override;
  bool ChooseOpenFile(const char* pszExtension, const std::string& sInitial, std::string* psPath) override;

 protected:
  void BuildControls(QMainWindow* pframe) override;

 private:
  void BuildMenu(QMainWindow* pframe);
  // Underlines the stretches of the formula errors on the current page's marked lines; runs
  // after the main window has marked them (it holds the error list while it does).
  void UnderlineErrors();
  PatchPageWidget* CurrentWidget();

  QTabWidget* ptabs_ = nullptr;
  std::vector<PatchPageWidget*> apwidget_;
  std::unique_ptr<PatchSheetModel> pmodel_;
  std::shared_ptr<int> plife_ = std::make_shared<int>(0);  // gone once the window is: deferred calls check it
  bool bUnderlinePending_ = false;
  bool bSelecting_ = false;
};
