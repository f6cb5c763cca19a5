#!/usr/bin/env bash
# Runs the Windows-side test scripts (tests/wine/run_*.sh) against a win64 build directory
# under Wine and sums their "N passed, N failed" lines.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/win64}
total_pass=0
total_fail=0
status=0
for script in tests/wine/run_*.sh; do
  [[ -e $script ]] || continue
  echo "== $script"
  log=$(mktemp)
  bash "$script" "$build" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  line=$(grep -E '^([A-Za-z]+: )?[0-9]+ passed, [0-9]+ failed' "$log" | tail -1 || true)
  rm -f "$log"
  if [[ -n $line ]]; then
    p=$(sed -E 's/^([A-Za-z]+: )?([0-9]+) passed, ([0-9]+) failed.*/\2/' <<<"$line")
    f=$(sed -E 's/^([A-Za-z]+: )?([0-9]+) passed, ([0-9]+) failed.*/\3/' <<<"$line")
    total_pass=$((total_pass + p))
    total_fail=$((total_fail + f))
  fi
  if [[ $rc -ne 0 ]]; then
    status=1
    [[ -z $line ]] && total_fail=$((total_fail + 1))
  fi
done
echo "wine: $total_pass passed, $total_fail failed"
exit $status
