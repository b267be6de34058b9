#!/usr/bin/env bash
# At scale factor 2 on a screen smaller than the window (1582 x 844 device pixels on 1280 x 800)
# the window's top-left corner stays on the screen, and the start-up caption is drawn sharp.
source "$(dirname "$0")/lib.bash"

SCREEN=1280x800x24 start_x
start_app QT_SCALE_FACTOR=2
win=$(wait_window Stillwick)

# Placement may follow the window's first appearance by a moment.
for _ in $(seq 50); do
  eval "$(xdotool getwindowgeometry --shell "$win")"
  [ "$WIDTH"x"$HEIGHT" = 1582x844 ] && [ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && break
  sleep 0.1
done
[ "$WIDTH"x"$HEIGHT" = 1582x844 ] || fail "window is ${WIDTH}x$HEIGHT device pixels"
[ "$X" -ge 0 ] && [ "$Y" -ge 0 ] || fail "window's top-left corner at $X,$Y is off the screen"

# The caption's red text at device resolution: some 2 x 2 blocks of device pixels are not one
# colour, which a picture scaled up from 507 x 418 could not give.
# A visible window may not have painted yet (slow sanitizer builds), so the screen is read again
# for up to 10 s before the caption counts as missing.
/usr/bin/python3 - "$DISPLAY" "$X" "$Y" <<'PY' || fail "the start-up caption is not drawn at device resolution"
import sys, time
from PIL import ImageGrab
display, x, y = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
# The display area starts 282 logical pixels right of the window's left edge; the caption near its top.
left, top = x + 2 * (280 + 2 + 10), y + 2 * (2 + 10)
for attempt in range(50):
    shot = ImageGrab.grab(xdisplay=display).convert("RGB")
    mixed = 0
    for by in range(top, top + 2 * 30, 2):
        for bx in range(left, left + 2 * 120, 2):
            block = {shot.getpixel((bx + dx, by + dy)) for dx in (0, 1) for dy in (0, 1)}
            mixed += len(block) > 1
    if mixed > 50:
        sys.exit(0)
    time.sleep(0.2)
sys.exit(f"mixed blocks: {mixed}")
PY
echo "scale2: ok"
