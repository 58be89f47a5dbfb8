#!/usr/bin/env bash
# Starts the newest user-facing program on the demo disk. $1 is the build folder.
# Makes the demo disk image demo/demo.img first when it is absent.
set -euo pipefail
build=$1; shift
cd "$(dirname "$0")/.."
if [ ! -e demo/demo.img ]; then
  mkdir -p demo
  "$build/bin/krt-mkimage" demo/demo.img
fi
# Until the viewer exists, show what the library reads back from the demo disk.
"$build/bin/krt" -d demo/demo.img disks
exec "$build/bin/krt" -d demo/demo.img partitions
