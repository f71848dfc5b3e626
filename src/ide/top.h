// The main window ("VantrelIDE"): the MIDI input with its device list, status line, light and
// last message; voices, level meter, peak and auto-reductions twice a second; the message list;
// the menu that opens the other windows, saves the workspace, runs the test tools and exits.
#pragma once

#include <memory>
#include <string>

#include "ide/kswinqt.h"
#include "ide/topmodel.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QTimer;
class QTreeWidget;
class KSStatusLight;

class Top : public KSWinQt, public TopView {
 public:
  Top(KSWinType* ptype, KSWinMemento& mem);
  ~Top() override;

  void SaveState(KSWinMemento& mem) override;
  // Closing the main window is the exit.
  void CloseRequested() override;
  TopModel* Model() { return pmodel_.get(); }

  // TopView.
  void ShowMidiMsg(const char* psz) override;
  void ShowMidiStatus(const char* psz) override;
  void ShowLight(int iState) override;
  void ErrorBox(const char* pszTitle, const char* pszText) override;
  void ShowLevels(const TopLevels& levels) override;
  void ShowRows(const std::vector<TopMessageRow>& arow) override;
  void Quit(int iStatus) override;

 protected:
  void BuildControls(QMainWindow* pframe) override;

 private:
  void BuildMenu(QMainWindow* pframe);
  void OpenType(const char* pszType);
  // Sets a cell's text, widening its column to the text's width + 12 pixels when narrower.
  void SetCell(int iRow, int iColumn, const std::string& s);

  std::string sSavedDevice_;
  std::unique_ptr<TopModel> pmodel_;
  QTimer* ptimer_ = nullptr;
  QComboBox* pcomboDevice_ = nullptr;
  QLabel *plabelMidiStatus_ = nullptr, *plabelMidiMsg_ = nullptr, *plabelVoices_ = nullptr;
  QLabel *plabelPeak_ = nullptr, *plabelAutoReductions_ = nullptr;
  QProgressBar* pmeter_ = nullptr;
  KSStatusLight* plight_ = nullptr;
  QTreeWidget* plist_ = nullptr;
  std::string sVoicesShown_;
};
