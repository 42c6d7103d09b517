#!/usr/bin/env bash
# The `packages` leg of scripts/test: builds the Debian package and the
# Windows installer and checks them as a user would meet them.
#   .deb: its content list, the program run with --version from a scratch
#         root where the package was unpacked, the systemd units verified,
#         the manual page formatted with every warning on.
#   .msi: installed under Wine (a prefix of its own), the installed program
#         run with --version, the Task Scheduler definition checked, an
#         upgrade that keeps the settings, an uninstall that leaves nothing.
# Each part is skipped with a one-line note when a tool it needs is missing.
# Exits non-zero when a check that ran failed.
#   packaging/check-packages.sh [readme|deb|msi]   one part only
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1
version=$(sed -n 's/^project(torvane-batch VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
status=0
failures=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "packages: FAILED: $*"
  status=1
  failures=$((failures + 1))
}
# passed SINCE TEXT: TEXT, when nothing failed since the count SINCE.
passed() {
  [ "$failures" -eq "$1" ] && echo "packages: $2"
}
missing_tool() {  # missing_tool PART TOOL PACKAGE...: skips PART when TOOL is absent
  local part=$1 tool=$2
  shift 2
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "packages: $part skipped: $tool not found (install $*)"
    return 0
  fi
  return 1
}

# The settings a site may set; the manual page and the README name each.
settings=(FILEMSGSYS FILEMSGU_TORVANE FILEUSERS REPSOFTWARE LANGUAGE BATCHJOBTIMEOUT
          BATCHJOBPAUSE BATCHENDCOMMAND BATCHENGINE BATCHSLURMOPTIONS)

check_deb() {
  missing_tool deb cpack cmake && return
  missing_tool deb dpkg-deb dpkg && return
  echo "=== packages: Debian package"
  { cmake --preset default >/dev/null &&
    cmake --build --preset default --target torvane-batch manpage >/dev/null &&
    (cd build && cpack -G DEB >"$scratch/cpack.log" 2>&1); } ||
    { cat "$scratch/cpack.log"; fail "deb: build"; return; }
  local deb=build/torvane-batch_${version}_amd64.deb mark=$failures
  [ -f "$deb" ] || { fail "deb: $deb was not made"; return; }

  local expected actual
  expected=$(printf '%s\n' ./usr/bin/torvane-batch \
    ./usr/lib/systemd/system/torvane-batch.service \
    ./usr/lib/systemd/system/torvane-batch.timer \
    ./usr/share/doc/torvane-batch/README.md \
    ./usr/share/man/man1/torvane-batch.1.gz | sort)
  actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
  [ "$actual" = "$expected" ] ||
    fail "deb: content list differs:$(diff <(echo "$expected") <(echo "$actual") | sed 's/^/ /')"
  # No maintainer script: nothing is enabled or started by the install.
  dpkg-deb -I "$deb" | grep -Eq '^ +[0-9]+ bytes, +[0-9]+ lines +\*? *(pre|post)(inst|rm)' &&
    fail "deb: has maintainer scripts"

  local unpacked=$scratch/deb-root
  dpkg -x "$deb" "$unpacked" || { fail "deb: dpkg -x"; return; }
  local output
  # No settings anywhere: an empty TORVANE_PREFIX and a home of nothing.
  mkdir -p "$scratch/no-settings"
  run_unpacked() {
    env -i PATH=/usr/bin:/bin HOME="$scratch/no-settings" TORVANE_PREFIX="$scratch/no-settings" \
      "$unpacked/usr/bin/torvane-batch" "$@"
  }
  if ! output=$(run_unpacked --version) || [ "$output" != "torvane-batch $version" ]; then
    fail "deb: the unpacked program's --version said '$output'"
  fi
  if ! output=$(run_unpacked --help) || [[ $output != "Usage: torvane-batch"* ]]; then
    fail "deb: the unpacked program's --help failed"
  fi
  passed "$mark" "deb: contents and the unpacked program's --version checked"

  mark=$failures
  local manpage=$unpacked/usr/share/man/man1/torvane-batch.1.gz
  if ! missing_tool "man page check" groff groff-base; then
    local warnings
    warnings=$(zcat "$manpage" | groff -man -ww -z 2>&1) && [ -z "$warnings" ] ||
      fail "deb: groff warns on the man page: $warnings"
    local section
    for section in NAME SYNOPSIS OPTIONS SETTINGS FILES "EXIT STATUS" EXAMPLES; do
      zcat "$manpage" | grep -q "^\.SH \"\?$section\"\?$" || fail "deb: man page lacks $section"
    done
    local setting
    for setting in "${settings[@]}"; do
      zcat "$manpage" | grep -q "^\.B $setting$" || fail "deb: man page lacks $setting"
    done
    passed "$mark" "deb: man page formatted without warning"
  fi

  mark=$failures
  local units=$unpacked/usr/lib/systemd/system
  grep -qx 'Type=oneshot' "$units/torvane-batch.service" || fail "deb: service is not oneshot"
  grep -qx 'User=.*' "$units/torvane-batch.service" || fail "deb: service names no user"
  grep -qx 'ExecStart=/usr/bin/torvane-batch' "$units/torvane-batch.service" ||
    fail "deb: service does not start /usr/bin/torvane-batch"
  grep -qx 'OnCalendar=\*-\*-\* 22:00:00' "$units/torvane-batch.timer" ||
    fail "deb: timer is not every night at 22:00"
  grep -qx 'Persistent=true' "$units/torvane-batch.timer" || fail "deb: timer not persistent"
  if ! missing_tool "systemd unit check" systemd-analyze systemd; then
    # systemd-analyze checks that the program exists on this machine: the
    # units are verified as copies that name the unpacked program, and the
    # manual page they cite is looked up in the unpacked tree.
    local copies=$scratch/units
    mkdir -p "$copies"
    cp "$units"/torvane-batch.* "$copies/"
    sed -i "s|^ExecStart=/usr/bin/|ExecStart=$unpacked/usr/bin/|" "$copies/torvane-batch.service"
    local verify
    verify=$(MANPATH=$unpacked/usr/share/man systemd-analyze verify \
      "$copies/torvane-batch.service" "$copies/torvane-batch.timer" 2>&1) && [ -z "$verify" ] ||
      fail "deb: systemd-analyze verify: $verify"
    passed "$mark" "deb: systemd units verified"
  fi
}

# wine_reg_value KEY NAME: the value's data, or nothing.
wine_reg_value() {
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v name="$2" '$1 == name {
    sub(/^[ \t]*[^ \t]+[ \t]+REG_[A-Z_]+[ \t]+/, ""); print }'
}

# What an install may leave behind: files under drive_c and the installer's
# entries in the registry. (Windows Installer's own cache folder, made by the
# first install on a fresh prefix, is the system's, not the package's; what
# the package puts in it counts.)
wine_snapshot() {
  (cd "$WINEPREFIX/drive_c" && find . -path ./windows/temp -prune -o -print | sort |
    grep -vx './windows/Installer')
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
    tr -d '\r' | grep -i 'torvane\|quarrow'
}

check_msi() {
  missing_tool msi wixl wixl && return
  missing_tool msi x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64 && return
  missing_tool msi wine wine64 && return
  missing_tool msi python3 python3 && return
  echo "=== packages: Windows installer"
  { cmake --preset windows >/dev/null && cmake --build --preset windows --target msi >/dev/null; } ||
    { fail "msi: build"; return; }
  local msi=$root/build-windows/torvane-batch-${version}-x64.msi mark=$failures
  [ -f "$msi" ] || { fail "msi: $msi was not made"; return; }

  # A fresh prefix of its own, so that "nothing left behind" compares with a
  # machine that never had the program.
  export WINEPREFIX=$root/build-windows/msi-wineprefix
  export WINEDEBUG=-all
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  cmake/wine-run.sh --init build-windows

  local key='HKLM\SOFTWARE\Quarrow Labs\Torvane8'
  local before
  before=$(wine_snapshot)
  # The site's settings, written before the install as a site would.
  wine reg add "$key" /v FILEUSERS /t REG_SZ /d 'C:\site\users.tvu' /f >/dev/null 2>&1

  wine msiexec /i "$(winepath -w "$msi")" /qn || { fail "msi: install"; wineserver -k; return; }
  local program_files folder
  program_files=$(wine cmd /c 'echo %ProgramFiles%' | tr -d '\r')
  folder=$(winepath -u "$program_files\\Quarrow Labs\\Torvane Batch")
  local file
  for file in torvane-batch.exe README.md torvane-batch-task.xml; do
    [ -f "$folder/$file" ] || fail "msi: $file not installed in $folder"
  done
  local output
  output=$(wine "$folder/torvane-batch.exe" --version | tr -d '\r')
  [ "$output" = "torvane-batch $version" ] || fail "msi: installed --version said '$output'"
  python3 packaging/check_task_xml.py "$folder/torvane-batch-task.xml" "$program_files" \
    "$program_files\\Quarrow Labs\\Torvane Batch\\torvane-batch.exe" || fail "msi: task definition"
  passed "$mark" "msi: installed under Wine, --version and the task definition checked"

  mark=$failures
  # An upgrade: a later version replaces this one in place and the
  # settings stay.
  local later=${version%.*}.$((${version##*.} + 1))
  packaging/build-msi.sh build-windows/bin "$later" "$scratch/later.msi" >/dev/null ||
    { fail "msi: build of $later"; return; }
  wine msiexec /i "$(winepath -w "$scratch/later.msi")" /qn || fail "msi: upgrade"
  local entries
  entries=$(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s \
    2>/dev/null | tr -d '\r' | grep -c 'DisplayName.*Torvane Batch')
  [ "$entries" = 1 ] || fail "msi: $entries installed products after the upgrade"
  [ -f "$folder/torvane-batch.exe" ] || fail "msi: the upgrade removed the program"
  [ "$(wine_reg_value "$key" FILEUSERS)" = 'C:\site\users.tvu' ] ||
    fail "msi: the upgrade lost the settings"

  wine msiexec /x "$(winepath -w "$scratch/later.msi")" /qn || fail "msi: uninstall"
  [ ! -e "$folder" ] || fail "msi: $folder is still there after the uninstall"
  [ "$(wine_reg_value "$key" FILEUSERS)" = 'C:\site\users.tvu' ] ||
    fail "msi: the uninstall removed the site's settings"
  wine reg delete "$key" /f >/dev/null 2>&1
  local after
  after=$(wine_snapshot)
  [ "$before" = "$after" ] ||
    fail "msi: left behind:$(diff <(echo "$before") <(echo "$after") | sed 's/^/ /')"
  passed "$mark" "msi: upgrade kept the settings, uninstall left nothing behind"
  wineserver -k >/dev/null 2>&1 || true
}

# The README a new user follows: its install and nightly sections, and one
# row for each setting in its table.
check_readme() {
  local section setting
  for section in "Install" "Run it every night" "Exit statuses" "Machine settings"; do
    grep -qx "## $section" README.md || fail "README: no section \"$section\""
  done
  for setting in "${settings[@]}"; do
    [ "$(grep -c "^| \`$setting\` |" README.md)" = 1 ] ||
      fail "README: not one row for $setting in the settings table"
  done
}

case ${1:-all} in
  readme) check_readme ;;
  deb) check_deb ;;
  msi) check_msi ;;
  all) check_readme; check_deb; check_msi ;;
  *) echo "usage: $0 [readme|deb|msi]" >&2; exit 2 ;;
esac
exit "$status"
