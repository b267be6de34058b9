#!/usr/bin/env bash
# The real program with the test-camera plugin: start the stored camera, capture one picture,
# then a one-second burst at 5 pictures a second from start number 2: six pictures in all.
source "$(dirname "$0")/lib.bash"

start_x
mkdir -p "$WORK/app" "$WORK/pictures"
printf '[START]\r\nedFileDir=%s\r\nspPicNum=5\r\nspPicTime=1\r\n[VideoCapture]\r\nVideoCaptureName=Stillwick Test Camera\r\n' \
  "$WORK/pictures" >"$WORK/app/参数设置.INI"
start_app
win=$(wait_window Stillwick)

click_at "$win" 40 19     # 启动采集
# A capture before the camera runs writes nothing, and one after it runs but before its first
# frame writes the start-up picture (507 wide) to the same name: press until a camera frame
# (640 wide) is there.
width() { od -An -t d4 -j 18 -N 4 "$1" 2>/dev/null | tr -d ' '; }
for _ in $(seq 40); do
  click_at "$win" 120 46  # 捕获单张图片
  sleep 0.5
  [ "$(width "$WORK/pictures/voZU-01.bmp")" = 640 ] && break
done
[ -e "$WORK/pictures/voZU-01.bmp" ] || { cat "$WORK/app.log" >&2; fail "single capture wrote nothing"; }

click_at "$win" 185 116   # 起始编号
xdotool key --window "$win" ctrl+a
xdotool type --window "$win" "2"
click_at "$win" 220 46    # 连续捕获多张图片
for _ in $(seq 100); do
  [ -e "$WORK/pictures/voZU-06.bmp" ] && break
  sleep 0.1
done
sleep 0.3

expected="voZU-01.bmp voZU-02.bmp voZU-03.bmp voZU-04.bmp voZU-05.bmp voZU-06.bmp"
actual=$(cd "$WORK/pictures" && ls -A | tr '\n' ' ' | sed 's/ $//')
[ "$actual" = "$expected" ] || fail "pictures: $actual"

for picture in "$WORK"/pictures/*.bmp; do
  read_back=$(/usr/bin/python3 "$(dirname "$0")/../support/read_bmp.py" "$picture") || true
  [ "$read_back" = "BMP 640 480 RGB" ] || fail "$(basename "$picture") reads back as: $read_back"
done
echo "capture: ok"
