#!/usr/bin/env bash
# Builds everything twice (optimised, and with AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs every test in both builds.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
JOBS="${JOBS:-$(nproc)}"
scripts/setup.sh
for cfg in release asan; do
  opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAG_BUILD_TESTS=ON)
  [ "$cfg" = asan ] && opts=(-DCMAKE_BUILD_TYPE=Debug -DRAG_SANITIZE=ON -DRAG_BUILD_TESTS=ON)
  cmake -S . -B "out/$cfg" -G Ninja "${opts[@]}" -DRAG_BUILD_BENCH=ON >/dev/null
  cmake --build "out/$cfg" -j "$JOBS"
done
for cfg in release asan; do
  echo "== tests ($cfg) =="
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "out/$cfg" -j "$JOBS" --output-on-failure --no-tests=error
done
