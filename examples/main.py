"""quillex's main job on a real input: take a configuration file apart with a grammar.

The file (examples/server.conf by default) has [sections], `key = value` settings whose values are numbers,
words, quoted strings or arithmetic expressions over earlier settings, and '#' comments. The grammar below reads
every line, evaluates the expressions with a recursive Forward rule, and reports what it found.

Run through scripts/example.sh, which builds the module first.
"""
import os
import sys

import quillex as q

HERE = os.path.dirname(os.path.abspath(__file__))

# Grammar pieces. Matching is exact: blanks are matched explicitly, and suppressed where they are not wanted.
blank = q.Suppress(q.Word(" \t"))
gap = q.Optional(blank)
ident = q.Word(q.alphas(), q.alphanums() + "_")
number = q.Regex(r"[0-9]+(?:\.[0-9]+)?")

# expr := term (op term)*, term := number | ident | '(' expr ')'. The Forward closes the recursion.
expr = q.Forward()
term = number | ident | (q.Literal("(") + gap + expr + gap + q.Literal(")"))
expr <<= term + q.ZeroOrMore(gap + q.Char("+-*/") + gap + term)
whole_expr = q.Group(expr + gap + q.StringEnd())

section = q.Group(q.Suppress(q.Literal("[")) + ident + q.Suppress(q.Literal("]")))
setting_head = q.Group(ident + gap + q.Suppress(q.Literal("=")) + gap)
comment = q.LineStart() + q.Literal("#") + q.rest_of_line()
path = q.Regex(r"/[a-z]+(?:/[A-Za-z0-9_.-]+)+")


def evaluate(tokens, env):
    """Evaluates the flat token list of `expr` with the usual precedence."""
    pos = 0

    def atom():
        nonlocal pos
        tok = tokens[pos]
        pos += 1
        if tok == "(":
            value = sum_()
            pos += 1  # ')'
            return value
        if tok[0].isdigit():
            return float(tok) if "." in tok else int(tok)
        return env[tok]

    def product():
        nonlocal pos
        value = atom()
        while pos < len(tokens) and tokens[pos] in "*/":
            op = tokens[pos]
            pos += 1
            rhs = atom()
            value = value * rhs if op == "*" else value / rhs
        return value

    def sum_():
        nonlocal pos
        value = product()
        while pos < len(tokens) and tokens[pos] in "+-":
            op = tokens[pos]
            pos += 1
            rhs = product()
            value = value + rhs if op == "+" else value - rhs
        return value

    return sum_()


def main(path_name):
    with open(path_name, encoding="utf-8") as f:
        text = f.read()
    lines = text.split("\n")

    print(f"{os.path.basename(path_name)}: {len(text.encode())} bytes, "
          f"{q.LineStart().search_string_count(text)} lines, "
          f"{comment.search_string_count(text)} comments, "
          f"{q.StringEnd().parse_batch_count(lines)} blank")

    settings = {}
    current = None
    for line in lines:
        if section.matches(line):
            current = section.parse_string(line)[0]
            print(f"[{current}]")
            continue
        if not setting_head.matches(line):
            continue
        key = setting_head.parse_string(line)[0]
        head_len = len(q.Combine(setting_head).parse_string(line)[0])
        raw = line[head_len:].rstrip()
        tokens = whole_expr.parse_string(raw) if whole_expr.matches(raw) else []
        names = [t for t in tokens if t[0].isalpha()]
        if tokens and all(n in settings for n in names):
            value = evaluate(tokens, settings)
            kind = "number" if len(tokens) == 1 else "expression"
        elif q.QuotedString('"').matches(raw):
            value, kind = q.QuotedString('"').parse_string(raw)[0], "text"
        else:
            value, kind = raw, "word"
        settings[key] = value
        print(f"  {current}.{key} = {value!r} ({kind})")

    numbers = sum(isinstance(v, (int, float)) for v in settings.values())
    print(f"{len(settings)} settings, {numbers} numeric; "
          f"{path.search_string_count(text)} file paths, redacted:")
    print("  " + "\n  ".join(path.transform_string(text, "<path>").split("\n")[15:18]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "server.conf")))
