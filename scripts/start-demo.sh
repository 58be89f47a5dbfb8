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
# Until the viewer exists, show the demo disk's recordings as the krt tool lists them: the
# partitions, the days of one, the channels of one day and the recordings of one channel.
krt=("$build/bin/krt" -d demo/demo.img)
"${krt[@]}" disks
for folder in /mnt /mnt/idea0 /mnt/idea0/2010-03-05; do
  echo "== krt ls $folder"
  "${krt[@]}" ls "$folder"
done
echo "== krt ls /mnt/idea0/2010-03-05/002"
exec "${krt[@]}" ls /mnt/idea0/2010-03-05/002
