"""The period shortcuts of the terminal fast paths against the common routines and plain models: every short
block over a two-letter alphabet and 'é' repeated with a partial last period, blocks whose byte period differs
from their character count near the 1024-byte window, the substring filter's switch to a linear search, and
batches around the pointer cache's capacity and the input-period window.

The common route is MatchFirst([g]): the common routines over g's try_match_at.
"""
import itertools
import re

import pytest

import quillex as q
from conftest import call_checked, fresh

E = "\u00e9"
EURO = "\u20ac"
ALPHABET = ["a", "b", E]


def periodic_world():
    """Every block of 1 to 4 characters over ALPHABET, repeated 2, 3 or 5 times, then cut after each number of
    its characters (2p and 2p + 1 bytes among the lengths)."""
    seen = set()
    for size in range(1, 5):
        for chars in itertools.product(ALPHABET, repeat=size):
            block = "".join(chars)
            for reps in (2, 3, 5):
                for cut in range(size):
                    text = block * reps + block[:cut]
                    if text not in seen:
                        seen.add(text)
                        yield text


WORLD = list(periodic_world())


def word_model(init, body):
    """The words of Word(init, body), leftmost first and never overlapping: one initial character, then body
    characters. Characters are taken whole ('é' is U+00E9, a member when listed)."""
    pattern = re.compile(f"[{re.escape(init)}][{re.escape(body if body is not None else init)}]*")
    return lambda text: [m.group() for m in pattern.finditer(text)]


def check_against_common(g, text, want_tokens):
    common = q.MatchFirst([g])
    found = g.search_string(text)
    flat = [t for item in found for t in (item if isinstance(item, list) else [item])]
    assert flat == want_tokens == common.search_string(text), text
    assert g.search_string_count(text) == len(want_tokens) == common.search_string_count(text), text
    assert g.transform_string(text, "<>") == common.transform_string(text, "<>"), text


LITERALS = ["".join(c) for n in (1, 2, 3) for c in itertools.product(ALPHABET, repeat=n)]


@pytest.mark.parametrize("lit", LITERALS)
def test_literal_over_the_periodic_world(lit):
    g = q.Literal(lit)
    for text in WORLD:
        check_against_common(g, text, [lit] * text.count(lit))
        assert g.transform_string(text, "<>") == text.replace(lit, "<>"), text


WORDS = [(i, b) for i in ("a", "ab", E, "a" + E) for b in (None, "b", "a", E)]


@pytest.mark.parametrize("init, body", WORDS, ids=[f"{i}-{b}" for i, b in WORDS])
def test_word_over_the_periodic_world(init, body):
    g = q.Word(init, body)
    model = word_model(init, body)
    for text in WORLD:
        check_against_common(g, text, model(text))


def blocks_near_the_window():
    """Blocks of 1020 to 1028 bytes whose first byte does not recur, with two- and three-byte characters in
    them, so that byte and character positions differ and a period boundary falls after a multi-byte
    character; each with the texts of 2p and 2p + 1 bytes, a partial last period and a period broken in its
    last character."""
    for p in range(1020, 1029):
        core = ("ab " + E + "ba" + EURO + "b") * 200
        body = core.encode()[: p - 2].decode("utf-8", "ignore")  # whole characters only
        block = "q" + body + "b" * (p - 2 - len(body.encode())) + "a"
        assert len(block.encode()) == p
        yield f"p{p} x2", block * 2
        yield f"p{p} x2+1", block * 2 + "q"
        yield f"p{p} x3+part", block * 3 + block[:7]
        yield f"p{p} broken", block * 3 + block[:-1] + "z"


NEAR_WINDOW = list(blocks_near_the_window())


@pytest.mark.parametrize("name, text", NEAR_WINDOW, ids=[n for n, _ in NEAR_WINDOW])
def test_periods_near_the_window(name, text):
    b = text.encode()
    p = int(name[1:5])
    # Literals inside a period, across the period boundary, and as long as the period.
    literals = {"a", "ab", E, "b" + EURO, "aq", "aqa", text[:1], text[: p // 2]}
    boundary = len(b[:p].decode("utf-8", "ignore"))
    literals.add(text[boundary - 3 : boundary + 3])
    for lit in sorted(literals):
        check_against_common(q.Literal(lit), text, [lit] * text.count(lit))
    for init, body in [("ab", None), ("qab", "ab"), ("a" + E, None), ("b", "a " + E)]:
        check_against_common(q.Word(init, body), text, word_model(init, body)(text))


def test_filter_switch_to_the_linear_search():
    """Texts where the substring filter's two bytes stand at every other start, so that it gives up part way;
    the answers must not change where it does."""
    needle = "baaaaaaaac"
    bc = "bc" * 6000
    for text in (bc, bc + needle, needle + bc + needle + bc[:3] + needle, bc + E + needle + "bc" + needle):
        g = q.Literal(needle)
        assert call_checked(g.search_string_count, text) == text.count(needle)
        assert g.search_string(text) == [[needle]] * text.count(needle)
        assert g.transform_string(text, "#") == text.replace(needle, "#")
        kw = q.Keyword(needle)
        assert kw.search_string_count(text) == q.MatchFirst([kw]).search_string_count(text)


# ---------------------------------------------------------------------------------------------------------------
# Batches: identity shortcuts at the pointer cache's capacity (31 objects) and the input-period window (127).

def distinct_items(k):
    """k fresh texts, matching and not in a pattern that no 3-periodic walk reproduces."""
    return [fresh(f"ab {i}") if i % 3 != 1 else fresh(f"x{i}") for i in range(k)]


def batch_lists():
    for k in (30, 31, 32, 33, 40):
        objs = distinct_items(k)
        walk = []
        for step in range(200):
            walk.extend(objs[(step * 7 + j) % k] for j in range(step % 4 + 1))
        yield f"{k} distinct, no period", walk
    for h in (126, 127, 128):
        objs = distinct_items(h)
        yield f"period {h}", objs * 3
        yield f"period {h} + tail", objs * 2 + objs[:5]
        yield f"period {h} broken at the end", objs * 2 + [fresh("ab")]


BATCHES = list(batch_lists())
TERMINALS = [
    ("Literal", lambda: q.Literal("ab")),
    ("Keyword", lambda: q.Keyword("ab")),
    ("CaselessLiteral", lambda: q.CaselessLiteral("AB")),
    ("Word", lambda: q.Word("ab")),
    ("Regex", lambda: q.Regex("a[b ]+")),
    ("QuotedString", lambda: q.QuotedString("a", esc_char="b")),
]


def loop_parse(g, s):
    try:
        return g.parse_string(s)
    except ValueError:
        return None


@pytest.mark.parametrize("label, items", BATCHES, ids=[n for n, _ in BATCHES])
@pytest.mark.parametrize("kind, make", TERMINALS, ids=[n for n, _ in TERMINALS])
def test_batches_around_the_identity_windows(kind, make, label, items):
    g = make()
    single = [loop_parse(g, s) for s in items]
    assert call_checked(g.parse_batch_count, items) == sum(r is not None for r in single)
    got = call_checked(g.parse_batch, items)
    if kind in ("Word", "Regex"):  # one flat list of the tokens of the inputs that match
        assert got == [t for r in single if r is not None for t in r]
    else:
        assert got == [r if r is not None else [] for r in single]
