// The oscilloscope window: graphs, menus with check marks, the capture's hand-over and Save CSV.
#include "ide/oscilloscope.h"

#include <fcntl.h>
#include <unistd.h>

#include <QAction>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QResizeEvent>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>

#include "app/appcore.h"
#include "foundation/akpaths.h"
#include "foundation/akstatus.h"
#include "ide/ideapp.h"
#include "ide/ksgraph.h"

namespace {

KSWinTypeTmpl<Oscilloscope> typeOscilloscope(kTypeOscilloscope, false);

// The client area: it places the graphs whenever its size changes.
class ScopeArea : public QWidget {
 public:
  ScopeArea(QWidget* pparent, std::function<void()> pfnLayOut) : QWidget(pparent), pfnLayOut_(std::move(pfnLayOut)) {
    setMinimumSize(240, 120);
  }

 protected:
  void resizeEvent(QResizeEvent*) override { pfnLayOut_(); }

 private:
  std::function<void()> pfnLayOut_;
};

}  // namespace

Oscilloscope::Oscilloscope(KSWinType* ptype, KSWinMemento& mem)
    : KSWinQt(ptype, mem), settings_(ScopeReadSettings(mem)), pcapture_(std::make_unique<ScopeCapture>()) {}

Oscilloscope::~Oscilloscope() {
  // Out of the rendering first, then the pipe it posted to.
  pcapture_->Withdraw(EngineLockWhileRendering());
  delete pnotifier_;
  for (int fd : afdPipe_)
    if (fd >= 0) close(fd);
}

std::mutex* Oscilloscope::EngineLockWhileRendering() {
  CVantrelExplorerApp* papp = CVantrelExplorerApp::Get();
  AppCore* pcore = papp ? papp->Core() : nullptr;
  return pcore && pcore->Engine() && pcore->Engine()->Running() ? &pcore->EngineLock() : nullptr;
}

void Oscilloscope::BuildControls(QMainWindow* pframe) {
  CVantrelExplorerApp* papp = CVantrelExplorerApp::Get();
  AppCore* pcore = papp ? papp->Core() : nullptr;
  double dFreqFullBass = 55;
  if (pcore && pcore->Engine()) {
    dRate_ = pcore->Engine()->dFreqEval;
    dFreqFullBass = pcore->Engine()->dFreqFullBass;
  }
  parea_ = new ScopeArea(pframe, [this] { LayOut(); });
  apgraph_[0] = new KSGraph(parea_, "graph 1", dFreqFullBass);
  apgraph_[1] = new KSGraph(parea_, "graph 2", dFreqFullBass);
  pframe->setCentralWidget(parea_);
  for (int i = 0; i < 2; ++i) ApplySettings(i);
  BuildMenu(pframe);
  LayOut();

  if (pipe2(afdPipe_, O_NONBLOCK | O_CLOEXEC) != 0) {
    AKS(AKSWarn, AK_HERE, "oscilloscope: no pipe for the draw requests: %s", strerror(errno));
    return;
  }
  pnotifier_ = new QSocketNotifier(afdPipe_[0], QSocketNotifier::Read, pframe);
  QObject::connect(pnotifier_, &QSocketNotifier::activated, pframe, [this] {
    char ach[64];
    while (read(afdPipe_[0], ach, sizeof ach) > 0) {
    }
    if (!pcapture_->Ready()) Draw();
  });
  pcapture_->SetPost(&Oscilloscope::PostDraw, this);
  pcapture_->Register(EngineLockWhileRendering());
}

void Oscilloscope::PostDraw(void* pvArg) {
  auto* pthis = static_cast<Oscilloscope*>(pvArg);
  char ch = 1;
  // Only one request is ever outstanding (the capture waits to be released), so the pipe
  // never fills; a failed write would only cost this one picture.
  ssize_t n = write(pthis->afdPipe_[1], &ch, 1);
  (void)n;
}

QMenu* Oscilloscope::AddMenu(QMainWindow* pframe, const char* pszTitle) {
  QMenu* pmenu = pframe->menuBar()->addMenu(pszTitle);
  std::string sTitle = pszTitle;
  QObject::connect(pmenu, &QMenu::aboutToShow, pframe, [sTitle] {
    AKS(AKSTrace, AK_HERE, "oscilloscope: menu opened: %s", sTitle.c_str());
  });
  return pmenu;
}

void Oscilloscope::BuildMenu(QMainWindow* pframe) {
  QMenu* pmenuFile = AddMenu(pframe, "&File");
  pmenuFile->addAction("&Save CSV", [this] { SaveCsv(); });
  pmenuFile->addAction("&Close", [this] { Close(); });

  QMenu* pmenuView = AddMenu(pframe, "&View");
  QAction* pactionTwo = pmenuView->addAction("&Two Graphs", [this] {
    settings_.bTwoGraphs = !settings_.bTwoGraphs;
    LayOut();
  });
  pmenuView->addAction("&Reset Y Axis", [this] { ResetDisplay(); });
  QAction* pactionEvery = pmenuView->addAction("Reset Y Axis for &Every Note", [this] {
    settings_.bResetEvery = !settings_.bResetEvery;
    if (settings_.bResetEvery) ResetDisplay();
  });
  for (QAction* paction : {pactionTwo, pactionEvery}) paction->setCheckable(true);
  QObject::connect(pmenuView, &QMenu::aboutToShow, pframe, [this, pactionTwo, pactionEvery] {
    pactionTwo->setChecked(settings_.bTwoGraphs);
    pactionEvery->setChecked(settings_.bResetEvery);
  });

  for (int iGraph = 0; iGraph < 2; ++iGraph) {
    QMenu* pmenu = AddMenu(pframe, iGraph == 0 ? "Graph1" : "Graph2");
    std::vector<QAction*> apaction;
    for (int i = 0; i < ScopeGraphCommandCount; ++i) {
      if (i == ScopeAmplitude || i == ScopeDB24) pmenu->addSeparator();
      QAction* paction = pmenu->addAction(ScopeGraphCommandText(i), [this, iGraph, i] { GraphCommand(iGraph, i); });
      paction->setCheckable(true);
      apaction.push_back(paction);
    }
    QObject::connect(pmenu, &QMenu::aboutToShow, pframe, [this, iGraph, apaction] {
      for (int i = 0; i < ScopeGraphCommandCount; ++i)
        apaction[static_cast<size_t>(i)]->setChecked(ScopeGraphCommandChecked(settings_.agraph[iGraph], i));
    });
  }
}

void Oscilloscope::LayOut() {
  if (!parea_) return;
  KSRect rect1, rect2;
  ScopeGraphRects(parea_->width(), parea_->height(), settings_.bTwoGraphs, &rect1, &rect2);
  apgraph_[0]->setGeometry(rect1.iX, rect1.iY, rect1.iWidth, rect1.iHeight);
  apgraph_[1]->setGeometry(rect2.iX, rect2.iY, rect2.iWidth, rect2.iHeight);
  apgraph_[1]->setVisible(settings_.bTwoGraphs);
}

void Oscilloscope::ApplySettings(int iGraph) {
  const ScopeGraphSettings& graph = settings_.agraph[iGraph];
  KSGraph* pgraph = apgraph_[iGraph];
  pgraph->SetDisplay(graph.bSpectrum, graph.bFreqView);
  pgraph->SetVertScale(graph.iVertScale);
  pgraph->SetDBRange(graph.iDBScale);
}

void Oscilloscope::GraphCommand(int iGraph, int iCommand) {
  ScopeGraphSettings& graph = settings_.agraph[iGraph];
  ScopeApplyGraphCommand(graph, iCommand);
  KSGraph* pgraph = apgraph_[iGraph];
  if (ScopeCommandIsScale(iCommand)) {
    pgraph->SetVertScale(graph.iVertScale);
    pgraph->SetDBRange(graph.iDBScale);
  } else {
    pgraph->SetDisplay(graph.bSpectrum, graph.bFreqView);
  }
  pgraph->Redraw();
}

void Oscilloscope::Draw() {
  std::string sCaption = pcapture_->CaptionText();
  int nGraphs = settings_.bTwoGraphs ? 2 : 1;
  for (int iGraph = 0; iGraph < nGraphs; ++iGraph) {
    KSGraph* pgraph = apgraph_[iGraph];
    if (settings_.bResetEvery) pgraph->ResetYRange();
    pgraph->ClearSeries();
    pgraph->SetCaption(sCaption.c_str());
    for (int i = 0; i < pcapture_->Inputs(); ++i)
      pgraph->SetSeries(pcapture_->Name(i), i, pcapture_->Points(), pcapture_->TimePoints(), pcapture_->Values(i), dRate_,
                        pcapture_->FreqHint());
    pgraph->Redraw();
  }
  pcapture_->Release();
}

void Oscilloscope::ResetDisplay() {
  AKS(AKSTrace, AK_HERE, "oscilloscope: Y axes reset");
  for (KSGraph* pgraph : apgraph_) {
    if (!pgraph) continue;
    pgraph->ResetYRange();
    pgraph->Redraw();
  }
}

void Oscilloscope::SaveCsv() {
  time_t t = time(nullptr);
  struct tm tmLocal = {};
  localtime_r(&t, &tmLocal);
  // The log folder is made when missing (a read-only installation writes to the user's).
  std::string sLogDir = AKMakeWriteDir(AKPlaceLog);
  std::string sPath = ScopeCsvPath(sLogDir.empty() ? "." : sLogDir, tmLocal);
  // A capture waiting to be drawn is drawn first: while a note sounds one is nearly always
  // waiting, since the menu holds up the drawing, and the export would never get through.
  // The graph's data belong to this thread; the capture is released by then.
  if (!pcapture_->Ready()) Draw();
  Box(ScopeSaveCsv(pcapture_->Ready(), sPath, apgraph_[0]->Model()));
}

void Oscilloscope::Box(const ScopeBox& box) {
  AKS(AKSTrace, AK_HERE, "oscilloscope: box: %s: %s", box.sTitle.c_str(), box.sText.c_str());
  bool bSaved = box.sTitle == "Saved CSV";
  auto* pbox = new QMessageBox(bSaved ? QMessageBox::Information : QMessageBox::Warning, QString::fromStdString(box.sTitle),
                               QString::fromStdString(box.sText), QMessageBox::Ok, Frame());
  pbox->setAttribute(Qt::WA_DeleteOnClose);
  pbox->setWindowModality(Qt::NonModal);  // the graphs go on drawing while it shows
  pbox->show();
}

void Oscilloscope::SaveState(KSWinMemento& mem) {
  KSWinQt::SaveState(mem);
  ScopeWriteSettings(settings_, mem);
}
