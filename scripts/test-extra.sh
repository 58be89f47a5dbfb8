#!/usr/bin/env bash
# Second, small build run by ./test: the runtime support library's tests under
# ThreadSanitizer, so a data race in threads, timers or queues fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVENDREL_TSAN=ON \
      -DVENDREL_GUI=OFF -DVENDREL_BENCH=OFF >/dev/null
cmake --build build/tsan -j "$jobs" --target infra_tests
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
ctest --test-dir build/tsan --output-on-failure --no-tests=error -j "$jobs" -R '^infra\.'
