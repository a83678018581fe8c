#!/usr/bin/env bash
# The installer and the uninstaller run elevated from folders where anyone may
# have left a DLL, so each may import only DLLs that Windows loads from
# System32 whatever the folder holds (KnownDLLs), and no runtime DLL of the
# compiler at all.
#   check_imports.sh OBJDUMP EXE
set -euo pipefail
objdump=$1 exe=$2
known='^(advapi32|combase|gdi32|kernel32|msvcrt|ole32|oleaut32|psapi|rpcrt4|sechost|shell32|shlwapi|user32|ws2_32)\.dll$'

mapfile -t dlls < <("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ "${#dlls[@]}" -gt 0 ] || { echo "no import table found in $exe"; exit 1; }
status=0
for dll in "${dlls[@]}"; do
  lower=${dll,,}
  if [[ $lower == version.dll ]]; then
    echo "imports $dll: a version.dll left next to the program would load before main;" \
         "its functions are bound through the platform table's lazy entries instead"
    status=1
  elif [[ ! $lower =~ $known ]]; then
    echo "imports $dll, which is not a KnownDLL of Windows"
    status=1
  fi
done
echo "imports: ${dlls[*]}"
exit $status
