"""The launcher in a real window, timed as a player waits for it: from the start of wine to PLAY
(or to the end of the run), then checked file by file."""

import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
import desktop  # noqa: E402
from desktop import (BACK, FULL_CHECK_BORDER, GAME_CONFIG_BODY, PLAY_BODY, SETTINGS,  # noqa: E402
                     TITLE_AREA, is_orange)
from line_install import up_to_date  # noqa: E402


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
    desktop.wait_until(lambda: not desktop.launcher_windows(timeout=0, visible=False), timeout)


def open_settings(screen, at):
    for _ in range(3):
        desktop.click(*at(SETTINGS))
        desktop.move_pointer(5, 5)
        if desktop.wait_until(lambda: is_orange(screen.pixel(*at(GAME_CONFIG_BODY))), 5, 0.05):
            return True
    return False


def start_launcher(folder, shots, name):
    with open(os.path.join(shots, name + "-wine.txt"), "ab") as err:
        return subprocess.Popen(["wine", "Z:" + os.path.join(folder, "Talvora.exe").replace(
            "/", "\\")], cwd=folder, stdout=subprocess.DEVNULL, stderr=err,
            stdin=subprocess.DEVNULL, start_new_session=True)


def wait_for_end(screen, process, at, origin, until, started, timeout):
    """None once the run has ended as `until` asks; else why the wait gave up."""
    while True:
        if until == "play" and is_orange(screen.pixel(*at(PLAY_BODY))):
            return None
        if until == "end" and full_check_enabled(screen, origin):
            return None
        if process.poll() is not None:
            return "the launcher ended (exit code %s)" % process.returncode
        if time.monotonic() > started + timeout:
            return "no PLAY after %.0f s" % timeout
        time.sleep(0.02)


def back_to_play(screen, at):
    """After a run timed to its end: the main page tells whether it ended well."""
    desktop.click(*at(BACK))
    desktop.move_pointer(5, 5)
    if not desktop.wait_until(lambda: is_orange(screen.pixel(*at(PLAY_BODY))), 3, 0.05):
        return "the run ended without PLAY"
    return None


def what_the_window_showed(screen, window, at, origin, until, shots, name):
    """A screenshot of a failed run's window, and whether the run was still going."""
    shot = desktop.screenshot(os.path.join(shots, name + ".png"), desktop.geometry(window))
    said = ""
    if until == "play":  # has the run ended, or is it still going?
        ended = open_settings(screen, at) and full_check_enabled(screen, origin)
        said = " (the run %s)" % ("had ended" if ended else "was still going")
    return said + "; the window: " + shot


def run_launcher(screen, exe, folder, entries, until, timeout, shots, name, proxy=None):
    """Starts the launcher in `folder` and stops the clock when the run has ended: `until` is
    "play" (the PLAY button turns orange on the main page, as a player waits for it) or "end" (on
    the settings page, the full check button can be pressed again: the run ended, well or not;
    then PLAY on the main page tells which)."""
    started = time.monotonic()
    process = start_launcher(folder, shots, name)
    seconds = failure = window_after = None
    try:
        windows = desktop.launcher_windows(timeout=60)
        if not windows:
            return Result(failure="no window")
        window = windows[0]
        window_after = time.monotonic() - started
        origin = desktop.geometry(window)[:2]
        at = lambda p: (origin[0] + p[0], origin[1] + p[1])  # noqa: E731
        if until == "end":
            desktop.wait_until(lambda: max(screen.pixel(*at(TITLE_AREA))) > 60, 30, 0.05)
            if not open_settings(screen, at):
                return Result(failure="the settings page did not open")
        failure = wait_for_end(screen, process, at, origin, until, started, timeout)
        seconds = time.monotonic() - started
        if until == "end" and failure is None:
            failure = back_to_play(screen, at)
        if failure and process.poll() is None:
            failure += what_the_window_showed(screen, window, at, origin, until, shots, name)
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
