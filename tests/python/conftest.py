"""Shared helpers for the quillex tests.

- `call_checked(func, *args, **kwargs)`: calls and asserts that no reference of the receiver or of any argument
  was gained or lost, whether the call returned or raised.
- `refcounts_unchanged(*objs)`: the same check around a block.
- `raw_method(cls, name)`: the C entry of a method, callable with a receiver of any type (the interpreter's
  method descriptor refuses a foreign receiver before the module's own check could run).
- `raised(func, *args, **kwargs)`: the exception a call raises; skips the test while a constructor it meets is
  still a placeholder ("No constructor defined for ...").
- `fresh(text)`: a new str object equal to `text`; `utf8_made(s)`: s with its UTF-8 form made, so that the
  methods read its UTF-8 view rather than its own units; `canonical(s)`: an equal str of the smallest kind;
  `loop_parse(g, items)`: the batch answer of a plain loop over `g.parse_string` (a failing input gives []);
  `assert_shared_by_groups(result, groups)`: which slots of a batch result hold one object, and that each is
  held by those slots alone.
- `NOARG_CLASSES`, `ALL_CLASS_NAMES`: the classes made without arguments, and the 26 class names in
  registration order.
- `plain_route(g)`: a grammar that matches exactly where g does and whose scans try every position: the plain
  scan, which the skipping scans of the methods must agree with; `plain_matches(g, s)`: where its non-empty
  matches start (in characters) and their texts, found from its search and a transform marking them with `MARK`.
"""
import collections
import contextlib
import ctypes
import gc
import sys
import types

import pytest

import quillex

ALL_CLASS_NAMES = [
    "Literal", "Keyword", "Word", "Regex", "And", "MatchFirst", "ZeroOrMore", "OneOrMore", "Optional", "Group",
    "Suppress", "Forward", "Combine", "Exactly", "CaselessLiteral", "CaselessKeyword", "Char", "StringStart",
    "StringEnd", "LineStart", "LineEnd", "rest_of_line", "QuotedString", "Empty", "NoMatch", "SkipTo",
]
FUNCTION_NAMES = ["alphas", "alphanums", "nums", "printables", "hexnums", "alphas_upper", "alphas_lower", "one_of"]
METHOD_NAMES = ["parse_string", "matches", "search_string", "search_string_count", "parse_batch",
                "parse_batch_count", "transform_string"]
NOARG_CLASSES = [quillex.Empty, quillex.NoMatch, quillex.LineEnd, quillex.LineStart, quillex.StringEnd,
                 quillex.StringStart, quillex.rest_of_line, quillex.Forward]


# Shared singletons whose counts move with any unrelated work (None, True, small ints, one-character strs).
_SHARED_COUNT = 100_000


def _tracked(func, args, kwargs):
    objs = list(args) + list(kwargs.values())
    receiver = getattr(func, "__self__", None)
    if receiver is not None and not isinstance(receiver, (types.ModuleType, type)):
        objs.append(receiver)
    return [o for o in objs if o is not None and not isinstance(o, bool) and sys.getrefcount(o) < _SHARED_COUNT]


def _held_by(value, obj):
    """References to `obj` that `value` (a result or a raised exception) holds itself: a text handed back
    unchanged, or the `object` that a UnicodeEncodeError keeps (as an attribute and in its args)."""
    if value is None:
        return 0
    if isinstance(value, BaseException):
        holders = gc.get_referents(value) + list(value.args)
        return sum(h is obj for h in holders)
    return int(value is obj)


@contextlib.contextmanager
def _collector_paused():
    # A collection inside the measured window could free unrelated garbage that refers to a tracked object.
    was_enabled = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if was_enabled:
            gc.enable()


def call_checked(func, *args, **kwargs):
    """func(*args, **kwargs), asserting that the reference counts of func's receiver and of every argument are
    the same after the call as before it, on success and on error. Returns the result or re-raises."""
    objs = _tracked(func, args, kwargs)
    error = None
    result = None
    with _collector_paused():
        before = [sys.getrefcount(o) for o in objs]
        try:
            result = func(*args, **kwargs)
        except Exception as exc:  # re-raised below, after the check
            error = exc
            error.__traceback__ = None  # its frames would hold the arguments
        after = [sys.getrefcount(o) - _held_by(result if error is None else error, o) for o in objs]
    assert after == before, f"reference counts changed by {func!r}: {before} -> {after}"
    if error is not None:
        raise error
    return result


@contextlib.contextmanager
def refcounts_unchanged(*objs):
    with _collector_paused():
        before = [sys.getrefcount(o) for o in objs]
        try:
            yield
        finally:
            after = [sys.getrefcount(o) for o in objs]
            assert after == before, f"reference counts changed: {before} -> {after}"


# CPython 3.11 layouts: PyMethodDescrObject = {ob_refcnt, ob_type, d_type, d_name, d_qualname, d_method, ...};
# PyMethodDef = {ml_name, ml_meth, ml_flags, ml_doc}.
_DESCR_METHOD_OFFSET = 5 * ctypes.sizeof(ctypes.c_void_p)
_METH_FASTCALL_KEYWORDS = 0x80 | 0x02
_FASTCALL = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.py_object, ctypes.POINTER(ctypes.py_object),
                              ctypes.c_ssize_t, ctypes.c_void_p)


def raw_method(cls, name):
    """The module's entry behind cls.name, as f(receiver, *args): positional arguments only."""
    descriptor = cls.__dict__[name]
    record = ctypes.c_void_p.from_address(id(descriptor) + _DESCR_METHOD_OFFSET).value
    ml_name = ctypes.cast(ctypes.c_void_p.from_address(record).value, ctypes.c_char_p).value
    ml_meth = ctypes.c_void_p.from_address(record + ctypes.sizeof(ctypes.c_void_p)).value
    ml_flags = ctypes.c_int.from_address(record + 2 * ctypes.sizeof(ctypes.c_void_p)).value
    if ml_name != name.encode() or ml_flags != _METH_FASTCALL_KEYWORDS:
        pytest.skip("unexpected method descriptor layout")
    entry = _FASTCALL(ml_meth)

    def call(receiver, *args):
        array = (ctypes.py_object * max(len(args), 1))(*args)
        return entry(receiver, array, len(args), None)

    return call


def raised(func, *args, **kwargs):
    """The exception that func(*args, **kwargs) raises. Skips the test while the call meets a constructor that is
    still a placeholder (TypeError "No constructor defined for {}" of a class other than And)."""
    try:
        func(*args, **kwargs)
    except Exception as exc:
        text = str(exc)
        if (type(exc) is TypeError and text.startswith(PLACEHOLDER_CONSTRUCTOR)
                and text != PLACEHOLDER_CONSTRUCTOR + "And"):
            pytest.skip(f"{text[len(PLACEHOLDER_CONSTRUCTOR):]} has no constructor yet")
        return exc.with_traceback(None)
    pytest.fail(f"{func!r} raised nothing")


PLACEHOLDER_CONSTRUCTOR = "No constructor defined for "


# Matches nowhere, and no reading of where matches start looks past a SkipTo (which may match anywhere): a
# MatchFirst holding it is tried at every position.
NEVER = quillex.SkipTo(quillex.NoMatch())


MARK = "\x00"  # never in a test's text


def plain_route(g):
    return quillex.MatchFirst([g, NEVER])


def plain_matches(g, s):
    p = plain_route(g)
    found = p.search_string(s)
    gaps = p.transform_string(s, MARK).split(MARK)
    assert len(gaps) == len(found) + 1
    out, at = [], len(gaps[0])
    for text, gap in zip(found, gaps[1:]):
        out.append((at, text))
        at += len(text) + len(gap)
    return out


def fresh(text):
    """A new str object equal to `text` (texts of two or more characters are never shared by the interpreter)."""
    return (text + "!")[:-1]


def utf8_made(s):
    """`s` (a str or str subclass instance) with its UTF-8 form made, by a method that reads the UTF-8 view; a
    non-ASCII str without the form then grows by its size. An ASCII str is its own UTF-8 form, and a str of one
    character may be the interpreter's shared one, whose form an earlier call may have made."""
    before = sys.getsizeof(s)
    quillex.Empty().matches(s)
    if not s.isascii() and not (type(s) is str and len(s) == 1):
        assert sys.getsizeof(s) > before, "no UTF-8 form was made"
    return s


def canonical(s):
    """An equal str made by the interpreter from scratch: of the smallest kind that holds it, without a UTF-8
    form."""
    return s.encode().decode()


def loop_parse(g, items):
    """[g.parse_string(s) for s in items], with [] for an input that raises ValueError."""
    out = []
    for s in items:
        try:
            out.append(g.parse_string(s))
        except ValueError:
            out.append([])
    return out


def assert_shared_by_groups(result, groups):
    """Slots i and j of `result` hold one object exactly when groups[i] == groups[j], and each such object is
    held by its group's slots alone."""
    first = {}
    for i, group in enumerate(groups):
        if group in first:
            assert result[i] is result[first[group]], f"slots {first[group]} and {i} should share"
        else:
            first[group] = i
    assert len({id(result[i]) for i in first.values()}) == len(first), "results shared beyond the groups"
    sizes = collections.Counter(groups)
    for group, i in first.items():
        # Plus the getrefcount argument; read outside the assertion, whose rewriting keeps temporaries.
        held = sys.getrefcount(result[i]) - 1
        assert held == sizes[group], f"slot {i}"
