#!/usr/bin/env bash
# Fails unless the shared library exports exactly the functions of rag.h.
set -eu
lib="$1"
expected="
rag_create
rag_init
rag_destroy
rag_version
rag_last_error
rag_add_document
rag_add_text_document
rag_remove_document
rag_is_file_indexed
rag_get_indexed_files
rag_get_document_text
rag_search
rag_generate
rag_generate_with_context
rag_generate_chat_with_context
rag_rewrite_query
rag_get_indexing_progress
rag_get_indexing_status
rag_start_watching
rag_stop_watching
"
want=$(echo "$expected" | grep . | sort)
got=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort)
if [ "$got" != "$want" ]; then
  echo "exports differ from the expected list (< expected, > exported):"
  diff <(echo "$want") <(echo "$got") || true
  exit 1
fi
echo "$(echo "$got" | wc -l) exports, as expected"
