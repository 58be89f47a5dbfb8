#!/usr/bin/env bash
# The examiner's flow through the real viewer under Xvfb, driven as a user drives it, and what
# it writes checked afterwards.
#
#   scripts/examinerflow.sh [BUILD-FOLDER] [IMAGE]
#
# Logs in, opens the first day of IMAGE (default demo/demo.img) in the record tree, plays the
# first recording of channel 001 in window 1, then through the window's context menu: Local
# Recording and Snapshot twice (into the capture folders of "Folders…", set beforehand), and -
# once the recording has been taken to its end (End) - Snapshot as PNG and Close Window; then
# the tree's Export… of the channel (its folder typed into the target-folder dialog), the about
# box, and the time label turned off with T, which the next start remembers.
# Saves demo/flow-*.png (the menu, the target-folder dialog, playing, ended, closed, the copy
# dialog's summary, the about box, the restarted viewer without labels) and leaves what the
# viewer wrote in demo/flow-out/ (rec/, snap/, export/).
# Widgets are found through the accessibility bus (scripts/a11y.py), input is xdotool's.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${FLOW_INSIDE:-}" != 1 ]; then
  build=${1:-build/release}
  image=${2:-demo/demo.img}
  cmake --build "$build" --target vendrel winshot vendrel_resources krt_tool >/dev/null
  rm -rf demo/flow-out
  mkdir -p demo/flow-out/rec demo/flow-out/snap demo/flow-out/export
  exec xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- \
    env FLOW_INSIDE=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$0" "$build" "$image"
fi

build=$1
image=$2
out=$PWD/demo/flow-out
config=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid"; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$config"
}
trap cleanup EXIT
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
sleep 1

mkdir -p "$config/vendrel"
cp "$build/bin/Config.ini" "$config/vendrel/Config.ini"
printf '[Folders]\nSnapshots=%s\nRecordings=%s\n' "$out/snap" "$out/rec" >"$config/vendrel/viewer.ini"
start_viewer() {
  XDG_CONFIG_HOME=$config "$build/bin/vendrel" "$image" >/dev/null 2>&1 &
  pid=$!
}
start_viewer

window_of() { timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --name "$1" | head -n 1; }
shoot() { "$build/bin/winshot" "$1" "$2" && echo "  $2"; }
# Screen centre of the widget of role $1 whose name matches $2 (waits up to 10 s).
find_widget() {
  for _ in $(seq "${TRIES:-50}"); do
    scripts/a11y.py find "$pid" "$1" "$2" 2>/dev/null && return 0
    sleep 0.2
  done
  echo "examinerflow.sh: no $1 $2" >&2
  return 1
}
item() { find_widget "tree item" "$1" 2>/dev/null || find_widget "table cell" "$1"; }
double_click() { xdotool mousemove --sync $1 click --repeat 2 --delay 80 1; sleep 0.5; }
click() { xdotool mousemove --sync $1 click "${2:-1}"; sleep 0.4; }
# Chooses the context-menu entry $2 of video window pane $1. A context menu is a popup, which
# Qt announces on the accessibility bus as it opens but keeps out of the application's tree of
# windows, so its entries are clicked where the menu lays them out: it opens at the pointer,
# one row of 22 pixels an entry after the window's title.
menu_row() {
  case "$1" in
    "Close Window") echo 33 ;; "Close All Windows") echo 55 ;; "Sound") echo 77 ;;
    "Local Recording") echo 99 ;; "Snapshot") echo 121 ;; "Snapshot as PNG") echo 143 ;;
  esac
}
window_menu() {
  local at
  at=$(pane "$1")
  click "$at" 3
  xdotool mousemove --sync $((${at% *} + 40)) $((${at#* } + $(menu_row "$2"))) click 1
  sleep 0.5
}
# Answers the target-folder dialog with folder $1 (typed into its field), after shot $2.
choose_folder() {
  local field
  field=$(find_widget "entry" "Target folder" 2>/dev/null || find_widget "text" "Target folder")
  click "$field"
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 20 "$1"
  [ -n "${2:-}" ] && shoot root "$2"
  click "$(find_widget "push button" "^OK\$")"
}

log_in() {
  login=$(window_of '.')
  xdotool windowfocus --sync "$login"
  xdotool key --clearmodifiers Return
  for _ in $(seq 100); do xdotool getwindowname "$login" >/dev/null 2>&1 || break; sleep 0.1; done
  main=$(window_of '^Vendrel$')
  sleep 1
}
log_in
eval "$(xdotool getwindowgeometry --shell "$main")"
menu=24
grid_w=$((WIDTH - 255))
grid_h=$((HEIGHT - menu - 35))
pane() { echo "$((X + grid_w / 4 + ($1 % 2) * grid_w / 2)) $((Y + menu + grid_h / 4 + ($1 / 2) * grid_h / 2))"; }

day=$("$build/bin/krt" -d "$image" ls /mnt/idea0 2>/dev/null | head -n 1 | cut -f1)
name=$("$build/bin/krt" -d "$image" ls "/mnt/idea0/$day/001" 2>/dev/null | head -n 1 | cut -f1)
echo "recording: /mnt/idea0/$day/001/$name"
double_click "$(item '^PhysicalDrive')"
double_click "$(item '^idea0$')"
double_click "$(item "^$day\$")"
double_click "$(item '^001$')"
click "$(pane 0)"
double_click "$(item "^$(python3 -c 'import re, sys; print(re.escape(sys.argv[1]))' "$name")\$")"
# The demo's clips last seconds: the window is paused (Space on the grid) while local
# recording and the snapshot are asked for, then plays on to its end.
click "$(pane 0)"
xdotool key --clearmodifiers space
echo "Screenshots:"
window_menu 0 "Local Recording"
window_menu 0 "Snapshot"
window_menu 0 "Snapshot"  # the same picture again: a numbered name beside the first
click "$(pane 0)" 3
shoot root demo/flow-menu.png
xdotool key --clearmodifiers Escape
xdotool key --clearmodifiers space
sleep 1
shoot "$main" demo/flow-playing.png
# To the end (End), then let it finish.
click "$(pane 0)"
xdotool key --clearmodifiers End
sleep 6
shoot "$main" demo/flow-ended.png
# An ended window keeps its last picture: Sound and Local Recording are greyed, so Snapshot as
# PNG stands two rows higher.
click "$(pane 0)" 3
shoot root demo/flow-ended-menu.png
xdotool key --clearmodifiers Escape
window_menu 0 "Snapshot as PNG"
window_menu 0 "Close Window"
shoot "$main" demo/flow-closed.png

# Export… of the channel from the tree's context menu.
click "$(item '^001$')" 3
xdotool key --clearmodifiers Down Return  # its first entry, Export…
choose_folder "$out/export" demo/flow-saveto.png
sleep 4
shoot root demo/flow-export.png
click "$(find_widget "push button" "^Close\$")"

# The about box, from the menu bar's last entry.
click "$((X + 120)) $((Y + 12))"
sleep 1
shoot root demo/flow-about.png
xdotool key --clearmodifiers Return
# Time labels off (T on the grid), then Ctrl+Q; the next start shows none.
click "$(pane 0)"
xdotool key --clearmodifiers t
quit_viewer() {
  xdotool windowfocus --sync "$main"
  xdotool key --clearmodifiers ctrl+q
  timeout 10 tail --pid="$pid" -f /dev/null || kill "$pid"
  wait "$pid" 2>/dev/null || true
  pid=
}
quit_viewer
start_viewer
log_in
eval "$(xdotool getwindowgeometry --shell "$main")"
double_click "$(item '^PhysicalDrive')"
double_click "$(item '^idea0$')"
double_click "$(item "^$day\$")"
double_click "$(item '^001$')"
click "$(pane 0)"
double_click "$(item "^$(python3 -c 'import re, sys; print(re.escape(sys.argv[1]))' "$name")\$")"
sleep 2
shoot "$main" demo/flow-restarted.png
echo "viewer.ini after the restart:"
sed -n '/TimeLabels/p' "$config/vendrel/viewer.ini"
quit_viewer
echo "Written:"
find "$out" -type f | sort
