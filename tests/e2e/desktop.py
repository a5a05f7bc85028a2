"""Real windows under Xvfb: find them, click them, photograph them, close them as a user would.

Wine shows a captioned Win32 window as an X window of its client area, so X coordinates inside
that window are client coordinates.
"""
import os
import re
import subprocess
import time


def run(*args, check=True):
    return subprocess.run(args, check=check, capture_output=True, text=True).stdout


def find_windows(title, timeout=30.0, visible=True, pid=None, alive=None):
    """X window ids whose name is exactly `title`, waiting until at least one exists. With `pid`,
    only those of that process (Wine names it in _NET_WM_PID): X reuses the ids of a program
    that has ended for the next one. With `alive`, the wait also ends once it returns False."""
    deadline = time.monotonic() + timeout
    while True:
        args = ["xdotool", "search"]
        if visible:
            args.append("--onlyvisible")
        if pid is not None:
            args += ["--all", "--pid", str(pid)]  # without --all, either one would do
        args += ["--name", "^" + re.escape(title) + "$"]
        out = run(*args, check=False)
        ids = [int(line) for line in out.split()]
        if ids or time.monotonic() > deadline or (alive is not None and not alive()):
            return ids
        time.sleep(0.1)


def geometry(window):
    """(x, y, width, height) of the X window on the screen."""
    out = run("xwininfo", "-id", str(window))
    values = {}
    for key, label in (("x", "Absolute upper-left X"), ("y", "Absolute upper-left Y"),
                       ("w", "Width"), ("h", "Height")):
        match = re.search(label + r":\s+(-?\d+)", out)
        values[key] = int(match.group(1)) if match else None
    return values["x"], values["y"], values["w"], values["h"]


def move_pointer(x, y):
    run("xdotool", "mousemove", str(x), str(y))


def click(x, y):
    run("xdotool", "mousemove", str(x), str(y), "click", "1")


def screenshot(path, box=None):
    """Whole screen, or the (x, y, w, h) box of it, as a PNG."""
    full = path + ".full.png"
    run("import", "-window", "root", full)
    if box:
        x, y, w, h = box
        run("convert", full, "-crop", f"{w}x{h}+{x}+{y}", "+repage", path)
        os.remove(full)
    else:
        os.replace(full, path)
    return path


def pixel(path, x, y):
    """(r, g, b) of one pixel of a PNG."""
    out = run("convert", path, "-format", f"%[fx:int(255*p{{{x},{y}}}.r)],"
              f"%[fx:int(255*p{{{x},{y}}}.g)],%[fx:int(255*p{{{x},{y}}}.b)]", "info:")
    r, g, b = (int(v) for v in out.strip().split(","))
    return r, g, b


def close_window(window):
    """Sends WM_DELETE_WINDOW, which Wine turns into WM_CLOSE, as the close button would.

    The round trip at the end is what makes the request count: a connection closed right after
    a flush, with anything it has not read yet, reaches the X server as a reset, and the server
    then drops the requests it had not handled, the SendEvent among them (a third of them here
    under load). The launcher never heard of those closes and simply kept running."""
    from Xlib import X, display, protocol  # python3-xlib

    d = display.Display()
    try:
        target = d.create_resource_object("window", window)
        wm_protocols = d.intern_atom("WM_PROTOCOLS")
        wm_delete = d.intern_atom("WM_DELETE_WINDOW")
        event = protocol.event.ClientMessage(window=target, client_type=wm_protocols,
                                             data=(32, [wm_delete, X.CurrentTime, 0, 0, 0]))
        target.send_event(event, event_mask=X.NoEventMask)
        d.sync()
    finally:
        d.close()


def wait_until(condition, timeout, interval=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(interval)
    return bool(condition())
