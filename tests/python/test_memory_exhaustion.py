"""Memory that cannot be had raises the interpreter's MemoryError, releases whatever the call made, leaves the
collector running and the receiver usable: result lists of the batch methods and of search_string, and
everything else a caller's input can make huge (transform results, the span and token vectors of the searches
and of parse_string, the token strs and their tables). Run in a child process whose address space is capped
just above its size, so that only what the input makes large fails; the sanitizer builds reserve address
space of their own and cannot be capped.

Then the process must go on wherever memory runs out: caps swept across all a call needs, from a full heap
up, cold, warmed and on new threads, and grammars freed with no memory left at all."""
import os
import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.skipif(bool(os.environ.get("QUILLEX_SANITIZED")),
                                reason="an address-space cap does not work under AddressSanitizer")

PREAMBLE = textwrap.dedent(r"""
    import ctypes, gc, resource, sys
    import quillex as q

    # Every large block is mapped on its own and unmapped when freed, so that freed memory cannot serve a
    # large result under the cap (M_MMAP_THRESHOLD; a fixed value also stops glibc from raising it).
    assert ctypes.CDLL(None).mallopt(-3, 2**20) == 1

    def address_space():
        with open("/proc/self/status") as f:
            return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmSize:"))
""")


def run_child(body):
    """The words a child running PREAMBLE + body prints, once it has exited cleanly."""
    if not sys.platform.startswith("linux"):
        pytest.skip("reads /proc/self/status")
    p = subprocess.run([sys.executable, "-c", PREAMBLE + body], capture_output=True, text=True, timeout=300)
    assert p.returncode == 0, p.stderr[-2000:]
    return p.stdout.split()


CHILD = textwrap.dedent(r"""
    N = 2_000_000  # a result list of N slots (16 MB) cannot be had under the cap; small objects can

    grammars = {
        "Literal": q.Literal("ab"), "Keyword": q.Keyword("ab"), "Word": q.Word("ab"), "Regex": q.Regex("[ab]+"),
        "QuotedString": q.QuotedString(), "common": q.rest_of_line(), "Group": q.Group(q.Literal("ab")),
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
    assert run_child(CHILD) == ["done", "41"]


LARGE_CHILD = textwrap.dedent(r"""
    N = 2_000_000
    E = "\u00e9"
    LOWER = "abcdefghijklmnopqrstuvwxyz"
    spaced = "a " * N
    wide = ("a" + E + " ") * N
    assert q.Literal("zz").search_string_count(wide) == 0  # its UTF-8 form is made before the cap
    run = "a" * N
    long_run = "a" * (6 * N) + " "  # a token that is not the whole input, which a batch may hand back itself
    letters = str.maketrans("0123456789", "ghijklmnop")
    distinct = " ".join(f"{i:x}".translate(letters) for i in range(N // 2))  # words of letters, all different
    # 300 distinct digit tokens fill And's per-call token table; the last item's token is made past it.
    table_items = ["a%d" % i for i in range(300)] + ["a" + "1" * (6 * N)]
    large_tokens = " ".join("a" * (120_000 + i) for i in range(100))  # few distinct tokens, whose strs do not fit
    LONG = "x" * 16

    # (what, method, arguments it cannot finish, small arguments it answers afterwards); each needs tens of MB.
    calls = [
        ("Literal transform of 6 GB", q.Literal("a").transform_string, ("a " * 3000, "x" * 2_000_000), ("a b", "-")),
        ("Literal transform", q.Literal("a").transform_string, (spaced, LONG), ("a b", "-")),
        ("Literal transform, non-ASCII", q.Literal("a").transform_string, (wide, LONG), ("a" + E, "-")),
        ("Keyword transform", q.Keyword("a").transform_string, (spaced, LONG), ("a b", "-")),
        ("Word transform", q.Word("a").transform_string, (spaced, "x" * 8), ("a b", "-")),
        ("Word transform, long replacement", q.Word("a").transform_string, (spaced, LONG), ("a b", "-")),
        ("Word transform, wide set", q.Word("a" + E).transform_string, (wide, "x" * 8), ("a" + E + " b", "-")),
        ("Regex transform", q.Regex("a").transform_string, (spaced, LONG), ("a b", "-")),
        ("Char transform", q.Char("a").transform_string, (spaced, LONG), ("a b", "-")),
        ("common transform", q.Group(q.Literal("a")).transform_string, (spaced, LONG), ("a b", "-")),
        ("common search_string", q.Group(q.Char("a")).search_string, (run,), ("aba",)),
        ("common search_string, distinct tokens", q.Group(q.Word(LOWER)).search_string, (distinct,), ("ab cd ab",)),
        ("And search_string", (q.Char("a") + q.Empty()).search_string, (run,), ("aba",)),
        ("Regex search_string", q.Regex("a").search_string, (run,), ("aba",)),
        ("Word search_string, distinct tokens", q.Word(LOWER).search_string, (distinct,), ("ab cd ab",)),
        ("common search_string, large tokens", q.Group(q.Word("a")).search_string, (large_tokens,), ("aba",)),
        ("And search_string, large tokens", (q.Word("a") + q.Literal(" ")).search_string, (large_tokens,), ("a a",)),
        ("Regex search_string, large tokens", q.Regex("a+").search_string, (large_tokens,), ("aba",)),
        ("Word search_string, large tokens", q.Word("a").search_string, (large_tokens,), ("aba",)),
        ("common parse_string, many tokens", q.OneOrMore(q.Char("a")).parse_string, (run,), ("aab",)),
        ("Word parse_string, one large token", q.Word("a").parse_string, (long_run,), ("aab",)),
        ("Regex parse_string, one large token", q.Regex("a+").parse_string, (long_run,), ("aab",)),
        ("common parse_batch, many tokens", q.OneOrMore(q.Char("a")).parse_batch, ([run, "b"],), (["aab", "b"],)),
        ("Word parse_batch, one large token", q.Word("a").parse_batch, ([long_run, "b"] * 2,), (["aab", "b"],)),
        ("Regex parse_batch, one large token", q.Regex("a+").parse_batch, ([long_run, "b", "c"],), (["aab", "b"],)),
        # An item held by its list slot alone, which takes no identity entry.
        ("Word parse_batch, a sole holder's large token", q.Word("a").parse_batch, (["a" * (6 * N) + " ", "b"],),
         (["aab", "b"],)),
        ("And parse_batch, tokens past the table", (q.Word("a") + q.Word("0123456789")).parse_batch, (table_items,),
         (["a1", "b", "a1"],)),
    ]
    expected = [f(*small) for _, f, _, small in calls]
    watched = [a for _, _, large, _ in calls for a in large]
    counts = [sys.getrefcount(x) for x in watched]

    def fail_all():
        unexpected = []
        for name, f, large, _ in calls:
            try:
                f(*large)
            except MemoryError:
                pass
            else:
                unexpected.append(name)
            assert gc.isenabled(), name
        return unexpected

    gc.collect()
    tracked = len(gc.get_objects())
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (address_space() + 8 * 2**20, hard))
    unexpected = fail_all()
    # What one round leaves (the heap's high-water mark, free lists) stays; a leak would grow with every round.
    space, blocks = address_space(), sys.getallocatedblocks()
    for _ in range(2):
        unexpected += fail_all()
    grown = address_space() - space, sys.getallocatedblocks() - blocks
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))

    assert unexpected == [], unexpected
    assert grown[0] <= 2**20 and grown[1] <= 10, grown
    gc.collect()
    assert len(gc.get_objects()) <= tracked, len(gc.get_objects()) - tracked
    assert [sys.getrefcount(x) for x in watched] == counts
    assert [f(*small) for _, f, _, small in calls] == expected
    print("done", len(calls))
""")


def test_results_the_input_makes_too_large_raise_memory_error():
    assert run_child(LARGE_CHILD) == ["done", "27"]


# Grammars the input makes too large: a constructor, an operator or one_of that cannot have the memory for
# its element raises MemoryError and leaves nothing behind.
GRAMMAR_CHILD = textwrap.dedent(r"""
    N = 2_000_000
    big = "x" * (6 * N)
    words = "a " * N
    few = [q.Literal("a")] * N
    wide_and = q.Literal("a") + q.Literal("b")
    for _ in range(20):
        wide_and = wide_and + wide_and  # 2**21 children, flattened
    calls = [
        ("Literal", q.Literal, (big,)), ("Keyword", q.Keyword, (big,)),
        ("CaselessLiteral", q.CaselessLiteral, (big,)), ("CaselessKeyword", q.CaselessKeyword, (big,)),
        ("MatchFirst", q.MatchFirst, (few,)), ("one_of", q.one_of, (words,)),
        ("+", wide_and.__add__, (q.Literal("c"),)), ("|", q.Literal("c").__or__, (q.MatchFirst(few),)),
    ]
    watched = [big, words, few, wide_and]
    counts = [sys.getrefcount(x) for x in watched]
    gc.collect()
    tracked = len(gc.get_objects())
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (address_space() + 8 * 2**20, hard))
    unexpected = []
    for name, f, args in calls:
        try:
            f(*args)
        except MemoryError:
            pass
        else:
            unexpected.append(name)
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    assert unexpected == [], unexpected
    gc.collect()
    assert len(gc.get_objects()) <= tracked, len(gc.get_objects()) - tracked
    assert [sys.getrefcount(x) for x in watched] == counts
    assert q.Literal("ab").parse_string("abc") == ["ab"] and q.one_of("a b").matches("b")
    print("done", len(calls))
""")


def test_grammars_the_input_makes_too_large_raise_memory_error():
    assert run_child(GRAMMAR_CHILD) == ["done", "8"]


# The cap swept in fine steps across what one_of needs, so that it runs out at each allocation on the way: the
# thread's first release of a grammar and its first C++ exception, the release of a wide grammar the call made,
# the object that cannot be had once its element is made. Cold (nothing of the module used yet), warmed (a
# grammar made and freed and a MemoryError raised, with memory to spare), and on a new thread, whose first call
# is made under the cap.
SWEEP_CHILD = textwrap.dedent(r"""
    import threading

    # Every thread allocates from the one heap under the same cap (M_ARENA_MAX): a thread's own arena reserves
    # address space ahead that the cap would not hold back.
    assert ctypes.CDLL(None).mallopt(-8, 1) == 1
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    words = "a " * 2**14  # a grammar of about 3 MiB
    extras = range(0, 4 << 20, 8 << 10)
    outcomes = [None] * len(extras)

    def sweep():
        for i, extra in enumerate(extras):
            resource.setrlimit(resource.RLIMIT_AS, (address_space() + extra, hard))
            try:
                q.one_of(words)
            except MemoryError:
                outcomes[i] = False
            else:
                outcomes[i] = True
            finally:
                resource.setrlimit(resource.RLIMIT_AS, (soft, hard))

    if MODE == "warmed":
        assert q.one_of("a b").matches("b")
        big = "x" * 2**23
        resource.setrlimit(resource.RLIMIT_AS, (address_space() + 2**20, hard))
        try:
            q.Literal(big)
        except MemoryError:
            pass
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    if MODE == "new thread":
        worker = threading.Thread(target=sweep)
        worker.start()
        worker.join()
    else:
        sweep()
    assert None not in outcomes and False in outcomes and outcomes[-1], outcomes
    assert q.one_of("a b").matches("b")
    print("alive")
""")


@pytest.mark.parametrize("mode", ["cold", "warmed", "new thread"])
def test_one_of_under_a_cap_swept_across_its_need(mode):
    assert run_child(f"MODE = {mode!r}\n" + SWEEP_CHILD) == ["alive"]


# A heap filled to the cap, then given back step by step with the call made at each step, from no memory at all
# up to enough. Filling takes blocks of 1000 bytes, then the smallest objects until none can be had, so that the
# first step leaves nothing anywhere; the loop itself allocates nothing while the heap is full.
EXHAUSTED_PREAMBLE = textwrap.dedent(r"""
    import _thread
    from itertools import repeat

    assert ctypes.CDLL(None).mallopt(-8, 1) == 1  # one heap for every thread, as in the sweep above
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)

    def fill_heap(room, held):
        # The cap `room` bytes above the address space, and the heap filled up to it by held[0], a list of the
        # blocks, and held[1], a chain of the crumbs (returning them would need a tuple).
        resource.setrlimit(resource.RLIMIT_AS, (address_space() + room, hard))
        held[0], held[1] = [], None
        try:
            while True:
                held[0].append(bytes(1000))
        except MemoryError:
            pass
        try:
            while True:
                held[1] = (held[1],)
        except MemoryError:
            pass

    def exhausted(call, room, on_new_threads=False, steps=48):
        # The outcome of `call` at each step (True: made, False: MemoryError, None: neither); on_new_threads:
        # each step's call is the first of a thread started beforehand.
        outcomes = [None] * (steps + 1)

        def attempt(k):
            try:
                call()
            except MemoryError:
                outcomes[k] = False
            else:
                outcomes[k] = True

        if on_new_threads:
            go = [_thread.allocate_lock() for _ in outcomes]
            done = [_thread.allocate_lock() for _ in outcomes]
            for lock in go + done:
                lock.acquire()

            def thread(k):
                done[k].release()
                go[k].acquire()
                attempt(k)
                done[k].release()
                go[k].acquire()
                done[k].release()

            for k in range(len(outcomes)):
                _thread.start_new_thread(thread, (k,))
                done[k].acquire()  # running, and waiting for its step
        order = iter(range(len(outcomes)))  # the loop's iterator and counts, made while memory is to spare
        per_step = room // (1000 * steps) + 1
        held = [None, None]
        gc.disable()
        fill_heap(room, held)
        blocks = held[0]
        for k in order:
            if k:
                held[1] = None
                for _ in repeat(None, per_step):
                    if blocks:
                        blocks.pop()
            if on_new_threads:
                go[k].release()
                done[k].acquire()
            else:
                attempt(k)
        held = blocks = None
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        gc.enable()
        if on_new_threads:
            for k in range(len(outcomes)):
                go[k].release()
                done[k].acquire()
        return outcomes

    def check(name, outcomes, needs_memory):
        # Every step raised MemoryError or made its result, the last one with enough; a call that needs much
        # failed at some step.
        if None in outcomes or not outcomes[-1] or (needs_memory and False not in outcomes):
            return [(name, "".join("?" if o is None else "+" if o else "-" for o in outcomes))]
        return []
""")

# Each constructor, `+`, `|` and `<<=`, on this thread and as the first call of new threads: the arguments that
# make the large ones large, the room they need.
CONSTRUCTORS_CHILD = textwrap.dedent(r"""
    KiB, MiB = 2**10, 2**20
    s = "x" * (128 * KiB)
    g = q.Literal("a")
    wide_and, wide_or = q.Literal("a") + q.Literal("b"), q.Literal("a") | q.Literal("b")
    for _ in range(13):
        wide_and, wide_or = wide_and + wide_and, wide_or | wide_or  # 2**14 children
    fwd = q.Forward()
    few = [g] * (16 * KiB)
    calls = [
        ("Literal", lambda: q.Literal(s), 2 * MiB), ("Keyword", lambda: q.Keyword(s), 2 * MiB),
        ("CaselessLiteral", lambda: q.CaselessLiteral(s), 2 * MiB),
        ("CaselessKeyword", lambda: q.CaselessKeyword(s), 2 * MiB),
        ("Char", lambda: q.Char(s), MiB), ("Word", lambda: q.Word(s, s), MiB),
        ("Regex", lambda: q.Regex("a" * 2000), 2 * MiB), ("QuotedString", lambda: q.QuotedString(s, s), 2 * MiB),
        ("MatchFirst", lambda: q.MatchFirst(few), MiB), ("one_of", lambda: q.one_of("a " * (4 * KiB)), 2 * MiB),
        ("+", lambda: wide_and + g, 2 * MiB), ("|", lambda: wide_or | g, 2 * MiB),
    ]
    small = [("<<=", lambda: fwd.__ilshift__(g)), ("Exactly", lambda: q.Exactly(g, 3))]
    small += [(name, (lambda c=getattr(q, name): c(g)))
              for name in ("Group", "Suppress", "Optional", "ZeroOrMore", "OneOrMore", "Combine", "SkipTo")]
    small += [(name, getattr(q, name)) for name in ("Forward", "StringStart", "StringEnd", "LineStart", "LineEnd",
                                                     "rest_of_line", "Empty", "NoMatch")]
    unexpected = []
    for on_new_threads, steps in ((False, 48), (True, 16)):
        for name, call, room in calls:
            unexpected += check(name, exhausted(call, room, on_new_threads, steps), True)
        for name, call in small:
            unexpected += check(name, exhausted(call, 256 * KiB, on_new_threads, steps), False)
    assert unexpected == [], unexpected
    assert q.Literal("ab").parse_string("abc") == ["ab"] and q.one_of("a b").matches("b")
    print("done", len(calls) + len(small))
""")


def test_every_constructor_with_the_heap_full_and_emptied_step_by_step():
    assert run_child(EXHAUSTED_PREAMBLE + CONSTRUCTORS_CHILD) == ["done", "29"]


# The first call of each method on a thread, with the heap full and then emptied step by step: the thread-local
# state the call needs first must cost nothing, or be made where its failure is reported as MemoryError.
METHODS_CHILD = textwrap.dedent(r"""
    KiB, MiB = 2**10, 2**20
    g = q.Literal("a")
    words = q.OneOrMore(q.Word("a "))
    skip = q.SkipTo(q.Literal("b"))
    fwd = q.Forward()
    text = "a " * (64 * KiB)
    items = ["a"] * (16 * KiB)
    calls = [
        ("parse_string", lambda: words.parse_string(text), 2 * MiB, True),
        ("matches", lambda: g.matches(text), 64 * KiB, False),
        ("search_string", lambda: g.search_string(text), 4 * MiB, True),
        ("search_string_count", lambda: skip.search_string_count(text), 64 * KiB, False),
        ("parse_batch", lambda: g.parse_batch(items), MiB, True),
        ("parse_batch_count", lambda: g.parse_batch_count(items), 256 * KiB, False),
        ("transform_string", lambda: g.transform_string(text, "bb"), MiB, True),
        ("set", lambda: fwd.set(g), 64 * KiB, False),
    ]
    unexpected = []
    for name, call, room, needs_memory in calls:
        unexpected += check(name, exhausted(call, room, on_new_threads=True), needs_memory)
    assert unexpected == [], unexpected
    assert g.search_string("aba") == [["a"], ["a"]]
    print("done", len(calls))
""")


def test_first_call_of_each_method_on_a_thread_with_the_heap_full_and_emptied_step_by_step():
    assert run_child(EXHAUSTED_PREAMBLE + METHODS_CHILD) == ["done", "8"]


# Freeing a grammar asks for no memory: a choice of 2**15 distinct words, and a chain of 2**15 nested holders,
# freed with the heap full.
RELEASE_CHILD = textwrap.dedent(r"""
    wide = q.one_of(" ".join(f"w{i}" for i in range(2**15)))
    deep = q.Literal("a")
    for _ in range(2**15):
        deep = q.Group(deep)
    held = [None, None]
    gc.disable()
    fill_heap(2**20, held)
    wide = deep = None
    held = None
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    gc.enable()
    assert q.one_of("a b").matches("b")
    print("freed")
""")


def test_grammars_are_freed_with_the_heap_full():
    assert run_child(EXHAUSTED_PREAMBLE + RELEASE_CHILD) == ["freed"]
