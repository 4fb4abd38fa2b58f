"""Scripted answers: each step kind, attempt counting, and when effects still happen."""

import gzip
import time

from . import support
from .support import api, control, login, ok, records, upload


def script(server, endpoint, *steps):
    return ok(server, "POST", "/script", {"endpoint": endpoint, "steps": list(steps)})


class AnswerShapeTest(support.StandinTestCase):
    def login_answer(self, *steps):
        script(self.server, "authUserLogin", *steps)
        return login(self.server)

    def test_errno_means_failure_and_no_session(self):
        resp, cookie = self.login_answer({"errno": 4})
        self.assertEqual(resp.json(), {"result": {"success": False, "errno": 4}})
        self.assertIsNone(cookie)
        self.assertEqual(ok(self.server, "GET", "/counters")["logins"], 0)

    def test_success_as_any_json_value(self):
        cases = [
            ({"success": True}, {"success": True, "errno": 0}, True),
            ({"success": "true"}, {"success": "true", "errno": 0}, True),
            ({"success": "TRUE"}, {"success": "TRUE", "errno": 0}, False),
            ({"success": "yes"}, {"success": "yes", "errno": 0}, False),
            ({"omit": ["success"]}, {"errno": 0}, False),
        ]
        for step, result, session in cases:
            resp, cookie = self.login_answer(step)
            self.assertEqual(resp.json(), {"result": result}, step)
            # The session exists exactly when the client would read the answer as success.
            self.assertEqual(cookie is not None, session, step)

    def test_errno_as_any_json_value(self):
        for step, raw in [({"errno": 6}, b'"errno": 6}'), ({"errno": 6.0}, b'"errno": 6.0}'),
                          ({"errno": "6"}, b'"errno": "6"}')]:
            resp, _ = self.login_answer(step)
            self.assertEqual(resp.body, b'{"result": {"success": false, ' + raw + b"}")
        resp, _ = self.login_answer({"success": False, "omit": ["errno"]})
        self.assertEqual(resp.json(), {"result": {"success": False}})

    def test_result_not_an_object_or_absent(self):
        resp, cookie = self.login_answer({"result": "ok"})
        self.assertEqual((resp.json(), cookie), ({"result": "ok"}, None))
        resp, _ = self.login_answer({"result": [1, 2]})
        self.assertEqual(resp.json(), {"result": [1, 2]})
        resp, _ = self.login_answer({"omit": ["result"]})
        self.assertEqual(resp.json(), {})

    def test_status_body_empty_not_json_verbatim(self):
        resp, _ = self.login_answer({"status": 503, "body": "サーバー停止中"})
        self.assertEqual((resp.status, resp.body), (503, "サーバー停止中".encode("utf-8")))
        resp, _ = self.login_answer({"empty": True})
        self.assertEqual((resp.status, resp.body, resp.header("Content-Length")), (200, b"", "0"))
        resp, _ = self.login_answer({"not_json": True})
        self.assertEqual(resp.status, 200)
        self.assertRaises(ValueError, resp.json)
        text = '{"result":{"success":"true","errno":"0"}}'
        resp, cookie = self.login_answer({"body": text})
        self.assertEqual(resp.body, text.encode())
        self.assertIsNotNone(cookie)       # "true" as a string still reads as success

    def test_gzip_encoded_body(self):
        resp, _ = self.login_answer({"gzip": True})
        self.assertEqual(resp.header("Content-Encoding"), "gzip")
        self.assertEqual(gzip.decompress(resp.body), b'{"result": {"success": true, "errno": 0}}')

    def test_delay(self):
        script(self.server, "authUserLogout", {"delay_ms": 400})
        start = time.monotonic()
        api(self.server, "GET", "authUserLogout")
        self.assertGreaterEqual(time.monotonic() - start, 0.4)

    def test_proxy_auth_required_and_extra_headers(self):
        resp, _ = self.login_answer({"proxy_auth": True, "headers": {"X-Test": "1"}})
        self.assertEqual(resp.status, 407)
        self.assertTrue(resp.header("Proxy-Authenticate").startswith("Basic "))
        self.assertEqual(resp.header("X-Test"), "1")

    def test_hangup_closes_without_answer(self):
        script(self.server, "authUserLogin", {"hangup": True})
        with self.assertRaises(ConnectionError):
            login(self.server)
        self.assertEqual(records(self.server)[-1]["outcome"], "hangup")

    def test_misbehaving_bodies(self):
        # Padded to a size, paced, stalled, cut and endless answer bodies.
        resp, _ = self.login_answer({"pad_to": 5000})
        self.assertEqual(len(resp.body), 5000)
        self.assertTrue(resp.json()["result"]["success"])
        script(self.server, "authUserLogout", {"answer_rate": 40})
        start = time.monotonic()
        resp = api(self.server, "GET", "authUserLogout")
        self.assertGreaterEqual(time.monotonic() - start, 0.5)     # 41 bytes at 40 a second
        self.assertEqual(resp.json()["result"]["errno"], 7)
        for step in ({"stall_after": 10}, {"cut_answer_after": 10}, {"endless": True}):
            script(self.server, "authUserLogout", step)
            with support.connect(self.server.port("http"), timeout=2) as sock:
                sock.sendall(support.request_bytes("GET", "/api/authUserLogout"))
                data = b""
                try:
                    while len(data) < 300000:
                        chunk = sock.recv(65536)
                        if not chunk:
                            break
                        data += chunk
                except OSError:     # the stalled body: nothing more comes
                    pass
            head, _, body = data.partition(b"\r\n\r\n")
            self.assertIn(b"HTTP/1.1 200", head, step)
            if "endless" in step:
                self.assertNotIn(b"Content-Length", head)
                self.assertGreaterEqual(len(body), 300000 - len(head) - 4)
            else:
                self.assertIn(b"Content-Length: 42", head)
                self.assertEqual(body, b'{"result": {"success": false, "errno": 7}}'[:10], step)

    def test_first_match_and_any_endpoint(self):
        script(self.server, "uploadContentFile.json", {"errno": 14})
        script(self.server, "*", {"errno": 3})
        resp, _ = login(self.server)
        self.assertEqual(resp.json()["result"]["errno"], 3)
        ok(self.server, "POST", "/accounts", {"accounts": {"user": "secret"}})
        resp = upload(self.server, None, 1, "a.txt", b"a")
        self.assertEqual(resp.json()["result"]["errno"], 14)
        self.assertEqual(ok(self.server, "GET", "/script")["pending"], [])

    def test_invalid_steps_are_refused(self):
        for body in ({"endpoint": "upload", "steps": [{}]},
                     {"endpoint": "*", "steps": [{"erno": 6}]},
                     {"endpoint": "*", "steps": [{"cut_after": -1}]},
                     {"endpoint": "*", "steps": [{"body": "a", "empty": True}]},
                     {"endpoint": "*"}):
            status, doc = control(self.server, "POST", "/script", body)
            self.assertEqual(status, 400, body)
            self.assertIn("error", doc)
        self.assertEqual(ok(self.server, "GET", "/script")["pending"], [])


class UploadAttemptTest(support.StandinTestCase):
    """What a retrying uploader meets: cuts on chosen attempts, statuses after the body."""

    DATA = bytes(range(256)) * 800      # 200 KiB: more than the socket buffers take at once

    def setUp(self):
        super().setUp()
        _, self.cookie = login(self.server)

    def attempt(self, name="f.bin"):
        try:
            return upload(self.server, self.cookie, 5, name, self.DATA).json()["result"]["success"]
        except OSError:
            return "cut"

    def outcomes(self):
        return [r["outcome"] for r in records(self.server, "uploadContentFile.json")]

    def test_second_attempt_cut(self):
        script(self.server, "uploadContentFile.json", {"pass": True}, {"cut_after": 1000})
        self.assertEqual([self.attempt("a"), self.attempt("b"), self.attempt("c")], [True, "cut", True])
        self.assertEqual(self.outcomes(), ["answered", "cut", "answered"])
        cut = records(self.server, "uploadContentFile.json")[1]
        self.assertEqual((cut["body_received"], cut["body_complete"]), (1000, False))
        self.assertEqual([f["filename"] for f in ok(self.server, "GET", "/files")["files"]], ["a", "c"])
        self.assertEqual(ok(self.server, "GET", "/counters")["uploads_cut"], 1)

    def test_first_two_cut_third_through(self):
        script(self.server, "uploadContentFile.json", {"cut_after": 0, "times": 2})
        self.assertEqual([self.attempt() for _ in range(3)], ["cut", "cut", True])
        self.assertEqual(len(ok(self.server, "GET", "/files")["files"]), 1)

    def test_every_attempt_cut(self):
        script(self.server, "uploadContentFile.json", {"cut_after": 100, "forever": True,
                                                       "cut_mode": "close"})
        self.assertEqual([self.attempt() for _ in range(4)], ["cut"] * 4)
        self.assertEqual(ok(self.server, "GET", "/files")["files"], [])
        self.assertEqual(len(ok(self.server, "GET", "/script")["pending"]), 1)

    def test_status_500_after_the_complete_body(self):
        script(self.server, "uploadContentFile.json", {"status": 500})
        resp = upload(self.server, self.cookie, 5, "f.bin", self.DATA)
        self.assertEqual(resp.status, 500)
        rec = records(self.server, "uploadContentFile.json")[-1]
        body_len = len(support.upload_body(5, "f.bin", self.DATA))
        self.assertEqual((rec["body_complete"], rec["body_received"], rec["committed"]),
                         (True, body_len, False))
        self.assertEqual(rec["upload"]["file_size"], len(self.DATA))
        self.assertEqual(ok(self.server, "GET", "/files")["files"], [])

    def test_commit_overrides_the_answer(self):
        script(self.server, "uploadContentFile.json", {"errno": 14, "commit": True})
        resp = upload(self.server, self.cookie, 5, "kept.bin", self.DATA)
        self.assertEqual(resp.json()["result"]["errno"], 14)
        self.assertEqual([f["filename"] for f in ok(self.server, "GET", "/files")["files"]], ["kept.bin"])
