"""Batch items held by their list slot alone cannot occur twice in the list, so the batch bodies give them no
identity-table entry. Every answer on such items must be the identity route's answer on the very same items,
reached by giving every item a second holder: the same values and types, the same slots sharing one list or
token object, the same inputs handed back as tokens, exact reference counts, and the same error at the first
item that is not a str."""
import random
import sys

import pytest
from conftest import fresh, loop_parse

import quillex as q


class Text(str):
    pass


class Outer:
    class Inner:
        pass


# Whole and partial matches, failures and empty texts for every grammar below, ASCII and not.
TEXTS = ["abc", "abc1", "Key=value", "key=", "k=vé", "=x", "12", "12x", "-x", "é1", "aé=1", "aé", "ab", "a", ""]


def mixed(seed, n=300):
    """A list without period whose items are: objects held by their slot alone (exact strs and str subclass
    instances, equal texts among them), and objects that occur several times, in runs and far apart (exact and
    subclass). Item 0 is held alone, so no period can be found and the general route serves the list."""
    rng = random.Random(seed)
    pool = [fresh(t) for t in TEXTS] + [Text(t) for t in TEXTS[:8]]
    items = [fresh(f"xy{seed}")]
    while len(items) < n:
        r = rng.random()
        if r < 0.5:
            items.append(fresh(rng.choice(TEXTS)))
        elif r < 0.6:
            items.append(Text(rng.choice(TEXTS)))
        elif r < 0.75:
            items.extend([rng.choice(pool)] * rng.randint(2, 3))
        else:
            items.append(rng.choice(pool))
    return items


def sole_holders(items):
    return sum(sys.getrefcount(items[i]) == 2 for i in range(len(items)))  # the slot and the argument


def refcounts(items):
    # Counts of the interpreter's shared strs ('' and one character) move with unrelated work.
    return [c if c < 100_000 else None for c in map(sys.getrefcount, items)]


def interpreter_singleton(t):
    return type(t) is str and len(t) <= 1 and (not t or ord(t) < 256)


def token_kinds(tokens, items, numbering):
    """Per token: its type and what it is: the input object at its first index in `items`, or a str made for
    the result, numbered by its first occurrence (`numbering`, shared over one result)."""
    inputs = {}
    for k, x in enumerate(items):
        inputs.setdefault(id(x), ("input", k))
    return [(type(t), inputs.get(id(t)) or numbering.setdefault(id(t), ("made", len(numbering)))) for t in tokens]


def assert_counts_exact(token_lists, items, holders):
    """Every token is held by its slots in the distinct `token_lists`, plus its slots in the `holders` lists of the
    items when it is an input."""
    uses = {}
    for tokens in token_lists:
        for i in range(len(tokens)):  # by index: a loop variable would hold a reference of its own
            uses.setdefault(id(tokens[i]), [tokens[i], 0])[1] += 1
    for i in range(len(items)):
        if id(items[i]) in uses:
            uses[id(items[i])][1] += holders
    for entry in uses.values():
        if interpreter_singleton(entry[0]):
            continue
        held = sys.getrefcount(entry[0]) - 2  # the entry and the argument
        assert held == entry[1], f"token {entry[0]!r}"


def flat_outcome(g, items, holders):
    """parse_batch's answer with every observable fact, holding no reference to the result afterwards."""
    result = g.parse_batch(items)
    assert type(result) is list
    assert sys.getsizeof(result) == sys.getsizeof([None] * len(result)), "room left past the tokens"
    assert_counts_exact([result], items, holders)
    outcome = ([t.encode() for t in result], token_kinds(result, items, {}))
    result.append("z")  # a list like any other
    return outcome


def nested_outcome(g, items, holders):
    result = g.parse_batch(items)
    assert type(result) is list and len(result) == len(items)
    first_slot = {}
    for i in range(len(result)):  # by index: a loop variable would hold a reference of its own
        first_slot.setdefault(id(result[i]), i)
    lists = [result[i] for i in first_slot.values()]
    for k in range(len(lists)):
        slots = sum(r is lists[k] for r in result)
        held = sys.getrefcount(lists[k]) - 2  # `lists` and the argument
        assert held == slots
    assert_counts_exact(lists, items, holders)
    numbering = {}
    values = [[t.encode() for t in lst] for lst in result]
    sharing = [(first_slot[id(lst)], token_kinds(lst, items, numbering)) for lst in result]
    del lists
    return values, sharing


def on_both_routes(outcome, g, items):
    """outcome(g, items, holders) with the sole holders as they are, then with every item held twice."""
    assert sole_holders(items) > len(items) // 4
    assert any(sys.getrefcount(x) > 3 for x in items)  # objects that occur more than once
    before = refcounts(items)
    fast = outcome(g, items, 1)
    assert refcounts(items) == before
    held = list(items)
    assert sole_holders(items) == 0
    plain = outcome(g, items, 2)
    del held
    assert refcounts(items) == before
    return fast, plain


FLAT = {
    "word": lambda: q.Word(q.alphas()),
    "word-latin1": lambda: q.Word("aébc"),
    "regex-digits": lambda: q.Regex("[0-9]+"),
    "regex-whole": lambda: q.Regex(".*"),
    "regex-nonascii": lambda: q.Regex("[aé]+"),
}

NESTED = {
    "and": lambda: q.Word(q.alphas()) + q.Literal("=") + q.Regex("[^\n]*"),
    "and-literal": lambda: q.Literal("a") + q.Word("bcé"),
}

COUNTED = {**FLAT, **NESTED, "line-end": q.LineEnd, "char": lambda: q.Char("aK")}


def flat_loop(g, items):
    return [g.parse_string(s)[0].encode() for s in items if g.matches(s)]


def nested_loop(g, items):
    return [[t.encode() for t in r] for r in loop_parse(g, items)]


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("name", list(FLAT) + list(NESTED))
def test_parse_batch_agrees_with_the_identity_route(name, seed):
    g, outcome, loop = (FLAT[name](), flat_outcome, flat_loop) if name in FLAT else (
        NESTED[name](), nested_outcome, nested_loop)
    items = mixed(seed)
    fast, plain = on_both_routes(outcome, g, items)
    assert fast == plain
    assert fast[0] == loop(g, items)


@pytest.mark.parametrize("name", list(COUNTED))
def test_parse_batch_count_agrees_with_the_identity_route(name):
    g = COUNTED[name]()
    for seed in range(4):
        items = mixed(seed)
        fast, plain = on_both_routes(lambda g, items, _: g.parse_batch_count(items), g, items)
        assert fast == plain == sum(g.matches(s) for s in items)


def with_bad_items(seed, positions):
    """mixed(seed) with items that are not str at `positions`: one held alone, one that recurs."""
    items = mixed(seed)
    recurring = Outer.Inner()
    for k, p in enumerate(positions):
        items.insert(p, recurring if k % 2 else float(p))
    items.append(recurring)
    return items


@pytest.mark.parametrize("method", ["parse_batch", "parse_batch_count"])
@pytest.mark.parametrize("name", list(FLAT) + list(NESTED))
@pytest.mark.parametrize("positions, type_name", [
    ([1], "float"), ([150, 151], "float"), ([40, 7], "Outer.Inner"), ([299], "float"),
])
def test_first_non_str_item_is_named_on_both_routes(name, method, positions, type_name):
    g = {**FLAT, **NESTED}[name]()
    items = with_bad_items(3, positions)
    call = getattr(g, method)

    def error(g, items, _):
        with pytest.raises(TypeError) as info:
            call(items)
        return str(info.value)

    fast, plain = on_both_routes(error, g, items)
    assert fast == plain == (
        f"argument 'inputs': item {min(positions)}: '{type_name}' object cannot be converted to 'PyString'"
    )


@pytest.mark.parametrize("name", list(FLAT) + list(NESTED))
def test_a_failed_batch_leaves_nothing_behind(name):
    # Tokens made before the bad item (new strs, and inputs handed back) are released with the partial result.
    g = {**FLAT, **NESTED}[name]()
    items = with_bad_items(5, [250])
    before = refcounts(items)
    for _ in range(3):
        with pytest.raises(TypeError):
            g.parse_batch(items)
    blocks = sys.getallocatedblocks()
    for _ in range(40):
        with pytest.raises(TypeError):
            g.parse_batch(items)
    # Each call makes dozens of strs before it fails; a few blocks of the interpreter's own may come and go.
    assert sys.getallocatedblocks() - blocks < 400
    assert refcounts(items) == before
