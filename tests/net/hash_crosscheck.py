#!/usr/bin/env python3
"""Compares the launcher's SHA-256 with the host's sha256sum on generated files."""
import os
import random
import subprocess
import sys
import tempfile

wine_run, probe = sys.argv[1], sys.argv[2]
sizes = [0, 1, 55, 64, 1048575, 1048576, 1048577, 2 * 1048576, 5 * 1048576 + 17]
rng = random.Random(20261207)

with tempfile.TemporaryDirectory(prefix="talvora-hash-") as folder:
    paths = []
    for size in sizes:
        path = os.path.join(folder, f"f{size}.bin")
        with open(path, "wb") as f:
            f.write(rng.randbytes(size))
        paths.append(path)
    expected = [line.split()[0] for line in
                subprocess.run(["sha256sum", *paths], check=True, capture_output=True,
                               text=True).stdout.splitlines()]
    winpaths = ["Z:" + p.replace("/", "\\") for p in paths]
    out = subprocess.run([wine_run, probe, *winpaths], check=True, capture_output=True, text=True)
    got = [line.strip() for line in out.stdout.splitlines() if line.strip()]
    failures = 0
    for size, want, have in zip(sizes, expected, got):
        if want != have:
            print(f"size {size}: sha256sum {want}, launcher {have}")
            failures += 1
    if len(got) != len(sizes):
        print(f"expected {len(sizes)} digests, got {len(got)}: {out.stdout!r}")
        failures += 1
    print(f"{len(sizes) - failures} of {len(sizes)} digests agree with sha256sum")
    sys.exit(1 if failures else 0)
