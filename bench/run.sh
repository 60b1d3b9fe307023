#!/usr/bin/env bash
# Runs every library-against-dependency benchmark once and writes one Markdown
# table and one JSON file (out/bench-results/results.{md,json}).
# About 5 minutes on 8 idle cores; the first run also writes the benchmark
# models (~720 MB) and the filled stores (~700 MB), which later runs reuse.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
JOBS="${JOBS:-$(nproc)}"
OUT=out/bench-results
scripts/setup.sh
cmake -S . -B out/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAG_BUILD_TESTS=ON -DRAG_BUILD_BENCH=ON >/dev/null
cmake --build out/release -j "$JOBS" >/dev/null
VOCAB=.deps/llama/share/llama-vocab
out/release/tools/rag-make-models all --vocab-dir "$VOCAB" --out-dir out/release/models >/dev/null
out/release/tools/rag-make-models bench --vocab-dir "$VOCAB" --out-dir out/bench-models >/dev/null
export RAG_TEST_MODELS="$ROOT/out/release/models" RAG_BENCH_MODELS="$ROOT/out/bench-models"
mkdir -p "$OUT"
LOAD_BEFORE="$(cut -d' ' -f1-3 /proc/loadavg)"
run() {
  echo "== $1" >&2
  "out/release/bench/$1" --benchmark_out="$OUT/$1.json" --benchmark_out_format=json "${@:2}"
}
run bench-embedding
run bench-store --benchmark_filter='BM_Init|BM_IndexIntoStore|BM_Search/'
run bench-generation
python3 bench/report.py "$OUT" "$(nproc)" "$LOAD_BEFORE" "$(cut -d' ' -f1-3 /proc/loadavg)"
cat "$OUT/results.md"
