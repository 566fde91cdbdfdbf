"""The module as Python sees it: registration, type objects, functions, documentation, initialisation."""
import copy
import importlib
import inspect
import sys
import textwrap

import pytest

import quillex
from conftest import ALL_CLASS_NAMES, FUNCTION_NAMES, METHOD_NAMES

ALL_CLASSES = [getattr(quillex, name) for name in ALL_CLASS_NAMES]


def test_module_attributes():
    assert quillex.__doc__ == "quillex module"
    assert quillex.__version__ == "0.2.0"
    assert quillex.__all__ == ALL_CLASS_NAMES + FUNCTION_NAMES + ["__version__"]
    assert len(quillex.__all__) == 35
    for name in quillex.__all__:
        assert hasattr(quillex, name)


@pytest.mark.parametrize("cls", ALL_CLASSES, ids=ALL_CLASS_NAMES)
def test_type_names(cls):
    name = ALL_CLASS_NAMES[ALL_CLASSES.index(cls)]
    assert isinstance(cls, type)
    assert cls.__name__ == cls.__qualname__ == name
    assert cls.__module__ == "builtins"
    assert repr(cls) == f"<class 'builtins.{name}'>"
    assert cls.__bases__ == (object,)


def test_empty_instance_type_prints_as_builtins():
    assert str(type(quillex.Empty())) == "<class 'builtins.Empty'>"


@pytest.mark.parametrize("cls", ALL_CLASSES, ids=ALL_CLASS_NAMES)
def test_subclassing_is_refused(cls):
    with pytest.raises(TypeError, match="is not an acceptable base type"):
        type("Sub", (cls,), {})


@pytest.mark.parametrize("cls", ALL_CLASSES, ids=ALL_CLASS_NAMES)
def test_instances_have_no_dict_and_no_weakrefs(cls):
    assert not hasattr(cls, "__dictoffset__") or cls.__dictoffset__ == 0
    assert cls.__weakrefoffset__ == 0


@pytest.mark.parametrize("target", [c for c in ALL_CLASSES if c is not quillex.Empty] + [object],
                         ids=[n for n in ALL_CLASS_NAMES if n != "Empty"] + ["object"])
def test_class_assignment_is_refused(target):
    # An object's class decides which body reads its element; no object may change class.
    obj = quillex.Empty()
    with pytest.raises(TypeError, match="__class__ assignment"):
        obj.__class__ = target
    assert type(obj) is quillex.Empty and obj.matches("")


def test_instances_cannot_be_copied_into_existence():
    with pytest.raises(TypeError, match="cannot pickle"):
        copy.copy(quillex.Empty())


@pytest.mark.parametrize("args, kwargs", [((), {}), ((1,), {}), ((), {"x": 1}), (("a", "b"), {"s": 1})],
                         ids=["none", "positional", "keyword", "both"])
def test_and_has_no_constructor(args, kwargs):
    with pytest.raises(TypeError) as info:
        quillex.And(*args, **kwargs)
    assert str(info.value) == "No constructor defined for And"


@pytest.mark.parametrize("cls", ALL_CLASSES, ids=ALL_CLASS_NAMES)
def test_operator_slots(cls):
    # `+` on every class, `|` on every class but And, `<<=` on Forward only.
    assert "__add__" in cls.__dict__
    assert ("__or__" in cls.__dict__) == (cls is not quillex.And)
    assert ("__ilshift__" in cls.__dict__) == (cls is quillex.Forward)


@pytest.mark.parametrize("cls", ALL_CLASSES, ids=ALL_CLASS_NAMES)
def test_methods_present(cls):
    expected = METHOD_NAMES + (["set"] if cls is quillex.Forward else [])
    own = [name for name, value in cls.__dict__.items() if type(value).__name__ == "method_descriptor"]
    assert own == expected


# ---------------------------------------------------------------------------------------------------------------
# Module functions

CHARACTER_SETS = {
    "nums": "0123456789",
    "alphas": "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz",
    "alphanums": "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
    "hexnums": "0123456789abcdefABCDEF",
    "printables": "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                  + "".join(chr(c) for c in range(0x21, 0x7F) if not chr(c).isalnum()),
    "alphas_lower": "abcdefghijklmnopqrstuvwxyz",
    "alphas_upper": "ABCDEFGHIJKLMNOPQRSTUVWXYZ",
}


@pytest.mark.parametrize("name", CHARACTER_SETS)
def test_character_sets(name):
    f = getattr(quillex, name)
    first, second = f(), f()
    assert first == CHARACTER_SETS[name]
    assert first is not second  # a new str per call


def test_printables_shape():
    p = quillex.printables()
    assert len(p) == 94 and p[0] == "0" and p[-1] == "~"
    assert " " not in p and len(set(p)) == 94


@pytest.mark.parametrize("name", FUNCTION_NAMES)
def test_functions_are_bound_to_the_module(name):
    f = getattr(quillex, name)
    assert f.__name__ == name
    assert f.__module__ == "quillex"
    assert f.__self__ is quillex


@pytest.mark.parametrize("call", [lambda f: f(1), lambda f: f(x=1)], ids=["positional", "keyword"])
@pytest.mark.parametrize("name", list(CHARACTER_SETS))
def test_character_set_functions_refuse_arguments(name, call):
    with pytest.raises(TypeError, match=rf"^quillex\.{name}\(\) takes no"):
        call(getattr(quillex, name))


# ---------------------------------------------------------------------------------------------------------------
# Documentation

CLASS_SIGNATURES = {
    "Literal": "(s)", "Keyword": "(s)", "CaselessLiteral": "(s)", "CaselessKeyword": "(s)", "Char": "(s)",
    "Word": "(init_chars, body_chars=None)", "Regex": "(pattern)",
    "QuotedString": '(quote_char="\\"", esc_char=None, multiline=False, unquote=True)',
    "MatchFirst": "(exprs)", "Group": "(expr)", "OneOrMore": "(expr)", "ZeroOrMore": "(expr)", "SkipTo": "(expr)",
    "Suppress": "(expr)", "Combine": "(expr)", "Optional": "(expr)", "Exactly": "(expr, count)",
    "rest_of_line": "()", "StringStart": "()", "LineStart": "()", "Empty": "()", "NoMatch": "()", "LineEnd": "()",
    "Forward": "()", "StringEnd": "()",
}


@pytest.mark.parametrize("name", list(CLASS_SIGNATURES))
def test_class_text_signatures(name):
    cls = getattr(quillex, name)
    assert cls.__text_signature__ == CLASS_SIGNATURES[name]
    assert cls.__doc__ == ""


def test_quoted_string_signature_escapes_the_quote():
    sig = inspect.signature(quillex.QuotedString)
    assert sig.parameters["quote_char"].default == '"'
    assert list(sig.parameters) == ["quote_char", "esc_char", "multiline", "unquote"]


def test_and_has_no_documentation():
    assert quillex.And.__doc__ is None
    assert quillex.And.__text_signature__ is None


METHOD_SIGNATURES = {
    "parse_string": "($self, s)", "matches": "($self, s)", "search_string": "($self, s)",
    "search_string_count": "($self, s)", "parse_batch": "($self, inputs)", "parse_batch_count": "($self, inputs)",
    "transform_string": "($self, s, replacement)",
}


@pytest.mark.parametrize("cls", ALL_CLASSES, ids=ALL_CLASS_NAMES)
def test_method_text_signatures(cls):
    for name, signature in METHOD_SIGNATURES.items():
        assert getattr(cls, name).__text_signature__ == signature
    if cls is quillex.Forward:
        assert cls.set.__text_signature__ == "($self, expr)"


DESCRIPTIONS = {
    ("And", "parse_string"): "Parse using try_match_at on flattened elements — raw FFI list construction",
    ("And", "matches"): "Zero-allocation match check using try_match_at (no ParseResults)",
    ("And", "search_string"): "Search string — raw FFI with dedup for repeated tokens",
    ("And", "parse_batch"): "Cyclic detection + hash-based cache fallback + indexed tokens",
    ("And", "parse_batch_count"): "Cyclic detection + hash-based pointer cache count",
    ("Word", "matches"): "Zero-allocation match check via try_match_at",
    ("Word", "search_string"): "Search string — text cycle detection + memcpy doubling fast path,\n"
                               "fallback to single-pass scan + u8 index dedup + bulk INCREF",
    ("Word", "search_string_count"): "Count word matches in large text — cycle detection + branchless scan",
    ("Word", "parse_batch"): "Cyclic detection + hash-based cache fallback + bulk INCREF",
    ("Word", "parse_batch_count"): "Count word matches in batch — uniform + cycle + hash cache",
    ("Word", "transform_string"): "Specialized transform: uses 256-byte lookup tables for direct byte scanning.",
    ("Regex", "matches"): "Zero-allocation match check",
    ("Regex", "search_string"): "Search string — count-first + direct fill with dedup (no intermediate Vec)",
    ("Regex", "search_string_count"): "Count regex matches in text — uses find_iter for SIMD-accelerated search",
    ("Regex", "parse_batch"): "Cyclic detection + hash-based cache fallback + bulk INCREF",
    ("Regex", "parse_batch_count"): "Count regex matches in batch — uniform + cycle + hash cache",
    ("Regex", "transform_string"): "Specialized: uses regex replace_all for efficient in-engine replacement.",
    ("Forward", "set"): "Set the inner parser expression (equivalent to <<= in quillet).",
    ("Keyword", "parse_string"): "Fast keyword parse — uses try_match_at + cached PyString, zero allocation",
    ("Keyword", "search_string"): "Search string — count + PySequence_Repeat (same pattern as Literal)",
    ("Keyword", "parse_batch"): "Specialized parse_batch — cached PyString + last-pointer cache",
    ("Literal", "matches"): "Zero-allocation match check",
    ("Literal", "search_string"): "Search string — cycle-aware count + PySequence_Repeat for optimal list creation",
    ("Literal", "search_string_count"): "Count occurrences — cycle detection fast path + SIMD memchr fallback",
    ("Literal", "parse_batch"): "Full raw FFI batch parse — uniform detection + bulk INCREF, last-ptr fallback",
    ("Literal", "parse_batch_count"): "Full raw FFI count — uniform detection + last-ptr fallback",
    ("Literal", "transform_string"): "Replace all non-overlapping matches with replacement string.\n"
                                     "Uses SIMD-accelerated memchr::memmem for literal search.",
}
# Descriptions whose ending is worded freely; only their beginning is fixed.
DESCRIPTION_PREFIXES = {
    ("Word", "parse_string"): "Fast-path word parse — returns PyList directly, ",
    ("Regex", "parse_string"): "Fast-path regex parse — returns PyList directly, ",
    ("Literal", "parse_string"): "Fast inline parse — returns PyList with cached PyString, ",
}


@pytest.mark.parametrize("cls", ALL_CLASSES, ids=ALL_CLASS_NAMES)
def test_method_descriptions(cls):
    names = METHOD_NAMES + (["set"] if cls is quillex.Forward else [])
    for name in names:
        doc = getattr(cls, name).__doc__
        key = (cls.__name__, name)
        if key in DESCRIPTIONS:
            assert doc == DESCRIPTIONS[key], key
        elif key in DESCRIPTION_PREFIXES:
            assert doc.startswith(DESCRIPTION_PREFIXES[key]) and len(doc) > len(DESCRIPTION_PREFIXES[key]), key
        else:
            assert doc is None, key


def test_documentation_shared_and_shaped():
    assert quillex.Word.parse_batch.__doc__ == quillex.Regex.parse_batch.__doc__
    assert quillex.Regex.matches.__doc__ == quillex.Literal.matches.__doc__
    assert quillex.Word.search_string.__doc__.count("\n") == 1
    assert quillex.Empty.parse_string.__doc__ is None
    assert quillex.Empty.parse_string.__text_signature__ == "($self, s)"
    assert len(DESCRIPTIONS) + len(DESCRIPTION_PREFIXES) + 1 == 31  # + one_of


def test_function_documentation():
    for name in CHARACTER_SETS:
        f = getattr(quillex, name)
        assert f.__text_signature__ == "()" and f.__doc__ is None
    assert quillex.one_of.__text_signature__ == "(strs)"
    assert quillex.one_of.__doc__ == ("Create a MatchFirst from a space-separated string of literal alternatives.\n"
                                      'Equivalent to quillet.one_of("+ - * /").')


def test_inspect_signatures():
    assert str(inspect.signature(quillex.Word)) == "(init_chars, body_chars=None)"
    assert str(inspect.signature(quillex.Empty.transform_string)) == "(self, /, s, replacement)"
    assert str(inspect.signature(quillex.Empty().matches)) == "(s)"


# ---------------------------------------------------------------------------------------------------------------
# Initialisation

def test_second_import_returns_the_same_module():
    original = sys.modules["quillex"]
    original.marker_for_reimport = 42
    try:
        del sys.modules["quillex"]
        again = importlib.import_module("quillex")
        assert again is original
        assert again.marker_for_reimport == 42
        assert again.__all__ == ALL_CLASS_NAMES + FUNCTION_NAMES + ["__version__"]
    finally:
        sys.modules["quillex"] = original
        del original.marker_for_reimport


def test_subinterpreter_import_is_refused():
    interpreters = pytest.importorskip("_xxsubinterpreters")
    interp = interpreters.create()
    try:
        code = textwrap.dedent("""
            try:
                import quillex
            except ImportError as exc:
                assert str(exc) == "quillex does not support subinterpreters", str(exc)
            else:
                raise AssertionError("quillex imported in a subinterpreter")
        """)
        interpreters.run_string(interp, code)
        interpreters.run_string(interp, code)  # a second attempt is refused the same way
    finally:
        interpreters.destroy(interp)
    assert quillex.Empty().matches("")  # the main interpreter's module is unaffected
