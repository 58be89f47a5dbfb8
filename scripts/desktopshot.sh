#!/usr/bin/env bash
# Screenshots of the viewer's desktop habits under Xvfb:
#   demo/desktopshot-empty.png      the tree's help when no recorder disk is found (an image of
#                                   mode 0000 among the candidates, the viewer run as a normal
#                                   user when started as root)
#   demo/desktopshot-open.png       the Open Image dialog (Ctrl+O), the whole screen
#   demo/desktopshot-opened.png     the image's drive in the tree after opening it there
#   demo/desktopshot-fullscreen.png the main window in full screen (F11), the whole screen (with
#                                   openbox as the window manager when it is installed)
#
#   scripts/desktopshot.sh [VENDREL] [WINSHOT] [IMAGE]
#
# VENDREL defaults to build/release/bin/vendrel (an unpacked package's usr/bin/vendrel works
# too), WINSHOT to the winshot beside it or in build/release/bin, IMAGE to demo/demo.img. The
# viewer runs with a private, throw-away XDG_CONFIG_HOME and HOME.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${DESKTOPSHOT_INSIDE:-}" != 1 ]; then
  vendrel=$(realpath "${1:-build/release/bin/vendrel}")
  winshot=${2:-$(dirname "$vendrel")/winshot}
  [ -x "$winshot" ] || winshot=build/release/bin/winshot
  image=$(realpath "${3:-demo/demo.img}")
  mkdir -p demo
  exec xvfb-run -a -s "-screen 0 1280x800x24" env DESKTOPSHOT_INSIDE=1 "$0" "$vendrel" "$(realpath "$winshot")" "$image"
fi

vendrel=$1
winshot=$2
image=$3
home=$(mktemp -d)
chmod 755 "$home"
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid"; wait "$pid" 2>/dev/null || true; fi
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null
  rm -rf "$home"
}
trap cleanup EXIT

# As root the viewer runs as a normal user, so that a disk of mode 0000 is unreadable to it.
as_user=()
[ "$(id -u)" -eq 0 ] && as_user=(scripts/as-normal-user.sh)
mkdir -p "$home/config/vendrel" "$home/images"
cp "$(dirname "$vendrel")/../share/vendrel/Config.ini" "$home/config/vendrel/Config.ini" 2>/dev/null ||
  cp "$(dirname "$vendrel")/Config.ini" "$home/config/vendrel/Config.ini"
cp --sparse=always "$image" "$home/images/recorder.img"
: >"$home/images/locked.img"
chmod 0000 "$home/images/locked.img"
chmod -R a+rwX "$home/config" "$home/images/recorder.img"
chmod a+rwx "$home" "$home/images"
# The X server's cookie, readable by the user the viewer runs as.
if [ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ]; then
  cp "$XAUTHORITY" "$home/Xauthority"
  chmod 644 "$home/Xauthority"
  export XAUTHORITY=$home/Xauthority
fi

source scripts/viewer-x11.sh  # wait_window, press, shoot

# A window manager, when there is one, makes full screen real (bare X has nobody to obey it).
wm=
if command -v openbox >/dev/null; then
  openbox >/dev/null 2>&1 &
  wm=$!
  sleep 1
fi

echo "Screenshots:"
HOME=$home XDG_CONFIG_HOME=$home/config VENDREL_DISKS=$home/images/locked.img \
  "${as_user[@]}" "$vendrel" >"$home/viewer.log" 2>&1 &
pid=$!
login=$(wait_window)
press "$login" Return
# As root the viewer runs under setpriv: its windows belong to that process.
main=$(wait_window "$login")
shoot "$main" demo/desktopshot-empty.png

press "$main" ctrl+o
sleep 1.5
xdotool type --delay 20 "$home/images/recorder.img"
shoot root demo/desktopshot-open.png
xdotool key --clearmodifiers Return
sleep 2
xdotool mousemove --window "$main" 780 40 click 1
for key in Right Down Right Down Right; do press "$main" "$key"; done
shoot "$main" demo/desktopshot-opened.png

press "$main" F11
shoot root demo/desktopshot-fullscreen.png
press "$main" Escape
press "$main" ctrl+q
timeout 10 tail --pid="$pid" -f /dev/null || kill "$pid"
wait "$pid" 2>/dev/null || true
pid=
