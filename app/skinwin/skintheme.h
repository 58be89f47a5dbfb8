// The skin file "theme.ini" and what is derived from it: the frame pictures, their metrics,
// the caption buttons and the colours, plus the plain arithmetic the painted frame is made of
// (three-slice drawing, button rectangles, hit codes).
//
// A skin file is a profile file in the folder of its pictures:
//
//   [MainFrame]  Repeate, Top, Left, Right, Bottom    picture file names
//                TopTopHeight, TopBotHeight, ...       fixed head / tail of each frame picture
//                ButtonCount, ButtonImgCount           caption buttons, states per button picture
//                TextShift, TextShiftVert              top left of the title text
//   [Button0..]  ButtonImage, Action, XCoord, YCoord   one caption button each
//   [Colours]    TitleText, InactiveTitleText, UsesTran, TransColor, BarColor, MenuColor,
//                ButtonFace, ButtonHilight, ButtonFocus, ButtonText
//
// Every frame picture holds the active and the inactive look: Top and Bottom stack them (upper
// half active), Left and Right place them side by side (left half active). A button picture
// holds ButtonImgCount equal states side by side: 0 normal, 1 pressed, 2 mouse over.
//
// Nothing here touches a window: CSkinWin (skinwin.h) paints and drives a window from a
// SkinTheme.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <array>
#include <string>
#include <vector>

namespace skinwin {

// The hit codes of a point of a skinned window (the numbering the frame has always used).
enum HitCode : int {
  kHitNone = 0,
  kHitClient = 1,
  kHitCaption = 2,
  kHitSysMenu = 3,
  kHitMinButton = 8,
  kHitMaxButton = 9,
  kHitLeft = 10,
  kHitRight = 11,
  kHitTop = 12,
  kHitTopLeft = 13,
  kHitTopRight = 14,
  kHitBottom = 15,
  kHitBottomLeft = 16,
  kHitBottomRight = 17,
  kHitClose = 20,
};

// Whether code is one of the border codes 10..17 (moving an edge or a corner).
bool IsBorderHit(int code);

// Actions of a caption button ("Action" of a [ButtonN] section).
enum ButtonAction : int { kActionClose = 0, kActionMaximize = 1, kActionMinimize = 2 };

// Which picture a caption button slot shows.
enum ButtonSlot : int { kSlotClose = 0, kSlotMinimize = 1, kSlotMaximize = 2, kSlotRestore = 3 };
inline constexpr int kSlotCount = 4;

// A colour value "R G B": three decimal numbers separated by blanks or tabs, each taken
// modulo 256 (a negative number as its low byte: -1 is 255). Returns def for an empty (or
// all-blank) value. A number that is missing or does not start with a digit or a sign counts
// as 0 ("10 20" is 10 20 0); digits stop at the first other character.
QColor ParseColour(const std::string& value, QColor def);

// One piece of a three-slice drawing: length pixels of the picture from src are copied to dst
// (offsets along the drawing direction).
struct Slice {
  int src;     // offset in the picture
  int dst;     // offset in the drawn length
  int length;  // pixels copied
};
bool operator==(const Slice& a, const Slice& b);

// The fixed head and tail of a frame picture of length `length` along its drawing direction,
// as LoadTheme derives them: headEnd = the head value, tailStart = length - the tail value;
// when tailStart is not beyond headEnd it becomes headEnd + 1 (a one-pixel middle, the rest of
// the picture after it is the tail).
struct SliceMetrics {
  int length = 0;     // picture length
  int headEnd = 0;    // end of the head = start of the middle
  int tailStart = 0;  // start of the tail = end of the middle
};

// Derives the metrics from the head and tail values. Returns false (metrics unusable) when
// length < 1, head or tail is negative, head >= length or tail > length: such a picture would
// be read outside its pixels.
bool DeriveSlices(int length, int head, int tail, SliceMetrics* out);

// The pieces that draw a picture with metrics m over n pixels: the head at 0, the tail so
// that it ends at n, the middle repeated between them with the last repetition cut where the
// tail starts. When n is shorter than head and tail together, the tail overlaps the head
// (drawn after it). n <= 0 gives no piece.
std::vector<Slice> ThreeSlices(const SliceMetrics& m, int n);

// A caption button as loaded: its picture and its rectangle in skin coordinates
// (XCoord - w, YCoord, XCoord, YCoord + h), w = picture width / ButtonImgCount.
struct SkinButton {
  QImage picture;  // null when the skin has no such button
  QRect skinRect;  // in skin coordinates; x is measured leftwards from the window's right edge
};

// Everything a skin file gives.
struct SkinTheme {
  // Frame pictures.
  QImage repeate;  // tiled over the client area
  QImage top, left, right, bottom;

  // Metrics.
  int titleHeight = 0;   // top.height() / 2
  int leftWidth = 0;     // left.width() / 2
  int rightWidth = 0;    // right.width() / 2
  int bottomHeight = 0;  // bottom.height() / 2
  SliceMetrics topSlices, leftSlices, rightSlices, bottomSlices;

  // Caption buttons.
  int buttonCount = 0;
  int buttonImgCount = 3;
  std::array<SkinButton, kSlotCount> buttons;  // by ButtonSlot

  // Title text.
  int textShift = 0;
  int textShiftVert = 0;

  // Colours.
  QColor titleText, inactiveTitleText;
  bool usesTran = false;
  QColor transColor{0xFF, 0x00, 0xFF};
  // Kept from the file, not used by the frame.
  QColor barColor{0xCF, 0xCF, 0xCF}, menuColor{0xCF, 0xCF, 0xCF};
  QColor buttonFace, buttonHilight, buttonFocus, buttonText;

  // The minimum size of a skinned window: (width of Top + width of Left + width of Right,
  // height of Left + 20).
  QSize MinimumSize() const;

  // The frame thickness on each side: left width, title height, right width, bottom height.
  int FrameWidth() const { return leftWidth + rightWidth; }
  int FrameHeight() const { return titleHeight + bottomHeight; }

  // The rectangle of a button slot in a window of width w: left = w - XCoord, right = left +
  // the state width, top and bottom as loaded. Empty for a slot the skin has no picture for.
  QRect ButtonRect(ButtonSlot slot, int w) const;

  // The state `state` (0 normal, 1 pressed, 2 mouse over) of a button picture; a state the
  // picture does not hold falls back to the last one it has.
  QRect ButtonState(ButtonSlot slot, int state) const;
};

// Reads the skin file at path into *theme (all of it replaced). Returns false, with a reason in
// *error when error is not null, when the file is missing, when one of the five frame pictures
// is not named or does not load, when a caption button picture does not load, or when a value
// would make the frame read outside a picture or divide by zero: ButtonImgCount below 1, a
// frame picture too small to hold two halves (Top or Bottom lower than 2 pixels, Left or Right
// narrower than 2 pixels), a head or tail value out of its picture (DeriveSlices), or a button
// picture narrower than ButtonImgCount. Picture names may carry a folder ("Skin\top.bmp"): only
// the part after the last '\' or '/' is used, read from the folder of the skin file.
//
// Colours that are missing take the defaults: the title texts and ButtonFace/ButtonText the
// system's (palette), TransColor magenta, BarColor and MenuColor 0xCFCFCF.
bool LoadTheme(const std::string& path, SkinTheme* theme, QString* error = nullptr);

// The hit code of point p (window coordinates) of a window of size size skinned by theme.
// thickFrame: the window can be resized; minBox / maxBox: it has those buttons. The first
// match of this list wins:
//   close button 20; minimise button 8 (minBox); maximise button 9 (maxBox);
//   the small icon at (left width, 5) of iconSize 3;
//   with a thick frame: top-left 13, top-right 14 (as wide as the LEFT border), bottom-left 16,
//   bottom-right 17, left 10, right 11, bottom 15, top 12 (as thick as the BOTTOM border);
//   the caption (left width, 5) .. (W - right width, title height) 2; anything else 1.
// A point between the top edge band and row 5 of the caption is client (1).
int HitTest(const SkinTheme& theme, QSize size, QPoint p, bool thickFrame, bool minBox,
            bool maxBox, int iconSize);

}  // namespace skinwin
