"""Per-call cost of the method frame and the batch shortcuts.

Not a test: prints figures and ratios. Answers are checked before anything is timed.
Run: PYTHONPATH=build/release /usr/bin/python3 bench/bench_frame.py
"""
import re
import sys
import timeit

import quillex as q

TEXT = "key = value # twenty"  # 20 bytes
assert len(TEXT.encode()) == 20


def per_call_ns(stmt, env, number=2_000_000, repeat=5):
    t = timeit.Timer(stmt, globals=env)
    return min(t.repeat(repeat=repeat, number=number)) / number * 1e9


def report(name, ns, floor):
    print(f"  {name:<44} {ns:8.1f} ns   {ns / floor:5.2f}x floor")


def short_text_calls():
    # name: (grammar, expected matches(TEXT), expected search_string_count(TEXT))
    grammars = {"LineStart": (q.LineStart(), True, 1), "rest_of_line": (q.rest_of_line(), True, 1),
                "StringEnd": (q.StringEnd(), False, 0)}
    try:
        grammars["Literal('key')"] = (q.Literal("key"), True, 1)
    except TypeError:
        pass
    d = {}
    rx = re.compile("key")
    s = TEXT
    assert d.get(s) is None and s.startswith("x") is False and rx.match(s)
    env = {"d": d, "s": s, "rx": rx}
    floor = per_call_ns("d.get(s)", env)
    print(f"short text ({len(s)} bytes); floor d.get(s) = {floor:.1f} ns")
    report("s.startswith('x')", per_call_ns("s.startswith('x')", env), floor)
    report("re.compile('key').match(s)", per_call_ns("rx.match(s)", env), floor)
    for name, (g, matches, count) in grammars.items():
        env = {"g": g, "s": s, "m": g.matches, "p": g.parse_string, "c": g.search_string_count}
        assert g.matches(s) is matches and g.search_string_count(s) == count, name
        report(f"{name}.matches(s)", per_call_ns("m(s)", env), floor)
        try:
            g.parse_string(s)
            report(f"{name}.parse_string(s)", per_call_ns("p(s)", env), floor)
        except ValueError:
            pass
        report(f"{name}.search_string_count(s)", per_call_ns("c(s)", env), floor)


def batches():
    n = 1_000_000
    g = q.rest_of_line()
    distinct = [f"line {i}\nrest" for i in range(n)]
    uniform = ["line\nrest"] * n
    for label, items in (("distinct", distinct), ("uniform", uniform)):
        single = g.parse_string
        assert g.parse_batch_count(items) == sum(1 for s in items if g.matches(s))
        assert g.parse_batch(items) == [single(s) for s in items]
        t_count = min(timeit.repeat(lambda: g.parse_batch_count(items), number=1, repeat=5))
        t_batch = min(timeit.repeat(lambda: g.parse_batch(items), number=1, repeat=5))
        t_loop = min(timeit.repeat(lambda: [single(s) for s in items], number=1, repeat=5))
        matches = g.matches
        t_count_loop = min(timeit.repeat(lambda: sum(1 for s in items if matches(s)), number=1, repeat=5))
        print(f"{label} 1,000,000 items:")
        print(f"  parse_batch       {t_batch * 1e3:8.1f} ms   loop of parse_string {t_loop * 1e3:8.1f} ms "
              f"  {t_loop / t_batch:7.1f}x")
        print(f"  parse_batch_count {t_count * 1e3:8.1f} ms   loop of matches      {t_count_loop * 1e3:8.1f} ms "
              f"  {t_count_loop / t_count:7.1f}x")


if __name__ == "__main__":
    short_text_calls()
    if "--no-batch" not in sys.argv:
        batches()
