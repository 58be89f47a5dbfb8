#!/usr/bin/env bash
# The viewer's main window playing 4-36 recordings next to the bare grid, in one run.
#
#   scripts/viewer-bench.sh [IMAGE]
#
# Takes the first recording of the demo disk IMAGE (default demo/demo.img, made by
# `krt mkdemo` when absent), runs grid_bench and viewer_bench on it for 4, 9, 16, 25 and 36
# windows one after the other, and prints both tables and the viewer's processor time per
# picture as a multiple of the grid's (goal: 1.05 or less) with the peak resident memory of both
# (goal for the viewer: 600 MiB or less with 36 windows). Build: build/release (VENDREL_BUILD).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${VENDREL_BUILD:-build/release}
image=${1:-demo/demo.img}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target krt_tool grid_bench viewer_bench >/dev/null
krt="$build/bin/krt"
if [ ! -e "$image" ]; then
  mkdir -p "$(dirname "$image")"
  "$krt" mkdemo "$image"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
part=$("$krt" -d "$image" ls /mnt | head -n 1 | cut -f1)
day=$("$krt" -d "$image" ls "/mnt/$part" | head -n 1 | cut -f1)
channel=$("$krt" -d "$image" ls "/mnt/$part/$day" | head -n 1 | cut -f1)
name=$("$krt" -d "$image" ls "/mnt/$part/$day/$channel" | head -n 1 | cut -f1)
"$krt" -d "$image" cat "/mnt/$part/$day/$channel/$name" > "$work/recording"
# The length from the name: HH.MM.SS-HH.MM.SS.
seconds=$(echo "$name" | awk -F'[-.[]' '{ print ($4 - $1) * 3600 + ($5 - $2) * 60 + $6 - $3 }')
echo "recording: /mnt/$part/$day/$channel/$name ($seconds s); load average now: $(cut -d' ' -f1-3 /proc/loadavg)"

filter='/windows:(4|9|16|25|36)/'
"$build/bin/grid_bench" --stream="$work/recording" --seconds="$seconds" \
  --benchmark_filter="BM_Grid$filter" --benchmark_out="$work/grid.json" --benchmark_out_format=json
"$build/bin/viewer_bench" --stream="$work/recording" --seconds="$seconds" \
  --benchmark_filter="BM_Viewer$filter" --benchmark_out="$work/viewer.json" --benchmark_out_format=json

echo "load average after both: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$work/grid.json" "$work/viewer.json" <<'PY'
import json, sys
def runs(path):
    out = {}
    for b in json.load(open(path))["benchmarks"]:
        out[int(b["name"].split(":")[1].split("/")[0])] = b
    return out
grid, viewer = runs(sys.argv[1]), runs(sys.argv[2])
print("\nwindows | grid: late unshown cpu/picture (ms) | viewer: late unshown cpu/picture (ms) "
      "| viewer/grid cpu | peak RSS (MiB): grid viewer")
for n in sorted(viewer):
    g, v = grid.get(n, {}), viewer[n]
    ratio = v["cpu_ms"] / g["cpu_ms"] if g.get("cpu_ms") else float("nan")
    print(f"{n:7d} | {g.get('late', 0):6.0f} {g.get('unshown', 0):7.0f} {g.get('cpu_ms', 0):10.2f}"
          f"         | {v['late']:6.0f} {v['unshown']:7.0f} {v['cpu_ms']:10.2f}"
          f"           | {ratio:15.3f} | {g.get('rss_mb', 0):6.0f} {v['rss_mb']:6.0f}")
PY
