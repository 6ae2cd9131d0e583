#!/usr/bin/env bash
# Uses an install the way a new host developer does, away from the source and
# build trees: installs BUILD_DIR into a fresh temporary prefix, checks that
# the install carries what it should, runs the installed `tavirex demo` in an
# unrelated folder (the installed CLI has to find the installed simulated
# module by itself), then builds the example host against the installed CMake
# package and through pkg-config and runs it on the demo's configuration.
# Last, the README's shell recipes for an install (the ```sh blocks of its
# sections "Installing" and "Writing a host") run exactly as written, with DIR
# the fresh install, DIR/bin on the PATH, in a folder that holds examples/ and
# build/; their `make` lines are CI steps of their own and are left out.
# usage: check-install.sh [BUILD_DIR]   (default build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
unset TAVIREX_SIM

cmake --install "$build" --prefix "$prefix" >/dev/null
missing=0
for f in bin/tavirex lib/libtavirex.so lib/libtavirex.a lib/libtvxsim.so \
         include/tavirex.h include/tavirex_errors.h include/tavirex_link.h \
         lib/cmake/Tavirex/TavirexConfig.cmake lib/pkgconfig/tavirex.pc \
         share/man/man1/tavirex.1 share/doc/Tavirex/README.md share/doc/Tavirex/CHANGELOG.md \
         share/doc/Tavirex/examples/host.c share/tavirex/data/tavirex-pano.ini; do
  [ -e "$prefix/$f" ] || { echo "check-install: $f not installed" >&2; missing=1; }
done
[ $missing -eq 0 ] || exit 1
echo "check-install: installed into $prefix"

mkdir -p "$work/elsewhere"
(cd "$work/elsewhere" && "$prefix/bin/tavirex" demo --out demo >demo.log 2>&1) || {
  cat "$work/elsewhere/demo.log"; echo "check-install: the installed tavirex demo failed" >&2; exit 1; }
echo "check-install: the installed tavirex demo ran in an unrelated folder"

cmake -S "$prefix/share/doc/Tavirex/examples" -B "$work/host-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/host-cmake" >/dev/null
cc -std=c99 -Wall -Wextra -Wpedantic -Werror "$prefix/share/doc/Tavirex/examples/host.c" -o "$work/host-pc" \
   $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs tavirex) -Wl,-rpath,"$prefix/lib"
for host in "$work/host-cmake/host" "$work/host-pc"; do
  (cd "$work/elsewhere" && "$host" demo/tavirex-pano.ini demo/speed_pano.txt host.raw host.bmp) || {
    echo "check-install: the example host $host failed" >&2; exit 1; }
  [ -s "$work/elsewhere/host.bmp" ] || { echo "check-install: $host wrote no bitmap" >&2; exit 1; }
  rm -f "$work/elsewhere/host.raw" "$work/elsewhere/host.bmp"
done
echo "check-install: the example host, built with find_package(Tavirex) and with pkg-config, took a picture"

recipes="$work/recipes"
mkdir -p "$recipes"
ln -s "$root/examples" "$recipes/examples"
ln -s "$build" "$recipes/build"
awk '/^## / { section = substr($0, 4) }
     section == "Installing" || section == "Writing a host" {
       if ($0 == "```") on = 0
       if (on && $1 != "make") print
       if ($0 == "```sh") on = 1
     }' "$root/README.md" | sed "s#\bDIR\b#$prefix#g" >"$recipes/recipes.sh"
grep -q pkg-config "$recipes/recipes.sh" || { echo "check-install: no pkg-config recipe found in README.md" >&2; exit 1; }
(cd "$recipes" && PATH="$prefix/bin:$PATH" bash -euo pipefail -x recipes.sh >recipes.log 2>&1) || {
  cat "$recipes/recipes.log"; echo "check-install: a README recipe failed (above)" >&2; exit 1; }
echo "check-install: the README's recipes for an install ran as written ($(grep -c . "$recipes/recipes.sh") commands)"
