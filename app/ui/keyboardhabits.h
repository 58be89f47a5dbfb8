// Keys that users bring from other players, on the video grid and the control bar.
//
//   Space    when a window plays, pause every playing one; else play every paused or
//            single-frame window on
//   Shift+Right / Shift+Left   every window 10 s on / back
//   Ctrl+Right / Ctrl+Left     every window 1 minute on / back
//   Home / End                 every window to its first / last picture
//   T        the windows' time label on / off
//   Right    one frame forward in every window (the bar's Next)
//   Left     one frame back (the bar's Front)
//   ]        faster (the bar's Fast)        [   slower (the bar's Slower)
//   S        snapshot of the focused window (the context menu's "Snapshot")
//   F        full-pane view of the focused window on or off (as a double click)
//
// They work while the keyboard focus is in the video grid (a click into a video window puts it
// there) or in the bar; elsewhere -- the record tree above all, whose arrows move through the
// recordings -- the keys keep their usual meaning. Enter and Escape are left to the window.
#pragma once

class CPlaybackCommands;
class CReplayerView;
class QWidget;

// Adds the keys to `video` (the grid; it also becomes able to take the focus by a click) and
// to `bar`, acting through bar's commands and `commands`.
void InstallKeyboardHabits(QWidget* video, CReplayerView* bar, CPlaybackCommands* commands);
