"""A forward proxy for proxy tests: Debian's tinyproxy in the foreground, on a loopback port.

tinyproxy is a real HTTP proxy: it forwards plain requests, tunnels CONNECT
(every port is allowed because the config names no ConnectPort) and, when
given a user and password, answers 407 to requests without Basic credentials.
"""

import os
import re
import socket
import subprocess
import threading
import time

TINYPROXY = "/usr/bin/tinyproxy"
# tinyproxy's config grammar accepts only these characters for BasicAuth.
_CREDENTIAL = re.compile(r"^[-A-Za-z0-9._]+$")


class ProxyError(RuntimeError):
    pass


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


class TinyProxy:
    def __init__(self, workdir, log):
        self.workdir = workdir
        self.log = log
        self._lock = threading.Lock()
        self._proc = None
        self._info = None

    def start(self, username=None, password=None):
        if (username is None) != (password is None):
            raise ProxyError("give both username and password, or neither")
        for value in (username, password):
            if value is not None and not _CREDENTIAL.match(value):
                raise ProxyError("proxy user and password may hold only letters, digits, '-', '.', '_'")
        if not os.path.exists(TINYPROXY):
            raise ProxyError("%s is not installed" % TINYPROXY)
        with self._lock:
            self._stop_locked()
            for _ in range(3):     # the free port may be taken before tinyproxy binds it
                port = _free_port()
                conf = os.path.join(self.workdir, "tinyproxy-%d.conf" % port)
                logfile = os.path.join(self.workdir, "tinyproxy-%d.log" % port)
                lines = ["Port %d" % port, "Listen 127.0.0.1", "Timeout 120",
                         'LogFile "%s"' % logfile, "LogLevel Info", "MaxClients 50",
                         "Allow 127.0.0.1", "DisableViaHeader Yes"]
                if username is not None:
                    lines.append("BasicAuth %s %s" % (username, password))
                with open(conf, "w") as f:
                    f.write("\n".join(lines) + "\n")
                with open(logfile + ".stderr", "wb") as err:
                    proc = subprocess.Popen([TINYPROXY, "-d", "-c", conf], stdin=subprocess.DEVNULL,
                                            stdout=err, stderr=err)
                deadline = time.monotonic() + 5
                while time.monotonic() < deadline and proc.poll() is None and not _accepts(port):
                    time.sleep(0.05)
                if proc.poll() is None and _accepts(port):
                    self._proc = proc
                    self._info = {"running": True, "port": port, "pid": proc.pid,
                                  "auth": username is not None, "username": username,
                                  "config": conf, "log": logfile}
                    self.log("proxy: tinyproxy on port %d (auth %s)" % (port, username is not None))
                    return dict(self._info)
                proc.kill()
                proc.wait()
            raise ProxyError("tinyproxy did not start; see %s.stderr" % logfile)

    def stop(self):
        with self._lock:
            return self._stop_locked()

    def _stop_locked(self):
        proc, self._proc, self._info = self._proc, None, None
        if proc is None:
            return False
        proc.terminate()
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
        return True

    def to_json(self):
        with self._lock:
            return dict(self._info) if self._info else {"running": False}
