// winshot: saves what an X11 window (or the whole screen) shows as a PNG file.
//
//   winshot WINDOW-ID OUT.png     the window (decimal or 0x hexadecimal id, as xdotool prints)
//   winshot root OUT.png          the whole screen
//
// For the screenshot scripts under Xvfb; needs a running X server ($DISPLAY).
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "xcb");
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: winshot WINDOW-ID|root OUT.png\n");
    return 2;
  }
  const QString which = QString::fromLocal8Bit(argv[1]);
  bool ok = true;
  const WId id = which == QStringLiteral("root") ? 0 : which.toULongLong(&ok, 0);
  if (!ok) {
    std::fprintf(stderr, "winshot: %s is no window id\n", argv[1]);
    return 2;
  }
  const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(id);
  if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::fprintf(stderr, "winshot: cannot grab window %s into %s\n", argv[1], argv[2]);
    return 1;
  }
  return 0;
}
