"""Uploaded files on disk: data-dir/<group_id>/<filename>, plus a manifest.

The manifest (MANIFEST in the data directory, one JSON object a line) lets
`--print-stored` list the uploads after the server has exited. A second
upload under the same group and name overwrites the file; the manifest keeps
both uploads and marks the earlier one "replaced".
"""

import json
import os
import threading

MANIFEST = ".standin-uploads.jsonl"


class UnsafeName(ValueError):
    pass


def check_component(text, what):
    """A group id or file name must be one plain path component."""
    if (not text or text in (".", "..") or "/" in text or "\\" in text or "\0" in text
            or text.startswith(".incoming-") or text == MANIFEST):
        raise UnsafeName("%s %r cannot be used as a file name" % (what, text))


def read_manifest(data_dir):
    path = os.path.join(data_dir, MANIFEST)
    entries = []
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                if line.strip():
                    entries.append(json.loads(line))
    return entries


def format_listing(entries):
    if not entries:
        return "No uploads stored."
    lines = ["%d upload(s) stored:" % len(entries)]
    for e in entries:
        lines.append("  %s  %s/%s  %d bytes  sha256 %s  is_encrypt=%s  file_delete_days=%s  user=%s%s" % (
            e.get("time", "?"), e.get("group_id"), e.get("filename"), e.get("size", 0),
            e.get("sha256"), e.get("is_encrypt"), e.get("file_delete_days"), e.get("user"),
            "  (replaced later)" if e.get("replaced") else ""))
    return "\n".join(lines)


class FileStore:
    def __init__(self, data_dir):
        self.data_dir = data_dir
        self._lock = threading.Lock()
        os.makedirs(data_dir, exist_ok=True)
        self._earlier = read_manifest(data_dir)   # from runs before this one
        self._entries = []

    def spool_dir(self):
        return self.data_dir

    def commit(self, spool_path, group_id, filename, info):
        """Move a complete spooled file into place and record it; returns the entry."""
        check_component(group_id, "group_id")
        check_component(filename, "filename")
        group_dir = os.path.join(self.data_dir, group_id)
        target = os.path.join(group_dir, filename)
        rel = os.path.join(group_id, filename)
        with self._lock:
            os.makedirs(group_dir, exist_ok=True)
            os.replace(spool_path, target)
            for old in self._earlier + self._entries:
                if old.get("path") == rel:
                    old["replaced"] = True
            entry = dict(info, group_id=group_id, filename=filename, path=rel, replaced=False)
            self._entries.append(entry)
            self._write_manifest()
        return dict(entry)

    def entries(self):
        with self._lock:
            return [dict(e) for e in self._entries]

    def absolute(self, entry):
        return os.path.join(self.data_dir, entry["path"])

    def reset(self):
        """Remove what this run stored; uploads of earlier runs stay."""
        with self._lock:
            for entry in self._entries:
                path = os.path.join(self.data_dir, entry["path"])
                if os.path.exists(path):
                    os.unlink(path)
                group_dir = os.path.dirname(path)
                try:
                    os.rmdir(group_dir)   # only when empty
                except OSError:
                    pass
            self._entries = []
            self._earlier = [e for e in self._earlier
                             if os.path.exists(os.path.join(self.data_dir, e["path"]))]
            self._write_manifest()

    def _write_manifest(self):
        path = os.path.join(self.data_dir, MANIFEST)
        tmp = path + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            for entry in self._earlier + self._entries:
                f.write(json.dumps(entry, ensure_ascii=False) + "\n")
        os.replace(tmp, path)
