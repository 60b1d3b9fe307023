#!/usr/bin/env bash
# Builds everything twice (optimised, and with AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs every test in both builds; builds the
# tests that run threads with ThreadSanitizer and runs them; then, unless
# RAG_WINDOWS=OFF, cross-builds rag.dll and the tests for Windows x64 and runs
# them under Wine.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
JOBS="${JOBS:-$(nproc)}"
WINDOWS="${RAG_WINDOWS:-ON}"
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

[ "$WINDOWS" = ON ] || exit 0
cmake -S . -B out/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DRAG_BUILD_TESTS=ON >/dev/null
cmake --build out/win -j "$JOBS"
echo "== tests (windows, under wine) =="
# The build's Wine prefix, with one server and its services for all test
# processes, stopped at exit. Services started by a test would inherit its
# output pipe and keep CTest waiting, so they start here, detached.
export WINEPREFIX="$ROOT/out/win/wine" WINEDEBUG=-all
wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver64
"$wine" wineboot --init >/dev/null 2>&1 </dev/null
"$wineserver" -k || true  # also a server left over from an earlier run
"$wineserver" -w
"$wineserver" -p
trap '"$wineserver" -k || true' EXIT
"$wine" wineboot >/dev/null 2>&1 </dev/null
ctest --test-dir out/win -j "$JOBS" --output-on-failure --no-tests=error
