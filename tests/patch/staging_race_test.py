#!/usr/bin/env python3
"""A local user swaps a staging name for a link while the launcher writes it.

The launcher runs as administrator; anyone who can write into the installation folder can replace
`big.pak.part` (or `Talvora.exe.new`) by a link to a file elsewhere the moment it appears, or a
little later. A Unix process is not bound by Wine's share modes, so here it can do what a Windows
process could not. On each of the three roads that write a staging file (a whole download, a
block patch, a self-update) the swap is made many times at different moments. The file outside
must never change, no link may end up in the installation, and the run either installs the right
file or ends with the bad-path line (the self-update: leaves the running launcher as it was).

usage: staging_race_test.py WINE_RUN PUBLISH KEY_DIR UPDATE_PROBE SELFUPDATE_V1 SELFUPDATE_V2
"""
import hashlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from patch_server import PatchServer  # noqa: E402
from with_server import wine_path  # noqa: E402
from script_checks import check, read, summary, write  # noqa: E402

wine_run, publish, key_dir, update_probe, probe_v1, probe_v2 = sys.argv[1:7]
KEY = os.path.join(key_dir, "update-1.pem")
UPDATED, FAILED = "5", "6"
BAD_PATH = "Hibás fájlútvonal a frissítési listában: big.pak"
# Milliseconds after the name appears: at once, while the first bytes arrive, and later on.
DELAYS_MS = (0, 2, 5, 10, 20, 50, 120, 300, 600, 1000)


class Swapper:
    """Watches for `name` and, `delay` seconds after it appears, replaces it by a link to
    `victim`. `swapped` tells whether it got there before the name went away again."""

    def __init__(self, name, victim, delay):
        self.name, self.victim, self.delay = name, victim, delay
        self.swapped = False
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop.is_set():
            if os.path.lexists(self.name) and not os.path.islink(self.name):
                break
            time.sleep(0.0002)
        else:
            return
        time.sleep(self.delay)
        try:
            os.unlink(self.name)
            os.symlink(self.victim, self.name)
            self.swapped = True
        except OSError:
            pass  # the launcher was faster: the name was gone already

    def stop(self):
        self._stop.set()
        self._thread.join()


def outside_state(outside):
    return sorted((n, read(os.path.join(outside, n))) for n in os.listdir(outside))


def no_links_in(folder):
    links = [os.path.join(d, n) for d, dirs, names in os.walk(folder) for n in dirs + names
             if os.path.islink(os.path.join(d, n))]
    return links


def clear_links(folder):
    for link in no_links_in(folder):
        os.unlink(link)


def run_update(install, manifest_url, result):
    subprocess.run([wine_run, update_probe, manifest_url, wine_path(install), wine_path(result)],
                   check=True, capture_output=True, timeout=240)
    phase, _, line = read(result).decode("utf-8").partition("\n")
    return phase, line


def patch_road(work, server, road, old, new, outside, victim):
    """One road of the patch worker, once per delay; a tally of outcomes."""
    tally = {"installed": 0, "refused": 0, "swapped": 0}
    for i, delay in enumerate(DELAYS_MS):
        install = os.path.join(work, "install-%s-%d" % (road, i))
        if old is not None:
            write(os.path.join(install, "big.pak"), old)
        os.makedirs(install, exist_ok=True)
        before = outside_state(outside)
        swapper = Swapper(os.path.join(install, "big.pak.part"), victim, delay / 1000.0)
        phase, line = run_update(install, server.url + "/pack/patch_manifest.txt",
                                 os.path.join(work, "result"))
        swapper.stop()
        what = "%s, swap %d ms after the name appeared" % (road, delay)
        check(outside_state(outside) == before, what + ": the file outside changed")
        target = os.path.join(install, "big.pak")
        check(not os.path.islink(target), what + ": the installed file is a link")
        if phase == UPDATED:
            check(read(target) == new, what + ": installed content is wrong")
            tally["installed"] += 1
        else:
            check(phase == FAILED and line == BAD_PATH, what + ": ended %s %r" % (phase, line))
            if os.path.exists(target) and old is not None:
                check(read(target) == old, what + ": the old file was damaged")
            tally["refused"] += 1
        tally["swapped"] += 1 if swapper.swapped else 0
        clear_links(install)
        shutil.rmtree(install)
    return tally


def launcher_processes(folder):
    """Processes started from `folder`: Wine names the program by either spelling of its path."""
    names = ((folder + "/").lower(), (wine_path(folder) + "\\").lower())
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                line = f.read().replace(b"\0", b" ").decode("utf-8", "replace").lower()
        except OSError:
            continue
        if any(name in line for name in names):
            found.append(pid)
    return found


def wait_for_last_launcher(install, timeout=60):
    """The probe's run line is its last act, written by the first build when it kept itself and
    by the new one when it handed over: once the line is whole and no program of the folder is
    left, nothing touches the folder any more."""
    runs = os.path.join(install, "probe-runs.txt")
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        whole = os.path.exists(runs) and read(runs).endswith(b"\n")
        if whole and not launcher_processes(install):
            return True
        time.sleep(0.05)
    return False


def self_update_road(work, server, outside, victim):
    tally = {"installed": 0, "refused": 0, "swapped": 0}
    v1, v2 = read(probe_v1), read(probe_v2)
    env = dict(os.environ, TALVORA_PROBE_VERSION_URL=server.url + "/pack/launcher_version.txt")
    for i, delay in enumerate(DELAYS_MS):
        install = os.path.join(work, "self-%d" % i)
        exe = os.path.join(install, "Talvora.exe")
        write(exe, v1)
        before = outside_state(outside)
        swapper = Swapper(exe + ".new", victim, delay / 1000.0)
        subprocess.run([wine_run, exe], env=env, check=True, capture_output=True, timeout=120)
        what = "self-update, swap %d ms after the name appeared" % delay
        check(wait_for_last_launcher(install), what + ": no launcher finished its run")
        swapper.stop()
        check(outside_state(outside) == before, what + ": the file outside changed")
        check(not os.path.islink(exe) and os.path.isfile(exe), what + ": no plain launcher left")
        exe_bytes = read(exe) if os.path.isfile(exe) else b""
        check(exe_bytes in (v1, v2), what + ": the launcher is neither build")
        tally["installed" if exe_bytes == v2 else "refused"] += 1
        tally["swapped"] += 1 if swapper.swapped else 0
        clear_links(install)
        shutil.rmtree(install)
    return tally


def main():
    work = tempfile.mkdtemp(prefix="talvora-race-")
    rng = random.Random(20)
    server = None
    try:
        outside = os.path.join(work, "outside")
        victim = os.path.join(outside, "victim.dll")
        write(victim, b"a system file outside the installation\n")
        write(os.path.join(outside, "other.dll"), b"another\n")

        new = rng.randbytes(24 << 20)
        old = bytearray(new)
        for at in range(0, len(old), 3 << 20):
            old[at] ^= 0x5A
        old = bytes(old)

        root = os.path.join(work, "root")
        client = os.path.join(work, "client")
        write(os.path.join(client, "big.pak"), new)
        os.makedirs(os.path.join(root, "pack"))
        server = PatchServer(root, os.path.join(work, "server.log")).start()
        subprocess.run([publish, "manifest", client, "--base", server.url + "/pack/client/",
                        "--version", "1", "--out", os.path.join(root, "pack", "patch_manifest.txt"),
                        "--sign-key", KEY], check=True, capture_output=True)
        shutil.copytree(client, os.path.join(root, "pack", "client"))
        v2 = read(probe_v2)
        write(os.path.join(root, "pack", "Talvora-v2.exe"), v2)
        write(os.path.join(root, "pack", "launcher_version.txt"),
              ("VERSION\t2\nSHA256\t%s\nURL\t%s/pack/Talvora-v2.exe\n"
               % (hashlib.sha256(v2).hexdigest(), server.url)).encode())

        rows = [("whole download", patch_road(work, server, "whole", None, new, outside, victim)),
                ("block patch", patch_road(work, server, "blocks", old, new, outside, victim)),
                ("self-update", self_update_road(work, server, outside, victim))]
        for name, tally in rows:
            print("%-15s %2d runs: %2d swapped, %2d installed, %2d refused"
                  % (name, len(DELAYS_MS), tally["swapped"], tally["installed"], tally["refused"]))
            check(tally["swapped"] > 0, name + ": the swap never happened, nothing was tried")
    finally:
        if server is not None:
            server.stop()
        shutil.rmtree(work, ignore_errors=True)
    return summary("staging races", "the file outside never changed")


if __name__ == "__main__":
    sys.exit(main())
