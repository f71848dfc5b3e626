// The patch editor's pages and commands: saved and compiled states, saving, opening, applying
// with an edit history, package pages.
#include "ide/patchsheetmodel.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "formula/errorlist.h"
#include "foundation/akstatus.h"

namespace {

constexpr const char* kTitleSaving = "Error Saving";
constexpr const char* kTitleHistory = "Error Saving Temporary File";

std::string Format(const char* pszFormat, const std::string& s1, const std::string& s2 = "") {
  char sz[4096];
  snprintf(sz, sizeof sz, pszFormat, s1.c_str(), s2.c_str());
  return sz;
}

// The whole file, byte for byte; failures go to the error list as the user's messages.
bool ReadPackageFile(const std::string& sPath, std::string* psText) {
  struct stat st;
  if (stat(sPath.c_str(), &st) != 0) {
    ERRADD(-1, "stat( %s ): %s", sPath.c_str(), strerror(errno));
    return false;
  }
  FILE* pfile = fopen(sPath.c_str(), "rb");
  if (!pfile) {
    ERRADD(-1, "open( %s ): %s", sPath.c_str(), strerror(errno));
    return false;
  }
  psText->assign(static_cast<size_t>(st.st_size), '\0');
  size_t n = fread(psText->data(), 1, psText->size(), pfile);
  psText->resize(n);
  if (fclose(pfile) != 0) {
    ERRADD(-1, "close( %s ): %s", sPath.c_str(), strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

PatchPage::PatchPage(PatchSheetModel& sheet, int iTabIndex, int iChannelIndex, PatchPageView& view)
    : iTab(iTabIndex), iChannel(iChannelIndex), bPatch(iChannelIndex >= 0),
      iIcon(PatchTabIcon(iChannelIndex >= 0, kCompiledOk, false)), sheet_(sheet), view_(view) {}

bool PatchPage::IsTemplatePath() const {
  return sPath.empty() || sPath == sheet_.NewPatchPath() || sPath == sheet_.NewPackagePath();
}

bool PatchPage::QueryPageSave() {
  if (!bNotSaved) return true;
  bool bNew = sPath == sheet_.NewPatchPath();
  SaveAnswer answer =
      sheet_.View().AskSave("Save First?", bNew ? std::string("Save your new patch?") : Format("Save changes to %s?", sPath));
  if (answer == SaveAnswer::Yes) {
    if (bNew) SaveAs();
    else Save();
  }
  return answer != SaveAnswer::Cancel;
}

void PatchPage::ShowText(int iChannelIndex, const std::string& sPathShown, const std::string& sText) {
  (void)iChannelIndex;
  SetFileName(sPathShown);
  bNotSaved = false;
  iCompileState = iLastCompileResult = kCompiledOk;
  sCompiledText = sSavedText = sText;
  bLastSeen = false;
  sLastSeenText.clear();
  view_.SetText(sText);
  view_.ColorAll();
  RefreshStatus();
}

void PatchPage::MarkCompileErrors() {
  iCompileState = iLastCompileResult = kCompiledErrors;
  RefreshStatus();
}

int PatchPage::LoadIntoChannel(const std::string& sPathLoaded) {
  return sheet_.Services().pfnLoadPatch(sPathLoaded, iChannel, true);
}

int PatchPage::SaveTo(const std::string& sPathTo, bool bHistoryCopy) {
  std::string sText = PatchTextForSave(view_.Text());
  FILE* pfile = fopen(sPathTo.c_str(), "wb");
  if (!pfile) {
    int iError = errno;  // the log may set errno itself
    AKS(AKSWarn, AK_HERE, "fopen( \"%s\", \"wb\" ) = 0: %s", sPathTo.c_str(), strerror(iError));
    sheet_.View().MessageBox(kTitleSaving, Format("Cannot open file \"%s\": %s", sPathTo, strerror(iError)));
    return -1;
  }
  if (fwrite(sText.data(), 1, sText.size(), pfile) != sText.size()) {
    int iError = errno;
    AKS(AKSWarn, AK_HERE, "fputs() = 0: %s", strerror(iError));
    sheet_.View().MessageBox(kTitleSaving, Format("Cannot write file \"%s\": %s", sPathTo, strerror(iError)));
    fclose(pfile);
    return -1;
  }
  if (fclose(pfile) != 0) {
    int iError = errno;
    AKS(AKSWarn, AK_HERE, "fclose( \"%s\" ) = 0: %s", sPathTo.c_str(), strerror(iError));
    sheet_.View().MessageBox(kTitleSaving, Format("Cannot close file \"%s\": %s", sPathTo, strerror(iError)));
    return -1;
  }
  if (bHistoryCopy) return 0;
  bNotSaved = false;
  sSavedText = sLastSeenText = sText;
  bLastSeen = true;
  RefreshStatus();
  if (sPathTo != sPath) SetFileName(sPathTo);
  return 0;
}

void PatchPage::SetFileName(const std::string& sPathNew) {
  sPath = sPathNew;
  sTitle = PatchFileTitle(sPathNew);
  sheet_.View().SetTabText(iTab, sTitle);
  view_.SetFileNameLine("File Name: " + sPath);
  sheet_.View().SetWindowTitle("Editor: " + sTitle);
}

void PatchPage::GoToLine(int iPatchLine) {
  if (iPatchLine == -1) return;
  view_.PutCaretAtLine(iPatchLine - 1);
}

void PatchPage::MarkErrorLine(int iPatchLine) {
  if (iPatchLine >= 1) view_.ColorLine(iPatchLine - 1, true);
}

void PatchPage::RefreshStatus() {
  int iIconNew = PatchTabIcon(bPatch, iCompileState, bNotSaved);
  if (iIconNew != iIcon) {
    iIcon = iIconNew;
    sheet_.SetTabIcon(*this, iIcon);
  }
  view_.SetStatusLine(PatchStatusText(bPatch, iCompileState, bNotSaved));
}

void PatchPage::NewPatch() { LoadIntoChannel(sheet_.NewPatchPath()); }

void PatchPage::Open() {
  if (!QueryPageSave()) return;
  std::string sChosen;
  if (!sheet_.View().ChooseOpenFile(bPatch ? "vantrel" : "vanpack", sPath, &sChosen)) return;
  // A package page opens the package beside it: no patch is ever installed from one.
  if (!bPatch) {
    sheet_.OpenPackageFile(sChosen);
    return;
  }
  sheet_.bSaveAnswered = true;
  LoadIntoChannel(sChosen);
  sheet_.bSaveAnswered = false;
}

void PatchPage::Save() {
  if (IsTemplatePath()) SaveAs();
  else SaveTo(sPath, false);
}

void PatchPage::SaveAs() {
  std::string sChosen;
  // A new patch is first saved among the user's own, never over the template.
  std::string sInitial = IsTemplatePath() && !sheet_.Services().sUserPatchDir.empty()
                             ? sheet_.Services().sUserPatchDir + "/"
                             : sPath;
  if (!sheet_.View().ChooseSaveFile(bPatch ? "vantrel" : "vanpack", sInitial, &sChosen)) return;
  SetFileName(sChosen);
  SaveTo(sChosen, false);
}

void PatchPage::ApplyWithHistory() {
  if (!bPatch) return;
  struct tm tmNow = sheet_.Services().pfnNow();
  std::string sHistory;
  switch (PatchHistoryPath(sheet_.Services().sHistoryDir, sPath, tmNow, &sHistory)) {
    case HistoryRefusal::NoExtension:
      sheet_.View().MessageBox(kTitleHistory, Format("Didn't find a file name extenion in \"%s\"", sPath));
      return;
    case HistoryRefusal::HistoryFile:
      sheet_.View().MessageBox(
          kTitleHistory,
          Format("cannot edit a history file named \"%s\": %s; please save as a name without YYYYMMDD-HHMMSS", sPath,
                 strerror(errno)));
      return;
    case HistoryRefusal::NoFolder: AKS(AKSWarn, AK_HERE, "didn't find a / in \"%s\"", sPath.c_str()); return;
    case HistoryRefusal::None: break;
  }
  // The history folder is made on the first apply.
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(sHistory).parent_path(), error);
  if (SaveTo(sHistory, true) != 0) return;
  int iResult = sheet_.Services().pfnLoadPatch(sHistory, iChannel, false);
  iCompileState = iLastCompileResult = iResult == 0 ? kCompiledOk : kCompiledErrors;
  sCompiledText = view_.Text();
  RefreshStatus();
  if (iResult != 0) {
    AKS(AKSStatus, AK_HERE, "compilation errors so won't keep the history file");
    remove(sHistory.c_str());
  }
}

void PatchPage::TextChanged() {
  std::string sText = view_.Text();
  bool bChanged = !bLastSeen || sText != sLastSeenText;
  sLastSeenText = sText;
  bLastSeen = true;
  if (!bChanged) return;
  iCompileState = PatchTextSame(sText, sCompiledText) ? iLastCompileResult : kEditedSinceCompile;
  bNotSaved = !PatchTextSame(sText, sSavedText);
  RefreshStatus();
  view_.ColorLine(view_.CaretLine(), false);
}

PatchSheetModel::PatchSheetModel(PatchSheetView& view, PatchSheetServices services)
    : view_(view), services_(std::move(services)) {
  PatchPageView* ppageview = view_.AddPageView(PatchTabIcon(true, kCompiledOk, false), "Ch01");
  appage_.push_back(std::make_unique<PatchPage>(*this, 0, 0, *ppageview));
  std::string sPath, sText;
  if (services_.pfnSlot && services_.pfnSlot(0, &sPath, &sText)) appage_[0]->ShowText(0, sPath, sText);
  SelectTab(0);
}

PatchPage* PatchSheetModel::Current() {
  return iCurrent_ >= 0 && iCurrent_ < static_cast<int>(appage_.size()) ? appage_[static_cast<size_t>(iCurrent_)].get()
                                                                        : nullptr;
}

bool PatchSheetModel::QuerySave() {
  if (bSaveAnswered) return true;
  PatchPage* ppage = Current();
  return !ppage || ppage->QueryPageSave();
}

void PatchSheetModel::ShowPatchText(int iChannel, const std::string& sPath, const std::string& sText) {
  for (auto& ppage : appage_)
    if (ppage->iChannel == iChannel) ppage->ShowText(iChannel, sPath, sText);
}

void PatchSheetModel::ShowCompileErrors(int iChannel) {
  for (auto& ppage : appage_)
    if (ppage->iChannel == iChannel) ppage->MarkCompileErrors();
}

void PatchSheetModel::OpenPackageFile(const std::string& sPath) {
  for (auto& ppage : appage_)
    if (ppage->sPath == sPath) {
      SelectTab(ppage->iTab);
      return;
    }
  std::string sText;
  if (!ReadPackageFile(sPath, &sText)) return;
  int iTab = static_cast<int>(appage_.size());
  PatchPageView* ppageview = view_.AddPageView(PatchTabIcon(false, kCompiledOk, false), "PkgHere");
  appage_.push_back(std::make_unique<PatchPage>(*this, iTab, -1, *ppageview));
  SelectTab(iTab);
  appage_.back()->ShowText(-1, sPath, sText);
}

void PatchSheetModel::GoToLine(int iPatchLine) {
  if (PatchPage* ppage = Current()) ppage->GoToLine(iPatchLine);
}

void PatchSheetModel::MarkErrorLine(int iPatchLine) {
  if (PatchPage* ppage = Current()) ppage->MarkErrorLine(iPatchLine);
}

void PatchSheetModel::ClearErrorMarks() {
  if (PatchPage* ppage = Current()) ppage->ColorAll();
}

void PatchSheetModel::SetTabIcon(PatchPage& page, int iIcon) { view_.SetTabIcon(page.iTab, iIcon); }

void PatchSheetModel::SelectTab(int iTab) {
  if (iTab < 0 || iTab >= static_cast<int>(appage_.size())) {
    AKS(AKSWarn, AK_HERE, "got tab change to tab %d when I only have %d ppages", iTab, static_cast<int>(appage_.size()));
    return;
  }
  iCurrent_ = iTab;
  view_.ShowPage(iTab);
  view_.SetWindowTitle("Editor: " + appage_[static_cast<size_t>(iTab)]->sTitle);
}

void PatchSheetModel::Apply() {
  for (auto& ppage : appage_)
    if (!ppage->bPatch && ppage->bNotSaved) ppage->Save();
  for (auto& ppage : appage_) ppage->ApplyWithHistory();
}

void PatchSheetModel::NewPatch() {
  // A package page has no channel: the new patch goes to the patch page.
  PatchPage* ppage = Current();
  if (ppage && !ppage->bPatch) {
    SelectTab(0);
    ppage = Current();
  }
  if (ppage) ppage->NewPatch();
}

void PatchSheetModel::NewPackage() { OpenPackageFile(NewPackagePath()); }

void PatchSheetModel::Open() {
  if (PatchPage* ppage = Current()) ppage->Open();
}

void PatchSheetModel::Save() {
  if (PatchPage* ppage = Current()) ppage->Save();
}

void PatchSheetModel::SaveAs() {
  if (PatchPage* ppage = Current()) ppage->SaveAs();
}
