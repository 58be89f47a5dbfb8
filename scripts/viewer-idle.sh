#!/usr/bin/env bash
# What the viewer costs while it sits idle: logged in, nothing playing.
#
#   scripts/viewer-idle.sh [VIEWER] [SECONDS] [IMAGE...]
#
# Starts VIEWER (default build/release/bin/vendrel) under Xvfb with a private, throw-away
# XDG_CONFIG_HOME on the IMAGEs (none by default), logs in as the shipped account, lets it settle
# for 10 s and then watches it for SECONDS (default 60): the processor time of all its threads
# and how often they were put on a processor (the run counts of /proc/PID/task/*/schedstat, one
# per wake-up), printed as per cent of one processor and wake-ups per second, with the load
# average. Goals: 1 % or less and 5 wake-ups a second or fewer.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${VIEWERIDLE_INSIDE:-}" != 1 ]; then
  viewer=${1:-build/release/bin/vendrel}
  seconds=${2:-60}
  shift $(( $# < 2 ? $# : 2 ))
  exec xvfb-run -a -s "-screen 0 1280x1024x24" env VIEWERIDLE_INSIDE=1 "$0" "$viewer" "$seconds" "$@"
fi

viewer=$1
seconds=$2
shift 2
config=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid"; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$config"
}
trap cleanup EXIT

mkdir -p "$config/vendrel"
cp "$(dirname "$viewer")/Config.ini" "$config/vendrel/Config.ini"
XDG_CONFIG_HOME=$config "$viewer" "$@" >/dev/null 2>&1 &
pid=$!

# The first visible window of the viewer other than $1; waits at most 30 s.
wait_window() {
  local id
  for _ in $(seq 300); do
    id=$(xdotool search --onlyvisible --pid "$pid" --name . 2>/dev/null | grep -vx "${1:-none}" | head -n 1 || true)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.1
  done
  echo "viewer-idle.sh: no window of the viewer appeared" >&2
  return 1
}

login=$(wait_window)
xdotool windowfocus --sync "$login"
xdotool key --clearmodifiers Return  # the user name is filled in; the password is empty
wait_window "$login" >/dev/null
sleep 10  # the start-up's threads come and go

# Per thread: "TID NANOSECONDS RUNS" from its schedstat.
sample() {
  for t in /proc/"$pid"/task/*; do
    read -r ns _ runs < "$t/schedstat" 2>/dev/null && echo "${t##*/} $ns $runs"
  done
}
# Processor time of the whole process (threads that ended included), in clock ticks.
ticks() { awk '{ print $14 + $15 }' /proc/"$pid"/stat; }
sample > "$config/before"
ticks0=$(ticks)
sleep "$seconds"
sample > "$config/after"
ticks1=$(ticks)
# Wake-ups: run counts of the threads alive at both samples (a thread that ends takes its own).
runs=$(awk 'NR == FNR { r[$1] = $3; next } ($1 in r) { d += $3 - r[$1] } END { print d + 0 }' \
           "$config/before" "$config/after")
awk -v ticks=$((ticks1 - ticks0)) -v hz="$(getconf CLK_TCK)" -v runs="$runs" -v s="$seconds" \
    -v threads="$(wc -l < "$config/after")" -v load="$(cut -d' ' -f1-3 /proc/loadavg)" 'BEGIN {
  printf "idle %d s: %.2f %% of one processor, %.1f wake-ups/s (%d threads); load average %s\n",
         s, ticks / hz / s * 100, runs / s, threads, load }'
