#!/usr/bin/env bash
# Builds the Windows installer with wixl from packaging/torvane-batch.wxs.
#   packaging/build-msi.sh BIN_DIR VERSION OUTPUT.msi
# BIN_DIR holds the cross-built torvane-batch.exe (build-windows/bin). The
# Task Scheduler definition is shipped in UTF-16 (task-xml-utf16.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -ne 3 ]; then
  echo "usage: $0 BIN_DIR VERSION OUTPUT.msi" >&2
  exit 2
fi
bin_dir=$(cd "$1" && pwd)
version=$2
output=$3
[ -f "$bin_dir/torvane-batch.exe" ] || { echo "$0: no torvane-batch.exe in $bin_dir" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$here/task-xml-utf16.sh" "$here/torvane-batch-task.xml" "$work/torvane-batch-task.xml"
# wixl takes each file's Source relative to the folder it runs in.
cp "$bin_dir/torvane-batch.exe" "$here/../README.md" "$here/torvane-batch.wxs" "$work/"
case $output in /*) ;; *) output=$PWD/$output ;; esac
(cd "$work" && wixl -a x64 -D Version="$version" -o "$output" torvane-batch.wxs)
