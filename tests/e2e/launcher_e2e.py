#!/usr/bin/python3
"""The launcher end to end, in a real window under Xvfb, against a local patch server.

usage: launcher_e2e.py CASE WINE_RUN TALVORA_EXE STUB_DIR PATCH_SERVER WEBSITE_URL SHOTS_DIR

Each CASE starts Talvora.exe in a fresh installation folder, drives it with real clicks and
checks what a player would see and what ends up on disk. Screenshots go to SHOTS_DIR/CASE.
"""
import errno
import fcntl
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "server"))

import desktop  # noqa: E402
from desktop import (BAR_X, GAME_CONFIG, GAME_CONFIG_BODY, OVERALL_BAR_ROW, PLAY,  # noqa: E402
                     PLAY_BODY, SETTINGS, WEBSITE, is_orange)
from patch_server import PatchServer  # noqa: E402

CASE, WINE_RUN, TALVORA_EXE, STUB_DIR, PATCH_SERVER, WEBSITE_URL, SHOTS = sys.argv[1:8]
SERVER_PORT = urllib.parse.urlsplit(PATCH_SERVER).port

failures = []
SERVER = None  # the PatchServer of the case, for faults bound to the fixed paths


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message, flush=True)
    return condition


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def is_grey(rgb):
    r, g, b = rgb
    return max(r, g, b) - min(r, g, b) < 30 and max(r, g, b) < 110


def bar_fill(shot, row=OVERALL_BAR_ROW):
    """How many pixels of the bar's row are filled orange."""
    out = desktop.run("convert", shot, "-crop", f"{BAR_X[1] - BAR_X[0]}x1+{BAR_X[0]}+{row}",
                      "+repage", "txt:-")
    filled = 0
    for line in out.splitlines()[1:]:
        try:
            rgb = line.split("(")[1].split(")")[0].split(",")[:3]
            r, g, b = (int(float(v)) for v in rgb)
        except (IndexError, ValueError):
            continue
        if r > 150 and b < 120 and r - b > 60:
            filled += 1
    return filled


class Pack:
    """A small game pack on the server and an older copy of it in the installation folder."""

    def __init__(self, server_root, install, slow=False, big=False, fault=None):
        self.files = {
            "velkaro.dat": os.urandom(300_000),
            "data/maps/start.map": os.urandom(250_000),
            "data/textures/hero.tex": os.urandom(180_000),
            "sound/theme.ogg": os.urandom(220_000),
            "config/settings.ini": b"[video]\nwidth=1280\n",
        }
        if big:
            self.files["data/big.pak"] = os.urandom(8_000_000)
        client = os.path.join(server_root, "pack", "client")
        for rel, data in self.files.items():
            path = os.path.join(client, *rel.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        fault = fault or ("drip" if slow else None)
        base = f"{PATCH_SERVER}/{f'fault/{fault}/' if fault else ''}pack/client/"
        lines = ["VERSION\t1", f"BASE\t{base}"]
        for rel, data in sorted(self.files.items()):
            mark = "\tIFMISSING" if rel.startswith("config/") else ""
            lines.append(f"{rel.replace('/', chr(92))}\t{len(data)}\t"
                         f"{hashlib.sha256(data).hexdigest()}{mark}")
        with open(os.path.join(server_root, "pack", "patch_manifest.txt"), "w") as f:
            f.write("\n".join(lines) + "\n")
        with open(os.path.join(server_root, "pack", "launcher_version.txt"), "w") as f:
            f.write("VERSION\t1\nSHA256\t" + "0" * 64 + "\nURL\thttp://127.0.0.1:9/x.exe\n")
        self.install = install

    def install_all(self, except_=()):
        for rel, data in self.files.items():
            if rel in except_:
                continue
            path = os.path.join(self.install, *rel.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)

    def installed_ok(self):
        for rel, data in self.files.items():
            path = os.path.join(self.install, *rel.split("/"))
            if not os.path.exists(path) or sha256(path) != hashlib.sha256(data).hexdigest():
                return False
        return True


# A launcher that has not ended this long after its window was closed is hung somewhere: where
# each of its threads stands is recorded before the test gives up on it.
DUMP_AFTER_CLOSE = float(os.environ.get("TALVORA_E2E_DUMP_AFTER", "8"))
# Starts of the launcher that Wine itself failed to bring up, tried again as wine-run --test does
# for test programs: under heavy load Wine's loader has been seen to fail a DLL's initialization
# ("ws2_32.dll" failed to initialize, status c0000142) before any code of the program ran.
WINE_START_ATTEMPTS = 3


def wine_never_started(code, said):
    """True when the process ended because Wine's loader could not initialize its DLLs: the exit
    status is STATUS_DLL_INIT_FAILED (0xc0000142, of which the shell sees the low byte) and Wine
    said so. A program that ran and failed is never taken for this."""
    return code == 0x42 and "failed to initialize, aborting" in said and "c0000142" in said


def thread_dump(shots, name, unix_pid=None):
    """The stack of every thread of every running Talvora.exe, from Wine's debugger, into
    SHOTS/threads-NAME.txt and printed; the debugger detaches again and leaves them running.
    With `unix_pid`, gdb first shows the same threads from below: where each one stands inside
    Wine's Unix side and the system libraries, which Wine's debugger cannot unwind."""
    env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree=d;mshtml=d")
    native = ""
    if unix_pid is not None and shutil.which("gdb"):
        try:
            native = subprocess.run(
                ["gdb", "-p", str(unix_pid), "-batch", "-nx", "-ex", "set pagination off",
                 "-ex", "thread apply all bt 25"], capture_output=True, text=True,
                errors="replace", timeout=120, stdin=subprocess.DEVNULL).stdout
        except subprocess.TimeoutExpired:
            native = "(gdb timed out)\n"
        native = "--- from below (gdb) ---\n" + native + "--- from Wine's debugger ---\n"

    def debugger(*args):
        try:
            return subprocess.run([WINE_RUN, "winedbg", *args], env=env, capture_output=True,
                                  text=True, errors="replace", timeout=120,
                                  stdin=subprocess.DEVNULL).stdout.replace("\r", "")
        except subprocess.TimeoutExpired as e:
            return (e.stdout or b"").decode(errors="replace") + "\n(the debugger timed out)\n"

    listing = debugger("--command", "info proc")
    pids = [line.split()[0].lstrip("=") for line in listing.splitlines()
            if line.rstrip().endswith("'Talvora.exe'")]
    report = [listing]
    for pid in pids:
        everything = debugger("--command", "bt all", "0x" + pid)
        # "bt all" walks every process of the session; only the launcher's threads matter.
        sections = everything.split("\nBacktracing for thread ")
        report += ["Backtracing for thread " + s for s in sections[1:]
                   if s.split("\n", 1)[0].split(" in process ")[-1].split(" ")[0].lstrip("0")
                   == pid.lstrip("0")]
    text = native + ("\n".join(report) if pids else listing + "\n(no Talvora.exe process)\n")
    with open(os.path.join(shots, f"threads-{name}.txt"), "w") as f:
        f.write(text)
    print(f"--- threads of the launcher ({name}) ---\n{text}--- end of threads ---", flush=True)


class Launcher:
    """Talvora.exe started in `install`, and its window. `fresh_copy` False starts the copy that is
    already there (one still running from it must not have its image rewritten underneath)."""

    def __init__(self, install, shots, env=None, with_game=True, with_config=True,
                 fresh_copy=True):
        self.install = install
        self.shots = shots
        if fresh_copy:
            shutil.copy(TALVORA_EXE, os.path.join(install, "Talvora.exe"))
            if with_game:
                shutil.copy(os.path.join(STUB_DIR, "velkaro.exe"), install)
            if with_config:
                shutil.copy(os.path.join(STUB_DIR, "config.exe"), install)
        self.elsewhere = tempfile.mkdtemp(prefix="talvora-cwd-")
        self.shot_index = 0
        # What Wine says about the launcher stays beside the screenshots, its errors included
        # (a window that could not be made names its cause only there).
        env = dict(env or os.environ, WINEDEBUG="fixme-all,err+all")
        for attempt in range(1, WINE_START_ATTEMPTS + 1):
            said = self._start(env)
            if self.window is not None or not wine_never_started(self.process.returncode, said):
                break
            print(f"Wine could not bring the launcher up (its DLLs failed to initialize before "
                  f"any of its code ran, attempt {attempt}); starting it again", flush=True)
        if self.window is None:
            self.explain_missing_window()

    def _start(self, env):
        """One start and the wait for its window; returns what Wine wrote about this start."""
        log_path = os.path.join(self.shots, "launcher-stderr.txt")
        self.started = time.monotonic()
        # Started from another folder: the game must still run in the installation folder.
        with open(log_path, "ab") as log:
            before = log.tell()
            self.process = subprocess.Popen(
                [WINE_RUN, wine_path(os.path.join(self.install, "Talvora.exe"))],
                cwd=self.elsewhere, env=env, stdout=subprocess.DEVNULL, stderr=log)
        # The moment of the end is taken as it happens, also while a thread dump is being made.
        self.exited = threading.Event()
        self.exited_at = None
        threading.Thread(target=self._watch, daemon=True).start()
        windows = desktop.launcher_windows(timeout=60, pid=self.process.pid,
                                           alive=lambda: not self.exited.is_set())
        self.window = windows[0] if windows else None
        self.window_after = time.monotonic() - self.started
        if self.window is None:
            self.wait_exit(1)
        with open(log_path, "rb") as log:
            log.seek(before)
            return log.read().decode("utf-8", "replace")

    def explain_missing_window(self):
        """Why no window came: whether the launcher still runs, what the screen shows, and which
        windows exist, so that a failure that does not repeat can still be understood."""
        code = self.wait_exit(0)
        state = "still running" if code is None else f"ended with status {code}"
        names = [line.strip() for line in desktop.run("xwininfo", "-root", "-tree").splitlines()
                 if '"' in line and "has no name" not in line]
        print(f"no launcher window after {self.window_after:.1f} s; the launcher is {state}; "
              f"named windows: {names[:20]}", flush=True)
        desktop.screenshot(os.path.join(self.shots, "no-window.png"))
        if code is None:
            thread_dump(self.shots, "no-window", self.process.pid)

    def _watch(self):
        self.process.wait()
        self.exited_at = time.monotonic()
        self.exited.set()

    def origin(self):
        x, y, _, _ = desktop.geometry(self.window)
        return x, y

    def click(self, point):
        x, y = self.origin()
        desktop.click(x + point[0], y + point[1])

    def hover_away(self):
        desktop.move_pointer(5, 5)

    def shot(self, name):
        x, y, w, h = desktop.geometry(self.window)
        self.shot_index += 1
        path = os.path.join(self.shots, f"{self.shot_index:02d}-{name}.png")
        return desktop.screenshot(path, (x, y, w, h))

    def pixel(self, name, point):
        return desktop.pixel(self.shot(name), *point)

    def close(self, timeout=30, dump_after=DUMP_AFTER_CLOSE):
        """Closes the window as its close button would and waits for the process to end. Wine
        ignores the close while the window is disabled by a box that is going away, so the
        request is repeated, as a player would click again. A launcher still there `dump_after` s
        after the first close has every thread's stack recorded."""
        self.closed_at = time.monotonic()
        deadline = self.closed_at + timeout
        dumped = False
        while time.monotonic() < deadline:
            desktop.close_window(self.window)
            wait = 5.0
            if not dumped and dump_after is not None:
                wait = max(0.1, min(wait, self.closed_at + dump_after - time.monotonic()))
            code = self.wait_exit(wait)
            if code is not None:
                return code
            if not dumped and dump_after is not None and \
                    time.monotonic() - self.closed_at >= dump_after:
                dumped = True
                shown = desktop.launcher_windows(timeout=0, visible=False)
                print(f"the launcher still runs {time.monotonic() - self.closed_at:.1f} s after "
                      f"the close; its window {'still exists' if self.window in shown else 'is gone'}",
                      flush=True)
                thread_dump(self.shots, "close", self.process.pid)
        return None

    def close_seconds(self):
        """From the first close to the process's end (None while it runs)."""
        return None if self.exited_at is None else self.exited_at - self.closed_at

    def wait_exit(self, timeout):
        return self.process.returncode if self.exited.wait(timeout) else None

    def stop(self):
        if not self.exited.is_set():
            self.process.kill()
            self.exited.wait()
        shutil.rmtree(self.elsewhere, ignore_errors=True)


def other_talvora_windows(main, timeout=0.0):
    """Windows titled Talvora besides the main one, waiting up to `timeout` s for one to show.
    (The main window carries the same title, so waiting for any such window is no wait at all.)"""
    deadline = time.monotonic() + timeout
    while True:
        others = [w for w in desktop.launcher_windows(timeout=0) if w != main]
        if others or time.monotonic() >= deadline:
            return others
        time.sleep(0.1)


def dismiss_box(box, main):
    """Presses the box's OK button as a player would, and waits until the box is gone."""
    bx, by, bw, bh = desktop.geometry(box)
    desktop.click(bx + bw // 2, by + bh - 14)
    if desktop.wait_until(lambda: not other_talvora_windows(main), 5):
        return True
    desktop.close_window(box)
    return desktop.wait_until(lambda: not other_talvora_windows(main), 5)


def close_and_check(launcher):
    code = launcher.close()
    check(code == 0, f"the launcher did not exit cleanly after its window was closed ({code})")


def expect_box(launcher, shot_name, icon):
    """A message box of the launcher is up with the `icon` ("warning" or "error"); dismisses it."""
    boxes = other_talvora_windows(launcher.window, 30)
    if not check(boxes, f"no {icon} box appeared ({shot_name})"):
        return False
    bx, by, bw, bh = desktop.geometry(boxes[0])
    shot = desktop.screenshot(os.path.join(launcher.shots, shot_name + ".png"), (bx, by, bw, bh))
    yellow, red = colour_counts(shot)
    ours, other = (yellow, red) if icon == "warning" else (red, yellow)
    check(ours > 20 and ours > other, f"not a {icon} icon (yellow {yellow}, red {red})")
    return check(dismiss_box(boxes[0], launcher.window), f"the {icon} box did not close")


def colour_counts(shot):
    """(yellowish, reddish) pixel counts: Wine's warning icon is yellow, its error icon red."""
    out = desktop.run("convert", shot, "txt:-")
    yellow = red = 0
    for line in out.splitlines()[1:]:
        try:
            r, g, b = (int(float(v)) for v in line.split("(")[1].split(")")[0].split(",")[:3])
        except (IndexError, ValueError):
            continue
        if r > 200 and g > 170 and b < 90:
            yellow += 1
        elif r > 170 and g < 90 and b < 90:
            red += 1
    return yellow, red


def read_record(path, last_field, timeout):
    """The text a stand-in program wrote, once it is whole: the file is there as soon as it is
    made, before anything is in it. Whole means `last_field` is there and its line has ended.
    None when no whole record came in time."""
    def whole():
        try:
            text = open(path, encoding="utf-8").read()
        except OSError:
            return None
        at = text.find(last_field)
        return text if at >= 0 and text.endswith("\n") and text.rfind("\n") > at else None

    desktop.wait_until(lambda: whole() is not None, timeout)
    return whole()


def wait_ready(launcher, timeout=90):
    return desktop.wait_until(lambda: is_orange(launcher.pixel("waiting", PLAY_BODY)), timeout, 0.3)


def case_update_and_play(server_root, install, shots):
    pack = Pack(server_root, install, slow=True)
    pack.install_all(except_=("sound/theme.ogg",))
    with open(os.path.join(install, "data", "maps", "start.map"), "r+b") as f:
        f.seek(1000)
        f.write(b"\x00\x01\x02")  # same size, other content
    launcher = Launcher(install, shots)
    try:
        if not check(launcher.window is not None, "no window titled Talvora appeared"):
            return
        x, y, w, h = desktop.geometry(launcher.window)
        check((w, h) == (900, 560), f"client area is {w} x {h}, not 900 x 560")
        # Centred with integer division on 1920 x 1080: the frame's corner at (510, 260), the
        # client below Wine's caption.
        check((x, y) == (513, 282), f"client area at ({x}, {y}), expected (513, 282)")
        launcher.hover_away()
        fills = []
        for i in range(6):
            fills.append(bar_fill(launcher.shot(f"downloading-{i}")))
            time.sleep(0.6)
        check(fills == sorted(fills) and fills[-1] > fills[0],
              f"the overall bar did not move forward: {fills}")
        check(is_grey(launcher.pixel("updating", PLAY_BODY)) or pack.installed_ok(),
              "PLAY looked enabled before the update ended")
        ready = wait_ready(launcher)
        ready_after = time.monotonic() - launcher.started
        if not check(ready, "PLAY never became enabled"):
            return
        print(f"time from start to PLAY enabled: {ready_after:.2f} s", flush=True)
        check(pack.installed_ok(), "the installation is not up to date when PLAY is enabled")
        check(not any(n.endswith(".part") for _, _, names in os.walk(install) for n in names),
              "a .part file was left behind")
        launcher.shot("ready")
        launcher.click(PLAY)
        clicked = time.monotonic()
        record = os.path.join(install, "velkaro-started.txt")
        text = read_record(record, "\ncommand=", 15)
        if check(text is not None, "the game was not started"):
            check(f"cwd={wine_path(install)}\n".lower() in text.lower(),
                  f"the game ran in the wrong folder: {text!r}")
            check("argc=1\n" in text, f"the game got arguments: {text!r}")
        splash = desktop.wait_until(
            lambda: desktop.geometry(launcher.window)[2:] == (540, 540), 3, 0.05)
        check(splash, "the window did not turn into the 540 x 540 badge")
        if splash:
            check(desktop.geometry(launcher.window)[:2] == (690, 270),
                  f"badge at {desktop.geometry(launcher.window)[:2]}, expected (690, 270)")
            launcher.shot("splash")
        code = launcher.wait_exit(15)
        gone = time.monotonic() - clicked
        check(code == 0, f"the launcher did not exit cleanly by itself (exit code {code})")
        print(f"time from the PLAY click to exit: {gone:.2f} s", flush=True)
        check(1.8 <= gone <= 8.0, f"exit came {gone:.2f} s after the click, expected about 2.4 s")
    finally:
        launcher.stop()


def case_close_during_download(server_root, install, shots):
    pack = Pack(server_root, install, slow=True, big=True)
    pack.install_all(except_=("data/big.pak",))
    target = os.path.join(install, "data", "big.pak")
    with open(target, "wb") as f:
        f.write(b"old content")
    launcher = Launcher(install, shots)
    try:
        if not check(launcher.window is not None, "no window titled Talvora appeared"):
            return
        part = target + ".part"
        check(desktop.wait_until(lambda: os.path.exists(part), 60), "the download never started")
        # A player closes what is on the screen: wait for the first painted frame.
        check(desktop.wait_until(lambda: max(launcher.pixel("downloading", (450, 60))) > 60, 30, 0.3),
              "the window was never painted")
        code = launcher.close()
        check(code == 0, f"closing during a download did not end the launcher cleanly ({code})")
        check(not os.path.exists(part), "the part file was left behind")
        check(open(target, "rb").read() == b"old content", "the target was touched")
    finally:
        launcher.stop()


def case_missing_config(server_root, install, shots):
    pack = Pack(server_root, install)
    pack.install_all()
    launcher = Launcher(install, shots, with_config=False)
    try:
        if not check(launcher.window is not None, "no window titled Talvora appeared"):
            return
        check(wait_ready(launcher), "PLAY never became enabled")
        launcher.click(SETTINGS)
        time.sleep(0.3)
        launcher.hover_away()
        check(is_orange(launcher.pixel("settings", GAME_CONFIG_BODY)), "the settings page did not open")
        launcher.click(GAME_CONFIG)
        expect_box(launcher, "warning-box", "warning")
        launcher.hover_away()
        check(is_orange(launcher.pixel("settings-after", GAME_CONFIG_BODY)),
              "the settings page did not stay open")
        close_and_check(launcher)
    finally:
        launcher.stop()


def case_missing_game(server_root, install, shots):
    pack = Pack(server_root, install)
    pack.install_all()
    launcher = Launcher(install, shots, with_game=False)
    try:
        if not check(launcher.window is not None, "no window titled Talvora appeared"):
            return
        check(wait_ready(launcher), "PLAY never became enabled")
        for attempt in (1, 2):
            launcher.click(PLAY)
            if not expect_box(launcher, f"error-box-{attempt}", "error"):
                break
            launcher.hover_away()
            check(desktop.geometry(launcher.window)[2:] == (900, 560), "the window changed")
            check(is_orange(launcher.pixel(f"after-error-{attempt}", PLAY_BODY)),
                  "PLAY is no longer usable")
        close_and_check(launcher)
    finally:
        launcher.stop()


def case_link_opens_browser(server_root, install, shots):
    pack = Pack(server_root, install)
    pack.install_all()
    bin_dir = tempfile.mkdtemp(prefix="talvora-bin-")
    record = os.path.join(bin_dir, "opened.txt")
    with open(os.path.join(bin_dir, "xdg-open"), "w") as f:
        f.write(f"#!/bin/sh\nprintf '%s\\n' \"$1\" >> '{record}'\n")
    os.chmod(os.path.join(bin_dir, "xdg-open"), 0o755)
    env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ.get("PATH", ""))
    launcher = Launcher(install, shots, env=env)
    try:
        if not check(launcher.window is not None, "no window titled Talvora appeared"):
            return
        check(wait_ready(launcher), "PLAY never became enabled")
        launcher.click(WEBSITE)
        text = read_record(record, "", 20)
        if check(text is not None, "no browser was asked to open"):
            opened = text.split()
            check(opened[:1] == [WEBSITE_URL], f"opened {opened}, expected {WEBSITE_URL}")
        close_and_check(launcher)
    finally:
        launcher.stop()
        shutil.rmtree(bin_dir, ignore_errors=True)


def closed_within(launcher):
    """Closes the window as a player would; the seconds from the close to the process's end."""
    code = launcher.close()
    check(code == 0, f"the launcher did not exit cleanly after its window was closed ({code})")
    seconds = launcher.close_seconds()
    return seconds if seconds is not None else time.monotonic() - launcher.closed_at


def nothing_half_installed(pack, exe_before):
    install = pack.install
    leftovers = [n for _, _, names in os.walk(install) for n in names
                 if n.endswith((".part", ".new"))]
    check(not leftovers, f"left behind: {leftovers}")
    check(sha256(os.path.join(install, "Talvora.exe")) == exe_before,
          "the launcher's own executable changed")


# Sparse: the check pass reads gigabytes of zeros from the page cache and hashes them, about 20 s
# of one thread's work, while the disk is not touched.
HUGE_LOCAL_SIZE = 4 << 30


def fault_row(server_root, install, shots, row, faults, slow_files=False, settled=False,
              huge_local=False):
    """One row of the fault matrix on the real executable: a newer launcher is published, the
    server misbehaves as `faults` says; the seconds to the window and from close to exit. With
    `huge_local`, the installation holds a huge file of the listed size that the check pass is
    still hashing when the window is closed."""
    pack = Pack(server_root, install, fault="trickle" if slow_files else None)
    pack.install_all(except_=("sound/theme.ogg",))
    if huge_local:
        with open(os.path.join(server_root, "pack", "patch_manifest.txt"), "a") as f:
            f.write(f"data\\huge.pak\t{HUGE_LOCAL_SIZE}\t{'0' * 64}\n")
        with open(os.path.join(install, "data", "huge.pak"), "wb") as f:
            f.truncate(HUGE_LOCAL_SIZE)
    with open(os.path.join(server_root, "pack", "launcher_version.txt"), "w") as f:
        f.write("VERSION\t99\nSHA256\t" + "0" * 64 +
                f"\nURL\t{PATCH_SERVER}/pack/Talvora-new.exe\n")
    with open(os.path.join(server_root, "pack", "Talvora-new.exe"), "wb") as f:
        f.write(b"MZ" + os.urandom(100_000))
    SERVER.faults.update(faults)
    exe_before = sha256(TALVORA_EXE)
    launcher = Launcher(install, shots)
    try:
        if not check(launcher.window is not None, "no window titled Talvora appeared"):
            return
        to_window = launcher.window_after
        check(to_window < 45, f"the window took {to_window:.1f} s")
        check(desktop.wait_until(lambda: max(launcher.pixel("painted", (450, 60))) > 60, 30, 0.3),
              "the window was never painted")
        if settled:
            check(wait_ready(launcher), "PLAY never became enabled")
        else:
            time.sleep(2)  # the run is now held by the server
        launcher.shot("held")
        seconds = closed_within(launcher)
        # Wine without a window manager (Xvfb has none) waits 2 s for one before it lets a
        # closed window go, longer on a loaded machine; a worker that ignored the close would
        # hold the process until the network gives up (the 20 s floor, the 30 s time-out).
        check(seconds < 15, f"closing took {seconds:.2f} s")
        print(f"fault row {row}: window after {to_window:.1f} s, close to exit {seconds:.2f} s",
              flush=True)
        nothing_half_installed(pack, exe_before)
        if not settled:
            check(not os.path.exists(os.path.join(install, "sound", "theme.ogg")),
                  "a file was installed from a server that never sent it")
    finally:
        launcher.stop()


def case_fault_none(server_root, install, shots):
    """The reference for the rows: a server that behaves, and a run that has ended."""
    fault_row(server_root, install, shots, "none (reference)", {}, settled=True)


def case_fault_version_trickle(server_root, install, shots):
    fault_row(server_root, install, shots, "version file trickle",
              {"pack/launcher_version.txt": "trickle", "pack/patch_manifest.txt": "trickle"})


def case_fault_silent_server(server_root, install, shots):
    fault_row(server_root, install, shots, "silent server",
              {"pack/launcher_version.txt": "silent", "pack/patch_manifest.txt": "silent"})


def case_fault_manifest_trickle(server_root, install, shots):
    fault_row(server_root, install, shots, "manifest trickle",
              {"pack/patch_manifest.txt": "trickle"})


def case_fault_file_trickle(server_root, install, shots):
    fault_row(server_root, install, shots, "file trickle", {}, slow_files=True)


def case_fault_check_pass(server_root, install, shots):
    """Closed while a hashing thread of the check pass is deep inside a huge file."""
    fault_row(server_root, install, shots, "check pass of a huge file", {}, huge_local=True)


def case_fault_launcher_trickle(server_root, install, shots):
    """The new launcher trickles in: the self-update gives up at its deadline and the window
    comes, while the thread that was reading for it may still be inside the network stack; the
    player closes that window."""
    fault_row(server_root, install, shots, "new launcher trickle",
              {"pack/Talvora-new.exe": "trickle"}, settled=True)


def case_second_behind_closing(server_root, install, shots):
    """A launcher started while the previous one is still closing (its window gone, the process
    not yet) waits for it and gets a window of its own, instead of handing over to nothing."""
    pack = Pack(server_root, install)
    pack.install_all()
    first = Launcher(install, shots)
    second = None
    try:
        if not check(first.window is not None, "no window titled Talvora appeared"):
            return
        check(wait_ready(first), "PLAY never became enabled")
        first.closed_at = time.monotonic()
        desktop.close_window(first.window)
        # Wine hides the closed window at once and destroys it 2 s later (it waits that long for a
        # window manager): start the next launcher in between.
        time.sleep(1)
        check(first.wait_exit(0) is None, "the first launcher had already ended: nothing tested")
        second = Launcher(install, shots, fresh_copy=False)
        check(first.wait_exit(30) == 0, "the first launcher did not end cleanly")
        if not check(second.window is not None,
                     "a launcher started behind a closing one showed no window"):
            return
        check(wait_ready(second), "the second launcher's run did not end well")
        close_and_check(second)
    finally:
        if second is not None:
            second.stop()
        first.stop()
def case_second_launcher(server_root, install, shots):
    """A second launcher on the same folder hands over to the first and ends; one run only."""
    pack = Pack(server_root, install, slow=True)
    pack.install_all(except_=("sound/theme.ogg",))
    first = Launcher(install, shots)
    second = None
    try:
        if not check(first.window is not None, "no window titled Talvora appeared"):
            return
        started = time.monotonic()
        second = subprocess.Popen([WINE_RUN, wine_path(os.path.join(install, "Talvora.exe"))],
                                  cwd=first.elsewhere, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            code = second.wait(timeout=60)
        except subprocess.TimeoutExpired:
            code = None
        print(f"second launcher ended after {time.monotonic() - started:.2f} s", flush=True)
        check(code == 0, f"the second launcher did not hand over and end ({code})")
        check(desktop.launcher_windows(timeout=1) == [first.window],
              "another launcher window appeared")
        check(wait_ready(first), "the first launcher's update did not finish")
        check(pack.installed_ok(), "the installation is not up to date")
        close_and_check(first)
    finally:
        if second is not None and second.poll() is None:
            second.kill()
            second.wait()
        first.stop()


def case_squatted_lock(server_root, install, shots):
    """Another process holds the names an earlier launcher locked its folder with (Global\\ and
    Local\\ plus the folder's key), as any local user can: the launcher still starts, shows its
    window and finishes its run."""
    pack = Pack(server_root, install)
    pack.install_all(except_=("sound/theme.ogg",))
    marks = tempfile.mkdtemp(prefix="talvora-squat-")
    marker = os.path.join(marks, "squatting")
    squatter = subprocess.Popen([WINE_RUN, os.path.join(STUB_DIR, "folder_lock_probe.exe"), "squat",
                                 wine_path(install), wine_path(marker)],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    launcher = None
    try:
        squatting = desktop.wait_until(
            lambda: os.path.exists(marker) or squatter.poll() is not None, 60)
        if not check(squatting and squatter.poll() is None,
                     f"the squatter did not take the names ({squatter.poll()})"):
            return
        launcher = Launcher(install, shots)
        if not check(launcher.window is not None, "no launcher window behind squatted names"):
            return
        check(wait_ready(launcher), "PLAY never became enabled")
        check(pack.installed_ok(), "the installation is not up to date")
        close_and_check(launcher)
    finally:
        if launcher is not None:
            launcher.stop()
        squatter.kill()
        squatter.wait()
        shutil.rmtree(marks, ignore_errors=True)


CASES = {
    "update_and_play": case_update_and_play,
    "close_during_download": case_close_during_download,
    "missing_config": case_missing_config,
    "missing_game": case_missing_game,
    "link_opens_browser": case_link_opens_browser,
    "fault_none": case_fault_none,
    "fault_version_trickle": case_fault_version_trickle,
    "fault_silent_server": case_fault_silent_server,
    "fault_manifest_trickle": case_fault_manifest_trickle,
    "fault_file_trickle": case_fault_file_trickle,
    "fault_check_pass": case_fault_check_pass,
    "fault_launcher_trickle": case_fault_launcher_trickle,
    "second_behind_closing": case_second_behind_closing,
    "second_launcher": case_second_launcher,
    "squatted_lock": case_squatted_lock,
}


def take_turn_on_port(port, wait=150):
    """The launcher under test talks to the port built into it, so runs of these tests from
    several build trees on one machine must not overlap: each takes an exclusive lock named by
    the port, then binds, retrying while a run that takes no lock still holds the port. Returns
    the lock, held until this process ends, and the time by which the port must be ours."""
    lock = open(os.path.join(tempfile.gettempdir(), f"talvora-e2e-port-{port}.lock"), "w")
    deadline = time.monotonic() + wait
    while True:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            break
        except BlockingIOError:
            if time.monotonic() > deadline:
                raise SystemExit(f"port {port} stayed taken by another run for {wait} s")
            time.sleep(0.5)
    return lock, deadline


def serve_on(root, port, deadline):
    while True:
        try:
            return PatchServer(root, port=port)
        except OSError as e:
            if e.errno != errno.EADDRINUSE or time.monotonic() > deadline:
                raise
            time.sleep(0.5)


def main():
    _lock, deadline = take_turn_on_port(SERVER_PORT)
    shots = os.path.join(SHOTS, CASE)
    shutil.rmtree(shots, ignore_errors=True)
    os.makedirs(shots)
    with tempfile.TemporaryDirectory(prefix="talvora-e2e-") as work:
        server_root = os.path.join(work, "server")
        install = os.path.join(work, "install")
        os.makedirs(server_root)
        os.makedirs(install)
        global SERVER
        with serve_on(server_root, SERVER_PORT, deadline) as SERVER:
            CASES[CASE](server_root, install, shots)
    print(f"{CASE}: {'passed' if not failures else f'{len(failures)} failed checks'}; "
          f"screenshots in {shots}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
