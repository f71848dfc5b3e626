// The event-capture control of the performance keyboard.
#include "ide/kseventcap.h"

#include <QFocusEvent>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>

#include "foundation/akstatus.h"

namespace {

// Windows' virtual-key numbering, which layout files use, for the keys whose Qt key is not
// already that number (letters, digits and the space bar are the same in both). A key and its
// shifted form give the same code, so a release after Shift changed still finds its press.
struct KeyCode {
  int iQtKey;
  int iVirtualKey;
};
constexpr KeyCode kakeycode[] = {
    {Qt::Key_Semicolon, 0xBA}, {Qt::Key_Colon, 0xBA},        {Qt::Key_Equal, 0xBB},      {Qt::Key_Plus, 0xBB},
    {Qt::Key_Comma, 0xBC},     {Qt::Key_Less, 0xBC},         {Qt::Key_Minus, 0xBD},      {Qt::Key_Underscore, 0xBD},
    {Qt::Key_Period, 0xBE},    {Qt::Key_Greater, 0xBE},      {Qt::Key_Slash, 0xBF},      {Qt::Key_Question, 0xBF},
    {Qt::Key_QuoteLeft, 0xC0}, {Qt::Key_AsciiTilde, 0xC0},   {Qt::Key_BracketLeft, 0xDB}, {Qt::Key_BraceLeft, 0xDB},
    {Qt::Key_Backslash, 0xDC}, {Qt::Key_Bar, 0xDC},          {Qt::Key_BracketRight, 0xDD}, {Qt::Key_BraceRight, 0xDD},
    {Qt::Key_Apostrophe, 0xDE}, {Qt::Key_QuoteDbl, 0xDE},
    // The shifted digits of a US keyboard.
    {Qt::Key_Exclam, '1'},     {Qt::Key_At, '2'},            {Qt::Key_NumberSign, '3'},  {Qt::Key_Dollar, '4'},
    {Qt::Key_Percent, '5'},    {Qt::Key_AsciiCircum, '6'},   {Qt::Key_Ampersand, '7'},   {Qt::Key_Asterisk, '8'},
    {Qt::Key_ParenLeft, '9'},  {Qt::Key_ParenRight, '0'},
    {Qt::Key_Backspace, 0x08}, {Qt::Key_Tab, 0x09},          {Qt::Key_Backtab, 0x09},    {Qt::Key_Return, 0x0D},
    {Qt::Key_Enter, 0x0D},     {Qt::Key_Shift, 0x10},        {Qt::Key_Control, 0x11},    {Qt::Key_Alt, 0x12},
    {Qt::Key_Pause, 0x13},     {Qt::Key_CapsLock, 0x14},     {Qt::Key_Escape, 0x1B},     {Qt::Key_PageUp, 0x21},
    {Qt::Key_PageDown, 0x22},  {Qt::Key_End, 0x23},          {Qt::Key_Home, 0x24},       {Qt::Key_Left, 0x25},
    {Qt::Key_Up, 0x26},        {Qt::Key_Right, 0x27},        {Qt::Key_Down, 0x28},       {Qt::Key_Insert, 0x2D},
    {Qt::Key_Delete, 0x2E},
};
constexpr int kVirtualF1 = 0x70;  // F1 to F24 follow one another in both numberings
// How long a release waits for the press of the same moment that would make it a repeat. The X
// server sends both together; on a loaded machine the press was seen to reach the window 2 ms
// after the release. 30 ms is far more than that, and less than a note's release takes anyway.
constexpr int kSettleMs = 30;
constexpr int kInset = 3;         // the label's distance from the key's edge, in pixels

int VirtualKey(const QKeyEvent* pevent) {
#ifdef _WIN32
  return static_cast<int>(pevent->nativeVirtualKey() & 0xFF);
#else
  int iKey = pevent->key();
  if ((iKey >= Qt::Key_A && iKey <= Qt::Key_Z) || (iKey >= Qt::Key_0 && iKey <= Qt::Key_9) || iKey == Qt::Key_Space)
    return iKey;
  if (iKey >= Qt::Key_F1 && iKey <= Qt::Key_F24) return kVirtualF1 + iKey - Qt::Key_F1;
  for (const KeyCode& code : kakeycode)
    if (code.iQtKey == iKey) return code.iVirtualKey;
  return 0;  // no key of a layout: layouts name codes from 1
#endif
}

QColor Color(const KSColor& color) { return QColor(color.iRed, color.iGreen, color.iBlue); }

// A key whose note sounds is drawn half way towards this blue, so the player sees what is held.
constexpr KSColor kcolorHeld = {70, 130, 220};
QColor Held(const KSColor& color) {
  return QColor((color.iRed + kcolorHeld.iRed) / 2, (color.iGreen + kcolorHeld.iGreen) / 2,
                (color.iBlue + kcolorHeld.iBlue) / 2);
}

}  // namespace

KSEventCap::KSEventCap(QWidget* pparent) : QWidget(pparent) {
  setObjectName("KSEventCap");
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setAutoFillBackground(true);
  setAttribute(Qt::WA_KeyCompression, false);
  // X11 reports a key's auto-repeat as a release and a press of the same time stamp, and Qt
  // flags them as a repeat only when both have arrived; other window systems flag repeats.
  bReleasesWait_ = QGuiApplication::platformName() == "xcb";
  timerSettle_.setSingleShot(true);
  QObject::connect(&timerSettle_, &QTimer::timeout, this, [this] { Report(keysDown_.Settle()); });
}

void KSEventCap::SetKeys(const KSKeyEntry* akey, int nKey) {
  akey_ = akey;
  nKey_ = nKey;
  offset_ = KSCentreKeys(akey_, nKey_, width(), height());
  update();
}

void KSEventCap::SetTexts(const KSColor& color, const char* pszTop, const char* pszBottom) {
  colorText_ = color;
  sTop_ = pszTop ? pszTop : "";
  sBottom_ = pszBottom ? pszBottom : "";
  update();
}

void KSEventCap::SetCallback(Callback_T pfn, void* pvUser) {
  pfnCallback_ = pfn;
  pvUser_ = pvUser;
}

void KSEventCap::Report(const std::vector<KSEvent>& aevent) {
  for (const KSEvent& event : aevent) Report(event);
}

void KSEventCap::Report(const KSEvent& event) {
  if (pfnCallback_) pfnCallback_(event, pvUser_);
  // The owner may have started or ended a key's note.
  if (event.iType == KSEventKeyDown || event.iType == KSEventKeyUp) update();
}

bool KSEventCap::event(QEvent* pevent) {
  // Every key is a note key here: menu shortcuts and dialog navigation do not get them first.
  if (pevent->type() == QEvent::ShortcutOverride) {
    pevent->accept();
    return true;
  }
  return QWidget::event(pevent);
}

void KSEventCap::keyPressEvent(QKeyEvent* pevent) {
  int iKey = VirtualKey(pevent);
  std::vector<KSEvent> aevent;
  if (!pevent->isAutoRepeat()) aevent = keysDown_.Press(iKey, pevent->timestamp());
  if (aevent.empty()) AKS(AKSTrace, AK_HERE, "performance input: key %d repeated", iKey);
  Report(aevent);
}

void KSEventCap::keyReleaseEvent(QKeyEvent* pevent) {
  if (pevent->isAutoRepeat() || !keysDown_.Release(VirtualKey(pevent), pevent->timestamp())) return;
  if (bReleasesWait_) timerSettle_.start(kSettleMs);
  else Report(keysDown_.Settle());
}

void KSEventCap::focusOutEvent(QFocusEvent* pevent) {
  // The keys held when the keyboard goes to another window are never reported released, so
  // their releases are reported now: no note is left sounding for good.
  timerSettle_.stop();
  Report(keysDown_.ReleaseAll());
  QWidget::focusOutEvent(pevent);
}

void KSEventCap::mousePressEvent(QMouseEvent* pevent) {
  if (pevent->button() == Qt::LeftButton) Report({KSEventLeftDown, 0, 0, 0});
  setFocus();
}

void KSEventCap::mouseMoveEvent(QMouseEvent* pevent) {
  double dWidth = std::max(width(), 1), dHeight = std::max(height(), 1);
  Report({KSEventMouseMove, 0, pevent->position().x() / dWidth, pevent->position().y() / dHeight});
}

void KSEventCap::resizeEvent(QResizeEvent* pevent) {
  QWidget::resizeEvent(pevent);
  offset_ = KSCentreKeys(akey_, akey_ ? nKey_ : 0, width(), height());
}

void KSEventCap::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(Color(colorText_));
  QRect rectText = rect().adjusted(kInset, kInset, -kInset, -kInset);
  painter.drawText(rectText, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, QString::fromStdString(sTop_));
  painter.drawText(rectText, Qt::AlignHCenter | Qt::AlignBottom | Qt::TextSingleLine, QString::fromStdString(sBottom_));
  if (!akey_) return;
  QFont fontLabel = font();
  fontLabel.setBold(true);
  for (int i = 0; i < nKey_; ++i) {
    const KSKeyEntry& key = akey_[i];
    if (key.dWidth <= 0 || key.dHeight <= 0) continue;
    QRectF rectKey(key.dX + offset_.dX, key.dY + offset_.dY, key.dWidth, key.dHeight);
    painter.fillRect(rectKey, Color(key.colorBorder));
    QRectF rectInside = rectKey.adjusted(1, 1, -1, -1);
    painter.fillRect(rectInside, key.iNotePlaying >= 0 ? Held(key.colorBackground) : Color(key.colorBackground));
    painter.setPen(Color(key.colorText));
    QRectF rectInk = rectInside.adjusted(kInset - 1, kInset - 1, -(kInset - 1), -(kInset - 1));
    painter.setFont(fontLabel);
    painter.drawText(rectInk, Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(key.sLabel));
    painter.setFont(font());
    painter.drawText(rectInk, Qt::AlignRight | Qt::AlignBottom | Qt::TextSingleLine, QString::fromStdString(key.sFunction));
  }
}
