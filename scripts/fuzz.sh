#!/usr/bin/env bash
# Runs one libFuzzer target for a while, over its corpus, with ASan and UBSan.
#
#   scripts/fuzz.sh TARGET SECONDS      TARGET: mount, path or stream
#   scripts/fuzz.sh TARGET -runs=N      a fixed number of runs instead (./test does this)
#
# Builds the targets with clang in build/fuzz (optimised; the cache and handle-table rules are
# checked after each step of a run rather than after every change), writes the seeds (image builder, demo clips) to
# build/fuzz/seeds, keeps what the fuzzer finds in build/fuzz/corpus/TARGET and crashes in
# build/fuzz/findings; inputs that once found a fault (fuzz/regressions/TARGET) run every time.
# Any further arguments go to libFuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 2 ]; then
  echo "usage: scripts/fuzz.sh TARGET SECONDS|-runs=N [LIBFUZZER-FLAGS...]" >&2
  exit 2
fi
target=$1 budget=$2
shift 2
case "$target" in mount|path|stream) ;; *) echo "fuzz.sh: no target '$target' (mount, path, stream)" >&2; exit 2;; esac
build=build/fuzz
CC=clang-16 CXX=clang++-16 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVENDREL_SANITIZE=ON \
  -DVENDREL_BENCH=OFF >/dev/null
cmake --build "$build" -j "${FUZZ_JOBS:-2}" --target fuzz_targets
mkdir -p "$build/corpus/$target" "$build/findings"
[ -d "$build/seeds/$target" ] || "$build/bin/fuzz_seeds" "$build/seeds"
if [ "$target" = stream ] && command -v ffmpeg >/dev/null && [ ! -e "$build/seeds/stream/small.ts" ]; then
  # Small transport-stream and motion-JPEG clips beside the demo's own.
  ffmpeg -loglevel error -f lavfi -i testsrc=size=64x48:rate=5 -frames:v 3 -c:v libx264 -f mpegts \
    "$build/seeds/stream/small.ts" || true
  ffmpeg -loglevel error -f lavfi -i testsrc=size=64x48:rate=5 -frames:v 2 -c:v mjpeg -f mjpeg \
    "$build/seeds/stream/small.mjpeg" || true
fi
if [[ "$budget" == -runs=* ]]; then limit=("$budget"); else limit=(-max_total_time="$budget"); fi
max_len=65536
[ "$target" = path ] && max_len=256
# Inputs that once found a fault run every time (kept in the repository, never written to).
regressions=()
[ -d "fuzz/regressions/$target" ] && regressions=("fuzz/regressions/$target")
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
exec "$build/bin/${target}_fuzz" "${limit[@]}" -timeout=20 -max_len=$max_len -dict="fuzz/$target.dict" \
  -artifact_prefix="$build/findings/$target-" -print_final_stats=1 "$@" \
  "$build/corpus/$target" "$build/seeds/$target" ${regressions[@]+"${regressions[@]}"}
