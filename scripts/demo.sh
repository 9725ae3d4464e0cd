#!/usr/bin/env bash
# Sets up, builds and runs the main job against the virtual device.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/install-deps.sh"
"$ROOT/scripts/build.sh" "$ROOT/build" >/dev/null
IMAGE="$ROOT/build/demo-device.img"
"$ROOT/build/src/cli/orvane-cli" --virtual-device="$IMAGE" probe
