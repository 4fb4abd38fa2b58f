"""Streaming multipart/form-data parser (MIME multipart as in RFC 2046 / RFC 7578).

Uploads go up to 400 MiB, so the body is fed in pieces and never held whole:
the boundary comes from the Content-Type header (parsed by the email package),
parts are split at delimiter lines wherever they fall in the stream, each
part's header block is parsed by the email package, file parts are spooled to
a temporary file and plain fields are kept in memory (bounded).
Nothing here depends on how a particular client lays out its body.
"""

import email.message
import email.parser
import email.policy
import email.utils
import hashlib
import os
import tempfile

MAX_PART_HEAD = 16 * 1024
MAX_FIELD = 1024 * 1024


class MultipartError(ValueError):
    pass


def boundary_of(content_type):
    """The boundary parameter of a multipart Content-Type value, or raise."""
    msg = email.message.Message()
    msg["Content-Type"] = content_type
    if msg.get_content_maintype() != "multipart":
        raise MultipartError("not a multipart body: %r" % content_type)
    boundary = msg.get_boundary()
    if not boundary:
        raise MultipartError("multipart body without boundary")
    return boundary.encode("latin-1")


class Part:
    def __init__(self, raw_head):
        self.raw_head = raw_head
        # The client writes the file name as raw UTF-8 inside the quotes; read the
        # head as UTF-8 so the name comes out whole, Latin-1 if it is not UTF-8.
        try:
            text, self.head_is_utf8 = raw_head.decode("utf-8"), True
        except UnicodeDecodeError:
            text, self.head_is_utf8 = raw_head.decode("latin-1"), False
        self.headers = email.parser.HeaderParser(policy=email.policy.compat32).parsestr(text)
        self.name = self._param("name")
        self.filename = self._param("filename")
        self.content_type = self.headers.get("Content-Type")
        self.size = 0
        self._sha = hashlib.sha256()
        self.value = bytearray()      # plain fields
        self.spool_path = None        # file parts
        self._spool = None

    def _param(self, key):
        value = self.headers.get_param(key, header="content-disposition")
        if value is None:
            return None
        return email.utils.collapse_rfc2231_value(value)

    @property
    def filename_bytes(self):
        if self.filename is None:
            return None
        return self.filename.encode("utf-8" if self.head_is_utf8 else "latin-1")

    @property
    def is_file(self):
        return self.filename is not None

    @property
    def sha256(self):
        return self._sha.hexdigest()

    def text(self):
        return bytes(self.value).decode("utf-8", "replace")

    def _open(self, spool_dir):
        if self.is_file:
            fd, self.spool_path = tempfile.mkstemp(prefix=".incoming-", dir=spool_dir)
            self._spool = os.fdopen(fd, "wb")

    def _write(self, data):
        if not data:
            return
        self.size += len(data)
        self._sha.update(data)
        if self._spool is not None:
            self._spool.write(data)
        else:
            if len(self.value) + len(data) > MAX_FIELD:
                raise MultipartError("field %r longer than %d bytes" % (self.name, MAX_FIELD))
            self.value += data

    def _finish(self):
        if self._spool is not None:
            self._spool.close()
            self._spool = None

    def discard(self):
        self._finish()
        if self.spool_path and os.path.exists(self.spool_path):
            os.unlink(self.spool_path)
        self.spool_path = None


_PREAMBLE, _AFTER_DELIMITER, _HEAD, _DATA, _EPILOGUE = range(5)


class MultipartParser:
    """Feed body pieces with feed(), then call finish() to get the parts."""

    def __init__(self, content_type, spool_dir):
        self.delimiter = b"\r\n--" + boundary_of(content_type)
        self.spool_dir = spool_dir
        # A leading CRLF lets the first delimiter (which may open the body)
        # be found like every later one.
        self.buf = bytearray(b"\r\n")
        self.state = _PREAMBLE
        self.parts = []
        self.current = None

    def feed(self, data):
        self.buf += data
        try:
            self._run()
        except Exception:
            self.discard()
            raise

    def finish(self):
        if self.state != _EPILOGUE:
            self.discard()
            raise MultipartError("body ended before the closing delimiter")
        return self.parts

    def discard(self):
        for part in self.parts:
            part.discard()

    def _run(self):
        while True:
            if self.state in (_PREAMBLE, _DATA):
                i = self.buf.find(self.delimiter)
                if i < 0:
                    # Keep a tail that may be the start of a delimiter.
                    keep = len(self.delimiter) - 1
                    if len(self.buf) > keep:
                        cut = len(self.buf) - keep
                        if self.state == _DATA:
                            self.current._write(bytes(self.buf[:cut]))
                        del self.buf[:cut]
                    return
                if self.state == _DATA:
                    self.current._write(bytes(self.buf[:i]))
                    self.current._finish()
                del self.buf[:i + len(self.delimiter)]
                self.state = _AFTER_DELIMITER
            elif self.state == _AFTER_DELIMITER:
                if len(self.buf) < 2:
                    return
                if self.buf[:2] == b"--":
                    self.state = _EPILOGUE
                    continue
                eol = self.buf.find(b"\r\n")
                if eol < 0:
                    if len(self.buf) > 1024:
                        raise MultipartError("delimiter line without end")
                    return
                if self.buf[:eol].strip(b" \t"):
                    raise MultipartError("text after a delimiter: %r" % bytes(self.buf[:40]))
                del self.buf[:eol + 2]
                self.state = _HEAD
            elif self.state == _HEAD:
                if self.buf.startswith(b"\r\n"):
                    head, skip = b"", 2
                else:
                    end = self.buf.find(b"\r\n\r\n")
                    if end < 0:
                        if len(self.buf) > MAX_PART_HEAD:
                            raise MultipartError("part head larger than %d bytes" % MAX_PART_HEAD)
                        return
                    head, skip = bytes(self.buf[:end + 2]), end + 4
                del self.buf[:skip]
                self.current = Part(head)
                self.parts.append(self.current)
                self.current._open(self.spool_dir)
                self.state = _DATA
            else:  # epilogue: ignored
                self.buf.clear()
                return
