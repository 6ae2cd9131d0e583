#!/usr/bin/env bash
# Runs a Windows program under Wine in a fresh, private Wine prefix, quietly.
set -euo pipefail
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tavirex-wine.XXXXXX")
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$prefix"' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine || command -v wine64 || echo /usr/lib/wine/wine64)
"$wine" "$@"
