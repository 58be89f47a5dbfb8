// Players on the real engine drawing into the video grid: the window handle a player gets is
// the grid's pane, pictures decoded on the engine's threads are painted by the user-interface
// thread into the right pane, scaled to the pane with the picture's display aspect kept.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QImage>

#include <lumenpane/videowindow.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "player.h"
#include "support.h"

namespace {

using lumenpane::CVideoPane;
using lumenpane::CVideoWindow;

// The widgets need an application object; gtest_main makes none.
class GuiEnvironment : public testing::Environment {
 public:
  void SetUp() override { m_app = std::make_unique<QApplication>(m_argc, m_argv); }
  void TearDown() override { m_app.reset(); }

 private:
  int m_argc = 1;
  char m_name[16] = "grid_tests";
  char* m_argv[2] = {m_name, nullptr};
  std::unique_ptr<QApplication> m_app;
};

[[maybe_unused]] testing::Environment* const g_gui = testing::AddGlobalTestEnvironment(new GuiEnvironment);

// Runs the event loop until done() holds (a guard of 10 s against hangs, not a timing).
template <typename Pred>
bool ProcessEventsUntil(Pred done) {
  QDeadlineTimer deadline(10000);
  while (!done() && !deadline.hasExpired()) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // leave the processors to the players
  }
  return done();
}

// True when c is near the colour expected (the pictures went through YUV and back).
bool Near(QColor c, QColor expected) {
  return std::abs(c.red() - expected.red()) < 40 && std::abs(c.green() - expected.green()) < 40 &&
         std::abs(c.blue() - expected.blue()) < 40;
}

// One window's recording: a solid colour of 176 × 144 pixels whose pixels are `sar` wide.
struct PaneCase {
  const char* colour;  // ffmpeg's name of the colour
  QColor rgb;          // the colour
  const char* sar;     // sample aspect ratio
  QSize display;       // the picture's display size: 176 × 144 with its pixels' aspect
};

constexpr int kWindows = 4;
const std::array<PaneCase, kWindows> kCases = {{
    {"red", QColor(255, 0, 0), "1/1", QSize(176, 144)},      // narrower than a pane: bars left and right
    {"lime", QColor(0, 255, 0), "2/1", QSize(352, 144)},     // wider: bars above and below
    {"blue", QColor(0, 0, 255), "1/1", QSize(176, 144)},
    {"white", QColor(255, 255, 255), "12/11", QSize(192, 144)},
}};

TEST(GridPlayback, EveryPlayerPaintsItsOwnPaneWithTheAspectKept) {
  apptest::CMountedFolder mnt;
  std::array<std::string, kWindows> paths;
  for (int i = 0; i < kWindows; ++i) {
    const std::string rooted =
        "idea0/2010-03-05/00" + std::to_string(i + 1) + "/08.00.00-08.00.01[R][@1][0].h264";
    paths[i] = mnt.Put(rooted, "");
    const std::string source = std::string("-f lavfi -i color=c=") + kCases[i].colour +
                               ":size=176x144:rate=25 -t 1 -vf setsar=" + kCases[i].sar +
                               " -c:v libx264 -preset ultrafast -f h264";
    if (!apptest::MakeWithFfmpeg(source, mnt.Root() / rooted))
      GTEST_SKIP() << "ffmpeg command line with libx264 not available";
  }

  CVideoWindow grid;
  grid.resize(640, 480);
  grid.SetWndCount(kWindows);
  grid.show();
  ASSERT_TRUE(ProcessEventsUntil([&] { return !grid.GetWndHandle(kWindows - 1)->targetSize().isEmpty(); }));

  std::array<std::unique_ptr<CPlayer>, kWindows> players;
  for (int i = 0; i < kWindows; ++i) {
    players[i] = std::make_unique<CPlayer>(grid.GetWndHandle(i), i);  // the pane is the handle
    ASSERT_EQ(players[i]->Open(paths[i]), 1);
  }
  // Each run ends by itself once the engine has shown its whole recording.
  ASSERT_TRUE(ProcessEventsUntil([&] {
    for (const auto& p : players)
      if (!p->IsStopped() || p->GetState() != CPlayer::stateIdle) return false;
    return true;
  }));
  ASSERT_TRUE(ProcessEventsUntil([&] {
    for (int i = 0; i < kWindows; ++i)
      if (!grid.GetWndHandle(i)->hasFrame()) return false;
    return true;
  }));
  QCoreApplication::processEvents();  // the last repaint requests

  const QImage shot = grid.grab().toImage();
  for (int i = 0; i < kWindows; ++i) {
    SCOPED_TRACE(kCases[i].colour);
    const CVideoPane* pane = grid.GetWndHandle(i);
    const QRect area = pane->geometry().adjusted(CVideoPane::kBorder, CVideoPane::kBorder,
                                                 -CVideoPane::kBorder, -CVideoPane::kBorder);
    ASSERT_EQ(area.size(), QSize(316, 236));  // so red has bars left and right, lime above and below
    const QSize fitted = kCases[i].display.scaled(area.size(), Qt::KeepAspectRatio);
    const QRect picture(area.x() + (area.width() - fitted.width()) / 2,
                        area.y() + (area.height() - fitted.height()) / 2, fitted.width(),
                        fitted.height());
    EXPECT_TRUE(Near(shot.pixelColor(picture.center()), kCases[i].rgb));
    EXPECT_TRUE(Near(shot.pixelColor(picture.topLeft() + QPoint(1, 1)), kCases[i].rgb));
    EXPECT_TRUE(Near(shot.pixelColor(picture.bottomRight() - QPoint(1, 1)), kCases[i].rgb));
    // Outside the picture, inside the pane: the black bars (where there are any).
    if (picture.left() > area.left()) {
      EXPECT_EQ(shot.pixelColor(picture.left() - 1, picture.center().y()), QColor(Qt::black));
    }
    if (picture.top() > area.top()) {
      EXPECT_EQ(shot.pixelColor(picture.center().x(), picture.top() - 1), QColor(Qt::black));
    }
  }
}

}  // namespace
