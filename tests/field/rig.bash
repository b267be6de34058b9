#!/usr/bin/env bash
# Boots Debian's current kernel under QEMU with the vivid driver and runs the field checks inside
# against the built program. A check (checks/NAME.sh) judges one or more rules on one run of the
# program; each rule leaves RULE.status, RULE.log and RULE.seconds in the results folder for its
# own test to report. The kernel and the initramfs are made from Debian packages alone and
# cached in the build tree; nothing is installed on the host.
# Usage: rig.bash STILLWICK_BIN RESULTS_DIR CACHE_DIR CHECK:RULE,RULE... ...
# Exit status: 0 when the guest ran every check (whatever they found), 77 when this machine
# cannot run the rig (the reason is printed and left in RESULTS_DIR/skipped), 1 otherwise.
# FIELD_GUEST_SECONDS bounds the guest (960), FIELD_CHECK_SECONDS each check in it (540);
# STILLWICK_FIELD_EXPECT_FD_RELEASE=0 passes on to the unplug check, which then reports a
# descriptor left open without failing on it.
set -euo pipefail

rig=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath "$1")
results=$2
cache=$3
shift 3
checks="$*"

rm -rf "$results"
mkdir -p "$results" "$cache"
results=$(realpath "$results")
cache=$(realpath "$cache")

skip() {
  echo "SKIP: $*"
  echo "$*" >"$results/skipped"
  exit 77
}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

for tool in qemu-system-x86_64 busybox depmod modprobe cpio dpkg-deb apt-get v4l2-ctl; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/bootstrap installs it)"
done
busybox=$(command -v busybox)
file -L "$busybox" | grep -q 'statically linked' ||
  skip "$busybox is not static (the rig needs busybox-static)"

# ------------------------------------------------------------------ the kernel, cached

# The release that linux-image-amd64 points at now, from apt's lists; fetched once into the
# cache. Where apt cannot say or fetch it (no lists, no network), a kernel fetched before serves.
exec 9>"$cache/lock"
flock 9  # two runs at once share one download
kdir=""
package=$( (apt-cache depends linux-image-amd64 2>/dev/null || true) |
  sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -1)
version=$([ -z "$package" ] || apt-cache policy "$package" 2>/dev/null | sed -n 's/^ *Candidate: //p')
if [ -z "$package" ] || [ -z "$version" ] || [ "$version" = "(none)" ]; then
  unavailable="apt knows no linux-image-amd64 (apt-get update first)"
else
  key="${package}_$version"
  kdir="$cache/$key"
  if [ ! -e "$kdir/ready" ]; then
    rm -rf "$kdir"
    mkdir -p "$kdir/deb"
    echo "field: fetching $package $version"
    if (cd "$kdir/deb" && apt-get download -q "$package=$version") >"$kdir/download.log" 2>&1; then
      dpkg-deb -x "$kdir"/deb/*.deb "$kdir/root"
      rm -rf "$kdir/deb"
      depmod -b "$kdir/root" "${package#linux-image-}"
      echo "${package#linux-image-}" >"$kdir/ready"
      find "$cache" -mindepth 1 -maxdepth 1 -type d ! -name "$key" -exec rm -rf {} +
    else
      sed 's/^/  apt: /' "$kdir/download.log"
      rm -rf "$kdir"
      kdir=""
      unavailable="the kernel package $package $version cannot be downloaded"
    fi
  fi
fi
if [ -z "$kdir" ]; then
  kdir=$(find "$cache" -mindepth 2 -maxdepth 2 -name ready -printf '%h\n' | head -1)
  [ -n "$kdir" ] || skip "$unavailable"
  echo "field: $unavailable; using the kernel fetched before, $(basename "$kdir")"
fi
release=$(cat "$kdir/ready")

# The initramfs: busybox and the modules that reach the host's root, in load order; made
# again when its init script changes.
stamp=$(sha256sum "$rig/initramfs-init" | cut -c1-16)
if [ ! -e "$kdir/initramfs-$stamp.img" ]; then
  rm -f "$kdir"/initramfs-*.img
  initrd="$kdir/initramfs.d"
  rm -rf "$initrd"
  mkdir -p "$initrd"/{bin,modules,proc,sys,dev,lower,rw,newroot}
  cp "$busybox" "$initrd/bin/busybox"
  cp "$rig/initramfs-init" "$initrd/init"
  chmod 0755 "$initrd/init"
  for module in virtio_pci 9pnet_virtio 9p overlay; do
    modprobe -d "$kdir/root" -S "$release" --show-depends "$module" | sed -n 's/^insmod //p'
  done | awk '!seen[$1]++ { print $1 }' | while read -r ko; do
    cp "$ko" "$initrd/modules/"
    basename "$ko" >>"$initrd/modules/order"
  done
  (cd "$initrd" && find . | cpio -o -H newc --quiet) | gzip -1 >"$kdir/initramfs-$stamp.img"
  rm -rf "$initrd"
fi
flock -u 9

# ------------------------------------------------------------------ the machine

# KVM only on hardware virtualisation. A /dev/kvm of another kind (kvm_pvm, nested through page
# tables) hangs a stock kernel right after its real-mode set-up, so there it is TCG.
accel=(-accel tcg,thread=multi -cpu max)
accel_name=tcg
if [ -w /dev/kvm ] && { grep -qE '^(kvm_intel|kvm_amd) ' /proc/modules 2>/dev/null ||
  [ -d /sys/module/kvm_intel ] || [ -d /sys/module/kvm_amd ]; }; then
  accel=(-accel kvm -cpu host)
  accel_name=kvm
fi

{
  printf 'FIELD_RIG=%q\n' "$rig"
  printf 'FIELD_E2E=%q\n' "$(cd "$rig/../e2e" && pwd)"
  printf 'FIELD_KERNEL_ROOT=%q\n' "$kdir/root"
  printf 'FIELD_BIN=%q\n' "$bin"
  # The folders the guest reads from the host, which stay visible also under a folder the guest
  # mounts afresh (a clone in /tmp).
  printf 'FIELD_TREES=%q\n' "$(cd "$rig/../.." && pwd):$(dirname "$bin"):$cache"
  printf 'FIELD_CHECKS=%q\n' "$checks"
  printf 'FIELD_CHECK_SECONDS=%q\n' "${FIELD_CHECK_SECONDS:-540}"
  printf 'STILLWICK_FIELD_EXPECT_FD_RELEASE=%q\n' "${STILLWICK_FIELD_EXPECT_FD_RELEASE:-1}"
} >"$results/job"

# The plugin registry, scanned here at native speed: the guest reads the same plugin files
# through the share, so it rescans only what differs there.
env -u GST_PLUGIN_SYSTEM_PATH -u GST_PLUGIN_SYSTEM_PATH_1_0 GST_REGISTRY="$results/registry.bin" \
  GST_REGISTRY_FORK=no GST_PLUGIN_PATH="" gst-inspect-1.0 >/dev/null 2>&1 || true

echo "field: $(basename "$kdir"), $accel_name, checks: $checks"
now_ms() { echo $(($(date +%s%N) / 1000000)); }
started=$(now_ms)
status=0
# The guest bounds every check itself; this bounds a guest that hangs anyway.
timeout --kill-after=10 "${FIELD_GUEST_SECONDS:-960}" \
  qemu-system-x86_64 "${accel[@]}" -smp 2 -m 2048 \
  -nodefaults -no-user-config -display none -monitor none -serial stdio -no-reboot \
  -kernel "$kdir/root/boot/vmlinuz-$release" -initrd "$kdir/initramfs-$stamp.img" \
  -append "console=ttyS0 panic=-1 quiet loglevel=4" \
  -virtfs local,path=/,mount_tag=hostroot,readonly=on,multidevs=remap,security_model=none \
  -virtfs "local,path=$results,mount_tag=results,multidevs=remap,security_model=none" \
  </dev/null 2>&1 | tee "$results/console.log" || status=$?
echo "field: the guest ran $((($(now_ms) - started) / 1000)) s (status $status)"

[ -e "$results/done" ] || fail "the guest did not finish its checks (see the console above)"
echo "field: guest started its script $(cat "$results/boot.seconds") s after boot"
for entry in $checks; do
  rules=${entry#*:}
  for rule in ${rules//,/ }; do
    printf 'field: %-8s status %s, %s s\n' "$rule" "$(cat "$results/$rule.status" 2>/dev/null || echo -)" \
      "$(cat "$results/$rule.seconds" 2>/dev/null || echo -)"
  done
done
