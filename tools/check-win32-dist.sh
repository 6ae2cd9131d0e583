#!/usr/bin/env bash
# Checks the 32-bit Windows zip the way a Windows host uses it: from the zip's
# own files only, the example host and a file that takes the address of every
# function of tavirex.h are compiled with the MinGW 32-bit toolchain and linked
# against the zip's Tavirex.lib. Then:
#  - Tavirex.lib defines, for each of the 43 exports, the symbol a caller
#    refers to and its __imp_ pointer (_Tavirex_SaveBitmap3@48 for the
#    __stdcall one);
#  - the linked program imports exactly the 43 names of tools/exports.txt, and
#    nothing else, from Tavirex.dll.
# usage: check-win32-dist.sh ZIP
set -euo pipefail
zip=${1:?usage: check-win32-dist.sh ZIP}
here=$(cd "$(dirname "$0")" && pwd)
cc=${CC_WIN32:-i686-w64-mingw32-gcc}
nm=${NM_WIN32:-i686-w64-mingw32-nm}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 -m zipfile -e "$zip" "$work"
top=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1)
for f in Tavirex.dll Tavirex.lib include/tavirex.h include/tavirex_errors.h README.md examples/host.c; do
  [ -f "$top/$f" ] || { echo "check-win32-dist: $f missing from the zip" >&2; exit 1; }
done

# C names of the exports (_Tavirex_SaveBitmap3@48 is Tavirex_SaveBitmap3).
cnames=$(sed -E 's/^_//; s/@[0-9]+$//' "$here/exports.txt" | sort)

# The symbols a 32-bit caller refers to: a leading underscore, the __stdcall one decorated.
expected=$(sed -E 's/^([^_])/_\1/' "$here/exports.txt" | sort)
defined=$("$nm" "$top/Tavirex.lib" 2>/dev/null | awk '$2 == "T" || $2 == "I" {print $3}' | sort -u)
missing=0
for sym in $expected; do
  for want in "$sym" "__imp_$sym"; do
    grep -qxF -- "$want" <<<"$defined" || { echo "check-win32-dist: Tavirex.lib lacks $want" >&2; missing=1; }
  done
done
[ $missing -eq 0 ] || exit 1
echo "check-win32-dist: Tavirex.lib defines the 43 caller symbols and their __imp_ pointers"

{
  echo '/* Every function of tavirex.h, so that the program imports all of them. */'
  echo '#include "tavirex.h"'
  echo 'typedef void (*tavirex_any_function)(void);'
  echo 'const tavirex_any_function tavirex_every_export[] = {'
  for n in $cnames; do echo "    (tavirex_any_function)$n,"; done
  echo '};'
} > "$work/every_export.c"
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror -I"$top/include" \
  "$top/examples/host.c" "$work/every_export.c" "$top/Tavirex.lib" -o "$work/host.exe"
echo "check-win32-dist: example host linked against Tavirex.lib"

imports=$("$objdump" -p "$work/host.exe" | sed -n '/DLL Name: Tavirex.dll/,/^$/p' |
          awk 'NF == 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ {print $3}' | sort)
if ! diff <(printf '%s\n' "$imports") <(sort "$here/exports.txt"); then
  echo "check-win32-dist: names imported from Tavirex.dll differ from tools/exports.txt (< imported, > expected)" >&2
  exit 1
fi
echo "check-win32-dist: host.exe imports the $(printf '%s\n' "$imports" | wc -l) names of tools/exports.txt from Tavirex.dll"
