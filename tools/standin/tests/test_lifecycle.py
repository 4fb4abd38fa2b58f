"""Start options, the demo, and the three ways the process ends: shutdown, SIGTERM, idle."""

import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from . import support
from .support import api, login, ok


_servers = {}
_data_dir = tempfile.mkdtemp(prefix="standin-demo-")


def setUpModule():
    # Start the module's servers side by side; each test then waits for its own.
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        _servers["fixed_port"] = s.getsockname()[1]
    _servers["demo"] = support.Server("--demo", "--data-dir", _data_dir, wait=False)
    _servers["options"] = support.Server(
        "--base-path", "/tessaly/v1/", "--account", "kato:pa:ss",
        "--port", "http=%d" % _servers["fixed_port"], wait=False)
    _servers["idle"] = support.Server("--idle-exit", "1", wait=False)
    _idle_watch.start()


def _watch_idle_server():
    server = _servers["idle"]
    while not os.path.exists(server.port_file) and server.proc.poll() is None:
        time.sleep(0.01)
    try:
        _idle_times["ready"] = os.stat(server.port_file).st_mtime
    except OSError:
        pass
    server.proc.wait()
    _idle_times["exit"] = time.time()


_idle_times = {}
_idle_watch = threading.Thread(target=_watch_idle_server, daemon=True)


def tearDownModule():
    for name in ("demo", "options", "idle"):
        _servers[name].cleanup()
    shutil.rmtree(_data_dir, ignore_errors=True)


def pid_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    return True


class DemoTest(unittest.TestCase):
    def test_demo_run_stores_uploads_and_prints_them(self):
        data_dir = _data_dir
        server = _servers["demo"].wait_ready()
        try:
            summary = support.wait_until(lambda: "Stop with" in server.stdout() and server.stdout())
            self.assertIn("http://127.0.0.1:%d/api/" % server.port("http"), summary)
            self.assertIn("全社共有", summary)
            resp, cookie = login(server, "demo", "demo")
            self.assertEqual(resp.json()["result"]["success"], True)
            groups = api(server, "GET", "manageContentGroups.json", cookie=cookie).json()["content_groups"]
            self.assertEqual(len(groups), 5)
            self.assertEqual(sum(g["parent_content_group_id"] is None for g in groups), 2)
            support.upload(server, cookie, 4, "設計書.pdf", b"%PDF-1.4 demo")
            self.assertEqual(ok(server, "POST", "/shutdown"), {"ok": True})
            self.assertEqual(server.proc.wait(10), 0)
        finally:
            server.stop()
        self.assertIn("4/設計書.pdf  13 bytes", server.stdout())
        self.assertFalse(os.path.exists(server.port_file))
        with open(os.path.join(data_dir, "4", "設計書.pdf"), "rb") as f:
            self.assertEqual(f.read(), b"%PDF-1.4 demo")
        # After the server has gone, the stored uploads can still be listed.
        out = subprocess.run([sys.executable, support.STANDIN_DIR, "--print-stored",
                              "--data-dir", data_dir], stdout=subprocess.PIPE, timeout=20,
                             check=True).stdout.decode("utf-8")
        self.assertIn("1 upload(s) stored", out)
        self.assertIn("4/設計書.pdf", out)


class OptionsAndSignalTest(unittest.TestCase):
    def test_options_then_sigterm_stops_server_and_proxy(self):
        fixed = _servers["fixed_port"]
        server = _servers["options"].wait_ready()
        try:
            self.assertEqual(server.port("http"), fixed)
            data_dir = ok(server, "GET", "/info")["data_dir"]
            self.assertTrue(os.path.isdir(data_dir))
            resp, _ = login(server, "kato", "pa:ss")
            self.assertEqual(resp.status, 404)                       # not under /api/
            resp = api(server, "POST", "authUserLogin", support.login_form("kato", "pa:ss"),
                       base="/tessaly/v1/")
            self.assertEqual(resp.json()["result"]["success"], True)
            proxy_pid = ok(server, "POST", "/proxy", {})["pid"]
            self.assertTrue(pid_alive(proxy_pid))
            server.proc.send_signal(signal.SIGTERM)
            self.assertEqual(server.proc.wait(10), 0)
        finally:
            server.stop()
        self.assertTrue(support.wait_until(lambda: not pid_alive(proxy_pid)))
        self.assertFalse(os.path.exists(data_dir))       # the default data folder is temporary
        self.assertFalse(os.path.exists(server.port_file))


class IdleExitTest(unittest.TestCase):
    def test_exits_when_idle(self):
        server = _servers["idle"]
        _idle_watch.join(15)
        self.assertEqual(server.proc.returncode, 0)
        # Nothing talked to this server: it left about one second after it was ready.
        self.assertGreaterEqual(_idle_times["exit"] - _idle_times["ready"], 0.95)
        self.assertLess(_idle_times["exit"] - _idle_times["ready"], 5)
        self.assertIn("no request for 1 seconds", server.stderr())
