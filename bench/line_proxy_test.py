#!/usr/bin/python3
"""Checks on the wire that bench/line_proxy.py is the line it claims to be: bytes intact both
ways, the round trips it adds, one rate for all connections, seeded cuts, and its counters.
Times are only checked from below: a loaded machine makes everything later, never sooner."""

import json
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from functools import lru_cache

PROXY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "line_proxy.py")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Upstream:
    """A server that reads a request line "SIZE\\n" and answers SIZE bytes, as often as asked on
    one connection; a request "echo\\n" echoes everything until the client's half close."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    @staticmethod
    @lru_cache(maxsize=8)
    def pattern(size):
        return bytes(i * 31 % 251 for i in range(size))

    def accept(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(conn,), daemon=True).start()

    def serve(self, conn):
        with conn, conn.makefile("rb") as reader:
            try:
                for line in reader:
                    if line == b"echo\n":
                        while True:
                            data = reader.read1(65536)
                            if not data:
                                conn.shutdown(socket.SHUT_WR)
                                return
                            conn.sendall(data)
                    conn.sendall(self.pattern(int(line)))
            except OSError:
                pass

    def close(self):
        self.sock.close()


class Line:
    """The proxy in front of `upstream`, stopped when `test` ends, however it ends."""

    def __init__(self, test, upstream, *options):
        self.port = free_port()
        self.folder = tempfile.TemporaryDirectory(prefix="talvora-line-test-")
        self.stats = os.path.join(self.folder.name, "stats.json")
        self.process = subprocess.Popen(
            [sys.executable, PROXY, "--listen", str(self.port), "--upstream", str(upstream.port),
             "--stats", self.stats] + list(options), stdout=subprocess.PIPE, text=True)
        test.addCleanup(self.kill)
        assert self.process.stdout.readline().strip() == "ready"

    def connect(self):
        return socket.create_connection(("127.0.0.1", self.port), timeout=10)

    def stop(self):
        """The counters it writes when it is stopped."""
        self.process.terminate()
        self.process.wait(timeout=10)
        self.process.stdout.close()
        with open(self.stats) as f:
            return json.load(f)

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()
        self.folder.cleanup()


def read_exactly(sock, size):
    data = b""
    while len(data) < size:
        piece = sock.recv(size - len(data))
        if not piece:
            break
        data += piece
    return data


def read_until_end(sock):
    """(bytes, how it ended: "eof" or "reset")."""
    data = b""
    while True:
        try:
            piece = sock.recv(65536)
        except ConnectionResetError:
            return data, "reset"
        if not piece:
            return data, "eof"
        data += piece


class LineProxy(unittest.TestCase):
    def setUp(self):
        self.upstream = Upstream()

    def tearDown(self):
        self.upstream.close()

    def test_bytes_pass_intact_both_ways_with_half_close_and_are_counted(self):
        line = Line(self, self.upstream)
        sent = os.urandom(3 << 20)
        with line.connect() as sock:
            sock.sendall(b"1000\n")
            self.assertEqual(read_exactly(sock, 1000), Upstream.pattern(1000))
            sock.sendall(b"echo\n")
            writer = threading.Thread(target=lambda: (sock.sendall(sent),
                                                      sock.shutdown(socket.SHUT_WR)))
            writer.start()
            echoed, end = read_until_end(sock)
            writer.join()
        self.assertEqual((echoed, end), (sent, "eof"))
        time.sleep(0.2)  # the proxy closes its side of the connection after both ends
        counters = line.stop()
        self.assertEqual(counters, {"connections": 1, "bytes_to_server": 5 + 5 + len(sent),
                                    "bytes_to_client": 1000 + len(sent), "cuts": 0})

    def test_delay_adds_a_handshake_and_a_round_trip_per_request(self):
        line = Line(self, self.upstream, "--delay-ms", "40")
        started = time.monotonic()
        with line.connect() as sock:
            sock.sendall(b"10\n")
            self.assertEqual(read_exactly(sock, 10), Upstream.pattern(10))
            first = time.monotonic() - started
            asked = time.monotonic()
            sock.sendall(b"10\n")
            read_exactly(sock, 10)
            again = time.monotonic() - asked
        line.stop()
        # A new connection: the handshake's round trip, then the request's.
        self.assertGreaterEqual(first, 4 * 0.040)
        self.assertGreaterEqual(again, 2 * 0.040)
        self.assertLess(again, first)

    def test_one_rate_for_all_connections(self):
        # 40 Mbit/s is 5 MB/s: two connections of 1 MB each need 0.4 s together, where a rate
        # per connection would let both finish in 0.2 s.
        line = Line(self, self.upstream, "--rate-mbit", "40")
        size = 1_000_000
        got = []

        def fetch():
            with line.connect() as sock:
                sock.sendall(b"%d\n" % size)
                got.append(read_exactly(sock, size))

        Upstream.pattern(size)  # made before the clock starts
        started = time.monotonic()
        threads = [threading.Thread(target=fetch) for _ in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        seconds = time.monotonic() - started
        line.stop()
        self.assertEqual(got, [Upstream.pattern(size)] * 2)
        self.assertGreaterEqual(seconds, 2 * size / 5e6 * 0.95)

    def test_cuts_after_a_seeded_count_by_reset_or_close(self):
        def cut_once(mode, seed):
            line = Line(self, self.upstream, "--cut", "100K-200K", "--cut-mode", mode,
                        "--seed", seed)
            with line.connect() as sock:
                sock.sendall(b"%d\n" % (1 << 20))
                data, end = read_until_end(sock)
            time.sleep(0.1)
            return data, end, line.stop()

        data, end, counters = cut_once("reset", "7")
        self.assertEqual(end, "reset")
        self.assertTrue(100 << 10 <= counters["bytes_to_client"] <= 200 << 10, counters)
        self.assertEqual(counters["cuts"], 1)
        # What arrived is the start of the body; a reset may drop what was still unread.
        self.assertEqual(data, Upstream.pattern(len(data)))

        data, end, again = cut_once("close", "7")
        self.assertEqual(end, "eof")
        self.assertEqual(again["bytes_to_client"], counters["bytes_to_client"])  # same seed
        self.assertEqual(data, Upstream.pattern(again["bytes_to_client"]))

        _, _, other = cut_once("close", "8")
        self.assertNotEqual(other["bytes_to_client"], counters["bytes_to_client"])


if __name__ == "__main__":
    unittest.main()
