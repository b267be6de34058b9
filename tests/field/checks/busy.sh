#!/usr/bin/env bash
# Another program streams from the device when "启动采集" is pressed: one box says it is in
# use, the window goes on answering, and the program ends normally.
source "$FIELD_RIG/field.bash"
start_x
rule busy
gst-launch-1.0 v4l2src device="$DEVICE" ! video/x-raw,width=320,height=180 ! fakesink \
  >"$WORK/holder.log" 2>&1 &
holder=$!
trap 'rc=$?; kill "$holder" 2>/dev/null; (exit $rc); cleanup' EXIT
for _ in $(seq 300); do
  grep -q 'Setting pipeline to PLAYING' "$WORK/holder.log" && break
  sleep 0.1
done
grep -q 'Setting pipeline to PLAYING' "$WORK/holder.log" ||
  { cat "$WORK/holder.log" >&2; fail "the other program does not stream"; }
sleep 1

start_field_app
press start
expect_one_box 60 "in use"
note "descriptors of $DEVICE after the box: $(video_fds)"
# Nothing runs, so a capture writes nothing.
press single
sleep 2
[ -z "$(ls -A "$PICTURES")" ] || fail "a capture after the failure wrote $(ls -A "$PICTURES")"
quit_app
kill "$holder"
