#!/usr/bin/env python3
"""Checks an MSIX package from the outside, independently of the packer:

    check_package.py PACKAGE --clsid GUID --signer-cert PEM
    check_package.py --print-subject PEM     (the subject in Windows' form)

- Python's zipfile opens the package and reads every part (CRCs included);
- the archive ends in ZIP64 end records, and every member but the signature
  has a data descriptor (flag bit 3, ZIP64 form) that agrees with the
  central directory;
- AppxBlockMap.xml lists every payload part and nothing else; for each, Size
  is the part's size, LfhSize the size of its real local header, and each
  64 KiB block's compressed bytes, cut out of the archive by the Size
  values, inflate on their own to a block with the listed SHA-256;
- AppxManifest.xml comes first, [Content_Types].xml after the block map
  (only the signature may follow) and covers every part;
- the manifest's Explorer command and COM class carry --clsid, and its
  Publisher is the signer certificate's subject in Windows' form (made here
  from openssl's escaped output, not by installer/msix/publisher.py);
- when the package is signed, that certificate is the signature's
  code-signing certificate.
Prints one line per problem; exit 0 when there is none, 1 otherwise.
"""
import argparse
import base64
import hashlib
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET
import zipfile
import zlib

BLOCK = 64 * 1024
BLOCK_MAP_NS = "{http://schemas.microsoft.com/appx/2010/blockmap}"
TYPES_NS = "{http://schemas.openxmlformats.org/package/2006/content-types}"
MANIFEST_NS = {
    "f": "http://schemas.microsoft.com/appx/manifest/foundation/windows10",
    "desktop5": "http://schemas.microsoft.com/appx/manifest/desktop/windows10/5",
    "com": "http://schemas.microsoft.com/appx/manifest/com/windows10",
}
SHA256 = "http://www.w3.org/2001/04/xmlenc#sha256"
NOT_IN_BLOCK_MAP = {"AppxBlockMap.xml", "[Content_Types].xml", "AppxSignature.p7x"}
REQUIRED_TYPES = {
    "/AppxManifest.xml": "application/vnd.ms-appx.manifest+xml",
    "/AppxBlockMap.xml": "application/vnd.ms-appx.blockmap+xml",
    "/AppxSignature.p7x": "application/vnd.ms-appx.signature",
}
# Windows' attribute names, by OID (written apart from the packer's table).
NAMES_BY_OID = {
    "2.5.4.3": "CN", "2.5.4.4": "SN", "2.5.4.5": "SERIALNUMBER", "2.5.4.6": "C",
    "2.5.4.7": "L", "2.5.4.8": "S", "2.5.4.9": "STREET", "2.5.4.10": "O",
    "2.5.4.11": "OU", "2.5.4.12": "T", "2.5.4.13": "Description", "2.5.4.17": "PostalCode",
    "2.5.4.18": "POBox", "2.5.4.20": "Phone", "2.5.4.24": "X21Address", "2.5.4.42": "G",
    "2.5.4.43": "I", "2.5.4.46": "dnQualifier", "1.2.840.113549.1.9.1": "E",
    "0.9.2342.19200300.100.1.25": "DC",
}


def openssl(*args, data=None):
    result = subprocess.run(["openssl", *args], input=data, capture_output=True)
    if result.returncode != 0:
        raise RuntimeError(f"openssl {args[0]}: {result.stderr.decode(errors='replace').strip()}")
    return result.stdout


def windows_subject(cert_path):
    """The certificate's subject as Windows prints it, from openssl's RFC 2253
    escaping with numeric OIDs and no reordering (the reversal is done here,
    per RDN, so a multi-valued RDN keeps its encoded order)."""
    line = openssl("x509", "-in", cert_path, "-noout", "-subject", "-nameopt",
                   "esc_2253,esc_ctrl,esc_msb,utf8,dump_nostr,dump_der,sep_comma_plus,oid").decode("ascii")
    line = line.strip()
    if not line.startswith("subject="):
        raise RuntimeError(f"unexpected openssl output: {line}")
    text = line[len("subject="):]
    rdns, rdn, raw, escaped_start, i = [], [], bytearray(), None, 0

    def finish_value():
        key, sep, value = bytes(raw).partition(b"=")
        if not sep:
            raise RuntimeError(f"no '=' in {bytes(raw)!r}")
        rdn.append((key.decode("ascii"), value, escaped_start))
        raw.clear()

    # Splits on unescaped , and +; \XX is a byte, \c the character c.
    while i < len(text):
        c = text[i]
        if c == "\\":
            if re.fullmatch(r"[0-9A-Fa-f]{2}", text[i + 1:i + 3]):
                raw.append(int(text[i + 1:i + 3], 16))
                i += 3
            else:
                if bytes(raw).endswith(b"=") and b"=" not in bytes(raw)[:-1]:
                    escaped_start = True  # a value starting with \# is a string
                raw.extend(text[i + 1].encode("utf-8"))
                i += 2
            continue
        if c in ",+":
            finish_value()
            escaped_start = None
            if c == ",":
                rdns.append(rdn)
                rdn = []
        else:
            raw.extend(c.encode("utf-8"))
        i += 1
    finish_value()
    rdns.append(rdn)

    out = []
    for rdn in reversed(rdns):
        values = []
        for oid, value, escaped in rdn:
            name = NAMES_BY_OID.get(oid, "OID." + oid)
            if value.startswith(b"#") and not escaped:
                values.append(f"{name}={value.decode('ascii').upper()}")  # not a string: hex, never quoted
            else:
                values.append(f"{name}={windows_quote(value.decode('utf-8').rstrip(chr(0)))}")
        out.append(" + ".join(values))
    return ", ".join(out)


def windows_quote(value):
    blank = " \t\n\r\v\f"
    marked = any(ch in value for ch in ',+="<>#;\n')
    if value == "" or value[0] in blank or value[-1] in blank or marked:
        return '"%s"' % value.replace('"', '""')
    return value


class Checker:
    def __init__(self, path):
        self.path = path
        self.problems = []

    def problem(self, text):
        self.problems.append(text)

    def run(self, clsid, signer_cert):
        try:
            archive = zipfile.ZipFile(self.path)
        except (zipfile.BadZipFile, OSError) as error:
            self.problem(f"zipfile does not open the package: {error}")
            return
        with archive, open(self.path, "rb") as raw:
            self.data = raw.read()
            infos = archive.infolist()
            names = [i.filename for i in infos]
            contents = {}
            for info in infos:
                try:
                    contents[info.filename] = archive.read(info)
                except (zipfile.BadZipFile, zlib.error, OSError) as error:
                    self.problem(f"{info.filename}: zipfile cannot read it: {error}")
            self.check_archive(infos)
            self.check_order(names)
            if "AppxBlockMap.xml" in contents:
                self.check_block_map(contents["AppxBlockMap.xml"], {i.filename: i for i in infos}, contents)
            else:
                self.problem("no AppxBlockMap.xml")
            if "[Content_Types].xml" in contents:
                self.check_content_types(contents["[Content_Types].xml"], names)
            else:
                self.problem("no [Content_Types].xml")
            if "AppxManifest.xml" in contents:
                self.check_manifest(contents["AppxManifest.xml"], clsid, signer_cert)
            else:
                self.problem("no AppxManifest.xml")
            if "AppxSignature.p7x" in contents:
                self.check_signature(contents["AppxSignature.p7x"], signer_cert)

    def local_header_size(self, info):
        at = info.header_offset
        head = self.data[at:at + 30]
        if len(head) < 30 or head[:4] != b"PK\x03\x04":
            self.problem(f"{info.filename}: no local header at offset {at}")
            return None
        flags, name_length, extra_length = struct.unpack("<H", head[6:8])[0], *struct.unpack("<HH", head[26:30])
        if self.data[at + 30:at + 30 + name_length].decode("utf-8", "replace") != info.filename:
            self.problem(f"{info.filename}: the local header names another file")
        return 30 + name_length + extra_length, flags

    def check_archive(self, infos):
        tail = self.data[-22 - 20:]
        if tail[:4] != b"PK\x06\x07":
            self.problem("no ZIP64 end-of-central-directory locator before the end record")
        else:
            end64 = struct.unpack("<Q", tail[8:16])[0]
            if self.data[end64:end64 + 4] != b"PK\x06\x06":
                self.problem("the ZIP64 locator does not point at a ZIP64 end record")
        for info in infos:
            found = self.local_header_size(info)
            if not found or info.filename == "AppxSignature.p7x":
                continue
            size, flags = found
            if not flags & 0x0008:
                self.problem(f"{info.filename}: the local header has no data descriptor flag (bit 3)")
                continue
            at = info.header_offset + size + info.compress_size
            descriptor = self.data[at:at + 24]
            if len(descriptor) < 24 or descriptor[:4] != b"PK\x07\x08":
                self.problem(f"{info.filename}: no data descriptor after its data")
                continue
            crc, compressed, uncompressed = struct.unpack("<IQQ", descriptor[4:])
            if (crc, compressed, uncompressed) != (info.CRC, info.compress_size, info.file_size):
                self.problem(f"{info.filename}: its ZIP64 data descriptor disagrees with the central directory")

    def check_order(self, names):
        if not names or names[0] != "AppxManifest.xml":
            self.problem(f"the first part is {names[0] if names else 'missing'}, not AppxManifest.xml")
        if "AppxBlockMap.xml" in names and "[Content_Types].xml" in names:
            block_map, types = names.index("AppxBlockMap.xml"), names.index("[Content_Types].xml")
            if any(n not in NOT_IN_BLOCK_MAP for n in names[block_map:]):
                self.problem("payload parts follow AppxBlockMap.xml")
            if types < block_map or any(n != "AppxSignature.p7x" for n in names[types + 1:]):
                self.problem("[Content_Types].xml is not the last part before the signature")

    def check_block_map(self, xml, infos, contents):
        try:
            root = ET.fromstring(xml)
        except ET.ParseError as error:
            self.problem(f"AppxBlockMap.xml does not parse: {error}")
            return
        if root.tag != BLOCK_MAP_NS + "BlockMap":
            self.problem(f"AppxBlockMap.xml: root is {root.tag}")
        if root.get("HashMethod") != SHA256:
            self.problem(f"AppxBlockMap.xml: HashMethod {root.get('HashMethod')}")
        listed = []
        for file in root.findall(BLOCK_MAP_NS + "File"):
            name = file.get("Name", "").replace("\\", "/")
            listed.append(name)
            info = infos.get(name)
            if info is None:
                self.problem(f"block map lists {name}, which is not in the package")
                continue
            self.check_file(name, file, info, contents.get(name))
        payload = [n for n in infos if n not in NOT_IN_BLOCK_MAP]
        for name in payload:
            if name not in listed:
                self.problem(f"{name} is not in the block map")
        if len(listed) != len(set(listed)):
            self.problem("block map lists a file twice")

    def check_file(self, name, element, info, content):
        size, lfh = int(element.get("Size", "-1")), int(element.get("LfhSize", "-1"))
        if size != info.file_size:
            self.problem(f"{name}: block map Size {size}, the part has {info.file_size} bytes")
        found = self.local_header_size(info)
        if found and lfh != found[0]:
            self.problem(f"{name}: block map LfhSize {lfh}, the local header has {found[0]} bytes")
        if not found:
            return
        blocks = element.findall(BLOCK_MAP_NS + "Block")
        if len(blocks) != -(-info.file_size // BLOCK):
            self.problem(f"{name}: {len(blocks)} blocks for {info.file_size} bytes")
            return
        start = info.header_offset + found[0]
        stored = self.data[start:start + info.compress_size]
        deflated = info.compress_type == zipfile.ZIP_DEFLATED
        if not deflated and info.compress_type != zipfile.ZIP_STORED:
            self.problem(f"{name}: compression method {info.compress_type}")
            return
        sizes = [b.get("Size") for b in blocks]
        if deflated and None in sizes:
            self.problem(f"{name}: a block of a deflated file has no Size")
            return
        if not deflated and any(s is not None for s in sizes):
            self.problem(f"{name}: a block of a stored file has a Size")
        if deflated and sum(int(s) for s in sizes) != info.compress_size:
            self.problem(f"{name}: block Sizes add up to {sum(int(s) for s in sizes)}, "
                         f"the part has {info.compress_size} compressed bytes")
            return
        whole, at = bytearray(), 0
        for number, block in enumerate(blocks):
            expected_length = min(BLOCK, info.file_size - number * BLOCK)
            if deflated:
                piece = stored[at:at + int(block.get("Size"))]
                at += len(piece)
                try:
                    inflater = zlib.decompressobj(-15)
                    plain = inflater.decompress(piece) + inflater.flush()
                except zlib.error as error:
                    self.problem(f"{name}: block {number} does not inflate on its own: {error}")
                    return
            else:
                plain = stored[number * BLOCK:number * BLOCK + expected_length]
            if len(plain) != expected_length:
                self.problem(f"{name}: block {number} holds {len(plain)} bytes, not {expected_length}")
            digest = base64.b64encode(hashlib.sha256(plain).digest()).decode("ascii")
            if digest != block.get("Hash"):
                self.problem(f"{name}: block {number}'s hash differs from the block map")
            whole += plain
        if content is not None and bytes(whole) != content:
            self.problem(f"{name}: its blocks do not make up the part zipfile reads")

    def check_content_types(self, xml, names):
        try:
            root = ET.fromstring(xml)
        except ET.ParseError as error:
            self.problem(f"[Content_Types].xml does not parse: {error}")
            return
        defaults = {d.get("Extension", "").lower(): d.get("ContentType") for d in root.findall(TYPES_NS + "Default")}
        overrides = {o.get("PartName", "").lower(): o.get("ContentType") for o in root.findall(TYPES_NS + "Override")}
        for name in names:
            if name == "[Content_Types].xml":
                continue
            part = "/" + name
            extension = name.rsplit("/", 1)[-1].rpartition(".")[2].lower() if "." in name.rsplit("/", 1)[-1] else None
            if part.lower() not in overrides and extension not in defaults:
                self.problem(f"[Content_Types].xml gives no type for {part}")
            required = REQUIRED_TYPES.get(part)
            if required and overrides.get(part.lower()) != required:
                self.problem(f"[Content_Types].xml: {part} is not overridden as {required}")

    def check_manifest(self, xml, clsid, signer_cert):
        try:
            root = ET.fromstring(xml)
        except ET.ParseError as error:
            self.problem(f"AppxManifest.xml does not parse: {error}")
            return
        wanted = clsid.strip("{}").upper()
        verbs = [v.get("Clsid", "") for v in root.iterfind(".//desktop5:Verb", MANIFEST_NS)]
        classes = [c.get("Id", "") for c in root.iterfind(".//com:Class", MANIFEST_NS)]
        for kind, ids in (("desktop5:Verb Clsid", verbs), ("com:Class Id", classes)):
            if not ids:
                self.problem(f"the manifest has no {kind}")
            for found in ids:
                if found.upper() != wanted:
                    self.problem(f"the manifest's {kind} is {found}, expected {wanted}")
        identity = root.find("f:Identity", MANIFEST_NS)
        publisher = identity.get("Publisher") if identity is not None else None
        try:
            expected = windows_subject(signer_cert)
        except RuntimeError as error:
            self.problem(f"cannot read the signer certificate: {error}")
            return
        if publisher != expected:
            self.problem(f"the manifest's Publisher is {publisher!r}, the signer's subject is {expected!r}")

    def check_signature(self, p7x, signer_cert):
        if p7x[:4] != b"PKCX":
            self.problem("AppxSignature.p7x does not start with PKCX")
            return
        try:
            bundle = openssl("pkcs7", "-inform", "DER", "-print_certs", data=p7x[4:])
            signer = openssl("x509", "-in", signer_cert, "-outform", "DER")
        except RuntimeError as error:
            self.problem(f"cannot read the signature: {error}")
            return
        # The signer is the carried certificate for code signing; the others
        # are its chain.
        signers = []
        for pem in re.findall(r"-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----",
                              bundle.decode("ascii"), re.S):
            usage = subprocess.run(["openssl", "x509", "-noout", "-ext", "extendedKeyUsage"],
                                   input=pem.encode(), capture_output=True).stdout
            if b"Code Signing" in usage:
                signers.append(openssl("x509", "-outform", "DER", data=pem.encode()))
        if signers != [signer]:
            self.problem("the signature's code-signing certificate is not the signer certificate given")


def main(argv=None):
    parser = argparse.ArgumentParser(description="Checks an MSIX package independently of its packer.")
    parser.add_argument("package", nargs="?")
    parser.add_argument("--clsid")
    parser.add_argument("--signer-cert", metavar="PEM")
    parser.add_argument("--print-subject", metavar="PEM", help="only print PEM's subject in Windows' form")
    args = parser.parse_args(argv)
    if args.print_subject:
        print(windows_subject(args.print_subject))
        return 0
    if not (args.package and args.clsid and args.signer_cert):
        parser.error("PACKAGE, --clsid and --signer-cert are needed")
    checker = Checker(args.package)
    checker.run(args.clsid, args.signer_cert)
    for problem in checker.problems:
        print(f"{args.package}: {problem}")
    return 1 if checker.problems else 0


if __name__ == "__main__":
    sys.exit(main())
