// The patch editor window: tabs and their icons, the File menu, dialogs, and the calls from the
// application and the main window.
#include "ide/patchsheet.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

#include "app/appcore.h"
#include "formula/errorlist.h"
#include "foundation/akpaths.h"
#include "foundation/akstatus.h"
#include "ide/ideapp.h"
#include "ide/kswinfactory.h"
#include "ide/patchpagewidget.h"

namespace {

KSWinTypeTmpl<PatchSheet> typePatchSheet(kTypeEditor, true);

constexpr int kIconSize = 16;

// What each icon says, for the status log.
const char* const kapszIcon[kNumTabIcons] = {
    "compiled OK, saved",        "compiled OK, not saved",        "compiled with errors, saved",
    "compiled with errors, not saved", "edited since compile, saved", "edited since compile, not saved",
    "package, saved",            "package, not saved"};

// A sheet of paper with a disc for the compile state (a tick, a bar, a dot), or a parcel for a
// package; a file not saved has a blue star in its top left corner.
QIcon DrawTabIcon(int iIcon) {
  QPixmap pixmap(kIconSize, kIconSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  if (iIcon < 6) {
    painter.setPen(QPen(QColor(90, 90, 90), 1));
    painter.setBrush(Qt::white);
    QPolygonF sheet({{2.5, 0.5}, {10.5, 0.5}, {13.5, 3.5}, {13.5, 15.5}, {2.5, 15.5}});
    painter.drawPolygon(sheet);
    painter.setPen(QPen(QColor(170, 170, 170), 1));
    for (int y : {4, 6}) painter.drawLine(QPointF(4.5, y + 0.5), QPointF(10.5, y + 0.5));
    static const QColor kacolorState[3] = {QColor(0, 150, 0), QColor(220, 0, 0), QColor(230, 150, 0)};
    int iState = iIcon / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(kacolorState[iState]);
    painter.drawEllipse(QRectF(7, 8, 8, 8));
    painter.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    if (iState == 0) painter.drawPolyline(QPolygonF({{8.8, 12.0}, {10.5, 13.7}, {13.3, 10.2}}));
    if (iState == 1) painter.drawLine(QPointF(11, 9.8), QPointF(11, 12.4)), painter.drawPoint(QPointF(11, 14.3));
    if (iState == 2) painter.drawLine(QPointF(9.2, 12), QPointF(12.8, 12));
  } else {
    painter.setPen(QPen(QColor(110, 70, 20), 1));
    painter.setBrush(QColor(205, 155, 85));
    painter.drawRect(QRectF(1.5, 4.5, 13, 10));
    painter.drawLine(QPointF(1.5, 7.5), QPointF(14.5, 7.5));
    painter.setPen(QPen(QColor(110, 70, 20), 2));
    painter.drawLine(QPointF(8, 4.5), QPointF(8, 14.5));
  }
  if (iIcon % 2 == 1) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 60, 220));
    QPainterPath star;
    for (int i = 0; i < 10; ++i) {
      double dAngle = i * M_PI / 5 - M_PI / 2, dRadius = i % 2 ? 1.6 : 3.8;
      QPointF point(4 + dRadius * cos(dAngle), 4 + dRadius * sin(dAngle));
      if (i == 0) star.moveTo(point);
      else star.lineTo(point);
    }
    star.closeSubpath();
    painter.drawPath(star);
  }
  return QIcon(pixmap);
}

// The eight images, made once for every editor.
const QIcon& TabIcon(int iIcon) {
  static const std::vector<QIcon> aicon = [] {
    std::vector<QIcon> a;
    for (int i = 0; i < kNumTabIcons; ++i) a.push_back(DrawTabIcon(i));
    return a;
  }();
  return aicon[static_cast<size_t>(std::clamp(iIcon, 0, kNumTabIcons - 1))];
}

PatchSheetServices AppServices() {
  CVantrelExplorerApp* papp = CVantrelExplorerApp::Get();
  PatchSheetServices services;
  services.sInstallDir = papp->InstallDir();
  services.sHistoryDir = AKWriteDir(AKPlaceEditHistory);
  services.sUserPatchDir = AKWriteDir(AKPlaceUserPatch);
  services.pfnLoadPatch = [papp](const std::string& sPath, int iChannel, bool bShow) {
    return papp->LoadPatch(sPath.c_str(), iChannel, bShow, -1, nullptr);
  };
  services.pfnSlot = [papp](int iChannel, std::string* psPath, std::string* psText) {
    AKArray<PatchSlot>& aslot = papp->Core()->Slots();
    if (iChannel < 0 || iChannel >= aslot.N() || !aslot[iChannel].pszText) return false;
    *psPath = aslot[iChannel].szPath;
    *psText = aslot[iChannel].pszText;
    return true;
  };
  services.pfnNow = [] {
    time_t t = time(nullptr);
    struct tm tmNow;
    localtime_r(&t, &tmNow);
    return tmNow;
  };
  return services;
}

}  // namespace

PatchSheet::PatchSheet(KSWinType* ptype, KSWinMemento& mem) : KSWinQt(ptype, mem) {}

PatchSheet::~PatchSheet() {
  // The frame and the pages go later (with the event loop); they must not call back into this.
  plife_.reset();
  if (Frame())
    for (PatchPageWidget* pwidget : apwidget_) pwidget->SetChangeHandler(nullptr);
  pmodel_.reset();
}

void PatchSheet::BuildControls(QMainWindow* pframe) {
  ptabs_ = new QTabWidget(pframe);
  ptabs_->setIconSize(QSize(kIconSize, kIconSize));
  pframe->setCentralWidget(ptabs_);
  BuildMenu(pframe);
  QObject::connect(ptabs_, &QTabWidget::currentChanged, pframe, [this](int iTab) {
    if (!bSelecting_ && pmodel_) pmodel_->SelectTab(iTab);
  });
  pmodel_ = std::make_unique<PatchSheetModel>(*this, AppServices());
  pframe->setWindowIcon(QApplication::windowIcon());
  // The creation step titles a new window after its type; the page's title comes back after it.
  QTimer::singleShot(0, pframe, [this, plife = std::weak_ptr<int>(plife_)] {
    if (plife.expired()) return;
    if (PatchPage* ppage = pmodel_->Current()) SetWindowTitle("Editor: " + ppage->sTitle);
  });
}

void PatchSheet::BuildMenu(QMainWindow* pframe) {
  QMenu* pmenuFile = pframe->menuBar()->addMenu("&File");
  QObject::connect(pmenuFile, &QMenu::aboutToShow, pframe, [] { AKS(AKSTrace, AK_HERE, "editor: menu opened: File"); });
  pmenuFile->addAction("&New Patch", QKeySequence("Ctrl+N"), [this] { pmodel_->NewPatch(); });
  pmenuFile->addAction("&New Package", [this] { pmodel_->NewPackage(); });
  pmenuFile->addAction("&Open...", QKeySequence("Ctrl+O"), [this] { pmodel_->Open(); });
  pmenuFile->addAction("&Save", QKeySequence("Ctrl+S"), [this] { pmodel_->Save(); });
  pmenuFile->addAction("Save &As...", [this] { pmodel_->SaveAs(); });
  pmenuFile->addAction("&Load Edit", QKeySequence("F5"), [this] {
    AKS(AKSTrace, AK_HERE, "editor: Load Edit");
    pmodel_->Apply();
  });
  pmenuFile->addSeparator();
  pmenuFile->addAction("&Close", [this] { CloseRequested(); });
  // Undo and redo act on the current page; they reach back across Apply, which leaves the text.
  QMenu* pmenuEdit = pframe->menuBar()->addMenu("&Edit");
  pmenuEdit->addAction("&Undo", [this] {
    if (PatchPageWidget* pwidget = CurrentWidget()) pwidget->Editor()->undo();
  });
  pmenuEdit->addAction("&Redo", [this] {
    if (PatchPageWidget* pwidget = CurrentWidget()) pwidget->Editor()->redo();
  });
}

PatchPageWidget* PatchSheet::CurrentWidget() {
  int i = ptabs_ ? ptabs_->currentIndex() : -1;
  return i >= 0 && i < static_cast<int>(apwidget_.size()) ? apwidget_[static_cast<size_t>(i)] : nullptr;
}

void PatchSheet::CloseRequested() {
  if (QuerySave()) Close();
}

bool PatchSheet::QuerySave() { return pmodel_->QuerySave(); }

void PatchSheet::ClearErrorMarks() { pmodel_->ClearErrorMarks(); }

void PatchSheet::MarkErrorLine(int iLine) {
  pmodel_->MarkErrorLine(iLine);
  if (bUnderlinePending_ || !Frame()) return;
  bUnderlinePending_ = true;
  QTimer::singleShot(0, Frame(), [this, plife = std::weak_ptr<int>(plife_)] {
    if (!plife.expired()) UnderlineErrors();
  });
}

void PatchSheet::UnderlineErrors() {
  bUnderlinePending_ = false;
  PatchPageWidget* pwidget = CurrentWidget();
  PatchPage* ppage = pmodel_->Current();
  if (!pwidget || !ppage || !ppage->bPatch) return;
  ErrorList* perrors = ErrorList::Get();
  perrors->Lock();
  for (const ErrorListNode& node : perrors->anode)
    if (node.iLine >= 1 && !node.pszLineFile && node.psz && pwidget->IsErrorLine(node.iLine - 1))
      pwidget->UnderlineError(node.iLine - 1, node.psz);
  perrors->Unlock();
}

void PatchSheet::GoToLine(int iLine) { pmodel_->GoToLine(iLine); }

void PatchSheet::ShowPatch(int iChannel, const char* pszPath, const char* pszText) {
  AKS(AKSTrace, AK_HERE, "editor: showing \"%s\"", pszPath);
  pmodel_->ShowPatchText(iChannel, pszPath, pszText);
}

void PatchSheet::SetCompileErrors(int iChannel) { pmodel_->ShowCompileErrors(iChannel); }

void PatchSheet::OpenPackage(const char* pszPath) { pmodel_->OpenPackageFile(pszPath); }

PatchPageView* PatchSheet::AddPageView(int iIcon, const std::string& sTabText) {
  auto* pwidget = new PatchPageWidget(ptabs_);
  size_t iPage = apwidget_.size();
  apwidget_.push_back(pwidget);
  pwidget->SetChangeHandler([this, iPage] {
    if (pmodel_ && iPage < pmodel_->Pages().size()) pmodel_->Pages()[iPage]->TextChanged();
  });
  pwidget->Editor()->pfnHelp = [](const std::string& sType) {
    if (sType.empty()) return;
    if (HelpApi* phelp = OpenHelp(KSWinFactory::Get())) phelp->ShowTopic(sType.c_str());
    else AKS(AKSTrace, AK_HERE, "editor: no help window for \"%s\"", sType.c_str());
  };
  bSelecting_ = true;
  ptabs_->addTab(pwidget, TabIcon(iIcon), QString::fromStdString(sTabText));
  bSelecting_ = false;
  return pwidget;
}

void PatchSheet::SetTabIcon(int iTab, int iIcon) {
  ptabs_->setTabIcon(iTab, TabIcon(iIcon));
  AKS(AKSTrace, AK_HERE, "editor: tab %d icon: %s", iTab, kapszIcon[std::clamp(iIcon, 0, kNumTabIcons - 1)]);
}

void PatchSheet::SetTabText(int iTab, const std::string& s) { ptabs_->setTabText(iTab, QString::fromStdString(s)); }

void PatchSheet::ShowPage(int iTab) {
  bSelecting_ = true;
  ptabs_->setCurrentIndex(iTab);
  bSelecting_ = false;
  if (iTab >= 0 && iTab < static_cast<int>(apwidget_.size())) apwidget_[static_cast<size_t>(iTab)]->PutCaretAtEnd();
  PlatformRedraw();
}

void PatchSheet::SetWindowTitle(const std::string& s) {
  if (s == Title()) return;
  SetTitle("%s", s.c_str());
  AKS(AKSTrace, AK_HERE, "editor: title: %s", s.c_str());
}

SaveAnswer PatchSheet::AskSave(const std::string& sTitle, const std::string& sText) {
  QMessageBox::StandardButton button =
      QMessageBox::question(Frame(), QString::fromStdString(sTitle), QString::fromStdString(sText),
                            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
  return button == QMessageBox::Yes ? SaveAnswer::Yes : button == QMessageBox::No ? SaveAnswer::No : SaveAnswer::Cancel;
}

void PatchSheet::MessageBox(const std::string& sTitle, const std::string& sText) {
  AKS(AKSTrace, AK_HERE, "editor: message box \"%s\": %s", sTitle.c_str(), sText.c_str());
  QMessageBox::warning(Frame(), QString::fromStdString(sTitle), QString::fromStdString(sText));
}

namespace {

bool ChooseFile(QWidget* pparent, bool bSave, const char* pszExtension, const std::string& sInitial, std::string* psPath) {
  QFileDialog dialog(pparent, bSave ? "Save As" : "Open");
  dialog.setAcceptMode(bSave ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(bSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(pszExtension);
  bool bPatch = strcmp(pszExtension, "vantrel") == 0;
  dialog.setNameFilters({bPatch ? "Patches (*.vantrel)" : "Packages (*.vanpack)", "All files (*)"});
  if (!sInitial.empty()) dialog.selectFile(QString::fromStdString(sInitial));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  *psPath = dialog.selectedFiles().front().toStdString();
  return true;
}

}  // namespace

bool PatchSheet::ChooseSaveFile(const char* pszExtension, const std::string& sInitial, std::string* psPath) {
  return ChooseFile(Frame(), true, pszExtension, sInitial, psPath);
}

bool PatchSheet::ChooseOpenFile(const char* pszExtension, const std::string& sInitial, std::string* psPath) {
  return ChooseFile(Frame(), false, pszExtension, sInitial, psPath);
}
