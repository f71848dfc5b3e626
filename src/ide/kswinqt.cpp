// KSWin over Qt: the frame window, placement, titles, resize and close notifications.
#include "ide/kswinqt.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QResizeEvent>
#include <QScreen>

#include "foundation/akstatus.h"

KSRect KSQtSystem::VirtualScreen() {
  QRect rect;
  for (QScreen* pscreen : QGuiApplication::screens()) rect = rect.united(pscreen->geometry());
  if (rect.isEmpty()) return {0, 0, 1 << 20, 1 << 20};  // no screen known: place as saved
  return {rect.x(), rect.y(), rect.width(), rect.height()};
}

void KSQtSystem::WarningBox(const char* pszTitle, const char* pszText) {
  auto* pbox = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(pszTitle), QString::fromUtf8(pszText),
                               QMessageBox::Ok);
  pbox->setAttribute(Qt::WA_DeleteOnClose);
  pbox->setWindowModality(Qt::NonModal);  // a message box is application-modal unless told otherwise
  pbox->show();
}

KSQtFrame::KSQtFrame(KSWinQt* pwin, QWidget* pwidgetOwner) : QMainWindow(pwidgetOwner, Qt::Window), pwin_(pwin) {}

void KSQtFrame::resizeEvent(QResizeEvent* pevent) {
  QMainWindow::resizeEvent(pevent);
  if (pwin_) pwin_->Resized(pevent->size().width(), pevent->size().height());
}

void KSQtFrame::closeEvent(QCloseEvent* pevent) {
  // The window decides: it may close itself (and this frame with it) or stay.
  pevent->ignore();
  if (pwin_) pwin_->CloseRequested();
}

KSWinQt::~KSWinQt() { PlatformDestroy(); }

void KSWinQt::PlatformCreate(KSWin* pwinOwner) {
  auto* pwinqtOwner = dynamic_cast<KSWinQt*>(pwinOwner);
  pframe_ = new KSQtFrame(this, pwinqtOwner ? pwinqtOwner->Frame() : nullptr);
  BuildControls(pframe_);
}

void KSWinQt::PlatformPlace(const KSRect& rect) {
  if (!pframe_) return;
  pframe_->move(rect.iX, rect.iY);
  pframe_->resize(rect.iWidth, rect.iHeight);
}

void KSWinQt::PlatformShow() {
  if (pframe_) pframe_->show();
}

void KSWinQt::PlatformSetText(const char* psz) {
  sWindowText_ = psz;
  if (pframe_) pframe_->setWindowTitle(QString::fromUtf8(psz));
}

void KSWinQt::PlatformRaise() {
  if (!pframe_) return;
  if (pframe_->isMinimized()) pframe_->showNormal();
  pframe_->raise();
  pframe_->activateWindow();
}

KSRect KSWinQt::PlatformRect() {
  if (!pframe_) return {};
  return {pframe_->x(), pframe_->y(), pframe_->width(), pframe_->height()};
}

void KSWinQt::PlatformRedraw() {
  if (pframe_) pframe_->update();
}

void KSWinQt::PlatformDestroy() {
  if (!pframe_) return;
  pframe_->Detach();
  pframe_->hide();
  pframe_->deleteLater();  // it may be inside one of its own event handlers
  pframe_ = nullptr;
}

void KSWinQt::Anchor(QWidget* pwidget, int iHorizontal, int iVertical) {
  if (!pwidget) {
    AKS(AKSWarn, AK_HERE, "KSWin::Attach(): NULL pwnd");
    return;
  }
  QRect r = pwidget->geometry();
  KSRect rect = KSAnchorRect({r.x(), r.y(), r.width(), r.height()}, iHorizontal, iVertical, WidthChange(), HeightChange());
  pwidget->setGeometry(rect.iX, rect.iY, rect.iWidth, rect.iHeight);
}

namespace {
constexpr const char* kIdProperty = "KSControlId";
}

void KSWinQt::SetControlId(QWidget* pwidget, int iId) { pwidget->setProperty(kIdProperty, iId); }

void KSWinQt::Anchor(int iId, int iHorizontal, int iVertical) {
  if (pframe_)
    for (QWidget* pwidget : pframe_->findChildren<QWidget*>())
      if (pwidget->property(kIdProperty).toInt() == iId && pwidget->property(kIdProperty).isValid()) {
        Anchor(pwidget, iHorizontal, iVertical);
        return;
      }
  AKS(AKSWarn, AK_HERE, "KSWin::Attach(): no window with ID %d", iId);
}
