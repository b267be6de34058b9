#!/usr/bin/env bash
# The real program under Weston's headless compositor: it runs, is asked to maximize the way
# the window decoration's button asks, and goes on running at 791 x 422.
source "$(dirname "$0")/lib.bash"

start_weston
STILLWICK_BIN="$STATE_REQUEST_BIN"
APP_PLATFORM=wayland start_app STILLWICK_TEST_REQUEST_STATE=maximized

for _ in $(seq 200); do
  grep -q "test-hook: requesting" "$WORK/app.log" 2>/dev/null && break
  kill -0 "$APP_PID" 2>/dev/null || { cat "$WORK/app.log" >&2; fail "the program ended at start"; }
  sleep 0.1
done
grep -q "test-hook: requesting" "$WORK/app.log" || { cat "$WORK/app.log" >&2; fail "no window came up"; }

# The window may take the maximized size for a frame; it must come back and stay.
for _ in $(seq 100); do
  last=$(grep "test-hook: window" "$WORK/app.log" | tail -1 || true)
  [ "$last" = "test-hook: window 791x422 state 0" ] && break
  sleep 0.1
done
sleep 1
kill -0 "$APP_PID" 2>/dev/null || { cat "$WORK/app.log" >&2; fail "the program ended after the request"; }
last=$(grep "test-hook: window" "$WORK/app.log" | tail -1 || true)
[ "$last" = "test-hook: window 791x422 state 0" ] || { cat "$WORK/app.log" >&2; fail "window is: $last"; }
! grep -qi "protocol error" "$WORK/app.log" || { cat "$WORK/app.log" >&2; fail "protocol error"; }
echo "wayland: ok"
