#!/usr/bin/env bash
# The real program starts under X with no settings file: a 791 x 422 window "Stillwick" opens,
# and typing one character into the prefix field creates the settings file with one key.
source "$(dirname "$0")/lib.bash"

start_x
start_app
win=$(wait_window Stillwick)

geometry=$(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: //p')
[ "$geometry" = "791x422" ] || fail "window geometry is $geometry, not 791x422"
ini="$WORK/app/参数设置.INI"
[ ! -e "$ini" ] || fail "a settings file exists before any change"

# The prefix field lies at 58,107 (59 x 18) in the left panel.
click_at "$win" 100 115
xdotool key --window "$win" End
xdotool type --window "$win" --delay 50 "x"
for _ in $(seq 50); do [ -e "$ini" ] && break; sleep 0.1; done
[ -e "$ini" ] || fail "no settings file after typing"

content=$(tr -d '\r' <"$ini")
expected=$'[START]\nedPreText=voZU-x'
[ "$content" = "$expected" ] || fail "settings file holds: $content"
echo "startup: ok"
