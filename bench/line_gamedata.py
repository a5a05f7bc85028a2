"""bench/line's packs of real game data: packages from Debian's archive (bench/gamedata), published
raw and with --compress, and a pack of random bytes that must not shrink."""

import os
import random
import re
import subprocess

from line_install import MIB, write

HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGES = ("wesnoth-1.16-data", "supertux-data")
RANDOM_FILES, RANDOM_BYTES = 48, 48 * MIB
# Names every host serves as they stand; a package's other files are left out of the pack.
PLAIN = re.compile(r"^[A-Za-z0-9_+-][A-Za-z0-9._+-]*$")


def fetch_packages():
    """The unpacked packages' folders, or None when the archive could not be reached."""
    try:
        out = subprocess.run([os.path.join(HERE, "gamedata"), *PACKAGES], check=True,
                             capture_output=True, text=True).stdout
    except subprocess.CalledProcessError as e:
        return None, e.stderr.strip()
    return out.split(), None


def link_tree(sources, client):
    """Hard links of every plainly named file of the packages below `client`, one folder a
    package; names that differ only in case are taken once. (files, bytes)."""
    seen, files, total = set(), 0, 0
    for source in sources:
        top = os.path.basename(source)
        for folder, dirs, names in os.walk(source):
            dirs[:] = sorted(d for d in dirs if PLAIN.match(d))
            for name in sorted(names):
                path = os.path.join(folder, name)
                rel = os.path.join(top, os.path.relpath(path, source))
                if not PLAIN.match(name) or os.path.islink(path) or rel.lower() in seen:
                    continue
                seen.add(rel.lower())
                target = os.path.join(client, rel)
                os.makedirs(os.path.dirname(target), exist_ok=True)
                os.link(path, target)
                files += 1
                total += os.path.getsize(path)
    return files, total


def publish_pack(tool, work, port, pack, compress):
    out = os.path.join(work, "manifests", pack + ".txt")
    args = [tool, "manifest", os.path.join(work, "srv", "pack", pack), "--base",
            "http://127.0.0.1:%d/pack/%s/" % (port, pack), "--version", "bench",
            "--blocks-min", "0", "--out", out]
    summary = subprocess.run(args + (["--compress"] if compress else []), check=True,
                             capture_output=True, text=True).stdout.strip()
    return out, summary


def wire_bytes(manifest):
    """Bytes a launcher that takes the copies fetches: each copy, else the raw file. (bytes,
    copies)."""
    total, copies = 0, 0
    with open(manifest, encoding="utf-8") as f:
        for line in f.read().splitlines():
            fields = line.split("\t")
            if len(fields) < 3 or fields[0] in ("VERSION", "BASE", "EXPIRES"):
                continue
            if len(fields) >= 6 and fields[3] == "ZLIB":
                total, copies = total + int(fields[4]), copies + 1
            else:
                total += int(fields[1])
    return total, copies


def prepare(tool, work, port):
    """Publishes gd-raw and gd-z (the same files, raw and with copies) and the random pack both
    ways; returns a dict of what row 4 needs, or None with the reason."""
    sources, why = fetch_packages()
    if sources is None:
        return None, why
    srv = os.path.join(work, "srv", "pack")
    info = {"manifests": {}}
    for pack in ("gd-raw", "gd-z"):
        info["files"], info["raw_bytes"] = link_tree(sources, os.path.join(srv, pack))
    rng = random.Random(41)
    for pack in ("rnd-raw", "rnd-z"):
        rng.seed(41)
        for i in range(RANDOM_FILES):
            write(os.path.join(srv, pack, "data", "r%02d.bin" % i),
                  rng.randbytes(RANDOM_BYTES // RANDOM_FILES))
    # One small file up to date: the launcher's own start, from wine to PLAY, over the line.
    write(os.path.join(srv, "one", "a.bin"), rng.randbytes(4096))
    os.makedirs(os.path.join(work, "tmpl", "one-uptodate"), exist_ok=True)
    os.link(os.path.join(srv, "one", "a.bin"), os.path.join(work, "tmpl", "one-uptodate", "a.bin"))
    for pack, compress in (("gd-raw", False), ("gd-z", True), ("rnd-raw", False),
                           ("rnd-z", True), ("one", False)):
        info["manifests"][pack], info[pack + "-summary"] = publish_pack(tool, work, port, pack,
                                                                        compress)
    info["z_wire"], info["copies"] = wire_bytes(info["manifests"]["gd-z"])
    info["rnd_copies"] = wire_bytes(info["manifests"]["rnd-z"])[1]
    info["rnd_same"] = same_lines(info["manifests"]["rnd-raw"], info["manifests"]["rnd-z"])
    os.makedirs(os.path.join(work, "tmpl", "empty"), exist_ok=True)
    return info, None


def same_lines(a, b):
    """The two manifests list the same files the same way (their BASE aside)."""
    def lines(path):
        with open(path, encoding="utf-8") as f:
            return [l.split("\t", 1)[1] for l in f.read().splitlines()
                    if not l.startswith(("BASE", "VERSION"))]
    return lines(a) == lines(b)
