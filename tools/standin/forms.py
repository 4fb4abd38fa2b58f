"""The login form: application/x-www-form-urlencoded bytes in the client's code page.

The client builds the form from narrow Windows text (code page 932, Shift_JIS
with Microsoft's extensions) and percent-encodes each byte of the user name
and password, a blank as "+"; the other values go unencoded. So each value is
unquoted to bytes first and only then decoded. cp932 rather than plain
shift_jis: it is what Windows code page 932 really is (for example 0x8160 is
U+FF5E there, and the NEC row-13 characters exist).
"""

import urllib.parse

CLIENT_ENCODING = "cp932"


class Field:
    def __init__(self, raw_key, raw_value, key_bytes, value_bytes):
        self.raw_key = raw_key          # bytes as on the wire
        self.raw_value = raw_value
        self.key_bytes = key_bytes      # after percent-decoding
        self.value_bytes = value_bytes
        self.decode_errors = False
        self.key = self._decode(key_bytes)
        self.value = self._decode(value_bytes)

    def _decode(self, data):
        try:
            return data.decode(CLIENT_ENCODING)
        except UnicodeDecodeError:
            self.decode_errors = True
            return data.decode(CLIENT_ENCODING, "replace")


def _unquote(raw):
    return urllib.parse.unquote_to_bytes(raw.replace(b"+", b" "))


def decode_form(body):
    """Split and decode a form body; returns the fields in order (duplicates kept)."""
    fields = []
    for piece in body.split(b"&"):
        if not piece:
            continue
        raw_key, _, raw_value = piece.partition(b"=")
        fields.append(Field(raw_key, raw_value, _unquote(raw_key), _unquote(raw_value)))
    return fields


def first(fields, key):
    for field in fields:
        if field.key == key:
            return field.value
    return None
