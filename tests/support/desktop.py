"""The desktop harness of the real-window tests, the benchmarks and the demo driver: real windows
under Xvfb (found, clicked, photographed, closed as a user would), the launcher's layout, and
Debian's nginx serving a folder as the patch server.

Wine shows a captioned Win32 window as an X window of its client area, so X coordinates inside
that window are client coordinates.
"""
import os
import re
import signal
import socket
import subprocess
import time

HERE = os.path.dirname(os.path.abspath(__file__))

# The launcher's window title, and client coordinates fixed by its layout at 900 x 560.
LAUNCHER_TITLE = "Talvora"
PLAY = (750, 398)
PLAY_BODY = (668, 418)        # inside the body, clear of the label
SETTINGS = (750, 455)
WEBSITE = (120, 505)
BACK = (140, 519)             # on the settings page
GAME_CONFIG = (210, 251)
GAME_CONFIG_BODY = (66, 268)  # only the settings page has orange there
FULL_CHECK = (210, 353)
FULL_CHECK_BORDER = (80, 328, 260, 4)  # x, y, w, h: the top edge of "Teljes ellenőrzés"
TITLE_AREA = (450, 60)        # dark until the first frame is painted
OVERALL_BAR_ROW = 418
BAR_X = (61, 635)


def is_orange(rgb):
    """The colour of an enabled PLAY button's body (and of the settings page's game button)."""
    r, g, b = rgb
    return r > 150 and b < 90 and r - b > 90


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


def launcher_windows(timeout=30.0, visible=True, pid=None, alive=None):
    """The launcher's windows (its message boxes carry the same title): see find_windows."""
    return find_windows(LAUNCHER_TITLE, timeout, visible, pid, alive)


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


def click_client(window, point):
    """A click at client coordinates `point` of `window`."""
    x, y, _, _ = geometry(window)
    click(x + point[0], y + point[1])


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


# ---------------------------------------------------------------------------------------------
# nginx serving a folder

NGINX = os.environ.get("TALVORA_NGINX", "/usr/sbin/nginx")
# A benchmark may bring its own configuration (a rate limit, another log format).
TEMPLATE = os.environ.get("TALVORA_NGINX_TEMPLATE") or os.path.join(
    HERE, "..", "server", "nginx.conf.in")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _listening(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.2):
            return True
    except OSError:
        return False


class NginxServer:
    """nginx serving `root` from a configuration in `work`: with `tls` = (certificate file, key
    file) over https; on `port`, or on a free port when it is None; from `template` (@WORK@,
    @ROOT@, @PORT@ and the TLS fields filled in), or TEMPLATE."""

    def __init__(self, root, work, tls=None, port=None, template=None):
        self.root = os.path.abspath(root)
        self.work = work
        self.tls = tls
        self.log = os.path.join(work, "access.log")
        self.port = port
        self._fixed_port = port is not None
        self._template = template or TEMPLATE
        self._process = None

    @property
    def url(self):
        # Wine's WinHTTP matches a certificate by its DNS name, not by an IP address.
        if self.tls:
            return "https://localhost:%d" % self.port
        return "http://127.0.0.1:%d" % self.port

    def _configuration(self):
        with open(self._template) as f:
            text = f.read()
        return (text.replace("@WORK@", self.work).replace("@ROOT@", self.root)
                .replace("@PORT@", str(self.port))
                .replace("@SSL@", " ssl" if self.tls else "")
                .replace("@SSL_CERTIFICATE@",
                         "ssl_certificate %s; ssl_certificate_key %s;" % self.tls
                         if self.tls else ""))

    def start(self):
        # A free port can be taken between the probe and nginx's bind: try a few.
        for _ in range(1 if self._fixed_port else 5):
            if not self._fixed_port:
                self.port = free_port()
            conf = os.path.join(self.work, "nginx.conf")
            with open(conf, "w") as f:
                f.write(self._configuration())
            self._process = subprocess.Popen(
                [NGINX, "-p", self.work, "-c", conf, "-e", os.path.join(self.work, "error.log")],
                stdin=subprocess.DEVNULL, start_new_session=True)
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and self._process.poll() is None:
                if _listening(self.port):
                    return self
                time.sleep(0.05)
            self.stop()
        raise RuntimeError("nginx did not start on port %s: see %s" % (
            self.port, os.path.join(self.work, "error.log")))

    def stop(self):
        if self._process is None:
            return
        if self._process.poll() is None:
            self._process.send_signal(signal.SIGQUIT)  # graceful: finish, then exit
            try:
                self._process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self._process.pid, signal.SIGKILL)
                self._process.wait()
        self._process = None
