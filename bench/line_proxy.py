#!/usr/bin/python3
"""A player's line in user space: a TCP proxy between a client and a server on 127.0.0.1.

usage: line_proxy.py --listen PORT --upstream PORT [--delay-ms MS] [--rate-mbit MBIT]
                     [--cut MIN-MAX] [--cut-mode reset|close] [--seed N] [--stats FILE]

The kernel here has no netem, so this is the line. Every byte waits --delay-ms in each direction
(a round trip is twice that); a new connection waits one round trip before the client's first
byte leaves, as a TCP handshake would. All connections share one link per direction, --rate-mbit
wide (none: unlimited): the bytes queue for it in arrival order, and a reader stops taking from its
socket while the link already has --queue-ms of work waiting, so the server feels the line's pace
through TCP's own flow control rather than through an endless buffer. With --cut, each connection
is cut after a random number of server-to-client bytes in MIN-MAX (suffixes K, M), drawn from
--seed and the connection's number: by a reset (the default) or by a normal close.

Prints "ready" once it listens. On SIGTERM or SIGINT it writes its counters as JSON to --stats
(or stdout) and ends: connections opened, bytes carried each way, connections cut.
"""

import argparse
import asyncio
import json
import os
import random
import signal
import socket
import struct
import sys
import time

EOF = object()     # the sender closed its side
CUT = object()     # the planned cut of this connection
BROKEN = object()  # a reset or another error on the way


class Link:
    """One direction of the line: a rate shared by every connection, in arrival order."""

    def __init__(self, rate_bytes, queue_s):
        self.rate = rate_bytes
        self.queue_s = queue_s
        self.free_at = 0.0

    async def send(self, size):
        """Waits for room in the queue; returns when the last of `size` bytes leaves the link."""
        if not self.rate:
            return time.monotonic()
        while True:
            now = time.monotonic()
            backlog = self.free_at - now
            if backlog <= self.queue_s:
                break
            await asyncio.sleep(backlog - self.queue_s)
        self.free_at = max(now, self.free_at) + size / self.rate
        return self.free_at


class Line:
    def __init__(self, args):
        self.args = args
        rate = args.rate_mbit * 1e6 / 8 if args.rate_mbit else 0
        self.down = Link(rate, args.queue_ms / 1000)
        self.up = Link(rate, args.queue_ms / 1000)
        self.delay = args.delay_ms / 1000
        # Small pieces share a narrow link fairly; an unlimited one moves big pieces.
        self.chunk = 16384 if rate else 262144
        self.counters = {"connections": 0, "bytes_to_server": 0, "bytes_to_client": 0, "cuts": 0}

    def cut_point(self, number):
        if not self.args.cut:
            return None
        low, high = self.args.cut
        return random.Random("%d:%d" % (self.args.seed, number)).randint(low, high)

    async def serve(self, client_reader, client_writer):
        accepted = time.monotonic()
        number = self.counters["connections"]
        self.counters["connections"] += 1
        try:
            server_reader, server_writer = await asyncio.open_connection(
                "127.0.0.1", self.args.upstream)
        except OSError:
            abort(client_writer)
            return
        conn = Connection(client_writer, server_writer)
        # The client's first byte leaves once the handshake's round trip is over.
        pipes = {
            asyncio.ensure_future(self.pipe(conn, client_reader, server_writer, self.up,
                                            accepted + 2 * self.delay, "bytes_to_server", None)),
            asyncio.ensure_future(self.pipe(conn, server_reader, client_writer, self.down, 0.0,
                                            "bytes_to_client", self.cut_point(number))),
        }
        try:
            while pipes:
                _, pipes = await asyncio.wait(pipes, return_when=asyncio.FIRST_COMPLETED)
                if conn.closed:
                    break
        finally:
            for task in pipes:
                task.cancel()
            await asyncio.gather(*pipes, return_exceptions=True)
            conn.close()

    async def pipe(self, conn, reader, writer, link, not_before, counter, cut_at):
        """One direction of one connection: what `reader` gives reaches `writer` after the link's
        queue and delay. An end of stream is passed on as a half close; an error, or the planned
        cut, ends both directions."""
        queue = asyncio.Queue(maxsize=64)

        async def take():
            nonlocal cut_at
            try:
                while True:
                    data = await reader.read(self.chunk)
                    if not data:
                        await queue.put((0.0, EOF))
                        return
                    if cut_at is not None and len(data) >= cut_at:
                        data = data[:cut_at]
                    leaves = await link.send(len(data))
                    await queue.put((max(leaves, not_before) + self.delay, data))
                    if cut_at is not None:
                        cut_at -= len(data)
                        if cut_at == 0:
                            await queue.put((0.0, CUT))
                            return
            except OSError:
                await queue.put((0.0, BROKEN))

        async def give():
            while True:
                due, data = await queue.get()
                wait = due - time.monotonic()
                if wait > 0:
                    await asyncio.sleep(wait)
                if data is EOF:
                    try:
                        if not conn.closed and writer.can_write_eof():
                            writer.write_eof()
                    except OSError:
                        conn.cut("reset")
                    return
                if data is CUT:
                    if conn.cut(self.args.cut_mode):
                        self.counters["cuts"] += 1
                    return
                if data is BROKEN or conn.closed:
                    conn.cut("reset")
                    return
                try:
                    writer.write(data)
                    await writer.drain()
                except OSError:
                    conn.cut("reset")
                    return
                self.counters[counter] += len(data)

        taker = asyncio.ensure_future(take())
        try:
            await give()
        finally:
            taker.cancel()
            await asyncio.gather(taker, return_exceptions=True)


class Connection:
    def __init__(self, client_writer, server_writer):
        self.client = client_writer
        self.server = server_writer
        self.closed = False

    def cut(self, mode):
        """Ends both sides at once; True the first time."""
        if self.closed:
            return False
        self.closed = True
        if mode == "reset":
            abort(self.client)
        else:
            self.client.close()
        abort(self.server)
        return True

    def close(self):
        if not self.closed:
            self.closed = True
            self.client.close()
            self.server.close()


def abort(writer):
    """Closes with a reset (SO_LINGER 0), as a line that drops a connection does."""
    sock = writer.get_extra_info("socket")
    if sock is not None:
        try:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass
    writer.transport.abort()


def size_arg(text):
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    text = text.strip().upper()
    if text and text[-1] in units:
        return int(float(text[:-1]) * units[text[-1]])
    return int(text)


def range_arg(text):
    low, _, high = text.partition("-")
    low, high = size_arg(low), size_arg(high or low)
    if not 0 < low <= high:
        raise argparse.ArgumentTypeError("MIN-MAX with 0 < MIN <= MAX")
    return low, high


async def main(args):
    line = Line(args)
    server = await asyncio.start_server(line.serve, "127.0.0.1", args.listen,
                                        reuse_address=True, backlog=256)
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for signum in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(signum, stop.set)
    print("ready", flush=True)
    await stop.wait()
    server.close()
    text = json.dumps(line.counters)
    if args.stats:
        with open(args.stats + ".tmp", "w") as f:
            f.write(text + "\n")
        os.replace(args.stats + ".tmp", args.stats)
    else:
        print(text, flush=True)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--listen", type=int, required=True)
    parser.add_argument("--upstream", type=int, required=True)
    parser.add_argument("--delay-ms", type=float, default=0.0, help="one way")
    parser.add_argument("--rate-mbit", type=float, default=0.0, help="0: unlimited")
    parser.add_argument("--queue-ms", type=float, default=10.0,
                        help="work the link may have waiting before readers pause")
    parser.add_argument("--cut", type=range_arg, default=None)
    parser.add_argument("--cut-mode", choices=("reset", "close"), default="reset")
    parser.add_argument("--seed", type=int, default=23)
    parser.add_argument("--stats")
    sys.exit(asyncio.run(main(parser.parse_args())))
