# Throwaway certificate authorities and code-signing certificates, sourced by
# the packaging script (its test identity) and the tests that sign. Keys are
# made without a password and stay in the caller's folder.

# make_test_ca BASE SUBJECT DAYS: a CA certificate BASE.pem and its key BASE.key.
make_test_ca() {
  openssl req -x509 -newkey rsa:2048 -sha256 -nodes -days "$3" -utf8 -keyout "$1.key" -out "$1.pem" -subj "$2" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}

# make_code_signer BASE CA_BASE SUBJECT DAYS: a code-signing certificate
# BASE.pem with its key BASE.key, issued by the CA CA_BASE.pem/.key.
make_code_signer() {
  printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning" \
    "subjectKeyIdentifier=hash" "authorityKeyIdentifier=keyid" >"$1.ext"
  openssl req -new -newkey rsa:2048 -sha256 -nodes -utf8 -keyout "$1.key" -out "$1.csr" -subj "$3" 2>/dev/null &&
    openssl x509 -req -sha256 -days "$4" -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial \
      -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}

# make_signer_pkcs12 BASE CA_BASE PASSWORD OUT: BASE's certificate and key
# with the CA's certificate in a PKCS#12 file, as a real identity comes. The
# password goes through a file descriptor, never on a command line.
make_signer_pkcs12() {
  openssl pkcs12 -export -inkey "$1.key" -in "$1.pem" -certfile "$2.pem" -out "$4" \
    -passout fd:3 3< <(printf '%s' "$3")
}
