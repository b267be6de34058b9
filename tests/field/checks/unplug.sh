#!/usr/bin/env bash
# The device goes away while capturing (vivid's disconnect control: every later call on it
# fails as on an unplugged USB camera): one box, capture stops, a capture afterwards writes
# nothing, no descriptor of the device stays open, and the program ends normally.
source "$FIELD_RIG/field.bash"
start_x
rule unplug
# The element's warnings go to the program's log: what v4l2src says about its buffers.
export GST_DEBUG='v4l2*:2' GST_DEBUG_NO_COLOR=1
start_field_app
start_capture
size=$(largest_listed_size)
capture_frame "$size"
note "descriptors of $DEVICE while capturing: $(video_fds)"

v4l2-ctl -d "$DEVICE" -c disconnect=1
expect_one_box 60 "lost"
rm -f "$PICTURES"/*
press single
sleep 3
[ -z "$(ls -A "$PICTURES")" ] || fail "a capture after the unplug wrote $(ls -A "$PICTURES")"

# Gathered now, judged last: the program's end and vivid's return are checked first.
held=$(find "/proc/$APP_PID/fd" -lname '/dev/video*' -printf '    fd %f -> %l\n')
quit_app
# With every descriptor closed vivid comes back, as a camera plugged in again.
v4l2-ctl -d "$DEVICE" --get-fmt-video >/dev/null || fail "vivid did not come back once the program ended"
if [ -n "$held" ]; then
  echo "  after the unplug the program still held $(echo "$held" | wc -l) descriptor(s) of the device:"
  echo "$held"
  grep -i 'v4l2' "$WORK/app.log" | sed 's/^.*v4l2/  program: v4l2/' | tail -5
  if [ "${STILLWICK_FIELD_EXPECT_FD_RELEASE:-1}" = 1 ]; then
    fail "a descriptor of $DEVICE stayed open after the unplug (STILLWICK_FIELD_EXPECT_FD_RELEASE=1)"
  fi
  note "not judged: STILLWICK_FIELD_EXPECT_FD_RELEASE=$STILLWICK_FIELD_EXPECT_FD_RELEASE"
fi
