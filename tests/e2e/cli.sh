#!/usr/bin/env bash
# The command line of the real binary, with no display at all: --help and --version print and
# end with 0; anything else it does not know prints an error and the usage and ends with 2.
source "$(dirname "$0")/lib.bash"

run() {
  set +e
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$STILLWICK_BIN" "$@" \
    >"$WORK/out" 2>"$WORK/err"
  status=$?
  set -e
}

check() {  # arguments... -- status, text expected in stdout, text expected in stderr
  local args=() ; while [ "$1" != -- ]; do args+=("$1"); shift; done; shift
  run "${args[@]}"
  [ "$status" = "$1" ] || fail "${args[*]}: status $status, not $1; $(cat "$WORK/err")"
  [ -z "$2" ] || grep -qF -- "$2" "$WORK/out" || fail "${args[*]}: stdout lacks \"$2\""
  [ -n "$2" ] || [ ! -s "$WORK/out" ] || fail "${args[*]}: stdout not empty"
  [ -z "$3" ] || grep -qF -- "$3" "$WORK/err" || fail "${args[*]}: stderr lacks \"$3\""
  [ -n "$3" ] || [ ! -s "$WORK/err" ] || fail "${args[*]}: stderr not empty: $(cat "$WORK/err")"
}

check --help -- 0 "Usage: $STILLWICK_BIN [options]" ""
check -h -- 0 "--version" ""
check --version -- 0 "Stillwick 0.1.0" ""
check --bogus -- 2 "" "Unknown option 'bogus'."
grep -qF "Usage:" "$WORK/err" || fail "no usage after an unknown option"
check picture.bmp -- 2 "" "Unexpected argument 'picture.bmp'."
echo "cli: ok"
