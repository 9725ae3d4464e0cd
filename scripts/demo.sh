#!/usr/bin/env bash
# Sets up, builds and runs the main job: an update of the virtual device from
# the bundled sample file, paced like a real USB link.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/install-deps.sh"
"$ROOT/scripts/build.sh" "$ROOT/build" >/dev/null
CLI="$ROOT/build/src/cli/orvane-cli"
IMAGE="$ROOT/build/demo-device.img"
rm -f "$IMAGE"  # a factory-fresh device each run
"$CLI" --virtual-device="$IMAGE" info
echo
"$CLI" --virtual-device="$IMAGE" --virtual-latency=200 update "$ROOT/res/samples/demo.qzv" --yes
