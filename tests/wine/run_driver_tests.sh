#!/usr/bin/env bash
# The driver DLL under Wine, from a win64 build directory: the test program with
# Vo5170s.dll, run twice in a fresh Wine prefix,
#   1. with the virtual scanner's sti.dll beside it (preferred over Wine's own);
#   2. against Wine's own sti.dll, no scanner attached (no virtual sti.dll anywhere near).
# Prints "driver: N passed, N failed" last and exits non-zero on any failure.
# Usage: run_driver_tests.sh <win64 build dir>
set -uo pipefail

build=${1:?usage: run_driver_tests.sh <win64 build dir>}
summary() {
  echo "driver: $1 passed, $2 failed"
}
if ! build=$(cd "$build" 2>/dev/null && pwd); then
  echo "no build directory: $1"
  summary 0 1
  exit 1
fi

program=$build/tests/wine/driver/driver_wine_test.exe
driver=$build/bin/Vo5170s.dll
sti=$build/vscan/win/sti.dll
missing=0
for f in "$program" "$driver" "$sti"; do
  if [[ ! -f $f ]]; then
    echo "missing: $f (build the win64 preset first)"
    missing=1
  fi
done
if [[ $missing -ne 0 ]]; then
  summary 0 1
  exit 1
fi

source "$(dirname "$0")/wine_prefix.sh"
if ! wine_prefix driver; then
  summary 0 1
  exit 1
fi

passed=0
failed=0

# run <name> <folder> <overrides> <argument>
run() {
  local name=$1 folder=$2 overrides=$3 argument=$4
  local log=$work/$name.log
  echo "== $name"
  (cd "$folder" && WINEDLLOVERRIDES=$overrides timeout 600 "$wine" driver_wine_test.exe "$argument") \
    >"$log.crlf" 2>&1
  local rc=$?
  tr -d '\r' <"$log.crlf" >"$log"  # the Windows console ends its lines with CR LF
  # Wine's own chatter goes to the same log; the program's lines are what counts.
  grep -Ev '^(wine: |[0-9a-f]{4}:(fixme|err|warn):)' "$log" || true
  local line
  line=$(grep -E '^RESULT [0-9]+ [0-9]+' "$log" | tail -1)
  if [[ -z $line ]]; then
    echo "$name: the program ended without a result (exit status $rc)"
    failed=$((failed + 1))
    return
  fi
  local p f
  read -r _ p f <<<"$line"
  passed=$((passed + p))
  failed=$((failed + f))
  if [[ $rc -ne 0 && $f -eq 0 ]]; then
    echo "$name: exit status $rc"
    failed=$((failed + 1))
  fi
}

mkdir -p "$work/virtual" "$work/absent"
cp "$program" "$driver" "$sti" "$work/virtual/"
cp "$program" "$driver" "$work/absent/"

run "virtual scanner" "$work/virtual" "sti=n,b;mscoree,mshtml=" virtual
# Wine's built-in sti.dll only.
run "no scanner" "$work/absent" "sti=b;mscoree,mshtml=" absent

summary "$passed" "$failed"
[[ $failed -eq 0 ]]
