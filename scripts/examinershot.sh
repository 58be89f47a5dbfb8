#!/usr/bin/env bash
# Screenshots of what an examiner meets, under Xvfb: the copy dialog's summary and failure, the
# login's message, a window whose recording ended (and one whose recording held no picture),
# the record tree with a recording whose bytes all read as zero and a refused partition, the
# windows after Close All Windows, the target-folder dialog -- in English and in German.
#
#   scripts/examinershot.sh [BUILD-FOLDER]
#
# BUILD-FOLDER defaults to build/release. Writes demo/examiner-*.png and prints where they are.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake --build "$build" --target vendrel_examiner_shots >/dev/null
mkdir -p demo/examiner
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
VENDREL_RESOURCES=$PWD/app/resources/ XDG_CONFIG_HOME=$config QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/bin/vendrel_examiner_shots" demo/examiner "$PWD/app/resources/"
