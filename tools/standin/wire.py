"""HTTP/1.x on a connected socket: raw request heads in, bodies streamed, answers out.

Written by hand rather than with http.server because the doors must keep the
exact bytes of every request head, stream bodies of hundreds of MiB, cut a
connection after a given number of body bytes, and put up with what the
client's HTTP library really sends.
"""

import re
import select
import socket
import time
import struct

MAX_HEAD = 64 * 1024
# A header line: token, colon. Used to tell a stray blank line inside the head
# (a header text that itself ended in CRLF CRLF) from the start of the body.
_HEADER_LINE = re.compile(rb"^[!#$%&'*+.^_`|~0-9A-Za-z-]+:")
# Bytes that may still grow into a header line (a token, perhaps not yet complete).
_HEADER_START = re.compile(rb"^[!#$%&'*+.^_`|~0-9A-Za-z-]*(:|$)")

REASONS = {
    100: "Continue", 200: "OK", 201: "Created", 204: "No Content",
    301: "Moved Permanently", 302: "Found", 400: "Bad Request",
    401: "Unauthorized", 403: "Forbidden", 404: "Not Found",
    405: "Method Not Allowed", 407: "Proxy Authentication Required",
    408: "Request Timeout", 411: "Length Required", 413: "Payload Too Large",
    500: "Internal Server Error", 502: "Bad Gateway", 503: "Service Unavailable",
    504: "Gateway Timeout",
}


class BadRequest(Exception):
    def __init__(self, message, raw=b""):
        super().__init__(message)
        self.raw = raw          # the head bytes that could not be read as a request


class ShortBody(Exception):
    """The peer closed (or failed) before the declared body had arrived."""

    def __init__(self, received):
        super().__init__("body ended after %d bytes" % received)
        self.received = received


class Request:
    def __init__(self, raw_head, method, target, version, headers, blank_line_in_head):
        self.raw_head = raw_head            # bytes, request line to final blank line
        self.method = method
        self.target = target
        self.version = version
        self.headers = headers              # [(name, value)], as sent, latin-1 text
        self.blank_line_in_head = blank_line_in_head
        self.path, _, self.query = _origin_path(target).partition("?")

    def header(self, name, default=None):
        name = name.lower()
        for key, value in self.headers:
            if key.lower() == name:
                return value
        return default

    def header_all(self, name):
        name = name.lower()
        return [value for key, value in self.headers if key.lower() == name]

    def content_length(self):
        """Declared body length; None when absent. Raises BadRequest when unusable."""
        values = self.header_all("Content-Length")
        if not values:
            return None
        if len(set(v.strip() for v in values)) != 1 or not values[0].strip().isdigit():
            raise BadRequest("bad Content-Length %r" % values)
        return int(values[0].strip())

    def wants_keep_alive(self):
        tokens = ",".join(self.header_all("Connection")).lower()
        if self.version == "HTTP/1.0":
            return "keep-alive" in tokens
        return "close" not in tokens


def _origin_path(target):
    # A request through a proxy may carry the absolute form; keep the path only.
    m = re.match(r"^[A-Za-z][A-Za-z0-9+.-]*://[^/]*(/.*)?$", target)
    if m:
        return m.group(1) or "/"
    return target


def _parse_header_lines(lines):
    headers = []
    for line in lines:
        if not line:
            continue
        if line[:1] in (b" ", b"\t") and headers:
            # Obsolete line folding: continue the previous value.
            name, value = headers[-1]
            headers[-1] = (name, value + " " + line.strip().decode("latin-1"))
            continue
        name, sep, value = line.partition(b":")
        if not sep or not name or name != name.strip():
            raise BadRequest("malformed header line %r" % line[:100])
        headers.append((name.decode("latin-1"), value.strip().decode("latin-1")))
    return headers


class Connection:
    """One accepted socket (plain or TLS), with a read buffer shared by heads and bodies."""

    def __init__(self, sock, on_activity=None, idle_timeout=300.0):
        self.sock = sock
        self.buf = bytearray()
        self.on_activity = on_activity or (lambda: None)
        self.idle_timeout = idle_timeout
        self.sock.settimeout(idle_timeout)
        # Bytes per second at which body_chunks reads, or None for as fast as
        # they come: a slow server whose client's transfer lasts.
        self.read_rate = None
        # SHA-256 (hex) of the certificate a TLS door presented on this connection.
        self.tls_certificate_sha256 = None

    def _recv(self, size):
        data = self.sock.recv(size)
        if data:
            self.on_activity()
        return data

    def _read_until_blank_line(self, start):
        """Grow the buffer until CRLF CRLF appears at or after start; return its end."""
        while True:
            end = self.buf.find(b"\r\n\r\n", start)
            if end >= 0:
                return end + 4
            if len(self.buf) > MAX_HEAD:
                raise BadRequest("request head larger than %d bytes" % MAX_HEAD, bytes(self.buf))
            data = self._recv(65536)
            if not data:
                return -1
            self.buf += data

    def read_request(self):
        """Read one request head. Returns None when the peer closed between requests."""
        # Tolerate blank lines before a request line (allowed by RFC 9112).
        while True:
            while self.buf.startswith(b"\r\n"):
                del self.buf[:2]
            if self.buf:
                break
            try:
                data = self._recv(65536)
            except (socket.timeout, ConnectionError):
                return None
            if not data:
                return None
            self.buf += data
        end = self._read_until_blank_line(0)
        if end < 0:
            if self.buf:
                raise BadRequest("connection closed inside the request head", bytes(self.buf))
            return None
        raw = bytes(self.buf[:end])
        del self.buf[:end]
        lines = raw[:-4].split(b"\r\n")
        parts = lines[0].split(b" ")
        if len(parts) != 3 or not parts[2].startswith(b"HTTP/1."):
            raise BadRequest("bad request line %r" % lines[0][:200], raw)
        method, target, version = (p.decode("latin-1") for p in parts)
        try:
            headers = _parse_header_lines(lines[1:])
        except BadRequest as e:
            raise BadRequest(str(e), raw)
        blank_inside = False
        while self._head_may_go_on(method, headers):
            # A header text that itself ended in a blank line ends the head too
            # early. Read on while header lines follow it.
            more = self._continued_head()
            if more is None:
                break
            blank_inside = True
            raw += more
            try:
                headers += _parse_header_lines(more[:-4].split(b"\r\n"))
            except BadRequest as e:
                raise BadRequest(str(e), raw)
        return Request(raw, method, target, version, headers, blank_inside)

    @staticmethod
    def _head_may_go_on(method, headers):
        """A POST head still lacking its body framing or its Content-Type."""
        if method not in ("POST", "PUT"):
            return False
        names = {k.lower(): v for k, v in headers}
        if "expect" in names:
            return False        # the body waits for our 100 Continue: nothing to peek at
        framed = "content-length" in names or "transfer-encoding" in names
        if names.get("content-length", "").strip() == "0":
            return False        # no body follows, so nothing to peek at
        return not framed or "content-type" not in names

    def _continued_head(self):
        old_timeout = self.sock.gettimeout()
        self.sock.settimeout(2.0)
        try:
            while (b"\r\n" not in self.buf and len(self.buf) < 1024
                   and _HEADER_START.match(bytes(self.buf[:1024]))):
                data = self._recv(65536)
                if not data:
                    break
                self.buf += data
        except socket.timeout:
            pass
        finally:
            self.sock.settimeout(old_timeout)
        if not _HEADER_LINE.match(bytes(self.buf[:1024])):
            return None
        end = self._read_until_blank_line(0)
        if end < 0:
            raise BadRequest("connection closed inside the request head", bytes(self.buf))
        more = bytes(self.buf[:end])
        del self.buf[:end]
        return more

    def body_chunks(self, length, chunk_size=256 * 1024):
        """Yield the next `length` body bytes in pieces; raise ShortBody if they never come."""
        rate = self.read_rate
        if rate:
            chunk_size = max(1024, rate // 20)   # twenty pieces a second
            started = time.monotonic()
        received = 0
        if self.buf:
            take = min(length, len(self.buf))
            if take:
                piece = bytes(self.buf[:take])
                del self.buf[:take]
                received += take
                yield piece
        while received < length:
            try:
                data = self._recv(min(chunk_size, length - received))
            except (socket.timeout, OSError):
                raise ShortBody(received)
            if not data:
                raise ShortBody(received)
            received += len(data)
            if rate:
                ahead = received / rate - (time.monotonic() - started)
                if ahead > 0:
                    time.sleep(ahead)
            yield data

    def discard_body(self, length, chunk_size=1024 * 1024):
        """Read and drop `length` bytes into one reused buffer; returns the count read."""
        received = 0
        take = min(length, len(self.buf))
        if take:
            del self.buf[:take]
            received = take
        view = memoryview(bytearray(chunk_size))
        while received < length:
            try:
                n = self.sock.recv_into(view, min(chunk_size, length - received))
            except (socket.timeout, OSError):
                raise ShortBody(received)
            if not n:
                raise ShortBody(received)
            self.on_activity()
            received += n
        return received

    def send(self, data):
        self.sock.sendall(data)

    def wait_for_hangup(self, deadline):
        """Read and drop whatever comes until the peer closes or the deadline passes."""
        while time.monotonic() < deadline:
            readable, _, _ = select.select([self.sock], [], [], 0.5)
            if readable and not self.sock.recv(65536):
                return

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()

    def reset(self):
        """Abort the connection: the peer sees a reset, not an orderly end."""
        try:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass
        self.sock.close()


def build_head(status, headers, content_length, reason=None, keep_alive=False):
    """Serialise an answer head. Without a content_length (None) the body ends
    when the connection does."""
    reason = REASONS.get(status, "Status") if reason is None else reason
    lines = ["HTTP/1.1 %d %s" % (status, reason)]
    for name, value in headers:
        lines.append("%s: %s" % (name, value))
    if content_length is not None:
        lines.append("Content-Length: %d" % content_length)
    lines.append("Connection: %s" % ("keep-alive" if keep_alive else "close"))
    return ("\r\n".join(lines) + "\r\n\r\n").encode("utf-8")


def build_response(status, headers, body, reason=None, keep_alive=False):
    """Serialise an answer; Content-Length and Connection are always set here."""
    return build_head(status, headers, len(body), reason, keep_alive) + body


# A misbehaving answer gives up by itself after this long, client or not.
MISBEHAVE_LIMIT = 600.0
_ENDLESS_PIECE = 65536


def send_misbehaving(conn, head, body, rate=None, more=None, stall_after=None, cut_after=None):
    """Send an answer the way a broken or hostile server would: the body (its
    bytes as they go on the wire) at `rate` bytes a second, followed without
    end by what more(n) makes of n more blanks (an endless body), or only its
    first bytes and then nothing (stall_after) or a closed connection
    (cut_after). Returns once the client has gone or the answer is done."""
    deadline = time.monotonic() + MISBEHAVE_LIMIT
    sent = 0
    started = time.monotonic()

    def paced(data):
        nonlocal sent
        piece = max(1, rate // 20) if rate else len(data) or 1
        for at in range(0, len(data), piece):
            chunk = data[at:at + piece]
            conn.send(chunk)
            sent += len(chunk)
            if rate:
                ahead = sent / rate - (time.monotonic() - started)
                if ahead > 0:
                    time.sleep(ahead)
            if time.monotonic() > deadline:
                raise TimeoutError("misbehaving answer ran out of time")

    try:
        conn.send(head)
        if stall_after is not None or cut_after is not None:
            paced(body[:stall_after if stall_after is not None else cut_after])
            if cut_after is not None:
                return
            conn.wait_for_hangup(deadline)
            return
        paced(body)
        while more is not None and time.monotonic() < deadline:
            paced(more(max(1, rate // 20) if rate else _ENDLESS_PIECE))
    except (OSError, TimeoutError):
        pass        # the client went away (or the time is up)
