"""Differential fuzzing: random grammars built from every class, over random texts of ASCII, multi-byte
characters, newlines and quotes. Every method is called through `call_checked` (reference counts of the grammar
and of the arguments unchanged, on success and on error), and the methods are checked against each other, against
the common routines reached through a wrapper, against a plain loop of single calls and against a scan written
here. Each case is seeded, so a failure names the seed and the case that reproduce it."""
import contextlib
import inspect
import os
import random
import sys
from collections import Counter

import pytest

import quillex as q
from conftest import NEVER, call_checked, fresh, refcounts_unchanged

# Fewer cases under the sanitizers, which run each call several times slower.
CASES_PER_SEED = 60 if os.environ.get("QUILLEX_SANITIZED") else 250
SEEDS = range(4)

# 'é' and 'ã' share their lead byte; '€' is three bytes, '😀' four; 'ÿ' is the last code point a Word set keeps.
ALPHABET = ["a", "b", "A", "1", "_", " ", "\n", '"', "'", "\\", "(", ")", "é", "ã", "ÿ", "€", "😀"]
MARK = "\x00"  # never in a text: marks the replacements of transform_string
REGEX_PATTERNS = ["a", "a|ab", "[a-z]+", "[^a]", ".", r"\w+", r"\s*", "", "x?", "é+", "[é€]", "(?:ab)*", r"\bA",
                  "a$", "^a|b", r"\d", "[^\n]*", "€|😀", "ã*", "(", "a{2,}", "[0-9]+", ".*", "a*", r"[^\n]+",
                  r"\S+", "(?i)a+", "1[0-9]*", r"\(+", "ab", "a=[0-9]+", "[a-z]=b?", '"[^"]*"', "é[0-9]{2}", ".{2}",
                  "a*a"]
QUOTES = ['"', "'", "", "é", "€€", "ab"]
ESCAPES = [None, "", "\\", '"', "é"]


class Built:
    """A grammar object with what the checks must know of it."""

    def __init__(self, obj, text, loose=False, looks_back=False, recursive=False, literal=None):
        self.obj = obj
        self.literal = literal  # the text of a Literal or Keyword
        self.text = text  # how it was built, for failure reports
        self.loose = loose  # holds a OneOrMore, whose match test may accept where its parse fails
        self.looks_back = looks_back  # holds a kind that tests the text before its position
        self.recursive = recursive  # matching may recurse without end (RecursionError is then allowed)

    def __repr__(self):
        return self.text


class Builder:
    def __init__(self, rng):
        self.rng = rng
        self.vocabulary = set()  # texts the grammar looks for, so that the random texts meet them
        self.forwards = []  # every Forward made, unbound at the end so that their cycles are freed

    def piece(self, max_len=3):
        s = "".join(self.rng.choice(ALPHABET) for _ in range(self.rng.randint(0, max_len)))
        self.vocabulary.add(s)
        return s

    def leaf(self):
        r, p = self.rng, self.piece
        kind = r.randrange(19)
        if kind == 0:
            s = p()
            return Built(q.Literal(s), f"Literal({s!r})", literal=s)
        if kind == 1:
            s = p()
            return Built(q.Keyword(s), f"Keyword({s!r})", literal=s)
        if kind == 2:
            s = p()
            return Built(q.CaselessLiteral(s), f"CaselessLiteral({s!r})")
        if kind == 3:
            s = p()
            return Built(q.CaselessKeyword(s), f"CaselessKeyword({s!r})")
        if kind == 4:
            s = p(4)
            return Built(q.Char(s), f"Char({s!r})")
        if kind == 5:
            init, body = p(4), (p(4) if r.random() < 0.6 else None)
            return Built(q.Word(init, body), f"Word({init!r}, {body!r})")
        if kind == 6:
            pattern = r.choice(REGEX_PATTERNS)
            try:
                obj = q.Regex(pattern)
            except ValueError:
                return Built(q.Regex("b"), "Regex('b')")
            return Built(obj, f"Regex({pattern!r})")
        if kind == 7:
            quote, esc = r.choice(QUOTES), r.choice(ESCAPES)
            multiline, unquote = r.random() < 0.5, r.random() < 0.5
            self.vocabulary.update([quote, (quote[:1] or '"') + p() + (quote[:1] or '"')])
            return Built(q.QuotedString(quote, esc, multiline, unquote),
                         f"QuotedString({quote!r}, {esc!r}, {multiline}, {unquote})")
        if kind == 8:
            words = " ".join(p(2) for _ in range(r.randint(1, 3)))
            if not words.split():
                with pytest.raises(ValueError, match="^one_of requires at least one string$"):
                    q.one_of(words)
                words = "a"
            return Built(q.one_of(words), f"one_of({words!r})")
        if kind == 9:
            f = q.Forward()  # never set
            return Built(f, "Forward()")
        cls = r.choice([q.LineStart, q.LineEnd, q.StringStart, q.StringEnd, q.rest_of_line, q.Empty, q.NoMatch])
        return Built(cls(), f"{cls.__name__}()", looks_back=cls in (q.LineStart, q.StringStart))

    def grammar(self, depth):
        r = self.rng
        if depth == 0 or r.random() < 0.25:
            return self.leaf()
        kind = r.randrange(14)
        if kind in (0, 1):
            a, b = self.grammar(depth - 1), self.grammar(depth - 1)
            if kind == 0:
                obj, text = a.obj + b.obj, f"({a} + {b})"
            elif isinstance(a.obj, q.And):  # And has no |
                obj, text = q.MatchFirst([a.obj, b.obj]), f"MatchFirst([{a}, {b}])"
            else:
                obj, text = a.obj | b.obj, f"({a} | {b})"
            return self.merged(obj, text, [a, b])
        if kind == 2:
            parts = [self.grammar(depth - 1) for _ in range(r.randint(0, 3))]
            return self.merged(q.MatchFirst([g.obj for g in parts]), f"MatchFirst({parts})", parts)
        if kind == 3:
            g, n = self.grammar(depth - 1), r.randint(0, 3)
            return self.merged(q.Exactly(g.obj, n), f"Exactly({g}, {n})", [g])
        if kind == 4:
            g = self.grammar(depth - 1)
            f = q.Forward()
            self.forwards.append(f)
            f <<= g.obj
            return self.merged(f, f"Forward({g})", [g])
        if kind == 5:
            return self.recursive_rule(depth)
        cls = r.choice([q.Optional, q.ZeroOrMore, q.OneOrMore, q.Group, q.Suppress, q.Combine, q.SkipTo])
        g = self.grammar(depth - 1)
        built = self.merged(cls(g.obj), f"{cls.__name__}({g})", [g])
        built.loose |= cls is q.OneOrMore
        return built

    def merged(self, obj, text, parts):
        return Built(obj, text, any(g.loose for g in parts), any(g.looks_back for g in parts),
                     any(g.recursive for g in parts))

    def recursive_rule(self, depth):
        """f <<= open + Optional(f) + close, or f <<= item + Optional(f) (right recursion through a first part
        that may not consume: then it recurses without end)."""
        f = q.Forward()
        self.forwards.append(f)
        first = self.grammar(depth - 1)
        if self.rng.random() < 0.5:
            close = self.grammar(depth - 1)
            f <<= first.obj + q.Optional(f) + close.obj
            parts, text = [first, close], f"rec(f <<= {first} + Optional(f) + {close})"
        else:
            f <<= first.obj + q.Optional(f)
            parts, text = [first], f"rec(f <<= {first} + Optional(f))"
        built = self.merged(f, text, parts)
        built.recursive = True
        return built

    def text(self):
        r = self.rng
        vocabulary = sorted(self.vocabulary)
        parts = []
        for _ in range(r.randint(0, 6)):
            parts.append(r.choice(vocabulary) if vocabulary and r.random() < 0.5 else r.choice(ALPHABET))
        text = "".join(parts)
        if r.random() < 0.2:
            # A repeating text, sometimes with a different last repetition: the shape the period shortcuts of
            # the searches and counts serve.
            text = text * r.randint(2, 40) + r.choice(["", text[:-1], r.choice(ALPHABET)])
        return text

    def release(self):
        for f in self.forwards:
            f <<= q.Empty()  # breaks any cycle through it


# ---------------------------------------------------------------------------------------------------------------


class Recursed(Exception):
    """A method raised RecursionError on a grammar that may recurse without end: the text's checks stop."""


@contextlib.contextmanager
def recursion_allowed(g):
    """Ends the checks of one text or batch at a RecursionError, which only a recursive grammar may raise."""
    try:
        yield
    except Recursed:
        pass
    except RecursionError as exc:
        assert g.recursive, f"{g} raised {exc!r}"


def call(g, method, *args):
    """g.method(*args) through call_checked; a str result must have a UTF-8 form. Only the documented exceptions
    pass: RecursionError on a recursive grammar, ValueError from parse_string (returned as the exception)."""
    try:
        result = call_checked(getattr(g.obj, method), *args)
    except RecursionError as exc:
        assert g.recursive, f"{g}.{method}{args!r} raised {exc!r}"
        assert str(exc) == "maximum grammar recursion depth exceeded"
        raise Recursed() from None
    except ValueError as exc:
        assert method == "parse_string", f"{g}.{method}{args!r} raised {exc!r}"
        return exc.with_traceback(None)  # its frames would hold the arguments
    for s in strs_in(result):
        s.encode("utf-8")
    return result


def strs_in(result):
    if isinstance(result, str):
        yield result
    elif isinstance(result, list):
        for item in result:
            yield from strs_in(item)


def wrapped(cls, g):
    return Built(cls(g.obj), f"{cls.__name__}({g})", g.loose, g.looks_back, g.recursive)


def boundary_reference(g, s):
    """The non-empty matches of the scan, written out over character boundaries. A non-empty match starts and
    ends on a boundary, and between two boundaries only zero-length matches can occur, so the scan's non-empty
    matches are those found by trying each boundary in turn. Trying byte position p is trying the start of the
    text from p on, because the grammar never looks back; the end is where Combine's one token ends."""
    found, i = [], 0
    combined = q.Combine(g.obj)
    while i < len(s):
        try:
            token = combined.parse_string(s[i:])[0]
        except ValueError:
            token = ""
        if token:
            found.append(token)
            i += len(token)
        else:
            i += 1
    return found


def byte_scan_count(g, s):
    """The scan's count, zero-length matches included, for an ASCII text (every byte position is a boundary)."""
    count, pos = 0, 0
    combined = q.Combine(g.obj)
    while pos < len(s):
        try:
            token = combined.parse_string(s[pos:])[0]
        except ValueError:
            pos += 1
            continue
        count += 1
        pos += max(1, len(token))
    return count


# Classes with result shapes of their own (the others follow the common routines): Keyword and Literal search
# into one shared one-item list per occurrence; Regex searches with the library's own iteration, whose empty matches
# are listed; Word and Regex parse a batch into one flat list of tokens.
FLAT_BATCH = (q.Word, q.Regex)


def agrees_with_element(g):
    """Whether g's tests at position 0 are its element's. A top-level Regex whose pattern starts with '^' (as
    '^a|b') may find a match after the start, which its element refuses."""
    return not (isinstance(g.obj, q.Regex) and g.text.startswith("Regex('^"))


def check_text(g, s):
    group = wrapped(q.Group, g)
    matched = call(g, "matches", s)
    if agrees_with_element(g):
        assert matched is call(group, "matches", s)

    parsed = call(g, "parse_string", s)
    if not g.loose:
        assert isinstance(parsed, list) == matched, (parsed, matched)
    if isinstance(parsed, list) and not isinstance(g.obj, (q.And, q.Suppress)) and agrees_with_element(g):
        assert parsed == call(group, "parse_string", s)
    if isinstance(g.obj, q.And) and isinstance(parsed, list) and not g.loose:
        # The slice walk: the tokens are the consumed text, cut where the children ended.
        assert "".join(parsed) == call(wrapped(q.Combine, g), "parse_string", s)[0]

    # The scan of the common routines, reached through a Group, which tests as its inner element does.
    common_found = call(group, "search_string", s)
    common_count = call(group, "search_string_count", s)
    assert all(common_found)
    assert common_count >= len(common_found)
    assert call(wrapped(q.Combine, g), "search_string", s) == common_found
    assert call(wrapped(q.Combine, g), "search_string_count", s) == common_count
    if not g.loose and not g.looks_back:
        assert common_found == boundary_reference(g, s)
        if s.isascii():
            assert common_count == byte_scan_count(g, s)

    found = call(g, "search_string", s)
    count = call(g, "search_string_count", s)
    marked = call(g, "transform_string", s, MARK)
    gaps = marked.split(MARK)
    if isinstance(g.obj, q.Regex):
        # Every match is listed and replaced, the empty ones too.
        assert count == len(found)
        assert len(gaps) == len(found) + 1
        assert gaps[0] + "".join(m + gap for m, gap in zip(found, gaps[1:])) == s
    else:
        assert count == common_count
        # The plain scan: a MatchFirst with NEVER is tried at every position.
        assert count == call(Built(q.MatchFirst([g.obj, NEVER]), f"MatchFirst([{g}, NEVER])", g.loose,
                                   g.looks_back, g.recursive), "search_string_count", s)
        assert marked == call(group, "transform_string", s, MARK)
        assert len(gaps) == len(common_found) + 1
        assert gaps[0] + "".join(m + gap for m, gap in zip(common_found, gaps[1:])) == s
        if isinstance(g.obj, (q.Keyword, q.Literal)) and found and isinstance(found[0], list):
            # The shape of the specialised search (the common routine's shape serves until it is built).
            assert len(found) == count
            assert all(item is found[0] for item in found)
            assert not found or found[0] == [g.literal]
        elif isinstance(g.obj, q.And):
            assert "".join(found) == "".join(common_found)
            if not g.looks_back:
                # The slice walk at each match of the common scan, which gives where the matches start.
                starts, at = [], len(gaps[0])
                for m, gap in zip(common_found, gaps[1:]):
                    starts.append(at)
                    at += len(m) + len(gap)
                assert found == [t for start in starts for t in call(g, "parse_string", s[start:])]
            assert len({id(t) for t in found}) == len(set(found))
        else:
            assert found == common_found
    assert call(g, "transform_string", s, "") == "".join(gaps)
    assert call(g, "transform_string", s, "€") == "€".join(gaps)

    # A fresh copy of a non-ASCII text has no UTF-8 form yet: bodies that read a str in its own units take it
    # as it is (and must not make the form); the results are those of the text read as UTF-8.
    if not s.isascii() and len(s) >= 2:
        unviewed = fresh(s)
        size = sys.getsizeof(unviewed)
        assert call(g, "transform_string", unviewed, MARK) == marked
        assert call(g, "search_string_count", unviewed) == count
        assert call(g, "search_string", unviewed) == found
        if isinstance(g.obj, q.Literal):
            assert sys.getsizeof(unviewed) == size, "the UTF-8 form was made"


def batches(rng, texts):
    pool = [fresh(t) for t in texts]
    one = rng.choice(pool)
    block = [rng.choice(pool) for _ in range(rng.randint(1, 4))]
    many = [fresh(t) + str(i) for i, t in enumerate(texts * 12)][:40]  # more objects than the verdict cache holds
    return [
        [],
        [one],
        [one] * 9,
        block * rng.randint(2, 4) + block[: rng.randrange(len(block))],
        [rng.choice(pool) for _ in range(rng.randint(2, 12))],
        [rng.choice(many) for _ in range(80)],
    ]


def single_parse(g, s):
    """The token list of one input: the class's own parse_string for And (the slice walk), else the element's
    parse; [] when it fails."""
    try:
        return (g.obj if isinstance(g.obj, q.And) else q.Group(g.obj)).parse_string(s)
    except ValueError:
        return []


def check_batch(g, inputs):
    distinct = list({id(x): x for x in inputs}.values())
    with refcounts_unchanged(*distinct):
        check_batch_results(g, inputs)


def check_batch_results(g, inputs):
    count = call(g, "parse_batch_count", inputs)
    assert count == sum(g.obj.matches(s) for s in inputs)
    result = call(g, "parse_batch", inputs)
    singles = [single_parse(g, s) for s in inputs]
    if isinstance(g.obj, FLAT_BATCH):
        assert result == [token for tokens in singles for token in tokens]
        return
    assert result == singles
    # Every item list is held by its slots alone.
    slots = Counter(id(x) for x in result)
    for i in range(len(result)):
        held = sys.getrefcount(result[i]) - 1
        assert held == slots[id(result[i])], f"slot {i} of {g}.parse_batch"


class Odd:
    class Item:
        pass


def check_bad_batch(g, rng, texts):
    """A batch holding an item that is not a str, or a str without UTF-8 form: both batch methods raise the
    error of the first such item in list order, whichever shortcut serves the list."""
    pool = [fresh(t) for t in texts]
    bad = [5, None, b"a", Odd.Item(), fresh("\ud800x"), "\udfff"]
    shape = rng.choice(["one", "uniform", "period", "plain"])
    if shape == "one":
        inputs = [rng.choice(bad)]
    elif shape == "uniform":
        inputs = [rng.choice(pool)] * rng.randint(0, 5) + [rng.choice(bad)] * rng.randint(1, 5)
    elif shape == "period":
        block = [rng.choice(pool + bad) for _ in range(rng.randint(1, 4))]
        inputs = block * rng.randint(2, 4) + [rng.choice(bad)]
    else:
        inputs = [rng.choice(pool + bad) for _ in range(rng.randint(1, 12))] + [rng.choice(bad)]
    unreadable = next(i for i, x in enumerate(inputs)
                      if not isinstance(x, str) or x != x.encode("utf-8", "replace").decode())
    non_str = next((i for i, x in enumerate(inputs) if not isinstance(x, str)), None)
    for method in ("parse_batch", "parse_batch_count"):
        # Optional's count reads no text: every str matches, so only an item that is not a str is refused.
        reads_no_text = method == "parse_batch_count" and type(g.obj) is q.Optional
        first = non_str if reads_no_text else unreadable
        try:
            result = call_checked(getattr(g.obj, method), inputs)
        except RecursionError:
            assert g.recursive
            raise Recursed() from None
        except (TypeError, UnicodeEncodeError) as exc:
            error = exc
        else:
            if reads_no_text and first is None:
                assert result == len(inputs), (method, inputs, result)
                continue
            raise AssertionError(f"{method}({inputs!r}) gave {result!r}")
        if isinstance(inputs[first], str):
            assert type(error) is UnicodeEncodeError and error.object is inputs[first], (method, inputs, error)
        else:
            name = type(inputs[first]).__qualname__
            assert type(error) is TypeError, (method, inputs, error)
            assert str(error) == (
                f"argument 'inputs': item {first}: '{name}' object cannot be converted to 'PyString'"), method
        del error


@pytest.mark.parametrize("seed", SEEDS)
def test_random_grammars_agree_on_every_method(seed):
    for case in range(CASES_PER_SEED):
        rng = random.Random(seed * 1000 + case)
        builder = Builder(rng)
        g = builder.grammar(depth=rng.randint(1, 4))
        texts = [builder.text() for _ in range(6)]
        try:
            for s in texts:
                with recursion_allowed(g):
                    check_text(g, s)
            for inputs in batches(rng, texts):
                with recursion_allowed(g):
                    check_batch(g, inputs)
            with recursion_allowed(g):
                check_bad_batch(g, rng, texts)
        except AssertionError as exc:
            raise AssertionError(f"seed {seed * 1000 + case}: {g}: {exc}") from exc
        finally:
            builder.release()


# ---------------------------------------------------------------------------------------------------------------
# Constructors and operators with random arguments: each call gives an object of its class or raises one of the
# argument errors, and leaves the reference counts of its arguments as they were, on every path.

class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, type):
            raise self.value("no index")  # a new error each time: a raised one keeps the frame that raised it
        return self.value


def argument_pool(rng):
    return [
        "", "a", fresh("ab"), fresh("é€"), fresh("x\ud800"), fresh("(a|"), "^", None, True, False, 0, 3, -1,
        2**64, 2**64 - 1, 2.0, b"a", ["a"], [q.Literal("a"), "b"], [q.Literal("a"), q.Empty()], ("a",), object(),
        Index(2), Index(-5), Index(ValueError), Index("x"), q.Literal, q.Literal("a"), q.Word("ab"),
        q.Forward(), q.Literal("a") + q.Empty(), q.Literal("a") | q.Empty(), q.Regex("[ab]"), q.Empty(),
    ]


CONSTRUCTORS = [q.Literal, q.Keyword, q.CaselessLiteral, q.CaselessKeyword, q.Char, q.Word, q.Regex,
                q.QuotedString, q.MatchFirst, q.Group, q.Suppress, q.Optional, q.ZeroOrMore, q.OneOrMore, q.Combine,
                q.SkipTo, q.Exactly, q.Empty, q.NoMatch, q.LineEnd, q.LineStart, q.StringEnd, q.StringStart,
                q.rest_of_line, q.Forward, q.And, q.one_of]
KEYWORDS = ["s", "init_chars", "body_chars", "pattern", "quote_char", "esc_char", "multiline", "unquote", "exprs",
            "expr", "count", "strs", "x"]
ARGUMENT_ERRORS = (TypeError, ValueError, OverflowError, UnicodeEncodeError)


def parameters(func):
    try:
        return list(inspect.signature(func).parameters)
    except ValueError:  # And has no signature
        return []


def random_call(rng, pool):
    """Mostly the right parameters, by position or by name, with values of any type; sometimes too many, too
    few or unknown ones."""
    func = rng.choice(CONSTRUCTORS)
    names = parameters(func)
    if rng.random() < 0.8:
        split = rng.randint(0, len(names))
        args = [rng.choice(pool) for _ in names[:split]]
        kwargs = {k: rng.choice(pool) for k in names[split:] if rng.random() < 0.8}
    else:
        args = [rng.choice(pool) for _ in range(rng.choice([0, 1, 2, 3, 5]))]
        kwargs = {k: rng.choice(pool) for k in rng.sample(KEYWORDS, rng.choice([0, 1, 2]))}
    return func, args, kwargs


@pytest.mark.parametrize("seed", SEEDS)
def test_random_constructor_and_operator_calls_raise_cleanly(seed):
    rng = random.Random(seed)
    pool = argument_pool(rng)
    grammars = [x for x in pool if type(x).__module__ == "builtins" and hasattr(x, "parse_string")
                and not isinstance(x, type)]
    for _ in range(CASES_PER_SEED * 10):
        func, args, kwargs = random_call(rng, pool)
        try:
            obj = call_checked(func, *args, **kwargs)
        except ARGUMENT_ERRORS:
            continue
        assert type(obj) is (q.MatchFirst if func is q.one_of else func), (func, args, kwargs)
        obj.matches("ab")
    for _ in range(CASES_PER_SEED * 4):
        left, right = rng.choice(grammars), rng.choice(pool)
        for op in ("+", "|"):
            try:
                result = call_checked(lambda a, b: a + b if op == "+" else a | b, left, right)
            except (TypeError, ValueError) as exc:
                if isinstance(exc, ValueError):
                    assert str(exc) == f"Unsupported operand type for {op}"
                continue
            assert type(result) is (q.And if op == "+" else q.MatchFirst)
        f = q.Forward()
        try:
            call_checked(f.set, right)
        except ValueError as exc:
            assert str(exc) == "Unsupported parser element type"
        else:
            f.set(q.Empty())
