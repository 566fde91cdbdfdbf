"""transform_string of every class gives a new exact str, also when nothing is replaced: never the argument
object, whether it is a str or a subclass of str, ASCII or not. The result is canonical: equal to, and of the
same hash and size as, the str the interpreter builds for the same characters."""
import sys

import pytest

import quillex as q
from conftest import call_checked, fresh

E = "\u00e9"


class Text(str):
    pass


def forward_of(inner):
    f = q.Forward()
    f <<= inner
    return f


# (class, grammar, text, replacement, expected). Each class has a text with no non-empty match in ASCII and in
# non-ASCII (rest_of_line matches every non-empty line, so its texts without one are newlines only), and most a
# text where something is replaced.
CASES = [
    ("Literal", lambda: q.Literal("zz"), "abc", "-", "abc"),
    ("Literal", lambda: q.Literal("zz"), "a" + E + " b", "-", "a" + E + " b"),
    ("Literal", lambda: q.Literal("ab"), E + "ab" + E, "-", E + "-" + E),
    ("Literal", lambda: q.Literal("ab"), "xab", E, "x" + E),
    ("Keyword", lambda: q.Keyword("if"), "iffy", "-", "iffy"),
    ("Keyword", lambda: q.Keyword("if"), E + "xif1", "-", E + "xif1"),
    ("Keyword", lambda: q.Keyword("if"), "if " + E, "-", "- " + E),
    ("Word", lambda: q.Word("ab"), "xyz", "-", "xyz"),
    ("Word", lambda: q.Word("ab"), "x" + E, "-", "x" + E),
    ("Word", lambda: q.Word("ab" + E), "x" + E + "a y", "-", "x- y"),
    ("Regex", lambda: q.Regex("[0-9]+"), "ab", "-", "ab"),
    ("Regex", lambda: q.Regex("[0-9]+"), "a" + E, "-", "a" + E),
    ("Regex", lambda: q.Regex("[0-9]+"), "a12" + E, "-", "a-" + E),
    ("And", lambda: q.Literal("a") + q.Word("b"), "bbb", "-", "bbb"),
    ("And", lambda: q.Literal("a") + q.Word("b"), E + "b", "-", E + "b"),
    ("And", lambda: q.Literal("a") + q.Word("b"), "abb" + E, "-", "-" + E),
    ("MatchFirst", lambda: q.Literal("x") | q.Word("ab"), "zzz", "-", "zzz"),
    ("MatchFirst", lambda: q.Literal("x") | q.Word("ab"), E + "z", "-", E + "z"),
    ("MatchFirst", lambda: q.Literal("x") | q.Word("ab"), "xab" + E, "-", "--" + E),
    ("ZeroOrMore", lambda: q.ZeroOrMore(q.Literal("a")), "bc", "-", "bc"),
    ("ZeroOrMore", lambda: q.ZeroOrMore(q.Literal("a")), E + "b", "-", E + "b"),
    ("ZeroOrMore", lambda: q.ZeroOrMore(q.Literal("a")), "aab", "-", "-b"),
    ("OneOrMore", lambda: q.OneOrMore(q.Literal("a")), "bc", "-", "bc"),
    ("OneOrMore", lambda: q.OneOrMore(q.Literal("a")), E + "b", "-", E + "b"),
    ("OneOrMore", lambda: q.OneOrMore(q.Literal("a")), E + "aa", "-", E + "-"),
    ("Optional", lambda: q.Optional(q.Literal("a")), "bc", "-", "bc"),
    ("Optional", lambda: q.Optional(q.Literal("a")), E + "b", "-", E + "b"),
    ("Optional", lambda: q.Optional(q.Literal("a")), "bab", "-", "b-b"),
    ("Group", lambda: q.Group(q.Literal("a")), "bc", "-", "bc"),
    ("Group", lambda: q.Group(q.Literal("a")), E + "b", "-", E + "b"),
    ("Group", lambda: q.Group(q.Literal("a")), "ab", "-", "-b"),
    ("Suppress", lambda: q.Suppress(q.Literal("a")), "bc", "-", "bc"),
    ("Suppress", lambda: q.Suppress(q.Literal("a")), E + "b", "-", E + "b"),
    ("Suppress", lambda: q.Suppress(q.Literal("a")), "ab", "-", "-b"),
    ("Forward", lambda: forward_of(q.Literal("a")), "bc", "-", "bc"),
    ("Forward", lambda: q.Forward(), E + "b", "-", E + "b"),
    ("Forward", lambda: forward_of(q.Literal("a")), "ba" + E, "-", "b-" + E),
    ("Combine", lambda: q.Combine(q.Literal("a") + q.Literal("b")), "ba", "-", "ba"),
    ("Combine", lambda: q.Combine(q.Literal("a") + q.Literal("b")), E + "a", "-", E + "a"),
    ("Combine", lambda: q.Combine(q.Literal("a") + q.Literal("b")), "abab", "-", "--"),
    ("Exactly", lambda: q.Exactly(q.Literal("a"), 2), "ab", "-", "ab"),
    ("Exactly", lambda: q.Exactly(q.Literal("a"), 2), "a" + E, "-", "a" + E),
    ("Exactly", lambda: q.Exactly(q.Literal("a"), 2), "aaa", "-", "-a"),
    ("CaselessLiteral", lambda: q.CaselessLiteral("ab"), "xy", "-", "xy"),
    ("CaselessLiteral", lambda: q.CaselessLiteral("ab"), E + "x", "-", E + "x"),
    ("CaselessLiteral", lambda: q.CaselessLiteral("ab"), "xAb" + E, "-", "x-" + E),
    ("CaselessKeyword", lambda: q.CaselessKeyword("if"), "iffy", "-", "iffy"),
    ("CaselessKeyword", lambda: q.CaselessKeyword("if"), E + "xif1", "-", E + "xif1"),
    ("CaselessKeyword", lambda: q.CaselessKeyword("if"), "IF x", "-", "- x"),
    ("Char", lambda: q.Char("ab"), "xyz", "-", "xyz"),
    ("Char", lambda: q.Char(E), "xyz", "-", "xyz"),
    ("Char", lambda: q.Char("ab"), "x" + E, "-", "x" + E),
    ("Char", lambda: q.Char(E), "a" + E + "b", "-", "a-b"),
    ("StringStart", q.StringStart, "ab", "-", "ab"),
    ("StringStart", q.StringStart, E + "b", "-", E + "b"),
    ("StringEnd", q.StringEnd, "ab", "-", "ab"),
    ("StringEnd", q.StringEnd, E + "b", "-", E + "b"),
    ("LineStart", q.LineStart, "a\nb", "-", "a\nb"),
    ("LineStart", q.LineStart, E + "\nb", "-", E + "\nb"),
    ("LineEnd", q.LineEnd, "ab", "-", "ab"),
    ("LineEnd", q.LineEnd, E + "b", "-", E + "b"),
    ("LineEnd", q.LineEnd, "a\n" + E, "-", "a-" + E),
    ("rest_of_line", q.rest_of_line, "\n\n", "-", "\n\n"),
    ("rest_of_line", q.rest_of_line, E + "\nb", "-", "-\n-"),
    ("QuotedString", q.QuotedString, "ab", "-", "ab"),
    ("QuotedString", q.QuotedString, E + "b", "-", E + "b"),
    ("QuotedString", q.QuotedString, 'x"' + E + '"y', "-", "x-y"),
    ("Empty", q.Empty, "ab", "-", "ab"),
    ("Empty", q.Empty, E + "b", "-", E + "b"),
    ("NoMatch", q.NoMatch, "ab", "-", "ab"),
    ("NoMatch", q.NoMatch, E + "b", "-", E + "b"),
    ("SkipTo", lambda: q.SkipTo(q.Literal("x")), "ab", "-", "ab"),
    ("SkipTo", lambda: q.SkipTo(q.Literal("x")), E + "b", "-", E + "b"),
    ("SkipTo", lambda: q.SkipTo(q.Literal("x")), E + "bx", "-", "-x"),
]


def case_id(case):
    cls, _, text, replacement, _ = case
    return f"{cls}-{text.encode('unicode_escape').decode()}-{replacement.encode('unicode_escape').decode()}"


def test_every_class_is_in_the_table():
    assert {c[0] for c in CASES} == {name for name in q.__all__ if isinstance(getattr(q, name), type)}


@pytest.mark.parametrize("cls, make, text, replacement, expected", CASES, ids=[case_id(c) for c in CASES])
def test_transform_gives_a_new_canonical_str(cls, make, text, replacement, expected):
    g = make()
    assert type(g).__name__ == cls
    canonical = fresh(expected)
    for s in (fresh(text), Text(text)):
        for r in (fresh(replacement), Text(replacement)):
            result = call_checked(g.transform_string, s, r)
            assert type(result) is str
            assert result is not s and result is not r
            assert result == canonical
            assert hash(result) == hash(canonical)
            assert sys.getsizeof(result) == sys.getsizeof(canonical)  # the smallest kind that holds it
