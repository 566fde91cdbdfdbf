"""Batches of distinct strs: each batch method beside the Python loop it replaces, on the same list.

Every row is one list of 1,000,000 distinct str objects (lines as a file or a split text gives them: each item
its own object, read once). The ratio is loop time / quillex time, so above 1 means the batch method is faster;
both sides are timed in the same run, interleaved, best of several runs, garbage collector paused as timeit
pauses it. Every answer is compared with the loop's before anything is timed.

Not a test: prints figures. Run: PYTHONPATH=build/release /usr/bin/python3 bench/bench_batch.py [--quick]
"""
import gc
import random
import re
import sys
import time

import quillex as q

QUICK = "--quick" in sys.argv
N = 200_000 if QUICK else 1_000_000
RUNS = 3 if QUICK else 7


def word_lines(n, seed=1):
    """Items like 'word123 tail', '4711 word', '-word': a third start with a letter, a third with a digit and a
    third with punctuation, every one a distinct object."""
    rnd = random.Random(seed)
    letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
    out = []
    for i in range(n):
        word = "".join(rnd.choice(letters) for _ in range(rnd.randint(2, 8)))
        shape = i % 3
        if shape == 0:
            out.append(f"{word}{i} tail")
        elif shape == 1:
            out.append(f"{i} {word}")
        else:
            out.append(f"-{word}")
    return out


def key_value_lines(n, seed=2):
    """Lines like 'key=some value': most match, one in eight is a comment or lacks its '='."""
    rnd = random.Random(seed)
    keys = ["name", "path", "user", "mode", "level", "colour", "size", "timeout"]
    out = []
    for i in range(n):
        key = rnd.choice(keys)
        if i % 8 == 7:
            out.append(f"# {key} {i}" if i % 16 == 7 else f"{key} {i}")
        else:
            out.append(f"{key}=some value {i}")
    return out


def timed(fn):
    gc_was = gc.isenabled()
    gc.disable()
    try:
        start = time.perf_counter()
        result = fn()
        elapsed = time.perf_counter() - start
    finally:
        if gc_was:
            gc.enable()
    del result
    return elapsed


def best_of_turns(*fns):
    """Best time of each function, run in turns so that all see the same machine."""
    best = [float("inf")] * len(fns)
    for _ in range(RUNS):
        for k, fn in enumerate(fns):
            best[k] = min(best[k], timed(fn))
    return best


def row(label, floor, call, items, loop, identity_route=True):
    """call(items) beside loop(items). With `identity_route`, also call(items) while a second list holds every
    item, so that no item is held by its slot alone: the route through the identity tables, for comparison."""
    t_fast, t_loop = best_of_turns(lambda: call(items), lambda: loop(items))
    r = t_loop / t_fast
    verdict = "ok" if r >= floor else "BELOW FLOOR"
    note = ""
    if identity_route:
        expected = call(items)
        held = list(items)
        assert call(items) == expected, label
        del expected
        (t_plain,) = best_of_turns(lambda: call(items))
        del held
        note = f"  identity route {t_plain * 1e3:7.1f} ms"
    print(f"  {label:<46} {t_fast * 1e3:7.1f} ms  loop {t_loop * 1e3:7.1f} ms  {r:5.2f}x "
          f"(floor {floor:g}x: {verdict}){note}")


def main():
    words = word_lines(N)
    lines = key_value_lines(N)
    print(f"{N:,} distinct str objects per list; ratio = loop time / quillex time")

    alpha = q.Word(q.alphas())
    rx_alpha = re.compile("[a-zA-Z]+")
    digits = q.Regex("[0-9]+")
    rx_digits = re.compile("[0-9]+")
    kv = q.Word(q.alphas()) + q.Literal("=") + q.Regex("[^\n]*")
    rx_kv = re.compile("([a-zA-Z]+)(=)([^\n]*)")
    ab = q.Literal("ab")
    ab_items = [("ab" if i % 2 else "xy") + s for i, s in enumerate(words)]

    def flat(rx, items):
        return [m.group() for m in map(rx.match, items) if m]

    def count(rx, items):
        return sum(1 for m in map(rx.match, items) if m)

    def groups(items):
        return [[*m.groups()] if m else [] for m in map(rx_kv.match, items)]

    # Answers first. The And's last child consumes text on every matching line here, so its tokens are the
    # three groups.
    assert alpha.parse_batch(words) == flat(rx_alpha, words)
    assert digits.parse_batch(words) == flat(rx_digits, words)
    assert kv.parse_batch(lines) == groups(lines)
    assert alpha.parse_batch_count(words) == count(rx_alpha, words)
    assert digits.parse_batch_count(words) == count(rx_digits, words)
    assert kv.parse_batch_count(lines) == count(rx_kv, lines)
    ab_lists = ab.parse_batch(ab_items)
    assert ab_lists == [["ab"] if s.startswith("ab") else [] for s in ab_items]
    del ab_lists
    assert ab.parse_batch_count(ab_items) == sum(1 for s in ab_items if s.startswith("ab"))

    M, F = ["ab"], []
    row("Word(alphas()).parse_batch", 2, alpha.parse_batch, words, lambda L: flat(rx_alpha, L))
    row("Regex('[0-9]+').parse_batch", 1.5, digits.parse_batch, words, lambda L: flat(rx_digits, L))
    row("And(Word, '=', Regex('[^\\n]*')).parse_batch", 1.2, kv.parse_batch, lines, groups)
    row("Word(alphas()).parse_batch_count", 6, alpha.parse_batch_count, words, lambda L: count(rx_alpha, L))
    row("Regex('[0-9]+').parse_batch_count", 2, digits.parse_batch_count, words, lambda L: count(rx_digits, L))
    row("And(Word, '=', Regex('[^\\n]*')).parse_batch_count", 2.5, kv.parse_batch_count, lines,
        lambda L: count(rx_kv, L))
    # Literal keeps no identity table: only the previous item is remembered.
    row("Literal('ab').parse_batch", 7, ab.parse_batch, ab_items,
        lambda L: [M if s.startswith("ab") else F for s in L], identity_route=False)
    row("Literal('ab').parse_batch_count", 5, ab.parse_batch_count, ab_items,
        lambda L: sum(1 for s in L if s.startswith("ab")), identity_route=False)

if __name__ == "__main__":
    main()
