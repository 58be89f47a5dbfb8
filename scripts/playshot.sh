#!/usr/bin/env bash
# Screenshots of the viewer playing, under Xvfb, driven as a user drives it.
#
#   scripts/playshot.sh [BUILD-FOLDER] [IMAGE]
#
# Logs in as the shipped account, opens the first day of the demo disk IMAGE (default
# demo/demo.img) in the record tree and double-clicks the first recording of channels 1-4,
# each into its own video window (a click into the window focuses it first); then saves
#   demo/playshot-four-1.png, -2.png   the window playing four channels, a second apart
#   demo/playshot-paused.png           the same after Space paused them (status texts)
#   demo/playshot-menu.png             the video context menu over window 4 (the whole screen)
#   demo/playshot-sync9.png            the day's synchronous playback (tree: "SyncPlay"), nine
#                                      windows of one moment
# Widgets are found through the accessibility bus (scripts/a11y.py), the mouse and keys are
# xdotool's. BUILD-FOLDER defaults to build/release. Prints each command and file.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${PLAYSHOT_INSIDE:-}" != 1 ]; then
  build=${1:-build/release}
  image=${2:-demo/demo.img}
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  cmake --build "$build" --target vendrel winshot vendrel_resources >/dev/null
  mkdir -p demo
  command=(xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session --
           env PLAYSHOT_INSIDE=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$0" "$build" "$image")
  printf '%q ' "${command[@]}"
  echo
  exec "${command[@]}"
fi

build=$1
image=$2
config=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid"; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$config"
}
trap cleanup EXIT

# The accessibility registry of this D-Bus session.
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
sleep 1

mkdir -p "$config/vendrel"
cp "$build/bin/Config.ini" "$config/vendrel/Config.ini"
XDG_CONFIG_HOME=$config "$build/bin/vendrel" "$image" >/dev/null 2>&1 &
pid=$!

window_of() { timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --name "$1" | head -n 1; }
shoot() { "$build/bin/winshot" "$1" "$2" && echo "  $2"; }
# Screen centre of the tree item named by the regular expression $1 (waits up to 10 s).
item() {
  for _ in $(seq 50); do
    scripts/a11y.py find "$pid" "tree item" "$1" 2>/dev/null && return 0
    scripts/a11y.py find "$pid" "table cell" "$1" 2>/dev/null && return 0
    sleep 0.2
  done
  echo "playshot.sh: no tree item $1" >&2
  return 1
}
double_click() { xdotool mousemove --sync $1 click --repeat 2 --delay 80 1; sleep 0.5; }
click() { xdotool mousemove --sync $1 click "${2:-1}"; sleep 0.3; }

login=$(window_of '.')
xdotool windowfocus --sync "$login"
xdotool key --clearmodifiers Return
for _ in $(seq 100); do xdotool getwindowname "$login" >/dev/null 2>&1 || break; sleep 0.1; done
main=$(window_of '^Vendrel$')
sleep 1

# Where the grid's four windows are: the window's client area less the tree (255 pixels) and
# the bar (35); the menu bar is on top.
eval "$(xdotool getwindowgeometry --shell "$main")"
menu=24
grid_w=$((WIDTH - 255))
grid_h=$((HEIGHT - menu - 35))
pane() {  # screen centre of window $1 (0-3) of the 2 x 2 layout
  echo "$((X + grid_w / 4 + ($1 % 2) * grid_w / 2)) $((Y + menu + grid_h / 4 + ($1 / 2) * grid_h / 2))"
}

double_click "$(item '^PhysicalDrive')"
double_click "$(item '^idea0$')"
day=$("$build/bin/krt" -d "$image" ls /mnt/idea0 | head -n 1 | cut -f1)
double_click "$(item "^$day\$")"
for k in 0 1 2 3; do
  channel=$(printf '%03d' $((k + 1)))
  double_click "$(item "^$channel\$")"
  click "$(pane $k)"
  name=$("$build/bin/krt" -d "$image" ls "/mnt/idea0/$day/$channel" | head -n 1 | cut -f1)
  escaped=$(python3 -c 'import re, sys; print(re.escape(sys.argv[1]))' "$name")
  double_click "$(item "^$escaped\$")"
  double_click "$(item "^$channel\$")"  # folds the channel again, so the next one shows
done
echo "Screenshots:"
sleep 1
shoot "$main" demo/playshot-four-1.png
sleep 1
shoot "$main" demo/playshot-four-2.png
# Space on the grid pauses every playing window: their status texts say so.
click "$(pane 3)"
xdotool key --clearmodifiers space
sleep 1.2
shoot "$main" demo/playshot-paused.png
click "$(pane 3)" 3
sleep 0.5
shoot root demo/playshot-menu.png
xdotool key --clearmodifiers Escape
sleep 0.3

# Synchronous playback of the day: the tree's context menu on the day, its second entry
# ("SyncPlay").
click "$(item "^$day\$")" 3
sleep 0.5
xdotool key --clearmodifiers Down Down Return
sleep 2.5
shoot "$main" demo/playshot-sync9.png

xdotool windowfocus --sync "$main"
xdotool key --clearmodifiers ctrl+q
timeout 10 tail --pid="$pid" -f /dev/null || kill "$pid"
wait "$pid" 2>/dev/null || true
pid=
