// The window framework on Qt: a KSWin whose window is a Qt main window, and the window system
// (screens, warning boxes) as Qt offers it.
#pragma once

#include <QMainWindow>
#include <QPointer>

#include "ide/kswin.h"

class QWidget;

class KSQtSystem : public KSWinSystem {
 public:
  // The rectangle that holds every monitor.
  KSRect VirtualScreen() override;
  // A warning box that does not hold up the caller.
  void WarningBox(const char* pszTitle, const char* pszText) override;
};

class KSWinQt;

// The Qt window of a KSWinQt: hands resizes and close requests to it.
class KSQtFrame : public QMainWindow {
 public:
  explicit KSQtFrame(KSWinQt* pwin, QWidget* pwidgetOwner);
  void Detach() { pwin_ = nullptr; }

 protected:
  void resizeEvent(QResizeEvent* pevent) override;
  void closeEvent(QCloseEvent* pevent) override;

 private:
  KSWinQt* pwin_;
};

class KSWinQt : public KSWin {
 public:
  KSWinQt(KSWinType* ptype, KSWinMemento& mem) : KSWin(ptype, mem) {}
  ~KSWinQt() override;
  QMainWindow* Frame() const { return pframe_; }

  // The user asked the window system to close the window; the default closes it.
  virtual void CloseRequested() { Close(); }

  void PlatformCreate(KSWin* pwinOwner) override;
  void PlatformPlace(const KSRect& rect) override;
  void PlatformShow() override;
  void PlatformSetText(const char* psz) override;
  void PlatformRaise() override;
  KSRect PlatformRect() override;
  void PlatformRedraw() override;
  void PlatformDestroy() override;

  // Moves or stretches a control by the last resize's changes (see KSAnchorRect); a control
  // may also be named by the identifier given to it with SetControlId.
  void Anchor(QWidget* pwidget, int iHorizontal, int iVertical);
  void Anchor(int iId, int iHorizontal, int iVertical);
  static void SetControlId(QWidget* pwidget, int iId);

 protected:
  // Builds the window's controls into its frame.
  virtual void BuildControls(QMainWindow* pframe) { (void)pframe; }

 private:
  QPointer<KSQtFrame> pframe_;
};
