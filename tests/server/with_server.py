#!/usr/bin/python3
"""Runs one command beside a fresh local patch server and cleans up after it.

usage: with_server.py COMMAND [ARGS...]

The command sees three environment variables:
  TALVORA_TEST_SERVER       http://127.0.0.1:PORT
  TALVORA_TEST_SERVER_ROOT  the served folder, as a Wine path (Z:\\...); the test fills it
  TALVORA_TEST_SERVER_LOG   the request log (JSON lines), as a Wine path
The exit code is the command's (128 + signal number when it was killed). The command is stopped
after TALVORA_TEST_TIMEOUT seconds (default 280, below ctest's limit) so that the server and the
folder are always removed.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from patch_server import PatchServer  # noqa: E402


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def _kill_group(process):
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def run_command(command, env, timeout):
    """Runs `command` in its own process group; its exit code (124 after the timeout, 128 + n
    when signal n ended it). SIGTERM, SIGINT and SIGHUP take the command down with us."""
    process = None

    def on_signal(signum, _frame):
        if process is not None:
            _kill_group(process)
        raise SystemExit(128 + signum)

    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, on_signal)
    try:
        process = subprocess.Popen(command, env=env, start_new_session=True)
        try:
            code = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            print("%s: still running after %.0f s, killed" % (command[0], timeout),
                  file=sys.stderr)
            return 124
        if code < 0:
            print("%s: ended by signal %d" % (command[0], -code), file=sys.stderr)
            return 128 - code
        return code
    finally:
        if process is not None and process.poll() is None:
            _kill_group(process)
            process.wait()


def run_beside(command, url, root, log):
    """Runs the command with the server's address, folder and log in its environment."""
    env = dict(os.environ,
               TALVORA_TEST_SERVER=url,
               TALVORA_TEST_SERVER_ROOT=wine_path(root),
               TALVORA_TEST_SERVER_LOG=wine_path(log))
    return run_command(command, env, test_timeout())


def test_timeout():
    return float(os.environ.get("TALVORA_TEST_TIMEOUT", "280"))


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    work = tempfile.mkdtemp(prefix="talvora-server-")
    root = os.path.join(work, "root")
    log = os.path.join(work, "requests.log")
    os.mkdir(root)
    open(log, "w").close()
    server = None
    try:
        server = PatchServer(root, log).start()
        return run_beside(argv[1:], server.url, root, log)
    finally:
        if server is not None:
            server.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
