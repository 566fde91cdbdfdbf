"""transform_string of every class gives a new exact str, also when nothing is replaced: never the argument
object, whether it is a str or a subclass of str, ASCII or not. The result is canonical: equal to, and of the
same hash and size as, the str the interpreter builds for the same characters."""
import sys

import pytest

import quillex as q
from conftest import call_checked, fresh, utf8_made

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


# Texts of every kind (ASCII, latin-1, 2- and 4-byte code points) through the transform routes, with and without
# a UTF-8 form made first, against str.replace and re.sub. The widest characters of a text are sometimes only
# inside the replaced spans, so the result's kind is narrower than the text's.
ALPHABET = ["a", "b", "1", " ", E, "\u20ac", "\U0001f600"]
NEEDLES = ["a", E, "\u20ac", "\U0001f600", "a\u20ac", E + "b"]
REPLACEMENTS = ["", "x", E, "\u20ac", "\U0001f600", "xyz" * 7]


def test_transform_over_every_kind_agrees_with_str_replace_and_re_sub():
    import random
    import re

    rng = random.Random(7)
    routes = [
        (lambda n: q.Literal(n), lambda n, s, r: s.replace(n, r)),
        (lambda n: q.Group(q.Literal(n)), lambda n, s, r: s.replace(n, r)),
        (lambda n: q.Regex("(?:" + re.escape(n) + ")+"), lambda n, s, r: re.sub("(?:" + re.escape(n) + ")+", r, s)),
        (lambda n: q.Word("ab" + E), lambda n, s, r: re.sub("[ab" + E + "]+", r, s)),
        (lambda n: q.Word("ab"), lambda n, s, r: re.sub("[ab]+", r, s)),
    ]
    for _ in range(150):
        text = "".join(rng.choice(ALPHABET) for _ in range(rng.randint(2, 80)))
        needle = rng.choice(NEEDLES)
        replacement = rng.choice(REPLACEMENTS)
        for make, model in routes:
            g = make(needle)
            expected = model(needle, text, replacement)
            for s in (fresh(text), utf8_made(fresh(text))):
                result = g.transform_string(s, replacement)
                assert result == expected, (g, text, replacement)
                assert sys.getsizeof(result) == sys.getsizeof(expected), (g, text, replacement)
                assert result.isascii() == expected.isascii() and hash(result) == hash(expected)


@pytest.mark.parametrize("text, needle, replacement, expected", [
    ("a\u20acb\u20ac", "\u20ac", "x", "axbx"),                    # every 2-byte character replaced: ASCII result
    ("\U0001f600" + E + "\U0001f600", "\U0001f600", "-", "-" + E + "-"),  # 4-byte ones replaced: latin-1
    ("\U0001f600ab\u20ac", "\U0001f600", "\u20ac", "\u20acab\u20ac"),  # a 2-byte replacement: 2-byte result
    (E + "ab" + E, E, "", "ab"),                                    # down to ASCII, shorter than the text
    ("ab" + E * 40, "ab", "\U0001f600", "\U0001f600" + E * 40),    # an ASCII gap kept, a wider replacement
])
def test_transform_result_kind_follows_what_is_left(text, needle, replacement, expected):
    for g in (q.Literal(needle), q.Group(q.Literal(needle))):
        for s in (fresh(text), utf8_made(fresh(text))):
            result = call_checked(g.transform_string, s, replacement)
            assert result == expected
            assert sys.getsizeof(result) == sys.getsizeof(fresh(expected))
            assert result.isascii() == expected.isascii()


@pytest.mark.parametrize("chars, text, replacement", [
    ("ab" + E, "a" + E + " b\u20ac " + E, "\u00fc"),        # a 2-byte text: its widest characters are kept
    ("ab" + E, "a" + E + " b" + E, "\u00fc"),                # latin-1, every non-ASCII character replaced
    ("ab" + E, "a" + E + " b" + E, "x"),                     # the same with an ASCII replacement: down to ASCII
    ("ab", "ab\U0001f600b x", "\u20ac"),                     # a 4-byte text, a 2-byte replacement
    ("ab", "ab\U0001f600b x", "\U0001f601"),
    ("ab", E + "ab" * 20 + E, "12345678"),                   # a replacement of 8 characters
    ("ab", E + "ab" * 20 + E, "123456789"),                  # and of 9
    ("".join(map(chr, range(256))), "ab\u0100" + E + "\x00z\u0101", "-"),  # every code point below 256 a member
])
def test_word_transform_over_units_agrees_with_re_sub(chars, text, replacement):
    import re

    expected = re.sub("[" + re.escape(chars) + "]+", lambda m: replacement, text)
    g = q.Word(chars)
    for s in (fresh(text), utf8_made(fresh(text))):
        result = call_checked(g.transform_string, s, replacement)
        assert result == expected
        assert sys.getsizeof(result) == sys.getsizeof(fresh(expected)) and result.isascii() == expected.isascii()
