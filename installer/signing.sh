# Code signing for the package, sourced by installer/package.sh.
#
# The certificate and its key come from a PKCS#12 file:
#   SENDLET_SIGN_PKCS12    path of the PKCS#12 file (certificate, key, chain)
#   SENDLET_SIGN_PASSWORD  its password (may be empty, but must be set)
#   SENDLET_SIGN_CAFILE    CA certificates that verification trusts
#                          (default: the system's bundle)
#   SENDLET_TIMESTAMP_URL  an RFC 3161 time-stamp server; none is needed
# Without SENDLET_SIGN_PKCS12 a throwaway test CA and code-signing
# certificate are made, and the CA certificate is left as test-ca.pem.
#
# The password never appears on a command line: osslsigncode reads it from a
# file descriptor.

source "$(dirname "${BASH_SOURCE[0]}")/test-ca.sh"

SIGN_DESCRIPTION="Tessaly Sendlet"
SIGN_PKCS12=
SIGN_PASSWORD=
SIGN_CAFILE=
SIGN_TEST_CA=0

# Sets up the identity; $1 is the output folder (test-ca.pem goes there).
signing_prepare() {
  local out=$1
  if [ -n "${SENDLET_SIGN_PKCS12:-}" ]; then
    if [ ! -r "$SENDLET_SIGN_PKCS12" ]; then
      echo "package: SENDLET_SIGN_PKCS12 names no readable file: $SENDLET_SIGN_PKCS12" >&2
      return 1
    fi
    if [ -z "${SENDLET_SIGN_PASSWORD+set}" ]; then
      echo "package: SENDLET_SIGN_PKCS12 is set but SENDLET_SIGN_PASSWORD is not" >&2
      return 1
    fi
    SIGN_PKCS12=$SENDLET_SIGN_PKCS12
    SIGN_PASSWORD=$SENDLET_SIGN_PASSWORD
    SIGN_CAFILE=${SENDLET_SIGN_CAFILE:-/etc/ssl/certs/ca-certificates.crt}
    rm -f "$out/test-ca.pem"
    return 0
  fi
  signing_make_test_ca "$out"
}

# A CA and a code-signing certificate of its own, valid for 30 days, whose
# keys are thrown away with the work folder.
signing_make_test_ca() {
  local out=$1 dir
  dir="$SIGN_WORK/test-ca"
  mkdir -p "$dir"
  SIGN_PASSWORD=$(openssl rand -hex 16)
  make_test_ca "$dir/ca" "/O=KORVANTA/CN=Tessaly Sendlet TEST CA - not for distribution" 30 &&
    make_code_signer "$dir/sign" "$dir/ca" "/O=KORVANTA/CN=KORVANTA TEST code signing - not for distribution" 30 &&
    make_signer_pkcs12 "$dir/sign" "$dir/ca" "$SIGN_PASSWORD" "$dir/sign.p12" || return 1
  SIGN_PKCS12="$dir/sign.p12"
  cp "$dir/ca.pem" "$out/test-ca.pem"
  SIGN_CAFILE="$out/test-ca.pem"
  SIGN_TEST_CA=1
  cat >&2 <<BANNER
************************************************************************
*  NOT FOR DISTRIBUTION: SENDLET_SIGN_PKCS12 is not set, so everything  *
*  is signed with a throwaway TEST certificate. Windows will not trust  *
*  it. The test CA is $out/test-ca.pem
*  Verify: osslsigncode verify -CAfile $out/test-ca.pem -in FILE
************************************************************************
BANNER
}

# Signs $1 in place (Authenticode, SHA-256; a time stamp when configured).
sign_file() {
  local file=$1 timestamp=()
  [ -n "${SENDLET_TIMESTAMP_URL:-}" ] && timestamp=(-ts "$SENDLET_TIMESTAMP_URL")
  rm -f "$file.signed"
  if ! osslsigncode sign -pkcs12 "$SIGN_PKCS12" -readpass <(printf '%s' "$SIGN_PASSWORD") -h sha256 \
       -n "$SIGN_DESCRIPTION" "${timestamp[@]}" -in "$file" -out "$file.signed" >"$SIGN_WORK/sign.log" 2>&1; then
    cat "$SIGN_WORK/sign.log" >&2
    echo "package: signing failed: $file" >&2
    return 1
  fi
  mv "$file.signed" "$file"
}

# Verifies the signature of $1 against the identity's CA; quiet on success.
verify_file() {
  local file=$1 extra=()
  # A build machine may be offline: revocation is Windows' part at install time.
  osslsigncode verify -h 2>&1 | grep -q -- '-ignore-cdp' && extra=(-ignore-cdp)
  if ! osslsigncode verify -CAfile "$SIGN_CAFILE" "${extra[@]}" -in "$file" >"$SIGN_WORK/verify.log" 2>&1; then
    cat "$SIGN_WORK/verify.log" >&2
    echo "package: signature does not verify: $file" >&2
    return 1
  fi
}

# The PEM of the certificate that signed $1: the one for code signing among
# those the signature carries (CAs, a time-stamp authority).
signer_certificate() {
  local cert
  rm -f "$SIGN_WORK"/cert-*
  osslsigncode extract-signature -pem -in "$1" -out "$SIGN_WORK/signature.pem" >/dev/null 2>&1 || return 1
  openssl pkcs7 -in "$SIGN_WORK/signature.pem" -print_certs 2>/dev/null |
    awk -v out="$SIGN_WORK/cert-" '/BEGIN CERTIFICATE/ { file = out (++n) } file { print > file } /END CERTIFICATE/ { file = "" }'
  for cert in "$SIGN_WORK"/cert-*; do
    [ -f "$cert" ] || continue
    openssl x509 -in "$cert" -noout -ext extendedKeyUsage 2>/dev/null | grep -q 'Code Signing' &&
      openssl x509 -in "$cert"
  done
  rm -f "$SIGN_WORK"/cert-* "$SIGN_WORK/signature.pem"
}

# The SHA-256 fingerprint of the certificate that signed $1.
signer_fingerprint() {
  local pem
  pem=$(signer_certificate "$1") && [ -n "$pem" ] || return 1
  openssl x509 -noout -fingerprint -sha256 <<<"$pem" | sed 's/.*=//'
}
