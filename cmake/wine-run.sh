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
if [ -t 1 ]; then
  exec wine "$exe" "$@"
fi
# Under ctest the program's output goes to a file first. The processes a test
# starts inherit that output; were it ctest's pipe, one of them outliving the
# test would keep ctest waiting to its time-out although the test had ended.
# Whatever still holds the file once the program has ended is named in
# <build>/left-running.txt (scripts/test shows it) and ended: only processes
# holding this run's own output file, so nothing else is touched.
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -f "$out"' EXIT
status=0
wine "$exe" "$@" >"$out" 2>&1 </dev/null || status=$?
# A program that ends in failure without a word did not start (with
# WINEDEBUG=-all Wine keeps even its own errors to itself); seen now and then
# under load. It is run once more, and the first status is said.
if [ "$status" -ne 0 ] && [ ! -s "$out" ]; then
  echo "wine-run: $(basename "$exe") ended with status $status and no output; running it once more"
  status=0
  wine "$exe" "$@" >"$out" 2>&1 </dev/null || status=$?
fi
cat "$out"
# The processes holding the output file, but for Wine's own: its server keeps
# the descriptors of the handles it serves, and a service or the desktop
# process that a test happened to start lives on for the next one.
holders() {
  local pid command
  for pid in $({ find /proc/[0-9]*/fd -maxdepth 1 -lname "$out" 2>/dev/null || true; } |
               cut -d/ -f3 | sort -u); do
    command=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) || continue
    case "${command,,}" in
      */wineserver* | c:\\windows\\*) ;;
      *) echo "$pid" ;;
    esac
  done
}
left=$(holders)
# A job a test left to end by itself gets a moment to do so.
for _ in 1 2 3 4 5 6 7 8 9 10; do
  [ -n "$left" ] || break
  sleep 1
  left=$(holders)
done
if [ -n "$left" ]; then
  {
    echo "$(date -u '+%F %T') after $(basename "$exe") $*:"
    for pid in $left; do
      echo "  $pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"
    done
  } >>"$build_dir/left-running.txt"
  # shellcheck disable=SC2086
  kill $left 2>/dev/null || true
fi
exit "$status"
