#!/usr/bin/env bash
# Checks the export and import tables of a built Vo5170s.dll: every export name and ordinal
# exactly as the scanning applications expect them (nothing missing, extra or renumbered),
# the export directory naming the library "Vo5170s.dll", and imports from system DLLs only.
# Usage: check_exports.sh path/to/Vo5170s.dll [objdump]
set -euo pipefail
dll=${1:?usage: check_exports.sh Vo5170s.dll [objdump]}
objdump=${2:-i686-w64-mingw32-objdump}

expected=$(cat <<'LIST'
1 LD_OpenScanner
2 LD_CloseScanner
3 LD_GetScannerAbility
4 LD_ResetScanner
5 LD_DeviceInit
6 LD_SetScanParameter
7 LD_ReadScan
8 LD_StopScan
9 LD_GetScannerStatus
10 LD_GetLampStatus
11 LD_LampOn
12 LD_LampOff
13 LD_DiagnosticTest
14 _FindScanner@12
15 _GLGpioOE@4
16 _GLGpioRead@0
17 _GLGpioWrite@4
18 _GLReadEPPDataPort@0
19 _GLReadSPPControlPort@0
20 _GLReadSPPStatusPort@0
21 _GLWriteEPPAddressPort@4
22 _GLWriteEPPDataPort@4
23 _GLWriteSPPControlPort@4
24 _GLWriteSPPDataPort@4
25 _GeneCloseHandle@0
26 _UsbReadScanner@12
27 _UsbReadScannerFast@12
28 _UsbReadScannerLines@16
29 _UsbWriteScanner@12
30 _UsbWriteScannerAD@8
31 _UsbWriteScannerFw@8
LIST
)

dump=$("$objdump" -p "$dll")
fail=0

# "[   0] +base[   1] 0000 LD_OpenScanner" rows of the name pointer table.
actual=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*+base\[[[:space:]]*\([0-9]*\)\][[:space:]]*[0-9a-fA-F]*[[:space:]]*\(.*\)$/\1 \2/p' | sort -n)
if [[ "$actual" != "$expected" ]]; then
  echo "export table differs from the expected list:"
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true
  fail=1
else
  echo "exports: 31 of 31 names and ordinals as expected"
fi

name=$(printf '%s\n' "$dump" | sed -n 's/^Name[[:space:]]*[0-9a-fA-F]*[[:space:]]*\(.*\)$/\1/p' | head -1)
if [[ "$name" != "Vo5170s.dll" ]]; then
  echo "export directory names the library '$name', expected 'Vo5170s.dll'"
  fail=1
else
  echo "export directory: Vo5170s.dll"
fi

allowed='^(KERNEL32\.dll|ole32\.dll|msvcrt\.dll)$'
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*\(.*\)$/\1/p' | sort -u)
for dllname in $imports; do
  if ! [[ "$dllname" =~ $allowed ]]; then
    echo "unexpected import: $dllname"
    fail=1
  fi
done
echo "imports: $(echo $imports)"
exit $fail
