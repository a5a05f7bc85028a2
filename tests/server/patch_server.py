#!/usr/bin/python3
"""Local patch server for tests: serves one folder on 127.0.0.1 and misbehaves on request.

A path is served as a file with a Content-Length; a request with one byte range ("Range:
bytes=FIRST-LAST", "FIRST-" or "-SUFFIX") gets that range with status 206 and a Content-Range, one
that cannot be satisfied gets 416. A first segment pair /fault/<mode>/ chooses a
misbehaviour for the rest of the path:

  nolength    no Content-Length, body ends when the connection closes
  chunked     chunked transfer encoding
  cut         full Content-Length declared, half the body sent, then a normal close
  cutchunked  chunked, half the body sent, then a close without the last chunk
  reset       full Content-Length declared, half the body sent, then a reset (RST)
  drip        the whole body with Content-Length, in small pieces with a delay between them
  endless     no Content-Length and a body that never ends (the server gives up after a while)
  longer      the file followed by LONGER_EXTRA more bytes, all of them counted in Content-Length
              (a body longer than the manifest or the version file says)
  live        the whole body with Content-Length at about 50 KB/s (a slow but live line)
  trickle     the file's Content-Length, then one byte every TRICKLE_DELAY seconds
  silent      the request is read and never answered (the server gives up after a while)
  stall       headers and half the body, then silence (the server gives up after a while)
  404         an HTML error page with status 404, whatever the path
  empty       status 200 with an empty body
  norange     Range headers are ignored: status 200 and the whole file, as some servers do
  closeafter  the whole body with Content-Length and no word of closing, then the connection is
              closed a moment later (a keep-alive connection the server drops, as load
              balancers and idle timeouts do)
  rangecut    as a plain file (ranges honoured), but at most CUT_PIECE bytes of each body are
              sent before a normal close (a line that drops every connection after a while)
  rangewrong  a request without Range gets half the body and a close; a Range request gets 206
              with the whole file as its range, never the range asked for
  rangefull   a request without Range gets half the body and a close; a Range request gets the
              whole file with status 200
  busyonce    the first request of a path gets 503 with "Retry-After: 1", later ones the file
  rangestep   every answer is the whole file with status 200, Range or not, and the n-th request
              of a path is cut after n * STEP_PIECE bytes (a server that restarts every resume a
              little further on)
  onebyte     ranges honoured, but one byte of each body is sent before a normal close
  rangetotal  the first request of a path without Range gets half the body and a close, later
              ones the file; a Range request gets 206 from the byte asked for, but of a file
              STEP_PIECE bytes longer ("bytes N-(T-1)/T" with another total T)
  rangelonger as rangetotal, but the 206 names the right range and sends STEP_PIECE more bytes
              than it (a body longer than asked for)

A fault can also be bound to a path the client cannot choose (the manifest, the version file, a
signature): PatchServer(root, faults={"pack/launcher_version.txt": "trickle"}), or a file beside it
in the served folder named like it with ".fault" added, holding the mode's name.

A missing file gives a 404 HTML page. Both '/' and '\\' separate folders, as on a Windows host.
Every request is logged as one JSON line: method, path, version and all headers in order.

Standalone use: patch_server.py ROOT [LOG] serves until interrupted and prints its address.
"""

import json
import os
import socket
import struct
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

DRIP_PIECE = 4096
DRIP_DELAY = 0.02
# Every misbehaviour that could go on forever is cut off by the server itself.
ENDLESS_SECONDS = 60.0
STALL_SECONDS = 40.0
DRIP_MAX_SECONDS = 120.0
LONGER_EXTRA = 1 << 20
LIVE_PIECE = 5000
LIVE_DELAY = 0.1
TRICKLE_DELAY = 5.0
TRICKLE_MAX_SECONDS = 120.0
SILENT_SECONDS = 120.0
CHUNK = 5000  # odd size on purpose: chunk boundaries fall inside the client's reads

NOT_FOUND_PAGE = (b"<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>\n"
                  b"<body><h1>Not Found</h1><p>The requested file was not found.</p></body></html>\n")

MODES = ("nolength", "chunked", "cut", "cutchunked", "reset", "drip", "endless", "stall", "404",
         "empty", "closeafter", "longer", "live", "trickle", "silent", "norange", "rangecut",
         "rangewrong", "rangefull", "busyonce", "rangestep", "onebyte", "rangetotal",
         "rangelonger")
CUT_PIECE = 65536
STEP_PIECE = 262144


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TalvoraTestServer/1.0"

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def do_GET(self):
        self.server.patch_server._log_request(self)
        mode, rel = _split_fault(self.path)
        if mode is None:
            mode = self.server.patch_server._bound_fault(rel)
        if mode is not None and mode not in MODES:
            self._send_page(400, b"<html><body>unknown fault mode</body></html>\n")
            return
        if mode == "404":
            self._send_page(404, NOT_FOUND_PAGE)
            return
        if mode == "empty":
            self._send_head(200, {"Content-Length": "0"})
            return
        if mode == "silent":
            self.server.patch_server._stopping.wait(SILENT_SECONDS)
            self._close_after()
            return
        body = self.server.patch_server._read_file(rel) if mode != "endless" else b""
        if body is None:
            self._send_page(404, NOT_FOUND_PAGE)
            return
        getattr(self, "_mode_" + (mode or "plain"))(body)

    def do_HEAD(self):
        self.server.patch_server._log_request(self)
        self._send_page(405, b"")

    do_POST = do_PUT = do_DELETE = do_HEAD

    # --- helpers -------------------------------------------------------------------------------

    def _send_head(self, code, headers):
        self.send_response(code)
        for name, value in headers.items():
            self.send_header(name, value)
        self.end_headers()
        self.wfile.flush()

    def _send_page(self, code, page):
        self._send_head(code, {"Content-Type": "text/html", "Content-Length": str(len(page))})
        self.wfile.write(page)
        self.close_connection = True

    def _close_after(self):
        self.close_connection = True

    def _stopping(self):
        return self.server.patch_server._stopping.is_set()

    # --- modes ---------------------------------------------------------------------------------

    def _mode_plain(self, body):
        wanted = self.headers.get("Range")
        if wanted is None:
            self._mode_norange(body)
            return
        span = _parse_range(wanted, len(body))
        if span is None:
            self._send_head(416, {"Content-Range": "bytes */%d" % len(body), "Content-Length": "0"})
            return
        first, last = span
        self._send_head(206, {"Content-Type": "application/octet-stream",
                              "Content-Range": "bytes %d-%d/%d" % (first, last, len(body)),
                              "Content-Length": str(last - first + 1)})
        self.wfile.write(body[first:last + 1])

    def _mode_norange(self, body):
        self._send_head(200, {"Content-Type": "application/octet-stream",
                              "Content-Length": str(len(body))})
        self.wfile.write(body)

    def _mode_rangecut(self, body, piece=CUT_PIECE):
        wanted = self.headers.get("Range")
        span = _parse_range(wanted, len(body)) if wanted is not None else (0, len(body) - 1)
        if span is None:
            self._send_head(416, {"Content-Range": "bytes */%d" % len(body), "Content-Length": "0"})
            return
        first, last = span
        head = {"Content-Type": "application/octet-stream",
                "Content-Length": str(last - first + 1), "Connection": "close"}
        if wanted is not None:
            head["Content-Range"] = "bytes %d-%d/%d" % (first, last, len(body))
        self._send_head(206 if wanted is not None else 200, head)
        self.wfile.write(body[first:min(last + 1, first + piece)])
        self.wfile.flush()
        self._close_after()

    def _mode_onebyte(self, body):
        self._mode_rangecut(body, 1)

    def _mode_rangestep(self, body):
        cut = self.server.patch_server._count(self.path) * STEP_PIECE
        self._send_head(200, {"Content-Type": "application/octet-stream",
                              "Content-Length": str(len(body)), "Connection": "close"})
        self.wfile.write(body[:cut])
        self.wfile.flush()
        self._close_after()

    def _mode_rangetotal(self, body, total_extra=STEP_PIECE, body_extra=0):
        wanted = self.headers.get("Range")
        if wanted is None:
            if self.server.patch_server._first_time(self.path):
                self._mode_cut(body)
            else:
                self._mode_norange(body)
            return
        first, _ = _parse_range(wanted, len(body))
        padded = body + bytes(STEP_PIECE)
        total = len(body) + total_extra
        self._send_head(206, {"Content-Type": "application/octet-stream",
                              "Content-Range": "bytes %d-%d/%d" % (first, total - 1, total),
                              "Content-Length": str(total - first + body_extra)})
        self.wfile.write(padded[first:total + body_extra])

    def _mode_rangelonger(self, body):
        self._mode_rangetotal(body, 0, STEP_PIECE)

    def _mode_rangewrong(self, body):
        if self.headers.get("Range") is None:
            self._mode_cut(body)
            return
        self._send_head(206, {"Content-Type": "application/octet-stream",
                              "Content-Range": "bytes 0-%d/%d" % (len(body) - 1, len(body)),
                              "Content-Length": str(len(body))})
        self.wfile.write(body)

    def _mode_rangefull(self, body):
        if self.headers.get("Range") is None:
            self._mode_cut(body)
            return
        self._mode_norange(body)

    def _mode_busyonce(self, body):
        if self.server.patch_server._first_time(self.path):
            page = b"<html><body>busy</body></html>\n"
            self._send_head(503, {"Content-Type": "text/html", "Content-Length": str(len(page)),
                                  "Retry-After": "1"})
            self.wfile.write(page)
            return
        self._mode_plain(body)

    def _mode_closeafter(self, body):
        self._send_head(200, {"Content-Type": "application/octet-stream",
                              "Content-Length": str(len(body))})
        self.wfile.write(body)
        self.wfile.flush()
        # Late enough that the client is already sending its next request on this connection.
        time.sleep(0.05)
        self._close_after()

    def _mode_nolength(self, body):
        self._send_head(200, {"Content-Type": "application/octet-stream",
                              "Connection": "close"})
        self.wfile.write(body)
        self._close_after()

    def _write_chunks(self, data):
        for i in range(0, len(data), CHUNK):
            piece = data[i:i + CHUNK]
            self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")

    def _mode_chunked(self, body):
        self._send_head(200, {"Content-Type": "application/octet-stream",
                              "Transfer-Encoding": "chunked"})
        self._write_chunks(body)
        self.wfile.write(b"0\r\n\r\n")

    def _mode_cutchunked(self, body):
        self._send_head(200, {"Content-Type": "application/octet-stream",
                              "Transfer-Encoding": "chunked", "Connection": "close"})
        self._write_chunks(body[:len(body) // 2])
        self.wfile.flush()
        self._close_after()

    def _mode_cut(self, body):
        self._send_head(200, {"Content-Type": "application/octet-stream",
                              "Content-Length": str(len(body)), "Connection": "close"})
        self.wfile.write(body[:len(body) // 2])
        self.wfile.flush()
        self._close_after()

    def _mode_reset(self, body):
        self._send_head(200, {"Content-Type": "application/octet-stream",
                              "Content-Length": str(len(body))})
        self.wfile.write(body[:len(body) // 2])
        self.wfile.flush()
        # Give the client time to read what was sent, then abort: linger 0 turns close into RST.
        time.sleep(0.3)
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()
        self._close_after()

    def _mode_drip(self, body):
        # The connection ends with the body; saying so keeps clients from pooling a dead socket.
        self._send_head(200, {"Content-Type": "application/octet-stream",
                              "Content-Length": str(len(body)), "Connection": "close"})
        deadline = time.monotonic() + DRIP_MAX_SECONDS
        for i in range(0, len(body), DRIP_PIECE):
            if self._stopping() or time.monotonic() > deadline:
                break
            self.wfile.write(body[i:i + DRIP_PIECE])
            self.wfile.flush()
            time.sleep(DRIP_DELAY)
        self._close_after()

    def _mode_endless(self, _body):
        self._send_head(200, {"Content-Type": "application/octet-stream",
                              "Connection": "close"})
        piece = bytes(range(256)) * 256
        deadline = time.monotonic() + ENDLESS_SECONDS
        while not self._stopping() and time.monotonic() < deadline:
            self.wfile.write(piece)
        self._close_after()

    def _mode_longer(self, body):
        extra = bytes(range(256)) * (LONGER_EXTRA // 256)
        self._send_head(200, {"Content-Type": "application/octet-stream",
                              "Content-Length": str(len(body) + len(extra)),
                              "Connection": "close"})
        self.wfile.write(body)
        self.wfile.write(extra)
        self._close_after()

    def _mode_live(self, body):
        self._send_head(200, {"Content-Type": "application/octet-stream",
                              "Content-Length": str(len(body)), "Connection": "close"})
        for i in range(0, len(body), LIVE_PIECE):
            if self._stopping():
                break
            self.wfile.write(body[i:i + LIVE_PIECE])
            self.wfile.flush()
            time.sleep(LIVE_DELAY)
        self._close_after()

    def _mode_trickle(self, body):
        self._send_head(200, {"Content-Type": "application/octet-stream",
                              "Content-Length": str(len(body)), "Connection": "close"})
        deadline = time.monotonic() + TRICKLE_MAX_SECONDS
        for i in range(len(body)):
            self.wfile.write(body[i:i + 1])
            self.wfile.flush()
            if self.server.patch_server._stopping.wait(TRICKLE_DELAY) or \
                    time.monotonic() > deadline:
                break
        self._close_after()

    def _mode_stall(self, body):
        self._send_head(200, {"Content-Type": "application/octet-stream",
                              "Content-Length": str(len(body)), "Connection": "close"})
        self.wfile.write(body[:len(body) // 2])
        self.wfile.flush()
        self.server.patch_server._stopping.wait(STALL_SECONDS)
        self._close_after()


def _parse_range(value, size):
    """(first, last) of a single satisfiable byte range, else None."""
    if not value.startswith("bytes=") or "," in value:
        return None
    first_text, _, last_text = value[len("bytes="):].partition("-")
    try:
        if first_text == "":
            suffix = int(last_text)
            first, last = max(size - suffix, 0), size - 1
        else:
            first = int(first_text)
            last = int(last_text) if last_text else size - 1
    except ValueError:
        return None
    last = min(last, size - 1)
    return (first, last) if 0 <= first <= last else None


def _split_fault(raw_path):
    """('mode' or None, path relative to the root) for a request path."""
    path = urllib.parse.unquote(raw_path.split("?", 1)[0]).replace("\\", "/")
    parts = [p for p in path.split("/") if p]
    if len(parts) >= 2 and parts[0] == "fault":
        return parts[1], "/".join(parts[2:])
    return None, "/".join(parts)


class _QuietServer(ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False

    def handle_error(self, request, client_address):
        # A client that goes away mid-body (cancel, size cap) is part of the tests, not an error.
        if not isinstance(sys.exc_info()[1], OSError):
            super().handle_error(request, client_address)


class PatchServer:
    """The server on a free 127.0.0.1 port, running in a background thread."""

    def __init__(self, root, log_path=None, port=0, faults=None):
        self.root = os.path.realpath(root)
        self.faults = dict(faults or {})
        self.log_path = log_path
        self._log_lock = threading.Lock()
        self._stopping = threading.Event()
        self._httpd = _QuietServer(("127.0.0.1", port), _Handler)
        self._httpd.patch_server = self
        self._thread = None
        self._seen = {}

    def _first_time(self, path):
        return self._count(path) == 1

    def _count(self, path):
        """How many requests for `path` this one makes, counting it."""
        with self._log_lock:
            self._seen[path] = self._seen.get(path, 0) + 1
            return self._seen[path]

    @property
    def port(self):
        return self._httpd.server_address[1]

    @property
    def url(self):
        return "http://127.0.0.1:%d" % self.port

    def start(self):
        self._thread = threading.Thread(target=self._httpd.serve_forever,
                                        kwargs={"poll_interval": 0.1}, daemon=True)
        self._thread.start()
        return self

    def stop(self):
        # Under the log lock, so that no handler still running writes the log after we return
        # (the caller may be removing the folder it is in).
        with self._log_lock:
            if self._stopping.is_set():
                return
            self._stopping.set()
        self._httpd.shutdown()
        self._httpd.server_close()
        self._thread.join()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def _bound_fault(self, rel):
        if rel in self.faults:
            return self.faults[rel]
        marker = self._read_file(rel + ".fault")
        return marker.decode("ascii", "replace").strip() if marker is not None else None

    def _read_file(self, rel):
        full = os.path.realpath(os.path.join(self.root, rel))
        if full != self.root and not full.startswith(self.root + os.sep):
            return None
        try:
            with open(full, "rb") as f:
                return f.read()
        except OSError:
            return None

    def _log_request(self, handler):
        if not self.log_path:
            return
        entry = {"method": handler.command, "path": handler.path,
                 "version": handler.request_version,
                 "headers": [[name, value] for name, value in handler.headers.items()]}
        with self._log_lock:
            if self._stopping.is_set():
                return
            with open(self.log_path, "a", encoding="utf-8") as log:
                log.write(json.dumps(entry) + "\n")


def read_log(log_path):
    """Every logged request, oldest first."""
    try:
        with open(log_path, encoding="utf-8") as log:
            return [json.loads(line) for line in log if line.strip()]
    except FileNotFoundError:
        return []


def main(argv):
    if len(argv) < 2:
        print("usage: patch_server.py ROOT [LOG]", file=sys.stderr)
        return 2
    server = PatchServer(argv[1], argv[2] if len(argv) > 2 else None).start()
    print(server.url, flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass
    finally:
        server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
