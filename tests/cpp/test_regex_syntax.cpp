// The reading of a pattern's text: its nesting depth, and the summary (empty matches, first bytes, class run)
// that the Regex element's fast forms rest on, checked against RE2 itself.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "elements/regex.h"
#include "elements/regex_automaton.h"
#include "elements/regex_sequence.h"
#include "elements/regex_syntax.h"
#include "elements/regex_find.h"
#include "routes.h"

namespace quillex {
namespace {

using Spans = std::vector<std::pair<Pos, Pos>>;

const std::string E_ACUTE = "\xC3\xA9";
const std::string EURO = "\xE2\x82\xAC";
const std::string KELVIN = "\xE2\x84\xAA";  // folds with 'k'
const std::string LONG_S = "\xC5\xBF";      // folds with 's'
const std::string OMEGA = "\xCF\x89";       // folds with CE A9 and with OHM SIGN E2 84 A6
const std::string OHM = "\xE2\x84\xA6";

Ref<const RegexElement> regex(std::string_view pattern) {
  RegexBuild b = make_regex_element(pattern);
  EXPECT_TRUE(b.element) << pattern << ": " << b.error;
  return b.element;
}

// Concatenation by appends (GCC 12 warns falsely about operator+ on a literal and a temporary).
template <class... Parts>
std::string cat(const Parts&... parts) {
  std::string out;
  (out.append(parts), ...);
  return out;
}

std::string repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out.append(s);
  return out;
}

TEST(RegexNesting, DepthCountsGroupsAndRepetitions) {
  const struct {
    std::string pattern;
    int depth;
  } rows[] = {
      {"", 0},
      {"abc", 0},
      {"a*", 1},
      {"a*?", 1},             // the lazy mark is part of the operator
      {"a{2,3}b+", 1},
      {"(a)", 1},
      {"(a)*", 2},
      {"((a|b*)c)+", 4},
      {"(?:a)(?:b)", 1},      // siblings are not nested
      {"(?P<n>a)", 1},
      {"(?i:a+)", 2},
      {"(?i)a", 0},           // a flag setting holds nothing
      {"[(]\\(\\)", 0},       // classes and escaped parentheses are characters
      {"[()*+]*", 1},
      {"[]()]", 0},           // ']' first in a class is a member
      {"[[:alpha:](]", 0},
      {"\\Q((*\\E", 0},       // quoted text is characters
      {"\\x{41}+", 1},        // the braces of an escape are no repetition
      {"\\p{Greek}", 0},
      {"a{,3}", 0},           // not a repetition in RE2: characters
      {"a{", 0},
      {"a{01}b{0,00}", 0},    // RE2 reads a number with a leading zero as characters
      {"(a{1000000000})", 1}, // and one of ten digits
      {"a**", 1},             // a compile error, not two levels
      {"a*(?i)*", 2},         // after a flag setting or an empty quote an operator repeats the repetition
      {"a+\\Q\\E?", 2},
      {"a(?i)*\\Qb\\E+", 1},
      {"(((a", 3},            // open groups still count
      {"a))", 0},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(regex_syntax::nesting_depth(r.pattern, 250), r.depth) << r.pattern;
  }
  EXPECT_EQ(regex_syntax::nesting_depth(repeat("(", 100000), 250), 251) << "stops past the limit";
  EXPECT_EQ(regex_syntax::nesting_depth(repeat("(?:a", 10) + repeat(")*", 10), 250), 20);
  // "[:" with no ":]" after it is characters of the class, parentheses included; many of them cost one pass.
  EXPECT_EQ(regex_syntax::nesting_depth(cat("[", repeat("[:a(", 20000), "]"), 250), 0);
}

TEST(RegexNesting, DeeperThanTheLimitIsACompileError) {
  const struct {
    const char* open;
    const char* close;
    int levels;  // levels per open/close pair
  } shapes[] = {{"(", ")", 1}, {"(?:", ")", 1}, {"(?:", ")*", 2}, {"(?P<n>", ")", 1}, {"(?i:", ")?", 2}};
  for (const auto& shape : shapes) {
    const int at_limit = REGEX_NESTING_LIMIT / shape.levels;
    SCOPED_TRACE(std::string(shape.open) + "..." + shape.close);
    const std::string ok = cat(repeat(shape.open, at_limit), "a", repeat(shape.close, at_limit));
    RegexBuild accepted = make_regex_element(ok);
    EXPECT_TRUE(accepted.element) << accepted.error;
    const std::string deep = cat(repeat(shape.open, at_limit + 1), "a", repeat(shape.close, at_limit + 1));
    RegexBuild refused = make_regex_element(deep);
    EXPECT_FALSE(refused.element);
    EXPECT_EQ(refused.error, cat("regex parse error:\n    ^(?:", deep,
                                 ")\nerror: nesting too deep: more than 250 levels of groups and repetitions"));
  }
  // The anchored text of a pattern that begins with '^' is the pattern itself; the wrapper is no level.
  const std::string caret = cat("^", repeat("(", 251), repeat(")", 251));
  EXPECT_EQ(make_regex_element(caret).error,
            cat("regex parse error:\n    ", caret, "\nerror: nesting too deep: more than 250 levels of groups and repetitions"));
  // Before RE2: a hundred thousand levels are refused at once, even with another fault further on.
  const std::size_t before = live_element_count();
  EXPECT_NE(make_regex_element(cat(repeat("(", 100000), "a**")).error.find("nesting too deep"), std::string::npos);
  EXPECT_EQ(live_element_count(), before);
  // Operators stacked with a flag setting or an empty quote between them nest.
  for (const char* between : {"(?i)", "\\Q\\E"}) {
    EXPECT_TRUE(make_regex_element(cat("a", repeat(cat("?", between), 250))).element) << between;
    EXPECT_NE(make_regex_element(cat("a", repeat(cat("?", between), 251))).error.find("nesting too deep"),
              std::string::npos) << between;
  }
  // Stacked operators are RE2's error, as before.
  EXPECT_EQ(make_regex_element(cat("a", repeat("*", 300))).error.find("regex parse error:\n    ^(?:a***"), 0u);
  EXPECT_NE(make_regex_element(cat("a", repeat("*", 300))).error.find("bad repetition operator"), std::string::npos);
}

// The bytes of a set as a string, for readable expectations: "0-9" style ranges of printable ASCII, other
// bytes as \xHH; 0xC0-0xFF (every lead byte), when all are members, as "<lead>".
std::string describe(const std::bitset<256>& b) {
  std::string out;
  auto name = [](unsigned v) {
    if (v > 0x20 && v < 0x7F) return std::string(1, static_cast<char>(v));
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X", v);
    return std::string(buf);
  };
  unsigned v = 0;
  bool leads = true;
  for (unsigned l = 0xC0; l < 0x100; ++l) leads = leads && b.test(l);
  const unsigned stop = leads ? 0xC0 : 0x100;
  while (v < stop) {
    if (!b.test(v)) {
      ++v;
      continue;
    }
    unsigned e = v;
    while (e + 1 < stop && b.test(e + 1)) ++e;
    out += name(v);
    if (e > v) out += cat("-", name(e));
    v = e + 1;
  }
  if (leads) out += "<lead>";
  return out;
}

TEST(RegexShape, SummariesOfPatterns) {
  const struct {
    const char* pattern;
    bool may_be_empty;
    const char* first;
    const char* run;  // nullptr: no class run
    bool run_star;
  } rows[] = {
      {"[0-9]+", false, "0-9", "0-9", false},
      {"\\d*", true, "0-9", "0-9", true},
      {"[^\n]*", true, "\\x00-\\x09\\x0B-\\x7F<lead>", "\\x00-\\x09\\x0B-\\xBF<lead>", true},
      {".+", false, "\\x00-\\x09\\x0B-\\x7F<lead>", "\\x00-\\x09\\x0B-\\xBF<lead>", false},
      {"a+", false, "a", "a", false},
      {"\\w{1,}", false, "0-9A-Z_a-z", "0-9A-Z_a-z", false},
      {"[[:^alpha:]]*", true, "\\x00-@[-`{-\\x7F<lead>", "\\x00-@[-`{-\\xBF<lead>", true},
      {"\\S+", false, "\\x00-\\x08\\x0B\\x0E-\\x1F!-\\x7F<lead>", "\\x00-\\x08\\x0B\\x0E-\\x1F!-\\xBF<lead>", false},
      // Not class runs: lazy, flags, counted, partly non-ASCII, Unicode classes, byte classes.
      {"[0-9]+?", false, "0-9", nullptr, false},
      {"(?i)a+", false, "Aa<lead>", nullptr, false},
      {"(?m)a+", false, "a", nullptr, false},
      {"(?:a+)", false, "a", nullptr, false},
      {"a{2,}", false, "a", nullptr, false},
      {"[a\xC3\xA9]+", false, "a\\xC3", nullptr, false},
      {"\\pL+", false, "\\x00-\\x7F<lead>", nullptr, false},
      {"\\C+", false, "\\x00-\\xBF<lead>", nullptr, false},
      // Sequences, alternations, repetitions and assertions.
      {"abc", false, "a", nullptr, false},
      {"a?b", false, "a-b", nullptr, false},
      {"a*b*c", false, "a-c", nullptr, false},
      {"a|b|", true, "a-b", nullptr, false},
      {"(?:)", true, "", nullptr, false},
      {"x{0}y", false, "y", nullptr, false},
      {"a(?i)*", true, "Aa<lead>", nullptr, false},  // an operator after a flag setting repeats the item before
      {"x(?s){0}y", false, "y", nullptr, false},
      {"[0-9]+(?m)?", true, "0-9", nullptr, false},
      {"a\\Q\\E+", false, "a", "a", false},
      {"a*\\Q\\E+", true, "a", nullptr, false},
      {"x{00}y", false, "x", nullptr, false},        // "{00}" is characters, not a repetition
      {"x{0,00}y", false, "x", nullptr, false},
      {"(?:){01}y", false, "{", nullptr, false},
      {"x{0,1000000000}", false, "x", nullptr, false},
      {"a{01,}", false, "a", nullptr, false},        // characters: no class run
      {"\\bfoo", false, "f", nullptr, false},
      {"^a|$", true, "a", nullptr, false},
      {"(?P<n>[x-z])y?", false, "x-z", nullptr, false},
      {"\xC3\xA9", false, "\\xC3", nullptr, false},
      {"[\\x{100}-\\x{7FF}]", false, "\\xC4-\\xDF", nullptr, false},
      {"\\x41\\101\\0", false, "A", nullptr, false},
      {"\\Q*+\\E", false, "*", nullptr, false},
      {"[\\]\\-]", false, "-]", nullptr, false},
      {"(?i)k", false, "Kk<lead>", nullptr, false},  // and KELVIN SIGN
      {"(?i)\xC3\xA9", false, "A-Za-z<lead>", nullptr, false},
      {"(?s).", false, "\\x00-\\x7F<lead>", nullptr, false},
      {"a(?i)b", false, "Aa<lead>", nullptr, false},  // folding taken for the whole pattern
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.pattern);
    const std::optional<regex_syntax::Shape> shape = regex_syntax::read_shape(r.pattern);
    ASSERT_TRUE(shape);
    EXPECT_EQ(shape->may_be_empty, r.may_be_empty);
    EXPECT_EQ(describe(shape->first_bytes), r.first);
    ASSERT_EQ(shape->run_class.has_value(), r.run != nullptr);
    if (r.run == nullptr) continue;
    EXPECT_EQ(describe(shape->run_class->bytes), r.run);
    EXPECT_EQ(shape->run_may_be_empty, r.run_star);
    // The element keeps the run: RE2 agrees with it.
    EXPECT_TRUE(regex(r.pattern)->fast().run.has_value());
  }
  // The plain route of the Python tests: an alternative that never matches but must be taken as possibly
  // empty, so that every test of the pattern goes to RE2.
  for (const char* pattern : {"(?:\\b\\B|[0-9]+)", "(?:\\b\\B|abc)", "(?:\\b\\B|[^\n]*)"}) {
    const Ref<const RegexElement> e = regex(pattern);
    const RegexFastForm& fast = e->fast();
    EXPECT_FALSE(fast.run) << pattern;
    EXPECT_TRUE(fast.may_be_empty) << pattern;
  }
  // Constructs the reader does not vouch for: no summary, everything goes to RE2.
  for (const char* pattern : {"\\Qa\\\\b\\E"}) {
    EXPECT_FALSE(regex_syntax::read_shape(pattern)) << pattern;
    const Ref<const RegexElement> e = regex(pattern);
    const RegexFastForm& fast = e->fast();
    EXPECT_FALSE(fast.run);
    EXPECT_TRUE(fast.may_be_empty);
  }
}

// Every class the reader knows, as a run "C+": the element keeps the run only when RE2 matches exactly the
// bytes the reader says (every ASCII byte and characters of each length), so a run here is a class read right.
TEST(RegexShape, ClassesAgreeWithRE2) {
  const char* classes[] = {
      "\\d", "\\D", "\\s", "\\S", "\\w", "\\W", ".", "a", "\\.", "\\-", "\\_", "\\ ", "\\n", "\\t", "\\f", "\\v", "\\r", "\\a",
      "\\x7F", "\\x{0}", "\\0", "\\012", "\\177", "[abc]", "[^abc]", "[a-z]", "[^a-z0-9]", "[]a]", "[^]a]", "[a-]", "[-a]",
      "[a-b-c]", "[%--]", "[\\d-z]", "[\\s\\d]", "[^\\s\\d]", "[\\D]", "[^\\W]", "[\\x00-\\x7F]", "[^\\x00-\\x7F]",
      "[\\x{80}-\\x{10FFFF}]", "[\\x00-\\x{10FFFF}]", "[\\]]", "[\\^]", "[\\\\]", "[.]", "[\\n-\\r]",
      "[[:alnum:]]", "[[:alpha:]]", "[[:ascii:]]", "[[:blank:]]", "[[:cntrl:]]", "[[:digit:]]", "[[:graph:]]",
      "[[:lower:]]", "[[:print:]]", "[[:punct:]]", "[[:space:]]", "[[:upper:]]", "[[:word:]]", "[[:xdigit:]]",
      "[[:^space:]]", "[^[:punct:]x]", "[[:digit:][:upper:]]", "\\Q*\\E", "\\Q\\E\\x41",
  };
  for (const char* c : classes) {
    for (const char* op : {"+", "*"}) {
      const std::string pattern = std::string(c) + op;
      SCOPED_TRACE(pattern);
      const std::optional<regex_syntax::Shape> shape = regex_syntax::read_shape(pattern);
      ASSERT_TRUE(shape && shape->run_class);
      EXPECT_TRUE(regex(pattern)->fast().run.has_value()) << "RE2 disagrees with the reader";
    }
  }
}

Spans element_spans(const RegexElement& e, std::string_view text) {
  Spans out;
  for_each_regex_match(e, text, [&out](Pos s, Pos t) { out.emplace_back(s, t); });
  return out;
}

Spans re2_spans(const re2::RE2& re, std::string_view text) {
  Spans out;
  for_each_regex_match(re, text, [&out](Pos s, Pos t) { out.emplace_back(s, t); });
  return out;
}

// The element's routes (its test at every position, its iteration and its count) against RE2's.
void expect_agrees_with_re2(const RegexElement& e, std::string_view text) {
  for (Pos pos = 0; pos <= text.size(); ++pos) {
    const MatchResult fast = e.match_at(text, pos);
    const MatchResult plain = e.re2_match_at(text, pos);
    ASSERT_EQ(fast.matched, plain.matched) << "at " << pos;
    if (plain.matched) {
      ASSERT_EQ(fast.end, plain.end) << "at " << pos;
    }
  }
  const Spans want = re2_spans(e.unanchored(), text);
  ASSERT_EQ(element_spans(e, text), want);
  ASSERT_EQ(count_regex_matches(e, text), want.size());
}

// Patterns with every kind of piece the summaries use, over every text of up to three characters of an
// alphabet of letters, digits, line breaks and characters of two and three bytes (case partners of ASCII
// letters among them).
TEST(RegexShape, SmallWorldAgreesWithRE2) {
  const std::vector<std::string> texts =
      testing::small_world_texts({"a", "k", "K", "1", "\n", "\r", " ", E_ACUTE, EURO, KELVIN, LONG_S, OHM}, 3);
  const char* patterns[] = {
      "a+", "a*", "[a-z]+", "[^a]*", "\\d+", "\\w*", "\\s+", "[^\n]*", ".+", ".*", "[^\\x00-\\x7F]+", "k*",
      "a", "ak", "a?k", "a|k|1", "k{2}", "(?i)k", "(?i)s+", "(?i)[^k]", "(?i)\xC3\xA9", "(?i)\xCF\x89", "\\bk", "\\Bk", "^k", "k$",
      "(?m)^k", "(?m)k$", "\\C", "\\C\\C", "[\xC3\xA9-\xE2\x82\xAC]", "\\pL", "\\PL+", "[\\p{Greek}a]", "(?s).",
      "(?U)a+", "a+?", "(?:ak)+", "(a)|(k)", "x{0}k", "\\Ak", "k\\z", "(?i:K)", "[[:upper:]]+", "(?i)[[:upper:]]",
      "", "a|", "|k", "(?:)", "\\b",
  };
  for (const char* p : patterns) {
    Ref<const RegexElement> e = regex(p);
    for (const std::string& t : texts) {
      SCOPED_TRACE(std::string("/") + p + "/ on '" + t + "'");
      expect_agrees_with_re2(*e, t);
    }
  }
}

// Random patterns from the same pieces, over random texts long enough to cross vector blocks: the element's
// routes against RE2's. Seeded, so a failure repeats.
TEST(RegexShape, RandomPatternsAgreeWithRE2) {
  const std::vector<std::string> atoms = {
      "a", "b", "1", "\xC3\xA9", ".", "\\d", "\\w", "\\s", "\\S", "[ab]", "[^a]", "[^\n]", "[a-z0-9]", "\\pL",
      "(?i)b", "\\C", "[\xC3\xA9" "b]", "\\x{20AC}", "[[:punct:]]", "\\.",
  };
  const std::vector<std::string> ops = {"", "", "*", "+", "?", "{2}", "{1,3}", "*?", "+?", "??"};
  const std::vector<std::string> assertions = {"", "", "", "^", "$", "\\b", "\\B", "(?m)^", "(?m)$"};
  const std::vector<std::string> chars = {"a", "b", "B", "1", "2", " ", "\n", "\r", ".", "!", E_ACUTE, EURO, KELVIN};
  std::mt19937 rng(11);
  auto pick = [&rng](const std::vector<std::string>& v) { return v[rng() % v.size()]; };
  for (int i = 0; i < 400; ++i) {
    std::string pattern;
    const int pieces = 1 + static_cast<int>(rng() % 3);
    for (int k = 0; k < pieces; ++k) {
      std::string piece = pick(atoms);
      piece.append(pick(ops));
      if (rng() % 4 == 0) {
        std::string group = "(?:";
        group.append(piece).append("|").append(pick(atoms)).append(")").append(pick(ops));
        piece = group;
      }
      pattern.append(pick(assertions)).append(piece);
    }
    if (rng() % 6 == 0) {
      std::string alternative = pick(atoms);
      alternative.append(pick(ops)).append("|").append(pattern);
      pattern = alternative;
    }
    RegexBuild b = make_regex_element(pattern);
    if (!b.element) continue;  // "a**" and the like
    for (int j = 0; j < 8; ++j) {
      std::string text;
      const std::size_t chars_in_text = rng() % 80;
      for (std::size_t k = 0; k < chars_in_text; ++k) text += pick(chars);
      SCOPED_TRACE("/" + pattern + "/ on '" + text + "'");
      expect_agrees_with_re2(*b.element, text);
    }
  }
}

// Long texts for the searches that skip to candidate bytes: runs of candidates that fail (so the plain searches
// take over for ever longer stretches) between stretches where every candidate matches, and back.
TEST(RegexShape, SkippingSearchesAgreeWithRE2OnLongTexts) {
  std::mt19937 rng(5);
  const std::vector<std::string> segments = {"a", "ab", "ab", "a1", "xab", "\n", E_ACUTE, "a" + E_ACUTE, "b"};
  for (const char* pattern : {"ab", "a.b", "\\bab", "(?m)^ab", "a[0-9]+", "ab|b", "a\\C"}) {
    Ref<const RegexElement> e = regex(pattern);
    ASSERT_FALSE(e->fast().may_be_empty);
    for (int round = 0; round < 20; ++round) {
      std::string text;
      while (text.size() < 6000) {
        const std::string& piece = segments[rng() % segments.size()];
        const std::size_t times = rng() % 4 == 0 ? 1 + rng() % 600 : 1;
        for (std::size_t k = 0; k < times; ++k) text += piece;
      }
      SCOPED_TRACE(std::string("/") + pattern + "/, round " + std::to_string(round));
      const Spans want = re2_spans(e->unanchored(), text);
      ASSERT_EQ(element_spans(*e, text), want);
      ASSERT_EQ(count_regex_matches(*e, text), want.size());
    }
  }
}

// The steps of a sequence, for readable expectations: a literal as 'text', a class as its bytes (as describe
// gives them) with its count; "c" marks a class counted in characters.
std::string describe(const ByteSequence& seq) {
  std::string out;
  for (const ByteSequence::Step& s : seq.steps()) {
    if (!out.empty()) out += " ";
    if (!s.literal.empty()) {
      out += cat("'", s.literal, "'");
      continue;
    }
    std::bitset<256> members;
    for (unsigned b = 0; b < 256; ++b) members.set(b, s.cls.contains(static_cast<unsigned char>(b)));
    out += cat("[", describe(members), "]{", std::to_string(s.min), ",",
               s.max == ByteSequence::UNBOUNDED ? std::string() : std::to_string(s.max), "}", s.by_char ? "c" : "");
  }
  return out;
}

TEST(RegexSequence, WhichPatternsAreSequences) {
  const struct {
    std::string pattern;
    std::optional<std::string> steps;  // nullopt: no sequence form
  } rows[] = {
      {"end", "'end'"},
      {"\"[^\"\n]*\"", "'\"' [\\x00-\\x09\\x0B-!#-\\xBF<lead>]{0,}c '\"'"},
      {"\\d{4}-\\d\\d-\\d\\d", "[0-9]{4,4} '-' [0-9]{2,2} '-' [0-9]{2,2}"},  // a fixed count adds to the next
      {"[a-z]=\\d+", "[a-z]{1,1} '=' [0-9]{1,}"},
      {"\\d\\d+x", "[0-9]{2,} 'x'"},
      {"x{0}y{0,0}z", "'z'"},  // items counted {0} are left out
      {"(a)(?:b)(?P<n>c)()", "'abc'"},  // groups without a count are their contents
      {"a\\Q\\E+b", "[a]{1,} 'b'"},  // a count after an empty quote repeats what came before
      {"\\Qa+\\E", "'a+'"},
      {cat(E_ACUTE, "\\d"), cat("'", E_ACUTE, "' [0-9]{1,1}")},
      {"[^a]{2}b", "[\\x00-`b-\\xBF<lead>]{2,2}c 'b'"},  // a fixed count may be followed by its own class
      {".{2,3}\n", "[\\x00-\\x09\\x0B-\\xBF<lead>]{2,3}c '\n'"},
      {"a?b?c", "[a]{0,1} [b]{0,1} 'c'"},
      {"\\x41\\x{42}\\103\\.", "'ABC.'"},
      {"[[:digit:]]+[^[:digit:]]", "[0-9]{1,} [\\x00-/:-\\xBF<lead>]{1,1}c"},
      {"a*b*", "[a]{0,} [b]{0,}"},  // may be empty
      {"", ""},
      // Not sequences: counts that could give back, lazy counts, flags, assertions, alternation, counted groups,
      // byte and Unicode classes, classes with some non-ASCII members, a count on a character of several bytes.
      {"a*a", std::nullopt},
      {"a*b?a", std::nullopt},  // 'a' after the optional 'b' could take what "a*" gives back
      {"[a-z]*\\w", std::nullopt},
      {"\\d+\\d", std::nullopt},
      {"a{2,}a", std::nullopt},
      {"[^\"]*\"?x", std::nullopt},
      {"[0-9]+?x", std::nullopt},
      {"(?U)a+b", std::nullopt},
      {"(?i)end", std::nullopt},
      {"(?i:e)nd", std::nullopt},
      {"(?m)end", std::nullopt},
      {"(?s).b", std::nullopt},
      {"^end", std::nullopt},
      {"end$", std::nullopt},
      {"\\bend", std::nullopt},
      {"\\Aend", std::nullopt},
      {"a|b", std::nullopt},
      {"(ab)+", std::nullopt},
      {"(?:a)*b", std::nullopt},
      {"(a)\\Q\\E*b", std::nullopt},
      {"a\\C", std::nullopt},
      {"\\pLx", std::nullopt},
      {cat("[a", E_ACUTE, "]x"), std::nullopt},
      {cat(E_ACUTE, "+"), std::nullopt},
      {"a+\\Q\\E+b", std::nullopt},
      {"\\Qa\\\\b\\E", std::nullopt},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.pattern);
    const Ref<const RegexElement> e = regex(r.pattern);
    const std::optional<ByteSequence>& seq = e->fast().sequence;
    ASSERT_EQ(seq.has_value(), r.steps.has_value());
    if (seq) {
      EXPECT_EQ(describe(*seq), *r.steps);
    }
  }
  // A class run keeps its own form.
  EXPECT_TRUE(regex("[0-9]+")->fast().run);
  EXPECT_FALSE(regex("[0-9]+")->fast().sequence);
}

TEST(RegexSequence, SearchesFindCandidatesByTheRarestItem) {
  using Search = ByteSequence::Search;
  const struct {
    const char* pattern;
    Search search;
    const char* anchor;  // the literal, or the class's bytes as describe gives them
    Pos offset;
  } rows[] = {
      {"end", Search::Fixed, "end", 0},
      {"\"[^\"\n]*\"", Search::Fixed, "\"", 0},
      {"[a-z]=\\d+", Search::Fixed, "=", 1},             // '=' is rarer than the letters
      {"\\d{4}-\\d\\d-\\d\\d", Search::Fixed, "-", 4},  // and '-' than the digits
      {"[a-z]{3}\\d", Search::Fixed, "0-9", 3},          // a class, three bytes on
      {"e\\d", Search::Fixed, "0-9", 1},                 // rarer than a leading literal
      {"\\w+@\\w+", Search::AfterRun, "@", 0},          // right after the run of the first class
      {"[a-z]*,\\d", Search::AfterRun, ",", 0},
      {"[^=\\n]+=", Search::AfterRun, "=", 0},
      {"[^\\x00-\\x7F]+\\d", Search::First, "", 0},  // lead bytes are rarer than digits
      {"[xz] e", Search::First, "", 0},                  // ' ' and 'e' are commoner than 'x' and 'z'
      {"[xz] \\d", Search::First, "", 0},               // and together rarer than the ten digits
      {"k\\d+=", Search::Fixed, "k", 0},                // a letter is rarer than the digits together
      {"\\d+[a-z]", Search::First, "", 0},
      {"a?\\d", Search::First, "", 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.pattern);
    const Ref<const RegexElement> e = regex(r.pattern);
    ASSERT_TRUE(e->fast().sequence);
    const ByteSequence& seq = *e->fast().sequence;
    EXPECT_EQ(seq.search(), r.search);
    if (r.search == Search::First) continue;
    std::bitset<256> members;
    for (unsigned b = 0; b < 256; ++b) members.set(b, seq.anchor_class().contains(static_cast<unsigned char>(b)));
    EXPECT_EQ(seq.anchor().empty() ? describe(members) : std::string(seq.anchor()), r.anchor);
    EXPECT_EQ(seq.anchor_offset(), r.offset);
  }
}

// Sequences of every kind of item over every text of up to four characters of an alphabet of their bytes,
// line breaks and characters of two, three and four bytes: the walk at every position, the iteration and the
// count against RE2's.
TEST(RegexSequence, SmallWorldAgreesWithRE2) {
  const std::string SMILE = "\xF0\x9F\x98\x80";
  const std::vector<std::string> texts =
      testing::small_world_texts({"a", "b", "1", "=", "\"", "\n", E_ACUTE, EURO, SMILE}, 4);
  const std::string patterns[] = {
      "ab", "aab", "a=1", "\"[^\"\n]*\"", "[a-z]=\\d+", "\\d\\d+a", "1?a", "a?b?=", "a{2}", "a{1,2}b",
      "[^a]{2}", "[^=]{1,2}=", ".{2}", ".?\n", ".+\n", "[^\\x00-\\x7F]{2}", "[^\\x00-\\x7F]+a", "[^\\x00-\\x7F]?b",
      cat(E_ACUTE, "a"), cat("a", EURO), cat(E_ACUTE, "[^", "\\x00-\\x7F]"), "\\x{20AC}1", "b{0}a", "(a)(b)", "a*b*",
      "=1*", "a?", "", "[ab]{0,2}1",
  };
  for (const std::string& p : patterns) {
    Ref<const RegexElement> e = regex(p);
    ASSERT_TRUE(e->fast().sequence) << p;
    for (const std::string& t : texts) {
      SCOPED_TRACE("/" + p + "/ on '" + t + "'");
      expect_agrees_with_re2(*e, t);
    }
  }
}

// Every pattern of two counted items, over every text of up to three characters: each reading the form takes
// (which counts may be followed by which items, whole characters against bytes) is checked against RE2, not
// only the ones a table thought of. Many pairs are no sequence; those must simply keep to RE2.
TEST(RegexSequence, EveryPairOfItemsAgreesWithRE2) {
  const std::vector<std::string> texts = testing::small_world_texts({"a", "=", "1", "\n", E_ACUTE, EURO}, 3);
  const std::string atoms[] = {"a", "=", E_ACUTE, "\\d", "[a=]", "[^a]", ".", "[^\\x00-\\x7F]"};
  const std::string counts[] = {"", "*", "+", "?", "{2}", "{0,2}", "{2,}", "{0}"};
  std::vector<std::string> items;
  for (const std::string& a : atoms) {
    for (const std::string& c : counts) items.push_back(a + c);
  }
  int sequences = 0;
  int failures = 0;
  for (const std::string& first : items) {
    for (const std::string& second : items) {
      const std::string p = first + second;
      RegexBuild b = make_regex_element(p);
      ASSERT_TRUE(b.element) << p;
      const RegexElement& e = *b.element;
      sequences += e.fast().sequence.has_value();
      for (const std::string& t : texts) {
        bool same = element_spans(e, t) == re2_spans(e.unanchored(), t);
        for (Pos pos = 0; same && pos <= t.size(); ++pos) {
          const MatchResult fast = e.match_at(t, pos);
          const MatchResult plain = e.re2_match_at(t, pos);
          same = fast.matched == plain.matched && (!plain.matched || fast.end == plain.end);
        }
        if (!same && failures++ < 10) ADD_FAILURE() << "/" << p << "/ on '" << t << "'";
      }
    }
  }
  EXPECT_GT(sequences, 1000);
}

// Random sequences over random texts long enough to cross the vector blocks, with matches packed close
// together, overlapping and at both ends: the element's routes against RE2's. Seeded, so a failure repeats.
TEST(RegexSequence, RandomSequencesAgreeWithRE2) {
  const std::vector<std::string> atoms = {
      "a", "b", "=", "1", "\"", E_ACUTE, EURO, "\\d", "\\w", "\\s", "[ab]", "[^a]", "[^\"\n]", "[a-z0-9]", ".",
      "[^\\x00-\\x7F]", "\\x{20AC}", "\\.", "[=\"]",
  };
  const std::vector<std::string> ops = {"", "", "", "*", "+", "?", "{2}", "{0,2}", "{1,3}", "{0}"};
  // Unbounded first classes, whose searches may go by what follows their run.
  const std::vector<std::string> heads = {"[a-z]+", "\\w*", "[^=\n]+", "[^\\x00-\\x7F]{2,}", "[a ]+", "\\d{2,}"};
  const std::vector<std::string> chars = {"a", "a", "b", "=", "1", "1", " ", "\n", "\"", ".", E_ACUTE, EURO};
  std::mt19937 rng(23);
  auto pick = [&rng](const std::vector<std::string>& v) { return v[rng() % v.size()]; };
  int sequences = 0;
  int searches[3] = {};  // by ByteSequence::Search
  for (int i = 0; i < 1500; ++i) {
    std::string pattern = rng() % 3 == 0 ? pick(heads) : "";
    const int pieces = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < pieces; ++k) pattern += pick(atoms) + pick(ops);
    RegexBuild b = make_regex_element(pattern);
    if (!b.element || !b.element->fast().sequence) continue;
    ++sequences;
    ++searches[static_cast<int>(b.element->fast().sequence->search())];
    for (int j = 0; j < 4; ++j) {
      std::string text;
      const std::size_t length = rng() % 140;
      while (text.size() < length) text += pick(chars);
      SCOPED_TRACE("/" + pattern + "/ on '" + text + "'");
      expect_agrees_with_re2(*b.element, text);
    }
  }
  EXPECT_GT(sequences, 500);
  for (int k = 0; k < 3; ++k) EXPECT_GT(searches[k], 30) << "search " << k;
}

// A search's matches over a text, for a table of edges.
struct EdgeRow {
  std::string pattern;
  std::string text;
  Spans spans;
};

// Each row's pattern has the fast form `has_form` says, finds the row's matches, and agrees with RE2.
template <std::size_t N, class HasForm>
void expect_edges(const EdgeRow (&rows)[N], HasForm has_form) {
  for (const EdgeRow& r : rows) {
    SCOPED_TRACE(cat("/", r.pattern, "/ on '", r.text, "'"));
    const Ref<const RegexElement> e = regex(r.pattern);
    ASSERT_TRUE(has_form(e->fast()));
    EXPECT_EQ(element_spans(*e, r.text), r.spans);
    expect_agrees_with_re2(*e, r.text);
  }
}

// A search whose walks may cost too much: whether its finder hands the call over to RE2, and its matches.
struct GiveUpRow {
  const char* pattern;
  std::string text;
  bool gives_up;
};

template <class Finder, std::size_t N, class HasForm>
void expect_give_ups(const GiveUpRow (&rows)[N], HasForm has_form) {
  for (const GiveUpRow& r : rows) {
    SCOPED_TRACE(r.pattern);
    const Ref<const RegexElement> e = regex(r.pattern);
    ASSERT_TRUE(has_form(e->fast()));
    Finder find(*e, r.text);
    Spans found;
    iterate_matches(r.text, find, [&found](Pos s, Pos t) { found.emplace_back(s, t); });
    EXPECT_EQ(find.given_up(), r.gives_up);
    EXPECT_EQ(found, re2_spans(e->unanchored(), r.text));
  }
}

TEST(RegexSequence, EdgesOfTheSearch) {
  const std::string blocks = repeat("x", 100);
  auto at = [&blocks](Pos k, std::string_view s) { return cat(blocks.substr(0, k), s, blocks.substr(k)); };
  const EdgeRow rows[] = {
      {"aab", "aaab", {{1, 4}}},                 // overlapping candidates
      {"aab", "aabaab", {{0, 3}, {3, 6}}},       // at the very start and end
      {"aa", "aaaaa", {{0, 2}, {2, 4}}},
      {"a=\\d", "a=a=1", {{2, 5}}},
      {"[a-z]=\\d+", "ab=12=3 x=", {{1, 5}}},     // the anchor's candidate start is one byte before it
      {"\\d{2}-\\d", "1-2 12-3 123-4", {{4, 8}, {10, 14}}},
      {"\"[^\"\n]*\"", "\"a\n\"b\" \"\"", {{3, 6}, {7, 9}}},
      {"\\d\\d+x", "1 12 123x 1234", {{5, 9}}},
      {cat("[^\\x00-\\x7F]", "x"), cat("a", E_ACUTE, "x", EURO, "x"), {{1, 4}, {4, 8}}},
      {".{2}", cat(E_ACUTE, "a", EURO), {{0, 3}}},  // counts take whole characters
      {"a?b?", "abx", {{0, 2}, {3, 3}}},  // the empty match at 2 follows a match
      {"1", at(15, "1"), {{15, 16}}},
      {"12", at(31, "12"), {{31, 33}}},
      {"x1y", at(63, "1y"), {{62, 65}}},
      {"[a-z]=\\d", at(47, "=1"), {{46, 49}}},
      {"[a-z]{3}\\d", "ab1 abc1 xabcd2", {{4, 8}, {11, 15}}},
      {"\\w+@\\w+", "a@b @c d@ ab_1@cd@e", {{0, 3}, {10, 17}}},  // the run back to where the search is
      {"[a-z]+=\\d", "ab=cd=1", {{3, 7}}},
      {"[a-z]+=", "ab=cd=", {{0, 3}, {3, 6}}},  // a run that begins where the last match ended
      {"[a-z]{2,}=", "a=ab=", {{2, 5}}},         // a run too short for the count
      {"[a-z]*=", "==a=", {{0, 1}, {1, 2}, {2, 4}}},
      {"\\w+@\\w+", cat(repeat(" ", 40), "ab@cd", repeat(" ", 30)), {{40, 45}}},
      {"[^=]+=\\d", cat(E_ACUTE, "a=1=", EURO, "=2"), {{0, 5}, {6, 11}}},
  };
  expect_edges(rows, [](const RegexFastForm& f) { return f.sequence.has_value(); });
}

// Walks that fail far past their start, each rereading what the last read ("[a1]\d+x" over a long run of
// digits), hand the search over to RE2 before they cost the square of the text, and so do walks that fail every
// few bytes; walks that fail at once on ordinary text do not.
TEST(RegexSequence, FailedWalksThatRereadHandOverToRE2) {
  const std::string digits = cat(repeat("1", 20000), " 1x");
  const GiveUpRow rows[] = {
      {"[a1]\\d+x", digits, true},
      {"\\d+x", digits, false},  // a failed walk skips the run it took
      {"[a-z]=\\d+", repeat("ab=c x=1 ", 3000), false},
      {"\"[^\"\n]*\"", repeat("\"abc\n", 3000), false},
      {"[xz] \\d", cat(repeat("x y ", 10000), "z 1x 2"), true},
  };
  expect_give_ups<SequenceFinder>(rows, [](const RegexFastForm& f) { return f.sequence.has_value(); });
}

namespace automaton {

// Which fast form a pattern gets: "run", "sequence", "automaton" or "" (RE2).
std::string form_of(std::string_view pattern) {
  const Ref<const RegexElement> e = regex(pattern);
  const RegexFastForm& f = e->fast();
  return f.run ? "run" : f.sequence ? "sequence" : f.automaton ? "automaton" : "";
}

// The automaton of a pattern as built from its tree, without the element's check against RE2.
std::optional<CharAutomaton> raw_automaton(std::string_view pattern) {
  const std::optional<regex_syntax::PatternNode> tree = regex_syntax::read_tree(pattern);
  if (!tree) return std::nullopt;
  return CharAutomaton::build(*tree);
}

// The automaton's walk at every position against RE2's anchored match.
void expect_walks_agree(const CharAutomaton& a, const RegexElement& e, std::string_view text) {
  for (Pos pos = 0; pos <= text.size(); ++pos) {
    if (!is_char_boundary(text, pos)) continue;
    const MatchResult walked = a.match(text, pos);
    const MatchResult plain = e.re2_match_at(text, pos);
    ASSERT_EQ(walked.matched, plain.matched) << "at " << pos;
    if (plain.matched) {
      ASSERT_EQ(walked.end, plain.end) << "at " << pos;
    }
  }
}

}  // namespace automaton

TEST(RegexAutomaton, WhichPatternsHaveAutomata) {
  using automaton::form_of;
  const struct {
    std::string pattern;
    const char* form;
  } rows[] = {
      // Token patterns as users write them.
      {"\"(?:[^\"\\\\]|\\\\.)*\"", "automaton"},
      {"\"([^\"\\\\]|\\\\.)*\"", "automaton"},
      {"\"(?:[^\"\\\\\\x00-\\x1f]|\\\\[\"\\\\/bfnrt]|\\\\u[0-9a-fA-F]{4})*\"", "automaton"},
      {"-?\\d+(\\.\\d+)?([eE][+-]?\\d+)?", "automaton"},
      {"-?(?:0|[1-9]\\d*)(?:\\.\\d+)?(?:[eE][+-]?\\d+)?", "automaton"},
      {"true|false|null", "automaton"},
      {"[+-]?\\d+", "sequence"},
      {"\\s*", "run"},
      {"[A-Za-z_][A-Za-z0-9_]*(?:\\.[A-Za-z_][A-Za-z0-9_]*)*", "automaton"},
      {"\\d{1,3}(?:\\.\\d{1,3}){3}", "automaton"},
      {"'(?:[^'\\n]|'')*'", "automaton"},
      // Counts that may give characters back, lazy counts, empty branches, non-ASCII characters.
      {"a*a", "automaton"},
      {"[a-z]*\\w", "automaton"},
      {"a+?b", "automaton"},
      {"(?:ab)+", "automaton"},
      {"a|", "automaton"},
      {"|a", "automaton"},
      {cat(E_ACUTE, "+|", EURO), "automaton"},
      {cat("(?:", E_ACUTE, "|.)x"), "automaton"},
      {"x{0}|y", "automaton"},
      // Left to RE2: flags, assertions, byte and Unicode classes, classes with some non-ASCII members, counts of
      // parts that may match empty, a count right after a count, past the limits.
      {"(?i)true|false", ""},
      {"(?i:a)|b", ""},
      {"^a|b", ""},
      {"a|b$", ""},
      {"a|\\bb", ""},
      {"a|\\C", ""},
      {"\\pL|a", ""},
      {cat("[a", E_ACUTE, "]|x"), ""},
      {"(?:a*)*", ""},
      {"(?:a|)+", ""},
      {"(?:a?){2}", ""},
      {"(?:a|b)+\\Q\\E+", ""},
      {cat(repeat("(?:a|b)", 65)), ""},        // 130 positions
      {"(?:a|b)*a(?:a|b){5}", "automaton"},     // 64 states
      {"(?:a|b)*a(?:a|b){6}", ""},              // 128 states
      {"\\Qa\\\\b\\E|c", ""},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(form_of(r.pattern), r.form) << r.pattern;
  }
  EXPECT_EQ(regex("(?:a|b)*a(?:a|b){5}")->fast().automaton->state_count(), CharAutomaton::MAX_STATES);
}

// Patterns of alternations, groups and counts over every text of up to four characters of an alphabet of their
// bytes, line breaks and characters of two, three and four bytes: the element's routes against RE2's, and the
// automaton as built (before the element checks it against RE2) on its own.
TEST(RegexAutomaton, SmallWorldAgreesWithRE2) {
  const std::string SMILE = "\xF0\x9F\x98\x80";
  const std::vector<std::string> texts =
      testing::small_world_texts({"a", "b", "1", ".", "\"", "\\", "\n", E_ACUTE, EURO, SMILE}, 4);
  const std::string patterns[] = {
      "\"(?:[^\"\\\\]|\\\\.)*\"", "-?\\d+(\\.\\d+)?", "1(?:\\.1+)?(?:b1)?", "a|ab|abc", "abc|ab|a", "(?:a|ab)(?:1|b1)",
      "a*a", "a*?a", "a+?", "a??b", "(?:ab)*a", "(?:a|b)*b", "(?:a|1)*?1", "a{1,3}?a", "(?:a\\.?){2,}", "(?:a|b.){2}",
      "a|", "|a", "(?:)|a", cat(E_ACUTE, "|", EURO, "|."), cat("(?:", E_ACUTE, "a|.b)+"), cat(SMILE, "?\\d"),
      "[^a]*a|b", "(?:\\\\.|[^\\\\\"])*", "\\.|\\d+|[ab]+",
  };
  for (const std::string& p : patterns) {
    const Ref<const RegexElement> e = regex(p);
    ASSERT_TRUE(e->fast().automaton) << p;
    const std::optional<CharAutomaton> raw = automaton::raw_automaton(p);
    ASSERT_TRUE(raw) << p;
    for (const std::string& t : texts) {
      SCOPED_TRACE(cat("/", p, "/ on '", t, "'"));
      expect_agrees_with_re2(*e, t);
      automaton::expect_walks_agree(*raw, *e, t);
    }
  }
}

// Random trees of items, groups, alternations and counts (greedy and lazy) over random texts long enough to cross
// the vector blocks: the element's routes against RE2's, and every automaton as built against RE2 on its own, so
// that the element's check at construction hides no fault. Seeded, so a failure repeats.
TEST(RegexAutomaton, RandomTreesAgreeWithRE2) {
  const std::vector<std::string> atoms = {
      "a", "b", "=", "1", "\"", "\\\\", E_ACUTE, EURO, "\\d", "\\w", "[ab]", "[^a]", "[^\"\\\\]", ".", "[^\\x00-\\x7F]",
      "\\x{20AC}", "\\.", "ab", "1=",
  };
  const std::vector<std::string> ops = {"", "", "", "*", "+", "?", "{2}", "{0,2}", "{1,3}", "{2,}", "*?", "+?", "??",
                                        "{1,2}?"};
  const std::vector<std::string> chars = {"a", "a", "b", "=", "1", "1", " ", "\n", "\"", "\\", ".", E_ACUTE, EURO};
  std::mt19937 rng(31);
  auto pick = [&rng](const std::vector<std::string>& v) { return v[rng() % v.size()]; };
  std::function<std::string(int)> tree = [&](int depth) -> std::string {
    const unsigned r = depth >= 3 ? 0 : rng() % 5;
    if (r <= 1) return cat(pick(atoms), pick(ops));
    if (r == 2) return cat(tree(depth + 1), tree(depth + 1));
    std::string inner = tree(depth + 1);
    for (unsigned k = 0, branches = rng() % 3; k < branches; ++k) inner.append("|").append(tree(depth + 1));
    return cat(rng() % 2 != 0 ? "(?:" : "(", inner, ")", pick(ops));
  };
  int automata = 0;
  int refused_by_check = 0;
  for (int i = 0; i < 2500; ++i) {
    std::string pattern = tree(0);
    if (rng() % 4 == 0) pattern.append("|").append(tree(1));
    RegexBuild b = make_regex_element(pattern);
    if (!b.element) continue;
    const RegexFastForm& fast = b.element->fast();
    const std::optional<CharAutomaton> raw = automaton::raw_automaton(pattern);
    if (!fast.run && !fast.sequence && raw) refused_by_check += !fast.automaton;
    automata += fast.automaton.has_value();
    for (int j = 0; j < 4; ++j) {
      std::string text;
      const std::size_t length = rng() % 140;
      while (text.size() < length) text += pick(chars);
      SCOPED_TRACE(cat("/", pattern, "/ on '", text, "'"));
      expect_agrees_with_re2(*b.element, text);
      if (raw) automaton::expect_walks_agree(*raw, *b.element, text);
    }
  }
  EXPECT_GT(automata, 800);
  EXPECT_EQ(refused_by_check, 0);
}

TEST(RegexAutomaton, EdgesOfTheSearch) {
  const EdgeRow rows[] = {
      {"true|false|null", "nulltrue falsenul", {{0, 4}, {4, 8}, {9, 14}}},
      {"\"(?:[^\"\\\\]|\\\\.)*\"", "x\"a\\\"b\" \"\\\" \"\"", {{1, 7}, {8, 13}}},  // escaped quotes
      {"-?\\d+(\\.\\d+)?", "1.x -2.50 3..4", {{0, 1}, {4, 9}, {10, 11}, {13, 14}}},  // optional group given back
      {"a|ab|abc", "abcab", {{0, 1}, {3, 4}}},     // the first branch that matches, not the longest
      {"abc|ab|a", "abcab", {{0, 3}, {3, 5}}},
      {"a*a", "aaa b a", {{0, 3}, {6, 7}}},        // a count gives a character back
      {"a+?", "aa", {{0, 1}, {1, 2}}},
      {"(?:ab)*", "abab x", {{0, 4}, {5, 5}, {6, 6}}},  // empty matches: not right after a match
      {cat("(?:", E_ACUTE, "|a)+"), cat("b", E_ACUTE, "a", EURO, "a"), {{1, 4}, {7, 8}}},
      {".(?:b|c)", cat(E_ACUTE, "b", EURO, "x", EURO, "c"), {{0, 3}, {7, 11}}},
  };
  expect_edges(rows, [](const RegexFastForm& f) { return f.automaton.has_value(); });
}

// Walks that fail far past their start hand the search over to RE2 before they cost the square of the text, and
// so do walks that fail every few bytes; walks that fail at once on ordinary text do not.
TEST(RegexAutomaton, FailedWalksThatRereadHandOverToRE2) {
  const GiveUpRow rows[] = {
      {"(?:a|b)+c|x", cat(repeat("a", 20000), " ac"), true},
      {"\"(?:[^\"\\\\]|\\\\.)*\"", cat(repeat("\"abc\\", 3000), "\"x\""), false},
      {"(?:x|y) (?:1|2)", cat(repeat("x y ", 10000), "y 1x 2"), true},
      {"true|false|null", repeat("x = true, y = null; z = nul ", 2000), false},
  };
  expect_give_ups<AutomatonFinder>(rows, [](const RegexFastForm& f) { return f.automaton.has_value(); });
}

}  // namespace
}  // namespace quillex
