#!/usr/bin/env bash
# Runs a Windows executable under Wine in the build folder's own prefix.
#   wine-run.sh EXE [ARGS...]      run EXE; the prefix is <build>/wineprefix,
#                                  <build> being the parent of EXE's bin/ folder
#   wine-run.sh --init BUILD_DIR   only create BUILD_DIR/wineprefix
# WINEPREFIX, when set, wins. The prefix is created on first use, under a lock
# so that parallel ctest runs do not race to create it.
set -euo pipefail
if [ "${1:-}" = "--init" ]; then
  build_dir=$(cd "$2" && pwd)
  exe=""
else
  exe=$1
  shift
  build_dir=$(cd "$(dirname "$exe")/.." && pwd)
fi
export WINEPREFIX=${WINEPREFIX:-$build_dir/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot -i >/dev/null 2>&1 || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# The wineserver must never be started by a test itself: it would inherit the
# test's output pipes and ctest would wait for them until the time-out.
wineserver -p </dev/null >/dev/null 2>&1 || true
[ -n "$exe" ] || exit 0
exec wine "$exe" "$@"
