#!/usr/bin/env bash
# Builds the release twice, as two developers would on two machines: from
# two copies of the tracked tree in different directories, one after the
# other. The first copy is released unsigned; the second one signed with a
# throwaway self-signed certificate, which leaves the unsigned images (the
# installer and the uninstaller) in its build tree for the comparison.
#   build_two_releases.sh SOURCE WORK
set -euo pipefail
source=$1 work=$2
rm -rf "$work"
mkdir -p "$work"

# The files git tracks (or would track) as they are in the working tree; in a
# tree that is no git checkout, every file but the build trees.
copy_tree() {
  mkdir -p "$2"
  if git -C "$1" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$1" ls-files -z --cached --others --exclude-standard |
      (cd "$1" && while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done) |
      tar -C "$1" --null -T - -cf - | tar -C "$2" -xf -
  else
    tar -C "$1" --exclude=./build --exclude=./build-release -cf - . | tar -C "$2" -xf -
  fi
}

copy_tree "$source" "$work/first"
bash "$work/first/tools/release" "$work/first/dist"

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway release test signer" \
  -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/signer.key" -out "$work/signer.pem" 2>/dev/null
copy_tree "$source" "$work/second-copy"
BRQ_SIGN_CERT=$work/signer.pem BRQ_SIGN_KEY=$work/signer.key \
  bash "$work/second-copy/tools/release" "$work/second-copy/dist"
