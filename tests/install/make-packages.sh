#!/usr/bin/env bash
# The install tests' fixture, through the release's own installer/package.sh:
# from one build, the package of the build's version, signed the way a
# release is signed (a PKCS#12 file and password from the environment; here
# a CA and certificate of the fixture's own, and a password with blanks and
# quotes in it), and the package of an older version, signed with the
# script's throwaway test CA (so its files differ from the newer ones); and
# the booted Wine prefix that every install scenario copies (made once per
# build folder, never run in). Beside each package, `publisher` holds the
# subject of the certificate that signed it in Windows' form, written by the
# independent tests/install/msix/check_package.py: the Publisher the
# scenarios derive the sparse package's names from.
#
#   make-packages.sh BUILD_DIR PACKAGE_DIR PREFIX_TEMPLATE
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$1 packages=$2 template=$3

source "$build/installer/package.env"
IFS=. read -r major minor patch <<<"$PACKAGE_VERSION"
if [ "$patch" -gt 0 ]; then older="$major.$minor.$((patch - 1))"
elif [ "$minor" -gt 0 ]; then older="$major.$((minor - 1)).0"
else older="$((major - 1)).0.0"; fi

rm -rf "$packages"
mkdir -p "$packages/identity"
identity="$packages/identity"
source "$ROOT/installer/test-ca.sh"
password='a "pass" word, with blanks'
make_test_ca "$identity/ca" "/O=KORVANTA/CN=install tests CA" 2
make_code_signer "$identity/sign" "$identity/ca" "/O=KORVANTA/CN=install tests code signing" 2
make_signer_pkcs12 "$identity/sign" "$identity/ca" "$password" "$identity/sign.p12"

SENDLET_SIGN_PKCS12="$identity/sign.p12" SENDLET_SIGN_PASSWORD=$password SENDLET_SIGN_CAFILE="$identity/ca.pem" \
  "$ROOT/installer/package.sh" --build "$build" --out "$packages/new" 2>"$packages/new.log" ||
  { cat "$packages/new.log" >&2; exit 1; }
cp "$identity/ca.pem" "$packages/new/ca.pem"
echo "$PACKAGE_VERSION" >"$packages/new/version"
(unset SENDLET_SIGN_PKCS12; "$ROOT/installer/package.sh" --build "$build" --out "$packages/old" --version "$older") \
  2>"$packages/old.log" || { cat "$packages/old.log" >&2; exit 1; }
grep -q 'NOT FOR DISTRIBUTION' "$packages/old.log" || { echo "the test CA was not announced" >&2; exit 1; }
cp "$packages/old/test-ca.pem" "$packages/old/ca.pem"
echo "$older" >"$packages/old/version"
ls -l "$packages"/new/*.msi "$packages"/old/*.msi

SIGN_WORK=$(mktemp -d)
trap 'rm -rf "$SIGN_WORK"' EXIT
source "$ROOT/installer/signing.sh"
for dir in new old; do
  signer_certificate "$packages/$dir"/TessalySendlet-*.msi >"$packages/$dir/signer.pem"
  python3 "$ROOT/tests/install/msix/check_package.py" --print-subject "$packages/$dir/signer.pem" \
    >"$packages/$dir/publisher"
  [ -s "$packages/$dir/publisher" ] || { echo "no publisher for the $dir package" >&2; exit 1; }
done

"$ROOT/scripts/wine-prefix.sh" "$template"
