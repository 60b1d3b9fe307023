#!/bin/sh
# Installs the build into a scratch prefix and builds a host program against
# the exported CMake package.
set -eu
build="$1" src="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$src" -B "$work/host" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/host" >/dev/null
test "$("$work/host/host")" = "2.2"
echo "installed package found and linked"
