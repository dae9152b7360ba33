#!/usr/bin/env bash
# Configures and builds one build tree. Usage: scripts/build.sh <build-dir> <build-type> [targets...]
# LAYERDECK_SANITIZE (address,undefined | thread) selects a sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; type=$2; shift 2
args=(-G Ninja -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type")
if [ -n "${LAYERDECK_SANITIZE:-}" ]; then
  args+=(-DLAYERDECK_SANITIZE="$LAYERDECK_SANITIZE" -DLAYERDECK_BUILD_BENCH=OFF)
fi
if [ ! -f "$dir/build.ninja" ] || [ -n "${LAYERDECK_RECONFIGURE:-}" ]; then
  cmake "${args[@]}" >/dev/null
fi
jobs=${LAYERDECK_JOBS:-$(nproc)}
cmake --build "$dir" -j "$jobs" ${1:+--target "$@"}
