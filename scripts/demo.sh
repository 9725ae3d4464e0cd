#!/usr/bin/env bash
# Sets up, builds and runs the main job: an online update of the virtual
# device. A local server on 127.0.0.1, started here and stopped when the script
# ends (also on failure), serves a version file and a zip of the bundled sample;
# orvane-cli reads the version file, downloads and unpacks the archive and
# writes the update, paced like a real USB link.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/install-deps.sh"
"$ROOT/scripts/build.sh" "$ROOT/build" >/dev/null
CLI="$ROOT/build/src/cli/orvane-cli"
IMAGE="$ROOT/build/demo-device.img"

WORK="$(mktemp -d)"
SERVER=""
cleanup() {
  if [ -n "$SERVER" ]; then
    kill "$SERVER" 2>/dev/null || true
    wait "$SERVER" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mkdir -m 700 "$WORK/www" "$WORK/run"
export XDG_RUNTIME_DIR="$WORK/run"  # the job's download and unpacking go here
"$ROOT/build/tools/orvane-make-archive" "$WORK/www/demo.zip" "$ROOT/res/samples/demo.qzv"
# The server listens on 127.0.0.1 only and ends by itself after ten minutes.
"$ROOT/build/tests/cli/test_httpd" "$WORK/www" 600 >"$WORK/port" &
SERVER=$!
for _ in $(seq 1 50); do [ -s "$WORK/port" ] && break; sleep 0.1; done
[ -s "$WORK/port" ] || { echo "demo: the local server did not start" >&2; exit 1; }
BASE="http://127.0.0.1:$(cat "$WORK/port")"
printf '20261120\n%s/demo.zip\n' "$BASE" >"$WORK/www/ver.txt"

rm -f "$IMAGE"  # a factory-fresh device each run
"$CLI" --virtual-device="$IMAGE" info
echo
"$CLI" --virtual-device="$IMAGE" --virtual-latency=200 update --online --version-url "$BASE/ver.txt" --yes
