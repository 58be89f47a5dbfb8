#!/usr/bin/env bash
# Screenshots of a four-window grid playing four recordings of the demo disk, under Xvfb.
#
#   scripts/gridshot.sh [IMAGE] [OUT-PREFIX]
#
# IMAGE defaults to the demo disk demo/demo.img, made by `krt mkdemo` when absent (as ./run does).
# The four recordings are the first recording of each of the first four channels of the first
# day that has four channels. One second after the players start, two shots one second apart
# are written to OUT-PREFIX-1.png and OUT-PREFIX-2.png (default demo/gridshot); the exact
# gridshot command is printed first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${VENDREL_BUILD:-build/release}
image=${1:-demo/demo.img}
out=${2:-demo/gridshot}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target krt_tool gridshot >/dev/null
krt="$build/bin/krt"

if [ ! -e "$image" ]; then
  mkdir -p "$(dirname "$image")"
  "$krt" mkdemo "$image"
fi

paths=()
for part in $("$krt" -d "$image" ls /mnt | cut -f1); do
  for day in $("$krt" -d "$image" ls "/mnt/$part" | cut -f1); do
    mapfile -t channels < <("$krt" -d "$image" ls "/mnt/$part/$day" | cut -f1 | head -n 4)
    [ "${#channels[@]}" -eq 4 ] || continue
    for ch in "${channels[@]}"; do
      name=$("$krt" -d "$image" ls "/mnt/$part/$day/$ch" | head -n 1 | cut -f1)
      paths+=("/mnt/$part/$day/$ch/$name")
    done
    break 2
  done
done
if [ "${#paths[@]}" -ne 4 ]; then
  echo "gridshot.sh: no day with four channels on $image" >&2
  exit 1
fi
# Recordings without video (an image laid out with the image builder's pattern) show nothing;
# clips shorter than the shots' timing stand still in them.
pictures=$("$krt" -d "$image" frames "${paths[0]}" 2>/dev/null | grep -vc '^#' || true)
if [ "$pictures" -eq 0 ]; then
  echo "gridshot.sh: the recordings of $image hold no video (make the image with krt mkdemo)" >&2
  exit 1
elif [ "$pictures" -lt 75 ]; then
  echo "gridshot.sh: warning: ${paths[0]} has only $pictures pictures; they may stand still in the shots" >&2
fi

command=(xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/gridshot" -d "$image" --out "$out"
         --wait 1 --shots 2 --interval 1000 --size 1024x768 "${paths[@]}")
printf '%q ' "${command[@]}"
echo
"${command[@]}"
