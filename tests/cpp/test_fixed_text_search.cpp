// The substring searcher and the occurrence counters of the Literal and Keyword methods, against plain scans
// over the element rules: random windows, adversarial texts that defeat the byte-pair filter, exhaustive
// periodic worlds, and texts that repeat only at their start.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "routes.h"
#include "elements/literals.h"
#include "fastpaths/keyword.h"
#include "fastpaths/literal.h"

namespace quillex {
namespace {

using fastpaths::count_keyword_matches;
using fastpaths::count_literal_matches;
using fastpaths::count_unit_literal_matches;

std::size_t naive_find(std::string_view text, std::string_view needle, std::size_t from, std::size_t to) {
  for (std::size_t h = from; h + needle.size() <= to; ++h) {
    if (text.compare(h, needle.size(), needle) == 0) return h;
  }
  return NOT_FOUND;
}

// The scan rule over an element's try_match_at, counted (zero-length matches included).
std::uint64_t scan_count(const Element& e, std::string_view text) {
  std::uint64_t count = 0;
  for (Pos pos = 0; pos < text.size();) {
    const MatchResult m = e.try_match_at(text, pos);
    count += m.matched;
    pos = m.matched && m.end > pos ? m.end : pos + 1;
  }
  return count;
}

std::string random_text(std::mt19937& rng, std::string_view alphabet, std::size_t n) {
  std::string s;
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  for (std::size_t i = 0; i < n; ++i) s += alphabet[pick(rng)];
  return s;
}

// A copy of `s` in a heap block of exactly its size, so that the sanitizer build reports any read past the
// text's last byte (a std::string may have spare capacity, or hold short texts inside itself).
class ExactText {
 public:
  explicit ExactText(std::string_view s) : bytes_(new char[s.size() + (s.empty() ? 1 : 0)]), size_(s.size()) {
    std::memcpy(bytes_.get(), s.data(), s.size());
  }
  std::string_view view() const noexcept { return {bytes_.get(), size_}; }

 private:
  std::unique_ptr<char[]> bytes_;
  std::size_t size_;
};

// Every text length up to 200 around the 16- and 32-start steps of the filter, with the needle absent, at the
// very end, or at the start: the search must stop exactly at the window's end.
TEST(SubstringFinder, StopsAtTheEndOfEveryWindowLength) {
  for (const std::string needle : {"zq", "q", "zqx", "abcdefghijklmnopqrstu"}) {
    SubstringFinder finder(needle);
    for (std::size_t length = 0; length <= 200; ++length) {
      const std::string filler(length, 'a');
      const std::string texts[] = {filler, filler + needle, needle + filler};
      for (const std::string& t : texts) {
        const ExactText exact(t);
        for (std::size_t from : {std::size_t{0}, std::size_t{1}, std::size_t{17}}) {
          if (from > t.size()) continue;
          SCOPED_TRACE("needle '" + needle + "' text of " + std::to_string(t.size()) + " from " + std::to_string(from));
          EXPECT_EQ(finder.find(exact.view(), from, t.size()), naive_find(t, needle, from, t.size()));
        }
      }
    }
  }
}

TEST(SubstringFinder, FindsTheLeftmostOccurrenceInEveryWindow) {
  std::mt19937 rng(7);
  for (std::string_view alphabet : {std::string_view("ab"), std::string_view("abc"), std::string_view("a b\xc3\xa9")}) {
    for (int round = 0; round < 1000; ++round) {
      const std::size_t max_length = round % 2 == 0 ? 40 : 300;
      const std::string text =
          random_text(rng, alphabet, std::uniform_int_distribution<std::size_t>(0, max_length)(rng));
      const std::string needle = random_text(rng, alphabet, std::uniform_int_distribution<std::size_t>(1, 6)(rng));
      SubstringFinder finder(needle);
      for (int w = 0; w < 8; ++w) {
        std::size_t from = std::uniform_int_distribution<std::size_t>(0, text.size())(rng);
        std::size_t to = std::uniform_int_distribution<std::size_t>(0, text.size())(rng);
        if (from > to) std::swap(from, to);
        SCOPED_TRACE("text '" + text + "' needle '" + needle + "' [" + std::to_string(from) + ", " +
                     std::to_string(to) + ")");
        const ExactText exact(text.substr(0, to));
        EXPECT_EQ(finder.find(exact.view(), from, to), naive_find(text, needle, from, to));
      }
    }
  }
}

// Texts built so that the filter's two bytes stand almost everywhere: the finder must still answer exactly,
// before and after it gives up the filter.
TEST(SubstringFinder, AdversarialTextsGiveExactAnswers) {
  struct Case {
    std::string needle;
    std::string text;
    bool filter_given_up;
  };
  const std::string run(20000, 'a');
  std::string bc;
  for (int i = 0; i < 10000; ++i) bc += "bc";
  const std::vector<Case> cases = {
      {"aaaaaaab", run, false},
      {"aaaaaaab", run + "aaaaaaab", false},
      {"aaaaaaab", run + "b" + run + "aaaaaaab" + run, false},
      {std::string(300, 'a') + "b", run + std::string(300, 'a') + "b", false},
      {"ab", std::string(5000, 'a') + "b", false},
      // The filter's bytes are 'b' at 0 and 'c' at 9: every even start of "bcbc..." is a false candidate.
      {"baaaaaaaac", bc + "baaaaaaaac" + bc + "baaaaaaaac", true},
      {"bc" + std::string(400, 'a') + "c", bc + "bc" + std::string(400, 'a') + "c" + bc, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("needle '" + c.needle.substr(0, 12) + "...' text of " + std::to_string(c.text.size()));
    SubstringFinder finder(c.needle);
    std::size_t pos = 0;
    std::vector<std::size_t> got, want;
    for (std::size_t h; (h = finder.find(c.text, pos, c.text.size())) != NOT_FOUND; pos = h + c.needle.size()) {
      got.push_back(h);
    }
    pos = 0;
    for (std::size_t h; (h = naive_find(c.text, c.needle, pos, c.text.size())) != NOT_FOUND;
         pos = h + c.needle.size()) {
      want.push_back(h);
    }
    EXPECT_EQ(got, want);
    EXPECT_EQ(finder.filter_given_up(), c.filter_given_up);
  }
}

// Every block of 1 to 5 bytes over a two-letter alphabet and 'é', repeated whole or with a partial last
// period, with every literal of up to 4 characters: the periodic count equals the plain scan.
TEST(CountLiteralMatches, PeriodicWorldsAgreeWithTheScan) {
  const std::vector<std::string> all = testing::small_world_texts({"a", "b", "\xc3\xa9"}, 4);
  std::vector<std::string> literals;
  std::vector<std::string> blocks;
  for (const std::string& w : all) {
    literals.push_back(w);
    if (!w.empty() && w.size() <= 5) blocks.push_back(w);
  }
  for (const std::string& lit : literals) {
    auto element = make_literal_element(lit);
    for (const std::string& block : blocks) {
      for (std::size_t length = 0; length <= 6 * block.size() + 3; ++length) {
        std::string text;
        while (text.size() < length) text += block;
        text.resize(length);
        SCOPED_TRACE("literal '" + lit + "' text '" + text + "'");
        EXPECT_EQ(count_literal_matches(lit, text), scan_count(*element, text));
      }
    }
  }
}

// Long texts: whole repetitions of blocks near and beyond the 1024-byte period window, with and without a
// partial last period, and texts that repeat only at their start.
TEST(CountLiteralMatches, LongPeriodsAndBrokenPeriodsAgreeWithTheScan) {
  std::mt19937 rng(11);
  struct Text {
    std::string name;
    std::string text;
  };
  std::vector<Text> texts;
  for (std::size_t p : {1, 2, 3, 7, 64, 1023, 1024, 1025, 1500}) {
    const std::string block = random_text(rng, "abc", p);
    for (std::size_t extra : {std::size_t{0}, std::size_t{1}, p / 2, p - 1}) {
      std::string t;
      for (int i = 0; i < 5; ++i) t += block;
      t += block.substr(0, extra);
      texts.push_back({"period " + std::to_string(p) + " + " + std::to_string(extra), t});
      std::string broken = t;
      broken[broken.size() - 1 - extra / 2] ^= 1;  // breaks the period near the end
      texts.push_back({"broken period " + std::to_string(p) + " + " + std::to_string(extra), broken});
      texts.push_back({"periodic start " + std::to_string(p), block + block + random_text(rng, "abc", 3 * p)});
    }
  }
  for (const Text& t : texts) {
    for (int k = 0; k < 12; ++k) {
      const std::size_t len = std::uniform_int_distribution<std::size_t>(1, 5)(rng);
      const std::size_t at = std::uniform_int_distribution<std::size_t>(0, t.text.size() - len)(rng);
      const std::string lit = k < 6 ? t.text.substr(at, len) : random_text(rng, "abc", len);
      auto element = make_literal_element(lit);
      SCOPED_TRACE(t.name + ", literal '" + lit + "'");
      EXPECT_EQ(count_literal_matches(lit, t.text), scan_count(*element, t.text));
    }
  }
}

TEST(CountKeywordMatches, AgreesWithTheScanOverSmallWorlds) {
  const std::vector<std::string> texts = testing::small_world_texts({"a", "b", " ", "\xc3\xa9"}, 6);
  for (const std::string kw : {"", "a", "ab", "aa", "a b", "\xc3\xa9", "a\xc3\xa9", " "}) {
    auto element = make_element<KeywordElement>(kw);
    for (const std::string& text : texts) {
      SCOPED_TRACE("keyword '" + kw + "' text '" + text + "'");
      EXPECT_EQ(count_keyword_matches(*element, text), scan_count(*element, text));
    }
  }
}

// Every occurrence, overlapping ones included, against the occurrences std::string::find gives one byte apart.
TEST(KeywordScan, OccurrencesAreEveryStartOfTheWord) {
  const std::vector<std::string> texts = testing::small_world_texts({"a", "b", "c"}, 7);
  for (const std::string word : {"a", "ab", "aa", "aba", "abab", "aab", "abcab", "aaaa"}) {
    for (const std::string& text : texts) {
      for (const std::size_t from : {std::size_t{0}, std::size_t{2}}) {
        std::vector<std::size_t> want;
        for (std::size_t h = text.find(word, from); h != std::string::npos; h = text.find(word, h + 1)) {
          want.push_back(h);
        }
        std::vector<std::size_t> got;
        EXPECT_TRUE(
            fastpaths::for_each_keyword_occurrence(word, text, from, [&got](std::size_t h) { got.push_back(h); }));
        EXPECT_EQ(got, want) << "word '" << word << "' text '" << text << "' from " << from;
      }
    }
  }
}

// Past a run that makes the candidate filter give up, every start of 'a' * 300 is an occurrence that the
// boundary refuses: counted against the scan rule, and a pass at the end.
TEST(CountKeywordMatches, OccurrencesRefusedEverywhereAfterTheFilterGaveUp) {
  std::string text;
  for (int i = 0; i < 400; ++i) text += std::string(20, 'a') + " ";
  text += std::string(20000, 'a');
  auto keyword = make_element<KeywordElement>(std::string(300, 'a'));
  EXPECT_EQ(count_keyword_matches(*keyword, text), 1u);
  EXPECT_EQ(count_keyword_matches(*keyword, text + " "), scan_count(*keyword, text + " "));
  EXPECT_EQ(count_keyword_matches(*keyword, text + " " + std::string(300, 'a')), 2u);
}

TEST(KeywordScan, IdentifierLanesAreTheIdentifierTable) {
  for (int b = 0; b < 256; ++b) {
    const __m128i lanes = fastpaths::ident_lanes(_mm_set1_epi8(static_cast<char>(b)));
    EXPECT_EQ(_mm_movemask_epi8(lanes) != 0, IDENT_CHARS[static_cast<std::size_t>(b)] != 0) << "byte " << b;
  }
}

// Occurrences among code units of 2 or 4 bytes, searched as bytes: only whole-unit starts count, and the
// period shortcut applies only to periods of whole units. Each case against a plain count of unit sequences.
template <class Unit>
std::uint64_t plain_unit_count(const std::basic_string<Unit>& needle, const std::basic_string<Unit>& text) {
  std::uint64_t count = 0;
  for (std::size_t pos = text.find(needle); pos != std::basic_string<Unit>::npos;
       pos = text.find(needle, pos + needle.size())) {
    ++count;
  }
  return count;
}

template <class Unit>
std::string_view unit_bytes(const std::basic_string<Unit>& s) {
  return {reinterpret_cast<const char*>(s.data()), s.size() * sizeof(Unit)};
}

TEST(CountLiteralMatches, OverUnitsCountsOnlyWholeUnitStarts) {
  struct Case16 {
    std::u16string needle, text;
    std::uint64_t count;
  };
  const std::vector<Case16> cases16 = {
      {u"\u0161", u"\u6100\u0101\u6100\u0101\u0161", 1},  // bytes 00 61 01 01: 61 01 at the odd offset 1
      {u"\u6100", u"b" u"a" u"b" u"a" u"\u6100", 1},    // 62 00 61 00: 00 61 at offset 1
      {u"\u6161", std::u16string(40, u'\u6161'), 40},     // byte period 1, not a whole unit
      {u"\u6161\u6161", std::u16string(41, u'\u6161'), 20},
      {u"ab", u"\u0109ab\u0109ab\u0109ab\u0109ab\u0109a", 4},
  };
  for (const Case16& c : cases16) {
    EXPECT_EQ(plain_unit_count(c.needle, c.text), c.count);
    EXPECT_EQ(count_unit_literal_matches<2>(unit_bytes(c.needle), unit_bytes(c.text)), c.count);
  }
  std::u16string periodic;
  for (int i = 0; i < 700; ++i) periodic += u"\u0109abcab";
  periodic += u"\u0109ab";
  for (const std::u16string needle : {u"ab", u"ca", u"b\u0109", u"abcab\u0109a"}) {
    EXPECT_EQ(count_unit_literal_matches<2>(unit_bytes(needle), unit_bytes(periodic)),
              plain_unit_count(needle, periodic));
  }
  const std::u32string text32 = U"\U0001F600\u6100\u0100\u6100\u0100a";  // 00 61 00 00 00 01 00 00: 'a' at offset 5
  EXPECT_EQ(count_unit_literal_matches<4>(unit_bytes(std::u32string(U"a")), unit_bytes(text32)), 1u);
  std::u32string periodic32;
  for (int i = 0; i < 500; ++i) periodic32 += U"\U0001F600ab";
  EXPECT_EQ(count_unit_literal_matches<4>(unit_bytes(std::u32string(U"b\U0001F600")), unit_bytes(periodic32)), 499u);
}

// Byte occurrences that straddle units at every other byte: the needle 'a' * 64 as UCS-2 (61 00 61 00 ...)
// stands at every odd offset of U+6100 repeated (00 61 00 61 ...) and at no whole unit; as UCS-4 ('a' is
// 61 00 00 00, U+6100 00 61 00 00) at every offset 1 mod 4. Comparing the needle at each would cost the text's
// length times the needle's: the search gives up, for its caller to count the UTF-8 form. A few of them do not
// make it give up.
TEST(CountLiteralMatches, OverUnitsGivesUpWhereStraddlingOccurrencesStandEverywhere) {
  const std::u16string needle(64, u'a');
  const std::u16string everywhere = std::u16string(20000, u'\u6100') + needle;
  EXPECT_EQ(count_unit_literal_matches<2>(unit_bytes(needle), unit_bytes(everywhere)), std::nullopt);
  const std::u32string needle32(64, U'a');
  const std::u32string everywhere32 = std::u32string(20000, U'\u6100') + needle32;
  EXPECT_EQ(count_unit_literal_matches<4>(unit_bytes(needle32), unit_bytes(everywhere32)), std::nullopt);
  const std::u16string few = std::u16string(200, u'\u6100') + needle + std::u16string(200, u'\u6100') + needle;
  EXPECT_EQ(count_unit_literal_matches<2>(unit_bytes(needle), unit_bytes(few)), 2u);
}

TEST(FixedTextCounters, AllocateNothing) {
  const std::string text = std::string(3000, 'x') + "abcabc" + std::string(3000, 'y');
  auto keyword = make_element<KeywordElement>("abc");
  testing::AllocationScope scope;
  EXPECT_EQ(count_literal_matches("abc", text), 2u);
  EXPECT_EQ(count_keyword_matches(*keyword, text), 0u);
  EXPECT_EQ(scope.count(), 0u);
}

}  // namespace
}  // namespace quillex
