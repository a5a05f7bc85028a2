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
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from desktop import NginxServer  # noqa: E402,F401  (also imported from here by other tests)
from with_server import run_beside  # noqa: E402


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
