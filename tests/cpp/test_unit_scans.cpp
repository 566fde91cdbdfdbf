// The scans over a str's own units (1, 2 or 4 bytes a code point) against the byte rules over the same text's
// UTF-8 form: the same matches, a code-point position on the one side being the byte offset of that code point
// on the other. Texts of code points of every width are drawn at random, with lengths around the vector steps
// and the 4096-unit blocks, and placed against an inaccessible page so that a load outside them faults.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "elements/chars.h"
#include "elements/literals.h"
#include "engine/scan.h"
#include "fastpaths/keyword.h"
#include "fastpaths/quoted_caseless.h"
#include "fastpaths/word_rule.h"
#include "guarded_region.h"
#include "py/code_units.h"

namespace quillex {
namespace {

using testing::GuardedRegion;
using Spans = std::vector<std::pair<Pos, Pos>>;
using CodePoints = std::vector<std::uint32_t>;

constexpr Simd WIDTHS[] = {Simd::SSE2, Simd::AVX2};

std::string utf8(const CodePoints& text) {
  std::string out;
  for (const std::uint32_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

template <class U>
std::string units_of(const CodePoints& text) {
  std::string out;
  for (const std::uint32_t c : text) {
    const U u = static_cast<U>(c);
    out.append(reinterpret_cast<const char*>(&u), sizeof(U));
  }
  return out;
}

// Spans in code points as byte offsets of the text's UTF-8 form.
Spans in_utf8(const CodePoints& text, const Spans& spans) {
  std::vector<Pos> offset{0};
  for (const std::uint32_t c : text) offset.push_back(offset.back() + utf8(CodePoints{c}).size());
  Spans out;
  for (const auto& [a, b] : spans) out.emplace_back(offset[a], offset[b]);
  return out;
}

Spans scan_spans(const Element& e, std::string_view text) {
  Spans out;
  engine::scan_element_matches(e, text, [&out](Pos a, Pos b) { out.emplace_back(a, b); });
  return out;
}

// `length` code points drawn from `alphabet` (weighted by repetition), the widest of the kind `Unit` only.
template <std::size_t Unit>
CodePoints random_code_points(const CodePoints& alphabet, std::size_t length, std::mt19937& rng) {
  const std::uint32_t limit = Unit == 1 ? 0xFF : Unit == 2 ? 0xFFFF : 0x10FFFF;
  CodePoints fitting;
  for (const std::uint32_t c : alphabet) {
    if (c <= limit) fitting.push_back(c);
  }
  std::uniform_int_distribution<std::size_t> pick(0, fitting.size() - 1);
  CodePoints out;
  for (std::size_t i = 0; i < length; ++i) out.push_back(fitting[pick(rng)]);
  return out;
}

const std::size_t LENGTHS[] = {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100, 4095, 4096, 4097, 9000};

// Runs check(units of the text, placed against a guard page; the code points) for texts of each unit size.
template <std::size_t Unit, class Check>
void for_each_unit_text(const CodePoints& alphabet, int per_length, Check&& check) {
  GuardedRegion region(12);
  ASSERT_TRUE(region.ok());
  std::mt19937 rng(3 + Unit);
  for (const std::size_t length : LENGTHS) {
    for (int i = 0; i < per_length; ++i) {
      const CodePoints text = random_code_points<Unit>(alphabet, length, rng);
      for (const bool at_end : {true, false}) {
        const std::string units = units_of<py::unit_t<Unit>>(text);
        SCOPED_TRACE(std::to_string(length) + " units of " + std::to_string(Unit) + " bytes, " +
                     (at_end ? "at the end" : "at the start") + ", '" + utf8(text).substr(0, 48) + "'");
        check(region.place(units, at_end), text);
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------------------------

TEST(UnitScans, Utf8AsUnits) {
  std::vector<std::uint32_t> storage;
  std::string_view out;
  ASSERT_TRUE(py::utf8_as_units("caf\xC3\xA9", 1, storage, out));
  EXPECT_EQ(out, std::string_view("caf\xE9", 4));
  ASSERT_TRUE(py::utf8_as_units("a\xE2\x82\xAC", 2, storage, out));
  EXPECT_EQ(out, units_of<std::uint16_t>({'a', 0x20AC}));
  ASSERT_TRUE(py::utf8_as_units("\xF0\x9F\x98\x80z", 4, storage, out));
  EXPECT_EQ(out, units_of<std::uint32_t>({0x1F600, 'z'}));
  ASSERT_TRUE(py::utf8_as_units("", 2, storage, out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(py::utf8_as_units("a\xE2\x82\xAC", 1, storage, out));  // U+20AC is no latin-1 unit
  EXPECT_FALSE(py::utf8_as_units("\xF0\x9F\x98\x80", 2, storage, out));
}

template <std::size_t Unit>
void check_find_and_count() {
  using U = py::unit_t<Unit>;
  for_each_unit_text<Unit>({'a', 'E', 'e', '\n', 0xC5, 0xE5, 0x165, 0x6100, 0x1F600}, 3,
                           [](std::string_view bytes, const CodePoints& text) {
                             const auto* t = reinterpret_cast<const U*>(bytes.data());
                             const std::size_t n = text.size();
                             for (const auto& [value, bits] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                                      {'e', 0x20}, {'e', 0}, {'\n', 0}, {0xE5, 0x20}, {0x6100, 0}, {0x1F600, 0}}) {
                               std::uint64_t count = 0;
                               for (const std::uint32_t c : text) count += c == value;
                               if (bits == 0) {
                                 EXPECT_EQ(py::count_unit(t, n, value), count) << value;
                               }
                               for (std::size_t from : {std::size_t{0}, std::min<std::size_t>(1, n), n / 2, n}) {
                                 std::size_t want = from;
                                 while (want < n && (text[want] | bits) != value) ++want;
                                 EXPECT_EQ(py::find_unit(t, n, from, value, bits), want) << value << " from " << from;
                               }
                             }
                           });
}

TEST(UnitScans, FindAndCountUnits) {
  check_find_and_count<1>();
  check_find_and_count<2>();
  check_find_and_count<4>();
}

// ---------------------------------------------------------------------------------------------------------------
// The element rules over units against the same elements' scans over UTF-8.

const CodePoints ALPHABET = {'a', 'a', 'a', 'b', 'A', 'B', 'i', 'f', 'I', '_', ' ', '\n', '"', '\\',
                             0xE9, 0xC9, 0xFF, 0x109, 0x161, 0x6100, 0x20AC, 0x1F600};

template <std::size_t Unit>
void check_keywords() {
  const std::vector<std::string> words = {"a", "aa", "if", "_1", "aaaa", "a\xC3\xA9", "\xC5\xA1", "\xE2\x82\xAC",
                                          "\xF0\x9F\x98\x80" "a", std::string(40, 'a')};
  for_each_unit_text<Unit>(ALPHABET, 3, [&](std::string_view bytes, const CodePoints& text) {
    const std::string text_utf8 = utf8(text);
    for (const std::string& word : words) {
      SCOPED_TRACE("keyword '" + word + "'");
      std::vector<std::uint32_t> storage;
      std::string_view units;
      if (!py::utf8_as_units(word, Unit, storage, units)) continue;
      const Ref<const KeywordElement> keyword = make_element<KeywordElement>(word);
      Spans got;
      const bool complete = fastpaths::for_each_unit_keyword_match<Unit>(
          units, bytes, [&got](std::size_t a, std::size_t b) { got.emplace_back(a, b); });
      if (!complete) continue;  // straddling occurrences: the UTF-8 form answers
      const Spans want = scan_spans(*keyword, text_utf8);
      EXPECT_EQ(in_utf8(text, got), want);
      if constexpr (Unit > 1) {
        const auto ident = [](char c) { return IDENT_CHARS[static_cast<unsigned char>(c)] != 0; };
        if (CPU_RUNS_AVX2 && word.size() <= 2 && ident(word[0]) && ident(word.back())) {
          using U = py::unit_t<Unit>;
          const fastpaths::UnitKeywordCount c = fastpaths::count_short_unit_keyword_avx2(
              reinterpret_cast<const U*>(units.data()), units.size() / Unit, reinterpret_cast<const U*>(bytes.data()),
              text.size());
          EXPECT_EQ(c.count, want.size());
          EXPECT_FALSE(c.surrogate);
        }
      }
    }
  });
}

TEST(UnitScans, KeywordMatchesAreTheByteScans) {
  check_keywords<1>();
  check_keywords<2>();
  check_keywords<4>();
}

// The one-pass count of a short keyword over 2- and 4-byte units finds a surrogate wherever it stands, around
// the 32-byte steps and in the units after the last step.
template <std::size_t Unit>
void check_surrogates_seen_by_the_keyword_count() {
  using U = py::unit_t<Unit>;
  GuardedRegion region(2);
  ASSERT_TRUE(region.ok());
  const U word[2] = {'i', 'f'};
  for (std::size_t length : {1, 2, 15, 16, 17, 18, 33, 34, 100}) {
    for (std::size_t at = 0; at <= length; ++at) {
      CodePoints text;
      for (std::size_t i = 0; i < length; ++i) {
        text.push_back(i == at ? 0xD800 + static_cast<std::uint32_t>(i) : "if "[i % 3]);
      }
      for (const bool at_end : {true, false}) {
        const std::string_view bytes = region.place(units_of<U>(text), at_end);
        const fastpaths::UnitKeywordCount c =
            fastpaths::count_short_unit_keyword_avx2(word, 2, reinterpret_cast<const U*>(bytes.data()), length);
        EXPECT_EQ(c.surrogate, at < length) << length << " units, surrogate at " << at;
      }
    }
  }
}

TEST(UnitScans, KeywordCountSeesSurrogates) {
  if (!CPU_RUNS_AVX2) GTEST_SKIP() << "this processor has no AVX2";
  check_surrogates_seen_by_the_keyword_count<2>();
  check_surrogates_seen_by_the_keyword_count<4>();
}

// The keyword 'a' * 40 over a run of 'a': every candidate but the last is refused by the 'a' after it, which
// hands the scan over to the one-pass matching; and a run whose straddling occurrences make the finder give up.
TEST(UnitScans, KeywordScanOverRefusedCandidates) {
  const std::string word(40, 'a');
  std::vector<std::uint32_t> storage;
  std::string_view units;
  ASSERT_TRUE(py::utf8_as_units(word, 2, storage, units));
  CodePoints text(30000, 'a');
  text.push_back(0x109);
  text.insert(text.end(), 40, 'a');
  const std::string bytes = units_of<std::uint16_t>(text);
  Spans got;
  const auto record = [&got](std::size_t a, std::size_t b) { got.emplace_back(a, b); };
  ASSERT_TRUE(fastpaths::for_each_unit_keyword_match<2>(units, bytes, record));
  EXPECT_EQ(got, (Spans{{29960, 30000}, {30001, 30041}}));

  const CodePoints straddled(40000, 0x6100);  // its bytes 00 61 00 61 ... hold 'a' * 40 at every odd offset
  EXPECT_FALSE(fastpaths::for_each_unit_keyword_match<2>(units, units_of<std::uint16_t>(straddled),
                                                         [](std::size_t, std::size_t) {}));
}

template <std::size_t Unit>
void check_caseless_and_quoted() {
  using U = py::unit_t<Unit>;
  const std::vector<std::pair<std::string, bool>> caseless = {
      {"a", false}, {"ab", false}, {"if", true}, {"a\xC3\xA9", false}, {"\xC3\xA9", true}, {"\xE2\x82\xAC" "b", false}};
  // (quote, escape, multiline, and the quote and escape as code points)
  using QuoteCase =
      std::tuple<std::string, std::optional<std::string>, bool, std::uint32_t, std::optional<std::uint32_t>>;
  std::vector<std::pair<Ref<const QuotedStringElement>, fastpaths::UnitQuotes>> quoted;
  for (const auto& [quote, escape, multiline, quote_cp, escape_cp] : std::vector<QuoteCase>{
           {"\"", std::nullopt, false, '"', std::nullopt},
           {"\"", "\\", false, '"', '\\'},
           {"\"", "\"", true, '"', '"'},
           {"\xC3\xA9", "\xF0\x9F\x98\x80", false, 0xE9, 0x1F600},
           {"\xC5\xA1", "\\", true, 0x161, '\\'}}) {
    std::optional<std::string_view> esc;
    if (escape) esc = *escape;
    quoted.emplace_back(make_element<QuotedStringElement>(quote, esc, multiline, false),
                        fastpaths::UnitQuotes{quote_cp, escape_cp, multiline});
  }
  for_each_unit_text<Unit>(ALPHABET, 3, [&](std::string_view bytes, const CodePoints& text) {
    const std::string text_utf8 = utf8(text);
    const auto* t = reinterpret_cast<const U*>(bytes.data());
    for (const auto& [lower, keyword] : caseless) {
      SCOPED_TRACE("caseless '" + lower + "'" + (keyword ? " keyword" : ""));
      std::vector<std::uint32_t> storage;
      std::string_view units;
      if (!py::utf8_as_units(lower, Unit, storage, units)) continue;
      Spans got;
      fastpaths::for_each_unit_caseless_match(reinterpret_cast<const U*>(units.data()), units.size() / Unit, keyword,
                                              t, text.size(),
                                              [&got](std::size_t a, std::size_t b) { got.emplace_back(a, b); });
      const Ref<const Element> e = keyword ? Ref<const Element>(make_element<CaselessKeywordElement>(lower))
                                           : Ref<const Element>(make_element<CaselessLiteralElement>(lower));
      EXPECT_EQ(in_utf8(text, got), scan_spans(*e, text_utf8));
    }
    for (const auto& [element, quotes] : quoted) {
      SCOPED_TRACE("quoted string of U+" + std::to_string(quotes.quote));
      Spans got;
      fastpaths::for_each_unit_quoted_string(quotes, t, text.size(),
                                             [&got](std::size_t a, std::size_t b) { got.emplace_back(a, b); });
      EXPECT_EQ(in_utf8(text, got), scan_spans(*element, text_utf8));
    }
  });
}

TEST(UnitScans, CaselessAndQuotedMatchesAreTheByteRules) {
  check_caseless_and_quoted<1>();
  check_caseless_and_quoted<2>();
  check_caseless_and_quoted<4>();
}

// The word rule over units (scan and count, at both vector widths) against WordElement over UTF-8, for sets of
// ASCII members and of members up to U+00FF.
template <std::size_t Unit>
void check_words() {
  using U = py::unit_t<Unit>;
  const std::vector<std::pair<std::string, std::optional<std::string>>> sets = {
      {"a", std::nullopt}, {"ab", "b_"}, {"a\xC3\xA9", "b\xC3\xBF"}, {"\xC3\x89", std::nullopt}};
  for_each_unit_text<Unit>(ALPHABET, 2, [&](std::string_view bytes, const CodePoints& text) {
    const std::string text_utf8 = utf8(text);
    const auto* t = reinterpret_cast<const U*>(bytes.data());
    for (const auto& [init, body] : sets) {
      SCOPED_TRACE("Word('" + init + "', '" + body.value_or("") + "')");
      std::optional<std::string_view> b;
      if (body) b = *body;
      const Ref<const WordElement> w = make_element<WordElement>(init, b);
      const fastpaths::WordByteTables tables(*w);
      const Spans want = scan_spans(*w, text_utf8);
      Spans got;
      fastpaths::scan_word_units(tables, t, text.size(),
                                 [&got](std::size_t a, std::size_t e) { got.emplace_back(a, e); });
      EXPECT_EQ(in_utf8(text, got), want);
      std::uint64_t covered = 0;
      for (const auto& [a, e] : got) covered += e - a;
      if constexpr (Unit > 1) {
        for (const Simd simd : WIDTHS) {
          if (simd == Simd::AVX2 && !CPU_RUNS_AVX2) continue;
          const fastpaths::WordCoverage c = fastpaths::cover_word_units(tables, t, text.size(), '~', simd);
          EXPECT_EQ(c.words, want.size());
          EXPECT_EQ(c.bytes, covered);
        }
      }
    }
  });
}

TEST(UnitScans, WordMatchesAreTheElementRule) {
  check_words<1>();
  check_words<2>();
  check_words<4>();
}

}  // namespace
}  // namespace quillex
