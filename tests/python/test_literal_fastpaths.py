"""The Literal methods: every method against Python models of the literal rule (and the common routines through
a Group when they can be built), over exhaustive small worlds, periodic texts and batch list shapes; the cached
token and the shared result lists by identity; reference counts unchanged on every path."""
import sys

import pytest
from hypothesis import given, settings, strategies as st

import quillex as q
from conftest import call_checked, canonical, fresh, refcounts_unchanged, utf8_made
from fixed_text_models import (BAD_ITEMS, BATCH_METHODS, BATCH_SHAPES, REFCOUNT_CALLS, REFCOUNT_IDS, cached_token,
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
        if len(text) >= 2:  # the interpreter shares its empty and one-character strs
            assert result is not s


# ---------------------------------------------------------------------------------------------------------------
# Strs read in their own units. A non-ASCII str whose UTF-8 form has not been made yet is counted, searched and
# transformed on its code points (1, 2 or 4 bytes each), and the form is never made; transform_string reads
# every str that way. Results must equal the UTF-8 route's and the common routine's, on every kind of str, and
# a transform's result must be canonical (the smallest kind that holds its widest character).

C2 = "\u0109"  # two bytes as UCS-2, two in UTF-8
C3 = "\u20ac"  # UCS-2, three bytes in UTF-8
C4 = "\U0001f600"  # UCS-4, four bytes in UTF-8
UNIT_ALPHABET = ["a", "b", " ", E, "\u00ff", C2, "\u6100", C3, C4]


def check_units_route(lit, text, replacement, keeps_units=True):
    """Every unit-reading method on a fresh copy of `text` against the str methods, the UTF-8 route and the
    common routine; the fresh copy never gets a UTF-8 form (unless not `keeps_units`); the transform's result is
    a new canonical str."""
    g = q.Literal(lit)
    common = q.Group(g)
    want = text.count(lit) if lit else len(text.encode())
    want_transform = text.replace(lit, replacement) if lit else text
    s = fresh(text)
    size = sys.getsizeof(s)
    assert call_checked(g.search_string_count, s) == want
    found = call_checked(g.search_string, s)
    assert len(found) == want and all(item is found[0] for item in found)
    result = call_checked(g.transform_string, s, replacement)
    assert sys.getsizeof(s) == size or len(text) < 2 or text.isascii() or not keeps_units, "the UTF-8 form was made"
    assert type(result) is str and result == want_transform
    if len(result) >= 2:
        assert sys.getsizeof(result) == sys.getsizeof(canonical(result)), "not the smallest kind"
    if len(text) >= 2:
        assert result is not s
    viewed = utf8_made(fresh(text))
    assert g.search_string_count(viewed) == want == common.search_string_count(viewed)
    assert g.transform_string(viewed, replacement) == want_transform == common.transform_string(viewed, replacement)


@settings(max_examples=300, deadline=None)
@given(st.lists(st.sampled_from(UNIT_ALPHABET), max_size=80).map("".join),
       st.lists(st.sampled_from(UNIT_ALPHABET), max_size=3).map("".join),
       st.lists(st.sampled_from(UNIT_ALPHABET), max_size=3).map("".join),
       st.integers(0, 80), st.integers(0, 3))
def test_units_route_agrees_with_the_utf8_route(text, lit, replacement, at, width):
    if at < len(text) and width:  # often a literal that stands in the text
        lit = text[at : at + width]
    check_units_route(lit, text, replacement)


# Block edges are in bytes of the str's own units: 16, 32 and 64 bytes are 16, 8 or 4 code points.
UNIT_EDGES = [
    # (literal, text, replacement, what it shows)
    ("ab", "ab" + "x" * 20 + E, "-", "match at the very start"),
    ("ab", E + "x" * 20 + "ab", "-", "match at the very end"),
    ("ab", E + "x" * 14 + "ab" + "x" * 30, "-", "latin-1: across the 16-byte edge"),
    ("ab", E + "x" * 30 + "ab" + "x" * 30, "-", "latin-1: across the 32-byte edge"),
    ("ab", C2 + "x" * 6 + "ab" + "x" * 30, "-", "UCS-2: across the 16-byte edge"),
    ("ab", C2 + "x" * 14 + "ab" + "x" * 30, "-", "UCS-2: across the 32-byte edge"),
    ("ab", C2 + "x" * 30 + "ab" + "x" * 30, "-", "UCS-2: across the 64-byte edge"),
    ("ab", C4 + "x" * 2 + "ab" + "x" * 30, "-", "UCS-4: across the 16-byte edge"),
    ("ab", C4 + "x" * 14 + "ab" + "x" * 30, "-", "UCS-4: across the 64-byte edge"),
    ("aa", E + "aaaaa", "b", "overlapping candidates"),
    ("aa", C2 + "aaaaa" * 9, "b", "overlapping candidates, UCS-2"),
    ("", E + "ab" + C4, "X", "empty literal: the UTF-8 length"),
    (E, "a" + E + E + "b" + E, "e", "non-ASCII literal next to non-ASCII"),
    ("a", E + "a" + C2 + "a" + C4 + "a", "xy", "ASCII literal between wider characters"),
    (E, C2 + E + "x" * 40 + E, "", "latin-1 literal in a UCS-2 text"),
    (C2, E + "x" * 40, "-", "UCS-2 literal in a latin-1 text: no occurrence"),
    (C4, C2 + "x" * 40, "-", "UCS-4 literal in a UCS-2 text: no occurrence"),
    # U+0161 is the bytes 61 01; U+6100 U+0101 are 00 61 01 01, holding them at the odd offset 1.
    ("\u0161", "\u6100\u0101" * 20 + "\u0161", "-", "byte occurrences that straddle two units"),
    ("\u6100", C2 + "ba" * 20 + "\u6100", "-", "straddling occurrences of a one-unit literal"),
    # As UCS-4, U+6100 U+0100 are 00 61 00 00 00 01 00 00, holding 'a' (61 00 00 00) at the offset 1.
    ("a", C4 + "\u6100\u0100" * 9 + "a", "-", "UCS-4: byte occurrences that straddle units"),
    ("\u6161", "\u6161" * 50, "x", "every unit an occurrence, byte period 1"),
    ("\u6161\u6161", "\u6161" * 51, "x", "byte period not a whole unit"),
    ("abc", (C2 + "abcab") * 300 + "ab", "-", "periodic UCS-2 text with a partial last period"),
    (E, "a" + E * 40, "a", "the literal held every non-ASCII character: the result is ASCII"),
    (C2, "ab" + E + C2 * 20, "-", "UCS-2 characters all taken out: the result is latin-1"),
    (C4, "ab" + C2 + C4 * 20, "", "UCS-4 characters all taken out: the result is UCS-2"),
    (C4, C4 + "ab" + C4 + "b", E, "UCS-4 characters taken out, a latin-1 replacement"),
    ("b", "ab" * 30 + E, C4, "replacement wider than the text"),
    ("ab", "xab" * 20 + E, "", "everything but the gaps removed"),
    (E + E, E * 2, "", "the result is empty"),
]


@pytest.mark.parametrize("lit, text, replacement, what", UNIT_EDGES, ids=[c[3] for c in UNIT_EDGES])
def test_units_route_edges(lit, text, replacement, what):
    check_units_route(lit, text, replacement)


# Byte occurrences that straddle units at every other byte: 'a' * 64 as UCS-2 is the bytes 61 00 61 00 ..., which
# stand at every odd offset of U+6100 repeated (00 61 00 61 ...); as UCS-4 ('a' is 61 00 00 00, U+6100 is
# 00 61 00 00) at every offset 1 mod 4. Passing them over one by one costs the text's length times the literal's,
# so the unit search gives up part way and the methods read the text's UTF-8 form: the same results.
STRADDLING_EVERYWHERE = [
    ("a" * 64, "\u6100" * 20000 + "a" * 64 + "\u6100" + "a" * 130, "-", "UCS-2, occurrences after the run"),
    ("a" * 64, "a" * 64 + "\u6100" * 20000 + "a" * 64, "", "UCS-2, occurrences at both ends"),
    ("a" * 64, "\U0001f600" + "\u6100" * 20000 + "a" * 64, E, "UCS-4"),
    ("a" * 64, "\u6100" * 20000, "x", "UCS-2, no occurrence"),
]


@pytest.mark.parametrize("lit, text, replacement, what", STRADDLING_EVERYWHERE,
                         ids=[c[3] for c in STRADDLING_EVERYWHERE])
def test_units_route_where_straddling_occurrences_stand_everywhere(lit, text, replacement, what):
    check_units_route(lit, text, replacement, keeps_units=False)
    assert call_checked(q.Literal(lit).search_string_count, StrSub(text)) == text.count(lit)


@pytest.mark.parametrize("text", [
    "ab\udc80ab", "\ud800", "x" * 63 + "\udfff", "x" * 64 + "\ud800" + "x" * 64, "ab" + C4 + "\udbff",
    C4 * 20 + "\udc00" + C4,
], ids=["ucs2", "alone", "last-of-64-bytes", "after-64-bytes", "ucs4", "ucs4-later"])
@pytest.mark.parametrize("method, args", [
    ("search_string_count", ()), ("search_string", ()), ("transform_string", ("x",)),
    ("transform_string", (5,)),
], ids=["count", "search", "transform", "transform-bad-replacement"])
def test_str_without_utf8_form_raises_before_the_replacement_is_read(text, method, args):
    s = fresh(text)
    with pytest.raises(UnicodeEncodeError) as info:
        call_checked(getattr(q.Literal("ab"), method), s, *args)
    assert info.value.object is s


def test_argument_errors_keep_their_order_on_the_units_route():
    g = q.Literal("ab")
    s = fresh("ab" + E + "ab")
    with pytest.raises(TypeError, match="^argument 'replacement': 'int' object cannot be converted to 'PyString'$"):
        call_checked(g.transform_string, s, 5)
    with pytest.raises(UnicodeEncodeError):
        call_checked(g.transform_string, s, fresh("x\ud800"))
    with pytest.raises(TypeError, match="^argument 's': 'bytes' object cannot be converted to 'PyString'$"):
        call_checked(g.transform_string, b"ab", 5)


@pytest.mark.parametrize("text", ["ab" + E + "ab", "ab" + C2 + "ab", "ab" + C4 + "ab"], ids=["latin-1", "ucs2", "ucs4"])
@pytest.mark.parametrize("method, args", [
    ("search_string_count", ()), ("search_string", ()), ("transform_string", ("x",)),
    ("transform_string", (C2,)),
], ids=["count", "search", "transform", "transform-wider"])
def test_units_route_keeps_reference_counts(text, method, args):
    g = q.Literal("ab")
    token = cached_token(g)
    with refcounts_unchanged(token):
        s = fresh(text)
        call_checked(getattr(g, method), s, *args)
        call_checked(getattr(g, method), StrSub(text), *args)
