#!/usr/bin/python3
"""The launcher over a player's line, against a plain script over the same line, in one run.

usage: line_bench.py --port P --publish TALVORA_PUBLISH --work DIR --shots DIR --runs N
                     --build NAME=Talvora.exe [--build ...]

Started by bench/line inside its Wine session (Xvfb, a persistent wineserver). The builds were
made with TALVORA_PATCH_SERVER http://127.0.0.1:P, so whatever answers on P is their patch
server: the line (bench/line_proxy.py) in front of nginx, or nginx itself for the bare loopback.
Build names: default, if4, if8 and retry (see bench/line).
"""

import argparse
import fcntl
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
from desktop import free_port  # noqa: E402
import line_gamedata  # noqa: E402
from line_figures import fmt_ratio, goal, log, machine_load, ratio, summary  # noqa: E402
from line_install import (BIG_BYTES, FILES, KINDS, MIB, STALE, STALE_BYTES,  # noqa: E402
                          TOTAL_BYTES, Runs, generate, publish, serve_manifest, up_to_date)
from line_script import run_script  # noqa: E402
from line_servers import Proxy, port_free, start_nginx  # noqa: E402
from line_window import Result, Screen, run_launcher  # noqa: E402

# A player's line: a 50 ms round trip and 100 Mbit/s shared by every connection.
DELAY_MS = 25
RATE_MBIT = 100
CUT = "2M-8M"


class Bench:
    LABELS = {"default": "default build", "if4": "4 in flight", "if8": "8 in flight",
              "retry": "retries (10)"}

    def __init__(self, args, builds, by_kind, manifests):
        self.args = args
        self.builds = builds
        self.by_kind = by_kind
        self.manifests = manifests
        self.work = args.work
        self.root = os.path.join(self.work, "srv")
        self.tmpl = os.path.join(self.work, "tmpl")
        self.runs = Runs(self.work)
        os.makedirs(self.runs.root)
        self.upstream = free_port()
        self.nginx = None
        self.proxy = None
        self.screen = None

    def close(self):
        if self.proxy is not None:
            self.proxy.stop()
        if self.nginx is not None:
            self.nginx.stop()
        if self.screen is not None:
            self.screen.close()

    def line(self, delay_ms=DELAY_MS, rate_mbit=RATE_MBIT, cut=None):
        self.proxy = Proxy(self.args.port, self.upstream, self.work, delay_ms, rate_mbit, cut)
        return self.proxy

    def line_stats(self):
        stats, self.proxy = self.proxy.stop(), None
        return stats

    def launcher(self, build, state, entries, until, timeout, name, line=None):
        """One timed run of a build in a fresh copy of tmpl/`state`, through a new line made with
        the `line` arguments, or on the bare loopback when it is None."""
        folder = self.runs.fresh(os.path.join(self.tmpl, state), self.builds[build])
        try:
            proxy = self.line(*line) if line is not None else None
            return run_launcher(self.screen, self.builds[build], folder, entries, until, timeout,
                                self.args.shots, name, proxy)
        finally:
            self.proxy = None  # run_launcher stopped it
            self.runs.done(folder)

    def check_the_line(self):
        """The line must not be the bottleneck: curl through it unlimited against curl direct."""
        def speed(port):
            out = subprocess.run(["curl", "-sS", "-o", "/dev/null", "-w", "%{speed_download}",
                                  "http://127.0.0.1:%d/pack/big/big.pak" % port],
                                 capture_output=True, text=True, check=True).stdout
            return float(out) / MIB

        direct = max(speed(self.upstream) for _ in range(2))
        through = []
        for _ in range(2):
            self.line(0, 0)
            through.append(speed(self.args.port))
            self.line_stats()
        need = RATE_MBIT * 1e6 / 8 / MIB
        log("the line (bench/line_proxy.py): curl of %d MiB through it, no delay and no cap, "
            "%.0f MiB/s; direct %.0f MiB/s; %.1fx the %.1f MiB/s of %d Mbit/s" % (
                BIG_BYTES // MIB, max(through), direct, max(through) / need, need, RATE_MBIT))

    def row1(self):
        base, entries = serve_manifest(self.work, self.manifests, "client")
        stale_bytes = sum(self.by_kind.values())
        floor = stale_bytes * 8 / (RATE_MBIT * 1e6)
        log("")
        log("1. stale installation over the line (%d ms round trip, %d Mbit/s shared): %d files, "
            "%.1f MiB; %d stale, %.1f MiB" % (2 * DELAY_MS, RATE_MBIT, len(entries),
                                              sum(e[1] for e in entries) / MIB, STALE,
                                              stale_bytes / MIB))
        log("  floor (the stale bytes at %d Mbit/s): %.2f s" % (RATE_MBIT, floor))
        # One round after the other, each with every contender, so that the machine's load
        # drifting over the minutes weighs on all of them alike.
        builds = ("default", "if4", "if8")
        script, results = [], {build: [] for build in builds}
        for i in range(self.args.runs):
            folder = self.runs.fresh(os.path.join(self.tmpl, "stale"))
            self.line()
            try:
                seconds, failure = run_script(folder, base, entries), None
            except subprocess.CalledProcessError as e:
                seconds, failure = None, "the script failed: %s" % e
            stats = self.line_stats()
            script.append(Result(seconds, failure or up_to_date(folder, entries), stats))
            self.runs.done(folder)
            for build in builds:
                results[build].append(self.launcher(build, "stale", entries, "play", 300,
                                                    "row1-%s-%d" % (build, i), ()))
        script_s, text = summary(script)
        log("  script: sha256sum over the installation, then curl --parallel --parallel-max 8: "
            "%s; %s the floor; %d connections" % (text, fmt_ratio(ratio(script_s, floor)),
                                                  script[0].line.get("connections", 0)))
        best = {}
        for build in builds:
            best[build], text = summary(results[build])
            good = [r for r in results[build] if r.ok]
            extra = ""
            if good:
                extra = "; window after %.2f s; %d connections, %.1f MiB carried" % (
                    statistics.median(r.window for r in good), good[0].line.get("connections", 0),
                    good[0].line.get("bytes_to_client", 0) / MIB)
            log("  launcher, %s: %s; %s the script, %s the floor%s" % (
                self.LABELS[build], text, fmt_ratio(ratio(best[build], script_s)),
                fmt_ratio(ratio(best[build], floor)), extra))
        r8 = ratio(best["if8"], script_s)
        log(goal("8 in flight within 1.4x of the script: %s" % fmt_ratio(r8),
                 r8 is not None and r8 <= 1.4))
        r3 = ratio(best["default"], best["if8"])
        log(goal("8 in flight at least 3x faster than the default build: %s" % fmt_ratio(r3),
                 r3 is not None and r3 >= 3))

    def row2(self):
        _, entries = serve_manifest(self.work, self.manifests, "big")
        log("")
        log("2. one %d MiB file over the line, every connection cut (reset) after a random %s "
            "(seeded); floor %.2f s; one run each, timed to the end of the update run" % (
                BIG_BYTES // MIB, CUT, BIG_BYTES * 8 / (RATE_MBIT * 1e6)))
        results = {}
        for build in ("default", "retry"):
            result = self.launcher(build, "big", entries, "end", 600, "row2-" + build,
                                   (DELAY_MS, RATE_MBIT, CUT))
            results[build] = result
            carried = result.line.get("bytes_to_client", 0)
            log("  launcher, %s: %s; ended after %s; %.1f MiB carried to it (%.3f of the file) "
                "over %d connections, %d cut" % (
                    self.LABELS[build], "up to date" if result.ok else "FAILED: " + result.failure,
                    "n/a" if result.seconds is None else "%.2f s" % result.seconds,
                    carried / MIB, carried / BIG_BYTES, result.line.get("connections", 0),
                    result.line.get("cuts", 0)))
        retry = results["retry"]
        share = retry.line.get("bytes_to_client", 0) / BIG_BYTES
        log(goal("the build with retries up to date in one run, at most 1.1x the file's bytes: "
                 "%s, %.3f" % ("up to date" if retry.ok else "failed", share),
                 retry.ok and share <= 1.1))
        log(goal("the default build fails as before", not results["default"].ok))

    def row3(self):
        rounds = self.args.runs + 2  # short runs, where one busy moment weighs more
        log("")
        log("3. bare loopback (nginx itself on the launchers' port): the cost of a fetched file "
            "beyond its bytes =")
        log("   ((stale - up to date) - (the same stale bytes in 3 files - those up to date)) / "
            "%d, from the best of %d runs each" % (STALE - 3, rounds))
        builds = ("default", "if8")
        states = (("client", "stale"), ("client", "uptodate"), ("few", "few-stale"),
                  ("few", "few-uptodate"))
        results = {(build, state): [] for build in builds for _, state in states}
        for i in range(rounds):
            for pack, state in states:
                _, entries = serve_manifest(self.work, self.manifests, pack)
                for build in builds:
                    results[build, state].append(self.launcher(
                        build, state, entries, "play", 120, "row3-%s-%s-%d" % (build, state, i)))
        cost = {}
        for build in builds:
            times, texts = {}, []
            for _, state in states:
                times[state], text = summary(results[build, state])
                texts.append("%s %s" % (state, text))
            log("  launcher, %s: %s" % (self.LABELS[build], "; ".join(texts)))
            if None in times.values():
                cost[build] = None
                log("    cost per fetched file: n/a (a run failed)")
                continue
            spread = times["stale"] - times["uptodate"]
            bytes_cost = times["few-stale"] - times["few-uptodate"]
            cost[build] = (spread - bytes_cost) / (STALE - 3)
            log("    stale - up to date %.2f s; the same bytes in 3 files %.2f s; per fetched file "
                "%.1f ms" % (spread, bytes_cost, cost[build] * 1000))
        d, e = cost["default"], cost["if8"]
        log(goal("at most 5 ms a file in the default build: %s" % (
            "n/a" if d is None else "%.1f ms" % (d * 1000)), d is not None and d <= 0.005))
        met = d is not None and e is not None and (e <= 0 < d or 0 < e <= d / 2)
        log(goal("8 in flight at least 2x cheaper a file than the default build: %s" % (
            "n/a" if d is None or e is None else "%.1f ms against %.1f ms" % (
                e * 1000, d * 1000)), met))

    def row4(self):
        log("")
        log("4. real game data from Debian's archive (%s) over the line, an empty installation, "
            "8 in flight: the pack published raw and with --compress" % ", ".join(
                line_gamedata.PACKAGES))
        info, why = line_gamedata.prepare(self.args.publish, self.work, self.args.port)
        if info is None:
            log("  skipped: %s" % why)
            return
        self.manifests.update(info["manifests"])
        raw, wire = info["raw_bytes"], info["z_wire"]
        rate = RATE_MBIT * 1e6 / 8
        log("  %d files, %.1f MiB raw; with --compress %d copies, %.1f MiB on the wire (%.3f of "
            "raw); publisher: %s" % (info["files"], raw / MIB, info["copies"], wire / MIB,
                                    wire / raw, info["gd-z-summary"]))
        log("  floors at %d Mbit/s: raw %.2f s, compressed %.2f s" % (RATE_MBIT, raw / rate,
                                                                       wire / rate))
        runs = {"script": [], "raw": [], "z": [], "start": []}
        for i in range(self.args.runs):
            runs["start"].append(self.timed("one", "one-uptodate", "row4-start-%d" % i))
            runs["script"].append(self.scripted("gd-raw"))
            runs["raw"].append(self.timed("gd-raw", "empty", "row4-raw-%d" % i))
            runs["z"].append(self.timed("gd-z", "empty", "row4-z-%d" % i))
        self.report4(runs, raw / rate, wire / rate, wire, info)

    def timed(self, pack, state, name):
        _, entries = serve_manifest(self.work, self.manifests, pack)
        return self.launcher("if8", state, entries, "play", 600, name, ())

    def scripted(self, pack):
        base, entries = serve_manifest(self.work, self.manifests, pack)
        folder = self.runs.fresh(os.path.join(self.tmpl, "empty"))
        self.line()
        try:
            seconds, failure = run_script(folder, base, entries), None
        except subprocess.CalledProcessError as e:
            seconds, failure = None, "the script failed: %s" % e
        stats = self.line_stats()
        result = Result(seconds, failure or up_to_date(folder, entries), stats)
        self.runs.done(folder)
        return result

    def report4(self, runs, raw_floor, z_floor, wire, info):
        best = {}
        for key, label in (("start", "launcher's start (one file up to date)"),
                           ("script", "script on the raw pack"), ("raw", "launcher, raw pack"),
                           ("z", "launcher, compressed pack")):
            best[key], text = summary(runs[key])
            carried = runs[key][0].line.get("bytes_to_client", 0) if runs[key] else 0
            log("  %s: %s; %.1f MiB carried" % (label, text, carried / MIB))
        fetched = [r.line.get("bytes_to_client", 0) for r in runs["z"] if r.ok]
        share = max(fetched) / wire if fetched else None
        log(goal("bytes fetched for the compressed pack at most 1.02x its copies and raw files: "
                 "%s" % fmt_ratio(share), share is not None and share <= 1.02))
        bound = None if best["start"] is None else 1.1 * z_floor + best["start"]
        log(goal("compressed pack to PLAY within 1.1x its floor plus the start (%s): %s" % (
            "n/a" if bound is None else "%.2f s" % bound,
            "n/a" if best["z"] is None else "%.2f s" % best["z"]),
            bound is not None and best["z"] is not None and best["z"] <= bound))
        log("  against the raw pack: %s; against the script on the raw pack: %s" % (
            fmt_ratio(ratio(best["z"], best["raw"])), fmt_ratio(ratio(best["z"], best["script"]))))
        log(goal("random bytes (%d files, %d MiB) with --compress: no copies, the lines of a "
                 "raw publication: %d copies, %s" % (
                     line_gamedata.RANDOM_FILES, line_gamedata.RANDOM_BYTES // MIB,
                     info["rnd_copies"], "same lines" if info["rnd_same"] else "OTHER lines"),
                 info["rnd_copies"] == 0 and info["rnd_same"]))

    def run(self):
        rows = set(self.args.rows.split(","))
        self.nginx = start_nginx(self.root, self.upstream, self.work)
        self.screen = Screen()
        self.check_the_line()
        log("launcher timing: the real window under Xvfb; the clock starts when wine is started "
            "(the fresh copy of the installation is made before), stops when PLAY turns orange; "
            "every run is then checked file by file against the manifest")
        for row, run in (("1", self.row1), ("2", self.row2), ("4", self.row4)):
            if row in rows:
                run()
        if "3" in rows:
            # The bare loopback: nginx itself on the launchers' port.
            self.nginx.stop()
            self.nginx = start_nginx(self.root, self.args.port, self.work)
            self.row3()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--publish", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--rows", default="1,2,3,4")
    parser.add_argument("--build", action="append", required=True)
    args = parser.parse_args()
    builds = dict(b.split("=", 1) for b in args.build)
    shutil.rmtree(args.shots, ignore_errors=True)
    os.makedirs(args.shots)

    # The builds talk to the port built into them: one run of this benchmark at a time.
    lock = open(os.path.join(tempfile.gettempdir(), "talvora-bench-line-%d.lock" % args.port), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        log("waiting for another run of bench/line to end")
        fcntl.flock(lock, fcntl.LOCK_EX)
    if not port_free(args.port):
        raise SystemExit("port %d, built into the launchers, is taken" % args.port)

    started = time.monotonic()
    log("at the start: " + machine_load())
    log("generating the installations (%d files, %d MiB, %d of them, %d MiB, stale; one %d MiB "
        "file)" % (FILES, TOTAL_BYTES // MIB, STALE, STALE_BYTES // MIB, BIG_BYTES // MIB))
    by_kind = generate(args.work)
    manifests = publish(args.publish, args.work, args.port)
    log("  %.0f s; stale: %s" % (time.monotonic() - started, ", ".join(
        "%d %s (%.1f MiB)" % (KINDS[k], k, v / MIB) for k, v in by_kind.items())))
    bench = Bench(args, builds, by_kind, manifests)
    try:
        bench.run()
    finally:
        bench.close()
    log("")
    log("bench/line ran for %.0f s; at the end: %s" % (time.monotonic() - started, machine_load()))


if __name__ == "__main__":
    # A stop from outside still runs the clean-up above.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    main()
