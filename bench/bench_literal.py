"""Throughput of the Literal and Keyword methods.

Not a test: prints figures. Every answer is checked before it is timed. First the floors: each workload as a
ratio beside what a Python user would write instead (str methods, `re`, and the `regex` module where it
imports), timed interleaved in this one process, best of several runs; ratio = the alternative's time / quillex's
time, and the floor is held against the fastest of the alternatives named for it. Then the detailed figures:
beside each stand the stdlib baselines (str.count, str.find, str.replace, str.startswith, re) and the
common-routine path of the same grammar (a Group around the terminal runs the common routines over the
terminal's try_match_at).
Run: PYTHONPATH=build/release /usr/bin/python3 bench/bench_literal.py [--quick]
"""
import random
import re
import sys
import time
import timeit

import quillex as q

try:
    import regex
except ImportError:
    regex = None

QUICK = "--quick" in sys.argv


def best(fn, repeat=5):
    fn()  # warm
    return min(timeit.repeat(fn, number=1, repeat=3 if QUICK else repeat))


def rate(nbytes, seconds):
    return f"{nbytes / seconds / 1e9:7.2f} GB/s"


def row(name, nbytes, fn):
    print(f"    {name:<40} {rate(nbytes, best(fn))}")


def common_route(g):
    """Group(g): the common routines over g's try_match_at. None while Group has no constructor."""
    try:
        return q.Group(g)
    except TypeError:
        return None


def common_row(name, nbytes, common, fn, check):
    """A figure of the common-routine path, after checking its answer; "n/a" without a Group."""
    if common is None:
        print(f"    {name:<40}     n/a (no Group constructor)")
        return
    check()
    row(name, nbytes, fn)


def prose(nbytes, seed=1):
    """Words of 1-9 lowercase letters (some with 'é'), spaces and an occasional newline: about nbytes bytes."""
    rnd = random.Random(seed)
    letters = "etaoinshrdlucmfwypvbgkjqxz"
    weights = [26 - i for i in range(26)]
    words = []
    size = 0
    while size < nbytes:
        w = "".join(rnd.choices(letters, weights, k=rnd.randint(1, 9)))
        if rnd.random() < 0.02:
            w += "\u00e9"
        words.append(w)
        size += len(w.encode()) + 1
    return " ".join(words)


def literal_count_model(lit, text):
    return len(text.encode()) if lit == "" else text.count(lit)


def count_section(title, text, literals):
    nbytes = len(text.encode())
    print(f"{title} ({nbytes / 1e6:.1f} MB)")
    for lit in literals:
        g = q.Literal(lit)
        common = common_route(g)
        rx = re.compile(re.escape(lit))
        want = literal_count_model(lit, text)
        assert g.search_string_count(text) == want, lit
        assert sum(1 for _ in rx.finditer(text)) == want
        print(f"  Literal({lit!r}).search_string_count: {want} occurrences")
        row("Literal.search_string_count", nbytes, lambda: g.search_string_count(text))
        row("str.count", nbytes, lambda: text.count(lit))
        row("re finditer count", nbytes, lambda: sum(1 for _ in rx.finditer(text)))
        common_row("Group(Literal) (common scan)", nbytes, common, lambda: common.search_string_count(text),
                   lambda: common.search_string_count(text) == want or sys.exit(f"common count of {lit!r}"))


def find_section(text, lit):
    nbytes = len(text.encode())
    g = q.Literal(lit)
    common = common_route(g)
    rx = re.compile(re.escape(lit))
    want = text.count(lit)
    found = g.search_string(text)
    assert len(found) == want and all(item is found[0] for item in found) and found[0] == [lit]
    assert rx.findall(text) == [lit] * want
    print(f"  Literal({lit!r}).search_string: {want} items")
    row("Literal.search_string", nbytes, lambda: g.search_string(text))
    row("re.findall", nbytes, lambda: rx.findall(text))
    common_row("Group(Literal).search_string (common)", nbytes, common, lambda: common.search_string(text),
               lambda: common.search_string(text) == [lit] * want or sys.exit("common search"))

    def find_loop():
        pos, c = text.find(lit), 0
        while pos >= 0:
            c += 1
            pos = text.find(lit, pos + len(lit))
        return c

    assert find_loop() == want
    row("str.find loop", nbytes, find_loop)


def transform_section(text, lit, replacement):
    nbytes = len(text.encode())
    g = q.Literal(lit)
    common = common_route(g)
    rx = re.compile(re.escape(lit))
    want = text.replace(lit, replacement)
    assert g.transform_string(text, replacement) == want
    assert rx.sub(replacement, text) == want
    print(f"  Literal({lit!r}).transform_string -> {replacement!r}")
    row("Literal.transform_string", nbytes, lambda: g.transform_string(text, replacement))
    row("str.replace", nbytes, lambda: text.replace(lit, replacement))
    row("re.sub", nbytes, lambda: rx.sub(replacement, text))
    common_row("Group(Literal).transform_string (common)", nbytes, common,
               lambda: common.transform_string(text, replacement),
               lambda: common.transform_string(text, replacement) == want or sys.exit("common transform"))


def keyword_model(kw, text):
    b, k = text.encode(), kw.encode()
    ident = set(b"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_")
    pos, count = 0, 0
    while pos < len(b):
        if b.startswith(k, pos) and (pos + len(k) == len(b) or b[pos + len(k)] not in ident):
            count += 1
            pos = max(pos + 1, pos + len(k))
        else:
            pos += 1
    return count


def keyword_section(text, kw):
    nbytes = len(text.encode())
    g = q.Keyword(kw)
    common = common_route(g)
    rx = re.compile(re.escape(kw) + "(?![0-9A-Za-z_])")
    want = keyword_model(kw, text)
    assert g.search_string_count(text) == want
    assert sum(1 for _ in rx.finditer(text)) == want
    print(f"  Keyword({kw!r}).search_string_count: {want} occurrences")
    row("Keyword.search_string_count", nbytes, lambda: g.search_string_count(text))
    row("re finditer count (lookahead)", nbytes, lambda: sum(1 for _ in rx.finditer(text)))
    common_row("Group(Keyword) (common scan)", nbytes, common, lambda: common.search_string_count(text),
               lambda: common.search_string_count(text) == want or sys.exit("common keyword count"))


def batch_section(n=200_000):
    rnd = random.Random(2)
    distinct = [("ab-" if rnd.random() < 0.5 else "xy-") + str(i) for i in range(n)]
    uniform = [distinct[0]] * n
    runs = [distinct[i // 4] for i in range(n)]  # each object four times in a row
    nbytes = sum(len(s) for s in distinct)
    print(f"parse_batch / parse_batch_count, {n} items")
    for label, items in (("distinct", distinct), ("uniform", uniform), ("runs of 4", runs)):
        for cls in (q.Literal, q.Keyword):
            g = cls("ab")
            common = common_route(g)
            want = [g.parse_string(s) if g.matches(s) else [] for s in items]
            assert g.parse_batch(items) == want
            c = sum(1 for w in want if w)
            assert g.parse_batch_count(items) == c
            if cls is q.Literal:
                assert sum(1 for s in items if s.startswith("ab")) == c
            print(f"  {cls.__name__}, {label}: {c} matched")
            row(f"{cls.__name__}.parse_batch_count", nbytes, lambda: g.parse_batch_count(items))
            if cls is q.Literal:
                row("loop of str.startswith", nbytes, lambda: sum(1 for s in items if s.startswith("ab")))
            common_row("Group (common batch count)", nbytes, common, lambda: common.parse_batch_count(items),
                       lambda: common.parse_batch_count(items) == c or sys.exit("common batch count"))
            row(f"{cls.__name__}.parse_batch", nbytes, lambda: g.parse_batch(items))
            common_row("Group (common parse_batch)", nbytes, common, lambda: common.parse_batch(items),
                       lambda: common.parse_batch(items) == want or sys.exit("common parse_batch"))


def interleaved_best(fns, rounds):
    """The best time of each callable, the callables run in turn in every round."""
    best_times = [float("inf")] * len(fns)
    for fn in fns:
        fn()  # warm
    for _ in range(rounds):
        for i, fn in enumerate(fns):
            t = time.perf_counter()
            fn()
            best_times[i] = min(best_times[i], time.perf_counter() - t)
    return best_times


def floor_row(label, own, alternatives, floor, against):
    """own: a callable; alternatives: (name, callable) pairs whose answers the caller checked; the floor is held
    against the fastest of the alternatives named in `against` (None: a figure without a floor)."""
    times = interleaved_best([own] + [fn for _, fn in alternatives], 3 if QUICK else 9)
    t_own = times[0]
    cells = "  ".join(f"{name} {t / t_own:6.2f}x" for (name, _), t in zip(alternatives, times[1:]))
    if floor is None:
        print(f"  {label:<58} {t_own * 1e3:7.2f} ms  {cells}")
        return
    fastest = min(t for (name, _), t in zip(alternatives, times[1:]) if name in against)
    ratio = fastest / t_own
    verdict = "ok" if ratio >= floor else "BELOW"
    print(f"  {label:<58} {t_own * 1e3:7.2f} ms  {cells}   floor {floor}x: {ratio:.2f}x {verdict}")


def python_code(nbytes, seed=4):
    """Python-like source: indented if/elif/else blocks, calls, assignments, comments; names that hold 'if'
    inside (diff, notify, if_ok, ifdef_x, modifier, gift, fifo), which the keyword's boundary refuses or which
    are no keyword at all."""
    rnd = random.Random(seed)
    names = ["x", "value", "diff", "notify", "count", "result", "if_ok", "ifdef_x", "items", "modifier", "gift",
             "spec", "fifo", "self.data", "n", "key"]
    ops = ["==", "!=", "<", ">=", "is", "in"]
    out, size = [], 0
    while size < nbytes:
        ind = "    " * rnd.randint(0, 3)
        a, b = rnd.choice(names), rnd.choice(names)
        c, k = rnd.choice(names), rnd.randint(0, 999)
        # (share of lines up to this kind, the line)
        kinds = [(0.15, f"if {a} {rnd.choice(ops)} {b}:"), (0.22, f"elif {a}({b}):"), (0.26, "else:"),
                 (0.30, f"return {a} if {b} else None"), (0.6, f"{a} = {b}.get({k}) + {a}"),
                 (0.8, f"{a}({b}, {c})"), (1.0, f"for {a} in {b}:  # {c} if")]
        r = rnd.random()
        line = ind + next(text for share, text in kinds if r < share)
        out.append(line)
        size += len(line) + 1
    return "\n".join(out) + "\n"


def regex_alternatives(pattern, use):
    """(name, callable) for `re` and, where it imports, the `regex` module; use(compiled) gives the call."""
    out = [("re", use(re.compile(pattern)))]
    if regex is not None:
        out.append(("regex", use(regex.compile(pattern))))
    return out


def floors_section(size):
    print(f"Floors (texts of {size / 1e6:.0f} MB; ratio = alternative's time / quillex's time)")
    lit = q.Literal("rapid")
    text = prose(size)
    want = text.replace("rapid", "X")
    alts = regex_alternatives("rapid", lambda rx: lambda: rx.sub("X", text))
    assert lit.transform_string(text, "X") == want and all(fn() == want for _, fn in alts)
    floor_row("Literal('rapid').transform_string(prose, 'X')", lambda: lit.transform_string(text, "X"),
              alts + [("str.replace", lambda: text.replace("rapid", "X"))], 5, ["re", "regex"])

    periodic = (prose(1000, seed=3) + " rapid\n") * (size // 1008)
    want = periodic.replace("rapid", "X")
    assert lit.transform_string(periodic, "X") == want
    floor_row("same on a periodic text", lambda: lit.transform_string(periodic, "X"),
              [("str.replace", lambda: periodic.replace("rapid", "X"))], 2.5, ["str.replace"])

    ascii_prose = prose(size).replace("\u00e9", "e")
    for name, ch in (("latin-1", "\u00e9"), ("2-byte", "\u0109")):
        # One non-ASCII character: a str of that kind whose UTF-8 form is never made, so every call sees it
        # as fresh.
        fresh_text = ascii_prose[: size // 2] + ch + ascii_prose[size // 2 :]
        unmade = sys.getsizeof(fresh_text)
        want = fresh_text.count("rapid")
        assert lit.search_string_count(fresh_text) == want and len(lit.search_string(fresh_text)) == want
        assert lit.transform_string(fresh_text, "X") == fresh_text.replace("rapid", "X")
        assert sys.getsizeof(fresh_text) == unmade, "the UTF-8 form was made"
        count_alt = [("str.count", lambda: fresh_text.count("rapid"))]
        floor_row(f"Literal count, fresh {name} str", lambda: lit.search_string_count(fresh_text), count_alt, 1.5,
                  ["str.count"])
        floor_row(f"Literal search_string, fresh {name} str", lambda: lit.search_string(fresh_text), count_alt, 1.5,
                  ["str.count"])
        floor_row(f"Literal transform_string, fresh {name} str", lambda: lit.transform_string(fresh_text, "X"),
                  count_alt + [("str.replace", lambda: fresh_text.replace("rapid", "X"))], 1.5, ["str.count"])
        assert sys.getsizeof(fresh_text) == unmade, "the UTF-8 form was made"

    code = python_code(size)
    kw = q.Keyword("if")
    pattern = r"if(?![0-9A-Za-z_])"
    want = len(re.findall(pattern, code))
    count_alts = regex_alternatives(pattern, lambda rx: lambda: len(rx.findall(code)))
    assert kw.search_string_count(code) == want and all(fn() == want for _, fn in count_alts)
    floor_row("Keyword('if').search_string_count(code)", lambda: kw.search_string_count(code), count_alts, 10,
              ["re", "regex"])
    search_alts = regex_alternatives(pattern, lambda rx: lambda: rx.findall(code))
    found = kw.search_string(code)
    assert len(found) == want and found[0] == ["if"] and all(item is found[0] for item in found)
    floor_row("Keyword('if').search_string(code)", lambda: kw.search_string(code), search_alts, 10, ["re", "regex"])
    sub_alts = regex_alternatives(pattern, lambda rx: lambda: rx.sub("IF", code))
    want = re.sub(pattern, "IF", code)
    assert kw.transform_string(code, "IF") == want and all(fn() == want for _, fn in sub_alts)
    floor_row("Keyword('if').transform_string(code, 'IF')", lambda: kw.transform_string(code, "IF"), sub_alts, 6,
              ["re", "regex"])

    for word, floor in (("rapid", 12), ("the", None)):  # 'the': a frequent literal, for comparison
        g = q.Literal(word)
        assert g.search_string_count(text) == text.count(word)
        floor_row(f"keep: Literal({word!r}).search_string_count(prose)", lambda: g.search_string_count(text),
                  [("str.count", lambda: text.count(word))], floor, ["str.count"])


def scaling_row(name, make, sizes):
    """The best of three calls at each size, each on a new text from make(size) -> (call, text)."""
    times = []
    for size in sizes:
        best_time = float("inf")
        for _ in range(3):
            call, text = make(size)
            start = time.perf_counter()
            call(text)
            best_time = min(best_time, time.perf_counter() - start)
        times.append(best_time)
    print(f"    {name:<40} {times[0] * 1e3:8.2f} ms at n, {times[1] * 1e3:8.2f} ms at 4n: x{times[1] / times[0]:.1f}")


def hostile_scaling_section(n):
    """Texts whose every other start is a candidate that the scan must pass over, the text (n characters) and
    the literal or keyword (k = n / 250) both grown by 4: a time growing near 4 is linear in their sum, one near
    16 grows with their product.
    - Literal 'a' * k over U+6100 repeated, a fresh 2-byte str: the literal's bytes (61 00 61 00 ...) stand at
      every odd offset of the text's (00 61 00 61 ...), at no whole unit.
    - Keyword 'a' * k over a run that makes its candidate filter give up, then 'a' repeated: every start is an
      occurrence that the boundary refuses.
    The Literal's methods then read the text's UTF-8 form, made at each call (fresh memory, which grows the
    transform's time beyond 4 as it does the common routine's, shown beside it)."""
    print("Scaling on hostile texts (n and 4n characters)")

    def straddling(call, wrap=lambda g: g):
        def make(size):
            needle = "a" * (size // 250)
            g = wrap(q.Literal(needle))
            text = ("\u6100" * size + needle).encode().decode()
            assert call(g, text.encode().decode()) in (1, text.replace(needle, "x"))
            return (lambda s: call(g, s)), text
        return make

    def refused(call):
        def make(size):
            word = "a" * (size // 250)
            g = q.Keyword(word)
            text = ("a" * 20 + " ") * ((len(word) + 6300) // 21) + "a" * size
            assert call(g, text) in (1, text[: -len(word)] + "x")
            return (lambda s: call(g, s)), text
        return make

    count = lambda g, s: g.search_string_count(s)  # noqa: E731
    transform = lambda g, s: g.transform_string(s, "x")  # noqa: E731
    scaling_row("Literal.search_string_count, straddling", straddling(count), (n, 4 * n))
    scaling_row("Literal.transform_string, straddling", straddling(transform), (n, 4 * n))
    # The same through the common routine (the UTF-8 form and a decoded result: fresh memory at each size).
    scaling_row("Group(Literal).transform_string, same", straddling(transform, q.Group), (n, 4 * n))
    scaling_row("Keyword.search_string_count, refused", refused(count), (n, 4 * n))
    scaling_row("Keyword.transform_string, refused", refused(transform), (n, 4 * n))


if __name__ == "__main__":
    floors_section(10_000_000)
    hostile_scaling_section(250_000 if QUICK else 1_000_000)
    size = 1_000_000 if QUICK else 8_000_000
    text = prose(size)
    count_section("prose", text, ["e", "the", "\u00e9", "zqx", "strength", "q" * 20, "etaoin shrdlu"])
    periodic = ("abc" * (size // 3)) + "ab"
    count_section("periodic 'abc' * n + 'ab'", periodic, ["ca", "abc", "cab"])
    long_period = (prose(1000, seed=3) + "\n") * (size // 1000)
    count_section("periodic block of ~1000 bytes", long_period, ["the", "e"])
    start_only = "ab" * 600 + prose(size)
    count_section("periodic only at the start", start_only, ["ab", "the"])
    print("search_string (prose)")
    find_section(text, "the")
    find_section(text, "zq")
    print("transform_string (prose)")
    transform_section(text, "the", "THE")
    transform_section(text, "zq", "")
    print("Keyword (prose)")
    keyword_section(text, "the")
    keyword_section(text, "e")
    batch_section(50_000 if QUICK else 200_000)
