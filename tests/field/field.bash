# Shared by the field checks, which run inside the guest against vivid: the end-to-end library
# (X server, the program copied into a fresh folder, window lookups), run with no test-camera
# plugin, and what the checks add for a real device: the buttons, error boxes, the pictures
# written and the descriptors the program holds.
source "$FIELD_E2E/lib.bash"

DEVICE=/dev/video0
PICTURES="$WORK/pictures"

# Client-area centres of the buttons in the left panel (the window's own geometry).
declare -A BUTTON=([start]="41 19" [pause]="93 19" [single]="120 46" [burst]="220 46")

note() { echo "  $*"; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# A check judges its rules one after another on one run of the program; the rig splits its
# output at these lines into one result per rule.
rule() { echo "::rule $1 $(now_ms)"; }

# The program, with a settings file naming vivid and the pictures folder unless the check
# wrote one.
start_field_app() {
  mkdir -p "$WORK/app" "$PICTURES" "$WORK/run"
  chmod 0700 "$WORK/run"
  export XDG_RUNTIME_DIR="$WORK/run"
  if [ ! -e "$WORK/app/参数设置.INI" ]; then
    {
      printf '[START]\r\nedFileDir=%s\r\n' "$PICTURES"
      printf '[VideoCapture]\r\nVideoCaptureName=vivid\r\n'
    } >"$WORK/app/参数设置.INI"
  fi
  # The registry the guest built once, so no start pays for a plugin scan under emulation.
  [ -z "${FIELD_REGISTRY:-}" ] || cp "$FIELD_REGISTRY" "$WORK/registry.bin"
  local started
  started=$(now_ms)
  # The library passes its arguments to env before the program; through sh the program gets a
  # style sheet that lets a box's text be selected and copied.
  # What the program and GStreamer say of trouble goes to its log, which a failed check shows.
  start_app QT_LOGGING_RULES='stillwick.*.debug=true' \
    GST_DEBUG="${GST_DEBUG:-2}" GST_DEBUG_NO_COLOR=1 \
    sh -c 'exec ./stillwick -stylesheet "$1"' field "$FIELD_RIG/box-text.qss"
  WIN=$(wait_window Stillwick)
  note "window after $(($(now_ms) - started)) ms"
}

press() {
  # shellcheck disable=SC2086 # the centre is two words
  click_at "$WIN" ${BUTTON[$1]}
}

# "启动采集", then until the program has the device open.
start_capture() {
  local started
  started=$(now_ms)
  press start
  for _ in $(seq 300); do
    [ "$(video_fds)" -gt 0 ] && break
    sleep 0.1
  done
  note "device open $(($(now_ms) - started)) ms after 启动采集"
}

# Width and height from a BMP's header, empty when there is no such file.
bmp_size() {
  [ -e "$1" ] || return 0
  echo "$(od -An -t d4 -j 18 -N 4 "$1" | tr -d ' ') $(od -An -t d4 -j 22 -N 4 "$1" | tr -d ' ')"
}

# The largest frame size vivid lists, in any format, as "W H".
largest_listed_size() {
  v4l2-ctl -d "$DEVICE" --list-formats-ext |
    sed -n 's/.*Size: Discrete \([0-9]*\)x\([0-9]*\).*/\1 \2/p' |
    sort -u | awk '{ print $1 * $2, $1, $2 }' | sort -n | tail -1 | cut -d' ' -f2-
}

# Presses "捕获单张图片" until the picture written is a frame of W x H (the start-up picture
# comes first); fails after $2 seconds.
capture_frame() {
  local size=$1 seconds=${2:-90} file="$PICTURES/voZU-01.bmp" deadline started presses=0
  started=$(now_ms)
  deadline=$(($(date +%s) + seconds))
  while [ "$(date +%s)" -lt "$deadline" ]; do
    press single
    presses=$((presses + 1))
    # A save of a 4K frame takes seconds under emulation; pressing again meanwhile only queues.
    for _ in $(seq 100); do
      if [ "$(bmp_size "$file")" = "$size" ]; then
        note "a $size frame written $(($(now_ms) - started)) ms after the first of $presses presses"
        return 0
      fi
      sleep 0.1
    done
  done
  cat "$WORK/app.log" >&2
  # An error box would have stopped the capture, and it takes the clicks meanwhile.
  local box
  for box in $(boxes); do note "a box is open: $(box_text "$box")"; done
  note "descriptors of $DEVICE: $(video_fds)"
  fail "no $size frame was written within $seconds s (last: $(bmp_size "$file"))"
}

# One single capture into NAME in the pictures folder, from a picture of W x H.
capture_as() {
  local name=$1 size=$2 file="$PICTURES/voZU-01.bmp"
  rm -f "$file"
  press single
  for _ in $(seq 300); do
    [ "$(bmp_size "$file")" = "$size" ] && { mv "$file" "$PICTURES/$name"; return 0; }
    sleep 0.1
  done
  fail "capture $name: nothing of $size written (got: $(bmp_size "$file"))"
}

# Whole uncompressed 24-bit BMPs of "W H": each header agrees with the file's length and the
# size. One interpreter for all of them: under emulation each start costs seconds.
whole_bmps() {
  local size=$1
  shift
  # shellcheck disable=SC2086 # the size is two words
  /usr/bin/python3 - $size "$@" <<'PY' || fail "not whole 24-bit $size pictures: $*"
import os, struct, sys

w, h = int(sys.argv[1]), int(sys.argv[2])
for name in sys.argv[3:]:
    with open(name, "rb") as f:
        head = f.read(54)
    magic, size, _, offset = struct.unpack_from("<2sIII", head, 0)
    header, bw, bh, _, bits, compression = struct.unpack_from("<IiiHHI", head, 14)
    length = os.path.getsize(name)
    assert (magic, size, offset, header) == (b"BM", length, 54, 40), (name, magic, size, offset, header)
    assert (bw, abs(bh), bits, compression) == (w, h, 24, 0), (name, bw, bh, bits, compression)
    assert length == 54 + (w * 3 + 3) // 4 * 4 * h, (name, length)
PY
}

# vivid unloaded and loaded again as the guest loaded it: it forgets every value it held, as a
# camera does when it is plugged in again.
reload_vivid() {
  modprobe -d "$FIELD_KERNEL_ROOT" -r vivid || fail "vivid cannot be unloaded"
  # shellcheck disable=SC2086 # the options are words
  modprobe -d "$FIELD_KERNEL_ROOT" vivid $FIELD_VIVID_OPTIONS || fail "vivid cannot be loaded again"
  udevadm trigger --subsystem-match=video4linux --action=add
  udevadm settle --timeout=60
}

# Descriptors of the program open on a video device node.
video_fds() {
  find "/proc/$APP_PID/fd" -lname '/dev/video*' 2>/dev/null | wc -l
}

# Error boxes: the program's windows titled "Stillwick" other than the main window.
boxes() {
  xdotool search --onlyvisible --name '^Stillwick$' 2>/dev/null | grep -vx "$WIN" || true
}

wait_box() {
  local seconds=$1 started
  started=$(now_ms)
  for _ in $(seq $((seconds * 10))); do
    local found
    found=$(boxes | head -1)
    [ -n "$found" ] && { note "box after $(($(now_ms) - started)) ms" >&2; echo "$found"; return 0; }
    sleep 0.1
  done
  return 1
}

# The box's text: Tab to it, select all, copy, and read the clipboard back through X.
box_text() {
  local text=""
  for _ in 1 2 3; do
    xdotool key --window "$1" Tab ctrl+a ctrl+c
    sleep 0.3
    text=$(timeout 10 xclip -o -selection clipboard 2>/dev/null) && [ -n "$text" ] && break
  done
  echo "$text"
}

dismiss_box() {
  xdotool key --window "$1" Escape 2>/dev/null || true  # the box may be gone before the key is up
  for _ in $(seq 100); do
    boxes | grep -qx "$1" || return 0
    sleep 0.1
  done
  fail "the box does not close"
}

# Exactly one box in $1 seconds, whose text contains $2; it is dismissed and no other follows.
expect_one_box() {
  local seconds=$1 words=$2 box text
  box=$(wait_box "$seconds") || { cat "$WORK/app.log" >&2; fail "no box within $seconds s"; }
  text=$(box_text "$box")
  note "box: $text"
  echo "$text" | grep -qi -- "$words" || fail "the box does not say \"$words\""
  dismiss_box "$box"
  sleep 3
  [ -z "$(boxes)" ] || fail "a second box followed: $(box_text "$(boxes | head -1)")"
}

# Ends the program as a logout would (SIGTERM closes the window) and expects it gone with
# status 0 long before a hung program would be; prints how long it took.
quit_app() {
  local started status=0
  started=$(now_ms)
  kill -TERM "$APP_PID"
  for _ in $(seq 300); do
    running "$APP_PID" || break
    sleep 0.1
  done
  running "$APP_PID" && fail "the program has not ended 30 s after SIGTERM"
  wait "$APP_PID" || status=$?
  APP_PID=""
  note "quit in $(($(now_ms) - started)) ms, status $status"
  [ "$status" = 0 ] || { cat "$WORK/app.log" >&2; fail "exit status $status"; }
}

# A child that has ended stays a zombie until waited for.
running() {
  local state
  state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)
  [ -n "$state" ] && [ "$state" != Z ]
}
