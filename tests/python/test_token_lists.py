"""The token lists of search_string: equal token texts are one str object, held by their slots alone, and
different texts never share one, on every route the list is made by: a table of the distinct texts (few of
them), the partitions (nearly all distinct, more than a hundred thousand), and a call that starts on the table
and moves on (distinct texts, then repeats of them across the move). Texts of every str kind, read as UTF-8 or
in their own units (a str without its UTF-8 form), and str subclasses; tokens of ASCII, latin-1, UCS-2 and
UCS-4 characters."""
import collections
import gc
import random
import re
import sys

import pytest

import quillex as q
from conftest import call_checked, fresh, utf8_made

E, A, S = "\u00e9", "\u3042", "\U0001F600"  # latin-1, UCS-2 and UCS-4 characters

# (id, grammar, a Python model of its search over a text of words between spaces): the class run, Word (which
# reads a str without its UTF-8 form in its own units), RE2's iteration, the common routine, And, MatchFirst.
GRAMMARS = [
    ("Word", lambda: q.Word(q.alphas()), lambda t: re.findall("[A-Za-z]+", t)),
    ("Word-latin1", lambda: q.Word(q.alphas() + E), lambda t: re.findall(f"[A-Za-z{E}]+", t)),
    ("Regex-run", lambda: q.Regex("[a-z]+"), lambda t: re.findall("[a-z]+", t)),
    ("Regex-RE2", lambda: q.Regex("[^ =]+"), lambda t: re.findall("[^ =]+", t)),
    ("Group", lambda: q.Group(q.Regex("[^ =]+")), lambda t: re.findall("[^ =]+", t)),
    ("And", lambda: q.Regex("[^ =]+") + q.Literal("="),
     lambda t: [p for m in re.finditer("([^ =]+)(=)", t) for p in m.groups()]),
    ("MatchFirst", lambda: q.Literal("=") | q.Regex("[^ =]+"), lambda t: re.findall("=|[^ =]+", t)),
]


def words(n, rng, alphabet, lo=3, hi=10):
    return ["".join(rng.choice(alphabet) for _ in range(rng.randint(lo, hi))) for _ in range(n)]


def texts():
    """(id, text): the three routes, over ASCII words and over words of every character width."""
    rng = random.Random(18)
    lower = "abcdefghijklmnopqrstuvwxyz"
    wide = lower[:6] + E + A + S
    few = words(300, rng, lower)
    # More than the 65,536 distinct texts from which a call moves to the partitions.
    distinct = sorted(set(words(90_000, rng, lower, 8, 12)))
    out = [
        ("few-ascii", " ".join(rng.choice(few) for _ in range(30_000))),
        ("distinct-ascii", " ".join(distinct)),
        ("distinct-then-repeated", " ".join(distinct + distinct[::-1])),
    ]
    few_wide = words(300, rng, wide, 1, 4)
    distinct_wide = list(dict.fromkeys(words(90_000, rng, wide, 6, 10)))
    out += [
        ("few-wide", " ".join(rng.choice(few_wide) for _ in range(30_000))),
        ("distinct-then-repeated-wide", " ".join(distinct_wide + distinct_wide[::-1])),
        # An ASCII text's words with one wide word: a UCS-4 text whose tokens are mostly ASCII.
        ("few-ascii-in-wide-text", S + " " + " ".join(rng.choice(few) for _ in range(30_000))),
    ]
    return out


TEXTS = texts()


def assert_one_str_per_text(result, expected):
    """result == expected; slots with equal texts hold one object, different texts different objects, and each
    object is held by its slots alone, but for one latin-1 character: the interpreter's own str."""
    assert result == expected
    assert all(type(t) is str for t in result)
    first = {}
    for i, t in enumerate(expected):
        j = first.setdefault(t, i)
        assert result[i] is result[j], f"slots {j} and {i} should share"
    assert len({id(result[i]) for i in first.values()}) == len(first), "a str shared by different texts"
    sizes = collections.Counter(expected)
    for t, i in first.items():
        held = sys.getrefcount(result[i]) - 1  # less the argument's
        if len(t) == 1 and ord(t) < 256:
            assert result[i] is chr(ord(t))
        else:
            assert held == sizes[t], f"slot {i}"


def with_equals(text):
    """Every other space made '=', so that And finds pairs."""
    parts = text.split(" ")
    return "".join(p + ("=" if i % 2 == 0 else " ") for i, p in enumerate(parts))


class Sub(str):
    pass


@pytest.mark.parametrize("name,make,model", GRAMMARS, ids=[g[0] for g in GRAMMARS])
@pytest.mark.parametrize("text_id,text", TEXTS, ids=[t[0] for t in TEXTS])
def test_equal_tokens_are_one_str_on_every_route(name, make, model, text_id, text):
    g = make()
    if name in ("And", "MatchFirst"):
        text = with_equals(text)
    expected = model(text)
    # A new str has no UTF-8 form until something asks for it; the tokens of a str subclass instance are exact
    # strs too.
    for s in (fresh(text), utf8_made(fresh(text)), Sub(text), utf8_made(Sub(text))):
        assert_one_str_per_text(call_checked(g.search_string, s), expected)


def test_a_search_started_by_a_finaliser_during_a_search_gets_memory_of_its_own():
    # The outer search holds its spans while its list is made; a collection then runs a finaliser that searches
    # too. Both answers stand.
    rng = random.Random(4)
    outer_text = " ".join(sorted(set(words(90_000, rng, "abcdefghij", 8, 12))))
    inner_text = " ".join(words(20_000, rng, "klmnop", 2, 5))
    g = q.Word(q.alphas())
    inner_results = []

    class SearchesOnCollect:
        def __init__(self):
            self.me = self

        def __del__(self):
            inner_results.append(g.search_string(inner_text))

    threshold = gc.get_threshold()
    gc.collect()
    try:
        SearchesOnCollect()
        gc.set_threshold(1)
        outer = g.search_string(outer_text)
    finally:
        gc.set_threshold(*threshold)
    gc.collect()
    assert_one_str_per_text(outer, outer_text.split(" "))
    assert len(inner_results) == 1
    assert_one_str_per_text(inner_results[0], inner_text.split(" "))


def test_one_character_tokens_are_the_interpreters_own():
    # The interpreter's shared strs for one latin-1 character serve as they do for any str it makes.
    r = q.Regex("[a-z]").search_string("a b a c " * 3)
    assert r == list("abac" * 3) and all(t is chr(ord(t)) for t in r)


@pytest.mark.parametrize("make", [lambda: q.Word(q.alphas()), lambda: q.Regex("[a-z]+")], ids=["Word", "Regex"])
def test_parse_batch_gives_each_input_object_one_token_across_a_large_identity_table(make):
    # 60,000 distinct objects, each also held by `objects` (so none is held by its list slot alone), every one
    # once and a third of them again at random places; some do not match, some match whole.
    rng = random.Random(9)
    objects = [w + ("1" if i % 5 else "") for i, w in enumerate(words(60_000, rng, "abcdefgh" + E, 3, 8))]
    objects += ["12", E + "x"]
    items = objects + [rng.choice(objects) for _ in range(20_000)]
    rng.shuffle(items)
    g = make()
    result = call_checked(g.parse_batch, items)
    matching = [s for s in items if g.matches(s)]
    assert result == [g.parse_string(s)[0] for s in matching]
    first_slot = {}
    for i, s in enumerate(matching):
        j = first_slot.setdefault(id(s), i)
        assert result[i] is result[j], "every occurrence of one object gives one token"
        assert (result[i] is s) == (len(result[i]) == len(s)), "a whole match is the input itself"
    slots_of = collections.Counter(id(t) for t in result)
    made = [i for i in first_slot.values() if result[i] is not matching[i] and len(result[i]) > 1]
    del s
    for i in made:
        held = sys.getrefcount(result[i]) - 1  # less the argument's
        assert held == slots_of[id(result[i])], "a made token is held by its slots alone"
