#!/usr/bin/env bash
# Draws the default skin (app/resources/Skin/) and the plain test skin
# (app/skinwin/tests/data/plain/) with the skinart tool; run it after changing the tool.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VENDREL_BUILD:-build/release}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target skinart >/dev/null
mkdir -p app/resources/Skin app/skinwin/tests/data/plain
"$build/bin/skinart" default app/resources/Skin
"$build/bin/skinart" plain app/skinwin/tests/data/plain
echo "skin pictures written to app/resources/Skin and app/skinwin/tests/data/plain"
