#!/usr/bin/env bash
# The main job: builds the library, generates the small test models, indexes
# the sample documents in examples/docs and answers a question through the C
# API. Extra arguments go to the demo (e.g. a question, or --llm/--embed paths).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
scripts/setup.sh
cmake -S . -B out/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DRAG_BUILD_TESTS=OFF >/dev/null
cmake --build out/demo --target demo rag-make-models
out/demo/tools/rag-make-models all --vocab-dir .deps/llama/share/llama-vocab --out-dir out/models
data="$(mktemp -d)"
trap 'rm -rf "$data"' EXIT
out/demo/examples/demo --llm out/models/chat-phi3.gguf --embed out/models/embed.gguf \
  --data "$data" --docs examples/docs "$@"
