// And's test steps (children tested with their wrappers taken off, terminals tested in place) and MatchFirst's
// first-byte table against the plain rule of each kind: every combinator enters its guard and asks each child
// in turn. Generated grammars of every kind over texts with multi-byte characters, grammars made before their
// Forward is set or set again, and recursion that overflows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alloc_counter.h"
#include "elements/forward.h"
#include "elements/structure.h"
#include "generated_grammars.h"

namespace quillex {
namespace {

using namespace quillex::testing;

// The plain rule: what try_match_at gave before the steps and the table, written out kind by kind; the
// terminals, SkipTo and Exactly answer with their own test.
MatchResult plain_match(const Element& e, std::string_view text, Pos pos) {
  constexpr MatchResult NO{false, 0};
  switch (e.kind()) {
    case Kind::And: {
      DepthGuard guard;
      if (!guard.ok()) return NO;
      Pos p = pos;
      for (const ElementRef& child : static_cast<const AndElement&>(e).children()) {
        const MatchResult m = plain_match(*child, text, p);
        if (!m.matched) return NO;
        p = m.end;
      }
      return {true, p};
    }
    case Kind::MatchFirst: {
      DepthGuard guard;
      if (!guard.ok()) return NO;
      for (const ElementRef& a : static_cast<const MatchFirstElement&>(e).alternatives()) {
        const MatchResult m = plain_match(*a, text, pos);
        if (m.matched) return m;
        if (recursion_overflowed()) return NO;
      }
      return NO;
    }
    case Kind::Optional: {
      DepthGuard guard;
      if (!guard.ok()) return NO;
      const MatchResult m = plain_match(*static_cast<const InnerElement&>(e).inner(), text, pos);
      if (m.matched) return m;
      if (recursion_overflowed()) return NO;
      return {true, pos};
    }
    case Kind::ZeroOrMore:
    case Kind::OneOrMore: {
      DepthGuard guard;
      if (!guard.ok()) return NO;
      const Element& inner = *static_cast<const InnerElement&>(e).inner();
      Pos p = pos;
      bool first = true;
      while (!recursion_overflowed()) {
        const MatchResult m = plain_match(inner, text, p);
        if (!m.matched) {
          if (first && e.kind() == Kind::OneOrMore) return NO;
          break;
        }
        first = false;
        if (m.end == p) break;
        p = m.end;
      }
      if (recursion_overflowed()) return NO;
      return {true, p};
    }
    case Kind::Group:
    case Kind::Suppress:
    case Kind::Combine: {
      DepthGuard guard;
      if (!guard.ok()) return NO;
      return plain_match(*static_cast<const InnerElement&>(e).inner(), text, pos);
    }
    case Kind::Forward: {
      const ElementRef inner = static_cast<const ForwardElement&>(e).inner();
      if (!inner) return NO;
      DepthGuard guard;
      if (!guard.ok()) return NO;
      return plain_match(*inner, text, pos);
    }
    default:
      return e.try_match_at(text, pos);
  }
}

struct Tested {
  bool matched;
  Pos end;
  bool overflowed;
  bool operator==(const Tested&) const = default;
};

Tested tested(MatchResult m) { return {m.matched, m.matched ? m.end : 0, take_recursion_overflow()}; }

// Both rules at every position of `text`; a position where either overflows must overflow in both (and ends the
// text: overflowing is slow, and a grammar that overflows mostly overflows everywhere).
void expect_same_tests(const Element& g, std::string_view text, const std::string& name) {
  for (Pos p = 0; p <= text.size(); ++p) {
    const Tested plain = tested(plain_match(g, text, p));
    const Tested fast = tested(g.try_match_at(text, p));
    if (plain.overflowed || fast.overflowed) {
      ASSERT_EQ(fast.overflowed, plain.overflowed) << name << " on '" << text << "' at " << p;
      return;
    }
    ASSERT_EQ(fast, plain) << name << " on '" << text << "' at " << p;
  }
}

TEST(CombinatorSteps, AgreeWithThePlainRuleOnGeneratedGrammars) {
  GrammarMaker maker(29);
  std::size_t dispatching = 0;
  for (int g = 0; g < 2000; ++g) {
    const ElementRef grammar = maker.make(3);
    if (grammar->kind() == Kind::MatchFirst) {
      dispatching += static_cast<const MatchFirstElement&>(*grammar).dispatches_by_first_byte();
    }
    for (int t = 0; t < 10; ++t) expect_same_tests(*grammar, maker.text(12), "grammar " + std::to_string(g));
  }
  EXPECT_GT(dispatching, 50u);  // the table is made for many of them
  EXPECT_EQ(recursion_state().depth, 0u);
}

// Choices of 1 to 64 alternatives (tables of 1-, 2-, 4- and 8-byte entries), each alternative led by its own
// character, so that every one, the last included, is the first to match somewhere; some are also led by '~', and
// one is a Forward (admitted everywhere). The table must admit each exactly where the plain rule takes it.
TEST(CombinatorSteps, ChoicesOfEveryWidthAdmitEachAlternative) {
  for (const std::size_t n : {1u, 7u, 8u, 9u, 16u, 17u, 31u, 32u, 33u, 63u, 64u}) {
    const Ref<const ForwardElement> forward = make_element<ForwardElement>();
    ElementList alternatives;
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
      const std::string own(1, static_cast<char>('!' + i));  // 64 distinct ASCII characters from '!', none '~'
      text += own + E_ACUTE + "~";
      if (i == n / 2 && n > 1) {
        forward_set_inner(*forward, lit(own));
        alternatives.push_back(forward);
      } else if (i % 5 == 3) {
        alternatives.push_back(seq({opt(lit("~")), lit(own)}));
      } else {
        alternatives.push_back(lit(own));
      }
    }
    const ElementRef choice = alt(std::move(alternatives));
    EXPECT_TRUE(static_cast<const MatchFirstElement&>(*choice).dispatches_by_first_byte()) << n;
    expect_same_tests(*choice, text, std::to_string(n) + " alternatives");
    const Pos last = text.size() - 1 - E_ACUTE.size() - 1;  // the last alternative's own character
    const MatchResult m = choice->try_match_at(text, last);
    EXPECT_TRUE(m.matched && m.end == last + 1) << n;
  }
}

// Steps of each kind, with and without their wrappers, over every short text of a small alphabet.
TEST(CombinatorSteps, EachStepKindOnEveryShortText) {
  const ElementRef suppress_word = make_element<SuppressElement>(word("a" + E_ACUTE, std::string_view("ab")));
  const std::vector<ElementRef> children = {
      lit("a"), lit(E_ACUTE), lit(""), word("b"), word(E_ACUTE), regex("[ab]+"), regex("b?"), quoted("'", std::nullopt),
      opt(lit("a")), opt(suppress_word), groups(opt(word("a")), 2), make_element<CombineElement>(regex("a|" + E_ACUTE)),
      opt(opt(opt(opt(opt(lit("b")))))), groups(lit("b"), 6), make_element<BeforeByte>('\xA9'),
      make_element<ZeroOrMoreElement>(lit("a")),
  };
  std::vector<ElementRef> grammars;
  for (const ElementRef& x : children) {
    for (const ElementRef& y : children) {
      grammars.push_back(seq({x, y}));
      grammars.push_back(alt({x, y}));
      grammars.push_back(alt({seq({x, y}), y, x}));
    }
  }
  for (const std::string& text : small_world_texts({"a", "b", "'", E_ACUTE, A_TILDE}, 4)) {
    for (std::size_t g = 0; g < grammars.size(); ++g) expect_same_tests(*grammars[g], text, "grammar " + std::to_string(g));
  }
}

// The table never reads through a Forward: alternatives made before it is set, or led by it, follow what it is
// set to at each call.
TEST(CombinatorSteps, FirstByteTableFollowsForwardsSetLater) {
  Cycle cycle;
  const ElementRef led = alt({lit("x"), cycle.forward, lit("y")});
  const ElementRef behind = alt({lit("x"), seq({opt(lit("-")), cycle.forward}), lit("y")});
  const ElementRef inside = seq({lit("("), alt({lit(")"), seq({cycle.forward, lit(")")})})});
  for (const ElementRef& g : {led, behind, inside}) {
    EXPECT_FALSE(g->try_match_at("(a)", 1).matched);
  }
  forward_set_inner(*cycle.forward, word("a"));
  EXPECT_TRUE(led->try_match_at("a", 0).matched);
  EXPECT_EQ(behind->try_match_at("-aa", 0).end, 3u);
  EXPECT_EQ(inside->try_match_at("(aa)", 0).end, 4u);
  forward_set_inner(*cycle.forward, lit("b"));
  EXPECT_FALSE(led->try_match_at("a", 0).matched);
  EXPECT_TRUE(led->try_match_at("b", 0).matched);
  EXPECT_EQ(inside->try_match_at("(b)", 0).end, 3u);
  EXPECT_TRUE(static_cast<const MatchFirstElement&>(*led).dispatches_by_first_byte());
}

// Tests stay allocation-free, and a grammar that recurses without end, or nests deeper than the stack, still
// overflows through the steps.
TEST(CombinatorSteps, AllocateNothingAndStillOverflow) {
  Cycle parens;  // '(' + Optional(Suppress(f)) + ')' | Word
  forward_set_inner(*parens.forward,
                    alt({seq({lit("("), opt(make_element<SuppressElement>(parens.forward)), lit(")")}), word("ab")}));
  const std::string nested = "((((ab))))";
  {
    AllocationScope counter;
    EXPECT_EQ(parens.forward->try_match_at(nested, 0).end, nested.size());
    EXPECT_EQ(counter.count(), 0u);
  }
  const std::string deep = std::string(400000, '(') + "ab" + std::string(400000, ')');
  EXPECT_FALSE(parens.forward->try_match_at(deep, 0).matched);
  EXPECT_TRUE(take_recursion_overflow());
  Cycle left;  // f = Optional(Suppress(f)) + 'a'
  forward_set_inner(*left.forward, seq({opt(make_element<SuppressElement>(left.forward)), lit("a")}));
  EXPECT_FALSE(left.forward->try_match_at("aa", 0).matched);
  EXPECT_TRUE(take_recursion_overflow());
  EXPECT_EQ(recursion_state().depth, 0u);
}

}  // namespace
}  // namespace quillex
