#!/usr/bin/env bash
# Writes the Task Scheduler definition in the form Task Scheduler itself
# exports and schtasks reads: UTF-16LE with a byte-order mark, CRLF line ends.
#   packaging/task-xml-utf16.sh IN.xml OUT.xml
set -euo pipefail
{
  printf '\xff\xfe'
  sed 's/\r$//; s/$/\r/' "$1" | iconv -f UTF-8 -t UTF-16LE
} > "$2.tmp"
mv "$2.tmp" "$2"
