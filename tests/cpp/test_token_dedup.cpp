// intern_keys over the spans of a text: both routes, and the move from the table to the partitions, against a
// model of first occurrences; forced hash collisions; a failing `make`; the partitions with 64-bit indices.
#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "engine/token_dedup.h"

namespace quillex::engine {
namespace {

// A text and the spans of its tokens.
struct Tokens {
  std::string text;
  std::vector<TextSpan> spans;

  void add(std::string_view token) {
    spans.push_back({text.size(), text.size() + token.size()});
    text.append(token);
    text.push_back(' ');
  }
};

// Values are 1 + the number of the distinct text they stand for, in the order `make` was called. Records what
// the routes ask of it and checks the interface's promises as they go: every span gets one value, in span order;
// `reuse_item` names an earlier span that has one.
class ModelInterner {
 public:
  explicit ModelInterner(const Tokens& t, std::size_t fail_at_make = std::numeric_limits<std::size_t>::max())
      : t_(t), values_(t.spans.size(), 0), fail_at_make_(fail_at_make) {}

  std::uint64_t make(std::size_t i) {
    if (made_.size() == fail_at_make_) throw std::bad_alloc();
    made_.emplace_back(text(i));
    store(i, made_.size());
    return made_.size();
  }
  bool same(std::uint64_t value, std::size_t i) const { return made_.at(value - 1) == text(i); }
  void reuse(std::uint64_t value, std::size_t i) { store(i, value); }
  bool same_item(std::size_t j, std::size_t i) const {
    EXPECT_LT(j, i);
    return same(values_.at(j), i);
  }
  void reuse_item(std::size_t j, std::size_t i) {
    EXPECT_LT(j, i);
    EXPECT_NE(values_.at(j), 0u) << j;
    store(i, values_.at(j));
  }
  void prefetch_slot(std::size_t j) { EXPECT_LT(j, values_.size()); }
  void prefetch_value(std::size_t j) { EXPECT_LT(j, values_.size()); }

  const std::vector<std::uint64_t>& values() const noexcept { return values_; }
  const std::vector<std::string>& made() const noexcept { return made_; }
  std::size_t filled() const noexcept { return filled_; }

 private:
  std::string_view text(std::size_t i) const { return span_text(t_.text, t_.spans.at(i)); }
  void store(std::size_t i, std::uint64_t value) {
    EXPECT_EQ(i, filled_) << "spans are given their values in order, once each";
    values_.at(i) = value;
    ++filled_;
  }

  const Tokens& t_;
  std::vector<std::uint64_t> values_;
  std::vector<std::string> made_;
  std::size_t filled_ = 0;
  std::size_t fail_at_make_;
};

// One value per distinct text, made at its first occurrence, in span order.
void expect_first_occurrences(const Tokens& t, const ModelInterner& m) {
  std::map<std::string, std::uint64_t> value_of;
  std::vector<std::string> order;
  for (std::size_t i = 0; i < t.spans.size(); ++i) {
    const std::string s(span_text(t.text, t.spans[i]));
    auto [it, added] = value_of.try_emplace(s, order.size() + 1);
    if (added) order.push_back(s);
    ASSERT_EQ(m.values()[i], it->second) << "span " << i << " '" << s << "'";
  }
  EXPECT_EQ(m.made(), order);
}

constexpr DedupRoute ROUTES[] = {DedupRoute::Table, DedupRoute::Partitions, DedupRoute::Auto};

const char* route_name(DedupRoute r) {
  return r == DedupRoute::Table ? "table" : r == DedupRoute::Partitions ? "partitions" : "auto";
}

template <class Hash = TextHash>
void check_every_route(const Tokens& t, const Hash& hash = Hash{}) {
  DedupScratch scratch;  // one for all routes: what a call leaves in it must not matter to the next
  for (const DedupRoute route : ROUTES) {
    SCOPED_TRACE(route_name(route));
    ModelInterner m(t);
    intern_keys(SpanKeys<Hash>{t.text, t.spans.data(), hash}, t.spans.size(), scratch, m, route);
    EXPECT_EQ(m.filled(), t.spans.size());
    expect_first_occurrences(t, m);
  }
}

std::string random_word(std::mt19937_64& rng, std::size_t min_len, std::size_t max_len) {
  static constexpr std::string_view LETTERS[] = {"a", "b", "c", "\xC3\xA9", "\xE3\x81\x82", "\xF0\x9F\x98\x80"};
  std::string w;
  const std::size_t len = min_len + rng() % (max_len - min_len + 1);
  for (std::size_t k = 0; k < len; ++k) w += LETTERS[rng() % std::size(LETTERS)];
  return w;
}

TEST(InternKeys, SmallTable) {
  struct Case {
    const char* name;
    std::vector<std::string> tokens;
  };
  const Case cases[] = {
      {"none", {}},
      {"one", {"ab"}},
      {"two equal", {"ab", "ab"}},
      {"two different", {"ab", "ba"}},
      {"empty tokens", {"", "a", "", ""}},
      {"prefixes", {"a", "ab", "abc", "ab", "a", "abc"}},
      {"non-ASCII", {"\xC3\xA9", "e", "\xC3\xA9", "\xF0\x9F\x98\x80", "\xC3\xA9"}},
      {"one text throughout", std::vector<std::string>(40, "same")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tokens t;
    for (const std::string& s : c.tokens) t.add(s);
    check_every_route(t);
  }
}

TEST(InternKeys, GeneratedTextsAcrossTheWindowsAndTheMove) {
  std::mt19937_64 rng(7);
  struct Shape {
    const char* name;
    std::size_t n;
    std::size_t vocabulary;  // 0: every word drawn afresh
  };
  const Shape shapes[] = {
      {"small vocabulary", 20'000, 50},
      {"just below a window", DEDUP_WINDOW - 1, 0},
      {"one window", DEDUP_WINDOW, 0},
      {"one past a window", DEDUP_WINDOW + 1, 3000},
      {"nearly all distinct, past the move", 3 * PARTITIONS_FROM, 0},
      {"large vocabulary", 3 * PARTITIONS_FROM, 2 * PARTITIONS_FROM},
  };
  for (const Shape& s : shapes) {
    SCOPED_TRACE(s.name);
    std::vector<std::string> vocabulary;
    for (std::size_t k = 0; k < s.vocabulary; ++k) vocabulary.push_back(random_word(rng, 1, 6));
    Tokens t;
    for (std::size_t i = 0; i < s.n; ++i) {
      t.add(s.vocabulary != 0 ? vocabulary[rng() % s.vocabulary] : random_word(rng, 1, 12));
    }
    check_every_route(t);
  }
}

TEST(InternKeys, LaterSpansReuseValuesMadeBeforeTheMove) {
  // Distinct words until well past the move, then all of them again in reverse: every repeat after the move
  // finds a value made on one route or the other.
  Tokens t;
  const std::size_t n = 2 * PARTITIONS_FROM;
  for (std::size_t i = 0; i < n; ++i) t.add(std::to_string(i));
  for (std::size_t i = n; i-- > 0;) t.add(std::to_string(i));
  check_every_route(t);
}

// A hash that sends many different texts to one key: the routes must tell them apart by their texts.
struct LengthHash {
  std::uint64_t operator()(std::string_view s) const noexcept { return s.size() * 0x9E3779B97F4A7C15ull; }
};
struct ConstantHash {
  std::uint64_t operator()(std::string_view) const noexcept { return 0xFFFF'FFFF'FFFF'FFFFull; }
};

TEST(InternKeys, TextsWithEqualHashesStayApart) {
  std::mt19937_64 rng(11);
  Tokens t;
  for (std::size_t i = 0; i < 6000; ++i) t.add(random_word(rng, 1, 3));
  {
    SCOPED_TRACE("hash by length");
    check_every_route(t, LengthHash{});
  }
  {
    SCOPED_TRACE("one hash for all");
    check_every_route(t, ConstantHash{});
  }
}

TEST(InternKeys, AFailingMakeLeavesTheSpansBeforeItFilled) {
  std::mt19937_64 rng(5);
  Tokens t;
  for (std::size_t i = 0; i < 2 * PARTITIONS_FROM; ++i) t.add(random_word(rng, 2, 10));
  for (const DedupRoute route : ROUTES) {
    for (const std::size_t fail_at : {std::size_t{0}, std::size_t{100}, PARTITIONS_FROM + 5}) {
      SCOPED_TRACE(std::string(route_name(route)) + " fails at make " + std::to_string(fail_at));
      DedupScratch scratch;
      ModelInterner m(t, fail_at);
      EXPECT_THROW(intern_keys(SpanKeys<>{t.text, t.spans.data()}, t.spans.size(), scratch, m, route),
                   std::bad_alloc);
      ASSERT_EQ(m.made().size(), fail_at);
      // Filled up to the first occurrence of distinct text number fail_at (counting from 0), and no further.
      std::map<std::string_view, std::size_t> seen;
      std::size_t failing = 0;
      while (!seen.try_emplace(span_text(t.text, t.spans[failing]), failing).second || seen.size() <= fail_at) {
        ++failing;
      }
      ASSERT_EQ(m.filled(), failing);
      for (std::size_t i = failing; i < t.spans.size(); ++i) ASSERT_EQ(m.values()[i], 0u) << i;
    }
  }
}

TEST(InternKeys, PartitionsForWideIndices) {
  // More than 2^32 spans take 64-bit indices: the same route, checked here on a small text.
  std::mt19937_64 rng(3);
  Tokens t;
  for (std::size_t i = 0; i < 20'000; ++i) t.add(random_word(rng, 1, 4));
  for (const std::size_t from : {std::size_t{0}, std::size_t{700}}) {
    SCOPED_TRACE("from " + std::to_string(from));
    DedupScratch scratch;
    ModelInterner m(t);
    // The spans before `from` are filled as the table route would have.
    const SpanKeys<> keys{t.text, t.spans.data()};
    dedup_detail::TableRoute<SpanKeys<>, ModelInterner> table(keys, scratch, m);
    for (std::size_t i = 0; i < from; ++i) table.item(i);
    dedup_detail::partition_route(keys, from, t.spans.size(), scratch.first64, scratch, m);
    expect_first_occurrences(t, m);
  }
}

}  // namespace
}  // namespace quillex::engine
