# Shared by the end-to-end scripts: a private X server, the real binary copied into a fresh
# folder (so its settings file lands there), and window lookups with xdotool.
set -euo pipefail

STILLWICK_BIN="$1"
TESTCAM_DIR="$2"
# The program with the window-state test hook (see WindowStateRequest.cpp).
STATE_REQUEST_BIN="${3:-}"
WORK=$(mktemp -d)
cleanup() {
  local status=$?
  set +e
  if [ -n "${APP_PID:-}" ]; then
    kill "$APP_PID" 2>/dev/null
    wait "$APP_PID" 2>/dev/null
  fi
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
  [ -n "${WESTON_PID:-}" ] && kill "$WESTON_PID" 2>/dev/null && wait "$WESTON_PID" 2>/dev/null
  rm -rf "$WORK"
  exit "$status"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Xvfb picks a free display itself and tells us which, so parallel tests never share one.
start_x() {
  exec 5<> <(:)
  # -noreset: the server would otherwise reset when the readiness probe disconnects, and the
  # program could miss it in between.
  Xvfb -displayfd 5 -screen 0 "${SCREEN:-1280x1024x24}" -nolisten tcp -noreset >/dev/null 2>&1 &
  XVFB_PID=$!
  local number=""
  read -r -t 20 number <&5 || fail "no X server could be started"
  export DISPLAY=":$number"
  for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  fail "X server :$number does not answer"
}

# Weston's headless backend with a runtime folder of its own; a machine where it cannot start
# skips the test (status 77).
start_weston() {
  command -v weston >/dev/null || skip "weston is not installed"
  export XDG_RUNTIME_DIR="$WORK/runtime"
  mkdir -m 0700 -p "$XDG_RUNTIME_DIR"
  export WAYLAND_DISPLAY=stillwick-test
  weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 \
    >"$WORK/weston.log" 2>&1 &
  WESTON_PID=$!
  for _ in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] && return 0
    kill -0 "$WESTON_PID" 2>/dev/null || break
    sleep 0.1
  done
  sed 's/^/  weston: /' "$WORK/weston.log" >&2
  skip "Weston's headless backend does not start here"
}

skip() {
  echo "SKIP: $*"
  exit 77
}

# The program, copied so its settings file lands in $WORK/app. The language is pinned (the
# source texts) unless APP_LANG says otherwise; APP_PLATFORM picks Qt's platform plugin; extra
# arguments are more environment assignments.
start_app() {
  mkdir -p "$WORK/app" "$WORK/home"
  cp "$STILLWICK_BIN" "$WORK/app/stillwick"
  (cd "$WORK/app" && exec env -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG="${APP_LANG:-C.UTF-8}" \
     HOME="$WORK/home" QT_QPA_PLATFORM="${APP_PLATFORM:-xcb}" \
     GST_PLUGIN_PATH="$TESTCAM_DIR" GST_REGISTRY="$WORK/registry.bin" GST_REGISTRY_FORK=no \
     "$@" ./stillwick >"$WORK/app.log" 2>&1) &
  APP_PID=$!
}

# Prints the id of the visible window titled exactly $1, waiting up to 20 s.
wait_window() {
  local id=""
  for _ in $(seq 200); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  cat "$WORK/app.log" >&2 || true
  fail "no window \"$1\" appeared"
}

# Clicks at a point of the window's client area.
click_at() {
  xdotool mousemove --window "$1" "$2" "$3" click 1
}
