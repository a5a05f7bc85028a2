"""bench/line's printed figures: one line each, with the reference of the same run and the ratio."""

import os
import statistics


def log(*args):
    print(*args, flush=True)


def summary(results):
    """(the best time, 'best X s, median Y s (n runs)'); (None, FAILED ...) when any run failed.
    Ratios use the best runs: on a shared machine, other work only ever adds time."""
    bad = [r for r in results if not r.ok]
    if bad:
        return None, "FAILED (%d of %d runs): %s" % (len(bad), len(results), bad[0].failure)
    times = [r.seconds for r in results]
    if len(times) == 1:
        return times[0], "%.2f s (1 run)" % times[0]
    return min(times), "best %.2f s, median %.2f s (%d runs)" % (
        min(times), statistics.median(times), len(times))


def machine_load():
    with open("/proc/loadavg") as f:
        return "load average %s (1, 5, 15 min) on %d cores" % (
            ", ".join(f.read().split()[:3]), os.cpu_count())


def goal(text, met):
    return "  goal: %s: %s" % (text, "met" if met else "MISSED")


def ratio(a, b):
    return a / b if a is not None and b else None


def fmt_ratio(value):
    return "n/a" if value is None else "%.2fx" % value
