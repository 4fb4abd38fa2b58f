"""Listening doors: one loopback port each, plain or TLS, that can stop and resume listening.

A door that stops listening closes its listening socket, so connection
attempts are refused by the system; resuming binds the same port again.
Connections already accepted are not touched by either. A TLS door presents
its current certificate, which may be switched at any time; each connection
keeps the one it was handshaken with.
"""

import socket
import socketserver
import ssl
import threading
import traceback

from . import wire

HOST = "127.0.0.1"


class _Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    block_on_close = False
    # Rebinding the same port after a stop must not wait for TIME_WAIT.
    allow_reuse_address = True

    def __init__(self, door, address):
        self.door = door
        super().__init__(address, _Handler)

    def handle_error(self, request, client_address):
        self.door.log("door %s: %s" % (self.door.name, traceback.format_exc()))


class _Handler(socketserver.BaseRequestHandler):
    def handle(self):
        self.server.door.handle_connection(self.request, self.client_address)


class Door:
    def __init__(self, name, serve, log, touch, certificate=None, port=0, on_tls_failure=None):
        self.name = name
        self.serve = serve                  # serve(door name, wire.Connection, peer)
        self.log = log
        self.touch = touch
        self.tls = certificate is not None
        # (SSL context, certificate dict of certs.py), replaced whole so that a
        # connection reads both of the same certificate.
        self._presented = None
        if certificate is not None:
            self.present(certificate)
        self.port = port
        self.on_tls_failure = on_tls_failure
        self._server = None
        self._thread = None
        self._lock = threading.Lock()

    def present(self, certificate):
        """Present this certificate (a dict of certs.py) on every later TLS connection."""
        self._presented = (tls_context(certificate["cert"], certificate["key"]), certificate)

    @property
    def certificate(self):
        return self._presented[1] if self._presented else None

    @property
    def listening(self):
        return self._server is not None

    def open(self):
        with self._lock:
            if self._server is not None:
                return
            server = _Server(self, (HOST, self.port))
            self.port = server.server_address[1]
            thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1},
                                      name="door-" + self.name, daemon=True)
            thread.start()
            self._server, self._thread = server, thread

    def close(self):
        """Stop listening: later connection attempts are refused."""
        with self._lock:
            server, self._server = self._server, None
            if server is None:
                return
            server.shutdown()
            server.server_close()
            self._thread.join(5)

    def to_json(self):
        doc = {"port": self.port, "listening": self.listening, "tls": self.tls}
        if self.tls:
            doc["certificate_sha256"] = self.certificate["sha256"]
        return doc

    def handle_connection(self, sock, peer):
        self.touch()
        presented = self._presented
        if presented is not None:
            sock.settimeout(15)
            try:
                sock = presented[0].wrap_socket(sock, server_side=True)
            except (ssl.SSLError, OSError) as e:
                # A client that rejects the certificate ends up here.
                self.log("door %s: TLS handshake with %s failed: %s" % (self.name, peer[0], e))
                if self.on_tls_failure:
                    self.on_tls_failure(self.name)
                try:
                    sock.close()
                except OSError:
                    pass
                return
        conn = wire.Connection(sock, on_activity=self.touch)
        if presented is not None:
            conn.tls_certificate_sha256 = presented[1]["sha256"]
        try:
            self.serve(self.name, conn, peer)
        except (ConnectionError, socket.timeout, ssl.SSLError):
            pass
        except Exception:
            self.log("door %s: %s" % (self.name, traceback.format_exc()))
        finally:
            conn.close()


def tls_context(cert_path, key_path):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(cert_path, key_path)
    return ctx
