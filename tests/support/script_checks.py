"""What the scripted tests share: checks that collect their failures instead of stopping at the
first, and whole-file reads and writes."""

import os

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what, flush=True)
    return condition


def summary(what, passed="all checks passed"):
    """Prints the verdict of the script and returns its exit status."""
    print("%s: %s" % (what, "%d checks failed" % len(failures) if failures else passed))
    return 1 if failures else 0


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()
