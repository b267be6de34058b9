#!/usr/bin/env bash
# What the package in $1 holds and needs, read with dpkg-deb alone: its Debian file name,
# the files a user needs and nothing from the build (the test camera, libraries, test
# programs), its dependencies, and one version everywhere a release is named.
set -euo pipefail
out=$1
version=$2
arch=$(dpkg --print-architecture)
failed=0
fail() {
  echo "FAIL: $*" >&2
  failed=1
}

debs=$(cd "$out" && ls -- *.deb)
[ "$debs" = "stillwick_${version}_${arch}.deb" ] || {
  echo "FAIL: package file(s) '$debs', expected stillwick_${version}_${arch}.deb" >&2
  exit 1
}
deb="$out/$debs"

# Mode, owner and path of every file and link; folders are implied by their files.
listing=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "/", $6); print $1, $2, $6 }')
echo "$listing"
expect_file() {
  grep -qxF -- "$1 root/root $2" <<<"$listing" || fail "no $2 with mode $1 and owner root"
}
expect_file -rwxr-xr-x /usr/bin/stillwick
expect_file -rw-r--r-- /usr/share/applications/stillwick.desktop
expect_file -rw-r--r-- /usr/share/icons/hicolor/scalable/apps/stillwick.svg
expect_file -rw-r--r-- /usr/share/metainfo/io.github.stillwick.Stillwick.metainfo.xml
expect_file -rw-r--r-- /usr/share/man/man1/stillwick.1.gz
expect_file -rw-r--r-- /usr/share/doc/stillwick/copyright
expect_file -rw-r--r-- /usr/share/doc/stillwick/changelog.gz

paths=$(awk '{ print $3 }' <<<"$listing")
stray=$(grep -v '^/usr/share/' <<<"$paths" | grep -vx /usr/bin/stillwick || true)
[ -z "$stray" ] || fail "files outside /usr/share besides the program: $stray"
grep -qi testcam <<<"$paths" && fail "the test camera is packaged"
grep -Eq '\.(a|so|h)$' <<<"$paths" && fail "build products are packaged"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = stillwick ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
echo "Depends: $(field Depends)"
echo "Recommends: $(field Recommends)"
# Named ones load at run time (plugins, fonts) where no library link shows them; the
# libraries come from the binary's own links.
for need in qt6-qpa-plugins libqt6svg6 gstreamer1.0-plugins-base gstreamer1.0-plugins-good \
  fonts-arphic-uming libqt6widgets6 libgstreamer1.0-0 libgstreamer-plugins-base1.0-0; do
  grep -Eq "(^|, )$need( |,|$)" <<<"$(field Depends)" || fail "Depends lacks $need"
done
grep -Eq '(^|, )qt6-wayland( |,|$)' <<<"$(field Recommends)" || fail "Recommends lacks qt6-wayland"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
gzip -dc "$root/usr/share/doc/stillwick/changelog.gz" >"$root/changelog"
changelog=$(dpkg-parsechangelog -l "$root/changelog" -S Version)
[ "$changelog" = "$version" ] || fail "newest changelog entry is $changelog, not $version"
release=$(/usr/bin/python3 -c '
import sys, xml.etree.ElementTree as ET
first = ET.parse(sys.argv[1]).find("releases/release")
print(first.get("version") if first is not None else "")
' "$root/usr/share/metainfo/io.github.stillwick.Stillwick.metainfo.xml")
[ "$release" = "$version" ] || fail "newest metainfo release is '$release', not $version"

[ "$failed" -eq 0 ] || exit 1
echo "package $deb holds and needs what it should"
