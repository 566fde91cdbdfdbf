"""The Literal methods: every method against Python models of the literal rule (and the common routines through
a Group when they can be built), over exhaustive small worlds, periodic texts and batch list shapes; the cached
token and the shared result lists by identity; reference counts unchanged on every path."""
import sys

import pytest

import quillex as q
from conftest import call_checked, refcounts_unchanged
from fixed_text_models import (BATCH_SHAPES, batch_shapes, common_route, count_by_matches, fresh, literal_at,
                               model_batch, model_count, model_search, model_transform, small_world)

E = "\u00e9"  # two bytes in UTF-8


def token_of_literal(g):
    """The cached token of Literal('ab'), as parse_string hands it out."""
    return g.parse_string("ab")[0]


# ---------------------------------------------------------------------------------------------------------------
# Behaviour by example

EXAMPLES = [
    ("ab", "parse_string", ("abc",), ["ab"]),
    ("ab", "matches", ("ab",), True),
    ("ab", "matches", ("b",), False),
    ("ab", "matches", ("",), False),
    ("ab", "search_string_count", ("ababzzzzzz",), 2),
    ("ab", "search_string_count", ("ababab",), 3),
    ("ab", "search_string_count", ("",), 0),
    ("ab", "search_string", ("ababab",), [["ab"]] * 3),
    ("ab", "search_string", ("xyz",), []),
    ("aa", "search_string_count", ("aaaaa",), 2),
    ("bb", "search_string_count", ("babbbabbb",), 2),
    ("aa", "transform_string", ("aaa", "b"), "ba"),
    ("aa", "transform_string", ("", "b"), ""),
    ("aa", "transform_string", ("xyz", "b"), "xyz"),
    ("a", "transform_string", ("banana", "o"), "bonono"),
    ("an", "transform_string", ("banana", "\\1$0"), "b\\1$0\\1$0a"),
    (E, "transform_string", ("a" + E + "b" + E, "e"), "aebe"),
    (E, "search_string_count", ("\u00e8" + E + "\u00ea",), 1),
    ("", "parse_string", ("",), [""]),
    ("", "parse_string", ("xyz",), [""]),
    ("", "matches", ("",), True),
    ("", "search_string_count", (E,), 2),
    ("", "search_string", ("ab",), [[""]] * 2),
    ("", "transform_string", ("ab", "X"), "ab"),
]


@pytest.mark.parametrize("lit, method, args, expected", EXAMPLES,
                         ids=[f"{c[0] or 'empty'}-{c[1]}-{i}" for i, c in enumerate(EXAMPLES)])
def test_examples(lit, method, args, expected):
    g = q.Literal(lit)
    assert call_checked(getattr(g, method), *args) == expected


@pytest.mark.parametrize("lit, text", [
    ("ab", "a"), ("ab", "xab"), ("ab", ""), (E, "e"), ("it's", "it"), ("{}", "{"), ("%s", "x"), ("a\nb", "a"),
], ids=["short", "later", "empty-text", "e-acute", "quote", "braces", "percent", "newline"])
def test_parse_string_failure_is_the_objects_message_without_position(lit, text):
    g = q.Literal(lit)
    with pytest.raises(ValueError) as info:
        call_checked(g.parse_string, text)
    assert type(info.value) is ValueError
    assert str(info.value) == f"Expected '{lit}'"
    assert info.value.args == (f"Expected '{lit}'",)


# ---------------------------------------------------------------------------------------------------------------
# Exhaustive small world: every literal of up to 3 characters over 'a', 'b', 'é' against every text of up to 5.

WORLD_LITERALS = list(small_world(["a", "b", E], 3))
WORLD_TEXTS = list(small_world(["a", "b", E], 5))


@pytest.mark.parametrize("lit", WORLD_LITERALS, ids=[repr(s) for s in WORLD_LITERALS])
def test_small_world_every_method_agrees_with_the_model(lit):
    g = q.Literal(lit)
    token = g.parse_string(lit)[0]
    for text in WORLD_TEXTS:
        count = model_count(literal_at, lit, text)
        assert g.search_string_count(text) == count, text
        if lit:
            assert count == text.count(lit) == count_by_matches(g, lit, text), text
        else:
            assert count == len(text.encode()), text
        found = g.search_string(text)
        assert found == model_search(literal_at, lit, text), text
        assert all(item is found[0] for item in found) and (not found or found[0][0] is token), text
        assert g.transform_string(text, "X") == model_transform(literal_at, lit, text, "X"), text
        assert g.transform_string(text, "") == model_transform(literal_at, lit, text, ""), text
        matched = literal_at(lit.encode(), text.encode(), 0)
        assert g.matches(text) is matched, text
        if matched:
            result = g.parse_string(text)
            assert result == [lit] and result[0] is token, text
        else:
            with pytest.raises(ValueError, match="^Expected '"):
                g.parse_string(text)


@pytest.mark.parametrize("lit", ["a", "ab", E, "b" + E, ""], ids=["a", "ab", "e-acute", "b-e-acute", "empty"])
def test_small_world_agrees_with_the_common_routines(lit):
    g = q.Literal(lit)
    common = common_route(g)
    for text in WORLD_TEXTS:
        assert g.search_string_count(text) == common.search_string_count(text), text
        assert g.transform_string(text, "X") == common.transform_string(text, "X"), text
        assert g.matches(text) is common.matches(text), text
        if lit:  # the common search drops zero-length matches; the Literal search lists them
            assert g.search_string(text) == [[s] for s in common.search_string(text)], text
    items = [fresh(t) for t in WORLD_TEXTS]
    assert g.parse_batch(items) == common.parse_batch(items)
    assert g.parse_batch_count(items) == common.parse_batch_count(items)


# ---------------------------------------------------------------------------------------------------------------
# Periodic texts: whole repetitions, a partial last period, periods near and beyond the 1024-byte window, and
# texts that repeat only at their start. The count, search and transform must equal the plain scan.

def block_of(period):
    """A block of `period` bytes whose first byte ('q') does not recur in it, with 'é' inside when it fits."""
    body = ("abcab" + E + "ba" * period).encode()[: period - 1]
    while True:  # never end inside a character
        try:
            return "q" + body.decode()
        except UnicodeDecodeError:
            body = body[:-1] + b"a"


def periodic_texts():
    for p in [1, 2, 3, 5, 64, 1023, 1024, 1025, 1500]:
        blk = block_of(p)
        assert len(blk.encode()) == p
        for reps in [2, 3, 7]:
            for tail in sorted({0, 1, p // 2, p - 1}):
                cut = blk.encode()[:tail]
                while True:
                    try:
                        part = cut.decode()
                        break
                    except UnicodeDecodeError:
                        cut = cut[:-1]
                yield f"p{p}x{reps}+{len(cut)}", blk * reps + part
        yield f"p{p}-start-only", blk * 2 + "zz" + blk
        yield f"p{p}-broken-late", blk * 5 + "z" + blk


PERIODIC = list(periodic_texts())


def literals_for(text):
    """Literals that stand in the text (across period boundaries too), longer than the period or not, and
    some that do not stand there."""
    out = {"q", "a", "ab", "ba", "bq", "qa", E, "zz", "aaa", "qq", "z", "xyz"}
    for at in (0, 1, 3, len(text) // 2):
        for n in (1, 2, 4, 9):
            out.add(text[at : at + n])
    return sorted(s for s in out if s)


@pytest.mark.parametrize("name, text", PERIODIC, ids=[n for n, _ in PERIODIC])
def test_periodic_texts_count_like_the_plain_scan(name, text):
    b = text.encode()
    for lit in literals_for(text):
        g = q.Literal(lit)
        want = b.count(lit.encode())  # non-overlapping, leftmost first: the scan rule of a non-empty literal
        assert g.search_string_count(text) == want == text.count(lit), lit
        found = g.search_string(text)
        assert len(found) == want and all(item is found[0] for item in found), lit
        assert g.transform_string(text, "<>") == text.replace(lit, "<>"), lit
    if len(text) <= 3000:  # the byte-by-byte model on the shorter texts
        for lit in ("ab", "qa", E):
            assert q.Literal(lit).search_string_count(text) == model_count(literal_at, lit, text)


@pytest.mark.parametrize("block, tail, lits", [
    ("abc", "ab", ["ca", "abc", "cab", "bc", "c", "abcabca"]),
    ("aab", "", ["ab", "aab", "ba", "aa", "aaba"]),
    ("a", "", ["a", "aa", "aaa"]),
    ("ab", "a", ["aba", "ab", "ba"]),
    ("ab" + E, E[:0], ["b" + E, E + "a", E]),
], ids=["abc", "aab", "a", "ab-partial", "e-acute"])
def test_long_periodic_texts(block, tail, lits):
    text = block * 1000 + tail
    for lit in lits:
        assert call_checked(q.Literal(lit).search_string_count, text) == text.count(lit), lit


# ---------------------------------------------------------------------------------------------------------------
# The cached token and the shared result lists

def test_every_result_hands_out_the_cached_token_itself():
    g = q.Literal("ab")
    token = g.parse_string("ab")[0]
    assert g.parse_string("abc")[0] is token
    assert g.search_string("ab ab")[1][0] is token
    assert g.parse_batch([fresh("ab"), fresh("x"), fresh("abz")])[2][0] is token
    assert g.parse_batch([fresh("ab")] * 3)[0][0] is token
    held = sys.getrefcount(token)
    kept = g.parse_string("ab")
    assert sys.getrefcount(token) == held + 1
    del kept
    assert sys.getrefcount(token) == held


def test_search_string_items_are_one_list_and_nothing_outlives_the_call():
    g = q.Literal("ab")
    found = call_checked(g.search_string, "ab-ab-ab")
    assert len(found) == 3 and found[0] is found[1] is found[2]
    held = sys.getrefcount(found[0]) - 1  # read outside an assertion, whose rewriting keeps temporaries
    assert held == 3  # by the three slots alone
    found[0].append("z")
    assert found[2] == ["ab", "z"]
    assert g.search_string("ab-ab-ab") == [["ab"]] * 3


def test_a_million_occurrences_share_one_list():
    g = q.Literal("ab")
    text = "ab" * 1_000_000
    found = g.search_string(text)
    assert len(found) == 1_000_000 and found[-1] is found[0] == ["ab"]
    held = sys.getrefcount(found[0]) - 1
    assert held == 1_000_000
    del found


@pytest.mark.parametrize("name", BATCH_SHAPES)
def test_parse_batch_hands_out_two_shared_lists(name):
    g = q.Literal("ab")
    token = token_of_literal(g)
    items = batch_shapes("ab", "x")[name]
    distinct = list({id(x): x for x in items}.values())
    with refcounts_unchanged(token, *distinct):
        result = call_checked(g.parse_batch, items)
        assert type(result) is list
        assert result == model_batch(literal_at, "ab", items)
        hits = [r for r in result if r]
        misses = [r for r in result if not r]
        assert all(r is hits[0] for r in hits) and all(r is misses[0] for r in misses)
        # Each shared list is held by its slots (and the two lists built here) alone.
        held = [sys.getrefcount(x[0]) - 1 for x in (hits, misses) if x]
        assert held == [2 * len(x) for x in (hits, misses) if x]
        assert not hits or hits[0][0] is token
        del result, hits, misses
    assert call_checked(g.parse_batch_count, items) == sum(s.startswith("ab") for s in items)


def test_parse_batch_lists_are_fresh_for_each_call():
    g = q.Literal("ab")
    a, b = fresh("ab"), fresh("x")
    first = g.parse_batch([a, b, a])
    first[0].append("z")
    first[1].append("y")
    assert first[2] == ["ab", "z"]
    assert g.parse_batch([a, b, a]) == [["ab"], [], ["ab"]]
    assert g.parse_batch([a] * 4) == [["ab"]] * 4


def test_empty_inputs():
    g = q.Literal("ab")
    assert call_checked(g.parse_batch, []) == []
    assert call_checked(g.parse_batch_count, []) == 0


def test_list_subclass_is_read_like_a_list():
    class Inputs(list):
        def __getitem__(self, i):
            raise AssertionError("items are read directly")

    a, b = fresh("ab"), fresh("x")
    g = q.Literal("ab")
    assert g.parse_batch(Inputs([a, b, a])) == [["ab"], [], ["ab"]]
    assert g.parse_batch_count(Inputs([a, a, b, a])) == 3


# ---------------------------------------------------------------------------------------------------------------
# Bad batch items: the TypeError of the first one in list order, on every shortcut

class Other:
    pass


def _forty(a):
    forty = [fresh(f"ab{i}") for i in range(40)]
    items = []
    for k in range(100):
        items.extend(forty[(k * 7 + j) % 40] for j in range(k % 5 + 1))
    return items


BAD_ITEMS = [
    pytest.param(lambda a, b: [5], 0, "int", id="only-item"),
    pytest.param(lambda a, b: [None] * 10, 0, "NoneType", id="uniform"),
    pytest.param(lambda a, b: [a, b, 5], 2, "int", id="walk"),
    pytest.param(lambda a, b: [a, 5, a, 5, a], 1, "int", id="inside-period"),
    pytest.param(lambda a, b: [a] * 10 + [Other()], 10, "Other", id="after-uniform-run"),
    pytest.param(lambda a, b: [a, a, 1.5, 1.5], 2, "float", id="run-of-bad-items"),
    pytest.param(lambda a, b: [a, b, b"ab"] * 3, 2, "bytes", id="periodic-bytes"),
    pytest.param(lambda a, b: _forty(a) + [a, [a]], len(_forty("")) + 1, "list", id="after-forty-distinct"),
    pytest.param(lambda a, b: [a, 3, "\ud800"], 1, "int", id="before-a-surrogate"),
]


@pytest.mark.parametrize("make, index, type_name", BAD_ITEMS)
@pytest.mark.parametrize("method", ["parse_batch", "parse_batch_count"])
def test_non_str_item_is_a_type_error_naming_the_first_one(method, make, index, type_name):
    a, b = fresh("ab"), fresh("x")
    g = q.Literal("ab")
    token = token_of_literal(g)
    items = make(a, b)
    with refcounts_unchanged(a, b, token), pytest.raises(TypeError) as info:
        call_checked(getattr(g, method), items)
    assert type(info.value) is TypeError
    assert str(info.value) == f"argument 'inputs': item {index}: '{type_name}' object cannot be converted to 'PyString'"


@pytest.mark.parametrize("make", [
    pytest.param(lambda a, s: [s], id="only-item"),
    pytest.param(lambda a, s: [s] * 7, id="uniform"),
    pytest.param(lambda a, s: [a, s, a, s], id="walk"),
    pytest.param(lambda a, s: [a, a, s, 5], id="before-a-non-str"),
])
@pytest.mark.parametrize("method", ["parse_batch", "parse_batch_count"])
def test_str_without_utf8_form_raises_the_interpreters_error(method, make):
    a, bad = fresh("ab"), "x\ud800y"
    items = make(a, bad)
    before = [sys.getrefcount(x) for x in (a, bad, items)]
    with pytest.raises(UnicodeEncodeError) as info:
        getattr(q.Literal("ab"), method)(items)
    assert info.value.object is bad
    del info
    assert [sys.getrefcount(x) for x in (a, bad, items)] == before


# ---------------------------------------------------------------------------------------------------------------
# transform_string results and reference counts

class StrSub(str):
    pass


@pytest.mark.parametrize("lit, text, replacement, expected", [
    ("ab", "xabyab", "-", "x-y-"),
    ("ab", "xyz", "-", "xyz"),
    ("", "xyz", "-", "xyz"),
    ("ab", "", "-", ""),
], ids=["replaced", "no-occurrence", "empty-literal", "empty-text"])
def test_transform_string_gives_an_exact_str(lit, text, replacement, expected):
    g = q.Literal(lit)
    for s in (fresh(text), StrSub(text)):
        result = call_checked(g.transform_string, s, StrSub(replacement))
        assert type(result) is str and result == expected
        if result == text and type(s) is str:
            assert result is s  # nothing replaced: the text itself, as the common routine gives


REFCOUNT_CALLS = [
    ("parse_string", ("abc",)),
    ("parse_string", ("xbc",)),
    ("matches", ("ab",)),
    ("search_string", ("ab ab",)),
    ("search_string", ("",)),
    ("search_string_count", ("abab" * 600,)),
    ("transform_string", ("ab ab", "x")),
    ("transform_string", ("zz", "x")),
    ("transform_string", ("ab", 5)),
    ("parse_batch", ([fresh("ab"), fresh("x")] * 3,)),
    ("parse_batch", ([fresh("ab")] * 3,)),
    ("parse_batch", ([fresh("ab"), 5],)),
    ("parse_batch_count", ([fresh("ab"), fresh("x"), fresh("x")],)),
    ("parse_batch_count", ([fresh("x"), None],)),
]


@pytest.mark.parametrize("method, args", REFCOUNT_CALLS, ids=[f"{m}-{i}" for i, (m, _) in enumerate(REFCOUNT_CALLS)])
def test_reference_counts_are_unchanged(method, args):
    g = q.Literal("ab")
    token = token_of_literal(g)
    with refcounts_unchanged(token):
        try:
            result = call_checked(getattr(g, method), *args)
        except (ValueError, TypeError):
            result = None
        del result
