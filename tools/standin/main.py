"""Start-up and shutdown: options, certificates, doors, port file, idle exit, signals."""

import argparse
import json
import os
import shutil
import signal
import sys
import tempfile
import threading
import time

from . import certs
from . import control
from . import demo
from . import doors
from . import proxy
from . import state as state_mod
from . import store
from . import tessaly_api

API_DOORS = ("http", "https", "https_expired", "https_wronghost")


def parse_args(argv):
    p = argparse.ArgumentParser(
        prog="python3 tools/standin",
        description="Stand-in Tessaly server: the four web API endpoints on plain and HTTPS "
                    "loopback ports, plus a JSON control API. See tools/standin/README.md.")
    p.add_argument("--port-file", metavar="PATH",
                   help="write the ports as a JSON object once all doors listen (atomically)")
    p.add_argument("--data-dir", metavar="DIR",
                   help="where uploaded files are stored (default: a fresh temporary folder, "
                        "removed at exit unless --keep-data)")
    p.add_argument("--keep-data", action="store_true",
                   help="keep the default temporary data folder at exit")
    p.add_argument("--demo", action="store_true",
                   help="preload the demo account and group tree; print a summary on stdout, "
                        "and the stored uploads at exit")
    p.add_argument("--base-path", default="/api/", metavar="PATH",
                   help='URL path under which the endpoints live (default "/api/")')
    p.add_argument("--account", action="append", default=[], metavar="USER:PASS",
                   help="an account (repeatable); split at the first colon")
    p.add_argument("--idle-exit", type=float, default=600, metavar="SECONDS",
                   help="exit when no request of any kind arrived for this long "
                        "(default 600; 0 never)")
    p.add_argument("--port", action="append", default=[], metavar="DOOR=NUMBER",
                   help="fixed port for a door (http, https, https_expired, https_wronghost, "
                        "control); default: chosen by the system")
    p.add_argument("--sink", action="store_true",
                   help="start in fast-sink mode: upload bodies are counted and discarded")
    p.add_argument("--verbose", action="store_true", help="log one line per request on stderr")
    p.add_argument("--log-file", metavar="PATH", help="write the log here instead of stderr")
    p.add_argument("--print-stored", action="store_true",
                   help="print the uploads recorded in --data-dir and exit (no server)")
    args = p.parse_args(argv)
    if not (args.base_path.startswith("/") and args.base_path.endswith("/")):
        p.error("--base-path must start and end with /")
    args.accounts = {}
    for item in args.account:
        user, sep, password = item.partition(":")
        if not sep or not user:
            p.error("--account takes USER:PASS, got %r" % item)
        args.accounts[user] = password
    args.ports = {}
    for item in args.port:
        name, sep, number = item.partition("=")
        if name not in API_DOORS + ("control",) or not number.isdigit():
            p.error("--port takes DOOR=NUMBER with a door of %s, got %r" % (
                ", ".join(API_DOORS + ("control",)), item))
        args.ports[name] = int(number)
    if args.print_stored and not args.data_dir:
        p.error("--print-stored needs --data-dir")
    return args


class StandIn:
    def __init__(self, args):
        self.args = args
        self._log_lock = threading.Lock()
        self._log_file = open(args.log_file, "a", encoding="utf-8") if args.log_file else None
        self.tmp = tempfile.mkdtemp(prefix="tessaly-standin-")
        self.own_data_dir = args.data_dir is None
        data_dir = args.data_dir or tempfile.mkdtemp(prefix="tessaly-standin-data-")
        accounts = dict(args.accounts)
        groups = []
        if args.demo:
            accounts.setdefault(demo.DEMO_USER, demo.DEMO_PASSWORD)
            groups = demo.DEMO_GROUPS
        self.state = state_mod.State(accounts, {"content_groups": groups}, data_dir, args.sink)
        os.mkdir(os.path.join(self.tmp, "tls"))
        os.mkdir(os.path.join(self.tmp, "proxy"))
        try:
            self.certificates = certs.Certificates(os.path.join(self.tmp, "tls"))
        except Exception:
            self._remove_temporary()
            raise
        self.api = tessaly_api.Api(self.state, args.base_path, self.log)
        self.control = control.Control(self)
        self.proxy = proxy.TinyProxy(os.path.join(self.tmp, "proxy"), self.log)
        self.doors = {}
        for name in API_DOORS:
            self.doors[name] = doors.Door(name, self.api.serve, self.log, self.state.touch,
                                          self.certificates.start.get(name),
                                          args.ports.get(name, 0), self.state.count_tls_failure)
        self.doors["control"] = doors.Door("control", self.control.serve, self.log,
                                           self.state.touch, None, args.ports.get("control", 0))
        self.api_doors = API_DOORS
        self.stop_event = threading.Event()
        self.stop_reason = None

    def log(self, text):
        if not (self.args.verbose or self._log_file):
            return
        line = "%s standin: %s\n" % (time.strftime("%H:%M:%S"), text)
        with self._log_lock:
            if self._log_file:
                self._log_file.write(line)
                self._log_file.flush()
            else:
                sys.stderr.write(line)
                sys.stderr.flush()

    def ports(self):
        return {name: door.port for name, door in self.doors.items()}

    def info(self):
        return {"pid": os.getpid(), "ports": self.ports(),
                "base_path": self.args.base_path, "data_dir": self.state.store.data_dir,
                "doors": {n: d.to_json() for n, d in self.doors.items()},
                "certificates": self.certificates.info(), "sink": self.state.sink,
                "session_cookie": state_mod.SESSION_COOKIE,
                "idle_exit": self.args.idle_exit, "proxy": self.proxy.to_json()}

    def start(self):
        for door in self.doors.values():
            door.open()
        if self.args.port_file:
            doc = dict(self.ports(), pid=os.getpid(), base_path=self.args.base_path,
                       data_dir=self.state.store.data_dir)
            tmp = "%s.%d.tmp" % (self.args.port_file, os.getpid())
            with open(tmp, "w", encoding="utf-8") as f:
                json.dump(doc, f, ensure_ascii=False)
            os.replace(tmp, self.args.port_file)
        self.log("listening: %s" % json.dumps(self.ports()))
        self.state.touch()      # the idle time counts from here, not from before the certificates

    def reset(self):
        self.state.reset()
        self.proxy.stop()
        for name in API_DOORS:
            door = self.doors[name]
            door.open()
            if door.tls and door.certificate is not self.certificates.start[name]:
                door.present(self.certificates.start[name])

    def request_shutdown(self, reason="shutdown requested"):
        self.stop_reason = self.stop_reason or reason
        self.stop_event.set()

    def wait(self):
        idle = self.args.idle_exit
        while not self.stop_event.wait(0.2):
            if idle > 0 and time.monotonic() - self.state.last_activity > idle:
                self.request_shutdown("no request for %g seconds" % idle)

    def close(self):
        for door in self.doors.values():
            door.close()
        self.proxy.stop()
        if self.args.port_file:
            try:
                os.unlink(self.args.port_file)
            except OSError:
                pass
        self._remove_temporary()
        if self._log_file:
            self._log_file.close()

    def _remove_temporary(self):
        shutil.rmtree(self.tmp, ignore_errors=True)
        if self.own_data_dir and not self.args.keep_data:
            shutil.rmtree(self.state.store.data_dir, ignore_errors=True)

    def summary(self):
        p = self.ports()
        base = self.args.base_path
        lines = [
            "Tessaly stand-in server is running (pid %d)." % os.getpid(),
            "  Server URL (http):   http://127.0.0.1:%d%s" % (p["http"], base),
            "  Server URL (https):  https://127.0.0.1:%d%s" % (p["https"], base),
            "  Accounts:            %s" % ", ".join(
                "%s / %s" % (u, pw) for u, pw in sorted(self.state.accounts.items())),
            "  Content groups:",
        ]
        lines += ["    " + line for line in demo.tree_lines(
            self.state.get_groups().get("content_groups", []))]
        lines += [
            "  Uploads are stored in: %s" % self.state.store.data_dir,
            "  Control API:         http://127.0.0.1:%d/  (GET /files lists the uploads)" % p["control"],
            "  Stop with Ctrl+C or: curl -X POST http://127.0.0.1:%d/shutdown" % p["control"],
        ]
        return "\n".join(lines)


def _say(text, stream=None):
    """Print, but never die of it: a process started from a Windows test may
    have standard handles that go nowhere."""
    try:
        print(text, file=stream or sys.stdout, flush=True)
    except (OSError, ValueError):
        pass


def main(argv):
    args = parse_args(argv)
    if args.print_stored:
        _say(store.format_listing(store.read_manifest(args.data_dir)))
        return 0
    try:
        app = StandIn(args)
    except (certs.CertificateError, OSError) as e:
        _say("standin: cannot start: %s" % e, sys.stderr)
        return 2
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda signum, frame: app.request_shutdown("signal %d" % signum))
    try:
        try:
            app.start()
        except OSError as e:
            _say("standin: cannot listen: %s" % e, sys.stderr)
            return 2
        if args.demo:
            _say(app.summary())
        app.wait()
        app.log("stopping: %s" % app.stop_reason)
        if app.stop_reason.startswith("no request"):
            # Always said: an idle exit explains a test that later finds no server.
            _say("standin: exiting, %s" % app.stop_reason, sys.stderr)
        if args.demo:
            _say("Stopping (%s)." % app.stop_reason)
            _say(store.format_listing(app.state.store.entries()))
    finally:
        app.close()
    return 0
