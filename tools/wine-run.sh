#!/usr/bin/env bash
# Runs a Windows program under Wine in a fresh, private Wine prefix, quietly.
# usage: tools/wine-run.sh [--32] PROGRAM [ARGUMENTS...]
# A 64-bit program runs under the 64-bit loader (Debian's wine64), a 32-bit one
# (--32) under the 32-bit loader (wine32), each named explicitly: plain `wine`
# picks the 32-bit loader whenever wine32 is installed, and a kernel that cannot
# run 32-bit programs cannot start that ("Exec format error").
set -euo pipefail
if [ "${1:-}" = --32 ]; then
  shift
  loader=/usr/lib/wine/wine arch=win32
  [ -x "$loader" ] || loader=$(command -v wine || echo wine)
else
  loader=/usr/lib/wine/wine64 arch=win64
  [ -x "$loader" ] || loader=$(command -v wine64 || echo wine64)
fi
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tavirex-wine.XXXXXX")
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$prefix"' EXIT
# WINELOADER: the programs Wine starts itself (wineboot, cmd.exe) use the same loader.
export WINEPREFIX="$prefix" WINEARCH="$arch" WINELOADER="$loader" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$loader" "$@"
