#!/usr/bin/env bash
# Checks a release image: hardening flags, console subsystem, no debug
# sections, imports of KnownDLLs only, and what its resources carry (version
# block, manifest, payloads; check_resources.py). Prints every fault, then the
# image's size beside the size of its payload streams.
#   check_image.sh OBJDUMP EXE VERSION
set -uo pipefail
objdump=$1 exe=$2 version=$3
here=$(dirname "$0")
status=0
fault() { echo "$*"; status=1; }

headers=$("$objdump" -p "$exe") || { echo "not a PE image: $exe"; exit 1; }
for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
  grep -Eq "^[[:space:]]+$flag\$" <<<"$headers" || fault "DllCharacteristics lack $flag"
done
grep -Eq '^Subsystem[[:space:]]+0+3[[:space:]]+\(Windows CUI\)' <<<"$headers" ||
  fault "not a console program: $(grep '^Subsystem' <<<"$headers")"
debug=$("$objdump" -h "$exe" | awk '$2 ~ /^\.(debug|zdebug)/ { print $2 }' | tr '\n' ' ')
[ -z "$debug" ] || fault "debug sections: $debug"
bash "$here/check_imports.sh" "$objdump" "$exe" || status=1
python3 "$here/check_resources.py" "$exe" "$version" || status=1
exit $status
