// vantrel-ide: the desktop application.
#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "ide/ideapp.h"

namespace {

// The window icon: a sine period over a dark square, drawn at the sizes the desktop asks for.
QIcon MakeIcon() {
  QIcon icon;
  for (int iSize : {16, 32, 48, 64}) {
    QPixmap pixmap(iSize, iSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(30, 40, 60));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(0, 0, iSize, iSize), iSize / 6.0, iSize / 6.0);
    QPolygonF wave;
    for (int x = 0; x <= iSize; ++x)
      wave << QPointF(x, iSize / 2.0 - std::sin(2 * M_PI * x / iSize) * iSize * 0.3);
    painter.setPen(QPen(QColor(90, 220, 140), std::max(1.0, iSize / 12.0)));
    painter.drawPolyline(wave);
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

int main(int argc, char** argv) {
  // Help needs no display.
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      PrintIdeUsage(stdout);
      return 0;
    }
  QApplication qapp(argc, argv);
  QApplication::setWindowIcon(MakeIcon());
  int iExit = 0;
  {
    CVantrelExplorerApp app;
    if (app.Start(argc, argv, &iExit) != 0) return iExit;
    iExit = QApplication::exec();
  }
  return iExit;
}
