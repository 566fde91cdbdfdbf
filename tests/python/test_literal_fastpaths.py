"""The Literal methods: every method against Python models of the literal rule (and the common routines through
a Group when they can be built), over exhaustive small worlds, periodic texts and batch list shapes; the cached
token and the shared result lists by identity; reference counts unchanged on every path."""
import pytest

import quillex as q
from conftest import call_checked, fresh
from fixed_text_models import (BAD_ITEMS, BATCH_METHODS, BATCH_SHAPES, REFCOUNT_CALLS, REFCOUNT_IDS,
                               UNENCODABLE_ITEMS, batch_shapes, check_bad_item, check_batch_lists_are_fresh_for_each_call,
                               check_every_result_hands_out_the_cached_token, check_list_subclass_is_read_like_a_list,
                               check_refcounts, check_search_items_are_one_list, check_shared_match_lists,
                               check_unencodable_item, common_route, count_by_matches, literal_at, model_count,
                               model_search, model_transform, small_world)

E = "\u00e9"  # two bytes in UTF-8


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
# The cached token, the shared result lists, bad batch items and reference counts (the contract Keyword shares)

def test_every_result_hands_out_the_cached_token_itself():
    check_every_result_hands_out_the_cached_token(q.Literal("ab"))


def test_search_string_items_are_one_list_and_nothing_outlives_the_call():
    check_search_items_are_one_list(q.Literal("ab"), "ab-ab-ab", 3)


def test_a_million_occurrences_share_one_list():
    check_search_items_are_one_list(q.Literal("ab"), "ab" * 1_000_000, 1_000_000)


@pytest.mark.parametrize("name", BATCH_SHAPES)
def test_parse_batch_hands_out_two_shared_lists(name):
    check_shared_match_lists(q.Literal("ab"), literal_at, batch_shapes("ab", "x")[name])


def test_parse_batch_lists_are_fresh_for_each_call():
    check_batch_lists_are_fresh_for_each_call(q.Literal("ab"))


def test_list_subclass_is_read_like_a_list():
    check_list_subclass_is_read_like_a_list(q.Literal("ab"))


@pytest.mark.parametrize("make, index, type_name", BAD_ITEMS)
@pytest.mark.parametrize("method", BATCH_METHODS)
def test_non_str_item_is_a_type_error_naming_the_first_one(method, make, index, type_name):
    check_bad_item(q.Literal("ab"), method, make, index, type_name)


@pytest.mark.parametrize("make", UNENCODABLE_ITEMS)
@pytest.mark.parametrize("method", BATCH_METHODS)
def test_str_without_utf8_form_raises_the_interpreters_error(method, make):
    check_unencodable_item(q.Literal("ab"), method, make)


@pytest.mark.parametrize("method, args", REFCOUNT_CALLS, ids=REFCOUNT_IDS)
def test_reference_counts_are_unchanged(method, args):
    check_refcounts(q.Literal("ab"), method, args)


# ---------------------------------------------------------------------------------------------------------------
# transform_string results

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
        assert result is not s or len(s) < 2  # always a new str (the interpreter shares the shortest)
