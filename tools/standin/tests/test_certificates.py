"""Switchable certificates of the https door and the test CA, seen by verifying TLS clients."""

import hashlib
import socket
import ssl

from . import support
from .support import ok, records
from .test_doors import openssl_x509


class CertificateTest(support.StandinTestCase):
    def setUp(self):
        super().setUp()
        self.start = ok(self.server, "GET", "/info")["certificates"]
        self.port = self.server.port("https")

    def switch(self, **body):
        return ok(self.server, "POST", "/certificate", dict(door="https", **body))

    def served(self, cafile=None, hostname="127.0.0.1"):
        """The DER certificate a new connection gets; verified against cafile when given."""
        if cafile is None:
            with support.connect(self.port, tls=True) as sock:
                return sock.getpeercert(binary_form=True)
        ctx = ssl.create_default_context(cafile=cafile)
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as raw:
            with ctx.wrap_socket(raw, server_hostname=hostname) as sock:
                return sock.getpeercert(binary_form=True)

    def check_made(self, made, kind):
        """The answer names the certificate and its files; the files hold it."""
        with open(made["pem"], encoding="ascii") as f:
            pem = f.read()
        with open(made["der"], "rb") as f:
            der = f.read()
        self.assertEqual((made["door"], made["kind"]), ("https", kind))
        self.assertEqual(ssl.PEM_cert_to_DER_cert(pem), der)
        fingerprint = openssl_x509(pem, "-fingerprint", "-sha256").stdout.decode()
        self.assertEqual(fingerprint.strip().split("=", 1)[1].replace(":", "").lower(), made["sha256"])
        self.assertEqual(ok(self.server, "GET", "/certificate?door=https"), made)
        return der

    def test_the_ca_is_a_ca(self):
        with open(self.start["ca"], encoding="ascii") as f:
            pem = f.read()
        with open(self.start["ca_der"], "rb") as f:
            self.assertEqual(f.read(), ssl.PEM_cert_to_DER_cert(pem))
        text = openssl_x509(pem, "-text").stdout.decode()
        self.assertIn("CA:TRUE", text)
        self.assertIn("Certificate Sign, CRL Sign", text)
        subject = openssl_x509(pem, "-subject", "-nameopt", "RFC2253").stdout.split(b"=", 1)[1]
        self.assertEqual(subject, openssl_x509(pem, "-issuer", "-nameopt", "RFC2253").stdout.split(b"=", 1)[1])

    def test_only_ca_signed_certificates_pass_a_client_that_trusts_the_ca(self):
        ca = self.start["ca"]
        with self.assertRaises(ssl.SSLCertVerificationError):
            self.served(ca)                           # the start certificate is not the CA's
        made = []
        for _ in range(2):
            made.append(self.switch(kind="ca-signed"))
            der = self.check_made(made[-1], "ca-signed")
            for name in ("127.0.0.1", "localhost"):
                self.assertEqual(self.served(ca, name), der)
            self.assertEqual(hashlib.sha256(der).hexdigest(), made[-1]["sha256"])
            out = openssl_x509(ssl.DER_cert_to_PEM_cert(der), "-serial", "-ext", "extendedKeyUsage").stdout
            self.assertIn(b"TLS Web Server Authentication", out)
            made[-1]["serial"] = out.splitlines()[0]
        first, second = made
        self.assertNotEqual(second["sha256"], first["sha256"])
        self.assertNotEqual(second.pop("serial"), first.pop("serial"))

        failures = ok(self.server, "GET", "/counters")["tls_handshake_failures"].get("https", 0)
        own = self.switch(kind="self-signed")
        with self.assertRaises(ssl.SSLCertVerificationError) as caught:
            self.served(ca)
        self.assertEqual(caught.exception.verify_code, 18)      # X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT
        self.assertEqual(self.served(own["pem"]), self.check_made(own, "self-signed"))
        self.assertEqual(support.wait_until(lambda: ok(self.server, "GET", "/counters")
                                            ["tls_handshake_failures"].get("https")), failures + 1)

        again = self.switch(reuse=first["sha256"].upper())
        self.assertEqual(again, first)
        self.assertEqual(hashlib.sha256(self.served(ca)).hexdigest(), first["sha256"])

    def test_records_name_the_certificate_and_open_connections_keep_theirs(self):
        default = self.start["https"]["sha256"]
        req = support.request_bytes("GET", "/api/authUserLogout", headers=b"Connection: Keep-Alive\r\n")
        with support.connect(self.port, tls=True) as sock:
            sock.sendall(req)
            support.read_response(sock)
            made = self.switch(kind="self-signed")
            sock.sendall(req)
            support.read_response(sock)
        support.api(self.server, "GET", "authUserLogout", door="https")
        support.api(self.server, "GET", "authUserLogout")
        self.assertEqual([r["tls_certificate_sha256"] for r in records(self.server)],
                         [default, default, made["sha256"], None])
        self.assertEqual(ok(self.server, "GET", "/doors")["doors"]["https"]["certificate_sha256"], made["sha256"])

    def test_expired_default_and_reset(self):
        expired = self.switch(kind="expired-self-signed")
        self.assertEqual((expired["not_before"], expired["not_after"]),
                         ("2020-01-01T00:00:00+00:00", "2020-02-01T00:00:00+00:00"))
        pem = ssl.DER_cert_to_PEM_cert(self.check_made(expired, "expired-self-signed"))
        self.assertEqual(ssl.PEM_cert_to_DER_cert(pem), self.served())
        out = openssl_x509(pem, "-startdate", "-enddate", "-subject", "-ext", "subjectAltName").stdout
        for line in (b"notBefore=Jan  1 00:00:00 2020 GMT", b"notAfter=Feb  1 00:00:00 2020 GMT",
                     b"CN = 127.0.0.1", b"IP Address:127.0.0.1, DNS:localhost"):
            self.assertIn(line, out)
        default = self.switch(kind="default")
        self.assertEqual((default["sha256"], default["kind"]), (self.start["https"]["sha256"], "default"))
        self.assertEqual(hashlib.sha256(self.served()).hexdigest(), default["sha256"])
        self.switch(kind="ca-signed")
        ok(self.server, "POST", "/reset")
        self.assertEqual(hashlib.sha256(self.served()).hexdigest(), default["sha256"])

    def test_bad_requests_are_refused(self):
        for body in ({"door": "https", "kind": "fancy"}, {"door": "http", "kind": "self-signed"},
                     {"door": "https", "reuse": "00" * 32}, {"door": "https"},
                     {"door": "https", "kind": "default", "reuse": self.start["https"]["sha256"]}):
            status, doc = support.control(self.server, "POST", "/certificate", body)
            self.assertEqual(status, 400, body)
        self.assertEqual(ok(self.server, "GET", "/certificate?door=https")["sha256"], self.start["https"]["sha256"])
