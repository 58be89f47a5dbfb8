// Pane geometry: every layout tiles the grid; the six-window layout is one large pane and five
// small ones; the widget puts its panes where the geometry says and hides the rest.
#include "gridfixture.h"

#include <QRegion>
#include <QSignalSpy>

namespace lumenpane::test {
namespace {

const int kCounts[] = {1, 4, 6, 9, 16, 25, 36, 49, 64};
const QSize kAreas[] = {{640, 480}, {745, 665}, {1001, 333}, {7, 5}};

TEST(PaneRects, EveryLayoutTilesTheAreaWithoutOverlap) {
  for (int n : kCounts) {
    for (QSize area : kAreas) {
      SCOPED_TRACE(testing::Message() << n << " windows in " << area.width() << "x" << area.height());
      const QList<QRect> rects = paneRects(n, area);
      ASSERT_EQ(rects.size(), n);
      QRegion covered;
      qint64 sum = 0;
      for (const QRect& r : rects) {
        EXPECT_FALSE(covered.intersects(r)) << "overlap";
        covered += r;
        sum += qint64(r.width()) * r.height();
      }
      EXPECT_EQ(sum, qint64(area.width()) * area.height());
      EXPECT_EQ(covered, QRegion(QRect(QPoint(0, 0), area)));
    }
  }
}

TEST(PaneRects, SixWindowsAreOneLargeAndFiveSmall) {
  const QList<QRect> rects = paneRects(6, QSize(600, 450));
  ASSERT_EQ(rects.size(), 6);
  EXPECT_EQ(rects[0], QRect(0, 0, 400, 300));
  const QList<QRect> small = {{400, 0, 200, 150}, {400, 150, 200, 150}, {0, 300, 200, 150},
                              {200, 300, 200, 150}, {400, 300, 200, 150}};
  EXPECT_EQ(rects.mid(1), small);
}

TEST(PaneRects, SquareGridsAreRowMajor) {
  const QList<QRect> rects = paneRects(9, QSize(300, 90));
  EXPECT_EQ(rects[1], QRect(100, 0, 100, 30));
  EXPECT_EQ(rects[3], QRect(0, 30, 100, 30));
  EXPECT_EQ(rects[8], QRect(200, 60, 100, 30));
}

TEST(PaneRects, OtherCountsAreRefused) {
  for (int n : {-1, 0, 2, 3, 5, 7, 8, 10, 32, 65, 81}) {
    EXPECT_FALSE(isValidWndCount(n)) << n;
    EXPECT_TRUE(paneRects(n, QSize(640, 480)).isEmpty()) << n;
  }
}

TEST_F(GridTest, PanesFollowTheLayoutAndTheOthersAreHidden) {
  for (int n : kCounts) {
    ASSERT_TRUE(grid.SetWndCount(n));
    const QList<QRect> rects = paneRects(n, grid.size());
    for (int i = 0; i < kPaneCount; ++i) {
      CVideoPane* pane = grid.GetWndHandle(i);
      EXPECT_EQ(pane->isVisible(), i < n) << n << " windows, window " << i;
      if (i < n) {
        EXPECT_EQ(pane->geometry(), rects[i]) << n << " windows, window " << i;
      }
    }
  }
  grid.resize(900, 600);
  EXPECT_EQ(paneRect(63), paneRects(64, QSize(900, 600))[63]);
}

TEST_F(GridTest, AnInvalidCountChangesNothing) {
  QSignalSpy layouts(&grid, &CVideoWindow::layoutChanged);
  EXPECT_FALSE(grid.SetWndCount(5));
  EXPECT_FALSE(grid.SetWndCount(0));
  EXPECT_EQ(grid.GetWndCount(), 4);
  EXPECT_TRUE(grid.GetWndHandle(3)->isVisible());
  EXPECT_FALSE(grid.GetWndHandle(4)->isVisible());
  EXPECT_EQ(layouts.count(), 0);
}

TEST_F(GridTest, LayoutChangedOnlyWhenTheCountChanges) {
  // A handler that sets the layout again, as the main window does, must not loop.
  QSignalSpy layouts(&grid, &CVideoWindow::layoutChanged);
  QObject::connect(&grid, &CVideoWindow::layoutChanged, &grid, [this](int n) { grid.SetWndCount(n); });
  grid.SetWndCount(6);
  grid.SetWndCount(6);
  grid.SetWndCount(9);
  ASSERT_EQ(layouts.count(), 2);
  EXPECT_EQ(layouts[0][0].toInt(), 6);
  EXPECT_EQ(layouts[1][0].toInt(), 9);
}

TEST(VideoWindow, StartsWithOneWindow) {
  CVideoWindow grid;
  short mode = -1, count = -1;
  grid.GetDisplayState(&mode, &count);
  EXPECT_EQ(mode, CVideoWindow::kGridMode);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(grid.GetCurWnd(), 0);
  grid.GetDisplayState(nullptr, nullptr);  // null pointers are allowed
}

}  // namespace
}  // namespace lumenpane::test
