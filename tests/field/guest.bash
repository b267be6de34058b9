#!/bin/bash
# Inside the guest, as root on the overlay over the host's root: the kernel's own file systems,
# udev and the vivid driver, then each check in turn, bounded, with its output, status and time
# in the results share.
set -uo pipefail
results=/field-results
awk '{ print $1 }' /proc/uptime >"$results/boot.seconds"
. "$results/job"
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root LANG=C.UTF-8 FIELD_RIG FIELD_E2E FIELD_KERNEL_ROOT STILLWICK_FIELD_EXPECT_FD_RELEASE
unset LC_ALL LANGUAGE DISPLAY WAYLAND_DISPLAY XDG_RUNTIME_DIR DBUS_SESSION_BUS_ADDRESS

# What udev and systemd would add to the kernel's /dev.
ln -s /proc/self/fd /dev/fd
for n in 0:stdin 1:stdout 2:stderr; do ln -s "/proc/self/fd/${n%%:*}" "/dev/${n#*:}"; done
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
# Fresh, empty temporary folders: the host's own (its X and lock files) would mislead the
# guest's programs. The host folders of this job that lie in one are bound aside first and
# put back in place after.
fresh=(/dev/shm /tmp /run /var/tmp)
kept=()
IFS=: read -ra trees <<<"$FIELD_TREES"
for tree in "${trees[@]}"; do
  hidden=""
  for dir in "${fresh[@]}"; do [[ $tree != "$dir"/* ]] || hidden=1; done
  for dir in "${kept[@]}"; do [[ $tree != "$dir" && $tree != "$dir"/* ]] || hidden=""; done
  [ -n "$hidden" ] || continue
  mkdir -p "/field-kept/${#kept[@]}" && mount --bind "$tree" "/field-kept/${#kept[@]}" &&
    kept+=("$tree")
done
for dir in "${fresh[@]}"; do
  mount -t tmpfs -o mode=1777 tmpfs "$dir"
done
for i in "${!kept[@]}"; do
  mkdir -p "${kept[$i]}" && mount --move "/field-kept/$i" "${kept[$i]}"
done
echo "guest: $(uname -r), script started $(cat "$results/boot.seconds") s after boot"

# udev, as on any desktop: GStreamer's v4l2 device provider takes a device's bus path (part of
# the identity the program stores) from it, and its monitor lists only nodes udev identified.
/lib/systemd/systemd-udevd --daemon
echo "guest: udev up $(awk '{ print $1 }' /proc/uptime) s after boot"
# vivid, set up as one webcam:
#   n_devs=1          one instance, so one device in the list ("vivid");
#   node_types=0x1    only its video capture node: no output, VBI, radio, SDR, metadata or
#                     touch nodes, so /dev/video0 is the only /dev/video* the program can hold;
#   vid_cap_nr=0      and it is /dev/video0 whatever else the kernel made;
#   num_inputs=1,
#   input_types=0x0   one input, a webcam: it lists discrete frame sizes and intervals as USB
#                     cameras do (the TV and S-Video inputs give standards, HDMI a size range),
#                     so "the largest size" has one answer, 3840x2160 in this kernel;
#   no_error_inj is left off: the disconnect control is one of the error injections.
export FIELD_VIVID_OPTIONS="n_devs=1 node_types=0x1 vid_cap_nr=0 num_inputs=1 input_types=0x0"
# shellcheck disable=SC2086 # the options are words
modprobe -d "$FIELD_KERNEL_ROOT" vivid $FIELD_VIVID_OPTIONS
udevadm trigger --subsystem-match=video4linux --action=add
udevadm settle --timeout=60
echo "guest: vivid loaded $(awk '{ print $1 }' /proc/uptime) s after boot"
[ -e /dev/video0 ] || echo "guest: vivid made no /dev/video0"
v4l2-ctl -d /dev/video0 --info --list-formats-ext --list-ctrls-menus >"$results/vivid.txt" 2>&1
udevadm info -q property -n /dev/video0 >>"$results/vivid.txt" 2>&1

# One plugin registry for every start of the program, from the host's scan brought up to date
# here (no test-camera plugin is on the path).
export FIELD_REGISTRY=/tmp/field-registry.bin
cp "$results/registry.bin" "$FIELD_REGISTRY" 2>/dev/null
GST_REGISTRY=$FIELD_REGISTRY GST_REGISTRY_FORK=no GST_PLUGIN_PATH="" gst-inspect-1.0 v4l2src >/dev/null
echo "guest: ready $(awk '{ print $1 }' /proc/uptime) s after boot"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
seconds() { printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)); }

# RULE.status, RULE.log and RULE.seconds for each rule of a check, from the check's output;
# the rule running when the check stopped takes its status, rules it never reached say so.
split_results() {
  local check=$1 rules=$2 status=$3 ended=$4 current="" since=0 line name at early=""
  while IFS= read -r line; do
    if [[ $line == "::rule "* ]]; then
      read -r _ name at <<<"$line"
      [ -z "$current" ] || finish "$current" 0 $((at - since))
      current=$name since=$at
      printf '%s' "$early" >"$results/$current.log"
      early=""
    elif [ -n "$current" ]; then
      printf '%s\n' "$line" >>"$results/$current.log"
    else
      early+="$line"$'\n'
    fi
  done <"$results/check-$check.log"
  if [ -n "$current" ]; then
    [ "$status" != 124 ] || echo "FAIL: stopped after ${FIELD_CHECK_SECONDS:-540} s" >>"$results/$current.log"
    finish "$current" "$status" $((ended - since))
  fi
  for name in ${rules//,/ }; do
    [ -e "$results/$name.status" ] && continue
    printf '%s' "$early" >"$results/$name.log"
    echo "FAIL: not reached: check $check ended with status $status first" >>"$results/$name.log"
    finish "$name" "$([ "$status" != 0 ] && echo "$status" || echo 1)" 0
  done
}
finish() {
  echo "$2" >"$results/$1.status"
  seconds "$3" >"$results/$1.seconds"
  echo "guest: $1: status $2, $(cat "$results/$1.seconds") s"
}

# Each check is "NAME:RULE,RULE...", run as checks/NAME.sh.
for entry in $FIELD_CHECKS; do
  check=${entry%%:*}
  timeout --kill-after=5 "${FIELD_CHECK_SECONDS:-540}" \
    bash "$FIELD_RIG/checks/$check.sh" "$FIELD_BIN" "" >"$results/check-$check.log" 2>&1
  status=$?
  split_results "$check" "${entry#*:}" "$status" "$(now_ms)"
done
echo finished >"$results/done"
