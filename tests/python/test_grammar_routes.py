"""The faster routes of grammars beside their plain routes. The scans of And and the combinator counts skip
positions that cannot start a match (what the first children's matches begin with, and the rest of a leading
Word's run once the children after it failed at its end); each case runs them beside the plain scan, which tries
every position (conftest.plain_route). And's search is compared with the slice walk at each match the plain scan
finds. parse_string runs on the engine's parse path, compared with the batch routine, which still runs the
elements' parse, and with the tokens and errors written out."""
import random

import pytest

import quillex as q
from conftest import call_checked, plain_matches, plain_route


def plain_count(g, s):
    return plain_route(g).search_string_count(s)


def check_and(g, s):
    """Every scan method of the And g against the plain routes on s (g looks at nothing before its position)."""
    matches = plain_matches(g, s)
    expected = [token for start, _ in matches for token in g.parse_string(s[start:])]
    found = call_checked(g.search_string, s)
    assert found == expected
    assert len({id(t) for t in found}) == len(set(found))  # equal texts are one str
    assert call_checked(g.search_string_count, s) == plain_count(g, s)
    for replacement in ("<>", "", "é€"):
        result = call_checked(g.transform_string, s, replacement)
        assert result == plain_route(g).transform_string(s, replacement)


CONFIG = q.Word(q.alphas()) + q.Literal("=") + q.Regex("[^\n]*")
E, A_TILDE, EURO = "é", "ã", "€"

SKIP_EDGES = {
    # The config grammar: runs that fail at '=' and runs that match, values at the end, before \r\n, empty.
    "config": (CONFIG, "# some words here\nkey=value\r\nx=\nname = spaced\n[sect ion]\nlast=end"),
    "config at the end": (CONFIG, "abc=def"),
    "config runs only": (CONFIG, "abc def ghi\njkl"),
    "config non-ASCII": (CONFIG, f"cl{E}=v{E}\nk{EURO}=1\n{E}a=2\nab{A_TILDE}=x\n=bare\n"),
    # A body set without the initial set: the later start 'a' of 'aab' ends elsewhere.
    "body lacks init": (q.Word("a", "b") + q.Literal("="), "aab= abb= ba= abab="),
    "body adds to init": (q.Word("b", "ab") + q.Literal("="), "bab= aab= bbbx="),
    "wide members": (q.Word("a" + E, "a" + E + A_TILDE) + q.Literal("="),
                     f"{E}a{A_TILDE}= {A_TILDE}a= a{E}{E}x {E}="),
    "Word then LineEnd": (q.Word(q.alphas()) + q.LineEnd(), "abc def\nghi\r\njkl"),
    "Word then Word": (q.Word(q.alphas()) + q.Word(q.nums()), "abc1 de fg23 h"),
    "Word then Optional": (q.Word(q.alphas()) + q.Optional(q.Literal("!")), "ab! cd"),
    # First children that can match empty, or whose bytes say nothing: no skip at all.
    "Optional first": (q.Optional(q.Word(q.alphas())) + q.Literal("="), "ab=cd =x ab"),
    "ZeroOrMore first": (q.ZeroOrMore(q.Literal("a")) + q.Literal("b"), "aab b xab aa"),
    "Empty first": (q.Empty() + q.Word(q.nums()), "a1 22 b"),
    "Regex first": (q.Regex("[a-z]*") + q.Literal("="), "ab= =c d"),
    "Regex run first": (q.Regex("[0-9]+") + q.Literal(";"), "12; 3 ;4;x5;"),
    "Regex star run first": (q.Regex("[0-9]*") + q.Literal(";"), "12; 3 ;;4x;"),
    "Regex run over characters": (q.Regex("[^ =]+") + q.Literal("="), f"a{E}b c{EURO}= {A_TILDE}{E}x =y="),
    "Regex choice first": (q.Regex(f"{E}|b") + q.Literal(";"), f"{E}; {A_TILDE}; b;"),
    "rest_of_line first": (q.rest_of_line() + q.LineEnd(), "ab\ncd\n\n"),
    # First children with narrow bytes.
    "Literal first": (q.Literal("k") + q.Word(q.nums()), "k1 kk22 xk3"),
    "Keyword first": (q.Keyword("if") + q.Word(" ") + q.Word(q.alphas()), "if x iffy y if z"),
    "caseless first": (q.CaselessLiteral("ab") + q.Literal("!"), "AB! aB! ab ba!"),
    "choice first": ((q.Literal("x") | q.Word(q.nums())) + q.Literal(";"), "x; 12; y; 3x;"),
    "Char first": (q.Char("a" + E) + q.Literal("!"), f"a! {E}! {A_TILDE}! b!"),
    "non-ASCII literal first": (q.Literal(E) + q.Word(q.nums()), f"{A_TILDE}1{E}2 {E}{E}3"),
    "LineEnd first": (q.LineEnd() + q.Literal("x"), "a\nx\n\nx"),
    "quoted first": (q.QuotedString('"') + q.Literal(";"), '"a"; "b" ;"c";'),
    "OneOrMore first": (q.OneOrMore(q.Literal("ab")) + q.Literal("!"), "abab! ab ab!"),
    "Group of Word first": (q.Group(q.Word(q.alphas())) + q.Literal("="), "ab cd=e"),
}


@pytest.mark.parametrize("name", list(SKIP_EDGES))
def test_and_scans_agree_with_the_plain_routes(name):
    g, text = SKIP_EDGES[name]
    for s in (text, text * 3, "", text[:1], text + "\n"):
        check_and(g, s)


def test_and_scans_over_generated_texts():
    rng = random.Random(3)
    alphabet = ["a", "b", "Z", "=", " ", "\n", "\r", "1", E, A_TILDE, EURO, "!"]
    grammars = [g for g, _ in SKIP_EDGES.values()]
    for _ in range(300):
        s = "".join(rng.choice(alphabet) for _ in range(rng.randint(0, 40)))
        check_and(rng.choice(grammars), s)


def test_and_search_with_a_forward_first_child():
    f = q.Forward()
    f <<= q.Literal("(") + q.ZeroOrMore(f | q.Word(q.nums())) + q.Literal(")")
    try:
        check_and(f + q.Literal(";"), "(1(2)); (3; ((4)5);")
        check_and(q.Optional(f) + q.Literal(";"), "(1); ;(x;")
    finally:
        f <<= q.Empty()


# ---------------------------------------------------------------------------------------------------------------
# The counts of the other combinators skip bytes that cannot start a match, through Forwards too.

def paren_grammar():
    f = q.Forward()
    f <<= q.Literal("(") + q.ZeroOrMore(f | q.Word(q.nums()) | q.Literal("+")) + q.Literal(")")
    return f


def descent(s, i, out=None):
    """The nested-parentheses grammar at s[i] == '(' written out (ASCII texts): the end of its match, or -1; the
    tokens are appended to `out` when one is given."""
    if out is not None:
        out.append("(")
    i += 1
    while i < len(s):
        c = s[i]
        if c == "(":
            i = descent(s, i, out)
            if i < 0:
                return -1
        elif c.isdigit():
            j = i
            while j < len(s) and s[j].isdigit():
                j += 1
            if out is not None:
                out.append(s[i:j])
            i = j
        elif c == "+":
            if out is not None:
                out.append("+")
            i += 1
        else:
            break
    if i < len(s) and s[i] == ")":
        if out is not None:
            out.append(")")
        return i + 1
    return -1


def descent_count(s):
    count, pos = 0, 0
    while pos < len(s):
        end = descent(s, pos) if s[pos] == "(" else -1
        count, pos = (count + 1, end) if end > 0 else (count, pos + 1)
    return count


def test_forward_count_over_generated_texts():
    f = paren_grammar()
    rng = random.Random(5)
    try:
        for _ in range(300):
            s = "".join(rng.choice("((()))1+ x") for _ in range(rng.randint(0, 30)))
            assert call_checked(f.search_string_count, s) == descent_count(s) == plain_count(f, s), s
    finally:
        f <<= q.Empty()


COUNT_EDGES = {
    "MatchFirst of literals": (q.one_of("ab cd e"), f"abcde {E}e ab"),
    "Exactly": (q.Exactly(q.Literal("ab"), 2), "ababab abab"),
    "OneOrMore": (q.OneOrMore(q.Word(q.nums())), "12 3 x4"),
    "Group of a non-ASCII Char": (q.Group(q.Char(E + EURO)), f"{A_TILDE}{E}x{EURO}"),
    "Suppress": (q.Suppress(q.Literal(E)), f"{A_TILDE}{E}{E}"),
    "Combine": (q.Combine(q.Literal("a") + q.Word(q.nums())), "a1 aa22 b3"),
    "unset Forward": (q.Forward(), "abc"),
    "MatchFirst with Empty": (q.MatchFirst([q.Literal("a"), q.Empty()]), "bab"),
    "StringEnd": (q.Group(q.StringEnd()), "abc"),
    "LineEnd": (q.Group(q.LineEnd()), "a\n\nb"),
}


@pytest.mark.parametrize("name", list(COUNT_EDGES))
def test_combinator_counts_agree_with_the_plain_scan(name):
    g, text = COUNT_EDGES[name]
    for s in (text, text * 2, "", text[-1:]):
        assert call_checked(g.search_string_count, s) == plain_count(g, s)


def test_skipped_positions_keep_recursion_errors():
    """Left recursion and nesting deeper than the stack allows still raise from the scans."""
    left = q.Forward()
    left <<= left + q.Literal("a")
    deep = paren_grammar()
    try:
        for g, s in [(left + q.Literal("b"), "xab"), (q.Literal("x") | left, "yx"),
                     (deep, "x" + "(" * 300000), (deep + q.Literal(";"), "x" + "(" * 300000),
                     (q.Word("x") + deep, "x" + "(" * 300000)]:
            for method in ("search_string", "search_string_count"):
                with pytest.raises(RecursionError, match="^maximum grammar recursion depth exceeded$"):
                    getattr(g, method)(s)
            with pytest.raises(RecursionError, match="^maximum grammar recursion depth exceeded$"):
                g.transform_string(s, "-")
        assert deep.search_string_count("(1)" + "(" * 10 + ")" * 10) == 2
    finally:
        left <<= q.Empty()
        deep <<= q.Empty()


# ---------------------------------------------------------------------------------------------------------------
# parse_string runs on the engine's own parse path; the batch routine still runs the elements' parse.

def descent_tokens(s):
    """The tokens of the nested-parentheses grammar at 0, or None when it does not match."""
    out = []
    return out if s.startswith("(") and descent(s, 0, out) > 0 else None


def test_recursive_parse_string_agrees_with_the_plain_parse():
    f = paren_grammar()
    rng = random.Random(11)
    try:
        for _ in range(400):
            s = "".join(rng.choice("((()))12+ x") for _ in range(rng.randint(0, 30)))
            expected = descent_tokens(s)
            plain = q.Group(f).parse_batch([s])[0]
            if expected is None:
                with pytest.raises(ValueError, match="^ParseException at position [0-9]+: Expected '[()]'$"):
                    call_checked(f.parse_string, s)
                assert plain == []
            else:
                assert call_checked(f.parse_string, s) == expected == plain
                assert call_checked(q.MatchFirst([q.Literal("x"), f]).parse_string, s) == expected
    finally:
        f <<= q.Empty()


P = "ParseException at position "
PARSE_FAILURES = {
    # grammar, text, the error of parse_string
    "an And's second child": (q.Group(q.Literal("a") + q.Literal("b")), "ac", P + "1: Expected 'b'"),
    "the last alternative": (q.Group(q.Literal("a") | q.Word(q.nums())), "x", P + "0: Expected W:(01234567...)"),
    "no alternatives": (q.Group(q.MatchFirst([])), "x", P + "0: No match found"),
    "OneOrMore": (q.OneOrMore(q.Literal("a")), "b", P + "0: Expected at least one match"),
    "Exactly without progress": (q.Exactly(q.Optional(q.Literal("a")), 2), "ab", P + "1: No progress in Exactly"),
    "Exactly's child": (q.Exactly(q.Literal("a"), 3), "aab", P + "2: Expected 'a'"),
    "Combine's child": (q.Combine(q.Literal("a") + q.Literal("é")), "é!ab", P + "0: Expected 'a'"),
    "Combine's second child": (q.Combine(q.Literal("é") + q.Literal("b")), "éc", P + "2: Expected 'b'"),
    "SkipTo": (q.SkipTo(q.Literal("z")), "abc", P + "0: SkipTo: target not found"),
    "an unset Forward": (q.Group(q.Literal("x") + q.Forward()), "xy", P + "1: Forward not initialized"),
    "NoMatch": (q.NoMatch(), "", P + "0: NoMatch will never match"),
    "LineEnd": (q.Group(q.Literal("a") + q.LineEnd()), "ab", P + "1: Expected end of line"),
    "Suppress": (q.Group(q.Suppress(q.Literal("a"))), "b", P + "0: Suppress: no match"),
    "CaselessKeyword": (q.CaselessKeyword("if"), "iffy", P + "0: Expected keyword 'if' (caseless)"),
}


@pytest.mark.parametrize("name", list(PARSE_FAILURES))
def test_parse_string_failures_name_the_failing_element(name):
    g, text, message = PARSE_FAILURES[name]
    with pytest.raises(ValueError) as info:
        call_checked(g.parse_string, text)
    assert str(info.value) == message


def test_parse_string_tokens_of_every_kind():
    g = q.Group(q.CaselessLiteral("Ab") + q.Keyword("if") + q.Optional(q.LineEnd())
                + q.Combine(q.Word("x") + q.Char("é")) + q.Suppress(q.Literal(";")) + q.ZeroOrMore(q.Literal("-"))
                + q.QuotedString("'") + q.rest_of_line() + q.LineEnd() + q.SkipTo(q.StringEnd()) + q.LineEnd())
    text = "aBif\nxxé;--'q'rest\nend"
    expected = ["Ab", "if", "\n", "xxé", "-", "-", "q", "rest", "\n", "end", "\n"]
    assert call_checked(g.parse_string, text) == expected == g.parse_batch([text])[0]
