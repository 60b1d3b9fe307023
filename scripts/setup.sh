#!/usr/bin/env bash
# Installs and builds every dependency, idempotently.
#   - Debian packages (SQLite with FTS5, GoogleTest, Google Benchmark, Ninja)
#   - llama.cpp from the source bundle shipped in node-llama-cpp (static, CPU only)
#   - hnswlib 0.8.0 headers shipped in hnswlib-node, with its link lists padded and
#     its index file opened by a std::filesystem::path
#   - for the Windows x64 build (skipped with RAG_WINDOWS=OFF): MinGW-w64 and Wine,
#     llama.cpp cross-built the same way, the SQLite amalgamation shipped in
#     better-sqlite3, and GoogleTest cross-built from Debian's source package
# Downloads are pinned and checked against their npm integrity hashes. Builds are
# cached under ${XDG_CACHE_HOME:-~/.cache}/ragengine, keyed by version and options,
# and linked into ./.deps so CMake finds them.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
CACHE="${RAG_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/ragengine}"
JOBS="${JOBS:-$(nproc)}"

LLAMA_NPM="node-llama-cpp@3.21.1"
LLAMA_TGZ="node-llama-cpp-3.21.1.tgz"
LLAMA_SRI="sha512-E3N0Ev2Va0wzydvXYFwM9Hvyo07PoWjt8T/9GMc43Cvt8YkV/NU/tYUgEMC1grTPv2o9PRjQi0G3Wb5P/awiMg=="
LLAMA_COMMIT="80fb11a"
HNSW_NPM="hnswlib-node@3.0.0"
HNSW_TGZ="hnswlib-node-3.0.0.tgz"
HNSW_SRI="sha512-fypn21qvVORassppC8/qNfZ5KAOspZpm/IbUkAtlqvbtDNnF5VVk5RWF7O5V6qwr7z+T3s1ePej6wQt5wRQ4Cg=="
SQLITE_NPM="better-sqlite3@12.11.1"
SQLITE_TGZ="better-sqlite3-12.11.1.tgz"
SQLITE_SRI="sha512-dq9AtApgg5PGFtBzPFSBl3HZQjHok5gaQCM6zh2Yk0aSmDCs1CbnVI8/HgASQkNKsWFpseIO9beg5xxpYhbIfA=="
WINDOWS="${RAG_WINDOWS:-ON}"
MINGW_CXX="x86_64-w64-mingw32-g++-posix"
TOOLCHAIN="$ROOT/cmake/toolchain-mingw64.cmake"

LLAMA_OPTS=(-DBUILD_SHARED_LIBS=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=ON -DGGML_NATIVE=OFF
  -DGGML_OPENMP=OFF -DGGML_CCACHE=OFF -DLLAMA_BUILD_COMMON=OFF -DLLAMA_BUILD_TESTS=OFF
  -DLLAMA_BUILD_TOOLS=OFF -DLLAMA_BUILD_EXAMPLES=OFF -DLLAMA_BUILD_SERVER=OFF
  -DLLAMA_BUILD_APP=OFF -DLLAMA_OPENSSL=OFF -DCMAKE_BUILD_TYPE=Release)
# MinGW's headers lack a structure that newer Windows targets use; the CPU
# features are named because there is no host CPU to detect; OpenMP would need
# libgomp's DLL.
LLAMA_WIN_OPTS=("${LLAMA_OPTS[@]}" -DCMAKE_C_FLAGS=-D_WIN32_WINNT=0x0601
  -DCMAKE_CXX_FLAGS=-D_WIN32_WINNT=0x0601 -DGGML_AVX=ON -DGGML_AVX2=ON -DGGML_FMA=ON
  -DGGML_F16C=ON -DGGML_BMI2=ON -DGGML_SSE42=ON)

log() { echo "[setup] $*" >&2; }

install_packages() {
  local want=(libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev ninja-build git ca-certificates xz-utils binutils)
  [ "$WINDOWS" = ON ] && want+=(g++-mingw-w64-x86-64-posix wine64 googletest)
  local missing=()
  for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  log "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# fetch <package@version> <tarball name> <sri>: leaves a verified tarball in $CACHE/dl
fetch() {
  local package="$1" tgz="$2" sri="$3" dir="$CACHE/dl"
  mkdir -p "$dir"
  if [ ! -f "$dir/$tgz" ] || ! check_sri "$dir/$tgz" "$sri"; then
    log "fetching $package"
    rm -f "$dir/$tgz"
    (cd "$dir" && npm pack --silent "$package" >/dev/null)
  fi
  check_sri "$dir/$tgz" "$sri" || { log "integrity mismatch for $tgz"; rm -f "$dir/$tgz"; exit 1; }
}

check_sri() {
  local got
  got="$(node -e 'const c=require("crypto"),f=require("fs");process.stdout.write("sha512-"+c.createHash("sha512").update(f.readFileSync(process.argv[1])).digest("base64"))' "$1")"
  [ "$got" = "$2" ]
}

# hnswlib's search prefetches the link after the last one of a list it walks;
# for a full list on an element's top level that read lies 4 bytes past the
# list's allocation (addPoint pads 1 byte, loadIndex none). The pad below makes
# room for one more link in both, so the read stays inside (and is zeroed).
hnswlib_pad_links() {
  local h="$1/hnswlib/hnswalg.h"
  sed -i -e 's/size_links_per_element_ \* curlevel + 1)/size_links_per_element_ * curlevel + sizeof(tableint))/' \
         -e 's/(char \*) malloc(linkListSize);/(char *) calloc(linkListSize + sizeof(tableint), 1);/' "$h"
  [ "$(grep -c 'curlevel + sizeof(tableint))\|calloc(linkListSize + sizeof(tableint), 1)' "$h")" = 3 ] ||
    { log "hnswlib link padding did not apply"; exit 1; }
}

# hnswlib opens its index file by a std::string, which Windows reads in the
# ANSI code page; a std::filesystem::path is opened by its wide name there.
hnswlib_path_files() {
  local d="$1/hnswlib"
  sed -i -e 's/const std::string &location/const std::filesystem::path \&location/' \
    "$d/hnswlib.h" "$d/hnswalg.h" "$d/bruteforce.h"
  sed -i -e 's/^#include <iostream>$/#include <iostream>\n#include <filesystem>/' "$d/hnswlib.h"
  [ "$(cat "$d/hnswlib.h" "$d/hnswalg.h" "$d/bruteforce.h" |
       grep -c 'const std::filesystem::path &location\|^#include <filesystem>$')" = 8 ] ||
    { log "hnswlib file path patch did not apply"; exit 1; }
}

setup_hnswlib() {
  local dest="$CACHE/hnswlib-0.8.0-padded-links-path-files"
  if [ ! -f "$dest/.complete" ]; then
    fetch "$HNSW_NPM" "$HNSW_TGZ" "$HNSW_SRI"
    local tmp; tmp="$(mktemp -d)"
    tar -xzf "$CACHE/dl/$HNSW_TGZ" -C "$tmp" package/src/hnswlib
    rm -rf "$dest"; mkdir -p "$dest"
    mv "$tmp/package/src/hnswlib" "$dest/hnswlib"
    rm -rf "$tmp"
    hnswlib_pad_links "$dest"
    hnswlib_path_files "$dest"
    touch "$dest/.complete"
  fi
  HNSW_DIR="$dest"
}

# llama_source: the pinned llama.cpp checkout, in $LLAMA_SRC
llama_source() {
  LLAMA_SRC="$CACHE/llama-src-$LLAMA_COMMIT"
  [ -f "$LLAMA_SRC/.complete" ] && return
  fetch "$LLAMA_NPM" "$LLAMA_TGZ" "$LLAMA_SRI"
  local tmp; tmp="$(mktemp -d)"
  tar -xzf "$CACHE/dl/$LLAMA_TGZ" -C "$tmp" package/llama/gitRelease.bundle
  rm -rf "$LLAMA_SRC"
  git -c advice.detachedHead=false clone -q "$tmp/package/llama/gitRelease.bundle" "$LLAMA_SRC"
  (cd "$LLAMA_SRC" && git -c advice.detachedHead=false checkout -q "$LLAMA_COMMIT")
  rm -rf "$tmp"
  touch "$LLAMA_SRC/.complete"
}

# cmake_build <source> <prefix> <name> <cmake options...>: configure, build and
# install once; the prefix is complete when it holds .complete
cmake_build() {
  local src="$1" prefix="$2" name="$3"; shift 3
  [ -f "$prefix/.complete" ] && return
  log "building $name (once)"
  local build; build="$(mktemp -d)"
  rm -rf "$prefix"
  cmake -S "$src" -B "$build" -G Ninja "$@" -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build "$build" -j "$JOBS" >/dev/null
  cmake --install "$build" >/dev/null
  rm -rf "$build"
}

setup_llama() {
  local key; key="$(printf '%s ' "$LLAMA_COMMIT" "${LLAMA_OPTS[@]}" "$(g++ -dumpfullversion)" | sha256sum | cut -c1-12)"
  LLAMA_PREFIX="$CACHE/llama-$LLAMA_COMMIT-$key"
  [ -f "$LLAMA_PREFIX/.complete" ] && return
  llama_source
  cmake_build "$LLAMA_SRC" "$LLAMA_PREFIX" "llama.cpp $LLAMA_COMMIT" "${LLAMA_OPTS[@]}"
  # gguf.h and the vocabulary files are needed by the model generator
  mkdir -p "$LLAMA_PREFIX/share/llama-vocab"
  cp "$LLAMA_SRC"/models/ggml-vocab-bert-bge.gguf "$LLAMA_SRC"/models/ggml-vocab-phi-3.gguf \
     "$LLAMA_SRC"/models/ggml-vocab-qwen2.gguf "$LLAMA_PREFIX/share/llama-vocab/"
  touch "$LLAMA_PREFIX/.complete"
}

# The key covers the toolchain file too: it sets the compilers.
win_key() {
  printf '%s ' "$@" "$($MINGW_CXX -dumpfullversion)" "$(sha256sum < "$TOOLCHAIN")" | sha256sum | cut -c1-12
}

setup_llama_win() {
  LLAMA_WIN_PREFIX="$CACHE/llama-win-$LLAMA_COMMIT-$(win_key "$LLAMA_COMMIT" "${LLAMA_WIN_OPTS[@]}")"
  [ -f "$LLAMA_WIN_PREFIX/.complete" ] && return
  llama_source
  cmake_build "$LLAMA_SRC" "$LLAMA_WIN_PREFIX" "llama.cpp $LLAMA_COMMIT for Windows" \
    "${LLAMA_WIN_OPTS[@]}" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN"
  touch "$LLAMA_WIN_PREFIX/.complete"
}

setup_gtest_win() {
  local version; version="$(dpkg-query -W -f='${Version}' googletest)"
  GTEST_WIN_PREFIX="$CACHE/gtest-win-$(win_key "$version")"
  [ -f "$GTEST_WIN_PREFIX/.complete" ] && return
  cmake_build /usr/src/googletest "$GTEST_WIN_PREFIX" "GoogleTest $version for Windows" \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=ON
  touch "$GTEST_WIN_PREFIX/.complete"
}

# The SQLite amalgamation, compiled into rag.dll by the project's own build.
setup_sqlite_win() {
  SQLITE_WIN_DIR="$CACHE/sqlite-better-sqlite3-12.11.1"
  [ -f "$SQLITE_WIN_DIR/sqlite3.c" ] && return
  fetch "$SQLITE_NPM" "$SQLITE_TGZ" "$SQLITE_SRI"
  local tmp; tmp="$(mktemp -d)"
  tar -xzf "$CACHE/dl/$SQLITE_TGZ" -C "$tmp" package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h
  rm -rf "$SQLITE_WIN_DIR"; mkdir -p "$SQLITE_WIN_DIR"
  mv "$tmp"/package/deps/sqlite3/sqlite3.[ch] "$SQLITE_WIN_DIR/"
  rm -rf "$tmp"
}

install_packages
setup_hnswlib
setup_llama
mkdir -p "$ROOT/.deps"
ln -sfn "$LLAMA_PREFIX" "$ROOT/.deps/llama"
ln -sfn "$HNSW_DIR" "$ROOT/.deps/hnswlib"
if [ "$WINDOWS" = ON ]; then
  setup_llama_win
  setup_gtest_win
  setup_sqlite_win
  ln -sfn "$LLAMA_WIN_PREFIX" "$ROOT/.deps/llama-win"
  ln -sfn "$GTEST_WIN_PREFIX" "$ROOT/.deps/gtest-win"
  ln -sfn "$SQLITE_WIN_DIR" "$ROOT/.deps/sqlite-win"
fi
log "dependencies ready in $ROOT/.deps"
