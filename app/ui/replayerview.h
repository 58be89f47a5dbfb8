// CReplayerView -- the playback control bar under the video windows.
//
// A strip with a position slider (id 2074) showing how far the focused window's recording has
// played (a click or a drag on it positions that window when released), the time of the
// window's picture under it ("2024-03-05 14:05:30  03:12 / 10:00"), and seven picture buttons: Play, Pause, Stop, Slower, Fast, Front, Next (ids
// 5028-5034). Pictures and button places come from the skin file "Skin/replayer_config.ini"
// (see barbackground.h); tooltips from the language. The buttons act on every video window
// through the main window's playback commands (playbackcommands.h).
//
// Layout for a bar W pixels wide (integer division): x0 = W / 2 + 15, gap = (W / 2 - 226) / 6;
// the slider from (23, 8) to (x0 - 23, 21); button i at (x0 + i * (28 + gap), 5), 28 x 28. The
// background picture is drawn at the left and its last four columns repeated to the right.
//
// Speed levels: a slow and a fast level, each 0-3 (0 none), kept by the bar.
// Slower and Fast step their level 1, 2, 3 and clear the other one; at level 3 the
// button is disabled (the players have no slower or faster step) until a level is cleared. The
// tooltips of the two buttons carry the level ("Slow2").
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

#include "barbackground.h"

class CPlaybackCommands;
class CReplayerSlider;
class QLabel;
class CxSkinButton;

class CReplayerView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kSliderId = 2074;
  static constexpr int kMaxSpeedLevel = 3;

  // A bar for the commands of the main window (which must outlive it) as a child of parent.
  // texts: the language lookup (null: the keys themselves).
  CReplayerView(CPlaybackCommands* commands, CLoadBmp::TextLookup texts, QWidget* parent);
  ~CReplayerView() override;

  // Shows a picture's load failure (null: a message box). Set before OnInitDialog.
  void SetMessageBox(CLoadBmp::MessageBox box) { m_message = std::move(box); }

  // Loads the skin from the resource folder's "Skin/replayer_config.ini", makes the buttons
  // and the slider (range 0-100) and lays them out. Returns false when a picture failed to
  // load (the bar works without it).
  bool OnInitDialog();
  // The same from another folder holding "Skin/" (tests).
  bool OnInitDialog(const QString& resourceDir);

  // Shows percent (0-100) of window windowIndex's recording on the slider (not while the thumb
  // is dragged).
  void SetProgress(int windowIndex, int percent);
  // The time under the slider: the focused window's picture time and elapsed / total.
  void SetTimeText(const QString& text);
  QString TimeText() const;

  // The button commands (what a click on each does).
  void OnPlay();
  void OnPause();
  void OnStop();
  void OnSlower();
  void OnFast();
  void OnFront();
  void OnNext();

  // Both speed levels back to 0 and both tooltips plain.
  void ResetSpeedLevels();
  // The bar's speed levels.
  int SlowLevel() const { return m_nSlowLevel; }
  int FastLevel() const { return m_nFastLevel; }

  CReplayerSlider* Slider() const { return m_pSlider; }
  // Button i (CReplayerBackBmp::kPlay ... kNext); null before OnInitDialog.
  CxSkinButton* Button(int i) const { return m_skin.Button(i); }

  // Places the slider and the buttons for the bar's width.
  void LayoutChildren();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Sets the Slower and Fast tooltips from the levels, and disables a button at its last level.
  void UpdateSpeedTips();

  CPlaybackCommands* const m_pCommands;
  CLoadBmp::TextLookup m_texts;
  CLoadBmp::MessageBox m_message;
  CReplayerSlider* m_pSlider = nullptr;  // child
  QLabel* m_pTime = nullptr;             // child: the time under the slider
  CReplayerBackBmp m_skin;
  int m_nSlowLevel = 0;  // 0-kMaxSpeedLevel, 0 = none
  int m_nFastLevel = 0;  // the same
};
