"""search_string_count, search_string and transform_string of the terminal and positional classes on a non-ASCII
str whose UTF-8 form has not been made: the str is read in its own units (1, 2 or 4 bytes a character) and the
form is never made. Every answer must equal the UTF-8 route's (the same str once its form exists) and the common
routine's, for every kind of str and for str subclasses; a lone surrogate raises what it raises on the UTF-8
route; a transform's result is a new canonical str."""
import itertools
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quillex as q
from conftest import call_checked, canonical, fresh, utf8_made

E = "\u00e9"  # latin-1
Y = "\u00ff"
C2 = "\u0109"  # UCS-2, two bytes in UTF-8
C3 = "\u20ac"  # UCS-2, three bytes in UTF-8
C4 = "\U0001f600"  # UCS-4
METHODS = ["search_string_count", "search_string", "transform_string"]


class StrSub(str):
    pass


def common_route(g):
    """A grammar whose methods run the common routines over g's element on the UTF-8 view."""
    return q.MatchFirst([g])


# The grammars of every class whose methods read units, each with its own texts' features in mind.
GRAMMARS = {
    "Keyword": lambda: q.Keyword("if"),
    "Keyword-aa": lambda: q.Keyword("aa"),
    "Keyword-latin1": lambda: q.Keyword(E + "a"),
    "Keyword-ucs2": lambda: q.Keyword(C2),
    "Keyword-ucs4": lambda: q.Keyword("a" + C4),
    "Keyword-empty": lambda: q.Keyword(""),
    "Literal": lambda: q.Literal("ab"),
    "Literal-empty": lambda: q.Literal(""),
    "Word": lambda: q.Word("ab"),
    "Word-body": lambda: q.Word("a", "b_"),
    "Word-wide": lambda: q.Word("a" + E, "b" + Y),
    "Word-all-below-256": lambda: q.Word("".join(map(chr, range(256)))),
    "CaselessLiteral": lambda: q.CaselessLiteral("aB"),
    "CaselessLiteral-latin1": lambda: q.CaselessLiteral("A" + E),
    "CaselessLiteral-ucs4": lambda: q.CaselessLiteral(C4 + "b"),
    "CaselessLiteral-empty": lambda: q.CaselessLiteral(""),
    "CaselessKeyword": lambda: q.CaselessKeyword("If"),
    "CaselessKeyword-latin1": lambda: q.CaselessKeyword(E),
    "CaselessKeyword-empty": lambda: q.CaselessKeyword(""),
    "Char": lambda: q.Char("ab"),
    "Char-wide": lambda: q.Char("a" + E + C3 + C4),
    "QuotedString": lambda: q.QuotedString('"'),
    "QuotedString-escape": lambda: q.QuotedString('"', esc_char="\\"),
    "QuotedString-multiline": lambda: q.QuotedString("'", esc_char="'", multiline=True),
    "QuotedString-wide": lambda: q.QuotedString(C2, esc_char=C4),
    "LineStart": q.LineStart,
    "LineEnd": q.LineEnd,
    "StringStart": q.StringStart,
    "StringEnd": q.StringEnd,
    "Empty": q.Empty,
    "NoMatch": q.NoMatch,
    "rest_of_line": q.rest_of_line,
}
NAMES = list(GRAMMARS)

ALPHABET = ["a", "b", "A", "B", "i", "f", "I", "F", "_", "1", " ", "\n", '"', "'", "\\", E, Y, C2, C3, "\u6100",
            C4]


def answers(g, s, replacement):
    out = []
    for method in METHODS:
        args = (replacement,) if method == "transform_string" else ()
        out.append(call_checked(getattr(g, method), s, *args))
    return out


def check_units_route(g, text, replacement="#"):
    """The three methods on a fresh copy of `text` (read in units when it is not ASCII) against the same methods
    on a copy with its UTF-8 form and against the common routine; the fresh copy and a subclass instance never
    get a UTF-8 form; the transform gives a new canonical str."""
    s = fresh(text)
    size = sys.getsizeof(s)
    got = answers(g, s, replacement)
    if not text.isascii():
        assert sys.getsizeof(s) == size, "the UTF-8 form was made"
    sub = StrSub(text)
    sub_size = sys.getsizeof(sub)
    assert answers(g, sub, replacement) == got
    if not text.isascii():
        assert sys.getsizeof(sub) == sub_size, "the UTF-8 form of the subclass instance was made"
    assert_utf8_routes_give(g, text, replacement, got)
    result = got[2]
    assert type(result) is str
    if len(result) >= 2:
        assert result is not s
        assert sys.getsizeof(result) == sys.getsizeof(canonical(result)), "not the smallest kind"
    return got


def assert_utf8_routes_give(g, text, replacement, got):
    """The class's methods and the common routine on a copy of `text` with its UTF-8 form give `got`.
    search_string's items are compared as strs (Keyword and Literal give each match as a one-token list, and
    list their zero-length matches too, which the common routine leaves out)."""
    viewed = utf8_made(fresh(text))
    assert answers(g, viewed, replacement) == got
    count, found, result = answers(common_route(g), viewed, replacement)
    tokens = [item[0] if isinstance(item, list) else item for item in got[1]]
    assert [count, found, result] == [got[0], [t for t in tokens if t], got[2]]


@settings(max_examples=1000, deadline=None)
@given(st.sampled_from(NAMES), st.lists(st.sampled_from(ALPHABET), max_size=40).map("".join),
       st.sampled_from(["#", "", E, C2 + "x", C4]))
def test_units_route_agrees_with_the_utf8_route(name, text, replacement):
    check_units_route(GRAMMARS[name](), text, replacement)


# Every text of up to four characters over a small alphabet with one character of each width, for grammars
# whose matches start, end or stop next to the wider characters.
SMALL_WORLD = ["a", "i", "f", " ", E, C3, C4]
SMALL_GRAMMARS = ["Keyword", "Keyword-ucs2", "Keyword-ucs4", "Word", "Word-wide", "CaselessKeyword",
                  "CaselessLiteral-latin1", "Char-wide", "QuotedString-wide", "LineEnd", "rest_of_line"]


@pytest.mark.parametrize("name", SMALL_GRAMMARS)
def test_units_route_small_world(name):
    g = GRAMMARS[name]()
    for length in range(5):
        for chars in itertools.product(SMALL_WORLD, repeat=length):
            check_units_route(g, "".join(chars), C2)


LONG = "x" * 5000

# (grammar, text, what it shows)
EDGES = [
    ("Keyword", "if" + E + " " + E + "if " + C4 + "if_ if" + C2 + "if", "keyword next to wider characters"),
    ("Keyword", ("if " + C2) * 3000 + "if", "many matches, UCS-2"),
    ("Keyword", ("if(" + C4 + ")") * 3000, "many matches, UCS-4"),
    ("Keyword-aa", E + "aaaa aaa a", "overlapping candidates refused by the next character"),
    ("Keyword-latin1", "x" + E + "a" + E + "ab " + E + "a", "non-ASCII keyword over latin-1 units"),
    ("Keyword-ucs2", E + C2 + "x" + C2 + " " + C2, "UCS-2 keyword"),
    ("Keyword-ucs2", E * 40, "UCS-2 keyword over latin-1: it stands nowhere"),
    ("Keyword-ucs4", C2 * 5 + "a" + C4, "UCS-4 keyword over UCS-2: it stands nowhere"),
    ("Keyword-empty", E + "ab " + C4 + "_\n" + C2, "zero-length matches at every UTF-8 byte that is no identifier"),
    ("Word", LONG + E + "ab" * 3000 + " " + C2, "across the 4096-unit blocks, UCS-2"),
    ("Word", C4 + ("ab " * 1400) + "abab" * 1000, "across the 4096-unit blocks, UCS-4"),
    ("Word", (E + "ab") * 2000, "periodic latin-1 text"),
    ("Word-wide", (Y + "ab" + E + " \u0100") * 1000, "wide rule, latin-1 members next to U+0100"),
    ("Word-wide", ("x" + Y + "ab" + E + " b" + E) * 1000, "wide rule over latin-1 units, vector steps"),
    ("Word-wide", C4 + (Y + "ab" + E + " \u0100") * 1000, "wide rule, UCS-4"),
    ("Word-all-below-256", ("ab" + Y + "\u0100") * 100 + C4, "no table entry for the wider code points"),
    ("CaselessLiteral", "AbaBAB" + E + "ab" + C2 + "aB" * 100, "either case of each letter"),
    ("CaselessLiteral-latin1", "a" + E + "A" + E + "a" + E.upper() + C2, "only ASCII letters fold"),
    ("CaselessKeyword", "if IF iF" + E + "iff If_ " + C4 + "IF", "caseless keyword next to wider characters"),
    ("Char-wide", (C4 + "ab" + E + Y + C3 + "\u20ad") * 50, "members of every width"),
    ("QuotedString-escape", '"a\\"' + E + '" "' + C4 + '\\' + C4 + '" "open\n"' + E, "escapes of wide characters"),
    ("QuotedString-escape", '"' + C2 + "\\", "escape at the very end"),
    ("QuotedString-escape", '"\\"' * 2000 + C2, "an opening quote whose scan runs off the end"),
    ("QuotedString-multiline", "'a''b\n" + C4 + "''" + E + "'", "quote as its own escape, over lines"),
    ("QuotedString-wide", C2 + "a" + C4 + C2 + "b" + C2 + E + C2, "wide quote and escape"),
    ("LineStart", "ab\n" + C2 + "\n\ncd\n", "final newline opens no counted line"),
    ("LineEnd", "\n" + E + "\n\n" + C4, "newlines replaced, none at the end"),
    ("rest_of_line", "ab\n\n" + C3 + "x\n" + E, "lines and empty lines"),
    ("StringStart", C2, "one character"),
    ("Empty", E + C3 + C4, "zero-length matches at every UTF-8 byte"),
]


@pytest.mark.parametrize("name, text, what", EDGES, ids=[f"{e[0]}: {e[2]}" for e in EDGES])
@pytest.mark.parametrize("replacement", ["#", "", E, C4])
def test_units_route_edges(name, text, what, replacement):
    check_units_route(GRAMMARS[name](), text, replacement)


@pytest.mark.parametrize("text, replacement, kind", [
    ("if x " + E, "", 1),
    ("if " + E + " if", "if", 1),
    (E + "x if" + C3, "", 2),
    (C3 + "if" + C3 + " " + C4, "y", 4),
])
def test_keyword_transform_result_is_canonical_when_wide_characters_go(text, replacement, kind):
    """A keyword of the text's widest class may take every such character out; the result is then narrower."""
    widest = max(text, key=ord)
    g = q.Keyword(widest)
    expected = utf8_made(fresh(text))
    got = call_checked(g.transform_string, fresh(text), replacement)
    assert got == q.Keyword(widest).transform_string(expected, replacement)
    assert sys.getsizeof(got) == sys.getsizeof(canonical(got))


def test_keyword_search_where_candidates_are_mostly_refused():
    """'a' * 64 over a long run of 'a': every candidate but the last is refused by the 'a' after it, so the unit
    scan hands over to matching in one pass (Knuth-Morris-Pratt over units); the answers stay the UTF-8 route's."""
    for text in ("a" * 20000 + C2 + "a" * 64, C4 + "a" * 20000 + " " + "a" * 63, E + "a" * 30000):
        check_units_route(q.Keyword("a" * 64), text, "-")


@pytest.mark.parametrize("keyword, text", [
    # U+0161 is the bytes 61 01 as UCS-2; U+6100 U+0101 are 00 61 01 01, holding them at the odd offset 1.
    ("\u0161", "\u6100\u0101" * 40000 + "\u0161 \u0161"),
    # 'a' * 64 as UCS-2 stands at every odd offset of U+6100 repeated, and at no whole one.
    ("a" * 64, "\u6100" * 40000 + "a" * 64 + "\u6100" + "a" * 64),
], ids=["one-unit", "long"])
def test_keyword_units_route_where_straddling_occurrences_stand_everywhere(keyword, text):
    """Byte occurrences straddling two units make the unit search give up; the methods then read the UTF-8 form
    (made then), with the same answers."""
    g = q.Keyword(keyword)
    assert_utf8_routes_give(g, text, "-", answers(g, fresh(text), "-"))


@pytest.mark.parametrize("name, text, token", [
    ("CaselessLiteral", "AB ab " + C2 + "AB ab AB", "AB"),
    ("Word", "ab ab" + C4 + " ab", "ab"),
    ("Word-wide", E + Y + " " + E + Y + C2 + " " + E + Y, E + Y),
    ("Char-wide", C3 + "a" + C3 + E + C3, C3),
    ("QuotedString", '"a' + C2 + '" "a' + C2 + '"' + E, '"a' + C2 + '"'),
    ("rest_of_line", "a" + C2 + "\na" + C2 + "\nb", "a" + C2),
    ("LineEnd", "a\n" + C2 + "\n", "\n"),
])
def test_units_route_equal_tokens_share_one_str(name, text, token):
    found = call_checked(GRAMMARS[name]().search_string, fresh(text))
    same = [item for item in found if item == token]
    assert len(same) >= 2 and all(item is same[0] for item in same)


SURROGATE_TEXTS = ["ab\udc80ab", "\ud800", "x" * 63 + "\udfff", "if " + C4 + "\udbff if",
                   "if " * 40 + "\ud800" + "if " * 40, C4 + "if " * 40 + "\udfff" + " if" * 3]


@pytest.mark.parametrize("name", NAMES)
@pytest.mark.parametrize("method", METHODS)
def test_lone_surrogates_raise_the_utf8_routes_error(name, method):
    g = GRAMMARS[name]()
    args = ("x",) if method == "transform_string" else ()
    for text in SURROGATE_TEXTS:
        for s in (fresh(text), StrSub(text)):
            with pytest.raises(UnicodeEncodeError) as info:
                call_checked(getattr(g, method), s, *args)
            assert info.value.object is s
            assert info.value.start == text.index(next(c for c in text if "\ud800" <= c <= "\udfff"))


@pytest.mark.parametrize("name", NAMES)
def test_units_route_argument_errors_keep_their_order(name):
    g = GRAMMARS[name]()
    s = fresh("ab" + C2 + "ab")
    with pytest.raises(TypeError, match="^argument 'replacement': 'int' object cannot be converted to 'PyString'$"):
        call_checked(g.transform_string, s, 5)
    with pytest.raises(UnicodeEncodeError):
        call_checked(g.transform_string, s, fresh("x\ud800"))
    with pytest.raises(UnicodeEncodeError):
        call_checked(g.transform_string, fresh("\ud800x"), 5)
