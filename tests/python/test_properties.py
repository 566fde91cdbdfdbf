"""Random small grammars and texts: the methods agree with each other and with a plain scan written here."""
from dataclasses import dataclass

from hypothesis import given, settings, strategies as st

import quillex as q
from quillex import (And, CaselessLiteral, Char, Combine, Empty, Exactly, Forward, Group, LineEnd, LineStart,
                     Literal, MatchFirst, NoMatch, OneOrMore, Optional, SkipTo, StringEnd, StringStart, Suppress,
                     Word, ZeroOrMore)

SETTINGS = settings(max_examples=150, deadline=None)


@dataclass
class G:
    obj: object
    text: str  # how it was built, for failure reports
    loose: bool = False  # holds a OneOrMore, whose match test may accept where its parse fails
    looks_back: bool = False  # holds a kind that tests the text before its position

    def __repr__(self):
        return self.text


def parens():
    f = Forward()
    f <<= Literal("(") + Optional(f) + Literal(")")
    return f


LEAVES = st.sampled_from([
    G(Literal("a"), "Literal('a')"),
    G(Literal("b"), "Literal('b')"),
    G(Literal("ab"), "Literal('ab')"),
    G(Literal("é"), "Literal('é')"),
    G(Literal(""), "Literal('')"),
    G(Word("ab"), "Word('ab')"),
    G(Word("aé", "b"), "Word('aé', 'b')"),
    G(CaselessLiteral("A"), "CaselessLiteral('A')"),
    G(Char("b("), "Char('b(')"),
    G(q.Keyword("a"), "Keyword('a')"),
    G(Empty(), "Empty()"),
    G(NoMatch(), "NoMatch()"),
    G(LineEnd(), "LineEnd()"),
    G(StringEnd(), "StringEnd()"),
    G(q.rest_of_line(), "rest_of_line()"),
    G(LineStart(), "LineStart()", looks_back=True),
    G(StringStart(), "StringStart()", looks_back=True),
    G(parens(), "parens"),
])


def wrap(cls):
    def build(g):
        return G(cls(g.obj), f"{cls.__name__}({g.text})", g.loose or cls is OneOrMore, g.looks_back)
    return build


def join(op):
    def build(pair):
        a, b = pair
        if op == "+":
            obj = a.obj + b.obj
        elif isinstance(a.obj, And):  # And has no |
            obj = MatchFirst([a.obj, b.obj])
        else:
            obj = a.obj | b.obj
        return G(obj, f"({a.text} {op} {b.text})", a.loose or b.loose, a.looks_back or b.looks_back)
    return build


def exactly(pair):
    g, n = pair
    return G(Exactly(g.obj, n), f"Exactly({g.text}, {n})", g.loose, g.looks_back)


def forward(g):
    f = Forward()
    f <<= g.obj
    return G(f, f"Forward({g.text})", g.loose, g.looks_back)


def extend(children):
    return st.one_of(
        st.tuples(children, children).map(join("+")),
        st.tuples(children, children).map(join("|")),
        st.lists(children, max_size=3).map(
            lambda gs: G(MatchFirst([g.obj for g in gs]), f"MatchFirst([{', '.join(g.text for g in gs)}])",
                         any(g.loose for g in gs), any(g.looks_back for g in gs))),
        *[children.map(wrap(cls)) for cls in
          [Optional, ZeroOrMore, OneOrMore, Group, Suppress, Combine, SkipTo]],
        st.tuples(children, st.integers(0, 2)).map(exactly),
        children.map(forward),
    )


GRAMMARS = st.recursive(LEAVES, extend, max_leaves=5)
ASCII_TEXTS = st.text(alphabet="ab( )\n", max_size=10)
TEXTS = st.text(alphabet="ab(é€\n", max_size=10)


def prefix_end(g, s):
    """Where g's parse at the start of s ends (a char count), or None: the end of Combine's one token."""
    try:
        return len(Combine(g.obj).parse_string(s)[0])
    except ValueError:
        return None


def reference_spans(g, s):
    """The scan written out: every position tried in turn, resuming at max(pos + 1, end) after a match. Matching
    at position pos of s is matching at the start of s[pos:], since the grammar never looks back."""
    spans, pos = [], 0
    while pos < len(s):
        n = prefix_end(g, s[pos:])
        if n is None:
            pos += 1
        else:
            spans.append((pos, pos + n))
            pos = max(pos + 1, pos + n)
    return spans


def uses_common_search(g):
    return not isinstance(g.obj, (And, Literal, q.Keyword))


def searched_tokens(g, s):
    """search_string's tokens in order: Literal and Keyword list each occurrence, zero-length ones included, as
    a one-token list."""
    found = g.obj.search_string(s)
    if isinstance(g.obj, (Literal, q.Keyword)):
        return [t for item in found for t in item]
    return found


# ---------------------------------------------------------------------------------------------------------------


@SETTINGS
@given(GRAMMARS, TEXTS)
def test_matches_is_the_elements_test_at_the_start(g, s):
    assert g.obj.matches(s) == Group(g.obj).matches(s)
    if not g.loose:
        assert g.obj.matches(s) == (prefix_end(g, s) is not None)


@SETTINGS
@given(GRAMMARS.filter(lambda g: not g.loose and not g.looks_back), ASCII_TEXTS)
def test_search_count_and_transform_follow_the_scan(g, s):
    spans = reference_spans(g, s)
    assert g.obj.search_string_count(s) == len(spans)
    solid = [(a, b) for a, b in spans if b > a]
    found = [s[a:b] for a, b in solid]
    if uses_common_search(g):
        assert g.obj.search_string(s) == found
    else:
        assert "".join(searched_tokens(g, s)) == "".join(found)
    kept, last = [], 0
    for a, b in solid:
        kept.append(s[last:a])
        last = b
    kept.append(s[last:])
    assert g.obj.transform_string(s, "") == "".join(kept)
    assert g.obj.transform_string(s, "<>") == "<>".join(kept)


@SETTINGS
@given(GRAMMARS, TEXTS)
def test_transform_deletes_exactly_what_search_lists(g, s):
    found = searched_tokens(g, s)
    marked = g.obj.transform_string(s, "\x00")
    assert g.obj.transform_string(s, "") == marked.replace("\x00", "")
    gaps = marked.split("\x00")
    if uses_common_search(g):
        assert len(gaps) == len(found) + 1
        rebuilt = gaps[0] + "".join(m + gap for m, gap in zip(found, gaps[1:]))
        assert rebuilt == s
        assert all(found)
    else:
        assert "".join(found) == "".join(Group(g.obj).search_string(s))
    assert g.obj.search_string_count(s) == Group(g.obj).search_string_count(s)
    assert g.obj.search_string_count(s) >= len(Group(g.obj).search_string(s))


def single_parse(g, s):
    try:
        return Group(g.obj).parse_string(s)
    except ValueError:
        return []


POOL = st.lists(TEXTS, min_size=1, max_size=4).map(lambda ts: [t.encode().decode() for t in ts])
BATCHES = st.one_of(
    st.tuples(POOL, st.lists(st.integers(0, 3), max_size=14)),
    # A repeating block with a partial tail, the shape the period shortcut serves.
    st.tuples(POOL, st.tuples(st.lists(st.integers(0, 3), min_size=1, max_size=4), st.integers(2, 5),
                              st.integers(0, 3)).map(lambda p: (p[0] * p[1] + p[0][:p[2]]))),
).map(lambda pair: [pair[0][i % len(pair[0])] for i in pair[1]])


@SETTINGS
@given(GRAMMARS, BATCHES)
def test_batch_methods_equal_a_loop_over_single_calls(g, inputs):
    assert g.obj.parse_batch_count(inputs) == sum(g.obj.matches(s) for s in inputs)
    if not isinstance(g.obj, And):
        assert g.obj.parse_batch(inputs) == [single_parse(g, s) for s in inputs]
