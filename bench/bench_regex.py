"""Throughput of the Regex, QuotedString and caseless methods.

Not a test: prints figures. Every answer is checked before anything is timed. First the rows with a floor:
Regex beside what a Python user would write instead (the `regex` module where it imports, and `re`), timed
interleaved in this one process, as ratios (alternative's time / quillex's time; above 1 quillex is faster).
Then each row gives the method's own body, the stdlib baseline (`re`, or a str method) and the common routine
on the same input (the element wrapped in a Group, whose methods run the common scan over try_match_at), in
MB/s of UTF-8 input.
Run: PYTHONPATH=build/release /usr/bin/python3 bench/bench_regex.py [--quick]
"""
import random
import re
import sys
import time
import timeit

import quillex as q

try:
    import regex
except ImportError:  # the rows then stand beside `re` alone
    regex = None

QUICK = "--quick" in sys.argv


def interleaved(fns, rounds=7):
    """The best time of each callable, the callables timed in turn in every round."""
    best_times = [float("inf")] * len(fns)
    for _ in range(3 if QUICK else rounds):
        for i, fn in enumerate(fns):
            t0 = time.perf_counter()
            fn()
            best_times[i] = min(best_times[i], time.perf_counter() - t0)
    return best_times


def ratio_row(label, floor, own, alternatives, rounds=7):
    """own: callable; alternatives: [(name, callable)], answers already compared. Prints each time and the
    ratio to the fastest alternative beside the floor (None: a row without one)."""
    times = interleaved([own] + [fn for _, fn in alternatives], rounds)
    fastest = min(times[1:])
    cells = "  ".join(f"{name} {t * 1e3:8.3f} ms" for (name, _), t in zip(alternatives, times[1:]))
    bound = "" if floor is None else f" (floor {floor}x)"
    print(f"  {label:<28} quillex {times[0] * 1e3:8.3f} ms  {cells}   {fastest / times[0]:6.2f}x{bound}")


def prose_with_numbers(n_bytes, seed=9):
    """Lowercase words (some with 'é'), spaces, punctuation and line breaks, with a number of 1 to 4 digits
    about every twelfth word."""
    rnd = random.Random(seed)
    letters = "etaoinshrdlucmfwypvbgkjqxz"
    out, size = [], 0
    while size < n_bytes:
        if rnd.random() < 1 / 12:
            w = str(rnd.randrange(1, 10 ** rnd.randint(1, 4)))
        else:
            w = "".join(rnd.choices(letters, k=rnd.randint(1, 9)))
            if rnd.random() < 0.02:
                w += "\u00e9"
        w += rnd.choice([" ", " ", " ", " ", ", ", ". ", "\n"])
        out.append(w)
        size += len(w.encode())
    return "".join(out)


def floor_rows():
    text = prose_with_numbers(1_000_000 if QUICK else 10_000_000)
    g = q.Regex("[0-9]+")
    alts = [("re", re.compile("[0-9]+"))] + ([("regex", regex.compile("[0-9]+"))] if regex else [])
    found = alts[0][1].findall(text)
    print(f"Regex('[0-9]+') over {len(text.encode()) / 1e6:.1f} MB of prose, {len(found):,} matches")
    for _, rx in alts:
        assert rx.findall(text) == found and rx.sub("#", text) == alts[0][1].sub("#", text)
    assert g.search_string_count(text) == len(found) and g.search_string(text) == found
    assert g.transform_string(text, "#") == alts[0][1].sub("#", text)
    ratio_row("search_string_count", 2, lambda: g.search_string_count(text),
              [(name, lambda rx=rx: len(rx.findall(text))) for name, rx in alts])
    ratio_row("search_string", 1.5, lambda: g.search_string(text),
              [(name, lambda rx=rx: rx.findall(text)) for name, rx in alts])
    ratio_row("transform_string", 2, lambda: g.transform_string(text, "#"),
              [(name, lambda rx=rx: rx.sub("#", text)) for name, rx in alts])

    # A batch of distinct str objects, as lines read from a file give: the anchored test of each item.
    n = 100_000 if QUICK else 1_000_000
    rnd = random.Random(5)
    shapes = [lambda i: f"word{i} tail", lambda i: f"{i} word", lambda i: f"-word{i}", lambda i: f"{i}x"]
    items = [rnd.choice(shapes)(i) for i in range(n)]
    rx = re.compile("[0-9]+")
    print(f"Regex('[0-9]+') over {n:,} distinct strs")
    assert g.parse_batch_count(items) == sum(1 for m in map(rx.match, items) if m)
    assert g.parse_batch(items) == [m.group() for m in map(rx.match, items) if m]
    ratio_row("parse_batch_count", 2, lambda: g.parse_batch_count(items),
              [("re loop", lambda: sum(1 for m in map(rx.match, items) if m))])
    ratio_row("parse_batch", 1.5, lambda: g.parse_batch(items),
              [("re loop", lambda: [m.group() for m in map(rx.match, items) if m])])

    # A pattern nested past the limit is refused before it is compiled.
    deep = "(" * 100_000 + "a" + ")" * 100_000
    t0 = time.perf_counter()
    try:
        q.Regex(deep)
        raise AssertionError("a pattern 100,000 levels deep was compiled")
    except ValueError as e:
        assert "nesting too deep" in str(e)
    print(f"  Regex of 100,000 nested groups refused in {(time.perf_counter() - t0) * 1e3:.2f} ms\n")


def sequence_rows():
    """Patterns that are a plain sequence of literals and counted classes, beside `re` and the `regex` module over
    10 MB of mixed words, and the anchored test of one beside re.match on a short text."""
    text = make_text(1_000_000 if QUICK else 10_000_000)
    print(f"plain sequences over {len(text.encode()) / 1e6:.1f} MB of words, quoted texts, dates and assignments")
    for pattern in ["end", r'"[^"\n]*"', r"\d{4}-\d\d-\d\d", r"[a-z]=\d+", r"k\d+="]:
        g = q.Regex(pattern)
        alts = [("re", re.compile(pattern, re.ASCII))]
        alts += [("regex", regex.compile(pattern, regex.ASCII))] if regex else []
        found = alts[0][1].findall(text)
        replaced = alts[0][1].sub("#", text)
        for _, rx in alts:
            assert rx.findall(text) == found and rx.sub("#", text) == replaced, pattern
        assert g.search_string_count(text) == len(found) and g.search_string(text) == found, pattern
        assert g.transform_string(text, "#") == replaced, pattern
        print(f" Regex({pattern!r}), {len(found):,} matches")
        ratio_row("search_string_count", None, lambda: g.search_string_count(text),
                  [(name, lambda rx=rx: len(rx.findall(text))) for name, rx in alts])
        ratio_row("search_string", None, lambda: g.search_string(text),
                  [(name, lambda rx=rx: rx.findall(text)) for name, rx in alts])
        ratio_row("transform_string", None, lambda: g.transform_string(text, "#"),
                  [(name, lambda rx=rx: rx.sub("#", text)) for name, rx in alts])
    s = "x=42 and the rest of a short line"
    pattern = r"[a-z]=\d+"
    g = q.Regex(pattern)
    alts = [("re", re.compile(pattern, re.ASCII))]
    alts += [("regex", regex.compile(pattern, regex.ASCII))] if regex else []
    for _, rx in alts:
        assert g.matches(s) is bool(rx.match(s)) and g.parse_string(s) == [rx.match(s).group()]
    calls = range(2_000 if QUICK else 20_000)
    print(f" Regex({pattern!r}) on a text of {len(s)} bytes, {len(calls):,} calls")
    ratio_row("matches", None, lambda: [g.matches(s) for _ in calls],
              [(name, lambda rx=rx: [rx.match(s) is not None for _ in calls]) for name, rx in alts], rounds=15)
    ratio_row("parse_string", None, lambda: [g.parse_string(s) for _ in calls],
              [(name, lambda rx=rx: [[rx.match(s).group()] for _ in calls]) for name, rx in alts], rounds=15)
    print()


def json_like_text(n_bytes, seed=3):
    """JSON values as a config or an API dump holds them: objects of quoted keys (a few with escapes, '\\u'
    escapes and non-ASCII characters) and numbers, booleans, nulls and strings, in arrays, with white space."""
    rnd = random.Random(seed)
    words = ["name", "id", "value", "enabled", "path", "type", "caf\u00e9", "s\u00e9lection", "a\\\"b", "x\\ny",
             "\\u00e9t\\u00e9", "count", "items", "\u20ac"]

    def scalar():
        r = rnd.random()
        if r < 0.35:
            return '"' + rnd.choice(words) + ("_" + str(rnd.randrange(100)) if rnd.random() < 0.5 else "") + '"'
        if r < 0.7:
            return rnd.choice([str(rnd.randrange(-50, 10 ** rnd.randint(1, 7))), f"{rnd.uniform(-1e3, 1e3):.3f}",
                               f"{rnd.uniform(0, 9):.2f}e{rnd.randint(-9, 9)}", "0"])
        return rnd.choice(["true", "false", "null"])

    out, size = [], 0
    while size < n_bytes:
        members = ", ".join(f'"{rnd.choice(words)}": {scalar()}' for _ in range(rnd.randint(1, 6)))
        item = "{" + members + ', "list": [' + ", ".join(scalar() for _ in range(rnd.randint(0, 5))) + "]}"
        out.append(item)
        size += len(item.encode()) + 3
    return "[" + ",\n ".join(out) + "]"


def automaton_rows():
    """Token patterns with alternations, optional and repeated groups (walked by the pattern's automaton, not by
    RE2) beside `re` and the `regex` module over a JSON text, and the anchored test of each token of the text as
    a batch of distinct strs, beside a re.match loop and the same pattern through RE2."""
    text = json_like_text(1_000_000 if QUICK else 5_000_000)
    print(f"token patterns over {len(text.encode()) / 1e6:.1f} MB of JSON")
    for pattern in [r'"(?:[^"\\]|\\.)*"', r'"(?:[^"\\\x00-\x1f]|\\["\\/bfnrt]|\\u[0-9a-fA-F]{4})*"',
                    r"-?(?:0|[1-9]\d*)(?:\.\d+)?(?:[eE][+-]?\d+)?", "true|false|null"]:
        g = q.Regex(pattern)
        alts = [("re", re.compile(pattern, re.ASCII))]
        alts += [("regex", regex.compile(pattern, regex.ASCII | regex.VERSION0))] if regex else []
        found = [m.group() for m in alts[0][1].finditer(text)]
        replaced = alts[0][1].sub("#", text)
        for _, rx in alts:
            assert [m.group() for m in rx.finditer(text)] == found and rx.sub("#", text) == replaced, pattern
        assert g.search_string_count(text) == len(found) and g.search_string(text) == found, pattern
        assert g.transform_string(text, "#") == replaced, pattern
        print(f" Regex({pattern!r}), {len(found):,} matches")
        ratio_row("search_string_count", None, lambda: g.search_string_count(text),
                  [(name, lambda rx=rx: sum(1 for _ in rx.finditer(text))) for name, rx in alts])
        ratio_row("search_string", None, lambda: g.search_string(text),
                  [(name, lambda rx=rx: [m.group() for m in rx.finditer(text)]) for name, rx in alts])
        ratio_row("transform_string", None, lambda: g.transform_string(text, "#"),
                  [(name, lambda rx=rx: rx.sub("#", text)) for name, rx in alts])
        # Each token with what follows it in the text, as distinct strs.
        items = [text[m.start():m.end() + 8] for m in alts[0][1].finditer(text)][:200_000]
        rx = alts[0][1]
        via_re2 = q.Regex(r"(?:\b\B|" + pattern + ")")  # the same matches, every test through RE2
        assert g.parse_batch_count(items) == len(items) == via_re2.parse_batch_count(items)
        assert g.parse_batch(items) == [rx.match(s).group() for s in items] == via_re2.parse_batch(items)
        ratio_row(f"parse_batch, {len(items):,} tokens", None, lambda: g.parse_batch(items),
                  [("re.match loop", lambda: [rx.match(s).group() for s in items]),
                   ("RE2 route", lambda: via_re2.parse_batch(items))])
    print()


def make_text(n_bytes):
    rng = random.Random(7)
    words = ["alpha", "beta", "END", "end;", "backend", "x=42", "y=7", '"quoted text"', '"a\\"b"', "é", "Ab",
             "aB", "2024-01-05", "v1.2.3", "\n"]
    out, size = [], 0
    while size < n_bytes:
        w = rng.choice(words)
        out.append(w)
        size += len(w.encode()) + 1
    return " ".join(out)


def best(fn, repeat=5):
    fn()
    number = 1
    while min(timeit.repeat(fn, number=number, repeat=1)) < 0.05:
        number *= 2
    return min(timeit.repeat(fn, number=number, repeat=repeat)) / number


def mbps(nbytes, seconds):
    return nbytes / seconds / 1e6


def row(name, nbytes, own, baseline, common):
    """Each entry: (label, callable). Answers were checked by the caller."""
    t_own = best(own[1])
    cells = [f"{name:<48} {mbps(nbytes, t_own):9.1f} MB/s"]
    for label, fn in (baseline, common):
        if fn is None:
            continue
        t = best(fn)
        cells.append(f"{label} {mbps(nbytes, t):8.1f} MB/s ({t / t_own:5.1f}x)")
    print("   ".join(cells))


def text_rows(text):
    n = len(text.encode())
    print(f"text of {n:,} bytes; columns: own body, baseline (own speed-up), common routine (own speed-up)")

    # Regex searches. Patterns that match no empty string and look at nothing before their start, so the
    # common scan finds the same matches.
    for pattern in [r"[0-9]+", r"[a-z]+", r"end", r'"[^"\n]*"', r"\d{4}-\d\d-\d\d"]:
        g, rx, grp = q.Regex(pattern), re.compile(pattern, re.ASCII), q.Group(q.Regex(pattern))
        found = rx.findall(text)
        assert g.search_string_count(text) == len(found) == grp.search_string_count(text), pattern
        assert g.search_string(text) == found == grp.search_string(text), pattern
        assert g.transform_string(text, "#") == rx.sub("#", text) == grp.transform_string(text, "#"), pattern
        row(f"Regex({pattern!r}).search_string_count", n, ("own", lambda: g.search_string_count(text)),
            ("re.findall", lambda: len(rx.findall(text))), ("Group", lambda: grp.search_string_count(text)))
        row(f"Regex({pattern!r}).search_string", n, ("own", lambda: g.search_string(text)),
            ("re.findall", lambda: rx.findall(text)), ("Group", lambda: grp.search_string(text)))
        row(f"Regex({pattern!r}).transform_string", n, ("own", lambda: g.transform_string(text, "#")),
            ("re.sub", lambda: rx.sub("#", text)), ("Group", lambda: grp.transform_string(text, "#")))

    # The in-place counts of QuotedString and the caseless classes.
    qs, grp = q.QuotedString('"', "\\"), q.Group(q.QuotedString('"', "\\"))
    rx = re.compile(r'"(?:[^"\\\n]|\\.)*"', re.S)
    assert qs.search_string_count(text) == len(rx.findall(text)) == grp.search_string_count(text)
    row("QuotedString('\"', '\\\\').search_string_count", n, ("own", lambda: qs.search_string_count(text)),
        ("re.findall", lambda: len(rx.findall(text))), ("Group", lambda: grp.search_string_count(text)))

    cl, grp = q.CaselessLiteral("ab"), q.Group(q.CaselessLiteral("ab"))
    lowered = text.encode().translate(bytes.maketrans(b"ABCDEFGHIJKLMNOPQRSTUVWXYZ", b"abcdefghijklmnopqrstuvwxyz"))
    assert cl.search_string_count(text) == lowered.count(b"ab") == grp.search_string_count(text)
    row("CaselessLiteral('ab').search_string_count", n, ("own", lambda: cl.search_string_count(text)),
        ("bytes.translate+count", lambda: text.encode().translate(
            bytes.maketrans(b"ABCDEFGHIJKLMNOPQRSTUVWXYZ", b"abcdefghijklmnopqrstuvwxyz")).count(b"ab")),
        ("Group", lambda: grp.search_string_count(text)))

    ck, grp = q.CaselessKeyword("end"), q.Group(q.CaselessKeyword("end"))
    rx = re.compile(r"(?i)end(?![0-9A-Za-z_])", re.ASCII)
    assert ck.search_string_count(text) == len(rx.findall(text)) == grp.search_string_count(text)
    row("CaselessKeyword('end').search_string_count", n, ("own", lambda: ck.search_string_count(text)),
        ("re.findall", lambda: len(rx.findall(text))), ("Group", lambda: grp.search_string_count(text)))


def start_rows():
    s = "x=42 and the rest of a short line"
    n = len(s.encode())
    print(f"\nshort text of {n} bytes")
    for pattern in [r"[a-z]=\d+", r"\w+"]:
        g, rx, grp = q.Regex(pattern), re.compile(pattern, re.ASCII), q.Group(q.Regex(pattern))
        assert g.matches(s) is bool(rx.match(s)) is grp.matches(s)
        assert g.parse_string(s) == [rx.match(s).group()] == grp.parse_string(s)
        row(f"Regex({pattern!r}).matches", n, ("own", lambda: g.matches(s)),
            ("re.match", lambda: rx.match(s) is not None), ("Group", lambda: grp.matches(s)))
        row(f"Regex({pattern!r}).parse_string", n, ("own", lambda: g.parse_string(s)),
            ("re.match", lambda: [rx.match(s).group()]), ("Group", lambda: grp.parse_string(s)))
    for name, g in [("QuotedString()", q.QuotedString()), ("CaselessKeyword('X')", q.CaselessKeyword("X"))]:
        grp = q.Group(g)
        assert g.matches(s) is grp.matches(s)
        row(f"{name}.matches", n, ("own", lambda: g.matches(s)), ("str.startswith", lambda: s.startswith('"')),
            ("Group", lambda: grp.matches(s)))


def batch_rows():
    n_items = 20_000 if QUICK else 200_000
    distinct = [f"k{i}=v{i}" if i % 4 else f"#{i}" for i in range(n_items)]
    periodic = distinct[:100] * (n_items // 100) + distinct[:7]
    uniform = [distinct[1]] * n_items
    pattern = r"k\d+="
    g, rx, grp = q.Regex(pattern), re.compile(pattern, re.ASCII), q.Group(q.Regex(pattern))
    print(f"\nbatches of {n_items:,} items, Regex({pattern!r})")
    for label, items in [("distinct", distinct), ("period 100 + 7", periodic), ("uniform", uniform)]:
        nbytes = sum(len(s.encode()) for s in items)
        expected = [m.group() for m in map(rx.match, items) if m]
        assert g.parse_batch(items) == expected
        assert [t for ts in grp.parse_batch(items) for t in ts] == expected
        assert g.parse_batch_count(items) == len(expected) == grp.parse_batch_count(items)
        row(f"parse_batch, {label}", nbytes, ("own", lambda: g.parse_batch(items)),
            ("re.match loop", lambda: [m.group() for m in map(rx.match, items) if m]),
            ("Group", lambda: grp.parse_batch(items)))
        row(f"parse_batch_count, {label}", nbytes, ("own", lambda: g.parse_batch_count(items)),
            ("re.match loop", lambda: sum(1 for m in map(rx.match, items) if m)),
            ("Group", lambda: grp.parse_batch_count(items)))


if __name__ == "__main__":
    floor_rows()
    sequence_rows()
    automaton_rows()
    text_rows(make_text(200_000 if QUICK else 4_000_000))
    start_rows()
    batch_rows()
