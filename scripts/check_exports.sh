#!/usr/bin/env bash
# Checks the export and import tables of a built Vo5170s.dll: every export name and ordinal
# exactly as the scanning applications expect them (nothing missing, extra, unnamed or
# renumbered), the export directory naming the library "Vo5170s.dll", and imports from
# system DLLs only (no MinGW runtime DLL may travel with the driver).
# Usage: check_exports.sh path/to/Vo5170s.dll [objdump]
# With the default i686 objdump the file must also be a 32-bit (PE32) image.
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

if [[ ! -f $dll ]]; then
  echo "no such file: $dll"
  exit 1
fi
if ! dump=$("$objdump" -p "$dll" 2>&1); then
  echo "$objdump cannot read $dll:"
  printf '%s\n' "$dump" | head -5
  exit 1
fi
fail=0

format=$(printf '%s\n' "$dump" | sed -n 's/^.*file format[[:space:]]*\([^[:space:]]*\).*$/\1/p' | head -1)
if [[ $objdump == *i686* && $format != pei-i386 ]]; then
  echo "file format '$format', expected pei-i386 (32-bit)"
  fail=1
fi
if ! printf '%s\n' "$dump" | grep -Eq '^[[:space:]]*DLL[[:space:]]*$'; then
  echo "the image is not marked as a DLL"
  fail=1
fi

# The export directory: "Ordinal Base", the two table sizes, then the name table. binutils
# prints the name table either as "[   0] +base[   1] 0000 Name" (older) or, from 2.38 on,
# under "[Ordinal/Name Pointer] Table" as "[   0] Name" with the index into the address
# table (ordinal minus base).
base=$(printf '%s\n' "$dump" | sed -n 's/^Ordinal Base[[:space:]]*\([0-9]*\).*$/\1/p' | head -1)
address_count=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*Export Address Table[[:space:]]*\([0-9a-fA-F][0-9a-fA-F]*\)[[:space:]]*$/\1/p' | head -1)
actual=$(printf '%s\n' "$dump" | awk -v base="${base:-1}" '
  /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
  names && /^[[:space:]]*$/ { names = 0; next }
  names && match($0, /^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]+/) {
    idx = $0; sub(/^[[:space:]]*\[[[:space:]]*/, "", idx); sub(/\].*$/, "", idx)
    name = substr($0, RLENGTH + 1)
    print idx + base, name; next
  }
  /\+base\[/ && $NF != "RVA" {
    line = $0; sub(/^.*\+base\[[[:space:]]*/, "", line)
    ord = line; sub(/\].*$/, "", ord)
    n = split(line, f, /[[:space:]]+/)
    print ord, f[n]
  }' | sort -n)

if [[ -z $base ]]; then
  echo "no export table"
  fail=1
elif [[ "$actual" != "$expected" ]]; then
  echo "export table differs from the expected list (< expected, > found):"
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true
  fail=1
elif [[ $((16#${address_count:-0})) -ne 31 ]]; then
  echo "export address table has $((16#${address_count:-0})) entries, expected 31 (an export by ordinal only?)"
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

# System DLLs only; DLL names are case-insensitive on Windows.
allowed='^(kernel32\.dll|ole32\.dll|msvcrt\.dll)$'
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*\(.*\)$/\1/p' | sort -u)
for dllname in $imports; do
  lower=$(tr '[:upper:]' '[:lower:]' <<<"$dllname")
  if ! [[ "$lower" =~ $allowed ]]; then
    echo "unexpected import: $dllname"
    fail=1
  fi
done
echo "imports: $(echo $imports)"
exit $fail
