"""Regex's own method bodies against independent routes on the same inputs:

- Python's `re` (ASCII flag) where the two dialects agree: `re.match` for the tests at position 0, and
  `search(s, pos)` driven by the iteration the searches promise (`find_iter` below) for the searches;
- the same iteration driven by Regex's own anchored test at each position (`matches` / `parse_string` on the
  rest of the text), for patterns that do not look before their start;
- the common routines through a Group wrapper, for patterns that cannot match empty;
- a plain loop for the batch methods, with the sharing and reference-count rules checked.
Reference counts of the receiver and the arguments are checked around the calls (call_checked)."""

import itertools
import re
import sys

import pytest

import quillex as q
from conftest import call_checked, fresh, refcounts_unchanged
from test_batch import BAD_ITEMS

E = "\u00e9"  # é, two bytes in UTF-8


def find_iter(find, s):
    """The matches of the searches, as (start, end) in characters: `find(pos)` gives the leftmost match
    starting at or after pos, or None. After a match the next search starts at its end; an empty match that
    ends where the previous match ended is skipped and the search starts one character further on."""
    out, pos, last_end = [], 0, None
    while pos <= len(s):
        m = find(pos)
        if m is None:
            break
        if m[0] == m[1] and m[1] == last_end:
            pos = m[0] + 1
            continue
        out.append(m)
        last_end = pos = m[1]
    return out


def python_finder(pattern, s):
    rx = re.compile(pattern, re.ASCII)

    def find(pos):
        m = rx.search(s, pos)
        return (m.start(), m.end()) if m else None

    return find


def own_finder(g, s):
    """The leftmost position from pos at which Regex's anchored test matches the rest of the text (valid for
    patterns that do not look before their start)."""

    def find(pos):
        for start in range(pos, len(s) + 1):
            rest = s[start:]
            if g.matches(rest):
                return start, start + len(g.parse_string(rest)[0])
        return None

    return find


def transformed(s, spans, replacement):
    out, prev = [], 0
    for a, b in spans:
        out += [s[prev:a], replacement]
        prev = b
    return "".join(out) + s[prev:]


def check_searches(g, s, spans, replacement="<>"):
    assert call_checked(g.search_string_count, s) == len(spans)
    found = call_checked(g.search_string, s)
    assert found == [s[a:b] for a, b in spans]
    by_text = {}
    for item in found:
        assert by_text.setdefault(item, item) is item, "equal match texts share one str"
    assert call_checked(g.transform_string, s, replacement) == transformed(s, spans, replacement)


def check_start(g, s, expected):
    """parse_string and matches against the expected match text at 0 (None: no match)."""
    assert call_checked(g.matches, s) is (expected is not None)
    if expected is None:
        with pytest.raises(ValueError) as info:
            call_checked(g.parse_string, s)
        assert type(info.value) is ValueError and str(info.value) == "Expected regex match"
    else:
        result = call_checked(g.parse_string, s)
        assert type(result) is list and result == [expected] and type(result[0]) is str


# ---------------------------------------------------------------------------------------------------------------
# Single texts: a table of cases.

START_CASES = [
    ("a+", "aab", "aa"),
    ("a+", "baa", None),          # the match must start at 0
    ("a*", "b", ""),
    ("", "", ""),
    ("[a-z]+", "abc1", "abc"),
    ("a|ab", "ab", "a"),          # leftmost-first, not longest
    ("^a|b", "b", "b"),           # anchored as a whole: a later branch still starts at 0
    ("^a|b", "xb", None),
    ("x$", "xab", None),
    ("(?i)abc", "ABCd", "ABC"),
    (".", E, E),
    (r"\C", E, None),             # its end would cut é
    (r"\C\C", E + "a", E),
    ("a.c", "a\nc", None),        # '.' does not match a line break
    (r"\w+", "a" + E, "a"),       # ASCII classes
    ("[^a]+", E + "b" + "a", E + "b"),
]


@pytest.mark.parametrize("pattern, s, expected", START_CASES, ids=[f"{p!r}-{t!r}" for p, t, _ in START_CASES])
def test_parse_string_and_matches(pattern, s, expected):
    check_start(q.Regex(pattern), s, expected)


def test_parse_string_makes_a_new_str_even_for_a_whole_match():
    s = fresh("abc")
    result = q.Regex("[a-z]+").parse_string(s)
    assert result == ["abc"] and result[0] is not s


# (pattern, text, match texts in order, transform_string with '-')
SEARCH_CASES = [
    ("a*", "baaa", ["", "aaa"], "-b-"),           # no empty match right after 'aaa'
    ("x*", "abc", ["", "", "", ""], "-a-b-c-"),
    ("a*", "", [""], "-"),                        # the empty text is searched like any other
    ("a", "", [], ""),
    ("a", "banana", ["a", "a", "a"], "b-n-n-"),
    ("", E, ["", ""], "-" + E + "-"),             # positions 0 and 2, never inside the character
    ("a*", E + "a" + E, ["", "a", ""], "-" + E + "-" + E + "-"),
    ("^a|b", "xab", ["b"], "xa-"),                # '^' holds only at the start of the whole text
    (r"\bb", "ab b", ["b"], "ab -"),              # '\b' sees the character before the search position
    (r"\B", "a" + E, [""], "a" + E + "-"),        # not inside é, though RE2's ASCII '\B' holds there
    (r"\C", E + "a", ["a"], E + "-"),             # a match that would cut é is no match
    ("a|", "ba", ["", "a"], "-b-"),
    ("$", "ab", [""], "ab-"),
    ("(?m)^", "a\nb", ["", ""], "-a\n-b"),
]


@pytest.mark.parametrize("pattern, s, texts, replaced", SEARCH_CASES,
                         ids=[f"{p!r}-{t!r}" for p, t, _, _ in SEARCH_CASES])
def test_searches(pattern, s, texts, replaced):
    g = q.Regex(pattern)
    assert call_checked(g.search_string_count, s) == len(texts)
    found = call_checked(g.search_string, s)
    assert found == texts
    assert len({id(x) for x in found}) == len(set(texts)), "equal match texts share one str"
    assert call_checked(g.transform_string, s, "-") == replaced


def test_replacement_is_inserted_byte_for_byte():
    g = q.Regex("[0-9]")
    assert g.transform_string("a1b2", "$0") == "a$0b$0"
    assert g.transform_string("a1", r"\1${x}") == r"a\1${x}"
    assert g.transform_string("7", E) == E


class Text(str):
    pass


@pytest.mark.parametrize("s", ["abc", E + "bc", "\u20ac\U0001f600", Text("abc"), Text(E + "b")],
                         ids=["ascii", "latin-1", "wide", "subclass", "subclass-latin-1"])
@pytest.mark.parametrize("pattern", ["x", "x+", "[0-9]{3}"], ids=["re2", "class-run", "first-byte"])
def test_transform_without_a_match_gives_a_new_equal_str(pattern, s):
    s = fresh(s) if type(s) is str else s
    out = call_checked(q.Regex(pattern).transform_string, s, "-")
    assert out is not s and type(out) is str and out == s


# ---------------------------------------------------------------------------------------------------------------
# Small exhaustive worlds: every pattern of one or two atoms against every short text over a, b and é.

# atom: (can match empty, looks before its start)
ATOMS = {
    "a": (False, False), "b": (False, False), E: (False, False), ".": (False, False), "[ab]": (False, False),
    "[^a]": (False, False), "a*": (True, False), "a+": (False, False), "b?": (True, False), "a*?": (True, False),
    "(?:ab)*": (True, False), "a|b": (False, False), "|a": (True, False), "": (True, False), "$": (True, False),
    "^": (True, True), r"\b": (True, True), r"\B": (True, True), "^a": (False, True), f"[^{E}]": (False, False),
}
PATTERNS = [(p, *flags) for p, flags in ATOMS.items()] + [
    (f"(?:{x})(?:{y})", ex and ey, cx or (cy and ex))
    for (x, (ex, cx)), (y, (ey, cy)) in itertools.product(ATOMS.items(), repeat=2)
]
ALPHABET = ["a", "b", E]
TEXTS = ["".join(t) for n in range(5) for t in itertools.product(ALPHABET, repeat=n)]


@pytest.mark.parametrize("pattern, may_be_empty, looks_back", PATTERNS, ids=[p for p, _, _ in PATTERNS])
def test_small_world_agrees_with_python_and_the_anchored_rule(pattern, may_be_empty, looks_back):
    g = q.Regex(pattern)
    group = q.Group(g)
    rx = re.compile(pattern, re.ASCII)
    for s in TEXTS:
        if not s and r"\B" in pattern:
            continue  # Python's '\B' never matches in the empty text; RE2's does
        m = rx.match(s)
        check_start(g, s, m.group() if m else None)
        spans = find_iter(python_finder(pattern, s), s)
        check_searches(g, s, spans)
        if not looks_back:
            assert find_iter(own_finder(g, s), s) == spans, s
        if not may_be_empty and not looks_back:
            # The common routines' scan finds the same non-empty matches.
            assert group.search_string_count(s) == len(spans)
            assert group.search_string(s) == [s[a:b] for a, b in spans]
            assert group.transform_string(s, "<>") == transformed(s, spans, "<>")


@pytest.mark.parametrize("pattern", [r"\C", r"\C\C", r"a\C", r"\C*", r"(?:\C\C)+"])
def test_byte_patterns_never_cut_a_character(pattern):
    # Python has no '\C': the model is the anchored rule at each position, which refuses a cut character.
    g = q.Regex(pattern)
    for s in TEXTS:
        spans = find_iter(own_finder(g, s), s)
        check_searches(g, s, spans)


# ---------------------------------------------------------------------------------------------------------------
# Batches.

def loop_tokens(g, items):
    return [g.parse_string(s)[0] for s in items if g.matches(s)]


def check_batch(g, items):
    distinct = {id(x): x for x in items}
    with refcounts_unchanged(*distinct.values()):
        check_batch_result(g, items, distinct)
    assert call_checked(g.parse_batch_count, items) == sum(g.matches(s) for s in items)


def check_batch_result(g, items, distinct):
    result = call_checked(g.parse_batch, items)
    held = [sys.getrefcount(t) - 2 for t in result]  # less the argument and the loop variable
    assert type(result) is list and result == loop_tokens(g, items)
    matching = [s for s in items if g.matches(s)]
    token_of = {}
    for s, t, h in zip(matching, result, held):
        assert type(t) is str
        # Every occurrence of one input object gives one token object; a whole match is the input itself.
        assert token_of.setdefault(id(s), t) is t
        assert (t is s) == (len(t) == len(s))
        if id(t) not in distinct and len(t) > 1:  # shorter strs are the interpreter's shared ones
            assert h == sum(r is t for r in result), "a made token is held by its slots alone"


def batch_shapes():
    a, b, c, x = fresh("ab"), fresh("a!"), fresh("ba"), fresh("aab")
    hundred = [fresh(f"a{i}") for i in range(100)]
    mixed = [fresh(f"a{i}" if i % 3 else f"b{i}") for i in range(60)]
    return {
        "empty": [],
        "one-whole": [a],
        "one-partial": [b],
        "one-failing": [c],
        "uniform-5": [a] * 5,
        "uniform-failing": [c] * 5,
        "period-2": [a, c] * 4,
        "period-2-partial": [a, c, a, c, a],
        "period-3-partial-with-failing-tail": [c, b, x] * 3 + [c],
        "repeat-inside-period": [a, b, b, x] * 3 + [a, b],
        "all-failing-period-partial": [c, fresh("bb")] * 3 + [c],
        "205": hundred + hundred + hundred[:5],
        "no-period": [a, b, a, c, x, a, b],
        "runs": [a, a, b, b, b, c, a],
        "equal-text-distinct-objects": [a, fresh("ab"), a, fresh("ab")],
        "period-127": ([a] + [fresh(f"a{i}") for i in range(126)]) * 2 + [a],
        "recurs-at-128": ([a] + [fresh(f"a{i}") for i in range(127)]) * 2,
        "mixed": mixed + mixed[::-1] + mixed,
        "non-ascii": [fresh(E + "a"), fresh("a" + E), fresh(E)] * 3,
    }


@pytest.mark.parametrize("name", list(batch_shapes()))
@pytest.mark.parametrize("pattern", ["ab", "a", "a.?", "a" + E + "?", "[ab]*", "(?:a\\d)+|ab"])
def test_batch_methods_equal_a_loop(pattern, name):
    check_batch(q.Regex(pattern), batch_shapes()[name])


def test_batch_of_one_object_shares_one_token():
    x = fresh("ab")
    result = q.Regex("a").parse_batch([x] * 5)
    assert result == ["a"] * 5 and all(t is result[0] for t in result)
    assert q.Regex("ab").parse_batch([x] * 5) == [x] * 5 and all(t is x for t in q.Regex("ab").parse_batch([x] * 5))
    assert q.Regex("z").parse_batch([x] * 5) == []
    assert q.Regex("a").parse_batch_count([x] * 5) == 5
    assert q.Regex("z").parse_batch_count([x] * 5) == 0


def test_long_period_with_a_remainder():
    hundred = [fresh(f"a{i}x") for i in range(100)]
    items = hundred + hundred + hundred[:5]
    result = q.Regex(r"a\d+").parse_batch(items)
    assert result == [s[:-1] for s in items]
    assert all(result[100 + i] is result[i] for i in range(100))
    assert all(result[200 + i] is result[i] for i in range(5))
    assert [sys.getrefcount(result[i]) - 1 for i in (0, 4, 5, 99)] == [3, 3, 2, 2]


def test_batch_token_of_a_str_subclass_is_a_str():
    class Text(str):
        pass

    t = Text("ab")
    for items in ([t], [t, t, t], [t, fresh("x"), t]):
        result = q.Regex("ab").parse_batch(items)
        assert result == ["ab"] * items.count(t) and all(type(r) is str for r in result)


def test_million_item_batches():
    a, c = fresh("ab"), fresh("ba")
    n = 1_000_000
    r = q.Regex("ab").parse_batch([fresh("abx")] * n)
    held = sys.getrefcount(r[0]) - 1  # read outside the assertion, whose rewriting keeps temporaries
    assert len(r) == n and r[-1] is r[0] and held == n
    r = q.Regex("ab").parse_batch([a, c, c] * (n // 3) + [a])
    assert len(r) == n // 3 + 1 and all(t is a for t in r[:5])
    assert q.Regex("ab").parse_batch_count([a, c, c] * (n // 3) + [a]) == n // 3 + 1
    del r


@pytest.mark.parametrize("make, index, type_name", BAD_ITEMS)
@pytest.mark.parametrize("method", ["parse_batch", "parse_batch_count"])
def test_non_str_item_is_a_type_error_naming_the_first_one(method, make, index, type_name):
    a, b = fresh("ab"), fresh("ba")
    items = make(a, b)
    with refcounts_unchanged(a, b), pytest.raises(TypeError) as info:
        call_checked(getattr(q.Regex("a"), method), items)
    assert type(info.value) is TypeError
    assert str(info.value) == f"argument 'inputs': item {index}: '{type_name}' object cannot be converted to 'PyString'"


@pytest.mark.parametrize("method", ["parse_batch", "parse_batch_count"])
@pytest.mark.parametrize("make", [lambda a, s: [s], lambda a, s: [a, s, a, s], lambda a, s: [a, a, s, 5]],
                         ids=["only-item", "inside-period", "before-a-non-str"])
def test_str_without_utf8_form_raises_the_interpreters_error(method, make):
    a, bad = fresh("ab"), "x\ud800y"
    items = make(a, bad)
    before = [sys.getrefcount(x) for x in (a, bad, items)]
    with pytest.raises(UnicodeEncodeError) as info:
        getattr(q.Regex("a"), method)(items)
    assert info.value.object is bad
    del info
    assert [sys.getrefcount(x) for x in (a, bad, items)] == before


@pytest.mark.parametrize("method, args", [
    ("parse_string", (5,)), ("matches", (None,)), ("search_string", (b"a",)), ("search_string_count", (1.0,)),
    ("parse_batch", ("ab",)), ("parse_batch_count", ((),)), ("transform_string", ("a", 5)),
])
def test_argument_errors_come_before_any_search(method, args):
    with pytest.raises(TypeError) as info:
        call_checked(getattr(q.Regex("a"), method), *args)
    name = "replacement" if method == "transform_string" else "inputs" if "batch" in method else "s"
    expected = "PyList" if "batch" in method else "PyString"
    assert str(info.value) == (f"argument '{name}': '{type(args[-1]).__name__}' object cannot be converted to "
                               f"'{expected}'")
