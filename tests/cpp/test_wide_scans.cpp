// The 32-byte (AVX2) scans against the 16-byte (SSE2) ones and the plain rule, over the same texts: every
// result of both widths must be the plain rule's. The texts sit against an inaccessible page at either end,
// with lengths around the 16-, 32- and 64-byte blocks, so a load outside a text faults. Skipped on a
// processor without AVX2.
#include <gtest/gtest.h>

#include <bitset>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "elements/chars.h"
#include "elements/literals.h"
#include "elements/regex.h"
#include "elements/regex_run.h"
#include "elements/simd.h"
#include "engine/scan.h"
#include "fastpaths/keyword.h"
#include "fastpaths/literal.h"
#include "elements/regex_find.h"
#include "elements/substring_search.h"
#include "fastpaths/word_rule.h"
#include "guarded_region.h"
#include "py/code_units.h"

namespace quillex {
namespace {

using testing::GuardedRegion;
using Spans = std::vector<std::pair<Pos, Pos>>;

constexpr Simd WIDTHS[] = {Simd::SSE2, Simd::AVX2};

const char* name_of(Simd simd) { return simd == Simd::AVX2 ? "AVX2" : "SSE2"; }

#define SKIP_WITHOUT_AVX2() \
  if (!CPU_RUNS_AVX2) GTEST_SKIP() << "this processor has no AVX2"

// The lengths tried: every one to 140 (the blocks of 16, 32 and 64 bytes and their neighbours, twice over),
// then the edges of later blocks, the word counter's threshold and a page.
std::vector<std::size_t> lengths() {
  std::vector<std::size_t> out;
  for (std::size_t n = 0; n <= 140; ++n) out.push_back(n);
  for (std::size_t n :
       {191, 192, 193, 255, 256, 257, 319, 320, 321, 511, 512, 513, 575, 576, 577, 1023, 1024, 1025, 4095, 4096}) {
    out.push_back(n);
  }
  return out;
}

// `length` bytes: whole pieces drawn from `pieces` (weighted by repetition), then 'a' for what a piece no
// longer fills.
std::string random_text(const std::vector<std::string>& pieces, std::size_t length, std::mt19937& rng) {
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::string s;
  while (s.size() < length) {
    const std::string& p = pieces[pick(rng)];
    if (s.size() + p.size() > length) break;
    s += p;
  }
  s.append(length - s.size(), 'a');
  return s;
}

// Each text of each length over `pieces`, plus a run of 'a' broken by one 'b' near its end (dense, overlapping
// candidates for the needles of 'a'), in both placements, as (guarded view, ordinary copy).
void for_each_guarded_text(const std::vector<std::string>& pieces, int per_length,
                           const std::function<void(std::string_view, const std::string&)>& check) {
  GuardedRegion region(2);
  ASSERT_TRUE(region.ok());
  std::mt19937 rng(11);
  for (std::size_t length : lengths()) {
    std::vector<std::string> texts;
    for (int i = 0; i < per_length; ++i) texts.push_back(random_text(pieces, length, rng));
    std::string run(length, 'a');
    if (length > 3) run[length - 3] = 'b';
    texts.push_back(run);
    for (const std::string& text : texts) {
      for (bool at_end : {true, false}) {
        const std::string_view guarded = region.place(text, at_end);
        SCOPED_TRACE(std::string(at_end ? "at the end" : "at the start") + ", text of " + std::to_string(length) +
                     " bytes '" + text.substr(0, 48) + "'");
        check(guarded, text);
      }
    }
  }
}

Spans scan_spans(const Element& e, std::string_view text) {
  Spans out;
  engine::scan_element_matches(e, text, [&out](Pos a, Pos b) { out.emplace_back(a, b); });
  return out;
}

// ---------------------------------------------------------------------------------------------------------------

// Needles of every length from 1 to 40: 'a' repeated with a 'b' last (each start of a run of 'a' is a
// candidate of the filter, and occurrences overlap the candidates after them), and a random one over the
// text's bytes.
std::vector<std::string> needles() {
  std::mt19937 rng(5);
  std::vector<std::string> out;
  for (std::size_t n = 1; n <= 40; ++n) {
    out.push_back(std::string(n - 1, 'a') + "b");
    out.push_back(random_text({"a", "b", "ab", "\xC3\xA9"}, n, rng));
  }
  return out;
}

TEST(WideScans, SubstringSearchAndByteCount) {
  SKIP_WITHOUT_AVX2();
  const std::vector<std::string> all = needles();
  for_each_guarded_text(
      {"a", "a", "b", "ab", "aab", " ", "\xC3\xA9"}, 2, [&](std::string_view t, const std::string& s) {
        const std::size_t n = s.size();
        for (char c : {'a', 'b', '\xC3'}) {
          const auto want = static_cast<std::uint64_t>(std::count(s.begin(), s.end(), c));
          for (Simd simd : WIDTHS) EXPECT_EQ(count_byte(t.data(), n, c, simd), want) << name_of(simd);
        }
        for (const std::string& needle : all) {
          if (needle.size() > n + 1) continue;
          SCOPED_TRACE("needle '" + needle + "'");
          // Searches that start and stop around the blocks' edges, from a finder kept across them.
          const std::size_t size = needle.size();
          if (size <= 3 || size == 16 || size == 17 || size == 33 || size == 40) {
            for (Simd simd : WIDTHS) {
              SubstringFinder finder(needle, 1, simd);
              for (std::size_t from : {0, 1, 15, 16, 17, 31, 32, 33, 63, 64, 65}) {
                for (std::size_t to : {n, n - std::min<std::size_t>(n, 1), n - std::min<std::size_t>(n, 33)}) {
                  if (from > to) continue;
                  const std::size_t at = std::string_view(s).substr(0, to).find(needle, from);
                  EXPECT_EQ(finder.find(t, from, to), at == std::string::npos ? NOT_FOUND : at)
                      << name_of(simd) << " [" << from << ", " << to << ")";
                }
              }
            }
          }
          std::vector<std::size_t> want;
          for (std::size_t h = s.find(needle); h != std::string::npos; h = s.find(needle, h + size)) want.push_back(h);
          for (Simd simd : WIDTHS) {
            SubstringFinder finder(needle, 1, simd);
            std::vector<std::size_t> got;
            (void)fastpaths::find_literal_occurrences(finder, t, 0, n, [&got](std::size_t h) { got.push_back(h); });
            EXPECT_EQ(got, want) << name_of(simd);
          }
        }
      });
}

// A text that makes the byte-pair filter give up (every other start is a candidate that fails): both widths
// hand the search to memmem and find the occurrences placed before, at and after the point where they do.
TEST(WideScans, SubstringFilterGivesUp) {
  SKIP_WITHOUT_AVX2();
  GuardedRegion region(4);
  ASSERT_TRUE(region.ok());
  std::string bc;
  while (bc.size() < 12000) bc += "bc";
  const std::string needle = "baaaaaaaac";  // filter bytes 'b' at 0 and 'c' at 9
  std::string planted = bc;
  for (std::size_t at : {100, 1001, 6000, 11000}) planted.replace(at, needle.size(), needle);
  for (const std::string& text : {bc, planted, bc.substr(0, 11990) + needle}) {
    for (bool at_end : {true, false}) {
      const std::string_view t = region.place(text, at_end);
      std::vector<std::size_t> want;
      for (std::size_t h = text.find(needle); h != std::string::npos; h = text.find(needle, h + needle.size())) {
        want.push_back(h);
      }
      for (Simd simd : WIDTHS) {
        SubstringFinder finder(needle, 1, simd);
        std::vector<std::size_t> got;
        (void)fastpaths::find_literal_occurrences(finder, t, 0, t.size(), [&got](std::size_t h) { got.push_back(h); });
        EXPECT_TRUE(finder.filter_given_up()) << name_of(simd);
        EXPECT_EQ(got, want) << name_of(simd);
      }
    }
  }
}

// Over 2-byte units, the filter's byte occurrences that straddle two units are passed over alike.
TEST(WideScans, UnitSearch) {
  SKIP_WITHOUT_AVX2();
  std::mt19937 rng(7);
  const std::u16string needle = u"ab";
  const std::string_view needle_bytes(reinterpret_cast<const char*>(needle.data()), 4);
  for (std::size_t units : {40, 63, 64, 65, 200, 1000}) {
    std::u16string text;
    std::uniform_int_distribution<int> pick(0, 3);
    for (std::size_t i = 0; i < units; ++i) text += u"ab\u6100\u6200"[pick(rng)];  // U+6100: bytes 00 61
    const std::string_view bytes(reinterpret_cast<const char*>(text.data()), 2 * units);
    std::vector<std::size_t> want;
    for (std::size_t h = text.find(needle); h != std::u16string::npos; h = text.find(needle, h + 2)) {
      want.push_back(2 * h);
    }
    for (Simd simd : WIDTHS) {
      fastpaths::UnitFinder<2> finder(needle_bytes, simd);
      std::vector<std::size_t> got;
      (void)fastpaths::find_literal_occurrences(finder, bytes, 0, bytes.size(),
                                                [&got](std::size_t h) { got.push_back(h); });
      EXPECT_EQ(got, want) << name_of(simd) << ", " << units << " units";
    }
  }
}

// ---------------------------------------------------------------------------------------------------------------

TEST(WideScans, KeywordScans) {
  SKIP_WITHOUT_AVX2();
  std::vector<Ref<const KeywordElement>> keywords;
  for (const char* w : {"if", "i", "a", "_", "ab", "aa", "ba", "aaa", "a_b", "if_", "-aaaa-", "abababababababab",
                        "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab"}) {
    keywords.push_back(make_element<KeywordElement>(w));
  }
  for_each_guarded_text({"if", "i", "f", "a", "a", "ab", "b", " ", "_", "-", "\xC3\xA9"}, 2,
                        [&](std::string_view t, const std::string& s) {
                          for (const auto& k : keywords) {
                            SCOPED_TRACE("keyword '" + std::string(k->text()) + "'");
                            const Spans want = scan_spans(*k, s);
                            for (Simd simd : WIDTHS) {
                              Spans got;
                              fastpaths::for_each_keyword_match(
                                  *k, t, [&](std::size_t h) { got.emplace_back(h, h + k->length()); }, simd);
                              EXPECT_EQ(got, want) << name_of(simd);
                              EXPECT_EQ(fastpaths::count_keyword_matches(*k, t, simd), want.size()) << name_of(simd);
                            }
                          }
                        });
}

// A text on which the pair filter is not worth its comparisons: every start of a run of '-' is a candidate
// whose keyword bytes do not stand there. Both widths' block scans give up, and the scan that takes over
// finds the matches placed before, at and after that point.
TEST(WideScans, KeywordFilterGivesUp) {
  SKIP_WITHOUT_AVX2();
  GuardedRegion region(4);
  ASSERT_TRUE(region.ok());
  const auto keyword = make_element<KeywordElement>("-aaaaaaaa-");
  std::string text(12000, '-');
  for (std::size_t at : {50, 3000, 9000, 11990}) text.replace(at, keyword->length(), keyword->text());
  for (bool at_end : {true, false}) {
    const std::string_view t = region.place(text, at_end);
    const Spans want = scan_spans(*keyword, text);
    ASSERT_EQ(want.size(), 4u);
    for (Simd simd : WIDTHS) {
      fastpaths::KeywordScan scan;
      const SubstringFinder finder(keyword->text(), 1, simd);
      const auto ignore = [](std::size_t) {};
      if (simd == Simd::AVX2) {
        fastpaths::scan_keyword_blocks_avx2(scan, finder, t, ignore);
      } else {
        fastpaths::scan_keyword_blocks_sse2(scan, finder, t, ignore);
      }
      EXPECT_TRUE(scan.filter_ineffective()) << name_of(simd);
      Spans got;
      fastpaths::for_each_keyword_match(
          *keyword, t, [&](std::size_t h) { got.emplace_back(h, h + keyword->length()); }, simd);
      EXPECT_EQ(got, want) << name_of(simd);
      EXPECT_EQ(fastpaths::count_keyword_matches(*keyword, t, simd), want.size()) << name_of(simd);
    }
  }
}

// ---------------------------------------------------------------------------------------------------------------

QUILLEX_AVX2 std::uint64_t nibble_members64(const NibbleSet& set, const unsigned char* p) {
  return NibbleLanes(set).members64(p);
}

// The table lookups against the table, for every byte value.
TEST(WideScans, NibbleSetsTestEveryByte) {
  SKIP_WITHOUT_AVX2();
  std::mt19937 rng(3);
  std::vector<std::bitset<256>> sets(4);
  sets[1].set();
  for (int b = 'a'; b <= 'z'; ++b) sets[2].set(b);
  sets[3].set(0x80).set(0xFF).set(0x00).set(0x7F);
  for (int i = 0; i < 40; ++i) {
    std::bitset<256> s;
    for (int b = 0; b < 256; ++b) s[b] = rng() % 4 == 0;
    sets.push_back(s);
  }
  unsigned char every_byte[256];
  for (int b = 0; b < 256; ++b) every_byte[b] = static_cast<unsigned char>(b);
  for (const std::bitset<256>& s : sets) {
    ByteTable table{};
    for (int b = 0; b < 256; ++b) table[b] = s[b];
    const NibbleSet set(table);
    for (int block = 0; block < 4; ++block) {
      const std::uint64_t bits = nibble_members64(set, every_byte + 64 * block);
      for (int i = 0; i < 64; ++i) EXPECT_EQ((bits >> i) & 1, s[64 * block + i]) << "byte " << 64 * block + i;
    }
  }
}

// The byte classes of regex runs and start bytes: 1 to 4 ranges (range tests), more ranges and sets with
// members from 0x80 (table lookups), and their complements.
std::vector<std::bitset<256>> byte_classes() {
  const auto of = [](std::string_view bytes) {
    std::bitset<256> s;
    for (unsigned char b : bytes) s.set(b);
    return s;
  };
  const auto range = [](int lo, int hi) {
    std::bitset<256> s;
    for (int b = lo; b <= hi; ++b) s.set(b);
    return s;
  };
  std::vector<std::bitset<256>> out = {
      range('0', '9'),
      range('0', '9') | range('a', 'f'),
      range('0', '9') | range('A', 'Z') | range('a', 'z') | of("_"),
      of("ab_ \"\\"),
      range('a', 'z') | of("\xC2\xC3"),  // a Word's start bytes with members U+0080..U+00FF
      range(0x80, 0xFF) | range('a', 'b'),
      ~of("\na"),
      ~range('0', '9'),
  };
  return out;
}

TEST(WideScans, ByteClassFinds) {
  SKIP_WITHOUT_AVX2();
  std::vector<std::pair<std::bitset<256>, ByteClass>> classes;
  for (const auto& s : byte_classes()) classes.emplace_back(s, ByteClass(s));
  for_each_guarded_text({"a", "b", "7", "12", "_", " ", "\n", "\"", "\xC3\xA9", "\xE2\x82\xAC", "aaaaaaaaaaaaaaaaaaaa"},
                        1, [&](std::string_view t, const std::string& s) {
                          const auto* bytes = reinterpret_cast<const unsigned char*>(s.data());
                          for (const auto& [members, bc] : classes) {
                            SCOPED_TRACE("class " + members.to_string());
                            Pos member = s.size();
                            Pos outsider = s.size();
                            // From the end: the next member and the next outsider at or after each position.
                            for (Pos p = s.size() + 1; p-- > 0;) {
                              if (p < s.size()) (members[bytes[p]] ? member : outsider) = p;
                              for (Simd simd : WIDTHS) {
                                ASSERT_EQ(bc.next_member(t, p, simd), member) << name_of(simd) << " from " << p;
                                ASSERT_EQ(bc.run_end(t, p, simd), outsider) << name_of(simd) << " from " << p;
                              }
                            }
                          }
                        });
}

// The run counts against RE2's iteration over the run's pattern.
TEST(WideScans, ClassRunCounts) {
  SKIP_WITHOUT_AVX2();
  std::vector<std::pair<std::string, Ref<const RegexElement>>> runs;
  for (const char* pattern :
       {"[0-9]+", "[0-9]*", "\\w+", "\\w*", "[ab_ \"\\\\]+", "[ab_ \"\\\\]*", "[^\na]*", "[^0-9]+", ".*", "\\s*"}) {
    RegexBuild built = make_regex_element(pattern);
    ASSERT_TRUE(built.element) << built.error;
    ASSERT_TRUE(built.element->fast().run) << pattern;
    runs.emplace_back(pattern, std::move(built.element));
  }
  for_each_guarded_text({"a", "b", "7", "12", "_", " ", "\n", "\xC3\xA9", "\xE2\x82\xAC", "99999999999999999999"}, 2,
                        [&](std::string_view t, const std::string& s) {
                          for (const auto& [pattern, re] : runs) {
                            SCOPED_TRACE("pattern /" + pattern + "/");
                            const std::uint64_t want = count_regex_matches(re->unanchored(), s);
                            const RegexFastForm& fast = re->fast();
                            for (Simd simd : WIDTHS) {
                              EXPECT_EQ(fast.run->count_run_matches(t, fast.run_may_be_empty, simd), want)
                                  << name_of(simd);
                            }
                          }
                        });
}

// ---------------------------------------------------------------------------------------------------------------

// The word counter and the coverage of the byte rule against the element's own words. Long runs of word bytes
// cross the 64-byte steps, and runs led by body bytes that are no initial bytes (the 'b' of "ba" for init
// {a}, body {a, b}) take no word until an initial byte comes.
TEST(WideScans, WordCounts) {
  SKIP_WITHOUT_AVX2();
  const std::pair<std::string, std::optional<std::string>> sets[] = {
      {"a", std::nullopt}, {"ab", std::nullopt}, {"a", "b"},   {"b", "ab"},
      {"ab", "a"},         {"_A", "ab_"},        {"a", "a b"}, {"abcdefghijklmnopqrstuvwxyz", std::nullopt},
  };
  std::vector<std::pair<std::string, Ref<const WordElement>>> words;
  for (const auto& [init, body] : sets) {
    std::optional<std::string_view> b;
    if (body) b = *body;
    words.emplace_back("Word('" + init + "', '" + body.value_or("") + "')", make_element<WordElement>(init, b));
  }
  for_each_guarded_text(
      {"a", "b", "ab", "ba", " ", "_", "A", "\xC3\xA9", std::string(70, 'b'), std::string(70, 'a'),
       "b" + std::string(63, 'a')},
      2, [&](std::string_view t, const std::string& s) {
        for (const auto& [name, w] : words) {
          SCOPED_TRACE(name);
          ASSERT_TRUE(fastpaths::word_uses_byte_rule(*w));
          const Spans want = scan_spans(*w, s);
          std::uint64_t covered = 0;
          for (const auto& [a, b] : want) covered += b - a;
          const fastpaths::WordByteTables tables(*w);
          for (Simd simd : WIDTHS) {
            EXPECT_EQ(fastpaths::count_words_branchless(tables, t, 0, t.size(), simd), want.size()) << name_of(simd);
            const fastpaths::WordCoverage c = fastpaths::cover_words_branch_free<false>(tables, t, simd);
            EXPECT_EQ(c.words, want.size()) << name_of(simd);
            EXPECT_EQ(c.bytes, covered) << name_of(simd);
          }
          // A range that starts inside the text counts from a fresh state, as the plain counter does.
          if (s.size() > 80) {
            const std::uint64_t part = scan_spans(*w, s.substr(7, s.size() - 9)).size();
            for (Simd simd : WIDTHS) {
              EXPECT_EQ(fastpaths::count_words_branchless(tables, t, 7, t.size() - 2, simd), part) << name_of(simd);
            }
          }
        }
      });
}

// ---------------------------------------------------------------------------------------------------------------

// The surrogate check over 2- and 4-byte units: none, or one at positions around the blocks' edges.
TEST(WideScans, SurrogateCheck) {
  SKIP_WITHOUT_AVX2();
  GuardedRegion region(2);
  ASSERT_TRUE(region.ok());
  for (unsigned kind : {2u, 4u}) {
    for (std::size_t units : {0, 1, 7, 8, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129, 255, 256, 257, 1000}) {
      for (std::size_t surrogate :
           {units, std::size_t{0}, units / 2, units - std::min<std::size_t>(units, 1), std::size_t{15}, std::size_t{16},
            std::size_t{31}, std::size_t{32}, std::size_t{63}, std::size_t{64}, std::size_t{127}}) {
        if (surrogate > units) continue;
        // Units just outside the surrogates (U+D7FF, U+E000) and others sharing their low bytes.
        std::string bytes;
        for (std::size_t i = 0; i < units; ++i) {
          const std::uint32_t unit = i == surrogate ? 0xD800 + static_cast<std::uint32_t>(i % 0x800)
                                                    : std::uint32_t{i % 3 == 0   ? 0xD7FFu
                                                                    : i % 3 == 1 ? 0xE000u
                                                                                 : 0x61u};
          bytes.append(reinterpret_cast<const char*>(&unit), kind);
        }
        for (bool at_end : {true, false}) {
          const std::string_view t = region.place(bytes, at_end);
          const py::StrUnits u{t.data(), units, kind};
          SCOPED_TRACE(std::to_string(units) + " units of " + std::to_string(kind) + " bytes, surrogate at " +
                       std::to_string(surrogate) + (at_end ? ", at the end" : ", at the start"));
          EXPECT_EQ(py::holds_surrogate_sse2(u), surrogate < units);
          EXPECT_EQ(py::holds_surrogate_avx2(u), surrogate < units);
        }
      }
    }
  }
}

}  // namespace
}  // namespace quillex
