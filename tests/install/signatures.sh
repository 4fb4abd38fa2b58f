#!/usr/bin/env bash
# The signatures of the built package and of the files it carries: each
# verifies against the test CA the package was signed with, all five carry
# the same signer, none verifies against another CA, and one byte changed
# anywhere in what is signed makes verification fail. The shipped files
# carry no debug information, only the link to their symbol file.
#
#   signatures.sh PACKAGE_DIR   (as tests/install/make-packages.sh left it)
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
dir="$1/new"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

SIGN_WORK=$(mktemp -d)
trap 'rm -rf "$SIGN_WORK"' EXIT
source "$ROOT/installer/signing.sh"
ca="$dir/test-ca.pem"
[ -s "$ca" ] || { echo "FAILED: no test CA in $dir"; exit 1; }

msi=$(ls "$dir"/TessalySendlet-*.msi)
signed=("$msi")
for name in zinpost.exe zinpostresult.dll ZinExt.dll SetupActions.dll; do signed+=("$dir/files/$name"); done

# Another CA of the same make, to show that verification trusts only its own.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -keyout "$SIGN_WORK/other.key" -out "$SIGN_WORK/other.pem" \
  -subj "/O=KORVANTA/CN=Tessaly Sendlet TEST CA - not for distribution" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" 2>/dev/null

identity=$(signer_fingerprint "$msi")
[ -n "$identity" ] || fail "no signer in $msi"
for file in "${signed[@]}"; do
  name=$(basename "$file")
  SIGN_CAFILE=$ca
  verify_file "$file" 2>/dev/null || fail "$name does not verify against the test CA"
  [ "$(signer_fingerprint "$file")" = "$identity" ] || fail "$name has another signer than the package"
  SIGN_CAFILE="$SIGN_WORK/other.pem"
  verify_file "$file" 2>/dev/null && fail "$name verifies against a CA that did not sign it"

  # One byte changed inside the signed content: for a PE file the first
  # byte of its code, for the package a text of its string pool.
  copy="$SIGN_WORK/changed-$name"
  cp "$file" "$copy"
  if [ "$file" = "$msi" ]; then
    offset=$(grep -a -b -o 'KORVANTA' "$copy" | head -1 | cut -d: -f1)
  else
    offset=$(x86_64-w64-mingw32-objdump -h "$copy" | awk '$2 == ".text" { print $6 }')
    [ -n "$offset" ] && offset=$((16#$offset))
  fi
  if [ -z "$offset" ]; then
    fail "$name: nothing found to change"
  else
    byte=$(od -An -tu1 -j "$offset" -N1 "$copy" | tr -d ' ')
    printf "\\$(printf '%03o' $(( (byte + 1) % 256 )))" | dd of="$copy" bs=1 seek="$offset" conv=notrunc status=none
    cmp -s "$file" "$copy" && fail "$name: the change did not happen"
    SIGN_CAFILE=$ca
    verify_file "$copy" 2>/dev/null && fail "$name verifies with a changed byte at $offset"
  fi
done

for name in zinpost.exe zinpostresult.dll ZinExt.dll SetupActions.dll; do
  file="$dir/files/$name"
  x86_64-w64-mingw32-objdump -h "$file" | grep -q ' \.debug_' && fail "$name still carries debug information"
  grep -aq "$name.debug" "$file" || fail "$name does not link to $name.debug"
  [ -s "$dir/files/$name.debug" ] || fail "no symbol file $name.debug"
done

if [ "$failures" -eq 0 ]; then
  echo "${#signed[@]} signed files verified; 0 failed"
else
  echo "$failures failed"
  exit 1
fi
