#!/usr/bin/env bash
# Further builds run by ./test:
#  - ThreadSanitizer: the runtime support library's tests, and the file layer and the "/mnt"
#    adapter with busy threads during start-up reruns, so a data race fails the run; then the
#    engine's tests and many players on the real engine driven from several threads;
#  - libFuzzer (clang): each fuzzing target over its corpus for a fixed number of runs;
#  - the Debian package, built, checked by lintian and run from a temporary root;
#  - a plain optimised build (no sanitizer) of the engine's and the viewer core's tests, run with
#    glibc's heap checks: the sanitizers do not see writes made by FFmpeg's own (uninstrumented)
#    code, and their red zones swallow a few bytes written past a buffer, which glibc's checks of
#    the heap's bookkeeping do catch.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVENDREL_TSAN=ON \
      -DVENDREL_GUI=ON -DVENDREL_BENCH=OFF >/dev/null
cmake --build build/tsan -j "$jobs" --target infra_tests krt_tests
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
ctest --test-dir build/tsan --output-on-failure --no-tests=error -j "$jobs" -R '^(infra\.|LibraryRaces\.)'

# The engine's tests and the players' thread tests in the same build (only these targets of the
# Qt and FFmpeg parts), the two programs side by side. FFmpeg, Qt and glib are not instrumented:
# the suppressions file names what the sanitizer cannot judge inside them.
cmake --build build/tsan -j "$jobs" --target tarnvox_tests vendrel_thread_tests
tsan_gui="$TSAN_OPTIONS suppressions=$PWD/scripts/tsan-ffmpeg.supp"
TSAN_OPTIONS="$tsan_gui" QT_QPA_PLATFORM=offscreen build/tsan/bin/tarnvox_tests --gtest_brief=1 &
engine_run=$!
TSAN_OPTIONS="$tsan_gui" QT_QPA_PLATFORM=offscreen build/tsan/bin/vendrel_thread_tests \
  --gtest_brief=1 || { kill "$engine_run"; exit 1; }
wait "$engine_run"

# The fuzzing targets, briefly: the seeds and whatever corpus earlier runs left, then a fixed
# number of mutations (a stream run starts and ends an engine port, so it gets fewer).
for run in mount:200 path:2000 stream:30; do
  FUZZ_JOBS=$jobs scripts/fuzz.sh "${run%%:*}" -runs="${run##*:}"
done

cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVENDREL_BENCH=OFF >/dev/null
plain_tests=(tarnvox_tests lumenpane_tests vendrel_tests vendrel_grid_tests)
cmake --build build/plain -j "$jobs" --target "${plain_tests[@]}"
for t in "${plain_tests[@]}"; do
  GLIBC_TUNABLES=glibc.malloc.check=3:glibc.malloc.perturb=165 QT_QPA_PLATFORM=offscreen \
    "build/plain/bin/$t" --gtest_brief=1
done

# The Debian package: built, checked by lintian, unpacked and both programs run from it.
if command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null; then
  scripts/package-deb.sh --check
fi
