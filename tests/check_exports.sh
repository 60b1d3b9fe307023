#!/bin/sh
# The library must export exactly the functions that include/rag.h declares
# RAG_API; a DLL must also import only system DLLs.
#   check_exports.sh LIBRARY HEADER MAP [OBJDUMP]
# MAP needs no check of its own: on Linux it decides the exports compared here.
set -eu
lib="$1" header="$2" objdump="${4:-objdump}"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

sed -n 's/^RAG_API[^(]*[ *]\(rag_[a-z_]*\)(.*/\1/p' "$header" | sort >"$tmp/declared"
case "$lib" in
  *.dll)
    "$objdump" -p "$lib" >"$tmp/dump"
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' "$tmp/dump" | sort >"$tmp/exported"
    # Only DLLs that every Windows system has; anything else must be linked in.
    sed -n 's/^[[:space:]]*DLL Name: //p' "$tmp/dump" | tr 'A-Z' 'a-z' | sort -u >"$tmp/imports"
    foreign=$(grep -v -x -e 'kernel32.dll' -e 'msvcrt.dll' -e 'advapi32.dll' -e 'user32.dll' \
      -e 'ws2_32.dll' -e 'shell32.dll' -e 'ole32.dll' -e 'bcrypt.dll' -e 'api-ms-win-[a-z0-9-]*.dll' \
      "$tmp/imports" || true)
    if [ -n "$foreign" ]; then echo "imports non-system DLLs:"; echo "$foreign"; exit 1; fi
    ;;
  *) nm -D --defined-only "$lib" | awk '{print $NF}' | sort >"$tmp/exported" ;;
esac
if ! cmp -s "$tmp/declared" "$tmp/exported"; then
  echo "exports differ from the header (< declared only, > exported only):"
  diff "$tmp/declared" "$tmp/exported" | grep '^[<>]'
  exit 1
fi
echo "$(wc -l <"$tmp/declared") rag_* exports, as declared; nothing else"
