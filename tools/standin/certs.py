"""Server certificates for the HTTPS doors, made by the openssl command line.

Three self-signed certificates share one RSA key (one key generation keeps
start-up short):
  https           valid now, names 127.0.0.1 and localhost
  https_expired   names 127.0.0.1 and localhost, validity ended in 2020
  https_wronghost valid now, names only WRONG_HOST

`openssl req -x509` cannot put the validity in the past, so every certificate
is signed with `openssl ca -selfsign`, which takes explicit start and end
dates; using it for all three keeps one code path.
"""

import datetime
import os
import subprocess

WRONG_HOST = "wrong-host.tessaly.invalid"

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
"""


class CertificateError(RuntimeError):
    pass


def _run(args, cwd):
    done = subprocess.run(["openssl"] + args, cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.returncode != 0:
        raise CertificateError("openssl %s failed: %s" % (
            args[0], done.stderr.decode("utf-8", "replace").strip()))


def _stamp(when):
    return when.strftime("%Y%m%d%H%M%SZ")


def _sign(workdir, key_path, serial, name, common_name, san, start, end):
    """Self-sign one certificate with explicit validity dates; returns its path."""
    cadir = os.path.join(workdir, name)
    os.mkdir(cadir)
    with open(os.path.join(cadir, "index.txt"), "w"):
        pass
    with open(os.path.join(cadir, "serial"), "w") as f:
        # Distinct serials, so no client cache mixes the certificates up.
        f.write("%02X\n" % serial)
    with open(os.path.join(cadir, "ca.cnf"), "w") as f:
        f.write(_CA_CONFIG.format(san=san))
    _run(["req", "-new", "-key", key_path, "-subj", "/CN=" + common_name,
          "-out", "request.csr"], cadir)
    cert_path = os.path.join(workdir, name + ".crt")
    _run(["ca", "-batch", "-config", "ca.cnf", "-selfsign", "-keyfile", key_path,
          "-in", "request.csr", "-extensions", "standin_ext",
          "-startdate", _stamp(start), "-enddate", _stamp(end),
          "-notext", "-out", cert_path], cadir)
    return cert_path


def make_certificates(workdir):
    """Create key and certificates in workdir.

    Returns {door name: {"cert": path, "key": path, "not_before": text,
    "not_after": text, "names": [...]}}.
    """
    key_path = os.path.join(workdir, "server.key")
    _run(["genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
          "-out", key_path], workdir)
    now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
    # Start a day early so a client clock slightly behind still sees it valid.
    valid = (now - datetime.timedelta(days=1), now + datetime.timedelta(days=3650))
    expired = (datetime.datetime(2020, 1, 1, tzinfo=datetime.timezone.utc),
               datetime.datetime(2020, 2, 1, tzinfo=datetime.timezone.utc))
    local_san = "IP:127.0.0.1, DNS:localhost"
    plan = [
        ("https", "127.0.0.1", local_san, valid, ["127.0.0.1", "localhost"]),
        ("https_expired", "127.0.0.1", local_san, expired, ["127.0.0.1", "localhost"]),
        ("https_wronghost", WRONG_HOST, "DNS:" + WRONG_HOST, valid, [WRONG_HOST]),
    ]
    result = {}
    for serial, (name, cn, san, (start, end), names) in enumerate(plan, 0x10):
        cert = _sign(workdir, key_path, serial, name, cn, san, start, end)
        result[name] = {"cert": cert, "key": key_path,
                        "not_before": start.isoformat(), "not_after": end.isoformat(),
                        "names": names}
    return result
