// Focus by click and its frame, the context menu and double-click signals, the full view, and
// window handles that stay the same whatever the layout.
#include "gridfixture.h"

#include <QContextMenuEvent>
#include <QSignalSpy>
#include <QTest>

#include <set>

namespace lumenpane::test {
namespace {

// A point on the frame around pane rectangle r (its top-left border pixel, one step in).
QPoint onFrame(const QRect& r) { return r.topLeft() + QPoint(1, 1) + QPoint(r.width() / 2, 0); }

TEST_F(GridTest, ClickFocusesTheWindowAndMovesTheFrame) {
  QSignalSpy focus(&grid, &CVideoWindow::curWndChanged);
  EXPECT_EQ(pixel(onFrame(paneRect(0))), CVideoPane::focusColor());

  QTest::mouseClick(grid.GetWndHandle(2), Qt::LeftButton);
  EXPECT_EQ(grid.GetCurWnd(), 2);
  ASSERT_EQ(focus.count(), 1);
  EXPECT_EQ(focus[0][0].toInt(), 2);
  const QImage image = shot();
  EXPECT_EQ(image.pixelColor(onFrame(paneRect(2))), CVideoPane::focusColor());
  EXPECT_EQ(image.pixelColor(onFrame(paneRect(0))), CVideoPane::plainColor());

  QTest::mouseClick(grid.GetWndHandle(2), Qt::RightButton);  // the focused window again: no signal
  EXPECT_EQ(focus.count(), 1);
}

TEST_F(GridTest, ContextMenuFocusesFirstAndReportsTheWindow) {
  QSignalSpy menu(&grid, &CVideoWindow::contextMenuRequested);
  CVideoPane* pane = grid.GetWndHandle(3);
  QObject::connect(&grid, &CVideoWindow::contextMenuRequested, &grid,
          [this](int) { EXPECT_EQ(grid.GetCurWnd(), 3); });  // the menu acts on the focused window
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 6), pane->mapToGlobal(QPoint(5, 6)));
  QCoreApplication::sendEvent(pane, &event);
  ASSERT_EQ(menu.count(), 1);
  EXPECT_EQ(menu[0][0].toInt(), 3);
  EXPECT_EQ(menu[0][1].toPoint(), pane->mapToGlobal(QPoint(5, 6)));
}

TEST_F(GridTest, DoubleClickFocusesAndIsReported) {
  QSignalSpy doubles(&grid, &CVideoWindow::wndDoubleClicked);
  QTest::mouseDClick(grid.GetWndHandle(1), Qt::LeftButton);
  EXPECT_EQ(grid.GetCurWnd(), 1);
  ASSERT_EQ(doubles.count(), 1);
  EXPECT_EQ(doubles[0][0].toInt(), 1);
}

TEST_F(GridTest, FocusFallsBackToWindowZeroWhenTheLayoutShrinks) {
  grid.SetWndCount(9);
  ASSERT_TRUE(grid.SetCurWnd(7));
  QSignalSpy focus(&grid, &CVideoWindow::curWndChanged);
  grid.SetWndCount(4);
  EXPECT_EQ(grid.GetCurWnd(), 0);
  ASSERT_EQ(focus.count(), 1);
  EXPECT_EQ(focus[0][0].toInt(), 0);
  EXPECT_FALSE(grid.SetCurWnd(4));  // not in the layout
  EXPECT_EQ(grid.GetCurWnd(), 0);
}

TEST_F(GridTest, FullViewShowsTheFocusedWindowOverTheWholeGrid) {
  grid.SetCurWnd(2);
  grid.SetDisplaySwitch(true);
  short mode = -1, count = -1;
  grid.GetDisplayState(&mode, &count);
  EXPECT_EQ(mode, CVideoWindow::kFullMode);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(paneRect(2), grid.rect());
  for (int i : {0, 1, 3}) EXPECT_FALSE(grid.GetWndHandle(i)->isVisible()) << i;
  grid.resize(800, 500);
  EXPECT_EQ(paneRect(2), grid.rect());

  grid.SetDisplaySwitch(false);
  grid.GetDisplayState(&mode, nullptr);
  EXPECT_EQ(mode, CVideoWindow::kGridMode);
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(grid.GetWndHandle(i)->isVisible()) << i;
    EXPECT_EQ(paneRect(i), paneRects(4, grid.size())[i]) << i;
  }
}

TEST_F(GridTest, SettingTheLayoutEndsTheFullView) {
  grid.SetDisplaySwitch(true);
  grid.SetWndCount(9);
  short mode = -1;
  grid.GetDisplayState(&mode, nullptr);
  EXPECT_EQ(mode, CVideoWindow::kGridMode);
  EXPECT_TRUE(grid.GetWndHandle(8)->isVisible());
}

TEST_F(GridTest, HandlesStayTheSameForTheLifeOfTheGrid) {
  std::vector<CVideoPane*> handles;
  for (int i = 0; i < kPaneCount; ++i) handles.push_back(grid.GetWndHandle(i));
  EXPECT_EQ(std::set<CVideoPane*>(handles.begin(), handles.end()).size(), size_t(kPaneCount));
  for (int n : {1, 6, 36, 64, 4}) {
    grid.SetWndCount(n);
    grid.SetDisplaySwitch(true);
    grid.SetDisplaySwitch(false);
    for (int i = 0; i < kPaneCount; ++i) {
      ASSERT_EQ(grid.GetWndHandle(i), handles[i]) << n << " windows, window " << i;
      EXPECT_EQ(handles[i]->index(), i);
    }
  }
  EXPECT_EQ(grid.GetWndHandle(-1), nullptr);
  EXPECT_EQ(grid.GetWndHandle(kPaneCount), nullptr);
}

TEST_F(GridTest, WindowIndicesOutsideTheGridAreRefused) {
  for (int wnd : {-1, kPaneCount}) {
    EXPECT_FALSE(grid.SetWndStatus(wnd, "x"));
    EXPECT_FALSE(grid.SetWndMark(wnd, CVideoWindow::kMarkSound, 1));
    EXPECT_FALSE(grid.ClearWnd(wnd));
    EXPECT_FALSE(grid.SetWndLogo(wnd, "logo.bmp"));
  }
  EXPECT_FALSE(grid.SetWndMark(0, 2, 1));  // only the sound mark is known
  EXPECT_FALSE(grid.SetMode(7, true));
}

}  // namespace
}  // namespace lumenpane::test
