#!/usr/bin/env bash
# The signed release: each image's signature verifies and covers the image (a
# changed byte breaks it), the checksum file lists exactly the two images, the
# installer carries the signed uninstaller, and each image still runs.
#   check_signed.sh WORK VERSION WINE_RUN PREFIX
set -uo pipefail
work=$1 version=$2 wine_run=$3 prefix=$4
dist="$work/second-copy/dist"
names=(qzv.ua.brq.install.exe qzv.ua.brq.uninstall.exe)
status=0
fault() { echo "$*"; status=1; }

diff <(cd "$dist" && sha256sum "${names[@]}") "$dist/SHA256SUMS" ||
  fault "SHA256SUMS does not list the checksums of exactly the two images"
# The removal program the installer installs is the signed one.
out=$(python3 "$(dirname "$0")/../checks/check_resources.py" "$dist/${names[0]}" "$version" "$dist/${names[1]}") ||
  fault "the signed installer: $out"
# The throwaway certificate is its own root: trusted for this check only.
verify() { osslsigncode verify -CAfile "$work/signer.pem" -in "$1" 2>&1; }
trap '"$wine_run" "$prefix" --kill' EXIT
for name in "${names[@]}"; do
  signed=$dist/$name
  out=$(verify "$signed") || fault "$name: signature does not verify: $out"
  grep -q '^Message digest algorithm *: SHA256' <<<"$out" || fault "$name: not signed with SHA-256: $out"

  python3 - "$signed" "$work/tampered.exe" <<'PY'
import sys
image = bytearray(open(sys.argv[1], "rb").read())
image[0x400] ^= 1  # in the headers or the first section: both are signed
open(sys.argv[2], "wb").write(image)
PY
  out=$(verify "$work/tampered.exe") && fault "$name: a changed byte still verifies: $out"
  grep -q MISMATCH <<<"$out" || fault "$name: a changed byte is not reported as a digest mismatch: $out"

  answer=$("$wine_run" "$prefix" "$signed" --version) || fault "$name: the signed image fails to run"
  [ "$answer" = "$version"$'\r' ] || fault "$name: the signed image answers --version with '$answer'"
  echo "$name: $(stat -c %s "$signed") bytes, --version: ${answer%$'\r'}"
done
exit $status
