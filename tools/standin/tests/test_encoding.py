"""Compressed and chunked answers, decoded the way a client would, for every endpoint."""

import base64
import json
import zlib

from . import support
from .support import api, control, login, ok, records, upload

# Window bits that each decode exactly one format: zlib-wrapped deflate does
# not pass as raw, nor raw as zlib-wrapped.
WBITS = {"gzip": 31, "deflate": 15, "deflate-raw": -15}
LABEL = {"gzip": "gzip", "deflate": "deflate", "deflate-raw": "deflate"}
GROUPS = [{"content_group_id": n, "parent_content_group_id": None, "title_ja": "営業部 %d" % n}
          for n in range(40)]
ERRNO_7 = b'{"result": {"success": false, "errno": 7}}'


def script(server, endpoint, step):
    ok(server, "POST", "/script", {"endpoint": endpoint, "step": step})


class EncodingTest(support.StandinTestCase):
    def decode(self, data, encoding, complete=True):
        if encoding == "identity":
            return data
        d = zlib.decompressobj(WBITS[encoding])
        text = d.decompress(data)
        self.assertEqual((d.eof, d.unused_data), (complete, b""))
        return text

    def check_framing(self, resp, encoding, chunked):
        self.assertTrue(resp.raw_head.startswith(b"HTTP/1.1 "))        # also to HTTP/1.0 requests
        self.assertEqual(resp.header("Content-Encoding"), None if encoding == "identity" else LABEL[encoding])
        self.assertEqual(resp.header("Transfer-Encoding"), "chunked" if chunked else None)
        self.assertEqual(resp.header("Content-Length"), None if chunked else str(len(resp.body)))

    def session(self):
        """Login, listing and upload of one session: [(endpoint, answer)]."""
        resp, cookie = login(self.server)
        return [("authUserLogin", resp),
                ("manageContentGroups.json", api(self.server, "GET", "manageContentGroups.json",
                                                 cookie=cookie)),
                ("uploadContentFile.json", upload(self.server, cookie, 1, "a.txt", b"abc"))]

    def test_every_encoding_with_and_without_chunks(self):
        ok(self.server, "POST", "/groups", {"content_groups": GROUPS})
        plain = [resp.json() for _, resp in self.session()]
        self.assertEqual(len(plain[1]["content_groups"]), 40)
        for encoding in WBITS:
            for chunked in (False, True):
                with self.subTest(encoding=encoding, chunked=chunked):
                    setting = {"encoding": encoding, "chunked": chunked, "chunk_size": 64}
                    self.assertEqual(ok(self.server, "POST", "/encoding", setting), setting)
                    since = ok(self.server, "GET", "/requests")["last_seq"]
                    answers = self.session()
                    for (endpoint, resp), expected, rec in zip(answers, plain, records(self.server, since=since)):
                        self.check_framing(resp, encoding, chunked)
                        text = self.decode(resp.body, encoding)
                        self.assertEqual(json.loads(text), expected, endpoint)
                        if chunked:
                            self.assertTrue(all(0 < n <= 64 for n in resp.chunks), resp.chunks)
                        self.assertEqual(rec["endpoint"], endpoint)
                        response = rec["response"]
                        self.assertEqual((response["encoding"], response["framing"], response["wire_body_length"]),
                                         (encoding, "chunked" if chunked else "length", len(resp.body)))
                        self.assertEqual(base64.b64decode(response["body_b64"]), text)
                        self.assertEqual(response["body_length"], len(text))
                    # The listing is long enough to need several chunks.
                    self.assertGreater(len(answers[1][1].chunks or [0, 0]), 1)
        ok(self.server, "POST", "/reset")
        self.assertEqual(ok(self.server, "GET", "/encoding"),
                         {"encoding": "identity", "chunked": False, "chunk_size": 4096})
        resp, _ = login(self.server)
        self.check_framing(resp, "identity", False)

    def test_step_keys_and_the_setting(self):
        # (setting, step, encoding sent, chunked, body before encoding)
        cases = [
            (None, {"deflate": True}, "deflate", False, ERRNO_7),
            (None, {"deflate_raw": True, "chunked": True}, "deflate-raw", True, ERRNO_7),
            (None, {"chunked": True}, "identity", True, ERRNO_7),
            (None, {"gzip": True, "empty": True}, "gzip", False, b""),
            ({"encoding": "gzip", "chunked": True}, {"chunked": False}, "gzip", False, ERRNO_7),
            ({"encoding": "gzip", "chunked": True}, {"deflate": True}, "deflate", True, ERRNO_7),
            # An empty body is left alone by the setting, as a proxy would.
            ({"encoding": "deflate", "chunked": True}, {"empty": True}, "identity", False, b""),
            ({"encoding": "gzip"}, {"pad_to": 100000}, "gzip", False, ERRNO_7 + b" " * (100000 - 42)),
            ({"encoding": "deflate"}, {"status": 404, "not_json": True}, "deflate", False,
             b"<html><body>This is not JSON.</body></html>\r\n"),
        ]
        for setting, step, encoding, chunked, body in cases:
            with self.subTest(setting=setting, step=step):
                ok(self.server, "POST", "/encoding", setting or {})
                script(self.server, "authUserLogout", step)
                resp = api(self.server, "GET", "authUserLogout")
                self.check_framing(resp, encoding, chunked)
                self.assertEqual(self.decode(resp.body, encoding), body)
                self.assertEqual(records(self.server)[-1]["response"]["wire_body_length"], len(resp.body))
                # The next answer follows the setting again.
                resp = api(self.server, "GET", "authUserLogout")
                self.check_framing(resp, (setting or {}).get("encoding", "identity"),
                                   (setting or {}).get("chunked", False))

    def test_chunked_answers_keep_the_connection_alive(self):
        ok(self.server, "POST", "/encoding", {"encoding": "gzip", "chunked": True})
        _, cookie = login(self.server)
        req = support.request_bytes("GET", "/api/manageContentGroups.json", cookie=cookie,
                                    headers=b"Connection: Keep-Alive\r\n")
        with support.connect(self.server.port("http")) as sock:
            for _ in range(2):
                sock.sendall(req)
                resp = support.read_response(sock)
                self.assertEqual(resp.header("Connection"), "keep-alive")
                self.assertEqual(json.loads(self.decode(resp.body, "gzip"))["result"]["success"], True)

    def test_cut_and_endless_answers_are_cut_and_endless_on_the_wire(self):
        ok(self.server, "POST", "/encoding", {"encoding": "gzip", "chunked": True, "chunk_size": 16})
        whole = api(self.server, "GET", "authUserLogout").wire_body
        self.assertGreater(len(whole), 30)

        def answer(step, at_most):
            script(self.server, "authUserLogout", step)
            with support.connect(self.server.port("http")) as sock:
                sock.sendall(support.request_bytes("GET", "/api/authUserLogout"))
                data = b""
                while len(data) < at_most:
                    chunk = sock.recv(65536)
                    if not chunk:
                        break
                    data += chunk
            head, _, wire_body = data.partition(b"\r\n\r\n")
            self.assertIn(b"Transfer-Encoding: chunked", head)
            return wire_body

        self.assertEqual(answer({"cut_answer_after": 30}, 1 << 20), whole[:30])
        wire_body = answer({"endless": True}, 30000)
        chunks, at = b"", 0
        while wire_body.find(b"\r\n", at) > 0:        # whole chunks only; never a last one
            eol = wire_body.index(b"\r\n", at)
            size = int(wire_body[at:eol], 16)
            if eol + size + 4 > len(wire_body):
                break
            self.assertGreater(size, 0)
            chunks += wire_body[eol + 2:eol + 2 + size]
            at = eol + size + 4
        text = self.decode(chunks, "gzip", complete=False)
        self.assertTrue(text.startswith(ERRNO_7))
        self.assertGreater(len(text), 1000000)          # blanks, compressed as they go
        self.assertEqual(text[len(ERRNO_7):].strip(b" "), b"")

    def test_bad_settings_and_steps_are_refused(self):
        for path, body in [("/encoding", {"encoding": "br"}), ("/encoding", {"chunked": "yes"}),
                           ("/encoding", {"chunk_size": 0}), ("/encoding", {"gzip": True}),
                           ("/script", {"step": {"gzip": True, "deflate": True}})]:
            status, doc = control(self.server, "POST", path, body)
            self.assertEqual(status, 400, body)
            self.assertIn("error", doc)
        self.assertEqual(ok(self.server, "GET", "/encoding")["encoding"], "identity")
