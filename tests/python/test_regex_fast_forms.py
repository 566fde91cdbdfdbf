"""Regex's fast forms (class runs scanned as bytes, plain sequences walked over the bytes, patterns with
alternations, groups and counts walked by their automaton, positions refused by their first byte) against RE2
itself.

The plain route is the same pattern behind an alternative that can never match, `\\b\\B` (a position cannot be
a word boundary and not be one): RE2 gives exactly the same matches, while the pattern's reading must take
that alternative as possibly empty, so every test of the wrapped pattern goes to RE2 (the element tests check
that the wrapped form has no fast form). Every method, and the element inside the common routines, a sequence,
a repetition and a choice, is compared on generated patterns and texts and on a table of the edges that break
scans."""

import os
import re
import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, settings, strategies as st

import quillex as q
from conftest import call_checked

E = "\u00e9"  # two bytes
EURO = "\u20ac"  # three bytes
SMILE = "\U0001f600"  # four bytes
KELVIN = "\u212a"  # folds with 'k'

SETTINGS = settings(max_examples=300, deadline=None)


def plain(pattern):
    return q.Regex(r"(?:\b\B|" + pattern + ")")


def suffixes(s):
    return [s[i:] for i in range(len(s) + 1)]


def check_agrees(pattern, s):
    fast, slow = q.Regex(pattern), plain(pattern)
    assert call_checked(fast.search_string_count, s) == slow.search_string_count(s)
    assert call_checked(fast.search_string, s) == slow.search_string(s)
    assert call_checked(fast.transform_string, s, "<>") == slow.transform_string(s, "<>")
    assert call_checked(fast.transform_string, s, "") == slow.transform_string(s, "")
    assert call_checked(fast.matches, s) is slow.matches(s)
    if slow.matches(s):
        assert call_checked(fast.parse_string, s) == slow.parse_string(s)
    items = suffixes(s)
    assert call_checked(fast.parse_batch, items) == slow.parse_batch(items)
    assert call_checked(fast.parse_batch_count, items) == slow.parse_batch_count(items)
    # The element's test at every position, through the common routines' scan and after a sequence's head.
    g, h = q.Group(fast), q.Group(slow)
    assert g.search_string(s) == h.search_string(s)
    assert g.transform_string(s, "#") == h.transform_string(s, "#")
    a, b = q.Word(q.alphas()) + q.Literal("=") + fast, q.Word(q.alphas()) + q.Literal("=") + slow
    assert a.search_string(s) == b.search_string(s)
    assert a.search_string_count(s) == b.search_string_count(s)
    # Repeated, and as the later alternative of a choice.
    for wrap in (q.ZeroOrMore, lambda r: q.Literal("k") | r):
        assert wrap(fast).search_string(s) == wrap(slow).search_string(s)


# ---------------------------------------------------------------------------------------------------------------
# Generated patterns and texts.

CLASSES = ["[0-9]", r"\d", r"\w", r"\s", r"\S", "[a-z]", "[^a]", r"[^\n]", ".", "a", "=", "[a=]", "[^a-z0-9]",
           "[[:punct:]]", f"[{E}0-9]", f"[^{E}]", E, EURO, r"\pL", r"\C", "(?i)k", "(?i)[a-c]", r"\x{20AC}"]
OPS = ["", "+", "*", "?", "{2}", "{1,3}", "+?", "*?"]
NOTHING = ["", "", "", "", "(?s)", r"\Q\E"]  # between an item and its operator: adds nothing
ASSERTIONS = ["", "", "^", "$", r"\b", r"\B", "(?m)^", "(?m)$"]


@st.composite
def patterns(draw):
    pieces = []
    for _ in range(draw(st.integers(1, 3))):
        piece = draw(st.sampled_from(CLASSES)) + draw(st.sampled_from(OPS))
        between = draw(st.sampled_from(NOTHING))
        if between:
            piece += between + draw(st.sampled_from(OPS))
        if draw(st.integers(0, 4)) == 0:
            piece = f"(?:{piece}|{draw(st.sampled_from(CLASSES))})" + draw(st.sampled_from(OPS))
        pieces.append(draw(st.sampled_from(ASSERTIONS)) + piece)
    pattern = "".join(pieces)
    if draw(st.integers(0, 5)) == 0:
        pattern = draw(st.sampled_from(CLASSES)) + "|" + pattern
    return pattern


TEXT_CHARS = ["a", "b", "z", "K", "k", "0", "7", " ", "=", "!", "\n", "\r", "\t", E, EURO, SMILE, KELVIN]
texts = st.lists(st.sampled_from(TEXT_CHARS), max_size=90).map("".join)


def compiles(pattern):
    try:
        q.Regex(pattern)
    except ValueError:
        return False
    return True


@SETTINGS
@given(patterns().filter(compiles), texts)
def test_generated_patterns_agree_with_re2(pattern, s):
    check_agrees(pattern, s)


# The class runs alone, over long texts: runs and gaps across the vector blocks and the counters' flushes.
RUNS = ["[0-9]+", "[0-9]*", r"\w+", r"\s*", r"[^\n]*", r"[^\n]+", ".*", "a+", "x*", r"\S+", "[^a-z]+",
        "[ab=!07]+", "[[:punct:]]*"]


@settings(max_examples=60, deadline=None)
@given(st.sampled_from(RUNS), st.lists(st.tuples(st.sampled_from(TEXT_CHARS), st.integers(1, 40)), max_size=40))
def test_class_runs_over_long_texts_agree_with_re2(pattern, runs):
    check_agrees(pattern, "".join(c * k for c, k in runs))


# Plain sequences: literal characters and classes with greedy counts. Most items are disjoint from one another,
# so that many generated patterns are walked; the others (a count followed by bytes of its own class) go to RE2,
# and must agree all the same.
SEQ_ATOMS = ["a", "b", "=", '"', "-", "0", E, EURO, SMILE, r"\d", "[a-z]", '[^"\n]', "[^a]", ".", r"[^\x00-\x7F]",
             r"\x{20AC}", r"\.", "[=-]", r"\s", "(?:ab)", "(a)"]
SEQ_OPS = ["", "", "", "*", "+", "?", "{2}", "{1,3}", "{0,2}", "{2,}", "{0}"]


@st.composite
def sequences(draw):
    pieces = []
    for _ in range(draw(st.integers(1, 4))):
        atom = draw(st.sampled_from(SEQ_ATOMS))
        pieces.append(atom + ("" if atom.startswith("(") else draw(st.sampled_from(SEQ_OPS))))
    return "".join(pieces)


SEQ_TEXT_CHARS = ["a", "a", "b", "z", "=", '"', "-", "0", "7", " ", "\n", ".", E, EURO, SMILE]
seq_texts = st.lists(st.sampled_from(SEQ_TEXT_CHARS), max_size=90).map("".join)


@SETTINGS
@given(sequences().filter(compiles), seq_texts)
def test_generated_sequences_agree_with_re2(pattern, s):
    check_agrees(pattern, s)


# Long texts of repeated pieces (matches packed together, long runs that fail, candidates across the vector
# blocks), for the searches' candidate scans and the hand-over to RE2 after walks that fail far past their start.
@settings(max_examples=40, deadline=None)
@given(st.sampled_from(["end", '"[^"\n]*"', r"\d{4}-\d\d-\d\d", r"[a-z]=\d+", r"[a-z]+=\d+", r"[a=]\d+-",
                        r"\d\d+-", "aab", r"[^\x00-\x7F]{2}a", r"[^=\n]+=\d", r"\w+@[a-z]"]),
       st.lists(st.tuples(st.sampled_from(["a", "ab", "aab", "end", "1", "12-", "2024-01-05", "x=42", "ab=", "a@b",
                                           '"q"', '"', "\n", E, EURO + "a"]),
                          st.sampled_from([1, 1, 2, 3, 40, 700])), max_size=12))
def test_sequences_over_long_texts_agree_with_re2(pattern, pieces):
    check_agrees(pattern, "".join(piece * k for piece, k in pieces))


# Trees of characters, classes, groups, alternations and counts, greedy and lazy: walked by the pattern's
# automaton where it has one (most have), else by RE2; both must agree with RE2 on every method.
TREE_ATOMS = ["a", "b", "=", '"', r"\\", "1", E, EURO, SMILE, r"\d", "[ab]", r'[^"\\]', ".", r"[^\x00-\x7F]", "ab",
              r"\.", "", "(?:)"]
TREE_OPS = ["", "", "", "*", "+", "?", "{2}", "{0,2}", "{2,}", "*?", "+?", "??", "{0}"]


# A group that may match empty takes no repeating count: RE2 answers such loops differently once the pattern is
# wrapped in the plain route's alternation ('(?:aa+|(?:b*|a)*)+' matches '' of "a" alone and "a" wrapped), so
# the plain route would not be the same expression. The automaton refuses those patterns; RE2 runs them.
EMPTY_ATOMS = {"", "(?:)"}
EMPTY_OPS = {"*", "?", "{0,2}", "*?", "??", "{0}"}
NON_REPEATING_OPS = ["", "", "", "?", "??", "{0}"]


@st.composite
def tree_parts(draw, depth=0):
    """A tree's text and whether it may match empty."""
    kind = draw(st.integers(0, 4)) if depth < 3 else 0
    if kind <= 1:
        atom, op = draw(st.sampled_from(TREE_ATOMS)), draw(st.sampled_from(TREE_OPS))
        return atom + op, atom in EMPTY_ATOMS or op in EMPTY_OPS
    if kind == 2:
        (a, a_empty), (b, b_empty) = draw(tree_parts(depth + 1)), draw(tree_parts(depth + 1))
        return a + b, a_empty and b_empty
    branches = [draw(tree_parts(depth + 1)) for _ in range(draw(st.integers(1, 3)))]
    empty = any(branch_empty for _text, branch_empty in branches)
    op = draw(st.sampled_from(NON_REPEATING_OPS if empty else TREE_OPS))
    text = draw(st.sampled_from(["(?:", "("])) + "|".join(text for text, _empty in branches) + ")" + op
    return text, empty or op in EMPTY_OPS


def trees():
    return tree_parts().map(lambda part: part[0])


TREE_TEXT_CHARS = ["a", "a", "b", "=", '"', "\\", "1", "1", ".", " ", "\n", E, EURO, SMILE]
tree_texts = st.lists(st.sampled_from(TREE_TEXT_CHARS), max_size=90).map("".join)


@SETTINGS
@given(trees().filter(compiles), tree_texts)
def test_generated_trees_agree_with_re2(pattern, s):
    check_agrees(pattern, s)


# Token patterns as users write them, over texts of such tokens, near misses and long runs.
TOKEN_PATTERNS = [
    r'"(?:[^"\\]|\\.)*"', r'"([^"\\]|\\.)*"', r'"(?:[^"\\\x00-\x1f]|\\["\\/bfnrt]|\\u[0-9a-fA-F]{4})*"',
    r"-?\d+(\.\d+)?([eE][+-]?\d+)?", r"-?(?:0|[1-9]\d*)(?:\.\d+)?(?:[eE][+-]?\d+)?", r"[+-]?\d+", "true|false|null",
    r"\s*", r"[A-Za-z_]\w*(?:\.[A-Za-z_]\w*)*", r"\d{1,3}(?:\.\d{1,3}){3}", r"'(?:[^'\n]|'')*'",
]
TOKEN_PIECES = ['"a"', '"a\\"b"', '"\\u00e9x"', '"\\u12"', '"\\q"', '"' + E + EURO + '"', '"\x01"', '"', "\\",
                "0", "-0", "01", "1.5", "1.", "-", "1e5", "2E+10", "3e", "-4.25e-3", "true", "tru", "falsey", "null",
                "nul", " ", "\n", ",", ":", "[", "{", "a.b", "x_1.y2", "1.2.3.4", "1.2.3", "999.1.1.1.1", "'it''s'",
                "'a\nb'", E, SMILE]


@settings(max_examples=150, deadline=None)
@given(st.sampled_from(TOKEN_PATTERNS),
       st.lists(st.tuples(st.sampled_from(TOKEN_PIECES), st.sampled_from([1, 1, 1, 2, 40])), max_size=30))
def test_token_patterns_agree_with_re2(pattern, pieces):
    check_agrees(pattern, "".join(piece * k for piece, k in pieces))


def json_grammar(token):
    ws = q.Optional(q.Suppress(q.Word(" \t\r\n")))
    string = token(r'"(?:[^"\\\x00-\x1f]|\\["\\/bfnrt]|\\u[0-9a-fA-F]{4})*"')
    number = token(r"-?(?:0|[1-9][0-9]*)(?:\.[0-9]+)?(?:[eE][+-]?[0-9]+)?")
    value = q.Forward()
    comma = ws + q.Literal(",") + ws
    member = string + ws + q.Suppress(q.Literal(":")) + ws + value
    obj = q.Literal("{") + ws + q.Optional(member + q.ZeroOrMore(comma + member)) + ws + q.Literal("}")
    arr = q.Literal("[") + ws + q.Optional(value + q.ZeroOrMore(comma + value)) + ws + q.Literal("]")
    value <<= q.MatchFirst([obj, arr, string, number, token("true|false|null")])
    return value


@pytest.mark.parametrize("s", [
    '{"a": [1, -2.5e3, true, null], "b\\"c": {"d": "\\u00e9' + E + '"}}', '[0, 01, 1.]', '{"a" 1}', '["\\x"]',
    '[' + ", ".join(f'"{EURO * i}{i}"' for i in range(40)) + ']',
    '{"k": [' + "[" * 30 + "]" * 30 + '], "' + SMILE + '": 1e9}',
])
def test_a_grammar_of_regex_tokens_agrees_with_its_re2_tokens(s):
    fast, slow = json_grammar(q.Regex), json_grammar(plain)
    assert fast.matches(s) is slow.matches(s)
    assert fast.parse_batch([s, s[1:], s[:-1]]) == slow.parse_batch([s, s[1:], s[:-1]])
    assert fast.search_string(s) == slow.search_string(s)
    assert fast.transform_string(s, "#") == slow.transform_string(s, "#")


# ---------------------------------------------------------------------------------------------------------------
# A table of the edges that break scans.

def letters(n):
    return ("abcdefghij" * (n // 10 + 1))[:n]


BLOCK_EDGES = [letters(k) + "12" + letters(70 - k) for k in (0, 14, 15, 16, 30, 31, 32, 47, 62, 63, 64, 65)]
EDGE_TEXTS = [
    "", "1", "a", "12", "1a", "a1", "123456789", "1" * 64, "1" * 65, "a" * 64 + "1", "1" + "a" * 64,
    E + "1" + E, EURO + "12" + SMILE, "1" + E, E + "1", KELVIN + "k1", "a=1\r\nb=2\nc=", "a=\n=\n", "x=y",
    "a=" + E * 20 + "\r\n", "\n\n\r\n", "key=value\nk2=v2", "x{00}1 x{0,00}1", "1{01,}", *BLOCK_EDGES,
    "aaab", "aab", "backend;END end", '"a"b"\n"c', "2024-01-05 1-2-3", "a=1" + E + "b=22",
]
EDGE_PATTERNS = [
    "[0-9]+", "[0-9]*", r"\d+", r"[^\n]*", r"[^\n]+", ".*", r"\w*", "[a-z]+", "[^a-z]*", "1+", "[é0-9]+",
    "^[0-9]+", "[0-9]+$", r"\b[0-9]+", r"[0-9]+\b", "[0-9]+|a", "a|[0-9]+", "(?i)[a-k]+", "(?i)k+", r"\C+",
    r"(?m)^[^\n]*", r"(?m)[^\n]*$", "[0-9]{2}", "[0-9]+?", "(?:[0-9]+)", r"(?U)[0-9]+", "=[^\n]*", "",
    "x{00}1", "x{0,00}1", "1{01,}",  # braces RE2 reads as characters (a number with a leading zero)
    "1(?i)*", "[0-9]+(?m)?", "a(?s){0}1", r"[0-9]+\Q\E*",  # an operator after a flag setting or an empty quote
    # Plain sequences, and near ones that must go to RE2 (a count followed by bytes of its own class).
    "end", "aab", '"[^"\n]*"', r"\d{4}-\d\d-\d\d", r"[a-z]=\d+", r"\d\d+", "a?b?", "=.{2}", E + r"\d",
    "[0-9]{0}a", "(a)(b)", "a*a", r"[a-z]*\w", "a*b?a", r"\d+\d",
]


@pytest.mark.parametrize("pattern", EDGE_PATTERNS)
def test_edges_agree_with_re2(pattern):
    for s in EDGE_TEXTS:
        check_agrees(pattern, s)


@pytest.mark.parametrize("s, replaced", [
    ("a=1\r\nb=2\n", "#\n#\n"),  # '\r' is no line break
    ("a=1", "#"),  # to the text's end
    ("a=", "#"),  # nothing before the end
    ("a=\nb=" + E + "\n=", "#\n#\n="),
    ("\r\na=b c\r\n", "\r\n#\n"),
])
def test_rest_of_line_child_ends_at_the_line_break(s, replaced):
    g = q.Word(q.alphas()) + q.Literal("=") + q.Regex("[^\n]*")
    assert g.transform_string(s, "#") == replaced
    h = q.Word(q.alphas()) + q.Literal("=") + plain("[^\n]*")
    assert g.search_string(s) == h.search_string(s)
    assert g.search_string_count(s) == h.search_string_count(s) == replaced.count("#")


@pytest.mark.parametrize("pattern", ["[0-9]+", "[0-9]*", "x", "[0-9]{3}", "(?:a|b)"])
@pytest.mark.parametrize("s", ["no digits here", "12 and 34", E + "5" + EURO])  # "" is one shared object
def test_transform_is_a_new_str_equal_to_the_plain_route(pattern, s):
    s = (s + "!")[:-1]
    out = call_checked(q.Regex(pattern).transform_string, s, E)
    assert out is not s and type(out) is str and out == plain(pattern).transform_string(s, E)


@pytest.mark.parametrize("pattern", ["a+", "[ab]", "a|b", "x*"], ids=["class-run", "first-byte", "re2", "empty"])
def test_transform_past_the_recorded_spans(pattern):
    # More matches than a transform records while it sizes its result: the writer searches again for the rest.
    s = "a,b;" * 70_000 + "é"
    expected = re.sub(pattern, "<>", s)
    assert call_checked(q.Regex(pattern).transform_string, s, "<>") == expected
    assert plain(pattern).transform_string(s, "<>") == expected


@pytest.mark.skipif(bool(os.environ.get("QUILLEX_SANITIZED")),
                    reason="an address-space cap does not work under AddressSanitizer")
def test_transform_too_large_for_memory_raises_memory_error():
    # A result of about 6 GB under a 4 GB address space, on each route; the interpreter goes on afterwards.
    child = textwrap.dedent(r"""
        import resource, sys
        import quillex as q
        resource.setrlimit(resource.RLIMIT_AS, (4 << 30, 4 << 30))
        s, big = "a " * 3000, "x" * 2_000_000
        for g in (q.Regex("a+"), q.Regex("a"), q.Regex(r"(?:\b\B|a)")):
            try:
                g.transform_string(s, big)
                sys.exit("no MemoryError")
            except MemoryError:
                pass
            assert g.transform_string("a b", "c") == "c b"
        print("ok")
    """)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    run = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True, env=env, timeout=120)
    assert run.returncode == 0 and run.stdout.strip() == "ok", run.stderr
