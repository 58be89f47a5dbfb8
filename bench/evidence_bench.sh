#!/usr/bin/env bash
# Reading recordings from the forms examiners hand images on, against the raw image, in one run:
#   - `krt cat` of the same recordings from the raw image, a split raw image (three segments)
#     and an E01 set (made with ewfacquire); goals: split raw >= 0.95 and E01 >= 0.8 of raw;
#   - reading them through `krt mount` (cat over the mount point) against `krt cat` from the
#     raw image; goal >= 0.8.
# Each reading runs three times after a warm-up run; the best time counts (the page cache holds
# the images by then, so the formats' own costs are what is compared).
#
# usage: bench/evidence_bench.sh KRT IMAGE [RECORDINGS]
#   KRT         the built tool (a Release build: build/release/bin/krt)
#   IMAGE       a recorder disk image (demo/demo.img)
#   RECORDINGS  how many recordings of the first day to read (default 40)
set -euo pipefail
krt=$(realpath "$1")
image=$(realpath "$2")
count=${3:-40}
work=$(mktemp -d)
mountpoint="$work/mnt"
cleanup() {
  fusermount3 -u "$mountpoint" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The recordings: every channel of the first day of the first partition, up to count of them.
part=$("$krt" -d "$image" ls /mnt | head -1)
day=$("$krt" -d "$image" ls "/mnt/$part" | head -1)
paths=()
for channel in $("$krt" -d "$image" ls "/mnt/$part/$day"); do
  while IFS=$'\t' read -r name _; do
    paths+=("/mnt/$part/$day/$channel/$name")
  done < <("$krt" -d "$image" ls "/mnt/$part/$day/$channel")
done
paths=("${paths[@]:0:$count}")

# A split raw copy in three segments, holes kept.
size=$(stat -c %s "$image")
part_mib=$(( (size / 3 + 1048575) / 1048576 ))
for i in 0 1 2; do
  dd if="$image" of="$work/disk.00$((i + 1))" bs=1M skip=$((i * part_mib)) count=$part_mib \
     conv=sparse status=none
done
# An E01 set.
ewfacquire -u -q -c empty-block -S 1500MiB -t "$work/disk" "$image" >/dev/null

# Best of three runs (after a warm-up) of a command, in seconds.
best() {
  "$@" >/dev/null
  local best_time=
  for _ in 1 2 3; do
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null
    t1=$(date +%s.%N)
    best_time=$(awk -v a="$t0" -v z="$t1" -v b="$best_time" 'BEGIN { t = z - a; print (b == "" || t < b) ? t : b }')
  done
  echo "$best_time"
}

raw=$(best "$krt" -d "$image" cat "${paths[@]}")
split=$(best "$krt" -d "$work/disk.001" cat "${paths[@]}")
e01=$(best "$krt" -d "$work/disk.E01" cat "${paths[@]}")
bytes=$("$krt" -d "$image" cat "${paths[@]}" | wc -c)

mkdir -p "$mountpoint"
fuse="not run"
if "$krt" -d "$image" mount "$mountpoint" --background 2>"$work/mount.err"; then
  files=()
  for p in "${paths[@]}"; do files+=("$mountpoint/${p#/mnt/}"); done
  fuse=$(best cat "${files[@]}")
  fusermount3 -u "$mountpoint"
else
  echo "FUSE mount not possible here: $(cat "$work/mount.err")"
fi

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "${#paths[@]} recordings, $bytes bytes"
printf '%-28s %8s s\n' "raw image (krt cat)" "$raw"
printf '%-28s %8s s   %s of raw (goal 0.95)\n' "split raw, 3 segments" "$split" "$(ratio "$raw" "$split")"
printf '%-28s %8s s   %s of raw (goal 0.80)\n' "E01 set" "$e01" "$(ratio "$raw" "$e01")"
if [ "$fuse" != "not run" ]; then
  printf '%-28s %8s s   %s of krt cat (goal 0.80)\n' "krt mount, cat" "$fuse" "$(ratio "$raw" "$fuse")"
fi
