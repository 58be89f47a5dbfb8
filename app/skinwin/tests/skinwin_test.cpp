// Skinned windows: the frame installed on a dialog, its painting and shape, the caption
// buttons under the mouse, broken skins leaving the window alone, the control pass.
#include "skinwin/skininterface.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

namespace skinwin {
namespace {

const std::string kDefaultSkin = SKINWIN_DEFAULT_SKIN "/theme.ini";
const std::string kPlainSkin = SKINWIN_TEST_DATA "/plain/theme.ini";

// A dialog laid out by hand, as the viewer's dialogs are: a label, an edit, a button.
struct Dialog {
  std::unique_ptr<QDialog> window = std::make_unique<QDialog>();
  QLabel* label;
  QLineEdit* edit;
  QPushButton* button;

  explicit Dialog(bool resizable = false, bool boxes = false) {
    window->setWindowTitle("Login");
    label = new QLabel("Username", window.get());
    label->setGeometry(20, 20, 80, 20);
    edit = new QLineEdit(window.get());
    edit->setGeometry(110, 18, 120, 24);
    button = new QPushButton("Login", window.get());
    button->setGeometry(20, 60, 80, 24);
    if (resizable)
      window->resize(280, 150);
    else
      window->setFixedSize(280, 150);
    if (boxes) window->setWindowFlags(window->windowFlags() | Qt::WindowMinMaxButtonsHint);
  }
};

TEST(SkinWindow, InstallsTheFrameAroundTheClientArea) {
  Dialog d;
  CSkinInterface skin(d.window.get());
  skin.SetSkinFile(kDefaultSkin);
  ASSERT_TRUE(skin.ApplySkin(true)) << skin.SkinWin().LastError().toStdString();
  EXPECT_TRUE(skin.FrameApplied());
  QDialog& w = *d.window;
  EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
  // The client area keeps its size; the frame is added around it and the children move in.
  EXPECT_EQ(w.size(), QSize(280 + 10, 150 + 35));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());
  EXPECT_EQ(w.contentsRect(), QRect(5, 30, 280, 150));
  EXPECT_EQ(d.label->pos(), QPoint(25, 50));
  EXPECT_FALSE(skin.SkinWin().HasThickFrame());
  EXPECT_FALSE(skin.SkinWin().HasMaxBox());
  EXPECT_EQ(skin.SkinWin().HitTest(QPoint(0, 60)), kHitClient);  // no resizing border
}

TEST(SkinWindow, LayoutsKeepTheirWidgetsInTheClientArea) {
  QDialog w;
  auto* layout = new QVBoxLayout(&w);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* edit = new QLineEdit(&w);
  layout->addWidget(edit);
  w.resize(300, 200);
  CSkinInterface skin(&w);
  skin.SetSkinFile(kPlainSkin);
  ASSERT_TRUE(skin.ApplySkin(true));
  w.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(edit->geometry().left(), 3);
  EXPECT_GE(edit->geometry().top(), 20);
  EXPECT_TRUE(skin.SkinWin().HasThickFrame());
  EXPECT_EQ(w.minimumSize().width(), 8 + 6 + 6);  // Top + Left + Right widths
}

TEST(SkinWindow, BrokenSkinLeavesTheNormalFrame) {
  QTemporaryDir dir;
  const QDir plain(SKINWIN_TEST_DATA "/plain");
  for (const QString& name : plain.entryList(QDir::Files))
    QFile::copy(plain.filePath(name), dir.filePath(name));
  QFile::remove(dir.filePath("side.png"));
  for (const std::string& path : {dir.filePath("theme.ini").toStdString(),
                                  dir.filePath("nothing.ini").toStdString()}) {
    Dialog d;
    const QSize size = d.window->size();
    const Qt::WindowFlags flags = d.window->windowFlags();
    {
      CSkinInterface skin(d.window.get());
      skin.SetSkinFile(path);
      EXPECT_FALSE(skin.ApplySkin(true)) << path;
      EXPECT_FALSE(skin.FrameApplied());
      EXPECT_TRUE(skin.Controls().statics.empty());  // no control pass either
      d.window->show();
      QCoreApplication::processEvents();
      EXPECT_EQ(d.window->size(), size);
      EXPECT_EQ(d.window->windowFlags(), flags);
      EXPECT_EQ(d.label->pos(), QPoint(20, 20));
      EXPECT_EQ(d.window->contentsRect(), d.window->rect());
    }
  }
}

TEST(SkinWindow, PaintsFrameTileAndShape) {
  Dialog d;
  CSkinInterface skin(d.window.get());
  skin.SetSkinFile(kDefaultSkin);
  ASSERT_TRUE(skin.ApplySkin(true));
  QDialog& w = *d.window;
  w.show();
  QCoreApplication::processEvents();
  const SkinTheme& t = skin.SkinWin().Theme();
  const QImage shot = w.grab().toImage();
  const bool active = skin.SkinWin().IsActive();
  const int half = active ? 0 : t.titleHeight;
  // The title bar at the middle of the top row and a row lower: the Top picture.
  EXPECT_EQ(shot.pixelColor(140, 0), t.top.pixelColor(3, half));
  EXPECT_EQ(shot.pixelColor(140, 15), t.top.pixelColor(3, half + 15));
  // The bottom border and the client tile.
  EXPECT_EQ(shot.pixelColor(140, w.height() - 1), t.bottom.pixelColor(3, (active ? 0 : 5) + 4));
  EXPECT_EQ(shot.pixelColor(5 + 201, 30 + 101), t.repeate.pixelColor(1, 1));
  // The rounded top corners are cut out of the window's shape; the rest is in it.
  EXPECT_FALSE(w.mask().contains(QPoint(0, 0)));
  EXPECT_FALSE(w.mask().contains(QPoint(w.width() - 1, 0)));
  EXPECT_TRUE(w.mask().contains(QPoint(4, 0)));
  EXPECT_TRUE(w.mask().contains(QPoint(0, 40)));
  EXPECT_TRUE(w.mask().contains(QPoint(w.width() - 1, w.height() - 1)));
}

TEST(SkinWindow, PlainSkinHasNoShape) {
  Dialog d;
  CSkinInterface skin(d.window.get());
  skin.SetSkinFile(kPlainSkin);
  ASSERT_TRUE(skin.ApplySkin(true));
  d.window->show();
  QCoreApplication::processEvents();
  EXPECT_TRUE(d.window->mask().isEmpty());
  EXPECT_EQ(d.window->size(), QSize(280 + 6, 150 + 23));
}

TEST(SkinWindow, CaptionButtonsFollowTheMouse) {
  Dialog d(true, true);
  CSkinInterface skin(d.window.get());
  skin.SetSkinFile(kDefaultSkin);
  ASSERT_TRUE(skin.ApplySkin(true));
  QDialog& w = *d.window;
  w.move(10, 10);
  w.show();
  QCoreApplication::processEvents();
  CSkinWin& win = skin.SkinWin();
  const SkinTheme& t = win.Theme();
  EXPECT_TRUE(win.HasMaxBox() && win.HasMinBox() && win.HasThickFrame());

  const QRect close = t.ButtonRect(kSlotClose, w.width());
  const QRect max = t.ButtonRect(kSlotMaximize, w.width());
  QTest::mouseMove(&w, close.center());
  EXPECT_EQ(win.HoverCode(), kHitClose);
  // The mouse-over state: the hover picture's background at the button's corner area.
  QImage shot = w.grab().toImage();
  EXPECT_EQ(shot.pixelColor(close.left() + 3, close.top() + 3),
            t.buttons[kSlotClose].picture.pixelColor(2 * close.width() + 3, 3));
  QTest::mouseMove(&w, QPoint(w.width() / 2, w.height() - 20));
  EXPECT_EQ(win.HoverCode(), kHitClient);

  // Maximise fills the screen's available area, the slot shows the restore picture, and a
  // second click restores.
  const QRect normal = w.geometry();
  QTest::mouseClick(&w, Qt::LeftButton, {}, max.center());
  EXPECT_EQ(win.WindowState(), CSkinWin::kMaximized);
  EXPECT_EQ(w.geometry(), w.screen()->availableGeometry());
  const QRect maxNow = t.ButtonRect(kSlotMaximize, w.width());
  shot = w.grab().toImage();
  const QImage restore = t.buttons[kSlotRestore].picture.copy(t.ButtonState(kSlotRestore, 0));
  const QImage shown = shot.copy(maxNow).convertToFormat(QImage::Format_RGB32);
  int same = 0;
  for (int y = 0; y < restore.height(); ++y)
    for (int x = 0; x < restore.width(); ++x)
      same += restore.pixelColor(x, y) == QColor(0xE6, 0xEA, 0xEE) &&
              shown.pixelColor(x, y) == QColor(0xE6, 0xEA, 0xEE);
  EXPECT_GT(same, 10);  // the restore glyph's pixels
  QTest::mouseClick(&w, Qt::LeftButton, {}, maxNow.center());
  EXPECT_EQ(win.WindowState(), CSkinWin::kNormal);
  EXPECT_EQ(w.geometry(), normal);

  // A double click on the caption maximises too.
  QTest::mouseDClick(&w, Qt::LeftButton, {}, QPoint(w.width() / 2, 15));
  EXPECT_EQ(win.WindowState(), CSkinWin::kMaximized);
  win.Restore();
  EXPECT_EQ(w.geometry(), normal);

  // Pressing close and letting go elsewhere does nothing; a click closes.
  QTest::mousePress(&w, Qt::LeftButton, {}, close.center());
  EXPECT_EQ(win.PressedCode(), kHitClose);
  QTest::mouseRelease(&w, Qt::LeftButton, {}, QPoint(w.width() / 2, 15));
  EXPECT_TRUE(w.isVisible());
  QTest::mouseClick(&w, Qt::LeftButton, {}, close.center());
  EXPECT_FALSE(w.isVisible());
}

TEST(SkinWindow, BordersResizeTheWindow) {
  Dialog d(true);
  CSkinInterface skin(d.window.get());
  skin.SetSkinFile(kDefaultSkin);
  ASSERT_TRUE(skin.ApplySkin(true));
  QDialog& w = *d.window;
  w.move(100, 100);
  w.show();
  QCoreApplication::processEvents();
  const QRect before = w.geometry();
  // The offscreen platform has no window manager: the window is sized by hand.
  const QPoint edge(w.width() - 2, w.height() / 2);
  QTest::mousePress(&w, Qt::LeftButton, {}, edge);
  QTest::mouseMove(&w, edge + QPoint(40, 0));
  QTest::mouseRelease(&w, Qt::LeftButton, {}, edge + QPoint(40, 0));
  EXPECT_EQ(w.geometry(), before.adjusted(0, 0, 40, 0));
  EXPECT_EQ(w.cursor().shape(), Qt::SizeHorCursor);
}

TEST(SkinWindow, SystemMenuFollowsTheState) {
  Dialog d(true, true);
  CSkinInterface skin(d.window.get());
  skin.SetSkinFile(kDefaultSkin);
  ASSERT_TRUE(skin.ApplySkin(true));
  CSkinWin& win = skin.SkinWin();
  win.SetSystemMenuTexts("Wiederherstellen", "Minimieren", "Maximieren", "Schliessen");
  QAction about("About");
  win.AddSystemMenuAction(&about);
  const QList<QAction*> items = win.SystemMenu()->actions();
  ASSERT_EQ(items.size(), 7);
  EXPECT_EQ(items[0]->text(), "Wiederherstellen");
  EXPECT_EQ(items[6], &about);
  d.window->show();
  win.ShowSystemMenu(QPoint(20, 20));
  EXPECT_FALSE(items[0]->isEnabled());  // restore: the window is normal
  EXPECT_TRUE(items[2]->isEnabled());
  win.SystemMenu()->hide();
  items[2]->trigger();
  EXPECT_EQ(win.WindowState(), CSkinWin::kMaximized);
  win.ShowSystemMenu(QPoint(20, 20));
  win.SystemMenu()->hide();
  EXPECT_TRUE(items[0]->isEnabled());
  EXPECT_FALSE(items[2]->isEnabled());
  items[0]->trigger();
  EXPECT_EQ(win.WindowState(), CSkinWin::kNormal);
}

// A label of the window's own class, which the control pass leaves alone.
class OwnLabel : public QLabel {
 public:
  using QLabel::QLabel;
};

TEST(SkinControls, SkinsPlainLabelsAndEdits) {
  Dialog d;
  auto* own = new OwnLabel("own", d.window.get());
  auto* plainEdit = new QLineEdit(d.window.get());
  plainEdit->setProperty(kPlainProperty, true);
  auto* combo = new QComboBox(d.window.get());
  auto* inner = new QLabel("inner", d.button);  // not a direct child
  for (QWidget* extra : {static_cast<QWidget*>(own), static_cast<QWidget*>(plainEdit),
                         static_cast<QWidget*>(combo)})
    extra->setGeometry(150, 100, 60, 20);  // clear of the label and the edit
  CSkinInterface skin(d.window.get());
  skin.SetSkinFile(kDefaultSkin);
  ASSERT_TRUE(skin.ApplySkin(true));
  const SkinnedControls& c = skin.Controls();
  ASSERT_EQ(c.statics.size(), 1u);
  ASSERT_EQ(c.edits.size(), 1u);
  EXPECT_EQ(c.statics[0]->Label(), d.label);
  EXPECT_FALSE(c.statics[0]->IsOpaque());
  EXPECT_EQ(c.statics[0]->TextColour(), QColor(0x21, 0x21, 0x21));
  EXPECT_EQ(c.edits[0]->Edit(), d.edit);
  (void)own, (void)combo, (void)inner;

  d.window->show();
  QCoreApplication::processEvents();
  // The label has no background: the skin's tile shows through around its text.
  const QImage shot = d.window->grab().toImage();
  const QPoint corner = d.label->geometry().topRight();
  const QImage& tile = skin.SkinWin().Theme().repeate;
  for (const QPoint& p : {corner, corner + QPoint(-1, 0), corner + QPoint(0, 1)})
    EXPECT_EQ(shot.pixelColor(p), tile.pixelColor((p.x() - 5) % 2, (p.y() - 30) % 2));
  // The edit's two border frames.
  const QImage edit = d.edit->grab().toImage();
  EXPECT_EQ(edit.pixelColor(0, 10), QColor(0x2C, 0x71, 0xC4));
  EXPECT_EQ(edit.pixelColor(1, 10), QColor(0xFF, 0xFF, 0xFF));
  c.edits[0]->SetColours(Qt::red, Qt::green, Qt::white, Qt::black);
  const QImage recoloured = d.edit->grab().toImage();
  EXPECT_EQ(recoloured.pixelColor(0, 10), QColor(Qt::red));
  EXPECT_EQ(recoloured.pixelColor(1, 10), QColor(Qt::green));
}

TEST(SkinControls, ControlPassWithoutFrame) {
  Dialog d;
  CSkinInterface skin(d.window.get());
  EXPECT_TRUE(skin.ApplySkin(false));
  EXPECT_FALSE(skin.FrameApplied());
  EXPECT_EQ(skin.Controls().statics.size(), 1u);
  CSkinInterface none(nullptr);
  none.SetSkinFile(kDefaultSkin);
  EXPECT_FALSE(none.ApplySkin(true));
  EXPECT_FALSE(none.ApplySkin(false));
}

}  // namespace
}  // namespace skinwin
