#!/usr/bin/env bash
# orvane-cli info and update against the virtual device: the whole road from a
# factory device to the new version, and the refusals with their exit codes.
set -u
CLI="$1"
MAKE_SAMPLE="$2"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
. "$(dirname "$0")/lib.sh"
IMG="$WORK/dev.img"
"$MAKE_SAMPLE" "$WORK/sample.qzv" || { echo "FAIL: cannot make the sample"; exit 1; }

"$CLI" --virtual-device="$IMG" info >"$WORK/out" 2>&1; check "info" 0 $?
expect_in "factory version" "^device_version: 20250601$" "$WORK/out"
expect_in "info_valid" "^info_valid: true$" "$WORK/out"
expect_in "area table" "^area4_start: 0x15B000$" "$WORK/out"
"$CLI" --virtual-device="$IMG" info --json >"$WORK/out" 2>&1; check "info --json" 0 $?
expect_in "json version" '"device_version": 20250601' "$WORK/out"

"$CLI" --virtual-device="$IMG" update "$WORK/sample.qzv" --yes >"$WORK/out" 2>&1; check "update" 0 $?
expect_in "success" "^更新成功！$" "$WORK/out"
expect_in "progress line" "已更新 100.00%" "$WORK/out"
expect_in "new version" "^device_version: 20261120$" "$WORK/out"
"$CLI" --virtual-device="$IMG" info >"$WORK/out" 2>&1
expect_in "version kept in the image" "^device_version: 20261120$" "$WORK/out"

# A question with nobody to answer it: No, nothing written, exit 1.
cp "$IMG" "$WORK/before.img"
"$MAKE_SAMPLE" "$WORK/big.qzv" 4 --without 4 || exit 1  # area 3 must grow and is not last
"$CLI" --virtual-device="$IMG" update "$WORK/big.qzv" </dev/null >"$WORK/out" 2>&1; check "declined" 1 $?
expect_in "question" "是否继续？" "$WORK/out"
expect_in "cancelled" "已取消更新" "$WORK/out"
cmp -s "$IMG" "$WORK/before.img" || { echo "FAIL: a declined update changed the device"; fails=$((fails + 1)); }

# Refused files: exit 1 with the verdict.
printf 'not an update file' >"$WORK/junk.qzv"
"$CLI" --virtual-device="$IMG" update "$WORK/junk.qzv" --yes >"$WORK/out" 2>&1; check "junk" 1 $?
expect_in "format verdict" "更新文件格式出错！-1" "$WORK/out"
"$CLI" --virtual-device="$IMG" update "$WORK/missing.qzv" --yes >"$WORK/out" 2>&1; check "missing" 1 $?
expect_in "choose verdict" "请选择正确的更新文件！" "$WORK/out"
"$CLI" --virtual-device="$IMG" update >/dev/null 2>&1; check "no file" 2 $?
"$CLI" --virtual-device="$IMG" update a b >/dev/null 2>&1; check "two files" 2 $?

finish "update CLI"
