"""Answer bodies as a compressing reverse proxy sends them: Content-Encoding, then chunked framing.

  identity     the body as it is
  gzip         RFC 1952
  deflate      the zlib format of RFC 1950, which is what HTTP means by "deflate"
  deflate-raw  a bare RFC 1951 stream under the same "Content-Encoding: deflate"
               label, as some servers wrongly send it

With chunked framing the encoded bytes go out in chunks of chunk_size bytes
and the answer has no Content-Length.
"""

import zlib

ENCODINGS = ("identity", "gzip", "deflate", "deflate-raw")
_LABEL = {"gzip": "gzip", "deflate": "deflate", "deflate-raw": "deflate"}
_WBITS = {"gzip": 31, "deflate": 15, "deflate-raw": -15}
DEFAULT_CHUNK_SIZE = 4096
LAST_CHUNK = b"0\r\n\r\n"
_FILLER = b" " * 65536


def default_setting():
    return {"encoding": "identity", "chunked": False, "chunk_size": DEFAULT_CHUNK_SIZE}


def check_setting(body):
    """The server-wide setting from a POST /encoding body; ValueError when unusable."""
    unknown = set(body) - {"encoding", "chunked", "chunk_size"}
    if unknown:
        raise ValueError("unknown keys: %s" % ", ".join(sorted(unknown)))
    setting = default_setting()
    setting.update(body)
    if setting["encoding"] not in ENCODINGS:
        raise ValueError("encoding must be one of %s" % ", ".join(ENCODINGS))
    if not isinstance(setting["chunked"], bool):
        raise ValueError("chunked must be true or false")
    size = setting["chunk_size"]
    if isinstance(size, bool) or not isinstance(size, int) or size < 1:
        raise ValueError("chunk_size must be an integer >= 1")
    return setting


class WireBody:
    """One answer body encoded and framed. An endless body is never finished:
    more() gives its next piece, and its compressed stream is flushed after
    every piece so that the client can always decode what has arrived."""

    def __init__(self, body, encoding="identity", chunked=False, chunk_size=DEFAULT_CHUNK_SIZE,
                 endless=False):
        self.encoding = encoding
        self.chunked = chunked
        self.chunk_size = chunk_size
        self.endless = endless
        self._compressor = (None if encoding == "identity" else
                            zlib.compressobj(6, zlib.DEFLATED, _WBITS[encoding]))
        self.encoded = self._encode(body, final=not endless)

    def _encode(self, data, final):
        if self._compressor is None:
            return data
        flush = zlib.Z_FINISH if final else zlib.Z_SYNC_FLUSH
        return self._compressor.compress(data) + self._compressor.flush(flush)

    def _frame(self, data):
        if not self.chunked:
            return data
        size = self.chunk_size
        return b"".join(b"%X\r\n%s\r\n" % (len(data[at:at + size]), data[at:at + size])
                        for at in range(0, len(data), size))

    @property
    def framing(self):
        """How the client learns where the body ends: length, chunked, or close."""
        if self.chunked:
            return "chunked"
        return "close" if self.endless else "length"

    def content_length(self):
        return len(self.encoded) if self.framing == "length" else None

    def headers(self):
        headers = []
        if self.encoding != "identity":
            headers.append(("Content-Encoding", _LABEL[self.encoding]))
        if self.chunked:
            headers.append(("Transfer-Encoding", "chunked"))
        return headers

    def wire(self):
        """The body bytes as sent (of an endless body: its start)."""
        data = self._frame(self.encoded)
        if self.chunked and not self.endless:
            data += LAST_CHUNK
        return data

    def more(self, size):
        """The next `size` blanks of an endless body, encoded and framed."""
        return self._frame(self._encode(_FILLER[:size], final=False))
