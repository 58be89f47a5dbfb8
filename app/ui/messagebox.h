// Messages to the user: the text of a language key in a message box.
#pragma once

#include <QString>

#include <functional>

class QMessageBox;
class QWidget;

namespace vendrel {

// Shows the text of key (CInitLanguage::GetString) in a modal message box over parent, with
// the application's name as caption and a single OK button; returns when the user closed
// it. With a hook set (SetMessageHook), calls the hook instead.
void ShowMessage(QWidget* parent, const QString& key);

// Shows text in a modal message box with caption and a single OK button, centred on parent's
// window (on the screen without a parent); returns when the user closed it. No hook.
void ShowMessageText(QWidget* parent, const QString& caption, const QString& text);

// Moves dialog so that it is centred on over's window (the screen's available area without
// one), kept on that screen. Call once the dialog has its size, before showing it.
void CentreOn(QWidget* dialog, const QWidget* over);

// Widens box, when needed, so that its caption fits in the window's title bar with room for
// the bar's icon and buttons: window managers cut a title wider than its window ("Über
// Vendr…"). Call before showing the box.
void FitTitle(QMessageBox* box);

// Replaces the message box by hook (called with the parent and the key), e.g. so tests can
// see which message a dialog shows without a modal box waiting for input. An empty hook
// restores the message box.
using MessageHook = std::function<void(QWidget* parent, const QString& key)>;
void SetMessageHook(MessageHook hook);

// Asks the text of key in a modal box with OK and Cancel over parent; true for OK. With a
// question hook set (SetQuestionHook), returns the hook's answer instead.
bool AskOkCancel(QWidget* parent, const QString& key);

// Replaces the question box by hook (called with the parent and the key); an empty hook
// restores the box.
using QuestionHook = std::function<bool(QWidget* parent, const QString& key)>;
void SetQuestionHook(QuestionHook hook);

}  // namespace vendrel
