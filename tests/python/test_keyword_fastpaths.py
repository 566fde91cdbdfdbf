"""The Keyword methods: every method against Python models of the keyword rule (and the common routines through
a Group when they can be built), over exhaustive small worlds, periodic texts and batch list shapes; the cached
token and the shared result lists by identity; reference counts unchanged on every path."""
import pytest
from hypothesis import given, settings, strategies as st

import quillex as q
from conftest import call_checked, fresh
from fixed_text_models import (BAD_ITEMS, BATCH_METHODS, BATCH_SHAPES, IDENT, REFCOUNT_CALLS, REFCOUNT_IDS,
                               UNENCODABLE_ITEMS, batch_shapes, check_bad_item, check_batch_lists_are_fresh_for_each_call,
                               check_every_result_hands_out_the_cached_token, check_list_subclass_is_read_like_a_list,
                               check_refcounts, check_search_items_are_one_list, check_shared_match_lists,
                               check_unencodable_item, common_route, count_by_matches, keyword_at, model_batch,
                               model_count, model_search, model_transform, small_world)

E = "\u00e9"  # two bytes in UTF-8, neither an identifier byte


# ---------------------------------------------------------------------------------------------------------------
# Behaviour by example

EXAMPLES = [
    ("if", "parse_string", ("if(x)",), ["if"]),
    ("if", "matches", ("if",), True),
    ("if", "matches", ("ifx",), False),
    ("if", "matches", ("if_",), False),
    ("if", "matches", ("if" + E,), True),
    ("if", "search_string_count", ("elif if ifx if",), 3),
    ("if", "search_string", ("elif if ifx if",), [["if"]] * 3),
    ("if", "search_string", ("",), []),
    ("if", "search_string_count", ("",), 0),
    ("aa", "search_string_count", ("aaaa",), 1),
    ("caf", "search_string_count", ("caf" + E,), 1),
    ("a-b", "matches", ("a-bc",), False),
    ("a-b", "parse_string", ("a-b c",), ["a-b"]),
    ("if", "transform_string", ("elif if x", "IF"), "elIF IF x"),
    ("if", "transform_string", ("ifx", "IF"), "ifx"),
    ("", "parse_string", ("",), [""]),
    ("", "parse_string", (" x",), [""]),
    ("", "search_string_count", ("a b",), 1),
    ("", "search_string_count", (E,), 2),  # both bytes of the character are non-identifier positions
    ("", "search_string", ("a b",), [[""]]),
    ("", "transform_string", ("a b", "X"), "a b"),
    ("", "matches", ("x",), False),
]


@pytest.mark.parametrize("kw, method, args, expected", EXAMPLES,
                         ids=[f"{c[0] or 'empty'}-{c[1]}-{i}" for i, c in enumerate(EXAMPLES)])
def test_examples(kw, method, args, expected):
    g = q.Keyword(kw)
    assert call_checked(getattr(g, method), *args) == expected


@pytest.mark.parametrize("kw, text", [("if", "ifx"), ("if", ""), ("if", "i"), ("", "x"), (E, "e"), ("if", "if_")],
                         ids=["ident-follows", "empty-text", "short", "empty-keyword", "e-acute", "underscore"])
def test_parse_string_failure_is_the_fixed_text(kw, text):
    g = q.Keyword(kw)
    with pytest.raises(ValueError) as info:
        call_checked(g.parse_string, text)
    assert type(info.value) is ValueError
    assert info.value.args == ("Expected keyword",)


# ---------------------------------------------------------------------------------------------------------------
# Exhaustive small world over 'a', 'b', ' ', '_', 'é'

WORLD_KEYWORDS = ["", "a", "b", "ab", "aa", "ba", "a b", " ", "_", "a_", E, "a" + E, E + "a", E + E]
WORLD_TEXTS = list(small_world(["a", "b", " ", "_", E], 4))


@pytest.mark.parametrize("kw", WORLD_KEYWORDS, ids=[repr(s) for s in WORLD_KEYWORDS])
def test_small_world_every_method_agrees_with_the_model(kw):
    g = q.Keyword(kw)
    token = None
    for text in WORLD_TEXTS:
        count = model_count(keyword_at, kw, text)
        assert g.search_string_count(text) == count, text
        if kw:
            assert count == count_by_matches(g, kw, text), text
        else:
            assert count == sum(b not in IDENT for b in text.encode()), text
        found = g.search_string(text)
        assert found == model_search(keyword_at, kw, text), text
        assert all(item is found[0] for item in found), text
        assert g.transform_string(text, "X") == model_transform(keyword_at, kw, text, "X"), text
        matched = keyword_at(kw.encode(), text.encode(), 0)
        assert g.matches(text) is matched, text
        if matched:
            result = g.parse_string(text)
            assert result == [kw], text
            token = token if token is not None else result[0]
            assert result[0] is token, text
            assert not found or found[0][0] is token, text
        else:
            with pytest.raises(ValueError, match="^Expected keyword$"):
                g.parse_string(text)
    items = [fresh(t) for t in WORLD_TEXTS]
    assert g.parse_batch(items) == model_batch(keyword_at, kw, items)
    assert g.parse_batch_count(items) == sum(keyword_at(kw.encode(), s.encode(), 0) for s in items)


@pytest.mark.parametrize("kw", ["a", "ab", "a b", E, ""], ids=["a", "ab", "a-b", "e-acute", "empty"])
def test_small_world_agrees_with_the_common_routines(kw):
    g = q.Keyword(kw)
    common = common_route(g)
    for text in WORLD_TEXTS:
        assert g.search_string_count(text) == common.search_string_count(text), text
        assert g.transform_string(text, "X") == common.transform_string(text, "X"), text
        assert g.matches(text) is common.matches(text), text
        if kw:  # the common search drops zero-length matches; the Keyword search lists them
            assert g.search_string(text) == [[s] for s in common.search_string(text)], text
    items = [fresh(t) for t in WORLD_TEXTS]
    assert g.parse_batch(items) == common.parse_batch(items)
    assert g.parse_batch_count(items) == common.parse_batch_count(items)


# ---------------------------------------------------------------------------------------------------------------
# Long and periodic texts, where most candidates are refused by the boundary

@pytest.mark.parametrize("kw, text", [
    ("if", "elif if ifx if_ (if)" * 300),
    ("if", "if" * 2000),
    ("if", "if " * 2000 + "if"),
    ("aa", "a" * 5001),
    ("ab", ("ab" * 700 + " ") * 5),
    ("the", "the theme then the" * 500 + "the"),
    ("é", ("é" * 600 + "x") * 3),
    ("x", "x" * 1023 + " " + "x" * 1025 + " "),
], ids=["mixed", "no-boundary", "spaced", "runs", "long-runs", "prose", "e-acute", "single-byte"])
def test_long_texts_agree_with_the_model(kw, text):
    g = q.Keyword(kw)
    count = model_count(keyword_at, kw, text)
    assert call_checked(g.search_string_count, text) == count
    found = g.search_string(text)
    assert len(found) == count and all(item is found[0] for item in found)
    assert g.transform_string(text, "<>") == model_transform(keyword_at, kw, text, "<>")


# ---------------------------------------------------------------------------------------------------------------
# The cached token, the shared result lists, bad batch items and reference counts (the contract Literal shares)

def test_every_result_hands_out_the_cached_token_itself():
    check_every_result_hands_out_the_cached_token(q.Keyword("ab"))


def test_search_string_items_are_one_list_and_nothing_outlives_the_call():
    check_search_items_are_one_list(q.Keyword("ab"), "ab abab ab_ (ab)", 3)  # "abab" ends with one
    check_search_items_are_one_list(q.Keyword("ab"), "ab " * 100_000, 100_000)


@pytest.mark.parametrize("name", BATCH_SHAPES)
def test_parse_batch_hands_out_two_shared_lists(name):
    check_shared_match_lists(q.Keyword("ab"), keyword_at, batch_shapes("ab", "x")[name])


def test_parse_batch_on_texts_the_boundary_refuses():
    check_shared_match_lists(q.Keyword("ab"), keyword_at, [fresh(t) for t in ["ab", "abc", "ab_", "ab-", "ab" + E]] * 9)


def test_count_with_more_distinct_objects_than_the_cache_holds():
    # 40 distinct objects in an order with no period: the first 31 are cached, the other 9 evaluated at each
    # occurrence; the count is exact either way.
    forty = [fresh(f"ab {i}") if i % 3 else fresh(f"ab{i}") for i in range(40)]
    items = []
    for k in range(200):
        items.extend(forty[(k * 7 + j) % 40] for j in range(k % 5 + 1))
    g = q.Keyword("ab")
    assert call_checked(g.parse_batch_count, items) == sum(s.startswith("ab ") for s in items)


def test_parse_batch_lists_are_fresh_for_each_call():
    check_batch_lists_are_fresh_for_each_call(q.Keyword("ab"))


def test_list_subclass_is_read_like_a_list():
    check_list_subclass_is_read_like_a_list(q.Keyword("ab"))


@pytest.mark.parametrize("make, index, type_name", BAD_ITEMS)
@pytest.mark.parametrize("method", BATCH_METHODS)
def test_non_str_item_is_a_type_error_naming_the_first_one(method, make, index, type_name):
    check_bad_item(q.Keyword("ab"), method, make, index, type_name)


@pytest.mark.parametrize("make", UNENCODABLE_ITEMS)
@pytest.mark.parametrize("method", BATCH_METHODS)
def test_str_without_utf8_form_raises_the_interpreters_error(method, make):
    check_unencodable_item(q.Keyword("ab"), method, make)


@pytest.mark.parametrize("method, args", REFCOUNT_CALLS, ids=REFCOUNT_IDS)
def test_reference_counts_are_unchanged(method, args):
    check_refcounts(q.Keyword("ab"), method, args)


# ---------------------------------------------------------------------------------------------------------------
# The candidate scan over 16 starts at a time: count, search and transform against the model and the common
# routine, on texts long enough to cross its block edges.

def check_against_model_and_common(kw, text, replacement="<>"):
    g = q.Keyword(kw)
    common = q.Group(g)
    count = model_count(keyword_at, kw, text)
    assert call_checked(g.search_string_count, text) == count == common.search_string_count(text)
    found = call_checked(g.search_string, text)
    assert len(found) == count and all(item is found[0] for item in found)
    want = model_transform(keyword_at, kw, text, replacement)
    result = call_checked(g.transform_string, text, replacement)
    assert type(result) is str and result == want == common.transform_string(text, replacement)
    if len(text) >= 2:
        assert result is not text


KEYWORD_ALPHABET = ["i", "f", "if", "a", "_", "1", " ", "(", "-", E, "\u20ac"]


@settings(max_examples=300, deadline=None)
@given(st.lists(st.sampled_from(KEYWORD_ALPHABET), max_size=120).map("".join),
       st.sampled_from(["if", "i", "f", "a", "aa", "aia", "if_", "i-", "-", "--", "-a", "f(", "a a", "if" + E, E,
                        "ifif", "a1a1a1a1a1a1a1a1a1"]),
       st.sampled_from(["", "X", E, "\u20ac\u20ac"]))
def test_candidate_scan_agrees_with_the_model(text, kw, replacement):
    check_against_model_and_common(kw, text, replacement)


# (keyword, text, what it shows); texts are ASCII unless said, so a byte is a character.
KEYWORD_EDGES = [
    ("if", "if" + " " * 40, "match at the very start"),
    ("if", " " * 40 + "if", "match at the very end"),
    ("if", " " * 40 + "ifx", "refused at the very end"),
    ("if", " " * 14 + "if " + " " * 40, "keyword across the 16-byte edge"),
    ("if", " " * 15 + "if " + " " * 40, "keyword starting at the last byte of a block"),
    ("if", " " * 14 + "ifx" + " " * 40, "refused by the first byte of the next block"),
    ("if", " " * 30 + "if " + " " * 40, "across the 32-byte edge"),
    ("if", " " * 62 + "if " + " " * 40, "across the 64-byte edge"),
    ("if", " " * 62 + "if" + "_" * 40, "refused across the 64-byte edge"),
    ("if", ("if " + " " * 29) * 8, "one per 32-byte step"),
    ("if", "ifififif" * 10 + " ", "overlapping candidates, only the last passes"),
    ("aa", "a" * 99, "overlapping candidates of an overlapping keyword"),
    ("aba", "ab" * 50 + "a ", "overlapping candidates, three bytes"),
    ("a-", "a-a-a-a-" * 10, "non-identifier last byte: passes hide candidates"),
    ("--", "-" * 99, "two non-identifier bytes: each pass hides the next candidate"),
    ("-a", "-a-a-a" * 10 + " -a", "non-identifier first byte"),
    ("a a", "a a a a a" * 10, "a keyword holding a space: overlapping passes"),
    ("if", ("if" + E + "x") * 20, "non-ASCII after the keyword is a boundary"),
    ("if", (E + "if" + "\u20acif_") * 20, "non-ASCII before the keyword, and after it"),
    (E, ("a" + E + E + "b") * 20, "non-ASCII keyword"),
    ("x" * 20, ("x" * 21 + " " + "x" * 20 + " ") * 5, "keyword longer than a block"),
    ("if", "if", "text shorter than a block"),
    ("", "a b_c" * 20, "empty keyword: zero-length matches only"),
    # '~' is no identifier byte: every start of the run passes the filter and the boundary and fails only at
    # the keyword's last byte, so the scan gives the filter up for the substring searcher part way through.
    ("~~~~~~-", "~" * 6000 + "~~~~~~-" + "~" * 30 + "~~~~~~-", "filter given up part way"),
    # Past a run that makes the filter give up, every start of 'a' * 200 is an occurrence the boundary refuses,
    # and occurrences overlap: the rest of the scan must not compare the keyword again at each.
    ("a" * 200, ("a" * 20 + " ") * 300 + "a" * 5000, "filter given up, then occurrences refused everywhere"),
    ("a" * 200, ("a" * 20 + " ") * 300 + "a" * 5000 + " " + "a" * 200, "the same, with passes after them"),
    ("ab" * 100, ("ab" * 10 + "   ") * 300 + "ab" * 3000 + "-", "overlapping occurrences of a periodic keyword"),
]


@pytest.mark.parametrize("kw, text, what", KEYWORD_EDGES, ids=[c[2] for c in KEYWORD_EDGES])
def test_candidate_scan_edges(kw, text, what):
    check_against_model_and_common(kw, text)
    check_against_model_and_common(kw, text + E)  # the UTF-8 route of a non-ASCII result
