#!/usr/bin/python3
"""Runs one command beside Debian's nginx serving a folder on a free 127.0.0.1 port.

usage: with_nginx.py [--root DIR] COMMAND [ARGS...]

Without --root a fresh empty folder is served and removed afterwards. The command sees the same
variables as under with_server.py: TALVORA_TEST_SERVER, TALVORA_TEST_SERVER_ROOT and
TALVORA_TEST_SERVER_LOG (nginx's access log, one JSON line per request), the paths as Wine paths.
nginx runs with `daemon off` from a configuration in a temporary folder and is stopped afterwards,
also when the command fails or times out.
"""

import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from with_server import run_beside  # noqa: E402

NGINX = os.environ.get("TALVORA_NGINX", "/usr/sbin/nginx")
# A benchmark may bring its own configuration (a rate limit, another log format).
TEMPLATE = os.environ.get("TALVORA_NGINX_TEMPLATE") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "nginx.conf.in")


def _free_port():
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
    """nginx serving `root`; with `tls` = (certificate file, key file) over https."""

    def __init__(self, root, work, tls=None):
        self.root = os.path.abspath(root)
        self.work = work
        self.tls = tls
        self.log = os.path.join(work, "access.log")
        self.port = None
        self._process = None

    @property
    def url(self):
        # Wine's WinHTTP matches a certificate by its DNS name, not by an IP address.
        if self.tls:
            return "https://localhost:%d" % self.port
        return "http://127.0.0.1:%d" % self.port

    def start(self):
        # A port can be taken between the probe and nginx's bind: try a few.
        for _ in range(5):
            self.port = _free_port()
            conf = os.path.join(self.work, "nginx.conf")
            with open(TEMPLATE) as f:
                text = f.read()
            text = (text.replace("@WORK@", self.work).replace("@ROOT@", self.root)
                    .replace("@PORT@", str(self.port))
                    .replace("@SSL@", " ssl" if self.tls else "")
                    .replace("@SSL_CERTIFICATE@",
                             "ssl_certificate %s; ssl_certificate_key %s;" % self.tls
                             if self.tls else ""))
            with open(conf, "w") as f:
                f.write(text)
            self._process = subprocess.Popen(
                [NGINX, "-p", self.work, "-c", conf, "-e", os.path.join(self.work, "error.log")],
                stdin=subprocess.DEVNULL, start_new_session=True)
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and self._process.poll() is None:
                if _listening(self.port):
                    return self
                time.sleep(0.05)
            self.stop()
        raise RuntimeError("nginx did not start: see " + os.path.join(self.work, "error.log"))

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


def main(argv):
    args = argv[1:]
    root = None
    if len(args) >= 2 and args[0] == "--root":
        root, args = args[1], args[2:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    work = tempfile.mkdtemp(prefix="talvora-nginx-")
    # nginx's workers may run as another user (nobody when started as root): let them read.
    os.chmod(work, 0o755)
    if root is None:
        root = os.path.join(work, "root")
        os.mkdir(root)
    open(os.path.join(work, "access.log"), "w").close()
    server = None
    try:
        server = NginxServer(root, work).start()
        return run_beside(args, server.url, root, server.log)
    finally:
        if server is not None:
            server.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
