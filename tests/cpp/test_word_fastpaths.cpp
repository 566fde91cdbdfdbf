// The byte rule of the Word fast paths (word_rule.h) against the element's own rule: tables, run ends, the
// branch-free counter and the word scan, over every small world.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "elements/chars.h"
#include "fastpaths/word_rule.h"

namespace quillex {
namespace {

using fastpaths::count_words_branchless;
using fastpaths::cover_words_branch_free;
using fastpaths::replace_words_branch_free;
using fastpaths::expand_byte_set;
using fastpaths::scan_element_words;
using fastpaths::scan_words;
using fastpaths::word_run_end;
using fastpaths::word_uses_branch_free_rule;
using fastpaths::word_uses_byte_rule;
using fastpaths::WordByteTables;

const std::string E_ACUTE = "\xC3\xA9";   // é: U+00E9
const std::string A_MACRON = "\xC4\x80";  // Ā: U+0100, never a member

struct Span {
  Pos start, end;
  bool operator==(const Span&) const = default;
};

std::vector<Span> byte_rule_words(const WordByteTables& t, std::string_view text) {
  std::vector<Span> out;
  scan_words(t, text, [&out](Pos a, Pos b) { out.push_back({a, b}); });
  return out;
}

std::vector<Span> element_words(const WordElement& w, std::string_view text) {
  std::vector<Span> out;
  scan_element_words(w, text, [&out](Pos a, Pos b) { out.push_back({a, b}); });
  return out;
}

// Every text of up to `max_len` pieces over `pieces`.
std::vector<std::string> all_texts(const std::vector<std::string>& pieces, int max_len) {
  std::vector<std::string> out = {""};
  std::vector<std::string> layer = {""};
  for (int len = 1; len <= max_len; ++len) {
    std::vector<std::string> next;
    for (const std::string& s : layer) {
      for (const std::string& p : pieces) next.push_back(s + p);
    }
    out.insert(out.end(), next.begin(), next.end());
    layer = std::move(next);
  }
  return out;
}

TEST(ExpandByteSet, EveryEntryIsTheSetsBit) {
  const std::vector<ByteBitSet> sets = {
      ByteBitSet{},
      ByteBitSet::from_utf8("abcxyz_0123456789"),
      ByteBitSet::from_utf8(E_ACUTE + "\x7f\x01"),
      ByteBitSet{{~std::uint64_t{0}, 0x8000000000000001u, 0x5555555555555555u, 0xAAAAAAAAAAAAAAAAu}},
  };
  for (std::size_t k = 0; k < sets.size(); ++k) {
    SCOPED_TRACE(k);
    const ByteTable table = expand_byte_set(sets[k]);
    for (unsigned b = 0; b < 256; ++b) EXPECT_EQ(table[b], sets[k].contains(b) ? 1 : 0) << b;
  }
}

TEST(WordByteRule, ServesExactlyTheAsciiSetsWithTheConstructorsLimits) {
  struct Case {
    const char* name;
    std::string init;
    std::optional<std::string> body;
    Pos min, max;
    bool bytes;
  };
  const Case cases[] = {
      {"ascii", "ab", std::nullopt, 1, 0, true},
      {"ascii body", "a", "0123", 1, 0, true},
      {"empty body", "a", "", 1, 0, true},
      {"above U+00FF only", "a" + A_MACRON, std::nullopt, 1, 0, true},
      {"wide init", "a" + E_ACUTE, "a", 1, 0, false},
      {"wide body", "a", E_ACUTE, 1, 0, false},
      {"min 2", "a", std::nullopt, 2, 0, false},
      {"max 3", "a", std::nullopt, 1, 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ElementRef w = make_element<WordElement>(c.init, c.body, c.min, c.max);
    EXPECT_EQ(word_uses_byte_rule(static_cast<const WordElement&>(*w)), c.bytes);
  }
}

// Every pair of ASCII sets over a, b, c (body absent included) against every text of up to five pieces over a,
// b, c, '-' and é: the byte rule finds the element's words, run ends agree at every initial position, and the
// branch-free counter counts the scan's words over the ranges it is used on.
TEST(WordByteRule, AgreesWithTheElementOnEverySmallWorld) {
  const std::vector<std::string> letters = {"a", "b", "c"};
  std::vector<std::string> subsets;
  for (unsigned mask = 0; mask < 8; ++mask) {
    std::string s;
    for (unsigned i = 0; i < 3; ++i) {
      if (mask & (1u << i)) s += letters[i];
    }
    subsets.push_back(s);
  }
  const std::vector<std::string> texts = all_texts({"a", "b", "c", "-", E_ACUTE}, 5);
  for (const std::string& init : subsets) {
    std::vector<std::optional<std::string>> bodies(subsets.begin(), subsets.end());
    bodies.push_back(std::nullopt);
    for (const auto& body : bodies) {
      ElementRef ref = make_element<WordElement>(init, body);
      const auto& w = static_cast<const WordElement&>(*ref);
      ASSERT_TRUE(word_uses_byte_rule(w));
      const WordByteTables tables(w);
      for (const std::string& text : texts) {
        SCOPED_TRACE("init '" + init + "' body '" + body.value_or("<none>") + "' text '" + text + "'");
        const std::vector<Span> words = byte_rule_words(tables, text);
        ASSERT_EQ(words, element_words(w, text));
        for (Pos p = 0; p < text.size(); ++p) {
          const MatchResult m = w.match(text, p);
          ASSERT_EQ(m.matched, w.init().contains(static_cast<unsigned char>(text[p])));
          if (m.matched) {
            ASSERT_EQ(word_run_end(w.body(), text, p), m.end);
            ASSERT_EQ(word_run_end(tables.BODY, text, p), m.end);
          }
        }
        // The ranges the count paths use: a first period [0, p) and a tail [from, n).
        for (Pos k = 0; k <= text.size(); ++k) {
          const std::string_view view(text);
          ASSERT_EQ(count_words_branchless(tables, text, 0, k), byte_rule_words(tables, view.substr(0, k)).size())
              << "range [0, " << k << ")";
          ASSERT_EQ(count_words_branchless(tables, text, k, text.size()),
                    byte_rule_words(tables, view.substr(k)).size())
              << "range [" << k << ", n)";
        }
      }
    }
  }
}

// With a wide member the element's rule takes é whole; the byte rule would cut it (why such sets do not use it).
TEST(WordByteRule, WideMembersNeedTheElementsRule) {
  ElementRef ref = make_element<WordElement>("a" + E_ACUTE, std::nullopt);
  const auto& w = static_cast<const WordElement&>(*ref);
  const std::string text = "x" + E_ACUTE + "a" + A_MACRON + E_ACUTE;
  EXPECT_EQ(element_words(w, text), (std::vector<Span>{{1, 4}, {6, 8}}));
  for (const Span& s : element_words(w, text)) {
    EXPECT_TRUE(is_char_boundary(text, s.start));
    EXPECT_TRUE(is_char_boundary(text, s.end));
  }
}

// The transform's branch-free passes against the element's words: the coverage is their number and total
// length, and the writer gives the text with each of them replaced, for replacements of 0 to 8 bytes (the
// widest the writer stores at once), writing nothing past the size it is given: one byte short, it reports
// that the text asked for more. Sets with members U+0080..U+00FF take the Wide step; texts mix ASCII, two-byte
// characters inside and outside that range and a three-byte one.
template <bool Wide>
void expect_branch_free_transform(const WordElement& w, const std::vector<std::string>& texts) {
  const WordByteTables tables(w);
  for (const std::string& text : texts) {
    SCOPED_TRACE("text '" + text + "'");
    const std::vector<Span> words = element_words(w, text);
    Pos covered = 0;
    for (const Span& sp : words) covered += sp.end - sp.start;
    const fastpaths::WordCoverage c = cover_words_branch_free<Wide>(tables, text);
    ASSERT_EQ(c.words, words.size());
    ASSERT_EQ(c.bytes, covered);
    for (const std::string replacement : {"", "#", "<->", "12345678"}) {
      std::string want;
      Pos copied = 0;
      for (const Span& sp : words) {
        want.append(text, copied, sp.start - copied).append(replacement);
        copied = sp.end;
      }
      want.append(text, copied);
      const std::size_t size = want.size();
      std::string out(size + 16, '!');  // the bytes after `size` must stay as they are
      ASSERT_EQ(replace_words_branch_free<Wide>(tables, text, replacement, out.data(), size), size) << replacement;
      EXPECT_EQ(out.substr(0, size), want) << replacement;
      EXPECT_EQ(out.substr(size), std::string(16, '!')) << replacement;
      if (size == 0) continue;
      std::string short_out(size + 16, '!');
      EXPECT_EQ(replace_words_branch_free<Wide>(tables, text, replacement, short_out.data(), size - 1), size);
      EXPECT_EQ(short_out.substr(size - 1), std::string(17, '!')) << replacement;
    }
  }
}

TEST(WordBranchFreeTransform, AgreesWithTheElementOnEverySmallWorld) {
  const std::string EURO = "\xE2\x82\xAC";
  const std::string Y_DIAERESIS = "\xC3\xBF";  // U+00FF, the last code point the sets can hold
  const std::vector<std::string> texts = all_texts({"a", "b", " ", E_ACUTE, A_MACRON, EURO, Y_DIAERESIS}, 4);
  struct Case {
    std::string init;
    std::optional<std::string> body;
  };
  const Case narrow[] = {{"a", std::nullopt}, {"ab", std::nullopt}, {"a", "b"}, {"b", "ab "}};
  const Case wide[] = {{E_ACUTE, std::nullopt}, {"a" + E_ACUTE, std::nullopt}, {"a", E_ACUTE},
                       {E_ACUTE, "b" + Y_DIAERESIS}, {Y_DIAERESIS + "a", "a " + E_ACUTE}};
  for (const Case& c : narrow) {
    SCOPED_TRACE("init '" + c.init + "' body '" + c.body.value_or("<none>") + "'");
    ElementRef ref = make_element<WordElement>(c.init, c.body);
    const auto& w = static_cast<const WordElement&>(*ref);
    ASSERT_TRUE(word_uses_byte_rule(w));
    expect_branch_free_transform<false>(w, texts);
  }
  for (const Case& c : wide) {
    SCOPED_TRACE("init '" + c.init + "' body '" + c.body.value_or("<none>") + "'");
    ElementRef ref = make_element<WordElement>(c.init, c.body);
    const auto& w = static_cast<const WordElement&>(*ref);
    ASSERT_FALSE(word_uses_byte_rule(w));
    ASSERT_TRUE(word_uses_branch_free_rule(w));
    expect_branch_free_transform<true>(w, texts);
  }
  ElementRef limited = make_element<WordElement>("a", std::nullopt, 2, 0);
  EXPECT_FALSE(word_uses_branch_free_rule(static_cast<const WordElement&>(*limited)));
}

TEST(WordByteRule, ScanAndCountAllocateNothing) {
  ElementRef ref = make_element<WordElement>("abcdefghijklmnopqrstuvwxyz", std::nullopt);
  const auto& w = static_cast<const WordElement&>(*ref);
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "word, " + E_ACUTE + " ";
  testing::AllocationScope scope;
  const WordByteTables tables(w);
  std::uint64_t found = 0;
  scan_words(tables, text, [&found](Pos, Pos) { ++found; });
  const std::uint64_t counted = count_words_branchless(tables, text, 0, text.size());
  EXPECT_EQ(scope.count(), 0u);
  EXPECT_EQ(found, 1000u);
  EXPECT_EQ(counted, 1000u);
}

}  // namespace
}  // namespace quillex
