#include "keyboardhabits.h"

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

#include <functional>

#include "playbackcommands.h"
#include "replayerview.h"

void InstallKeyboardHabits(QWidget* video, CReplayerView* bar, CPlaybackCommands* commands) {
  using C = CPlaybackCommands;
  const std::pair<QKeyCombination, std::function<void()>> keys[] = {
      {Qt::Key_Space, [commands] { commands->TogglePauseAll(); }},
      {Qt::SHIFT | Qt::Key_Right, [commands] { commands->JumpAll(C::kJumpShortMs); }},
      {Qt::SHIFT | Qt::Key_Left, [commands] { commands->JumpAll(-C::kJumpShortMs); }},
      {Qt::CTRL | Qt::Key_Right, [commands] { commands->JumpAll(C::kJumpLongMs); }},
      {Qt::CTRL | Qt::Key_Left, [commands] { commands->JumpAll(-C::kJumpLongMs); }},
      {Qt::Key_Home, [commands] { commands->SeekAllToEdge(false); }},
      {Qt::Key_End, [commands] { commands->SeekAllToEdge(true); }},
      {Qt::Key_T, [commands] { commands->OnCommand(C::kCmdTimeLabel); }},
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
