// Element core, constant, positional and Forward kinds.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "alloc_counter.h"
#include "routes.h"
#include "elements/forward.h"
#include "elements/literals.h"
#include "elements/positional.h"
#include "elements/structure.h"

namespace quillex {
namespace {

using testing::RouteCase;
using testing::token_texts;
using testing::verify_case;

TEST(PositionalAndConstantKinds, AllRoutesAgree) {
  ElementRef empty = make_element<EmptyElement>();
  ElementRef none = make_element<NoMatchElement>();
  ElementRef ls = make_element<LineStartElement>();
  ElementRef le = make_element<LineEndElement>();
  ElementRef ss = make_element<StringStartElement>();
  ElementRef se = make_element<StringEndElement>();
  ElementRef rol = make_element<RestOfLineElement>();
  const std::string nomatch = "NoMatch will never match";
  const RouteCase cases[] = {
      {"Empty", empty, "", 0, 0, {}, ""},
      {"Empty", empty, "xyz", 3, 3, {}, ""},
      {"Empty", empty, "xyz", 0, 0, {}, ""},
      {"NoMatch", none, "", 0, std::nullopt, {}, nomatch},
      {"NoMatch", none, "ab", 1, std::nullopt, {}, nomatch},
      {"LineStart", ls, "a\nb", 0, 0, {}, ""},
      {"LineStart", ls, "a\nb", 1, std::nullopt, {}, "Expected start of line"},
      {"LineStart", ls, "a\nb", 2, 2, {}, ""},
      {"LineStart", ls, "a\nb", 3, std::nullopt, {}, "Expected start of line"},
      {"LineStart", ls, "a\n", 2, 2, {}, ""},
      {"LineStart", ls, "", 0, 0, {}, ""},
      {"LineStart", ls, "xy", 0, 0, {}, ""},
      {"LineEnd", le, "a\r\nb", 1, std::nullopt, {}, "Expected end of line"},
      {"LineEnd", le, "a\r\nb", 2, 3, {"\n"}, ""},
      {"LineEnd", le, "ab", 2, 2, {"\n"}, ""},
      {"LineEnd", le, "", 0, 0, {"\n"}, ""},
      {"LineEnd", le, "\nx", 0, 1, {"\n"}, ""},
      {"LineEnd", le, "x", 0, std::nullopt, {}, "Expected end of line"},
      {"StringStart", ss, "ab", 0, 0, {}, ""},
      {"StringStart", ss, "ab", 1, std::nullopt, {}, "Expected start of string"},
      {"StringEnd", se, "", 0, 0, {}, ""},
      {"StringEnd", se, "ab", 2, 2, {}, ""},
      {"StringEnd", se, "x", 0, std::nullopt, {}, "Expected end of string"},
      {"rest_of_line", rol, "abc\ndef", 0, 3, {"abc"}, ""},
      {"rest_of_line", rol, "abc\ndef", 3, 3, {""}, ""},
      {"rest_of_line", rol, "abc\ndef", 4, 7, {"def"}, ""},
      {"rest_of_line", rol, "abc\ndef", 7, 7, {""}, ""},
      {"rest_of_line", rol, "", 0, 0, {""}, ""},
      // Inside a two-byte character: no match, its token would split the character.
      {"rest_of_line", rol, "\xC3\xA9x", 1, std::nullopt, {}, "Expected rest of line"},
      {"rest_of_line", rol, "\xC3\xA9x", 0, 3, {"\xC3\xA9x"}, ""},
  };
  for (const RouteCase& c : cases) verify_case(c);
}

TEST(RestOfLine, FindsNewlinesPastTheFirstBlockAndInTheTail) {
  ElementRef rol = make_element<RestOfLineElement>();
  for (std::size_t nl : {0u, 7u, 15u, 16u, 17u, 40u, 85u, 99u}) {
    std::string text(100, 'x');
    text[nl] = '\n';
    for (Pos pos = 0; pos <= nl; ++pos) {
      MatchResult m = rol->try_match_at(text, pos);
      ASSERT_TRUE(m.matched);
      ASSERT_EQ(m.end, nl) << "newline at " << nl << " from " << pos;
    }
  }
  std::string no_newline(100, 'x');
  EXPECT_EQ(rol->try_match_at(no_newline, 3).end, 100u);
}

TEST(NoMatch, EachFailureMakesItsOwnMessage) {
  ElementRef none = make_element<NoMatchElement>();
  ParseOutcome a = none->parse("x", 0);
  ParseOutcome b = none->parse("x", 0);
  EXPECT_NE(a.error.message.get(), b.error.message.get());
  EXPECT_EQ(a.error.message->view(), b.error.message->view());
}

TEST(RestOfLine, FailuresShareTheStoredMessage) {
  auto rol = make_element<RestOfLineElement>();
  ParseOutcome o = rol->parse("ab", 3);
  ASSERT_FALSE(o.ok);
  EXPECT_EQ(o.error.message.get(), rol->message().get());
}

TEST(Forward, EmptySetAndReplaced) {
  auto fwd = make_element<ForwardElement>();
  ParseOutcome o = fwd->parse("abc", 3);
  ASSERT_FALSE(o.ok);
  EXPECT_EQ(o.error.message->view(), "Forward not initialized");
  EXPECT_EQ(o.error.position, 3u);
  EXPECT_FALSE(fwd->try_match_at("abc", 0).matched);
  StartOutcome s = fwd->parse_at_start("abc");
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(s.error.position, 0u);

  const std::size_t before = live_element_count();
  forward_set_inner(*fwd, make_element<LineEndElement>());
  EXPECT_EQ(live_element_count(), before + 1);
  ParseOutcome m = fwd->parse("\n", 0);
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.end, 1u);
  EXPECT_EQ(token_texts(m.tokens), std::vector<std::string>{"\n"});
  ParseOutcome f = fwd->parse("x", 0);
  ASSERT_FALSE(f.ok);
  EXPECT_EQ(f.error.message->view(), "Expected end of line");

  // Replacing releases (and here destroys) the first inner element.
  forward_set_inner(*fwd, make_element<StringEndElement>());
  EXPECT_EQ(live_element_count(), before + 1);
  EXPECT_TRUE(fwd->try_match_at("ab", 2).matched);
  EXPECT_FALSE(fwd->try_match_at("ab", 1).matched);
  EXPECT_FALSE(take_recursion_overflow());
}

TEST(Forward, SetToItselfUnwindsWithTheOverflowFlag) {
  auto fwd = make_element<ForwardElement>();
  forward_set_inner(*fwd, fwd);
  EXPECT_FALSE(fwd->try_match_at("abc", 0).matched);
  EXPECT_TRUE(take_recursion_overflow());
  EXPECT_FALSE(fwd->parse("abc", 1).ok);
  EXPECT_TRUE(take_recursion_overflow());
  EXPECT_FALSE(take_recursion_overflow());
  EXPECT_EQ(recursion_state().depth, 0u);
  // Break the cycle so the element is freed.
  forward_set_inner(*fwd, nullptr);
}

TEST(ElementLifetime, MillionLongChainIsMatchedAndFreedWithoutDeepRecursion) {
  const std::size_t before = live_element_count();
  {
    auto head = make_element<ForwardElement>();
    Ref<const ForwardElement> tail = head;
    for (int i = 0; i < 1000000; ++i) {
      auto next = make_element<ForwardElement>();
      forward_set_inner(*tail, next);
      tail = std::move(next);
    }
    forward_set_inner(*tail, make_element<EmptyElement>());
    EXPECT_FALSE(head->try_match_at("", 0).matched);
    EXPECT_TRUE(take_recursion_overflow());
    EXPECT_GT(live_element_count(), before + 1000000);
  }
  EXPECT_EQ(live_element_count(), before);
}

// Freeing queues no element in storage of its own, so it cannot fail for want of memory: a choice a hundred
// thousand alternatives wide, each a chain of nested holders, freed on this thread and as the first release on
// a new one (whose teardown state must need nothing on first use either).
TEST(ElementLifetime, FreeingAWideAndDeepGrammarAllocatesNothing) {
  const auto build = [] {
    ElementList alternatives;
    for (int i = 0; i < 100000; ++i) {
      ElementRef e = make_literal_element(std::to_string(i));
      if (i % 1000 == 0) {
        for (int depth = 0; depth < 1000; ++depth) e = make_element<GroupElement>(std::move(e));
      }
      alternatives.push_back(std::move(e));
    }
    ElementRef wide = make_element<MatchFirstElement>(std::move(alternatives));
    return make_element<AndElement>(ElementList{wide, make_element<OptionalElement>(wide)});
  };
  const std::size_t before = live_element_count();
  for (const bool on_new_thread : {false, true}) {
    SCOPED_TRACE(on_new_thread ? "first release on a new thread" : "this thread");
    ElementRef grammar = build();
    EXPECT_EQ(live_element_count(), before + 100000 + 100 * 1000 + 3);
    std::size_t allocations = 0;
    const auto release = [&] {
      testing::AllocationScope scope;
      grammar = nullptr;
      allocations = scope.count();
    };
    if (on_new_thread) {
      std::thread(release).join();
    } else {
      release();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(live_element_count(), before);
  }
}

TEST(Tokens, AppendMovesWithoutTouchingCounts) {
  StrRef a = SharedStr::make("a");
  StrRef b = SharedStr::make("b");
  TokenList head{a};
  TokenList tail{b, b};
  EXPECT_EQ(b->use_count(), 3u);
  append_tokens(head, std::move(tail));
  EXPECT_EQ(head.size(), 3u);
  EXPECT_EQ(b->use_count(), 3u);
  EXPECT_EQ(a->use_count(), 2u);
}

}  // namespace
}  // namespace quillex
