// The in-place rules of the Regex, QuotedString and caseless methods: the regex iteration, and the counts and
// start tests written out over the bytes, which must equal the scan rule over the element's try_match_at and
// allocate nothing.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "alloc_counter.h"
#include "routes.h"
#include "elements/chars.h"
#include "elements/literals.h"
#include "elements/regex.h"
#include "engine/scan.h"
#include "fastpaths/quoted_caseless.h"
#include "elements/regex_find.h"

namespace quillex {
namespace {

using Spans = std::vector<std::pair<Pos, Pos>>;

const std::string E_ACUTE = "\xC3\xA9";

Spans regex_spans(const re2::RE2& re, std::string_view text) {
  Spans out;
  for_each_regex_match(re, text, [&out](Pos s, Pos e) { out.emplace_back(s, e); });
  return out;
}

TEST(RegexIteration, ReportsTheSearchMatchesInOrder) {
  const struct {
    const char* pattern;
    std::string text;
    Spans spans;
  } rows[] = {
      {"a*", "baaa", {{0, 0}, {1, 4}}},  // no empty match right after 'aaa'
      {"x*", "abc", {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
      {"a*", "", {{0, 0}}},
      {"a", "", {}},
      {"a", "banana", {{1, 2}, {3, 4}, {5, 6}}},
      {"", E_ACUTE, {{0, 0}, {2, 2}}},  // never inside the character
      {"a|", "ba", {{0, 0}, {1, 2}}},
      {"^a|b", "ab", {{0, 1}, {1, 2}}},
      {"^a|b", "xab", {{2, 3}}},        // '^' holds at the start of the whole text only
      {"\\bb", "ab b", {{3, 4}}},       // '\b' sees the byte before the search position
      {"\\B", "a" + E_ACUTE, {{3, 3}}},  // RE2's ASCII '\B' holds inside é too: refused there
      {"\\C", E_ACUTE + "a", {{2, 3}}},  // a match that would cut é is no match
      {"\\C\\C", E_ACUTE + E_ACUTE, {{0, 2}, {2, 4}}},
      {"(?:\\C\\C)+", "a" + E_ACUTE, {{1, 3}}},  // 'a' plus a cut byte is refused at 0
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.pattern) + " over " + r.text);
    RegexBuild b = make_regex_element(r.pattern);
    ASSERT_TRUE(b.element) << b.error;
    const re2::RE2& re = b.element->unanchored();
    EXPECT_EQ(regex_spans(re, r.text), r.spans);
    std::uint64_t count = 0;
    {
      testing::AllocationScope scope;
      count = count_regex_matches(re, r.text);
      EXPECT_EQ(scope.count(), 0u) << "the warm iteration allocated";
    }
    EXPECT_EQ(count, r.spans.size());
  }
}

std::uint64_t scan_count(const Element& e, std::string_view text) {
  std::uint64_t count = 0;
  engine::scan_element_matches(e, text, [&count](Pos, Pos) { ++count; });
  return count;
}

// The in-place start test and count against try_match_at at 0 and the scan rule, allocation-free.
template <class E, class Matches, class Count>
void check_world(const E& e, const std::vector<std::string>& texts, Matches matches, Count count) {
  for (const std::string& t : texts) {
    SCOPED_TRACE(t);
    bool m = false;
    std::uint64_t c = 0;
    {
      testing::AllocationScope scope;
      m = matches(e, t);
      c = count(e, t);
      EXPECT_EQ(scope.count(), 0u);
    }
    EXPECT_EQ(m, e.try_match_at(t, 0).matched);
    EXPECT_EQ(c, scan_count(e, t));
  }
}

TEST(QuotedCaselessRules, EqualTheScanOverTryMatchAt) {
  const struct {
    const char* quote;
    std::optional<std::string> escape;
    bool multiline;
  } quoted[] = {
      {"\"", std::nullopt, false}, {"\"", "\\", false}, {"\"", "\\", true},
      {"'", "'", false},           {"\xC3\xA9", "\xC3\xA8", false},
  };
  for (const auto& c : quoted) {
    SCOPED_TRACE(c.quote);
    auto q = make_element<QuotedStringElement>(c.quote, c.escape, c.multiline, true);
    std::vector<std::string> alphabet = {c.quote, "a", "\n", E_ACUTE, "\\"};
    if (c.escape) alphabet.push_back(*c.escape);
    check_world(*q, testing::small_world_texts(alphabet, 4), fastpaths::quoted_string_matches, fastpaths::count_quoted_strings);
  }
  const std::vector<std::string> texts = testing::small_world_texts({"a", "A", "b", "_", " ", E_ACUTE}, 4);
  for (const char* word : {"", "a", "Ab", "a_", "b ", "\xC3\xA9", "a\xC3\xA9"}) {
    SCOPED_TRACE(word);
    check_world(*make_element<CaselessLiteralElement>(word), texts, fastpaths::caseless_literal_matches,
                fastpaths::count_caseless_literal);
    check_world(*make_element<CaselessKeywordElement>(word), texts, fastpaths::caseless_keyword_matches,
                fastpaths::count_caseless_keyword);
  }
}

}  // namespace
}  // namespace quillex
