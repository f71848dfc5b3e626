// The graph control: a self-drawn plot of series as waveforms or harmonic spectra, with axes,
// labels, an info line, a legend and a caption, painted into an off-screen image.
#pragma once

#include <QImage>
#include <QWidget>
#include <string>

#include "ide/ksgraphcore.h"

class KSGraph : public QWidget {
 public:
  // pszTraceName names the graph in the status log, where every change of what it shows is traced.
  KSGraph(QWidget* pparent, const char* pszTraceName, double dFreqFullBass);

  void SetSeries(const char* pszName, int i, int n, const double* adX, const double* adY, double dRate, double dFreq) {
    model_.SetSeries(pszName, i, n, adX, adY, dRate, dFreq);
  }
  void ClearSeries() { model_.ClearSeries(); }
  void SetCaption(const char* psz) { model_.SetCaption(psz); }
  void SetDisplay(bool bSpectrum, bool bFreqView) { model_.SetDisplay(bSpectrum, bFreqView); }
  void SetVertScale(int iScale) { model_.SetVertScale(iScale); }
  void SetDBRange(int iDB) { model_.SetDBRange(iDB); }
  void ResetYRange() { model_.ResetYRange(); }
  // Takes the new data into the Y range, paints the image again and shows it.
  void Redraw();
  const KSGraphModel& Model() const { return model_; }

 protected:
  void paintEvent(QPaintEvent* pevent) override;
  void resizeEvent(QResizeEvent* pevent) override;

 private:
  void Render();
  KSGraphModel model_;
  QImage image_;
  std::string sTraceName_, sTraced_;
};
