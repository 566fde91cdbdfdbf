"""Matching that recurses without end, or deeper than the stack allows, raises RecursionError from every method
and never crashes. The cases that would crash a process without the guard run in a subprocess."""
import os
import subprocess
import sys
import textwrap

import pytest

MESSAGE = "maximum grammar recursion depth exceeded"

# Every method on one grammar and text; each must raise RecursionError with the grammar's message.
CALL_EVERY_METHOD = textwrap.dedent("""
    import gc
    import sys
    import quillex as q
    from quillex import *

    # `answers`: methods whose class answers without matching (Optional and ZeroOrMore match every str).
    def every_method(g, text, answers=()):
        calls = [
            ("parse_string", lambda: g.parse_string(text)),
            ("matches", lambda: g.matches(text)),
            ("search_string", lambda: g.search_string(text)),
            ("search_string_count", lambda: g.search_string_count(text)),
            ("parse_batch", lambda: g.parse_batch([text, text, "x" + text])),
            ("parse_batch_count", lambda: g.parse_batch_count([text, "x" + text])),
            ("transform_string", lambda: g.transform_string(text, "-")),
        ]
        for name, call in calls:
            try:
                result = call()
            except RecursionError as e:
                assert str(e) == "%s", (name, str(e))
            else:
                assert name in answers, (name, "returned", type(result))
        # Matching works again afterwards.
        assert Literal("a").matches("a")
""" % MESSAGE)

CASES = {
    "left-recursion": """
        f = Forward()
        f <<= f + Literal("x")
        every_method(f, "xxx")
        every_method(Group(f), "xxx")
        every_method(f + Literal("y"), "xxx")
        f <<= Empty()  # break the cycle
    """,
    "forward-set-to-itself": """
        f = Forward()
        f <<= f
        every_method(f, "abc")
        every_method(MatchFirst([f, Literal("a")]), "abc")
        f.set(Empty())
    """,
    "left-recursion-through-alternatives": """
        f = Forward()
        f <<= MatchFirst([f + Literal("+") + Literal("1"), Literal("1")])
        every_method(f, "1+1")
        every_method(Suppress(f), "1+1")
        every_method(Combine(f), "1+1")
        every_method(SkipTo(f), "1+1")
        f <<= Empty()
    """,
    "repetition-of-itself": """
        f = Forward()
        f <<= OneOrMore(f)
        every_method(f, "ab")
        f <<= ZeroOrMore(Optional(f))
        every_method(f, "ab")
        f <<= Exactly(f, 3)
        every_method(f, "ab")
        f <<= Empty()
    """,
    "million-open-parentheses": """
        f = Forward()
        f <<= Literal("(") + Optional(f) + Literal(")")
        deep = "(" * 1000000
        every_method(f, deep)
        every_method(Group(f), deep)
        every_method(Optional(f) + Literal("x"), deep)
        # A nesting the stack allows still matches.
        assert f.parse_string("(" * 500 + ")" * 500) == ["("] * 500 + [")"] * 500
        assert (Literal("(") + Optional(f) + Literal(")")).parse_string("(())") == ["(", "()", ")"]
        f <<= Empty()
    """,
    "million-nested-groups": """
        answers = {Optional: ("matches", "parse_batch_count"), ZeroOrMore: ("matches",)}
        for wrap in [Group, Optional, Suppress, Combine, ZeroOrMore, lambda e: MatchFirst([e]), SkipTo]:
            g = Literal("a")
            for _ in range(1000000):
                g = wrap(g)
            every_method(g, "a", answers.get(wrap, ()))
            del g  # freed without deep recursion
            gc.collect()
        # A nesting the stack allows matches.
        g = Literal("a")
        for _ in range(2000):
            g = Group(g)
        assert g.parse_string("ab") == ["a"]
        assert g.search_string_count("aba") == 2
    """,
}

# Threads may have far smaller stacks than the main thread: the guard measures each thread's own. 32 KiB is the
# smallest stack the interpreter accepts. The cases above that check a nesting the main thread's stack allows
# have a counterpart here with a nesting that fits the smallest stack.
THREAD_STACKS = {"256k": 256 * 1024, "32k": 32 * 1024}
THREAD_CASES = {name: CASES[name] for name in CASES
                if name not in ("million-open-parentheses", "million-nested-groups")}
THREAD_CASES["million-nested-chains-of-every-holder"] = """
    # The holders that million-nested-groups leaves out, a Forward chain among them, each nested a million
    # deep; then sequences and choices a million children wide. All are freed without deep recursion.
    def forward_of(e):
        f = Forward()
        f <<= e
        return f
    holders = [OneOrMore, lambda e: Exactly(e, 1), lambda e: Group(e) + Literal("b"), forward_of]
    for wrap in holders:
        g = Literal("a")
        for _ in range(1000000):
            g = wrap(g)
        every_method(g, "ab")
        del g
    wide = Literal("a")
    for _ in range(20):
        wide = wide + wide  # 2**20 children, flattened into one And
    assert wide.matches("a" * 2**20) and not wide.matches("a" * (2**20 - 1))
    del wide
    choice = MatchFirst([Literal("b")] * 1000000 + [Literal("a")])
    assert choice.parse_string("a") == ["a"]
    del choice
    gc.collect()
"""
THREAD_CASES["million-open-parentheses-and-groups"] = """
    f = Forward()
    f <<= Literal("(") + Optional(f) + Literal(")")
    deep = "(" * 1000000
    for g in [f, Group(f), Optional(f) + Literal("x"), MatchFirst([Literal("x"), f]), ZeroOrMore(f), SkipTo(f)]:
        every_method(g, deep, ("matches",) if isinstance(g, ZeroOrMore) else ())
    assert f.parse_string("((()))") == ["(", "(", "(", ")", ")", ")"]
    f <<= Empty()
    answers = {Optional: ("matches", "parse_batch_count"), ZeroOrMore: ("matches",)}
    for wrap in [Group, Optional, ZeroOrMore, SkipTo]:
        g = Literal("a")
        for _ in range(1000000):
            g = wrap(g)
        every_method(g, "a", answers.get(wrap, ()))
        del g
    g = Literal("a")
    for _ in range(20):
        g = Group(g)
    assert g.parse_string("ab") == ["a"]
"""


def run_case(body, stack_size=None):
    body = textwrap.dedent(body)
    if stack_size is not None:
        body = THREAD_RUNNER % (textwrap.indent(body, "    "), stack_size)
    code = CALL_EVERY_METHOD + body + "\nprint('clean')\n"
    env = dict(os.environ)
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, timeout=600)


@pytest.mark.parametrize("name", list(CASES))
def test_recursion_raises_and_exits_cleanly(name):
    r = run_case(CASES[name])
    assert r.returncode == 0, r.stderr[-4000:]
    assert r.stdout.strip() == "clean"


# The case's body as a function run in a thread of the given stack size; a failure in it fails the run.
THREAD_RUNNER = """
import threading
def case():
%s
failures = []
def run():
    try:
        case()
    except BaseException as e:
        failures.append(e)
threading.stack_size(%d)
worker = threading.Thread(target=run)
worker.start()
worker.join()
if failures:
    raise failures[0]
"""


@pytest.mark.parametrize("stack", list(THREAD_STACKS))
@pytest.mark.parametrize("name", list(THREAD_CASES))
def test_recursion_in_a_thread_with_a_small_stack(name, stack):
    r = run_case(THREAD_CASES[name], THREAD_STACKS[stack])
    assert r.returncode == 0, r.stderr[-4000:]
    assert r.stdout.strip() == "clean"


def test_recursion_in_process_leaves_no_borrow_or_reference_behind():
    from quillex import Forward, Literal

    f = Forward()
    f <<= f + Literal("x")
    text = "xx"
    before = (sys.getrefcount(f), sys.getrefcount(text))
    for _ in range(3):
        with pytest.raises(RecursionError) as info:
            f.parse_string(text)
        assert str(info.value) == MESSAGE
        with pytest.raises(RecursionError):
            f.parse_batch_count([text])
    del info
    assert (sys.getrefcount(f), sys.getrefcount(text)) == before
    # The receiver's borrow was released: it can be bound again.
    f <<= Literal("x")
    assert f.matches(text)


def test_collection_after_an_overflow_cannot_turn_it_into_a_result():
    """A call that overflows raises RecursionError, even when a collection runs as it makes its result or its
    error (a list, or an exception raised while another is being handled) and the collection's finalisers call
    the module: the nested calls answer as they would anywhere, and the partial result or the ordinary failure
    never passes for the outcome. Each call is timed to allocate with the list free list drained and the
    collector due at its next tracked allocation."""
    import gc

    from quillex import Empty, Forward, Group, Literal, MatchFirst, Optional, Suppress

    f = Forward()
    f <<= f + Literal("x")
    first_a_then_overflow = MatchFirst([Literal("a"), f])  # matches 'a' at 0, overflows at 1
    # (grammar, method, called while an exception is being handled)
    calls = [
        (first_a_then_overflow, "search_string", False),
        (first_a_then_overflow + Empty(), "search_string", False),
        (Group(first_a_then_overflow), "search_string", False),
        (Optional(f), "parse_string", False),  # the inner test overflows: no empty list for the failure
        (f + Literal("y"), "parse_string", True),  # nor a ValueError for the failed walk
        (Suppress(f), "parse_string", True),
        (f, "parse_string", True),
        (MatchFirst([f, Literal("b")]), "parse_string", True),
    ]
    nested = []

    class CallsTheModule:
        def __del__(self):
            try:
                nested.append(Literal("x").matches("x"))
            except RecursionError:
                nested.append("RecursionError")

    threshold = gc.get_threshold()
    was_enabled = gc.isenabled()
    try:
        for g, method, handling in calls:
            call = getattr(g, method)
            gc.disable()
            gc.set_threshold(1)
            for _ in range(5):
                cycle = CallsTheModule()
                cycle.self = cycle
            del cycle
            drained = [[] for _ in range(300)]
            try:
                if handling:
                    try:
                        raise KeyError("handled")
                    except KeyError:
                        gc.enable()
                        outcome = call("ab")
                else:
                    gc.enable()
                    outcome = call("ab")
            except RecursionError as e:
                outcome = str(e)
            finally:
                gc.disable()
            del drained
            assert outcome == MESSAGE, (g, method, outcome)
    finally:
        gc.set_threshold(*threshold)
        gc.enable()
        gc.collect()
        if not was_enabled:
            gc.disable()
        f <<= Empty()
    assert nested and all(r is True for r in nested), nested
