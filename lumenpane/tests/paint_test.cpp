// What the panes paint: frames handed over from other threads (aspect ratio kept, newest wins,
// one repaint request at a time), logos, status texts, the sound mark and captions.
#include "gridfixture.h"

#include <QTemporaryDir>

#include <thread>

namespace lumenpane::test {
namespace {

// Counts the events of one type that reach an object.
class EventCounter : public QObject {
 public:
  EventCounter(QObject* target, QEvent::Type type) : m_type(type) { target->installEventFilter(this); }
  int count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == m_type) ++count;
    return false;
  }

 private:
  QEvent::Type m_type;
};

// Pane 3 of the four-window grid is (320, 240)-(640, 480); its picture area is 316 × 236.
const QPoint kPane3(320, 240);

struct LetterboxCase {
  QSize frame;
  QPoint picture, bar1, bar2;  // pane coordinates: inside the picture, in the two black bars
};

TEST_F(GridTest, FramesFromAnotherThreadArePaintedWithTheirAspectRatio) {
  const LetterboxCase cases[] = {
      {{100, 100}, {160, 120}, {20, 120}, {300, 120}},  // 236 × 236 in the middle: bars left and right
      {{400, 100}, {160, 120}, {160, 30}, {160, 210}},  // 316 × 79 in the middle: bars top and bottom
      {{316, 236}, {4, 4}, {160, 1}, {1, 120}},         // the exact size: no bars, only the frame
  };
  CVideoPane* pane = grid.GetWndHandle(3);
  ASSERT_EQ(pane->targetSize(), QSize(316, 236));
  EventCounter paints(pane, QEvent::Paint);
  for (const LetterboxCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.frame.width() << "x" << c.frame.height());
    paints.count = 0;
    std::thread engine([&] { pane->presentFrame(solid(c.frame, Qt::red)); });
    engine.join();
    ASSERT_TRUE(waitFor([&] { return paints.count > 0; })) << "no repaint after a frame";
    const QImage image = shot();
    EXPECT_EQ(image.pixelColor(kPane3 + c.picture), QColor(Qt::red));
    const QColor bar = c.frame == QSize(316, 236) ? CVideoPane::plainColor() : QColor(Qt::black);
    EXPECT_EQ(image.pixelColor(kPane3 + c.bar1), bar);
    EXPECT_EQ(image.pixelColor(kPane3 + c.bar2), bar);
  }
}

TEST_F(GridTest, APictureAPixelNarrowerThanItsPlaceIsDrawnUnscaled) {
  // The engine makes pictures at most one pixel narrower than asked; stretching such a picture
  // by a pixel would blend every column with its neighbour.
  CVideoPane* pane = grid.GetWndHandle(3);
  pane->setStretch(true);
  QImage stripes(315, 236, QImage::Format_RGB32);
  for (int x = 0; x < stripes.width(); ++x)
    for (int y = 0; y < stripes.height(); ++y) stripes.setPixelColor(x, y, x % 2 ? Qt::red : Qt::blue);
  EventCounter paints(pane, QEvent::Paint);
  pane->presentFrame(stripes);
  ASSERT_TRUE(waitFor([&] { return paints.count > 0; }));
  const QImage image = shot();
  for (int x : {0, 1, 150, 151, 314})
    EXPECT_EQ(image.pixelColor(kPane3 + QPoint(2 + x, 120)), QColor(x % 2 ? Qt::red : Qt::blue)) << x;
}

TEST_F(GridTest, FitSizeKeepsTheAspectRatioInsideThePane) {
  const CVideoPane* pane = grid.GetWndHandle(3);
  EXPECT_EQ(pane->fitSize({704, 576}), QSize(288, 236));
  EXPECT_EQ(pane->fitSize({1280, 720}), QSize(316, 177));
  EXPECT_EQ(pane->fitSize({5000, 1}), QSize(316, 1));  // never an empty picture
  EXPECT_EQ(pane->fitSize({}), QSize());
  CVideoWindow hidden;  // never shown: no target size yet, pictures keep their own size
  EXPECT_EQ(hidden.GetWndHandle(0)->fitSize({704, 576}), QSize(704, 576));
}

TEST_F(GridTest, TheEngineDrawsThroughTheFrameSink) {
  TvxFrameSink* sink = grid.GetWndHandle(3);  // what a player hands to TvxPlay
  const QSize size = sink->frameSize({704, 576});
  EXPECT_EQ(size, QSize(288, 236));
  std::thread engine([&] { sink->present(solid(size, Qt::red)); });
  engine.join();
  const QImage image = shot();
  EXPECT_EQ(image.pixelColor(kPane3 + QPoint(2 + 14, 120)), QColor(Qt::red));  // 14 px bars left and right
  EXPECT_EQ(image.pixelColor(kPane3 + QPoint(2 + 13, 120)), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(kPane3 + QPoint(2 + 14 + 288, 120)), QColor(Qt::black));
}

TEST_F(GridTest, StretchModeFillsThePane) {
  grid.SetMode(CVideoWindow::kModeStretch, true);
  grid.GetWndHandle(3)->presentFrame(solid({100, 100}, Qt::red));
  EXPECT_EQ(pixel(kPane3 + QPoint(20, 120)), QColor(Qt::red));
  grid.SetMode(CVideoWindow::kModeStretch, false);
  EXPECT_EQ(pixel(kPane3 + QPoint(20, 120)), QColor(Qt::black));
}

TEST_F(GridTest, FastFramesShareOneRepaintRequestAndTheNewestIsPainted) {
  CVideoPane* pane = grid.GetWndHandle(0);
  EventCounter requests(pane, QEvent::MetaCall);
  std::thread engine([&] {
    for (int i = 0; i < 500; ++i) pane->presentFrame(solid({64, 48}, i == 499 ? Qt::blue : Qt::green));
  });
  engine.join();  // the user-interface thread has not run in between
  QCoreApplication::processEvents();
  EXPECT_EQ(requests.count, 1);
  EXPECT_EQ(pixel({160, 120}), QColor(Qt::blue));

  pane->presentFrame(solid({64, 48}, Qt::green));  // after a repaint, the next frame asks again
  QCoreApplication::processEvents();
  EXPECT_EQ(requests.count, 2);
}

TEST_F(GridTest, ClearWndDropsThePictureAndShowsTheLogo) {
  QTemporaryDir dir;
  const QString logoPath = dir.filePath("logo.bmp");
  ASSERT_TRUE(solid({40, 30}, Qt::yellow).save(logoPath));
  EXPECT_TRUE(grid.SetWndLogo(0, logoPath));
  EXPECT_EQ(pixel({160, 120}), QColor(Qt::yellow));
  EXPECT_EQ(pixel({160 - 30, 120}), QColor(Qt::black));  // the logo keeps its own size

  grid.GetWndHandle(0)->presentFrame(solid({64, 48}, Qt::red));
  EXPECT_EQ(pixel({160, 120}), QColor(Qt::red));
  EXPECT_TRUE(grid.ClearWnd(0));
  EXPECT_FALSE(grid.GetWndHandle(0)->hasFrame());
  EXPECT_EQ(pixel({160, 120}), QColor(Qt::yellow));

  EXPECT_FALSE(grid.SetWndLogo(0, dir.filePath("missing.bmp")));
  EXPECT_EQ(pixel({160, 120}), QColor(Qt::black));
  ASSERT_TRUE(QFile(logoPath).resize(10));  // a broken picture file is no logo either
  EXPECT_FALSE(grid.SetWndLogo(1, logoPath));
}

TEST_F(GridTest, StatusTextAndSoundMarkAreDrawnInTheirCorners) {
  const QRect topLeft(kPane3 + QPoint(2, 2), QSize(100, 24));
  const QRect topRight(kPane3 + QPoint(320 - 30, 2), QSize(28, 24));
  const QImage before = shot();

  grid.SetWndStatus(3, "           ");  // an idle window's status: nothing to see
  EXPECT_EQ(shot(), before);

  grid.SetWndStatus(3, "Pause            ");
  QImage image = shot();
  EXPECT_NE(image.copy(topLeft), before.copy(topLeft));
  EXPECT_EQ(image.copy(topRight), before.copy(topRight));
  bool white = false;
  for (int y = topLeft.top(); y <= topLeft.bottom(); ++y)
    for (int x = topLeft.left(); x <= topLeft.right(); ++x) white = white || image.pixelColor(x, y) == Qt::white;
  EXPECT_TRUE(white) << "status text not drawn in white";

  grid.SetWndStatus(3, "");
  ASSERT_TRUE(grid.SetWndMark(3, CVideoWindow::kMarkSound, 1));
  image = shot();
  EXPECT_NE(image.copy(topRight), before.copy(topRight));
  EXPECT_EQ(image.copy(topLeft), before.copy(topLeft));
  grid.SetWndMark(3, CVideoWindow::kMarkSound, 0);
  EXPECT_EQ(shot(), before);
}

TEST_F(GridTest, CaptionsComeFromTheLanguageFile) {
  EXPECT_EQ(grid.GetWndHandle(2)->caption(), "");  // captions are off at first
  grid.SetMode(CVideoWindow::kModeCaptions, true);
  EXPECT_EQ(grid.GetWndHandle(2)->caption(), "Window 3");

  QTemporaryDir dir;
  QFile file(dir.filePath("Deutsch.lang"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[Info]\nLanguageID=2\n[string]\nWINDOW = Fenster \n");
  file.close();
  EXPECT_TRUE(grid.SetLanguageFile(file.fileName()));
  EXPECT_EQ(grid.GetWndHandle(2)->caption(), "Fenster 3");
  const QImage withCaption = shot();
  grid.SetMode(CVideoWindow::kModeCaptions, false);
  EXPECT_NE(shot(), withCaption);

  EXPECT_FALSE(grid.SetLanguageFile(dir.filePath("missing.lang")));
  grid.SetMode(CVideoWindow::kModeCaptions, true);
  EXPECT_EQ(grid.GetWndHandle(2)->caption(), "Window 3");
}

}  // namespace
}  // namespace lumenpane::test
