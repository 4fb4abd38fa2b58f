"""The control API: JSON over HTTP on its own loopback port, for tests and people.

Separate from the API doors so that a door told to refuse connections, or a
script that cuts them, never gets in the way of control. Control requests are
not recorded. Every answer is a JSON object; failures carry {"error": text}
with status 400 (bad input) or 404 (unknown path).
"""

import json
import traceback
import urllib.parse

from . import certs
from . import compress
from . import gates
from . import proxy as proxy_mod
from . import scripts
from . import wire

MAX_CONTROL_BODY = 16 * 1024 * 1024


class ControlError(Exception):
    def __init__(self, message, status=400):
        super().__init__(message)
        self.status = status


def _need(body, key, kind, what):
    if key not in body or not isinstance(body[key], kind):
        raise ControlError('%s needs "%s" of JSON type %s' % (what, key, _JSON_NAMES[kind]))
    return body[key]


_JSON_NAMES = {dict: "object", list: "array", str: "string", bool: "boolean"}


class Control:
    def __init__(self, app):
        self.app = app          # main.StandIn: state, doors, proxy, info(), request_shutdown()
        self.routes = {
            ("GET", "/info"): self.info,
            ("POST", "/reset"): self.reset,
            ("GET", "/accounts"): self.get_accounts,
            ("POST", "/accounts"): self.set_accounts,
            ("GET", "/groups"): self.get_groups,
            ("POST", "/groups"): self.set_groups,
            ("GET", "/requests"): self.get_requests,
            ("GET", "/files"): self.get_files,
            ("GET", "/counters"): self.get_counters,
            ("GET", "/sessions"): self.get_sessions,
            ("DELETE", "/sessions"): self.end_sessions,
            ("GET", "/script"): self.get_script,
            ("POST", "/script"): self.add_script,
            ("DELETE", "/script"): self.clear_script,
            ("GET", "/doors"): self.get_doors,
            ("POST", "/doors"): self.set_doors,
            ("GET", "/sink"): self.get_sink,
            ("POST", "/sink"): self.set_sink,
            ("GET", "/proxy"): self.get_proxy,
            ("POST", "/proxy"): self.start_proxy,
            ("DELETE", "/proxy"): self.stop_proxy,
            ("GET", "/encoding"): self.get_encoding,
            ("POST", "/encoding"): self.set_encoding,
            ("GET", "/gates"): self.get_gates,
            ("POST", "/release"): self.release,
            ("GET", "/certificate"): self.get_certificate,
            ("POST", "/certificate"): self.set_certificate,
            ("POST", "/shutdown"): self.shutdown,
        }

    def serve(self, door, conn, peer):
        while True:
            try:
                request = conn.read_request()
            except wire.BadRequest as e:
                conn.send(wire.build_response(400, [("Content-Type", "application/json")],
                                              json.dumps({"error": str(e)}).encode()))
                return
            if request is None:
                return
            self.app.state.touch()
            status, doc, after = self._dispatch(conn, request)
            body = json.dumps(doc, ensure_ascii=False, indent=1).encode("utf-8") + b"\n"
            keep = request.wants_keep_alive() and after is None
            conn.send(wire.build_response(status, [("Content-Type", "application/json; charset=UTF-8")],
                                          body, keep_alive=keep))
            if after is not None:
                after()
            if not keep:
                return

    def _dispatch(self, conn, request):
        try:
            length = request.content_length() or 0
            if length > MAX_CONTROL_BODY:
                raise ControlError("control body too large", 413)
            raw = b"".join(conn.body_chunks(length))
            handler = self.routes.get((request.method, request.path))
            if handler is None:
                if any(path == request.path for _, path in self.routes):
                    raise ControlError("method %s not allowed on %s" % (request.method, request.path), 405)
                raise ControlError("no control endpoint %s" % request.path, 404)
            body = {}
            if raw.strip():
                try:
                    body = json.loads(raw.decode("utf-8"))
                except (UnicodeDecodeError, ValueError) as e:
                    raise ControlError("body is not JSON: %s" % e)
            if not isinstance(body, dict):
                raise ControlError("body must be a JSON object")
            query = {k: v[-1] for k, v in urllib.parse.parse_qs(request.query).items()}
            result = handler(body, query)
            after = None
            if isinstance(result, tuple):
                result, after = result
            return 200, result, after
        except ControlError as e:
            return e.status, {"error": str(e)}, None
        except (scripts.ScriptError, proxy_mod.ProxyError, wire.BadRequest) as e:
            return 400, {"error": str(e)}, None
        except (OSError, wire.ShortBody):
            raise
        except Exception as e:
            # A bug of ours: say so to the caller instead of dropping the connection.
            self.app.log("control: %s" % traceback.format_exc())
            return 500, {"error": "%s: %s" % (type(e).__name__, e)}, None

    # Handlers: (JSON body, query dict) -> JSON object [, action after answering]

    def info(self, body, query):
        return self.app.info()

    def reset(self, body, query):
        self.app.reset()
        return {"ok": True}

    def get_accounts(self, body, query):
        with self.app.state.lock:
            return {"accounts": dict(self.app.state.accounts)}

    def set_accounts(self, body, query):
        accounts = _need(body, "accounts", dict, "POST /accounts")
        if not all(isinstance(v, str) for v in accounts.values()):
            raise ControlError("POST /accounts: passwords must be strings")
        self.app.state.set_accounts(accounts, replace=body.get("replace", True))
        return self.get_accounts({}, {})

    def get_groups(self, body, query):
        return self.app.state.get_groups()

    def set_groups(self, body, query):
        if "body" in body:
            if not isinstance(body["body"], str):
                raise ControlError('POST /groups: "body" must be a string')
            groups = {"body": body["body"]}
        else:
            groups = {"content_groups": _need(body, "content_groups", list, "POST /groups")}
        self.app.state.set_groups(groups)
        return groups

    def get_requests(self, body, query):
        try:
            since = int(query.get("since", 0))
            wait_ms = min(int(query.get("wait_ms", 0)), 60000)
            limit = int(query["limit"]) if "limit" in query else None
        except ValueError:
            raise ControlError("since, wait_ms and limit must be integers")
        return self.app.state.requests(since, query.get("endpoint"), wait_ms, limit)

    def get_files(self, body, query):
        files = self.app.state.store.entries()
        for entry in files:
            entry["absolute_path"] = self.app.state.store.absolute(entry)
        return {"data_dir": self.app.state.store.data_dir, "files": files}

    def get_counters(self, body, query):
        return self.app.state.counters_json()

    def get_sessions(self, body, query):
        return {"sessions": self.app.state.sessions_json()}

    def end_sessions(self, body, query):
        return {"ended": self.app.state.end_sessions(body.get("session"))}

    def get_script(self, body, query):
        return {"pending": self.app.state.scripts.pending()}

    def add_script(self, body, query):
        endpoint = body.get("endpoint", "*")
        if "steps" in body:
            steps = body["steps"]
        elif "step" in body:
            steps = [body["step"]]
        else:
            raise ControlError('POST /script needs "steps" (a list) or "step" (an object)')
        ids = self.app.state.scripts.add(endpoint, steps)
        return {"ids": ids, "pending": self.app.state.scripts.pending()}

    def clear_script(self, body, query):
        self.app.state.scripts.clear()
        return {"pending": []}

    def get_doors(self, body, query):
        return {"doors": {name: door.to_json() for name, door in self.app.doors.items()}}

    def set_doors(self, body, query):
        name = _need(body, "door", str, "POST /doors")
        listening = _need(body, "listening", bool, "POST /doors")
        names = list(self.app.api_doors) if name == "all" else [name]
        for n in names:
            if n not in self.app.api_doors:
                raise ControlError("no API door %r (the control door cannot be closed)" % n)
        for n in names:
            door = self.app.doors[n]
            door.open() if listening else door.close()
        return self.get_doors({}, {})

    def get_sink(self, body, query):
        return {"enabled": self.app.state.sink}

    def set_sink(self, body, query):
        self.app.state.sink = _need(body, "enabled", bool, "POST /sink")
        return self.get_sink({}, {})

    def get_proxy(self, body, query):
        return self.app.proxy.to_json()

    def start_proxy(self, body, query):
        return self.app.proxy.start(body.get("username"), body.get("password"))

    def stop_proxy(self, body, query):
        return {"stopped": self.app.proxy.stop()}

    def get_encoding(self, body, query):
        return dict(self.app.state.encoding)

    def set_encoding(self, body, query):
        try:
            self.app.state.encoding = compress.check_setting(body)
        except ValueError as e:
            raise ControlError("POST /encoding: %s" % e)
        return self.get_encoding({}, {})

    def get_gates(self, body, query):
        try:
            arrived = int(query.get("arrived", 1))
            wait_ms = min(int(query.get("wait_ms", 0)), gates.MAX_WAIT_MS)
        except ValueError:
            raise ControlError("arrived and wait_ms must be integers")
        return self.app.state.gates.to_json(query.get("gate"), arrived, wait_ms)

    def release(self, body, query):
        self.app.state.gates.release(_need(body, "gate", str, "POST /release"))
        return self.app.state.gates.to_json()

    def _tls_door(self, name, what):
        door = self.app.doors.get(name) if isinstance(name, str) else None
        if door is None or not door.tls:
            raise ControlError("%s: no TLS door %r" % (what, name))
        return door

    @staticmethod
    def _certificate_json(name, cert):
        return {"door": name, "kind": cert["kind"], "sha256": cert["sha256"], "pem": cert["cert"],
                "der": cert["der"], "not_before": cert["not_before"], "not_after": cert["not_after"]}

    def get_certificate(self, body, query):
        name = query.get("door", "https")
        return self._certificate_json(name, self._tls_door(name, "GET /certificate").certificate)

    def set_certificate(self, body, query):
        name = body.get("door", "https")
        door = self._tls_door(name, "POST /certificate")
        if ("kind" in body) == ("reuse" in body):
            raise ControlError('POST /certificate needs "kind" or "reuse", not both')
        if "reuse" in body:
            cert = self.app.certificates.find(_need(body, "reuse", str, "POST /certificate"))
            if cert is None:
                raise ControlError("POST /certificate: no certificate %r was made in this run"
                                   % body["reuse"])
        elif body["kind"] == "default":
            cert = self.app.certificates.start[name]
        elif body["kind"] in certs.KINDS:
            cert = self.app.certificates.make(body["kind"])
        else:
            raise ControlError("POST /certificate: kind must be one of %s, default"
                               % ", ".join(certs.KINDS))
        door.present(cert)
        return self._certificate_json(name, cert)

    def shutdown(self, body, query):
        return {"ok": True}, self.app.request_shutdown
