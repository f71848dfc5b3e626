// ide_grab: saves a picture of one X window (by its id, as xdotool prints it) as a PNG file.
//   ide_grab WINDOW_ID OUT.png
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: ide_grab WINDOW_ID OUT.png\n");
    return 2;
  }
  WId wid = static_cast<WId>(strtoull(argv[1], nullptr, 0));
  QGuiApplication app(argc, argv);
  QScreen* pscreen = QGuiApplication::primaryScreen();
  if (!pscreen) {
    fprintf(stderr, "ide_grab: no screen\n");
    return 1;
  }
  QPixmap pixmap = pscreen->grabWindow(wid);
  if (pixmap.isNull() || !pixmap.save(argv[2], "PNG")) {
    fprintf(stderr, "ide_grab: cannot grab window %s into %s\n", argv[1], argv[2]);
    return 1;
  }
  return 0;
}
