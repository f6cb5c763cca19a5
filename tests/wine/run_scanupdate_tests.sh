#!/usr/bin/env bash
# Runs the win64 build's scanupdate.exe under Wine, in a fresh prefix with the null graphics
# driver (no X server needed): the harness reads the program's resources, then starts it
# once per case, reads its dialog, presses OK, Cancel or the system menu's Close, and reads
# the message box; this script sets the registry with `reg` and checks the system folder's
# vo5170s.dll after each run.
#
#   tests/wine/run_scanupdate_tests.sh [build/win64]     (VERBOSE=1 shows every passed check)
#
# Ends with a line "N passed, N failed"; exits non-zero when anything failed.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build/win64}
build=$(cd "$build" 2>/dev/null && pwd) || { echo "no build directory ${1:-build/win64}"; echo "0 passed, 1 failed"; exit 1; }
bin=$build/bin

passed=0
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
pass() { [[ ${VERBOSE:-0} == 1 ]] && echo "PASS: $*"; passed=$((passed + 1)); }
finish() { echo "$passed passed, $failed failed"; [[ $failed -eq 0 ]]; exit $?; }

for f in scanupdate.exe uitext.dll scanupdate_harness.exe scanupdate_probe.dll; do
  [[ -f $bin/$f ]] || { fail "missing $bin/$f (build the win64 preset first)"; finish; }
done

# The 64-bit loader: this machine runs no 32-bit code.
WINE=${WINE:-}
if [[ -z $WINE ]]; then
  for candidate in /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)" "$(command -v wine 2>/dev/null)"; do
    [[ -n $candidate && -x $candidate ]] && { WINE=$candidate; break; }
  done
fi
[[ -n $WINE ]] || { fail "no wine64 found"; finish; }
WINESERVER=${WINESERVER:-}
if [[ -z $WINESERVER ]]; then
  for candidate in "$(dirname "$WINE")/wineserver" /usr/lib/wine/wineserver64 "$(command -v wineserver 2>/dev/null)"; do
    [[ -n $candidate && -x $candidate ]] && { WINESERVER=$candidate; break; }
  done
fi
[[ -n $WINESERVER ]] || { fail "no wineserver found"; finish; }

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/scanupdate-wine.XXXXXX")
export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  "$WINESERVER" -k >/dev/null 2>&1
  "$WINESERVER" -w >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

wine() { timeout 90 "$WINE" "$@" </dev/null; }

echo "creating the Wine prefix in $WINEPREFIX"
start=$SECONDS
if ! timeout 150 "$WINE" wineboot -i >/dev/null 2>&1; then fail "wineboot -i"; finish; fi
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 || { fail "null graphics driver"; finish; }
# The desktop that wineboot started found no display; start again so that the next one
# comes up on the null driver, with one server for the whole run so that each program
# starts in about a second.
"$WINESERVER" -k >/dev/null 2>&1
"$WINESERVER" -w >/dev/null 2>&1
"$WINESERVER" -p >/dev/null 2>&1
echo "prefix ready after $((SECONDS - start)) s"

# Drive C: the update program with the library and the localisation library beside it,
# the same without uitext.dll, the same without vo5170s.dll, the harness apart from them,
# and the scanning application's folder.
c=$WINEPREFIX/drive_c
system=$c/windows/system32
mkdir -p "$c/lumetra/setup" "$c/lumetra/bare" "$c/lumetra/nodll" "$c/lumetra/harness" "$c/lumetra/app"
printf 'Vo5170s test build %s\n' "$$" >"$c/lumetra/setup/vo5170s.dll"
cp "$bin/scanupdate.exe" "$bin/uitext.dll" "$c/lumetra/setup/"
cp "$bin/scanupdate.exe" "$c/lumetra/setup/vo5170s.dll" "$c/lumetra/bare/"
cp "$bin/scanupdate.exe" "$bin/uitext.dll" "$c/lumetra/nodll/"
cp "$bin/scanupdate_harness.exe" "$bin/scanupdate_probe.dll" "$c/lumetra/harness/"
echo "application" >"$c/lumetra/app/Clearframe.exe"
old_driver="Vo5170s installed earlier, dated later"

key='HKCU\Software\Vestrand-Okalar\QDK\VO Clearframe LT'
set_dir() { wine reg add "$key" /v ProgramDir /d "$1" /f >/dev/null 2>&1 || fail "reg add ProgramDir=$1"; }
delete_key() { wine reg delete "$key" /f >/dev/null 2>&1; }
delete_value() { wine reg delete "$key" /v ProgramDir /f >/dev/null 2>&1; }

# The library already in the system folder is newer than the one being installed.
seed_system() {
  printf '%s\n' "$old_driver" >"$system/vo5170s.dll"
  touch -d '+1 year' "$system/vo5170s.dll"
}

# Counts the harness's PASS / FAIL lines; a harness that fails without saying why counts
# as one failure.
harness() {
  local name=$1
  shift
  local out rc p f
  out=$(wine 'C:\lumetra\harness\scanupdate_harness.exe' "$@" "--name=$name" 2>/dev/null | tr -d '\r')
  rc=$?
  p=$(grep -c '^PASS: ' <<<"$out")
  f=$(grep -c '^FAIL: ' <<<"$out")
  passed=$((passed + p))
  failed=$((failed + f))
  grep '^FAIL: ' <<<"$out"
  [[ ${VERBOSE:-0} == 1 ]] && grep '^PASS: ' <<<"$out"
  if [[ $rc -ne 0 && $f -eq 0 ]]; then fail "$name: harness ended with $rc"; fi
}

check_system() {
  local name=$1 want=$2
  if [[ $want == copied ]]; then
    if cmp -s "$system/vo5170s.dll" "$c/lumetra/setup/vo5170s.dll"; then pass "$name: library copied"; else fail "$name: library not copied into the system folder"; fi
  else
    if [[ $(cat "$system/vo5170s.dll" 2>/dev/null) == "$old_driver" ]]; then pass "$name: system folder's library left alone"; else fail "$name: system folder's library changed"; fi
  fi
}

# run_case NAME FOLDER PRESS EXPECT [harness options...]
run_case() {
  local name=$1 folder=$2 press=$3 expect=$4
  shift 4
  seed_system
  [[ ${VERBOSE:-0} == 1 ]] && echo "== $name ($((SECONDS - start)) s)"
  harness "$name" run "C:\\lumetra\\$folder\\scanupdate.exe" "$press" "$expect" "$@"
  check_system "$name" "$([[ $expect == copied ]] && echo copied || echo untouched)"
}

harness resources template 'C:\lumetra\setup\scanupdate.exe'

set_dir 'C:\lumetra\app\'
run_case cancel setup cancel nothing
run_case system-menu-close setup close nothing
run_case trailing-backslash setup ok copied
set_dir 'C:\lumetra\app\Clearframe.exe'
run_case value-names-a-file setup ok copied
set_dir 'C:\lumetra\app\gone'
run_case no-trailing-backslash-searches-parent setup ok copied
set_dir 'C:\lumetra\app\gone\'
run_case missing-folder setup ok refused
set_dir 'C:\lumetra\gone\Clearframe.exe'
run_case missing-parent setup ok refused
set_dir "C:\\lumetra\\app\\$(printf 'x%.0s' {1..190})\\"
run_case value-over-128-bytes setup ok refused
set_dir 'C:\lumetra\app\'
run_case application-running setup ok refused --app-window
run_case driver-missing-beside-program nodll ok copyfailed
run_case no-localisation-library bare ok copied --no-texts
delete_value
run_case value-missing setup ok refused
delete_key
run_case key-missing setup ok refused

finish
