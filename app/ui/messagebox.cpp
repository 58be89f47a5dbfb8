// Messages to the user: the text of a language key in a message box.
#include "messagebox.h"

#include "initlanguage.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QScreen>

#include <algorithm>

namespace vendrel {
namespace {

MessageHook& Hook() {
  static MessageHook hook;
  return hook;
}

QuestionHook& Question() {
  static QuestionHook hook;
  return hook;
}

}  // namespace

void ShowMessage(QWidget* parent, const QString& key) {
  if (Hook()) {
    Hook()(parent, key);
    return;
  }
  ShowMessageText(parent, QApplication::applicationDisplayName(), CInitLanguage::Instance()->GetString(key));
}

void ShowMessageText(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok, parent);
  FitTitle(&box);
  box.show();  // the box takes its final size as it is shown
  CentreOn(&box, parent);
  box.exec();
}

void CentreOn(QWidget* dialog, const QWidget* over) {
  const QWidget* window = over ? over->window() : nullptr;
  const QScreen* screen = window ? window->screen() : QGuiApplication::primaryScreen();
  const QRect area = window ? window->frameGeometry() : screen ? screen->availableGeometry() : QRect();
  if (area.isEmpty()) return;
  QRect box(QPoint(), dialog->frameGeometry().size().expandedTo(dialog->sizeHint()));
  box.moveCenter(area.center());
  if (screen) {
    const QRect fit = screen->availableGeometry();
    box.moveLeft(std::clamp(box.left(), fit.left(), std::max(fit.left(), fit.right() - box.width() + 1)));
    box.moveTop(std::clamp(box.top(), fit.top(), std::max(fit.top(), fit.bottom() - box.height() + 1)));
  }
  dialog->move(box.topLeft());
}

void FitTitle(QMessageBox* box) {
  // The title bar's icon, close, maximise and minimise buttons and margins take about this much.
  constexpr int kTitleBarReserve = 140;
  auto* grid = qobject_cast<QGridLayout*>(box->layout());
  if (!grid) return;
  const int wanted = box->fontMetrics().horizontalAdvance(box->windowTitle()) + kTitleBarReserve;
  // A message box sizes itself from its layout: an empty row as wide as the title widens it.
  grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                grid->columnCount());
}

void SetMessageHook(MessageHook hook) { Hook() = std::move(hook); }

bool AskOkCancel(QWidget* parent, const QString& key) {
  if (Question()) return Question()(parent, key);
  return QMessageBox::question(parent, QApplication::applicationDisplayName(),
                               CInitLanguage::Instance()->GetString(key),
                               QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel) == QMessageBox::Ok;
}

void SetQuestionHook(QuestionHook hook) { Question() = std::move(hook); }

}  // namespace vendrel
