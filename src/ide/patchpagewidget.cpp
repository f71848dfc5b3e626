// The editor page's widgets: text control with gutter, line colours, error marks and stretches,
// tooltips, completion and the help key.
#include "ide/patchpagewidget.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QStringListModel>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QToolTip>
#include <QVBoxLayout>

#include "foundation/akstatus.h"

namespace {

constexpr int kAutoCompletePrefix = 2;  // letters typed before completion offers itself unasked
constexpr int kGutterMargin = 6;        // pixels around the line numbers

// What the editor remembers of a line beyond its text: the error mark and the error's stretch.
// It travels with the line as lines are inserted above it.
class PatchLineMark : public QTextBlockUserData {
 public:
  bool bError = false;
  int iColumn = -1, iLength = 0;
  QString sMessage;
};

PatchLineMark* MarkOf(const QTextBlock& block) { return static_cast<PatchLineMark*>(block.userData()); }

QFont TextFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSize(10);
  return font;
}

QFont HeaderFont() {
  QFont font;
  font.setFamilies({"Arial Black", "DejaVu Sans", "Liberation Sans"});
  font.setStyleHint(QFont::SansSerif);
  font.setWeight(QFont::Black);
  return font;
}

QTextCharFormat FormatOf(const PatchLineStyle& style) {
  static const QFont fontText = TextFont(), fontHeader = HeaderFont();
  QTextCharFormat format;
  format.setFontFamilies((style.bHeaderFace ? fontHeader : fontText).families());
  format.setFontPointSize(style.iTwips / 20.0);
  format.setFontWeight(!style.bBold ? QFont::Normal : style.bHeaderFace ? QFont::Black : QFont::Bold);
  format.setForeground(QColor(style.iRed, style.iGreen, style.iBlue));
  return format;
}

}  // namespace

// Formats every line by its kind, red for an error line, with a wavy underline under an error's
// stretch. Formats set here stay out of the document's undo history.
class PatchHighlighter : public QSyntaxHighlighter {
 public:
  explicit PatchHighlighter(QTextDocument* pdoc) : QSyntaxHighlighter(pdoc) {}

 protected:
  void highlightBlock(const QString& sText) override {
    auto* pmark = static_cast<PatchLineMark*>(currentBlockUserData());
    bool bError = pmark && pmark->bError;
    QTextCharFormat format = FormatOf(PatchLineStyleOf(PatchLineKindOf(sText.toStdString()), bError));
    setFormat(0, static_cast<int>(sText.size()), format);
    if (bError && pmark->iColumn >= 0 && pmark->iColumn < sText.size()) {
      format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
      format.setUnderlineColor(Qt::red);
      format.setBackground(QColor(255, 228, 228));  // so the stretch stands out of a line already red
      format.setToolTip(pmark->sMessage);
      setFormat(pmark->iColumn, std::min(pmark->iLength, static_cast<int>(sText.size()) - pmark->iColumn), format);
    }
  }
};

namespace {

class PatchGutter : public QWidget {
 public:
  explicit PatchGutter(PatchTextEdit* pedit) : QWidget(pedit), pedit_(pedit) {}
  QSize sizeHint() const override { return QSize(pedit_->GutterWidth(), 0); }

 protected:
  void paintEvent(QPaintEvent* pevent) override { pedit_->PaintGutter(pevent); }

 private:
  PatchTextEdit* pedit_;
};

}  // namespace

PatchTextEdit::PatchTextEdit(QWidget* pparent) : QPlainTextEdit(pparent) {
  setFont(TextFont());
  setLineWrapMode(QPlainTextEdit::NoWrap);
  pgutter_ = new PatchGutter(this);
  QObject::connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { setViewportMargins(GutterWidth(), 0, 0, 0); });
  QObject::connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
    if (dy) pgutter_->scroll(0, dy);
    else pgutter_->update(0, rect.y(), pgutter_->width(), rect.height());
  });
  setViewportMargins(GutterWidth(), 0, 0, 0);

  pmodelWords_ = new QStringListModel(this);
  pcompleter_ = new QCompleter(pmodelWords_, this);
  pcompleter_->setWidget(this);
  pcompleter_->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
  pcompleter_->setCaseSensitivity(Qt::CaseInsensitive);
  QObject::connect(pcompleter_, qOverload<const QString&>(&QCompleter::activated), this,
                   [this](const QString& sWord) { InsertCompletion(sWord); });
}

int PatchTextEdit::GutterWidth() const {
  int nDigits = QString::number(std::max(1, blockCount())).size();
  return kGutterMargin * 2 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * std::max(nDigits, 3);
}

void PatchTextEdit::resizeEvent(QResizeEvent* pevent) {
  QPlainTextEdit::resizeEvent(pevent);
  QRect rect = contentsRect();
  pgutter_->setGeometry(QRect(rect.left(), rect.top(), GutterWidth(), rect.height()));
}

void PatchTextEdit::PaintGutter(QPaintEvent* pevent) {
  QPainter painter(pgutter_);
  painter.fillRect(pevent->rect(), QColor(240, 240, 240));
  QTextBlock block = firstVisibleBlock();
  int iTop = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
  while (block.isValid() && iTop <= pevent->rect().bottom()) {
    int iBottom = iTop + qRound(blockBoundingRect(block).height());
    if (block.isVisible() && iBottom >= pevent->rect().top()) {
      PatchLineMark* pmark = MarkOf(block);
      bool bError = pmark && pmark->bError;
      QFont font = this->font();
      font.setBold(bError);
      painter.setFont(font);
      painter.setPen(bError ? QColor(255, 0, 0) : QColor(130, 130, 130));
      painter.drawText(0, iTop, pgutter_->width() - kGutterMargin, iBottom - iTop, Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(block.blockNumber() + 1));
    }
    block = block.next();
    iTop = iBottom;
  }
}

bool PatchTextEdit::viewportEvent(QEvent* pevent) {
  if (pevent->type() != QEvent::ToolTip) return QPlainTextEdit::viewportEvent(pevent);
  auto* phelp = static_cast<QHelpEvent*>(pevent);
  ShowTip(phelp->pos(), phelp->globalPos());
  return true;
}

void PatchTextEdit::ShowTip(const QPoint& pos, const QPoint& posGlobal) {
  QTextCursor cursor = cursorForPosition(pos);
  QTextBlock block = cursor.block();
  int iColumn = cursor.positionInBlock();
  PatchLineMark* pmark = MarkOf(block);
  QString sTip;
  if (pmark && pmark->bError && pmark->iColumn >= 0 && iColumn >= pmark->iColumn && iColumn <= pmark->iColumn + pmark->iLength) {
    sTip = pmark->sMessage;
  } else {
    cursor.select(QTextCursor::WordUnderCursor);
    std::string sType = PatchSectionType(toPlainText().toStdString(), block.blockNumber());
    if (!sType.empty() && !cursor.selectedText().isEmpty())
      sTip = QString::fromStdString(PatchVariableHelp(sType, cursor.selectedText().toStdString()));
  }
  if (sTip.isEmpty()) {
    QToolTip::hideText();
    return;
  }
  QToolTip::showText(posGlobal, sTip, viewport());
  AKS(AKSTrace, AK_HERE, "editor: tooltip at line %d: %s", block.blockNumber() + 1, sTip.toUtf8().constData());
}

void PatchTextEdit::keyPressEvent(QKeyEvent* pevent) {
  if (pcompleter_->popup()->isVisible()) {
    switch (pevent->key()) {
      case Qt::Key_Enter:
      case Qt::Key_Return:
      case Qt::Key_Escape:
      case Qt::Key_Tab:
      case Qt::Key_Backtab: pevent->ignore(); return;  // the completer takes them
      default: break;
    }
  }
  if (pevent->key() == Qt::Key_F1) {
    std::string sType = PatchSectionType(toPlainText().toStdString(), textCursor().blockNumber());
    AKS(AKSTrace, AK_HERE, "editor: help asked for at line %d: module type \"%s\"", textCursor().blockNumber() + 1, sType.c_str());
    if (pfnHelp) pfnHelp(sType);
    return;
  }
  if (pevent->key() == Qt::Key_Space && (pevent->modifiers() & Qt::ControlModifier)) {
    Complete(true);
    return;
  }
  QPlainTextEdit::keyPressEvent(pevent);
  QString sTyped = pevent->text();
  if (!sTyped.isEmpty() && (sTyped[0].isLetterOrNumber() || sTyped[0] == '_'))
    Complete(false);
  else if (!sTyped.isEmpty() || pevent->key() == Qt::Key_Backspace)
    pcompleter_->popup()->hide();
}

void PatchTextEdit::Complete(bool bAsked) {
  QTextCursor cursor = textCursor();
  PatchCompletion completion = PatchCompletionAt(toPlainText().toStdString(), cursor.blockNumber(), cursor.positionInBlock());
  if (completion.asWord.empty() || (!bAsked && static_cast<int>(completion.sPrefix.size()) < kAutoCompletePrefix)) {
    pcompleter_->popup()->hide();
    return;
  }
  QStringList asWord;
  for (const std::string& s : completion.asWord) asWord << QString::fromStdString(s);
  pmodelWords_->setStringList(asWord);
  nPrefix_ = static_cast<int>(completion.sPrefix.size());
  QAbstractItemView* ppopup = pcompleter_->popup();
  ppopup->setCurrentIndex(pcompleter_->completionModel()->index(0, 0));
  QRect rect = cursorRect();
  rect.translate(viewportMargins().left(), 0);
  rect.setWidth(ppopup->sizeHintForColumn(0) + ppopup->verticalScrollBar()->sizeHint().width() + 8);
  pcompleter_->complete(rect);
  AKS(AKSTrace, AK_HERE, "editor: completion offers %d words for \"%s\"", static_cast<int>(asWord.size()),
      completion.sPrefix.c_str());
}

void PatchTextEdit::InsertCompletion(const QString& sWord) {
  QTextCursor cursor = textCursor();
  cursor.movePosition(QTextCursor::Left, QTextCursor::KeepAnchor, nPrefix_);
  cursor.insertText(sWord);
  setTextCursor(cursor);
}

PatchPageWidget::PatchPageWidget(QWidget* pparent) : QWidget(pparent) {
  auto* playout = new QVBoxLayout(this);
  playout->setContentsMargins(2, 4, 2, 2);
  plabelFile_ = new QLabel(this);
  plabelFile_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  pedit_ = new PatchTextEdit(this);
  plabelStatus_ = new QLabel(this);
  playout->addWidget(plabelFile_);
  playout->addWidget(pedit_, 1);
  playout->addWidget(plabelStatus_);
  phighlighter_ = new PatchHighlighter(pedit_->document());
  QObject::connect(pedit_, &QPlainTextEdit::textChanged, this, [this] {
    // Re-formatting a line notifies again; the handler sees the same text and stops there.
    if (bInChange_ || !pfnChanged_) return;
    bInChange_ = true;
    pfnChanged_();
    bInChange_ = false;
  });
}

std::string PatchPageWidget::Text() { return pedit_->toPlainText().toStdString(); }

void PatchPageWidget::SetText(const std::string& sText) {
  pedit_->setPlainText(QString::fromStdString(sText));
  pedit_->moveCursor(QTextCursor::Start);
}

void PatchPageWidget::SetFileNameLine(const std::string& s) { plabelFile_->setText(QString::fromStdString(s)); }

void PatchPageWidget::SetStatusLine(const std::string& s) {
  if (plabelStatus_->text() == QString::fromStdString(s)) return;
  plabelStatus_->setText(QString::fromStdString(s));
  AKS(AKSTrace, AK_HERE, "editor: status: %s", s.c_str());
}

void PatchPageWidget::ColorLine(int iLine, bool bError) {
  QTextBlock block = pedit_->document()->findBlockByNumber(iLine);
  if (!block.isValid()) return;
  PatchLineMark* pmark = MarkOf(block);
  if (!pmark && !bError) {
    phighlighter_->rehighlightBlock(block);
    return;
  }
  if (!pmark) {
    pmark = new PatchLineMark;
    block.setUserData(pmark);  // the block owns it
  }
  bool bWasError = pmark->bError;
  pmark->bError = bError;
  if (!bError) pmark->iColumn = -1, pmark->sMessage.clear();
  phighlighter_->rehighlightBlock(block);
  pedit_->viewport()->update();
  if (bError && !bWasError) AKS(AKSTrace, AK_HERE, "editor: line %d marked as error", iLine + 1);
}

void PatchPageWidget::ColorAll() {
  bool bHadMarks = false;
  for (QTextBlock block = pedit_->document()->begin(); block.isValid(); block = block.next())
    if (PatchLineMark* pmark = MarkOf(block)) {
      bHadMarks = bHadMarks || pmark->bError;
      pmark->bError = false;
      pmark->iColumn = -1;
      pmark->sMessage.clear();
    }
  phighlighter_->rehighlight();
  if (bHadMarks) AKS(AKSTrace, AK_HERE, "editor: error marks cleared");
}

bool PatchPageWidget::IsErrorLine(int iLine) {
  PatchLineMark* pmark = MarkOf(pedit_->document()->findBlockByNumber(iLine));
  return pmark && pmark->bError;
}

bool PatchPageWidget::UnderlineError(int iLine, const std::string& sMessage) {
  QTextBlock block = pedit_->document()->findBlockByNumber(iLine);
  PatchLineMark* pmark = MarkOf(block);
  int iColumn = -1, iLength = 0;
  if (!pmark || !pmark->bError || !PatchErrorStretch(sMessage, block.text().toStdString(), &iColumn, &iLength)) return false;
  if (pmark->iColumn == iColumn && pmark->iLength == iLength) return true;
  pmark->iColumn = iColumn;
  pmark->iLength = iLength;
  pmark->sMessage = QString::fromStdString(sMessage);
  phighlighter_->rehighlightBlock(block);
  // Where the stretch begins in the window, so that whoever reads the log can point at it.
  QTextCursor cursor(block);
  cursor.setPosition(block.position() + iColumn + 1);
  QPoint posWindow = pedit_->viewport()->mapTo(window(), pedit_->cursorRect(cursor).center());
  AKS(AKSTrace, AK_HERE, "editor: line %d underlined from column %d for %d characters: \"%s\" at %d,%d", iLine + 1,
      iColumn + 1, iLength, block.text().mid(iColumn, iLength).toUtf8().constData(), posWindow.x(), posWindow.y());
  return true;
}

int PatchPageWidget::CaretLine() { return pedit_->textCursor().blockNumber(); }

void PatchPageWidget::PutCaretAtLine(int iLine) {
  QTextBlock block = pedit_->document()->findBlockByNumber(iLine);
  if (!block.isValid()) return;
  QTextCursor cursor = pedit_->textCursor();
  cursor.setPosition(block.position());
  pedit_->setTextCursor(cursor);
  pedit_->centerCursor();
  AKS(AKSTrace, AK_HERE, "editor: caret at line %d", iLine + 1);
}

void PatchPageWidget::PutCaretAtEnd() {
  pedit_->moveCursor(QTextCursor::End);
  pedit_->setFocus();
}
