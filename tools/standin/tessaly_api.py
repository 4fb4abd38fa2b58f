"""The Tessaly web API as the API doors serve it: four endpoints under the base path.

  POST authUserLogin             form login, sets the session cookie
  GET  authUserLogout            ends the session
  GET  manageContentGroups.json  the content-group tree
  POST uploadContentFile.json    multipart upload, stored under data-dir

Answers use the envelope {"result": {"success": ..., "errno": ...}}. A request
without a valid session cookie gets errno 7 (HTTP status 200), the code the
client shows as "please log in". Every request is recorded; a scripted step
(scripts.py) may reshape the answer, delay it, or cut the connection.

Each handler returns the normal answer and the request's effect (create the
session, store the file, end the session) as a function. The effect is carried
out only when the final answer still reads as success to the client, or when
the step says "commit": true / false explicitly.
"""

import hashlib
import time

from . import compress
from . import forms
from . import multipart
from . import scripts
from . import state as state_mod
from . import store
from . import wire

_METHODS = {"authUserLogin": "POST", "authUserLogout": "GET",
            "manageContentGroups.json": "GET", "uploadContentFile.json": "POST"}
MAX_FORM = 1024 * 1024
SINK_CHUNK = 1024 * 1024

ERRNO_PARAMETER = 1
ERRNO_LOGIN = 6
ERRNO_NOT_LOGGED_IN = 7


class TooLarge(Exception):
    pass


def envelope(errno=0):
    return {"result": {"success": errno == 0, "errno": errno}}


class _BodyTap:
    """Keeps what a record needs of a body while it streams past."""

    def __init__(self, length):
        self.sha = hashlib.sha256()
        self.head = bytearray()
        self.whole = bytearray() if length is not None and length <= state_mod.BODY_KEPT_WHOLE else None
        self.total = 0

    def take(self, chunk):
        self.total += len(chunk)
        self.sha.update(chunk)
        if len(self.head) < state_mod.BODY_HEAD_KEPT:
            self.head += chunk[:state_mod.BODY_HEAD_KEPT - len(self.head)]
        if self.whole is not None:
            self.whole += chunk

    def fields(self, complete):
        return {"body_received": self.total, "body_complete": complete,
                "body": bytes(self.whole) if self.whole is not None else None,
                "body_head": bytes(self.head), "body_sha256": self.sha.hexdigest()}


class Api:
    def __init__(self, state, base_path, log):
        self.state = state
        self.base_path = base_path
        self.log = log

    def endpoint_of(self, path):
        if not path.startswith(self.base_path):
            return None
        name = path[len(self.base_path):]
        return name if name in _METHODS else None

    # Connection loop

    def serve(self, door, conn, peer):
        while True:
            try:
                request = conn.read_request()
            except wire.BadRequest as e:
                self.log("%s %s: bad request: %s" % (door, peer[0], e))
                self.state.bad_request_record(door, peer, e.raw, str(e), conn.tls_certificate_sha256)
                self._send_plain(conn, 400, str(e), keep_alive=False)
                return
            if request is None:
                return
            self.state.touch()
            if not self._handle(door, conn, peer, request):
                return

    def _send_plain(self, conn, status, text, keep_alive, record=None):
        answer = scripts.Answer(None, status)
        answer.raw = (text + "\r\n").encode("utf-8")
        answer.content_type = "text/plain; charset=UTF-8"
        answer.keep_alive = keep_alive
        self._send(conn, answer, record)

    def _send(self, conn, answer, record=None):
        body = answer.body()
        misbehaving = (answer.endless or answer.answer_rate is not None or answer.stall_after is not None
                       or answer.cut_answer_after is not None)
        # The server-wide setting shapes every answer with a body; a step's
        # own keys shape its answer whatever the body.
        setting = self.state.encoding
        has_body = bool(body) or answer.endless
        encoding = answer.encoding or (setting["encoding"] if has_body else "identity")
        chunked = answer.chunked if answer.chunked is not None else setting["chunked"] and has_body
        out = compress.WireBody(body, encoding, chunked, setting["chunk_size"], answer.endless)
        headers = answer.all_headers(out.headers())
        # Finish the record before the answer leaves, so a client that asks the
        # control API right after reading the answer always finds it.
        if record is not None:
            self.state.finish_record(record, "answered", {
                "status": answer.status, "headers": [list(h) for h in headers],
                "body": body if len(body) <= state_mod.BODY_KEPT_WHOLE else None,
                "body_length": len(body), "encoding": encoding, "framing": out.framing,
                "wire_body_length": None if answer.endless else len(out.encoded)})
        if misbehaving:
            # Such an answer is never followed by another on its connection.
            answer.keep_alive = False
            head = wire.build_head(answer.status, headers, out.content_length(), answer.reason, False)
            wire.send_misbehaving(conn, head, out.wire(), answer.answer_rate,
                                  out.more if answer.endless else None,
                                  answer.stall_after, answer.cut_answer_after)
            return
        data = wire.build_head(answer.status, headers, out.content_length(), answer.reason,
                               answer.keep_alive) + out.wire()
        try:
            conn.send(data)
        except OSError as e:
            if record is not None:
                self.state.update_record(record, send_error=str(e))

    def _handle(self, door, conn, peer, request):
        st = self.state
        record = st.new_record(door, peer, request, conn.tls_certificate_sha256)
        endpoint = self.endpoint_of(request.path)
        session = st.session_for(request)
        st.update_record(record, endpoint=endpoint, session=session.id if session else None)
        keep_alive = request.wants_keep_alive()
        try:
            length = request.content_length()
        except wire.BadRequest as e:
            self._send_plain(conn, 400, str(e), False, record)
            return False
        st.update_record(record, content_length=length)
        if request.header("Transfer-Encoding") is not None:
            self._send_plain(conn, 411, "chunked bodies are not accepted; send Content-Length",
                             False, record)
            return False

        if endpoint is None or request.method != _METHODS[endpoint]:
            # Drain a small body so the connection stays usable; else close.
            if length and length > MAX_FORM:
                keep_alive = False
            elif length:
                if not self._drain(conn, record, length):
                    return False
            if endpoint is None:
                self._send_plain(conn, 404, "Not Found: %s" % request.path, keep_alive, record)
            else:
                answer = scripts.Answer(None, 405)
                answer.raw = b"Method Not Allowed\r\n"
                answer.content_type = "text/plain; charset=UTF-8"
                answer.headers.append(("Allow", _METHODS[endpoint]))
                answer.keep_alive = keep_alive
                self._send(conn, answer, record)
            return keep_alive

        taken = st.scripts.take(endpoint)
        step = taken["step"] if taken else {}
        st.update_record(record, script=taken)
        conn.read_rate = step.get("read_rate")
        if request.method == "POST" and length is None:
            self._send_plain(conn, 411, "Content-Length required", False, record)
            return False
        if request.version == "HTTP/1.1" and (request.header("Expect") or "").lower() == "100-continue":
            conn.send(b"HTTP/1.1 100 Continue\r\n\r\n")

        if "cut_after" in step:
            return self._cut(conn, record, endpoint, length or 0, step)

        handler = {"authUserLogin": self._login, "authUserLogout": self._logout,
                   "manageContentGroups.json": self._groups,
                   "uploadContentFile.json": self._upload}[endpoint]
        try:
            answer, effect = handler(conn, request, record, session, length or 0)
        except TooLarge:
            self._send_plain(conn, 413, "body larger than %d bytes" % MAX_FORM, False, record)
            return False
        except wire.ShortBody:
            # The body never fully arrived: nothing is stored or changed.
            if endpoint == "uploadContentFile.json":
                st.count("uploads_incomplete")
            st.finish_record(record, "incomplete")
            answer = scripts.Answer(envelope(ERRNO_PARAMETER), 400)
            answer.keep_alive = False
            self._send(conn, answer, None)
            return False

        scripts.shape(answer, step)
        answer.keep_alive = answer.keep_alive and keep_alive
        commit = step.get("commit", answer.reads_as_success())
        try:
            if effect is not None and commit:
                effect(answer)
        finally:
            if answer.cleanup is not None:
                answer.cleanup()
        st.update_record(record, committed=bool(effect is not None and commit))

        self._wait(record, step)
        if answer.hangup:
            st.finish_record(record, "hangup")
            conn.close()
            return False
        self._send(conn, answer, record)
        self.log("%s %s %s -> %d" % (door, request.method, request.target, answer.status))
        return answer.keep_alive

    def _wait(self, record, step):
        """Where a step waits before its answer (or cut): at its gate, then delay_ms."""
        if "hold" in step:
            started = time.monotonic()
            released = self.state.gates.hold(step["hold"])
            self.state.update_record(record, hold={
                "gate": step["hold"], "released": released,
                "waited_ms": round((time.monotonic() - started) * 1000)})
        if step.get("delay_ms"):
            time.sleep(step["delay_ms"] / 1000.0)

    def _drain(self, conn, record, length):
        tap = _BodyTap(length)
        try:
            for chunk in conn.body_chunks(length):
                tap.take(chunk)
        except wire.ShortBody:
            self.state.update_record(record, **tap.fields(False))
            self.state.finish_record(record, "incomplete")
            return False
        self.state.update_record(record, **tap.fields(True))
        return True

    def _cut(self, conn, record, endpoint, length, step):
        """Read up to cut_after body bytes, then drop the connection unanswered."""
        limit = min(step["cut_after"], length)
        tap = _BodyTap(limit)
        complete = True
        try:
            for chunk in conn.body_chunks(limit):
                tap.take(chunk)
        except wire.ShortBody:
            complete = False
        self.state.update_record(record, **tap.fields(complete and limit == length))
        self._wait(record, step)
        if endpoint == "uploadContentFile.json":
            self.state.count("uploads_cut")
        self.state.finish_record(record, "cut")
        if step.get("cut_mode", "reset") == "reset":
            conn.reset()
        else:
            conn.close()
        self.log("cut %s after %d body bytes" % (endpoint, tap.total))
        return False

    def _read_small_body(self, conn, record, length):
        if length > MAX_FORM:
            raise TooLarge()
        tap = _BodyTap(length)
        try:
            for chunk in conn.body_chunks(length):
                tap.take(chunk)
        except wire.ShortBody:
            self.state.update_record(record, **tap.fields(False))
            raise
        self.state.update_record(record, **tap.fields(True))
        return bytes(tap.whole) if tap.whole is not None else b""

    # Endpoints

    def _login(self, conn, request, record, session, length):
        body = self._read_small_body(conn, record, length)
        fields = forms.decode_form(body)
        self.state.update_record(record, form=[
            {"key": f.key, "value": f.value, "key_raw": f.raw_key, "value_raw": f.raw_value,
             "decode_errors": f.decode_errors} for f in fields])
        username = forms.first(fields, "username")
        password = forms.first(fields, "password")
        if username is None or password is None:
            return scripts.Answer(envelope(ERRNO_PARAMETER)), None
        with self.state.lock:
            known = self.state.accounts.get(username) == password
        if not known:
            self.state.count("login_failures")
            return scripts.Answer(envelope(ERRNO_LOGIN)), None

        def effect(answer):
            new = self.state.login(username, password, record["door"])
            if new is None:     # account changed meanwhile
                return
            answer.headers.append(("Set-Cookie", "%s=%s; Path=/; HttpOnly" % (
                state_mod.SESSION_COOKIE, new.id)))
            self.state.update_record(record, new_session=new.id)
        return scripts.Answer(envelope(0)), effect

    def _logout(self, conn, request, record, session, length):
        if length:
            self._read_small_body(conn, record, length)
        if session is None:
            return scripts.Answer(envelope(ERRNO_NOT_LOGGED_IN)), None
        return scripts.Answer(envelope(0)), lambda answer: self.state.logout(session)

    def _groups(self, conn, request, record, session, length):
        if length:
            self._read_small_body(conn, record, length)
        if session is None:
            return scripts.Answer(envelope(ERRNO_NOT_LOGGED_IN)), None
        groups = self.state.get_groups()
        if "body" in groups:
            # Verbatim answer text, byte for byte as the control API was given it.
            answer = scripts.Answer(None)
            answer.raw = groups["body"].encode("utf-8")
            return answer, None
        doc = envelope(0)
        doc["content_groups"] = groups.get("content_groups", [])
        return scripts.Answer(doc), None

    def _upload(self, conn, request, record, session, length):
        st = self.state
        if st.sink:
            try:
                received = conn.discard_body(length, SINK_CHUNK)
            except wire.ShortBody as e:
                st.update_record(record, body_received=e.received, body_complete=False, sink=True)
                raise
            st.update_record(record, body_received=received, body_complete=True, sink=True)
            with st.lock:
                st.counters["sink_uploads"] += 1
                st.counters["sink_bytes"] += received
            errno = 0 if session is not None else ERRNO_NOT_LOGGED_IN
            return scripts.Answer(envelope(errno)), None

        tap = _BodyTap(length)
        error = None
        parser = None
        try:
            parser = multipart.MultipartParser(request.header("Content-Type") or "",
                                               st.store.spool_dir())
        except multipart.MultipartError as e:
            error = str(e)
        parts = []
        try:
            try:
                for chunk in conn.body_chunks(length):
                    tap.take(chunk)
                    if parser is not None:
                        try:
                            parser.feed(chunk)
                        except multipart.MultipartError as e:
                            error, parser = str(e), None
            except wire.ShortBody:
                st.update_record(record, **tap.fields(False))
                raise
            st.update_record(record, **tap.fields(True))
            if parser is not None:
                try:
                    parts = parser.finish()
                except multipart.MultipartError as e:
                    error = str(e)
            return self._upload_answer(record, session, parts, error)
        except BaseException:
            for part in parts:
                part.discard()
            if parser is not None:
                parser.discard()
            raise

    def _upload_answer(self, record, session, parts, error):
        st = self.state
        fields = {}
        file_part = None
        for part in parts:
            if part.name == "file" and part.is_file and file_part is None:
                file_part = part
            elif part.name is not None and not part.is_file and part.name not in fields:
                fields[part.name] = part.text()
        info = {"fields": fields, "error": error, "stored": None, "parts": [
            {"name": p.name, "filename": p.filename, "content_type": p.content_type,
             "size": p.size, "sha256": p.sha256, "head": p.raw_head} for p in parts]}
        if file_part is not None:
            info.update(filename=file_part.filename, filename_bytes=file_part.filename_bytes,
                        file_size=file_part.size, file_sha256=file_part.sha256)
        if error is None:
            missing = [k for k in ("group_id",) if k not in fields]
            if file_part is None:
                missing.append("file")
            if missing:
                error = "missing parts: %s" % ", ".join(missing)
            else:
                try:
                    store.check_component(fields["group_id"], "group_id")
                    store.check_component(file_part.filename, "filename")
                except store.UnsafeName as e:
                    error = str(e)
        info["error"] = error

        def release():
            for part in parts:
                part.discard()

        if session is None:
            errno = ERRNO_NOT_LOGGED_IN
        elif error is not None:
            errno = ERRNO_PARAMETER
        else:
            errno = 0
        st.update_record(record, upload=info)
        if errno:
            st.count("uploads_refused")
            release()
            return scripts.Answer(envelope(errno)), None

        def effect(answer):
            entry = st.store.commit(file_part.spool_path, fields["group_id"], file_part.filename, {
                "seq": record["seq"], "time": time.strftime("%Y-%m-%dT%H:%M:%S"),
                "door": record["door"], "session": session.id, "user": session.user,
                "size": file_part.size, "sha256": file_part.sha256,
                "is_encrypt": fields.get("is_encrypt"),
                "file_delete_days": fields.get("file_delete_days")})
            file_part.spool_path = None
            info["stored"] = entry["path"]
            st.count("uploads_stored")

        answer = scripts.Answer(envelope(0))
        answer.cleanup = release
        return answer, effect
