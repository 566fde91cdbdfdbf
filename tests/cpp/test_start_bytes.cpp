// StartBytes: the bytes at which an element's match can start. The promise is checked over a small world of
// grammars of every kind against every short text and position; a table pins what each kind gives and where the
// reading gives up. Also here: Forward read locks taken again on the same thread, under a writer on another.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "elements/chars.h"
#include "elements/forward.h"
#include "elements/literals.h"
#include "elements/positional.h"
#include "elements/regex.h"
#include "elements/start_bytes.h"
#include "elements/structure.h"
#include "routes.h"

namespace quillex {
namespace {

const std::string E_ACUTE = "\xC3\xA9";  // shares its lead byte 0xC3 with A_TILDE
const std::string A_TILDE = "\xC3\xA3";
const std::string EURO = "\xE2\x82\xAC";

ElementRef lit(std::string_view s) { return make_literal_element(s); }
ElementRef seq(ElementList c) { return make_element<AndElement>(std::move(c)); }
ElementRef alt(ElementList c) { return make_element<MatchFirstElement>(std::move(c)); }
ElementRef word(std::string_view init, std::optional<std::string_view> body = std::nullopt) {
  return make_element<WordElement>(init, body);
}

// A recursive grammar is a reference cycle through its Forward; tests break it so the elements are freed.
struct Cycle {
  Ref<const ForwardElement> forward = make_element<ForwardElement>();
  ~Cycle() { forward_set_inner(*forward, nullptr); }
};

std::string members(const StartBytes& s) {
  if (s.is_any()) return "any";
  std::string out;
  for (unsigned b = 0; b < 256; ++b) {
    if (s.admits(static_cast<unsigned char>(b))) out.push_back(static_cast<char>(b));
  }
  return out;
}

TEST(StartBytes, WhatEachKindAdmits) {
  Cycle left;  // f = f + 'a': a cycle at the same position
  forward_set_inner(*left.forward, seq({left.forward, lit("a")}));
  Cycle parens;  // f = '(' + Optional(f) + ')'
  forward_set_inner(*parens.forward, seq({lit("("), make_element<OptionalElement>(parens.forward), lit(")")}));
  ElementRef deep = lit("x");
  for (int i = 0; i < 20; ++i) deep = make_element<GroupElement>(deep);
  ElementList wide;
  for (int i = 0; i < 2000; ++i) wide.push_back(lit(std::string(1, static_cast<char>('a' + i % 3))));

  const struct {
    const char* name;
    ElementRef element;
    std::string admitted;
  } cases[] = {
      {"Literal", lit("ab"), "a"},
      {"Literal('')", lit(""), "any"},
      {"Literal(é)", lit(E_ACUTE), "\xC3"},
      {"Keyword", make_element<KeywordElement>("if"), "i"},
      {"Keyword('')", make_element<KeywordElement>(""), "any"},
      {"CaselessLiteral", make_element<CaselessLiteralElement>("Ab"), "Aa"},
      {"CaselessLiteral(1)", make_element<CaselessLiteralElement>("1x"), "1"},
      {"CaselessKeyword", make_element<CaselessKeywordElement>("if"), "Ii"},
      {"Char", make_element<CharElement>("b" + E_ACUTE + EURO), "b\xC3\xE2"},
      {"Char('')", make_element<CharElement>(""), ""},
      {"Word", word("ba", "xyz"), "ab"},
      {"Word(é)", word("a" + E_ACUTE), "a\xC3"},
      {"Word(\xC2\xB5)", word("\xC2\xB5"), "\xC2"},
      {"Word(€)", word(EURO), ""},
      {"QuotedString", make_element<QuotedStringElement>(EURO, std::nullopt, false, true), "\xE2"},
      {"LineEnd", make_element<LineEndElement>(), "\n"},
      {"StringEnd", make_element<StringEndElement>(), ""},
      {"NoMatch", make_element<NoMatchElement>(), ""},
      {"LineStart", make_element<LineStartElement>(), "any"},
      {"rest_of_line", make_element<RestOfLineElement>(), "any"},
      {"Empty", make_element<EmptyElement>(), "any"},
      {"Regex", make_regex_element("a|b").element, "ab"},
      {"Regex run", make_regex_element("[0-9]+").element, "0123456789"},
      {"Regex that may be empty", make_regex_element("[0-9]*").element, "any"},
      {"Regex anchored", make_regex_element("^a").element, "a"},
      {"Regex x?b", make_regex_element("x?b").element, "bx"},
      {"And(b, a)", seq({lit("b"), lit("a")}), "b"},
      {"And()", seq({}), "any"},
      {"And(Optional(b), a)", seq({make_element<OptionalElement>(lit("b")), lit("a")}), "ab"},
      {"And(Empty, NoMatch)", seq({make_element<EmptyElement>(), make_element<NoMatchElement>()}), ""},
      {"Regex that matches nowhere", make_regex_element("a^").element, "a"},
      {"MatchFirst(b, a, b)", alt({lit("b"), lit("a"), lit("b")}), "ab"},
      {"MatchFirst()", alt({}), ""},
      {"MatchFirst(b, Empty)", alt({lit("b"), make_element<EmptyElement>()}), "any"},
      {"ZeroOrMore(a)", make_element<ZeroOrMoreElement>(lit("a")), "any"},
      {"OneOrMore(a)", make_element<OneOrMoreElement>(lit("a")), "a"},
      {"Exactly(a, 2)", make_element<ExactlyElement>(lit("a"), 2), "a"},
      {"Exactly(a, 0)", make_element<ExactlyElement>(lit("a"), 0), "any"},
      {"Group(a)", make_element<GroupElement>(lit("a")), "a"},
      {"Suppress(a)", make_element<SuppressElement>(lit("a")), "a"},
      {"Combine(a)", make_element<CombineElement>(lit("a")), "a"},
      {"SkipTo(a)", make_element<SkipToElement>(lit("a")), "any"},
      {"Forward unset", make_element<ForwardElement>(), ""},
      {"Forward parens", parens.forward, "("},
      {"Forward left-recursive", left.forward, "any"},
      {"20 Groups deep", deep, "any"},
      {"MatchFirst of 2000", alt(wide), "any"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(members(start_bytes(*c.element)), c.admitted) << c.name;
  }
}

TEST(StartBytes, NextCandidate) {
  const std::string text = "ab(cx(";
  const StartBytes any = StartBytes::any();
  const StartBytes none = StartBytes::of({});
  const StartBytes one = StartBytes::of(std::bitset<256>().set('('));
  const StartBytes two = StartBytes::of(std::bitset<256>().set('(').set('x'));
  const struct {
    const StartBytes& set;
    Pos from;
    Pos expected;
  } cases[] = {{any, 3, 3}, {any, 6, 6}, {none, 0, 6}, {one, 0, 2}, {one, 2, 2},
               {one, 3, 5}, {one, 6, 6}, {two, 3, 4}, {two, 5, 5}, {two, 6, 6}};
  for (const auto& c : cases) EXPECT_EQ(c.set.next_candidate(text, c.from), c.expected) << c.from;
}

// Every grammar of two levels over atoms of every kind that tests its first byte, against every text of up to
// three characters over an alphabet with two characters that share a lead byte: wherever the grammar matches
// below the length, the byte there is admitted.
TEST(StartBytes, EveryMatchStartsOnAnAdmittedByte) {
  Cycle f;
  forward_set_inner(*f.forward, seq({lit("("), make_element<OptionalElement>(f.forward), lit(")")}));
  const std::vector<ElementRef> atoms = {
      lit("a"),
      lit(E_ACUTE + "a"),
      make_element<KeywordElement>("a"),
      make_element<CaselessLiteralElement>("a"),
      make_element<CaselessKeywordElement>("A("),
      make_element<CharElement>("(" + E_ACUTE),
      word("a" + E_ACUTE, std::string_view("(")),
      word(A_TILDE + "A"),
      make_element<QuotedStringElement>("(", std::nullopt, false, false),
      make_element<LineEndElement>(),
      make_element<StringEndElement>(),
      make_element<NoMatchElement>(),
      make_element<EmptyElement>(),
      make_element<LineStartElement>(),
      make_regex_element("a*").element,
      make_regex_element("(?i)a|\xC3\xA9").element,
      make_regex_element("[^a]+").element,
      make_element<ForwardElement>(),
      f.forward,
  };
  const std::vector<std::function<ElementRef(ElementRef, ElementRef)>> pairs = {
      [](ElementRef x, ElementRef y) { return seq({x, y}); },
      [](ElementRef x, ElementRef y) { return alt({x, y}); },
      [](ElementRef x, ElementRef) { return make_element<OneOrMoreElement>(x); },
      [](ElementRef x, ElementRef) { return make_element<ExactlyElement>(x, 2); },
      [](ElementRef x, ElementRef) { return make_element<OptionalElement>(x); },
      [](ElementRef x, ElementRef) { return make_element<SuppressElement>(x); },
      [](ElementRef x, ElementRef y) { return make_element<CombineElement>(seq({x, y})); },
      [](ElementRef x, ElementRef y) { return make_element<SkipToElement>(alt({x, y})); },
  };
  std::vector<ElementRef> grammars = atoms;
  for (const auto& make : pairs) {
    for (const ElementRef& x : atoms) {
      for (const ElementRef& y : atoms) grammars.push_back(make(x, y));
    }
  }
  const std::vector<std::string> texts =
      testing::small_world_texts({"a", "A", "(", ")", "\n", E_ACUTE, A_TILDE}, 3);
  std::size_t narrowed = 0;
  for (std::size_t g = 0; g < grammars.size(); ++g) {
    const StartBytes starts = start_bytes(*grammars[g]);
    if (starts.is_any()) continue;
    ++narrowed;
    for (const std::string& text : texts) {
      for (Pos pos = 0; pos < text.size(); ++pos) {
        if (!grammars[g]->try_match_at(text, pos).matched) continue;
        ASSERT_TRUE(starts.admits(static_cast<unsigned char>(text[pos])))
            << "grammar " << g << " on '" << text << "' at " << pos;
      }
    }
  }
  EXPECT_GT(narrowed, 500u);
  EXPECT_FALSE(take_recursion_overflow());
}

// A chain of twelve distinct Forwards, each matched again inside itself: more distinct locks than a thread keeps
// count of on its own, so the inner ones take their shared state. A writer on another thread swaps the last
// Forward's element between two equal ones meanwhile; every match sees one of them whole.
TEST(ForwardLock, NestedReadsUnderAWriterOnAnotherThread) {
  constexpr int CHAIN = 12;
  std::vector<Cycle> chain(CHAIN);
  // chain[i] = Optional('(' + chain[i] + ')') + chain[i + 1], and the last one ends in 'x'.
  auto nested = [&](int i) { return make_element<OptionalElement>(seq({lit("("), chain[i].forward, lit(")")})); };
  for (int i = 0; i + 1 < CHAIN; ++i) forward_set_inner(*chain[i].forward, seq({nested(i), chain[i + 1].forward}));
  const ElementRef last_a = seq({nested(CHAIN - 1), lit("x")});
  const ElementRef last_b = seq({nested(CHAIN - 1), lit("x")});
  forward_set_inner(*chain[CHAIN - 1].forward, last_a);
  const std::string text = "((x)x)x(";
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int k = 0; !stop.load(); ++k) forward_set_inner(*chain[CHAIN - 1].forward, k % 2 ? last_a : last_b);
  });
  for (int round = 0; round < 2000; ++round) {
    const MatchResult m = chain[0].forward->try_match_at(text, 0);
    ASSERT_TRUE(m.matched);
    ASSERT_EQ(m.end, 7u);
    ASSERT_FALSE(chain[3].forward->try_match_at(text, 7).matched);
  }
  stop.store(true);
  writer.join();
  EXPECT_FALSE(take_recursion_overflow());
  EXPECT_EQ(recursion_state().depth, 0u);
}

}  // namespace
}  // namespace quillex
