#!/usr/bin/env python3
"""A manifest written by talvora-publish (native) and read by the launcher's parser (under Wine)
gives back every file of the tree: path, size, digest, the fetch-only-when-missing mark and the
block-index mark of large files, with
'/' between folders by default and '\\' when asked for; with --compress, the compressed copy of
each file that shrinks (and only those), whose bytes inflate to the file."""
import hashlib
import os
import subprocess
import sys
import tempfile
import zlib

wine_run, probe, publish = sys.argv[1:4]
if not os.path.exists(publish):
    print(f"talvora-publish not built at {publish}")
    sys.exit(1)

tree = {
    "game.bin": os.urandom(70_000),
    "data/maps/árvíztűrő.map": os.urandom(1_048_577),
    "data/maps/empty.map": b"",
    "data/textures/a b c.tex": os.urandom(4096),
    "config/settings.ini": b"[video]\nwidth=1280\n",
    "config/keys.ini": b"jump=space\n",
    "sound/deep/er/still/x.ogg": os.urandom(12345),
    "data/lang/hu.txt": "árvíztűrő tükörfúrógép\n".encode() * 3000,
}
# Files whose zlib copy saves at least 5 % and that travel whole.
SHRINKS = {"data/lang/hu.txt"}
base = "http://127.0.0.1:8080/pack/client/"


def read_back(separator_args):
    """What the launcher's parser reads from a manifest published with these arguments, and the
    compressed copies written beside the files."""
    with tempfile.TemporaryDirectory(prefix="talvora-roundtrip-") as work:
        client = os.path.join(work, "client")
        for rel, data in tree.items():
            path = os.path.join(client, *rel.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        manifest = os.path.join(work, "patch_manifest.txt")
        subprocess.run([publish, "manifest", client, "--base", base, "--version", "7",
                        "--if-missing", "config/*.ini", "--blocks-min", "1048576", "--out",
                        manifest, *separator_args],
                       check=True)
        copies = {}
        for rel in tree:
            copy = os.path.join(client, *rel.split("/")) + ".zlib"
            if os.path.exists(copy):
                with open(copy, "rb") as f:
                    copies[rel] = f.read()
        out = subprocess.run([wine_run, probe, "Z:" + manifest.replace("/", "\\")], check=True,
                             capture_output=True, text=True).stdout
        return out, copies


failures = []
runs = (("/", []), ("\\", ["--separator", "backslash"]), ("/", ["--compress"]))
for separator, args in runs:
    out, copies = read_back(args)
    compress = "--compress" in args
    if compress:
        for rel, copy in copies.items():
            if zlib.decompress(copy) != tree[rel]:
                failures.append(f"{rel}: its copy does not inflate to the file")
    lines = [line.rstrip("\r") for line in out.splitlines() if line.strip()]
    if "result\t1" not in lines:
        failures.append(f"{separator}: the launcher rejected the manifest")
    base_hex = next((l.split("\t", 1)[1] for l in lines if l.startswith("base\t")), "")
    if base_hex != "".join(f"{ord(c):04x}" for c in base):
        failures.append(f"{separator}: base came back as {base_hex}")
    seen = {}
    for line in lines:
        if line.startswith("entry\t"):
            _, path_hex, size, digest, if_missing, blocks, copy_size = line.split("\t")
            seen[bytes.fromhex(path_hex).decode("utf-8")] = (int(size), digest, if_missing == "1",
                                                             blocks == "1", int(copy_size))
    expected = {rel.replace("/", separator): (len(data), hashlib.sha256(data).hexdigest(),
                                              rel.startswith("config/"), len(data) >= 1048576,
                                              len(copies[rel]) if rel in copies else 0)
                for rel, data in tree.items()}
    if set(copies) != (SHRINKS if compress else set()):
        failures.append(f"{args}: copies written for {sorted(copies)}")
    for rel, want in expected.items():
        if seen.get(rel) != want:
            failures.append(f"{rel}: expected {want}, launcher read {seen.get(rel)}")
    for rel in seen.keys() - expected.keys():
        failures.append(f"unexpected entry {rel}")
for f in failures:
    print(f)
print(f"{len(runs) * len(tree) - len(failures)} of {len(runs) * len(tree)} entries came back intact")
sys.exit(1 if failures else 0)
