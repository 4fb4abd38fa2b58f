#!/usr/bin/env python3
"""Prints a certificate's subject as Windows prints a distinguished name, the
form an MSIX manifest's Identity/@Publisher must equal for the package's
signature to be accepted.

    publisher.py [--xml | --publisher-id] CERT
    publisher.py [--xml | --publisher-id] --pkcs12 --password-env NAME FILE
    publisher.py [--xml | --publisher-id] --package FILE.msix

CERT is PEM or DER (the first certificate of a PEM file counts). With
--pkcs12 the certificate is the one that goes with the file's key (else the
first one), its password read by openssl from the environment variable NAME,
never from a command line. With --package the Publisher is the one an
existing package's manifest carries. --xml escapes the result for an XML
attribute.

--publisher-id prints, instead of the Publisher, the 13-character id Windows
derives from it and puts into a package's family and full names
(KORVANTA.TessalySendlet_<id>): the first 8 bytes of the SHA-256 of the
Publisher's UTF-16LE text, read as a big-endian 64-bit number, cut from the
top into 13 groups of 5 bits (the last one padded with a zero bit), each
written with the alphabet 0-9 a-z without i, l, o and u.

The subject is read from the DER with a small ASN.1 reader, so the result
does not depend on any tool's escaping. Windows' form:
- RDNs narrowest first (CN before O before C: the reverse of their order
  in the certificate), joined by ", "; the values of a multi-valued RDN in
  their encoded order, joined by " + ";
- Windows' short names (S for the state, E for the e-mail address),
  OID.x.y.z for types it has no name for;
- a value in double quotes when it is empty, begins or ends with white space,
  or holds any of , + = " < > # ; or a line feed; a double quote inside is
  doubled;
- a value that is not a string prints as # and the hex of its encoding
  (of its contents for an OCTET STRING), never quoted.
"""
import argparse
import base64
import hashlib
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET
import zipfile
from xml.sax.saxutils import escape

# Windows' names for attribute types; any other type prints as OID.x.y.z.
# The names from I on are in Windows' table as far as is known here (EV
# certificates show PostalCode), not confirmed on Windows itself.
WINDOWS_NAMES = {
    "2.5.4.3": "CN",
    "2.5.4.4": "SN",
    "2.5.4.5": "SERIALNUMBER",
    "2.5.4.6": "C",
    "2.5.4.7": "L",
    "2.5.4.8": "S",
    "2.5.4.9": "STREET",
    "2.5.4.10": "O",
    "2.5.4.11": "OU",
    "2.5.4.12": "T",
    "2.5.4.42": "G",
    "1.2.840.113549.1.9.1": "E",
    "0.9.2342.19200300.100.1.25": "DC",
    "2.5.4.43": "I",
    "2.5.4.13": "Description",
    "2.5.4.17": "PostalCode",
    "2.5.4.18": "POBox",
    "2.5.4.20": "Phone",
    "2.5.4.24": "X21Address",
    "2.5.4.46": "dnQualifier",
}
QUOTE_CHARS = set(',+="\n<>#;')  # not \r: Windows does not quote for it
QUOTE_SPACE = " \t\n\v\f\r"

TAG_OCTET_STRING, TAG_OID, TAG_SEQUENCE, TAG_SET = 0x04, 0x06, 0x30, 0x31
STRING_TAGS = {
    0x0C: "utf-8",      # UTF8String
    0x12: "ascii",      # NumericString
    0x13: "ascii",      # PrintableString
    0x14: "t61",        # TeletexString
    0x16: "ascii",      # IA5String
    0x1E: "utf-16-be",  # BMPString
}


class CertificateError(Exception):
    pass


def read_tlv(data, pos):
    """Returns (tag, content start, content end) of the element at pos."""
    if pos + 2 > len(data):
        raise CertificateError("truncated DER")
    tag = data[pos]
    if tag & 0x1F == 0x1F:
        raise CertificateError("multi-byte DER tags are not expected in a name")
    length = data[pos + 1]
    pos += 2
    if length & 0x80:
        count = length & 0x7F
        if count == 0 or count > 4 or pos + count > len(data):
            raise CertificateError("bad DER length")
        length = int.from_bytes(data[pos:pos + count], "big")
        pos += count
    if pos + length > len(data):
        raise CertificateError("truncated DER")
    return tag, pos, pos + length


def children(data, start, end):
    pos = start
    while pos < end:
        tag, content, stop = read_tlv(data, pos)
        yield tag, pos, content, stop
        pos = stop


def decode_oid(body):
    if not body:
        raise CertificateError("empty OID")
    arcs, value = [], 0
    for byte in body:
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            arcs.append(value)
            value = 0
    first = min(arcs[0] // 40, 2)
    return ".".join(str(a) for a in [first, arcs[0] - 40 * first] + arcs[1:])


def subject_der(certificate):
    """The DER of the subject Name of a DER certificate."""
    tag, start, end = read_tlv(certificate, 0)
    if tag != TAG_SEQUENCE:
        raise CertificateError("not a DER certificate")
    tag, start, end = read_tlv(certificate, start)
    if tag != TAG_SEQUENCE:
        raise CertificateError("no TBSCertificate")
    fields = list(children(certificate, start, end))
    if fields and fields[0][0] == 0xA0:  # [0] version
        fields = fields[1:]
    # serialNumber, signature, issuer, validity, subject
    if len(fields) < 5 or fields[4][0] != TAG_SEQUENCE:
        raise CertificateError("no subject in the certificate")
    _, at, _, stop = fields[4]
    return certificate[at:stop]


def decode_value(data, at, stop):
    tag, content, end = read_tlv(data, at)
    body = data[content:end]
    encoding = STRING_TAGS.get(tag)
    if encoding == "t61":
        try:
            return body.decode("utf-8").rstrip("\0"), True
        except UnicodeDecodeError:
            return body.decode("latin-1").rstrip("\0"), True
    if encoding:
        try:
            return body.decode(encoding).rstrip("\0"), True
        except UnicodeDecodeError as error:
            raise CertificateError(f"bad string in the subject: {error}")
    if tag == TAG_OCTET_STRING:
        return "#" + body.hex().upper(), False
    return "#" + data[at:stop].hex().upper(), False


def quote(value):
    needs = (not value or value[0] in QUOTE_SPACE or value[-1] in QUOTE_SPACE
             or any(c in QUOTE_CHARS for c in value))
    return '"' + value.replace('"', '""') + '"' if needs else value


def parse_name(name):
    """RDNs of a DER Name as lists of (OID, value, is_string), in encoded order."""
    tag, start, end = read_tlv(name, 0)
    if tag != TAG_SEQUENCE:
        raise CertificateError("a Name is a SEQUENCE")
    rdns = []
    for tag, _, rdn_start, rdn_end in children(name, start, end):
        if tag != TAG_SET:
            raise CertificateError("an RDN is a SET")
        rdn = []
        for tag, _, atv_start, atv_end in children(name, rdn_start, rdn_end):
            parts = list(children(name, atv_start, atv_end))
            if tag != TAG_SEQUENCE or len(parts) != 2 or parts[0][0] != TAG_OID:
                raise CertificateError("bad AttributeTypeAndValue")
            oid = decode_oid(name[parts[0][2]:parts[0][3]])
            value, is_string = decode_value(name, parts[1][1], parts[1][3])
            rdn.append((oid, value, is_string))
        if not rdn:
            raise CertificateError("empty RDN")
        rdns.append(rdn)
    return rdns


def windows_name(name_der):
    """A DER Name in Windows' form."""
    rdns = []
    for rdn in reversed(parse_name(name_der)):
        rdns.append(" + ".join(
            f"{WINDOWS_NAMES.get(oid, 'OID.' + oid)}={quote(value) if is_string else value}"
            for oid, value, is_string in rdn))
    return ", ".join(rdns)


def certificate_der(data):
    """DER of the first certificate in PEM or DER data."""
    match = re.search(rb"-----BEGIN CERTIFICATE-----(.*?)-----END CERTIFICATE-----", data, re.S)
    if match:
        try:
            return base64.b64decode(b"".join(match.group(1).split()), validate=True)
        except ValueError:
            raise CertificateError("bad base64 in the PEM certificate")
    if data[:1] == b"\x30":
        return data
    raise CertificateError("neither a PEM nor a DER certificate")


def pkcs12_certificate(path, password_env):
    """PEM of the key's certificate in a PKCS#12 file (else its first one)."""
    if password_env not in os.environ:
        raise CertificateError(f"the environment variable {password_env} is not set")
    for selection in (["-clcerts"], []):
        for legacy in ([], ["-legacy"]):
            result = subprocess.run(
                ["openssl", "pkcs12", "-in", path, "-nokeys", *selection, *legacy, "-passin", f"env:{password_env}"],
                capture_output=True)
            if result.returncode == 0 and b"BEGIN CERTIFICATE" in result.stdout:
                return result.stdout
    detail = result.stderr.decode(errors="replace").strip().splitlines()
    raise CertificateError(f"no certificate read (wrong password?){': ' + detail[0] if detail else ''}")


def xml_attribute(value):
    """value escaped for a double-quoted XML attribute."""
    return escape(value, {'"': "&quot;", "\n": "&#10;", "\r": "&#13;", "\t": "&#9;"})


def publisher_of(path, pkcs12=False, password_env=None):
    """Windows' form of the subject of the certificate in the file at path."""
    if pkcs12:
        data = pkcs12_certificate(path, password_env)
    else:
        with open(path, "rb") as file:
            data = file.read()
    return windows_name(subject_der(certificate_der(data)))


PUBLISHER_ID_ALPHABET = "0123456789abcdefghjkmnpqrstvwxyz"
MANIFEST_NS = "{http://schemas.microsoft.com/appx/manifest/foundation/windows10}"


def publisher_id(publisher):
    """The id Windows derives from a package's Publisher."""
    number = int.from_bytes(hashlib.sha256(publisher.encode("utf-16-le")).digest()[:8], "big")
    padded = number << 1  # 65 bits: 13 groups of 5
    return "".join(PUBLISHER_ID_ALPHABET[(padded >> shift) & 31] for shift in range(60, -1, -5))


def package_publisher(path):
    """The Identity/@Publisher of a package's AppxManifest.xml."""
    try:
        with zipfile.ZipFile(path) as package:
            manifest = ET.fromstring(package.read("AppxManifest.xml"))
    except (zipfile.BadZipFile, KeyError, ET.ParseError) as error:
        raise CertificateError(f"no readable AppxManifest.xml: {error}")
    identity = manifest.find(MANIFEST_NS + "Identity")
    if manifest.tag != MANIFEST_NS + "Package" or identity is None or not identity.get("Publisher"):
        raise CertificateError("the manifest names no Identity Publisher")
    return identity.get("Publisher")


def main(argv=None):
    parser = argparse.ArgumentParser(description="Prints a certificate's subject in Windows' form.")
    parser.add_argument("certificate", nargs="?", help="PEM or DER certificate, or a PKCS#12 file with --pkcs12")
    parser.add_argument("--pkcs12", action="store_true", help="the file is PKCS#12")
    parser.add_argument("--password-env", metavar="NAME", help="environment variable holding the PKCS#12 password")
    parser.add_argument("--package", metavar="MSIX", help="take the Publisher from this package's manifest")
    output = parser.add_mutually_exclusive_group()
    output.add_argument("--xml", action="store_true", help="escape for an XML attribute value")
    output.add_argument("--publisher-id", action="store_true", help="print the publisher id Windows derives")
    args = parser.parse_args(argv)
    if (args.certificate is None) == (args.package is None):
        parser.error("give either a certificate or --package MSIX")
    if args.package and args.pkcs12:
        parser.error("--pkcs12 goes with a certificate, not with --package")
    if args.pkcs12 and not args.password_env:
        parser.error("--pkcs12 needs --password-env NAME")
    source = args.package or args.certificate
    try:
        if args.package:
            publisher = package_publisher(args.package)
        else:
            publisher = publisher_of(args.certificate, args.pkcs12, args.password_env)
    except (CertificateError, OSError) as error:
        print(f"publisher: {source}: {error}", file=sys.stderr)
        return 1
    if args.publisher_id:
        print(publisher_id(publisher))
    else:
        print(xml_attribute(publisher) if args.xml else publisher)
    return 0


if __name__ == "__main__":
    sys.exit(main())
