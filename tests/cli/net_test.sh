#!/usr/bin/env bash
# orvane-cli check and download against a local server on 127.0.0.1.
set -euo pipefail
CLI="$1"
HTTPD="$2"
# shellcheck source=server_lib.sh
. "$(dirname "$0")/server_lib.sh"
head -c 300000 /dev/urandom > "$WORK/www/pkg.zip"
start_server "$HTTPD"
printf '20240517\r\n%s/pkg.zip\r\n' "$BASE" > "$WORK/www/ver.txt"

# check prints what the version file says.
out="$("$CLI" check --version-url "$BASE/ver.txt")"
grep -qx "online_version: 20240517" <<<"$out" || fail "check: $out"
grep -qx "archive_url: $BASE/pkg.zip" <<<"$out" || fail "check: $out"
[ ! -e "$WORK/run/orvane/Tmp" ] || fail "version file left behind"

# A version file that is missing is the check's failure.
if "$CLI" check --version-url "$BASE/none.txt" >/dev/null 2>"$WORK/err"; then fail "missing version file passed"; fi
grep -q "获取版本失败" "$WORK/err" || fail "missing version file: $(cat "$WORK/err")"

# download URL FILE, with the progress line at 100% in the end.
"$CLI" download "$BASE/pkg.zip" "$WORK/out.zip" >/dev/null 2>"$WORK/progress"
cmp -s "$WORK/www/pkg.zip" "$WORK/out.zip" || fail "downloaded file differs"
grep -q "下载进度100.00% 速度" "$WORK/progress" || fail "progress: $(cat "$WORK/progress")"

# A 404 fails and leaves no file.
if "$CLI" download "$BASE/missing.bin" "$WORK/missing.bin" >/dev/null 2>&1; then fail "404 passed"; fi
[ ! -e "$WORK/missing.bin" ] || fail "404 left a file"

# download --version-url: the archive goes into the private temporary directory.
out="$("$CLI" download --version-url "$BASE/ver.txt" 2>/dev/null)"
grep -qx "file: $WORK/run/orvane/pkg/pkg.zip" <<<"$out" || fail "archive: $out"
cmp -s "$WORK/www/pkg.zip" "$WORK/run/orvane/pkg/pkg.zip" || fail "archive differs"

# A brand that GBK cannot hold is a usage error.
set +e
"$CLI" check --brand "$(printf '\xff\xfe')" >/dev/null 2>&1
rc=$?
set -e
[ "$rc" -eq 2 ] || fail "bad brand gave $rc"
# Without --brand the brand comes from the device (here the virtual one, whose
# page is blank); the unbranded build asks for its connectivity text.
out="$("$CLI" --virtual-device="$WORK/device.img" check 2>/dev/null || true)"
grep -q "^version_url: http://.*/UserFiles/File/testNet.txt$" <<<"$out" || fail "device check: $out"
echo "net cli tests passed"
