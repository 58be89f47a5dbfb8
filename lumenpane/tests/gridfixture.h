// A shown 640 × 480 grid with four windows, and helpers to look at what it painted.
#pragma once

#include "lumenpane/videowindow.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QImage>

#include <gtest/gtest.h>

namespace lumenpane::test {

class GridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    grid.resize(640, 480);
    grid.SetWndCount(4);
    grid.show();
  }

  // The grid as painted now.
  QImage shot() { return grid.grab().toImage(); }

  // The colour at p (grid coordinates) of a fresh shot.
  QColor pixel(QPoint p) { return shot().pixelColor(p); }

  // Pane wnd's rectangle in grid coordinates.
  QRect paneRect(int wnd) const { return grid.GetWndHandle(wnd)->geometry(); }

  // Runs the event loop until done() holds or two seconds have passed; returns done().
  template <typename Pred>
  static bool waitFor(Pred done) {
    QDeadlineTimer deadline(2000);
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
  }

  // A solid image of the given size and colour.
  static QImage solid(QSize size, QColor color) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    return image;
  }

  CVideoWindow grid;
};

}  // namespace lumenpane::test
