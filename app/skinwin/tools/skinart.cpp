// Draws the pictures and the theme.ini of a skin into a folder, pixel by pixel, so every
// picture is crisp at 1:1.
//
//   skinart default DIR   the viewer's own skin: dark graphite frame, rounded top corners cut
//                         out through the transparent colour, caption buttons with flat glyphs
//                         on the accent (close: red) when pressed or under the mouse
//   skinart plain DIR     a plain skin for the tests: flat colours, square corners, no
//                         transparency, a close button only, two button states
#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

// The shared look of the viewer's art.
const QColor kTrans(0xFF, 0x00, 0xFF);
const QColor kHighlight(0x3E, 0x46, 0x4F);
const QColor kShadow(0x15, 0x18, 0x1C);
const QColor kGradTop(0x2E, 0x34, 0x3B);
const QColor kGradBottom(0x22, 0x27, 0x2D);
const QColor kGlyph(0xE6, 0xEA, 0xEE);
const QColor kGlyphHover(0xFF, 0xFF, 0xFF);
const QColor kAccent(0x3C, 0x8D, 0xDE);
const QColor kAccentPressed(0x2A, 0x6C, 0xB0);
const QColor kClose(0xD9, 0x46, 0x3B);
const QColor kClosePressed(0xB0, 0x35, 0x2C);
const QColor kTile(0xE6, 0xE6, 0xE6);
const QColor kTileDot(0xE1, 0xE1, 0xE1);

// The inactive frame: the same shapes, flatter and lighter.
const QColor kInHighlight(0x4A, 0x51, 0x59);
const QColor kInShadow(0x23, 0x27, 0x2C);
const QColor kInGradTop(0x3C, 0x42, 0x49);
const QColor kInGradBottom(0x35, 0x3A, 0x40);

// Frame measures of the default skin.
constexpr int kTitle = 30;   // title bar height
constexpr int kBorder = 5;   // left, right and bottom border thickness
constexpr int kTopWidth = 16;
constexpr int kCorner = 4;   // radius of the rounded top corners
constexpr int kButtonW = 28, kButtonH = 22, kButtonY = 4;
constexpr int kGlyphSize = 10;

struct Look {
  QColor highlight, shadow, gradTop, gradBottom;
};
const Look kActive{kHighlight, kShadow, kGradTop, kGradBottom};
const Look kInactive{kInHighlight, kInShadow, kInGradTop, kInGradBottom};

// The title bar colour of row y (0 = highlight, last = the shadow line over the client area).
QColor TitleRow(const Look& look, int y) {
  if (y == 0) return look.highlight;
  if (y == kTitle - 1) return look.shadow;
  const double f = double(y - 1) / double(kTitle - 3);
  auto mix = [f](int a, int b) { return int(std::lround(a + (b - a) * f)); };
  return QColor(mix(look.gradTop.red(), look.gradBottom.red()),
                mix(look.gradTop.green(), look.gradBottom.green()),
                mix(look.gradTop.blue(), look.gradBottom.blue()));
}

bool Save(const QImage& image, const QString& dir, const QString& name) {
  const QString path = dir + '/' + name;
  if (!image.save(path)) {
    std::fprintf(stderr, "skinart: cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

// Top: the title bar, active over inactive.
QImage DrawTop() {
  QImage image(kTopWidth, 2 * kTitle, QImage::Format_RGB32);
  for (int half = 0; half < 2; ++half)
    for (int y = 0; y < kTitle; ++y)
      for (int x = 0; x < kTopWidth; ++x)
        image.setPixelColor(x, half * kTitle + y, TitleRow(half ? kInactive : kActive, y));
  return image;
}

// One half of the left border, outer edge at column 0: the title rows with the rounded corner,
// one middle row, the bottom corner. The right border is its mirror.
void DrawLeftHalf(QImage* image, int x0, const Look& look) {
  const int height = kTitle + 1 + kBorder;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < kBorder; ++x) {
      QColor c = look.gradBottom;  // border body
      if (y < kTitle) c = TitleRow(look, y);
      if (y == kTitle - 1 && x < kBorder - 1) c = look.gradBottom;  // the shadow line stops here
      if (x == kBorder - 1 && y >= kTitle - 1 && y <= height - kBorder) c = look.shadow;  // inner
      if (y == height - kBorder && x == kBorder - 1) c = look.shadow;
      if (x == 0 && y > 0) c = look.shadow;               // outer edge
      if (y == height - 1) c = look.shadow;               // bottom edge
      // Rounded top corner: outside the radius transparent, on its rim the edge colours.
      if (x < kCorner && y < kCorner) {
        const double dx = kCorner - (x + 0.5), dy = kCorner - (y + 0.5);
        const double d = std::sqrt(dx * dx + dy * dy);
        if (d > kCorner)
          c = kTrans;
        else if (d > kCorner - 1)
          c = dy >= dx ? look.highlight : look.shadow;
      }
      image->setPixelColor(x0 + x, y, c);
    }
  }
}

QImage DrawLeft(bool mirror) {
  QImage image(2 * kBorder, kTitle + 1 + kBorder, QImage::Format_RGB32);
  DrawLeftHalf(&image, 0, kActive);
  DrawLeftHalf(&image, kBorder, kInactive);
  if (!mirror) return image;
  // The right border: each half mirrored in itself, active still on the left.
  QImage right(image.size(), QImage::Format_RGB32);
  for (int half = 0; half < 2; ++half)
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < kBorder; ++x)
        right.setPixel(half * kBorder + x, y, image.pixel(half * kBorder + kBorder - 1 - x, y));
  return right;
}

// Bottom: inner shadow line, body, outer edge; active over inactive.
QImage DrawBottom() {
  QImage image(kTopWidth, 2 * kBorder, QImage::Format_RGB32);
  for (int half = 0; half < 2; ++half) {
    const Look& look = half ? kInactive : kActive;
    for (int y = 0; y < kBorder; ++y) {
      const QColor c = (y == 0 || y == kBorder - 1) ? look.shadow : look.gradBottom;
      for (int x = 0; x < kTopWidth; ++x) image.setPixelColor(x, half * kBorder + y, c);
    }
  }
  return image;
}

QImage DrawTile() {
  QImage image(2, 2, QImage::Format_RGB32);
  image.fill(kTile);
  image.setPixelColor(0, 0, kTileDot);
  return image;
}

// A glyph: the pixels of a kGlyphSize square that are set.
using Glyph = std::function<bool(int x, int y)>;

bool CloseGlyph(int x, int y) { return x == y || x == kGlyphSize - 1 - y; }
bool MaxGlyph(int x, int y) {
  return x == 0 || y == 0 || y == 1 || x == kGlyphSize - 1 || y == kGlyphSize - 1;
}
bool RestoreGlyph(int x, int y) {
  const bool front = x <= 7 && y >= 2 &&
                     (x == 0 || x == 7 || y == 2 || y == 3 || y == kGlyphSize - 1);
  const bool back = ((y == 0 || y == 1) && x >= 2) || (x == kGlyphSize - 1 && y <= 7) ||
                    (y == 7 && x >= 8);
  return front || back;
}
bool MinGlyph(int, int y) { return y == 5 || y == 6; }

// A button picture: normal, pressed, mouse over, side by side. The normal state has no
// background (transparent colour); pressed and mouse over sit on a rounded rectangle.
QImage DrawButton(const Glyph& glyph, QColor hover, QColor pressed, int states, QColor normalGlyph,
                  QColor activeGlyph, QColor background) {
  QImage image(states * kButtonW, kButtonH, QImage::Format_RGB32);
  image.fill(background);
  const int gx = (kButtonW - kGlyphSize) / 2, gy = (kButtonH - kGlyphSize) / 2;
  for (int state = 0; state < states; ++state) {
    const int x0 = state * kButtonW;
    if (state > 0) {
      const QColor fill = state == 1 ? pressed : hover;
      for (int y = 0; y < kButtonH; ++y)
        for (int x = 0; x < kButtonW; ++x) {
          // A 2-pixel radius: the outermost corner pixel and its two neighbours stay out.
          const int cx = std::min(x, kButtonW - 1 - x), cy = std::min(y, kButtonH - 1 - y);
          if (cx + cy < 2) continue;
          image.setPixelColor(x0 + x, y, fill);
        }
    }
    for (int y = 0; y < kGlyphSize; ++y)
      for (int x = 0; x < kGlyphSize; ++x)
        if (glyph(x, y)) image.setPixelColor(x0 + gx + x, gy + y, state ? activeGlyph : normalGlyph);
  }
  return image;
}

bool WriteText(const QString& path, const QString& text) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    std::fprintf(stderr, "skinart: cannot write %s\n", qPrintable(path));
    return false;
  }
  QTextStream(&file) << text;
  return true;
}

bool DrawDefault(const QString& dir) {
  const int closeX = kBorder + 2 + kButtonW;
  bool ok = Save(DrawTop(), dir, "top.bmp") && Save(DrawLeft(false), dir, "left.bmp") &&
            Save(DrawLeft(true), dir, "right.bmp") && Save(DrawBottom(), dir, "bottom.bmp") &&
            Save(DrawTile(), dir, "repeate.bmp") &&
            Save(DrawButton(CloseGlyph, kClose, kClosePressed, 3, kGlyph, kGlyphHover, kTrans), dir,
                 "close.bmp") &&
            Save(DrawButton(MaxGlyph, kAccent, kAccentPressed, 3, kGlyph, kGlyphHover, kTrans), dir,
                 "maximize.bmp") &&
            Save(DrawButton(RestoreGlyph, kAccent, kAccentPressed, 3, kGlyph, kGlyphHover, kTrans),
                 dir, "restore.bmp") &&
            Save(DrawButton(MinGlyph, kAccent, kAccentPressed, 3, kGlyph, kGlyphHover, kTrans), dir,
                 "minimize.bmp");
  const QString theme = QString(
      "; The viewer's skin: a dark graphite frame with rounded top corners.\n"
      "; Pictures are drawn by scripts/skinart.sh; every measure here follows from them.\n"
      "[MainFrame]\n"
      "Repeate=repeate.bmp\n"
      "Top=top.bmp\n"
      "Left=left.bmp\n"
      "Right=right.bmp\n"
      "Bottom=bottom.bmp\n"
      "TopTopHeight=0\n"
      "TopBotHeight=0\n"
      "LeftTopHeight=%1\n"
      "LeftBotHeight=%2\n"
      "RightTopHeight=%1\n"
      "RightBotHeight=%2\n"
      "BottomTopHeight=0\n"
      "BottomBotHeight=0\n"
      "ButtonCount=4\n"
      "ButtonImgCount=3\n"
      "TextShift=%3\n"
      "TextShiftVert=0\n"
      "\n[Button0]\nButtonImage=close.bmp\nAction=0\nXCoord=%4\nYCoord=%7\n"
      "\n[Button1]\nButtonImage=maximize.bmp\nAction=1\nXCoord=%5\nYCoord=%7\n"
      "\n[Button2]\nButtonImage=restore.bmp\nAction=1\nXCoord=%5\nYCoord=%7\n"
      "\n[Button3]\nButtonImage=minimize.bmp\nAction=2\nXCoord=%6\nYCoord=%7\n"
      "\n[Colours]\n"
      "TitleText=230 234 238\n"
      "InactiveTitleText=122 131 140\n"
      "UsesTran=1\n"
      "TransColor=255 0 255\n"
      "BarColor=46 52 59\n"
      "MenuColor=230 230 230\n"
      "ButtonFace=230 230 230\n"
      "ButtonHilight=60 141 222\n"
      "ButtonFocus=42 108 176\n"
      "ButtonText=33 33 33\n")
      .arg(kTitle).arg(kBorder).arg(kBorder + 16 + 6).arg(closeX).arg(closeX + kButtonW)
      .arg(closeX + 2 * kButtonW).arg(kButtonY);
  return ok && WriteText(dir + "/theme.ini", theme);
}

// The plain skin: 20-pixel title, 3-pixel borders, flat colours, one close button with two
// states; its picture names carry a folder, which the reader drops.
bool DrawPlain(const QString& dir) {
  constexpr int title = 20, border = 3;
  const QColor active(0x30, 0x60, 0x90), inactive(0x90, 0x90, 0x90);
  QImage top(8, 2 * title, QImage::Format_RGB32);
  top.fill(active);
  QPainter(&top).fillRect(0, title, 8, title, inactive);
  QImage left(2 * border, 8, QImage::Format_RGB32);
  left.fill(active);
  QPainter(&left).fillRect(border, 0, border, 8, inactive);
  QImage bottom(8, 2 * border, QImage::Format_RGB32);
  bottom.fill(active);
  QPainter(&bottom).fillRect(0, border, 8, border, inactive);
  QImage tile(1, 1, QImage::Format_RGB32);
  tile.fill(QColor(0xF0, 0xF0, 0xE0));
  // Close button, 16 x 14: normal and pressed, a white square on red.
  QImage close(2 * 16, 14, QImage::Format_RGB32);
  close.fill(QColor(0xC0, 0x30, 0x30));
  QPainter paint(&close);
  paint.fillRect(16, 0, 16, 14, QColor(0x80, 0x10, 0x10));
  paint.fillRect(5, 4, 6, 6, Qt::white);
  paint.fillRect(16 + 5, 4, 6, 6, Qt::white);
  paint.end();
  bool ok = Save(top, dir, "top.png") && Save(left, dir, "side.png") &&
            Save(bottom, dir, "bottom.png") && Save(tile, dir, "tile.png") &&
            Save(close, dir, "close.png");
  const QString theme = QString(
      "; A plain skin: square, flat, no transparency, a close button only.\n"
      "[MainFrame]\n"
      "Repeate=C:\\Skins\\plain\\tile.png\n"
      "Top=plain/top.png\n"
      "Left=side.png\n"
      "Right=side.png\n"
      "Bottom=bottom.png\n"
      "ButtonCount=1\n"
      "ButtonImgCount=2\n"
      "TextShift=%1\n"
      "TextShiftVert=2\n"
      "[Button0]\nButtonImage=close.png\nXCoord=%2\nYCoord=3\n"
      "[Colours]\n"
      "TitleText=255\t255\t255\n"
      "InactiveTitleText=32 32 32\n")
      .arg(border + 4).arg(border + 16);
  return ok && WriteText(dir + "/theme.ini", theme);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: skinart default|plain DIR\n");
    return 2;
  }
  const QString kind = QString::fromLocal8Bit(argv[1]);
  const QString dir = QString::fromLocal8Bit(argv[2]);
  if (kind == "default") return DrawDefault(dir) ? 0 : 1;
  if (kind == "plain") return DrawPlain(dir) ? 0 : 1;
  std::fprintf(stderr, "skinart: unknown skin %s\n", argv[1]);
  return 2;
}
