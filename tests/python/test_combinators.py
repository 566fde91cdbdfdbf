"""Constructors and methods of the combinator classes: And, MatchFirst, Optional, ZeroOrMore, OneOrMore,
Exactly, Group, Suppress, Combine, SkipTo and Forward."""
import pytest
from conftest import call_checked, raw_method, refcounts_unchanged

import quillex as q
from quillex import (And, CaselessLiteral, Combine, Empty, Exactly, Forward, Group, LineEnd, Literal, MatchFirst,
                     NoMatch, OneOrMore, Optional, SkipTo, StringEnd, Suppress, Word, ZeroOrMore)

L = Literal

ONE_CHILD = [Group, Suppress, Optional, ZeroOrMore, OneOrMore, Combine, SkipTo]


def parse_error(position, message):
    return f"ParseException at position {position}: {message}"


# ---------------------------------------------------------------------------------------------------------------
# Constructors


@pytest.mark.parametrize("cls", ONE_CHILD, ids=lambda c: c.__name__)
@pytest.mark.parametrize("bad", ["a", None, 3, Literal, [L("a")]], ids=["str", "None", "int", "class", "list"])
def test_one_child_constructors_refuse_non_grammar_objects(cls, bad):
    with pytest.raises(ValueError) as info:
        cls(bad)
    assert str(info.value) == "Unsupported parser element type"
    assert type(info.value) is ValueError


@pytest.mark.parametrize("cls", ONE_CHILD, ids=lambda c: c.__name__)
def test_one_child_constructors_bind_expr(cls):
    a = L("a")
    assert type(cls(a)) is cls
    assert type(cls(expr=a)) is cls
    with pytest.raises(TypeError) as info:
        cls()
    assert str(info.value) == f"{cls.__name__}.__new__() missing 1 required positional argument: 'expr'"
    with pytest.raises(TypeError) as info:
        cls(a, a)
    assert str(info.value) == f"{cls.__name__}.__new__() takes 1 positional arguments but 2 were given"
    with pytest.raises(TypeError) as info:
        cls(a, expr=a)
    assert str(info.value) == f"{cls.__name__}.__new__() got multiple values for argument 'expr'"
    with pytest.raises(TypeError) as info:
        cls(x=a)
    assert str(info.value) == f"{cls.__name__}.__new__() got an unexpected keyword argument 'x'"


def test_group_of_nested_and_combined_objects():
    assert Group(Group(L("a"))).parse_string("a") == ["a"]
    assert Group(L("a") + Word("b")).parse_string("abb") == ["a", "bb"]


def test_extracted_elements_stay_shared():
    a = L("a")
    g = Group(a)
    del a
    assert g.parse_string("a") == ["a"]
    f = Forward()
    wrapped = Group(f)
    assert not wrapped.matches("a")
    f <<= L("a")
    assert wrapped.matches("a")
    x = L("x")
    shared = [Group(x), Suppress(x), MatchFirst([x, x])]
    assert [s.matches("x") for s in shared] == [True, True, True]


class Index:
    def __init__(self, n):
        self.n = n

    def __index__(self):
        return self.n


@pytest.mark.parametrize("count, text, tokens", [
    (0, "aaa", []),
    (2, "aaa", ["a", "a"]),
    (True, "aa", ["a"]),
    (Index(3), "aaaa", ["a", "a", "a"]),
    (2**64 - 1, "", None),
], ids=["zero", "two", "bool", "index", "max"])
def test_exactly_counts(count, text, tokens):
    e = Exactly(L("a"), count)
    if tokens is None:
        assert not e.matches(text)
    else:
        assert e.parse_string(text) == tokens


def test_match_first_constructor():
    assert not MatchFirst([]).matches("x")
    with pytest.raises(ValueError) as info:
        MatchFirst([L("a"), 5, "b"])
    assert str(info.value) == "Unsupported expression type at index 1"
    with pytest.raises(ValueError) as info:
        MatchFirst(["a"])
    assert str(info.value) == "Unsupported expression type at index 0"
    class Items(list):
        pass

    m = MatchFirst(Items([L("a"), L("b")]))
    assert m.parse_string("b") == ["b"]
    # A MatchFirst item stays one alternative; the list is read only by the constructor.
    items = [MatchFirst([L("x"), L("y")]), L("c")]
    outer = MatchFirst(items)
    items.clear()
    assert [outer.matches(t) for t in ["x", "y", "c", "d"]] == [True, True, True, False]


def test_and_has_no_constructor():
    for args in [(), (L("a"),), (L("a"), L("b"))]:
        with pytest.raises(TypeError) as info:
            And(*args)
        assert str(info.value) == "No constructor defined for And"


def test_constructors_leave_reference_counts_unchanged():
    a = L("a")
    items = [a, a]
    with refcounts_unchanged(a, items):
        objs = [cls(a) for cls in ONE_CHILD] + [Exactly(a, 2), MatchFirst(items)]
        for bad in [lambda: MatchFirst([a, 5]), lambda: Exactly(a, -1), lambda: Group("x")]:
            with pytest.raises((ValueError, OverflowError)):
                bad()
    del objs


# ---------------------------------------------------------------------------------------------------------------
# Methods. Each row: grammar factory, method, arguments, expected result (or an exception and its text).

def raises(exc, text):
    return ("raises", exc, text)


def and_ab():
    return L("a") + L("b")


METHOD_CASES = [
    # And: tokens are the slices each child consumed.
    ("and-word", lambda: L("a") + Word(q.alphas()), "parse_string", ("ab",), ["a", "b"]),
    ("and-prefix", lambda: L("a") + Word(q.alphas()), "parse_string", ("abc!",), ["a", "bc"]),
    ("and-zero-length-child", lambda: L("a") + Optional(L("x")) + L("b"), "parse_string", ("ab",), ["a", "b"]),
    ("and-lineend-at-end", lambda: L("a") + LineEnd(), "parse_string", ("a",), ["a"]),
    ("and-lineend", lambda: L("a") + LineEnd(), "parse_string", ("a\n",), ["a", "\n"]),
    ("and-suppress-slice", lambda: L("a") + Suppress(L("b")), "parse_string", ("ab",), ["a", "b"]),
    ("group-of-and-suppress", lambda: Group(L("a") + Suppress(L("b"))), "parse_string", ("ab",), ["a"]),
    ("and-oneormore-slice", lambda: L("a") + OneOrMore(L("b")), "parse_string", ("abbb",), ["a", "bbb"]),
    ("and-caseless-input-bytes", lambda: CaselessLiteral("abc") + L("!"), "parse_string", ("ABC!",), ["ABC", "!"]),
    ("and-group-slice", lambda: L("a") + Group(L("b") + L("c")), "parse_string", ("abc",), ["a", "bc"]),
    ("and-skipto-at-target", lambda: L("a") + SkipTo(L("b")) + L("b"), "parse_string", ("ab",), ["a", "b"]),
    ("and-fails", and_ab, "parse_string", ("ax",), raises(ValueError, "Expected match")),
    ("and-fails-empty", and_ab, "parse_string", ("",), raises(ValueError, "Expected match")),
    ("and-matches", and_ab, "matches", ("abz",), True),
    ("and-matches-not", and_ab, "matches", ("ax",), False),
    ("and-search", and_ab, "search_string", ("abxab",), ["a", "b", "a", "b"]),
    ("and-search-empty", and_ab, "search_string", ("",), []),
    ("and-count-empty", and_ab, "search_string_count", ("",), 0),
    ("and-count", and_ab, "search_string_count", ("abab",), 2),
    ("and-transform", and_ab, "transform_string", ("abxab", "-"), "-x-"),
    ("and-zero-length-count", lambda: Optional(L("a")) + Optional(L("b")), "search_string_count", ("xyz",), 3),
    ("and-zero-length-search", lambda: Optional(L("a")) + Optional(L("b")), "search_string", ("xyz",), []),
    ("and-batch-count-empty", and_ab, "parse_batch_count", ([],), 0),
    ("and-batch-count", and_ab, "parse_batch_count", (["ab", "x", "abc", "ab"],), 3),
    ("and-batch", and_ab, "parse_batch", (["ab", "x"],), [["a", "b"], []]),
    # MatchFirst
    ("mf-parse", lambda: L("a") | L("b"), "parse_string", ("bc",), ["b"]),
    ("mf-parse-fails", lambda: L("a") | L("b"), "parse_string", ("c",), raises(ValueError, "No match found")),
    ("mf-matches-not", lambda: L("a") | L("b"), "matches", ("c",), False),
    ("mf-parse-element-tokens", lambda: MatchFirst([Group(L("a") + Suppress(L("b")))]), "parse_string", ("ab",),
     ["a"]),
    ("mf-empty-parse", lambda: MatchFirst([]), "parse_string", ("x",), raises(ValueError, "No match found")),
    ("mf-empty-matches", lambda: MatchFirst([]), "matches", ("x",), False),
    ("mf-empty-count", lambda: MatchFirst([]), "search_string_count", ("abc",), 0),
    ("mf-empty-batch", lambda: MatchFirst([]), "parse_batch", (["a", "b"],), [[], []]),
    ("mf-first-wins-count", lambda: L("ab") | L("a"), "search_string_count", ("aab",), 2),
    ("mf-search", lambda: L("ab") | L("a"), "search_string", ("aab",), ["a", "ab"]),
    ("mf-transform", lambda: L("ab") | L("a"), "transform_string", ("aabc", "-"), "--c"),
    ("mf-batch-count", lambda: L("a") | L("b"), "parse_batch_count", (["a", "b", "c"],), 2),
    # Optional
    ("opt-parse-none", lambda: Optional(L("a")), "parse_string", ("b",), []),
    ("opt-parse", lambda: Optional(L("a") + L("b")), "parse_string", ("abc",), ["a", "b"]),
    ("opt-parse-partial", lambda: Optional(L("a") + L("b")), "parse_string", ("ac",), []),
    ("opt-matches", lambda: Optional(L("a")), "matches", ("b",), True),
    ("opt-matches-empty", lambda: Optional(L("a")), "matches", ("",), True),
    ("opt-count", lambda: Optional(L("a")), "search_string_count", ("xyz",), 3),
    ("opt-count-mixed", lambda: Optional(L("a")), "search_string_count", ("aab",), 3),
    ("opt-search", lambda: Optional(L("a")), "search_string", ("xyz",), []),
    ("opt-search-bab", lambda: Optional(L("a")), "search_string", ("bab",), ["a"]),
    ("opt-batch-count", lambda: Optional(L("a")), "parse_batch_count", (["x", "y"],), 2),
    ("opt-batch-count-empty", lambda: Optional(L("a")), "parse_batch_count", ([],), 0),
    ("opt-lineend", lambda: Optional(LineEnd()), "parse_string", ("",), ["\n"]),
    ("opt-lineend-batch", lambda: Optional(LineEnd()), "parse_batch", ([""],), [["\n"]]),
    ("opt-transform", lambda: Optional(L("a")), "transform_string", ("bab", "X"), "bXb"),
    # Suppress
    ("sup-parse", lambda: Suppress(L("a")), "parse_string", ("ab",), []),
    ("sup-parse-fails", lambda: Suppress(L("a")), "parse_string", ("b",), raises(ValueError, "No match (suppressed)")),
    ("sup-matches", lambda: Suppress(L("a")), "matches", ("ab",), True),
    ("sup-matches-not", lambda: Suppress(L("a")), "matches", ("b",), False),
    ("sup-search", lambda: Suppress(L("a")), "search_string", ("aba",), ["a", "a"]),
    ("sup-count", lambda: Suppress(L("a")), "search_string_count", ("aba",), 2),
    ("sup-transform", lambda: Suppress(L("a")), "transform_string", ("aba", "X"), "XbX"),
    ("sup-batch-empty", lambda: Suppress(L("a")), "parse_batch", ([],), []),
    ("sup-batch-count", lambda: Suppress(L("a")), "parse_batch_count", (["ab", "b"],), 1),
    # Forward, unset and set
    ("fwd-unset-parse", Forward, "parse_string", ("a",), raises(ValueError, parse_error(0, "Forward not initialized"))),
    ("fwd-unset-matches", Forward, "matches", ("a",), False),
    ("fwd-unset-search", Forward, "search_string", ("abc",), []),
    ("fwd-unset-count", Forward, "search_string_count", ("abc",), 0),
    ("fwd-unset-batch", Forward, "parse_batch", (["a", "b"],), [[], []]),
    ("fwd-unset-batch-count", Forward, "parse_batch_count", (["a", "b"],), 0),
    ("fwd-unset-transform", Forward, "transform_string", ("abc", "x"), "abc"),
    # Group, Combine
    ("group-parse", lambda: Group(and_ab()), "parse_string", ("abc",), ["a", "b"]),
    ("group-parse-fails", lambda: Group(and_ab()), "parse_string", ("ac",), raises(ValueError, parse_error(1, "Expected 'b'"))),
    ("group-search-shared", lambda: Group(L("aa")), "search_string", ("aaa",), ["aa"]),
    ("group-transform", lambda: Group(L("a")), "transform_string", ("banana", "o"), "bonono"),
    ("group-batch-count", lambda: Group(and_ab()), "parse_batch_count", (["ab", "a", "abab"],), 2),
    ("combine-parse", lambda: Combine(and_ab()), "parse_string", ("abc",), ["ab"]),
    ("combine-parse-fails", lambda: Combine(and_ab()), "parse_string", ("ac",), raises(ValueError, parse_error(1, "Expected 'b'"))),
    ("combine-empty-token", lambda: Combine(Optional(L("x"))), "parse_string", ("a",), [""]),
    ("combine-matches", lambda: Combine(and_ab()), "matches", ("ab",), True),
    ("combine-batch", lambda: Combine(and_ab()), "parse_batch", (["ab", "b"],), [["ab"], []]),
    # Repetitions
    ("zom-matches", lambda: ZeroOrMore(L("a")), "matches", ("b",), True),
    ("zom-matches-empty", lambda: ZeroOrMore(L("a")), "matches", ("",), True),
    ("zom-parse-none", lambda: ZeroOrMore(L("a")), "parse_string", ("b",), []),
    ("zom-parse", lambda: ZeroOrMore(L("a")), "parse_string", ("aab",), ["a", "a"]),
    ("zom-count", lambda: ZeroOrMore(L("a")), "search_string_count", ("bab",), 3),
    ("zom-search", lambda: ZeroOrMore(L("a")), "search_string", ("bab",), ["a"]),
    ("zom-batch-count", lambda: ZeroOrMore(L("a")), "parse_batch_count", (["", "b", "aa"],), 3),
    ("oom-loose-matches", lambda: OneOrMore(Optional(L("a"))), "matches", ("b",), True),
    ("oom-loose-parse", lambda: OneOrMore(Optional(L("a"))), "parse_string", ("b",),
     raises(ValueError, parse_error(0, "Expected at least one match"))),
    ("oom-parse", lambda: OneOrMore(L("a")), "parse_string", ("aab",), ["a", "a"]),
    ("oom-matches-not", lambda: OneOrMore(L("a")), "matches", ("ba",), False),
    ("oom-count", lambda: OneOrMore(L("a")), "search_string_count", ("aabaa",), 2),
    ("oom-batch", lambda: OneOrMore(L("a")), "parse_batch", (["aa", "b"],), [["a", "a"], []]),
    ("exactly0-matches", lambda: Exactly(L("a"), 0), "matches", ("b",), True),
    ("exactly0-count", lambda: Exactly(L("a"), 0), "search_string_count", ("xyz",), 3),
    ("exactly0-search", lambda: Exactly(L("a"), 0), "search_string", ("xyz",), []),
    ("exactly-no-progress", lambda: Exactly(Optional(L("a")), 2), "parse_string", ("b",),
     raises(ValueError, parse_error(0, "No progress in Exactly"))),
    ("exactly-no-progress-matches", lambda: Exactly(Optional(L("a")), 2), "matches", ("b",), False),
    ("exactly-iteration-fails", lambda: Exactly(L("a"), 2), "parse_string", ("ab",),
     raises(ValueError, parse_error(1, "Expected 'a'"))),
    ("exactly-count", lambda: Exactly(L("a"), 2), "search_string_count", ("aaaaa",), 2),
    ("exactly-batch-count", lambda: Exactly(L("a"), 2), "parse_batch_count", (["aa", "a", "aaa"],), 2),
    # SkipTo
    ("skipto-parse", lambda: SkipTo(L("c")), "parse_string", ("abc",), ["ab"]),
    ("skipto-matches", lambda: SkipTo(L("c")), "matches", ("abc",), True),
    ("skipto-matches-not", lambda: SkipTo(L("c")), "matches", ("ab",), False),
    ("skipto-matches-empty", lambda: SkipTo(StringEnd()), "matches", ("",), True),
    ("skipto-count", lambda: SkipTo(L("c")), "search_string_count", ("abc",), 2),
    ("skipto-search", lambda: SkipTo(L("c")), "search_string", ("abc",), ["ab"]),
    ("skipto-parse-fails", lambda: SkipTo(L("c")), "parse_string", ("ab",),
     raises(ValueError, parse_error(0, "SkipTo: target not found"))),
    ("skipto-string-end", lambda: SkipTo(StringEnd()), "parse_string", ("abc",), ["abc"]),
    ("skipto-transform", lambda: SkipTo(L("c")), "transform_string", ("abcabc", "-"), "-c-c"),
    # Text of several-byte characters: positions are bytes, and SkipTo never splits a character.
    ("skipto-utf8", lambda: SkipTo(L("c")), "parse_string", ("é€c",), ["é€"]),
    ("group-position-utf8", lambda: Group(L("é") + L("b")), "parse_string", ("éc",),
     raises(ValueError, parse_error(2, "Expected 'b'"))),
    ("and-utf8-slices", lambda: L("é") + SkipTo(L("x")) + L("x"), "parse_string", ("é€€x",), ["é", "€€", "x"]),
]


@pytest.mark.parametrize("make, method, args, expected", [c[1:] for c in METHOD_CASES],
                         ids=[c[0] for c in METHOD_CASES])
def test_methods(make, method, args, expected):
    call = getattr(make(), method)
    if isinstance(expected, tuple) and expected and expected[0] == "raises":
        with pytest.raises(expected[1]) as info:
            call_checked(call, *args)
        assert type(info.value) is expected[1]
        assert str(info.value) == expected[2]
    else:
        result = call_checked(call, *args)
        assert result == expected
        assert type(result) is type(expected)


def test_search_results_share_equal_texts():
    r = (L("a") + L("b")).search_string("abxab")
    assert r[0] is r[2] and r[1] is r[3]
    r = Suppress(L("a")).search_string("aba")
    assert r[0] is r[1]
    r = Group(L("ab")).search_string("abxab")
    assert r[0] is r[1]


def test_and_parse_string_makes_separate_strs_for_equal_slices():
    r = (L("ab") + L("ab")).parse_string("abab")
    assert r == ["ab", "ab"] and r[0] is not r[1]


def test_suppress_parse_batch_shares_one_list_for_matched_inputs():
    s = "ab"
    r = Suppress(L("a")).parse_batch([s, "b", s, "ax"])
    assert r == [[], [], [], []]
    assert r[0] is r[2] is r[3]
    assert r[1] is not r[0]
    g = Suppress(L("a"))
    for inputs in [[s, s], [s, "b"], []]:
        call_checked(g.parse_batch, inputs)


def test_forward_after_set():
    f = Forward()
    f <<= L("a")
    assert f.matches("ab")
    assert f.parse_string("ab") == ["a"]
    assert f.search_string_count("aba") == 2
    f.set(L("b"))
    assert f.parse_string("b") == ["b"] and not f.matches("a")


def test_and_batch_count_uses_identity_shortcuts_but_counts_exactly():
    g = L("a") + L("b")
    s, t = "ab", "x"
    assert g.parse_batch_count([s] * 5) == 5
    assert g.parse_batch_count([t] * 5) == 0
    assert g.parse_batch_count([s, t] * 7 + [s]) == 8
    distinct = ["ab" + str(i) for i in range(40)] + ["x" + str(i) for i in range(40)]
    assert g.parse_batch_count(distinct * 3) == 120


CLASSES_WITH_OWN_BATCH_BODIES = [
    ("And.parse_batch_count", lambda: L("a") + L("b"), "parse_batch_count"),
    ("Optional.parse_batch_count", lambda: Optional(L("a")), "parse_batch_count"),
    ("Suppress.parse_batch", lambda: Suppress(L("a")), "parse_batch"),
    ("Suppress.parse_batch_count", lambda: Suppress(L("a")), "parse_batch_count"),
    ("Group.parse_batch_count", lambda: Group(L("a")), "parse_batch_count"),
    ("MatchFirst.parse_batch", lambda: L("a") | L("b"), "parse_batch"),
    ("SkipTo.parse_batch_count", lambda: SkipTo(L("a")), "parse_batch_count"),
    ("Forward.parse_batch", Forward, "parse_batch"),
]


@pytest.mark.parametrize("make, method", [c[1:] for c in CLASSES_WITH_OWN_BATCH_BODIES],
                         ids=[c[0] for c in CLASSES_WITH_OWN_BATCH_BODIES])
@pytest.mark.parametrize("inputs, index, name", [
    (["ab", 3, None], 1, "int"),
    ([None, "ab"], 0, "NoneType"),
    ([b"ab"] * 4, 0, "bytes"),
    (["a", 2.5, "a", 2.5], 1, "float"),
], ids=["second", "first", "uniform", "period"])
def test_batch_items_must_be_str(make, method, inputs, index, name):
    with pytest.raises(TypeError) as info:
        getattr(make(), method)(inputs)
    assert str(info.value) == f"argument 'inputs': item {index}: '{name}' object cannot be converted to 'PyString'"


# Optional.parse_batch_count reads no text: every str matches, so it makes no UTF-8 form (tested below).
BODIES_THAT_READ_TEXT = [c for c in CLASSES_WITH_OWN_BATCH_BODIES if c[0] != "Optional.parse_batch_count"]


@pytest.mark.parametrize("make, method", [c[1:] for c in BODIES_THAT_READ_TEXT],
                         ids=[c[0] for c in BODIES_THAT_READ_TEXT])
@pytest.mark.parametrize("shape, index", [
    (lambda ok, bad: [bad], 0),
    (lambda ok, bad: [ok, bad, 3], 1),
    (lambda ok, bad: [bad] * 4, 0),
    (lambda ok, bad: [ok, bad] * 3, 1),
], ids=["only", "before-a-non-str", "uniform", "period"])
def test_batch_item_without_utf8_form_raises_the_interpreters_error(make, method, shape, index):
    ok, bad = "ab", "a\ud800"
    inputs = shape(ok, bad)
    with pytest.raises(UnicodeEncodeError) as info:
        getattr(make(), method)(inputs)
    assert info.value.object is bad


def test_optional_batch_count_reads_no_text():
    assert Optional(L("a")).parse_batch_count(["ab", "a\ud800", "", "\ud800"]) == 4
    with pytest.raises(TypeError):
        Optional(L("a")).parse_batch_count(["ab", "a\ud800", 3])


@pytest.mark.parametrize("cls, receiver", [(And, L("a")), (Optional, Empty()), (Suppress, Group(L("a"))),
                                           (MatchFirst, L("a") + L("b"))], ids=["And", "Optional", "Suppress",
                                                                                 "MatchFirst"])
def test_receiver_check_of_the_entry(cls, receiver):
    with pytest.raises(TypeError) as info:
        raw_method(cls, "parse_string")(receiver, "a")
    assert str(info.value) == f"'{type(receiver).__name__}' object cannot be converted to '{cls.__name__}'"


def test_no_method_returns_invalid_text_on_multibyte_input():
    grammars = [SkipTo(L("c")), SkipTo(StringEnd()), Combine(SkipTo(L("c"))), L("é") + SkipTo(L("c")),
                ZeroOrMore(L("é") | L("a")), Optional(SkipTo(L("€")))]
    for g in grammars:
        for text in ["é€c", "aéc", "€", "cé", ""]:
            for method in ["search_string", "parse_batch"]:
                arg = [text] if method == "parse_batch" else text
                result = getattr(g, method)(arg)
                assert isinstance(result, list)
            assert isinstance(g.transform_string(text, "-"), str)
            assert "".join(g.search_string(text)) == "".join(Group(g).search_string(text))


# ---------------------------------------------------------------------------------------------------------------
# one_of: a MatchFirst of one literal per whitespace-separated word, in text order.

@pytest.mark.parametrize("strs, text, tokens", [
    ("+ - * /", "*", ["*"]),
    ("a ab", "ab", ["a"]),  # kept in order: the shorter word wins
    ("ab a", "ab", ["ab"]),
    ("  a\tb\n", "b", ["b"]),
    ("x\u3000y", "y", ["y"]),
    ("x\u00a0y", "y", ["y"]),
    ("x\u2028y\u0085z", "z", ["z"]),
    ("é €", "€", ["€"]),
    ("x\u200by", "x\u200by", ["x\u200by"]),  # a zero width space is no separator
], ids=["operators", "order", "order-reversed", "ascii-space", "ideographic-space", "no-break-space",
        "line-separator-and-nel", "non-ascii-words", "zero-width-space"])
def test_one_of_words(strs, text, tokens):
    g = q.one_of(strs)
    assert type(g) is MatchFirst
    assert g.parse_string(text) == tokens


def test_one_of_keeps_every_word():
    assert q.one_of("+ - * /").search_string_count("+-*/%") == 4
    assert q.one_of("a b a").parse_batch_count(["a", "b", "c"]) == 2
    assert not q.one_of("x\u200by").matches("x")
    assert q.one_of("x\u00a0y").search_string("x\u00a0y") == ["x", "y"]
    assert q.one_of(strs="x y").matches("y")


@pytest.mark.parametrize("strs", ["", " ", " \t\n", "\u3000\u2029"], ids=["empty", "space", "ascii", "unicode"])
def test_one_of_needs_a_word(strs):
    with pytest.raises(ValueError) as info:
        call_checked(q.one_of, strs)
    assert str(info.value) == "one_of requires at least one string"
