#!/usr/bin/env bash
# Debian's own validators on the package in $1: lintian with no error, warning or hardening
# tag, desktop-file-validate on the installed entry, appstreamcli on the installed metainfo
# and on the tree (which finds the entry it launches), hardening-check on the binary.
set -euo pipefail
out=$1
version=$2
deb="$out/stillwick_${version}_$(dpkg --print-architecture).deb"

missing=()
for tool in lintian desktop-file-validate appstreamcli hardening-check; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "SKIPPED: ${missing[*]} not installed (scripts/bootstrap installs them)"
  exit 77
fi
[ -f "$deb" ] || { echo "FAIL: no package $deb" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"
dpkg-deb -x "$deb" "$root"
failed=0

echo "== lintian"
# Hardening tags are only informational; a package that lost its hardening flags fails here.
if ! lintian --no-cfg --fail-on error,warning --display-info "$deb" >"$work/lintian.txt" 2>&1; then
  failed=1
fi
grep -v 'running with root privileges' "$work/lintian.txt" || true
if grep -q ': hardening-' "$work/lintian.txt"; then
  echo "FAIL: lintian finds the binary not hardened" >&2
  failed=1
fi

echo "== desktop-file-validate"
entry="$root/usr/share/applications/stillwick.desktop"
report=$(desktop-file-validate "$entry" 2>&1) || failed=1
[ -z "$report" ] || echo "$report"
# Some errors are still reported with success ("will be fatal in the future").
if grep -Eq ': (error|warning):' <<<"$report"; then
  failed=1
fi

echo "== appstreamcli"
metainfo="$root/usr/share/metainfo/io.github.stillwick.Stillwick.metainfo.xml"
appstreamcli validate --no-net "$metainfo" || failed=1
appstreamcli validate-tree --no-net "$root" || failed=1

echo "== hardening-check"
# Debian 12's C start files carry no CET note, so no binary linked here can show one.
hardening-check --nocfprotection "$root/usr/bin/stillwick" || failed=1

[ "$failed" -eq 0 ] || { echo "FAIL: a validator rejects the package" >&2; exit 1; }
echo "all validators accept $deb"
