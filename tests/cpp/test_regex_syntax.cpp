// The reading of a pattern's text: its nesting depth, and the summary (empty matches, first bytes, class run)
// that the Regex element's fast forms rest on, checked against RE2 itself.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "elements/regex.h"
#include "elements/regex_syntax.h"
#include "fastpaths/regex.h"
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
  fastpaths::for_each_regex_match(e, text, [&out](Pos s, Pos t) { out.emplace_back(s, t); });
  return out;
}

Spans re2_spans(const re2::RE2& re, std::string_view text) {
  Spans out;
  fastpaths::for_each_regex_match(re, text, [&out](Pos s, Pos t) { out.emplace_back(s, t); });
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
  ASSERT_EQ(fastpaths::count_regex_matches(e, text), want.size());
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
      ASSERT_EQ(fastpaths::count_regex_matches(*e, text), want.size());
    }
  }
}

}  // namespace
}  // namespace quillex
