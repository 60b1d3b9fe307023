#!/usr/bin/env bash
# Builds everything twice (optimised, and with AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs every test in both builds; then builds
# the tests that run threads with ThreadSanitizer and runs them.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
JOBS="${JOBS:-$(nproc)}"
scripts/setup.sh
for cfg in release asan tsan; do
  case "$cfg" in
    release) opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAG_BUILD_BENCH=ON) ;;
    asan) opts=(-DCMAKE_BUILD_TYPE=Debug -DRAG_SANITIZE=ON -DRAG_BUILD_BENCH=ON) ;;
    tsan) opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAG_TSAN=ON -DRAG_BUILD_BENCH=OFF) ;;
  esac
  cmake -S . -B "out/$cfg" -G Ninja -DRAG_BUILD_TESTS=ON "${opts[@]}" >/dev/null
  cmake --build "out/$cfg" -j "$JOBS"
done
for cfg in release asan tsan; do
  echo "== tests ($cfg) =="
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    TSAN_OPTIONS="halt_on_error=1:suppressions=$ROOT/tests/tsan.supp" \
    ctest --test-dir "out/$cfg" -j "$JOBS" --output-on-failure --no-tests=error
done
