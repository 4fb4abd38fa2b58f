#!/usr/bin/env bash
# Makes the unsigned sparse MSIX package of Tessaly Sendlet (a manifest and
# three logos, the program's files staying where the installer put them):
#
#   installer/msix/make-package.sh --version 4.0.2.0 --clsid GUID --cert CERT
#       --icon ICON --out FILE.msix [--password-env NAME]
#
# --cert is the certificate that will sign the package (PEM or DER; a
# PKCS#12 file when --password-env names the variable holding its password):
# the manifest's Publisher is computed from it, never typed, since Windows
# refuses a package whose Publisher differs from its signer's subject.
# --icon is an .ico (its largest image is used) or any picture ImageMagick
# reads; --clsid may have braces and any case.
#
# The package is not signed here: the release signs it with the other files,
# and osslsigncode takes it like them:
#   osslsigncode sign -pkcs12 P12 -readpass FILE -h sha256 -in X.msix -out Y.msix
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

usage() {
  echo "usage: installer/msix/make-package.sh --version A.B.C.D --clsid GUID --cert CERT --icon ICON --out FILE.msix [--password-env NAME]" >&2
  exit 2
}
fail() { echo "make-package: $*" >&2; exit 1; }

version='' clsid='' cert='' icon='' out='' password_env=''
while [ $# -gt 0 ]; do
  case "$1" in
    --version|--clsid|--cert|--icon|--out|--password-env) [ $# -ge 2 ] || usage ;;&
    --version) version=$2; shift 2 ;;
    --clsid) clsid=$2; shift 2 ;;
    --cert) cert=$2; shift 2 ;;
    --icon) icon=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --password-env) password_env=$2; shift 2 ;;
    *) echo "make-package: unknown argument $1" >&2; usage ;;
  esac
done
[ -n "$version" ] && [ -n "$clsid" ] && [ -n "$cert" ] && [ -n "$icon" ] && [ -n "$out" ] || usage

# A package version is four numbers of at most 65535; the first is not 0.
[[ "$version" =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] || fail "bad version $version (four numbers, e.g. 4.0.2.0)"
for part in "${BASH_REMATCH[@]:1}"; do
  [ "${#part}" -le 5 ] && [ "$((10#$part))" -le 65535 ] || fail "bad version $version (each part at most 65535)"
done
[ "$((10#${BASH_REMATCH[1]}))" -gt 0 ] || fail "bad version $version (the first part must not be 0)"
clsid=${clsid#\{}
clsid=${clsid%\}}
clsid=${clsid^^}
[[ "$clsid" =~ ^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$ ]] || fail "bad class id $clsid"
[ -r "$cert" ] || fail "no certificate at $cert"
[ -r "$icon" ] || fail "no icon at $icon"
for tool in python3 convert identify xmllint; do
  command -v "$tool" >/dev/null || fail "$tool is needed (ImageMagick gives convert and identify, libxml2-utils xmllint)"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
package="$work/package"
mkdir -p "$package/Assets"

if [ -n "$password_env" ]; then
  publisher=$(python3 "$HERE/publisher.py" --xml --pkcs12 --password-env "$password_env" "$cert")
else
  publisher=$(python3 "$HERE/publisher.py" --xml "$cert")
fi

# Python does the filling: bash's ${x//} would read the & of &quot; in the
# Publisher as "the matched text" (bash 5.2's patsub_replacement).
VERSION=$version PUBLISHER=$publisher CLSID=$clsid python3 - "$HERE/AppxManifest.xml.in" "$package/AppxManifest.xml" <<'PY'
import os, re, sys
text = open(sys.argv[1], encoding="utf-8").read()
for key in ("VERSION", "PUBLISHER", "CLSID"):
    text = text.replace(f"@{key}@", os.environ[key])
left = re.findall(r"@[A-Z]+@", text)
if left:
    sys.exit(f"make-package: placeholders left in the manifest: {' '.join(sorted(set(left)))}")
open(sys.argv[2], "w", encoding="utf-8", newline="\n").write(text)
PY
xmllint --noout "$package/AppxManifest.xml" || fail "the manifest is not well-formed XML"

# The largest image of an .ico (the first frame of anything else) is scaled
# down. -strip and the excluded chunks keep dates and host data out of the
# PNGs, so the same icon always gives the same bytes.
source_index=$(identify -format '%p %w\n' "$icon" | sort -k2,2nr | head -1 | cut -d' ' -f1) || source_index=''
[ -n "$source_index" ] || fail "ImageMagick cannot read $icon"
render() {
  convert "${icon}[${source_index}]" -background none -alpha on -resize "$1x$1" -gravity center -extent "$1x$1" \
    -strip -define png:exclude-chunks=date,time,tIME,zTXt,tEXt,iTXt -define png:format=png32 \
    "PNG32:$package/Assets/$2" || fail "could not render $2 from $icon"
}
render 50 StoreLogo.png
render 150 Square150x150Logo.png
render 44 Square44x44Logo.png

python3 "$HERE/pack.py" --out "$out" "$package"
echo "make-package: $out (unsigned; Publisher: $(python3 "$HERE/publisher.py" ${password_env:+--pkcs12 --password-env "$password_env"} "$cert"))"
