// The playback control bar on the default skin against the engine stand-in: the slider's
// arithmetic, clamping and dragging, a thumb too wide for its slider, the bar's layout, its
// speed levels with their tooltips, the Play button's cases and a picture that fails to load.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <lumenpane/videowindow.h>

#include <memory>
#include <string>
#include <vector>

#include "playbackcommands.h"
#include "playermanager.h"
#include "replayerslider.h"
#include "replayerview.h"
#include "support.h"
#include "xskinbutton.h"

namespace {

using apptest::CEngineStandIn;
using apptest::CMountedFolder;
using apptest::Eventually;
using Calls = std::vector<std::string>;

const QString kResources = QStringLiteral(VENDREL_TEST_RESOURCES);
const std::string kName = "idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].h264";

// Collects the warnings Qt's log receives while it lives.
class LogCapture {
 public:
  LogCapture() { s_lines.clear(); m_previous = qInstallMessageHandler(&Handler); }
  ~LogCapture() { qInstallMessageHandler(m_previous); }
  static std::vector<std::string> Lines() { return s_lines; }

 private:
  static void Handler(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtWarningMsg) s_lines.push_back(text.toStdString());
  }
  static inline std::vector<std::string> s_lines;
  QtMessageHandler m_previous;
};

// ---------------------------------------------------------------------------------------------
// The slider
// ---------------------------------------------------------------------------------------------

class SliderTest : public testing::Test {
 protected:
  SliderTest() {
    EXPECT_TRUE(m_slider.SetBitmapChannel(kResources + "Skin/slider_channel.bmp",
                                          kResources + "Skin/slider_channel_played.bmp"));
    EXPECT_TRUE(m_slider.SetBitmapThumb(kResources + "Skin/slider_thumb.bmp",
                                        kResources + "Skin/slider_thumb_dragged.bmp"));
    m_slider.resize(200, 13);  // thumb 9 wide: 191 pixels of travel, centre 4 to 195
  }
  CReplayerSlider m_slider;
};

TEST_F(SliderTest, PositionsAndPixels) {
  ASSERT_EQ(m_slider.ThumbWidth(), 9);
  struct Case { int pos, pixel, back; };
  for (Case c : {Case{0, 4, 0}, {1, 5, 0}, {50, 99, 49}, {99, 193, 98}, {100, 195, 100}}) {
    EXPECT_EQ(m_slider.Pos2Pixel(c.pos), c.pixel) << c.pos;
    EXPECT_EQ(m_slider.Pixel2Pos(c.pixel), c.back) << c.pixel;
  }
  // Another range: (w - tw) * (pos - min) / (max - min) + tw / 2.
  m_slider.SetRange(-50, 50, false);
  EXPECT_EQ(m_slider.Pos2Pixel(0), 99);
  EXPECT_EQ(m_slider.Pixel2Pos(195), 50);
}

TEST_F(SliderTest, SetPosClampsToTheRange) {
  for (auto [in, shown] : {std::pair{150, 100}, {-5, 0}, {37, 37}, {100, 100}}) {
    m_slider.SetPos(in);
    EXPECT_EQ(m_slider.GetPos(), shown) << in;
  }
}

// A thumb as wide as the slider would leave (w - tw) = 0 to divide by: it is not used, the log
// says so, and the arithmetic and painting go on without it.
TEST_F(SliderTest, ThumbAsWideAsTheSliderIsNotUsed) {
  for (int width : {9, 5}) {
    LogCapture log;
    m_slider.resize(width, 13);
    EXPECT_EQ(m_slider.ThumbWidth(), 0) << width;
    ASSERT_EQ(log.Lines().size(), 1u) << width;
    EXPECT_NE(log.Lines()[0].find("as wide as the slider"), std::string::npos);
    m_slider.SetPos(60);
    EXPECT_EQ(m_slider.Pos2Pixel(60), width * 60 / 100);
    EXPECT_EQ(m_slider.GetPos(), 60);
    m_slider.grab();  // paints without the thumb
  }
  m_slider.resize(0, 13);
  EXPECT_EQ(m_slider.Pixel2Pos(3), 0);  // no room at all: the minimum
  m_slider.resize(200, 13);
  EXPECT_EQ(m_slider.ThumbWidth(), 9);
}

TEST_F(SliderTest, DraggingPostsMovingThenMovedAndChangesOnlyTheThumb) {
  m_slider.setObjectName("2074");
  std::vector<std::pair<int, int>> moving, moved;
  QObject::connect(&m_slider, &CReplayerSlider::sliderMoving,
                   [&](int id, int pos) { moving.emplace_back(id, pos); });
  QObject::connect(&m_slider, &CReplayerSlider::sliderMoved,
                   [&](int id, int pos) { moved.emplace_back(id, pos); });
  // A click far from the thumb makes it jump under the cursor.
  QTest::mousePress(&m_slider, Qt::LeftButton, {}, QPoint(99, 6));
  EXPECT_TRUE(m_slider.IsDragging());
  QTest::mouseRelease(&m_slider, Qt::LeftButton, {}, QPoint(99, 6));
  EXPECT_FALSE(m_slider.IsDragging());
  EXPECT_EQ(moving, (std::vector<std::pair<int, int>>{{2074, 49}}));
  EXPECT_EQ(moved, (std::vector<std::pair<int, int>>{{2074, 49}}));
  // Beyond the end it stops at the maximum.
  m_slider.SetPos(100);
  moving.clear();
  QTest::mousePress(&m_slider, Qt::LeftButton, {}, QPoint(2, 6));
  QTest::mouseRelease(&m_slider, Qt::LeftButton, {}, QPoint(2, 6));
  EXPECT_EQ(moving, (std::vector<std::pair<int, int>>{{2074, 0}}));
  // Disabled, the mouse does nothing.
  m_slider.Enable(false);
  QTest::mousePress(&m_slider, Qt::LeftButton, {}, QPoint(150, 6));
  EXPECT_FALSE(m_slider.IsDragging());
  EXPECT_EQ(m_slider.GetPos(), 0);
}

// ---------------------------------------------------------------------------------------------
// The bar
// ---------------------------------------------------------------------------------------------

class ReplayerViewTest : public testing::Test {
 protected:
  ReplayerViewTest() {
    for (int j = 0; j < CPlayerManager::kPlayerCount; ++j)
      m_manager.CreatePlayer(m_video.GetWndHandle(j), j);
    m_commands.SetLayout(4);
    m_engine.refuseInput = -1;  // runs stay busy
    m_bar.SetMessageBox([this](const QString& text) { m_messages.push_back(text.toStdString()); });
    m_loaded = m_bar.OnInitDialog(kResources);
    m_bar.resize(745, 35);
    m_bar.show();  // so that resizing lays the bar out
  }
  ~ReplayerViewTest() override { m_engine.refuseInput = 0; }

  void Play(int i) {
    ASSERT_EQ(m_manager.Open(i, m_mnt.Put(kName, "x")), 1);
    ASSERT_TRUE(Eventually([&] { return m_manager.GetState(i) == 1; }));
    m_engine.ClearCalls();
  }
  QString Tip(int button) const { return m_bar.Button(button)->toolTip(); }
  Calls Speed() const { return m_engine.CallsOf({"Play", "Faster", "Slower", "Pause"}); }
  void Click(int button) { QTest::mouseClick(m_bar.Button(button), Qt::LeftButton); }

  CEngineStandIn m_engine;
  CMountedFolder m_mnt;
  CPlayerManager m_manager{&m_engine};
  lumenpane::CVideoWindow m_video;
  CPlaybackCommands m_commands{&m_video, &m_manager, nullptr, nullptr};
  CReplayerView m_bar{&m_commands, nullptr, nullptr};
  std::vector<std::string> m_messages;
  bool m_loaded = false;
};

TEST_F(ReplayerViewTest, DefaultSkinLoadsEveryPicture) {
  EXPECT_TRUE(m_loaded);
  EXPECT_TRUE(m_messages.empty());
  for (int i = 0; i < CReplayerBackBmp::kButtonCount; ++i) {
    ASSERT_NE(m_bar.Button(i), nullptr);
    EXPECT_EQ(m_bar.Button(i)->objectName().toInt(), 5028 + i);
  }
  EXPECT_EQ(Tip(CReplayerBackBmp::kPlay), "Play");
  EXPECT_EQ(Tip(CReplayerBackBmp::kSlower), "Slow");
  EXPECT_EQ(m_bar.Slider()->objectName(), "2074");
  EXPECT_EQ(m_bar.Slider()->ThumbWidth(), 9);
}

// W = 745: x0 = 372 + 15 = 387, gap = (372 - 226) / 6 = 24.
TEST_F(ReplayerViewTest, LayoutForTheBarsWidth) {
  EXPECT_EQ(m_bar.Slider()->geometry(), QRect(QPoint(23, 8), QPoint(363, 20)));
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(m_bar.Button(i)->geometry(), QRect(387 + i * 52, 5, 28, 28)) << i;
  // Narrower than 452 pixels the gap is negative and the buttons overlap.
  m_bar.resize(400, 35);
  EXPECT_EQ(m_bar.Button(1)->x() - m_bar.Button(0)->x(), 28 + (200 - 226) / 6);
}

// Clicks on Slower go through the slow levels 1, 2, 3; at 3 the button is disabled (a further
// level would leave the players as they are) until Fast clears the slow level.
TEST_F(ReplayerViewTest, SpeedLevelsAndTheirTooltips) {
  Play(0);
  struct Step { int button; int slow, fast; const char* slowTip; const char* fastTip; Calls calls;
                bool slowerEnabled, fastEnabled; };
  const Step steps[] = {
      {CReplayerBackBmp::kSlower, 1, 0, "Slow1", "Fast", {"Slower(0)"}, true, true},
      {CReplayerBackBmp::kSlower, 2, 0, "Slow2", "Fast", {"Slower(0)"}, true, true},
      {CReplayerBackBmp::kSlower, 3, 0, "Slow3", "Fast", {"Slower(0)"}, false, true},
      {CReplayerBackBmp::kFast, 0, 1, "Slow", "Fast1", {"Play(0,wnd)", "Faster(0)"}, true, true},
      {CReplayerBackBmp::kFast, 0, 2, "Slow", "Fast2", {"Faster(0)"}, true, true},
      {CReplayerBackBmp::kFast, 0, 3, "Slow", "Fast3", {"Faster(0)"}, true, false},
  };
  for (const Step& s : steps) {
    m_engine.ClearCalls();
    Click(s.button);
    EXPECT_EQ(m_bar.Button(CReplayerBackBmp::kSlower)->isEnabled(), s.slowerEnabled);
    EXPECT_EQ(m_bar.Button(CReplayerBackBmp::kFast)->isEnabled(), s.fastEnabled);
    SCOPED_TRACE(s.slowTip + std::string("/") + s.fastTip);
    EXPECT_EQ(m_bar.SlowLevel(), s.slow);
    EXPECT_EQ(m_bar.FastLevel(), s.fast);
    EXPECT_EQ(Tip(CReplayerBackBmp::kSlower), s.slowTip);
    EXPECT_EQ(Tip(CReplayerBackBmp::kFast), s.fastTip);
    EXPECT_EQ(Speed(), s.calls);
  }
}

TEST_F(ReplayerViewTest, PlayAfterSlowerOnlyReturnsToNormalSpeed) {
  Play(0);
  Click(CReplayerBackBmp::kSlower);
  m_engine.ClearCalls();
  Click(CReplayerBackBmp::kPlay);
  EXPECT_EQ(Speed(), (Calls{"Play(0,wnd)"}));
  EXPECT_EQ(m_manager.Player(0)->GetPlayStatus(), 0);
  EXPECT_EQ(m_bar.SlowLevel(), 0);
  EXPECT_EQ(Tip(CReplayerBackBmp::kSlower), "Slow");
  // At normal speed, Play on a paused focused window toggles every window (PauseAll).
  Play(1);
  ASSERT_EQ(m_manager.Pause(0, 1), 1);
  m_engine.ClearCalls();
  Click(CReplayerBackBmp::kPlay);
  EXPECT_EQ(Speed(), (Calls{"Pause(0,0)", "Pause(1,1)"}));
}

TEST_F(ReplayerViewTest, PlayOnAnIdleWindowPlaysTheTreesSelection) {
  m_mnt.Put(kName, "x");
  m_commands.SetSelectedFile([](std::string* rooted) {
    *rooted = kName;
    return true;
  });
  Click(CReplayerBackBmp::kPlay);
  EXPECT_TRUE(Eventually([&] { return m_manager.GetState(0) == 1; }));
  // Front and Next step every window, resetting the speed levels.
  Click(CReplayerBackBmp::kFast);
  m_engine.ClearCalls();
  Click(CReplayerBackBmp::kNext);
  EXPECT_EQ(m_engine.CallsOf({"Play", "StepNext"}), (Calls{"Play(0,wnd)", "StepNext(0)"}));
  EXPECT_EQ(Tip(CReplayerBackBmp::kFast), "Fast");
  Click(CReplayerBackBmp::kStop);
  EXPECT_EQ(m_manager.GetState(0), 0);
}

TEST_F(ReplayerViewTest, ProgressMovesTheSliderWhichDoesNotSeek) {
  m_bar.SetProgress(0, 42);
  EXPECT_EQ(m_bar.Slider()->GetPos(), 42);
  m_bar.SetProgress(0, 150);
  EXPECT_EQ(m_bar.Slider()->GetPos(), 100);
}

TEST(ReplayerViewSkin, AMissingPictureShowsOneMessageAndTheBarStillWorks) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkpath("Skin"));
  for (const char* name : {"replayer_config.ini", "bar_buttons_up.bmp", "bar_back.bmp",
                           "slider_channel.bmp", "slider_thumb.bmp"})
    ASSERT_TRUE(QFile::copy(kResources + "Skin/" + name, dir.path() + "/Skin/" + name));
  CEngineStandIn engine;
  CPlayerManager manager(&engine);
  lumenpane::CVideoWindow video;
  CPlaybackCommands commands(&video, &manager, nullptr, nullptr);
  CReplayerView bar(&commands, nullptr, nullptr);
  std::vector<std::string> messages;
  bar.SetMessageBox([&](const QString& text) { messages.push_back(text.toStdString()); });
  EXPECT_FALSE(bar.OnInitDialog(dir.path() + "/"));
  EXPECT_EQ(messages, (std::vector<std::string>{"PlayBack.LoadImageFail"}));
  ASSERT_NE(bar.Button(CReplayerBackBmp::kNext), nullptr);
  EXPECT_EQ(bar.Button(CReplayerBackBmp::kNext)->geometry().size(), QSize(28, 28));
  bar.grab();
}

}  // namespace
