#include "keyboardhabits.h"

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

#include <functional>

#include "playbackcommands.h"
#include "replayerview.h"

void InstallKeyboardHabits(QWidget* video, CReplayerView* bar, CPlaybackCommands* commands) {
  const std::pair<int, std::function<void()>> keys[] = {
      {Qt::Key_Space, [bar] { bar->OnPause(); }},
      {Qt::Key_Right, [bar] { bar->OnNext(); }},
      {Qt::Key_Left, [bar] { bar->OnFront(); }},
      {Qt::Key_BracketRight, [bar] { bar->OnFast(); }},
      {Qt::Key_BracketLeft, [bar] { bar->OnSlower(); }},
      {Qt::Key_S, [commands] { commands->OnCommand(CPlaybackCommands::kCmdSnapshot); }},
      {Qt::Key_F, [commands] { commands->ToggleDisplay(); }},
  };
  video->setFocusPolicy(Qt::ClickFocus);
  for (QWidget* host : {video, static_cast<QWidget*>(bar)}) {
    for (const auto& [key, action] : keys) {
      auto* shortcut = new QShortcut(QKeySequence(key), host);
      shortcut->setContext(Qt::WidgetWithChildrenShortcut);
      QObject::connect(shortcut, &QShortcut::activated, host, action);
    }
  }
}
