#!/usr/bin/python3
"""Start to PLAY of the real launcher, for the default build and the quick-check build, in one run.

usage: start_bench.py --port P --publish TALVORA_PUBLISH --work DIR --shots DIR --runs N
                      --build NAME=Talvora.exe [--build ...]

Started by bench/start inside its Wine session (Xvfb, a persistent wineserver). The builds were
made with TALVORA_PATCH_SERVER http://127.0.0.1:P, where a stock nginx serves the packs. Build
names: default, quick (TALVORA_QUICK_CHECK=ON) and, when asked for, before (another revision's
default build).
"""

import argparse
import fcntl
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
import desktop  # noqa: E402
from desktop import FULL_CHECK, GAME_CONFIG_BODY, PLAY_BODY, SETTINGS, is_orange  # noqa: E402
# The harness of bench/line: its nginx (with a log of the bytes of every answer), single pixels
# from the X server, and the check of an installation against its manifest.
from line_figures import machine_load  # noqa: E402
from line_install import read_manifest, up_to_date  # noqa: E402
from line_servers import start_nginx  # noqa: E402
from line_window import Screen  # noqa: E402

MIB = 1 << 20
KIB = 1 << 10

# The installations measured: one small file; 32 x 64 MiB; 10,000 x 4 KiB in 100 folders, and
# the same with 1,000 of them missing.
PACKS = {"one": (1, 4 * KIB, 1), "big": (32, 64 * MIB, 4), "many": (10000, 4 * KIB, 100)}
MISSING = 1000
WRITER_BYTES = 64 * MIB
# Wine keeps a little of an ended program's set-up for a moment, and a start within it skips about
# 0.2 s that a player's start pays: every measured start comes after this pause.
COLD_PAUSE = 3



def log(*args):
    print(*args, flush=True)


# ---------------------------------------------------------------------------------------------
# The installations and their server


def generate(work):
    """Deterministic packs under srv/pack/NAME and installed copies under tmpl/NAME (copies, not
    links: a file with a second name is never recorded by the quick check)."""
    rng = random.Random(28)
    for name, (count, size, folders) in PACKS.items():
        for i in range(count):
            rel = os.path.join("d%02d" % (i % folders), "f%05d.pak" % i)
            data = rng.randbytes(size)
            for root in ("srv/pack/" + name, "tmpl/" + name):
                path = os.path.join(work, root, rel)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(data)
    # The files of "many" that a stale copy lacks: every tenth.
    missing = os.path.join(work, "tmpl", "many-missing")
    shutil.copytree(os.path.join(work, "tmpl", "many"), missing)
    for i in range(0, PACKS["many"][0], PACKS["many"][0] // MISSING):
        os.remove(os.path.join(missing, "d%02d" % (i % PACKS["many"][2]), "f%05d.pak" % i))
    with open(os.path.join(work, "srv", "pack", "launcher_version.txt"), "w") as f:
        f.write("VERSION\t1\nSHA256\t" + "0" * 64 + "\nURL\thttp://127.0.0.1:9/x.exe\n")


def publish(tool, work, port):
    manifests = {}
    for name in PACKS:
        out = os.path.join(work, "manifests", name + ".txt")
        os.makedirs(os.path.dirname(out), exist_ok=True)
        subprocess.run([tool, "manifest", os.path.join(work, "srv", "pack", name), "--base",
                        "http://127.0.0.1:%d/pack/%s/" % (port, name), "--version", "bench",
                        "--blocks-min", "0", "--out", out], check=True, stdout=subprocess.DEVNULL)
        manifests[name] = out
    return manifests


class DiskWriter:
    """Another program's writes beside the launcher: 64 MiB written and synced, over and over."""

    def __init__(self, work):
        self.pid_file = os.path.join(work, "writer.pid")
        target = os.path.join(work, "writer.bin")
        self.process = subprocess.Popen(
            ["/usr/bin/python3", "-c",
             "import os,sys\nb=os.urandom(%d)\nwhile True:\n"
             " f=open(sys.argv[1],'wb'); f.write(b); f.flush(); os.fsync(f.fileno()); f.close()"
             % WRITER_BYTES, target], start_new_session=True)
        with open(self.pid_file, "w") as f:
            f.write("%d\n" % self.process.pid)
        time.sleep(2)  # its queue is full before anything is measured

    def stop(self):
        self.process.kill()
        self.process.wait()
        os.remove(self.pid_file)


# ---------------------------------------------------------------------------------------------
# The launcher in its window


class Launcher:
    """Talvora.exe started in `folder`; `play()` waits for PLAY and gives the seconds since the
    start."""

    def __init__(self, screen, exe, folder, shots, name):
        shutil.copy(exe, os.path.join(folder, "Talvora.exe"))
        time.sleep(COLD_PAUSE)
        self.screen, self.shots, self.name = screen, shots, name
        self.started = time.monotonic()
        with open(os.path.join(shots, name + "-wine.txt"), "ab") as err:
            self.process = subprocess.Popen(
                ["wine", "Z:" + os.path.join(folder, "Talvora.exe").replace("/", "\\")],
                cwd=folder, stdout=subprocess.DEVNULL, stderr=err, stdin=subprocess.DEVNULL,
                start_new_session=True)
        windows = desktop.find_windows("Talvora", timeout=60, pid=self.process.pid,
                                       alive=lambda: self.process.poll() is None)
        self.window = windows[0] if windows else None
        self.origin = desktop.geometry(self.window)[:2] if self.window else None

    def at(self, point):
        return self.origin[0] + point[0], self.origin[1] + point[1]

    def play_is(self, orange, timeout):
        """Waits until PLAY is (or is no longer) orange; the seconds since the start, or None."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.process.poll() is None:
            if is_orange(self.screen.pixel(*self.at(PLAY_BODY))) == orange:
                return time.monotonic() - self.started
            time.sleep(0.02)
        return None

    def play(self, timeout):
        if self.window is None:
            raise RuntimeError("no window (the launcher %s)" % (
                "ended" if self.process.poll() is not None else "runs"))
        seconds = self.play_is(True, timeout)
        if seconds is None:
            desktop.screenshot(os.path.join(self.shots, self.name + ".png"),
                               desktop.geometry(self.window))
            raise RuntimeError("no PLAY after %.0f s" % timeout)
        return seconds

    def full_check(self, timeout):
        """From the click on the full check button until PLAY again, in seconds."""
        for _ in range(3):
            desktop.click(*self.at(SETTINGS))
            desktop.move_pointer(5, 5)
            if desktop.wait_until(
                    lambda: is_orange(self.screen.pixel(*self.at(GAME_CONFIG_BODY))), 5, 0.05):
                break
        clicked = time.monotonic()
        desktop.click(*self.at(FULL_CHECK))
        desktop.move_pointer(5, 5)
        if self.play_is(False, 5) is None:
            raise RuntimeError("the full check did not start")
        if self.play_is(True, timeout) is None:
            raise RuntimeError("no PLAY %.0f s after the full check" % timeout)
        return time.monotonic() - clicked

    def close(self):
        if self.process.poll() is None and self.window is not None:
            desktop.close_window(self.window)
            try:
                self.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                pass
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
        self.process.wait()
        desktop.wait_until(lambda: not desktop.find_windows("Talvora", timeout=0,
                                                            visible=False), 15)


# ---------------------------------------------------------------------------------------------
# Figures


def summary(times):
    if not times:
        return None, "FAILED"
    if len(times) == 1:
        return times[0], "%.2f s" % times[0]
    return min(times), "best %.2f s, median %.2f s" % (min(times), statistics.median(times))


def goal(text, met):
    log("  goal: %s: %s" % (text, "met" if met else "MISSED"))


def fmt_ratio(a, b):
    return "n/a" if a is None or not b else "%.2fx" % (a / b)


class Bench:
    def __init__(self, args, builds, manifests):
        self.args, self.builds, self.manifests = args, builds, manifests
        self.work = args.work
        self.screen = Screen()
        self.nginx = start_nginx(os.path.join(self.work, "srv"), args.port, self.work)
        self.entries = {name: read_manifest(path)[1] for name, path in manifests.items()}
        self.times = {}
        self.fetched = {}
        self.count = 0
        os.makedirs(os.path.join(self.work, "runs"))

    def close(self):
        self.nginx.stop()
        self.screen.close()

    def served(self):
        """(requests, body bytes) of the game files nginx has served so far."""
        requests = sent = 0
        with open(os.path.join(self.nginx.work, "access.log")) as f:
            for line in f:
                uri, _, _, size = line.rsplit(" ", 3)
                if uri.endswith(".pak"):
                    requests += 1
                    sent += int(size)
        return requests, sent

    def serve(self, pack):
        target = os.path.join(self.work, "srv", "pack", "patch_manifest.txt")
        shutil.copyfile(self.manifests[pack], target + ".tmp")
        os.replace(target + ".tmp", target)

    def folder(self, template):
        """A new copy of a template installation, written out to the disk before any clock."""
        self.count += 1
        folder = os.path.join(self.work, "runs", "r%04d" % self.count)
        subprocess.run(["cp", "-r", os.path.join(self.work, "tmpl", template), folder],
                       check=True)
        subprocess.run(["sync"], check=True)
        subprocess.run(["sh", "-c", "find \"$0\" -type f -exec cat {} + >/dev/null", folder],
                       check=True)  # every reader starts from the page cache alike
        return folder

    def start(self, build, folder, pack, key, timeout=600):
        """One start to PLAY, checked file by file; its seconds go under `key`."""
        launcher = Launcher(self.screen, self.builds[build], folder, self.args.shots,
                            "%s-%d" % ("-".join(key), self.count))
        try:
            seconds = launcher.play(timeout)
        except RuntimeError as e:
            log("  %s: FAILED: %s" % (" ".join(key), e))
            return None
        finally:
            launcher.close()
        failure = up_to_date(folder, self.entries[pack])
        if failure:
            log("  %s: FAILED: PLAY, but %s" % (" ".join(key), failure))
            return None
        self.times.setdefault(key, []).append(seconds)
        return seconds

    def best(self, *key):
        return summary(self.times.get(key, []))

    def up_to_date_rows(self, folders):
        """Every build on every installation, up to date; the quick build twice, the first time
        without its record."""
        for pack in PACKS:
            self.serve(pack)
            for build in self.builds:
                if build != "quick":
                    self.start(build, folders[pack], pack, (pack, build))
                    continue
                record = os.path.join(folders[pack], "talvora.verified")
                if os.path.exists(record):
                    os.remove(record)
                self.start(build, folders[pack], pack, (pack, "quick-first"))
                self.start(build, folders[pack], pack, (pack, "quick-second"))

    def missing_rows(self, folders, disk):
        """The stale copy with 1,000 small files missing, against up to date, per build."""
        self.serve("many")
        for build in self.builds:
            if build == "quick":
                continue
            self.start(build, folders["many"], "many", ("many", build, disk))
            stale = self.folder("many-missing")
            self.start(build, stale, "many", ("missing", build, disk))
            shutil.rmtree(stale, ignore_errors=True)

    def full_check_row(self, folder):
        self.serve("big")
        for build in self.builds:
            key = ("full", build)
            launcher = Launcher(self.screen, self.builds[build], folder, self.args.shots,
                                "full-%s-%d" % (build, self.count))
            try:
                launcher.play(600)
                changed = os.path.join(folder, "d00", "f00000.pak")
                with open(changed, "rb") as f:
                    data = bytearray(f.read())
                data[len(data) // 2] ^= 0x5A
                with open(changed + ".tmp", "wb") as f:
                    f.write(data)
                os.replace(changed + ".tmp", changed)
                served = self.served()
                seconds = launcher.full_check(900)
                requests, sent = (a - b for a, b in zip(self.served(), served))
            except RuntimeError as e:
                log("  full check, %s: FAILED: %s" % (build, e))
                continue
            finally:
                launcher.close()
            failure = up_to_date(folder, self.entries["big"])
            if failure:
                log("  full check, %s: FAILED: %s" % (build, failure))
                continue
            self.times.setdefault(key, []).append(seconds)
            self.fetched[build] = (requests, sent)

    def run(self):
        folders = {pack: self.folder(pack) for pack in PACKS}
        for i in range(self.args.runs):
            log("round %d of %d" % (i + 1, self.args.runs))
            self.up_to_date_rows(folders)
            self.missing_rows(folders, "quiet")
            writer = DiskWriter(self.work)
            try:
                self.missing_rows(folders, "busy")
            finally:
                writer.stop()
            self.full_check_row(folders["big"])
        self.report()

    def report(self):
        log("")
        log("1. start to PLAY, up to date (the real window; the clock stops when PLAY turns "
            "orange)")
        one = {build: self.best("one", build)[0] for build in self.builds if build != "quick"}
        one["quick"] = self.best("one", "quick-second")[0]
        for pack, label in (("one", "one file of 4 KiB"), ("big", "32 files x 64 MiB, 2 GiB"),
                            ("many", "10,000 files x 4 KiB")):
            log("  %s:" % label)
            for build in self.builds:
                keys = [build] if build != "quick" else ["quick-first", "quick-second"]
                for key in keys:
                    seconds, text = self.best(pack, key)
                    base = one["quick" if key.startswith("quick") else key]
                    log("    %-14s %s; %s the one-file start of its build" % (
                        key, text, fmt_ratio(seconds, base)))
        big2 = self.best("big", "quick-second")[0]
        many2 = self.best("many", "quick-second")[0]
        goal("quick build, second start of 2 GiB <= 1.5x its one-file start: %s" %
             fmt_ratio(big2, one["quick"]), big2 is not None and big2 <= 1.5 * one["quick"])
        goal("quick build, 10,000 files up to date <= 2x its one-file start: %s" %
             fmt_ratio(many2, one["quick"]), many2 is not None and many2 <= 2 * one["quick"])

        log("")
        log("2. full check of the 2 GiB installation with one 64 MiB file changed behind the "
            "launcher (from the click to PLAY)")
        fetched = self.fetched
        for build in self.builds:
            seconds, text = self.best("full", build)
            requests, sent = fetched.get(build, (0, 0))
            log("  %-8s %s; fetched %d files, %.1f MiB" % (build, text, requests, sent / MIB))
        requests, sent = fetched.get("quick", (None, None))
        goal("quick build fetches only the changed file: %s files, %s bytes" % (requests, sent),
             requests == 1 and sent == PACKS["big"][1])

        log("")
        log("3. cost of a fetched small file: (10,000 x 4 KiB with 1,000 missing - up to date) "
            "/ 1,000, best runs")
        for build in self.builds:
            if build == "quick":
                continue
            for disk, limit in (("quiet", 0.005), ("busy", 0.008)):
                stale, stale_text = self.best("missing", build, disk)
                fresh, fresh_text = self.best("many", build, disk)
                cost = None if stale is None or fresh is None else (stale - fresh) / MISSING
                log("  %-8s %s: missing %s; up to date %s; %s per fetched file" % (
                    build, "beside a disk writer" if disk == "busy" else "quiet disk",
                    stale_text, fresh_text, "n/a" if cost is None else "%.1f ms" % (cost * 1e3)))
                if build == "default":
                    goal("default build, at most %.0f ms a file (%s)" % (limit * 1e3, disk),
                         cost is not None and cost <= limit)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--publish", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("--runs", type=int, default=2)
    parser.add_argument("--build", action="append", required=True)
    args = parser.parse_args()
    builds = dict(b.split("=", 1) for b in args.build)
    shutil.rmtree(args.shots, ignore_errors=True)
    os.makedirs(args.shots)
    # The builds talk to the port built into them: one run of this benchmark at a time.
    lock = open(os.path.join(tempfile.gettempdir(), "talvora-bench-start-%d.lock" % args.port),
                "w")
    fcntl.flock(lock, fcntl.LOCK_EX)

    started = time.monotonic()
    log("at the start: " + machine_load())
    generate(args.work)
    manifests = publish(args.publish, args.work, args.port)
    log("installations generated in %.0f s" % (time.monotonic() - started))
    bench = Bench(args, builds, manifests)
    try:
        bench.run()
    finally:
        bench.close()
    log("")
    log("bench/start ran for %.0f s; at the end: %s" % (time.monotonic() - started,
                                                       machine_load()))


if __name__ == "__main__":
    # A stop from outside still runs the clean-up above.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    main()
