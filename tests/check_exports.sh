#!/bin/sh
# Fails when the shared library exports any defined symbol not named rag_*.
set -eu
lib="$1"
bad=$(nm -D --defined-only "$lib" | awk '{print $NF}' | grep -v '^rag_' || true)
if [ -n "$bad" ]; then
  echo "unexpected exported symbols:"; echo "$bad"; exit 1
fi
count=$(nm -D --defined-only "$lib" | awk '{print $NF}' | grep -c '^rag_')
echo "$count rag_* exports, nothing else"
