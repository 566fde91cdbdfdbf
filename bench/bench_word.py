"""Throughput of Word's own methods, each beside the common routine on the same input (the one Word inside a
MatchFirst, whose search, transform and batch methods run the common routines over the element's try_match_at)
and the stdlib `re` equivalent.

Not a test: prints figures. Every answer is checked against the others before anything is timed.
Run: PYTHONPATH=build/release /usr/bin/python3 bench/bench_word.py [--quick]
"""
import random
import re
import sys
import timeit

import quillex as q

QUICK = "--quick" in sys.argv
LOWER = "abcdefghijklmnopqrstuvwxyz"
E = "\u00e9"


def best_seconds(fn, repeat=5):
    number = 1
    while True:
        t = min(timeit.repeat(fn, number=number, repeat=1))
        if t >= 0.05 or number >= 1 << 20:
            break
        number *= 4
    return min(timeit.repeat(fn, number=number, repeat=1 if QUICK else repeat)) / number


def mb_per_s(nbytes, seconds):
    return nbytes / seconds / 1e6


def prose(n_bytes, alphabet, seed, vocabulary=5000):
    """Words of 1 to 9 letters drawn from `vocabulary` random words (None: every word drawn afresh, so nearly all
    are distinct), with spaces, punctuation and digits between them."""
    rnd = random.Random(seed)
    fresh_word = lambda: "".join(rnd.choice(alphabet) for _ in range(rnd.randint(1, 9)))
    words = [fresh_word() for _ in range(vocabulary)] if vocabulary else None
    out, size = [], 0
    while size < n_bytes:
        word = rnd.choice(words) if words else fresh_word()
        sep = rnd.choice([" ", " ", " ", ", ", ". ", "1 ", "\n"])
        out.append(word + sep)
        size += len((word + sep).encode())
    return "".join(out)


def row(label, nbytes, runs):
    """runs: (name, fn) in order; the first is the fast path."""
    times = [(name, best_seconds(fn)) for name, fn in runs]
    fast = times[0][1]
    cells = "  ".join(f"{name} {mb_per_s(nbytes, t):9.1f} MB/s ({t / fast:5.1f}x)" for name, t in times)
    print(f"  {label:<34} {cells}")


def text_methods(title, w, rx, text):
    generic = q.MatchFirst([w])
    nbytes = len(text.encode())
    words = rx.findall(text)
    assert w.search_string(text) == words == generic.search_string(text), title
    assert w.search_string_count(text) == len(words) == generic.search_string_count(text), title
    assert w.transform_string(text, "#") == rx.sub("#", text) == generic.transform_string(text, "#"), title
    print(f"{title}: {nbytes / 1e6:.2f} MB, {len(words)} words")
    row("search_string_count", nbytes, [
        ("Word", lambda: w.search_string_count(text)),
        ("common", lambda: generic.search_string_count(text)),
        ("re", lambda: len(rx.findall(text))),
    ])
    row("search_string", nbytes, [
        ("Word", lambda: w.search_string(text)),
        ("common", lambda: generic.search_string(text)),
        ("re", lambda: rx.findall(text)),
    ])
    row("transform_string", nbytes, [
        ("Word", lambda: w.transform_string(text, "#")),
        ("common", lambda: generic.transform_string(text, "#")),
        ("re", lambda: rx.sub("#", text)),
    ])


def batch_methods(title, w, rx, items):
    generic = q.MatchFirst([w])
    nbytes = sum(len(s.encode()) for s in items)

    def re_batch():
        out = []
        for s in items:
            m = rx.match(s)
            if m:
                out.append(m.group())
        return out

    def re_count():
        return sum(1 for s in items if rx.match(s))

    flat = re_batch()
    assert w.parse_batch(items) == flat == [t for toks in generic.parse_batch(items) for t in toks], title
    assert w.parse_batch_count(items) == re_count() == generic.parse_batch_count(items), title
    print(f"{title}: {len(items)} items, {nbytes / 1e6:.2f} MB")
    row("parse_batch", nbytes, [
        ("Word", lambda: w.parse_batch(items)),
        ("common", lambda: generic.parse_batch(items)),
        ("re", re_batch),
    ])
    row("parse_batch_count", nbytes, [
        ("Word", lambda: w.parse_batch_count(items)),
        ("common", lambda: generic.parse_batch_count(items)),
        ("re", re_count),
    ])


def single_calls():
    w = q.Word(LOWER)
    generic = q.MatchFirst([w])
    rx = re.compile("[a-z]+")
    s = "identifier = 42"
    assert w.parse_string(s) == generic.parse_string(s) == [rx.match(s).group()]
    assert w.matches(s) is generic.matches(s) is True
    print(f"single calls on {s!r} (ns per call)")
    for name, fns in (("parse_string", (w.parse_string, generic.parse_string, lambda t: [rx.match(t).group()])),
                      ("matches", (w.matches, generic.matches, lambda t: rx.match(t) is not None))):
        ns = [best_seconds(lambda f=f: f(s)) * 1e9 for f in fns]
        print(f"  {name:<34} Word {ns[0]:7.1f} ns  common {ns[1]:7.1f} ns  re {ns[2]:7.1f} ns")


def main():
    size = 200_000 if QUICK else 2_000_000
    alpha = q.Word(LOWER)
    rx_alpha = re.compile("[a-z]+")
    text_methods("prose, ASCII set", alpha, rx_alpha, prose(size, LOWER, 1))
    text_methods("prose of distinct words, ASCII set", alpha, rx_alpha, prose(size, LOWER, 5, vocabulary=None))
    text_methods("periodic text (period 20)", alpha, rx_alpha, "ab1cd2 efg, hij kl. " * (size // 20))
    text_methods("non-ASCII prose, ASCII set", alpha, rx_alpha, prose(size, LOWER + E + "\u0101", 2))
    wide = q.Word(LOWER + E)
    text_methods("non-ASCII prose, set with é", wide, re.compile(f"[a-z{E}]+"), prose(size, LOWER + E + "\u0101", 3))

    n = 20_000 if QUICK else 200_000
    distinct = [(s + "!")[:-1] for s in prose(n * 8, LOWER + " 1", 4, vocabulary=None).split(" ") if s][:n]
    batch_methods("distinct items", alpha, rx_alpha, distinct)
    batch_methods("period-7 items", alpha, rx_alpha, distinct[:7] * (n // 7))
    uniform = [distinct[0]] * n
    batch_methods("uniform items", alpha, rx_alpha, uniform)
    single_calls()


if __name__ == "__main__":
    main()
