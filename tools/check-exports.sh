#!/usr/bin/env bash
# Checks the export and import tables of the 32-bit Tavirex.dll:
#  - exactly the 43 names of tools/exports.txt, plain except _Tavirex_SaveBitmap3@48;
#  - Tavirex_SetDeviceFree and Tavirex_SetDeviceFree_Tomo at the same address;
#  - no DLL imported beyond the Windows system DLLs and the C runtime.
set -euo pipefail
dll=${1:?usage: check-exports.sh Tavirex.dll}
here=$(cd "$(dirname "$0")" && pwd)
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
dump=$("$objdump" -p "$dll")

names=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
if ! diff <(printf '%s\n' "$names") <(sort "$here/exports.txt"); then
  echo "check-exports: export names differ from tools/exports.txt (< in the DLL, > expected)" >&2
  exit 1
fi
echo "check-exports: $(printf '%s\n' "$names" | wc -l) exports, names as expected"

# Ordinal of a name -> its export address.
rva_of() {
  local ord
  ord=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n "s/^[[:space:]]*\[ *\([0-9]*\)\] $1\$/\1/p")
  printf '%s\n' "$dump" | sed -n '/Export Address Table/,/\[Ordinal\/Name Pointer\]/p' |
    sed -n "s/^[[:space:]]*\[ *$ord\] +base\[ *[0-9]*\] \([0-9a-f]*\) Export RVA/\1/p"
}
a=$(rva_of Tavirex_SetDeviceFree); b=$(rva_of Tavirex_SetDeviceFree_Tomo)
if [ -z "$a" ] || [ "$a" != "$b" ]; then
  echo "check-exports: Tavirex_SetDeviceFree ($a) and Tavirex_SetDeviceFree_Tomo ($b) differ" >&2
  exit 1
fi
echo "check-exports: Tavirex_SetDeviceFree_Tomo is Tavirex_SetDeviceFree (RVA $a)"

allowed='^(kernel32|user32|advapi32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+|ws2_32)\.dll$'
bad=0
for imp in $(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
  if ! printf '%s\n' "$imp" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
    echo "check-exports: unexpected import $imp" >&2
    bad=1
  fi
done
[ $bad -eq 0 ] || exit 1
echo "check-exports: imports only $(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')"
