#!/usr/bin/env bash
# The signed release: its signature verifies and covers the image (a changed
# byte breaks it), its checksum file matches, and the image still runs.
#   check_signed.sh WORK VERSION WINE_RUN PREFIX
set -uo pipefail
work=$1 version=$2 wine_run=$3 prefix=$4
dist="$work/second-copy/dist"
signed=$dist/qzv.ua.brq.install.exe
status=0
fault() { echo "$*"; status=1; }

(cd "$dist" && sha256sum --check --quiet SHA256SUMS) || fault "SHA256SUMS does not match"
# The throwaway certificate is its own root: trusted for this check only.
verify() { osslsigncode verify -CAfile "$work/signer.pem" -in "$1" 2>&1; }
out=$(verify "$signed") || fault "signature does not verify: $out"
grep -q '^Message digest algorithm *: SHA256' <<<"$out" || fault "not signed with SHA-256: $out"

python3 - "$signed" "$work/tampered.exe" <<'PY'
import sys
image = bytearray(open(sys.argv[1], "rb").read())
image[0x400] ^= 1  # first byte of the first section
open(sys.argv[2], "wb").write(image)
PY
out=$(verify "$work/tampered.exe") && fault "a changed byte still verifies: $out"
grep -q MISMATCH <<<"$out" || fault "a changed byte is not reported as a digest mismatch: $out"

trap '"$wine_run" "$prefix" --kill' EXIT
answer=$("$wine_run" "$prefix" "$signed" --version) || fault "the signed image fails to run"
[ "$answer" = "$version"$'\r' ] || fault "the signed image answers --version with '$answer'"
echo "signed image: $(stat -c %s "$signed") bytes, --version: ${answer%$'\r'}"
exit $status
