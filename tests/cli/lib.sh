# Helpers shared by the CLI test scripts: count failed checks, report at the end.
fails=0
check() {  # check NAME EXPECTED_RC ACTUAL_RC
  if [ "$2" != "$3" ]; then echo "FAIL: $1 (exit $3, expected $2)"; fails=$((fails + 1)); fi
}
expect_in() {  # expect_in NAME PATTERN FILE
  if ! grep -q -- "$2" "$3"; then echo "FAIL: $1: '$2' not in output:"; cat "$3"; fails=$((fails + 1)); fi
}
finish() {  # finish WHAT
  if [ $fails -ne 0 ]; then echo "$fails check(s) failed"; exit 1; fi
  echo "all $1 checks passed"
}
