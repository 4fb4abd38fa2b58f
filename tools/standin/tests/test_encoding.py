"""Compressed and chunked answers, decoded the way a client would, for every endpoint."""

import base64
import json
import zlib

from . import support
from .support import api, login, ok, records, upload

# Window bits that each decode exactly one format: zlib-wrapped deflate does
# not pass as raw, nor raw as zlib-wrapped.
WBITS = {"gzip": 31, "deflate": 15, "deflate-raw": -15}
ERRNO_7 = b'{"result": {"success": false, "errno": 7}}'


def script(server, step):
    ok(server, "POST", "/script", {"endpoint": "authUserLogout", "step": step})


class EncodingTest(support.StandinTestCase):
    def decoded(self, resp, encoding, chunked):
        """The answer's body, its framing headers checked, decoded."""
        self.assertTrue(resp.raw_head.startswith(b"HTTP/1.1 "))        # also to HTTP/1.0 requests
        self.assertEqual(resp.header("Content-Encoding"),
                         {"identity": None, "deflate-raw": "deflate"}.get(encoding, encoding))
        self.assertEqual(resp.header("Transfer-Encoding"), "chunked" if chunked else None)
        self.assertEqual(resp.header("Content-Length"), None if chunked else str(len(resp.body)))
        if encoding == "identity":
            return resp.body
        d = zlib.decompressobj(WBITS[encoding])
        text = d.decompress(resp.body)
        self.assertEqual((d.eof, d.unused_data), (True, b""))
        return text

    def test_every_encoding_with_and_without_chunks(self):
        ok(self.server, "POST", "/groups", {"content_groups": [
            {"content_group_id": n, "title_ja": "営業部 %d" % n} for n in range(40)]})

        def session():
            resp, cookie = login(self.server)
            return [resp, api(self.server, "GET", "manageContentGroups.json", cookie=cookie),
                    upload(self.server, cookie, 1, "a.txt", b"abc")]

        plain = [resp.json() for resp in session()]
        for encoding in WBITS:
            for chunked in (False, True):
                with self.subTest(encoding=encoding, chunked=chunked):
                    setting = {"encoding": encoding, "chunked": chunked, "chunk_size": 64}
                    self.assertEqual(ok(self.server, "POST", "/encoding", setting), setting)
                    since = ok(self.server, "GET", "/requests")["last_seq"]
                    answers = session()
                    for resp, expected, rec in zip(answers, plain, records(self.server, since=since)):
                        text = self.decoded(resp, encoding, chunked)
                        self.assertEqual(json.loads(text), expected)
                        self.assertEqual(base64.b64decode(rec["response"]["body_b64"]), text)
                        self.assertEqual([rec["response"][k] for k in ("encoding", "framing", "wire_body_length")],
                                         [encoding, "chunked" if chunked else "length", len(resp.body)])
                    if chunked:
                        self.assertGreater(len(answers[1].chunks), 1)
                        self.assertLessEqual(max(answers[1].chunks), 64)
        ok(self.server, "POST", "/reset")
        self.assertEqual(ok(self.server, "GET", "/encoding")["encoding"], "identity")
        self.decoded(login(self.server)[0], "identity", False)

    def test_step_keys_and_the_setting(self):
        # (setting, step, encoding sent, chunked, body before encoding)
        cases = [
            ({}, {"deflate": True}, "deflate", False, ERRNO_7),
            ({}, {"deflate_raw": True, "chunked": True}, "deflate-raw", True, ERRNO_7),
            ({}, {"gzip": True, "empty": True}, "gzip", False, b""),
            ({"encoding": "gzip", "chunked": True}, {"chunked": False}, "gzip", False, ERRNO_7),
            ({"encoding": "gzip", "chunked": True}, {"deflate": True}, "deflate", True, ERRNO_7),
            ({"encoding": "deflate", "chunked": True}, {"empty": True}, "identity", False, b""),
            ({"encoding": "gzip"}, {"pad_to": 100000}, "gzip", False, ERRNO_7 + b" " * 99958),
            ({"encoding": "deflate"}, {"status": 404, "not_json": True}, "deflate", False,
             b"<html><body>This is not JSON.</body></html>\r\n"),
        ]
        for setting, step, encoding, chunked, body in cases:
            with self.subTest(setting=setting, step=step):
                ok(self.server, "POST", "/encoding", setting)
                script(self.server, step)
                self.assertEqual(self.decoded(api(self.server, "GET", "authUserLogout"), encoding, chunked), body)
                # The next answer follows the setting again.
                self.decoded(api(self.server, "GET", "authUserLogout"), setting.get("encoding", "identity"),
                             setting.get("chunked", False))

    def test_chunked_answers_keep_the_connection_alive(self):
        ok(self.server, "POST", "/encoding", {"encoding": "gzip", "chunked": True})
        req = support.request_bytes("GET", "/api/authUserLogout", headers=b"Connection: Keep-Alive\r\n")
        with support.connect(self.server.port("http")) as sock:
            for _ in range(2):
                sock.sendall(req)
                resp = support.read_response(sock)
                self.assertEqual(resp.header("Connection"), "keep-alive")
                self.assertEqual(self.decoded(resp, "gzip", True), ERRNO_7)

    def wire_body(self, step, at_most):
        script(self.server, step)
        with support.connect(self.server.port("http")) as sock:
            sock.sendall(support.request_bytes("GET", "/api/authUserLogout"))
            data = b""
            while len(data) < at_most:
                chunk = sock.recv(65536)
                if not chunk:
                    break
                data += chunk
        return data.partition(b"\r\n\r\n")[2]

    def test_cut_and_endless_answers(self):
        ok(self.server, "POST", "/encoding", {"encoding": "gzip", "chunked": True, "chunk_size": 16})
        whole = api(self.server, "GET", "authUserLogout").wire_body
        self.assertGreater(len(whole), 30)
        self.assertEqual(self.wire_body({"cut_answer_after": 30}, 1 << 20), whole[:30])
        # The gzip stream goes on with blanks without end, decodable as it comes.
        d = zlib.decompressobj(31)
        text = d.decompress(self.wire_body({"endless": True, "chunked": False}, 20000))
        self.assertFalse(d.eof)
        self.assertTrue(text.startswith(ERRNO_7))
        self.assertGreater(len(text), 1000000)
        self.assertEqual(text[len(ERRNO_7):].strip(b" "), b"")

    def test_bad_settings_and_steps_are_refused(self):
        for path, body in [("/encoding", {"encoding": "br"}), ("/encoding", {"chunked": "yes"}),
                           ("/encoding", {"chunk_size": 0}), ("/encoding", {"gzip": True}),
                           ("/script", {"step": {"gzip": True, "deflate": True}})]:
            self.assertEqual(support.control(self.server, "POST", path, body)[0], 400, body)
        self.assertEqual(ok(self.server, "GET", "/encoding")["encoding"], "identity")
