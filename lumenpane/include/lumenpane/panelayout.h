// Where the panes of the video grid go.
//
// A layout is a number of video windows. Square counts (1, 4, 9, 16, 25, 36, 49, 64) are
// k × k grids of equal cells; 6 is a 3 × 3 grid whose top-left 2 × 2 cells form one large
// pane (window 0) with five small panes around it: windows 1 and 2 down the right column,
// windows 3, 4 and 5 along the bottom row. Cell edges are spread with integer arithmetic so
// that the panes of a layout tile the whole area: no gaps, no overlap, whatever its size.
#pragma once

#include <QList>
#include <QRect>
#include <QSize>

namespace lumenpane {

// The number of panes the grid holds; window indices run from 0 to kPaneCount - 1.
inline constexpr int kPaneCount = 64;

// True when n is a window count the grid can show: 6 or a square of 1 to 8.
bool isValidWndCount(int n);

// The rectangles of windows 0 .. n-1 for layout n in an area of the given size, in window
// order, relative to the area's top-left corner. Returns an empty list when n is not a
// valid count. Panes of a very small area may be empty rectangles.
QList<QRect> paneRects(int n, QSize area);

}  // namespace lumenpane
