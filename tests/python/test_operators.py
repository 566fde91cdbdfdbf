"""The grammar operators: +, |, <<= and Forward.set, their flattening rules and their refusals."""
import pytest
from conftest import raw_method, refcounts_unchanged

import quillex as q
from quillex import (And, Empty, Forward, Group, Literal, MatchFirst, Optional, Suppress, Word)

L = Literal


def every_class_instance():
    """One instance of each of the 26 classes, by class name."""
    return {
        "Literal": L("a"), "Keyword": q.Keyword("a"), "Word": Word("a"), "Regex": q.Regex("a"),
        "And": L("a") + L("b"), "MatchFirst": L("a") | L("b"), "ZeroOrMore": q.ZeroOrMore(L("a")),
        "OneOrMore": q.OneOrMore(L("a")), "Optional": Optional(L("a")), "Group": Group(L("a")),
        "Suppress": Suppress(L("a")), "Forward": Forward(), "Combine": q.Combine(L("a")),
        "Exactly": q.Exactly(L("a"), 1), "CaselessLiteral": q.CaselessLiteral("a"),
        "CaselessKeyword": q.CaselessKeyword("a"), "Char": q.Char("a"), "StringStart": q.StringStart(),
        "StringEnd": q.StringEnd(), "LineStart": q.LineStart(), "LineEnd": q.LineEnd(),
        "rest_of_line": q.rest_of_line(), "QuotedString": q.QuotedString(), "Empty": Empty(),
        "NoMatch": q.NoMatch(), "SkipTo": q.SkipTo(L("a")),
    }


CLASS_NAMES = list(every_class_instance())


@pytest.mark.parametrize("name", CLASS_NAMES)
def test_every_class_combines_on_both_sides(name):
    x = every_class_instance()[name]
    assert type(x).__name__ == name
    assert type(x + L("z")) is And
    assert type(L("z") + x) is And
    assert type(L("z") | x) is MatchFirst
    if name == "And":
        with pytest.raises(TypeError) as info:
            x | L("z")
        assert str(info.value) == "unsupported operand type(s) for |: 'builtins.And' and 'builtins.Literal'"
    else:
        assert type(x | L("z")) is MatchFirst
    with refcounts_unchanged(x):
        kept = [x + L("z"), L("z") + x, L("z") | x]
    del kept


# The And's slice-walk tokens show its children: each child's consumed text is one token.
@pytest.mark.parametrize("build, text, tokens", [
    (lambda a, b, c, d: a + b + c, "abc", ["a", "b", "c"]),
    (lambda a, b, c, d: a + (b + c), "abc", ["a", "b", "c"]),
    (lambda a, b, c, d: (a + b) + (c + d), "abcd", ["a", "b", "c", "d"]),
    (lambda a, b, c, d: Group(a + b) + c, "abc", ["ab", "c"]),
    (lambda a, b, c, d: (a | b) + c, "bc", ["b", "c"]),
    (lambda a, b, c, d: a + (b | c), "ac", ["a", "c"]),
    (lambda a, b, c, d: a + Suppress(b + c), "abc", ["a", "bc"]),
], ids=["left-chain", "right-chain", "two-ands", "group-not-flattened", "match-first-is-one-child",
        "match-first-on-right", "suppress-not-flattened"])
def test_plus_flattens_and_operands_only(build, text, tokens):
    g = build(L("a"), L("b"), L("c"), L("d"))
    assert type(g) is And
    assert g.parse_string(text) == tokens


def test_plus_of_an_and_with_itself():
    x = L("a") + L("b")
    assert (x + x).parse_string("abab") == ["a", "b", "a", "b"]


def test_operands_are_never_changed():
    a, b, c = L("a"), L("b"), L("c")
    s = a + b
    t = s + c
    assert s.parse_string("abc") == ["a", "b"]
    assert t.parse_string("abc") == ["a", "b", "c"]
    m = a | b
    n = m | c
    assert not m.matches("c") and n.matches("c")


@pytest.mark.parametrize("build, yes, no", [
    (lambda a, b, c: (a | b) | c, ["a", "b", "c"], ["d"]),
    (lambda a, b, c: a | (b | c), ["a", "b", "c"], ["d"]),
    (lambda a, b, c: (a | b) | (c | a), ["a", "b", "c"], ["d"]),
    (lambda a, b, c: a | (b + c), ["a", "bc"], ["b", "c"]),
    (lambda a, b, c: MatchFirst([]) | a, ["a"], ["b", ""]),
    (lambda a, b, c: a | MatchFirst([]), ["a"], ["b", ""]),
    (lambda a, b, c: MatchFirst([]) | MatchFirst([]), [], ["a", ""]),
    (lambda a, b, c: MatchFirst([]) + a, [], ["a", ""]),
], ids=["left", "right", "two-match-firsts", "and-alternative", "empty-left", "empty-right", "both-empty",
        "empty-plus"])
def test_alternatives(build, yes, no):
    g = build(L("a"), L("b"), L("c"))
    assert [g.matches(t) for t in yes] == [True] * len(yes)
    assert [g.matches(t) for t in no] == [False] * len(no)


def test_alternatives_keep_their_order():
    assert ((L("a") | L("ab")) | L("abc")).parse_string("abc") == ["a"]
    assert (L("abc") | (L("ab") | L("a"))).parse_string("abc") == ["abc"]
    assert (L("c") | (L("a") + L("b"))).parse_string("ab") == ["a", "b"]


@pytest.mark.parametrize("make, op, message", [
    (lambda: L("x") + "y", "+", "Unsupported operand type for +"),
    (lambda: L("x") + 5, "+", "Unsupported operand type for +"),
    (lambda: L("x") + None, "+", "Unsupported operand type for +"),
    (lambda: (L("x") + L("y")) + "z", "+", "Unsupported operand type for +"),
    (lambda: (L("x") | L("y")) + "z", "+", "Unsupported operand type for +"),
    (lambda: L("x") | 5, "|", "Unsupported operand type for |"),
    (lambda: L("x") | "y", "|", "Unsupported operand type for |"),
    (lambda: (L("x") | L("y")) | [L("z")], "|", "Unsupported operand type for |"),
    (lambda: Forward() + Literal, "+", "Unsupported operand type for +"),
], ids=["str", "int", "None", "and-str", "match-first-plus-str", "int-or", "str-or", "match-first-or-list",
        "class-object"])
def test_unsupported_right_operands(make, op, message):
    with pytest.raises(ValueError) as info:
        make()
    assert str(info.value) == message


@pytest.mark.parametrize("make, message", [
    (lambda: "y" + L("x"), 'can only concatenate str (not "builtins.Literal") to str'),
    (lambda: 5 | L("x"), "unsupported operand type(s) for |: 'int' and 'builtins.Literal'"),
    (lambda: 5 + L("x"), "unsupported operand type(s) for +: 'int' and 'builtins.Literal'"),
    (lambda: (L("a") + L("b")) | L("c"), "unsupported operand type(s) for |: 'builtins.And' and 'builtins.Literal'"),
    (lambda: None | (L("a") + L("b")), "unsupported operand type(s) for |: 'NoneType' and 'builtins.And'"),
], ids=["str-left", "int-or", "int-plus", "and-or", "none-or-and"])
def test_left_operands_of_other_types_get_the_interpreters_error(make, message):
    with pytest.raises(TypeError) as info:
        make()
    assert str(info.value) == message


def test_forward_binding():
    f = Forward()
    g = f + L("x")
    assert not g.matches("ax")
    h = f
    f <<= L("a")
    assert f is h
    assert g.matches("ax")
    assert g.parse_string("ax") == ["a", "x"]
    assert f.set(L("b")) is None
    assert g.matches("bx") and not g.matches("ax")
    assert f.set(expr=L("c")) is None
    assert g.matches("cx")


@pytest.mark.parametrize("bind", [
    lambda f: f.__ilshift__("text"),
    lambda f: f.set(5),
    lambda f: f.set(None),
    lambda f: f.set(Forward),
], ids=["ilshift-str", "set-int", "set-None", "set-class"])
def test_forward_refusals_leave_it_as_it_was(bind):
    f = Forward()
    f <<= L("a")
    with pytest.raises(ValueError) as info:
        bind(f)
    assert str(info.value) == "Unsupported parser element type"
    assert f.matches("a")


def test_forward_ilshift_statement_refused():
    f = Forward()
    with pytest.raises(ValueError):
        f <<= "text"
    assert not f.matches("text")


def test_forward_set_binding_errors():
    f = Forward()
    with pytest.raises(TypeError) as info:
        f.set()
    assert str(info.value) == "Forward.set() missing 1 required positional argument: 'expr'"
    with pytest.raises(TypeError) as info:
        f.set(L("a"), L("b"))
    assert str(info.value) == "Forward.set() takes 1 positional arguments but 2 were given"
    with pytest.raises(TypeError) as info:
        f.set(other=L("a"))
    assert str(info.value) == "Forward.set() got an unexpected keyword argument 'other'"
    with pytest.raises(TypeError) as info:
        raw_method(Forward, "set")(L("a"), L("b"))
    assert str(info.value) == "'Literal' object cannot be converted to 'Forward'"


def test_ilshift_on_other_classes_is_the_interpreters_error():
    x = L("a")
    with pytest.raises(TypeError) as info:
        x <<= L("b")
    assert str(info.value) == "unsupported operand type(s) for <<=: 'builtins.Literal' and 'builtins.Literal'"


def test_forward_set_releases_the_previous_inner_and_keeps_no_objects():
    f = Forward()
    a = L("a")
    with refcounts_unchanged(a, f):
        f <<= a
        f.set(a + L("b"))
        f <<= Group(a)


def test_forward_set_to_a_grammar_containing_it():
    f = Forward()
    f <<= L("(") + Optional(f) + L(")")
    assert f.parse_string("((()))") == ["(", "(", "(", ")", ")", ")"]
    with pytest.raises(ValueError) as info:
        f.parse_string("(()")
    assert str(info.value) == "ParseException at position 3: Expected ')'"
    f <<= L("x")  # breaks the cycle
    assert f.matches("x")


def test_operator_errors_leave_reference_counts_unchanged():
    a = L("a")
    y = "yy"
    with refcounts_unchanged(a, y):
        for make in [lambda: a + y, lambda: a | y, lambda: (a + a) + y, lambda: (a | a) | y]:
            with pytest.raises(ValueError):
                make()
        with pytest.raises(TypeError):
            (a + a) | a
