#!/usr/bin/env bash
# Checks release images, the installer's and the uninstaller's: hardening
# flags, console subsystem, no debug sections, imports of KnownDLLs only, and
# what their resources carry (version block, manifest, the installer's
# payloads; check_resources.py, which tells the programs apart by the file
# name). Prints every fault under the image's name, then the image's size.
#   check_image.sh OBJDUMP EXE... VERSION
set -uo pipefail
[ $# -ge 3 ] || { echo "usage: check_image.sh OBJDUMP EXE... VERSION" >&2; exit 2; }
objdump=$1 version=${*: -1}
exes=("${@:2:$#-2}")
here=$(dirname "$0")
status=0
fault() { echo "$*"; status=1; }

for exe in "${exes[@]}"; do
  echo "${exe##*/}:"
  headers=$("$objdump" -p "$exe") || { fault "not a PE image: $exe"; continue; }
  for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
    grep -Eq "^[[:space:]]+$flag\$" <<<"$headers" || fault "DllCharacteristics lack $flag"
  done
  grep -Eq '^Subsystem[[:space:]]+0+3[[:space:]]+\(Windows CUI\)' <<<"$headers" ||
    fault "not a console program: $(grep '^Subsystem' <<<"$headers")"
  debug=$("$objdump" -h "$exe" | awk '$2 ~ /^\.(debug|zdebug)/ { print $2 }' | tr '\n' ' ')
  [ -z "$debug" ] || fault "debug sections: $debug"
  bash "$here/check_imports.sh" "$objdump" "$exe" || status=1
  python3 "$here/check_resources.py" "$exe" "$version" || status=1
done
exit $status
