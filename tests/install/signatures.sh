#!/usr/bin/env bash
# The signatures of the built packages and of the files they carry, for
# both identities the packaging script knows (a PKCS#12 file from the
# environment, its throwaway test CA): each verifies against the CA that
# signed it, all five of a package carry the same signer, none verifies
# against another CA, and one byte changed in what is signed makes
# verification fail. The shipped files carry no debug information, only the
# link to their symbol file. The sparse package TessalySendlet.msix is one of
# the signed files, and is read by the independent
# tests/install/msix/check_package.py: its block map against its files, its
# content types, the Explorer command's class id, and its Publisher against
# the subject of the certificate that signed the installer package.
#
#   signatures.sh PACKAGE_DIR   (as tests/install/make-packages.sh left it)
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
failures=0
checked=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
SPARSE=TessalySendlet.msix
EXPLORER_COMMAND_CLSID=EA041F6B-2F8E-4425-897B-6F7A3ED05619

SIGN_WORK=$(mktemp -d)
trap 'rm -rf "$SIGN_WORK"' EXIT
source "$ROOT/installer/signing.sh"
# Another CA of the same make, to show that verification trusts only its own.
make_test_ca "$SIGN_WORK/other" "/O=KORVANTA/CN=Tessaly Sendlet TEST CA - not for distribution" 1

# Changes one byte of $1 in what the signature covers: for a PE file the
# first byte of its code, for the package a text of its string pool, for
# the sparse package the middle byte of its manifest's compressed data.
change_one_byte() {
  local file=$1 offset byte
  if [[ "$file" == *.msi ]]; then
    offset=$(grep -a -b -o 'KORVANTA' "$file" | head -1 | cut -d: -f1)
  elif [[ "$file" == *.msix ]]; then
    offset=$(python3 - "$file" <<'PY'
import struct, sys, zipfile
info = zipfile.ZipFile(sys.argv[1]).getinfo("AppxManifest.xml")
with open(sys.argv[1], "rb") as f:
    f.seek(info.header_offset + 26)
    name_length, extra_length = struct.unpack("<HH", f.read(4))
print(info.header_offset + 30 + name_length + extra_length + info.compress_size // 2)
PY
)
  else
    offset=$(x86_64-w64-mingw32-objdump -h "$file" | awk '$2 == ".text" { print $6 }')
    [ -n "$offset" ] && offset=$((16#$offset))
  fi
  [ -n "$offset" ] || return 1
  byte=$(od -An -tu1 -j "$offset" -N1 "$file" | tr -d ' ')
  printf "\\$(printf '%03o' $(((byte + 1) % 256)))" | dd of="$file" bs=1 seek="$offset" conv=notrunc status=none
}

check_package_dir() {
  local dir=$1 ca="$1/ca.pem" msi name file copy identity signed
  [ -s "$ca" ] || { fail "no CA in $dir"; return; }
  msi=$(ls "$dir"/TessalySendlet-*.msi)
  signed=("$msi")
  for name in zinpost.exe zinpostresult.dll ZinExt.dll SetupActions.dll $SPARSE; do signed+=("$dir/files/$name"); done
  identity=$(signer_fingerprint "$msi")
  [ -n "$identity" ] || fail "no signer in $msi"
  signer_certificate "$msi" >"$SIGN_WORK/signer.pem" || fail "no signer certificate in $msi"

  # The sparse package as an independent reader sees it, whole and with a
  # byte changed.
  python3 "$ROOT/tests/install/msix/check_package.py" "$dir/files/$SPARSE" --clsid "$EXPLORER_COMMAND_CLSID" \
    --signer-cert "$SIGN_WORK/signer.pem" || fail "check_package.py refuses $SPARSE ($dir)"
  copy="$SIGN_WORK/changed-$SPARSE"
  cp "$dir/files/$SPARSE" "$copy"
  if change_one_byte "$copy" && ! cmp -s "$dir/files/$SPARSE" "$copy"; then
    python3 "$ROOT/tests/install/msix/check_package.py" "$copy" --clsid "$EXPLORER_COMMAND_CLSID" \
      --signer-cert "$SIGN_WORK/signer.pem" >/dev/null && fail "check_package.py takes $SPARSE with a byte changed ($dir)"
  else
    fail "$SPARSE: no byte changed"
  fi

  for file in "${signed[@]}"; do
    name=$(basename "$file")
    SIGN_CAFILE=$ca
    verify_file "$file" 2>/dev/null || fail "$name does not verify against its CA ($dir)"
    [ "$(signer_fingerprint "$file")" = "$identity" ] || fail "$name has another signer than the package ($dir)"
    SIGN_CAFILE="$SIGN_WORK/other.pem"
    verify_file "$file" 2>/dev/null && fail "$name verifies against a CA that did not sign it ($dir)"

    copy="$SIGN_WORK/changed-$name"
    cp "$file" "$copy"
    if ! change_one_byte "$copy"; then
      fail "$name: nothing found to change"
    else
      cmp -s "$file" "$copy" && fail "$name: the change did not happen"
      SIGN_CAFILE=$ca
      verify_file "$copy" 2>/dev/null && fail "$name verifies with a byte changed ($dir)"
    fi
    checked=$((checked + 1))
  done

  for name in zinpost.exe zinpostresult.dll ZinExt.dll SetupActions.dll; do
    file="$dir/files/$name"
    x86_64-w64-mingw32-objdump -h "$file" | grep -q ' \.debug_' && fail "$name still carries debug information"
    grep -aq "$name.debug" "$file" || fail "$name does not link to $name.debug"
    [ -s "$file.debug" ] || fail "no symbol file $name.debug ($dir)"
  done
}

check_package_dir "$1/new"
check_package_dir "$1/old"
if [ "$failures" -eq 0 ]; then
  echo "$checked signed files verified; 0 failed"
else
  echo "$failures failed"
  exit 1
fi
