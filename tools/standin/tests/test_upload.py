"""Multipart uploads: parsed, stored byte-identical, refused when short or wrong."""

import base64
import hashlib
import os
import socket
import subprocess
import tempfile
import time

from . import support
from .support import api, login, ok, records, upload


def tricky_data(size):
    """Binary data full of near-delimiters, CR LF pairs and high bytes."""
    near = b"\r\n--" + support.BOUNDARY.encode()[:-1] + b"\r\n\r\n\x00\xff"
    block = bytes(range(256)) + near + b"\r\n---------------------------26500191691572X--\r\n"
    return (block * (size // len(block) + 1))[:size]


class UploadTest(support.StandinTestCase):
    def setUp(self):
        super().setUp()
        _, self.cookie = login(self.server)

    def stored(self):
        return ok(self.server, "GET", "/files")["files"]

    def read_stored(self, entry):
        with open(entry["absolute_path"], "rb") as f:
            return f.read()

    def test_client_layout_is_parsed_and_stored_byte_identical(self):
        data = tricky_data(300 * 1024 + 7)
        resp = upload(self.server, self.cookie, 3, "見積書 v2.pdf", data, delete_days=-1, encrypt=True)
        self.assertEqual(resp.json(), {"result": {"success": True, "errno": 0}})
        [entry] = self.stored()
        self.assertEqual((entry["group_id"], entry["filename"], entry["path"]),
                         ("3", "見積書 v2.pdf", os.path.join("3", "見積書 v2.pdf")))
        self.assertEqual((entry["is_encrypt"], entry["file_delete_days"]), ("true", "-1"))
        self.assertEqual((entry["size"], entry["sha256"]), (len(data), hashlib.sha256(data).hexdigest()))
        self.assertEqual(self.read_stored(entry), data)

        rec = records(self.server, "uploadContentFile.json")[-1]
        body = support.upload_body(3, "見積書 v2.pdf", data, delete_days=-1, encrypt=True)
        self.assertEqual((rec["body_received"], rec["body_complete"]), (len(body), True))
        self.assertEqual(rec["body_sha256"], hashlib.sha256(body).hexdigest())
        self.assertNotIn("body_b64", rec)                     # too big to keep whole
        self.assertEqual(base64.b64decode(rec["body_head_b64"]), body[:4096])
        self.assertEqual(rec["upload"]["fields"],
                         {"group_id": "3", "file_delete_days": "-1", "is_encrypt": "true"})
        self.assertEqual(base64.b64decode(rec["upload"]["filename_bytes_b64"]),
                         "見積書 v2.pdf".encode("utf-8"))
        self.assertEqual(rec["upload"]["stored"], entry["path"])

    def test_curl_layout_is_parsed_too(self):
        data = tricky_data(5000)
        with tempfile.NamedTemporaryFile(suffix=".bin") as f:
            f.write(data)
            f.flush()
            out = subprocess.run(
                ["curl", "-s", "--http1.0", "-b", self.cookie,
                 "-F", "group_id=7", "-F", "file_delete_days=30", "-F", "is_encrypt=false",
                 "-F", "file=@%s;filename=報告.txt" % f.name,
                 "http://127.0.0.1:%d/api/uploadContentFile.json" % self.server.port("http")],
                stdout=subprocess.PIPE, timeout=20, check=True).stdout
        self.assertEqual(out, b'{"result": {"success": true, "errno": 0}}')
        [entry] = self.stored()
        self.assertEqual((entry["group_id"], entry["filename"], entry["file_delete_days"]),
                         ("7", "報告.txt", "30"))
        self.assertEqual(self.read_stored(entry), data)

    def test_empty_file_and_same_name_overwrites(self):
        upload(self.server, self.cookie, 1, "a.txt", b"")
        upload(self.server, self.cookie, 1, "a.txt", b"second")
        first, second = self.stored()
        self.assertEqual((first["size"], first["replaced"]), (0, True))
        self.assertEqual((second["size"], second["replaced"]), (6, False))
        self.assertEqual(self.read_stored(second), b"second")

    def test_short_body_is_not_stored(self):
        body = support.upload_body(1, "short.bin", tricky_data(20000))
        head = support.request_bytes("POST", "/api/uploadContentFile.json", support.UPLOAD_HEADERS,
                                     b"", self.cookie).replace(b"Content-Length: 0",
                                                               b"Content-Length: %d" % len(body))
        with support.connect(self.server.port("http")) as sock:
            sock.sendall(head + body[:12345])
            sock.shutdown(socket.SHUT_WR)
            resp = support.read_response(sock)
        self.assertEqual((resp.status, resp.json()), (400, {"result": {"success": False, "errno": 1}}))
        rec = support.wait_until(lambda: records(self.server, "uploadContentFile.json"))[-1]
        self.assertEqual((rec["outcome"], rec["body_complete"], rec["body_received"], rec["content_length"]),
                         ("incomplete", False, 12345, len(body)))
        self.assertEqual(self.stored(), [])
        self.assertEqual(ok(self.server, "GET", "/counters")["uploads_incomplete"], 1)
        data_dir = ok(self.server, "GET", "/info")["data_dir"]
        self.assertEqual([n for n in os.listdir(data_dir) if n.startswith(".incoming-")], [])

    def test_blank_line_inside_the_head(self):
        # A header text that itself ends in CR LF CR LF, followed by more headers.
        body = support.upload_body(2, "b.txt", b"payload")
        head = (b"POST /api/uploadContentFile.json HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                b"Cookie: " + self.cookie.encode() + b"\r\n"
                b"Accept-Charset: Shift_JIS,utf-8;q=0.7,*;q=0.7\r\n\r\n"
                b"Content-Type: multipart/form-data; boundary=" + support.BOUNDARY.encode() + b"\r\n"
                b"Content-Length: %d\r\n\r\n" % len(body))
        resp = support.exchange(self.server.port("http"), head + body)
        self.assertEqual(resp.json()["result"]["success"], True)
        rec = records(self.server, "uploadContentFile.json")[-1]
        self.assertTrue(rec["blank_line_in_head"])
        self.assertEqual(base64.b64decode(rec["head_b64"]), head)
        self.assertEqual(self.read_stored(self.stored()[0]), b"payload")

        # The same with Content-Length declared before the stray blank line.
        head = (b"POST /api/uploadContentFile.json HTTP/1.0\r\nContent-Length: %d\r\n"
                b"Cookie: " + self.cookie.encode() + b"\r\n"
                b"Accept-Charset: Shift_JIS,utf-8;q=0.7,*;q=0.7\r\n\r\n"
                b"Content-Type: multipart/form-data; boundary=" + support.BOUNDARY.encode() +
                b"\r\n\r\n") % len(body)
        resp = support.exchange(self.server.port("http"), head + body)
        self.assertEqual(resp.json()["result"]["success"], True)
        self.assertEqual(base64.b64decode(records(self.server, "uploadContentFile.json")[-1]["head_b64"]),
                         head)
        self.assertEqual(len(self.stored()), 2)

    def test_refusals(self):
        cases = [
            (None, support.upload_body(1, "x.txt", b"x"), 7),
            (self.cookie, support.upload_body(1, "../x.txt", b"x"), 1),
            (self.cookie, support.upload_body(1, "x.txt", b"x").replace(b'name="file"', b'name="data"'), 1),
            (self.cookie, support.upload_body(1, "x.txt", b"x")[:-4], 1),     # no closing delimiter
        ]
        for cookie, body, errno in cases:
            resp = api(self.server, "POST", "uploadContentFile.json", body, support.UPLOAD_HEADERS, cookie)
            self.assertEqual(resp.json(), {"result": {"success": False, "errno": errno}})
        self.assertEqual(self.stored(), [])
        self.assertEqual(ok(self.server, "GET", "/counters")["uploads_refused"], 4)

    def test_sink_counts_and_discards(self):
        ok(self.server, "POST", "/sink", {"enabled": True})
        data = tricky_data(3 * 1024 * 1024)
        resp = upload(self.server, self.cookie, 1, "big.bin", data)
        self.assertEqual(resp.json()["result"]["success"], True)
        body_len = len(support.upload_body(1, "big.bin", data))
        counters = ok(self.server, "GET", "/counters")
        self.assertEqual((counters["sink_uploads"], counters["sink_bytes"]), (1, body_len))
        self.assertEqual(self.stored(), [])
        rec = records(self.server, "uploadContentFile.json")[-1]
        self.assertEqual((rec["sink"], rec["body_received"]), (True, body_len))


class SlowReadTest(support.StandinTestCase):
    def test_read_rate_makes_the_transfer_last_and_still_stores_it(self):
        _, cookie = login(self.server)
        ok(self.server, "POST", "/script",
           {"endpoint": "uploadContentFile.json", "steps": [{"read_rate": 200000}]})
        data = tricky_data(100 * 1024)
        started = time.monotonic()
        resp = upload(self.server, cookie, 3, "slow.bin", data)
        elapsed = time.monotonic() - started
        self.assertEqual(resp.json()["result"]["success"], True)
        self.assertGreaterEqual(elapsed, 0.4)      # 100 KiB at 200 kB/s: half a second
        [entry] = ok(self.server, "GET", "/files")["files"]
        self.assertEqual(entry["sha256"], hashlib.sha256(data).hexdigest())

    def test_read_rate_below_a_kibibyte_is_refused(self):
        status, body = support.control(self.server, "POST", "/script",
                                       {"endpoint": "uploadContentFile.json", "steps": [{"read_rate": 10}]})
        self.assertEqual(status, 400, body)
