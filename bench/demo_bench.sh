#!/usr/bin/env bash
# Times what a new user waits for, against the goals of the first start:
#   - the build step of ./run from nothing: a fresh clone of the committed HEAD into a
#     temporary folder, an empty build folder, no compiler cache (CCACHE_DISABLE=1) -- goal:
#     with the packages, from nothing to the viewer in 6 minutes;
#   - the same step again, with nothing to build (./run once built: 15 s to the viewer);
#   - `krt mkdemo` making the demo disk with one encoder and with one per processor (90 s).
# Prints wall, user and system seconds and the load average before each step: the machine's
# other work shows in the wall times.
#
#   bench/demo_bench.sh [--no-build] [KRT]
# --no-build skips the clone and build and times the krt of KRT (default build/release/bin/krt).
set -euo pipefail
cd "$(dirname "$0")/.."
no_build=0
if [ "${1:-}" = --no-build ]; then no_build=1; shift; fi
krt=${1:-build/release/bin/krt}
work=$(mktemp -d /tmp/demo-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# step NAME COMMAND...: runs the command and prints its times.
step() {
  local name=$1; shift
  local load; load=$(cut -d' ' -f1-3 /proc/loadavg)
  local TIMEFORMAT='%R %U %S' t
  if ! t=$( { time "$@" >"$work/out.log" 2>"$work/err.log"; } 2>&1 ); then
    echo "$name: failed" >&2; tail -n 20 "$work/err.log" >&2; exit 1
  fi
  read -r wall user sys <<<"$t"
  printf '%-34s wall %7.1f s  user %7.1f s  sys %6.1f s  (load before: %s)\n' "$name" "$wall" "$user" "$sys" "$load"
}

if [ "$no_build" = 0 ]; then
  git clone -q --no-hardlinks . "$work/src"
  targets=(vendrel vendrel_resources krt_tool krt-mkimage winshot)
  export CCACHE_DISABLE=1
  step "configure (cmake)" cmake -S "$work/src" -B "$work/src/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release
  step "./run's build step, cold" cmake --build "$work/src/build/release" -j "$(nproc)" --target "${targets[@]}"
  step "./run's build step, built" cmake --build "$work/src/build/release" -j "$(nproc)" --target "${targets[@]}"
  step "packages checked (setup.sh)" scripts/setup.sh
  krt=$work/src/build/release/bin/krt
fi
step "krt mkdemo, 1 encoder" "$krt" mkdemo --workers 1 "$work/demo1.img"
step "krt mkdemo, one per processor" "$krt" mkdemo "$work/demo.img"
cat "$work/out.log"
du -h --apparent-size "$work/demo.img" | sed 's/^/apparent size: /'
du -h "$work/demo.img" | sed 's/^/on disk: /'
