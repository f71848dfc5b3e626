// The oscilloscope window ("Oscilloscope"): one or two graphs of what a patch's Scope probe
// captures from the first sounding voice, as waveforms or spectra, with its menus and CSV export.
#pragma once

#include <memory>

#include "ide/kswinqt.h"
#include "ide/scopecapture.h"
#include "ide/scopemodel.h"
#include "ide/windowapis.h"

class KSGraph;
class QMenu;
class QSocketNotifier;

class Oscilloscope : public KSWinQt, public OscilloscopeApi {
 public:
  Oscilloscope(KSWinType* ptype, KSWinMemento& mem);
  ~Oscilloscope() override;

  void SaveState(KSWinMemento& mem) override;
  // OscilloscopeApi: both graphs forget their Y range and are drawn again.
  void ResetDisplay() override;

 protected:
  void BuildControls(QMainWindow* pframe) override;

 private:
  void BuildMenu(QMainWindow* pframe);
  QMenu* AddMenu(QMainWindow* pframe, const char* pszTitle);
  // The draw request: the capture into the graphs, then the capture released.
  void Draw();
  void GraphCommand(int iGraph, int iCommand);
  void ApplySettings(int iGraph);
  void LayOut();
  void SaveCsv();
  void Box(const ScopeBox& box);
  // Posted by the capture on the rendering thread: one byte into a pipe that the window's
  // event loop watches (nothing is allocated and no lock taken on that side).
  static void PostDraw(void* pvArg);
  std::mutex* EngineLockWhileRendering();

  ScopeSettings settings_;
  std::unique_ptr<ScopeCapture> pcapture_;
  KSGraph* apgraph_[2] = {nullptr, nullptr};
  QWidget* parea_ = nullptr;
  int afdPipe_[2] = {-1, -1};
  QSocketNotifier* pnotifier_ = nullptr;
  double dRate_ = 44100;
};
