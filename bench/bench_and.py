"""And.parse_batch beside a loop over And.parse_string on the same 1,000,000 inputs.

Not a test: prints figures and ratios. Answers are checked before anything is timed.
Run: PYTHONPATH=build/release /usr/bin/python3 bench/bench_and.py
"""
import timeit

import quillex as q

N = 1_000_000
REPEAT = 5


def best(fn):
    return min(timeit.repeat(fn, number=1, repeat=REPEAT))


def main():
    g = q.Literal("key") + q.Word(q.nums()) + q.Literal("=") + q.Word(q.alphas())
    # Distinct objects with distinct texts: the identity cache fills at once and every input is walked; 'key',
    # '=' and 'value' are one str each across the result.
    distinct = [f"key{i}=value" for i in range(N)]
    # One object throughout: one walk, one list in every slot.
    uniform = ["key12=value"] * N
    single = g.parse_string
    for label, items in (("distinct", distinct), ("uniform", uniform)):
        expected = [single(s) for s in items]
        assert g.parse_batch(items) == expected, label
        del expected
        size = sum(len(s.encode()) for s in items)
        t_batch = best(lambda: g.parse_batch(items))
        t_loop = best(lambda: [single(s) for s in items])
        print(f"{label} {N:,} items ({size / 1e6:.1f} MB):")
        print(f"  And.parse_batch        {t_batch * 1e3:8.1f} ms  {size / t_batch / 1e6:9.1f} MB/s")
        print(f"  loop of parse_string   {t_loop * 1e3:8.1f} ms  {size / t_loop / 1e6:9.1f} MB/s"
              f"   batch {t_loop / t_batch:6.1f}x faster")


if __name__ == "__main__":
    main()
