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
import hashlib
import json
import os
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
import desktop  # noqa: E402

PYTHON = "/usr/bin/python3"
NGINX = "/usr/sbin/nginx"
MIB = 1 << 20

# The line of the issue: a 50 ms round trip and 100 Mbit/s shared by every connection.
DELAY_MS = 25
RATE_MBIT = 100
CUT = "2M-8M"

# The stale installation: 1,000 files, 378 MiB; 200 of them, 70 MiB, to fetch.
FILES, STALE = 1000, 200
TOTAL_BYTES, STALE_BYTES = 378 * MIB, 70 * MIB
KINDS = {"changed": 80, "resized": 60, "missing": 60}
BIG_BYTES = 256 * MIB

# Client coordinates fixed by the layout at 900 x 560 (as in tests/e2e).
PLAY_BODY = (668, 418)
SETTINGS = (750, 455)
GAME_CONFIG_BODY = (66, 268)  # orange on the settings page only
BACK = (140, 519)
FULL_CHECK_BORDER = (80, 328, 260, 4)  # x, y, w, h: the top edge of "Teljes ellenőrzés"
TITLE_AREA = (450, 60)


def log(*args):
    print(*args, flush=True)


# ---------------------------------------------------------------------------------------------
# The installations


def lognormal_sizes(rng, count, total):
    weights = [rng.lognormvariate(0, 1.1) for _ in range(count)]
    scale = total / sum(weights)
    sizes = [max(1, int(w * scale)) for w in weights]
    sizes[sizes.index(max(sizes))] += total - sum(sizes)
    return sizes


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def old_copy(rng, kind, new):
    """What a stale installation holds instead of `new`: None when the file is missing."""
    if kind == "missing":
        return None
    if kind == "changed":  # same size, a few bytes differ
        old = bytearray(new)
        for _ in range(4):
            at = rng.randrange(len(old))
            old[at] ^= 0xA5
        return bytes(old)
    # resized: an older, shorter or longer build of the file
    if rng.random() < 0.5 and len(new) > 1:
        return new[: len(new) * 3 // 4]
    return new + rng.randbytes(max(1, len(new) // 5))


def generate(work):
    """Deterministic: the same folders, sizes, states and bytes on every run."""
    rng = random.Random(23)
    srv = os.path.join(work, "srv", "pack")
    tmpl = os.path.join(work, "tmpl")
    stale_sizes = lognormal_sizes(rng, STALE, STALE_BYTES)
    fresh_sizes = lognormal_sizes(rng, FILES - STALE, TOTAL_BYTES - STALE_BYTES)
    kinds = [k for k, n in KINDS.items() for _ in range(n)]
    rng.shuffle(kinds)
    slots = [("fresh", s) for s in fresh_sizes] + list(zip(kinds, stale_sizes))
    rng.shuffle(slots)
    tops = ["data", "maps", "sound", "textures", "video"]
    by_kind = {k: 0 for k in KINDS}
    for i, (kind, size) in enumerate(slots):
        parts = [tops[i % 5], "set%d" % ((i // 5) % 6)]
        if i % 3:
            parts.append("part%d" % ((i // 30) % 4))
        rel = "/".join(parts + ["file%04d.pak" % i])
        new = rng.randbytes(size)
        server_file = os.path.join(srv, "client", rel)
        write(server_file, new)
        for state in ("uptodate", "stale"):
            os.makedirs(os.path.dirname(os.path.join(tmpl, state, rel)), exist_ok=True)
        os.link(server_file, os.path.join(tmpl, "uptodate", rel))
        if kind == "fresh":
            os.link(server_file, os.path.join(tmpl, "stale", rel))
            continue
        by_kind[kind] += size
        old = old_copy(rng, kind, new)
        if old is not None:
            write(os.path.join(tmpl, "stale", rel), old)

    # The same stale bytes in one file per kind: what those bytes cost without 197 more files.
    for kind, size in by_kind.items():
        new = rng.randbytes(size)
        server_file = os.path.join(srv, "few", kind + ".pak")
        write(server_file, new)
        os.makedirs(os.path.join(tmpl, "few-uptodate"), exist_ok=True)
        os.link(server_file, os.path.join(tmpl, "few-uptodate", kind + ".pak"))
        old = old_copy(rng, kind, new)
        if old is not None:
            write(os.path.join(tmpl, "few-stale", kind + ".pak"), old)
    os.makedirs(os.path.join(tmpl, "few-stale"), exist_ok=True)

    # One large file, not yet installed.
    os.makedirs(os.path.join(srv, "big"))
    with open(os.path.join(srv, "big", "big.pak"), "wb") as f:
        for at in range(0, BIG_BYTES, 16 * MIB):
            f.write(rng.randbytes(min(16 * MIB, BIG_BYTES - at)))
    os.makedirs(os.path.join(tmpl, "big"))

    with open(os.path.join(srv, "launcher_version.txt"), "w") as f:
        f.write("VERSION\t1\nSHA256\t" + "0" * 64 + "\nURL\thttp://127.0.0.1:9/x.exe\n")
    return by_kind


def publish(tool, work, port):
    """One manifest per pack, whole files only (no block indexes), as the launcher reads it."""
    manifests = {}
    for pack in ("client", "few", "big"):
        out = os.path.join(work, "manifests", pack + ".txt")
        os.makedirs(os.path.dirname(out), exist_ok=True)
        subprocess.run([tool, "manifest", os.path.join(work, "srv", "pack", pack), "--base",
                        "http://127.0.0.1:%d/pack/%s/" % (port, pack), "--version", "bench",
                        "--blocks-min", "0", "--out", out], check=True, stdout=subprocess.DEVNULL)
        manifests[pack] = out
    return manifests


def read_manifest(path):
    base, entries = None, []
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            fields = line.split("\t")
            if fields[0] == "BASE":
                base = fields[1]
            elif len(fields) >= 3 and fields[0] not in ("VERSION", "EXPIRES"):
                entries.append((fields[0], int(fields[1]), fields[2]))
    return base, entries


def serve_manifest(work, manifests, pack):
    target = os.path.join(work, "srv", "pack", "patch_manifest.txt")
    shutil.copyfile(manifests[pack], target + ".tmp")
    os.replace(target + ".tmp", target)
    return read_manifest(manifests[pack])


def sha256_file(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            block = f.read(4 * MIB)
            if not block:
                return h.hexdigest()
            h.update(block)


def up_to_date(folder, entries):
    """None when every listed file has its digest and no staging file is left; else why not."""
    wrong = [rel for rel, size, digest in entries
             if not os.path.isfile(os.path.join(folder, rel))
             or os.path.getsize(os.path.join(folder, rel)) != size
             or sha256_file(os.path.join(folder, rel)) != digest]
    if wrong:
        return "%d of %d files not up to date (first: %s)" % (len(wrong), len(entries), wrong[0])
    left = [n for _, _, names in os.walk(folder) for n in names if n.endswith((".part", ".new"))]
    if left:
        return "left behind: %s" % left[:3]
    return None


class Runs:
    """Fresh copies of a template installation, made before a clock starts."""

    def __init__(self, work):
        self.root = os.path.join(work, "runs")
        self.count = 0

    def fresh(self, template, exe=None):
        self.count += 1
        # A new folder every time: a launcher that was just ended holds nothing of it.
        folder = os.path.join(self.root, "r%03d" % self.count)
        subprocess.run(["cp", "-r", template, folder], check=True)
        if exe:
            shutil.copy(exe, os.path.join(folder, "Talvora.exe"))
        os.sync()  # an old installation has long been on the disk: the run must not write it out
        return folder

    @staticmethod
    def done(folder):
        shutil.rmtree(folder, ignore_errors=True)


# ---------------------------------------------------------------------------------------------
# The servers


def port_free(port):
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_listening(port, process, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and process.poll() is None:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return True
        except OSError:
            time.sleep(0.05)
    return False


class Nginx:
    def __init__(self, root, port, work):
        self.work = tempfile.mkdtemp(prefix="nginx-", dir=work)
        os.chmod(self.work, 0o755)
        self.port = port
        conf = os.path.join(self.work, "nginx.conf")
        with open(os.path.join(HERE, "line-nginx.conf.in")) as f:
            text = f.read()
        with open(conf, "w") as f:
            f.write(text.replace("@WORK@", self.work).replace("@ROOT@", root)
                    .replace("@PORT@", str(port)))
        self.process = subprocess.Popen(
            [NGINX, "-p", self.work, "-c", conf, "-e", os.path.join(self.work, "error.log")],
            stdin=subprocess.DEVNULL, start_new_session=True)
        if not wait_listening(port, self.process):
            self.stop()
            raise RuntimeError("nginx did not start on port %d" % port)

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGQUIT)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self.process = None


class Proxy:
    """bench/line_proxy.py, one per measured run, so that its counters are that run's."""

    def __init__(self, port, upstream, work, delay_ms, rate_mbit, cut=None):
        self.stats = os.path.join(work, "line-stats.json")
        if os.path.exists(self.stats):
            os.remove(self.stats)
        args = [PYTHON, os.path.join(HERE, "line_proxy.py"), "--listen", str(port), "--upstream",
                str(upstream), "--delay-ms", str(delay_ms), "--rate-mbit", str(rate_mbit),
                "--stats", self.stats]
        if cut:
            args += ["--cut", cut]
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                                        start_new_session=True, text=True)
        # For bench/line's own clean-up, should this driver be killed outright.
        self.pid_file = os.path.join(work, "line-proxy.pid")
        with open(self.pid_file, "w") as f:
            f.write("%d\n" % self.process.pid)
        if self.process.stdout.readline().strip() != "ready":
            self.stop()
            raise RuntimeError("the line did not start on port %d" % port)

    def stop(self):
        """Ends the line; its counters."""
        if self.process is None:
            return {}
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self.process.stdout.close()
        self.process = None
        os.remove(self.pid_file)
        try:
            with open(self.stats) as f:
                return json.load(f)
        except (OSError, ValueError):
            return {}


# ---------------------------------------------------------------------------------------------
# The launcher in a real window


class Screen:
    """Single pixels straight from the X server: cheap enough to watch every 20 ms."""

    def __init__(self):
        from Xlib import X, display  # python3-xlib

        self.X = X
        self.display = display.Display()
        self.root = self.display.screen().root

    def pixel(self, x, y):
        data = self.root.get_image(x, y, 1, 1, self.X.ZPixmap, 0xFFFFFFFF).data
        return data[2], data[1], data[0]  # 24-bit TrueColor, little-endian BGRX

    def box(self, x, y, w, h):
        data = self.root.get_image(x, y, w, h, self.X.ZPixmap, 0xFFFFFFFF).data
        return [(data[i + 2], data[i + 1], data[i]) for i in range(0, len(data), 4)]

    def close(self):
        self.display.close()


def is_orange(rgb):
    r, g, b = rgb
    return r > 150 and b < 90 and r - b > 90


def full_check_enabled(screen, origin):
    """The button's edge is brown when it can be pressed and grey while a run is busy."""
    x, y, w, h = FULL_CHECK_BORDER
    return max(r - b for r, g, b in screen.box(origin[0] + x, origin[1] + y, w, h)) > 35


class Result:
    def __init__(self, seconds=None, failure=None, line=None, window=None):
        self.seconds = seconds
        self.failure = failure
        self.line = line or {}
        self.window = window

    @property
    def ok(self):
        return self.failure is None


def wait_no_window(timeout=15):
    desktop.wait_until(lambda: not desktop.find_windows("Talvora", timeout=0, visible=False),
                       timeout)


def open_settings(screen, at):
    for _ in range(3):
        desktop.click(*at(SETTINGS))
        desktop.move_pointer(5, 5)
        if desktop.wait_until(lambda: is_orange(screen.pixel(*at(GAME_CONFIG_BODY))), 5, 0.05):
            return True
    return False


def run_launcher(screen, exe, folder, entries, until, timeout, shots, name, proxy=None):
    """Starts the launcher in `folder` and stops the clock when the run has ended: `until` is
    "play" (the PLAY button turns orange on the main page, as a player waits for it) or "end" (on
    the settings page, the full check button can be pressed again: the run ended, well or not;
    then PLAY on the main page tells which)."""
    started = time.monotonic()
    with open(os.path.join(shots, name + "-wine.txt"), "ab") as err:
        process = subprocess.Popen(["wine", "Z:" + os.path.join(folder, "Talvora.exe").replace(
            "/", "\\")], cwd=folder, stdout=subprocess.DEVNULL, stderr=err,
            stdin=subprocess.DEVNULL, start_new_session=True)
    seconds = failure = window_after = None
    try:
        windows = desktop.find_windows("Talvora", timeout=60)
        if not windows:
            return Result(failure="no window")
        window = windows[0]
        window_after = time.monotonic() - started
        origin = desktop.geometry(window)[:2]
        at = lambda p: (origin[0] + p[0], origin[1] + p[1])  # noqa: E731
        deadline = started + timeout
        if until == "end":
            desktop.wait_until(lambda: max(screen.pixel(*at(TITLE_AREA))) > 60, 30, 0.05)
            if not open_settings(screen, at):
                return Result(failure="the settings page did not open")
        while True:
            if until == "play" and is_orange(screen.pixel(*at(PLAY_BODY))):
                break
            if until == "end" and full_check_enabled(screen, origin):
                break
            if process.poll() is not None:
                failure = "the launcher ended (exit code %s)" % process.returncode
                break
            if time.monotonic() > deadline:
                failure = "no PLAY after %.0f s" % timeout
                break
            time.sleep(0.02)
        seconds = time.monotonic() - started
        if until == "end" and failure is None:
            desktop.click(*at(BACK))
            desktop.move_pointer(5, 5)
            if not desktop.wait_until(lambda: is_orange(screen.pixel(*at(PLAY_BODY))), 3, 0.05):
                failure = "the run ended without PLAY"
        if failure and process.poll() is None:
            shot = desktop.screenshot(os.path.join(shots, name + ".png"), desktop.geometry(window))
            if until == "play":  # has the run ended, or is it still going?
                ended = open_settings(screen, at) and full_check_enabled(screen, origin)
                failure += " (the run %s)" % ("had ended" if ended else "was still going")
            failure += "; the window: " + shot
    finally:
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        line = proxy.stop() if proxy else None
        wait_no_window()
    if failure is None:
        failure = up_to_date(folder, entries)
        if failure:
            failure = "PLAY was enabled, but " + failure
    return Result(seconds, failure, line, window_after)


# ---------------------------------------------------------------------------------------------
# The plain script


def run_script(folder, base, entries):
    """A native SHA-256 pass over the installation, then curl with 8 connections kept alive over
    the files whose digest differs. Seconds."""
    started = time.monotonic()
    names = sorted(os.path.relpath(os.path.join(d, n), folder)
                   for d, _, ns in os.walk(folder) for n in ns)
    out = subprocess.run(["xargs", "-0", "sha256sum", "--"], input="\0".join(names), cwd=folder,
                         capture_output=True, text=True, check=True).stdout
    have = {}
    for line in out.splitlines():
        digest, _, rel = line.partition("  ")
        have[rel] = digest
    config = os.path.join(os.path.dirname(folder), "curl.cfg")
    with open(config, "w") as f:
        for rel, _, digest in entries:
            if have.get(rel) != digest:
                f.write('url = "%s%s"\noutput = "%s"\n' % (base, rel, rel))
    subprocess.run(["curl", "--parallel", "--parallel-max", "8", "--create-dirs", "--fail",
                    "--no-progress-meter", "-K", config], cwd=folder, check=True)
    return time.monotonic() - started


# ---------------------------------------------------------------------------------------------
# Figures


def summary(results):
    """(the best time, 'best X s, median Y s (n runs)'); (None, FAILED ...) when any run failed.
    Ratios use the best runs: on a shared machine, other work only ever adds time."""
    bad = [r for r in results if not r.ok]
    if bad:
        return None, "FAILED (%d of %d runs): %s" % (len(bad), len(results), bad[0].failure)
    times = [r.seconds for r in results]
    if len(times) == 1:
        return times[0], "%.2f s (1 run)" % times[0]
    return min(times), "best %.2f s, median %.2f s (%d runs)" % (
        min(times), statistics.median(times), len(times))


def machine_load():
    with open("/proc/loadavg") as f:
        return "load average %s (1, 5, 15 min) on %d cores" % (
            ", ".join(f.read().split()[:3]), os.cpu_count())


def goal(text, met):
    return "  goal: %s: %s" % (text, "met" if met else "MISSED")


def ratio(a, b):
    return a / b if a is not None and b else None


def fmt_ratio(value):
    return "n/a" if value is None else "%.2fx" % value


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

    def run(self):
        self.nginx = Nginx(self.root, self.upstream, self.work)
        self.screen = Screen()
        self.check_the_line()
        log("launcher timing: the real window under Xvfb; the clock starts when wine is started "
            "(the fresh copy of the installation is made before), stops when PLAY turns orange; "
            "every run is then checked file by file against the manifest")
        self.row1()
        self.row2()
        # The bare loopback: nginx itself on the launchers' port.
        self.nginx.stop()
        self.nginx = Nginx(self.root, self.args.port, self.work)
        self.row3()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--publish", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("--runs", type=int, default=3)
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
