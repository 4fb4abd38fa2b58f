"""Server certificates for the HTTPS doors, and a test certificate authority, by the openssl command line.

At start, three self-signed certificates that share one RSA key (one key
generation keeps start-up short):
  https           valid now, names 127.0.0.1 and localhost
  https_expired   names 127.0.0.1 and localhost, validity ended in 2020
  https_wronghost valid now, names only WRONG_HOST
and a test CA with a key of its own (sharing the server's key, it would share
its key identifier with certificates it never issued, which misleads chain
building), made while the server's key is generated.

On request (POST /certificate), more certificates for 127.0.0.1 and
localhost, each with a new serial and the server's key:
  ca-signed            issued by the test CA, valid now
  self-signed          valid now
  expired-self-signed  valid only from 2020-01-01 to 2020-02-01

`openssl req -x509` cannot put the validity in the past, so every certificate
is signed with `openssl ca` (`-selfsign` for all but the CA-signed ones),
which takes explicit start and end dates; using it for all keeps one code path.
"""

import concurrent.futures
import datetime
import hashlib
import os
import ssl
import subprocess
import threading

WRONG_HOST = "wrong-host.tessaly.invalid"
LOCAL_NAMES = ["127.0.0.1", "localhost"]
LOCAL_SAN = "IP:127.0.0.1, DNS:localhost"
CA_NAME = "Tessaly stand-in test CA"
KINDS = ("ca-signed", "self-signed", "expired-self-signed")

_CA_CONFIG = """\
[ca]
default_ca = standin_ca
[standin_ca]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = standin_policy
unique_subject = no
[standin_policy]
commonName = supplied
[standin_ext]
subjectAltName = {san}
basicConstraints = critical, CA:TRUE
keyUsage = digitalSignature, keyEncipherment, keyCertSign
extendedKeyUsage = serverAuth
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[leaf_ext]
subjectAltName = {san}
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
"""


class CertificateError(RuntimeError):
    pass


def _run(args, cwd):
    done = subprocess.run(["openssl"] + args, cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.returncode != 0:
        raise CertificateError("openssl %s failed: %s" % (
            args[0], done.stderr.decode("utf-8", "replace").strip()))


def _genpkey(path):
    return ["genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", path]


def _stamp(when):
    return when.strftime("%Y%m%d%H%M%SZ")


def _valid_now():
    now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
    # Start a day early so a client clock slightly behind still sees it valid.
    return now - datetime.timedelta(days=1), now + datetime.timedelta(days=3650)


EXPIRED = (datetime.datetime(2020, 1, 1, tzinfo=datetime.timezone.utc),
           datetime.datetime(2020, 2, 1, tzinfo=datetime.timezone.utc))


def _ledger(path, serial, key_path, common_name, san):
    """A folder of `openssl ca` bookkeeping (database, next serial, config)
    holding a request for common_name with the given key."""
    os.mkdir(path)
    with open(os.path.join(path, "index.txt"), "w"):
        pass
    with open(os.path.join(path, "serial"), "w") as f:
        # Distinct serials, so no client cache mixes the certificates up.
        f.write("%02X\n" % serial)
    with open(os.path.join(path, "ca.cnf"), "w") as f:
        f.write(_CA_CONFIG.format(san=san))
    _run(["req", "-new", "-key", key_path, "-subj", "/CN=" + common_name, "-out", "request.csr"], path)
    return path


def _sign(ledger, cert_path, extensions, start, end, key_path, issuer=None):
    """Sign the ledger's request with explicit validity dates: by key_path
    itself (self-signed) or as the CA certificate issuer with key_path."""
    args = ["ca", "-batch", "-config", "ca.cnf", "-keyfile", key_path, "-in", "request.csr",
            "-extensions", extensions, "-startdate", _stamp(start), "-enddate", _stamp(end),
            "-notext", "-out", cert_path]
    _run(args + (["-cert", issuer] if issuer else ["-selfsign"]), ledger)


def _describe(kind, cert_path, key_path, validity, names):
    """The certificate's facts, and its DER form written beside it."""
    with open(cert_path, encoding="ascii") as f:
        der = ssl.PEM_cert_to_DER_cert(f.read())
    der_path = os.path.splitext(cert_path)[0] + ".der"
    with open(der_path, "wb") as f:
        f.write(der)
    return {"kind": kind, "cert": cert_path, "der": der_path, "key": key_path,
            "sha256": hashlib.sha256(der).hexdigest(),
            "not_before": validity[0].isoformat(), "not_after": validity[1].isoformat(),
            "names": names}


class Certificates:
    """The run's certificates: the doors' start ones, the test CA, and those made on request.

    A certificate is a dict: kind, cert (PEM path), der (path), key (path),
    sha256 (hex of the DER bytes), not_before, not_after, names.
    """

    def __init__(self, workdir):
        self.workdir = workdir
        self.key = os.path.join(workdir, "server.key")
        self._ca_key = os.path.join(workdir, "ca.key")
        self._lock = threading.Lock()
        self._made = {}          # sha256 -> certificate, every one of this run
        self._ledger = None      # for the certificates made on request
        self._count = 0
        valid = _valid_now()
        plan = [
            ("https", 0x10, "127.0.0.1", LOCAL_SAN, valid, LOCAL_NAMES),
            ("https_expired", 0x11, "127.0.0.1", LOCAL_SAN, EXPIRED, LOCAL_NAMES),
            ("https_wronghost", 0x12, WRONG_HOST, "DNS:" + WRONG_HOST, valid, [WRONG_HOST]),
        ]
        # Independent openssl runs go side by side: the CA (key, then
        # certificate) beside the server's key, then the three door certificates.
        with concurrent.futures.ThreadPoolExecutor(len(plan) + 1) as pool:
            ca = pool.submit(self._make_ca, (valid[0], valid[1] + datetime.timedelta(days=365)))
            _run(_genpkey(self.key), workdir)
            doors = [pool.submit(self._make_door, *item) for item in plan]
            self.start = {item[0]: door.result() for item, door in zip(plan, doors)}
            self.ca, self.ca_der = ca.result()
        for cert in self.start.values():
            self._made[cert["sha256"]] = cert

    def _make_door(self, name, serial, common_name, san, validity, names):
        ledger = _ledger(os.path.join(self.workdir, name), serial, self.key, common_name, san)
        cert = os.path.join(self.workdir, name + ".crt")
        _sign(ledger, cert, "standin_ext", validity[0], validity[1], self.key)
        return _describe("default", cert, self.key, validity, names)

    def _make_ca(self, validity):
        _run(_genpkey(self._ca_key), self.workdir)
        ledger = _ledger(os.path.join(self.workdir, "ca"), 0x01, self._ca_key, CA_NAME, LOCAL_SAN)
        cert = os.path.join(self.workdir, "ca.crt")
        _sign(ledger, cert, "ca_ext", validity[0], validity[1], self._ca_key)
        return cert, _describe("ca", cert, self._ca_key, validity, [])["der"]

    def info(self):
        """For GET /info: the start certificate of each door, and the CA's paths."""
        return dict(self.start, ca=self.ca, ca_der=self.ca_der)

    def make(self, kind):
        """A new certificate of a kind in KINDS, for 127.0.0.1 and localhost."""
        if kind not in KINDS:
            raise CertificateError("kind must be one of %s" % ", ".join(KINDS))
        with self._lock:
            if self._ledger is None:
                self._ledger = _ledger(os.path.join(self.workdir, "made"), 0x1000, self.key,
                                       "127.0.0.1", LOCAL_SAN)
            self._count += 1
            validity = EXPIRED if kind == "expired-self-signed" else _valid_now()
            path = os.path.join(self._ledger, "%d-%s.crt" % (self._count, kind))
            if kind == "ca-signed":
                _sign(self._ledger, path, "leaf_ext", validity[0], validity[1], self._ca_key, self.ca)
            else:
                _sign(self._ledger, path, "standin_ext", validity[0], validity[1], self.key)
            cert = _describe(kind, path, self.key, validity, LOCAL_NAMES)
            self._made[cert["sha256"]] = cert
            return cert

    def find(self, sha256):
        """A certificate of this run by the SHA-256 of its DER bytes (any case, colons allowed)."""
        with self._lock:
            return self._made.get(sha256.replace(":", "").lower())
