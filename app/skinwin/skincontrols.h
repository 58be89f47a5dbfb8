// Skinned controls: the control pass that makes the plain labels and line edits of a skinned
// window fit its tiled client background.
//
// A skinned control is attached to an existing widget (it watches the widget's events, as a
// subclassed control would): CSkinStatic to a QLabel, CSkinEdit to a QLineEdit. It lives as
// long as the CSkinInterface that made it, or until its widget is destroyed.
//
// Which direct children the pass skins (SkinControls):
//   - a QLabel that is exactly a QLabel (not a class of the window's own), shows text (no
//     picture or movie) -> CSkinStatic;
//   - a QLineEdit that is exactly a QLineEdit -> CSkinEdit;
//   - buttons, combo boxes and every other widget are left as they are;
//   - a child opts out by carrying the property kPlainProperty ("skinPlain") set to true:
//     child->setProperty("skinPlain", true) before the skin is applied. A child of a class of
//     the window's own is skipped too, like a child that is skinned already.
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <vector>

class QWidget;

namespace skinwin {

// The property by which a child keeps its plain look.
inline constexpr char kPlainProperty[] = "skinPlain";

// A label drawn without a background (unless made opaque) over the skin, in its own text
// colour, its text word-wrapped in its rectangle with the label's alignment.
class CSkinStatic : public QObject {
  Q_OBJECT

 public:
  // Attaches to label; the label is repainted.
  explicit CSkinStatic(QLabel* label);
  ~CSkinStatic() override;

  QLabel* Label() const { return m_label; }

  // The text colour (initially #212121), the background colour (initially black, used only
  // when opaque) and whether the background is filled (false after the control pass). Each
  // repaints the label.
  void SetTextColour(QColor colour);
  void SetBackgroundColour(QColor colour);
  void SetOpaque(bool opaque);
  // Draws with a copy of font instead of the window's font.
  void SetFont(const QFont& font);

  QColor TextColour() const { return m_textColour; }
  QColor BackgroundColour() const { return m_backColour; }
  bool IsOpaque() const { return m_opaque; }

  // The width in pixels of text in the label's font.
  int TextWidth(const QString& text) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QLabel> m_label;
  QColor m_textColour{0x21, 0x21, 0x21};
  QColor m_backColour{0, 0, 0};
  QFont m_font;              // a copy of the window's font, made at the first paint
  bool m_haveFont = false;
  bool m_opaque = true;
};

// A line edit with a border of two one-pixel frames (outer and inner colour) and its own
// background and text colours.
class CSkinEdit : public QObject {
  Q_OBJECT

 public:
  // Attaches to edit: its background and text colours become the skin's (through a style
  // sheet of the edit's own, which wins over the dialog's); it is repainted.
  explicit CSkinEdit(QLineEdit* edit);
  ~CSkinEdit() override;

  QLineEdit* Edit() const { return m_edit; }

  // Colours: the outer border (initially #2C71C4), the inner border and the background
  // (initially white), the text (initially #0B256B); drawBorder: whether the two frames are
  // drawn (initially true). Repaints the edit.
  void SetColours(QColor outerBorder, QColor innerBorder, QColor background, QColor text);
  void SetDrawBorder(bool drawBorder);

  QColor OuterBorder() const { return m_outer; }
  QColor InnerBorder() const { return m_inner; }
  QColor Background() const { return m_background; }
  QColor TextColour() const { return m_text; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ApplyColours();

  QPointer<QLineEdit> m_edit;
  QColor m_outer{0x2C, 0x71, 0xC4};
  QColor m_inner{0xFF, 0xFF, 0xFF};
  QColor m_background{0xFF, 0xFF, 0xFF};
  QColor m_text{0x0B, 0x25, 0x6B};
  bool m_drawBorder = true;
  bool m_painting = false;  // inside the edit's own painting
  QString m_oldStyleSheet;  // the edit's own style sheet before, given back at the end
};

// The skinned controls of one window.
struct SkinnedControls {
  std::vector<std::unique_ptr<CSkinStatic>> statics;
  std::vector<std::unique_ptr<CSkinEdit>> edits;
};

// The control pass over the direct children of window, in their order, by the rules at the
// top of this file; the new skinned controls are added to *controls. Skinned labels are made
// transparent (not opaque). Returns false when window is null, else true.
bool SkinControls(QWidget* window, SkinnedControls* controls);

}  // namespace skinwin
