"""matches and search_string_count of QuotedString, CaselessLiteral and CaselessKeyword (their own in-place
bodies) against three other routes on the same inputs:

- a Python model of the element rules over the UTF-8 bytes;
- the scan rule (positions 0 .. L-1, resume at max(p + 1, end)) driven by the common parse_string route at each
  position (the rule never looks before its start, so a match at p is a match at 0 of the rest of the text);
- the common routines' own scan through a Group wrapper.
Small exhaustive worlds hold a multi-byte character; reference counts are checked around the calls."""

import itertools

import pytest

import quillex as q
from conftest import call_checked

E = "\u00e9"  # é: C3 A9
E_GRAVE = "\u00e8"  # è: C3 A8, the same lead byte
E_UPPER = "\u00c9"  # É
EURO = "\u20ac"
IDENT = set(b"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_")


# ---------------------------------------------------------------------------------------------------------------
# Python models of the rules: (matched, end) at byte position p of the bytes b.

def fold(b):
    return bytes(c + 0x20 if 0x41 <= c <= 0x5A else c for c in b)


def model_caseless(word, keyword):
    lower = fold(word.encode())

    def rule(b, p):
        end = p + len(lower)
        if end > len(b) or fold(b[p:end]) != lower:
            return False, 0
        if keyword and end < len(b) and b[end] in IDENT:
            return False, 0
        return True, end

    return rule


def first_char(s):
    return s[:1].encode()


def model_quoted(quote_char='"', esc_char=None, multiline=False):
    qb = first_char(quote_char or '"')
    eb = first_char(esc_char) if esc_char else b""

    def rule(b, p):
        n = len(b)
        if p >= n or len(qb) >= n - p or b[p : p + len(qb)] != qb:
            return False, 0
        i = p + len(qb)
        while i < n:
            if b[i] == 0x0A and not multiline:
                return False, 0
            if eb and b[i : i + len(eb)] == eb:
                i += len(eb) + 1
            elif b[i : i + len(qb)] == qb:
                return True, i + len(qb)
            else:
                i += 1
        return False, 0

    return rule


def scan_count(rule, b):
    count, p = 0, 0
    while p < len(b):
        matched, end = rule(b, p)
        if matched:
            count += 1
            p = max(p + 1, end)
        else:
            p += 1
    return count


def route_rule(end_at_start):
    """The rule at p from the common parse_string route on the rest of the text. Only a zero-length match can
    lie inside a character (the rules open on a whole character): an empty caseless element's, which needs no
    byte (a continuation byte is no identifier byte). `end_at_start(rest)` gives the end in bytes or None."""

    def rule(b, p):
        if p < len(b) and (b[p] & 0xC0) == 0x80:
            end = end_at_start(b"")  # the empty element's answer: no byte is looked at
            return (True, p) if end == 0 else (False, 0)
        end = end_at_start(b[p:].decode())
        return (True, p + end) if end is not None else (False, 0)

    return rule


def parse_end(g, lower_len=None):
    """End in bytes of the common parse_string route at 0: the token's length for an unquote=False
    QuotedString, the folded text's length for the caseless kinds."""

    def end_at_start(rest):
        if isinstance(rest, bytes):
            rest = rest.decode()
        try:
            tokens = g.parse_string(rest)
        except ValueError as exc:
            assert str(exc).startswith("ParseException at position 0: ")
            return None
        return lower_len if lower_len is not None else len(tokens[0].encode())

    return end_at_start


def check_world(g, rule, route, texts):
    group = q.Group(g)
    for s in texts:
        b = s.encode()
        matched = rule(b, 0)[0]
        assert call_checked(g.matches, s) is matched, s
        assert route(b, 0)[0] is matched, s
        assert group.matches(s) is matched, s
        count = scan_count(rule, b)
        assert call_checked(g.search_string_count, s) == count, s
        assert scan_count(route, b) == count, s
        assert group.search_string_count(s) == count, s


def texts_over(alphabet, longest):
    return ["".join(t) for n in range(longest + 1) for t in itertools.product(alphabet, repeat=n)]


# ---------------------------------------------------------------------------------------------------------------
# Small exhaustive worlds.

QUOTED_CONFIGS = [
    ('"', None, False),
    ('"', None, True),
    ('"', "\\", False),
    ('"', "\\", True),
    ("'", "'", False),           # the escape is the quote: nothing ever closes
    ("", None, False),           # an empty quote_char means '"'
    ("ab", "cd", False),         # only the first characters count
    (E, E_GRAVE, False),         # multi-byte quote and escape with one lead byte
    (EURO, "\\", True),
    ("\n", None, False),         # a line break as the quote: it never opens a single-line string
    ("\n", None, True),
]


@pytest.mark.parametrize("quote_char, esc_char, multiline", QUOTED_CONFIGS,
                         ids=[f"{c!r}-{e!r}-{'multi' if m else 'single'}" for c, e, m in QUOTED_CONFIGS])
@pytest.mark.parametrize("unquote", [True, False])
def test_quoted_string_small_world(quote_char, esc_char, multiline, unquote):
    g = q.QuotedString(quote_char, esc_char, multiline, unquote)
    twin = q.QuotedString(quote_char, esc_char, multiline, False)  # its token spans the whole match
    quote = (quote_char or '"')[0]
    alphabet = sorted({quote, *(esc_char or "")[:1], "a", "\n", E, E_GRAVE if quote == E else '"'})
    check_world(g, model_quoted(quote_char, esc_char, multiline), route_rule(parse_end(twin)),
                texts_over(alphabet, 5 if len(alphabet) <= 5 else 4))


CASELESS_WORDS = ["", "a", "ab", "AB", "aB_", "a b", E, E_UPPER, "[", "a" + E, "Aa"]


@pytest.mark.parametrize("word", CASELESS_WORDS, ids=[repr(w) for w in CASELESS_WORDS])
@pytest.mark.parametrize("cls", ["CaselessLiteral", "CaselessKeyword"])
def test_caseless_small_world(cls, word):
    g = getattr(q, cls)(word)
    lower_len = len(word.encode())
    texts = texts_over(["a", "A", "b", "B", "_", " ", "[", "{", E, E_UPPER], 3)
    check_world(g, model_caseless(word, cls == "CaselessKeyword"), route_rule(parse_end(g, lower_len)), texts)


# ---------------------------------------------------------------------------------------------------------------
# Cases worth naming.

QS = q.QuotedString()
ESC = q.QuotedString('"', "\\")
CL_AB = q.CaselessLiteral("ab")
CK_END = q.CaselessKeyword("end")

CASES = [
    (QS, "matches", '"abc" and more', True),
    (QS, "matches", '"', False),
    (QS, "matches", "", False),
    (QS, "matches", '"abc', False),
    (QS, "matches", 'x"a"', False),                    # the match must start at 0
    (QS, "matches", '""', True),
    (QS, "search_string_count", '"a" "b"', 2),
    (QS, "search_string_count", '"a\nb"', 0),
    (q.QuotedString('"', None, True), "search_string_count", '"a\nb"', 1),
    (QS, "search_string_count", '""""', 2),
    (QS, "search_string_count", '"a"b"c"', 2),          # matches never overlap
    (ESC, "search_string_count", '"\\"\\"\\"', 0),      # escaped quotes never close, nor open anew
    (ESC, "search_string_count", '"\\"\\"\\"x"', 1),
    (ESC, "search_string_count", 'x"\\\n"', 1),         # an escape skips a line break
    (ESC, "matches", '"\\', False),                     # an escape as the last byte
    (q.QuotedString("'", "'"), "search_string_count", "'a' 'b'", 0),
    (CK_END, "matches", "END;", True),
    (CK_END, "matches", "Endx", False),
    (CK_END, "matches", "end" + E, True),               # a non-ASCII byte is no identifier byte
    (CK_END, "search_string_count", "end END eNd_ x", 2),
    (CK_END, "search_string_count", "backend end", 2),  # the byte before a match is not looked at
    (CL_AB, "search_string_count", "abABaB", 3),
    (q.CaselessLiteral("AA"), "search_string_count", "aaa", 1),
    (CL_AB, "matches", "a", False),
    (q.CaselessLiteral(E), "search_string_count", E_UPPER + E, 1),  # only A-Z fold
    (q.CaselessLiteral("["), "search_string_count", "[{", 1),
    (q.CaselessLiteral(""), "search_string_count", E, 2),          # every byte position below L
    (q.CaselessLiteral(""), "search_string_count", "", 0),
    (q.CaselessLiteral(""), "matches", "", True),
    (q.CaselessKeyword(""), "search_string_count", "a b", 1),
    (q.CaselessKeyword(""), "search_string_count", E + "_", 2),
    (q.CaselessKeyword(""), "matches", "a", False),
]


@pytest.mark.parametrize("g, method, s, expected", CASES,
                         ids=[f"{type(g).__name__}.{m}-{s!r}" for g, m, s, _ in CASES])
def test_cases(g, method, s, expected):
    result = call_checked(getattr(g, method), s)
    assert type(result) is type(expected) and result == expected


# The other five methods are the common routines with the element's operations.
COMMON_CASES = [
    (QS, "parse_string", ('"ab"',), ["ab"]),
    (q.QuotedString('"', None, False, False), "parse_string", ('"ab"x',), ['"ab"']),
    (QS, "search_string", ('x "ab" y',), ['"ab"']),     # the slices of the text, quotes included
    (QS, "transform_string", ('x "ab" y', "S"), "x S y"),
    (QS, "parse_batch", (['"a"', "b"],), [["a"], []]),
    (QS, "parse_batch_count", (['"a"', "b", '""'],), 2),
    (q.CaselessLiteral("ab"), "parse_string", ("ABc",), ["ab"]),
    (q.CaselessLiteral("ab"), "search_string", ("xABy",), ["AB"]),
    (CK_END, "transform_string", ("END endx End", "e"), "e endx e"),
    (CK_END, "parse_batch_count", (["end", "ends", "END."],), 2),
]


@pytest.mark.parametrize("g, method, args, expected", COMMON_CASES,
                         ids=[f"{type(g).__name__}.{m}-{a[0]!r}" for g, m, a, _ in COMMON_CASES])
def test_common_methods(g, method, args, expected):
    assert call_checked(getattr(g, method), *args) == expected


@pytest.mark.parametrize("g, message", [
    (QS, "ParseException at position 0: Expected quoted string starting with '\"'"),
    (q.QuotedString(""), "ParseException at position 0: Expected quoted string starting with ''"),
    (CL_AB, "ParseException at position 0: Expected 'ab' (caseless)"),
    (CK_END, "ParseException at position 0: Expected keyword 'end' (caseless)"),
], ids=["QuotedString", "QuotedString-empty-quote", "CaselessLiteral", "CaselessKeyword"])
def test_parse_string_failure_messages(g, message):
    with pytest.raises(ValueError) as info:
        call_checked(g.parse_string, "x")
    assert str(info.value) == message


@pytest.mark.parametrize("g", [QS, CL_AB, CK_END], ids=["QuotedString", "CaselessLiteral", "CaselessKeyword"])
@pytest.mark.parametrize("method", ["matches", "search_string_count"])
def test_argument_errors(g, method):
    with pytest.raises(TypeError) as info:
        call_checked(getattr(g, method), b"x")
    assert str(info.value) == "argument 's': 'bytes' object cannot be converted to 'PyString'"
    with pytest.raises(UnicodeEncodeError):
        call_checked(getattr(g, method), "\ud800")


def test_long_texts():
    # An unclosed quote before many escaped quotes, and long runs of candidates.
    k = 100_000
    assert ESC.search_string_count('"' + '\\"' * k) == 0
    assert ESC.search_string_count('"' + '\\"' * k + '"') == 1
    assert QS.search_string_count('"a"' * k) == k
    assert QS.search_string_count(('"' + "a" * 10 + "\n") * k) == 0
    assert CK_END.search_string_count("END " * k) == k
    assert CL_AB.search_string_count("aB" * k + "a") == k
