// The skin file and the frame's arithmetic: colours, three slices, loading, hit codes.
#include "skinwin/skintheme.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace skinwin {
namespace {

TEST(SkinColour, ParsesRedGreenBlue) {
  const QColor def(1, 2, 3);
  const struct {
    const char* text;
    QColor want;
  } cases[] = {
      {"255 0 255", QColor(255, 0, 255)},
      {"10\t20\t30", QColor(10, 20, 30)},
      {"  7 8 9 ", QColor(7, 8, 9)},
      {"256 257 -1", QColor(0, 1, 255)},  // modulo 256, -1 as its low byte
      {"1000 20 30", QColor(232, 20, 30)},
      {"99999999999999999999 0 0", QColor(255, 0, 0)},  // 10^20 - 1: its low byte
      {"12 34", QColor(12, 34, 0)},       // a missing number is 0
      {"abc 5 6", QColor(0, 5, 6)},
      {"", def},
      {" \t ", def},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseColour(c.text, def), c.want) << c.text;
}

TEST(SkinSlices, DerivesHeadAndTail) {
  SliceMetrics m;
  ASSERT_TRUE(DeriveSlices(10, 3, 2, &m));
  EXPECT_EQ(m.headEnd, 3);
  EXPECT_EQ(m.tailStart, 8);
  // A tail that reaches into the head leaves a one-pixel middle; the rest is tail.
  ASSERT_TRUE(DeriveSlices(10, 6, 6, &m));
  EXPECT_EQ(m.headEnd, 6);
  EXPECT_EQ(m.tailStart, 7);
  ASSERT_TRUE(DeriveSlices(10, 9, 10, &m));
  EXPECT_EQ(m.tailStart, 10);
  // Values that would read outside the picture.
  for (auto [length, head, tail] : {std::tuple{10, 10, 0}, {10, -1, 0}, {10, 0, -1},
                                    {10, 0, 11}, {0, 0, 0}, {1, 1, 0}})
    EXPECT_FALSE(DeriveSlices(length, head, tail, &m)) << length << " " << head << " " << tail;
}

TEST(SkinSlices, ThreeSlicesFillTheLength) {
  auto metrics = [](int length, int head, int tail) {
    SliceMetrics m;
    EXPECT_TRUE(DeriveSlices(length, head, tail, &m));
    return m;
  };
  const struct {
    SliceMetrics m;
    int n;
    std::vector<Slice> want;
  } cases[] = {
      {metrics(10, 3, 2), 20, {{0, 0, 3}, {3, 3, 5}, {3, 8, 5}, {3, 13, 5}, {8, 18, 2}}},
      {metrics(10, 3, 2), 16, {{0, 0, 3}, {3, 3, 5}, {3, 8, 5}, {3, 13, 1}, {8, 14, 2}}},
      {metrics(10, 6, 6), 12, {{0, 0, 6}, {6, 6, 1}, {6, 7, 1}, {6, 8, 1}, {7, 9, 3}}},
      {metrics(4, 0, 0), 10, {{0, 0, 4}, {0, 4, 4}, {0, 8, 2}}},
      {metrics(10, 3, 2), 4, {{0, 0, 3}, {8, 2, 2}}},  // tail over the head's end
      {metrics(10, 0, 8), 5, {{5, 0, 5}}},              // only the tail's last pixels
      {metrics(10, 3, 2), 0, {}},
  };
  for (const auto& c : cases) {
    const std::vector<Slice> got = ThreeSlices(c.m, c.n);
    ASSERT_EQ(got.size(), c.want.size()) << "n=" << c.n;
    for (std::size_t i = 0; i < got.size(); ++i)
      EXPECT_TRUE(got[i] == c.want[i]) << "n=" << c.n << " piece " << i << ": " << got[i].src
                                        << "," << got[i].dst << "," << got[i].length;
  }
}

TEST(SkinTheme, LoadsTheDefaultSkin) {
  SkinTheme t;
  QString error;
  ASSERT_TRUE(LoadTheme(SKINWIN_DEFAULT_SKIN "/theme.ini", &t, &error)) << error.toStdString();
  EXPECT_EQ(t.titleHeight, 30);
  EXPECT_EQ(t.leftWidth, 5);
  EXPECT_EQ(t.rightWidth, 5);
  EXPECT_EQ(t.bottomHeight, 5);
  EXPECT_EQ(t.leftSlices.headEnd, 30);
  EXPECT_EQ(t.leftSlices.tailStart, 31);
  EXPECT_EQ(t.buttonImgCount, 3);
  // The second maximise button is the restore button, in the same place.
  EXPECT_FALSE(t.buttons[kSlotRestore].picture.isNull());
  EXPECT_EQ(t.ButtonRect(kSlotClose, 300), QRect(265, 4, 28, 22));
  EXPECT_EQ(t.ButtonRect(kSlotMaximize, 300), t.ButtonRect(kSlotRestore, 300));
  EXPECT_EQ(t.ButtonRect(kSlotMinimize, 300), QRect(209, 4, 28, 22));
  EXPECT_TRUE(t.usesTran);
  EXPECT_EQ(t.titleText, QColor(230, 234, 238));
  // A small minimum size: the narrow top picture and the two borders.
  EXPECT_LE(t.MinimumSize().width(), 40);
}

TEST(SkinTheme, LoadsThePlainSkin) {
  SkinTheme t;
  QString error;
  ASSERT_TRUE(LoadTheme(SKINWIN_TEST_DATA "/plain/theme.ini", &t, &error)) << error.toStdString();
  EXPECT_EQ(t.titleHeight, 20);  // picture names with folders ("C:\Skins\plain\tile.png") load
  EXPECT_EQ(t.leftWidth, 3);
  EXPECT_FALSE(t.usesTran);
  EXPECT_EQ(t.titleText, QColor(255, 255, 255));  // tabs between the numbers
  EXPECT_TRUE(t.buttons[kSlotMinimize].picture.isNull());
  EXPECT_EQ(t.ButtonRect(kSlotClose, 100), QRect(81, 3, 16, 14));
  // Two states: the mouse-over state falls back to the last one there is.
  EXPECT_EQ(t.ButtonState(kSlotClose, 2), QRect(16, 0, 16, 14));
  EXPECT_EQ(t.barColor, QColor(0xCF, 0xCF, 0xCF));  // defaults of the kept colours
  EXPECT_EQ(t.transColor, QColor(0xFF, 0x00, 0xFF));
}

// A copy of the plain skin in a folder of its own, with lines of theme.ini changed.
class BrokenSkin {
 public:
  BrokenSkin() {
    const QDir plain(SKINWIN_TEST_DATA "/plain");
    for (const QString& name : plain.entryList(QDir::Files))
      QFile::copy(plain.filePath(name), m_dir.filePath(name));
  }
  std::string Path() const { return m_dir.filePath("theme.ini").toStdString(); }
  QString Dir() const { return m_dir.path(); }
  // Replaces the line starting with `key=` (the first one) by `line`; an empty line drops it.
  void Set(const QString& key, const QString& line) {
    QFile file(m_dir.filePath("theme.ini"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    file.close();
    bool done = false;
    for (QString& l : lines)
      if (!done && l.startsWith(key + '=')) {
        l = line;
        done = true;
      }
    if (!done) lines.insert(2, line);  // into [MainFrame]
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(lines.join('\n').toUtf8());
  }

 private:
  QTemporaryDir m_dir;
};

TEST(SkinTheme, BrokenSkinsDoNotLoad) {
  const struct {
    const char* what;
    const char* key;
    const char* line;   // replaces the key's line
    const char* drop;   // a file removed
  } cases[] = {
      {"ButtonImgCount 0", "ButtonImgCount", "ButtonImgCount=0", nullptr},
      {"ButtonImgCount negative", "ButtonImgCount", "ButtonImgCount=-2", nullptr},
      {"button narrower than its states", "ButtonImgCount", "ButtonImgCount=40", nullptr},
      {"head longer than the picture", "TopTopHeight", "TopTopHeight=8", nullptr},
      {"tail longer than the picture", "LeftBotHeight", "LeftBotHeight=9", nullptr},
      {"negative head", "RightTopHeight", "RightTopHeight=-1", nullptr},
      {"negative tail", "BottomBotHeight", "BottomBotHeight=-3", nullptr},
      {"one-pixel-high top picture", "Top", "Top=onerow.png", nullptr},
      {"one-pixel-wide left picture", "Left", "Left=onerow.png", nullptr},
      {"no Top key", "Top", "", nullptr},
      {"empty Bottom value", "Bottom", "Bottom=", nullptr},
      {"missing picture", nullptr, nullptr, "side.png"},
      {"missing button picture", nullptr, nullptr, "close.png"},
      {"picture that is no picture", "Repeate", "Repeate=theme.ini", nullptr},
      {"missing theme.ini", nullptr, nullptr, "theme.ini"},
  };
  for (const auto& c : cases) {
    BrokenSkin skin;
    QImage(1, 1, QImage::Format_RGB32).save(skin.Dir() + "/onerow.png");
    if (c.key) skin.Set(c.key, c.line);
    if (c.drop) QFile::remove(skin.Dir() + '/' + c.drop);
    SkinTheme t;
    QString error;
    EXPECT_FALSE(LoadTheme(skin.Path(), &t, &error)) << c.what;
    EXPECT_FALSE(error.isEmpty()) << c.what;
  }
  // The file itself, untouched, loads: the cases above fail for their one change.
  BrokenSkin skin;
  SkinTheme t;
  EXPECT_TRUE(LoadTheme(skin.Path(), &t));
}

// A skin made in memory: title 20, left 4, right 6, bottom 3 (thinner than the caption's
// top row 5), buttons close / maximise / minimise 16 x 14 at XCoord 20 / 40 / 60, YCoord 2.
SkinTheme GridTheme() {
  SkinTheme t;
  t.titleHeight = 20;
  t.leftWidth = 4;
  t.rightWidth = 6;
  t.bottomHeight = 3;
  const int xs[] = {20, 60, 40};  // by slot: close, minimise, maximise
  for (int slot = 0; slot < 3; ++slot) {
    t.buttons[slot].picture = QImage(48, 14, QImage::Format_RGB32);
    t.buttons[slot].skinRect = QRect(xs[slot] - 16, 2, 16, 14);
  }
  return t;
}

TEST(SkinHitTest, GridOfPoints) {
  const SkinTheme t = GridTheme();
  const QSize size(200, 100);
  struct Case {
    int x, y;
    int thickBoxes;    // thick frame, minimise and maximise boxes
    int thinNoBoxes;   // no thick frame, no boxes
  };
  const Case cases[] = {
      {185, 5, kHitClose, kHitClose},            // close: always
      {195, 15, kHitClose, kHitClose},
      {165, 5, kHitMaxButton, kHitCaption},      // maximise only with the box
      {145, 5, kHitMinButton, kHitCaption},      // minimise only with the box
      {4, 5, kHitSysMenu, kHitSysMenu},          // the small icon at (left width, 5)
      {19, 20, kHitSysMenu, kHitSysMenu},
      {20, 5, kHitCaption, kHitCaption},
      {0, 0, kHitTopLeft, kHitClient},           // borders only with a thick frame
      {3, 19, kHitTopLeft, kHitClient},
      {196, 0, kHitTopRight, kHitClient},        // top-right as wide as the LEFT border
      {196, 19, kHitTopRight, kHitClient},
      {195, 0, kHitClient, kHitClient},          // ... so the rest of the right border is client
      {194, 19, kHitClient, kHitClient},
      {0, 99, kHitBottomLeft, kHitClient},
      {3, 97, kHitBottomLeft, kHitClient},
      {199, 99, kHitBottomRight, kHitClient},
      {194, 97, kHitBottomRight, kHitClient},
      {0, 20, kHitLeft, kHitClient},
      {3, 50, kHitLeft, kHitClient},
      {199, 50, kHitRight, kHitClient},
      {194, 96, kHitRight, kHitClient},
      {100, 99, kHitBottom, kHitClient},
      {100, 97, kHitBottom, kHitClient},
      {100, 0, kHitTop, kHitClient},             // the top edge as thick as the BOTTOM border
      {100, 2, kHitTop, kHitClient},
      {100, 3, kHitClient, kHitClient},          // between the top edge and the caption
      {100, 4, kHitClient, kHitClient},
      {100, 5, kHitCaption, kHitCaption},
      {193, 19, kHitCaption, kHitCaption},
      {4, 50, kHitClient, kHitClient},
      {193, 50, kHitClient, kHitClient},
      {100, 96, kHitClient, kHitClient},
      {100, 50, kHitClient, kHitClient},
  };
  for (const Case& c : cases) {
    const QPoint p(c.x, c.y);
    EXPECT_EQ(HitTest(t, size, p, true, true, true, 16), c.thickBoxes) << c.x << "," << c.y;
    EXPECT_EQ(HitTest(t, size, p, false, false, false, 16), c.thinNoBoxes) << c.x << "," << c.y;
  }
}

}  // namespace
}  // namespace skinwin
