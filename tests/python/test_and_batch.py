"""And.parse_batch: one list of slice-walk tokens per input, equal to a loop over And.parse_string (an input
that fails gives []). Which item lists and token strs are one object follows the step that served the call:
a uniform list shares one list and its tokens are separate strs; the input-period and identity-cache steps
share each token text as one str across the whole result (the first 256 texts of a call, past which a new text
gets a str per occurrence), the period step shares one list per period slot and gives the tail lists of their
own, the cache step gives every slot a list of its own. Reference counts are
exact: every list and token is held by the result alone, on error paths nothing is left behind."""
import random
import sys

import pytest
from conftest import assert_shared_by_groups, call_checked, fresh, loop_parse, refcounts_unchanged

import quillex as q
from quillex import CaselessLiteral, Forward, LineEnd, OneOrMore, Optional, SkipTo, Suppress, Word

L = q.Literal


def step_of(items):
    """The step that serves a list: 'empty', 'uniform', 'period' (with its h) or 'cache'."""
    n = len(items)
    if n == 0:
        return "empty", 0
    if all(x is items[0] for x in items):
        return "uniform", 0
    h = next((i for i in range(1, min(n, 128)) if items[i] is items[0]), 0)
    if h and 2 * h <= n and all(items[i] is items[i - h] for i in range(h, n)):
        return "period", h
    return "cache", 0


def list_groups(items):
    """Slot i's group: slots of one group hold one list object, slots of different groups different ones."""
    n = len(items)
    step, h = step_of(items)
    if step == "uniform":
        return [0] * n
    if step == "period":
        v = n - n % h
        return [j % h if j < v else j for j in range(n)]
    return list(range(n))


def shared_by_interpreter(token):
    # One-character latin-1 strs are the interpreter's own singletons: their identity and count say nothing.
    return len(token) == 1 and ord(token) < 256


def token_slots(lists):
    """id -> [token, number of item-list slots that hold it], over distinct item lists."""
    uses = {}
    for lst in lists:
        for token in lst:
            uses.setdefault(id(token), [token, 0])[1] += 1
    return uses


def assert_tokens_held_by_their_slots(lists):
    uses = token_slots(lists)
    for entry in uses.values():
        if shared_by_interpreter(entry[0]):
            continue
        held = sys.getrefcount(entry[0]) - 2  # the entry and the argument
        assert held == entry[1], f"token {entry[0]!r}"


def assert_shared_as_its_step_says(result, items, tokens_shared_by_text=True):
    groups = list_groups(items)
    assert_shared_by_groups(result, groups)
    lists = list({id(r): r for r in result}.values())
    step, _ = step_of(items)
    if step == "uniform":
        # One walk, one new str per slice: equal slices are separate strs.
        own = [id(t) for t in lists[0] if not shared_by_interpreter(t)]
        assert len(set(own)) == len(own)
    elif tokens_shared_by_text:
        one_per_text = {}
        for lst in lists:
            assert all(one_per_text.setdefault(t, t) is t for t in lst), "equal token texts are one str"
        del one_per_text  # its references would count below
    assert_tokens_held_by_their_slots(lists)


# name: (grammar, texts); texts[0] matches, texts[1] gives the second uniform case (a failure, or a match that
# consumes nothing). Every text has two or more characters, so fresh() makes distinct objects.
GRAMMARS = {
    # Equal slices within one input (the two 'ab').
    "repeated-slices": (lambda: L("ab") + L("ab") + Word("xy"), ["ababxy", "abxy", "ababyx!", "abab", "ababyyy"]),
    # Word members U+0080..U+00FF match whole characters; 'é' alone is the interpreter's singleton.
    "latin1-word": (lambda: L("é") + Word("éa") + Optional(L("--")), ["ééa--", "éx", "éaé", "aé", "éé", "ééaa-"]),
    # Slices of three-byte characters; SkipTo right at its target consumes nothing.
    "skip-to": (lambda: L("€") + SkipTo(L("cd")) + L("cd"), ["€é€cd", "€c", "€cd", "x€cd", "€aécdcd"]),
    # The walk's tokens, not the children's own: Suppress, a repetition and a caseless child give their text.
    "wrappers": (lambda: L("ab") + Suppress(L("cd")) + OneOrMore(L("ef")) + CaselessLiteral("gh"),
                 ["abcdefefGH", "abcdgh", "abcdefgh", "abcdefefGhij", "abcdef"]),
    # Zero-length children add nothing; texts[1] matches without consuming anything.
    "zero-width": (lambda: Optional(L("xx")) + Optional(L("yy")) + Optional(LineEnd()),
                   ["xxyy\n", "zz", "yyq", "xx\nq", "\nxx"]),
}

POOL = 130  # distinct input objects; object k has text texts[k % len(texts)], so equal texts recur

_rng = random.Random(7)
_FORTY = [_rng.randrange(40) for _ in range(2000)]

# name: (object indices as a function of the number of texts T, the step that must serve it)
SHAPES = {
    "empty": (lambda T: [], "empty"),
    "one": (lambda T: [0], "uniform"),
    "uniform-first": (lambda T: [0] * 1000, "uniform"),
    "uniform-second": (lambda T: [1] * 50, "uniform"),
    "period-2": (lambda T: [0, 1] * 5, "period"),
    "period-2-partial": (lambda T: [0, 1] * 5 + [0], "period"),
    "period-3-repeat-inside": (lambda T: [0, 1, 1] * 4 + [0, 1], "period"),
    "period-equal-texts": (lambda T: [0, T, 1, T + 1, 2] * 3 + [0, T], "period"),
    "period-127-partial": (lambda T: list(range(127)) * 2 + list(range(60)), "period"),
    "recurs-at-128": (lambda T: list(range(128)) * 2, "cache"),
    "runs": (lambda T: [0, 0, 0, 1, 1, 0, 2, 2], "cache"),
    "broken-period": (lambda T: [0, 1, 0, 1, 2, 3, 0, 1], "cache"),
    "equal-texts-cache": (lambda T: [0, T, 0, 2 * T, 1, T + 1, 1], "cache"),
    "forty-distinct": (lambda T: _FORTY, "cache"),
    "all-distinct": (lambda T: list(range(POOL)), "cache"),
}


@pytest.mark.parametrize("shape", list(SHAPES))
@pytest.mark.parametrize("grammar", list(GRAMMARS))
def test_parse_batch_equals_a_loop_and_shares_as_its_step_says(grammar, shape):
    make, texts = GRAMMARS[grammar]
    g = make()
    pool = [fresh(texts[k % len(texts)]) for k in range(POOL)]
    pattern, step = SHAPES[shape]
    items = [pool[k] for k in pattern(len(texts))]
    assert step_of(items)[0] == step
    expected = loop_parse(g, items)
    with refcounts_unchanged(*pool):
        result = call_checked(g.parse_batch, items)
        assert type(result) is list and all(type(r) is list for r in result)
        assert result == expected
        assert_shared_as_its_step_says(result, items)
        del result


def test_the_grammars_meet_what_they_are_for():
    # Guards the table above: each grammar has a matching first text and the case its second text stands for.
    for name, (make, texts) in GRAMMARS.items():
        g = make()
        assert g.matches(texts[0]) and g.parse_string(texts[0]), name
        assert loop_parse(g, [texts[1]]) == [[]], name
    assert GRAMMARS["zero-width"][0]().parse_string("zz") == []
    assert GRAMMARS["repeated-slices"][0]().parse_string("ababxy") == ["ab", "ab", "xy"]


def test_examples():
    g = L("ab") + L("cd")
    assert g.parse_batch([]) == []
    s = fresh("abcdx")
    r = g.parse_batch([s, s, s])
    assert r == [["ab", "cd"]] * 3 and r[0] is r[1] is r[2]
    assert g.parse_batch([s]) == [["ab", "cd"]]
    x = fresh("xy")
    r = g.parse_batch([x, x])
    assert r == [[], []] and r[0] is r[1]
    r = g.parse_batch([fresh("abcd"), fresh("zz"), fresh("abcd")])
    assert r == [["ab", "cd"], [], ["ab", "cd"]]
    assert r[0][0] is r[2][0] and r[0][1] is r[2][1] and r[0] is not r[2]
    # A failing input contributes nothing, even what its first child consumed.
    p, w = fresh("abx"), fresh("abcd")
    assert g.parse_batch([p, w]) == [[], ["ab", "cd"]]
    assert g.parse_batch([p, w, p, w]) == [[], ["ab", "cd"], [], ["ab", "cd"]]
    u, v = fresh("abcd"), fresh("abcdzz")
    r = g.parse_batch([u, v, u, v, u])
    assert r == [["ab", "cd"]] * 5
    assert r[0] is r[2] and r[1] is r[3] and r[4] is not r[0] and r[0] is not r[1]
    assert len({id(t[0]) for t in r}) == 1
    assert (Optional(L("x")) + Optional(L("y"))).parse_batch([fresh("ab"), fresh("cd")]) == [[], []]
    assert (L("a") + Suppress(L("b"))).parse_batch([fresh("ab")]) == [["a", "b"]]


def test_shared_lists_are_one_object():
    g = L("ab") + L("cd")
    u, v = fresh("abcd"), fresh("abcd!")
    r = g.parse_batch([u, v] * 3)
    r[0].append("zz")
    assert r[4] == ["ab", "cd", "zz"] and r[1] == ["ab", "cd"]


def test_more_than_256_distinct_token_texts():
    # 'key' is numbered first and stays one str for the whole call; the numbers beyond the table's 256 texts
    # still give every input its own tokens. Each text occurs twice, as two objects, on the cache step.
    g = L("key") + Word(q.nums())
    texts = [f"key{i}" for i in range(600)]
    items = [fresh(t) for t in texts] + [fresh(t) for t in texts]
    assert step_of(items)[0] == "cache"
    with refcounts_unchanged(*items):
        result = call_checked(g.parse_batch, items)
        assert result == loop_parse(g, items)
        assert len({id(r[0]) for r in result}) == 1
        assert all(result[i][1] is result[600 + i][1] for i in range(255))
        assert all(result[i] is not result[600 + i] for i in range(600))
        assert_tokens_held_by_their_slots(result)
        del result


def test_more_than_256_distinct_token_texts_on_the_period_step():
    # Three new numbers per input: the table is full within the period, and the inputs numbered before that
    # share their strs with their tail copies.
    g = Word(q.nums()) + L("==") + Word(q.nums()) + L("==") + Word(q.nums())
    period = [fresh(f"{i}=={i + 1000}=={i + 2000}") for i in range(127)]
    items = period * 2 + period[:50]
    assert step_of(items) == ("period", 127)
    with refcounts_unchanged(*period):
        result = call_checked(g.parse_batch, items)
        assert result == loop_parse(g, items)
        assert_shared_as_its_step_says(result, items, tokens_shared_by_text=False)
        assert len({id(r[1]) for r in result}) == 1  # '==' is numbered with the first input
        assert all(result[254 + i][2] is result[i][2] for i in range(50))
        del result


def test_inputs_with_more_tokens_than_a_cached_span_holds():
    # 300 children, so 300 tokens per matching input: too many to keep as a cached span; such an input is walked
    # again at each occurrence and still shares its token strs.
    g = L("ab")
    for k in range(299):
        g = g + L("cd" if k % 2 == 0 else "ab")
    text = "abcd" * 150
    a, b, c = fresh(text), fresh(text + "!"), fresh("abcdx")
    items = [a, b, a, c, b, a, a, c]
    assert step_of(items)[0] == "cache"
    with refcounts_unchanged(a, b, c):
        result = call_checked(g.parse_batch, items)
        assert result == loop_parse(g, items)
        assert len(result[0]) == 300
        assert_shared_as_its_step_says(result, items)
        del result


class Outer:
    class Inner:
        pass


def _forty():
    return [fresh(f"abcd{i}") for i in range(40)]


BAD_ITEMS = [
    pytest.param(lambda a, b, c: [5], 0, "int", id="only-item"),
    pytest.param(lambda a, b, c: [None] * 10, 0, "NoneType", id="uniform"),
    pytest.param(lambda a, b, c: [a, 5, a, 5, a], 1, "int", id="inside-period"),
    pytest.param(lambda a, b, c: [a, b, [a]] * 3 + [a], 2, "list", id="period-with-tail"),
    pytest.param(lambda a, b, c: [a, b, a, b, a, b"x"], 5, "bytes", id="breaks-period-at-end"),
    pytest.param(lambda a, b, c: [a, b, c, a, b, 2.5, 2.5], 5, "float", id="cache-after-lists"),
    pytest.param(lambda a, b, c: _forty() * 2 + [a, Outer.Inner()], 81, "Outer.Inner", id="cache-full"),
    pytest.param(lambda a, b, c: [a, 3, "x\ud800y"], 1, "int", id="before-a-surrogate"),
]


@pytest.mark.parametrize("make, index, type_name", BAD_ITEMS)
def test_non_str_item_is_a_type_error_naming_the_first_one(make, index, type_name):
    g = L("ab") + Word("cd") + Optional(Word(q.nums()))
    a, b, c = fresh("abcd1"), fresh("abdd"), fresh("ax")
    items = make(a, b, c)
    with refcounts_unchanged(a, b, c), pytest.raises(TypeError) as info:
        call_checked(g.parse_batch, items)
    assert type(info.value) is TypeError
    assert str(info.value) == (
        f"argument 'inputs': item {index}: '{type_name}' object cannot be converted to 'PyString'"
    )


@pytest.mark.parametrize("make", [
    pytest.param(lambda a, b, s: [s] * 7, id="uniform"),
    pytest.param(lambda a, b, s: [a, s, a, s, a], id="period"),
    pytest.param(lambda a, b, s: [a, b, a, a, s, 5], id="cache-after-lists"),
])
def test_str_without_utf8_form_raises_the_interpreters_error(make):
    g = L("ab") + Word("cd")
    a, b, bad = fresh("abcd"), fresh("abdc"), "x\ud800y"
    items = make(a, b, bad)
    before = [sys.getrefcount(x) for x in (a, b, bad, items)]
    with pytest.raises(UnicodeEncodeError) as info:
        g.parse_batch(items)
    assert info.value.object is bad
    del info  # the error holds the str
    assert [sys.getrefcount(x) for x in (a, b, bad, items)] == before


@pytest.mark.parametrize("make", [
    pytest.param(lambda ok, deep: [deep], id="one"),
    pytest.param(lambda ok, deep: [deep] * 100, id="uniform"),
    pytest.param(lambda ok, deep: [ok, deep] * 3 + [ok], id="period"),
    pytest.param(lambda ok, deep: [ok, fresh("abcdcd"), ok, fresh("xxzz"), deep, ok], id="cache-after-lists"),
    pytest.param(lambda ok, deep: _forty() + [ok, deep], id="cache-full"),
])
def test_recursion_overflow_in_a_child_is_a_recursion_error(make):
    # 'abcd' matches through the first alternative; after 'ab' anything else recurses without end.
    f = Forward()
    f.set(f)
    g = L("ab") + (L("cd") | f)
    ok, deep = fresh("abcd"), fresh("abxx")
    items = make(ok, deep)
    with refcounts_unchanged(ok, deep), pytest.raises(RecursionError) as info:
        call_checked(g.parse_batch, items)
    assert str(info.value) == "maximum grammar recursion depth exceeded"
    del info
    assert g.parse_batch([ok, ok, fresh("abcd")]) == [["ab", "cd"]] * 3
    f.set(q.Empty())  # break the cycle


@pytest.mark.parametrize("n", [1_000_000])
def test_million_item_batches(n):
    g = L("ab") + Word("cd")
    a, b = fresh("abcdc"), fresh("abx")
    r = g.parse_batch([a] * n)
    assert len(r) == n and r[0] == ["ab", "cdc"] and r[-1] is r[0]
    held = sys.getrefcount(r[0]) - 1
    assert held == n
    periodic = [a, b, b] * (n // 3) + [a]
    r = g.parse_batch(periodic)
    assert len(r) == len(periodic) and r[-1] == r[0] == ["ab", "cdc"] and r[-1] is not r[0] and r[-2] is r[2]
    assert r[1] == [] and r[0][0] is r[-1][0]
    del r
