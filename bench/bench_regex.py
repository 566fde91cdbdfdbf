"""Throughput of the Regex, QuotedString and caseless methods.

Not a test: prints figures. Every answer is checked before anything is timed. Each row gives the method's own
body, the stdlib baseline (`re`, or a str method) and the common routine on the same input (the element
wrapped in a Group, whose methods run the common scan over try_match_at), in MB/s of UTF-8 input.
Run: PYTHONPATH=build/release /usr/bin/python3 bench/bench_regex.py [--quick]
"""
import random
import re
import sys
import timeit

import quillex as q

QUICK = "--quick" in sys.argv


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
    text_rows(make_text(200_000 if QUICK else 4_000_000))
    start_rows()
    batch_rows()
