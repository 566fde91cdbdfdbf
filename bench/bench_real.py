"""Grammars a user writes, over real texts found on this machine at run time, beside what that user would write
instead: `re`, the `regex` module's recursion, `json.loads`, a hand-written Python loop.

Texts (none is shipped; a row whose text is missing is skipped with a note): the interpreter's standard-library
sources concatenated in path order, Debian's /usr/share/doc/*/copyright texts, the man1 pages unpacked, the
dpkg status file, the JSON files shipped under /usr/share (the largest when one is a few MB, else the valid ones
joined into one JSON array), and the generated 10 MB key=value config text of bench_grammar.py.

Not a test: prints figures. Every answer is compared with its alternative's before anything is timed; each row
times the two sides interleaved (best of several rounds) and prints the ratio alternative time / quillex time
(above 1: quillex is faster) beside the floor the row aims at.
Run: PYTHONPATH=build/release /usr/bin/python3 bench/bench_real.py [--quick] [--only SUBSTRING]
"""
import functools
import glob
import gzip
import json
import os
import random
import re
import sysconfig

import quillex as q

import bench_common
from bench_common import flatten, loop_of_parse_string, QUICK, quicker_count, row, selected
from bench_grammar import config_text

try:
    import regex
except ImportError:
    regex = None

MB = 1_000_000
bench_common.LABEL_WIDTH = 74


def note(message):
    print(f"  ({message})", flush=True)


def utf8_size(text):
    return len(text.encode("utf-8", "surrogatepass"))


def joined_files(paths, cap, read):
    """The texts of the files in path order, up to about cap bytes of UTF-8 (undecodable bytes replaced);
    files that cannot be read are passed over."""
    parts, size = [], 0
    for path in paths:
        if size >= cap:
            break
        try:
            data = read(path)
        except (OSError, EOFError, gzip.BadGzipFile):
            continue
        parts.append(data.decode("utf-8", "replace"))
        size += len(data)
    return "".join(parts)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def read_gzip(path):
    with gzip.open(path, "rb") as f:
        return f.read()


@functools.cache
def stdlib_sources():
    root = sysconfig.get_paths()["stdlib"]
    paths = sorted(glob.glob(os.path.join(root, "**", "*.py"), recursive=True))
    return joined_files(paths, 2 * MB if QUICK else 12 * MB, read_bytes)


@functools.cache
def copyright_texts():
    paths = sorted(glob.glob("/usr/share/doc/*/copyright"))
    return joined_files(paths, 4 * MB if QUICK else 20 * MB, read_bytes)


@functools.cache
def man_pages():
    paths = sorted(glob.glob("/usr/share/man/man1/*.gz"))
    return joined_files(paths, 4 * MB if QUICK else 20 * MB, read_gzip)


@functools.cache
def dpkg_status():
    return joined_files(["/var/lib/dpkg/status"], 100 * MB, read_bytes)


@functools.cache
def json_text():
    """One JSON text from the files Debian packages ship: the largest one of at least 2 MB, else every valid
    file (path order) as one JSON array. Returns (text, description)."""
    paths = []
    for base, _dirs, files in os.walk("/usr/share"):
        paths.extend(os.path.join(base, name) for name in files if name.endswith(".json"))
    paths.sort()
    texts = []
    for path in paths:
        try:
            text = read_bytes(path).decode("utf-8")
            json.loads(text)
        except (OSError, ValueError):
            continue
        texts.append((path, text))
    if not texts:
        return "", "no JSON file"
    path, text = max(texts, key=lambda item: len(item[1]))
    if len(text) >= 2 * MB:
        return text, path
    return "[" + ",\n".join(text for _path, text in texts) + "]", f"{len(texts)} files as one array"


def text_or_note(label, text):
    if not text:
        note(f"{label}: text not found on this machine, rows skipped")
        return None
    return text


# ---------------------------------------------------------------------------------------------------------------
# Searches, counts and replacements of a grammar beside one `re` pattern

def pattern_rows(name, source, g, rx, floors, groups=False, replacement="<m>"):
    """Rows of g beside rx over the text source() gives: floors maps the methods to time (search_string,
    transform_string, search_string_count) to their floors. With groups, search_string is compared with
    findall's groups flattened, else with findall itself."""
    labels = {
        "search_string": f"{name} search_string  vs re.findall",
        "transform_string": f"{name} transform_string  vs re.sub",
        "search_string_count": f"{name} search_string_count  vs re",
    }
    if not selected(*(labels[m] for m in floors)):
        return
    text = text_or_note(f"{name}: its text", source())
    if not text:
        return
    n = utf8_size(text)
    if groups:
        def theirs_search():
            return flatten(rx.findall(text))
    else:
        def theirs_search():
            return rx.findall(text)
    found = theirs_search()
    assert g.search_string(text) == found, name
    assert g.search_string_count(text) == sum(1 for _ in rx.finditer(text)), name
    if "transform_string" in floors:
        assert g.transform_string(text, replacement) == rx.sub(replacement, text), name
    print(f"{name}: {n:,} bytes, {len(found):,} tokens", flush=True)
    for method, floor in floors.items():
        if not selected(labels[method]):
            continue
        if method == "search_string":
            row(labels[method], n, lambda: g.search_string(text), theirs_search, floor)
        elif method == "transform_string":
            row(labels[method], n, lambda: g.transform_string(text, replacement),
                lambda: rx.sub(replacement, text), floor)
        else:
            re_count = quicker_count(rx, text)
            row(labels[method], n, lambda: g.search_string_count(text), lambda: re_count(text), floor)


def licence_rows():
    pattern_rows("one_of licences (copyright)", copyright_texts, q.one_of("LGPL GPL MIT BSD Apache MPL Artistic"),
                 re.compile("LGPL|GPL|MIT|BSD|Apache|MPL|Artistic"),
                 {"search_string": 2.0, "transform_string": 2.0, "search_string_count": 1.5})


def source_rows():
    text = stdlib_sources
    pattern_rows("'#' comments (sources)", text, q.Combine(q.Literal("#") + q.rest_of_line()),
                 re.compile(r"#[^\n]*"),
                 {"search_string": 1.5, "transform_string": 1.5, "search_string_count": 1.5})
    # The scan of a quoted string: a line break ends it unless escaped, the escape takes the next character
    # whatever it is, the first unescaped quote closes it.
    pattern_rows("QuotedString ' with \\ (sources)", text, q.QuotedString("'", esc_char="\\"),
                 re.compile(r"'(?:[^'\\\n]|\\[\s\S])*'"),
                 {"search_string": 2.0, "transform_string": 2.0, "search_string_count": 1.5})
    # Keyword tests only the byte after it, so 'undef x' matches as re's plain 'def' does.
    pattern_rows("def names (sources)", text,
                 q.Keyword("def") + q.Literal(" ") + q.Word(q.alphas() + "_", q.alphanums() + "_"),
                 re.compile(r"(def)( )([A-Za-z_][A-Za-z0-9_]*)"),
                 {"search_string": 1.5, "search_string_count": 1.5}, groups=True)
    pattern_rows("decimals (sources)", text,
                 q.Combine(q.Word(q.nums()) + q.Literal(".") + q.Word(q.nums())),
                 re.compile(r"[0-9]+\.[0-9]+"),
                 {"search_string": 3.0, "search_string_count": 1.5})


def dpkg_rows():
    pattern_rows("Field: value (dpkg status)", dpkg_status,
                 q.LineStart() + q.Word(q.alphas() + "-", q.alphanums() + "-") + q.Literal(": ") + q.rest_of_line(),
                 re.compile(r"^([A-Za-z-][A-Za-z0-9-]*)(: )([^\n]*)", re.MULTILINE),
                 {"search_string": 1.5, "search_string_count": 1.5}, groups=True)


def man_rows():
    pattern_rows("LineStart '.' macro (man1)", man_pages, q.LineStart() + q.Literal(".") + q.Word(q.alphas()),
                 re.compile(r"^(\.)([A-Za-z]+)", re.MULTILINE),
                 {"search_string_count": 3.0, "search_string": 1.5}, groups=True)


def config_rows():
    label = "key=value (config) transform_string  vs re.sub"
    if not selected(label):
        return
    text = config_text(1 * MB if QUICK else 10 * MB)
    g = q.Word(q.alphas()) + q.Literal("=") + q.Regex("[^\n]*")
    rx = re.compile(r"([A-Za-z]+)(=)([^\n]*)")
    assert g.transform_string(text, "<kv>") == rx.sub("<kv>", text)
    print(f"key=value config text: {len(text):,} bytes", flush=True)
    row(label, len(text), lambda: g.transform_string(text, "<kv>"), lambda: rx.sub("<kv>", text), 2.5)


# ---------------------------------------------------------------------------------------------------------------
# Balanced parentheses through a Forward, over 2 MB of sources

def paren_grammar():
    f = q.Forward()
    f <<= q.Literal("(") + q.ZeroOrMore(f | q.Regex("[^()]+")) + q.Literal(")")
    return f


PARENS = re.compile(r"[()]")


def paren_closers(text):
    """The position of the ')' that closes each '(' that is closed at all."""
    stack, close = [], {}
    for m in PARENS.finditer(text):
        if m.group() == "(":
            stack.append(m.start())
        elif stack:
            close[stack.pop()] = m.start()
    return close


def paren_search(text, tokens=True):
    """search_string (or, without tokens, search_string_count) by hand: one pass pairs the parentheses, then
    the matches are the closed groups not inside another, each one str."""
    close = paren_closers(text)
    out, count = [], 0
    find = text.find
    pos = find("(")
    while pos >= 0:
        end = close.get(pos)
        if end is None:
            pos = find("(", pos + 1)
            continue
        if tokens:
            out.append(text[pos:end + 1])
        count += 1
        pos = find("(", end + 1)
    return out if tokens else count


def paren_rows():
    labels = ["balanced () Forward (2 MB sources) search_string  vs Python loop",
              "balanced () Forward (2 MB sources) search_string_count  vs Python loop",
              "balanced () Forward (2 MB sources) transform_string  vs regex (?R)"]
    if not selected(*labels):
        return
    sources = text_or_note("standard-library sources", stdlib_sources())
    if not sources:
        return
    text = sources[:(500_000 if QUICK else 2 * MB)]
    n = utf8_size(text)
    f = paren_grammar()
    found = f.search_string(text)
    assert found == paren_search(text)
    assert f.search_string_count(text) == paren_search(text, tokens=False)
    print(f"balanced parentheses: {n:,} bytes of sources, {len(found):,} matches", flush=True)
    row(labels[0], n, lambda: f.search_string(text), lambda: paren_search(text), 1.5)
    row(labels[1], n, lambda: f.search_string_count(text), lambda: paren_search(text, tokens=False), 1.5)
    if regex is None:
        note("the regex module does not import: transform row skipped")
        return
    rx = regex.compile(r"\((?:[^()]++|(?R))*\)")
    if selected(labels[2]):
        assert f.transform_string(text, "<p>") == rx.sub("<p>", text)
        row(labels[2], n, lambda: f.transform_string(text, "<p>"), lambda: rx.sub("<p>", text), 1.5)


# ---------------------------------------------------------------------------------------------------------------
# A recursive JSON grammar, `matches` over a JSON text beside json.loads

def json_grammar(regex_tokens):
    """JSON values, strings and numbers as one Regex each (regex_tokens) or as QuotedString and a Combine of
    Words; white space between tokens suppressed; the whole text must be one value."""
    ws = q.Optional(q.Suppress(q.Word(" \t\r\n")))

    def punct(c):
        return q.Suppress(q.Literal(c))

    if regex_tokens:
        string = q.Regex(r'"(?:[^"\\\x00-\x1f]|\\["\\/bfnrt]|\\u[0-9a-fA-F]{4})*"')
        number = q.Regex(r"-?(?:0|[1-9][0-9]*)(?:\.[0-9]+)?(?:[eE][+-]?[0-9]+)?")
    else:
        string = q.QuotedString('"', esc_char="\\", unquote=False)
        digits = q.Word(q.nums())
        number = q.Combine(q.Optional(q.Literal("-")) + digits + q.Optional(q.Literal(".") + digits)
                           + q.Optional(q.Char("eE") + q.Optional(q.Char("+-")) + digits))
    value = q.Forward()
    member = string + ws + punct(":") + ws + value
    obj = punct("{") + ws + q.Optional(member + q.ZeroOrMore(ws + punct(",") + ws + member)) + ws + punct("}")
    arr = punct("[") + ws + q.Optional(value + q.ZeroOrMore(ws + punct(",") + ws + value)) + ws + punct("]")
    value <<= q.MatchFirst([obj, arr, string, number, q.Keyword("true"), q.Keyword("false"), q.Keyword("null")])
    return ws + value + ws + q.StringEnd()


def json_rows():
    labels = ["JSON grammar, Regex tokens matches  vs json.loads",
              "JSON grammar, QuotedString/Word tokens matches  vs json.loads"]
    if not selected(*labels):
        return
    text, where = json_text()
    if not text_or_note("JSON files", text):
        return
    n = utf8_size(text)
    broken = text.rstrip()[:-1]
    try:
        json.loads(broken)
        raise AssertionError("the cut JSON text still loads")
    except ValueError:
        pass
    print(f"JSON: {where}, {n:,} bytes", flush=True)
    for label, regex_tokens in zip(labels, (True, False)):
        if not selected(label):
            continue
        g = json_grammar(regex_tokens)
        assert g.matches(text) and not g.matches(broken), label
        row(label, n, lambda: g.matches(text), lambda: json.loads(text), 2.0)


# ---------------------------------------------------------------------------------------------------------------
# Arithmetic expressions through a Forward: parse_batch beside a loop of parse_string

def arithmetic_grammar():
    gap = q.Optional(q.Suppress(q.Word(" ")))
    expr = q.Forward()
    term = q.Word(q.nums()) | q.Word(q.alphas()) | (q.Literal("(") + gap + expr + gap + q.Literal(")"))
    expr <<= term + q.ZeroOrMore(gap + q.Char("+-*/") + gap + term)
    return expr


def arithmetic_inputs(n, seed=17):
    """Distinct expressions of a few terms, some nested; one in ten starts with an operator and fails."""
    rnd = random.Random(seed)
    names = ["rate", "x", "total", "n", "width", "height", "base", "k"]

    def term(depth):
        r = rnd.random()
        if r < 0.2 and depth < 3:
            return "(" + expression(depth + 1) + ")"
        if r < 0.6:
            return str(rnd.randint(0, 10 ** rnd.randint(1, 6)))
        return rnd.choice(names)

    def expression(depth):
        parts = [term(depth)]
        for _ in range(rnd.randint(0, 3)):
            parts.append(rnd.choice([" + ", "-", " * ", "/"]))
            parts.append(term(depth))
        return "".join(parts)

    out = []
    for i in range(n):
        e = f"{expression(0)} + {i}"
        out.append(("* " + e) if i % 10 == 9 else e)
    return out


def arithmetic_rows():
    label = "arithmetic Forward parse_batch (distinct strs)  vs loop of parse_string"
    if not selected(label):
        return
    g = arithmetic_grammar()
    items = arithmetic_inputs(20_000 if QUICK else 100_000)
    parse = g.parse_string

    def loop():
        return loop_of_parse_string(parse, items)

    assert g.parse_batch(items) == loop()
    print(f"arithmetic expressions: {len(items):,} distinct strs", flush=True)
    row(label, 0, lambda: g.parse_batch(items), loop, 1.0)


if __name__ == "__main__":
    licence_rows()
    source_rows()
    paren_rows()
    dpkg_rows()
    man_rows()
    json_rows()
    arithmetic_rows()
    config_rows()
