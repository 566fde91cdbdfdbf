"""Python models of the Literal and Keyword rules and of the methods built on them, shared by the fast-path
tests, plus the batch list shapes those tests walk and the common-routine route (a Group around the terminal).

The models work on UTF-8 bytes, as the module does: a position is a byte offset.
"""
import itertools
import random

import pytest

import quillex as q

IDENT = frozenset(b"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_")


def fresh(text):
    """A new str object equal to `text`."""
    return (text + "!")[:-1]


def literal_at(lit, b, pos):
    return b.startswith(lit, pos)


def keyword_at(kw, b, pos):
    end = pos + len(kw)
    return b.startswith(kw, pos) and (end == len(b) or b[end] not in IDENT)


RULES = {"Literal": literal_at, "Keyword": keyword_at}


def scan(rule, token, text):
    """The scan rule over the element's test: the (start, end) of every match, zero-length ones included."""
    b, t = text.encode(), token.encode()
    pos, out = 0, []
    while pos < len(b):
        if rule(t, b, pos):
            out.append((pos, pos + len(t)))
            pos = max(pos + 1, pos + len(t))
        else:
            pos += 1
    return out


def model_count(rule, token, text):
    return len(scan(rule, token, text))


def model_search(rule, token, text):
    return [[token]] * model_count(rule, token, text)


def model_transform(rule, token, text, replacement):
    b, out, copied = text.encode(), [], 0
    for x, y in scan(rule, token, text):
        if y > x:
            out.append(b[copied:x])
            out.append(replacement.encode())
            copied = y
    out.append(b[copied:])
    return b"".join(out).decode()


def model_matches(rule, token, text):
    return rule(token.encode(), text.encode(), 0)


def model_batch(rule, token, items):
    return [[token] if model_matches(rule, token, s) else [] for s in items]


def count_by_matches(g, token, text):
    """The scan rule run through the object's own `matches` on each character-boundary suffix (a non-empty
    literal or keyword can match only at a character boundary)."""
    assert token
    i, count = 0, 0
    while i < len(text):
        if g.matches(text[i:]):
            count += 1
            i += len(token)
        else:
            i += 1
    return count


def small_world(alphabet, max_length):
    """Every text over `alphabet` of 0 .. max_length characters."""
    for n in range(max_length + 1):
        for chars in itertools.product(alphabet, repeat=n):
            yield "".join(chars)


def common_route(g):
    """Group(g): the common routines over g's try_match_at (Group's tokens stay flat). Skips the test while
    Group has no constructor."""
    try:
        return q.Group(g)
    except TypeError as exc:
        pytest.skip(f"common route unavailable: {exc}")


def batch_shapes(hit, miss):
    """Batch lists by name, from texts `hit` (matches) and `miss` (does not); every object made fresh."""
    a, b, c = fresh(hit), fresh(miss), fresh(hit + " c")
    x, y = fresh(miss + "x"), fresh(hit + " y")
    twin = fresh(hit)
    forty = [fresh(f"{hit} {i}") if i % 3 else fresh(f"{miss}{i}") for i in range(40)]
    rng = random.Random(5)
    no_period = []
    for k in range(300):
        no_period.extend(forty[(k * 7 + j) % 40] for j in range(k % 5 + 1))
    return {
        "empty": [],
        "one": [a],
        "one-miss": [b],
        "uniform-1000": [a] * 1000,
        "uniform-miss": [b] * 50,
        "period-2": [a, b] * 3,
        "period-2-partial": [a, b, a, b, a],
        "period-3-partial": [a, b, c] * 5 + [a, b],
        "broken-period": [a, b, a, b, x, y, a, b],
        "aaba": [a, a, b, a],
        "equal-text-distinct-objects": [a, twin, a, twin, twin],
        "runs": [a, a, a, b, b, a, c, c, b],
        "period-127": ([a] + [fresh(f"{miss}{i}") for i in range(126)]) * 3,
        "forty-random": [rng.choice(forty) for _ in range(3000)],
        "forty-no-period": no_period,
    }


BATCH_SHAPES = list(batch_shapes("ab", "x"))

