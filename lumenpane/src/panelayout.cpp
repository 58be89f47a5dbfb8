// Pane geometry of the video grid: k × k grids and the six-window layout.
#include "lumenpane/panelayout.h"

namespace lumenpane {
namespace {

// The side k of a k × k grid with n cells, or 0 when n is not such a square (k at most 8).
int gridSide(int n) {
  for (int k = 1; k * k <= kPaneCount; ++k)
    if (k * k == n) return k;
  return 0;
}

// Edge j of k cells spread over length: cell j runs from edge(j) to edge(j + 1).
int edge(int j, int k, int length) { return int(qint64(j) * length / k); }

// The rectangle of cells [col0, col1) × [row0, row1) of a k × k grid over the area.
QRect cells(int col0, int row0, int col1, int row1, int k, QSize area) {
  const int left = edge(col0, k, area.width()), top = edge(row0, k, area.height());
  return QRect(left, top, edge(col1, k, area.width()) - left, edge(row1, k, area.height()) - top);
}

}  // namespace

bool isValidWndCount(int n) { return n == 6 || gridSide(n) != 0; }

QList<QRect> paneRects(int n, QSize area) {
  QList<QRect> rects;
  area = area.expandedTo(QSize(0, 0));
  if (n == 6) {
    rects << cells(0, 0, 2, 2, 3, area)                                 // the large pane
          << cells(2, 0, 3, 1, 3, area) << cells(2, 1, 3, 2, 3, area)  // right column
          << cells(0, 2, 1, 3, 3, area) << cells(1, 2, 2, 3, 3, area) << cells(2, 2, 3, 3, 3, area);
    return rects;
  }
  const int k = gridSide(n);
  for (int i = 0; i < k * k; ++i) rects << cells(i % k, i / k, i % k + 1, i / k + 1, k, area);
  return rects;
}

}  // namespace lumenpane
