#!/usr/bin/env bash
# End-to-end: update files built by `pack` in every trailer form and directory
# kind, read back by `inspect`; `config show` / `config set` on a virtual device.
set -u
CLI="$1"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
fails=0

check() {  # check NAME EXPECTED_RC OUTPUT_FILE PATTERN...
  local name="$1" want="$2" got="$3" out="$4"; shift 4
  if [ "$got" != "$want" ]; then
    echo "FAIL $name: exit $got, wanted $want"; cat "$out"; fails=$((fails + 1)); return
  fi
  for p in "$@"; do
    if ! grep -qF -- "$p" "$out"; then
      echo "FAIL $name: no '$p' in output"; cat "$out"; fails=$((fails + 1)); return
    fi
  done
}

printf 'section zero data' > s0
head -c 5000 /dev/zero | tr '\0' 'b' > s2
printf 'three' > s3
printf 'four!' > s4
printf 'five' > s5
printf 'block for T3K' > bt3k
printf 'block for XVO' > bxvo

for form in 520 320 304; do
  for dir in none headed plain; do
    name="$form-$dir"
    args=(pack -o "$name.qzv" --form "$form" --brand "瑞克T" --section 0=s0 --section 2=s2
          --section 3=s3 --section 4=s4)
    [ "$form" = 520 ] && args+=(--section 5=s5)
    [ "$dir" != none ] && args+=(--directory "$dir" --entry "XVO=bxvo,4096" --entry "T3K=bt3k,0x5000")
    "$CLI" "${args[@]}" > pack.out 2>&1
    check "pack $name" 0 $? pack.out "trailer $form"

    "$CLI" inspect --device-key T3K "$name.qzv" > inspect.out 2>&1
    rc=$?
    if [ "$form" = 304 ]; then
      check "inspect $name" 1 $rc inspect.out "trailer_form: 304" "version: 1" "usable: no" \
        "verdict: 更新文件格式出错！-1"
      continue
    fi
    want=(trailer_form:\ $form "version: 3" "brand: 瑞克T" "section0: offset=0 length=17"
          "section2: offset=" "length=5000" "usable: yes")
    case "$dir" in
      none) want+=("directory: none (0)") ;;
      headed) want+=("directory: headed (1)" 'entry1: key="T3K " offset=' "reserved_size=20480"
                     "device_block: entry=1" "length=13 reserved_size=20480") ;;
      plain) want+=("directory: plain (-1)" 'entry0: key="XVO "' "device_block: entry=1"
                    "length=13 reserved_size=0") ;;
    esac
    [ "$form" = 520 ] && want+=("length=4") || want+=("section5: offset=0 length=0")
    check "inspect $name" 0 $rc inspect.out "${want[@]}"
  done
done

# JSON: the same facts.
"$CLI" inspect --json --device-key XVO 520-headed.qzv > json.out 2>&1
check "inspect --json" 0 $? json.out '"trailer_form": 520' '"kind": "headed"' '"key": "XVO "' \
  '"reserved_size": 4096' '"usable": true'

# Version 2 in the 520 form is refused.
"$CLI" pack -o v2.qzv --version 2 --section 0=s0 > /dev/null 2>&1
"$CLI" inspect v2.qzv > v2.out 2>&1
check "version 2" 1 $? v2.out "version: 2" "usable: no" "verdict: 更新文件格式出错！-1" "below 3"

# Damaged: a flipped trailer byte, a truncated file, a file of nothing.
cp 520-plain.qzv bad.qzv
printf '\x00' | dd of=bad.qzv bs=1 seek=$(( $(stat -c %s bad.qzv) - 30 )) conv=notrunc 2>/dev/null
"$CLI" inspect bad.qzv > bad.out 2>&1
check "damaged trailer" 1 $? bad.out "trailer_form: none" "更新文件格式出错！-1"
head -c 200 520-plain.qzv > short.qzv
"$CLI" inspect short.qzv > short.out 2>&1
check "short file" 1 $? short.out "trailer_form: none"
"$CLI" inspect missing.qzv > missing.out 2>&1
check "missing file" 1 $? missing.out "cannot open"
"$CLI" pack -o x.qzv --form 320 --section 5=s5 > usage.out 2>&1
check "section 5 in a 320 trailer" 2 $? usage.out "no section 5"

# Settings of a fresh virtual device, then a change with the dialog's checks.
IMG="$WORK/dev.img"
"$CLI" --virtual-device="$IMG" config show > show.out 2>&1
check "config show" 0 $? show.out "generation: 3" 'model: "T3K "' "timezone: 8" \
  "band.K1: on  K1频段(22.700~23.660)" "band.laser: on  雷射频段"
for bad in "timezone=14:时区 出错！" "timezone=-13:时区 出错！" "bright_start=2:白天亮度开始时间 出错！" \
           "bright_start=11:白天亮度开始时间 出错！" "bright_end=14:白天亮度结束时间 出错！" \
           "bright_end=24:白天亮度结束时间 出错！"; do
  "$CLI" --virtual-device="$IMG" config set "${bad%%:*}" > set.out 2>&1
  check "config set ${bad%%:*}" 2 $? set.out "${bad#*:}"
done
"$CLI" --virtual-device="$IMG" config set timezone=-12 bright_start=10 bright_end=15 clock12=on \
  show_number=off band.Ka3=off band.0=off > set.out 2>&1
check "config set" 0 $? set.out "配置成功！"
"$CLI" --virtual-device="$IMG" config show > show2.out 2>&1
check "config show after set" 0 $? show2.out "timezone: -12" "bright_start: 10" "bright_end: 15" \
  "clock12: on" "show_number: off" "band.Ka3: off" "band.X: off" "band.Ka2: on"
"$CLI" --virtual-device="$IMG" config set band.Ka9=on > set.out 2>&1
check "unknown band" 2 $? set.out "no band"

if [ "$fails" -ne 0 ]; then echo "$fails check(s) failed"; exit 1; fi
echo "all checks passed"
