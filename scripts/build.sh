#!/usr/bin/env bash
# build.sh BUILD_DIR [extra cmake args...]: configures (once) and builds the tree.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="$1"; shift
JOBS="${ORVANE_JOBS:-$(nproc)}"
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="${ORVANE_BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
fi
cmake --build "$BUILD_DIR" -j "$JOBS"
