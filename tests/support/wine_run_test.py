#!/usr/bin/python3
"""wine-run's start rule: a test program that ends without having started (Wine failed to bring the
process up) is started again, at most three times in all, and said so; a test program that started
and then failed is run once only; the exit status always reaches the caller.

usage: wine_run_test.py WINE_RUN TEST_PROGRAM NON_TEST_PROGRAM
"""

import subprocess
import sys

wine_run, test_program, non_test_program = sys.argv[1:4]
failures = []


def run(*args):
    done = subprocess.run([wine_run, "--test", *args], capture_output=True, text=True,
                          timeout=240)
    notes = [line for line in done.stderr.splitlines() if line.startswith("wine-run:")]
    return done.returncode, done.stdout, notes


def check(condition, what):
    if not condition:
        failures.append(what)


code, out, notes = run(test_program, "--gtest_filter=Sha256RestOfFileHex.KnownVectors")
check(code == 0 and "[  PASSED  ] 1 test" in out and notes == [],
      "a passing test: %d %r" % (code, notes))

# Started, then failed (gtest stops at a flag file it cannot read): never run twice.
code, out, notes = run(test_program, "--gtest_flagfile=Z:\\no\\such\\flags.txt")
check(code != 0 and len(notes) == 1 and "ended with status %d" % code in notes[0]
      and "never started" not in notes[0], "a test that started and failed: %d %r" % (code, notes))

# A program that never marks its start stands for a process Wine did not bring up.
code, out, notes = run(non_test_program)
check(code == 2, "the status reaches the caller: %d" % code)
check(len(notes) == 3 and all("starting it again" in note for note in notes[:2])
      and "ended with status 2 and never started" in notes[2],
      "a start that failed is tried three times: %r" % notes)

for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
