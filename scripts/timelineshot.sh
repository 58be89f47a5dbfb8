#!/usr/bin/env bash
# Screenshots of the timeline panel under Xvfb, on the demo disk: the day selected in the tree
# at whole-day zoom, the same day zoomed in around a moment with the wheel, two shots a second
# apart while a recording plays (the cursor moves), and the tooltip over a span.
#
#   scripts/timelineshot.sh [BUILD-FOLDER] [IMAGE]
#
# BUILD-FOLDER defaults to build/release, IMAGE to demo/demo.img. The viewer runs with a
# private Config.ini that has the timeline on. Writes demo/timeline-day.png,
# demo/timeline-zoom.png, demo/timeline-play-1.png, demo/timeline-play-2.png and
# demo/timeline-tooltip.png and prints where they are.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${TIMELINESHOT_INSIDE:-}" != 1 ]; then
  build=${1:-build/release}
  image=${2:-demo/demo.img}
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  cmake --build "$build" --target vendrel winshot vendrel_resources >/dev/null
  mkdir -p demo
  exec xvfb-run -a -s "-screen 0 1280x1024x24" env TIMELINESHOT_INSIDE=1 "$0" "$build" "$image"
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

mkdir -p "$config/vendrel"
cp "$build/bin/Config.ini" "$config/vendrel/Config.ini"
printf '\n[view]\nTimeline=1\n' >>"$config/vendrel/Config.ini"
XDG_CONFIG_HOME=$config "$build/bin/vendrel" "$image" >/dev/null 2>&1 &
pid=$!

wait_window() {
  local id
  for _ in $(seq 300); do
    id=$(xdotool search --onlyvisible --pid "$pid" --name . 2>/dev/null | grep -vx "${1:-none}" | head -n 1 || true)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.1
  done
  echo "timelineshot.sh: no window of the viewer appeared" >&2
  return 1
}
press() {
  xdotool windowfocus --sync "$1"
  xdotool key --clearmodifiers "$2"
}
shoot() {
  sleep "${3:-1}"
  "$build/bin/winshot" "$1" "$2"
  echo "  $2"
}

echo "Screenshots:"
login=$(wait_window)
press "$login" Return
main=$(wait_window "$login")
xdotool windowsize --sync "$main" 1200 800
sleep 1
eval "$(xdotool getwindowgeometry --shell "$main")"
# The default skin's frame: 5 pixels left, right and below.
LEFT_FRAME=${LEFT_FRAME:-5} RIGHT_FRAME=${RIGHT_FRAME:-5} BOTTOM_FRAME=${BOTTOM_FRAME:-5}
# The tree: the first drive, its first partition, its first day (selected: the panel shows it).
xdotool mousemove --window "$main" $((WIDTH - 200)) 40 click 1
for key in Right Down Right Down Right Down; do press "$main" "$key"; done
shoot "$main" demo/timeline-day.png
# A click on the first channel's row at 09:15 plays that channel there.
# The panel sits right above the bar (35 pixels) and the skin's bottom frame; its first row is
# 20 pixels below its top, its track starts 56 pixels into it.
panel_rows=${PANEL_ROWS:-6}  # the demo disk's day has six cameras
panel_top=$((HEIGHT - BOTTOM_FRAME - 35 - (20 + 14 * panel_rows + 20)))
row_y=$((panel_top + 20 + 7))
track_w=$((WIDTH - 255 - LEFT_FRAME - RIGHT_FRAME - 56))
xdotool mousemove --window "$main" $((LEFT_FRAME + 56 + track_w * 37 / 96)) "$row_y" click 1
shoot "$main" demo/timeline-play-1.png 2
shoot "$main" demo/timeline-play-2.png 1
# Zoom in around the cursor with the wheel, then hover a span for its tooltip.
for _ in 1 2 3 4 5 6 7 8 9 10; do xdotool click 4; done
shoot "$main" demo/timeline-zoom.png
xdotool mousemove_relative 1 0
shoot "$main" demo/timeline-tooltip.png 2
