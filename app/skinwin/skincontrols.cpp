// Skinned labels and line edits and the control pass that attaches them.
#include "skincontrols.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QWidget>

#include <typeinfo>

namespace skinwin {
namespace {

// The property that marks a widget as skinned already.
constexpr char kSkinnedProperty[] = "skinAttached";

bool Skippable(const QWidget* child) {
  return child->isWindow() || child->property(kPlainProperty).toBool() ||
         child->property(kSkinnedProperty).toBool();
}

}  // namespace

// ---- CSkinStatic ------------------------------------------------------------------------------

CSkinStatic::CSkinStatic(QLabel* label) : m_label(label) {
  label->setProperty(kSkinnedProperty, true);
  label->installEventFilter(this);
  label->update();
}

CSkinStatic::~CSkinStatic() {
  if (!m_label) return;
  m_label->removeEventFilter(this);
  m_label->setProperty(kSkinnedProperty, QVariant());
  m_label->update();
}

void CSkinStatic::SetTextColour(QColor colour) {
  m_textColour = colour;
  if (m_label) m_label->update();
}

void CSkinStatic::SetBackgroundColour(QColor colour) {
  m_backColour = colour;
  if (m_label) m_label->update();
}

void CSkinStatic::SetOpaque(bool opaque) {
  m_opaque = opaque;
  if (m_label) m_label->update();
}

void CSkinStatic::SetFont(const QFont& font) {
  m_font = font;
  m_haveFont = true;
  if (m_label) m_label->update();
}

int CSkinStatic::TextWidth(const QString& text) const {
  const QFont font = m_haveFont ? m_font : m_label ? m_label->font() : QFont();
  return QFontMetrics(font).horizontalAdvance(text);
}

bool CSkinStatic::eventFilter(QObject* watched, QEvent* event) {
  if (watched != m_label || event->type() != QEvent::Paint) return false;
  if (!m_haveFont) {
    const QWidget* window = m_label->window();
    m_font = window ? window->font() : m_label->font();
    m_haveFont = true;
  }
  QPainter p(m_label);
  if (m_opaque) p.fillRect(m_label->rect(), m_backColour);
  p.setFont(m_font);
  p.setPen(m_textColour);
  p.drawText(m_label->contentsRect(), int(m_label->alignment()) | Qt::TextWordWrap, m_label->text());
  return true;
}

// ---- CSkinEdit ------------------------------------------------------------------------------

CSkinEdit::CSkinEdit(QLineEdit* edit) : m_edit(edit) {
  edit->setProperty(kSkinnedProperty, true);
  edit->installEventFilter(this);
  m_oldStyleSheet = edit->styleSheet();
  ApplyColours();
}

CSkinEdit::~CSkinEdit() {
  if (!m_edit) return;
  m_edit->removeEventFilter(this);
  m_edit->setProperty(kSkinnedProperty, QVariant());
  m_edit->setStyleSheet(m_oldStyleSheet);
}

void CSkinEdit::ApplyColours() {
  if (!m_edit) return;
  // A style sheet of the edit's own: it wins over the palette and over a dialog's sheet.
  m_edit->setStyleSheet(QStringLiteral("QLineEdit { color: %1; background-color: %2; border: 2px solid %3; }")
                            .arg(m_text.name(), m_background.name(), m_outer.name()));
  m_edit->update();
}

void CSkinEdit::SetColours(QColor outerBorder, QColor innerBorder, QColor background, QColor text) {
  m_outer = outerBorder;
  m_inner = innerBorder;
  m_background = background;
  m_text = text;
  ApplyColours();
}

void CSkinEdit::SetDrawBorder(bool drawBorder) {
  m_drawBorder = drawBorder;
  if (m_edit) m_edit->update();
}

bool CSkinEdit::eventFilter(QObject* watched, QEvent* event) {
  if (watched != m_edit || event->type() != QEvent::Paint || m_painting || !m_drawBorder)
    return false;
  // The edit paints itself first (text, selection, cursor); the border goes over its frame.
  m_painting = true;
  static_cast<QObject*>(m_edit.data())->event(event);
  m_painting = false;
  QPainter p(m_edit);
  p.setBrush(Qt::NoBrush);
  p.setPen(m_outer);
  p.drawRect(m_edit->rect().adjusted(0, 0, -1, -1));
  p.setPen(m_inner);
  p.drawRect(m_edit->rect().adjusted(1, 1, -2, -2));
  return true;
}

// ---- Control pass ---------------------------------------------------------------------------

bool SkinControls(QWidget* window, SkinnedControls* controls) {
  if (!window) return false;
  for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (Skippable(child)) continue;
    // Exactly the plain classes: a class of the window's own has its own painting.
    const std::type_info& type = typeid(*child);
    if (type == typeid(QLabel)) {
      auto* label = static_cast<QLabel*>(child);
      if (label->textFormat() == Qt::RichText || !label->pixmap().isNull() || label->movie())
        continue;
      controls->statics.push_back(std::make_unique<CSkinStatic>(label));
      controls->statics.back()->SetOpaque(false);
    } else if (type == typeid(QLineEdit)) {
      controls->edits.push_back(std::make_unique<CSkinEdit>(static_cast<QLineEdit*>(child)));
    }
  }
  return true;
}

}  // namespace skinwin
