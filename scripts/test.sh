#!/usr/bin/env bash
# Sets up, builds and runs all tests: the full suite, then the core tests under
# AddressSanitizer + UBSan, then the threaded tests under ThreadSanitizer.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/install-deps.sh"

echo "== stage 1: all tests"
"$ROOT/scripts/build.sh" "$ROOT/build"
(cd "$ROOT/build" && ctest --output-on-failure --no-tests=error -j 2)

echo "== stage 2: core tests under AddressSanitizer + UBSan"
ORVANE_BUILD_TYPE=Debug "$ROOT/scripts/build.sh" "$ROOT/build-asan" -DORVANE_SANITIZE=address,undefined
(cd "$ROOT/build-asan" && ctest --output-on-failure --no-tests=error -j 2 -L 'core|threads')

echo "== stage 3: threaded tests under ThreadSanitizer"
ORVANE_BUILD_TYPE=Debug "$ROOT/scripts/build.sh" "$ROOT/build-tsan" -DORVANE_SANITIZE=thread
(cd "$ROOT/build-tsan" && ctest --output-on-failure --no-tests=error -j 2 -L threads)
