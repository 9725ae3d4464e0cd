#!/usr/bin/env bash
# orvane-cli update --online against a local server on 127.0.0.1: version
# file, zip archive, unpacking with no archiver installed, the update itself.
set -euo pipefail
CLI="$1"
HTTPD="$2"
MAKE_ARCHIVE="$3"
SAMPLE="$4"
# shellcheck source=server_lib.sh
. "$(dirname "$0")/server_lib.sh"
"$MAKE_ARCHIVE" "$WORK/www/update.zip" "$SAMPLE"
printf 'nothing to update with\n' > "$WORK/readme.txt"
"$MAKE_ARCHIVE" "$WORK/www/empty.zip" "$WORK/readme.txt"

start_server "$HTTPD"
printf '20261120\r\n%s/update.zip\r\n' "$BASE" > "$WORK/www/ver.txt"
printf '20261120\n%s/empty.zip\n' "$BASE" > "$WORK/www/empty.txt"

# No archiver on PATH: the built-in extractor unpacks, and the device ends up
# exactly as after an update from the same file on disk.
out="$(PATH=/nonexistent "$CLI" --virtual-device="$WORK/online.img" update --online \
       --version-url "$BASE/ver.txt" --yes 2>/dev/null)" || fail "online update: $out"
grep -qx "更新成功！" <<<"$out" || fail "online update: $out"
grep -qx "detail: unpacked with built-in" <<<"$out" || fail "online update: $out"
grep -qx "device_version: 20261120" <<<"$out" || fail "online update: $out"
"$CLI" --virtual-device="$WORK/local.img" update "$SAMPLE" --yes >/dev/null 2>&1 || fail "local update"
cmp -s "$WORK/online.img" "$WORK/local.img" || fail "online and local updates left different images"
[ -f "$WORK/run/orvane/update/update.zip" ] || fail "the archive is not kept in its work folder"
[ ! -e "$WORK/run/orvane/update/TmpTmp" ] || fail "the extraction folder was left behind"

# The device now has the online version: without --yes and a terminal the
# question is answered no and nothing is written.
set +e
out="$("$CLI" --virtual-device="$WORK/online.img" update --online --version-url "$BASE/ver.txt" \
       </dev/null 2>/dev/null)"
rc=$?
set -e
[ "$rc" -eq 1 ] || fail "declined question gave $rc"
grep -q "当前版本已经是最新，是否升级？ no" <<<"$out" || fail "question: $out"
cmp -s "$WORK/online.img" "$WORK/local.img" || fail "a declined update wrote"

# An archive without an update file: the verdict and the folder to open.
set +e
out="$(PATH=/nonexistent "$CLI" --virtual-device="$WORK/fresh.img" update --online \
       --version-url "$BASE/empty.txt" --yes 2>/dev/null)"
rc=$?
set -e
[ "$rc" -eq 1 ] || fail "empty archive gave $rc"
grep -qx "没有找到升级文件！" <<<"$out" || fail "empty archive: $out"
grep -qx "folder: $WORK/run/orvane/empty" <<<"$out" || fail "empty archive: $out"

# With 7-Zip installed it is the archiver used.
if command -v 7zz >/dev/null; then
  out="$("$CLI" --virtual-device="$WORK/seven.img" update --online --version-url "$BASE/ver.txt" \
         --yes 2>/dev/null)" || fail "7zz update: $out"
  grep -qx "detail: unpacked with $(command -v 7zz)" <<<"$out" || fail "7zz update: $out"
  cmp -s "$WORK/seven.img" "$WORK/local.img" || fail "7zz update left another image"
else
  echo "7zz is not installed: its road is skipped"
fi

# watch --online: every device that arrives is updated from the archive.
"$CLI" --virtual-device="$WORK/watch.img" watch --online --version-url "$BASE/ver.txt" --yes \
  --connect-delay=50 >"$WORK/watch.out" 2>&1 &
WATCH=$!
for _ in $(seq 200); do grep -q "^device_version: 20261120\|^更新成功！" "$WORK/watch.out" && break; sleep 0.05; done
kill -TERM "$WATCH"
wait "$WATCH" || fail "watch --online did not end cleanly"
grep -qx "更新成功！" "$WORK/watch.out" || fail "watch --online: $(cat "$WORK/watch.out")"
cmp -s "$WORK/watch.img" "$WORK/local.img" || fail "watch --online left another image"

# Usage errors.
for args in "update --online $SAMPLE" "update --version-url $BASE/ver.txt $SAMPLE" "update" \
            "watch --online --update $SAMPLE" "watch --version-url $BASE/ver.txt"; do
  set +e
  # shellcheck disable=SC2086
  "$CLI" --virtual-device="$WORK/u.img" $args >/dev/null 2>&1
  rc=$?
  set -e
  [ "$rc" -eq 2 ] || fail "'$args' gave $rc"
done
echo "online cli tests passed"
