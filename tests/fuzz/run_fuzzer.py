#!/usr/bin/env python3
"""Runs one fuzz target for a bounded time over a scratch copy of its seed corpus.

usage: run_fuzzer.py TARGET FUZZ_DIR NAME SECONDS [KEEP_DIR]

The seeds (and every earlier finding, kept beside them as a regression input) run first; then the
target mutates for SECONDS. Any crash, leak, sanitizer report, timeout or broken property fails the
run, and the input that did it is copied into KEEP_DIR (default: the current folder) to be added to
the corpus once it is fixed. New inputs found on the way stay in KEEP_DIR/NAME-corpus.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile


def main():
    target, fuzz_dir, name, seconds = sys.argv[1:5]
    keep = sys.argv[5] if len(sys.argv) > 5 else os.getcwd()
    seeds = os.path.join(fuzz_dir, "corpus", name)
    dictionary = os.path.join(fuzz_dir, name + ".dict")
    found = os.path.join(keep, name + "-corpus")
    os.makedirs(found, exist_ok=True)
    with tempfile.TemporaryDirectory() as scratch:
        work = os.path.join(scratch, "corpus")
        shutil.copytree(seeds, work)
        args = [target, work, found, "-max_total_time=" + seconds, "-timeout=10",
                "-rss_limit_mb=2048", "-max_len=16384", "-print_final_stats=1",
                "-artifact_prefix=" + scratch + "/"]
        if os.path.exists(dictionary):
            args.append("-dict=" + dictionary)
        run = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                             errors="replace")
        artifacts = [f for f in os.listdir(scratch) if f != "corpus"]
        for artifact in artifacts:
            shutil.copy(os.path.join(scratch, artifact), os.path.join(keep, name + "-" + artifact))
    lines = run.stdout.splitlines()
    done = [l for l in lines if " DONE " in l] or [l for l in lines if re.match(r"#\d+", l)][-1:]
    stats = [l for l in lines if l.startswith("stat::")]
    if run.returncode != 0 or artifacts:
        print("\n".join(lines[-60:]))
        print("fuzz target %s FAILED (exit %d); input kept in %s" % (name, run.returncode, keep))
        return 1
    print("\n".join(done + stats))
    return 0


if __name__ == "__main__":
    sys.exit(main())
