#!/usr/bin/python3
"""Checks that each misbehaviour of the local patch server really happens on the wire."""

import http.client
import os
import socket
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import patch_server  # noqa: E402
from patch_server import PatchServer, read_log  # noqa: E402

BODY = bytes((i * 7 + 3) % 256 for i in range(100_000))


def raw_get(port, path, headers=b"", timeout=5.0):
    """(header bytes, body bytes, error or None) read until close, reset or timeout."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    sock.sendall(b"GET " + path.encode() + b" HTTP/1.1\r\nHost: x\r\n" + headers + b"\r\n")
    data, error = b"", None
    try:
        while True:
            piece = sock.recv(65536)
            if not piece:
                break
            data += piece
    except OSError as e:
        error = e
    finally:
        sock.close()
    head, _, body = data.partition(b"\r\n\r\n")
    return head, body, error


class PatchServerModes(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="talvora-server-test-")
        root = os.path.join(self.folder.name, "root")
        os.makedirs(os.path.join(root, "pack", "sub"))
        with open(os.path.join(root, "pack", "sub", "a.bin"), "wb") as f:
            f.write(BODY)
        self.log = os.path.join(self.folder.name, "log")
        self.server = PatchServer(root, self.log).start()

    def tearDown(self):
        self.server.stop()
        self.folder.cleanup()

    def get(self, path):
        conn = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=5)
        conn.request("GET", path)
        return conn, conn.getresponse()

    def test_plain_file_with_length_and_both_separators(self):
        for path in ("/pack/sub/a.bin", "/pack\\sub\\a.bin"):
            conn, r = self.get(path)
            self.assertEqual(r.status, 200)
            self.assertEqual(r.getheader("Content-Length"), str(len(BODY)))
            self.assertEqual(r.read(), BODY)
            conn.close()

    def test_ranges_are_served_unless_the_mode_ignores_them(self):
        for value, status, body in (("bytes=10-19", 206, BODY[10:20]),
                                    ("bytes=99990-", 206, BODY[99990:]),
                                    ("bytes=-5", 206, BODY[-5:]),
                                    ("bytes=200000-", 416, b"")):
            conn = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=5)
            conn.request("GET", "/pack/sub/a.bin", headers={"Range": value})
            r = conn.getresponse()
            self.assertEqual((r.status, r.read()), (status, body), value)
            conn.close()
        conn = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=5)
        conn.request("GET", "/fault/norange/pack/sub/a.bin", headers={"Range": "bytes=10-19"})
        r = conn.getresponse()
        self.assertEqual((r.status, r.read()), (200, BODY))
        conn.close()

    def test_range_faults_and_a_busy_first_answer(self):
        piece, step = patch_server.CUT_PIECE, patch_server.STEP_PIECE
        for path, headers, status, body in (
                ("/fault/rangecut/pack/sub/a.bin", b"", b"200", BODY[:piece]),
                ("/fault/rangecut/pack/sub/a.bin", b"Range: bytes=70000-\r\n", b"206",
                 BODY[70000:]),
                ("/fault/rangewrong/pack/sub/a.bin", b"", b"200", BODY[:50000]),
                ("/fault/rangewrong/pack/sub/a.bin", b"Range: bytes=50000-\r\n", b"206", BODY),
                ("/fault/rangefull/pack/sub/a.bin", b"Range: bytes=50000-\r\n", b"200", BODY),
                ("/fault/busyonce/pack/sub/a.bin", b"", b"503", b"<html><body>busy</body></html>\n"),
                ("/fault/busyonce/pack/sub/a.bin", b"", b"200", BODY),
                ("/fault/onebyte/pack/sub/a.bin", b"", b"200", BODY[:1]),
                ("/fault/onebyte/pack/sub/a.bin", b"Range: bytes=70000-\r\n", b"206",
                 BODY[70000:70001]),
                ("/fault/rangetotal/pack/sub/a.bin", b"", b"200", BODY[:50000]),
                ("/fault/rangetotal/pack/sub/a.bin", b"Range: bytes=50000-\r\n", b"206",
                 BODY[50000:] + bytes(step)),
                ("/fault/rangetotal/pack/sub/a.bin", b"", b"200", BODY),
                ("/fault/rangelonger/pack/sub/a.bin", b"Range: bytes=50000-\r\n", b"206",
                 BODY[50000:] + bytes(step))):
            head, got, _ = raw_get(self.server.port, path, headers + b"Connection: close\r\n")
            self.assertIn(b" " + status + b" ", head.split(b"\r\n")[0], path)
            self.assertEqual(got, body, path + " " + headers.decode())
        head, _, _ = raw_get(self.server.port, "/fault/rangewrong/pack/sub/a.bin",
                             b"Range: bytes=50000-\r\nConnection: close\r\n")
        self.assertIn(b"Content-Range: bytes 0-99999/100000", head)
        for path, content_range in (("rangetotal", b"bytes 50000-%d/%d" % (99999 + step,
                                                                          100000 + step)),
                                    ("rangelonger", b"bytes 50000-99999/100000")):
            head, _, _ = raw_get(self.server.port, "/fault/%s/pack/sub/a.bin" % path,
                                 b"Range: bytes=50000-\r\nConnection: close\r\n")
            self.assertIn(b"Content-Range: " + content_range + b"\r\n", head + b"\r\n", path)

    def test_rangestep_cuts_each_answer_one_step_further(self):
        step = patch_server.STEP_PIECE
        big = bytes(i % 251 for i in range(3 * step + 10))
        with open(os.path.join(self.server.root, "pack", "big.bin"), "wb") as f:
            f.write(big)
        for n, headers in ((1, b""), (2, b"Range: bytes=5-\r\n"), (3, b""), (4, b"")):
            head, got, _ = raw_get(self.server.port, "/fault/rangestep/pack/big.bin",
                                   headers + b"Connection: close\r\n")
            self.assertIn(b" 200 ", head.split(b"\r\n")[0])
            self.assertIn(b"Content-Length: %d" % len(big), head)
            self.assertEqual(got, big[:n * step], n)

    def test_missing_file_and_404_mode_give_an_html_page(self):
        for path in ("/pack/none.bin", "/fault/404/pack/sub/a.bin", "/../etc/passwd"):
            conn, r = self.get(path)
            self.assertEqual(r.status, 404)
            self.assertIn(b"<html>", r.read())
            conn.close()

    def test_empty(self):
        conn, r = self.get("/fault/empty/anything")
        self.assertEqual((r.status, r.getheader("Content-Length"), r.read()), (200, "0", b""))
        conn.close()

    def test_nolength_is_close_delimited(self):
        head, body, error = raw_get(self.server.port, "/fault/nolength/pack/sub/a.bin")
        self.assertIsNone(error)
        self.assertNotIn(b"content-length", head.lower())
        self.assertNotIn(b"transfer-encoding", head.lower())
        self.assertEqual(body, BODY)

    def test_chunked(self):
        conn, r = self.get("/fault/chunked/pack/sub/a.bin")
        self.assertEqual(r.getheader("Transfer-Encoding"), "chunked")
        self.assertIsNone(r.getheader("Content-Length"))
        self.assertEqual(r.read(), BODY)
        conn.close()

    def test_cut_declares_everything_and_sends_half(self):
        head, body, error = raw_get(self.server.port, "/fault/cut/pack/sub/a.bin")
        self.assertIsNone(error)
        self.assertIn(b"Content-Length: %d" % len(BODY), head)
        self.assertEqual(body, BODY[:len(BODY) // 2])

    def test_cutchunked_ends_without_the_last_chunk(self):
        conn, r = self.get("/fault/cutchunked/pack/sub/a.bin")
        with self.assertRaises(http.client.IncompleteRead):
            r.read()
        conn.close()

    def test_reset_ends_with_a_reset(self):
        _, body, error = raw_get(self.server.port, "/fault/reset/pack/sub/a.bin")
        self.assertIsInstance(error, ConnectionResetError)
        self.assertLess(len(body), len(BODY))

    def test_drip_is_slow_but_complete(self):
        start = time.monotonic()
        conn, r = self.get("/fault/drip/pack/sub/a.bin")
        self.assertEqual(r.read(), BODY)
        conn.close()
        pieces = -(-len(BODY) // patch_server.DRIP_PIECE)
        self.assertGreaterEqual(time.monotonic() - start, pieces * patch_server.DRIP_DELAY * 0.9)

    def test_endless_keeps_sending(self):
        conn, r = self.get("/fault/endless/whatever")
        self.assertIsNone(r.getheader("Content-Length"))
        got = 0
        while got < 20 * 1024 * 1024:
            got += len(r.read(1 << 20))
        conn.close()

    def test_stall_goes_silent_and_stop_ends_it(self):
        _, body, error = raw_get(self.server.port, "/fault/stall/pack/sub/a.bin", timeout=1.0)
        self.assertIsInstance(error, socket.timeout)
        self.assertEqual(body, BODY[:len(BODY) // 2])
        sock = socket.create_connection(("127.0.0.1", self.server.port))
        sock.sendall(b"GET /fault/stall/pack/sub/a.bin HTTP/1.1\r\nHost: x\r\n\r\n")
        start = time.monotonic()
        self.server.stop()
        self.assertLess(time.monotonic() - start, 5)
        sock.close()

    def test_longer_sends_more_than_the_file_and_declares_it(self):
        conn, r = self.get("/fault/longer/pack/sub/a.bin")
        body = r.read()
        conn.close()
        self.assertEqual(len(body), len(BODY) + patch_server.LONGER_EXTRA)
        self.assertEqual(r.getheader("Content-Length"), str(len(body)))
        self.assertEqual(body[:len(BODY)], BODY)

    def test_trickle_silent_and_faults_bound_to_a_path(self):
        with open(os.path.join(self.server.root, "pack", "sub", "a.bin.fault"), "w") as f:
            f.write("trickle\n")
        start = time.monotonic()
        _, body, error = raw_get(self.server.port, "/pack/sub/a.bin", timeout=1.0)
        self.assertIsInstance(error, socket.timeout)
        self.assertEqual(body, BODY[:1])  # one byte, then nothing for seconds
        _, body, error = raw_get(self.server.port, "/fault/silent/pack/sub/a.bin", timeout=1.0)
        self.assertIsInstance(error, socket.timeout)
        self.assertEqual(body, b"")
        self.server.faults["pack/sub/a.bin"] = "404"
        conn, r = self.get("/pack/sub/a.bin")
        self.assertEqual(r.status, 404)
        conn.close()
        self.assertLess(time.monotonic() - start, 4)

    def test_log_keeps_method_path_and_headers_in_order(self):
        raw_get(self.server.port, "/pack/sub/a.bin", b"User-Agent: probe\r\nX-B: 2\r\nX-A: 1\r\n")
        entries = read_log(self.log)
        self.assertEqual(len(entries), 1)
        self.assertEqual(entries[0]["method"], "GET")
        self.assertEqual(entries[0]["path"], "/pack/sub/a.bin")
        self.assertEqual(entries[0]["headers"],
                         [["Host", "x"], ["User-Agent", "probe"], ["X-B", "2"], ["X-A", "1"]])


if __name__ == "__main__":
    unittest.main()
