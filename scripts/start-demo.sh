#!/usr/bin/env bash
# Starts the viewer on the demo disk. $1 is the build folder.
# Makes the demo disk image demo/demo.img first when it is absent.
set -euo pipefail
build=$1; shift
cd "$(dirname "$0")/.."
if [ ! -e demo/demo.img ]; then
  mkdir -p demo
  # With pictures when the tool has `mkdemo` (FFmpeg found), else the same layout with the
  # image builder's pattern in place of the pictures.
  if "$build/bin/krt" mkdemo --help >/dev/null 2>&1; then
    "$build/bin/krt" mkdemo demo/demo.img
  else
    "$build/bin/krt-mkimage" demo/demo.img
  fi
fi
# With a display the viewer starts on the demo disk; without one, screenshots taken under Xvfb
# show what it looks like.
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$build/bin/vendrel" demo/demo.img "$@"
fi
echo "No display (DISPLAY and WAYLAND_DISPLAY are not set): taking screenshots of the viewer under Xvfb instead."
scripts/viewershot.sh "$build" demo/demo.img
# Then the viewer playing: four channels by double clicks in the tree, the context menu, and a
# synchronous playback of one moment.
exec scripts/playshot.sh "$build" demo/demo.img
