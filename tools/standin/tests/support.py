"""Test helpers: start the stand-in as a real process, talk to it over loopback.

The requests are written byte for byte on raw sockets, the way the uploader's
HTTP library sends them (HTTP/1.0, declared Content-Length, Shift_JIS
percent-encoded login form, its multipart layout), so the tests see exactly
what the server does with them.
"""

import atexit
import json
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
STANDIN_DIR = os.path.dirname(HERE)
TOOLS_DIR = os.path.dirname(STANDIN_DIR)
if TOOLS_DIR not in sys.path:
    sys.path.insert(0, TOOLS_DIR)

BOUNDARY = "-------------------------265001916915724"
UPLOAD_HEADERS = (
    b"Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
    b"Accept-Language: ja,en-us;q=0.7,en;q=0.3\r\n"
    b"Accept-Encoding: gzip, deflate\r\n"
    b"Accept-Charset: Shift_JIS,utf-8;q=0.7,*;q=0.7\r\n"
    b"Content-Type: multipart/form-data; boundary=" + BOUNDARY.encode() + b"\r\n")


class Server:
    """One stand-in process with its port file; stop() ends it."""

    def __init__(self, *extra_args, wait=True):
        self.tmp = tempfile.mkdtemp(prefix="standin-test-")
        self.port_file = os.path.join(self.tmp, "ports.json")
        self.stderr_path = os.path.join(self.tmp, "stderr.txt")
        self.stdout_path = os.path.join(self.tmp, "stdout.txt")
        args = [sys.executable, STANDIN_DIR, "--port-file", self.port_file,
                "--idle-exit", "120"] + list(extra_args)
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        self.ports = None
        if wait:
            self.wait_ready()

    def wait_ready(self):
        """Wait for the port file (several servers can start side by side first)."""
        if self.ports is not None:
            return self
        deadline = time.monotonic() + 20
        while not os.path.exists(self.port_file):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("stand-in did not start: " + self.stderr())
            time.sleep(0.02)
        with open(self.port_file) as f:
            self.ports = json.load(f)
        self.ready_at = time.monotonic()
        return self

    def stderr(self):
        with open(self.stderr_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def stdout(self):
        with open(self.stdout_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def stop(self):
        if self.proc.poll() is None:
            try:
                control(self, "POST", "/shutdown")
            except OSError:
                pass
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def port(self, door):
        return self.ports[door]


_shared = None


def shared_server():
    """One server for the whole run (reset by each test); stopped at exit."""
    global _shared
    if _shared is None:
        _shared = Server()
        atexit.register(_shared.cleanup)
    return _shared


# Raw HTTP

class Response:
    def __init__(self, status, reason, headers, body, raw_head):
        self.status = status
        self.reason = reason
        self.headers = headers
        self.body = body
        self.raw_head = raw_head

    def header(self, name):
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None

    def json(self):
        return json.loads(self.body.decode("utf-8"))


def connect(port, tls=False, timeout=10):
    sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    if tls:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        ctx.check_hostname = False
        ctx.verify_mode = ssl.CERT_NONE       # like the uploader: no certificate check
        sock = ctx.wrap_socket(sock, server_hostname="127.0.0.1")
    return sock


def read_response(sock):
    """One answer, framed by Content-Length or by chunks (read strictly: the
    body in `body`, the bytes as sent in `wire_body`, the chunk sizes in `chunks`)."""
    buf = bytearray()

    def fill(count, what):
        while len(buf) < count:
            chunk = sock.recv(65536)
            if not chunk:
                raise ConnectionError("closed %s: %r" % (what, bytes(buf[:200])))
            buf.extend(chunk)

    while b"\r\n\r\n" not in buf:
        fill(len(buf) + 1, "before the answer head")
    end = buf.index(b"\r\n\r\n") + 4
    head = bytes(buf[:end])
    del buf[:end]
    lines = head[:-4].decode("latin-1").split("\r\n")
    _, status, reason = lines[0].split(" ", 2)
    headers = [tuple(x.strip() for x in line.split(":", 1)) for line in lines[1:]]
    resp = Response(int(status), reason, headers, b"", head)
    resp.chunks = None
    if resp.header("Transfer-Encoding") == "chunked":
        resp.chunks, body, at = [], b"", 0
        while True:
            while b"\r\n" not in buf[at:]:
                fill(len(buf) + 1, "inside a chunk size line")
            eol = buf.index(b"\r\n", at)
            if not re.fullmatch(rb"[0-9A-Fa-f]+", buf[at:eol]):
                raise ValueError("bad chunk size line %r" % bytes(buf[at:eol]))
            size = int(buf[at:eol], 16)
            fill(eol + size + 4, "inside a chunk")
            if buf[eol + 2 + size:eol + 4 + size] != b"\r\n":
                raise ValueError("chunk of %d bytes not followed by CR LF" % size)
            body += buf[eol + 2:eol + 2 + size]
            at = eol + size + 4
            if not size:
                break
            resp.chunks.append(size)
        resp.body, resp.wire_body = body, bytes(buf[:at])
        return resp
    length = int(resp.header("Content-Length"))
    fill(length, "inside the answer body")
    resp.body = resp.wire_body = bytes(buf[:length])
    return resp


def exchange(port, request_bytes, tls=False):
    with connect(port, tls) as sock:
        sock.sendall(request_bytes)
        return read_response(sock)


def request_bytes(method, path, headers=b"", body=b"", cookie=None, version=b"HTTP/1.0"):
    head = b"%s %s %s\r\nHost: 127.0.0.1\r\n" % (method.encode(), path.encode(), version)
    if cookie:
        head += b"Cookie: " + cookie.encode() + b"\r\n"
    head += headers
    if method == "POST":
        head += b"Content-Length: %d\r\n" % len(body)
    return head + b"\r\n" + body


def api(server, method, endpoint, body=b"", headers=b"", cookie=None, door="http", base="/api/"):
    return exchange(server.port(door), request_bytes(method, base + endpoint, headers, body, cookie),
                    tls=door != "http")


# The uploader's encodings

def url_encode(text):
    """The client's form value encoder: over cp932 bytes, A-Za-z0-9-._ kept, blank as +."""
    out = []
    for b in text.encode("cp932"):
        c = chr(b)
        if c.isascii() and (c.isalnum() or c in "-._"):
            out.append(c)
        elif b == 0x20:
            out.append("+")
        else:
            out.append("%%%02X" % b)
    return "".join(out)


def login_form(username, password, device_key="00155D01A2B3"):
    return ("username=%s&password=%s&app_name=Tessaly Sendlet&app_ver=4.0.2.0"
            "&device_key=%s&deviceName=KVORTAMLEXWINDOC" % (
                url_encode(username), url_encode(password), device_key)).encode("ascii")


def login(server, username="user", password="secret", door="http"):
    """Log in; returns (response, cookie text or None)."""
    resp = api(server, "POST", "authUserLogin", login_form(username, password),
               b"Content-type: application/x-www-form-urlencoded\r\n", door=door)
    cookie = resp.header("Set-Cookie")
    return resp, cookie.split(";")[0] if cookie else None


def upload_body(group_id, filename, data, delete_days=-1, encrypt=False):
    """The multipart body exactly as the uploader lays it out."""
    delim = b"--" + BOUNDARY.encode() + b"\r\n"
    return b"".join([
        delim, b'Content-Disposition: form-data; name="group_id"\r\n\r\n', b"%d\r\n" % group_id,
        delim, b'Content-Disposition: form-data; name="file_delete_days"\r\n\r\n',
        b"%d\r\n" % delete_days,
        delim, b'Content-Disposition: form-data; name="is_encrypt"\r\n\r\n',
        b"true\r\n" if encrypt else b"false\r\n",
        delim, b'Content-Disposition: form-data; name="file"; filename="',
        filename.encode("utf-8"), b'"\r\nContent-Type: application/octet-stream\r\n', b"\r\n",
        data,
        b"\r\n--" + BOUNDARY.encode() + b"--\r\n"])


def upload(server, cookie, group_id, filename, data, door="http", **kw):
    return api(server, "POST", "uploadContentFile.json", upload_body(group_id, filename, data, **kw),
               UPLOAD_HEADERS, cookie, door=door)


# Control API

def control(server, method, path, body=None, timeout=30):
    data = b"" if body is None else json.dumps(body).encode("utf-8")
    head = b"%s %s HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" \
           b"Content-Length: %d\r\n\r\n" % (method.encode(), path.encode(), len(data))
    with socket.create_connection(("127.0.0.1", server.port("control")), timeout=timeout) as sock:
        sock.sendall(head + data)
        resp = read_response(sock)
    return resp.status, resp.json()


def ok(server, method, path, body=None):
    status, doc = control(server, method, path, body)
    if status != 200:
        raise AssertionError("%s %s -> %d %r" % (method, path, status, doc))
    return doc


def records(server, endpoint=None, since=0):
    query = {"since": since}
    if endpoint:
        query["endpoint"] = endpoint
    return ok(server, "GET", "/requests?" + urllib.parse.urlencode(query))["requests"]


def wait_until(predicate, timeout=5.0, interval=0.02):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(interval)


class StandinTestCase(unittest.TestCase):
    """Each test starts from the reset state of the shared server, with one account."""

    def setUp(self):
        self.server = shared_server()
        ok(self.server, "POST", "/reset")
        ok(self.server, "POST", "/accounts", {"accounts": {"user": "secret"}})
