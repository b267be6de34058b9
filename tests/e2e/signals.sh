#!/usr/bin/env bash
# SIGTERM and SIGHUP end the real program as a close of its window does: the running graph's
# registry entry is withdrawn and the program exits normally. (A background job ignores SIGINT,
# and so does the program then; the unit test covers SIGINT.)
source "$(dirname "$0")/lib.bash"

start_x
export XDG_RUNTIME_DIR="$WORK/run"
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
mkdir -p "$WORK/app"
printf '[VideoCapture]\r\nVideoCaptureName=Stillwick Test Camera\r\n' >"$WORK/app/参数设置.INI"

entries() { compgen -G "$XDG_RUNTIME_DIR/stillwick/FilterGraph *.dot" || true; }

for sig in TERM HUP; do
  start_app
  win=$(wait_window Stillwick)
  pid=$(xdotool getwindowpid "$win")
  click_at "$win" 40 19  # 启动采集
  for _ in $(seq 100); do
    [ -n "$(entries)" ] && break
    sleep 0.1
  done
  [ -n "$(entries)" ] || { cat "$WORK/app.log" >&2; fail "no registry entry while capturing"; }
  kill -"$sig" "$pid"
  status=0
  wait "$APP_PID" || status=$?
  APP_PID=""
  [ "$status" = 0 ] || { cat "$WORK/app.log" >&2; fail "SIG$sig: exit status $status"; }
  [ -z "$(entries)" ] || fail "SIG$sig left the registry entry: $(entries)"
done
echo "signals: ok"
