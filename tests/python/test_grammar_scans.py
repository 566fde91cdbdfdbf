"""The scans of every class (search_string, search_string_count, transform_string) beside the plain scan, which
tries the grammar at every position (conftest.plain_route). Grammars are generated over every class, Forwards
that recurse included, and run over generated texts with multi-byte characters; And's search is compared slice
by slice with the plain matches."""
import random

import pytest

import quillex as q
from conftest import call_checked, plain_matches, plain_route

E, A_TILDE, EURO = "é", "ã", "€"
RECURSION = "^maximum grammar recursion depth exceeded$"


# The terminals whose methods have scans of their own, with their own results (match lists for Literal and
# Keyword, the unanchored expression's iteration for Regex), tested beside the common routines elsewhere; here
# they are scanned through a Group.
OWN_SCANS = (q.Literal, q.Keyword, q.Word, q.Regex)


def and_tokens(g, s):
    """And's search tokens written out: at each match of the plain scan, the slices its parse_string cuts. A
    match at `start` is parsed in the text from one character before it, behind a Regex that takes that
    character: the children see the text from there on as they do in the whole text (LineStart looks one
    character back, nothing looks further)."""
    out = []
    for start, _ in plain_matches(g, s):
        if start == 0:
            out += g.parse_string(s)
        else:
            out += (q.Regex("(?s).") + g).parse_string(s[start - 1:])[1:]
    return out


def check_scans(g, s):
    """Every scan method of g against the plain route on s."""
    p = plain_route(g)
    assert call_checked(g.search_string_count, s) == p.search_string_count(s)
    for replacement in ("<>", "", E + EURO):
        assert call_checked(g.transform_string, s, replacement) == p.transform_string(s, replacement)
    found = call_checked(g.search_string, s)
    assert found == (and_tokens(g, s) if isinstance(g, q.And) else p.search_string(s))
    assert len({id(t) for t in found}) == len(set(found))  # equal texts are one str


class Maker:
    """Generated grammars over every class; `forwards` are reset when done, so that cycles are freed."""

    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.forwards = []
        self.atoms = [
            lambda: q.Literal("a"), lambda: q.Literal("ab"), lambda: q.Literal(E), lambda: q.Literal("\n"),
            lambda: q.Literal(""), lambda: q.Keyword("ab"), lambda: q.Keyword("def"), lambda: q.CaselessLiteral("A"),
            lambda: q.CaselessKeyword("b"), lambda: q.Char("a" + E), lambda: q.Word("a" + E, "b"),
            lambda: q.Word(q.alphas()), lambda: q.Regex("a+"), lambda: q.Regex("[^\n]*"), lambda: q.Regex("b|" + E),
            lambda: q.Regex("x?"), lambda: q.QuotedString("'", esc_char="\\"), lambda: q.QuotedString('"', '"'),
            lambda: q.QuotedString(EURO), lambda: q.LineStart(), lambda: q.LineEnd(), lambda: q.StringStart(),
            lambda: q.StringEnd(), lambda: q.rest_of_line(), lambda: q.Empty(), lambda: q.NoMatch(),
            lambda: q.Forward(), lambda: q.one_of("ab a " + E + " de"), lambda: q.one_of("GPL LGPL MIT"),
        ]

    def atom(self):
        return self.rng.choice(self.atoms)()

    def grammar(self, depth):
        r = self.rng
        if depth == 0 or r.random() < 0.25:
            return self.atom()
        sub = lambda: self.grammar(depth - 1)
        kind = r.randrange(12)
        if kind < 2:
            g = sub()
            for _ in range(1 + kind):
                g = g + sub()
            return g
        if kind < 4:
            return q.MatchFirst([sub() for _ in range(kind)])
        makers = [q.Optional, q.ZeroOrMore, q.OneOrMore, lambda x: q.Exactly(x, r.randrange(3)), q.Group,
                  q.Suppress, q.Combine, q.SkipTo]
        if kind < 11:
            return r.choice(makers)(sub())
        f = q.Forward()
        self.forwards.append(f)
        body = sub()
        choice = r.randrange(3)
        if choice == 0:
            f <<= body
        elif choice == 1:
            f <<= q.MatchFirst([q.Literal("(") + q.Optional(f) + q.Literal(")"), body])
        else:
            f <<= q.MatchFirst([body, f]) + q.Literal("a")
        return f

    def text(self, max_chars):
        alphabet = ["a", "b", "A", "d", "e", "f", "'", '"', "\\", "\n", " ", "(", ")", "x", "G", "P", "L",
                    E, A_TILDE, EURO]
        return "".join(self.rng.choice(alphabet) for _ in range(self.rng.randint(0, max_chars)))

    def close(self):
        for f in self.forwards:
            f <<= q.Empty()


def test_generated_grammars_scan_as_the_plain_route():
    maker = Maker(29)
    try:
        for _ in range(300):
            g = maker.grammar(3)
            for _ in range(4):
                s = maker.text(24)
                try:
                    g.search_string_count(s)
                except RecursionError:
                    for method in (g.search_string, g.search_string_count, plain_route(g).search_string_count):
                        with pytest.raises(RecursionError, match=RECURSION):
                            method(s)
                    continue
                if not isinstance(g, OWN_SCANS):
                    check_scans(g, s)
                check_scans(q.Group(g), s)
    finally:
        maker.close()


# Grammars of the kinds the scans treat apart, over texts built to exercise them.
CASES = {
    "one_of": (q.one_of("LGPL GPL MIT BSD Apache"), "GNU GPL, LGPL-2.1, MITx BSD; Apache-2.0 GP é GPL"),
    "one_of of single bytes": (q.one_of("a b é"), "xaéby ã"),
    "Keyword + Literal + Word": (q.Keyword("def") + q.Literal(" ") + q.Word(q.alphas() + "_"),
                                 "def f(): define x; def  g; undef h def é def_k def k"),
    "comment": (q.Combine(q.Literal("#") + q.rest_of_line()), "x = 1  # one\n#\n## two é\nno # three"),
    "decimal": (q.Combine(q.Word(q.nums()) + q.Literal(".") + q.Word(q.nums())), "1.5 2. .3 44.55.6 é7.8"),
    "LineStart-led": (q.LineStart() + q.Literal(".") + q.Word(q.alphas()), ".TH x\n.SH y\n x.y\n\n.z\r\n.é"),
    "LineStart after Empty": (q.Empty() + q.LineStart() + q.Word("ab"), "ab\nba\n\nxab\n"),
    "StringStart-led": (q.StringStart() + q.Literal("ab"), "abab"),
    "field": (q.Word(q.alphas() + "-") + q.Literal(": ") + q.Regex("[^\n]*"), "Package: x\nDepends: a, b\n a: b\n"),
    "Optional-led": (q.Optional(q.Literal("-")) + q.Word(q.nums()), "1 -2 --3 - 4 x5"),
    "ZeroOrMore-led": (q.ZeroOrMore(q.Literal("ab")) + q.Literal("c"), "ababc abc c ac abab"),
    "SkipTo-led": (q.SkipTo(q.Literal(";")) + q.Literal(";;"), "a;b;;c;d;;"),
    "SkipTo-led, non-ASCII": (q.SkipTo(q.Char(";" + E)) + q.Word(E), f"a{E}b;{A_TILDE}{E}{E}x"),
    "SkipTo of a one_of": (q.SkipTo(q.one_of("ab cd")) + q.Literal("c"), "xxcd abc cd"),
    "QuotedString": (q.QuotedString("'", esc_char="\\"), "a 'b' 'c\\'d' 'e\nf' '\\\\' 'é'"),
    "QuotedString doubled": (q.QuotedString('"', '"'), 'a "b""c" "" """ "x'),
    "QuotedString multi-byte quote": (q.QuotedString(EURO), f"{EURO}a{EURO} {EURO}{EURO} b"),
    "Optional": (q.Optional(q.Literal("ab")), "abxab"),
    "ZeroOrMore": (q.ZeroOrMore(q.Char("a" + E)), f"aa{E}b{A_TILDE}a"),
    "Suppress": (q.Suppress(q.Literal(E)), f"{A_TILDE}{E}{E}"),
    "LineEnd between texts": (q.Literal("a") + q.LineEnd() + q.Literal("b"), "a\nb a\nc a"),
    "StringEnd": (q.Literal("a") + q.StringEnd(), "aa"),
    "texts longer than kept": (q.Literal("0123456789abcdefgh") + q.Literal("ij"),
                               "0123456789abcdefghij 0123456789abcdefghix"),
}


@pytest.mark.parametrize("name", list(CASES))
def test_kinds_scan_as_the_plain_route(name):
    g, text = CASES[name]
    for s in (text, text * 3, "", text[:1], text + "\n", "é" + text):
        check_scans(g, s)


def test_forward_scans_as_the_plain_route():
    f = q.Forward()
    f <<= q.Combine(q.Literal("(") + q.ZeroOrMore(q.Regex("[^()]+") | f) + q.Literal(")"))
    try:
        for s in ("f(a, (b)) + (c", "((()))(", "é(ã)(", ")(" * 5):
            check_scans(f, s)
            check_scans(f + q.Literal(";"), s + ";")
    finally:
        f <<= q.Empty()


def test_recursion_errors_stay():
    left = q.Forward()
    left <<= left + q.Literal("a")
    parens = q.Forward()
    parens <<= q.Literal("(") + q.Optional(parens) + q.Literal(")")
    deep = "x()" + "(" * 300000
    try:
        for g, s in [(left + q.Literal("b"), "xab"), (q.Literal("x") | left, "yx"), (q.Group(left), "a"),
                     (q.Optional(left), "a"), (parens, deep), (q.Combine(parens), deep), (q.Optional(parens), deep),
                     (q.SkipTo(parens), deep), (q.Word("x") + parens, deep[:3] + "x" + deep[3:])]:
            for method in ("search_string", "search_string_count"):
                with pytest.raises(RecursionError, match=RECURSION):
                    getattr(g, method)(s)
            with pytest.raises(RecursionError, match=RECURSION):
                g.transform_string(s, "-")
        assert parens.search_string_count("(" * 10 + ")" * 10 + "()") == 2
    finally:
        left <<= q.Empty()
        parens <<= q.Empty()


def test_quoted_strings_over_unclosed_runs():
    """Each opening that gives up settles the openings before where it gave up, so these scans read the text
    once; the results are the count's and a copy of the text."""
    n = 1 << 20
    for g, s in [(q.QuotedString('"', esc_char="\\"), '"' + '\\"' * n), (q.QuotedString('"', '"'), '"' * n),
                 (q.QuotedString('"', esc_char="\\"), ('"\\"\\"\\"\n' * (n // 8)) + '"x"')]:
        closed = g.search_string_count(s)
        found = g.search_string(s)
        assert len(found) == closed
        assert g.transform_string(s, "") == (s.replace(found[0], "") if found else s)


def test_dense_transforms_past_the_kept_spans():
    """A transform keeps the spans of its sizing scan to write the result without a second scan, up to a bound
    (about one span per 16 bytes of text, 65,536 at least); past it the writing scan starts again after the
    last span kept. 400,000 matches go past it."""
    s = "ab é" * 400_000
    for g, replaced in [(q.Char("a"), "a"), (q.Optional(q.Literal("a")), "a"), (q.Word("a") + q.Literal("b"), "ab"),
                        (q.SkipTo(q.Literal("é")), "ab "), (q.Group(q.one_of("ab b")), "ab")]:
        assert call_checked(g.transform_string, s, "<>") == s.replace(replaced, "<>")
        assert g.transform_string(s + "x", "") == s.replace(replaced, "") + "x"
