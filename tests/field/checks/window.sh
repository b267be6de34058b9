#!/usr/bin/env bash
# One user's session at the window, one rule after another on the same running program: the
# device list, the mode, a single capture, a burst, pause and resume and starting again, the
# device's own settings kept for it.
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

rule controls
# Settings stored in the device's section (named by its serial, else its bus path, else its
# name, as udev tells GStreamer's device provider) are set before frames flow at the next
# start: the mode, a brightness that shows in the picture, a saturation beyond vivid's range
# (clamped), a key vivid has no control for (kept in the file). The driver unloaded and loaded
# again forgets them, as a replugged camera does; the next start sets them again.
since=$(now_ms)
control() { v4l2-ctl -d "$DEVICE" -C "$1" | awk '{ print $2 }'; }
property() { udevadm info -q property -n "$DEVICE" | sed -n "s/^$1=//p"; }
# A frame of the stored mode, which no picture before had: a new graph's, into $1.
capture_stored() {
  rm -f "$PICTURES/voZU-01.bmp"
  capture_frame "320 180"
  mv "$PICTURES/voZU-01.bmp" "$WORK/$1"
  note "$1: brightness $(control brightness), saturation $(control saturation), $(($(now_ms) - since)) ms into the rule"
  [ "$(control brightness)" = 230 ] || fail "$1: the stored brightness was not set"
  [ "$(control saturation)" = 255 ] || fail "$1: saturation=9999 was not clamped to vivid's 255"
}
identity=$(property ID_SERIAL)
[ -n "$identity" ] || identity=$(property ID_PATH)
[ -n "$identity" ] || identity=$(property ID_V4L_PRODUCT)
note "section [Device $identity]"
[ "$(control brightness) $(control saturation)" = "128 128" ] || fail "vivid is not at its defaults"
printf '[Device %s]\r\nMode=YUY2 320x180@30/1\r\nbrightness=230\r\nsaturation=9999\r\nno_such_control=7\r\n' \
  "$identity" >>"$ini"
press start
capture_stored started.bmp
quit_app
reload_vivid
[ "$(control brightness)" = 128 ] || fail "the reloaded vivid kept brightness $(control brightness)"
start_field_app
start_capture
capture_stored reloaded.bmp
tr -d '\r' <"$ini" | grep -qx 'no_such_control=7' || fail "the unknown key left the settings file"
quit_app
# The mean grey of the bars, below vivid's text (the same at any size), of the first picture at
# the defaults and the two since; one interpreter, which takes seconds to start under emulation.
read -r defaults started reloaded < <(/usr/bin/python3 - "$WORK"/{first,started,reloaded}.bmp <<'PY' | paste -sd' '
import sys
from PIL import Image, ImageStat
for name in sys.argv[1:]:
    im = Image.open(name).convert("L")
    print(round(ImageStat.Stat(im.crop((0, im.height // 2, im.width, im.height))).mean[0]))
PY
)
note "grey of the bars: $defaults at the defaults, $started after the start, $reloaded after the reload"
[ "$started" -gt $((defaults + 20)) ] || fail "the picture did not brighten at the start"
[ "$reloaded" -gt $((defaults + 20)) ] || fail "the picture did not brighten after the reload"
