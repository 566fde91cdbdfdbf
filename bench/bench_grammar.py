"""Grammars of several parts over long texts, and a recursive grammar per call, beside what a Python user would
otherwise write: `re` with groups for the config grammar, and a recursive-descent function written by hand for
the nested parentheses.

Not a test: prints figures. Every answer is compared with its alternative's before anything is timed; each row
times the two sides interleaved (best of several rounds) and prints the ratio alternative time / quillex time
(above 1: quillex is faster) beside the floor the row aims at.
Run: PYTHONPATH=build/release /usr/bin/python3 bench/bench_grammar.py [--quick] [--only SUBSTRING]
"""
import random
import re

import quillex as q

from bench_common import flatten, QUICK, ROUNDS, per_call, quicker_count, row, selected


# ---------------------------------------------------------------------------------------------------------------
# Config grammar over 10 MB of key=value lines

def config_text(n_bytes, seed=11):
    """key=value lines (short and long values, some empty, some ending in \\r), mixed with comment lines of prose
    and section headers whose letter runs make the scan fail at every letter."""
    rnd = random.Random(seed)
    letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
    keys = ["".join(rnd.choice(letters) for _ in range(rnd.randint(2, 12))) for _ in range(3000)]
    words = ["".join(rnd.choice(letters[:26]) for _ in range(rnd.randint(1, 9))) for _ in range(2000)]
    out, size = [], 0
    while size < n_bytes:
        kind = rnd.random()
        if kind < 0.86:
            value = rnd.choice([
                lambda: str(rnd.randint(0, 10 ** rnd.randint(1, 5))),
                lambda: " ".join(rnd.choice(words) for _ in range(rnd.randint(1, 3))),
                lambda: rnd.choice(words),
                lambda: "",
                lambda: f"10.{rnd.randint(0, 3)}.{rnd.randint(0, 15)}.{rnd.randint(0, 255)}",
            ])()
            line = f"{rnd.choice(keys)}={value}" + ("\r" if rnd.random() < 0.05 else "")
        elif kind < 0.93:
            line = "# " + " ".join(rnd.choice(words) for _ in range(rnd.randint(2, 7)))
        elif kind < 0.97:
            line = f"[{rnd.choice(words)} {rnd.choice(words)}]"
        else:
            line = f"{rnd.choice(keys)} = {rnd.choice(words)}"
        out.append(line + "\n")
        size += len(line) + 1
    return "".join(out)


def config_rows():
    if not selected("search_string  vs re.findall", "search_string_count  vs re", "transform_string  vs re.sub"):
        return
    text = config_text(1_000_000 if QUICK else 10_000_000)
    n = len(text.encode())
    g = q.Word(q.alphas()) + q.Literal("=") + q.Regex("[^\n]*")
    rx = re.compile(r"([A-Za-z]+)(=)([^\n]*)")

    found = rx.findall(text)
    flat = flatten(found)
    assert g.search_string(text) == flat
    assert g.search_string_count(text) == len(found) == sum(1 for _ in rx.finditer(text))
    assert g.transform_string(text, "<kv>") == rx.sub("<kv>", text)
    print(f"config grammar Word(alphas()) + Literal('=') + Regex('[^\\n]*') over {n:,} bytes, "
          f"{len(found):,} matches, {len(set(flat)):,} distinct tokens")

    re_count = quicker_count(rx, text)
    row("search_string  vs re.findall", n, lambda: g.search_string(text), lambda: rx.findall(text), 1.5)
    row("search_string_count  vs re", n, lambda: g.search_string_count(text),
        lambda: re_count(text), 3.0)
    row("transform_string  vs re.sub", n, lambda: g.transform_string(text, "<kv>"),
        lambda: rx.sub("<kv>", text), 2.5)


# ---------------------------------------------------------------------------------------------------------------
# Nested parentheses: f <<= '(' + ZeroOrMore(f | Word(nums()) | '+') + ')'

def paren_grammar():
    f = q.Forward()
    f <<= q.Literal("(") + q.ZeroOrMore(f | q.Word(q.nums()) | q.Literal("+")) + q.Literal(")")
    return f


def descent(text):
    """The recursive descent a user writes for the grammar: expr(i) gives the end of the expression at i, or -1.
    Each step tries the alternatives in the grammar's order; a nested expression that fails makes the loop stop
    at its '(' and the closing ')' then fails there, so the failure is passed straight up."""
    n = len(text)

    def expr(i, out):
        # text[i] == '(' is the caller's test
        if out is not None:
            out.append("(")
        i += 1
        while i < n:
            c = text[i]
            if c == "(":
                i = expr(i, out)
                if i < 0:
                    return -1
            elif "0" <= c <= "9":
                j = i + 1
                while j < n and "0" <= text[j] <= "9":
                    j += 1
                if out is not None:
                    out.append(text[i:j])
                i = j
            elif c == "+":
                if out is not None:
                    out.append("+")
                i += 1
            else:
                break
        if i < n and text[i] == ")":
            if out is not None:
                out.append(")")
            return i + 1
        return -1

    return expr


def descent_count(text):
    """search_string_count by hand: the next '(' by str.find, a match resumes the search at its end."""
    expr = descent(text)
    find = text.find
    count = 0
    pos = find("(")
    while pos >= 0:
        end = expr(pos, None)
        if end > 0:
            count += 1
            pos = find("(", end)
        else:
            pos = find("(", pos + 1)
    return count


def descent_parse(text):
    """parse_string by hand: the tokens of the expression at 0 ('(' and ')' and '+' and each digit run)."""
    if not text.startswith("("):
        raise ValueError("expected '('")
    out = []
    if descent(text)(0, out) < 0:
        raise ValueError("no match")
    return out


def paren_expression(rnd, depth):
    parts = []
    for _ in range(rnd.randint(0, 4)):
        r = rnd.random()
        if r < 0.35 and depth < 6:
            parts.append(paren_expression(rnd, depth + 1))
        elif r < 0.75:
            parts.append(str(rnd.randint(0, 10 ** rnd.randint(1, 4))))
        else:
            parts.append("+")
    return "(" + "".join(parts) + ")"


def paren_text(n_bytes, seed=5):
    """Nested expressions separated by blanks and words; one in eight is broken (a missing ')' or a stray
    letter inside), so that matches also fail deep inside."""
    rnd = random.Random(seed)
    out, size = [], 0
    while size < n_bytes:
        e = paren_expression(rnd, 0)
        if rnd.random() < 0.125:
            k = rnd.randrange(1, len(e))
            e = e[:k] + rnd.choice(["x", "", " "]) + e[k + 1:]
        sep = rnd.choice([" ", " ", "\n", " and ", ", "])
        out.append(e + sep)
        size += len(e) + len(sep)
    return "".join(out)


def paren_rows():
    if not selected("search_string_count  vs descent with str.find", "parse_string per call  vs descent"):
        return
    f = paren_grammar()
    text = paren_text(200_000 if QUICK else 1_000_000)
    n = len(text.encode())
    count = f.search_string_count(text)
    assert count == descent_count(text)
    print(f"nested parentheses over {n:,} bytes, {count:,} matches")
    row("search_string_count  vs descent with str.find", n, lambda: f.search_string_count(text),
        lambda: descent_count(text), 4.0)

    short = "(1+(22+3)+((4+5)+6)+(7+(8+(9+10)))+123)"
    assert len(short) == 39
    assert f.parse_string(short) == descent_parse(short)
    print(f"one text of {len(short)} characters: {short}")
    row("parse_string per call  vs descent", 0, lambda: f.parse_string(short), lambda: descent_parse(short), 1.8)
    m = f.matches
    t_matches = min(per_call(lambda: m(short)) for _ in range(ROUNDS))
    print(f"  (matches on the same text: {t_matches * 1e6:.2f} us per call)")


if __name__ == "__main__":
    config_rows()
    paren_rows()
