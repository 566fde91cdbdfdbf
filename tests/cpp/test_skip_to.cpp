// SkipTo's search: the answers remembered inside a match session and the unanchored search of Regex targets
// against the plain rule (one target test at every boundary), and the number of target tests a scan costs.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "elements/chars.h"
#include "elements/forward.h"
#include "elements/literals.h"
#include "elements/match_session.h"
#include "elements/positional.h"
#include "elements/regex.h"
#include "elements/structure.h"
#include "engine/scan.h"
#include "engine/skip_to_scan.h"
#include "routes.h"

namespace quillex {
namespace {

const std::string E_ACUTE = "\xC3\xA9";

ElementRef regex(std::string_view pattern) {
  RegexBuild b = make_regex_element(pattern);
  EXPECT_TRUE(b.element) << pattern << ": " << b.error;
  return b.element;
}
ElementRef lit(std::string_view s) { return make_literal_element(s); }
ElementRef seq(ElementList c) { return make_element<AndElement>(std::move(c)); }
ElementRef opt(ElementRef e) { return make_element<OptionalElement>(std::move(e)); }
ElementRef zero_or_more(ElementRef e) { return make_element<ZeroOrMoreElement>(std::move(e)); }
Ref<const SkipToElement> skip_to(ElementRef e) { return make_element<SkipToElement>(std::move(e)); }

using testing::BeforeByte;

// Another element's rule, counting its tests.
class Counted final : public Element {
 public:
  explicit Counted(ElementRef inner) : Element(testing::TEST_ELEMENT_KIND), inner_(std::move(inner)) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override { return inner_->parse(text, pos); }
  MatchResult try_match_at(std::string_view text, Pos pos) const override {
    ++tests;
    return inner_->try_match_at(text, pos);
  }
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override {
    return inner_->parse_into(text, pos, out);
  }
  mutable std::uint64_t tests = 0;

 private:
  ~Counted() override = default;
  ElementRef inner_;
};

// The rule written out: the target tested at pos, then at every later boundary in turn.
std::optional<Pos> plain_skip_to(const Element& target, std::string_view text, Pos pos) {
  if (target.try_match_at(text, pos).matched) return pos;
  if (!is_char_boundary(text, pos)) return std::nullopt;
  for (Pos i = pos + 1; i <= text.size(); ++i) {
    if (is_char_boundary(text, i) && target.try_match_at(text, i).matched) return i;
  }
  return std::nullopt;
}

std::optional<Pos> end_of(MatchResult m) { return m.matched ? std::optional<Pos>(m.end) : std::nullopt; }

// Every start in the order a scan takes, then backwards, then shuffled, all in one session (so each answer may
// come from a memo made by an earlier start), and once more outside any session.
std::vector<Pos> query_order(std::size_t size, std::mt19937& rng) {
  std::vector<Pos> order;
  for (Pos p = 0; p <= size; ++p) order.push_back(p);
  for (Pos p = size + 1; p-- > 0;) order.push_back(p);
  std::vector<Pos> shuffled(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(size + 1));
  std::shuffle(shuffled.begin(), shuffled.end(), rng);
  order.insert(order.end(), shuffled.begin(), shuffled.end());
  return order;
}

// Targets over the alphabet {a, b, é}: overlapping candidates, empty matches, matches only at the end or inside a
// character, Regex targets searched unanchored and Regex targets that must be tested at each position.
std::vector<std::pair<std::string, ElementRef>> targets() {
  return {
      {"a", lit("a")},
      {"aa", lit("aa")},
      {"ab", lit("ab")},
      {"é", lit(E_ACUTE)},
      {"Empty", make_element<EmptyElement>()},
      {"StringEnd", make_element<StringEndElement>()},
      {"inside é", make_element<BeforeByte>('\xA9')},
      {"Optional(b)", opt(lit("b"))},
      {"Word(é)", make_element<WordElement>(E_ACUTE, std::nullopt)},
      {"a+SkipTo(b)", seq({lit("a"), skip_to(lit("b"))})},
      {"/a+b/", regex("a+b")},
      {"/a*/", regex("a*")},
      {"/b|é/", regex("b|é")},
      {"/[^a]a/", regex("[^a]a")},
      {"/é$/", regex("é$")},
      {"/(?:)/", regex("")},
      {"/\\ba/", regex("\\ba")},
      {"/^a|b/", regex("^a|b")},
      {"/\\Cb/", regex("\\Cb")},
  };
}

TEST(SkipToSearch, AgreesWithThePlainRuleFromEveryStartInAnyOrder) {
  std::mt19937 rng(5);
  const std::vector<std::string> texts = testing::small_world_texts({"a", "b", E_ACUTE}, 5);
  for (const auto& [name, target] : targets()) {
    const Ref<const SkipToElement> s = skip_to(target);
    for (const std::string& text : texts) {
      SCOPED_TRACE("SkipTo(" + name + ") on '" + text + "'");
      const std::vector<Pos> order = query_order(text.size(), rng);
      {
        MatchSession session;
        for (Pos p : order) {
          ASSERT_EQ(end_of(s->try_match_at(text, p)), plain_skip_to(*target, text, p)) << "at " << p;
        }
      }
      for (Pos p = 0; p <= text.size(); ++p) {
        ASSERT_EQ(end_of(s->try_match_at(text, p)), plain_skip_to(*target, text, p)) << "no session, at " << p;
      }
    }
  }
  EXPECT_FALSE(take_recursion_overflow());
}

// SkipTo's own scan against the common scan over its rule, tested at every start outside any session. The target
// that matches only inside a character is the one case where a start after the last boundary answer matches.
TEST(SkipToSearch, OwnScanReportsWhatTheCommonScanReports) {
  using Spans = std::vector<std::pair<Pos, Pos>>;
  std::vector<std::string> texts = testing::small_world_texts({"a", "b", E_ACUTE}, 5);
  // Characters past the first eight bytes, where the search for the next one inside a character goes by words.
  for (const std::string& t : {"aaaaaaaaaa" + E_ACUTE + "b", "aaaaaaa" + E_ACUTE + "aaaaaaaaa" + E_ACUTE,
                               E_ACUTE + E_ACUTE + E_ACUTE + E_ACUTE + E_ACUTE + E_ACUTE}) {
    texts.push_back(t);
  }
  for (const auto& [name, target] : targets()) {
    const Ref<const SkipToElement> s = skip_to(target);
    for (const std::string& text : texts) {
      SCOPED_TRACE("SkipTo(" + name + ") on '" + text + "'");
      Spans own, common;
      {
        MatchSession session;
        engine::scan_skip_to_matches(*s, text, [&own](Pos b, Pos e) { own.emplace_back(b, e); });
      }
      engine::scan_element_matches(*s, text, [&common](Pos b, Pos e) { common.emplace_back(b, e); });
      ASSERT_EQ(own, common);
    }
  }
}

TEST(SkipToSearch, NextInsideCharFindsTheFirstContinuationByteAtEveryAlignment) {
  for (std::size_t k = 0; k < 18; ++k) {
    const std::string text = std::string(k, 'a') + E_ACUTE + "\xE2\x82\xAC" + std::string(9, 'b');
    for (Pos p = 0; p <= text.size(); ++p) {
      Pos expected = p;
      while (expected < text.size() && !is_continuation_byte(static_cast<unsigned char>(text[expected]))) ++expected;
      ASSERT_EQ(engine::next_inside_char(text, p), expected) << k << " letters, from " << p;
    }
  }
}

// Two texts of one session, queried in turn, and a text changed in place between two sessions at the same
// address: a memo answers only for its own text and session. A nested session (a call made while another runs)
// ends the outer session's memos too.
TEST(SkipToSearch, MemosAnswerOnlyForTheirTextAndSession) {
  const Ref<const SkipToElement> s = skip_to(lit("b"));
  const std::string one = "aaab", other = "aaaa";
  {
    MatchSession session;
    for (Pos p = 0; p <= 4; ++p) {
      EXPECT_EQ(end_of(s->try_match_at(one, p)), p <= 3 ? std::optional<Pos>(3) : std::nullopt);
      EXPECT_EQ(end_of(s->try_match_at(other, p)), std::nullopt);
    }
  }
  std::string text = "aaaa";
  {
    MatchSession session;
    EXPECT_FALSE(s->try_match_at(text, 0).matched);
  }
  text[2] = 'b';
  {
    MatchSession session;
    EXPECT_EQ(end_of(s->try_match_at(text, 1)), 2u);
    { MatchSession nested; }
    text[2] = 'a';
    text[3] = 'b';
    EXPECT_EQ(end_of(s->try_match_at(text, 1)), 3u);
  }
}

// A memo made by a session on one thread is not read by a session on another, even while the first is still
// open and when the text at the same address has changed in between: both sessions are the first of new
// threads, so stamps counted per thread would be equal.
TEST(SkipToSearch, MemosDoNotPassBetweenThreads) {
  const Ref<const SkipToElement> s = skip_to(lit("b"));
  std::string text = "aaab";
  std::optional<Pos> first, second;
  std::thread([&] {
    MatchSession session;
    first = end_of(s->try_match_at(text, 0));
    std::thread([&] {
      text[1] = 'b';
      MatchSession own;
      second = end_of(s->try_match_at(text, 0));
    }).join();
  }).join();
  EXPECT_EQ(first, 3u);
  EXPECT_EQ(second, 1u);
}

// Sixteen SkipTos tried in turn at every start of a scan, each searching for its own absent target: every one
// keeps its own memo, so the target tests grow with the text, not with its square (which the per-start searches
// of targets that lose their memos to each other would cost, 16 times as many at four times the length).
TEST(SkipToSearch, ManyTargetsInOneChoiceKeepTheScanLinear) {
  std::vector<Ref<const Counted>> targets;
  ElementList alternatives;
  for (char c = 'b'; c < 'b' + 16; ++c) {
    targets.push_back(make_element<Counted>(lit(std::string(1, c))));
    alternatives.push_back(skip_to(targets.back()));
  }
  const ElementRef choice = make_element<MatchFirstElement>(std::move(alternatives));
  const auto tests_of_a_scan = [&](std::size_t n) {
    for (const auto& t : targets) t->tests = 0;
    const std::string text(n, 'a');
    std::uint64_t matches = 0;
    MatchSession session;
    engine::scan_element_matches(*choice, text, [&matches](Pos, Pos) { ++matches; });
    EXPECT_EQ(matches, 0u);
    std::uint64_t tests = 0;
    for (const auto& t : targets) tests += t->tests;
    return tests;
  };
  const std::uint64_t at_n = tests_of_a_scan(500);
  const std::uint64_t at_4n = tests_of_a_scan(2000);
  EXPECT_LE(at_n, 16 * 3 * 501u);
  EXPECT_LE(at_4n, 5 * at_n);
}

// The number of target tests of whole scans over 'a' * 400: a memo per target keeps it linear where the plain
// rule takes one new search per start (about 80,000 tests).
TEST(SkipToSearch, ScansTestEachPositionOfTheTextABoundedNumberOfTimes) {
  const std::string text(400, 'a');
  struct Case {
    const char* name;
    std::function<ElementRef(ElementRef)> grammar;
    std::string target_text;
  };
  const Case cases[] = {
      {"SkipTo(absent)", [](ElementRef t) { return skip_to(t); }, "end"},
      {"SkipTo(present at every start)", [](ElementRef t) { return skip_to(t); }, "a"},
      {"a + SkipTo(absent)", [](ElementRef t) { return seq({lit("a"), skip_to(t)}); }, "end"},
      {"SkipTo(absent) + a", [](ElementRef t) { return seq({skip_to(t), lit("a")}); }, "end"},
      {"two SkipTos of one target", [](ElementRef t) { return seq({skip_to(t), lit("a"), skip_to(t)}); }, "end"},
      {"ZeroOrMore(Optional(SkipTo(absent)) + a)",
       [](ElementRef t) { return zero_or_more(seq({opt(skip_to(t)), lit("a")})); }, "end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Ref<const Counted> target = make_element<Counted>(lit(c.target_text));
    const ElementRef g = c.grammar(target);
    std::uint64_t matches = 0;
    {
      MatchSession session;
      engine::scan_element_matches(*g, text, [&matches](Pos, Pos) { ++matches; });
    }
    EXPECT_LE(target->tests, 3 * (text.size() + 1));
    target->tests = 0;
    std::uint64_t plain_matches = 0;
    engine::scan_element_matches(*g, text, [&plain_matches](Pos, Pos) { ++plain_matches; });
    EXPECT_EQ(matches, plain_matches);
  }
}

// The plain rule as an element of its own: the target tested at pos, then at every later boundary, nothing
// remembered. A grammar built twice, once with SkipTo and once with this in its place, must match alike.
class PlainSkipTo final : public Element {
 public:
  explicit PlainSkipTo(ElementRef target) : Element(testing::TEST_ELEMENT_KIND), target_(std::move(target)) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override {
    const MatchResult m = try_match_at(text, pos);
    if (m.matched) return ParseOutcome::success(m.end);
    return ParseOutcome::failure(SharedStr::make("not found"), pos);
  }
  MatchResult try_match_at(std::string_view text, Pos pos) const override {
    const std::optional<Pos> end = plain_skip_to(*target_, text, pos);
    return end ? MatchResult{true, *end} : MatchResult{false, 0};
  }
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override {
    const MatchResult m = try_match_at(text, pos);
    return m.matched ? m : out.fail("not found", pos);
  }

 private:
  ~PlainSkipTo() override = default;
  ElementRef target_;
};

// A grammar description built into twin elements. Node k's children are nodes below k, so one node may be the
// child of several (one target shared by several SkipTos, or a SkipTo inside another's target); node 0 is a
// Forward whose inner element is the last node, so grammars may recurse through it.
struct TwinGrammar {
  enum Op { Atom, Seq, Alt, Opt, Many, Skip, Fwd };
  struct Node {
    Op op;
    int atom = 0;
    std::vector<int> kids;
  };
  std::vector<Node> nodes;

  static ElementRef atom(int k) {
    switch (k) {
      case 0: return lit("a");
      case 1: return lit("ab");
      case 2: return lit(E_ACUTE);
      case 3: return regex("a+b");
      case 4: return regex("b|é");
      case 5: return regex("\\ba");
      case 6: return regex("é$");
      case 7: return regex("a*");
      case 8: return make_element<WordElement>("b" + E_ACUTE, std::nullopt);
      case 9: return make_element<BeforeByte>('\xA9');
      case 10: return make_element<StringEndElement>();
      default: return regex("(?m)b$|" + E_ACUTE + "a");
    }
  }
  static constexpr int ATOMS = 12;

  // The elements of every node, with SkipTo (`plain` false) or PlainSkipTo; `forward` is set to the last node.
  std::vector<ElementRef> build(bool plain, const Ref<const ForwardElement>& forward) const {
    std::vector<ElementRef> made(nodes.size());
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      const Node& n = nodes[k];
      auto kid = [&](std::size_t j) { return made[static_cast<std::size_t>(n.kids[j])]; };
      switch (n.op) {
        case Fwd: made[k] = forward; break;
        case Atom: made[k] = atom(n.atom); break;
        case Seq: made[k] = seq({kid(0), kid(1)}); break;
        case Alt: {
          ElementList alts;
          for (std::size_t j = 0; j < n.kids.size(); ++j) alts.push_back(kid(j));
          made[k] = make_element<MatchFirstElement>(std::move(alts));
          break;
        }
        case Opt: made[k] = opt(kid(0)); break;
        case Many: made[k] = zero_or_more(kid(0)); break;
        case Skip:
          made[k] = plain ? ElementRef(make_element<PlainSkipTo>(kid(0))) : ElementRef(skip_to(kid(0)));
          break;
      }
    }
    forward_set_inner(*forward, made.back());
    return made;
  }

  static TwinGrammar random(std::mt19937& rng, int size) {
    TwinGrammar g;
    g.nodes.push_back({Fwd});
    auto pick = [&rng](int n) { return static_cast<int>(std::uniform_int_distribution<int>(0, n - 1)(rng)); };
    // The Forward is reached only as the second child of a Seq whose first child is node 1, an "a": every
    // recursion consumes a character first, so every match ends.
    for (int k = 1; k < size; ++k) {
      const int below = static_cast<int>(g.nodes.size());
      auto any = [&] { return 1 + pick(below - 1); };
      const int r = k < 3 ? 0 : pick(10);
      Node n;
      if (r <= 1) {
        n = {Atom, pick(ATOMS)};
      } else if (r <= 3) {
        n = {Skip, 0, {any()}};
      } else if (r == 4) {
        n = {Seq, 0, {any(), any()}};
      } else if (r == 5) {
        n = {Seq, 0, {1, 0}};  // "a", then the Forward
      } else if (r <= 7) {
        n = {Alt, 0, {}};
        for (int j = 1 + pick(3); j >= 0; --j) n.kids.push_back(any());
      } else if (r == 8) {
        n = {Opt, 0, {any()}};
      } else {
        n = {Many, 0, {any()}};
      }
      g.nodes.push_back(n);
    }
    g.nodes[1] = {Atom, 0};
    return g;
  }
};

// Random grammars with SkipTos nested in each other's targets, sharing targets, inside choices, repetitions and
// recursion through a Forward, against their twins with the plain rule, queried from every start in any order
// inside one session (so every memo of the grammar's several targets is made, read and evicted in turn).
TEST(SkipToSearch, RandomGrammarsMatchTheirPlainTwins) {
  std::mt19937 rng(11);
  const std::vector<std::string> texts = testing::small_world_texts({"a", "b", E_ACUTE}, 4);
  for (int round = 0; round < 120; ++round) {
    const TwinGrammar g = TwinGrammar::random(rng, 4 + round % 9);
    const Ref<const ForwardElement> fast_forward = make_element<ForwardElement>();
    const Ref<const ForwardElement> plain_forward = make_element<ForwardElement>();
    const std::vector<ElementRef> fast = g.build(false, fast_forward);
    const std::vector<ElementRef> plain = g.build(true, plain_forward);
    for (const std::string& text : texts) {
      const std::vector<Pos> order = query_order(text.size(), rng);
      MatchSession session;
      for (Pos p : order) {
        for (std::size_t k = 1; k < fast.size(); ++k) {
          const MatchResult want = plain[k]->try_match_at(text, p);
          ASSERT_FALSE(take_recursion_overflow());
          ASSERT_EQ(end_of(fast[k]->try_match_at(text, p)), end_of(want))
              << "round " << round << ", node " << k << " on '" << text << "' at " << p;
        }
      }
    }
    forward_set_inner(*fast_forward, nullptr);
    forward_set_inner(*plain_forward, nullptr);
  }
}

// Twelve SkipTos, each with its own target and memo, searched in turn within one session.
TEST(SkipToSearch, ManyTargetsInOneChoiceMatchTheirPlainTwins) {
  ElementList fast_alts, plain_alts;
  for (int k = 0; k < 12; ++k) {
    const ElementRef target = seq({TwinGrammar::atom(k), lit(k % 2 ? "b" : E_ACUTE)});
    fast_alts.push_back(seq({lit("a"), skip_to(target)}));
    plain_alts.push_back(seq({lit("a"), make_element<PlainSkipTo>(target)}));
  }
  const ElementRef fast = zero_or_more(make_element<MatchFirstElement>(std::move(fast_alts)));
  const ElementRef plain = zero_or_more(make_element<MatchFirstElement>(std::move(plain_alts)));
  std::mt19937 rng(3);
  for (const std::string& text : testing::small_world_texts({"a", "b", E_ACUTE}, 6)) {
    MatchSession session;
    for (Pos p : query_order(text.size(), rng)) {
      ASSERT_EQ(end_of(fast->try_match_at(text, p)), end_of(plain->try_match_at(text, p))) << text << " at " << p;
    }
  }
}

TEST(SkipToSearch, RegexTargetsSearchedUnanchoredOnlyWhenNothingBeforeTheStartCounts) {
  const struct {
    const char* pattern;
    bool searched;
  } cases[] = {
      {"x+y", true},        {"[^x]+y", true},    {"a$", true},         {"(?i)abc", true},
      {"(?s:.)y", true},    {"\\^x", true},      {"[\\]^]", true},     {"(?P<m>x)", true},
      {"\\pL\\d", true},    {"", true},          {"(?m)x$", true},     {"(?sm:x)", true},
      {"[]^]", true},       {"[^^]", true},      {"\\Q^\\E", true},    {"x\\z", true},
      {"^x", false},        {"a|^b", false},     {"a|(?:^b)", false},  {"(?m)^x", false},
      {"\\\\^x", false},     {"\\Ax", false},     {"\\bx", false},      {"x\\B", false},
      {"\\Cx", false},      {"\\Qa\\E^", false},  {"\\Qa\\\\b\\E", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(skip_to(regex(c.pattern))->target_regex() != nullptr, c.searched);
  }
  EXPECT_EQ(skip_to(lit("x"))->target_regex(), nullptr);
}

}  // namespace
}  // namespace quillex
