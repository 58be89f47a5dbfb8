// CReplayerSlider -- the control bar's position slider, drawn from pictures.
//
// A horizontal slider over the range [min, max] (0-100 unless set) whose channel and thumb
// are pictures of the skin: the channel is drawn at the left and its last two pixel columns
// are repeated to the right edge; with a pressed-channel picture the part left of the thumb's
// centre is drawn from that one (the part already played). The thumb is centred on
// Pos2Pixel(position), drawn from the pressed-thumb picture while it is dragged.
//
// Dragging the thumb emits sliderMoving(id, position) for each new position and
// sliderMoved(id, position) when the button is released; id is the control id (the object
// name, 2074 in the control bar). Keys do not move it.
//
// A thumb as wide as the slider or wider leaves no room to move: it is treated as not loaded
// (the slider still draws its channel and answers clicks) and a warning says so in the log.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

class CReplayerSlider : public QWidget {
  Q_OBJECT

 public:
  explicit CReplayerSlider(QWidget* parent = nullptr);

  // The range; min < max is expected (an empty range keeps the thumb at the left). redraw:
  // repaint now. The position is clamped into the new range.
  void SetRange(int min, int max, bool redraw);
  int GetRangeMin() const { return m_nMin; }
  int GetRangeMax() const { return m_nMax; }

  // Moves the thumb to pos clamped into [min, max] and repaints.
  void SetPos(int pos);
  int GetPos() const { return m_nPos; }

  // Loads the channel picture from file and, when pressedFile is not empty, the picture of
  // the played part. The slider takes the channel picture's size. Returns false when a file
  // cannot be read or the pressed picture's size differs from the channel's (nothing kept).
  bool SetBitmapChannel(const QString& file, const QString& pressedFile);
  // Loads the thumb picture and, when pressedFile is not empty, the thumb while dragged.
  // Returns false when a file cannot be read or the two sizes differ (nothing kept); a thumb
  // as wide as the slider is kept but not used while the slider is that narrow.
  bool SetBitmapThumb(const QString& file, const QString& pressedFile);

  // Turns mouse handling on or off (on initially).
  void Enable(bool on);

  // The thumb's centre, in pixels from the slider's left edge, for position pos:
  //   (w - tw) * (pos - min) / (max - min) + tw / 2   (integer arithmetic)
  // with w the slider's width and tw the width of the thumb in use.
  int Pos2Pixel(int pos) const;
  // The position whose thumb centre is at pixel x (the inverse, truncated, not clamped):
  //   min + (x - tw / 2) / (w - tw) * (max - min)     (floating point)
  // min when the slider has no room (w - tw <= 0).
  int Pixel2Pos(int x) const;

  // Width of the thumb in use: 0 when none is loaded or it does not fit the slider.
  int ThumbWidth() const;
  bool IsDragging() const { return m_bDragging; }

 signals:
  // The thumb was dragged to position pos (the control bar's "moving" message).
  void sliderMoving(int id, int pos);
  // The thumb was released at position pos (the "moved" message).
  void sliderMoved(int id, int pos);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  // The control id: the object name as a number (0 when it is none).
  int Id() const;
  // True when a thumb is loaded that is narrower than the slider; when it is not, logs a
  // warning once per slider width.
  bool ThumbFits() const;
  // Moves the thumb under the cursor at x while dragging.
  void DragTo(int x);

  int m_nMin = 0;
  int m_nMax = 100;
  int m_nPos = 0;
  int m_nPage = 20;              // page size, kept for the skin's sake
  QImage m_channel;              // channel picture
  QImage m_channelPressed;       // the played part, optional
  QImage m_thumb;                // thumb picture
  QImage m_thumbPressed;         // thumb while dragged, optional
  bool m_bDragging = false;
  int m_nGrabOffset = 0;         // cursor minus thumb centre when the drag began
  bool m_bEnable = true;
  mutable int m_nWarnedWidth = -1;  // slider width of the last thumb-does-not-fit warning
};
