#!/usr/bin/env bash
# The viewer in time, under Xvfb, driven as a user drives it, and checked through the
# accessibility bus.
#
#   scripts/timeshot.sh [BUILD-FOLDER] [IMAGE]
#
# Logs in, plays the first day of IMAGE (default demo/demo.img) in sync (the tree's "SyncPlay"),
# goes to a moment 2 seconds into channel 1's first recording with "Go to Time..." from a video
# window's context menu, reads every video window's accessible description (the time it shows),
# then drags the bar's slider of the focused window to three quarters and checks that its time
# moved on. Saves
#   demo/timeshot-moment.png   the windows at the moment, each with its time label
#   demo/timeshot-slider.png   after the slider was dragged (the bar's time under the slider)
# Exits 1 when a check fails. BUILD-FOLDER defaults to build/release.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${TIMESHOT_INSIDE:-}" != 1 ]; then
  build=${1:-build/release}
  image=${2:-demo/demo.img}
  for tool in xvfb-run dbus-run-session xdotool; do
    command -v "$tool" >/dev/null || { echo "timeshot.sh: $tool missing, skipped"; exit 0; }
  done
  /usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "timeshot.sh: pyatspi missing, skipped"; exit 0; }
  mkdir -p demo
  command=(xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session --
           env TIMESHOT_INSIDE=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$0" "$build" "$image")
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

/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
sleep 1

mkdir -p "$config/vendrel"
cp "$build/bin/Config.ini" "$config/vendrel/Config.ini"
XDG_CONFIG_HOME=$config "$build/bin/vendrel" "$image" >/dev/null 2>&1 &
pid=$!

window_of() { timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --name "$1" | head -n 1; }
shoot() { "$build/bin/winshot" "$1" "$2" && echo "  $2"; }
find_widget() {  # role, name regex: screen centre (waits up to 10 s)
  for _ in $(seq 50); do
    scripts/a11y.py find "$pid" "$1" "$2" 2>/dev/null && return 0
    sleep 0.2
  done
  echo "timeshot.sh: no $1 $2" >&2
  return 1
}
item() { find_widget "tree item" "$1" 2>/dev/null || find_widget "table cell" "$1"; }
double_click() { xdotool mousemove --sync $1 click --repeat 2 --delay 80 1; sleep 0.5; }
click() { xdotool mousemove --sync $1 click "${2:-1}"; sleep 0.3; }
fail() { echo "timeshot.sh: $*" >&2; exit 1; }

login=$(window_of '.')
xdotool windowfocus --sync "$login"
xdotool key --clearmodifiers Return
for _ in $(seq 100); do xdotool getwindowname "$login" >/dev/null 2>&1 || break; sleep 0.1; done
main=$(window_of '^Vendrel$')
sleep 1

double_click "$(item '^PhysicalDrive')"
double_click "$(item '^idea0$')"
day=$("$build/bin/krt" -d "$image" ls /mnt/idea0 | head -n 1 | cut -f1)
first=$("$build/bin/krt" -d "$image" ls "/mnt/idea0/$day/001" | head -n 1 | cut -f1)
# One minute after channel 1's first recording starts ("HH.MM.SS-...").
moment=$(date -d "$day ${first:0:2}:${first:3:2}:${first:6:2} 2 seconds" '+%Y%m%d%H%M%S')
shown=$(date -d "$day ${first:0:2}:${first:3:2}:${first:6:2} 2 seconds" '+%Y-%m-%d %H:%M:%S')
double_click "$(item "^$day\$")"
click "$(item "^$day\$")" 3
sleep 0.5
xdotool key --clearmodifiers Down Down Return
sleep 2.5

# Go to Time from the Settings menu (the recordings of a short demo disk may have ended by now:
# with every window idle it opens each channel recording at the moment); the dialog's field
# takes the digits section by section.
click "$(find_widget "menu item" '^Settings$')"
click "$(find_widget "menu item" '^Go to Time')"
sleep 0.5
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 60 "$moment"
xdotool key --clearmodifiers Return
sleep 1
# Space pauses them all (the demo's recordings are short); a click focuses the grid first.
click "$(find_widget filler '^Window 1$')"
xdotool key --clearmodifiers space
sleep 1.2
echo "Windows after going to $shown:"
descriptions=$(scripts/a11y.py describe "$pid" '^Window [0-9]+$')
echo "$descriptions"
# Every busy window shows the moment or up to 3 s after it (they played on for a second).
/usr/bin/python3 - "$shown" "$descriptions" <<'PY' || fail "a window is not at $shown"
import datetime, re, sys
moment = datetime.datetime.strptime(sys.argv[1], "%Y-%m-%d %H:%M:%S")
times = [datetime.datetime.strptime(t, "%Y-%m-%d %H:%M:%S")
         for t in re.findall(r"CH \d+  (\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)", sys.argv[2])]
sys.exit(0 if len(times) >= 4 and all(0 <= (t - moment).total_seconds() <= 3 for t in times) else 1)
PY
echo "Screenshots:"
shoot "$main" demo/timeshot-moment.png
before=$(scripts/a11y.py describe "$pid" '^Window 1$' | cut -f2)

# Drag the slider's thumb from its place to three quarters of the slider.
slider=$(find_widget slider '.' 2>/dev/null || true)
eval "$(xdotool getwindowgeometry --shell "$main")"
read -r sx sy <<<"${slider:-0 $((Y + HEIGHT - 20))}"
xdotool mousemove --sync $((X + 30)) "$sy" mousedown 1
xdotool mousemove --sync $((X + (WIDTH - 255) * 3 / 8)) "$sy"
xdotool mousemove --sync $((X + (WIDTH - 255) * 3 / 8 + 4)) "$sy" mouseup 1
sleep 2.5
after=$(scripts/a11y.py describe "$pid" '^Window 1$' | cut -f2)
echo "Window 1 before the drag: $before"
echo "Window 1 after the drag:  $after"
[ "$before" != "$after" ] || fail "the slider did not move window 1"
shoot "$main" demo/timeshot-slider.png

xdotool windowfocus --sync "$main"
xdotool key --clearmodifiers Escape
timeout 10 tail --pid="$pid" -f /dev/null || kill "$pid"
wait "$pid" 2>/dev/null || true
pid=
