"""The streaming multipart parser agrees with the email package's parser, however the body is cut."""

import email.parser
import email.policy
import os
import tempfile
import unittest

from . import support  # noqa: F401  (puts the package on the path)
from standin import multipart


def email_parts(content_type, body):
    msg = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
        b"Content-Type: " + content_type.encode() + b"\r\n\r\n" + body)
    return [(p.get_param("name", header="content-disposition"), p.get_filename(),
             p.get_payload(decode=True)) for p in msg.iter_parts()]


def stream_parts(content_type, body, piece, spool):
    parser = multipart.MultipartParser(content_type, spool)
    for i in range(0, len(body), piece):
        parser.feed(body[i:i + piece])
    out = []
    for p in parser.finish():
        if p.is_file:
            with open(p.spool_path, "rb") as f:
                data = f.read()
            p.discard()
        else:
            data = bytes(p.value)
        out.append((p.name, p.filename, data))
    return out


class MultipartTest(unittest.TestCase):
    def setUp(self):
        self.spool = tempfile.mkdtemp(prefix="standin-mp-")

    def tearDown(self):
        self.assertEqual(os.listdir(self.spool), [])       # nothing left behind
        os.rmdir(self.spool)

    def check(self, content_type, body, expected):
        self.assertEqual(email_parts(content_type, body), expected)
        for piece in (1, 3, 41, 64 * 1024):
            self.assertEqual(stream_parts(content_type, body, piece, self.spool), expected, piece)

    def test_client_layout(self):
        data = (b"\r\n--" + support.BOUNDARY.encode()[:-1] + b"\r\n") * 3 + bytes(range(256))
        body = support.upload_body(42, "report.pdf", data, delete_days=-1, encrypt=True)
        self.check("multipart/form-data; boundary=" + support.BOUNDARY, body,
                   [("group_id", None, b"42"), ("file_delete_days", None, b"-1"),
                    ("is_encrypt", None, b"true"), ("file", "report.pdf", data)])

    def test_other_layout_quoted_boundary_preamble_epilogue_padding(self):
        body = (b"preamble text\r\n--b=1 \t\r\n"
                b'content-disposition: form-data; name="a"\r\n\r\nvalue\r\n'
                b'--b=1\r\nContent-Disposition: form-data; name="f"; filename="x y.bin"\r\n'
                b"Content-Type: application/octet-stream\r\n\r\n\r\n\r\n--b=\r\n"
                b"--b=1--\r\nepilogue")
        self.check('multipart/form-data; boundary="b=1"', body,
                   [("a", None, b"value"), ("f", "x y.bin", b"\r\n\r\n--b=")])

    def test_utf8_file_name_and_empty_file(self):
        body = support.upload_body(1, "日本語 ファイル.txt", b"")
        parts = stream_parts("multipart/form-data; boundary=" + support.BOUNDARY, body, 5, self.spool)
        self.assertEqual(parts[-1], ("file", "日本語 ファイル.txt", b""))

    def test_unfinished_or_broken_bodies_fail_and_leave_no_files(self):
        ct = "multipart/form-data; boundary=" + support.BOUNDARY
        body = support.upload_body(1, "a.txt", b"x" * 1000)
        for broken in (body[:-10], body[:300], b"no delimiter at all"):
            parser = multipart.MultipartParser(ct, self.spool)
            parser.feed(broken)
            self.assertRaises(multipart.MultipartError, parser.finish)
        self.assertRaises(multipart.MultipartError, multipart.MultipartParser, "text/plain", self.spool)
        self.assertRaises(multipart.MultipartError, multipart.MultipartParser, "multipart/form-data",
                          self.spool)
