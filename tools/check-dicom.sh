#!/usr/bin/env bash
# The demo's DICOM files: dciodvfy finds no error in any, and pydicom reads back
# the processed images, the demo's windows and the modalities (check-dicom.py).
# Usage: tools/check-dicom.sh OUT-FOLDER DEMO-LOG
set -euo pipefail
dir=$1 log=$2
status=0
for kind in pano ceph tomo; do
  report=$(dciodvfy "$dir/$kind.dcm" 2>&1 || true)
  if grep -q '^Error' <<<"$report"; then
    echo "dciodvfy: errors in $dir/$kind.dcm:"; grep '^Error' <<<"$report"; status=1
  else
    echo "dciodvfy: $dir/$kind.dcm has no error"
  fi
done
# Debian's interpreter: pydicom and numpy come from its packages.
/usr/bin/python3 "$(dirname "$0")/check-dicom.py" "$dir" "$log" || status=1
exit $status
