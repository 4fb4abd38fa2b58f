"""The one shared state behind every door: accounts, sessions, content groups,
request records, counters, scripts and stored files.

All doors (plain, HTTPS variants) serve this same object; the control API reads
and changes it. One lock guards it; a condition on that lock lets the control
API wait for new request records instead of making its callers poll.
"""

import base64
import copy
import secrets
import threading
import time

from . import compress
from . import gates
from . import scripts
from . import store

SESSION_COOKIE = "TESSALYSESS"
MAX_RECORDS = 20000
BODY_KEPT_WHOLE = 64 * 1024     # bodies up to this size are recorded whole
BODY_HEAD_KEPT = 4096           # larger ones: this many first bytes, length and SHA-256


def _jsonable(value):
    """Record values to JSON: bytes become base64 under the key name + "_b64"."""
    if isinstance(value, dict):
        out = {}
        for key, item in value.items():
            if isinstance(item, (bytes, bytearray)):
                out[key + "_b64"] = base64.b64encode(item).decode("ascii")
            else:
                out[key] = _jsonable(item)
        return out
    if isinstance(value, list):
        return [_jsonable(v) for v in value]
    return value


class Session:
    def __init__(self, user, door):
        self.id = secrets.token_hex(16)
        self.user = user
        self.door = door
        self.created = time.time()
        self.ended = None
        self.logins = 1
        self.logouts = 0
        self.requests = 0

    def to_json(self):
        return {"id": self.id, "user": self.user, "door": self.door,
                "created": self.created, "ended": self.ended, "active": self.ended is None,
                "logins": self.logins, "logouts": self.logouts, "requests": self.requests}


class State:
    def __init__(self, accounts, groups, data_dir, sink=False):
        self.lock = threading.RLock()
        self.changed = threading.Condition(self.lock)
        self._start_accounts = dict(accounts)
        self._start_groups = copy.deepcopy(groups)
        self._start_sink = sink
        self.scripts = scripts.ScriptQueue()
        self.gates = gates.Gates()
        self.store = store.FileStore(data_dir)
        self.last_activity = time.monotonic()
        self._reset_fields()

    def _reset_fields(self):
        self.accounts = dict(self._start_accounts)
        self.groups = copy.deepcopy(self._start_groups)
        self.sink = self._start_sink
        # How answers with a body are sent (POST /encoding); replaced whole, never changed in place.
        self.encoding = compress.default_setting()
        self.sessions = {}
        self.records = []
        self.next_seq = 1
        self.counters = {
            "requests": 0, "by_endpoint": {}, "by_door": {},
            "logins": 0, "logouts": 0, "login_failures": 0,
            "uploads_stored": 0, "uploads_refused": 0, "uploads_incomplete": 0,
            "uploads_cut": 0, "sink_uploads": 0, "sink_bytes": 0,
            "tls_handshake_failures": {},
        }

    def reset(self):
        with self.lock:
            self._reset_fields()
            self.scripts.clear()
            self.gates.reset()
            self.store.reset()
            self.changed.notify_all()

    def touch(self):
        self.last_activity = time.monotonic()

    def count(self, key, amount=1):
        with self.lock:
            self.counters[key] += amount

    def count_tls_failure(self, door):
        with self.lock:
            failures = self.counters["tls_handshake_failures"]
            failures[door] = failures.get(door, 0) + 1

    # Accounts and sessions

    def set_accounts(self, accounts, replace):
        with self.lock:
            if replace:
                self.accounts = {}
            self.accounts.update(accounts)

    def login(self, username, password, door):
        """A new session when the account matches, else None (the caller counts failures)."""
        with self.lock:
            if username is None or self.accounts.get(username) != password:
                return None
            session = Session(username, door)
            self.sessions[session.id] = session
            self.counters["logins"] += 1
            return session

    def session_for(self, request):
        """The active session named by the request's cookie, or None."""
        for header in request.header_all("Cookie"):
            for pair in header.split(";"):
                name, _, value = pair.strip().partition("=")
                if name == SESSION_COOKIE:
                    with self.lock:
                        session = self.sessions.get(value.strip())
                        if session is not None and session.ended is None:
                            return session
        return None

    def logout(self, session):
        with self.lock:
            session.logouts += 1
            session.ended = time.time()
            self.counters["logouts"] += 1

    def end_sessions(self, session_id=None):
        """End sessions from the control side (no logout counted); returns how many."""
        with self.lock:
            ended = 0
            for session in self.sessions.values():
                if session.ended is None and session_id in (None, session.id):
                    session.ended = time.time()
                    ended += 1
            return ended

    # Content groups

    def set_groups(self, groups):
        with self.lock:
            self.groups = copy.deepcopy(groups)

    def get_groups(self):
        with self.lock:
            return copy.deepcopy(self.groups)

    # Request records

    def new_record(self, door, peer, request, tls_sha256=None):
        with self.lock:
            record = {
                "seq": self.next_seq, "done": False, "time": time.time(), "door": door,
                "peer": "%s:%d" % peer[:2], "tls_certificate_sha256": tls_sha256,
                "method": request.method,
                "target": request.target, "path": request.path, "version": request.version,
                "head": request.raw_head, "headers": [list(h) for h in request.headers],
                "blank_line_in_head": request.blank_line_in_head,
                "endpoint": None, "session": None, "content_length": None,
                "body_received": 0, "body_complete": None, "body": None,
                "body_head": None, "body_sha256": None, "script": None,
                "outcome": None, "response": None,
            }
            self.next_seq += 1
            self.records.append(record)
            del self.records[:-MAX_RECORDS]
            self.counters["requests"] += 1
            by_door = self.counters["by_door"]
            by_door[door] = by_door.get(door, 0) + 1
            return record

    def bad_request_record(self, door, peer, raw, error, tls_sha256=None):
        """A record for bytes that could not be read as a request; finished at once."""
        with self.lock:
            record = {"seq": self.next_seq, "done": True, "time": time.time(), "door": door,
                      "peer": "%s:%d" % peer[:2], "tls_certificate_sha256": tls_sha256,
                      "method": None, "target": None, "path": None, "version": None,
                      "head": raw, "headers": [], "endpoint": None, "session": None,
                      "bad_request": error, "outcome": "bad_request", "response": {"status": 400}}
            self.next_seq += 1
            self.records.append(record)
            del self.records[:-MAX_RECORDS]
            self.counters["requests"] += 1
            self.changed.notify_all()
            return record

    def update_record(self, record, **fields):
        with self.lock:
            record.update(fields)
            endpoint = fields.get("endpoint")
            if endpoint:
                by = self.counters["by_endpoint"]
                by[endpoint] = by.get(endpoint, 0) + 1

    def finish_record(self, record, outcome, response=None):
        with self.lock:
            record["outcome"] = outcome
            record["response"] = response
            record["done"] = True
            sid = record.get("session")
            if sid in self.sessions:
                self.sessions[sid].requests += 1
            self.changed.notify_all()

    def requests(self, since=0, endpoint=None, wait_ms=0, limit=None):
        """Finished records with seq > since; waits up to wait_ms for at least one."""
        deadline = time.monotonic() + wait_ms / 1000.0
        with self.lock:
            while True:
                found = [r for r in self.records if r["seq"] > since and r["done"]
                         and (endpoint is None or r["endpoint"] == endpoint)]
                remaining = deadline - time.monotonic()
                if found or remaining <= 0:
                    break
                self.changed.wait(remaining)
            if limit is not None:
                found = found[:limit]
            out = []
            for record in found:
                item = _jsonable(record)
                item["head_text"] = record["head"].decode("latin-1")
                out.append(item)
            return {"requests": out, "last_seq": self.next_seq - 1}

    # Read-outs for the control API

    def counters_json(self):
        with self.lock:
            out = copy.deepcopy(self.counters)
            out["sessions"] = {s.id: {"user": s.user, "logins": s.logins,
                                      "logouts": s.logouts, "requests": s.requests}
                               for s in self.sessions.values()}
            return out

    def sessions_json(self):
        with self.lock:
            return [s.to_json() for s in self.sessions.values()]

