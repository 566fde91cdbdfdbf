// SkipTo's search: the answers remembered inside a match session and the unanchored search of Regex targets
// against the plain rule (one target test at every boundary), and the number of target tests a scan costs.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "elements/chars.h"
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
  explicit Counted(ElementRef inner) : Element(Kind::Char), inner_(std::move(inner)) {}
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

TEST(SkipToSearch, RegexTargetsSearchedUnanchoredOnlyWhenNothingBeforeTheStartCounts) {
  const struct {
    const char* pattern;
    bool searched;
  } cases[] = {
      {"x+y", true},         {"[^x]+y", true},     {"a$", true},          {"(?i)abc", true},
      {"(?s:.)y", true},     {"\\^x", true},       {"[\\]^]", true},      {"(?P<m>x)", true},
      {"\\pL\\d", true},     {"", true},           {"^x", false},         {"a|^b", false},
      {"\\Ax", false},       {"\\bx", false},      {"x\\B", false},       {"(?m)x$", false},
      {"(?sm:x)", false},    {"\\Cx", false},      {"\\Q^\\E", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(skip_to(regex(c.pattern))->target_regex() != nullptr, c.searched);
  }
  EXPECT_EQ(skip_to(lit("x"))->target_regex(), nullptr);
}

}  // namespace
}  // namespace quillex
