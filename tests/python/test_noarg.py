"""The eight classes made without arguments: their constructors, and their seven methods through the method
frame, with the reference counts of receiver and arguments checked on every call."""
import gc

import pytest

import quillex as q
from conftest import NOARG_CLASSES, call_checked, raw_method

NOARG_IDS = [c.__name__ for c in NOARG_CLASSES]
TWO_BYTE = "\u00e9"  # one character, two UTF-8 bytes


@pytest.mark.parametrize("cls", NOARG_CLASSES, ids=NOARG_IDS)
def test_constructor_makes_distinct_instances(cls):
    a = call_checked(cls)
    b = cls()
    assert type(a) is cls and type(b) is cls
    assert a is not b and a != b
    assert hash(a) != hash(b)
    assert repr(a).startswith(f"<builtins.{cls.__name__} object at 0x")
    del a
    gc.collect()
    assert b.matches("") is b.matches("")  # the survivor keeps working


@pytest.mark.parametrize("cls", NOARG_CLASSES, ids=NOARG_IDS)
def test_instances_take_no_attributes(cls):
    obj = cls()
    with pytest.raises(AttributeError):
        obj.anything = 1
    assert not hasattr(obj, "__dict__")


def test_many_instances_are_freed():
    # Creation and destruction in bulk: the sanitizer build checks that every element and object is released.
    for cls in NOARG_CLASSES:
        objs = [cls() for _ in range(1000)]
        assert len({id(o) for o in objs}) == 1000
        del objs


# (class, method, args, expected): the results every later body must keep.
METHOD_CASES = [
    (q.Empty, "search_string_count", ("",), 0),
    (q.Empty, "search_string_count", ("abc",), 3),
    (q.Empty, "search_string_count", (TWO_BYTE,), 2),
    (q.Empty, "parse_string", ("xyz",), []),
    (q.Empty, "parse_string", ("",), []),
    (q.Empty, "search_string", ("xyz",), []),
    (q.Empty, "matches", ("",), True),
    (q.Empty, "transform_string", ("abc", "X"), "abc"),
    (q.Empty, "parse_batch", (["a", "b", "a"],), [[], [], []]),
    (q.Empty, "parse_batch_count", ([],), 0),
    (q.Empty, "parse_batch_count", (["a", "b"],), 2),
    (q.LineEnd, "matches", ("",), True),
    (q.LineEnd, "matches", ("\nx",), True),
    (q.LineEnd, "matches", ("x\n",), False),
    (q.LineEnd, "search_string_count", ("a\nb\n",), 2),
    (q.LineEnd, "parse_string", ("",), ["\n"]),
    (q.LineEnd, "parse_string", ("\nabc",), ["\n"]),
    (q.LineEnd, "search_string", ("a\nb\n",), ["\n", "\n"]),
    (q.LineEnd, "transform_string", ("a\nb\n", ";"), "a;b;"),
    (q.LineEnd, "parse_batch", (["", "x", "\n"],), [["\n"], [], ["\n"]]),
    (q.LineEnd, "parse_batch_count", (["", "x", "\ny"],), 2),
    (q.NoMatch, "matches", ("",), False),
    (q.NoMatch, "matches", ("abc",), False),
    (q.NoMatch, "search_string_count", ("abc",), 0),
    (q.NoMatch, "search_string", ("abc",), []),
    (q.NoMatch, "transform_string", ("abc", "X"), "abc"),
    (q.NoMatch, "parse_batch", (["a", "b"],), [[], []]),
    (q.NoMatch, "parse_batch_count", (["a", "b"],), 0),
    (q.LineStart, "matches", ("",), True),
    (q.LineStart, "search_string_count", ("",), 0),
    (q.LineStart, "search_string_count", ("a",), 1),
    (q.LineStart, "search_string_count", ("a\nb",), 2),
    (q.LineStart, "search_string_count", ("a\n",), 1),
    (q.LineStart, "search_string_count", ("\n\n",), 2),
    (q.LineStart, "search_string", ("a\nb",), []),
    (q.LineStart, "parse_string", ("a\nb",), []),
    (q.LineStart, "parse_batch_count", (["", "x", "\n"],), 3),
    (q.StringEnd, "matches", ("",), True),
    (q.StringEnd, "matches", ("a",), False),
    (q.StringEnd, "search_string_count", ("",), 0),
    (q.StringEnd, "search_string_count", ("abc",), 0),
    (q.StringEnd, "parse_string", ("",), []),
    (q.StringEnd, "transform_string", ("abc", "X"), "abc"),
    (q.StringEnd, "parse_batch_count", (["", "x", ""],), 2),
    (q.StringStart, "search_string_count", ("",), 0),
    (q.StringStart, "search_string_count", ("abc",), 1),
    (q.StringStart, "matches", ("abc",), True),
    (q.StringStart, "matches", ("",), True),
    (q.StringStart, "parse_string", ("abc",), []),
    (q.rest_of_line, "matches", ("",), True),
    (q.rest_of_line, "matches", ("\nabc",), True),
    (q.rest_of_line, "search_string_count", ("ab\ncd",), 3),
    (q.rest_of_line, "search_string_count", ("\n\n",), 2),
    (q.rest_of_line, "search_string_count", ("abc",), 1),
    (q.rest_of_line, "search_string_count", ("a\n",), 2),
    (q.rest_of_line, "search_string_count", ("",), 0),
    (q.rest_of_line, "search_string", ("ab\ncd",), ["ab", "cd"]),
    (q.rest_of_line, "search_string", ("alpha\nbeta\n",), ["alpha", "beta"]),
    (q.rest_of_line, "search_string", (f"{TWO_BYTE}x\n\u00fc",), [f"{TWO_BYTE}x", "\u00fc"]),
    (q.rest_of_line, "transform_string", ("ab\ncd", "X"), "X\nX"),
    (q.rest_of_line, "parse_string", ("ab\ncd",), ["ab"]),
    (q.rest_of_line, "parse_string", ("",), [""]),
    (q.rest_of_line, "parse_string", ("\nab",), [""]),
    (q.rest_of_line, "parse_batch", (["a\nb", ""],), [["a"], [""]]),
    (q.rest_of_line, "parse_batch_count", (["a", "", "\n"],), 3),
    (q.Forward, "matches", ("abc",), False),
    (q.Forward, "search_string_count", ("abc",), 0),
    (q.Forward, "search_string", ("abc",), []),
    (q.Forward, "transform_string", ("abc", "X"), "abc"),
    (q.Forward, "parse_batch", (["a", ""],), [[], []]),
    (q.Forward, "parse_batch_count", (["a", ""],), 0),
]


@pytest.mark.parametrize("cls, method, args, expected", METHOD_CASES,
                         ids=[f"{c[0].__name__}.{c[1]}-{i}" for i, c in enumerate(METHOD_CASES)])
def test_method_results(cls, method, args, expected):
    g = cls()
    result = call_checked(getattr(g, method), *args)
    assert result == expected
    assert type(result) is type(expected)


PARSE_FAILURES = [
    (q.LineEnd, "x", "ParseException at position 0: Expected end of line"),
    (q.NoMatch, "abc", "ParseException at position 0: NoMatch will never match"),
    (q.NoMatch, "", "ParseException at position 0: NoMatch will never match"),
    (q.StringEnd, "a", "ParseException at position 0: Expected end of string"),
    (q.Forward, "x", "ParseException at position 0: Forward not initialized"),
]


@pytest.mark.parametrize("cls, text, message", PARSE_FAILURES,
                         ids=[f"{c[0].__name__}-{i}" for i, c in enumerate(PARSE_FAILURES)])
def test_parse_string_failures(cls, text, message):
    g = cls()
    with pytest.raises(ValueError) as info:
        call_checked(g.parse_string, text)
    assert str(info.value) == message
    # the failure leaves the receiver usable, and repeats exactly
    with pytest.raises(ValueError) as again:
        g.parse_string(text)
    assert str(again.value) == message


@pytest.mark.parametrize("cls", NOARG_CLASSES, ids=NOARG_IDS)
def test_every_method_keeps_counts_on_success_and_error(cls):
    g = cls()
    text = "ab\ncd\n" + TWO_BYTE
    inputs = [text, "", "\n", text]
    for method, good, bad in [
        ("parse_string", (text,), (5,)),
        ("matches", (text,), (b"x",)),
        ("search_string", (text,), (None,)),
        ("search_string_count", (text,), ("\ud800",)),
        ("parse_batch", (inputs,), (tuple(inputs),)),
        ("parse_batch_count", (inputs,), ([text, 1],)),
        ("transform_string", (text, "R"), (text, 5)),
    ]:
        bound = getattr(g, method)
        try:
            call_checked(bound, *good)
        except ValueError:
            assert method == "parse_string"  # NoMatch, StringEnd, LineEnd, Forward fail on this text
        with pytest.raises((TypeError, UnicodeEncodeError)):
            call_checked(bound, *bad)
    for item in inputs:
        assert call_checked(g.matches, item) in (True, False)


def test_results_are_new_objects_each_call():
    g = q.rest_of_line()
    first = g.search_string("a\nb")
    second = g.search_string("a\nb")
    assert first == second and first is not second
    first.append("x")  # a caller may change its result without affecting later ones
    assert g.search_string("a\nb") == ["a", "b"]


# ---------------------------------------------------------------------------------------------------------------
# Forward.set: the frame binds `expr` and checks the receiver before the body runs.

FORWARD_SET_ERRORS = [
    ((), {}, "Forward.set() missing 1 required positional argument: 'expr'"),
    ((q.Empty(), q.Empty()), {}, "Forward.set() takes 1 positional arguments but 2 were given"),
    ((), {"x": q.Empty()}, "Forward.set() got an unexpected keyword argument 'x'"),
    ((q.Empty(),), {"expr": q.Empty()}, "Forward.set() got multiple values for argument 'expr'"),
]


@pytest.mark.parametrize("args, kwargs, text", FORWARD_SET_ERRORS, ids=["missing", "too-many", "keyword", "twice"])
def test_forward_set_binding(args, kwargs, text):
    f = q.Forward()
    with pytest.raises(TypeError) as info:
        call_checked(f.set, *args, **kwargs)
    assert str(info.value) == text


def test_forward_set_receiver_check():
    with pytest.raises(TypeError) as info:
        call_checked(raw_method(q.Forward, "set"), q.Empty(), q.Empty())
    assert str(info.value) == "'Empty' object cannot be converted to 'Forward'"
    with pytest.raises(TypeError, match="^descriptor 'set' for 'builtins.Forward' objects doesn't apply"):
        q.Forward.set(q.Empty(), q.Empty())
