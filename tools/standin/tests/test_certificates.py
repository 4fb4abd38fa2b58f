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

    def switch(self, **body):
        """Switch the https door; checks that the answer names the certificate now presented."""
        made = ok(self.server, "POST", "/certificate", dict(door="https", **body))
        with open(made["pem"], encoding="ascii") as f:
            pem = f.read()
        with open(made["der"], "rb") as f:
            made["bytes"] = f.read()
        self.assertEqual(ssl.PEM_cert_to_DER_cert(pem), made["bytes"])
        fingerprint = openssl_x509(pem, "-fingerprint", "-sha256").stdout.decode().strip()
        self.assertEqual(fingerprint.split("=", 1)[1].replace(":", "").lower(), made["sha256"])
        self.assertEqual(ok(self.server, "GET", "/certificate?door=https"),
                         {k: v for k, v in made.items() if k != "bytes"})
        self.assertEqual(self.served(), made["bytes"])
        return made

    def served(self, cafile=None, hostname="127.0.0.1"):
        """The DER certificate a new connection gets; verified against cafile when given."""
        if cafile is None:
            with support.connect(self.server.port("https"), tls=True) as sock:
                return sock.getpeercert(binary_form=True)
        ctx = ssl.create_default_context(cafile=cafile)
        with socket.create_connection(("127.0.0.1", self.server.port("https")), timeout=10) as raw:
            with ctx.wrap_socket(raw, server_hostname=hostname) as sock:
                return sock.getpeercert(binary_form=True)

    def test_only_ca_signed_certificates_pass_a_client_that_trusts_the_ca(self):
        ca = self.start["ca"]
        with open(self.start["ca_der"], "rb") as f, open(ca, encoding="ascii") as g:
            der, pem = f.read(), g.read()
        self.assertEqual(der, ssl.PEM_cert_to_DER_cert(pem))
        text = openssl_x509(pem, "-text").stdout.decode()
        self.assertIn("CA:TRUE", text)
        self.assertIn("Certificate Sign, CRL Sign", text)
        with self.assertRaises(ssl.SSLCertVerificationError):
            self.served(ca)                           # the start certificate is not the CA's
        first, second = self.switch(kind="ca-signed"), self.switch(kind="ca-signed")
        self.assertNotEqual(first["sha256"], second["sha256"])
        for name in ("127.0.0.1", "localhost"):
            self.assertEqual(hashlib.sha256(self.served(ca, name)).hexdigest(), second["sha256"])
        out = openssl_x509(ssl.DER_cert_to_PEM_cert(second["bytes"]), "-serial", "-ext", "extendedKeyUsage")
        self.assertIn(b"TLS Web Server Authentication", out.stdout)
        self.assertNotIn(out.stdout.splitlines()[0],
                         openssl_x509(ssl.DER_cert_to_PEM_cert(first["bytes"]), "-serial").stdout)

        failures = ok(self.server, "GET", "/counters")["tls_handshake_failures"].get("https", 0)
        own = self.switch(kind="self-signed")
        with self.assertRaises(ssl.SSLCertVerificationError) as caught:
            self.served(ca)
        self.assertEqual(caught.exception.verify_code, 18)      # X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT
        self.assertEqual(self.served(own["pem"]), own["bytes"])
        self.assertEqual(support.wait_until(lambda: ok(self.server, "GET", "/counters")
                                            ["tls_handshake_failures"].get("https")), failures + 1)
        self.assertEqual(self.switch(reuse=first["sha256"].upper()), first)
        self.assertEqual(self.served(ca), first["bytes"])

    def test_records_name_the_certificate_and_open_connections_keep_theirs(self):
        default = self.start["https"]["sha256"]
        req = support.request_bytes("GET", "/api/authUserLogout", headers=b"Connection: Keep-Alive\r\n")
        with support.connect(self.server.port("https"), tls=True) as sock:
            sock.sendall(req)
            support.read_response(sock)
            made = self.switch(kind="self-signed")
            sock.sendall(req)
            support.read_response(sock)
        support.api(self.server, "GET", "authUserLogout")
        self.assertEqual([r["tls_certificate_sha256"] for r in records(self.server)], [default, default, None])
        support.api(self.server, "GET", "authUserLogout", door="https")
        self.assertEqual(records(self.server)[-1]["tls_certificate_sha256"], made["sha256"])
        self.assertEqual(ok(self.server, "GET", "/doors")["doors"]["https"]["certificate_sha256"], made["sha256"])

    def test_expired_default_and_reset(self):
        expired = self.switch(kind="expired-self-signed")
        self.assertEqual((expired["not_before"], expired["not_after"]),
                         ("2020-01-01T00:00:00+00:00", "2020-02-01T00:00:00+00:00"))
        out = openssl_x509(ssl.DER_cert_to_PEM_cert(expired["bytes"]),
                           "-startdate", "-enddate", "-subject", "-ext", "subjectAltName").stdout
        for line in (b"notBefore=Jan  1 00:00:00 2020 GMT", b"notAfter=Feb  1 00:00:00 2020 GMT",
                     b"CN = 127.0.0.1", b"IP Address:127.0.0.1, DNS:localhost"):
            self.assertIn(line, out)
        default = self.switch(kind="default")
        self.assertEqual((default["sha256"], default["kind"]), (self.start["https"]["sha256"], "default"))
        self.switch(kind="ca-signed")
        ok(self.server, "POST", "/reset")
        self.assertEqual(self.served(), default["bytes"])

    def test_bad_requests_are_refused(self):
        for body in ({"door": "https", "kind": "fancy"}, {"door": "http", "kind": "self-signed"},
                     {"door": "https", "reuse": "00" * 32}, {"door": "https"},
                     {"door": "https", "kind": "default", "reuse": self.start["https"]["sha256"]}):
            self.assertEqual(support.control(self.server, "POST", "/certificate", body)[0], 400, body)
