#!/usr/bin/env bash
# Screenshots of the viewer under Xvfb: the login dialog in English and in German, and the
# main window after logging in as the shipped account (admin, empty password), and the main
# window again with its record tree expanded down to the recordings of the disk's first channel.
#
#   scripts/viewershot.sh [BUILD-FOLDER] [IMAGE]
#
# BUILD-FOLDER defaults to build/release (configured and built here when needed), IMAGE to the
# demo disk demo/demo.img. The viewer runs with a private, throw-away XDG_CONFIG_HOME, so the
# user's own Config.ini is never touched. Writes demo/viewershot-login-en.png,
# demo/viewershot-login-de.png, demo/viewershot-main.png and demo/viewershot-tree.png and
# prints where they are.
#
# The skin: demo/viewershot-login-hover.png (the mouse over the login dialog's close button),
# demo/viewershot-main-inactive.png (the whole screen: the main window inactive behind another
# window), and demo/viewershot-login-noskin.png and demo/viewershot-main-noskin.png (the same
# windows with the resources' Skin/ folder taken away: the normal frame, which under Xvfb,
# without a window manager, is no frame at all).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${VIEWERSHOT_INSIDE:-}" != 1 ]; then
  build=${1:-build/release}
  image=${2:-demo/demo.img}
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  cmake --build "$build" --target vendrel winshot vendrel_resources >/dev/null
  mkdir -p demo
  command=(xvfb-run -a -s "-screen 0 1280x1024x24" env VIEWERSHOT_INSIDE=1 "$0" "$build" "$image")
  printf '%q ' "${command[@]}"
  echo
  exec "${command[@]}"
fi

build=$1
image=$2
vendrel="$build/bin/vendrel"
winshot="$build/bin/winshot"
config=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid"; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$config"
}
trap cleanup EXIT

# Starts the viewer with a fresh private Config.ini whose language is $1 (empty: English).
start_viewer() {
  rm -rf "$config/vendrel"
  mkdir -p "$config/vendrel"
  sed "s/^Solution=.*/Solution=$1/" "$build/bin/Config.ini" >"$config/vendrel/Config.ini"
  XDG_CONFIG_HOME=$config "$vendrel" "$image" >/dev/null 2>&1 &
  pid=$!
}

source scripts/viewer-x11.sh  # wait_window, press, shoot

echo "Screenshots:"
start_viewer ""
login=$(wait_window)
shoot "$login" demo/viewershot-login-en.png
press "$login" Return  # the user name is filled in; the password is empty
main=$(wait_window "$login")
shoot "$main" demo/viewershot-main.png
# The tree: a click on the first drive root (the right-hand area's top row), then Right expands
# and Down steps to the first child, for the drive, its first partition, day and channel.
xdotool mousemove --window "$main" 780 40 click 1
for key in Right Down Right Down Right Down Right Down; do
  press "$main" "$key"
done
shoot "$main" demo/viewershot-tree.png
press "$main" ctrl+q
timeout 10 tail --pid="$pid" -f /dev/null || kill "$pid"
wait "$pid" 2>/dev/null || true

start_viewer Deutsch
login=$(wait_window)
shoot "$login" demo/viewershot-login-de.png
press "$login" Escape  # a cancelled login ends the program
timeout 10 tail --pid="$pid" -f /dev/null || kill "$pid"
wait "$pid" 2>/dev/null || true
pid=

# Ends the viewer: Ctrl+Q (Exit) in window $1, then waits for the process.
end_viewer() {
  press "$1" ctrl+q
  timeout 10 tail --pid="$pid" -f /dev/null || kill "$pid"
  wait "$pid" 2>/dev/null || true
  pid=
}

# The skin's caption buttons: the mouse over the close button of the login dialog (the default
# skin puts it 35 pixels left of the right edge, 28 x 22 at row 4).
start_viewer ""
login=$(wait_window)
eval "$(xdotool getwindowgeometry --shell "$login")"
xdotool mousemove --sync $((X + WIDTH - 21)) $((Y + 15))
shoot "$login" demo/viewershot-login-hover.png
xdotool mousemove --sync 1200 1000
press "$login" Return
main=$(wait_window "$login")
# Another window over the main window takes the keyboard: the skin draws the inactive frame.
xmessage -geometry 420x90+420+140 "Another window, active, over the viewer" &
other=$!
for _ in $(seq 100); do
  other_window=$(xdotool search --onlyvisible --class xmessage 2>/dev/null | head -n 1 || true)
  [ -n "$other_window" ] && break
  sleep 0.1
done
xdotool windowfocus --sync "$other_window"
sleep 1
"$winshot" root demo/viewershot-main-inactive.png
echo "  demo/viewershot-main-inactive.png"
kill "$other"; wait "$other" 2>/dev/null || true
end_viewer "$main"

# The same windows without the skin: resources without their Skin/ folder.
noskin=$(mktemp -d)
cp -r "$build/bin/Language" "$build/bin/Config.ini" "$noskin/"
[ -d "$build/bin/icons" ] && cp -r "$build/bin/icons" "$noskin/"
export VENDREL_RESOURCES=$noskin
start_viewer ""
login=$(wait_window)
shoot "$login" demo/viewershot-login-noskin.png
press "$login" Return
main=$(wait_window "$login")
shoot "$main" demo/viewershot-main-noskin.png
end_viewer "$main"
unset VENDREL_RESOURCES
rm -rf "$noskin"
