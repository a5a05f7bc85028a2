"""bench/line's installations: the pack on the server, stale and up-to-date copies of it made
from the same seed on every run, their manifests, and the check that a run left every file right.
"""

import hashlib
import os
import random
import shutil
import subprocess

MIB = 1 << 20

# The stale installation: 1,000 files, 378 MiB; 200 of them, 70 MiB, to fetch.
FILES, STALE = 1000, 200
TOTAL_BYTES, STALE_BYTES = 378 * MIB, 70 * MIB
KINDS = {"changed": 80, "resized": 60, "missing": 60}
BIG_BYTES = 256 * MIB


def lognormal_sizes(rng, count, total):
    weights = [rng.lognormvariate(0, 1.1) for _ in range(count)]
    scale = total / sum(weights)
    sizes = [max(1, int(w * scale)) for w in weights]
    sizes[sizes.index(max(sizes))] += total - sum(sizes)
    return sizes


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def old_copy(rng, kind, new):
    """What a stale installation holds instead of `new`: None when the file is missing."""
    if kind == "missing":
        return None
    if kind == "changed":  # same size, a few bytes differ
        old = bytearray(new)
        for _ in range(4):
            at = rng.randrange(len(old))
            old[at] ^= 0xA5
        return bytes(old)
    # resized: an older, shorter or longer build of the file
    if rng.random() < 0.5 and len(new) > 1:
        return new[: len(new) * 3 // 4]
    return new + rng.randbytes(max(1, len(new) // 5))


def generate(work):
    """Deterministic: the same folders, sizes, states and bytes on every run."""
    rng = random.Random(23)
    srv = os.path.join(work, "srv", "pack")
    tmpl = os.path.join(work, "tmpl")
    stale_sizes = lognormal_sizes(rng, STALE, STALE_BYTES)
    fresh_sizes = lognormal_sizes(rng, FILES - STALE, TOTAL_BYTES - STALE_BYTES)
    kinds = [k for k, n in KINDS.items() for _ in range(n)]
    rng.shuffle(kinds)
    slots = [("fresh", s) for s in fresh_sizes] + list(zip(kinds, stale_sizes))
    rng.shuffle(slots)
    tops = ["data", "maps", "sound", "textures", "video"]
    by_kind = {k: 0 for k in KINDS}
    for i, (kind, size) in enumerate(slots):
        parts = [tops[i % 5], "set%d" % ((i // 5) % 6)]
        if i % 3:
            parts.append("part%d" % ((i // 30) % 4))
        rel = "/".join(parts + ["file%04d.pak" % i])
        new = rng.randbytes(size)
        server_file = os.path.join(srv, "client", rel)
        write(server_file, new)
        for state in ("uptodate", "stale"):
            os.makedirs(os.path.dirname(os.path.join(tmpl, state, rel)), exist_ok=True)
        os.link(server_file, os.path.join(tmpl, "uptodate", rel))
        if kind == "fresh":
            os.link(server_file, os.path.join(tmpl, "stale", rel))
            continue
        by_kind[kind] += size
        old = old_copy(rng, kind, new)
        if old is not None:
            write(os.path.join(tmpl, "stale", rel), old)

    # The same stale bytes in one file per kind: what those bytes cost without 197 more files.
    for kind, size in by_kind.items():
        new = rng.randbytes(size)
        server_file = os.path.join(srv, "few", kind + ".pak")
        write(server_file, new)
        os.makedirs(os.path.join(tmpl, "few-uptodate"), exist_ok=True)
        os.link(server_file, os.path.join(tmpl, "few-uptodate", kind + ".pak"))
        old = old_copy(rng, kind, new)
        if old is not None:
            write(os.path.join(tmpl, "few-stale", kind + ".pak"), old)
    os.makedirs(os.path.join(tmpl, "few-stale"), exist_ok=True)

    # One large file, not yet installed.
    os.makedirs(os.path.join(srv, "big"))
    with open(os.path.join(srv, "big", "big.pak"), "wb") as f:
        for at in range(0, BIG_BYTES, 16 * MIB):
            f.write(rng.randbytes(min(16 * MIB, BIG_BYTES - at)))
    os.makedirs(os.path.join(tmpl, "big"))

    with open(os.path.join(srv, "launcher_version.txt"), "w") as f:
        f.write("VERSION\t1\nSHA256\t" + "0" * 64 + "\nURL\thttp://127.0.0.1:9/x.exe\n")
    return by_kind


def publish(tool, work, port):
    """One manifest per pack, whole files only (no block indexes), as the launcher reads it."""
    manifests = {}
    for pack in ("client", "few", "big"):
        out = os.path.join(work, "manifests", pack + ".txt")
        os.makedirs(os.path.dirname(out), exist_ok=True)
        subprocess.run([tool, "manifest", os.path.join(work, "srv", "pack", pack), "--base",
                        "http://127.0.0.1:%d/pack/%s/" % (port, pack), "--version", "bench",
                        "--blocks-min", "0", "--out", out], check=True, stdout=subprocess.DEVNULL)
        manifests[pack] = out
    return manifests


def read_manifest(path):
    base, entries = None, []
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            fields = line.split("\t")
            if fields[0] == "BASE":
                base = fields[1]
            elif len(fields) >= 3 and fields[0] not in ("VERSION", "EXPIRES"):
                entries.append((fields[0], int(fields[1]), fields[2]))
    return base, entries


def serve_manifest(work, manifests, pack):
    target = os.path.join(work, "srv", "pack", "patch_manifest.txt")
    shutil.copyfile(manifests[pack], target + ".tmp")
    os.replace(target + ".tmp", target)
    return read_manifest(manifests[pack])


def sha256_file(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            block = f.read(4 * MIB)
            if not block:
                return h.hexdigest()
            h.update(block)


def up_to_date(folder, entries):
    """None when every listed file has its digest and no staging file is left; else why not."""
    wrong = [rel for rel, size, digest in entries
             if not os.path.isfile(os.path.join(folder, rel))
             or os.path.getsize(os.path.join(folder, rel)) != size
             or sha256_file(os.path.join(folder, rel)) != digest]
    if wrong:
        return "%d of %d files not up to date (first: %s)" % (len(wrong), len(entries), wrong[0])
    left = [n for _, _, names in os.walk(folder) for n in names if n.endswith((".part", ".new"))]
    if left:
        return "left behind: %s" % left[:3]
    return None


class Runs:
    """Fresh copies of a template installation, made before a clock starts."""

    def __init__(self, work):
        self.root = os.path.join(work, "runs")
        self.count = 0

    def fresh(self, template, exe=None):
        self.count += 1
        # A new folder every time: a launcher that was just ended holds nothing of it.
        folder = os.path.join(self.root, "r%03d" % self.count)
        subprocess.run(["cp", "-r", template, folder], check=True)
        if exe:
            shutil.copy(exe, os.path.join(folder, "Talvora.exe"))
        os.sync()  # an old installation has long been on the disk: the run must not write it out
        return folder

    @staticmethod
    def done(folder):
        shutil.rmtree(folder, ignore_errors=True)
