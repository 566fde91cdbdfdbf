// The engine's Python-free pieces: the scan loop, text period detection and the identity shortcuts of batches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "alloc_counter.h"
#include "elements/forward.h"
#include "elements/positional.h"
#include "elements/structure.h"
#include "engine/identity.h"
#include "engine/fresh_memory.h"
#include "engine/scan.h"
#include "engine/span_buffer.h"
#include "engine/text_period.h"

namespace quillex::engine {
namespace {

using Spans = std::vector<std::pair<Pos, Pos>>;

Spans scan_spans(const Element& e, std::string_view text) {
  Spans out;
  scan_element_matches(e, text, [&out](Pos s, Pos t) { out.emplace_back(s, t); });
  return out;
}

// ---------------------------------------------------------------------------------------------------------------
// scan_matches

TEST(ScanMatches, ReportsEveryMatchOfTheScanRule) {
  ElementRef empty = make_element<EmptyElement>();
  ElementRef none = make_element<NoMatchElement>();
  ElementRef ls = make_element<LineStartElement>();
  ElementRef le = make_element<LineEndElement>();
  ElementRef se = make_element<StringEndElement>();
  ElementRef ss = make_element<StringStartElement>();
  ElementRef rol = make_element<RestOfLineElement>();
  struct Case {
    const char* name;
    const Element* element;
    std::string text;
    Spans spans;
  };
  const Case cases[] = {
      {"Empty on nothing: position 0 == size is never tried", empty.get(), "", {}},
      {"Empty steps one byte per zero-length match", empty.get(), "abc", {{0, 0}, {1, 1}, {2, 2}}},
      {"Empty counts bytes, not characters", empty.get(), "\xC3\xA9", {{0, 0}, {1, 1}}},
      {"NoMatch", none.get(), "abc", {}},
      {"StringEnd only matches at size, never tried", se.get(), "ab", {}},
      {"StringStart", ss.get(), "abc", {{0, 0}}},
      {"LineStart: a final newline opens no tried line", ls.get(), "a\nb\n", {{0, 0}, {2, 2}}},
      {"LineEnd consumes each newline", le.get(), "a\nb\n", {{1, 2}, {3, 4}}},
      {"rest_of_line resumes at the end of each run", rol.get(), "ab\ncd", {{0, 2}, {2, 2}, {3, 5}}},
      {"rest_of_line on newlines only", rol.get(), "\n\n", {{0, 0}, {1, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " on '" + c.text + "'");
    EXPECT_EQ(scan_spans(*c.element, c.text), c.spans);
  }
}

TEST(ScanMatches, NonEmptyMatchesNeverOverlapAndTheScanAllocatesNothing) {
  // A stand-in for Literal("aa"): on "aaaaa" the scan takes 0-2 and 2-4; 4 alone is too short.
  const auto literal_aa = [](std::string_view t, Pos pos) -> MatchResult {
    if (pos + 2 <= t.size() && t.substr(pos, 2) == "aa") return {true, pos + 2};
    return {false, 0};
  };
  Spans out;
  out.reserve(8);
  std::size_t tries = 0;
  {
    testing::AllocationScope scope;
    scan_matches(
        std::string_view("aaaaa"),
        [&](std::string_view t, Pos pos) {
          ++tries;
          return literal_aa(t, pos);
        },
        [&out](Pos s, Pos e) { out.emplace_back(s, e); });
    EXPECT_EQ(scope.count(), 0u);
  }
  EXPECT_EQ(out, (Spans{{0, 2}, {2, 4}}));
  EXPECT_EQ(tries, 3u);  // positions 0, 2, 4
}

TEST(ScanMatches, StopsAtARecursionOverflow) {
  auto fwd = make_element<ForwardElement>();
  forward_set_inner(*fwd, fwd);
  std::size_t tries = 0;
  Spans out;
  scan_matches(
      std::string_view("abcdef"),
      [&](std::string_view t, Pos pos) {
        ++tries;
        return fwd->try_match_at(t, pos);
      },
      [&out](Pos s, Pos e) { out.emplace_back(s, e); });
  EXPECT_EQ(tries, 1u);
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(take_recursion_overflow());
  EXPECT_EQ(recursion_state().depth, 0u);

  // A test that cannot nest ignores the flag: the whole text is scanned.
  forward_set_inner(*fwd, make_element<EmptyElement>());
  ElementRef empty = make_element<EmptyElement>();
  recursion_state().overflowed = true;
  scan_matches<false>(
      std::string_view("abc"), [&](std::string_view t, Pos pos) { return empty->try_match_at(t, pos); },
      [&out](Pos s, Pos e) { out.emplace_back(s, e); });
  EXPECT_EQ(out.size(), 3u);
  EXPECT_TRUE(take_recursion_overflow());
}

// ---------------------------------------------------------------------------------------------------------------
// detect_text_period

std::uint64_t reference_text_period(std::string_view text, std::uint64_t limit) {
  if (limit < 4) return 0;
  for (std::uint64_t c = 1; c <= TEXT_PERIOD_LIMIT && 2 * c <= limit; ++c) {
    if (std::memcmp(text.data(), text.data() + c, c) == 0) return c;
  }
  return 0;
}

std::string block_without_recurring_first_byte(std::size_t n) {
  std::string b(n, 'y');
  b[0] = 'x';
  for (std::size_t i = 1; i < n; ++i) b[i] = static_cast<char>('a' + i % 23);
  return b;
}

TEST(TextPeriod, Table) {
  struct Case {
    std::string text;
    std::uint64_t limit;
    std::uint64_t period;
  };
  const std::string b1024 = block_without_recurring_first_byte(1024);
  const std::string b1025 = block_without_recurring_first_byte(1025);
  std::string no_recurrence = block_without_recurring_first_byte(1025) + "xxxxxxxx";
  const Case cases[] = {
      {"", 0, 0},
      {"a", 1, 0},
      {"ab", 2, 0},
      {"aba", 3, 0},
      {"aaa", 3, 0},
      {"aaaa", 4, 1},
      {"abab", 4, 2},
      {"abcabc", 6, 3},
      {"aaab", 4, 1},
      {"ababzzzz", 8, 2},  // only the first 2c bytes are compared
      {"abcab", 5, 0},     // the candidate 3 needs 6 bytes
      {"abacabac", 8, 4},  // candidate 2 fails, the next recurrence of 'a' holds
      {"aabaabaab", 9, 1},
      {b1024 + b1024, 2048, 1024},
      {b1025 + b1025, 2050, 0},
      {no_recurrence, no_recurrence.size(), 0},  // first byte recurs only past the window
      {"ababcdcd", 4, 2},
      {"ababcdcd", 3, 0},
      {"abab", 100, 2},  // a limit past the text is clamped
      {"\xC3\xA9\xC3\xA9", 4, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("text of " + std::to_string(c.text.size()) + " bytes '" + c.text.substr(0, 12) + "', limit " +
                 std::to_string(c.limit));
    EXPECT_EQ(detect_text_period(c.text, c.limit), c.period);
  }
}

TEST(TextPeriod, AgreesWithTheDefinitionOnEveryShortText) {
  // Every text of up to 9 bytes over {a, b, c}, at every limit.
  const char alphabet[] = {'a', 'b', 'c'};
  for (std::size_t len = 0; len <= 9; ++len) {
    std::size_t total = 1;
    for (std::size_t i = 0; i < len; ++i) total *= 3;
    for (std::size_t code = 0; code < total; ++code) {
      std::string t(len, 'a');
      std::size_t x = code;
      for (std::size_t i = 0; i < len; ++i, x /= 3) t[i] = alphabet[x % 3];
      for (std::uint64_t limit = 0; limit <= len; ++limit) {
        ASSERT_EQ(detect_text_period(t, limit), reference_text_period(t, limit)) << t << " limit " << limit;
      }
    }
  }
  // Long texts with candidates near the window's edge.
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    const std::size_t p = 1 + rng() % 1100;
    std::string block = block_without_recurring_first_byte(p);
    // Recurrences of the first byte inside the block make false candidates.
    if (p > 1) {
      for (std::size_t k = 0; k < rng() % 5; ++k) block[1 + rng() % (p - 1)] = 'x';
    }
    std::string t = block + block + block.substr(0, rng() % p);
    if (rng() % 3 == 0) t[rng() % t.size()] ^= 1;
    ASSERT_EQ(detect_text_period(t), reference_text_period(t, t.size())) << "p " << p;
  }
}

TEST(TextPeriod, RepeatsWithPeriodChecksTheWholeText) {
  EXPECT_TRUE(repeats_with_period("abcabcab", 3));
  EXPECT_FALSE(repeats_with_period("abcabcax", 3));
  EXPECT_FALSE(repeats_with_period("ababzzzz", 2));  // the period detection alone accepts it
  EXPECT_TRUE(repeats_with_period("aaaa", 1));
  EXPECT_TRUE(repeats_with_period("ab", 2));
  EXPECT_FALSE(repeats_with_period("ab", 0));
}

// ---------------------------------------------------------------------------------------------------------------
// Input identity

bool reference_uniform(const std::vector<int>& v) {
  for (int x : v) {
    if (x != v[0]) return false;
  }
  return true;
}

std::size_t reference_period(const std::vector<int>& v) {
  const std::size_t n = v.size();
  for (std::size_t h = 1; h < n && h < INPUT_PERIOD_WINDOW; ++h) {
    if (v[h] != v[0]) continue;
    if (2 * h > n) return 0;
    for (std::size_t i = h; i < n; ++i) {
      if (v[i] != v[i - h]) return 0;
    }
    return h;
  }
  return 0;
}

TEST(InputIdentity, UniformAndPeriodTable) {
  struct Case {
    const char* name;
    std::vector<int> items;
    bool uniform;
    std::size_t period;
  };
  const Case cases[] = {
      {"one item", {1}, true, 0},
      {"two equal", {1, 1}, true, 1},
      {"a b a b a b", {1, 2, 1, 2, 1, 2}, false, 2},
      {"partial last period", {1, 2, 1, 2, 1}, false, 2},
      {"broken by x y", {1, 2, 1, 2, 8, 9, 1, 2}, false, 0},
      {"a a b a: item 2 breaks period 1", {1, 1, 2, 1}, false, 0},
      {"a b c a: 2h > n", {1, 2, 3, 1}, false, 0},
      {"a b a c repeated: only the first recurrence is tried", {1, 2, 1, 3, 1, 2, 1, 3}, false, 0},
      {"differs in the last item after blocks of four", {5, 5, 5, 5, 5, 5, 5, 5, 5, 6}, false, 0},
      {"differs in the tail after blocks of four", {5, 5, 5, 5, 5, 5, 5, 6, 5}, false, 0},
      {"differs inside the first block", {5, 5, 6, 5, 5, 5}, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(detect_uniform_inputs(c.items.data(), c.items.size()), c.uniform);
    EXPECT_EQ(detect_input_period(c.items.data(), c.items.size()), c.period);
  }
}

TEST(InputIdentity, AgreesWithTheDefinitionOnEverySmallList) {
  // Every list of up to 9 items over 3 objects.
  for (std::size_t n = 1; n <= 9; ++n) {
    std::size_t total = 1;
    for (std::size_t i = 0; i < n; ++i) total *= 3;
    for (std::size_t code = 0; code < total; ++code) {
      std::vector<int> v(n);
      std::size_t x = code;
      for (std::size_t i = 0; i < n; ++i, x /= 3) v[i] = static_cast<int>(x % 3);
      ASSERT_EQ(detect_uniform_inputs(v.data(), n), reference_uniform(v));
      ASSERT_EQ(detect_input_period(v.data(), n), reference_period(v));
    }
  }
  // Uniform lists with one odd item at every index, across the four-item blocks.
  for (std::size_t n = 2; n <= 20; ++n) {
    for (std::size_t odd = 0; odd < n; ++odd) {
      std::vector<int> v(n, 4);
      v[odd] = 5;
      ASSERT_FALSE(detect_uniform_inputs(v.data(), n)) << n << " " << odd;
    }
  }
}

TEST(InputIdentity, PeriodWindowIsTheFirst128Items) {
  for (std::size_t h : {126u, 127u, 128u, 129u}) {
    std::vector<int> v;
    for (std::size_t i = 0; i < 3 * h + 5; ++i) v.push_back(static_cast<int>(i % h));
    SCOPED_TRACE("period " + std::to_string(h));
    EXPECT_EQ(detect_input_period(v.data(), v.size()), h < INPUT_PERIOD_WINDOW ? h : 0u);
  }
}

TEST(PointerVerdictCache, StoresAtMost31AndKeepsAnsweringForThem) {
  // 40 addresses with one home slot: every one probes from slot 5.
  std::vector<std::uint64_t> addrs;
  for (std::uint64_t k = 0; k < 40; ++k) addrs.push_back((k << 20) | (5u << 4));
  for (std::uint64_t a : addrs) ASSERT_EQ(PointerVerdictCache::home_slot(a), 5u) << a;
  PointerVerdictCache cache;
  for (std::size_t i = 0; i < addrs.size(); ++i) {
    const PointerVerdictCache::Lookup miss = cache.lookup(addrs[i]);
    ASSERT_EQ(miss.verdict, 0);
    if (i < 31) {
      EXPECT_EQ(miss.slot, (5 + i) % 32);  // linear probing from the home slot
    } else {
      EXPECT_EQ(miss.slot, PointerVerdictCache::SLOTS);  // full: not stored
    }
    cache.insert(miss, addrs[i], i % 3 == 0);
  }
  EXPECT_EQ(cache.stored(), 31u);
  for (std::size_t i = 0; i < addrs.size(); ++i) {
    const PointerVerdictCache::Lookup found = cache.lookup(addrs[i]);
    if (i < 31) {
      EXPECT_EQ(found.verdict, i % 3 == 0 ? PointerVerdictCache::MATCHED : PointerVerdictCache::NOT_MATCHED);
    } else {
      EXPECT_EQ(found.verdict, 0) << i;
    }
  }
}

TEST(PointerVerdictCache, HomeSlotMixesBitsAboveTheAlignment) {
  EXPECT_EQ(PointerVerdictCache::home_slot(0x10), 1u);
  EXPECT_EQ(PointerVerdictCache::home_slot(0x1000), 1u);
  EXPECT_EQ(PointerVerdictCache::home_slot(0x1010), 0u);
  EXPECT_EQ(PointerVerdictCache::home_slot(0xF), 0u);
  EXPECT_EQ(PointerVerdictCache::home_slot(0x1F0), 31u);
}

TEST(LastPointerCache, HitsOnlyTheObjectJustBefore) {
  int a = 0, b = 0;
  LastPointerCache<int> last;
  EXPECT_FALSE(last.hit(&a));
  EXPECT_FALSE(last.hit(nullptr));
  last.remember(&a, 7);
  EXPECT_TRUE(last.hit(&a));
  EXPECT_EQ(last.value(), 7);
  last.remember(&b, 8);
  EXPECT_FALSE(last.hit(&a));
  EXPECT_TRUE(last.hit(&b));
}

TEST(FillByDoubling, RepeatsThePrefixToAnyLength) {
  for (std::size_t m = 1; m <= 9; ++m) {
    for (std::size_t v = m; v <= 70; ++v) {
      std::vector<int> slots(v, -1);
      for (std::size_t i = 0; i < m; ++i) slots[i] = static_cast<int>(i);
      fill_slots_by_doubling(slots.data(), m, v);
      for (std::size_t i = 0; i < v; ++i) ASSERT_EQ(slots[i], static_cast<int>(i % m)) << m << " " << v;
    }
  }
}

// ---------------------------------------------------------------------------------------------------------------
// SpanBuffer and huge-page advice

// Across the inline spans and the blocks of every size, the 2 MiB ones (huge pages) included: the spans come back
// in order.
TEST(SpanBuffer, GivesBackEverySpanInOrder) {
  for (const std::size_t n : {0, 1, 63, 64, 65, 1088, 1089, 3137, 300000}) {
    SpanBuffer spans;
    for (std::size_t i = 0; i < n; ++i) spans.push(3 * i, 3 * i + 1 + i % 2);
    ASSERT_EQ(spans.size(), n);
    EXPECT_EQ(spans.empty(), n == 0);
    std::size_t i = 0;
    for (const SpanBuffer::Span& span : spans) {
      ASSERT_EQ(span.start, 3 * i) << n;
      ASSERT_EQ(span.end, 3 * i + 1 + i % 2) << n;
      ++i;
    }
    EXPECT_EQ(i, n);
  }
}

// The address ranges of this process's mappings that carry the huge-page advice ("hg" in smaps).
std::vector<std::pair<std::uintptr_t, std::uintptr_t>> advised_mappings() {
  std::vector<std::pair<std::uintptr_t, std::uintptr_t>> out;
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  std::pair<std::uintptr_t, std::uintptr_t> range{0, 0};
  while (std::getline(smaps, line)) {
    if (line.rfind("VmFlags:", 0) == 0) {
      if ((line + " ").find(" hg ") != std::string::npos) out.push_back(range);
    } else if (line.find('-') != std::string::npos && line.find(':') > line.find(' ')) {
      char* rest = nullptr;
      range.first = std::strtoull(line.c_str(), &rest, 16);
      range.second = std::strtoull(rest + 1, nullptr, 16);
    }
  }
  return out;
}

// The advice covers the whole 2 MiB pages inside the block and nothing outside it, wherever the allocator put
// the block, and leaves its contents as they were; a block too small to hold such a page is left alone.
TEST(FreshMemory, HugePageAdviceStaysInsideTheBlock) {
  const std::size_t size = 9 * HUGE_PAGE;
  char* base = static_cast<char*>(std::malloc(size));
  ASSERT_NE(base, nullptr);
  for (std::size_t i = 0; i < size; ++i) base[i] = static_cast<char>(i * 7 + 3);
  const auto before = advised_mappings();
  const std::pair<std::size_t, std::size_t> blocks[] = {
      {1, HUGE_PAGE - 1}, {3, 4 * HUGE_PAGE + 5}, {5 * HUGE_PAGE - 17, 3 * HUGE_PAGE + 1}, {size - 100, 100}};
  for (const auto& [offset, bytes] : blocks) advise_huge_pages(base + offset, bytes);
  advise_huge_pages(nullptr, 0);
  for (std::size_t i = 0; i < size; ++i) ASSERT_EQ(base[i], static_cast<char>(i * 7 + 3)) << i;
  const auto inside = [&](std::uintptr_t lo, std::uintptr_t hi) {
    for (const auto& [offset, bytes] : blocks) {
      const auto from = reinterpret_cast<std::uintptr_t>(base + offset);
      if (lo >= from && hi <= from + bytes) return true;
    }
    return false;
  };
  std::size_t advised = 0;
  for (const auto& [lo, hi] : advised_mappings()) {
    if (std::find(before.begin(), before.end(), std::pair{lo, hi}) != before.end()) continue;
    ++advised;
    EXPECT_TRUE(inside(lo, hi)) << std::hex << "advised [" << lo << ", " << hi << ")";
  }
  std::free(base);
  if (advised == 0) GTEST_SKIP() << "the system takes no huge-page advice: nothing to see in smaps";
}

}  // namespace
}  // namespace quillex::engine
