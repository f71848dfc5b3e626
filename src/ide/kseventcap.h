// The event-capture control: draws the keys of a layout centred as a block, with a text at the
// top and one at the bottom, and reports key presses (auto-repeats left out), key releases, left
// clicks and mouse moves to its owner. It takes every key, Tab and menu shortcuts too. A key
// whose note sounds is drawn tinted.
#pragma once

#include <QTimer>
#include <QWidget>
#include <string>

#include "ide/keylayout.h"

class KSEventCap : public QWidget {
 public:
  using Callback_T = void (*)(const KSEvent& event, void* pvUser);
  explicit KSEventCap(QWidget* pparent);

  // The table stays the caller's; it is read at every painting.
  void SetKeys(const KSKeyEntry* akey, int nKey);
  void SetTexts(const KSColor& color, const char* pszTop, const char* pszBottom);
  void SetCallback(Callback_T pfn, void* pvUser);

 protected:
  bool event(QEvent* pevent) override;
  bool focusNextPrevChild(bool) override { return false; }
  void keyPressEvent(QKeyEvent* pevent) override;
  void keyReleaseEvent(QKeyEvent* pevent) override;
  void focusOutEvent(QFocusEvent* pevent) override;
  void mousePressEvent(QMouseEvent* pevent) override;
  void mouseMoveEvent(QMouseEvent* pevent) override;
  void resizeEvent(QResizeEvent* pevent) override;
  void paintEvent(QPaintEvent* pevent) override;

 private:
  void Report(const KSEvent& event);
  void Report(const std::vector<KSEvent>& aevent);

  const KSKeyEntry* akey_ = nullptr;
  int nKey_ = 0;
  KSColor colorText_;
  std::string sTop_, sBottom_;
  Callback_T pfnCallback_ = nullptr;
  void* pvUser_ = nullptr;
  KSKeyOffset offset_;
  KSKeysDown keysDown_;
  QTimer timerSettle_;        // reports the releases that no repeat's press followed
  bool bReleasesWait_ = false;  // the window system may split a repeat into a release and a press
};
