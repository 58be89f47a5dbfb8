// One video window of the grid: the surface a player's frames are painted on.
//
// A pane is what the grid hands out as a window handle: it is the engine's frame sink
// (TvxFrameSink). The playback engine keeps the pointer for the life of the grid and delivers
// decoded pictures to present() / presentFrame() from its own threads; the pane keeps only the newest picture and paints it on the user-interface thread,
// scaled into the pane with its aspect ratio kept (black bars fill the rest). When no picture
// is held the pane shows its logo, if it has one. On top of the picture it draws the window's
// status text (top left), the time label (bottom left), the sound mark (top right) and a frame around the pane that shows
// whether it is the focused window.
//
// Threads: presentFrame(), targetSize(), fitSize(), hasFrame() and the two TvxFrameSink
// functions may be called from any thread at any time while the pane exists; none of them
// waits for the user-interface thread. Everything else belongs to the user-interface thread.
#pragma once

#include <QImage>
#include <QMutex>
#include <QPainter>
#include <QSize>
#include <QString>
#include <QWidget>

#include <tarnvox/tarnvox.h>

#include <atomic>

namespace lumenpane {

class CVideoPane : public QWidget, public TvxFrameSink {
  Q_OBJECT

 public:
  // Width in pixels of the frame drawn around every pane; pictures are painted inside it.
  static constexpr int kBorder = 2;

  // A pane for window index `index` (0-63) of its grid.
  explicit CVideoPane(int index, QWidget* parent = nullptr);

  // The window index this pane was made for.
  int index() const { return m_nIndex; }

  // ---- frame entry, safe from any thread ----

  // Makes frame the picture the pane shows and asks the user-interface thread to repaint.
  // The image must own its pixels (not wrap a buffer the caller reuses). Frames that arrive
  // faster than the pane repaints replace one another: at most one repaint request waits in
  // the event queue at any time, and the newest frame is the one painted. A null image
  // clears the picture.
  void presentFrame(QImage frame);

  // The size in device pixels of the area a picture is painted into (the pane inside its
  // frame). A producer that scales its pictures should scale into this box; pictures of
  // any other size are scaled by the pane. The size is empty until the pane is first shown,
  // and for a pane too small to hold a picture: a producer then keeps its pictures' own size.
  QSize targetSize() const;

  // The size a picture of size `source` is best delivered in: scaled into targetSize() with
  // its aspect ratio kept, so the pane paints it without scaling again. `source` itself when
  // either size is empty.
  QSize fitSize(QSize source) const;

  // TvxFrameSink: the size the engine scales a picture of display size pictureSize to
  // (fitSize), and the picture to show (presentFrame).
  QSize frameSize(QSize pictureSize) const override { return fitSize(pictureSize); }
  void present(const QImage& picture) override { presentFrame(picture); }

  // Drops the picture (the same as presenting a null image): the pane shows its logo or black.
  void clearFrame() { presentFrame(QImage()); }

  // True while the pane holds a picture.
  bool hasFrame() const;

  // ---- user-interface thread ----

  // The text drawn in the top-left corner; an empty or blank text draws nothing.
  void setStatusText(const QString& text);
  QString statusText() const { return m_strStatus; }

  // The time label drawn in the bottom-left corner on a dark strip (channel and the time of
  // the picture); empty for none.
  void setTimeLabel(const QString& text);
  QString timeLabel() const { return m_strTime; }

  // Turns the sound mark in the top-right corner on or off.
  void setSoundMark(bool on);
  bool soundMark() const { return m_bSoundMark; }

  // The picture shown, centred and at most the pane's size, while no frame is held.
  // A null image removes the logo.
  void setLogo(const QImage& logo);

  // The caption drawn in the middle of the pane while no frame is held (for example the
  // window's number); empty for none.
  void setCaption(const QString& caption);
  QString caption() const { return m_strCaption; }

  // Draws the frame around the pane in the focus colour (true) or the plain colour.
  void setFocusFrame(bool focused);
  bool focusFrame() const { return m_bFocused; }

  // Stretches pictures over the whole pane (true) instead of keeping their aspect ratio.
  void setStretch(bool stretch);

  // Colours of the frame around a pane: focused and plain.
  static QColor focusColor();
  static QColor plainColor();

 signals:
  // The pane was pressed with a mouse button (user-interface thread).
  void pressed(int index);
  // The pane was double-clicked.
  void doubleClicked(int index);
  // A context menu was asked for over the pane, at globalPos (screen coordinates).
  void contextMenuRequested(int index, QPoint globalPos);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // The area inside the frame, in widget coordinates.
  QRect pictureRect() const;
  // Sets field to value and repaints, when that changes it.
  template <typename T>
  void setAndRepaint(T& field, const T& value) {
    if (field == value) return;
    field = value;
    update();
  }
  // Draws the status text and the sound mark over the picture area.
  void paintOverlays(QPainter& painter, const QRect& area) const;

  const int m_nIndex;  // window index, fixed

  mutable QMutex m_mutex;              // guards m_frame and m_targetSize
  QImage m_frame;                      // newest picture; protected by m_mutex
  QSize m_targetSize;                  // picture area in device pixels; protected by m_mutex
  std::atomic<bool> m_bRepaintQueued;  // a repaint request waits in the event queue

  // user-interface thread only
  QString m_strStatus;       // status text, top left
  QString m_strTime;         // the time label, bottom left
  QString m_strCaption;      // caption of an idle pane
  QImage m_logo;             // picture of an idle pane
  bool m_bSoundMark = false; // sound mark, top right
  bool m_bFocused = false;   // frame in the focus colour
  bool m_bStretch = false;   // fill the pane instead of keeping the aspect ratio
};

}  // namespace lumenpane
