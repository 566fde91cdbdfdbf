"""A typed program over the whole module: every class, method, operator and function.

`mypy --strict` must accept it as it stands, and it runs: each run-time assertion confirms a type the stubs
claim (`assert_type` says what the checker sees, the `type(...) is` assertion what the module returns).
"""
from __future__ import annotations

from typing import TYPE_CHECKING, assert_type

import quillex as q

if TYPE_CHECKING:
    from quillex import _Alternative, _Element

# Each class by position and by keyword, with every default left out and then given.
lit = q.Literal("ab")
terminals: list[_Alternative] = [
    lit,
    q.Literal(s="ab"),
    q.Keyword("if"),
    q.Keyword(s="if"),
    q.CaselessLiteral("ab"),
    q.CaselessLiteral(s="ab"),
    q.CaselessKeyword("if"),
    q.CaselessKeyword(s="if"),
    q.Char("+-"),
    q.Char(s="+-"),
    q.Word(q.alphas()),
    q.Word(q.alphas(), q.alphanums()),
    q.Word(q.alphas(), None),
    q.Word(init_chars=q.alphas_upper(), body_chars=q.alphas_lower()),
    q.Regex(r"\d+"),
    q.Regex(pattern=r"\d+"),
    q.QuotedString(),
    q.QuotedString("'", "\\", True, False),
    q.QuotedString(quote_char="'", esc_char=None, multiline=False, unquote=True),
    q.StringStart(),
    q.StringEnd(),
    q.LineStart(),
    q.LineEnd(),
    q.rest_of_line(),
    q.Empty(),
    q.NoMatch(),
]
combinators: list[_Alternative] = [
    q.MatchFirst([lit, q.Word(q.nums())]),
    q.MatchFirst(exprs=[q.Keyword("if")]),
    q.MatchFirst([]),
    q.ZeroOrMore(lit),
    q.OneOrMore(expr=lit),
    q.Optional(lit),
    q.Group(lit + lit),
    q.Suppress(lit),
    q.Combine(lit),
    q.Exactly(lit, 2),
    q.Exactly(expr=lit, count=3),
    q.SkipTo(q.LineEnd()),
    q.one_of("+ - * /"),
]

# A MatchFirst takes a list of any one element class as well as a mixed one.
literals: list[q.Literal] = [q.Literal("a"), q.Literal("b")]
assert type(q.MatchFirst(literals)) is q.MatchFirst

# Forward: `<<=` keeps the name bound to the Forward; `set` returns None.
expr = q.Forward()
expr <<= q.Word(q.nums()) + q.Optional(q.Char("+") + expr)
assert_type(expr, q.Forward)
assert type(expr) is q.Forward
other = q.Forward()
other.set(expr=expr)
other.set(lit)
assert other.parse_string("ab") == ["ab"]

# The operators: `+` on every class gives And, `|` on every class but And gives MatchFirst; the right operand is
# any element, And included.
sequence = lit + q.Word(q.nums())
assert_type(sequence, q.And)
every: list[_Element] = [*terminals, *combinators, expr, sequence]
assert {type(e).__name__ for e in every} == {n for n in q.__all__ if isinstance(getattr(q, n), type)}
for left in every:
    for right in every:
        joined = left + right
        assert_type(joined, q.And)
        assert type(joined) is q.And
for alternative in [*terminals, *combinators, expr]:
    for right in every:
        either = alternative | right
        assert_type(either, q.MatchFirst)
        assert type(either) is q.MatchFirst
assert_type(sequence + sequence, q.And)
assert_type(q.Char("x") | sequence, q.MatchFirst)
# The reflected forms, reached only by a direct call with an operand of the same class.
assert_type(q.Word("a").__radd__(q.Word("b")), q.And)
assert type(q.Word("a").__radd__(q.Word("b"))) is q.And
assert_type(q.Char("a").__ror__(q.Char("b")), q.MatchFirst)
assert type(q.Char("a").__ror__(q.Char("b"))) is q.MatchFirst

# The seven methods, by position and by keyword.
tokens: list[str] = expr.parse_string("1+2")
assert tokens == ["1", "+", "2"]
assert expr.parse_string(s="1") == ["1"]
matched: bool = lit.matches("abc")
assert matched is True and lit.matches(s="x") is False
# search_string: one flat list, but Literal and Keyword give one one-item list per occurrence.
found: list[str] = q.Word(q.alphas()).search_string("ab ab")
assert found == ["ab", "ab"] and q.Regex("x").search_string(s="") == []
occurrences: list[list[str]] = lit.search_string("ab ab")
assert occurrences == [["ab"], ["ab"]] and q.Keyword(s="if").search_string(s="if x") == [["if"]]
count: int = lit.search_string_count("abab")
assert count == 2 and lit.search_string_count(s="x") == 0
# parse_batch: one token list per input, but Word and Regex give one flat list of the matching inputs' tokens.
batch: list[list[str]] = lit.parse_batch(["ab", "x"])
assert batch == [["ab"], []] and lit.parse_batch(inputs=[]) == []
flat: list[str] = q.Word(q.nums()).parse_batch(["1", "x", "22"])
assert flat == ["1", "22"] and q.Regex(r"\d").parse_batch(inputs=["x"]) == []
batch_count: int = lit.parse_batch_count(["ab", "x"])
assert batch_count == 1 and lit.parse_batch_count(inputs=["ab"]) == 1
replaced: str = lit.transform_string("abc", "X")
assert replaced == "Xc" and lit.transform_string(s="ab", replacement="") == ""
# Through the shared base the two shapes are one union; each class's own shape is checked at run time.
for element in every:
    searched = element.search_string("ab if +- 12 'q'\nab")
    assert_type(searched, list[str] | list[list[str]])
    batched = element.parse_batch(["ab", "if", "12", "x"])
    assert_type(batched, list[list[str]] | list[str])
    nested = type(element) in (q.Literal, q.Keyword)
    assert all(type(item) is (list if nested else str) for item in searched)
    flat_batch = type(element) in (q.Word, q.Regex)
    assert len(batched) <= 4 if flat_batch else len(batched) == 4
    assert all(type(item) is (str if flat_batch else list) for item in batched)
    assert all(type(token) is str for item in batched if isinstance(item, list) for token in item)

# The character sets and one_of.
for chars in (q.alphas(), q.alphanums(), q.nums(), q.printables(), q.hexnums(), q.alphas_upper(),
              q.alphas_lower()):
    assert_type(chars, str)
    assert type(chars) is str
operators = q.one_of(strs="+ -")
assert_type(operators, q.MatchFirst)
assert type(operators) is q.MatchFirst

version: str = q.__version__
names: list[str] = q.__all__
assert version and len(names) == 35
