// CxSkinButton -- a push button drawn from four pictures.
//
// The button shows its normal picture, the mouse-over picture while the mouse is over it
// (the normal one when no mouse-over picture was given), the pressed picture while it is held
// down and the disabled picture when disabled; a missing picture leaves the button face
// colour. With a border style of 1 or 2 a raised edge (sunken while pressed) is drawn around
// it; its text, if any, is centred on top. Clicks arrive as QAbstractButton::clicked.
#pragma once

#include <QAbstractButton>
#include <QPixmap>

class CxSkinButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit CxSkinButton(QWidget* parent = nullptr);

  // The four pictures (copies are kept; a null over picture means the normal one), the
  // border style (0 none, 1 or 2 an edge; larger values count as 2) and the margin of the
  // focus rectangle (negative counts as 0; 0 draws none). hand: show a pointing-hand cursor
  // over the button.
  void SetSkin(const QPixmap& normal, const QPixmap& pressed, const QPixmap& over,
               const QPixmap& disabled, int borderStyle = 1, int focusMargin = 0,
               bool hand = false);

  // The tooltip text (empty: none).
  void SetToolTipText(const QString& text) {
    setToolTip(text);
    setAccessibleName(text);  // a button drawn from pictures has no caption to be named by
  }

  // Which picture is on show now: 0 normal, 1 pressed, 2 mouse-over, 3 disabled.
  int ShownPicture() const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QPixmap m_normal;
  QPixmap m_pressed;
  QPixmap m_over;
  QPixmap m_disabled;
  int m_nBorder = 1;
  int m_nFocusMargin = 0;
  bool m_bOver = false;  // the mouse is over the button
};
