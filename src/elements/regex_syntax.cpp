#include "elements/regex_syntax.h"

#include <algorithm>
#include <vector>

namespace quillex::regex_syntax {

namespace {

using Bytes = std::bitset<256>;
using Wide = CharClass::Wide;

// Every byte a multi-byte character can begin with (0xC0-0xFF: a superset of the lead bytes valid UTF-8 uses).
Bytes lead_bytes() {
  Bytes b;
  for (unsigned v = 0xC0; v < 0x100; ++v) b.set(v);
  return b;
}

Bytes ascii_bytes() {
  Bytes b;
  for (unsigned v = 0; v < 0x80; ++v) b.set(v);
  return b;
}

unsigned lead_byte_of(char32_t c) {
  if (c < 0x800) return 0xC0 | (c >> 6);
  if (c < 0x10000) return 0xE0 | (c >> 12);
  return 0xF0 | (c >> 18);
}

// A class as the lexer builds it: `exact` says that the ASCII part of `cls.bytes` is exactly the ASCII members
// (false for Unicode classes such as \pL, whose ASCII part is taken as all of ASCII).
struct Set {
  CharClass cls;
  bool exact = true;

  void add_range(char32_t lo, char32_t hi) {
    for (char32_t c = lo; c <= std::min<char32_t>(hi, 0x7F); ++c) cls.bytes.set(c);
    if (hi < 0x80) return;
    const char32_t wide_lo = std::max<char32_t>(lo, 0x80);
    if (wide_lo == 0x80 && hi >= 0x10FFFF) {
      cls.wide = Wide::All;
      cls.bytes |= lead_bytes();
      return;
    }
    for (unsigned b = lead_byte_of(wide_lo); b <= lead_byte_of(hi); ++b) cls.bytes.set(b);
    if (cls.wide == Wide::None) cls.wide = Wide::Some;
  }
  void add(const Set& other) {
    cls.bytes |= other.cls.bytes;
    cls.wide = std::max(cls.wide, other.cls.wide);
    exact = exact && other.exact;
  }
  // The complement within all characters. A partial non-ASCII part complements to a partial one that may
  // begin with any lead byte.
  void negate() {
    const Bytes ascii = exact ? ~cls.bytes & ascii_bytes() : ascii_bytes();
    switch (cls.wide) {
      case Wide::None:
        cls = {ascii | lead_bytes(), Wide::All};
        break;
      case Wide::All:
        cls = {ascii, Wide::None};
        break;
      case Wide::Some:
        cls = {ascii | lead_bytes(), Wide::Some};
        break;
    }
  }
};

Set ascii_set(std::initializer_list<std::pair<char, char>> ranges, bool negated) {
  Set s;
  for (auto [lo, hi] : ranges) s.add_range(static_cast<unsigned char>(lo), static_cast<unsigned char>(hi));
  if (negated) s.negate();
  return s;
}

// A Unicode class (\pL, \p{Greek}, their negations): any ASCII member, some non-ASCII members.
Set unicode_set() {
  Set s;
  s.cls = {ascii_bytes() | lead_bytes(), Wide::Some};
  s.exact = false;
  return s;
}

// \d \s \w and their negations: RE2's ASCII classes (\s is tab, line feed, form feed, carriage return, space).
std::optional<Set> perl_set(char c) {
  switch (c) {
    case 'd':
    case 'D':
      return ascii_set({{'0', '9'}}, c == 'D');
    case 's':
    case 'S':
      return ascii_set({{'\t', '\n'}, {'\f', '\r'}, {' ', ' '}}, c == 'S');
    case 'w':
    case 'W':
      return ascii_set({{'0', '9'}, {'A', 'Z'}, {'a', 'z'}, {'_', '_'}}, c == 'W');
    default:
      return std::nullopt;
  }
}

// [:name:] and [:^name:] inside a bracket class: ASCII classes.
std::optional<Set> posix_set(std::string_view name) {
  bool negated = false;
  if (!name.empty() && name[0] == '^') {
    negated = true;
    name.remove_prefix(1);
  }
  if (name == "alnum") return ascii_set({{'0', '9'}, {'A', 'Z'}, {'a', 'z'}}, negated);
  if (name == "alpha") return ascii_set({{'A', 'Z'}, {'a', 'z'}}, negated);
  if (name == "ascii") return ascii_set({{'\x00', '\x7F'}}, negated);
  if (name == "blank") return ascii_set({{'\t', '\t'}, {' ', ' '}}, negated);
  if (name == "cntrl") return ascii_set({{'\x00', '\x1F'}, {'\x7F', '\x7F'}}, negated);
  if (name == "digit") return ascii_set({{'0', '9'}}, negated);
  if (name == "graph") return ascii_set({{'!', '~'}}, negated);
  if (name == "lower") return ascii_set({{'a', 'z'}}, negated);
  if (name == "print") return ascii_set({{' ', '~'}}, negated);
  if (name == "punct") return ascii_set({{'!', '/'}, {':', '@'}, {'[', '`'}, {'{', '~'}}, negated);
  if (name == "space") return ascii_set({{'\t', '\r'}, {' ', ' '}}, negated);
  if (name == "upper") return ascii_set({{'A', 'Z'}}, negated);
  if (name == "word") return ascii_set({{'0', '9'}, {'A', 'Z'}, {'a', 'z'}, {'_', '_'}}, negated);
  if (name == "xdigit") return ascii_set({{'0', '9'}, {'A', 'F'}, {'a', 'f'}}, negated);
  return std::nullopt;
}

bool is_octal(unsigned char c) { return c >= '0' && c <= '7'; }
int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
bool is_ascii_letter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// `Flags` is a flag setting ("(?i)") and `Nothing` an empty quote ("\Q\E"): both add nothing to the expression, so
// a repetition operator after one repeats the item before it ("a(?i)*" is "a*"), and one after a repetition
// ("a*\Q\E+") is no stacked operator but a repetition of the repetition.
enum class Kind : std::uint8_t { Atom, Dot, Assertion, Open, Close, Flags, Nothing, Bar, Repeat, End };

struct Token {
  Kind kind = Kind::End;
  Set set;                // Atom
  bool any_byte = false;  // Atom: '\C'
  int min = 0;            // Repeat
  int max = -1;           // Repeat: -1 for no upper bound
  bool lazy = false;      // Repeat
  bool fold = false;      // Flags, Open: the flags name 'i'
  bool dot_all = false;   // Flags, Open: the flags name 's'
  bool looks_back = false;  // Assertion: '^', '\A', '\b' or '\B', which read the text before their position
  bool flags = false;       // Flags, Open: the group names flags ("(?i)", "(?-m:", ...)
  std::optional<char32_t> ch;  // Atom: the one character it stands for, when written as one (not as a class)
  bool plain = false;          // Atom: a character written as itself, not through an escape
  std::size_t begin = 0;       // the token's text in the pattern: [begin, end)
  std::size_t end = 0;
};

// Tokens of a pattern in RE2's syntax, one at a time. Only what decides structure is read exactly for every
// text: escapes, classes, quoted text and repetition braces, so parentheses and operators inside them are not
// taken for structure. A construct that is malformed or not known here clears `exact`, and the pattern then
// gets no summary (its depth is still counted).
class Lexer {
 public:
  explicit Lexer(std::string_view p) : p_(p) {}
  bool exact() const { return exact_; }

  Token next() {
    Token t = read();
    t.begin = begin_;
    t.end = i_;
    return t;
  }

 private:
  Token read() {
    for (;;) {
      begin_ = i_;
      if (i_ >= p_.size()) return {};
      const unsigned char c = at(0);
      if (quoting_) {
        if (c == '\\' && at(1) == 'E') {
          quoting_ = false;
          i_ += 2;
          if (quoted_nothing_) return token(Kind::Nothing);
          continue;
        }
        quoted_nothing_ = false;
        if (c == '\\') {
          exact_ = false;  // a backslash inside \Q...\E: RE2 reads "\\" there in its own way
          ++i_;
          return atom(literal('\\'));
        }
        return char_atom(read_char());
      }
      switch (c) {
        case '(':
          return open();
        case ')':
          ++i_;
          return token(Kind::Close);
        case '|':
          ++i_;
          return token(Kind::Bar);
        case '*':
        case '+':
        case '?':
          ++i_;
          return repeat(c == '+' ? 1 : 0, c == '?' ? 1 : -1);
        case '{': {
          Token t;
          if (braces(t)) return t;
          ++i_;
          return char_atom('{');
        }
        case '[':
          return atom(bracket());
        case '.':
          ++i_;
          return token(Kind::Dot);
        case '^':
        case '$': {
          ++i_;
          Token t = token(Kind::Assertion);
          t.looks_back = c == '^';
          return t;
        }
        case '\\': {
          const unsigned char e = at(1);
          if (e == 'A' || e == 'z' || e == 'b' || e == 'B') {
            i_ += 2;
            Token t = token(Kind::Assertion);
            t.looks_back = e != 'z';
            return t;
          }
          if (e == 'C') {
            i_ += 2;
            Token t = token(Kind::Atom);
            t.any_byte = true;
            t.set.cls = {~Bytes{}, Wide::Some};
            return t;
          }
          if (e == 'Q') {
            i_ += 2;
            quoting_ = true;
            quoted_nothing_ = true;
            continue;
          }
          const Member m = escape();
          Token t = atom(m.set);
          t.ch = m.c;
          return t;
        }
        default:
          return char_atom(read_char());
      }
    }
  }

  unsigned char at(std::size_t k) const { return i_ + k < p_.size() ? static_cast<unsigned char>(p_[i_ + k]) : 0; }
  bool has(std::size_t k) const { return i_ + k < p_.size(); }

  static Token token(Kind k) {
    Token t;
    t.kind = k;
    return t;
  }
  static Token atom(Set s) {
    Token t = token(Kind::Atom);
    t.set = std::move(s);
    return t;
  }
  // A character written as itself.
  static Token char_atom(char32_t c) {
    Token t = atom(literal(c));
    t.ch = c;
    t.plain = true;
    return t;
  }
  static Set literal(char32_t c) {
    Set s;
    s.add_range(c, c);
    return s;
  }
  Token repeat(int min, int max) {
    Token t = token(Kind::Repeat);
    t.min = min;
    t.max = max;
    if (at(0) == '?' && has(0)) {
      t.lazy = true;
      ++i_;
    }
    return t;
  }

  // One character of the pattern's UTF-8, taken whole.
  char32_t read_char() {
    const unsigned char b = at(0);
    unsigned len = b < 0x80 ? 1 : b < 0xC0 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (len == 0 || !has(len - 1)) {
      exact_ = false;
      ++i_;
      return b;
    }
    char32_t c = len == 1 ? b : b & (0x7F >> len);
    for (unsigned k = 1; k < len; ++k) c = (c << 6) | (at(k) & 0x3F);
    i_ += len;
    return c;
  }

  // "{n}", "{n,}" or "{n,m}" at i_ (a repetition), else false with i_ unchanged ('{' is then a literal).
  // A number is what RE2 takes for one: no leading zero ("{01}" and "{0,00}" are characters), and no more
  // digits once the value reaches 100000000 ("{1000000000}" is characters too).
  bool braces(Token& t) {
    std::size_t j = i_ + 1;
    auto digit = [&](std::size_t k) { return k < p_.size() && p_[k] >= '0' && p_[k] <= '9'; };
    auto number = [&](int& v) {
      if (!digit(j) || (p_[j] == '0' && digit(j + 1))) return false;
      v = 0;
      for (; digit(j); ++j) {
        if (v >= 100000000) return false;
        v = v * 10 + (p_[j] - '0');
      }
      return true;
    };
    int min = 0;
    int max = 0;
    if (!number(min)) return false;
    max = min;
    if (j < p_.size() && p_[j] == ',') {
      ++j;
      if (!number(max)) max = -1;
    }
    if (j >= p_.size() || p_[j] != '}') return false;
    i_ = j + 1;
    t = repeat(min, max);
    return true;
  }

  Token open() {
    Token t = token(Kind::Open);
    if (at(1) != '?') {
      ++i_;
      return t;
    }
    if (at(2) == 'P' && at(3) == '<') {
      const std::size_t close = p_.find('>', i_ + 4);
      i_ = close == std::string_view::npos ? p_.size() : close + 1;
      return t;
    }
    std::size_t j = i_ + 2;
    while (j < p_.size() && (p_[j] == 'i' || p_[j] == 'm' || p_[j] == 's' || p_[j] == 'U' || p_[j] == '-')) {
      t.fold = t.fold || p_[j] == 'i';
      t.dot_all = t.dot_all || p_[j] == 's';
      t.flags = true;
      ++j;
    }
    if (j < p_.size() && p_[j] == ')') {
      t.kind = Kind::Flags;
    } else if (j >= p_.size() || p_[j] != ':') {
      exact_ = false;
    }
    i_ = std::min(j + 1, p_.size());
    return t;
  }

  // What an escape or a class member stands for: one character (`c`, with its set), or a class.
  struct Member {
    Set set;
    std::optional<char32_t> c;
  };
  Member character(char32_t c) { return {literal(c), c}; }

  // An escape at i_ (a backslash) that stands for characters: one character, or a Perl or Unicode class.
  // Assertions, '\C' and '\Q' are taken by the callers; the escapes are the same inside and outside classes.
  Member escape() {
    if (!has(1)) {
      exact_ = false;
      ++i_;
      return character('\\');
    }
    const unsigned char e = at(1);
    if (std::optional<Set> perl = perl_set(static_cast<char>(e))) {
      i_ += 2;
      return {*perl, std::nullopt};
    }
    if (e == 'p' || e == 'P') {
      i_ += 2;
      if (at(0) == '{' && has(0)) {
        const std::size_t close = p_.find('}', i_);
        i_ = close == std::string_view::npos ? p_.size() : close + 1;
      } else if (has(0)) {
        read_char();
      }
      return {unicode_set(), std::nullopt};
    }
    if (e == 'x') {
      i_ += 2;
      char32_t v = 0;
      if (at(0) == '{' && has(0)) {
        std::size_t j = i_ + 1;
        while (j < p_.size() && hex_value(p_[j]) >= 0 && v <= 0x10FFFF) v = v * 16 + hex_value(p_[j++]);
        if (j == i_ + 1 || j >= p_.size() || p_[j] != '}' || v > 0x10FFFF) {
          exact_ = false;
          v = 0;
        }
        i_ = std::min(j + 1, p_.size());
      } else if (has(1) && hex_value(at(0)) >= 0 && hex_value(at(1)) >= 0) {
        v = hex_value(at(0)) * 16 + hex_value(at(1));
        i_ += 2;
      } else {
        exact_ = false;
      }
      return character(v);
    }
    if (e == '0' || (e >= '1' && e <= '7' && has(2) && is_octal(at(2)))) {
      // Octal: '\0' and up to two more digits, or '\1'-'\7' and one or two more.
      i_ += 2;
      char32_t v = e - '0';
      for (int k = 0; k < 2 && has(0) && is_octal(at(0)); ++k) {
        v = v * 8 + (at(0) - '0');
        ++i_;
      }
      return character(v);
    }
    static constexpr char CONTROLS[] = "a\af\fn\nr\rt\tv\v";
    for (const char* c = CONTROLS; *c != '\0'; c += 2) {
      if (e == static_cast<unsigned char>(*c)) {
        i_ += 2;
        return character(static_cast<unsigned char>(c[1]));
      }
    }
    if (e < 0x80 && !is_ascii_letter(e) && !(e >= '0' && e <= '9')) {
      i_ += 2;
      return character(e);  // escaped punctuation stands for itself
    }
    exact_ = false;  // an escape RE2 refuses or this reader does not know
    ++i_;
    return character(read_char());
  }

  // A bracket class at i_ ('['): its members, negated after '^'. ']' first is a member; '-' makes a range
  // between two characters unless it comes last.
  Set bracket() {
    ++i_;
    bool negated = false;
    if (at(0) == '^' && has(0)) {
      negated = true;
      ++i_;
    }
    Set acc;
    bool first = true;
    for (;;) {
      if (!has(0)) {
        exact_ = false;  // no closing ']'
        break;
      }
      const unsigned char c = at(0);
      if (c == ']' && !first) {
        ++i_;
        break;
      }
      first = false;
      if (c == '[' && at(1) == ':' && has(1) && i_ + 2 < no_posix_end_from_) {
        const std::size_t close = p_.find(":]", i_ + 2);
        if (close == std::string_view::npos) no_posix_end_from_ = i_ + 2;
        if (close != std::string_view::npos) {
          const std::optional<Set> posix = posix_set(p_.substr(i_ + 2, close - i_ - 2));
          if (posix) {
            acc.add(*posix);
          } else {
            exact_ = false;
          }
          i_ = close + 2;
          continue;
        }
      }
      const Member lo = class_char();
      if (!lo.c) {
        acc.add(lo.set);
        continue;
      }
      if (at(0) == '-' && has(1) && at(1) != ']') {
        ++i_;
        const Member hi = class_char();
        if (!hi.c || *hi.c < *lo.c) {
          exact_ = false;
          continue;
        }
        acc.add_range(*lo.c, *hi.c);
        continue;
      }
      acc.add_range(*lo.c, *lo.c);
    }
    if (negated) acc.negate();
    return acc;
  }

  // A member character or class inside a bracket class.
  Member class_char() {
    if (at(0) != '\\') {
      const char32_t c = read_char();
      return {literal(c), c};
    }
    const unsigned char e = at(1);
    if (e == 'A' || e == 'z' || e == 'b' || e == 'B' || e == 'C' || e == 'Q' || e == 'E') {
      exact_ = false;
      i_ = std::min(i_ + 2, p_.size());
      return {unicode_set(), std::nullopt};
    }
    return escape();
  }

  std::string_view p_;
  std::size_t i_ = 0;
  std::size_t begin_ = 0;  // where the token being read began
  // No ":]" at or after this position: once a search for it fails, later ones from further on would fail too,
  // so a class full of "[:" costs one pass, not one per "[:".
  std::size_t no_posix_end_from_ = std::string_view::npos;
  bool quoting_ = false;
  bool quoted_nothing_ = false;  // nothing read yet since "\Q"
  bool exact_ = true;
};

}  // namespace

int nesting_depth(std::string_view pattern, int limit) {
  // One frame per open group: the depth of its deepest item so far, and the depth of its last item (which a
  // repetition operator deepens; -1 when there is none).
  struct Frame {
    int deepest = 0;
    int last = -1;
    bool last_repeated = false;
  };
  std::vector<Frame> frames(1);
  Lexer lexer(pattern);
  for (Token t = lexer.next(); t.kind != Kind::End; t = lexer.next()) {
    Frame& f = frames.back();
    switch (t.kind) {
      case Kind::Atom:
      case Kind::Dot:
      case Kind::Assertion:
        f.last = 0;
        f.last_repeated = false;
        break;
      case Kind::Repeat:
        // An operator right after another ("a**") is a compile error, not a level.
        if (f.last >= 0 && !f.last_repeated) f.deepest = std::max(f.deepest, ++f.last);
        f.last_repeated = true;
        break;
      case Kind::Flags:
      case Kind::Nothing:
        // The next operator repeats the last item, even one just repeated ("a*(?i)*" nests two levels).
        f.last_repeated = false;
        break;
      case Kind::Open:
        frames.emplace_back();
        // Each open group is a level around what it will hold.
        if (static_cast<int>(frames.size()) - 1 > limit) return limit + 1;
        break;
      case Kind::Close:
        if (frames.size() > 1) {
          const int depth = frames.back().deepest + 1;
          frames.pop_back();
          frames.back().last = depth;
          frames.back().last_repeated = false;
          frames.back().deepest = std::max(frames.back().deepest, depth);
        }
        break;
      case Kind::Bar:
      case Kind::End:
        frames.back().last = -1;
        break;
    }
    if (frames.back().deepest > limit) return limit + 1;
  }
  // Groups left open (a compile error) still count as levels.
  while (frames.size() > 1) {
    const int depth = frames.back().deepest + 1;
    frames.pop_back();
    frames.back().deepest = std::max(frames.back().deepest, depth);
  }
  return std::min(frames.back().deepest, limit + 1);
}

namespace {

// The class of an atom under the pattern's flags. `fold`: some flag group names 'i', so every atom is taken as
// case-folded (a superset where the flag is off). Folding pairs ASCII letters, ties 'k' and 's' to non-ASCII
// characters (KELVIN SIGN, LONG S), and ties non-ASCII characters to others of other lead bytes (omega to OHM
// SIGN): a folded class with letters may hold any lead byte, and one with non-ASCII members any letter too.
// `dot_all`: some flag group names 's', so '.' may match '\n'.
CharClass atom_class(const Token& t, bool fold, bool dot_all) {
  if (t.kind == Kind::Dot) {
    Bytes b = ascii_bytes() | lead_bytes();
    if (!dot_all) b.reset('\n');
    return {b, Wide::All};
  }
  CharClass c = t.set.cls;
  if (!fold || t.any_byte) return c;
  bool letters = false;
  for (unsigned v = 'A'; v <= 'Z'; ++v) {
    if (c.bytes.test(v) || c.bytes.test(v + 32)) {
      letters = true;
      c.bytes.set(v).set(v + 32);
    }
  }
  if (c.wide != Wide::None) {
    for (unsigned v = 'A'; v <= 'Z'; ++v) c.bytes.set(v).set(v + 32);
    c.bytes |= lead_bytes();
  } else if (letters) {
    c.bytes |= lead_bytes();
    c.wide = Wide::Some;
  }
  return c;
}

// Whether a pattern may match empty and which bytes may start its non-empty matches, by recursive descent over
// the tokens (one level of recursion per group; nesting is bounded before any pattern is compiled).
class ShapeReader {
 public:
  ShapeReader(std::string_view pattern, bool fold, bool dot_all) : lexer_(pattern), fold_(fold), dot_all_(dot_all) {
    advance();
  }

  std::optional<Shape> read() {
    const Summary s = alternation();
    if (token_.kind != Kind::End || !ok_ || !lexer_.exact()) return std::nullopt;
    Shape shape;
    shape.may_be_empty = s.may_be_empty;
    shape.first_bytes = s.first;
    return shape;
  }

 private:
  struct Summary {
    bool may_be_empty = true;
    Bytes first;
  };

  // Tokens that add nothing are passed over, so an operator after one repeats the item before it.
  void advance() {
    do {
      token_ = lexer_.next();
    } while (token_.kind == Kind::Flags || token_.kind == Kind::Nothing);
  }

  Summary alternation() {
    Summary s = sequence();
    while (token_.kind == Kind::Bar) {
      advance();
      const Summary branch = sequence();
      s.may_be_empty = s.may_be_empty || branch.may_be_empty;
      s.first |= branch.first;
    }
    return s;
  }

  Summary sequence() {
    Summary s;
    while (token_.kind != Kind::Bar && token_.kind != Kind::Close && token_.kind != Kind::End && ok_) {
      const Summary item = repeated();
      if (s.may_be_empty) s.first |= item.first;
      s.may_be_empty = s.may_be_empty && item.may_be_empty;
    }
    return s;
  }

  Summary repeated() {
    Summary x;
    switch (token_.kind) {
      case Kind::Atom:
      case Kind::Dot:
        x = {false, atom_class(token_, fold_, dot_all_).bytes};
        advance();
        break;
      case Kind::Assertion:
        advance();
        break;
      case Kind::Open:
        advance();
        x = alternation();
        if (token_.kind != Kind::Close) ok_ = false;
        advance();
        break;
      default:
        ok_ = false;  // a repetition with nothing before it
        advance();
        break;
    }
    while (token_.kind == Kind::Repeat) {
      if (token_.max == 0) {
        x = {};
      } else if (token_.min == 0) {
        x.may_be_empty = true;
      }
      advance();
    }
    return x;
  }

  Lexer lexer_;
  Token token_;
  bool fold_;
  bool dot_all_;
  bool ok_ = true;
};

}  // namespace

bool reads_only_forward(std::string_view pattern) {
  Lexer lexer(pattern);
  for (Token t = lexer.next(); t.kind != Kind::End; t = lexer.next()) {
    if (t.looks_back || t.any_byte) return false;
  }
  return lexer.exact();
}

std::optional<Shape> read_shape(std::string_view pattern) {
  bool fold = false;
  bool dot_all = false;
  bool flags = false;
  Lexer scan(pattern);
  std::vector<Token> head;  // the first three tokens that add something, for the class-run form
  for (Token t = scan.next(); t.kind != Kind::End; t = scan.next()) {
    fold = fold || t.fold;
    dot_all = dot_all || t.dot_all;
    flags = flags || t.kind == Kind::Flags || t.fold || t.dot_all;
    if (head.size() < 3 && t.kind != Kind::Nothing) head.push_back(t);
  }
  if (!scan.exact()) return std::nullopt;
  std::optional<Shape> shape = ShapeReader(pattern, fold, dot_all).read();
  if (!shape) return std::nullopt;
  // One class, then '+' or '*' (greedy), and nothing else; no flag group at all (an Open token naming flags
  // is a group, so it cannot be among two tokens; "(?U)" would be a third token).
  if (!flags && head.size() == 2 && (head[0].kind == Kind::Dot || (head[0].kind == Kind::Atom && !head[0].any_byte)) &&
      head[1].kind == Kind::Repeat && head[1].max == -1 && head[1].min <= 1 && !head[1].lazy) {
    const CharClass c = atom_class(head[0], false, false);
    if (c.wide != Wide::Some && (head[0].kind == Kind::Dot || head[0].set.exact)) {
      shape->run_class = c;
      if (c.wide == Wide::All) {
        for (unsigned v = 0x80; v < 0x100; ++v) shape->run_class->bytes.set(v);
      }
      shape->run_may_be_empty = head[1].min == 0;
    }
  }
  return shape;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

namespace {

// The item a character, class or '.' token stands for, when it is one a sequence or a tree may hold: a character
// (of any length), or a class whose ASCII part is exact and whose non-ASCII part is none or all.
std::optional<SequenceItem> item_of(const Token& t, std::string_view pattern) {
  SequenceItem item;
  item.source = t.plain ? std::string_view() : pattern.substr(t.begin, t.end - t.begin);
  if (t.kind == Kind::Dot) {
    item.cls = atom_class(t, false, false);
    return item;
  }
  if (t.ch) {
    item.literal = t.ch;
    item.cls.bytes.set(*t.ch < 0x80 ? *t.ch : lead_byte_of(*t.ch));
    return item;
  }
  // '\C', a Unicode class, or a class with some non-ASCII members: none is a byte class.
  if (t.any_byte || !t.set.exact || t.set.cls.wide == Wide::Some) return std::nullopt;
  item.cls = t.set.cls;
  return item;
}

// Recursive descent over the tokens, one level of recursion per group (nesting is bounded before any pattern
// is compiled).
class TreeReader {
 public:
  explicit TreeReader(std::string_view pattern) : pattern_(pattern), lexer_(pattern) { advance(); }

  std::optional<PatternNode> read() {
    PatternNode root = alternation();
    if (!ok_ || token_.kind != Kind::End || !lexer_.exact()) return std::nullopt;
    return root;
  }

 private:
  // Empty quotes add nothing; a count after one repeats what came before it.
  void advance() {
    do {
      token_ = lexer_.next();
    } while (token_.kind == Kind::Nothing);
  }

  PatternNode alternation() {
    PatternNode first = sequence();
    if (token_.kind != Kind::Bar) return first;
    PatternNode alt;
    alt.type = PatternNode::Type::Alternation;
    alt.parts.push_back(std::move(first));
    while (token_.kind == Kind::Bar && ok_) {
      advance();
      alt.parts.push_back(sequence());
    }
    return alt;
  }

  PatternNode sequence() {
    PatternNode seq;
    while (token_.kind != Kind::Bar && token_.kind != Kind::Close && token_.kind != Kind::End && ok_) {
      seq.parts.push_back(repeated());
    }
    return seq;
  }

  PatternNode repeated() {
    PatternNode x;
    switch (token_.kind) {
      case Kind::Atom:
      case Kind::Dot:
        if (std::optional<SequenceItem> item = item_of(token_, pattern_)) {
          x.type = PatternNode::Type::Item;
          x.item = *item;
        } else {
          ok_ = false;
        }
        advance();
        break;
      case Kind::Open:
        if (token_.flags) {
          ok_ = false;
          return x;
        }
        advance();
        x = alternation();
        if (token_.kind != Kind::Close) {
          ok_ = false;
          return x;
        }
        advance();
        break;
      default:  // a flag setting, an assertion, or a count with nothing before it
        ok_ = false;
        return x;
    }
    if (token_.kind == Kind::Repeat && ok_) {
      if (token_.max >= 0 && token_.min > token_.max) ok_ = false;
      PatternNode r;
      r.type = PatternNode::Type::Repeat;
      r.min = token_.min;
      r.max = token_.max;
      r.lazy = token_.lazy;
      r.parts.push_back(std::move(x));
      advance();
      if (token_.kind == Kind::Repeat) ok_ = false;  // a count of a count, across an empty quote
      return r;
    }
    return x;
  }

  std::string_view pattern_;
  Lexer lexer_;
  Token token_;
  bool ok_ = true;
};

}  // namespace

std::optional<PatternNode> read_tree(std::string_view pattern) { return TreeReader(pattern).read(); }

std::optional<std::vector<SequenceItem>> read_sequence(std::string_view pattern) {
  // What a count right here would repeat: nothing (the start, or just after '('), an item, an item already
  // counted, or a group (both refused).
  enum class Last : std::uint8_t { Nothing, Item, Counted, Group };
  Last last = Last::Nothing;
  std::vector<SequenceItem> items;
  Lexer lexer(pattern);
  for (Token t = lexer.next(); t.kind != Kind::End; t = lexer.next()) {
    switch (t.kind) {
      case Kind::Atom:
      case Kind::Dot: {
        std::optional<SequenceItem> item = item_of(t, pattern);
        if (!item) return std::nullopt;
        items.push_back(*item);
        last = Last::Item;
        break;
      }
      case Kind::Repeat: {
        if (last != Last::Item || t.lazy || (t.max >= 0 && t.min > t.max)) return std::nullopt;
        SequenceItem& item = items.back();
        if (item.literal) {
          if (*item.literal >= 0x80) return std::nullopt;  // a count on a character of several bytes
          item.literal.reset();  // the class of one byte
        }
        item.min = t.min;
        item.max = t.max;
        last = Last::Counted;
        break;
      }
      case Kind::Open:
        if (t.flags) return std::nullopt;
        last = Last::Nothing;
        break;
      case Kind::Close:
        last = Last::Group;
        break;
      case Kind::Nothing:
        break;  // an empty quote: a count after it repeats what came before
      case Kind::Flags:
      case Kind::Assertion:
      case Kind::Bar:
      case Kind::End:
        return std::nullopt;
    }
  }
  if (!lexer.exact()) return std::nullopt;
  std::erase_if(items, [](const SequenceItem& item) { return item.max == 0; });
  for (SequenceItem& item : items) {
    if (item.cls.wide == Wide::All) {
      for (unsigned v = 0x80; v < 0x100; ++v) item.cls.bytes.set(v);
    }
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].min == items[i].max) continue;
    for (std::size_t j = i + 1; j < items.size(); ++j) {
      if ((items[i].cls.bytes & items[j].cls.bytes).any()) return std::nullopt;
      if (items[j].min > 0) break;
    }
  }
  return items;
}

}  // namespace quillex::regex_syntax
