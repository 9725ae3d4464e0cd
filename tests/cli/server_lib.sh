# Sourced by the CLI tests that need the local HTTP server: a scratch folder
# WORK with www/ (served) and run/ (the private temporary directory), both
# removed on exit, and start_server, which starts the server on 127.0.0.1 and
# sets BASE; the server is stopped on exit.
WORK="$(mktemp -d)"
PID=""
cleanup() {
  [ -n "$PID" ] && kill "$PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$WORK/www" "$WORK/run"
chmod 700 "$WORK/run"
export XDG_RUNTIME_DIR="$WORK/run"

# start_server HTTPD: serves $WORK/www; sets BASE to its URL.
start_server() {
  "$1" "$WORK/www" 60 > "$WORK/port" &
  PID=$!
  for _ in $(seq 1 50); do [ -s "$WORK/port" ] && break; sleep 0.1; done
  local port
  port="$(cat "$WORK/port")"
  [ -n "$port" ] || fail "server did not start"
  BASE="http://127.0.0.1:$port"
}
