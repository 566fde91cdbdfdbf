"""Calls the stubs must refuse. Each line after the prelude stands alone, carries the mypy error code it must
draw (`# expect: CODE`), and raises at run time too: the stubs refuse nothing the module accepts."""
import quillex as q

lit = q.Literal("a")
fwd = q.Forward()
seq = lit + lit

q.Literal(5)  # expect: arg-type
q.Word("a", 5)  # expect: arg-type
q.Regex(pattern=5)  # expect: arg-type
lit.parse_string(5)  # expect: arg-type
lit.transform_string("a", 5)  # expect: arg-type
lit.parse_string(b"a")  # expect: arg-type
lit.matches(b"a")  # expect: arg-type
lit.search_string(b"a")  # expect: arg-type
lit.search_string_count(b"a")  # expect: arg-type
lit.transform_string(b"a", "b")  # expect: arg-type
lit.parse_batch([b"a"])  # expect: list-item
lit.parse_batch_count(("a",))  # expect: arg-type
lit.transform_string("a")  # expect: call-arg
lit.transform_string(s="a")  # expect: call-arg
lit + "a"  # expect: operator
lit + 5  # expect: operator
"a" + lit  # expect: operator
lit | None  # expect: operator
seq | lit  # expect: operator
fwd <<= "a"  # expect: arg-type
fwd.set("a")  # expect: arg-type
q.Group("a")  # expect: arg-type
q.MatchFirst(["a"])  # expect: type-var
q.MatchFirst((lit,))  # expect: arg-type
q.Exactly(lit, 2.0)  # expect: arg-type
q.QuotedString(multiline=1)  # expect: arg-type
q.QuotedString(esc="\\")  # expect: call-arg
q.Empty(lit)  # expect: call-arg
q.And()  # expect: call-arg
q.And(lit)  # expect: arg-type
q.one_of(["a", "b"])  # expect: arg-type
q.nums("0")  # expect: call-arg
