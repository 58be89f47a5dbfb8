// Messages to the user: the text of a language key in a message box.
#include "messagebox.h"

#include "initlanguage.h"

#include <QApplication>
#include <QMessageBox>

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
  QMessageBox::information(parent, QApplication::applicationDisplayName(),
                           CInitLanguage::Instance()->GetString(key), QMessageBox::Ok);
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
