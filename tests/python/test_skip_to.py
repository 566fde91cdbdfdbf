"""SkipTo over every method against its rule written out: the target tested at the start, then at every later
character boundary, with a scan that tries each byte position. Targets at the start, at the end, absent,
overlapping candidates, targets that match empty, non-ASCII text, and Regex targets that are searched through
the text as well as ones tried at each position."""
import pytest

import quillex as q
from quillex import Empty, Group, Literal, Optional, Regex, SkipTo, StringEnd, Word

NOT_FOUND = "ParseException at position 0: SkipTo: target not found"


def boundary(b, i):
    return i >= len(b) or (b[i] & 0xC0) != 0x80


class Rule:
    """The plain rule of SkipTo(target) on UTF-8 bytes. `target.matches` on the rest of the text is the target's
    test at a boundary for the context-free targets used here; `inside` is its answer inside a character."""

    def __init__(self, target, inside, prefix=b""):
        self.target, self.inside, self.prefix = target, inside, prefix

    def target_at(self, b, i):
        return self.target.matches(b[i:].decode()) if boundary(b, i) else self.inside

    def skip(self, b, pos):
        if self.target_at(b, pos):
            return pos
        if boundary(b, pos):
            for i in range(pos + 1, len(b) + 1):
                if boundary(b, i) and self.target_at(b, i):
                    return i
        return None

    def at(self, b, pos):
        """End of the grammar's match at pos: Literal(prefix) + SkipTo(target), or SkipTo(target) alone."""
        if not b.startswith(self.prefix, pos):
            return None
        return self.skip(b, pos + len(self.prefix))

    def scan(self, b):
        pos, spans = 0, []
        while pos < len(b):
            end = self.at(b, pos)
            if end is None:
                pos += 1
            else:
                spans.append((pos, end))
                pos = max(pos + 1, end)
        return spans


def transformed(b, spans, replacement):
    out, last = [], 0
    for s, e in spans:
        if e > s:
            out += [b[last:s], replacement.encode()]
            last = e
    return b"".join(out + [b[last:]]).decode()


# (id, target, answer inside a character, texts)
TARGETS = [
    ("literal", lambda: Literal("end"), False,
     ["endaaa", "aaaend", "aaaa", "eenend", "enen", "éa€end", "", "€€en", "a" * 30 + "end" + "a" * 8]),
    ("overlapping", lambda: Literal("aa"), False, ["aaaa", "abaab", "a", "éaaé", "ba" * 12]),
    ("word", lambda: Word(q.nums()), False, ["12ab34", "abc", "ab1", "é1€", "x" * 40]),
    ("regex-searched", lambda: Regex("x+y"), False, ["xxxx", "xxxy", "yxxy", "xéxy", "x€xxy", "x" * 40]),
    ("regex-empty", lambda: Regex("x*"), False, ["abc", "éxé", "", "xx"]),
    ("regex-non-ascii", lambda: Regex("é$|€"), False, ["aé", "éa", "a€é", "é€"]),
    ("regex-tried-per-position", lambda: Regex(r"\bx"), False, ["axbx", " x", "éx", "aax"]),
    ("regex-anchored", lambda: Regex("^b|c"), False, ["aab", "abc", "éb"]),
    ("empty", Empty, True, ["aé€", "a"]),
    ("string-end", StringEnd, False, ["abc", "é", "a" * 40]),
    ("optional", lambda: Optional(Literal("b")), True, ["aéb", "é"]),
]

# SkipTo alone runs its own scans; inside a Group, the common routines test it at every start; after a literal,
# And's bodies do, and each start asks for the target from one byte further on.
GRAMMARS = {
    "alone": lambda t: SkipTo(t),
    "in-group": lambda t: Group(SkipTo(t)),
    "after-a": lambda t: Literal("a") + SkipTo(t),
}
CASES = [pytest.param(make, inside, grammar, texts, id=f"{name}-{grammar}")
         for name, make, inside, texts in TARGETS for grammar in GRAMMARS]


@pytest.mark.parametrize("make, inside, grammar, texts", CASES)
def test_methods_follow_the_plain_rule(make, inside, grammar, texts):
    target = make()
    prefix = b"a" if grammar == "after-a" else b""
    rule = Rule(target, inside, prefix)
    g = GRAMMARS[grammar](target)
    for s in texts:
        b = s.encode()
        spans = rule.scan(b)
        assert g.search_string_count(s) == len(spans), s
        # And gives the tokens of its children: the literal, then SkipTo's slice when it is not empty.
        cut = len(prefix)
        tokens = [t for i, j in spans for t in ([b[i:i + cut], b[i + cut:j]] if cut else [b[i:j]]) if t]
        assert g.search_string(s) == [t.decode() for t in tokens], s
        assert g.transform_string(s, "#") == transformed(b, spans, "#"), s
        assert g.matches(s) == (rule.at(b, 0) is not None), s
    assert g.parse_batch_count(texts) == sum(rule.at(t.encode(), 0) is not None for t in texts)
    if prefix:
        return
    expected = []
    for s in texts:
        end = rule.at(s.encode(), 0)
        expected.append(None if end is None else [s.encode()[:end].decode()])
        if end is None:
            with pytest.raises(ValueError) as info:
                g.parse_string(s)
            assert str(info.value) == NOT_FOUND
        else:
            assert g.parse_string(s) == expected[-1], s
    assert g.parse_batch(texts) == [e or [] for e in expected]


def test_regex_target_searched_or_tried_gives_the_same_matches():
    # A Forward hides the Regex kind, so SkipTo tests it at each position.
    texts = ["", "é", "xéy", "a xy€xy", "éé xxy\n", "a^]x\ny\nx", "x\\^x^y"]
    for pattern in ["x+y", "y|é", "[^x]y", r"\w$", "(?i)XY", "€?", r"\by", "^x", "(?m)y$", r"\Cy", "[]^]",
                    r"\Q^\E", "(?m)^x", r"\\^x", r"y\z", "[^^]y", r"\Qx\\^\E", "xy", r"x\d?y", "[^x]{2}y"]:
        searched = SkipTo(Regex(pattern))
        f = q.Forward()
        f <<= Regex(pattern)
        tried = SkipTo(f)
        for s in texts:
            for method in ["search_string", "search_string_count", "matches"]:
                assert getattr(searched, method)(s) == getattr(tried, method)(s), (pattern, s, method)
            assert searched.transform_string(s, "-") == tried.transform_string(s, "-"), (pattern, s)
