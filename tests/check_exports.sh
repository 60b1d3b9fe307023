#!/bin/sh
# Fails when the shared library exports any defined symbol not named rag_*,
# or misses a function that the public header declares.
set -eu
lib="$1"
header="$2"
exported=$(nm -D --defined-only "$lib" | awk '{print $NF}')
bad=$(echo "$exported" | grep -v '^rag_' || true)
if [ -n "$bad" ]; then
  echo "unexpected exported symbols:"; echo "$bad"; exit 1
fi
for name in $(grep -o 'rag_[a-z_]*(' "$header" | tr -d '(' | sort -u); do
  echo "$exported" | grep -qx "$name" || { echo "declared but not exported: $name"; exit 1; }
done
count=$(echo "$exported" | grep -c '^rag_')
echo "$count rag_* exports, nothing else"
