#!/usr/bin/env bash
# Keeps the dependency rules of the source tree:
#  - nothing under src/ includes the export layer (src/api/);
#  - processing steps (of both pipelines) and output functions never reach the
#    globals (state/context.h), directly or through a header that includes it:
#    only the pipeline drivers read the records;
#  - the configuration file is read only by the readers in src/config/;
#  - Windows-only code lives in src/platform/;
#  - the library starts threads only in the worker pool (src/platform/workers.cpp);
#  - the command-line host uses the public headers, the simulated module's
#    control header, the platform utilities and its own files only;
#  - the simulated module uses the public headers, its own files and, from
#    src/, only the file holder (platform/file.h), which includes nothing of
#    the library: the module never links it.
set -euo pipefail
cd "$(dirname "$0")/.."
fail=0
report() { echo "layering: $*" >&2; fail=1; }

while IFS= read -r hit; do report "$hit includes the export layer"; done \
  < <(grep -rn --include='*.cpp' --include='*.h' '#include "api/' src || true)

# The headers under src/ that reach the globals: state/context.h itself and every
# header that includes one of them, found by repeating until nothing is added.
quoted_includes() { sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]+"([^"]+)".*/\1/p' "$1"; }
reaching=" state/context.h "
added=1
while [ "$added" -eq 1 ]; do
  added=0
  while IFS= read -r header; do
    h=${header#src/}
    [[ $reaching == *" $h "* ]] && continue
    for inc in $(quoted_includes "$header"); do
      if [[ $reaching == *" $inc "* ]]; then reaching+="$h "; added=1; break; fi
    done
  done < <(find src -name '*.h' | sort)
done

while IFS= read -r file; do
  for inc in $(quoted_includes "$file"); do
    if [[ $reaching == *" $inc "* ]]; then
      if [ "$inc" = state/context.h ]; then report "$file: a step or output function reaches the globals"
      else report "$file: a step or output function reaches the globals through $inc"; fi
    fi
  done
done < <(find src/processing src/tomo_processing src/output -name '*.cpp' -o -name '*.h' | sort \
           | grep -v -E '^src/(tomo_)?processing/pipeline\.')

while IFS= read -r hit; do report "$hit: the configuration is read outside src/config/"; done \
  < <(grep -rn --include='*.cpp' --include='*.h' '#include "platform/profile.h"' src \
        | grep -v -E '^src/(config|platform)/' || true)

while IFS= read -r hit; do report "$hit: Windows-only code outside src/platform/"; done \
  < <(grep -rn --include='*.cpp' --include='*.h' -E '#\s*if.*(_WIN32|_MSC_VER|__MINGW)' src cli \
        | grep -v '^src/platform/' || true)

while IFS= read -r hit; do report "$hit: a thread started outside the worker pool"; done \
  < <(grep -rn --include='*.cpp' --include='*.h' -E '#include <(thread|future)>|pthread_create|CreateThread|_beginthread|std::(thread|jthread|async)\b' src \
        | grep -v '^src/platform/workers\.cpp:' || true)

while IFS= read -r line; do
  file=${line%%:*}
  header=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$line")
  case "$header" in
    tavirex.h|tavirex_errors.h|tavirex_link.h|tvxsim_control.h|platform/*) ;;
    */*) report "$file includes $header: the CLI is a host" ;;
    *) [ -f "cli/$header" ] || report "$file includes $header: the CLI is a host" ;;
  esac
done < <(grep -rn --include='*.cpp' --include='*.h' '#include "' cli || true)

while IFS= read -r line; do
  file=${line%%:*}
  header=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$line")
  case "$header" in
    tavirex.h|tavirex_errors.h|tavirex_link.h|tvxsim_control.h|platform/file.h) ;;
    */*) report "$file includes $header: the simulated module does not use the library" ;;
    *) [ -f "sim/$header" ] || report "$file includes $header: the simulated module does not use the library" ;;
  esac
done < <(grep -rn --include='*.cpp' --include='*.h' '#include "' sim || true)

while IFS= read -r hit; do report "$hit: platform/file.h must need nothing but the C library"; done \
  < <(grep -n '#include "' src/platform/file.h || true)

[ "$fail" -eq 0 ] && echo "layering: ok"
exit "$fail"
