#!/usr/bin/env bash
# Makes the installer package from one build of the deliverables:
#   1. copies the three files and the custom-action library, keeps their
#      debug information as separate symbol files and strips it from them;
#   2. signs them (installer/signing.sh tells where the identity comes from);
#   3. makes the sparse package TessalySendlet.msix for the same identity
#      (installer/msix/make-package.sh), signs and verifies it, and derives
#      its full and family names from the Publisher it carries;
#   4. builds TessalySendlet-<version>.msi from installer/TessalySendlet.wxs
#      with wixl and puts right what wixl leaves out;
#   5. signs the package and verifies every signature: the package's, and
#      those of the files as they come out of it.
#
#   installer/package.sh --build DIR --out DIR [--version X.Y.Z] [--require-symbols]
#
# --build is a configured and built CMake tree (it tells the version and the
# files); --version overrides the package's version (the tests make an older
# one); --require-symbols fails when the build carries no debug information
# (a release). Output in --out: the package, files/ (the shipped files beside
# their .debug symbol files, and TessalySendlet.msix) and, with the test CA,
# test-ca.pem.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

build= out= version= require_symbols=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --version) version=$2; shift 2 ;;
    --require-symbols) require_symbols=1; shift ;;
    *) echo "package: unknown argument $1" >&2; exit 2 ;;
  esac
done
if [ -z "$build" ] || [ -z "$out" ]; then
  echo "usage: installer/package.sh --build DIR --out DIR [--version X.Y.Z] [--require-symbols]" >&2
  exit 2
fi
[ -f "$build/installer/package.env" ] || { echo "package: $build is no configured build" >&2; exit 1; }
source "$build/installer/package.env"
version=${version:-$PACKAGE_VERSION}
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "package: bad version $version" >&2; exit 1; }

mkdir -p "$out"
out=$(cd "$out" && pwd)
SIGN_WORK=$(mktemp -d)
trap 'rm -rf "$SIGN_WORK"' EXIT
source "$ROOT/installer/signing.sh"

objcopy=x86_64-w64-mingw32-objcopy
objdump=x86_64-w64-mingw32-objdump
msi="$out/TessalySendlet-$version.msi"
files="$out/files"
rm -rf "$files" "$msi"
mkdir -p "$files"

# The Explorer command class the sparse package names (ZinExt.dll serves it).
EXPLORER_COMMAND_CLSID='{EA041F6B-2F8E-4425-897B-6F7A3ED05619}'
SPARSE_FILE=TessalySendlet.msix
# The package's Identity Name, as its manifest has it.
sparse_name=$(sed -n 's/.*<Identity Name="\([^"]*\)".*/\1/p' "$ROOT/installer/msix/AppxManifest.xml.in")
[ -n "$sparse_name" ] || { echo "package: no Identity Name in installer/msix/AppxManifest.xml.in" >&2; exit 1; }

# Fails unless the built database holds what the fix-ups are for.
check_package() {
  local db=$1 table
  table() { msiinfo export "$db" "$1" | tail -n +4 | tr -d '\r'; }
  expect() {
    if [ "$2" != "$3" ]; then echo "package: $1: '$2', expected '$3'" >&2; exit 1; fi
  }
  expect "code page" "$(msiinfo export "$db" _ForceCodepage | tr -d '\r' | awk 'NF == 2 { print $1 }')" 932
  expect "registry rows" "$(table Registry | awk -F'\t' '$2 != -1' | wc -l)" 0
  expect "extension keys" "$(table Registry | awk -F'\t' '$6 == "ExplorerExtension"' | wc -l)" 6
  expect "sparse package names" "$(table Registry |
    awk -F'\t' '$6 == "SparsePackage" { print $3 "|" $4 "=" $5 }' | sort | tr '\n' ' ')" \
    "Software\\KORVANTA\\zinpost\\Package|FamilyName=$family_name Software\\KORVANTA\\zinpost\\Package|FullName=$full_name "
  expect "sparse package properties" "$(table Property |
    awk -F'\t' '$1 ~ /^SPARSE(FULL|FAMILY)NAME$/ { print $1 "=" $2 }' | sort | tr '\n' ' ')" \
    "SPARSEFAMILYNAME=$family_name SPARSEFULLNAME=$full_name "
  expect "sparse package file" "$(table File | awk -F'\t' '$2 == "SparsePackage" { print $3 }')" \
    "$SPARSE_FILE"
  expect "sparse package folder" "$(table Component |
    awk -F'\t' '$1 == "SparsePackage" || $1 == "ExplorerExtension" { print $3 }' | sort -u)" INSTALLDIR
  expect "32-bit components" "$(table Component | awk -F'\t' '$4 != 256' | wc -l)" 0
  expect "custom action types" "$(table CustomAction | awk -F'\t' '{ print $2 }' | sort -u | tr '\n' ' ')" "3137 51 65 "
  expect "sequence" "$(table InstallExecuteSequence | sort -t$'\t' -k3,3n |
    awk -F'\t' '$1 ~ /^(CostFinalize|SetInstallLocation|InstallValidate|RemoveSparsePackage|RemoveExistingProducts|InstallInitialize)$/ { printf "%s ", $1 }')" \
    "CostFinalize SetInstallLocation InstallValidate RemoveSparsePackage RemoveExistingProducts InstallInitialize "
  expect "summary" "$(msiinfo suminfo "$db" | sed -n 's/^Template: //p')" "x64;1041"
}

# wixl's string pool takes the code page of this language (932).
export WINDOWS_LANGUAGE=ja

# 1. Files and symbols.
shipped=()
for source in $PACKAGE_FILES $PACKAGE_ACTIONS; do
  [ -f "$source" ] || { echo "package: not built: $source" >&2; exit 1; }
  name=$(basename "$source")
  cp "$source" "$files/$name"
  (
    cd "$files"
    $objcopy --only-keep-debug "$name" "$name.debug"
    $objcopy --strip-debug --strip-unneeded --add-gnu-debuglink="$name.debug" "$name"
  )
  if $objdump -h "$files/$name" | grep -q ' \.debug_'; then
    echo "package: debug information left in $name" >&2; exit 1
  fi
  if [ "$require_symbols" -eq 1 ] && ! $objdump -h "$files/$name.debug" | grep -q ' \.debug_info'; then
    echo "package: $name was built without debug information" >&2; exit 1
  fi
  shipped+=("$files/$name")
done
"$ROOT/scripts/check-static.sh" "${shipped[@]}" >/dev/null

# 2. Signing the files before they go into the package.
signing_prepare "$out"
for file in "${shipped[@]}"; do sign_file "$file"; done

# 3. The sparse package for Windows 11's first context menu: made for the
# signing identity (its Publisher is the certificate's subject), signed and
# verified like every other file. Its names come from the Publisher the
# signed package carries.
sparse="$files/$SPARSE_FILE"
if ! SENDLET_SPARSE_PASSWORD=$SIGN_PASSWORD "$ROOT/installer/msix/make-package.sh" \
     --version "$version.0" --clsid "$EXPLORER_COMMAND_CLSID" --cert "$SIGN_PKCS12" \
     --password-env SENDLET_SPARSE_PASSWORD --icon "$ROOT/ZinExt/ZinExt.ico" --out "$sparse" \
     >"$SIGN_WORK/sparse.log" 2>&1; then
  cat "$SIGN_WORK/sparse.log" >&2
  echo "package: the sparse package could not be made" >&2
  exit 1
fi
sign_file "$sparse"
verify_file "$sparse"
publisher_id=$(python3 "$ROOT/installer/msix/publisher.py" --publisher-id --package "$sparse")
[[ "$publisher_id" =~ ^[0-9a-hjkmnp-tv-z]{13}$ ]] || { echo "package: bad publisher id '$publisher_id'" >&2; exit 1; }
full_name="${sparse_name}_${version}.0_x64__${publisher_id}"
family_name="${sparse_name}_${publisher_id}"

# 4. The installer package.
work="$SIGN_WORK/msi"
mkdir -p "$work"
cp "${shipped[@]}" "$sparse" "$ROOT/zinpost/ui/res/zinpost.ico" "$work/"
(cd "$work" && wixl -a x64 -D Version="$version" -D SparseFullName="$full_name" -D SparseFamilyName="$family_name" \
  -o package.msi "$ROOT/installer/TessalySendlet.wxs")
# What wixl leaves out:
# - the database code page (its strings are Shift_JIS; 0 would mean "the
#   installing system's code page"),
# - HKMU registry rows (the user's classes per user, the machine's per
#   machine) come out as root 4 instead of -1,
# - 64-bit components (the extension's keys would land in the 32-bit view),
# - immediate custom actions carry a no-impersonation bit that only
#   deferred actions may have (the two deferred ones, which write the
#   machine's default server, keep it: type 3137),
# - RemoveExistingProducts is to run right after InstallValidate, so the
#   older installation is gone before the new files are laid down; only the
#   removal of the sparse package's registration (1401) comes before it,
# - the summary's language.
printf '\r\n\r\n932\t_ForceCodepage\r\n' >"$work/_ForceCodepage.idt"
msibuild "$work/package.msi" -i "$work/_ForceCodepage.idt"
msibuild "$work/package.msi" \
  -q "UPDATE Registry SET Root = -1 WHERE Root = 4" \
  -q "UPDATE Component SET Attributes = 256 WHERE Attributes = 0" \
  -q "UPDATE CustomAction SET Type = 51 WHERE Type = 2099" \
  -q "UPDATE CustomAction SET Type = 65 WHERE Type = 2113" \
  -q "UPDATE InstallExecuteSequence SET Sequence = 1402 WHERE Action = 'RemoveExistingProducts'"
msibuild "$work/package.msi" -s "Tessaly センドレット $version" KORVANTA "x64;1041"
check_package "$work/package.msi"

# 5. The package's signature, and every signature verified.
sign_file "$work/package.msi"
mv "$work/package.msi" "$msi"
verify_file "$msi"
identity=$(signer_fingerprint "$msi")
extracted="$SIGN_WORK/extracted"
mkdir -p "$extracted"
msiextract -C "$extracted" "$msi" >/dev/null
(cd "$extracted" && msidump -s "$msi" >/dev/null)
cp "$extracted/_Streams/Binary.SetupActions" "$extracted/SetupActions.dll"
for file in "${shipped[@]}" "$sparse"; do
  name=$(basename "$file")
  inside=$(find "$extracted" -name "$name" -type f | head -1)
  [ -n "$inside" ] || { echo "package: $name is not in the package" >&2; exit 1; }
  cmp -s "$file" "$inside" || { echo "package: $name in the package differs from files/$name" >&2; exit 1; }
  verify_file "$inside"
  [ "$(signer_fingerprint "$inside")" = "$identity" ] ||
    { echo "package: $name is signed by another identity than the package" >&2; exit 1; }
done
echo "package: $msi"
echo "package: signed and verified: the package, ${shipped[*]##*/} $SPARSE_FILE"
echo "package: sparse package $full_name"
[ "$SIGN_TEST_CA" -eq 1 ] && echo "package: TEST signature only; CA certificate: $out/test-ca.pem" >&2
exit 0
