#!/usr/bin/env bash
# One user's session at the window, one rule after another on the same running program: the
# device list, the mode, a single capture, a burst, pause and resume and starting again.
source "$FIELD_RIG/field.bash"
start_x
ini="$WORK/app/参数设置.INI"

rule device
# Listed by its card name: with nothing stored, the first entry of the list (the last field in
# the tab order, one step back from the focused file list) is picked and its name stored.
mkdir -p "$WORK/app"
printf '[START]\r\nedFileDir=%s\r\nspPicNum=3\r\nspPicTime=1\r\n' "$PICTURES" >"$ini"
start_field_app
xdotool key --window "$WIN" shift+Tab Down 2>/dev/null  # xdotool warns of Xvfb's focus
for _ in $(seq 50); do grep -q VideoCaptureName "$ini" && break; sleep 0.1; done
stored=$(tr -d '\r' <"$ini" | sed -n 's/^VideoCaptureName=//p')
note "picked: \"$stored\""
[ "$stored" = vivid ] || fail "the first device listed is \"$stored\", not vivid"
quit_app
# Reselected after a restart: "启动采集" alone opens it and its frames arrive.
start_field_app
start_capture
size=$(largest_listed_size)
capture_frame "$size"
note "after the restart: $size frames from $(find "/proc/$APP_PID/fd" -lname '/dev/video*' -printf '%l\n' | sort -u)"

rule mode
# The largest discrete size listed, at the highest rate listed for it; the driver says what
# it runs.
best_rate=$(v4l2-ctl -d "$DEVICE" --list-formats-ext | awk -v want="Discrete ${size/ /x}" '
  /Size:/ { here = index($0, want) > 0 }
  here && /Interval:/ { gsub(/[()]/, ""); print $(NF - 1) }' | sort -g | tail -1)
format=$(v4l2-ctl -d "$DEVICE" --get-fmt-video)
running=$(echo "$format" | sed -n 's,.*Width/Height *: *\([0-9]*\)/\([0-9]*\).*,\1 \2,p')
fourcc=$(echo "$format" | sed -n "s/.*Pixel Format *: *'\([^']*\)'.*/\1/p")
rate=$(v4l2-ctl -d "$DEVICE" --get-parm | sed -n 's,.*Frames per second: *\([0-9.]*\).*,\1,p')
colours=$(echo "$format" | sed -n 's/^\t*\(Colorspace\|YCbCr\/HSV Encoding\|Quantization\) *: /\1 /p' | paste -sd, -)
note "listed: largest $size at up to $best_rate fps; running: $running $fourcc at $rate fps ($colours)"
[ "$running" = "$size" ] || fail "the driver runs at $running, not the largest size $size"
awk -v a="$rate" -v b="$best_rate" 'BEGIN { exit !(a == b) }' ||
  fail "the driver runs at $rate fps, not the highest listed for $size ($best_rate)"

rule capture
# The picture written is one whole 24-bit BMP of that size with vivid's 75% colour bars in
# their order.
whole_bmps "$size" "$PICTURES/voZU-01.bmp"
/usr/bin/python3 - "$PICTURES/voZU-01.bmp" <<'PY' || fail "the colour bars are not vivid's"
import sys
from PIL import Image

im = Image.open(sys.argv[1])
im.load()  # every row is there to be read
assert im.mode == "RGB", im.mode
w, h = im.size
# White, yellow, cyan, green, magenta, red, blue, black at 75%, each sampled in the middle of
# its bar, below the text vivid draws at the top.
bars = [(191, 191, 191), (191, 191, 0), (0, 191, 191), (0, 191, 0),
        (191, 0, 191), (191, 0, 0), (0, 0, 191), (0, 0, 0)]
worst = 0
for i, want in enumerate(bars):
    x, y = (2 * i + 1) * w // 16, h * 3 // 4
    got = im.getpixel((x, y))
    off = max(abs(a - b) for a, b in zip(got, want))
    worst = max(worst, off)
    assert off <= 6, f"bar {i} at {x},{y} is {got}, not {want}"
print(f"  the eight bars in order, within {worst} levels of 75%")
PY
mv "$PICTURES/voZU-01.bmp" "$WORK/first.bmp"

rule burst
# Three pictures a second for one second: three whole pictures, and no fourth.
started=$(now_ms)
press burst
for _ in $(seq 600); do
  [ -e "$PICTURES/voZU-03.bmp" ] && break
  sleep 0.1
done
note "three pictures after $(($(now_ms) - started)) ms"
sleep 2
names=$(cd "$PICTURES" && ls -A | tr '\n' ' ')
[ "$names" = "voZU-01.bmp voZU-02.bmp voZU-03.bmp " ] || fail "the folder holds: $names"
whole_bmps "$size" "$PICTURES"/voZU-0[123].bmp
rm "$PICTURES"/*

rule pause
# vivid's text line counts frames, so pictures of two frames differ: while paused two captures
# are the same frame, after resuming and after starting again new frames arrive.
same() { cmp -s "$1" "$2"; }
capture_as live.bmp "$size"
same "$WORK/first.bmp" "$PICTURES/live.bmp" && fail "frames do not change while running"
press pause
sleep 2
capture_as paused1.bmp "$size"
sleep 2
capture_as paused2.bmp "$size"
same "$PICTURES/paused1.bmp" "$PICTURES/paused2.bmp" || fail "frames went on arriving while paused"
press pause  # now "继续"
sleep 2
capture_as resumed.bmp "$size"
same "$PICTURES/paused2.bmp" "$PICTURES/resumed.bmp" && fail "no new frame after resuming"
running_fds=$(video_fds)
note "descriptors of $DEVICE while running: $running_fds"
press start
sleep 2
capture_as again1.bmp "$size"
sleep 2
capture_as again2.bmp "$size"
same "$PICTURES/again1.bmp" "$PICTURES/again2.bmp" && fail "no new frames after starting again"
again_fds=$(video_fds)
note "descriptors of $DEVICE after starting again: $again_fds"
# The first graph's buffers all went back to it, so nothing keeps its descriptor open.
[ "$again_fds" -le "$running_fds" ] ||
  fail "starting again left $((again_fds - running_fds)) more descriptor(s) of $DEVICE open"
quit_app
