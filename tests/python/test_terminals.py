"""The constructors of the eight terminal classes: argument rules and their exact errors, what each builds
(seen through the methods), the failure messages of the classes whose parse_string is the common routine, and
the Regex compile errors. Reference counts of the arguments are checked around every constructor call."""
import pytest

import quillex as q
from conftest import call_checked

E_ACUTE, E_CIRC, A_TILDE, EURO, A_MACRON = "\u00e9", "\u00ea", "\u00e3", "\u20ac", "\u0101"
TEXT_CLASSES = ["Literal", "Keyword", "CaselessLiteral", "CaselessKeyword", "Char"]
ALL_TERMINALS = TEXT_CLASSES + ["Word", "Regex", "QuotedString"]


class StrSub(str):
    pass


# ---------------------------------------------------------------------------------------------------------------
# Construction

CONSTRUCTIONS = [(name, ("",), {}) for name in TEXT_CLASSES] + [
    ("Literal", (StrSub("ab"),), {}),
    ("Char", (), {"s": E_ACUTE + "a"}),
    ("Word", ("",), {}),
    ("Word", ("abc", None), {}),
    ("Word", (), {"body_chars": "", "init_chars": "a"}),
    ("Word", ("a" + A_MACRON, EURO), {}),
    ("Regex", ("",), {}),
    ("Regex", (), {"pattern": "^a|b"}),
    ("QuotedString", (), {}),
    ("QuotedString", ("",), {}),
    ("QuotedString", ("'", ""), {}),
    ("QuotedString", (EURO, E_ACUTE, True, False), {}),
    ("QuotedString", (), {"unquote": False, "multiline": True, "esc_char": "\\", "quote_char": "ab"}),
]


@pytest.mark.parametrize("name, args, kwargs", CONSTRUCTIONS,
                         ids=[f"{c[0]}-{i}" for i, c in enumerate(CONSTRUCTIONS)])
def test_constructors_accept(name, args, kwargs):
    cls = getattr(q, name)
    obj = call_checked(cls, *args, **kwargs)
    assert type(obj) is cls
    assert obj.matches("") in (True, False)


@pytest.mark.parametrize("name", ALL_TERMINALS)
def test_instances_are_distinct(name):
    cls = getattr(q, name)
    objs = [cls("a") for _ in range(500)]
    assert len({id(o) for o in objs}) == 500
    assert all(o.matches("a a") for o in objs)
    del objs


ARGUMENT_ERRORS = [
    (name, args, kwargs, f"{name}.__new__() " + text)
    for name in TEXT_CLASSES
    for args, kwargs, text in [
        ((), {}, "missing 1 required positional argument: 's'"),
        (("a", "b"), {}, "takes 1 positional arguments but 2 were given"),
        (("a", "b"), {"zzz": 1}, "takes 1 positional arguments but 2 were given"),
        (("a",), {"s": "b"}, "got multiple values for argument 's'"),
        ((), {"t": "a"}, "got an unexpected keyword argument 't'"),
    ]
] + [
    (name, (5,), {}, "argument 's': 'int' object cannot be converted to 'PyString'") for name in TEXT_CLASSES
] + [
    ("Word", (), {}, "Word.__new__() missing 1 required positional argument: 'init_chars'"),
    ("Word", ("a", "b", "c"), {}, "Word.__new__() takes from 1 to 2 positional arguments but 3 were given"),
    ("Word", ("a",), {"init_chars": "b"}, "Word.__new__() got multiple values for argument 'init_chars'"),
    ("Word", ("a",), {"body": "b"}, "Word.__new__() got an unexpected keyword argument 'body'"),
    ("Word", (None,), {}, "argument 'init_chars': 'NoneType' object cannot be converted to 'PyString'"),
    ("Word", (b"a",), {}, "argument 'init_chars': 'bytes' object cannot be converted to 'PyString'"),
    ("Word", (1, 2), {}, "argument 'init_chars': 'int' object cannot be converted to 'PyString'"),
    ("Word", ("a", ["b"]), {}, "argument 'body_chars': 'list' object cannot be converted to 'PyString'"),
    ("Regex", (), {}, "Regex.__new__() missing 1 required positional argument: 'pattern'"),
    ("Regex", ("a", "b"), {}, "Regex.__new__() takes 1 positional arguments but 2 were given"),
    ("Regex", (), {"s": "a"}, "Regex.__new__() got an unexpected keyword argument 's'"),
    ("Regex", (1.5,), {}, "argument 'pattern': 'float' object cannot be converted to 'PyString'"),
    ("QuotedString", (), {"quote": "'"}, "QuotedString.__new__() got an unexpected keyword argument 'quote'"),
    ("QuotedString", ("'",), {"quote_char": "'"},
     "QuotedString.__new__() got multiple values for argument 'quote_char'"),
    ("QuotedString", ("a", "b", True, True, True), {},
     "QuotedString.__new__() takes from 0 to 4 positional arguments but 5 were given"),
    # Converted in parameter order: the first faulty one is reported.
    ("QuotedString", (1, 2, 3, 4), {}, "argument 'quote_char': 'int' object cannot be converted to 'PyString'"),
    ("QuotedString", ("'", 2, 3, 4), {}, "argument 'esc_char': 'int' object cannot be converted to 'PyString'"),
    ("QuotedString", ("'", None, 3, 4), {}, "argument 'multiline': 'int' object cannot be converted to 'PyBool'"),
    ("QuotedString", (), {"unquote": 1, "multiline": 0},
     "argument 'multiline': 'int' object cannot be converted to 'PyBool'"),
    ("QuotedString", (), {"unquote": None}, "argument 'unquote': 'NoneType' object cannot be converted to 'PyBool'"),
    ("QuotedString", (None,), {}, "argument 'quote_char': 'NoneType' object cannot be converted to 'PyString'"),
]


@pytest.mark.parametrize("name, args, kwargs, text", ARGUMENT_ERRORS,
                         ids=[f"{c[0]}-{i}" for i, c in enumerate(ARGUMENT_ERRORS)])
def test_argument_errors(name, args, kwargs, text):
    cls = getattr(q, name)
    with pytest.raises(TypeError) as info:
        call_checked(cls, *args, **kwargs)
    assert type(info.value) is TypeError
    assert str(info.value) == text


SURROGATE_CALLS = [(name, ("\ud800",), {}) for name in ALL_TERMINALS] + [
    ("Word", ("a", "\udfff"), {}),
    ("QuotedString", ('"', "\ud800"), {}),
]


@pytest.mark.parametrize("name, args, kwargs", SURROGATE_CALLS,
                         ids=[f"{c[0]}-{i}" for i, c in enumerate(SURROGATE_CALLS)])
def test_text_without_utf8_form_raises_the_interpreters_error(name, args, kwargs):
    with pytest.raises(UnicodeEncodeError):
        call_checked(getattr(q, name), *args, **kwargs)


# ---------------------------------------------------------------------------------------------------------------
# What the constructors build, seen through methods whose results every later body must keep.

BEHAVIOUR = [
    (q.Literal("ab"), "parse_string", "abc", ["ab"]),
    (q.Literal("ab"), "matches", "a", False),
    (q.Literal(""), "parse_string", "xyz", [""]),
    (q.Literal(E_ACUTE), "search_string", "a" + E_ACUTE + E_CIRC + E_ACUTE, [[E_ACUTE], [E_ACUTE]]),
    (q.Literal(StrSub("ab")), "parse_string", "ab", ["ab"]),
    (q.Keyword("if"), "matches", "if(x)", True),
    (q.Keyword("if"), "matches", "ifx", False),
    (q.Keyword("if"), "matches", "if_", False),
    (q.Keyword("if"), "search_string", "if elif if_ if", [["if"], ["if"], ["if"]]),
    (q.Keyword("a-b"), "matches", "a-bc", False),
    (q.Keyword("a-b"), "parse_string", "a-b c", ["a-b"]),
    (q.Keyword("if"), "matches", "if" + E_ACUTE, True),
    (q.CaselessLiteral("Hello"), "parse_string", "hELLO world", ["Hello"]),
    (q.CaselessLiteral("AbC"), "search_string", "abc ABC aBd", ["abc", "ABC"]),  # the matched slices
    (q.CaselessLiteral("\u00c9"), "matches", E_ACUTE, False),
    (q.CaselessLiteral("["), "matches", "{", False),
    (q.CaselessKeyword("end"), "parse_string", "END;", ["end"]),
    (q.CaselessKeyword("end"), "matches", "END_x", False),
    (q.Word("abc"), "parse_string", "abcabd", ["abcab"]),
    (q.Word("a", "b"), "parse_string", "abbbc", ["abbb"]),
    (q.Word("a", "b"), "matches", "ba", False),
    (q.Word("abc", "bc"), "parse_string", "aab", ["a"]),
    (q.Word("ab", ""), "parse_string", "abab", ["a"]),
    (q.Word("ab", None), "parse_string", "abab", ["abab"]),
    (q.Word(""), "matches", "abc", False),
    (q.Word("a" + A_MACRON), "matches", A_MACRON, False),
    (q.Word("a", A_MACRON), "parse_string", "a" + A_MACRON, ["a"]),
    # U+0080..U+00FF members match whole characters; é and ê share a lead byte.
    (q.Word(E_ACUTE), "search_string", E_ACUTE * 2 + E_CIRC + E_ACUTE, [E_ACUTE * 2, E_ACUTE]),
    (q.Word("a", E_ACUTE), "parse_string", "a" + E_ACUTE + E_CIRC, ["a" + E_ACUTE]),
    (q.Word("\u00c3"), "matches", E_ACUTE, False),  # U+00C3 is numbered like é's lead byte
    (q.Word("\u00a9"), "search_string_count", E_ACUTE, 0),  # U+00A9 like é's second byte
    (q.Word("\u00e0\u00e9", "\u00e0\u00e9"), "search_string", "\u00e0\u00e9x\u00e9", ["\u00e0\u00e9", "\u00e9"]),
    (q.Regex("[a-z]+"), "parse_string", "abc1", ["abc"]),
    (q.Regex("a|ab"), "parse_string", "ab", ["a"]),
    (q.Regex("\\s*"), "parse_string", "x", [""]),
    (q.Regex(""), "parse_string", "abc", [""]),
    (q.Regex("[^a]"), "matches", "a", False),
    (q.Regex("[\\d]"), "matches", "7", True),
    (q.Regex("^a|b"), "matches", "xb", False),
    (q.Regex("^a|b"), "matches", "b", True),
    (q.Regex("x$"), "matches", "xab", False),
    (q.Regex("."), "parse_string", E_ACUTE, [E_ACUTE]),
    (q.Regex("\\w+"), "parse_string", "ab" + E_ACUTE, ["ab"]),
    (q.Regex("\\C"), "matches", E_ACUTE, False),
    (q.QuotedString(), "parse_string", '"abc" rest', ["abc"]),
    (q.QuotedString(unquote=False), "parse_string", '"abc" rest', ['"abc"']),
    (q.QuotedString(), "parse_string", '""', [""]),
    (q.QuotedString(), "matches", '"a\nb"', False),
    (q.QuotedString(multiline=True), "parse_string", '"a\nb"', ["a\nb"]),
    (q.QuotedString(esc_char="\\"), "parse_string", '"a\\"b"', ['a\\"b']),
    (q.QuotedString(esc_char="\\"), "matches", '"a\\', False),
    (q.QuotedString(esc_char="\\"), "parse_string", '"a\\\nb"', ["a\\\nb"]),
    (q.QuotedString(esc_char='"'), "matches", '"ab"', False),
    (q.QuotedString(esc_char=""), "parse_string", '"a\\"', ["a\\"]),
    (q.QuotedString(""), "parse_string", '"x"', ["x"]),
    (q.QuotedString("ab"), "parse_string", "axa", ["x"]),
    (q.QuotedString(EURO), "parse_string", EURO + "a" + EURO, ["a"]),
    (q.QuotedString(EURO, unquote=False), "parse_string", EURO + "a" + EURO, [EURO + "a" + EURO]),
    (q.QuotedString(E_ACUTE), "search_string", E_CIRC + "a" + E_CIRC + E_ACUTE + "b" + E_ACUTE,
     [E_ACUTE + "b" + E_ACUTE]),
    (q.QuotedString('"', EURO), "parse_string", '"a' + EURO + '"b"', ["a" + EURO + '"b']),
]


@pytest.mark.parametrize("g, method, text, expected", BEHAVIOUR,
                         ids=[f"{type(c[0]).__name__}.{c[1]}-{i}" for i, c in enumerate(BEHAVIOUR)])
def test_built_elements_match(g, method, text, expected):
    assert call_checked(getattr(g, method), text) == expected


def test_results_share_no_state_between_calls():
    g = q.Literal("ab")
    first = g.parse_string("ab")
    first.append("x")
    assert g.parse_string("ab") == ["ab"]
    assert g.parse_batch(["ab", "x", "ab"]) == [["ab"], [], ["ab"]]


# ---------------------------------------------------------------------------------------------------------------
# Failure messages of the classes whose parse_string is the common routine.

MESSAGES = [
    (q.Char("abc"), "x", "Expected one of 'abc'"),
    (q.Char(""), "a", "Expected one of ''"),
    (q.CaselessLiteral("AbC"), "abd", "Expected 'AbC' (caseless)"),
    (q.CaselessLiteral("Hello"), "HELL", "Expected 'Hello' (caseless)"),
    (q.CaselessKeyword("end"), "END_x", "Expected keyword 'end' (caseless)"),
    (q.CaselessKeyword(E_ACUTE), E_ACUTE + "a", f"Expected keyword '{E_ACUTE}' (caseless)"),
    (q.QuotedString(), '"abc', "Expected quoted string starting with '\"'"),
    (q.QuotedString(), "", "Expected quoted string starting with '\"'"),
    (q.QuotedString("'"), '"a"', "Expected quoted string starting with '''"),
    (q.QuotedString(""), "x", "Expected quoted string starting with ''"),
    (q.QuotedString("ab"), "b", "Expected quoted string starting with 'ab'"),
    (q.QuotedString(EURO), EURO, f"Expected quoted string starting with '{EURO}'"),
]


@pytest.mark.parametrize("g, text, message", MESSAGES,
                         ids=[f"{type(c[0]).__name__}-{i}" for i, c in enumerate(MESSAGES)])
def test_parse_string_failure_messages(g, text, message):
    with pytest.raises(ValueError) as info:
        call_checked(g.parse_string, text)
    assert str(info.value) == "ParseException at position 0: " + message


# ---------------------------------------------------------------------------------------------------------------
# Regex compile errors: ValueError with RE2's description of the compiled (anchored) text, no argument prefix.

REGEX_ERRORS = [
    ("(", "regex parse error:\n    ^(?:()\nerror: missing ): ^(?:()"),
    ("^(", "regex parse error:\n    ^(\nerror: missing ): ^("),
    ("a{2,1}", "regex parse error:\n    ^(?:a{2,1})\nerror: invalid repetition size: {2,1}"),
    ("a**", "regex parse error:\n    ^(?:a**)\nerror: bad repetition operator: **"),
    ("[z-a]", "regex parse error:\n    ^(?:[z-a])\nerror: invalid character class range: z-a"),
    ("\\", "regex parse error:\n    ^(?:\\)\nerror: missing ): ^(?:\\)"),
    ("\\pL{1000}", "Compiled regex exceeds size limit of 10485760 bytes."),
]


@pytest.mark.parametrize("pattern, text", REGEX_ERRORS, ids=[c[0] for c in REGEX_ERRORS])
def test_regex_compile_errors(pattern, text):
    with pytest.raises(ValueError) as info:
        call_checked(q.Regex, pattern)
    assert type(info.value) is ValueError
    assert str(info.value) == text


def test_regex_nesting_limit_counts_groups_and_repetitions_only():
    deep = "(?:a" * 126 + ")*" * 126  # 252 levels: each group and its repetition
    with pytest.raises(ValueError) as info:
        q.Regex(deep + "**")  # refused for its depth before RE2 reads the stacked operator
    assert str(info.value) == ("regex parse error:\n    ^(?:" + deep + "**)\nerror: nesting too deep: more than 250 "
                               "levels of groups and repetitions")
    assert q.Regex("(?:a" * 125 + ")*" * 125).matches("a")
    # Escaped and quoted parentheses and those of a class are characters, not levels.
    for pattern, text in [("\\(" * 300, "(" * 300), ("\\Q" + "(" * 300 + "\\E", "(" * 300),
                          ("[" + "(" * 300 + "]+", "((")]:
        assert q.Regex(pattern).parse_string(text) == [text]


def test_regex_budget_is_the_stated_limit():
    # Past RE2's default budget of 8 MiB, within the stated 10485760 bytes; then past it.
    g = call_checked(q.Regex, "\\pL{500}")
    assert g.matches("a" * 500)
    assert not g.matches("a" * 499)
    with pytest.raises(ValueError, match="^Compiled regex exceeds size limit of 10485760 bytes.$"):
        q.Regex("\\pL{600}")
