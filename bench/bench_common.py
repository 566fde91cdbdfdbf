"""Timing helpers shared by the benchmarks that print one row per workload beside an alternative.

Command line of every script that uses them: [--quick] [--only SUBSTRING]. --quick shortens texts and rounds;
--only keeps the rows whose label contains SUBSTRING (a script then builds only the texts those rows need).
"""
import gc
import sys
import time

QUICK = "--quick" in sys.argv
ROUNDS = 3 if QUICK else 7


def _only():
    args = sys.argv[1:]
    for i, arg in enumerate(args):
        if arg == "--only" and i + 1 < len(args):
            return args[i + 1]
        if arg.startswith("--only="):
            return arg[len("--only="):]
    return None


ONLY = _only()
LABEL_WIDTH = 56


def selected(*labels):
    """Whether any of the labels is to be run (all are without --only)."""
    return ONLY is None or any(ONLY in label for label in labels)


def per_call(fn, min_seconds=0.05, make=None):
    """Seconds per call of fn, over enough calls to last min_seconds, the garbage collector paused as timeit
    pauses it. With make, every call gets a new argument make() built outside the timed region: fn(make()), at
    most three calls (the rounds give the best of several)."""
    gc_was = gc.isenabled()
    gc.disable()
    try:
        if make is not None:
            total, calls = 0.0, 0
            while total < min_seconds and calls < 3:
                arg = make()
                t0 = time.perf_counter()
                fn(arg)
                total += time.perf_counter() - t0
                calls += 1
                del arg
            return total / calls
        number = 1
        while True:
            t0 = time.perf_counter()
            for _ in range(number):
                fn()
            t = time.perf_counter() - t0
            if t >= min_seconds:
                return t / number
            number *= 2 if t * 4 > min_seconds else 8
    finally:
        if gc_was:
            gc.enable()


def interleaved(ours, theirs, rounds=ROUNDS, make=None, budget=5.0):
    """Best time per call of each side, the two measured alternately in every round; rounds after the third
    are left out once the row has taken budget seconds, so that slow rows keep a script to a few minutes."""
    best_ours = best_theirs = float("inf")
    start = time.perf_counter()
    for done in range(rounds):
        if done >= 3 and time.perf_counter() - start > budget:
            break
        best_ours = min(best_ours, per_call(ours, make=make))
        best_theirs = min(best_theirs, per_call(theirs, make=make))
    return best_ours, best_theirs


def row(label, nbytes, ours, theirs, floor, make=None):
    """Times ours beside theirs and prints the ratio theirs / ours against the floor the row aims at; bytes/s
    when nbytes is given, else time per call. Skipped (nothing printed) when --only excludes the label."""
    if not selected(label):
        return None
    t_ours, t_theirs = interleaved(ours, theirs, make=make)
    ratio = t_theirs / t_ours
    if nbytes:
        size = f"{nbytes / t_ours / 1e6:8.1f} MB/s"
    else:
        size = f"{t_ours * 1e6:8.2f} us   " if t_ours < 1e-3 else f"{t_ours * 1e3:8.2f} ms   "
    mark = "ok" if ratio >= floor else "BELOW FLOOR"
    print(f"  {label:<{LABEL_WIDTH}} {size}  alternative {ratio:5.2f}x   floor {floor:.1f}x  {mark}", flush=True)
    return ratio


def quicker_count(rx, sample):
    """Of the two ways a user counts a compiled pattern's matches (len of findall, a loop over finditer), the
    quicker on texts like sample, as a function of the text."""
    def by_findall(text):
        return len(rx.findall(text))

    def by_iter(text):
        return sum(1 for _ in rx.finditer(text))

    t_a, t_b = interleaved(lambda: by_findall(sample), lambda: by_iter(sample), rounds=1 if QUICK else 2)
    return by_findall if t_a <= t_b else by_iter


def loop_of_parse_string(parse, items):
    """A sequence grammar's parse_batch written as a loop: one token list per item, empty where parse_string
    raises."""
    out = []
    for s in items:
        try:
            out.append(parse(s))
        except ValueError:
            out.append([])
    return out


def flatten(found):
    """re.findall's group tuples as the flat token list of a sequence grammar (empty groups give no token)."""
    return [part for groups in found for part in groups if part]
