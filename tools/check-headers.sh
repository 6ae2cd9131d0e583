#!/usr/bin/env bash
# The public headers compile alone, with every warning as an error and
# -pedantic-errors, in each language standard they promise: C89, C99, C11,
# C17 and C++98, C++11, C++17, C++20 (their opening comments say so). Each
# translation unit includes one header and uses what it defines, so an unused
# function or a keyword of a later standard is caught.
# usage: check-headers.sh [CC [CXX]]   (default cc and c++; run with gcc and clang in CI)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cc=${1:-cc} cxx=${2:-c++}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
use_tavirex='int use(void) { return Tavirex_SetDeviceFree() + TAVIREX_VERSION; }'
use_errors='const char* use(void) { return tavirex_result_text(TAVIREX_OK); }'
use_link='int use(void) { return TAVIREX_LINK_READ; }'
failed=0
for header in tavirex tavirex_errors tavirex_link; do
  use="use_$header"
  [ "$header" = tavirex_errors ] && use=use_errors
  [ "$header" = tavirex_link ] && use=use_link
  printf '#include "%s.h"\n%s\n' "$header" "${!use}" >"$work/$header.c"
  cp "$work/$header.c" "$work/$header.cpp"
  for std in c89 c99 c11 c17; do
    "$cc" -std=$std -pedantic-errors -Wall -Wextra -Werror -I"$root/include" -c "$work/$header.c" -o "$work/o" ||
      { echo "check-headers: include/$header.h does not compile as $std with $cc" >&2; failed=1; }
  done
  for std in c++98 c++11 c++17 c++20; do
    "$cxx" -std=$std -pedantic-errors -Wall -Wextra -Werror -I"$root/include" -c "$work/$header.cpp" -o "$work/o" ||
      { echo "check-headers: include/$header.h does not compile as $std with $cxx" >&2; failed=1; }
  done
done
[ $failed -eq 0 ] && echo "check-headers: tavirex.h, tavirex_errors.h, tavirex_link.h compile as C89, C99, C11, C17, C++98, C++11, C++17, C++20 ($cc, $cxx)"
exit $failed
