"""Results of many new objects, beside what a Python user would write instead: searches whose tokens are nearly
all distinct, batches of distinct strs, and first calls on a new non-ASCII str (one that has no UTF-8 form yet).
Every distinct row has a "keep" twin over repeated tokens (a small vocabulary, or a str already converted), so
that the repeated case is watched too. The first-call rows run last, with every large allocation made from fresh
memory (see fresh_memory_for_large_blocks).

Not a test: prints figures. Every answer is compared with its alternative's before anything is timed; each row
times the two sides interleaved (best of several rounds) and prints the ratio alternative time / quillex time
(above 1: quillex is faster) beside the floor the row aims at.
Run: PYTHONPATH=build/release /usr/bin/python3 bench/bench_distinct.py [--quick] [--only SUBSTRING]
"""
import ctypes
import glob
import os
import random
import re
import sys
import sysconfig

import quillex as q

import bench_common
from bench_common import flatten, loop_of_parse_string, QUICK, quicker_count, row, selected
from bench_grammar import config_text

MB = 1_000_000
TEXT_BYTES = 1 * MB if QUICK else 10 * MB
BATCH_ITEMS = 200_000 if QUICK else 1_000_000
bench_common.LABEL_WIDTH = 70

LOWER = "abcdefghijklmnopqrstuvwxyz"

# Floors of the keep rows: about three quarters of each row's ratio before the distinct-token work, full run on
# this machine, so that a change that slows the repeated case shows. --quick texts are shorter and may fall below.
KEEP_FLOORS = {
    "words keep: 200 words: Word(alphas()) search_string  vs re.findall": 11.0,
    "words keep: 200 words: Regex('[a-z]+') search_string  vs re.findall": 5.0,
    "words keep: 200 words: Group(Word(alphas())) search_string  vs re.findall": 2.5,
    "log keep: few values: timestamps Regex search_string  vs re.findall": 17.0,
    "log keep: few values: ids Regex search_string  vs re.findall": 5.5,
    "log keep: few values: IPv4 Regex search_string  vs re.findall": 13.0,
    "log keep: few values: UUIDs Regex search_string  vs re.findall": 11.0,
    "log keep: few values: digit runs Word(nums()) search_string  vs re.findall": 12.0,
    "log keep: few values: hex runs Word(hexnums()) search_string  vs re.findall": 11.0,
    "key=value keep: 30 values: And search_string  vs re.findall flattened": 4.0,
    "Word(alphas()).parse_batch keep: 100 values  vs loop of parse_string": 0.9,
    "Regex('[0-9]+').parse_batch keep: 100 values  vs loop of parse_string": 0.9,
    "And Word + '=' + Regex.parse_batch keep: 100 values  vs loop of parse_string": 1.7,
    "keep: converted 2-byte str: Keyword('if') search_string_count  vs re": 16.0,
    "keep: converted 2-byte str: Keyword('if') transform_string  vs re": 1.0,
    "keep: converted 2-byte str: Word(alphas()) search_string  vs re": 3.8,
}


def new_copies(items):
    """Each item as a separate str object of equal content, as the lines of a file are."""
    return [(s + " ")[:-1] for s in items]


def random_word(rnd, lo=3, hi=12):
    return "".join(rnd.choice(LOWER) for _ in range(rnd.randint(lo, hi)))


# ---------------------------------------------------------------------------------------------------------------
# Words

def words_text(n_bytes, vocabulary, seed=1):
    """Lower-case words separated by blanks and line breaks: random letters (nearly all distinct) when
    vocabulary is 0, else drawn from that many words."""
    rnd = random.Random(seed)
    pool = [random_word(rnd) for _ in range(vocabulary)]
    out, size = [], 0
    while size < n_bytes:
        w = rnd.choice(pool) if pool else random_word(rnd)
        sep = "\n" if rnd.random() < 0.1 else " "
        out.append(w + sep)
        size += len(w) + 1
    return "".join(out)


def word_rows():
    cases = [("distinct", 0, 1.2), ("keep: 200 words", 200, 1.0)]
    grammars = [("Word(alphas())", q.Word(q.alphas()), re.compile("[A-Za-z]+")),
                ("Regex('[a-z]+')", q.Regex("[a-z]+"), re.compile("[a-z]+")),
                ("Group(Word(alphas()))", q.Group(q.Word(q.alphas())), re.compile("[A-Za-z]+"))]
    for case, vocabulary, floor in cases:
        labels = [f"words {case}: {name} search_string  vs re.findall" for name, _g, _rx in grammars]
        if not selected(*labels):
            continue
        text = words_text(TEXT_BYTES, vocabulary)
        found = grammars[0][2].findall(text)
        print(f"words, {case}: {len(text):,} bytes, {len(found):,} tokens, {len(set(found)):,} distinct",
              flush=True)
        for label, (_name, g, rx) in zip(labels, grammars):
            if selected(label):
                assert g.search_string(text) == rx.findall(text), label
                aim = KEEP_FLOORS.get(label, floor)
                row(label, len(text), lambda: g.search_string(text), lambda: rx.findall(text), aim)


# ---------------------------------------------------------------------------------------------------------------
# Log lines

def log_text(n_bytes, distinct, seed=2):
    """Log lines with a timestamp, an id, an IPv4 address, a UUID, a method, a path and a status: each field
    distinct, or (not distinct) drawn from a few values."""
    rnd = random.Random(seed)

    def uuid():
        h = f"{rnd.getrandbits(128):032x}"
        return f"{h[:8]}-{h[8:12]}-{h[12:16]}-{h[16:20]}-{h[20:]}"

    def ip():
        return ".".join(str(rnd.randint(0, 255)) for _ in range(4))

    pools = None if distinct else {"id": [str(rnd.randint(1000, 9_999_999)) for _ in range(50)],
                                   "ip": [ip() for _ in range(10)], "uuid": [uuid() for _ in range(20)]}
    methods = ["GET", "POST", "PUT", "DELETE"]
    paths = ["/api/v1/items", "/api/v1/users", "/static/app.js", "/login", "/health"]
    ms = 1_700_000_000_000
    next_id = 100_000
    out, size = [], 0
    while size < n_bytes:
        if distinct:
            ms += rnd.randint(1, 50)
            next_id += rnd.randint(1, 9)
            fields = (ms, str(next_id), ip(), uuid())
        else:
            fields = (1_700_000_000_000 + rnd.randrange(8) * 1000, rnd.choice(pools["id"]),
                      rnd.choice(pools["ip"]), rnd.choice(pools["uuid"]))
        t, ident, addr, req = fields
        secs, milli = divmod(t, 1000)
        day, rest = divmod(secs, 86400)
        stamp = (f"2023-{11 + day // 30 % 2:02d}-{day % 30 + 1:02d}T{rest // 3600:02d}:{rest // 60 % 60:02d}:"
                 f"{rest % 60:02d}.{milli:03d}Z")
        line = (f"{stamp} id={ident} ip={addr} req={req} {rnd.choice(methods)} {rnd.choice(paths)} "
                f"status={rnd.choice((200, 200, 200, 304, 404, 500))}\n")
        out.append(line)
        size += len(line)
    return "".join(out)


def log_rows():
    fields = [("timestamps Regex", r"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z"),
              ("ids Regex", r"id=[0-9]+"),
              ("IPv4 Regex", r"[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+"),
              ("UUIDs Regex", r"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"),
              ("digit runs Word(nums())", None),
              ("hex runs Word(hexnums())", None)]
    for case, distinct, floor in [("distinct", True, 1.2), ("keep: few values", False, 1.0)]:
        labels = [f"log {case}: {name} search_string  vs re.findall" for name, _p in fields]
        if not selected(*labels):
            continue
        text = log_text(TEXT_BYTES, distinct)
        print(f"log lines, {case}: {len(text):,} bytes", flush=True)
        for label, (name, pattern) in zip(labels, fields):
            if not selected(label):
                continue
            if pattern is not None:
                g, rx = q.Regex(pattern), re.compile(pattern)
            elif "hexnums" in name:
                g, rx = q.Word(q.hexnums()), re.compile("[0-9a-fA-F]+")
            else:
                g, rx = q.Word(q.nums()), re.compile("[0-9]+")
            assert g.search_string(text) == rx.findall(text), label
            aim = KEEP_FLOORS.get(label, floor)
            row(label, len(text), lambda: g.search_string(text), lambda: rx.findall(text), aim)


# ---------------------------------------------------------------------------------------------------------------
# key=value lines

def key_value_text(n_bytes, distinct, seed=3):
    """key=value lines whose values (20 to 70 characters) are all distinct, or drawn from 30 values."""
    rnd = random.Random(seed)
    keys = [random_word(rnd, 2, 10) for _ in range(2000)]
    chars = LOWER + "0123456789 ,.-/:_"

    def value():
        return "".join(rnd.choice(chars) for _ in range(rnd.randint(20, 70)))

    pool = [value() for _ in range(30)]
    out, size = [], 0
    while size < n_bytes:
        line = f"{rnd.choice(keys)}={value() if distinct else rnd.choice(pool)}\n"
        out.append(line)
        size += len(line)
    return "".join(out)


def key_value_rows():
    g = q.Word(q.alphas()) + q.Literal("=") + q.Regex("[^\n]*")
    rx = re.compile(r"([A-Za-z]+)(=)([^\n]*)")
    cases = [("distinct values", lambda: key_value_text(TEXT_BYTES, True), 1.5),
             ("config text", lambda: config_text(TEXT_BYTES), 2.0),
             ("keep: 30 values", lambda: key_value_text(TEXT_BYTES, False), 1.0)]
    for case, make, floor in cases:
        label = f"key=value {case}: And search_string  vs re.findall flattened"
        if not selected(label):
            continue
        text = make()
        flat = flatten(rx.findall(text))
        assert g.search_string(text) == flat, label
        print(f"key=value, {case}: {len(text):,} bytes, {len(flat):,} tokens, {len(set(flat)):,} distinct",
              flush=True)
        aim = KEEP_FLOORS.get(label, floor)
        row(label, len(text), lambda: g.search_string(text), lambda: flatten(rx.findall(text)), aim)


# ---------------------------------------------------------------------------------------------------------------
# parse_batch over lists of strs

def batch_inputs(kind, distinct, n, seed=4):
    rnd = random.Random(seed)
    # the token is a strict prefix of each item, so that it is a new str
    if kind == "word":
        def make():
            return random_word(rnd, 4, 14) + rnd.choice((" tail", "42", "-x"))
    elif kind == "number":
        def make():
            return str(rnd.getrandbits(40)) + rnd.choice((" ms", ",", "px"))
    else:
        chars = LOWER + "0123456789 ./"

        def make():
            return random_word(rnd, 2, 10) + "=" + "".join(rnd.choice(chars) for _ in range(rnd.randint(5, 30)))
    if distinct:
        return [make() for _ in range(n)]
    pool = [make() for _ in range(100)]
    return new_copies(rnd.choice(pool) for _ in range(n))


def batch_rows():
    grammars = [("Word(alphas())", "word", q.Word(q.alphas()), 2.5),
                ("Regex('[0-9]+')", "number", q.Regex("[0-9]+"), 2.5),
                ("And Word + '=' + Regex", "kv", q.Word(q.alphas()) + q.Literal("=") + q.Regex("[^\n]*"), 1.5)]
    for case, distinct in [("distinct", True), ("keep: 100 values", False)]:
        for name, kind, g, floor in grammars:
            label = f"{name}.parse_batch {case}  vs loop of parse_string"
            if not selected(label):
                continue
            items = batch_inputs(kind, distinct, BATCH_ITEMS)
            parse = g.parse_string
            if kind == "kv":
                def loop(items=items, parse=parse):
                    return loop_of_parse_string(parse, items)
            else:
                # a terminal's batch is the flat list of the matching items' tokens
                def loop(items=items, parse=parse):
                    out = []
                    for s in items:
                        try:
                            out += parse(s)
                        except ValueError:
                            pass
                    return out

            assert g.parse_batch(items) == loop(), label
            aim = KEEP_FLOORS.get(label, floor)
            row(label, 0, lambda: g.parse_batch(items), loop, aim)


# ---------------------------------------------------------------------------------------------------------------
# First calls on a new non-ASCII str

def first_call_text():
    """About 10 MB of the standard-library sources, whose few non-ASCII characters make a 2-byte str; when
    they are missing, generated key=value text with such characters. Returns (text, description)."""
    root = sysconfig.get_paths()["stdlib"]
    parts, size = [], 0
    for path in sorted(glob.glob(os.path.join(root, "**", "*.py"), recursive=True)):
        if size >= TEXT_BYTES:
            break
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError:
            continue
        parts.append(data.decode("utf-8", "replace"))
        size += len(data)
    text = "".join(parts)
    if size >= TEXT_BYTES // 2:
        # the first files may hold no character above U+00FF (a short run); one dash at the end makes it so
        return (text if max(text) > "\xff" else text + "\u2014\n"), "standard-library sources"
    lines = config_text(TEXT_BYTES).split("\n")
    for i in range(0, len(lines), 40):
        lines[i] = "if résumé — " + lines[i]
    return "\n".join(lines), "generated key=value text"


def str_kinds(text):
    """The text as a 2-byte str, as a 1-byte one (characters above U+00FF replaced by 'é') and as a 4-byte one
    (one character above U+FFFF added)."""
    latin1 = re.sub("[^\x00-\xff]", "é", text)
    return [("2-byte", text), ("1-byte", latin1), ("4-byte", text + "\U0001F600\n")]


_as_utf8 = ctypes.pythonapi.PyUnicode_AsUTF8AndSize
_as_utf8.restype = ctypes.c_void_p
_as_utf8.argtypes = [ctypes.py_object, ctypes.c_void_p]


def convert(s):
    """Gives s its cached UTF-8 form, as the interpreter's own conversion does on its first request."""
    if not _as_utf8(s, None):
        raise UnicodeError("no UTF-8 form")
    return s


def has_no_utf8_form(make):
    """Whether make() gives strs without a UTF-8 form: the conversion then adds its size to the str's."""
    fresh = make()
    before = sys.getsizeof(fresh)
    convert(fresh)
    return sys.getsizeof(fresh) > before


def fresh_memory_for_large_blocks():
    """Fixes glibc's mapping threshold at its initial 128 KiB, so that every large block (a str, its UTF-8 form,
    a result) is a new mapping whose pages are touched for the first time, as in a process that has freed no
    large block yet. Left dynamic, the threshold rises at the first large free and later calls reuse warm
    memory, so a first call would cost more or less depending on what ran before it. Set for the first-call
    rows, which run last."""
    try:
        return ctypes.CDLL(None).mallopt(-3, 128 * 1024) == 1  # M_MMAP_THRESHOLD
    except (OSError, AttributeError):
        return False


def first_call_rows():
    keyword = q.Keyword("if")
    keyword_rx = re.compile(r"if(?![A-Za-z0-9_])")
    caseless_kw_rx = re.compile(r"if(?![A-Za-z0-9_])", re.IGNORECASE | re.ASCII)
    others = [
        ("Keyword('if')", keyword, keyword_rx, 1.0),
        ("Word(alphas())", q.Word(q.alphas()), re.compile("[A-Za-z]+"), 1.0),
        ("CaselessLiteral('if')", q.CaselessLiteral("if"), re.compile("if", re.IGNORECASE | re.ASCII), 1.0),
        ("CaselessKeyword('if')", q.CaselessKeyword("if"), caseless_kw_rx, 1.0),
        ("Char('{}[]')", q.Char("{}[]"), re.compile(r"[{}\[\]]"), 1.0),
        ("QuotedString(\"'\", esc_char='\\\\')", q.QuotedString("'", esc_char="\\"),
         re.compile(r"'(?:[^'\\\n]|\\[\s\S])*'"), 1.0),
    ]
    # (label, grammar, pattern, method, floor, kind, fresh)
    plan = []
    for kind in ("2-byte", "1-byte", "4-byte"):
        plan.append(("Keyword('if')", keyword, keyword_rx, "search_string_count", 3.0, kind, True))
        plan.append(("Keyword('if')", keyword, keyword_rx, "transform_string", 2.0, kind, True))
    for name, g, rx, floor in others:
        for method in ("search_string_count", "search_string", "transform_string"):
            if name == "Keyword('if')" and method != "search_string":
                continue
            plan.append((name, g, rx, method, floor, "2-byte", True))
    plan.append(("LineStart()", q.LineStart(), re.compile(r"^(?=[\s\S])", re.MULTILINE), "search_string_count",
                 1.0, "2-byte", True))
    for method in ("search_string_count", "transform_string"):
        plan.append(("Keyword('if')", keyword, keyword_rx, method, 1.0, "2-byte", False))
    plan.append(("Word(alphas())", q.Word(q.alphas()), re.compile("[A-Za-z]+"), "search_string", 1.0, "2-byte",
                 False))

    def label_of(name, method, kind, fresh):
        when = "new" if fresh else "keep: converted"
        return f"{when} {kind} str: {name} {method}  vs re"

    if not selected(*(label_of(p[0], p[3], p[5], p[6]) for p in plan)):
        return
    fresh = fresh_memory_for_large_blocks()
    text, where = first_call_text()
    kinds = dict(str_kinds(text))
    encoded = {kind: s.encode("utf-8") for kind, s in kinds.items()}
    print(f"first calls: {where}, {len(encoded['2-byte']):,} bytes of UTF-8; each call of either side gets a "
          f"new str decoded from bytes outside the timed region; large blocks "
          f"{'always fresh memory' if fresh else 'as the allocator gives them (mallopt failed)'}", flush=True)
    for kind, data in encoded.items():
        assert has_no_utf8_form(lambda: data.decode("utf-8")), kind
    counters = {}
    for name, g, rx, method, floor, kind, fresh in plan:
        label = label_of(name, method, kind, fresh)
        if not selected(label):
            continue
        data = encoded[kind]
        warm = convert(kinds[kind])
        if method == "search_string_count":
            if rx not in counters:
                counters[rx] = quicker_count(rx, warm)
            count = counters[rx]
            assert g.search_string_count(data.decode("utf-8")) == count(warm), label
            ours, theirs = g.search_string_count, count
        elif method == "search_string":
            # Keyword's items are one-token lists, the others' are strs
            found = [item[0] if isinstance(item, list) else item for item in g.search_string(data.decode("utf-8"))]
            assert found == rx.findall(warm), label
            ours, theirs = g.search_string, rx.findall
        else:
            assert g.transform_string(data.decode("utf-8"), "<m>") == rx.sub("<m>", warm), label

            def ours(s, g=g):
                return g.transform_string(s, "<m>")

            def theirs(s, rx=rx):
                return rx.sub("<m>", s)
        if fresh:
            aim = KEEP_FLOORS.get(label, floor)
            row(label, len(data), ours, theirs, aim, make=lambda data=data: data.decode("utf-8"))
        else:
            aim = KEEP_FLOORS.get(label, floor)
            row(label, len(data), lambda ours=ours: ours(warm), lambda theirs=theirs: theirs(warm), aim)


if __name__ == "__main__":
    word_rows()
    log_rows()
    key_value_rows()
    batch_rows()
    first_call_rows()
