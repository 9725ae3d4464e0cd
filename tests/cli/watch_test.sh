#!/usr/bin/env bash
# orvane-cli watch against the virtual device, plugged and unplugged from
# here with orvane-cli plug/unplug, as a service desk would see it.
set -u
CLI="$1"
SAMPLE="$2"
WORK="$(mktemp -d)"
WATCH_PID=""
trap '[ -n "$WATCH_PID" ] && kill "$WATCH_PID" 2>/dev/null; rm -rf "$WORK"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
check() {  # check NAME EXPECTED_RC ACTUAL_RC
  if [ "$2" != "$3" ]; then fail "$1 (exit $3, expected $2)"; fi
}
wait_for() {  # wait_for NAME PATTERN FILE [COUNT]: at most 10 s
  local count="${4:-1}"
  for _ in $(seq 200); do
    [ "$(grep -c -- "$2" "$3")" -ge "$count" ] && return 0
    sleep 0.05
  done
  fail "$1: '$2' (x$count) not seen in:"; cat "$3"; return 1
}
start_watch() {  # start_watch OUT ARGS...
  local out="$1"; shift
  "$CLI" "$@" >"$out" 2>&1 &
  WATCH_PID=$!
}
stop_watch() {  # stop_watch NAME SIGNAL: the watch must end at once with 0
  kill -"$2" "$WATCH_PID"
  wait "$WATCH_PID"; check "$1 exit" 0 $?
  WATCH_PID=""
}
events() { grep -E '^(device |connected|更新)' "$1" | sed 's/brand "[^"]*"/brand B/'; }

# Usage and failures before anything is watched.
"$CLI" --virtual-device="$WORK/u.img" watch --bogus >/dev/null 2>&1; check "unknown option" 2 $?
"$CLI" --virtual-device="$WORK/u.img" watch --update >/dev/null 2>&1; check "--update without file" 2 $?
"$CLI" --virtual-device="$WORK/u.img" watch --connect-delay=soon >/dev/null 2>&1; check "bad delay" 2 $?
"$CLI" --virtual-device="$WORK/u.img" watch --update "$WORK/none.qzv" >/dev/null 2>&1; check "missing update file" 1 $?
"$CLI" plug >/dev/null 2>&1; check "plug without virtual device" 2 $?
"$CLI" --virtual-device="$WORK/u.img" unplug now >/dev/null 2>&1; check "unplug with argument" 2 $?

# Arrival and removal, starting unplugged.
IMG="$WORK/dev.img"
OUT="$WORK/watch.out"
"$CLI" --virtual-device="$IMG" unplug; check "unplug" 0 $?
[ -f "$IMG.unplugged" ] || fail "unplug leaves no marker"
start_watch "$OUT" --virtual-device="$IMG" watch --connect-delay=50
wait_for "watch starts" "^watching the virtual device" "$OUT"
"$CLI" --virtual-device="$IMG" plug; check "plug" 0 $?
wait_for "first connection" "^connected: " "$OUT"
"$CLI" --virtual-device="$IMG" unplug
wait_for "removal" "^device removed: " "$OUT"
"$CLI" --virtual-device="$IMG" info >"$WORK/info" 2>&1; check "info while unplugged" 1 $?
grep -q "未连接硬件" "$WORK/info" || fail "info while unplugged does not say so"
"$CLI" --virtual-device="$IMG" plug
wait_for "second connection" "^connected: " "$OUT" 2
stop_watch "plug/unplug watch" INT
grep -q "^stopped$" "$OUT" || fail "watch did not say it stopped"
expected='device arrived: virtual:orvane/vid_0416&pid_b500
connected: brand B, device_version 20250601
device removed: virtual:orvane/vid_0416&pid_b500
device arrived: virtual:orvane/vid_0416&pid_b500
connected: brand B, device_version 20250601'
[ "$(events "$OUT")" = "$expected" ] || { fail "plug/unplug events:"; cat "$OUT"; }
grep -q "^数据更新服务   未连接硬件！$" "$OUT" || fail "no not-connected title after the removal"

# --update: every device that arrives is updated, and the image is stored
# after each job, so another process sees the new data at once.
IMG="$WORK/upd.img"
OUT="$WORK/update.out"
start_watch "$OUT" --virtual-device="$IMG" watch --update "$SAMPLE" --yes --connect-delay=50
wait_for "first update" "^更新成功！" "$OUT"
wait_for "read again after the update" "device_version 20261120" "$OUT"
"$CLI" --virtual-device="$IMG" info >"$WORK/info" 2>&1
grep -q "^device_version: 20261120$" "$WORK/info" || { fail "image not stored after the job:"; cat "$WORK/info"; }
"$CLI" --virtual-device="$IMG" unplug
wait_for "removal after update" "^device removed: " "$OUT"
"$CLI" --virtual-device="$IMG" plug
wait_for "second update" "^更新成功！" "$OUT" 2
sleep 0.3  # no third job for the same arrival
stop_watch "update watch" TERM
[ "$(grep -c '^更新成功！' "$OUT")" = 2 ] || { fail "not one update per arrival:"; cat "$OUT"; }

# Pulled out during an update: the job fails, the device is served again when
# it comes back, and Ctrl-C during that job ends the watch at once.
IMG="$WORK/pull.img"
OUT="$WORK/pull.out"
start_watch "$OUT" --virtual-device="$IMG" --virtual-latency=300 watch --update "$SAMPLE" --yes --connect-delay=50
wait_for "connected before the pull" "^connected: " "$OUT"
sleep 0.3
"$CLI" --virtual-device="$IMG" unplug
wait_for "removal during the update" "^device removed during the update: " "$OUT"
wait_for "failed verdict" "^更新失败！" "$OUT"
"$CLI" --virtual-device="$IMG" plug
wait_for "connected after the pull" "^connected: " "$OUT" 2
sleep 0.3
stop_watch "watch interrupted mid-job" INT
grep -q "^stopped$" "$OUT" || { fail "interrupted watch did not stop:"; cat "$OUT"; }

if [ $fails -ne 0 ]; then echo "$fails check(s) failed"; exit 1; fi
echo "all watch checks passed"
