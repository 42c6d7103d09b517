#!/usr/bin/env bash
# Runs a Windows executable under Wine in the build folder's own prefix.
#   wine-run.sh EXE [ARGS...]      run EXE; the prefix is <build>/wineprefix,
#                                  <build> being the parent of EXE's bin/ folder
#   wine-run.sh --init BUILD_DIR   only create the prefix and start its server
# WINEPREFIX, when set, wins.
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
mkdir -p "$WINEPREFIX"
# Creating the prefix, and starting the wineserver with Wine's background
# services (winedevice, explorer), happen once, under a lock, with output
# detached: a service started by a test would inherit the test's output pipes
# and ctest would wait for them until its time-out.
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
  fi
  # (The lock's descriptor is closed for them, or they would hold the lock.)
  if wineserver -p </dev/null >/dev/null 2>&1 9>&-; then
    wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$WINEPREFIX.lock"
[ -n "$exe" ] || exit 0
exec wine "$exe" "$@"
