#!/usr/bin/env bash
# The sparse MSIX package: made by installer/msix/make-package.sh, signed by
# osslsigncode as the release signs files, then read back by the
# independent tests/install/msix/check_package.py and by osslsigncode verify.
# Also: publisher.py and the checker's own formatter against hand-written
# Windows forms of certificate subjects, publisher.py's publisher id against
# one Windows is known to derive, and faults the checker and the signature
# must catch. Everything happens in a temporary folder.
#
#   tests/install/msix/test_msix.sh
#
# Verified with osslsigncode 2.9 (OpenSSL 3.0), which signs and verifies
# APPX/MSIX from 2.7 on.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
MSIX="$ROOT/installer/msix"
CHECK="$ROOT/tests/install/msix/check_package.py"
CLSID=5C1E9B47-2A6D-4F83-9E10-7B4D3A6C2F58
OTHER_CLSID=0F6B2C1D-8E3A-4B5C-9D7E-1A2B3C4D5E6F

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }
# check NAME COMMAND...: the command succeeds.
check() {
  local name=$1; shift
  if "$@" >"$work/out" 2>&1; then pass; else fail "$name"; sed 's/^/    /' "$work/out"; fi
}
# refuse NAME PATTERN COMMAND...: the command fails and says PATTERN.
refuse() {
  local name=$1 pattern=$2; shift 2
  if "$@" >"$work/out" 2>&1; then
    fail "$name: succeeded"
  elif ! grep -qF -- "$pattern" "$work/out"; then
    fail "$name: failed without saying '$pattern'"; sed 's/^/    /' "$work/out"
  else
    pass
  fi
}
# equal NAME ACTUAL EXPECTED
equal() {
  if [ "$2" = "$3" ]; then pass; else fail "$1: got '$2', expected '$3'"; fi
}

for tool in openssl osslsigncode convert identify xmllint python3; do
  command -v "$tool" >/dev/null || { echo "test_msix: $tool is missing"; exit 1; }
done
version=$(osslsigncode --version 2>&1 | sed -n 's/^osslsigncode \([0-9]*\)\.\([0-9]*\).*/\1 \2/p' | head -1)
read -r major minor <<<"${version:-0 0}"
[ "$major" -gt 2 ] || { [ "$major" -eq 2 ] && [ "$minor" -ge 7 ]; } ||
  { echo "test_msix: osslsigncode 2.7 or later signs MSIX; this is ${major}.${minor}"; exit 1; }

# --- Identities: a CA, the signer (a subject that needs quoting and
# reordering), another signer of the same CA, another CA. The PKCS#12
# password travels in a file, never on a command line.
cd "$work"
source "$ROOT/installer/test-ca.sh"
make_ca() { make_test_ca "$1" "/O=KORVANTA/CN=$1 TEST CA" 2; }
make_signer() { make_code_signer "$1" ca "$2" 2; }  # NAME SUBJECT
make_ca ca && make_ca other-ca &&
  make_signer signer "/C=JP/ST=Tokyo/L=Chiyoda-ku/O=KORVANTA, Inc./CN=Tessaly Sendlet TEST" &&
  make_signer impostor "/C=JP/ST=Tokyo/L=Chiyoda-ku/O=KORVANTA Inc./CN=Tessaly Sendlet TEST" ||
  { echo "test_msix: could not make the test certificates"; exit 1; }
openssl rand -hex 16 | tr -d '\n' >password
# For publisher.py and make-package.sh, which take it from the environment.
SIGN_PASSWORD=$(<password) WRONG_PASSWORD=wrong
export SIGN_PASSWORD WRONG_PASSWORD
make_signer_pkcs12 signer ca "$SIGN_PASSWORD" signer.p12
PUBLISHER='CN=Tessaly Sendlet TEST, O="KORVANTA, Inc.", L=Chiyoda-ku, S=Tokyo, C=JP'

# --- publisher.py and the checker's formatter, against Windows' form written
# by hand. Rows: openssl -subj | Windows' form. A '+' joins the values of one
# RDN (openssl's -multivalue-rdn); their encoded (DER-sorted) order stays.
publisher_cases=(
  "/C=JP/ST=Tokyo/L=Chiyoda-ku/O=KORVANTA, Inc./CN=Tessaly|CN=Tessaly, O=\"KORVANTA, Inc.\", L=Chiyoda-ku, S=Tokyo, C=JP"
  "/C=JP/O=KORVANTA/OU=Dev+CN=Sendlet|OU=Dev + CN=Sendlet, O=KORVANTA, C=JP"
  "/CN=Sendlet/emailAddress=dev@korvanta.example|E=dev@korvanta.example, CN=Sendlet"
  "/O=x<y>z/CN=a=b/OU=#1/L=a;b|L=\"a;b\", OU=\"#1\", CN=\"a=b\", O=\"x<y>z\""
  "/CN= lead/O=trail /OU=say \"hi\"|OU=\"say \"\"hi\"\"\", O=\"trail \", CN=\" lead\""
  "/DC=com/DC=korvanta/ST=Osaka/street=1-2 Umeda/serialNumber=1234/title=Dev/GN=Taro/SN=Yamada|SN=Yamada, G=Taro, T=Dev, SERIALNUMBER=1234, STREET=1-2 Umeda, S=Osaka, DC=korvanta, DC=com"
  "/2.5.4.15=Private Organization/O=K/CN=S|CN=S, O=K, OID.2.5.4.15=Private Organization"
  "/O=コルヴァンタ/CN=センドレット|CN=センドレット, O=コルヴァンタ"
)
n=0
for row in "${publisher_cases[@]}"; do
  subject=${row%%|*} expected=${row#*|} n=$((n + 1))
  if ! openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -utf8 -multivalue-rdn \
      -keyout "dn$n.key" -out "dn$n.pem" -subj "$subject" 2>"$work/out"; then
    fail "publisher case $n: openssl cannot make $subject"; continue
  fi
  equal "publisher.py, case $n" "$(python3 "$MSIX/publisher.py" "dn$n.pem" 2>&1)" "$expected"
  equal "check_package.py --print-subject, case $n" "$(python3 "$CHECK" --print-subject "dn$n.pem" 2>&1)" "$expected"
done
openssl x509 -in signer.pem -outform DER -out signer.der
for form in "signer.pem" "signer.der" "--pkcs12 --password-env SIGN_PASSWORD signer.p12"; do
  # shellcheck disable=SC2086 # the form is words on purpose
  equal "publisher.py $form" "$(python3 "$MSIX/publisher.py" $form 2>&1)" "$PUBLISHER"
done
# The publisher id of a subject whose id Windows is known to derive (the
# family names of its own packages end in it).
KNOWN_PUBLISHER='CN=Microsoft Corporation, O=Microsoft Corporation, L=Redmond, S=Washington, C=US'
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -keyout known.key -out known.pem \
  -subj "/C=US/ST=Washington/L=Redmond/O=Microsoft Corporation/CN=Microsoft Corporation" 2>"$work/out" ||
  fail "openssl cannot make the known subject"
equal "publisher.py, the known subject" "$(python3 "$MSIX/publisher.py" known.pem 2>&1)" "$KNOWN_PUBLISHER"
equal "publisher.py --publisher-id, the known subject" "$(python3 "$MSIX/publisher.py" --publisher-id known.pem 2>&1)" \
  8wekyb3d8bbwe
signer_id=$(python3 "$MSIX/publisher.py" --publisher-id signer.pem 2>&1)
[[ "$signer_id" =~ ^[0-9a-hjkmnp-tv-z]{13}$ ]] && pass || fail "publisher.py --publisher-id signer.pem: '$signer_id'"
[ "$signer_id" != 8wekyb3d8bbwe ] && pass || fail "another subject gives the same publisher id"
equal "publisher.py --publisher-id from the PKCS#12 file" \
  "$(python3 "$MSIX/publisher.py" --publisher-id --pkcs12 --password-env SIGN_PASSWORD signer.p12 2>&1)" "$signer_id"
refuse "publisher.py --publisher-id --xml" "not allowed" python3 "$MSIX/publisher.py" --publisher-id --xml signer.pem
refuse "publisher.py --package on a file that is no package" "no readable AppxManifest.xml" \
  python3 "$MSIX/publisher.py" --package signer.pem
refuse "publisher.py with a wrong PKCS#12 password" "wrong password" \
  python3 "$MSIX/publisher.py" --pkcs12 --password-env WRONG_PASSWORD signer.p12
equal "publisher.py --xml" "$(python3 "$MSIX/publisher.py" --xml signer.pem)" \
  'CN=Tessaly Sendlet TEST, O=&quot;KORVANTA, Inc.&quot;, L=Chiyoda-ku, S=Tokyo, C=JP'

# --- The package, twice from the same input (the icon touched between):
# the same bytes.
convert -size 256x256 gradient:navy-skyblue icon-256.png && convert icon-256.png -define icon:auto-resize=256,48,16 icon.ico ||
  { echo "test_msix: could not make the icon"; exit 1; }
make_package() {  # OUT [CERT]
  "$MSIX/make-package.sh" --version 4.0.2.0 --clsid "{${CLSID,,}}" --cert "${2:-signer.pem}" --icon icon.ico --out "$1"
}
check "make-package.sh" make_package pkg.msix
touch -d '2001-02-03 04:05:06' icon.ico
check "make-package.sh again" make_package again.msix
check "the same input gives the same package" cmp pkg.msix again.msix
check "check_package.py on the unsigned package" python3 "$CHECK" pkg.msix --clsid "$CLSID" --signer-cert signer.pem
check "make-package.sh from the PKCS#12 file" "$MSIX/make-package.sh" \
  --version 4.0.2.0 --clsid "$CLSID" --cert signer.p12 --password-env SIGN_PASSWORD --icon icon.ico --out from-p12.msix
check "the PKCS#12 file gives the same package" cmp pkg.msix from-p12.msix

# The logos: PNGs of the three sizes, no dates in them.
mkdir unpacked && (cd unpacked && unzip -q ../pkg.msix) || fail "unzip cannot unpack the package"
for row in StoreLogo:50 Square150x150Logo:150 Square44x44Logo:44; do
  logo="unpacked/Assets/${row%%:*}.png" size=${row#*:}
  equal "${row%%:*}" "$(identify -format '%m %wx%h' "$logo" 2>&1)" "PNG ${size}x${size}"
  grep -aq -e 'tIME' -e 'date:' "$logo" && fail "${row%%:*} carries a date"
done
equal "the manifest's Publisher" "$(xmllint --xpath 'string(/*[local-name()="Package"]/*[local-name()="Identity"]/@Publisher)' unpacked/AppxManifest.xml)" "$PUBLISHER"

# --- Signed as the release signs files; read back by both readers.
check "osslsigncode sign" osslsigncode sign -pkcs12 signer.p12 -readpass password -h sha256 -n "Tessaly Sendlet" \
  -in pkg.msix -out signed.msix
check "osslsigncode verify" osslsigncode verify -CAfile ca.pem -in signed.msix
refuse "osslsigncode verify against another CA" "Failed" osslsigncode verify -CAfile other-ca.pem -in signed.msix
check "check_package.py on the signed package" python3 "$CHECK" signed.msix --clsid "$CLSID" --signer-cert signer.pem
equal "publisher.py --package on the signed package" "$(python3 "$MSIX/publisher.py" --package signed.msix 2>&1)" \
  "$PUBLISHER"
equal "publisher.py --publisher-id --package on the signed package" \
  "$(python3 "$MSIX/publisher.py" --publisher-id --package signed.msix 2>&1)" "$signer_id"
check "zipfile reads the signed package" python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' signed.msix

# --- One byte changed in the middle of a part's stored bytes (compressed
# data for a deflated part): the signature no longer verifies, and for a
# payload part the checker sees the block.
change_byte() {  # PACKAGE PART: offset of the middle byte of PART's data, then the change
  python3 - "$1" "$2" <<'PY'
import struct, sys, zipfile
path, part = sys.argv[1], sys.argv[2]
info = zipfile.ZipFile(path).getinfo(part)
with open(path, "r+b") as f:
    f.seek(info.header_offset + 26)
    name_length, extra_length = struct.unpack("<HH", f.read(4))
    at = info.header_offset + 30 + name_length + extra_length + info.compress_size // 2
    f.seek(at)
    byte = f.read(1)[0]
    f.seek(at)
    f.write(bytes([byte ^ 0x01]))
PY
}
for row in "AppxManifest.xml|AppxManifest.xml" "Assets/Square150x150Logo.png|Square150x150Logo.png" \
           "AppxBlockMap.xml|" "[Content_Types].xml|"; do
  part=${row%%|*} said=${row#*|}
  cp signed.msix changed.msix
  change_byte changed.msix "$part" || { fail "could not change $part"; continue; }
  cmp -s signed.msix changed.msix && fail "$part: the change did not happen"
  refuse "osslsigncode verify with a byte of $part changed" "Failed" \
    osslsigncode verify -CAfile ca.pem -in changed.msix
  if [ -n "$said" ]; then
    refuse "check_package.py with a byte of $part changed" "$said" \
      python3 "$CHECK" changed.msix --clsid "$CLSID" --signer-cert signer.pem
  fi
done

# --- The checker refuses a wrong class id and a wrong publisher.
refuse "check_package.py with another class id" "desktop5:Verb Clsid is $CLSID, expected $OTHER_CLSID" \
  python3 "$CHECK" signed.msix --clsid "$OTHER_CLSID" --signer-cert signer.pem
check "a package for another publisher" make_package impostor.msix impostor.pem
check "signed by the signer" osslsigncode sign -pkcs12 signer.p12 -readpass password -h sha256 \
  -in impostor.msix -out impostor-signed.msix
refuse "check_package.py on a package whose Publisher is not its signer" "Publisher is 'CN=Tessaly Sendlet TEST, O=KORVANTA Inc." \
  python3 "$CHECK" impostor-signed.msix --clsid "$CLSID" --signer-cert signer.pem
refuse "check_package.py with a signer certificate that did not sign" "not the signer certificate given" \
  python3 "$CHECK" impostor-signed.msix --clsid "$CLSID" --signer-cert impostor.pem

# --- Faults in the block map and content types, made by packing the same
# folder with one of pack.py's two XML parts edited (first match of a
# pattern replaced). Rows: part maker | pattern | replacement | the checker says.
rm -f unpacked/AppxBlockMap.xml "unpacked/[Content_Types].xml"
repack() {  # OUT MAKER PATTERN REPLACEMENT
  python3 - "$MSIX" unpacked "$@" <<'PY'
import re, sys
sys.path.insert(0, sys.argv[1])
import pack
folder, out, maker, pattern, replacement = sys.argv[2:7]
if maker:
    original = getattr(pack, maker)
    def edited(*args):
        text = original(*args).decode("utf-8")
        changed = re.sub(pattern, replacement, text, count=1)
        if changed == text:
            sys.exit(f"{pattern} matches nothing")
        return changed.encode("utf-8")
    setattr(pack, maker, edited)
pack.pack(folder, out)
PY
}
check "the unpacked folder packs again" repack repacked.msix "" "" ""
check "packed again, the same package" cmp pkg.msix repacked.msix

# Parts of several blocks: repeating text (deflated; a later block could
# refer back into an earlier one if the blocks were not flushed apart),
# noise (stored: deflate would not shrink it), an empty file, a deeper path.
cp -r unpacked large
mkdir -p large/Assets/deep/er
python3 - large <<'PY'
import os, random, sys
rng = random.Random(7)
words = [bytes(rng.choice(b"abcdefghij") for _ in range(rng.randint(3, 9))) for _ in range(300)]
with open(os.path.join(sys.argv[1], "Assets", "text.dat"), "wb") as f:
    f.write(b" ".join(rng.choice(words) for _ in range(80000))[:7 * 65536 + 123])
with open(os.path.join(sys.argv[1], "Assets", "deep", "er", "noise.bin"), "wb") as f:
    f.write(rng.randbytes(3 * 65536 + 5))
open(os.path.join(sys.argv[1], "empty.dat"), "wb").close()
PY
check "pack.py with large parts" python3 "$MSIX/pack.py" --out large.msix large
check "check_package.py on large parts" python3 "$CHECK" large.msix --clsid "$CLSID" --signer-cert signer.pem
equal "large parts' methods and block counts" "$(python3 - large.msix <<'PY'
import re, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
block_map = z.read("AppxBlockMap.xml").decode()
for name in ("Assets/text.dat", "Assets/deep/er/noise.bin", "empty.dat"):
    info = z.getinfo(name)
    entry = re.search(r'<File Name="%s"[^>]*(?:/>|>.*?</File>)' % re.escape(name.replace("/", "\\")), block_map).group(0)
    print(name, {0: "stored", 8: "deflated"}[info.compress_type], entry.count("<Block "), entry.count(" Size=") - 1)
PY
)" "Assets/text.dat deflated 8 8
Assets/deep/er/noise.bin stored 4 0
empty.dat stored 0 0"
check "osslsigncode signs large parts" osslsigncode sign -pkcs12 signer.p12 -readpass password -h sha256 \
  -in large.msix -out large-signed.msix
check "osslsigncode verifies large parts" osslsigncode verify -CAfile ca.pem -in large-signed.msix
faults=(
  'block_map_xml|LfhSize="[0-9]+"|LfhSize="31"|LfhSize 31, the local header has'
  'block_map_xml| Size="[0-9]+" LfhSize| Size="7" LfhSize|block map Size 7'
  'block_map_xml|Hash="[^"]+"|Hash="AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="|hash differs from the block map'
  'block_map_xml|(<Block Hash="[^"]+") Size="[0-9]+"|\1 Size="1"|block Sizes add up to'
  'block_map_xml|<File Name="Assets\\StoreLogo.png".*?</File>||Assets/StoreLogo.png is not in the block map'
  'block_map_xml|HashMethod="[^"]+"|HashMethod="http://www.w3.org/2001/04/xmldsig-more#sha384"|HashMethod'
  'content_types_xml|<Default Extension="png"[^>]*/>||gives no type for /Assets/'
  'content_types_xml|<Override PartName="/AppxManifest.xml"[^>]*/>||/AppxManifest.xml is not overridden'
)
n=0
for row in "${faults[@]}"; do
  IFS='|' read -r maker pattern replacement said <<<"$row"
  n=$((n + 1))
  if ! repack "fault$n.msix" "$maker" "$pattern" "$replacement" >"$work/out" 2>&1; then
    fail "fault $n ($said): could not be made"; sed 's/^/    /' "$work/out"; continue
  fi
  refuse "check_package.py, fault $n" "$said" python3 "$CHECK" "fault$n.msix" --clsid "$CLSID" --signer-cert signer.pem
done

# --- make-package.sh refuses what Windows would.
bad_arguments=(
  "0.1.2.3|$CLSID|the first part must not be 0"
  "4.0.2|$CLSID|bad version"
  "70000.0.0.0|$CLSID|at most 65535"
  "4.0.2.0|5C1E9B47-2A6D-4F83-9E10|bad class id"
)
for row in "${bad_arguments[@]}"; do
  IFS='|' read -r version clsid said <<<"$row"
  refuse "make-package.sh --version $version --clsid $clsid" "$said" \
    "$MSIX/make-package.sh" --version "$version" --clsid "$clsid" --cert signer.pem --icon icon.ico --out bad.msix
done
[ -e bad.msix ] && fail "make-package.sh left a package after refusing"

echo "test_msix: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
