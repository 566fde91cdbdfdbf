"""Word's own methods against the generic route: a Python model of the element's rule (set members U+0080..U+00FF
taken as whole characters) and the common routines reached through a MatchFirst of the one Word. Exhaustive small
worlds, periodic texts around the 1024-byte period limit, batch lists of every shape, the shared result objects,
the fixed error text and reference counts."""

import itertools
import sys

import pytest

import quillex as q
from conftest import call_checked, fresh

E = "\u00e9"  # é: a set member U+0080..U+00FF, two UTF-8 bytes (0xC3 0xA9)
A_MACRON = "\u0100"  # Ā: above U+00FF, never a member
LOWER = "abcdefghijklmnopqrstuvwxyz"


class Subclass(str):
    pass


# ---------------------------------------------------------------------------------------------------------------
# The model: words over characters. A member is a character below U+0100 in the set; a word is one initial
# character followed by every body character after it; the scan steps one character where no word starts.

class Model:
    def __init__(self, init_chars, body_chars=None):
        self.init = {c for c in init_chars if ord(c) < 256}
        self.body = self.init if body_chars is None else {c for c in body_chars if ord(c) < 256}

    def end_at(self, s, i):
        if i >= len(s) or s[i] not in self.init:
            return None
        j = i + 1
        while j < len(s) and s[j] in self.body:
            j += 1
        return j

    def words(self, s):
        out, i = [], 0
        while i < len(s):
            j = self.end_at(s, i)
            if j is None:
                i += 1
            else:
                out.append(s[i:j])
                i = j
        return out

    def transform(self, s, replacement):
        out, i = [], 0
        while i < len(s):
            j = self.end_at(s, i)
            if j is None:
                out.append(s[i])
                i += 1
            else:
                out.append(replacement)
                i = j
        return "".join(out)

    def parse(self, s):
        j = self.end_at(s, 0)
        return None if j is None else [s[:j]]


def parse_or_none(g, s):
    try:
        return g.parse_string(s)
    except ValueError:
        return None


def assert_equal_words_shared(result):
    """Equal words are one str object, and no two different words share one."""
    by_text = {}
    for w in result:
        assert by_text.setdefault(w, w) is w, f"two objects for {w!r}"


def assert_held_by_slots_alone(result, skip=()):
    """Each distinct object of `result` (but those in `skip`) is held by its slots and nothing else."""
    slots = {}
    for i in range(len(result)):
        slots.setdefault(id(result[i]), []).append(i)
    skipped = {id(x) for x in skip}
    for key, where in slots.items():
        if key in skipped:
            continue
        held = sys.getrefcount(result[where[0]]) - 1  # the argument aside
        assert held == len(where), f"slot {where[0]}"


def check_text(w, generic, model, s):
    """Every single-text method of `w` on `s` against the model and the common routines."""
    words = model.words(s)
    assert w.matches(s) is (model.parse(s) is not None) is generic.matches(s)
    assert parse_or_none(w, s) == model.parse(s)
    found = w.search_string(s)
    assert found == words == generic.search_string(s)
    assert_equal_words_shared(found)
    assert w.search_string_count(s) == len(words) == generic.search_string_count(s)
    assert w.transform_string(s, "<>") == model.transform(s, "<>") == generic.transform_string(s, "<>")


# ---------------------------------------------------------------------------------------------------------------
# Exhaustive small worlds: every pair of sets over a, b and é (body absent included), every text of up to four
# characters over a, b, é, Ā and '-'.

SET_LETTERS = ["a", "b", E]
SUBSETS = ["".join(c) for r in range(len(SET_LETTERS) + 1) for c in itertools.combinations(SET_LETTERS, r)]
WORLD_WORDS = [(i, b) for i in SUBSETS for b in SUBSETS + [None]] + [
    ("a" + A_MACRON, None), (A_MACRON, "a"), ("a", E + A_MACRON), ("\u00c3", None), ("\u00a9", "a"),
]
WORLD_TEXTS = ["".join(t) for n in range(5) for t in itertools.product(["a", "b", E, A_MACRON, "-"], repeat=n)]


def word_id(pair):
    return f"{pair[0]!r}/{pair[1]!r}"


@pytest.mark.parametrize("init_chars, body_chars", WORLD_WORDS, ids=[word_id(p) for p in WORLD_WORDS])
def test_small_world_single_texts(init_chars, body_chars):
    w = q.Word(init_chars, body_chars)
    generic = q.MatchFirst([w])
    model = Model(init_chars, body_chars)
    for s in WORLD_TEXTS:
        check_text(w, generic, model, s)


@pytest.mark.parametrize("init_chars, body_chars", WORLD_WORDS, ids=[word_id(p) for p in WORLD_WORDS])
def test_small_world_batches(init_chars, body_chars):
    w = q.Word(init_chars, body_chars)
    model = Model(init_chars, body_chars)
    items = [fresh(s) for s in WORLD_TEXTS]
    expected = [t for s in items for t in (model.parse(s) or [])]
    assert w.parse_batch(items) == expected
    assert w.parse_batch_count(items) == sum(model.parse(s) is not None for s in items)
    assert w.parse_batch_count(items) == q.MatchFirst([w]).parse_batch_count(items)


# ---------------------------------------------------------------------------------------------------------------
# Single texts: the cases each path turns on.

ALPHA = q.Word(LOWER)
DIGITS = q.Word("0123456789")
AB_BC = q.Word("abc", "bc")
AB_A = q.Word("ab", "a")

SEARCH_CASES = [
    ("empty", ALPHA, "", []),
    ("no word", ALPHA, "123", []),
    ("gaps", ALPHA, "ab cd,ef", ["ab", "cd", "ef"]),
    ("repeat word", ALPHA, "ab cd ab", ["ab", "cd", "ab"]),
    ("body differs", AB_BC, "abc", ["abc"]),
    ("init not body", AB_A, "ab", ["a", "b"]),
    ("non-ascii text", ALPHA, E + "ab" + E + "c" + A_MACRON, ["ab", "c"]),
    ("wide init", q.Word(E), E * 2 + "\u00ea" + E, [E * 2, E]),
    ("wide body", q.Word("a", E), "a" + E + E + "a" + "\u00ea", ["a" + E * 2, "a"]),
    ("prefix keys", ALPHA, "1abcdefghq abcdefghr " * 2, ["abcdefghq", "abcdefghr"] * 2),
]


@pytest.mark.parametrize("w, text, expected", [c[1:] for c in SEARCH_CASES], ids=[c[0] for c in SEARCH_CASES])
def test_search_count_and_transform(w, text, expected):
    result = call_checked(w.search_string, text)
    assert result == expected
    assert_equal_words_shared(result)
    assert call_checked(w.search_string_count, text) == len(expected)
    generic = q.MatchFirst([w])
    assert call_checked(w.transform_string, text, "#") == generic.transform_string(text, "#")


TRANSFORM_CASES = [
    ("digits", DIGITS, "a1b22c", "#", "a#b#c"),
    ("longer replacement", DIGITS, "1 2 3", "NUM", "NUM NUM NUM"),
    ("delete", DIGITS, "a12b3", "", "ab"),
    ("no word", DIGITS, "abc def", "#", "abc def"),
    ("empty text", DIGITS, "", "#", ""),
    ("replacement taken as is", ALPHA, "ab cd", E + "\\1", E + "\\1 " + E + "\\1"),
    ("wide word", q.Word(E + "a"), "x" + E + "a" + E + "y", "#", "x#y"),
    # Up to 8 bytes a replacement is stored in one piece with the byte after it; longer ones are copied.
    ("8-byte replacement", ALPHA, "ab, c", "12345678", "12345678, 12345678"),
    ("9-byte replacement", ALPHA, "ab, c", "123456789", "123456789, 123456789"),
    ("9-byte replacement, wide word", q.Word(E + "a"), "x" + E + "a y" + E, "<" + E * 4 + ">", "x<" + E * 4 + "> y<"
     + E * 4 + ">"),
]


@pytest.mark.parametrize("w, text, replacement, expected", [c[1:] for c in TRANSFORM_CASES],
                         ids=[c[0] for c in TRANSFORM_CASES])
def test_transform_string(w, text, replacement, expected):
    s = fresh(text)
    result = call_checked(w.transform_string, s, replacement)
    assert result == expected
    if len(s) > 1:
        assert result is not s  # always a str made for the result


PARSE_CASES = [
    ("word then other", ALPHA, "abc1", ["abc"]),
    ("init then body", q.Word("a", "b"), "abba", ["abb"]),
    ("body is not init", AB_BC, "aab", ["a"]),
    ("wide body char", q.Word("a", E), "a" + E + "\u00ea", ["a" + E]),
    ("wide init char", q.Word(E, "a"), E + "aa" + E, [E + "aa"]),
]


@pytest.mark.parametrize("w, text, expected", [c[1:] for c in PARSE_CASES], ids=[c[0] for c in PARSE_CASES])
def test_parse_string_and_matches(w, text, expected):
    assert call_checked(w.parse_string, text) == expected
    assert call_checked(w.matches, text) is True


def test_parse_string_makes_a_new_str_for_a_whole_text_word():
    s = fresh("abc")
    result = ALPHA.parse_string(s)
    assert result == ["abc"] and result[0] is not s


FAILURES = [
    ("empty", ALPHA, ""),
    ("digit first", ALPHA, "1abc"),
    ("body only", q.Word("a", "b"), "ba"),
    ("non-ascii first", ALPHA, E + "a"),
    ("wide init, other char", q.Word(E), "\u00ea" + E),
    ("above U+00FF", q.Word("a" + A_MACRON), A_MACRON + "a"),
    ("lead byte value", q.Word("\u00c3"), E),  # U+00C3 is numbered like é's lead byte
    ("empty set", q.Word(""), "abc"),
]


@pytest.mark.parametrize("w, text", [c[1:] for c in FAILURES], ids=[c[0] for c in FAILURES])
def test_parse_string_failure_is_the_fixed_message(w, text):
    with pytest.raises(ValueError) as info:
        call_checked(w.parse_string, text)
    assert type(info.value) is ValueError and info.value.args == ("Expected word",)
    assert call_checked(w.matches, text) is False


# ---------------------------------------------------------------------------------------------------------------
# Periodic texts: a period found at the start must hold over the whole text, and a word must not run from one
# period into the next, before one period stands for all.

def many_words(k):
    """k distinct lower-case words."""
    return [a + b for a, b in itertools.islice(itertools.product(LOWER, repeat=2), k)]


PERIOD_UNITS = [
    ("period 3", "ab1"),
    ("period 6", "ab1cd2"),
    ("two words", "ab cd "),
    ("leading gap", "1ab"),
    ("word runs on", "ab"),
    ("word runs on, gap inside", "ab1cd"),
    ("no word", "123"),
    ("non-ascii gap", "ab" + E),
    ("wide letters", E + "a1"),
    ("40 distinct words", "1 " + " ".join(many_words(40)) + " "),
    ("period 1023", "1" + "ab " * 340 + "cd"),
    ("period 1024", "1" + "ab " * 341),
    ("period 1025", "1" + "ab " * 341 + "c"),
    ("period 1030", "1" + "abc " * 257 + "z"),
]


def periodic_texts():
    """Each unit repeated, with a last period cut short after k characters, or followed by text that breaks the
    period."""
    for name, unit in PERIOD_UNITS:
        for reps in (2, 3, 7):
            for k in sorted({0, 1, 2, len(unit) - 1}):
                yield f"{name} x{reps} +{k}", unit * reps + unit[:k]
            yield f"{name} x{reps} +breaker", unit * reps + "zz1"
    yield "start repeats, rest does not", "ab1ab11111"
    yield "period breaks late", "ab1" * 600 + "a1b"


PERIODIC = list(periodic_texts())
PERIOD_WORDS = [("alpha", LOWER, None), ("alpha+é", LOWER + E, None), ("init a-c, body b-c", "abc", "bc"),
                ("init ab, body a", "ab", "a"), ("alpha, body digits", LOWER, "0123456789")]


@pytest.mark.parametrize("name, init_chars, body_chars", PERIOD_WORDS, ids=[p[0] for p in PERIOD_WORDS])
def test_periodic_texts_agree_with_the_model(name, init_chars, body_chars):
    w = q.Word(init_chars, body_chars)
    generic = q.MatchFirst([w])
    model = Model(init_chars, body_chars)
    for label, text in PERIODIC:
        words = model.words(text)
        found = w.search_string(text)
        assert found == words, label
        assert found == generic.search_string(text), label
        assert_equal_words_shared(found)
        assert w.search_string_count(text) == len(words) == generic.search_string_count(text), label
        assert w.transform_string(text, "#") == model.transform(text, "#"), label


@pytest.mark.parametrize("text, expected_len, distinct", [
    ("ab1" * 1000, 1000, 1),
    ("ab1cd2" * 3 + "ab", 7, 2),
    ("ab" * 1000, 1, 1),
    (("1 " + " ".join(many_words(40)) + " ") * 5 + "1 aa", 201, 40),
], ids=["no tail", "with tail", "runs on", "cache overflow"])
def test_periodic_search_shares_and_counts(text, expected_len, distinct):
    result = call_checked(ALPHA.search_string, text)
    assert len(result) == expected_len
    assert len({id(x) for x in result}) == distinct
    assert_equal_words_shared(result)
    assert_held_by_slots_alone(result)


# ---------------------------------------------------------------------------------------------------------------
# Batches: the result equals a loop of single calls; shared objects follow the input objects.

def loop_flat(w, items):
    return [t for s in items for t in (parse_or_none(w, s) or [])]


def batch_shapes():
    a, b, c, x = fresh("ab"), fresh("1!"), fresh("cd!"), fresh("xy" + E)
    distinct = [fresh(f"w{i}") for i in range(65)] + [fresh(f"{i}w") for i in range(65)]
    yield "empty", []
    yield "one", [a]
    yield "one non-matching", [b]
    yield "uniform", [a] * 5
    yield "uniform non-matching", [b] * 1000
    yield "period 2 with tail", [a, b, a, b, a]
    yield "period 3", [a, b, c] * 4
    yield "period 3 tail 2", [a, b, c] * 4 + [a, b]
    yield "period with repeat inside", [b, a, a, b, a, a, b]
    yield "period with repeat inside, cut tokens", [b, c, c, b, c, c, b]
    yield "period 127", distinct[:127] * 3 + distinct[:5]
    yield "broken period", [a, b, a, b, x, c, a, b]
    yield "pointer repeats", [a, a, b, a, c, c, a, x]
    yield "many distinct", distinct * 2 + distinct[::-1]
    yield "equal texts, distinct objects", [fresh("ab") for _ in range(6)]
    yield "subclass items", [Subclass("ab"), Subclass("ab!"), a]
    yield "non-ascii", [fresh(E + "ab"), x, fresh("a" + E)]


BATCHES = list(batch_shapes())
BATCH_WORDS = [("alpha", q.Word(LOWER)), ("alpha+é", q.Word(LOWER + E)), ("w digits", q.Word("w", "0123456789"))]


@pytest.mark.parametrize("name, w", BATCH_WORDS, ids=[p[0] for p in BATCH_WORDS])
@pytest.mark.parametrize("label, items", BATCHES, ids=[p[0] for p in BATCHES])
def test_batches_equal_a_loop(name, w, label, items):
    result = call_checked(w.parse_batch, items)
    assert result == loop_flat(w, items)
    assert all(type(t) is str for t in result)
    assert call_checked(w.parse_batch_count, items) == sum(w.matches(s) for s in items)
    assert_tokens_shared_as_expected(w, items, result)


def token_groups(items):
    """Per input, the group of inputs whose tokens are one object: with an input period h (n >= 2) the position
    i % h, each of the first h evaluated on its own; otherwise the input object."""
    n = len(items)
    h = next((i for i in range(1, min(n, 128)) if items[i] is items[0]), 0)
    if n >= 2 and h and 2 * h <= n and all(items[i] is items[i - h] for i in range(h, n)):
        return [("position", i % h) for i in range(n)]
    return [("object", id(x)) for x in items]


def assert_tokens_shared_as_expected(w, items, result):
    """Tokens of one group are one object, tokens of different groups are different objects, and a token that
    spans its whole input (an exact str) is that input."""
    matched = [(s, g) for s, g in zip(items, token_groups(items)) if w.matches(s)]
    assert len(matched) == len(result)
    first_of = {}
    for (s, g), t in zip(matched, result):
        whole = t == s and type(s) is str
        if whole:
            assert t is s
        if g in first_of:
            assert t is first_of[g], f"group {g} holds two token objects"
        else:
            first_of[g] = t
    groups_of = {}
    for g, t in first_of.items():
        groups_of.setdefault(id(t), []).append(g)
    for g, t in first_of.items():
        # One-character strs are the interpreter's shared singletons.
        if len(groups_of[id(t)]) > 1 and len(t) > 1:
            assert any(t is s for s in items), f"groups {groups_of[id(t)]} share a token made for them"


def test_batch_tokens_are_held_once_per_slot():
    a, b, c = fresh("ab1"), fresh("cd"), fresh("1")
    for items in ([a, b, c] * 5 + [a], [a, b, c] * 5, [a, b, a, c, b, b]):
        result = ALPHA.parse_batch(items)
        assert_held_by_slots_alone(result, skip=[b])  # b is its own token, also held by `items`


def test_periodic_batch_results_follow_the_input_positions():
    a, b = fresh("ab"), fresh("1!")
    result = ALPHA.parse_batch([a, b, a, b, a])
    assert result == ["ab"] * 3 and all(t is a for t in result)
    assert ALPHA.parse_batch_count([a] * 1000) == 1000 and ALPHA.parse_batch_count([b] * 1000) == 0


BAD_BATCHES = [
    ("uniform", lambda a: [5] * 4, 0, "int"),
    ("first of period", lambda a: [None, a, None, a], 0, "NoneType"),
    ("inside period", lambda a: [a, 1.5, a, 1.5, a], 1, "float"),
    ("general", lambda a: [a, a, fresh("x"), b"y", 3], 3, "bytes"),
    ("after many", lambda a: [fresh(str(i)) for i in range(50)] + [[1]], 50, "list"),
]


@pytest.mark.parametrize("make, index, type_name", [c[1:] for c in BAD_BATCHES], ids=[c[0] for c in BAD_BATCHES])
@pytest.mark.parametrize("method", ["parse_batch", "parse_batch_count"])
def test_non_str_item_raises_the_first_in_list_order(make, index, type_name, method):
    items = make(fresh("ab"))
    with pytest.raises(TypeError) as info:
        call_checked(getattr(ALPHA, method), items)
    assert str(info.value) == f"argument 'inputs': item {index}: '{type_name}' object cannot be converted to 'PyString'"


@pytest.mark.parametrize("method", ["parse_batch", "parse_batch_count"])
def test_item_without_utf8_form_raises_the_interpreters_error(method):
    with pytest.raises(UnicodeEncodeError):
        call_checked(getattr(ALPHA, method), [fresh("ab"), "\ud800"])
