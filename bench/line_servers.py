"""bench/line's servers: the line (bench/line_proxy.py) and nginx behind it, or nginx alone on the
launchers' port for the bare loopback."""

import json
import os
import signal
import socket
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
import desktop  # noqa: E402

PYTHON = "/usr/bin/python3"


def port_free(port):
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def start_nginx(root, port, work):
    """Stock nginx serving `root` on `port`, logging every request's status, Range and bytes."""
    folder = tempfile.mkdtemp(prefix="nginx-", dir=work)  # bench/line looks for nginx-*/nginx.pid
    os.chmod(folder, 0o755)
    return desktop.NginxServer(root, folder, port=port,
                               template=os.path.join(HERE, "line-nginx.conf.in")).start()


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
