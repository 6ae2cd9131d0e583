#!/usr/bin/env bash
# The man page against the CLI's own help, so the two cannot drift: every command
# that `tavirex --help` lists must have its entry in docs/tavirex.1, and every
# option that a command's --help names must appear in the page.
# usage: tools/check-man.sh path/to/tavirex [man page]
set -u
cli=${1:?usage: check-man.sh path/to/tavirex [man page]}
man=${2:-$(cd "$(dirname "$0")/.." && pwd)/docs/tavirex.1}
missing=0
commands=$("$cli" --help | sed -n '/^commands:/,/^$/s/^  \([a-z][a-z0-9]*\) .*/\1/p')
[ -n "$commands" ] || { echo "check-man: no command list in '$cli --help'" >&2; exit 1; }
for c in $commands; do
  if ! grep -q -E "^\.B (tavirex )?$c( |\\\\|$)" "$man"; then
    echo "check-man: command '$c' has no entry in $man" >&2
    missing=$((missing + 1))
  fi
  for o in $("$cli" "$c" --help 2>&1 | grep -o -E -- '--[a-z][a-z0-9-]*' | sort -u); do
    if ! grep -q -F -- "${o//-/\\-}" "$man"; then
      echo "check-man: option $o of '$c' is not in $man" >&2
      missing=$((missing + 1))
    fi
  done
done
[ "$missing" -eq 0 ] || exit 1
echo "man page: $(echo "$commands" | wc -w) commands and their options, all in $man"
