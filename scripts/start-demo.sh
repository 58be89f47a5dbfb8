#!/usr/bin/env bash
# Starts the newest user-facing program on the demo disk. $1 is the build folder.
# Makes the demo disk image demo/demo.img first when it is absent.
set -euo pipefail
build=$1; shift
cd "$(dirname "$0")/.."
if [ ! -e demo/demo.img ]; then
  mkdir -p demo
  # Recorded through the library's own writer when the tool has `mkdemo` (FFmpeg found),
  # else laid out by the image builder.
  if "$build/bin/krt" mkdemo --help >/dev/null 2>&1; then
    "$build/bin/krt" mkdemo demo/demo.img
  else
    "$build/bin/krt-mkimage" demo/demo.img
  fi
fi
# Until the viewer exists, show the demo disk's recordings as the krt tool lists them: the
# partitions, the days of one, the channels of one day and the recordings of one channel.
krt=("$build/bin/krt" -d demo/demo.img)
"${krt[@]}" disks
day=$("${krt[@]}" ls /mnt/idea0 | sed -n 1p)
channel=$("${krt[@]}" ls "/mnt/idea0/$day" | tail -n 1)
for folder in /mnt /mnt/idea0 "/mnt/idea0/$day"; do
  echo "== krt ls $folder"
  "${krt[@]}" ls "$folder"
done
echo "== krt ls /mnt/idea0/$day/$channel"
exec "${krt[@]}" ls "/mnt/idea0/$day/$channel"
