// The in-place searchers, counters and rules of the fast paths read only the text they are given. Each text is
// placed against an inaccessible page, once ending at the last readable byte and once starting at the first, so
// a load past the end (a 16-byte vector load included) or before the start faults, in the optimised build as
// well as under the sanitizer. The readable bytes around the text hold a "poison" of quotes, escapes, letters
// and 'é', so a read outside the text that does not fault still changes a result, and every result is compared
// with a plain model or with the same rule over an ordinary copy of the text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "elements/chars.h"
#include "elements/forward.h"
#include "elements/literals.h"
#include "elements/match_session.h"
#include "elements/positional.h"
#include "elements/regex.h"
#include "elements/start_bytes.h"
#include "elements/structure.h"
#include "elements/text_set_search.h"
#include "engine/grammar_scan.h"
#include "engine/scan.h"
#include "engine/text_period.h"
#include "fastpaths/keyword.h"
#include "fastpaths/literal.h"
#include "fastpaths/quoted_caseless.h"
#include "elements/regex_find.h"
#include "elements/substring_search.h"
#include "fastpaths/word_rule.h"
#include "guarded_region.h"

namespace quillex {
namespace {

using Spans = std::vector<std::pair<Pos, Pos>>;

const std::string E_ACUTE = "\xC3\xA9";       // é
const std::string EURO = "\xE2\x82\xAC";      // €
using testing::GuardedRegion;

// A text of exactly `length` bytes: whole characters of `pattern` repeated, then 'a' for the bytes a whole
// character no longer fills.
std::string text_of_length(const std::vector<std::string>& pattern, std::size_t length) {
  std::string s;
  for (std::size_t i = 0;; ++i) {
    const std::string& c = pattern[i % pattern.size()];
    if (s.size() + c.size() > length) break;
    s += c;
  }
  s.append(length - s.size(), 'a');
  return s;
}

// The texts of one length: short and long periods (2p and 2p + 1 bytes among them), a periodic start that
// breaks off, a run that defeats the byte-pair filter, and random text over the bytes the rules look at.
std::vector<std::string> texts_of_length(std::size_t length, std::mt19937& rng) {
  const std::vector<std::string> chars = {"a", "b", "A", "_", " ", "\"", "\\", "\n", E_ACUTE, EURO};
  std::vector<std::vector<std::string>> patterns = {
      {"a"}, {"a", "b"}, {"a", "b", E_ACUTE}, {E_ACUTE}, {"a", EURO, " "}, {"\"", "a", "\\", "\""}};
  std::vector<std::string> random_chars;
  std::uniform_int_distribution<std::size_t> pick(0, chars.size() - 1);
  for (std::size_t i = 0; i < length; ++i) random_chars.push_back(chars[pick(rng)]);
  if (random_chars.empty()) random_chars.push_back("a");
  patterns.push_back(random_chars);
  // A random block of half the length (of the length less one for 2p + 1), repeated.
  for (std::size_t half : {length / 2, (length - (length > 0)) / 2}) {
    std::vector<std::string> block;
    for (std::size_t bytes = 0; bytes < half;) {
      const std::string& c = chars[pick(rng)];
      if (bytes + c.size() > half) break;
      block.push_back(c);
      bytes += c.size();
    }
    if (!block.empty()) patterns.push_back(block);
  }
  std::vector<std::string> out;
  for (const auto& p : patterns) out.push_back(text_of_length(p, length));
  std::string broken = text_of_length({"a", "b"}, length);
  if (length > 2) broken[length - 2] = 'b';
  out.push_back(broken);
  return out;
}

// The lengths tried: every length to 80, then around the filter's steps, the period window and a page.
std::vector<std::size_t> lengths() {
  std::vector<std::size_t> out;
  for (std::size_t n = 0; n <= 80; ++n) out.push_back(n);
  for (std::size_t n : {127, 128, 129, 255, 256, 1023, 1024, 1025, 2048, 2049, 2051, 4095, 4096, 4097}) out.push_back(n);
  return out;
}

// Every text of every length in both placements, as (guarded view, ordinary copy).
void for_each_guarded_text(const std::function<void(std::string_view, const std::string&)>& check) {
  GuardedRegion region(3);
  ASSERT_TRUE(region.ok());
  std::mt19937 rng(3);
  for (std::size_t length : lengths()) {
    ASSERT_LE(length, region.capacity());
    for (const std::string& text : texts_of_length(length, rng)) {
      for (bool at_end : {true, false}) {
        const std::string_view guarded = region.place(text, at_end);
        SCOPED_TRACE(std::string(at_end ? "at the end" : "at the start") + ", text of " + std::to_string(length) +
                     " bytes '" + text.substr(0, 40) + "'");
        check(guarded, text);
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------------------------
// Plain models.

std::size_t naive_find(std::string_view text, std::string_view needle, std::size_t from, std::size_t to) {
  for (std::size_t h = from; h + needle.size() <= to; ++h) {
    if (text.substr(h, needle.size()) == needle) return h;
  }
  return NOT_FOUND;
}

std::vector<std::size_t> naive_occurrences(std::string_view text, std::string_view needle, std::size_t from,
                                           std::size_t to) {
  std::vector<std::size_t> out;
  for (std::size_t h; (h = naive_find(text, needle, from, to)) != NOT_FOUND; from = h + needle.size()) out.push_back(h);
  return out;
}

std::uint64_t naive_period(std::string_view text) {
  for (std::size_t c = 1; c <= engine::TEXT_PERIOD_LIMIT && 2 * c <= text.size(); ++c) {
    if (text.size() >= 4 && text.substr(0, c) == text.substr(c, c)) return c;
  }
  return 0;
}

bool naive_repeats(std::string_view text, std::size_t p) {
  for (std::size_t i = p; i < text.size(); ++i) {
    if (text[i] != text[i - p]) return false;
  }
  return true;
}

bool is_ident(char c) { return IDENT_CHARS[static_cast<unsigned char>(c)] != 0; }

std::uint64_t naive_keyword_count(std::string_view text, std::string_view kw) {
  std::uint64_t count = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t end = pos + kw.size();
    if (text.substr(pos, kw.size()) == kw && end <= text.size() && (end == text.size() || !is_ident(text[end]))) {
      ++count;
      pos = std::max(pos + 1, end);
    } else {
      ++pos;
    }
  }
  return count;
}

Spans scan_spans(const Element& e, std::string_view text) {
  Spans out;
  engine::scan_element_matches(e, text, [&out](Pos a, Pos b) { out.emplace_back(a, b); });
  return out;
}

// try_match_at at every position, the end included, over the guarded view and the copy.
void expect_same_matches_everywhere(const Element& e, std::string_view guarded, const std::string& copy) {
  for (Pos pos = 0; pos <= copy.size(); ++pos) {
    const MatchResult a = e.try_match_at(guarded, pos);
    const MatchResult b = e.try_match_at(copy, pos);
    EXPECT_EQ(a.matched, b.matched) << "at " << pos;
    if (a.matched && b.matched) {
      EXPECT_EQ(a.end, b.end) << "at " << pos;
    }
  }
}

// ---------------------------------------------------------------------------------------------------------------

TEST(FastPathBounds, ByteCountAndSubstringSearch) {
  const std::vector<std::string> needles = {"a",    "b",       E_ACUTE,  EURO,  "ab", "aa", "ba", "a" + E_ACUTE,
                                            "\"a", "aaaaaaab", "abababababababab", "abababababababa" + E_ACUTE,
                                            std::string(40, 'a')};
  for_each_guarded_text([&](std::string_view t, const std::string& s) {
    const std::size_t n = s.size();
    for (char c : {'a', 'b', '\xC3', '\0'}) {
      EXPECT_EQ(count_byte(t.data(), n, c), static_cast<std::uint64_t>(std::count(s.begin(), s.end(), c)));
    }
    for (const std::string& needle : needles) {
      SCOPED_TRACE("needle '" + needle + "'");
      SubstringFinder finder(needle);
      for (auto [from, to] : {std::pair{std::size_t{0}, n}, std::pair{std::min<std::size_t>(1, n), n},
                              std::pair{n / 2, n}, std::pair{std::size_t{0}, n / 2}, std::pair{n, n}}) {
        EXPECT_EQ(finder.find(t, from, to), naive_find(s, needle, from, to)) << "[" << from << ", " << to << ")";
      }
      SubstringFinder occurrences(needle);
      std::vector<std::size_t> got;
      const std::size_t end = fastpaths::find_literal_occurrences(occurrences, t, 0, n,
                                                                  [&got](std::size_t h) { got.push_back(h); });
      const std::vector<std::size_t> want = naive_occurrences(s, needle, 0, n);
      EXPECT_EQ(got, want);
      EXPECT_EQ(end, want.empty() ? 0 : want.back() + needle.size());
      SubstringFinder counter(needle);
      const fastpaths::OccurrenceCount counted = fastpaths::count_occurrences(counter, t, 0, n);
      EXPECT_EQ(counted.count, want.size());
      EXPECT_EQ(counted.end, end);
      EXPECT_EQ(fastpaths::count_literal_matches(needle, t), want.size());
    }
    EXPECT_EQ(fastpaths::count_literal_matches("", t), n);
  });
}

// A run long enough for the filter to give up: the two-way search then finishes on the guarded text.
TEST(FastPathBounds, SearchAfterTheFilterGivesUp) {
  GuardedRegion region(4);
  ASSERT_TRUE(region.ok());
  std::string bc;
  while (bc.size() < 12000) bc += "bc";
  const std::string needle = "baaaaaaaac";  // filter bytes 'b' at 0 and 'c' at 9: every even start is a candidate
  for (const std::string& text : {bc, bc + needle, bc.substr(0, 11000) + needle + "bc"}) {
    for (bool at_end : {true, false}) {
      const std::string_view t = region.place(text, at_end);
      SubstringFinder finder(needle);
      std::vector<std::size_t> got;
      (void)fastpaths::find_literal_occurrences(finder, t, 0, t.size(), [&got](std::size_t h) { got.push_back(h); });
      EXPECT_TRUE(finder.filter_given_up());
      EXPECT_EQ(got, naive_occurrences(text, needle, 0, text.size()));
      EXPECT_EQ(fastpaths::count_literal_matches(needle, t), got.size());
    }
  }
}

TEST(FastPathBounds, TextPeriod) {
  for_each_guarded_text([&](std::string_view t, const std::string& s) {
    EXPECT_EQ(engine::detect_text_period(t), naive_period(s));
    for (std::size_t limit : {std::size_t{0}, std::size_t{5}, s.size() / 2, s.size() + 7}) {
      EXPECT_EQ(engine::detect_text_period(t, limit), naive_period(s.substr(0, std::min(limit, s.size()))));
    }
    for (std::size_t p = 1; p <= std::min<std::size_t>(s.size() + 1, 6); ++p) {
      EXPECT_EQ(engine::repeats_with_period(t, p), naive_repeats(s, p)) << "period " << p;
    }
    if (const std::uint64_t p = naive_period(s)) {
      EXPECT_EQ(engine::repeats_with_period(t, p), naive_repeats(s, p));
    }
  });
}

TEST(FastPathBounds, KeywordAndCaselessCounters) {
  const std::vector<std::string> words = {"", "a", "ab", "aa", "a b", "A_", E_ACUTE, "a" + E_ACUTE, "abababababababab"};
  std::vector<Ref<const KeywordElement>> keywords;
  std::vector<Ref<const CaselessLiteralElement>> caseless_literals;
  std::vector<Ref<const CaselessKeywordElement>> caseless_keywords;
  for (const std::string& w : words) {
    keywords.push_back(make_element<KeywordElement>(w));
    caseless_literals.push_back(make_element<CaselessLiteralElement>(w));
    caseless_keywords.push_back(make_element<CaselessKeywordElement>(w));
  }
  for_each_guarded_text([&](std::string_view t, const std::string& s) {
    for (std::size_t i = 0; i < words.size(); ++i) {
      SCOPED_TRACE("word '" + words[i] + "'");
      EXPECT_EQ(fastpaths::count_keyword_matches(*keywords[i], t), naive_keyword_count(s, words[i]));
      EXPECT_EQ(keywords[i]->matches_at(t, 0), keywords[i]->try_match_at(s, 0).matched);
      EXPECT_EQ(fastpaths::count_caseless_literal(*caseless_literals[i], t), scan_spans(*caseless_literals[i], s).size());
      EXPECT_EQ(fastpaths::caseless_literal_matches(*caseless_literals[i], t),
                caseless_literals[i]->try_match_at(s, 0).matched);
      EXPECT_EQ(fastpaths::count_caseless_keyword(*caseless_keywords[i], t), scan_spans(*caseless_keywords[i], s).size());
      EXPECT_EQ(fastpaths::caseless_keyword_matches(*caseless_keywords[i], t),
                caseless_keywords[i]->try_match_at(s, 0).matched);
      if (s.size() <= 96) {
        expect_same_matches_everywhere(*keywords[i], t, s);
        expect_same_matches_everywhere(*caseless_literals[i], t, s);
        expect_same_matches_everywhere(*caseless_keywords[i], t, s);
      }
    }
  });
}

TEST(FastPathBounds, QuotedStringScans) {
  const struct {
    std::string quote;
    std::optional<std::string> escape;
    bool multiline;
  } kinds[] = {
      {"\"", std::nullopt, false}, {"\"", "\\", false}, {"\"", "\\", true}, {"\"", "\"", false},
      {E_ACUTE, std::nullopt, true}, {E_ACUTE, "\\", false}, {"\"", EURO, false}, {EURO, E_ACUTE, true},
  };
  std::vector<Ref<const QuotedStringElement>> elements;
  for (const auto& k : kinds) {
    std::optional<std::string_view> esc;
    if (k.escape) esc = *k.escape;
    elements.push_back(make_element<QuotedStringElement>(k.quote, esc, k.multiline, true));
  }
  for_each_guarded_text([&](std::string_view t, const std::string& s) {
    for (const auto& e : elements) {
      SCOPED_TRACE("quote '" + std::string(e->quote()) + "' escape '" + std::string(e->escape()) + "'");
      EXPECT_EQ(fastpaths::count_quoted_strings(*e, t), scan_spans(*e, s).size());
      EXPECT_EQ(fastpaths::quoted_string_matches(*e, t), e->try_match_at(s, 0).matched);
      if (s.size() <= 96) expect_same_matches_everywhere(*e, t, s);
    }
  });
}

// The candidates of the grammar scans (each rule of ScanStarts, the pair filter at both widths, the byte sets of
// one, a few and many members) and the scans themselves, over the guarded view against the same over the copy
// and against the plain scan.
TEST(FastPathBounds, GrammarScanCandidates) {
  auto lit = [](std::string_view t) -> ElementRef { return make_literal_element(t); };
  auto seq = [](ElementList c) -> ElementRef { return make_element<AndElement>(std::move(c)); };
  auto alt = [](ElementList c) -> ElementRef { return make_element<MatchFirstElement>(std::move(c)); };
  const ElementRef line_start = make_element<LineStartElement>();
  const Ref<const ForwardElement> nested = make_element<ForwardElement>();  // '"' + Optional(nested) + '\'
  forward_set_inner(*nested, seq({lit("\""), make_element<OptionalElement>(nested), lit("\\")}));
  using Rule = ScanStarts::Rule;
  const struct {
    const char* name;
    ElementRef grammar;
    Rule rule;
  } cases[] = {
      {"Text", seq({lit("ab"), make_element<WordElement>("ab_", std::nullopt)}), Rule::Text},
      {"Text, non-ASCII", lit(E_ACUTE + "a"), Rule::Text},
      {"Texts", alt({lit("a\""), lit("b" + E_ACUTE), lit("\\\\"), lit(EURO)}), Rule::Texts},
      {"Texts with a one-byte text", alt({lit("ab"), lit("_"), lit("\\\"")}), Rule::Texts},
      {"Bytes, one", make_element<CharElement>("\\"), Rule::Bytes},
      {"Bytes, a few", make_element<CharElement>("\"\n" + EURO), Rule::Bytes},
      {"Bytes, many", make_element<WordElement>("abAB_\"\\", std::nullopt), Rule::Bytes},
      {"LineStarts", line_start, Rule::LineStarts},
      {"LineBytes", seq({line_start, make_element<WordElement>("a" + E_ACUTE, std::nullopt)}), Rule::LineBytes},
      {"LineText", seq({line_start, lit("ab")}), Rule::LineText},
      {"TextStart", seq({make_element<StringStartElement>(), lit("ab")}), Rule::TextStart},
      {"QuotedString", make_element<QuotedStringElement>("\"", std::string_view("\\"), false, true), Rule::Bytes},
      {"QuotedString, non-ASCII", make_element<QuotedStringElement>(EURO, std::string_view(E_ACUTE), true, true),
       Rule::Text},
      {"Optional", make_element<OptionalElement>(lit("b ")), Rule::Every},
      {"SkipTo first", seq({make_element<SkipToElement>(lit(E_ACUTE)), lit(E_ACUTE + "\n")}), Rule::Every},
      {"Forward", nested, Rule::Texts},
  };
  for (const auto& c : cases) EXPECT_EQ(ScanStarts(*c.grammar).rule(), c.rule) << c.name;
  std::vector<PairFilter> filters(3);
  ASSERT_TRUE(filters[0].add("ab") && filters[0].add("a\"") && filters[0].add(E_ACUTE));
  ASSERT_TRUE(filters[1].add("\\\\") && filters[1].add("_") && filters[1].add("\n "));
  ASSERT_TRUE(filters[2].add(EURO) && filters[2].add("b" + E_ACUTE));
  for_each_guarded_text([&](std::string_view t, const std::string& s) {
    const std::size_t n = s.size();
    // Every start of the short texts; the first and the last few of the long ones.
    std::vector<Pos> froms;
    for (Pos from = 0; from <= n; ++from) {
      if (n <= 96 || from < 3 || n - from < 40) froms.push_back(from);
    }
    for (const PairFilter& filter : filters) {
      for (const Pos from : froms) {
        const Pos want = filter.next_candidate(s, from, Simd::SSE2);
        ASSERT_EQ(filter.next_candidate(t, from, Simd::SSE2), want) << "from " << from;
        if (CPU_RUNS_AVX2) {
          ASSERT_EQ(filter.next_candidate(t, from, Simd::AVX2), want) << "from " << from;
        }
      }
    }
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      ScanStarts guarded(*c.grammar);
      ScanStarts copied(*c.grammar);
      for (const Pos from : froms) {
        ASSERT_EQ(guarded.next_candidate(t, from), copied.next_candidate(s, from)) << "from " << from;
      }
      Spans fast, plain;
      {
        MatchSession session;
        engine::scan_grammar_matches(*c.grammar, t, [&fast](Pos a, Pos b) { fast.emplace_back(a, b); });
      }
      engine::scan_element_matches(*c.grammar, s, [&plain](Pos a, Pos b) { plain.emplace_back(a, b); });
      EXPECT_EQ(fast, plain);
    }
  });
  forward_set_inner(*nested, nullptr);
}

TEST(FastPathBounds, WordRules) {
  const std::pair<std::string, std::optional<std::string>> sets[] = {
      {"a", std::nullopt}, {"ab", std::nullopt}, {"a", "b"}, {"_A", "ab_"}, {"\"\\", " "},
      {E_ACUTE, std::nullopt}, {"a" + E_ACUTE, "b"}, {"b", E_ACUTE + "a"}, {EURO + "a", std::nullopt},
  };
  std::vector<std::pair<std::string, Ref<const WordElement>>> words;
  for (const auto& [init, body] : sets) {
    std::optional<std::string_view> b;
    if (body) b = *body;
    words.emplace_back("Word('" + init + "', '" + body.value_or("") + "')", make_element<WordElement>(init, b));
  }
  for_each_guarded_text([&](std::string_view t, const std::string& s) {
    for (const auto& [name, w] : words) {
      SCOPED_TRACE(name);
      const Spans want = scan_spans(*w, s);
      Spans got;
      if (fastpaths::word_uses_byte_rule(*w)) {
        const fastpaths::WordByteTables tables(*w);
        fastpaths::scan_words(tables, t, [&got](Pos a, Pos e) { got.emplace_back(a, e); });
        EXPECT_EQ(fastpaths::count_words_branchless(tables, t, 0, t.size()), want.size());
        for (const auto& [start, end] : want) {
          EXPECT_EQ(fastpaths::word_run_end(tables.BODY, t, start), end);
          EXPECT_EQ(fastpaths::word_run_end(w->body(), t, start), end);
        }
      } else {
        fastpaths::scan_element_words(*w, t, [&got](Pos a, Pos e) { got.emplace_back(a, e); });
      }
      EXPECT_EQ(got, want);
      if (s.size() <= 96) expect_same_matches_everywhere(*w, t, s);
    }
  });
}

TEST(FastPathBounds, RegexSearches) {
  std::vector<std::pair<std::string, Ref<const RegexElement>>> regexes;
  int automata = 0;
  // Class runs by memchr ("[^\n]*", "a+"), by 1 to 4 byte ranges and by the table (5 ranges and more), with and
  // without non-ASCII members; patterns refused at a byte; patterns only RE2 answers.
  // Automata: loops over 1 to 4 byte ranges (tested 16 bytes at a time) and over the table, non-ASCII
  // characters written literally (the character decides, after a lead byte some share), lazy counts.
  for (const char* pattern : {"a+", "[^\n]*", "[^a]+", "\\w+", "\\s*", ".*", "[ab_ \"\\\\]*", "[^ab]*", "[ab]+",
                              "b|" "\xC3\xA9", "\\C", "(?:ab)*", "\\bb", "a$", "\"[^\"]*\"", "[^a]", "", "a{2}b",
                              "\"(?:[^\"\\\\]|\\\\.)*\"", "(?:a|b)+_", "(?:[ab_]| )+\"?", "(?:ab|a)*?b",
                              "(?:\xC3\xA9|a)+b?", "(?:[^\\x00-\\x7F]|\")+\\\\|a", "(?:a|\xE2\x82\xAC\\s)+?\\n",
                              "[^\\n\"]*(?:\"|\\n)", "(?:\\w|\xC3\xA9)+(?: |\\n)*"}) {
    RegexBuild built = make_regex_element(pattern);
    ASSERT_TRUE(built.element) << built.error;
    automata += built.element->fast().automaton.has_value();
    regexes.emplace_back(pattern, std::move(built.element));
  }
  EXPECT_GE(automata, 9);
  for_each_guarded_text([&](std::string_view t, const std::string& s) {
    for (const auto& [pattern, re] : regexes) {
      SCOPED_TRACE("pattern /" + pattern + "/");
      Spans got, want;
      // The element's routes over the guarded view against RE2's over the copy.
      for_each_regex_match(*re, t, [&got](Pos a, Pos b) { got.emplace_back(a, b); });
      for_each_regex_match(re->unanchored(), s, [&want](Pos a, Pos b) { want.emplace_back(a, b); });
      EXPECT_EQ(got, want);
      EXPECT_EQ(count_regex_matches(*re, t), want.size());
      if (s.size() <= 96) {
        for (Pos pos = 0; pos <= s.size(); ++pos) {
          const MatchResult a = re->match_at(t, pos);
          const MatchResult b = re->re2_match_at(s, pos);
          EXPECT_EQ(a.matched, b.matched) << "at " << pos;
          if (a.matched && b.matched) {
            EXPECT_EQ(a.end, b.end) << "at " << pos;
          }
        }
      }
    }
  });
}

}  // namespace
}  // namespace quillex
