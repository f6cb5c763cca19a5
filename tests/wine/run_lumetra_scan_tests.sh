#!/usr/bin/env bash
# lumetra-scan.exe under Wine, from a win64 build directory: the front end loads
# Vo5170s.dll from its own folder and scans the virtual scanner (its sti.dll beside it).
# Checks the image on standard output byte for byte (no newline translation), a file
# written with -o, the formats this build lacks, and the failures without a driver and
# without a scanner. Prints "frontend: N passed, N failed" last.
# Usage: run_lumetra_scan_tests.sh <win64 build dir>
set -uo pipefail

build=${1:?usage: run_lumetra_scan_tests.sh <win64 build dir>}
summary() { echo "frontend: $1 passed, $2 failed"; }
if ! build=$(cd "$build" 2>/dev/null && pwd); then
  echo "no build directory: $1"
  summary 0 1
  exit 1
fi

program=$build/bin/lumetra-scan.exe
driver=$build/bin/Vo5170s.dll
sti=$build/vscan/win/sti.dll
for f in "$program" "$driver" "$sti"; do
  if [[ ! -f $f ]]; then
    echo "missing: $f (build the win64 preset first)"
    summary 0 1
    exit 1
  fi
done

source "$(dirname "$0")/wine_prefix.sh"
if ! wine_prefix scan; then
  summary 0 1
  exit 1
fi

mkdir -p "$work/virtual" "$work/absent" "$work/nodriver"
cp "$program" "$driver" "$sti" "$work/virtual/"
cp "$program" "$driver" "$work/absent/"
cp "$program" "$work/nodriver/"

passed=0
failed=0
check() {  # check <name> <condition result>
  if [[ $2 -eq 0 ]]; then
    passed=$((passed + 1))
    echo "ok   $1"
  else
    failed=$((failed + 1))
    echo "FAIL $1"
    [[ -s $work/err ]] && tr -d '\r' <"$work/err" | sed 's/^/     /'
  fi
}

# scan <folder> <sti override> <arguments...>: image to $work/out, messages to $work/err
scan() {
  local folder=$1 sti=$2
  shift 2
  (cd "$work/$folder" && WINEDLLOVERRIDES="sti=$sti;mscoree,mshtml=" timeout 300 "$wine" lumetra-scan.exe "$@") \
    >"$work/out" 2>"$work/err"
  status=$?
}
messages() { tr -d '\r' <"$work/err"; }

# Grey 50 x 30 mm at 150 dpi: 295 x 177 pixels behind the header "P5\n# 150 dpi\n295 177\n255\n".
scan virtual n,b --mode Gray --resolution 150 -x 50 -y 30
size=$(stat -c %s "$work/out")
check "grey PNM on standard output, exit 0" $([[ $status -eq 0 ]]; echo $?)
check "PNM header and exactly 295 x 177 bytes of image" \
  $([[ $(head -c 25 "$work/out" | tr '\n' ' ') == "P5 # 150 dpi 295 177 255 " && $size -eq $((25 + 295 * 177)) ]]; echo $?)

scan virtual n,b --mode Lineart --resolution 300 -x 20 -y 10 -o art.pbm
check "line art into a file" $([[ $status -eq 0 && $(head -c 2 "$work/virtual/art.pbm") == P4 ]]; echo $?)

scan virtual n,b -x 10 -y 10 -o scan.png
check "PNG refused in this build with exit 2" $([[ $status -eq 2 ]] && messages | grep -q "cannot write png"; echo $?)

scan virtual n,b --resolution 700
check "resolution 700 refused with exit 2" $([[ $status -eq 2 && ! -s $work/out ]] && messages | grep -q "outside 100..600"; echo $?)

scan nodriver n,b -x 10 -y 10
check "no Vo5170s.dll beside the program: exit 1" \
  $([[ $status -eq 1 ]] && messages | grep -q "cannot load the driver"; echo $?)

scan absent b -x 10 -y 10
check "no scanner: exit 1 with the status in words" \
  $([[ $status -eq 1 ]] && messages | grep -q "device not open or open failed"; echo $?)

summary "$passed" "$failed"
[[ $failed -eq 0 ]]
