"""The in-place methods of Char, Empty, NoMatch, LineEnd, LineStart, StringEnd, StringStart and rest_of_line:
`matches`, `search_string_count` and `parse_batch_count` against a model of each element's rule run through the
scan rule and a plain loop, over texts with line breaks and multi-byte characters, with reference counts checked
on every call."""
import pytest

import quillex as q
from conftest import call_checked, refcounts_unchanged

E_ACUTE, A_TILDE, EURO = "\u00e9", "\u00e3", "\u20ac"

TEXTS = ["", "a", "abc", "b", "zb", "\n", "\n\n", "a\n", "\na", "ab\ncd", "a\r\nb", "a\nb\n", E_ACUTE,
         E_ACUTE + "a\n" + E_ACUTE, A_TILDE + EURO, "b\nb\n\nb", "x" * 70 + "\n" + "y" * 70,
         "\n" + EURO + "\n" + E_ACUTE + "a", "abcabc", EURO * 3]


# Models of each element's try_match_at over the UTF-8 bytes: the end of the match at p, or None.
def _char_model(chars):
    def match(b, p):
        if p >= len(b) or (b[p] & 0xC0) == 0x80:
            return None
        n = 1 if b[p] < 0x80 else 2 if b[p] < 0xE0 else 3 if b[p] < 0xF0 else 4
        return p + n if b[p:p + n].decode() in chars else None
    return match


def _rest_of_line(b, p):
    if p < len(b) and (b[p] & 0xC0) == 0x80:
        return None
    i = b.find(b"\n", p)
    return len(b) if i < 0 else i


MODELS = {
    "Empty": (q.Empty, lambda b, p: p),
    "NoMatch": (q.NoMatch, lambda b, p: None),
    "LineEnd": (q.LineEnd, lambda b, p: p if p == len(b) else p + 1 if b[p] == 10 else None),
    "LineStart": (q.LineStart, lambda b, p: p if p == 0 or b[p - 1] == 10 else None),
    "StringStart": (q.StringStart, lambda b, p: 0 if p == 0 else None),
    "StringEnd": (q.StringEnd, lambda b, p: p if p == len(b) else None),
    "rest_of_line": (q.rest_of_line, _rest_of_line),
    "Char('abc')": (lambda: q.Char("abc"), _char_model("abc")),
    "Char('a\\n')": (lambda: q.Char("a\n"), _char_model("a\n")),
    "Char('')": (lambda: q.Char(""), _char_model("")),
    "Char('éa')": (lambda: q.Char(E_ACUTE + "a"), _char_model(E_ACUTE + "a")),
    "Char('€ã')": (lambda: q.Char(EURO + A_TILDE), _char_model(EURO + A_TILDE)),
}


def scan(match, b):
    """The scan rule: positions 0 to len - 1, each match counted (zero-length ones too), resuming at the larger
    of the next position and the match end."""
    matches, pos = [], 0
    while pos < len(b):
        end = match(b, pos)
        if end is None:
            pos += 1
        else:
            matches.append((pos, end))
            pos = max(pos + 1, end)
    return matches


@pytest.fixture(params=list(MODELS), ids=list(MODELS))
def model(request):
    make, match = MODELS[request.param]
    return make(), match


@pytest.mark.parametrize("text", TEXTS, ids=[repr(t) for t in TEXTS])
def test_matches_and_count_follow_the_element_rule(model, text):
    g, match = model
    b = text.encode()
    assert call_checked(g.matches, text) is (match(b, 0) is not None)
    found = scan(match, b)
    count = call_checked(g.search_string_count, text)
    assert type(count) is int and count == len(found)
    # search_string (a common routine) lists the non-empty ones of the same matches.
    assert g.search_string(text) == [b[s:e].decode() for s, e in found if e > s]


def _batch_shapes():
    a, b, c = "a" * 3, "\n", E_ACUTE + "x"
    distinct = ["%dx" % i if i % 3 else "\n%d" % i for i in range(40)]  # more than the 31 cached verdicts
    return {
        "empty": [],
        "one": [a],
        "uniform": [c] * 1000,
        "period-2-exact": [a, b] * 50,
        "period-3-tail": ([a, b, c] * 7)[:20],
        "period-127": [str(i) for i in range(127)] * 2 + ["0"],
        "distinct": distinct,
        "distinct-repeated": distinct * 3 + distinct[:5],
        "equal-not-identical": ["".join(["a", "b"]) for _ in range(10)] + [""],
        "mixed": [a, a, b, a, "", c, c, "", "\nq", a],
    }


BATCH_SHAPES = _batch_shapes()


@pytest.mark.parametrize("shape", list(BATCH_SHAPES), ids=list(BATCH_SHAPES))
def test_batch_count_equals_a_plain_loop(model, shape):
    g, match = model
    inputs = BATCH_SHAPES[shape]
    expected = sum(match(t.encode(), 0) is not None for t in inputs)
    with refcounts_unchanged(*set(inputs)):
        assert call_checked(g.parse_batch_count, inputs) == expected
    assert expected == sum(g.matches(t) for t in inputs)


@pytest.mark.parametrize("shape", ["uniform", "period-3-tail", "distinct-repeated", "mixed"])
def test_batch_parse_equals_a_plain_loop(model, shape):
    g, _ = model
    inputs = BATCH_SHAPES[shape]

    def one(text):
        try:
            return g.parse_string(text)
        except ValueError:
            return []

    assert call_checked(g.parse_batch, inputs) == [one(t) for t in inputs]


CLASSES = [q.Empty, q.NoMatch, q.LineEnd, q.LineStart, q.StringStart, q.StringEnd, q.rest_of_line,
           lambda: q.Char("a")]
CLASS_IDS = ["Empty", "NoMatch", "LineEnd", "LineStart", "StringStart", "StringEnd", "rest_of_line", "Char"]

# A bad item is reported as a plain loop meets it: the first in list order, also where a shortcut (uniform
# list, input period, verdict cache) would settle the items without reading them.
BAD_ITEMS = [
    ([1], 0, "int"),
    ([7] * 5, 0, "int"),
    (["a", None], 1, "NoneType"),
    (["a", b"x", "a", b"x"], 1, "bytes"),
    (["a", "b", "c"] * 3 + [2.5], 9, "float"),
    ([str(i) for i in range(40)] + [[]], 40, "list"),
]


@pytest.mark.parametrize("cls", CLASSES, ids=CLASS_IDS)
@pytest.mark.parametrize("inputs, index, type_name", BAD_ITEMS, ids=[f"item-{c[1]}" for c in BAD_ITEMS])
def test_batch_count_reports_the_first_bad_item(cls, inputs, index, type_name):
    g = cls()
    with pytest.raises(TypeError) as info:
        call_checked(g.parse_batch_count, inputs)
    assert str(info.value) == (f"argument 'inputs': item {index}: '{type_name}' object cannot be converted to "
                               f"'PyString'")


@pytest.mark.parametrize("cls", CLASSES, ids=CLASS_IDS)
def test_batch_count_of_a_text_without_utf8_form(cls):
    g = cls()
    with pytest.raises(UnicodeEncodeError):
        call_checked(g.parse_batch_count, ["a", "\ud800"])
    with pytest.raises(UnicodeEncodeError):
        call_checked(g.search_string_count, "\ud800")
    assert g.parse_batch_count(["a"]) in (0, 1)  # the receiver stays usable


@pytest.mark.parametrize("cls", CLASSES, ids=CLASS_IDS)
def test_in_place_methods_keep_counts_of_str_subclasses(cls):
    class S(str):
        pass

    g = cls()
    s = S("a\nb")
    with refcounts_unchanged(s):
        assert call_checked(g.matches, s) == g.matches("a\nb")
        assert call_checked(g.search_string_count, s) == g.search_string_count("a\nb")
        assert call_checked(g.parse_batch_count, [s, s]) == 2 * g.matches("a\nb")


def test_results_are_exact_bools_and_ints():
    g = q.Char("a")
    assert g.matches("a") is True and g.matches("b") is False
    assert type(g.search_string_count("a" * 5)) is int
    big = ["a"] * 100_000
    assert q.Empty().parse_batch_count(big) == 100_000
    assert q.Empty().search_string_count("x" * 100_000) == 100_000


# The Char methods on the common routines, with the whole-character rule for non-ASCII members.
CHAR_CASES = [
    ("abc", "parse_string", ("bz",), ["b"]),
    ("abc", "search_string", ("xaybzc",), ["a", "b", "c"]),
    ("abc", "transform_string", ("xaybz", "-"), "x-y-z"),
    ("abc", "parse_batch", (["b", "", "xb", "a"],), [["b"], [], [], ["a"]]),
    ("abc", "search_string_count", ("abcabc",), 6),
    ("abc", "parse_batch_count", (["b", "", "xb", "a"],), 2),
    (E_ACUTE + "a", "search_string_count", (E_ACUTE + "a" + E_ACUTE,), 3),
    (E_ACUTE + "a", "search_string", (E_ACUTE + "a" + E_ACUTE,), [E_ACUTE, "a", E_ACUTE]),
    (E_ACUTE + "a", "matches", (A_TILDE,), False),
    (E_ACUTE + "a", "search_string_count", (A_TILDE + E_ACUTE,), 1),
    (E_ACUTE + "a", "parse_string", (E_ACUTE + "x",), [E_ACUTE]),
    (E_ACUTE + "a", "transform_string", ("x" + E_ACUTE + A_TILDE, "-"), "x-" + A_TILDE),
    (EURO, "parse_batch", ([EURO, "\u20ad", ""],), [[EURO], [], []]),
    (EURO, "parse_batch_count", ([EURO, "\u20ad", EURO + "x"],), 2),
]


@pytest.mark.parametrize("chars, method, args, expected", CHAR_CASES,
                         ids=[f"{c[0]!r}.{c[1]}-{i}" for i, c in enumerate(CHAR_CASES)])
def test_char_methods(chars, method, args, expected):
    g = q.Char(chars)
    assert call_checked(getattr(g, method), *args) == expected


@pytest.mark.parametrize("chars, text", [("abc", ""), ("abc", "zb"), ("", "a"), (E_ACUTE, A_TILDE)])
def test_char_parse_string_failure(chars, text):
    g = q.Char(chars)
    with pytest.raises(ValueError) as info:
        call_checked(g.parse_string, text)
    assert str(info.value) == f"ParseException at position 0: Expected one of '{chars}'"
