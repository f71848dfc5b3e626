// One page of the patch editor on the screen: the file-name line, the text with its line-number
// gutter, colours by line kind, error lines and underlined error stretches, completion and the
// help key, and the status line.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>
#include <functional>
#include <string>

#include "ide/patchsheetmodel.h"

class QCompleter;
class QLabel;
class QStringListModel;
class PatchHighlighter;

// The text control: a plain-text editor whose formats come from the highlighter only, so that
// colouring never enters the undo history and undo survives Apply.
class PatchTextEdit : public QPlainTextEdit {
 public:
  explicit PatchTextEdit(QWidget* pparent);
  int GutterWidth() const;
  void PaintGutter(QPaintEvent* pevent);
  // The help key: called with the module type of the section under the caret ("" for none).
  std::function<void(const std::string& sType)> pfnHelp;

 protected:
  void resizeEvent(QResizeEvent* pevent) override;
  void keyPressEvent(QKeyEvent* pevent) override;
  bool viewportEvent(QEvent* pevent) override;

 private:
  // Offers the completions at the caret; bAsked: the user pressed the key for it.
  void Complete(bool bAsked);
  void InsertCompletion(const QString& sWord);
  // The error's message over its stretch, the reference line over a variable's name.
  void ShowTip(const QPoint& pos, const QPoint& posGlobal);
  QWidget* pgutter_;
  QCompleter* pcompleter_;
  QStringListModel* pmodelWords_;
  int nPrefix_ = 0;
};

class PatchPageWidget : public QWidget, public PatchPageView {
 public:
  explicit PatchPageWidget(QWidget* pparent);
  PatchTextEdit* Editor() { return pedit_; }
  // Called at every change notification of the text.
  void SetChangeHandler(std::function<void()> pfn) { pfnChanged_ = std::move(pfn); }
  // Underlines the stretch of a formula error in a line marked red, with the message as its
  // tooltip; false when the line does not hold the stretch.
  bool UnderlineError(int iLine, const std::string& sMessage);
  bool IsErrorLine(int iLine);
  // The caret at the end of the text (the layout step).
  void PutCaretAtEnd();

  // PatchPageView.
  std::string Text() override;
  void SetText(const std::string& sText) override;
  void SetFileNameLine(const std::string& s) override;
  void SetStatusLine(const std::string& s) override;
  void ColorLine(int iLine, bool bError) override;
  void ColorAll() override;
  int CaretLine() override;
  void PutCaretAtLine(int iLine) override;

 private:
  QLabel* plabelFile_;
  QLabel* plabelStatus_;
  PatchTextEdit* pedit_;
  PatchHighlighter* phighlighter_;
  std::function<void()> pfnChanged_;
  bool bInChange_ = false;
};
