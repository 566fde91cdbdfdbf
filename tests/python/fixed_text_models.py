"""Python models of the Literal and Keyword rules and of the methods built on them, shared by the fast-path
tests, plus the batch list shapes those tests walk and the common-routine route (a Group around the terminal).

The models work on UTF-8 bytes, as the module does: a position is a byte offset.
"""
import itertools
import random
import sys

import pytest

import quillex as q
from conftest import assert_shared_by_groups, call_checked, fresh, refcounts_unchanged

IDENT = frozenset(b"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_")


def literal_at(lit, b, pos):
    return b.startswith(lit, pos)


def keyword_at(kw, b, pos):
    end = pos + len(kw)
    return b.startswith(kw, pos) and (end == len(b) or b[end] not in IDENT)


RULES = {"Literal": literal_at, "Keyword": keyword_at}


def scan(rule, token, text):
    """The scan rule over the element's test: the (start, end) of every match, zero-length ones included."""
    b, t = text.encode(), token.encode()
    pos, out = 0, []
    while pos < len(b):
        if rule(t, b, pos):
            out.append((pos, pos + len(t)))
            pos = max(pos + 1, pos + len(t))
        else:
            pos += 1
    return out


def model_count(rule, token, text):
    return len(scan(rule, token, text))


def model_search(rule, token, text):
    return [[token]] * model_count(rule, token, text)


def model_transform(rule, token, text, replacement):
    b, out, copied = text.encode(), [], 0
    for x, y in scan(rule, token, text):
        if y > x:
            out.append(b[copied:x])
            out.append(replacement.encode())
            copied = y
    out.append(b[copied:])
    return b"".join(out).decode()


def model_matches(rule, token, text):
    return rule(token.encode(), text.encode(), 0)


def model_batch(rule, token, items):
    return [[token] if model_matches(rule, token, s) else [] for s in items]


def count_by_matches(g, token, text):
    """The scan rule run through the object's own `matches` on each character-boundary suffix (a non-empty
    literal or keyword can match only at a character boundary)."""
    assert token
    i, count = 0, 0
    while i < len(text):
        if g.matches(text[i:]):
            count += 1
            i += len(token)
        else:
            i += 1
    return count


def small_world(alphabet, max_length):
    """Every text over `alphabet` of 0 .. max_length characters."""
    for n in range(max_length + 1):
        for chars in itertools.product(alphabet, repeat=n):
            yield "".join(chars)


def common_route(g):
    """Group(g): the common routines over g's try_match_at (Group's tokens stay flat). Skips the test while
    Group has no constructor."""
    try:
        return q.Group(g)
    except TypeError as exc:
        pytest.skip(f"common route unavailable: {exc}")


def batch_shapes(hit, miss):
    """Batch lists by name, from texts `hit` (matches) and `miss` (does not); every object made fresh."""
    a, b, c = fresh(hit), fresh(miss), fresh(hit + " c")
    x, y = fresh(miss + "x"), fresh(hit + " y")
    twin = fresh(hit)
    forty = [fresh(f"{hit} {i}") if i % 3 else fresh(f"{miss}{i}") for i in range(40)]
    rng = random.Random(5)
    no_period = []
    for k in range(300):
        no_period.extend(forty[(k * 7 + j) % 40] for j in range(k % 5 + 1))
    return {
        "empty": [],
        "one": [a],
        "one-miss": [b],
        "uniform-1000": [a] * 1000,
        "uniform-miss": [b] * 50,
        "period-2": [a, b] * 3,
        "period-2-partial": [a, b, a, b, a],
        "period-3-partial": [a, b, c] * 5 + [a, b],
        "broken-period": [a, b, a, b, x, y, a, b],
        "aaba": [a, a, b, a],
        "equal-text-distinct-objects": [a, twin, a, twin, twin],
        "runs": [a, a, a, b, b, a, c, c, b],
        "period-127": ([a] + [fresh(f"{miss}{i}") for i in range(126)]) * 3,
        "forty-random": [rng.choice(forty) for _ in range(3000)],
        "forty-no-period": no_period,
    }


BATCH_SHAPES = list(batch_shapes("ab", "x"))



# ---------------------------------------------------------------------------------------------------------------
# The contract that Literal('ab') and Keyword('ab') share: checks that both test files run with their class.
# 'ab' followed by a space, or alone, passes both rules; 'x' passes neither.

BATCH_METHODS = ["parse_batch", "parse_batch_count"]


def cached_token(g):
    """The cached token of an object of the text 'ab', as parse_string hands it out."""
    return g.parse_string("ab ")[0]


def check_shared_match_lists(g, rule, items):
    """parse_batch equals the model, its matched slots are one list holding the cached token and its failed
    slots one empty list, each held by its slots alone; parse_batch_count equals the model's count."""
    token = cached_token(g)
    distinct = list({id(x): x for x in items}.values())
    with refcounts_unchanged(token, *distinct):
        result = call_checked(g.parse_batch, items)
        assert type(result) is list
        want = model_batch(rule, "ab", items)
        assert result == want
        assert_shared_by_groups(result, [bool(w) for w in want])
        assert all(r[0] is token for r in result if r)
        del result
    want = sum(rule(b"ab", s.encode(), 0) for s in items)
    assert call_checked(g.parse_batch_count, items) == want


def check_every_result_hands_out_the_cached_token(g):
    token = cached_token(g)
    assert g.parse_string("ab")[0] is token
    assert g.search_string("ab ab")[1][0] is token
    assert g.parse_batch([fresh("ab"), fresh("x"), fresh("ab ")])[2][0] is token
    assert g.parse_batch([fresh("ab")] * 3)[0][0] is token
    held = sys.getrefcount(token)
    kept = [g.parse_string("ab"), g.search_string("ab ab ab")]
    assert sys.getrefcount(token) == held + 2  # one inner list for all the search items
    del kept
    assert sys.getrefcount(token) == held


def check_search_items_are_one_list(g, text, count):
    """search_string's items are one list, held by the items alone; a change to it shows in every item and
    not in the next call's result."""
    found = call_checked(g.search_string, text)
    assert len(found) == count and all(item is found[0] for item in found)
    held = sys.getrefcount(found[0]) - 1
    assert held == count
    found[0].append("z")
    assert found[-1] == ["ab", "z"]
    assert g.search_string(text) == [["ab"]] * count


def check_batch_lists_are_fresh_for_each_call(g):
    a, b = fresh("ab"), fresh("x")
    first = g.parse_batch([a, b, a])
    first[0].append("z")
    first[1].append("y")
    assert first[2] == ["ab", "z"]
    assert g.parse_batch([a, b, a]) == [["ab"], [], ["ab"]]
    assert g.parse_batch([a] * 4) == [["ab"]] * 4
    assert call_checked(g.parse_batch, []) == []
    assert call_checked(g.parse_batch_count, []) == 0


def check_list_subclass_is_read_like_a_list(g):
    class Inputs(list):
        def __getitem__(self, i):
            raise AssertionError("items are read directly")

    a, b = fresh("ab"), fresh("x")
    assert g.parse_batch(Inputs([a, b, a])) == [["ab"], [], ["ab"]]
    assert g.parse_batch_count(Inputs([a, a, b, a])) == 3


class Other:
    pass


def _forty_then(bad):
    """40 distinct matching objects, in an order with no period (so a verdict cache fills), then `bad`."""
    forty = [fresh(f"ab {i}") for i in range(40)]
    items = []
    for k in range(100):
        items.extend(forty[(k * 7 + j) % 40] for j in range(k % 5 + 1))
    return items + [bad]


BAD_ITEMS = [
    pytest.param(lambda a, b: [5], 0, "int", id="only-item"),
    pytest.param(lambda a, b: [None] * 10, 0, "NoneType", id="uniform"),
    pytest.param(lambda a, b: [a, b, 5], 2, "int", id="walk"),
    pytest.param(lambda a, b: [a, 5, a, 5, a], 1, "int", id="inside-period"),
    pytest.param(lambda a, b: [a] * 10 + [Other()], 10, "Other", id="after-uniform-run"),
    pytest.param(lambda a, b: [a, a, 1.5, 1.5], 2, "float", id="run-of-bad-items"),
    pytest.param(lambda a, b: [a, b, b"ab"] * 3, 2, "bytes", id="periodic-bytes"),
    pytest.param(lambda a, b: _forty_then([a]), len(_forty_then(None)) - 1, "list", id="after-forty-distinct"),
    pytest.param(lambda a, b: [a, 3, "\ud800"], 1, "int", id="before-a-surrogate"),
]


def check_bad_item(g, method, make, index, type_name):
    a, b = fresh("ab"), fresh("x")
    token = cached_token(g)
    items = make(a, b)
    with refcounts_unchanged(a, b, token), pytest.raises(TypeError) as info:
        call_checked(getattr(g, method), items)
    assert type(info.value) is TypeError
    assert str(info.value) == f"argument 'inputs': item {index}: '{type_name}' object cannot be converted to 'PyString'"


UNENCODABLE_ITEMS = [
    pytest.param(lambda a, s: [s], id="only-item"),
    pytest.param(lambda a, s: [s] * 7, id="uniform"),
    pytest.param(lambda a, s: [a, s, a, s], id="walk"),
    pytest.param(lambda a, s: [a, a, s, 5], id="before-a-non-str"),
]


def check_unencodable_item(g, method, make):
    a, bad = fresh("ab"), "x\ud800y"
    items = make(a, bad)
    before = [sys.getrefcount(x) for x in (a, bad, items)]
    with pytest.raises(UnicodeEncodeError) as info:
        getattr(g, method)(items)
    assert info.value.object is bad
    del info  # the error holds the str
    assert [sys.getrefcount(x) for x in (a, bad, items)] == before


REFCOUNT_CALLS = [
    ("parse_string", ("ab c",)),
    ("parse_string", ("xbc",)),
    ("matches", ("ab",)),
    ("search_string", ("ab ab",)),
    ("search_string", ("",)),
    ("search_string_count", ("ab " * 600,)),
    ("transform_string", ("ab ab", "x")),
    ("transform_string", ("zz", "x")),
    ("transform_string", ("ab", 5)),
    ("parse_batch", ([fresh("ab"), fresh("x")] * 3,)),
    ("parse_batch", ([fresh("ab")] * 3,)),
    ("parse_batch", ([fresh("ab"), 5],)),
    ("parse_batch_count", ([fresh("ab"), fresh("x"), fresh("x")],)),
    ("parse_batch_count", ([fresh("x"), None],)),
]
REFCOUNT_IDS = [f"{m}-{i}" for i, (m, _) in enumerate(REFCOUNT_CALLS)]


def check_refcounts(g, method, args):
    """Counts of the receiver, the arguments and the cached token unchanged, on success and on error."""
    token = cached_token(g)
    with refcounts_unchanged(token):
        try:
            result = call_checked(getattr(g, method), *args)
        except (ValueError, TypeError):
            result = None
        del result
