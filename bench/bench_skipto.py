"""How SkipTo's searches, counts, transforms and single matches grow with the text.

Not a test: prints figures. Each row times one call at n and at 4n bytes and prints the ratio (about 4 when the
work grows linearly, 16 when quadratically), beside the same answer computed in plain Python with str.find or
re.search, which grows linearly. Every answer is checked against that baseline before anything is timed.
Run: PYTHONPATH=build/release /usr/bin/python3 bench/bench_skipto.py [--quick]
"""
import re
import sys
import timeit

import quillex as q

QUICK = "--quick" in sys.argv
N = 16_000 if QUICK else 256_000


def best(fn, repeat=5):
    number = 1
    while min(timeit.repeat(fn, number=number, repeat=1)) < 0.02:
        number *= 2
    return min(timeit.repeat(fn, number=number, repeat=repeat)) / number


# The baselines: the scan of SkipTo's matches over an ASCII text, given `first(pos)`, the first target position
# at or after pos (or -1). A match at pos ends there; the scan resumes at the end, or one further on.
def skip_spans(text, first):
    spans, pos = [], 0
    while pos < len(text):
        f = first(pos)
        if f < 0:
            break
        spans.append((pos, f))
        pos = max(f, pos + 1)
    return spans


def by_find(lit):
    return lambda text: lambda pos: text.find(lit, pos)


def by_search(pattern):
    rx = re.compile(pattern)

    def first_in(text):
        def first(pos):
            m = rx.search(text, pos)
            return m.start() if m else -1
        return first
    return first_in


def search_list(text, spans):
    return [text[s:e] for s, e in spans if e > s]


def transformed(text, spans):
    out, last = [], 0
    for s, e in spans:
        if e > s:
            out += [text[last:s], "#"]
            last = e
    return "".join(out + [text[last:]])


def from_spans(finder, result):
    """The plain-Python answer of a scan method: `result(text, spans)` over the spans `finder` gives."""
    return lambda text: result(text, skip_spans(text, finder(text)))


def rows():
    print(f"n = {N:,} bytes. Each row: quillex at 4n in MB/s and its time at 4n over its time at n, then the same")
    print("for the answer computed in plain Python (str.find, re.search) where there is one.")
    lit_end = q.SkipTo(q.Literal("end"))
    word = q.SkipTo(q.Word(q.nums()))
    rx = q.SkipTo(q.Regex("x+y"))
    every = q.SkipTo(q.Literal("a"))
    and_lit = q.Literal("a") + q.SkipTo(q.Literal("end"))
    sixteen = q.MatchFirst([q.SkipTo(q.Literal(c)) for c in "bcdefghijklmnopq"])
    # A target that is a grammar (neither Literal nor Regex), standing every few bytes: a search at each one.
    dense = q.SkipTo(q.MatchFirst([q.Literal(c) + q.Optional(q.Word(q.alphas())) for c in "bcdefghijklmnopq"]))
    letters = lambda n: "ab" * (n // 2)  # noqa: E731
    a_run = lambda n: "a" * n  # noqa: E731
    # (label, call, text of about n bytes, answer, whether the answer is a plain-Python route worth timing).
    # Python's re backtracks on 'x+y' over a run of x, so the Regex rows check against the known answer only.
    cases = [
        ("SkipTo(Literal('end')).search_string_count, 'a'*n", lit_end.search_string_count, a_run,
         from_spans(by_find("end"), lambda t, sp: len(sp)), True),
        ("SkipTo(Literal('end')).transform_string, 'a'*n", lambda t: lit_end.transform_string(t, "#"), a_run,
         from_spans(by_find("end"), transformed), True),
        ("SkipTo(Word(nums())).search_string, letters", word.search_string, letters,
         from_spans(by_search("[0-9]"), search_list), True),
        ("SkipTo(Word(nums())).search_string_count, letters", word.search_string_count, letters,
         from_spans(by_search("[0-9]"), lambda t, sp: len(sp)), True),
        ("SkipTo(Word(nums())).transform_string, letters", lambda t: word.transform_string(t, "#"), letters,
         from_spans(by_search("[0-9]"), transformed), True),
        ("SkipTo(Regex('x+y')).search_string_count, 'x'*n", rx.search_string_count, lambda n: "x" * n,
         lambda t: 0, False),
        ("SkipTo(Regex('x+y')).matches, 'x'*n", rx.matches, lambda n: "x" * n, lambda t: False, False),
        ("SkipTo(Regex('[0-9]+')).search_string_count, letters", q.SkipTo(q.Regex("[0-9]+")).search_string_count,
         letters, from_spans(by_search("[0-9]"), lambda t, sp: len(sp)), True),
        ("SkipTo(Literal('end')).parse_string, 'a'*n + 'end'", lit_end.parse_string,
         lambda n: "a" * (n - 3) + "end", lambda t: [t[:t.find("end")]], True),
        ("SkipTo(Literal('a')).search_string_count, 'a'*n (a match per byte)", every.search_string_count, a_run,
         from_spans(by_find("a"), lambda t, sp: len(sp)), True),
        ("(Literal('a') + SkipTo(Literal('end'))).search_string_count, 'a'*n", and_lit.search_string_count, a_run,
         lambda t: 0, False),
        ("MatchFirst of 16 SkipTo(Literal(c)).search_string_count, 'a'*n", sixteen.search_string_count, a_run,
         lambda t: 0, False),
        ("SkipTo(MatchFirst of 16 Literal(c) + Optional(Word)).search_string_count, 'ab '*n/3",
         dense.search_string_count, lambda n: "ab " * (n // 3), from_spans(by_search("[b-q]"), lambda t, sp: len(sp)),
         True),
        ("SkipTo(Literal('end')).search_string_count, 'é'*n/2 + 'end'", lit_end.search_string_count,
         lambda n: "é" * (n // 2 - 2) + "end", from_spans(by_find("end"), lambda t, sp: len(sp)), True),
    ]
    for label, call, make, answer, timed in cases:
        times, base_times = [], []
        for n in (N, 4 * N):
            text = make(n)
            assert call(text) == answer(text), label
            times.append(best(lambda: call(text)))
            if timed:
                base_times.append(best(lambda: answer(text)))
        nbytes = len(make(4 * N).encode())
        cells = f"{label:<72} {nbytes / times[1] / 1e6:8.1f} MB/s x{times[1] / times[0]:5.1f}"
        if base_times:
            cells += f"   Python {nbytes / base_times[1] / 1e6:8.1f} MB/s x{base_times[1] / base_times[0]:5.1f}"
        print(cells)


if __name__ == "__main__":
    rows()
