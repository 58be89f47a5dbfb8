// Loading a skin file and the arithmetic of the painted frame.
#include "skintheme.h"

#include <profile/profile.h>

#include <QApplication>
#include <QFileInfo>
#include <QPalette>

#include <algorithm>
#include <cstdlib>

namespace skinwin {
namespace {

// Values of a skin file are read as through a buffer of 1000 bytes.
constexpr std::size_t kValueSize = 1000;

const char kMainFrame[] = "MainFrame";
const char kColours[] = "Colours";

// A half-open rectangle test: left <= x < right, top <= y < bottom.
bool InRect(int left, int top, int right, int bottom, QPoint p) {
  return p.x() >= left && p.x() < right && p.y() >= top && p.y() < bottom;
}

// The picture named by `name` (folders in the name are dropped) in folder dir.
QImage LoadPicture(const QString& dir, const std::string& name, QString* error) {
  std::string base = name;
  const std::size_t cut = base.find_last_of("\\/");
  if (cut != std::string::npos) base.erase(0, cut + 1);
  QImage image;
  if (!base.empty()) image.load(dir + '/' + QString::fromStdString(base));
  if (image.isNull()) {
    if (error) *error = QStringLiteral("picture \"%1\" does not load").arg(QString::fromStdString(name));
    return {};
  }
  return image.convertToFormat(QImage::Format_ARGB32);
}

bool Fail(QString* error, const QString& why) {
  if (error) *error = why;
  return false;
}

// The next number of a colour value from *pos on: optional sign, digits (as many as there
// are, kept modulo 256 as they come so no length overflows); 0 when there is none. *pos ends
// after the number and the blanks or tabs that follow it.
int NextColourNumber(const std::string& value, std::size_t* pos) {
  std::size_t i = *pos;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
  int number = 0;
  while (i < value.size() && value[i] >= '0' && value[i] <= '9') {
    number = (number * 10 + (value[i] - '0')) % 256;
    ++i;
  }
  while (i < value.size() && value[i] != ' ' && value[i] != '\t') ++i;  // rest of a bad number
  while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  *pos = i;
  return negative ? (256 - number) % 256 : number;
}

}  // namespace

bool IsBorderHit(int code) { return code >= kHitLeft && code <= kHitBottomRight; }

QColor ParseColour(const std::string& value, QColor def) {
  if (value.find_first_not_of(" \t") == std::string::npos) return def;
  std::size_t pos = value.find_first_not_of(" \t");
  const int r = NextColourNumber(value, &pos);
  const int g = NextColourNumber(value, &pos);
  const int b = NextColourNumber(value, &pos);
  return QColor(r, g, b);
}

bool operator==(const Slice& a, const Slice& b) {
  return a.src == b.src && a.dst == b.dst && a.length == b.length;
}

bool DeriveSlices(int length, int head, int tail, SliceMetrics* out) {
  if (length < 1 || head < 0 || tail < 0 || head >= length || tail > length) return false;
  out->length = length;
  out->headEnd = head;
  out->tailStart = length - tail;
  if (out->tailStart <= out->headEnd) out->tailStart = out->headEnd + 1;
  return true;
}

std::vector<Slice> ThreeSlices(const SliceMetrics& m, int n) {
  std::vector<Slice> pieces;
  if (n <= 0 || m.length < 1) return pieces;
  const int head = std::min(m.headEnd, n);
  const int tail = m.length - m.tailStart;
  const int middle = m.tailStart - m.headEnd;
  const int tailDst = n - tail;
  if (head > 0) pieces.push_back({0, 0, head});
  for (int x = m.headEnd; middle > 0 && x < tailDst; x += middle)
    pieces.push_back({m.headEnd, x, std::min(middle, tailDst - x)});
  if (tail > 0) {
    // A tail longer than n keeps only its last n pixels.
    const int cut = std::max(0, -tailDst);
    pieces.push_back({m.tailStart + cut, tailDst + cut, tail - cut});
  }
  return pieces;
}

QSize SkinTheme::MinimumSize() const {
  return QSize(top.width() + left.width() + right.width(), left.height() + 20);
}

QRect SkinTheme::ButtonRect(ButtonSlot slot, int w) const {
  const SkinButton& button = buttons[slot];
  if (button.picture.isNull()) return {};
  const QRect& r = button.skinRect;
  return QRect(w - r.right() - 1, r.top(), r.width(), r.height());
}

QRect SkinTheme::ButtonState(ButtonSlot slot, int state) const {
  const SkinButton& button = buttons[slot];
  const int width = button.skinRect.width();
  state = std::clamp(state, 0, buttonImgCount - 1);
  return QRect(state * width, 0, width, button.picture.height());
}

bool LoadTheme(const std::string& path, SkinTheme* theme, QString* error) {
  *theme = SkinTheme();
  bool found = false;
  const profile::Document doc = profile::Document::Read(path, &found);
  if (!found) return Fail(error, QStringLiteral("no skin file"));
  const QString dir = QFileInfo(QString::fromStdString(path)).absolutePath();
  auto text = [&doc](const char* section, const char* key) {
    return doc.GetString(section, key, "", kValueSize);
  };
  auto number = [&doc](const char* section, const char* key, int def) {
    return doc.GetInt(section, key, def);
  };

  // The frame pictures, in this order; the first that fails ends the load.
  const std::pair<const char*, QImage*> pictures[] = {{"Repeate", &theme->repeate},
                                                      {"Top", &theme->top},
                                                      {"Left", &theme->left},
                                                      {"Right", &theme->right},
                                                      {"Bottom", &theme->bottom}};
  for (const auto& [key, image] : pictures) {
    const std::string name = text(kMainFrame, key);
    if (name.empty()) return Fail(error, QStringLiteral("no %1 picture").arg(key));
    *image = LoadPicture(dir, name, error);
    if (image->isNull()) return false;
  }
  if (theme->top.height() < 2 || theme->bottom.height() < 2 || theme->left.width() < 2 ||
      theme->right.width() < 2)
    return Fail(error, QStringLiteral("a frame picture is too small for two halves"));

  theme->titleHeight = theme->top.height() / 2;
  theme->leftWidth = theme->left.width() / 2;
  theme->rightWidth = theme->right.width() / 2;
  theme->bottomHeight = theme->bottom.height() / 2;
  const struct {
    const char* head;
    const char* tail;
    int length;
    SliceMetrics* out;
  } slices[] = {{"TopTopHeight", "TopBotHeight", theme->top.width(), &theme->topSlices},
                {"LeftTopHeight", "LeftBotHeight", theme->left.height(), &theme->leftSlices},
                {"RightTopHeight", "RightBotHeight", theme->right.height(), &theme->rightSlices},
                {"BottomTopHeight", "BottomBotHeight", theme->bottom.width(), &theme->bottomSlices}};
  for (const auto& s : slices) {
    if (!DeriveSlices(s.length, number(kMainFrame, s.head, 0), number(kMainFrame, s.tail, 0), s.out))
      return Fail(error, QStringLiteral("%1 or %2 lies outside its picture").arg(s.head, s.tail));
  }

  theme->buttonCount = number(kMainFrame, "ButtonCount", 0);
  theme->buttonImgCount = number(kMainFrame, "ButtonImgCount", 3);
  if (theme->buttonImgCount < 1)
    return Fail(error, QStringLiteral("ButtonImgCount is below 1"));
  for (int i = 0; i < theme->buttonCount; ++i) {
    const std::string section = "Button" + std::to_string(i);
    const std::string name = doc.GetString(section, "ButtonImage", "", kValueSize);
    const int action = doc.GetInt(section, "Action", kActionClose);
    const int x = doc.GetInt(section, "XCoord", 0);
    const int y = doc.GetInt(section, "YCoord", 0);
    ButtonSlot slot;
    switch (action) {
      case kActionClose: slot = kSlotClose; break;
      case kActionMinimize: slot = kSlotMinimize; break;
      case kActionMaximize:
        slot = theme->buttons[kSlotMaximize].picture.isNull() ? kSlotMaximize : kSlotRestore;
        break;
      default: continue;  // an action the frame does not know: no button
    }
    SkinButton& button = theme->buttons[slot];
    button.picture = LoadPicture(dir, name, error);
    if (button.picture.isNull()) return false;
    const int w = button.picture.width() / theme->buttonImgCount;
    if (w < 1)
      return Fail(error, QStringLiteral("button picture \"%1\" is narrower than its states")
                             .arg(QString::fromStdString(name)));
    button.skinRect = QRect(x - w, y, w, button.picture.height());
  }

  theme->textShift = number(kMainFrame, "TextShift", 0);
  theme->textShiftVert = number(kMainFrame, "TextShiftVert", 0);

  const QPalette palette = QApplication::palette();
  auto colour = [&](const char* key, QColor def) { return ParseColour(text(kColours, key), def); };
  theme->titleText = colour("TitleText", palette.color(QPalette::Active, QPalette::WindowText));
  theme->inactiveTitleText =
      colour("InactiveTitleText", palette.color(QPalette::Inactive, QPalette::WindowText));
  theme->usesTran = number(kColours, "UsesTran", 0) == 1;
  theme->transColor = colour("TransColor", QColor(0xFF, 0x00, 0xFF));
  theme->barColor = colour("BarColor", QColor(0xCF, 0xCF, 0xCF));
  theme->menuColor = colour("MenuColor", QColor(0xCF, 0xCF, 0xCF));
  const QColor face = palette.color(QPalette::Button);
  theme->buttonFace = colour("ButtonFace", face);
  theme->buttonHilight = colour("ButtonHilight", face);
  theme->buttonFocus = colour("ButtonFocus", face);
  theme->buttonText = colour("ButtonText", palette.color(QPalette::ButtonText));
  return true;
}

int HitTest(const SkinTheme& t, QSize size, QPoint p, bool thickFrame, bool minBox, bool maxBox,
            int iconSize) {
  const int w = size.width();
  const int h = size.height();
  if (t.ButtonRect(kSlotClose, w).contains(p)) return kHitClose;
  if (minBox && t.ButtonRect(kSlotMinimize, w).contains(p)) return kHitMinButton;
  if (maxBox && t.ButtonRect(kSlotMaximize, w).contains(p)) return kHitMaxButton;
  if (InRect(t.leftWidth, 5, t.leftWidth + iconSize, 5 + iconSize, p)) return kHitSysMenu;
  if (thickFrame) {
    const int lw = t.leftWidth, rw = t.rightWidth, th = t.titleHeight, bh = t.bottomHeight;
    if (InRect(0, 0, lw, th, p)) return kHitTopLeft;
    if (InRect(w - lw, 0, w, th, p)) return kHitTopRight;
    if (InRect(0, h - bh, lw, h, p)) return kHitBottomLeft;
    if (InRect(w - rw, h - bh, w, h, p)) return kHitBottomRight;
    if (InRect(0, th, lw, h - bh, p)) return kHitLeft;
    if (InRect(w - rw, th, w, h - bh, p)) return kHitRight;
    if (InRect(lw, h - bh, w - rw, h, p)) return kHitBottom;
    if (InRect(lw, 0, w - rw, bh, p)) return kHitTop;
  }
  if (InRect(t.leftWidth, 5, w - t.rightWidth, t.titleHeight, p)) return kHitCaption;
  return kHitClient;
}

}  // namespace skinwin
