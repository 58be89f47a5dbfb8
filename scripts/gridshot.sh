#!/usr/bin/env bash
# Screenshots of a four-window grid playing four recordings of the demo disk, under Xvfb.
#
#   scripts/gridshot.sh [IMAGE] [OUT-PREFIX]
#
# IMAGE defaults to demo/demo.img; when it is absent it is made (`krt mkdemo` where the tool has
# that command, else krt-mkimage with a recording made by ffmpeg). The four recordings are the
# first recording of each of the first four channels of the first day that has four channels.
# After three seconds of playing, two shots one second apart are written to OUT-PREFIX-1.png and
# OUT-PREFIX-2.png (default demo/gridshot); the exact gridshot command is printed first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${VENDREL_BUILD:-build/release}
image=${1:-demo/demo.img}
out=${2:-demo/gridshot}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target krt_tool krt-mkimage gridshot >/dev/null
krt="$build/bin/krt"

if [ ! -e "$image" ]; then
  mkdir -p "$(dirname "$image")"
  if "$krt" mkdemo --help >/dev/null 2>&1; then
    "$krt" mkdemo "$image"
  else
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=704x576:rate=25 \
      -f lavfi -i sine=sample_rate=32000 -t 60 -c:v libx264 -preset veryfast -b:v 2M -bf 2 \
      -g 50 -pix_fmt yuv420p -c:a mp2 -f mpeg "$tmp/recording.mpg"
    "$build/bin/krt-mkimage" --stream "$tmp/recording.mpg" "$image"
  fi
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
# A disk whose recordings hold the image builder's pattern instead of video would show nothing.
kind=$( ("$krt" -d "$image" cat "${paths[0]}" 2>/dev/null || true) | head -c 2000000 |
        (ffprobe -v error -show_entries stream=codec_type -of csv=p=0 - 2>/dev/null || true))
if ! grep -q video <<<"$kind"; then
  echo "gridshot.sh: the recordings of $image hold no video (make the image with krt mkdemo)" >&2
  exit 1
fi

command=(xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/gridshot" -d "$image" --out "$out"
         --wait 3 --shots 2 --interval 1000 --size 1024x768 "${paths[@]}")
printf '%q ' "${command[@]}"
echo
"${command[@]}"
