"""Scripted behaviours: a queue of steps that shape the next answers of the API doors.

A step is a JSON object. Each API request takes the first queued step whose
endpoint matches (its own name or "*"); a step with "times": n serves n
requests, one with "forever": true serves every later one. Requests that find
no step get the normal answer, as does a step {"pass": true}, so "let the
first attempt through, cut the second" is [{"pass": true}, {"cut_after": N}].
"""

import base64
import json
import threading

ENDPOINTS = ("authUserLogin", "authUserLogout", "manageContentGroups.json",
             "uploadContentFile.json")

_BOOL_KEYS = {"pass", "forever", "empty", "not_json", "gzip", "deflate", "deflate_raw",
              "chunked", "hangup", "proxy_auth", "close", "commit", "endless"}
# Step keys that choose the answer's Content-Encoding, and the encoding each means.
ENCODING_KEYS = {"gzip": "gzip", "deflate": "deflate", "deflate_raw": "deflate-raw"}
_ANY_KEYS = {"errno", "success", "result", "json"}
_STEP_KEYS = _BOOL_KEYS | _ANY_KEYS | {
    "times", "omit", "body", "body_b64", "status", "reason", "headers",
    "content_type", "delay_ms", "cut_after", "cut_mode", "read_rate", "note",
    "pad_to", "answer_rate", "stall_after", "cut_answer_after", "hold"}

NOT_JSON_BODY = b"<html><body>This is not JSON.</body></html>\r\n"
# The largest body "pad_to" makes: room for answers far beyond any client's limit.
MAX_PAD = 256 * 1024 * 1024


class ScriptError(ValueError):
    pass


def _check_int(step, key, minimum):
    value = step[key]
    if isinstance(value, bool) or not isinstance(value, int) or value < minimum:
        raise ScriptError("%s must be an integer >= %d" % (key, minimum))


def validate_step(step):
    if not isinstance(step, dict):
        raise ScriptError("a step must be a JSON object")
    unknown = set(step) - _STEP_KEYS
    if unknown:
        raise ScriptError("unknown step keys: %s" % ", ".join(sorted(unknown)))
    for key in _BOOL_KEYS & set(step):
        if not isinstance(step[key], bool):
            raise ScriptError("%s must be true or false" % key)
    if "times" in step:
        _check_int(step, "times", 1)
    if "status" in step:
        _check_int(step, "status", 100)
        if step["status"] > 999:
            raise ScriptError("status must have three digits")
    if "cut_after" in step:
        _check_int(step, "cut_after", 0)
    if "read_rate" in step:
        _check_int(step, "read_rate", 1024)
    for key in ("pad_to", "stall_after", "cut_answer_after"):
        if key in step:
            _check_int(step, key, 0)
    if "pad_to" in step and step["pad_to"] > MAX_PAD:
        raise ScriptError("pad_to must be at most %d" % MAX_PAD)
    if "answer_rate" in step:
        _check_int(step, "answer_rate", 1)
    if len([k for k in ("endless", "stall_after", "cut_answer_after") if step.get(k) not in (None, False)]) > 1:
        raise ScriptError("give only one of endless, stall_after, cut_answer_after")
    if "delay_ms" in step and (isinstance(step["delay_ms"], bool)
                               or not isinstance(step["delay_ms"], (int, float))
                               or step["delay_ms"] < 0):
        raise ScriptError("delay_ms must be a number >= 0")
    if len([k for k in ENCODING_KEYS if step.get(k)]) > 1:
        raise ScriptError("give only one of gzip, deflate, deflate_raw")
    if "hold" in step and (not isinstance(step["hold"], str) or step["hold"] in ("", "*")):
        raise ScriptError('hold must be a gate name (a non-empty string other than "*")')
    if step.get("cut_mode", "reset") not in ("reset", "close"):
        raise ScriptError('cut_mode must be "reset" or "close"')
    omit = step.get("omit", [])
    if not isinstance(omit, list) or not set(omit) <= {"result", "success", "errno"}:
        raise ScriptError('omit must be a list of "result", "success", "errno"')
    bodies = [k for k in ("json", "body", "body_b64", "empty", "not_json") if k in step]
    if len(bodies) > 1:
        raise ScriptError("give only one of json, body, body_b64, empty, not_json")
    if "body" in step and not isinstance(step["body"], str):
        raise ScriptError("body must be a string (sent as UTF-8)")
    if "body_b64" in step:
        try:
            base64.b64decode(step["body_b64"], validate=True)
        except (ValueError, TypeError):
            raise ScriptError("body_b64 is not base64")
    headers = step.get("headers", {})
    if isinstance(headers, dict):
        headers = list(headers.items())
    if not isinstance(headers, list) or not all(
            isinstance(h, (list, tuple)) and len(h) == 2 and all(isinstance(x, str) for x in h)
            for h in headers):
        raise ScriptError("headers must be an object or a list of [name, value]")
    for text in ("reason", "content_type", "note"):
        if text in step and not isinstance(step[text], str):
            raise ScriptError("%s must be a string" % text)
    return step


def success_text(value):
    """A "success" value as the client renders it to text before its "true" test."""
    if isinstance(value, str):
        return value
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, (int, float)):
        return "%f" % value
    if value is None:
        return "null"
    return "array" if isinstance(value, list) else "object"


class ScriptQueue:
    def __init__(self):
        self._lock = threading.Lock()
        self._entries = []      # dicts: id, endpoint, step, remaining (None: forever)
        self._next_id = 1

    def add(self, endpoint, steps):
        if endpoint != "*" and endpoint not in ENDPOINTS:
            raise ScriptError("unknown endpoint %r; use one of %s or \"*\"" % (
                endpoint, ", ".join(ENDPOINTS)))
        if not isinstance(steps, list) or not steps:
            raise ScriptError("steps must be a non-empty list")
        checked = [validate_step(s) for s in steps]
        ids = []
        with self._lock:
            for step in checked:
                remaining = None if step.get("forever") else step.get("times", 1)
                entry = {"id": self._next_id, "endpoint": endpoint, "step": step,
                         "remaining": remaining}
                self._next_id += 1
                self._entries.append(entry)
                ids.append(entry["id"])
        return ids

    def take(self, endpoint):
        """The step for this request, or None; consumes one use of it."""
        with self._lock:
            for entry in self._entries:
                if entry["endpoint"] in (endpoint, "*"):
                    if entry["remaining"] is not None:
                        entry["remaining"] -= 1
                        if entry["remaining"] == 0:
                            self._entries.remove(entry)
                    return {"id": entry["id"], "endpoint": entry["endpoint"],
                            "step": entry["step"]}
        return None

    def pending(self):
        with self._lock:
            return [dict(e) for e in self._entries]

    def clear(self):
        with self._lock:
            self._entries = []


class Answer:
    """An answer under construction: a JSON document or raw bytes, status, headers."""

    def __init__(self, document, status=200):
        self.status = status
        self.reason = None
        self.document = document
        self.raw = None
        self.headers = []
        self.content_type = "application/json; charset=UTF-8"
        # Content-Encoding and chunked framing asked for by a step; None: the
        # server-wide setting of POST /encoding.
        self.encoding = None
        self.chunked = None
        self.keep_alive = True
        self.hangup = False
        self.cleanup = None     # releases spooled upload data the effect did not take
        # How the body goes out (wire.send_misbehaving): padded with blanks
        # to pad_to bytes, at answer_rate bytes a second, or broken off.
        self.pad_to = None
        self.answer_rate = None
        self.endless = False
        self.stall_after = None
        self.cut_answer_after = None

    def body(self):
        if self.raw is not None:
            data = self.raw
        else:
            data = json.dumps(self.document, ensure_ascii=False).encode("utf-8")
        if self.pad_to is not None and len(data) < self.pad_to:
            data += b" " * (self.pad_to - len(data))
        return data

    def reads_as_success(self):
        """Whether the client would take this answer as success (encoding aside).

        Decides, unless a step says "commit", whether the server carries out
        the request's effect (session, stored file, ended session).
        """
        if self.status != 200 or self.hangup:
            return False
        doc = self.document
        if self.raw is not None:
            try:
                doc = json.loads(self.raw.decode("utf-8"))
            except (ValueError, RecursionError):     # not JSON, or nested too deep for Python
                return False
        result = doc.get("result") if isinstance(doc, dict) else None
        if not isinstance(result, dict):
            return False
        return success_text(result.get("success")).startswith("true")

    def all_headers(self, framing=()):
        """Content-Type, then the framing headers (Content-Encoding,
        Transfer-Encoding), then the step's own."""
        headers = [("Content-Type", self.content_type)] if self.content_type else []
        return headers + list(framing) + self.headers


def shape(answer, step):
    """Apply a step's answer keys to an Answer (the cut and delay are the caller's)."""
    if "status" in step:
        answer.status = step["status"]
    if "reason" in step:
        answer.reason = step["reason"]
    if step.get("proxy_auth"):
        answer.status = 407
        answer.headers.append(("Proxy-Authenticate", 'Basic realm="tessaly-standin"'))
        answer.content_type = "text/html"
        answer.raw = b"<html><body>407 Proxy Authentication Required</body></html>\r\n"
    doc = answer.document
    if any(k in step for k in ("result", "success", "errno", "omit")) and isinstance(doc, dict):
        if "result" in step:
            doc["result"] = step["result"]
        result = doc.get("result")
        if isinstance(result, dict):
            if "errno" in step:
                result["errno"] = step["errno"]
                if "success" not in step:
                    result["success"] = False
            if "success" in step:
                result["success"] = step["success"]
        for key in step.get("omit", []):
            if key == "result":
                doc.pop("result", None)
            elif isinstance(doc.get("result"), dict):
                doc["result"].pop(key, None)
    if "json" in step:
        answer.document = step["json"]
        answer.raw = None
    elif "body" in step:
        answer.raw = step["body"].encode("utf-8")
    elif "body_b64" in step:
        answer.raw = base64.b64decode(step["body_b64"])
    elif step.get("empty"):
        answer.raw = b""
    elif step.get("not_json"):
        answer.raw = NOT_JSON_BODY
        answer.content_type = "text/html"
    if "content_type" in step:
        answer.content_type = step["content_type"]
    headers = step.get("headers", {})
    answer.headers.extend(headers.items() if isinstance(headers, dict) else
                          [tuple(h) for h in headers])
    for key, encoding in ENCODING_KEYS.items():
        if step.get(key):
            answer.encoding = encoding
    if "chunked" in step:
        answer.chunked = step["chunked"]
    if step.get("close"):
        answer.keep_alive = False
    if step.get("hangup"):
        answer.hangup = True
    for key in ("pad_to", "answer_rate", "stall_after", "cut_answer_after"):
        if key in step:
            setattr(answer, key, step[key])
    if step.get("endless"):
        answer.endless = True
    return answer
