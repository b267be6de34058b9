#!/usr/bin/env bash
# Makes the package from the build tree $1 into the folder $2, as `make deb` does, so the
# checks that follow see the stripped binary and the files the install rules put in.
set -euo pipefail
build=$1
out=$2
rm -rf "$out"
mkdir -p "$out"
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log"
  echo "FAIL: cpack could not make the package" >&2
  exit 1
fi
ls "$out"/*.deb
