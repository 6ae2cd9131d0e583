#!/usr/bin/env bash
# Packs the 32-bit Windows distribution from a build of Tavirex.dll:
#  - Tavirex.lib, an import library for Microsoft's and MinGW's linkers, made
#    with MinGW's dlltool from the 43 export names of tools/exports.txt. A
#    caller of a __cdecl function refers to _Tavirex_X, which imports the plain
#    name Tavirex_X; a __stdcall caller of Tavirex_SaveBitmap3 refers to
#    _Tavirex_SaveBitmap3@48, which imports that very name (the DLL exports it
#    decorated);
#  - Tavirex-<version>-win32.zip: Tavirex.dll, Tavirex.lib, the headers, the
#    README, the change log and the example host's source.
# usage: make-win32-dist.sh BUILD_DIR   (writes BUILD_DIR/dist/)
set -euo pipefail
build=${1:?usage: make-win32-dist.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
dlltool=${DLLTOOL:-i686-w64-mingw32-dlltool}
dll="$build/bin/Tavirex.dll"
[ -f "$dll" ] || { echo "make-win32-dist: $dll is missing (make win32)" >&2; exit 1; }
version=$(sed -n 's/^#define TAVIREX_VERSION_STRING "\(.*\)"$/\1/p' "$root/include/tavirex.h")
name="Tavirex-$version-win32"
dist="$build/dist"
rm -rf "$dist"
mkdir -p "$dist/$name/include" "$dist/$name/examples"

# dlltool puts the i386 underscore in front of each symbol; "SYMBOL == NAME"
# imports NAME for SYMBOL, which keeps the decorated name of the __stdcall export.
{
  echo "LIBRARY Tavirex.dll"
  echo "EXPORTS"
  sed -E 's/^_([A-Za-z0-9_]+@[0-9]+)$/\1 == &/' "$here/exports.txt"
} > "$dist/Tavirex-import.def"
"$dlltool" --input-def "$dist/Tavirex-import.def" --dllname Tavirex.dll --output-lib "$dist/$name/Tavirex.lib"

cp "$dll" "$dist/$name/"
cp "$root/include/tavirex.h" "$root/include/tavirex_errors.h" "$root/include/tavirex_link.h" "$dist/$name/include/"
cp "$root/README.md" "$root/CHANGELOG.md" "$dist/$name/"
cp "$root/examples/host.c" "$dist/$name/examples/"
(cd "$dist" && python3 -m zipfile -c "$name.zip" "$name")
echo "make-win32-dist: $dist/$name.zip"
python3 -m zipfile -l "$dist/$name.zip" | sed 's/^/  /'
