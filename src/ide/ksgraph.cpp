// The graph control's drawing: background, axes with their labels, step lines or harmonic bars,
// info line, legend and caption, all painted into an image the size of the control.
#include "ide/ksgraph.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "foundation/akstatus.h"

namespace {

const QColor kcolorText(255, 255, 255);
const QColor kcolorGrid(153, 153, 153);
const QColor kcolorGridDark(68, 68, 68);
constexpr int kPad = 4;          // pixels between the texts and the plot
constexpr int kLegendLine = 16;  // the coloured stroke before a series' name

QColor Color(const KSColor& c) { return QColor(c.r, c.g, c.b); }

// Texts on one line under the plot, each centred on its place, left out where they would run
// into the one before.
class LabelRow {
 public:
  LabelRow(QPainter& painter, const QFontMetrics& fm, int iBaseline) : painter_(painter), fm_(fm), iBaseline_(iBaseline) {}
  void Add(int x, const std::string& s) {
    if (s.empty()) return;
    QString q = QString::fromStdString(s);
    int iWidth = fm_.horizontalAdvance(q);
    int iLeft = x - iWidth / 2;
    if (iLeft < iRightmost_ + 4) return;
    painter_.drawText(iLeft, iBaseline_, q);
    iRightmost_ = iLeft + iWidth;
  }

 private:
  QPainter& painter_;
  const QFontMetrics& fm_;
  int iBaseline_;
  int iRightmost_ = -100000;
};

std::string FormatG(double d) {
  char sz[64];
  snprintf(sz, sizeof sz, "%g", d);
  return sz;
}

}  // namespace

KSGraph::KSGraph(QWidget* pparent, const char* pszTraceName, double dFreqFullBass)
    : QWidget(pparent), model_(dFreqFullBass), sTraceName_(pszTraceName) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(120, 90);
}

void KSGraph::Redraw() {
  model_.UpdateYRange();
  Render();
  update();
  // What the graph shows, for whoever reads the log (the end-to-end test does).
  std::string s = model_.Summary();
  if (!model_.Caption().empty()) s += "; caption: " + model_.Caption();
  if (s != sTraced_) {
    sTraced_ = s;
    AKS(AKSTrace, AK_HERE, "oscilloscope %s: %s", sTraceName_.c_str(), s.c_str());
  }
}

void KSGraph::resizeEvent(QResizeEvent*) { Render(); }

void KSGraph::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (image_.size() != size()) Render();
  painter.drawImage(0, 0, image_);
}

void KSGraph::Render() {
  if (width() <= 0 || height() <= 0) return;
  image_ = QImage(size(), QImage::Format_RGB32);
  image_.fill(Qt::black);
  QPainter painter(&image_);
  QFont font("Arial");
  font.setPointSize(8);
  painter.setFont(font);
  QFontMetrics fm(font);
  const int iLine = fm.height();

  if (const char* psz = model_.Unusable()) {
    painter.setPen(kcolorText);
    painter.drawText(rect(), Qt::AlignCenter, psz);
    return;
  }
  const bool bSpectrum = model_.Spectrum();
  const std::vector<KSGraphSeries>& aseries = model_.Series();
  const int nPoints = static_cast<int>(aseries[0].adY.size());

  // The plot between the info line above and two label rows and the caption below.
  int iTop = kPad + iLine + kPad;
  int iBottom = height() - (kPad + 2 * iLine + kPad + iLine + kPad);
  int iPlotHeight = std::max(iBottom - iTop, 10);
  iBottom = iTop + iPlotHeight;

  // The Y axis and its labels decide the left margin.
  KSYAxis axis;
  std::vector<KSAxisTick> atickY;
  if (bSpectrum) {
    double dLargest = model_.LargestSpectrumValue();
    axis = model_.VertScale() == KSGraphDBPower ? KSGraphDBAxis(dLargest, model_.DBRange(), iPlotHeight)
                                                : KSGraphLinearAxis(dLargest);
    atickY = KSGraphYTicks(axis, iPlotHeight);
  } else {
    const KSYRange& range = model_.YRange();
    axis = {range.dLow, range.dHigh, 0, 0};
    if (!(axis.dHigh > axis.dLow)) axis.dHigh = axis.dLow + 1;
    auto Pos = [&](double d) {
      return static_cast<int>(std::lround((axis.dHigh - d) * iPlotHeight / (axis.dHigh - axis.dLow)));
    };
    atickY.push_back({Pos(axis.dLow), FormatG(axis.dLow), ""});
    if (axis.dLow < 0 && axis.dHigh > 0) atickY.push_back({Pos(0), "0", "", false});
    atickY.push_back({Pos(axis.dHigh), FormatG(axis.dHigh), ""});
  }
  int iLabelWidth = 0;
  for (const KSAxisTick& tick : atickY)
    iLabelWidth = std::max(iLabelWidth, fm.horizontalAdvance(QString::fromStdString(tick.sLabel)));
  const int iLeft = kPad + iLabelWidth + kPad + 2;
  const int iRight = std::max(width() - 3 * kPad, iLeft + 10);
  auto YOf = [&](double d) {
    double y = iTop + (axis.dHigh - d) * iPlotHeight / (axis.dHigh - axis.dLow);
    return std::clamp(y, double(iTop), double(iBottom));
  };

  // Horizontal grid and Y labels; labels only as close as the text allows.
  size_t nEvery = 1;
  if (atickY.size() > 1) {
    int iSpacing = std::max(1, std::abs(atickY[1].iPos - atickY[0].iPos));
    nEvery = static_cast<size_t>((iLine + iSpacing - 1) / iSpacing);
  }
  // dB labels go on round values: the first of the dB steps (a multiple of the tick step) that
  // leaves room for the text.
  double dLabelStep = 0;
  if (bSpectrum && model_.VertScale() == KSGraphDBPower)
    for (double d : {0.1, 0.125, 0.25, 0.5, 1.0, 3.0, 6.0, 12.0, 24.0, 48.0, 96.0})
      if (d >= axis.dStep * nEvery - 1e-9 && std::fabs(std::remainder(d, axis.dStep)) < 1e-9) {
        dLabelStep = d;
        break;
      }
  for (size_t i = 0; i < atickY.size(); ++i) {
    const KSAxisTick& tick = atickY[i];
    int y = iTop + tick.iPos;
    painter.setPen(kcolorGridDark);
    painter.drawLine(iLeft, y, iRight, y);
    bool bLabel = !bSpectrum || (dLabelStep > 0 ? std::fabs(std::remainder(axis.dLow + i * axis.dStep, dLabelStep)) < 1e-9
                                                 : i % nEvery == 0);
    if (!bLabel) continue;
    QString q = QString::fromStdString(tick.sLabel);
    painter.setPen(kcolorText);
    int yText = std::clamp(y + fm.ascent() / 2 - 1, iTop + fm.ascent() - 2, iBottom + fm.ascent() / 2);
    painter.drawText(iLeft - kPad - fm.horizontalAdvance(q), yText, q);
  }

  // X axis: grid lines and the label rows.
  LabelRow row1(painter, fm, iBottom + kPad + fm.ascent());
  LabelRow row2(painter, fm, iBottom + kPad + iLine + fm.ascent());
  int nHarmonics = 0;
  for (const KSGraphSeries& series : aseries) nHarmonics = std::max(nHarmonics, series.nHarmonics);
  const double dF0 = model_.Fundamental();
  std::vector<KSAxisTick> atickX;
  if (!bSpectrum) {
    // Point numbers at the quarters of the capture.
    for (int i = 0; i <= 4; ++i)
      atickX.push_back({iLeft + (iRight - iLeft) * i / 4, std::to_string(nPoints * i / 4), "", i % 2 == 0});
  } else if (model_.FreqView()) {
    atickX = KSGraphFreqTicks(iLeft, iRight);
  } else {
    atickX = KSGraphHarmonicTicks(iLeft, iRight, nHarmonics, dF0);
  }
  for (const KSAxisTick& tick : atickX) {
    painter.setPen(kcolorGridDark);
    painter.drawLine(tick.iPos, iTop, tick.iPos, iBottom);
    painter.setPen(kcolorText);
    row1.Add(tick.iPos, tick.sLabel);
    row2.Add(tick.iPos, tick.sLabel2);
  }
  if (!bSpectrum) row2.Add((iLeft + iRight) / 2, "samples");
  else if (!model_.FreqView()) row2.Add(iRight - 30, "harmonic");
  painter.setPen(kcolorGrid);
  painter.drawRect(iLeft, iTop, iRight - iLeft, iBottom - iTop);

  painter.setClipRect(iLeft, iTop, iRight - iLeft + 1, iBottom - iTop + 1);
  if (bSpectrum) {
    // Bars, the larger of each harmonic first so that the smaller stay visible on top of them.
    bool bFreq = model_.FreqView();
    std::vector<std::pair<double, int>> avalue;
    for (int j = 1; j < nHarmonics; ++j) {
      int x;
      int iHalf = bFreq ? 1 : 3;
      if (bFreq) {
        double f = j * dF0;
        if (f < KSGraphFreqLow) continue;
        if (f > KSGraphFreqHigh) break;
        x = KSGraphFreqX(iLeft, iRight, f);
      } else {
        x = KSGraphHarmonicX(iLeft, j);
        if (x - iHalf > iRight) break;
      }
      avalue.clear();
      for (int i = 0; i < static_cast<int>(aseries.size()) && i < KSGraphMaxSpectrumSeries; ++i)
        if (j < aseries[static_cast<size_t>(i)].nHarmonics)
          avalue.emplace_back(aseries[static_cast<size_t>(i)].adSpectrum[static_cast<size_t>(j)], i);
      std::stable_sort(avalue.begin(), avalue.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
      for (const auto& [dValue, i] : avalue) {
        if (!(dValue > axis.dLow)) continue;
        int y = static_cast<int>(YOf(dValue));
        painter.fillRect(x - iHalf, y, 2 * iHalf + 1, iBottom - y, Color(aseries[static_cast<size_t>(i)].color));
      }
    }
  } else {
    // Step lines across the whole width: point k of n at k / n of it.
    for (const KSGraphSeries& series : aseries) {
      int n = static_cast<int>(series.adY.size());
      if (n == 0) continue;
      QPolygonF line;
      double yLast = YOf(0);
      for (int k = 0; k < n; ++k) {
        double d = series.adY[static_cast<size_t>(k)];
        double y = std::isfinite(d) ? YOf(d) : yLast;
        double x0 = iLeft + double(iRight - iLeft) * k / n, x1 = iLeft + double(iRight - iLeft) * (k + 1) / n;
        line << QPointF(x0, y) << QPointF(x1, y);
        yLast = y;
      }
      painter.setPen(QPen(Color(series.color), 1));
      painter.drawPolyline(line);
    }
  }
  painter.setClipping(false);

  // The info line above the plot, the legend in its top right corner, the caption at the bottom.
  painter.setPen(kcolorText);
  painter.drawText(iLeft, kPad + fm.ascent(), QString::fromStdString(model_.InfoLine()));
  if (bSpectrum) {
    // The Y axis's unit, above its labels.
    static const char* const kapszUnit[3] = {"amp", "power", "dB"};
    QString qUnit = kapszUnit[std::clamp(model_.VertScale(), 0, 2)];
    painter.drawText(std::max(0, iLeft - kPad - fm.horizontalAdvance(qUnit)), kPad + fm.ascent(), qUnit);
  }
  int iNameWidth = 0;
  for (const KSGraphSeries& series : aseries)
    iNameWidth = std::max(iNameWidth, fm.horizontalAdvance(QString::fromStdString(series.sName)));
  int iLegendWidth = kLegendLine + kPad + iNameWidth + 2 * kPad;
  int xLegend = std::max(iLeft + 1, iRight - iLegendWidth - 1);
  int nLegend = std::min(static_cast<int>(aseries.size()), std::max(1, (iPlotHeight - kPad) / iLine));
  painter.fillRect(xLegend, iTop + 1, iRight - xLegend, nLegend * iLine + kPad, Qt::black);
  painter.setPen(kcolorGridDark);
  painter.drawRect(xLegend, iTop + 1, iRight - xLegend - 1, nLegend * iLine + kPad);
  for (int i = 0; i < nLegend; ++i) {
    const KSGraphSeries& series = aseries[static_cast<size_t>(i)];
    int y = iTop + kPad / 2 + i * iLine;
    painter.setPen(QPen(Color(series.color), 2));
    painter.drawLine(xLegend + kPad, y + iLine / 2, xLegend + kPad + kLegendLine, y + iLine / 2);
    painter.setPen(kcolorText);
    QString qName = fm.elidedText(QString::fromStdString(series.sName), Qt::ElideRight, iRight - xLegend - kLegendLine - 3 * kPad);
    painter.drawText(xLegend + 2 * kPad + kLegendLine, y + fm.ascent(), qName);
  }
  QString qCaption = fm.elidedText(QString::fromStdString(model_.Caption()), Qt::ElideRight, width() - iLeft - kPad);
  painter.drawText(iLeft, height() - kPad - fm.descent(), qCaption);
}
