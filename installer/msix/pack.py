#!/usr/bin/env python3
"""Packs a folder into an MSIX package (the APPX zip layout), unsigned.

    pack.py --out PACKAGE.msix DIR

DIR holds AppxManifest.xml and the files it names. The package gets, in this
order: the payload files (AppxManifest.xml first, the others sorted by name),
AppxBlockMap.xml, [Content_Types].xml. The signature part is added later by
the signer (osslsigncode sign -in X.msix -out Y.msix).

Layout (the APPX zip layout; checked here with osslsigncode and Python's
zipfile, not on Windows):
- every local header has flag bit 3 (a data descriptor follows the data)
  with zero CRC and sizes, and a ZIP64 extra field: its presence tells a
  reader that the descriptor that follows carries 8-byte sizes;
- the central directory carries 32-bit values and adds a ZIP64 extra field
  only for values that do not fit; the ZIP64 end record and its locator are
  always written, and the classic end record defers to them;
- a file is deflated in 64 KiB blocks with a full flush after each, so each
  block's compressed bytes inflate on their own; AppxBlockMap.xml lists the
  SHA-256 of each uncompressed block and its compressed size. A file that
  deflate would not shrink is stored, and its blocks carry no size.
Output is deterministic for a given zlib: fixed timestamps, fixed order, no
host data.
"""
import argparse
import base64
import hashlib
import os
import struct
import sys
import tempfile
import zlib
from xml.sax.saxutils import quoteattr

BLOCK_SIZE = 65536
ZIP_VERSION = 45  # 4.5: ZIP64
FLAG_DATA_DESCRIPTOR = 0x0008
METHOD_STORED, METHOD_DEFLATED = 0, 8
DOS_TIME, DOS_DATE = 0, (0 << 9) | (1 << 5) | 1  # 1980-01-01 00:00, the earliest DOS date
MAX32, MAX16 = 0xFFFFFFFF, 0xFFFF

MANIFEST = "AppxManifest.xml"
BLOCK_MAP = "AppxBlockMap.xml"
CONTENT_TYPES = "[Content_Types].xml"
RESERVED = {BLOCK_MAP.lower(), CONTENT_TYPES.lower(), "appxsignature.p7x"}
BLOCK_MAP_NS = "http://schemas.microsoft.com/appx/2010/blockmap"
HASH_METHOD = "http://www.w3.org/2001/04/xmlenc#sha256"
CONTENT_TYPES_NS = "http://schemas.openxmlformats.org/package/2006/content-types"
TYPE_BY_EXTENSION = {
    "xml": "application/xml",
    "png": "image/png",
    "dll": "application/x-msdownload",
    "exe": "application/x-msdownload",
}
FALLBACK_TYPE = "application/octet-stream"
OVERRIDES = {MANIFEST: "application/vnd.ms-appx.manifest+xml",
             BLOCK_MAP: "application/vnd.ms-appx.blockmap+xml"}
# Names travel unencoded as zip names and package part names: keep them to
# characters that need no escaping in either.
SAFE_NAME_CHARS = set("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-/")


class PackError(Exception):
    pass


class Entry:
    def __init__(self, name):
        self.name = name  # zip name, '/'-separated
        self.method = METHOD_DEFLATED
        self.crc = 0
        self.compressed_size = 0
        self.size = 0
        self.offset = 0
        self.blocks = []  # (base64 SHA-256 of the uncompressed block, compressed size)

    def local_header(self):
        name = self.name.encode("ascii")
        # Sizes are in the descriptor; the extra field's zeros say the same.
        extra = struct.pack("<HHQQ", 0x0001, 16, 0, 0)
        return struct.pack("<IHHHHHIIIHH", 0x04034B50, ZIP_VERSION, FLAG_DATA_DESCRIPTOR,
                           self.method, DOS_TIME, DOS_DATE, 0, 0, 0, len(name), len(extra)) + name + extra

    def data_descriptor(self):
        return struct.pack("<IIQQ", 0x08074B50, self.crc, self.compressed_size, self.size)

    def central_header(self):
        name = self.name.encode("ascii")
        extra_values = []
        size32, compressed32, offset32 = self.size, self.compressed_size, self.offset
        if self.size >= MAX32:
            extra_values.append(self.size)
            size32 = MAX32
        if self.compressed_size >= MAX32:
            extra_values.append(self.compressed_size)
            compressed32 = MAX32
        if self.offset >= MAX32:
            extra_values.append(self.offset)
            offset32 = MAX32
        extra = b""
        if extra_values:
            extra = struct.pack("<HH", 0x0001, 8 * len(extra_values)) + b"".join(
                struct.pack("<Q", v) for v in extra_values)
        return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, ZIP_VERSION, ZIP_VERSION, FLAG_DATA_DESCRIPTOR,
                           self.method, DOS_TIME, DOS_DATE, self.crc, compressed32, size32,
                           len(name), len(extra), 0, 0, 0, 0, offset32) + name + extra


def read_blocks(stream):
    while True:
        block = stream.read(BLOCK_SIZE)
        if not block:
            return
        yield block


def write_member(out, entry, source):
    """Writes one member (header, data, descriptor); source is a seekable binary stream."""
    crc, size, blocks = 0, 0, []  # blocks: (hash, compressed size)
    with tempfile.SpooledTemporaryFile(max_size=64 << 20) as spool:
        compressor = zlib.compressobj(6, zlib.DEFLATED, -15, 8, zlib.Z_DEFAULT_STRATEGY)
        pending = None
        # One block behind, so that the last block is the one that finishes the stream.
        for block in read_blocks(source):
            if pending is not None:
                data = compressor.compress(pending) + compressor.flush(zlib.Z_FULL_FLUSH)
                spool.write(data)
                blocks.append((digest(pending), len(data)))
            pending = block
            crc = zlib.crc32(block, crc)
            size += len(block)
        if pending is not None:
            data = compressor.compress(pending) + compressor.flush(zlib.Z_FINISH)
            spool.write(data)
            blocks.append((digest(pending), len(data)))
        compressed_size = spool.tell()
        entry.crc, entry.size = crc, size
        # Deflate that does not pay is dropped: the bytes are stored as they are.
        stored = size == 0 or compressed_size >= size
        entry.method = METHOD_STORED if stored else METHOD_DEFLATED
        entry.compressed_size = size if stored else compressed_size
        entry.blocks = [(h, None) for h, _ in blocks] if stored else blocks
        entry.offset = out.tell()
        out.write(entry.local_header())
        data_source = source if stored else spool
        data_source.seek(0)
        written = 0
        while True:
            chunk = data_source.read(1 << 20)
            if not chunk:
                break
            out.write(chunk)
            written += len(chunk)
        if written != entry.compressed_size:
            raise PackError(f"{entry.name} changed while being packed")
    out.write(entry.data_descriptor())


def digest(block):
    return base64.b64encode(hashlib.sha256(block).digest()).decode("ascii")


def block_map_xml(entries):
    parts = ['<?xml version="1.0" encoding="UTF-8" standalone="no"?>\r\n',
             f'<BlockMap xmlns="{BLOCK_MAP_NS}" HashMethod="{HASH_METHOD}">']
    for entry in entries:
        name = entry.name.replace("/", "\\")
        lfh_size = len(entry.local_header())
        parts.append(f"<File Name={quoteattr(name)} Size=\"{entry.size}\" LfhSize=\"{lfh_size}\"")
        if not entry.blocks:
            parts.append("/>")
            continue
        parts.append(">")
        for block_hash, compressed in entry.blocks:
            size = "" if compressed is None else f' Size="{compressed}"'
            parts.append(f'<Block Hash="{block_hash}"{size}/>')
        parts.append("</File>")
    parts.append("</BlockMap>")
    return "".join(parts).encode("utf-8")


def content_types_xml(names):
    defaults, overrides = {}, {}
    for name in names:
        base = name.rsplit("/", 1)[-1]
        if name in OVERRIDES:
            overrides[name] = OVERRIDES[name]
        if "." in base and base.rsplit(".", 1)[1]:
            extension = base.rsplit(".", 1)[1].lower()
            defaults.setdefault(extension, TYPE_BY_EXTENSION.get(extension, FALLBACK_TYPE))
        elif name not in overrides:
            overrides[name] = FALLBACK_TYPE
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\r\n', f'<Types xmlns="{CONTENT_TYPES_NS}">']
    for extension in sorted(defaults):
        parts.append(f"<Default Extension={quoteattr(extension)} ContentType={quoteattr(defaults[extension])}/>")
    for name in sorted(overrides, key=lambda n: (n not in OVERRIDES, n)):
        parts.append(f"<Override PartName={quoteattr('/' + name)} ContentType={quoteattr(overrides[name])}/>")
    parts.append("</Types>")
    return "".join(parts).encode("utf-8")


def payload_names(folder):
    names = []
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for file in files:
            path = os.path.join(root, file)
            name = os.path.relpath(path, folder).replace(os.sep, "/")
            if os.path.islink(path) or not os.path.isfile(path):
                raise PackError(f"not a regular file: {path}")
            if not set(name) <= SAFE_NAME_CHARS:
                raise PackError(f"file name needs characters this packer does not encode: {name}")
            if len(name) > 260:
                raise PackError(f"file name longer than 260 characters: {name}")
            if name.lower() in RESERVED:
                raise PackError(f"{name} is made by the packer or the signer, not taken from the folder")
            names.append(name)
    if MANIFEST not in names:
        raise PackError(f"no {MANIFEST} in {folder}")
    lowered = [n.lower() for n in names]
    if len(set(lowered)) != len(lowered):
        raise PackError("file names differ only in case; a package's part names do not")
    return [MANIFEST] + sorted(n for n in names if n != MANIFEST)


def pack(folder, out_path):
    names = payload_names(folder)
    directory = os.path.dirname(os.path.abspath(out_path))
    fd, temp_path = tempfile.mkstemp(prefix=".pack-", suffix=".msix", dir=directory)
    try:
        with os.fdopen(fd, "wb") as out:
            entries = []
            for name in names:
                entry = Entry(name)
                with open(os.path.join(folder, name), "rb") as source:
                    write_member(out, entry, source)
                entries.append(entry)
            payload = list(entries)
            for name, data in ((BLOCK_MAP, block_map_xml(payload)),
                               (CONTENT_TYPES, content_types_xml(names + [BLOCK_MAP]))):
                entry = Entry(name)
                with tempfile.SpooledTemporaryFile() as source:
                    source.write(data)
                    source.seek(0)
                    write_member(out, entry, source)
                entries.append(entry)
            write_central_directory(out, entries)
        os.chmod(temp_path, 0o644)
        os.replace(temp_path, out_path)
    except BaseException:
        os.unlink(temp_path)
        raise


def write_central_directory(out, entries):
    start = out.tell()
    for entry in entries:
        out.write(entry.central_header())
    size = out.tell() - start
    end64 = out.tell()
    count = len(entries)
    out.write(struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, ZIP_VERSION, ZIP_VERSION, 0, 0, count, count, size, start))
    out.write(struct.pack("<IIQI", 0x07064B50, 0, end64, 1))
    # The classic record only points at the ZIP64 one: its count, size and
    # offset are all -1 whatever they are. Readers that take the ZIP64
    # descriptor form only in a ZIP64 archive (osslsigncode 2.9 among them)
    # tell such an archive by these markers.
    out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, MAX16, MAX16, MAX32, MAX32, 0))


def main(argv=None):
    parser = argparse.ArgumentParser(description="Packs a folder into an unsigned MSIX package.")
    parser.add_argument("--out", required=True, help="the package to write")
    parser.add_argument("folder", help="folder holding AppxManifest.xml and the files it names")
    args = parser.parse_args(argv)
    if not os.path.isdir(args.folder):
        print(f"pack: not a folder: {args.folder}", file=sys.stderr)
        return 2
    try:
        pack(args.folder, args.out)
    except (PackError, OSError) as error:
        print(f"pack: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
