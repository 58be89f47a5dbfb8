#!/usr/bin/env bash
# What `krt` asks of the disk for the everyday steps of an examination, priced on the disk
# models by bench/io_model: each step is one `krt` run with --io-trace (every run brings the
# disk up first, calendar included, as the viewer does).
#   startup   `krt calendar`                       start-up and the record calendar
#   ls-day    `krt ls` of each channel folder of the first day, in one run per folder
#             (counted together)
#   open-1mib `krt cat` of the day's first recording, its first 1 MiB
#   export    `krt export` of the first day
# With --readahead=off every sector of the sector cache is read alone (KRT_READAHEAD=off).
#
# usage: bench/io_traces.sh KRT IO_MODEL IMAGE [--readahead=off]
set -euo pipefail
krt=$(realpath "$1")
io_model=$(realpath "$2")
image=$(realpath "$3")
if [ "${4:-}" = "--readahead=off" ]; then export KRT_READAHEAD=off; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
run() { "$krt" --io-trace "$work/$1.trace" -d "$image" "${@:2}"; }

part=$("$krt" -d "$image" ls /mnt | head -1)
day=$("$krt" -d "$image" ls "/mnt/$part" | head -1)
run startup calendar >/dev/null
: >"$work/ls-day.trace"
for channel in $("$krt" -d "$image" ls "/mnt/$part/$day"); do
  run one ls "/mnt/$part/$day/$channel" >/dev/null
  cat "$work/one.trace" >>"$work/ls-day.trace"
done
first=$("$krt" -d "$image" ls "/mnt/$part/$day/001" | head -1 | cut -f1)
run open-1mib cat "/mnt/$part/$day/001/$first" | head -c 1048576 >/dev/null || true
run export export "/mnt/$part/$day" "$work/out" >/dev/null
cd "$work" && "$io_model" startup.trace ls-day.trace open-1mib.trace export.trace
