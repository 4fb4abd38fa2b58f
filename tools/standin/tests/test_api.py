"""Login, sessions, the group listing and paths, through real HTTP on loopback."""

import base64
import json
import os
import threading
import time

from . import support
from .support import api, login, ok, records


class LoginTest(support.StandinTestCase):
    def test_shift_jis_form_with_reserved_characters_is_decoded(self):
        password = "p&ss=w rd+パス①～"   # "&", "=", a blank, "+", Japanese, cp932-only characters
        username = "山田 太郎"
        ok(self.server, "POST", "/accounts", {"accounts": {username: password}})
        body = support.login_form(username, password)
        self.assertIn(b"%26", body)                      # the encoder really escaped "&"
        resp, cookie = login(self.server, username, password)
        self.assertEqual(resp.status, 200)
        self.assertEqual(resp.json(), {"result": {"success": True, "errno": 0}})
        self.assertTrue(cookie.startswith("TESSALYSESS="))

        rec = records(self.server, "authUserLogin")[-1]
        form = {f["key"]: f["value"] for f in rec["form"]}
        self.assertEqual(form["username"], username)
        self.assertEqual(form["password"], password)
        self.assertEqual(form["app_name"], "Tessaly Sendlet")
        self.assertEqual(form["deviceName"], "KVORTAMLEXWINDOC")
        self.assertEqual([f["key"] for f in rec["form"]],
                         ["username", "password", "app_name", "app_ver", "device_key", "deviceName"])
        # Raw bytes are kept beside the decoded text.
        self.assertEqual(base64.b64decode(rec["body_b64"]), body)
        raw_pw = [f for f in rec["form"] if f["key"] == "password"][0]["value_raw_b64"]
        self.assertEqual(base64.b64decode(raw_pw), support.url_encode(password).encode())
        self.assertEqual(rec["session"], None)
        self.assertEqual(rec["new_session"], cookie.split("=", 1)[1])

    def test_wrong_password_gives_errno_6_and_no_cookie(self):
        resp, cookie = login(self.server, "user", "wrong")
        self.assertEqual(resp.status, 200)
        self.assertEqual(resp.json(), {"result": {"success": False, "errno": 6}})
        self.assertIsNone(cookie)
        counters = ok(self.server, "GET", "/counters")
        self.assertEqual((counters["logins"], counters["login_failures"]), (0, 1))

    def test_request_head_is_recorded_byte_for_byte(self):
        raw = support.request_bytes("POST", "/api/authUserLogin",
                                    b"Content-type: application/x-www-form-urlencoded\r\n"
                                    b"User-Agent: zinpost\r\n",
                                    support.login_form("user", "secret"))
        support.exchange(self.server.port("http"), raw)
        rec = records(self.server)[-1]
        head, _, body = raw.partition(b"\r\n\r\n")
        self.assertEqual(base64.b64decode(rec["head_b64"]), head + b"\r\n\r\n")
        self.assertEqual(base64.b64decode(rec["body_b64"]), body)
        self.assertEqual((rec["door"], rec["endpoint"], rec["version"]),
                         ("http", "authUserLogin", "HTTP/1.0"))


class SessionTest(support.StandinTestCase):
    def test_cookie_required_after_login_and_gone_after_logout(self):
        resp = api(self.server, "GET", "manageContentGroups.json")
        self.assertEqual(resp.json(), {"result": {"success": False, "errno": 7}})
        _, cookie = login(self.server)
        resp = api(self.server, "GET", "manageContentGroups.json", cookie=cookie)
        self.assertEqual(resp.json()["result"], {"success": True, "errno": 0})
        resp = api(self.server, "GET", "authUserLogout", cookie=cookie)
        self.assertEqual(resp.json(), {"result": {"success": True, "errno": 0}})
        resp = api(self.server, "GET", "authUserLogout", cookie=cookie)
        self.assertEqual(resp.json(), {"result": {"success": False, "errno": 7}})
        resp = api(self.server, "GET", "manageContentGroups.json", cookie=cookie)
        self.assertEqual(resp.json()["result"]["errno"], 7)

        counters = ok(self.server, "GET", "/counters")
        self.assertEqual((counters["logins"], counters["logouts"]), (1, 1))
        sid = cookie.split("=", 1)[1]
        self.assertEqual(counters["sessions"][sid]["logouts"], 1)
        sessions = ok(self.server, "GET", "/sessions")["sessions"]
        self.assertEqual([(s["id"], s["active"]) for s in sessions], [(sid, False)])

    def test_ending_sessions_from_control(self):
        _, cookie = login(self.server)
        self.assertEqual(ok(self.server, "DELETE", "/sessions")["ended"], 1)
        resp = api(self.server, "GET", "manageContentGroups.json", cookie=cookie)
        self.assertEqual(resp.json()["result"]["errno"], 7)

    def test_keep_alive_connection_serves_several_requests(self):
        _, cookie = login(self.server)
        req = support.request_bytes("GET", "/api/manageContentGroups.json", cookie=cookie,
                                    headers=b"Connection: Keep-Alive\r\n")
        with support.connect(self.server.port("http")) as sock:
            for _ in range(3):
                sock.sendall(req)
                resp = support.read_response(sock)
                self.assertEqual(resp.json()["result"]["success"], True)
                self.assertEqual(resp.header("Connection"), "keep-alive")


class GroupsTest(support.StandinTestCase):
    def test_groups_sent_as_given(self):
        groups = [
            {"content_group_id": 12, "parent_content_group_id": None, "title_ja": "営業部", "type": 1},
            {"content_group_id": "13", "title_ja": "", "type": "2"},
            {"content_group_id": "14", "parent_content_group_id": "99", "title_ja": "親なし"},
            {"content_group_id": 6.5, "parent_content_group_id": 12, "title_ja": "設計", "type": None},
        ]
        ok(self.server, "POST", "/groups", {"content_groups": groups})
        _, cookie = login(self.server)
        resp = api(self.server, "GET", "manageContentGroups.json", cookie=cookie)
        self.assertEqual(resp.json(), {"result": {"success": True, "errno": 0}, "content_groups": groups})
        self.assertIn("営業部".encode("utf-8"), resp.body)       # UTF-8, not \u escapes

    def test_verbatim_body(self):
        text = '{"result":{"success":"true","errno":"0"},"content_groups":[{"content_group_id":1e1}]}'
        ok(self.server, "POST", "/groups", {"body": text})
        _, cookie = login(self.server)
        resp = api(self.server, "GET", "manageContentGroups.json", cookie=cookie)
        self.assertEqual(resp.body, text.encode("utf-8"))

    def test_reset_restores_start_state(self):
        ok(self.server, "POST", "/groups", {"content_groups": [{"content_group_id": "1"}]})
        _, cookie = login(self.server)
        support.upload(self.server, cookie, 1, "a.txt", b"abc")
        ok(self.server, "POST", "/script", {"endpoint": "*", "step": {"errno": 3, "forever": True}})
        path = ok(self.server, "GET", "/files")["files"][0]["absolute_path"]
        ok(self.server, "POST", "/reset")
        self.assertEqual(ok(self.server, "GET", "/groups"), {"content_groups": []})
        self.assertEqual(ok(self.server, "GET", "/files")["files"], [])
        self.assertEqual(ok(self.server, "GET", "/script")["pending"], [])
        self.assertEqual(ok(self.server, "GET", "/sessions")["sessions"], [])
        self.assertEqual(ok(self.server, "GET", "/counters")["requests"], 0)
        self.assertEqual(records(self.server), [])
        self.assertEqual(ok(self.server, "GET", "/accounts")["accounts"], {})
        self.assertFalse(os.path.exists(path))


class PathTest(support.StandinTestCase):
    def test_path_without_base_slash_is_404(self):
        raw = support.request_bytes("POST", "/apiauthUserLogin",
                                    b"Content-type: application/x-www-form-urlencoded\r\n",
                                    support.login_form("user", "secret"))
        resp = support.exchange(self.server.port("http"), raw)
        self.assertEqual(resp.status, 404)
        for path in ("/api/authUserLogin/", "/api/unknown.json", "/authUserLogin", "/API/authUserLogin"):
            resp = support.exchange(self.server.port("http"), support.request_bytes("GET", path))
            self.assertEqual(resp.status, 404, path)
        self.assertEqual(ok(self.server, "GET", "/counters")["logins"], 0)
        self.assertEqual([r["endpoint"] for r in records(self.server)], [None] * 5)

    def test_malformed_head_is_answered_400_and_recorded(self):
        raw = b"POST /api/authUserLogin HTTP/1.0\r\nNo colon here\r\n\r\n"
        resp = support.exchange(self.server.port("http"), raw)
        self.assertEqual(resp.status, 400)
        [rec] = records(self.server)
        self.assertEqual((rec["outcome"], base64.b64decode(rec["head_b64"])), ("bad_request", raw))
        self.assertIn("malformed header line", rec["bad_request"])

    def test_wrong_method_is_405(self):
        resp = api(self.server, "GET", "authUserLogin")
        self.assertEqual((resp.status, resp.header("Allow")), (405, "POST"))

    def test_absolute_form_target_from_a_proxy(self):
        port = self.server.port("http")
        raw = support.request_bytes("POST", "http://127.0.0.1:%d/api/authUserLogin" % port,
                                    b"Content-type: application/x-www-form-urlencoded\r\n",
                                    support.login_form("user", "secret"))
        resp = support.exchange(port, raw)
        self.assertEqual(resp.json()["result"]["success"], True)

    def test_control_waits_for_new_records(self):
        since = ok(self.server, "GET", "/requests")["last_seq"]
        timer = threading.Timer(0.3, lambda: api(self.server, "GET", "authUserLogout"))
        timer.start()
        start = time.monotonic()
        got = ok(self.server, "GET", "/requests?since=%d&wait_ms=5000" % since)["requests"]
        timer.join()
        self.assertEqual([r["endpoint"] for r in got], ["authUserLogout"])
        self.assertLess(time.monotonic() - start, 4)
        self.assertEqual(json.loads(json.dumps(got))[0]["seq"], since + 1)
