#!/usr/bin/env bash
# orvane-cli probe/dump against the virtual device: output, exit codes, image
# persistence and the trace file.
set -u
CLI="$1"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
. "$(dirname "$0")/lib.sh"
IMG="$WORK/dev.img"

"$CLI" --virtual-device="$IMG" probe >"$WORK/out" 2>&1; check "probe" 0 $?
expect_in "probe boot version" "^boot_version: 1011$" "$WORK/out"
expect_in "probe capacity" "^capacity: 8388608$" "$WORK/out"
[ -f "$IMG" ] || { echo "FAIL: image not created"; fails=$((fails + 1)); }

"$CLI" --virtual-device="$IMG" --trace "$WORK/trace" dump 1 0x80 >"$WORK/out" 2>&1; check "dump" 0 $?
expect_in "dump first line" "^0000: ff ff" "$WORK/out"
[ "$(wc -l <"$WORK/out")" = 16 ] || { echo "FAIL: dump is not 16 lines"; fails=$((fails + 1)); }
expect_in "trace command" " OUT 65 00f217" "$WORK/trace"
expect_in "trace data" " IN 65 00ffff" "$WORK/trace"

# A captured exchange played back gives the same answers, with no device.
"$CLI" --virtual-device="$IMG" --trace "$WORK/info.trace" info >"$WORK/live" 2>&1; check "traced info" 0 $?
"$CLI" --replay="$WORK/info.trace" info >"$WORK/replayed" 2>&1; check "replayed info" 0 $?
cmp -s "$WORK/live" "$WORK/replayed" || { echo "FAIL: replayed info differs"; fails=$((fails + 1)); }
echo "0.1 NONSENSE" >"$WORK/bad.trace"
"$CLI" --replay="$WORK/bad.trace" info >"$WORK/out" 2>&1; check "bad trace" 1 $?
expect_in "bad trace message" "malformed" "$WORK/out"

# Usage errors: exit 2.
"$CLI" --virtual-device="$IMG" >/dev/null 2>&1; check "no command" 2 $?
"$CLI" --virtual-device="$IMG" frobnicate >/dev/null 2>&1; check "unknown command" 2 $?
"$CLI" --virtual-device="$IMG" dump 2 0 >/dev/null 2>&1; check "bad area" 2 $?
"$CLI" --virtual-device="$IMG" dump 0 zz >/dev/null 2>&1; check "bad page" 2 $?
"$CLI" --virtual-device="$IMG" probe extra >/dev/null 2>&1; check "extra argument" 2 $?
"$CLI" --trace >/dev/null 2>&1; check "trace without file" 2 $?

# Device failures: exit 1 with a message.
"$CLI" --virtual-device="$IMG" dump 0 0x100000 >"$WORK/out" 2>&1; check "page past capacity" 1 $?
expect_in "page past capacity message" "page read failed" "$WORK/out"
echo "not an image" >"$WORK/bad.img"
"$CLI" --virtual-device="$WORK/bad.img" probe >"$WORK/out" 2>&1; check "corrupt image" 1 $?
expect_in "corrupt image message" "not a virtual device image" "$WORK/out"
"$CLI" --virtual-device="$IMG" --trace "$WORK/no/such/dir/trace" probe >"$WORK/out" 2>&1; check "unwritable trace" 1 $?

finish "device CLI"
