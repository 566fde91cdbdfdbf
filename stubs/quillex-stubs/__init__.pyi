# Types of the quillex extension module, for type checkers and editors. The run-time classes share no base
# class: _Element (any grammar object, as the operators and combinator constructors take it), _Alternative and
# _Standard exist only here. Outside a stub, name them in string annotations or under `if typing.TYPE_CHECKING:`.
from typing import Never, Self, SupportsIndex, TypeVar, final

__version__: str
__all__ = [
    "Literal",
    "Keyword",
    "Word",
    "Regex",
    "And",
    "MatchFirst",
    "ZeroOrMore",
    "OneOrMore",
    "Optional",
    "Group",
    "Suppress",
    "Forward",
    "Combine",
    "Exactly",
    "CaselessLiteral",
    "CaselessKeyword",
    "Char",
    "StringStart",
    "StringEnd",
    "LineStart",
    "LineEnd",
    "rest_of_line",
    "QuotedString",
    "Empty",
    "NoMatch",
    "SkipTo",
    "alphas",
    "alphanums",
    "nums",
    "printables",
    "hexnums",
    "alphas_upper",
    "alphas_lower",
    "one_of",
    "__version__",
]

_E = TypeVar("_E", bound=_Element)

class _Element:
    """Any grammar object: an instance of one of the 26 classes (no other object is accepted as an element).

    `search_string` and `parse_batch` give lists of two shapes, fixed per class (see each class).
    """

    def parse_string(self, s: str) -> list[str]: ...
    def matches(self, s: str) -> bool: ...
    def search_string(self, s: str) -> list[str] | list[list[str]]: ...
    def search_string_count(self, s: str) -> int: ...
    def parse_batch(self, inputs: list[str]) -> list[list[str]] | list[str]: ...
    def parse_batch_count(self, inputs: list[str]) -> int: ...
    def transform_string(self, s: str, replacement: str) -> str: ...
    # `a + b` is an And of a's and b's elements. The reflected form answers only an operand of its own class,
    # which the interpreter never hands it (`+` between two objects of one class goes to __add__).
    def __add__(self, value: _Element, /) -> And: ...
    def __radd__(self, value: Self, /) -> And: ...

class _Alternative(_Element):
    """A grammar object that takes `|`: every class but And. The reflected form is as for `+`."""

    def __or__(self, value: _Element, /) -> MatchFirst: ...
    def __ror__(self, value: Self, /) -> MatchFirst: ...

class _Standard(_Alternative):
    """The result shapes of most classes: the matched tokens of a search in one flat list, one token list per
    input of a batch."""

    def search_string(self, s: str) -> list[str]: ...
    def parse_batch(self, inputs: list[str]) -> list[list[str]]: ...

@final
class Literal(_Alternative):
    """`search_string` gives one one-item list per occurrence."""

    def __new__(cls, s: str) -> Self: ...
    def search_string(self, s: str) -> list[list[str]]: ...
    def parse_batch(self, inputs: list[str]) -> list[list[str]]: ...

@final
class Keyword(_Alternative):
    """`search_string` gives one one-item list per occurrence."""

    def __new__(cls, s: str) -> Self: ...
    def search_string(self, s: str) -> list[list[str]]: ...
    def parse_batch(self, inputs: list[str]) -> list[list[str]]: ...

@final
class CaselessLiteral(_Standard):
    def __new__(cls, s: str) -> Self: ...

@final
class CaselessKeyword(_Standard):
    def __new__(cls, s: str) -> Self: ...

@final
class Char(_Standard):
    def __new__(cls, s: str) -> Self: ...

@final
class Word(_Alternative):
    """`parse_batch` gives one flat list: the token of each input that matches, in input order."""

    def __new__(cls, init_chars: str, body_chars: str | None = None) -> Self: ...
    def search_string(self, s: str) -> list[str]: ...
    def parse_batch(self, inputs: list[str]) -> list[str]: ...

@final
class Regex(_Alternative):
    """`parse_batch` gives one flat list: the token of each input that matches, in input order."""

    def __new__(cls, pattern: str) -> Self: ...
    def search_string(self, s: str) -> list[str]: ...
    def parse_batch(self, inputs: list[str]) -> list[str]: ...

@final
class QuotedString(_Standard):
    def __new__(
        cls, quote_char: str = '"', esc_char: str | None = None, multiline: bool = False, unquote: bool = True
    ) -> Self: ...

@final
class And(_Element):
    """Made by `+` only, and has no `|`. Calling the class raises TypeError; the parameter that no value can
    fill makes every call a type error too."""

    def __new__(cls, made_by_plus_only: Never, /) -> Self: ...
    def search_string(self, s: str) -> list[str]: ...
    def parse_batch(self, inputs: list[str]) -> list[list[str]]: ...

@final
class MatchFirst(_Standard):
    def __new__(cls, exprs: list[_E]) -> Self: ...

@final
class Group(_Standard):
    def __new__(cls, expr: _Element) -> Self: ...

@final
class OneOrMore(_Standard):
    def __new__(cls, expr: _Element) -> Self: ...

@final
class ZeroOrMore(_Standard):
    def __new__(cls, expr: _Element) -> Self: ...

@final
class SkipTo(_Standard):
    def __new__(cls, expr: _Element) -> Self: ...

@final
class Suppress(_Standard):
    def __new__(cls, expr: _Element) -> Self: ...

@final
class Combine(_Standard):
    def __new__(cls, expr: _Element) -> Self: ...

@final
class Optional(_Standard):
    def __new__(cls, expr: _Element) -> Self: ...

@final
class Exactly(_Standard):
    def __new__(cls, expr: _Element, count: SupportsIndex) -> Self: ...

@final
class Forward(_Standard):
    def __new__(cls) -> Self: ...
    def set(self, expr: _Element) -> None: ...
    def __ilshift__(self, value: _Element, /) -> Self: ...

@final
class rest_of_line(_Standard):
    def __new__(cls) -> Self: ...

@final
class StringStart(_Standard):
    def __new__(cls) -> Self: ...

@final
class StringEnd(_Standard):
    def __new__(cls) -> Self: ...

@final
class LineStart(_Standard):
    def __new__(cls) -> Self: ...

@final
class LineEnd(_Standard):
    def __new__(cls) -> Self: ...

@final
class Empty(_Standard):
    def __new__(cls) -> Self: ...

@final
class NoMatch(_Standard):
    def __new__(cls) -> Self: ...

def alphas() -> str: ...
def alphanums() -> str: ...
def nums() -> str: ...
def printables() -> str: ...
def hexnums() -> str: ...
def alphas_upper() -> str: ...
def alphas_lower() -> str: ...
def one_of(strs: str) -> MatchFirst: ...
