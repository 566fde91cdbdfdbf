"""A result list that cannot be allocated: the batch methods and the repeated results of search_string raise
the interpreter's MemoryError, release whatever they made, leave the collector running and the receiver
usable. Run in a child process whose address space is capped just above its size, so that only the large
result list fails; the sanitizer builds reserve address space of their own and cannot be capped."""
import os
import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.skipif(bool(os.environ.get("QUILLEX_SANITIZED")),
                                reason="an address-space cap does not work under AddressSanitizer")

CHILD = textwrap.dedent(r"""
    import ctypes, gc, resource, sys
    import quillex as q

    # Every large block is mapped on its own and unmapped when freed, so that freed memory cannot serve the
    # result list under the cap (M_MMAP_THRESHOLD; a fixed value also stops glibc from raising it).
    assert ctypes.CDLL(None).mallopt(-3, 2**20) == 1

    N = 2_000_000  # a result list of N slots (16 MB) cannot be had under the cap; small objects can
    def address_space():
        with open("/proc/self/status") as f:
            return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmSize:"))

    grammars = {
        "Literal": q.Literal("ab"), "Keyword": q.Keyword("ab"), "Word": q.Word("ab"),
        "Regex": q.Regex("[ab]+"), "QuotedString": q.QuotedString(), "common": q.rest_of_line(), "Group": q.Group(q.Literal("ab")),
        "Suppress": q.Suppress(q.Literal("ab")), "And": q.Literal("a") + q.Word("b"),
        "MatchFirst": q.Literal("x") | q.Word("ab"),
    }
    a, b, c = "ab" * 3, "ba" * 3, '"x"y'
    shapes = {
        "uniform": [a] * N,
        "period": [a, b] * (N // 2),
        "period-with-tail": [a, b, c] * (N // 3) + [a],
        "no-period": [a, b] + [c] * (N - 2),
    }
    token = grammars["Literal"].parse_string("ab")[0]  # Literal's own str, in every token list it makes
    counts = [sys.getrefcount(x) for x in (a, b, c, token)]
    text = "ab" * (N // 2)

    outcomes = []
    gc.collect()
    tracked = len(gc.get_objects())  # a token list that leaked would stay tracked
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (address_space() + 6 * 2**20, hard))
    for name, g in grammars.items():
        for shape, items in shapes.items():
            try:
                g.parse_batch(items)
            except MemoryError:
                outcomes.append(None)
            else:
                outcomes.append((name, shape))
            assert gc.isenabled(), (name, shape)
    try:
        grammars["Literal"].search_string(text)
    except MemoryError:
        outcomes.append(None)
    else:
        outcomes.append("search_string")
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))

    gc.collect()
    assert len(gc.get_objects()) <= tracked, len(gc.get_objects()) - tracked
    assert outcomes == [None] * len(outcomes), [o for o in outcomes if o]
    assert [sys.getrefcount(x) for x in (a, b, c, token)] == counts
    for name, g in grammars.items():
        assert len(g.parse_batch([a, b, a])) == 3, name
    print("done", len(outcomes))
""")


def test_result_lists_that_cannot_be_allocated_raise_memory_error():
    if not sys.platform.startswith("linux"):
        pytest.skip("reads /proc/self/status")
    p = subprocess.run([sys.executable, "-c", CHILD], capture_output=True, text=True, timeout=300)
    assert p.returncode == 0, p.stderr[-2000:]
    assert p.stdout.split() == ["done", "41"]
