#!/usr/bin/env bash
# Installs and builds every dependency, idempotently.
#   - Debian packages (SQLite with FTS5, GoogleTest, Google Benchmark, Ninja)
#   - llama.cpp from the source bundle shipped in node-llama-cpp (static, CPU only)
#   - hnswlib 0.8.0 headers shipped in hnswlib-node, with its link lists padded
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

LLAMA_OPTS=(-DBUILD_SHARED_LIBS=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=ON -DGGML_NATIVE=OFF
  -DGGML_OPENMP=OFF -DGGML_CCACHE=OFF -DLLAMA_BUILD_COMMON=OFF -DLLAMA_BUILD_TESTS=OFF
  -DLLAMA_BUILD_TOOLS=OFF -DLLAMA_BUILD_EXAMPLES=OFF -DLLAMA_BUILD_SERVER=OFF
  -DLLAMA_BUILD_APP=OFF -DLLAMA_OPENSSL=OFF -DCMAKE_BUILD_TYPE=Release)

log() { echo "[setup] $*" >&2; }

install_packages() {
  local want=(libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev ninja-build git ca-certificates xz-utils binutils)
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

setup_hnswlib() {
  local dest="$CACHE/hnswlib-0.8.0-padded-links"
  if [ ! -f "$dest/.complete" ]; then
    fetch "$HNSW_NPM" "$HNSW_TGZ" "$HNSW_SRI"
    local tmp; tmp="$(mktemp -d)"
    tar -xzf "$CACHE/dl/$HNSW_TGZ" -C "$tmp" package/src/hnswlib
    rm -rf "$dest"; mkdir -p "$dest"
    mv "$tmp/package/src/hnswlib" "$dest/hnswlib"
    rm -rf "$tmp"
    hnswlib_pad_links "$dest"
    touch "$dest/.complete"
  fi
  HNSW_DIR="$dest"
}

setup_llama() {
  local key; key="$(printf '%s ' "$LLAMA_COMMIT" "${LLAMA_OPTS[@]}" "$(g++ -dumpfullversion)" | sha256sum | cut -c1-12)"
  local prefix="$CACHE/llama-$LLAMA_COMMIT-$key"
  local src="$CACHE/llama-src-$LLAMA_COMMIT"
  if [ ! -f "$prefix/.complete" ]; then
    if [ ! -f "$src/.complete" ]; then
      fetch "$LLAMA_NPM" "$LLAMA_TGZ" "$LLAMA_SRI"
      local tmp; tmp="$(mktemp -d)"
      tar -xzf "$CACHE/dl/$LLAMA_TGZ" -C "$tmp" package/llama/gitRelease.bundle
      rm -rf "$src"
      git -c advice.detachedHead=false clone -q "$tmp/package/llama/gitRelease.bundle" "$src"
      (cd "$src" && git -c advice.detachedHead=false checkout -q "$LLAMA_COMMIT")
      rm -rf "$tmp"
      touch "$src/.complete"
    fi
    log "building llama.cpp $LLAMA_COMMIT (takes a few minutes once)"
    rm -rf "$prefix" "$src/build-rag"
    cmake -S "$src" -B "$src/build-rag" -G Ninja "${LLAMA_OPTS[@]}" -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
    cmake --build "$src/build-rag" -j "$JOBS" >/dev/null
    cmake --install "$src/build-rag" >/dev/null
    # gguf.h and the vocabulary files are needed by the model generator
    mkdir -p "$prefix/share/llama-vocab"
    cp "$src"/models/ggml-vocab-bert-bge.gguf "$src"/models/ggml-vocab-phi-3.gguf \
       "$src"/models/ggml-vocab-qwen2.gguf "$prefix/share/llama-vocab/"
    rm -rf "$src/build-rag"
    touch "$prefix/.complete"
  fi
  LLAMA_PREFIX="$prefix"
}

install_packages
setup_hnswlib
setup_llama
mkdir -p "$ROOT/.deps"
ln -sfn "$LLAMA_PREFIX" "$ROOT/.deps/llama"
ln -sfn "$HNSW_DIR" "$ROOT/.deps/hnswlib"
log "dependencies ready in $ROOT/.deps"
