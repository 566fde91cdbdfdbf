// Combinator kinds: sequence, choice, repetitions, wrappers and SkipTo, alone, with Forward, and nested far
// deeper than the stack allows.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "elements/chars.h"
#include "elements/forward.h"
#include "elements/literals.h"
#include "elements/positional.h"
#include "elements/structure.h"
#include "routes.h"

namespace quillex {
namespace {

using testing::BeforeByte;
using testing::small_world_texts;
using Literal = Ref<const LiteralElement>;
constexpr auto texts_of = testing::token_texts;

Literal lit(std::string_view s) { return make_literal_element(s); }
ElementRef seq(ElementList c) { return make_element<AndElement>(std::move(c)); }
ElementRef alt(ElementList c) { return make_element<MatchFirstElement>(std::move(c)); }
ElementRef opt(ElementRef e) { return make_element<OptionalElement>(std::move(e)); }
ElementRef zero_or_more(ElementRef e) { return make_element<ZeroOrMoreElement>(std::move(e)); }
ElementRef one_or_more(ElementRef e) { return make_element<OneOrMoreElement>(std::move(e)); }
ElementRef exactly(ElementRef e, std::uint64_t n) { return make_element<ExactlyElement>(std::move(e), n); }
ElementRef group(ElementRef e) { return make_element<GroupElement>(std::move(e)); }
ElementRef suppress(ElementRef e) { return make_element<SuppressElement>(std::move(e)); }
ElementRef combine(ElementRef e) { return make_element<CombineElement>(std::move(e)); }
ElementRef skip_to(ElementRef e) { return make_element<SkipToElement>(std::move(e)); }

bool valid_utf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    auto lead = static_cast<unsigned char>(s[i]);
    if (is_continuation_byte(lead)) return false;
    unsigned n = utf8_char_len(lead);
    if (i + n > s.size()) return false;
    for (unsigned k = 1; k < n; ++k)
      if (!is_continuation_byte(static_cast<unsigned char>(s[i + k]))) return false;
    i += n;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------------------------
// Table rows: the expected outcome of a combinator, checked by the shared route verifier.

struct Expect {
  std::optional<Pos> end;  // nullopt: failure
  std::vector<std::string> tokens;
  std::string message;
  Pos error_pos = 0;
};

Expect ok(Pos end, std::vector<std::string> tokens = {}) { return {end, std::move(tokens), "", 0}; }
Expect fails(std::string message, Pos at) { return {std::nullopt, {}, std::move(message), at}; }

struct Case {
  const char* name;
  ElementRef element;
  std::string text;
  Pos pos;
  Expect expect;
};

void verify(const Case& c) {
  const Expect& e = c.expect;
  testing::verify_case({c.name, c.element, c.text, c.pos, e.end, e.tokens, e.message,
                        e.end ? std::nullopt : std::optional<Pos>(e.error_pos)});
}

const std::string E_A = "Expected 'a'";
const std::string E_B = "Expected 'b'";
const std::string E_C = "Expected 'c'";

TEST(Combinators, AllRoutesAgree) {
  ElementRef a = lit("a"), b = lit("b"), c = lit("c"), x = lit("x"), z = lit("z");
  ElementRef ab = seq({a, b});
  ElementRef empty = make_element<EmptyElement>();
  ElementRef line_end = make_element<LineEndElement>();
  ElementRef string_end = make_element<StringEndElement>();
  const Case cases[] = {
      {"a+b", ab, "abc", 0, ok(2, {"a", "b"})},
      {"a+b", ab, "ac", 0, fails(E_B, 1)},
      {"a+b", ab, "xab", 1, ok(3, {"a", "b"})},
      {"a+b", ab, "", 0, fails(E_A, 0)},
      {"a+b+c", seq({a, b, c}), "abx", 0, fails(E_C, 2)},
      {"And()", seq({}), "xy", 1, ok(1)},
      {"a+Empty+b", seq({a, empty, b}), "ab", 0, ok(2, {"a", "b"})},
      {"a|b", alt({a, b}), "c", 0, fails(E_B, 0)},
      {"a|b", alt({a, b}), "b", 0, ok(1, {"b"})},
      {"a|b", alt({a, b}), "ab", 0, ok(1, {"a"})},
      {"a|a+b", alt({a, ab}), "ab", 0, ok(1, {"a"})},
      {"MatchFirst()", alt({}), "abc", 1, fails("No match found", 1)},
      {"(a+b)|c", alt({ab, c}), "ac", 0, fails(E_C, 0)},
      {"Optional(a)", opt(a), "b", 0, ok(0)},
      {"Optional(a)", opt(a), "ab", 0, ok(1, {"a"})},
      {"Optional(a)", opt(a), "", 0, ok(0)},
      {"Optional(LineEnd)", opt(line_end), "", 0, ok(0, {"\n"})},
      {"ZeroOrMore(a)", zero_or_more(a), "aab", 0, ok(2, {"a", "a"})},
      {"ZeroOrMore(a)", zero_or_more(a), "", 0, ok(0)},
      {"ZeroOrMore(a)", zero_or_more(a), "baa", 0, ok(0)},
      {"ZeroOrMore(a+b)", zero_or_more(ab), "ababa", 0, ok(4, {"a", "b", "a", "b"})},
      {"ZeroOrMore(Empty)", zero_or_more(empty), "aaa", 1, ok(1)},
      {"OneOrMore(a)", one_or_more(a), "aab", 0, ok(2, {"a", "a"})},
      {"OneOrMore(a)", one_or_more(a), "baa", 0, fails("Expected at least one match", 0)},
      {"OneOrMore(a)", one_or_more(a), "baa", 1, ok(3, {"a", "a"})},
      {"OneOrMore(LineEnd)", one_or_more(line_end), "\n", 0, ok(1, {"\n"})},
      {"OneOrMore(LineEnd)", one_or_more(line_end), "\n\nx", 0, ok(2, {"\n", "\n"})},
      {"OneOrMore(Optional(a))", one_or_more(opt(a)), "aab", 0, ok(2, {"a", "a"})},
      {"Exactly(a,2)", exactly(a, 2), "aaa", 0, ok(2, {"a", "a"})},
      {"Exactly(a,2)", exactly(a, 2), "ab", 0, fails(E_A, 1)},
      {"Exactly(a,0)", exactly(a, 0), "b", 0, ok(0)},
      {"Exactly(a,0)", exactly(a, 0), "", 0, ok(0)},
      {"Exactly(Optional(a),2)", exactly(opt(a), 2), "ab", 0, fails("No progress in Exactly", 1)},
      {"Exactly(Optional(a),2)", exactly(opt(a), 2), "b", 0, fails("No progress in Exactly", 0)},
      {"Exactly(a,2^64-1)", exactly(a, ~std::uint64_t{0}), "aaa", 0, fails(E_A, 3)},
      {"Exactly(Empty,2^64-1)", exactly(empty, ~std::uint64_t{0}), "aaa", 0, fails("No progress in Exactly", 0)},
      {"Group(a+b)", group(ab), "abc", 0, ok(2, {"a", "b"})},
      {"Group(a+b)", group(ab), "ac", 0, fails(E_B, 1)},
      {"Group(Group(a))", group(group(a)), "a", 0, ok(1, {"a"})},
      {"Suppress(a)", suppress(a), "ab", 0, ok(1)},
      {"Suppress(a)", suppress(a), "b", 0, fails("Suppress: no match", 0)},
      {"Suppress(a+b)", suppress(ab), "ac", 0, fails("Suppress: no match", 0)},
      {"Combine(a+b)", combine(ab), "abc", 0, ok(2, {"ab"})},
      {"Combine(a+b)", combine(ab), "ac", 0, fails(E_B, 1)},
      {"Combine(Optional(x))", combine(opt(x)), "a", 0, ok(0, {""})},
      {"Combine(Suppress(a)+b)", combine(seq({suppress(a), b})), "ab", 0, ok(2, {"ab"})},
      {"SkipTo(c)", skip_to(c), "abc", 0, ok(2, {"ab"})},
      {"SkipTo(c)", skip_to(c), "abc", 2, ok(2, {""})},
      {"SkipTo(z)", skip_to(z), "abc", 0, fails("SkipTo: target not found", 0)},
      {"SkipTo(z)", skip_to(z), "", 0, fails("SkipTo: target not found", 0)},
      {"SkipTo(StringEnd)", skip_to(string_end), "abc", 1, ok(3, {"bc"})},
      {"SkipTo(StringEnd)", skip_to(string_end), "", 0, ok(0, {""})},
      {"SkipTo(a+b)", skip_to(ab), "aaab", 0, ok(2, {"aa"})},
  };
  for (const Case& k : cases) verify(k);
}

// OneOrMore's match test accepts a first iteration that does not advance; its parse does not. Wrappers that
// test their child inherit the test's answer.
TEST(Combinators, OneOrMoreTestAcceptsAZeroLengthFirstIteration) {
  ElementRef a = lit("a");
  ElementRef loose = one_or_more(opt(a));
  ParseOutcome o = loose->parse("b", 0);
  ASSERT_FALSE(o.ok);
  EXPECT_EQ(o.error.message->view(), "Expected at least one match");
  EXPECT_EQ(o.error.position, 0u);
  MatchResult m = loose->try_match_at("b", 0);
  EXPECT_TRUE(m.matched);
  EXPECT_EQ(m.end, 0u);
  // Suppress matches with the child's test; SkipTo finds the target at 0.
  EXPECT_TRUE(suppress(loose)->parse("b", 0).ok);
  ParseOutcome s = skip_to(loose)->parse("bb", 0);
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.end, 0u);
  // A first iteration of zero length is followed by advancing ones only when they advance from there.
  EXPECT_EQ(one_or_more(seq({opt(a), opt(lit("b"))}))->try_match_at("abab", 0).end, 4u);
}

// ---------------------------------------------------------------------------------------------------------------
// Ownership: tokens are the children's own strings, moved, never copied; every outcome a combinator does not
// return is released before it returns.

TEST(Combinators, TokensAreTheChildrensStringsMovedNotCopied) {
  auto a = lit("a");
  auto b = lit("b");
  ElementRef grammar = seq({a, zero_or_more(b), group(a)});
  ParseOutcome o = grammar->parse("abbba", 0);
  ASSERT_TRUE(o.ok);
  ASSERT_EQ(o.tokens.size(), 5u);
  EXPECT_EQ(o.tokens[0].get(), a->tokens()[0].get());
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(o.tokens[i].get(), b->tokens()[0].get());
  EXPECT_EQ(o.tokens[4].get(), a->tokens()[0].get());
  // One reference per token held by the outcome, beside the element's own.
  EXPECT_EQ(a->tokens()[0]->use_count(), 3u);
  EXPECT_EQ(b->tokens()[0]->use_count(), 4u);
  {
    // Two tokens fit the list's inline slots: the whole parse allocates nothing.
    ElementRef pair = seq({a, b});
    testing::AllocationScope scope;
    ParseOutcome p = pair->parse("ab", 0);
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(scope.count(), 0u);
  }
}

TEST(Combinators, OutcomesNotReturnedAreReleasedAtOnce) {
  auto a = lit("a");
  auto b = lit("b");
  auto c = lit("c");
  struct Probe {
    const char* name;
    ElementRef grammar;
    std::string text;
  };
  const Probe probes[] = {
      {"lost alternatives", alt({a, b, c}), "c"},
      {"all alternatives fail", alt({a, b, c}), "x"},
      {"tokens before a failing child", seq({a, b, c}), "abx"},
      {"last iteration of ZeroOrMore", zero_or_more(a), "aab"},
      {"last iteration of OneOrMore", one_or_more(seq({a, b})), "aba"},
      {"failing Optional", opt(seq({a, b})), "ac"},
      {"Combine's child tokens", combine(seq({a, b, c})), "abc"},
      {"Exactly's earlier iterations", exactly(a, 3), "aab"},
      {"Optional's start body", opt(seq({a, b})), "ax"},
  };
  const LiteralElement* terminals[] = {a.get(), b.get(), c.get()};
  // References to the terminals' prebuilt strings that an outcome holds.
  auto prebuilt_in = [&](const TokenList& tokens, const ParseError& error) {
    std::size_t n = 0;
    for (const LiteralElement* t : terminals) {
      for (const StrRef& token : tokens) n += token.get() == t->tokens()[0].get();
      n += error.message.get() == t->message().get();
    }
    return n;
  };
  for (const Probe& p : probes) {
    SCOPED_TRACE(p.name);
    {
      ParseOutcome o = p.grammar->parse(p.text, 0);
      StartOutcome s = p.grammar->parse_at_start(p.text);
      std::size_t held = 0;
      for (const LiteralElement* t : terminals) held += t->tokens()[0]->use_count() - 1 + t->message()->use_count() - 1;
      EXPECT_EQ(held, prebuilt_in(o.tokens, o.error) + prebuilt_in(s.tokens, s.error));
    }
    for (const LiteralElement* t : terminals) {
      EXPECT_EQ(t->tokens()[0]->use_count(), 1u);
      EXPECT_EQ(t->message()->use_count(), 1u);
    }
  }
}

TEST(Combinators, ChildFailuresPassThroughAsTheSameString) {
  auto a = lit("a");
  auto b = lit("b");
  ParseOutcome o = seq({a, b})->parse("aa", 0);
  ASSERT_FALSE(o.ok);
  EXPECT_EQ(o.error.message.get(), b->message().get());
  ParseOutcome g = group(combine(b))->parse("xa", 1);
  ASSERT_FALSE(g.ok);
  EXPECT_EQ(g.error.message.get(), b->message().get());
  EXPECT_EQ(g.error.position, 1u);
  // The combinators' own messages are new strings at every failure.
  ElementRef none = alt({});
  ParseOutcome f1 = none->parse("x", 0);
  ParseOutcome f2 = none->parse("x", 0);
  EXPECT_NE(f1.error.message.get(), f2.error.message.get());
}

// ---------------------------------------------------------------------------------------------------------------
// UTF-8: SkipTo passes over positions inside a character.

TEST(SkipTo, StopsOnlyAtCharacterBoundaries) {
  const std::string e_acute = "\xC3\xA9";
  ElementRef inside = make_element<BeforeByte>('\xA9');  // true only inside the é
  ElementRef string_end = make_element<StringEndElement>();
  const Case cases[] = {
      {"SkipTo(inside é)", skip_to(inside), "x" + e_acute + "y", 0, fails("SkipTo: target not found", 0)},
      {"SkipTo(inside é | end)", skip_to(alt({inside, string_end})), "x" + e_acute + "y", 0,
       ok(4, {"x" + e_acute + "y"})},
      {"SkipTo(y)", skip_to(lit("y")), e_acute + "y", 0, ok(2, {e_acute})},
      // From a start inside a character only a zero-length match is possible.
      {"SkipTo(inside é) from inside", skip_to(inside), "x" + e_acute, 2, ok(2, {""})},
      {"SkipTo(end) from inside", skip_to(string_end), "x" + e_acute, 2, fails("SkipTo: target not found", 2)},
      {"SkipTo(é)", skip_to(lit(e_acute)), "ab" + e_acute, 0, ok(2, {"ab"})},
  };
  for (const Case& c : cases) verify(c);
}

// Every grammar of up to three atoms over a tiny alphabet with one two-byte character, against every short
// text and every start: all routes agree, try_match_at allocates nothing, no non-empty match starts or ends
// inside a character, and every token is whole UTF-8. One atom matches inside a character on purpose, to show
// that the combinators (SkipTo in particular) never turn that into a cut character. OneOrMore is applied only
// to atoms that never match with zero length, where its match test agrees with its parse.
TEST(Combinators, ExhaustiveSmallWorld) {
  const std::string e_acute = "\xC3\xA9";
  const std::vector<ElementRef> atoms = {lit("a"),
                                         lit(e_acute),
                                         make_element<WordElement>("a" + e_acute, std::nullopt),
                                         make_element<EmptyElement>(),
                                         make_element<StringEndElement>(),
                                         make_element<BeforeByte>('\xA9')};
  const std::vector<ElementRef> solid = {atoms[0], atoms[1], atoms[2]};  // never zero-length
  std::vector<std::pair<std::string, ElementRef>> grammars;
  const std::vector<std::pair<std::string, std::function<ElementRef(ElementRef)>>> unary = {
      {"Optional", opt},
      {"ZeroOrMore", zero_or_more},
      {"Group", group},
      {"Suppress", suppress},
      {"Combine", combine},
      {"SkipTo", skip_to},
      {"Exactly2", [](ElementRef e) { return exactly(std::move(e), 2); }}};
  std::vector<std::pair<std::string, ElementRef>> level1;
  for (std::size_t i = 0; i < atoms.size(); ++i) level1.push_back({"atom" + std::to_string(i), atoms[i]});
  for (std::size_t i = 0; i < atoms.size(); ++i)
    for (const auto& [n, f] : unary) level1.push_back({n + "(atom" + std::to_string(i) + ")", f(atoms[i])});
  for (std::size_t i = 0; i < solid.size(); ++i)
    level1.push_back({"OneOrMore(solid" + std::to_string(i) + ")", one_or_more(solid[i])});
  grammars = level1;
  for (const auto& [n1, g1] : level1) {
    for (std::size_t i = 0; i < atoms.size(); ++i) {
      const std::string n2 = "atom" + std::to_string(i);
      grammars.push_back({n1 + "+" + n2, seq({g1, atoms[i]})});
      grammars.push_back({n2 + "+" + n1, seq({atoms[i], g1})});
      grammars.push_back({n1 + "|" + n2, alt({g1, atoms[i]})});
      grammars.push_back({n2 + "|" + n1, alt({atoms[i], g1})});
    }
  }
  const std::size_t pairs = grammars.size();
  for (std::size_t k = level1.size(); k < pairs; ++k)
    for (const auto& [n, f] : unary) grammars.push_back({n + "(" + grammars[k].first + ")", f(grammars[k].second)});

  const std::vector<std::string> texts = small_world_texts({"a", e_acute, "b"}, 3);

  std::size_t checked = 0;
  for (const auto& [name, g] : grammars) {
    for (const std::string& text : texts) {
      for (Pos pos = 0; pos <= text.size(); ++pos) {
        ParseOutcome o = g->parse(text, pos);
        MatchResult m;
        {
          testing::AllocationScope scope;
          m = g->try_match_at(text, pos);
          ASSERT_EQ(scope.count(), 0u) << name;
        }
        ASSERT_EQ(o.ok, m.matched) << name << " on '" << text << "' at " << pos;
        if (!testing::parse_into_agrees(*g, text, pos, o)) {
          SCOPED_TRACE(name + " on '" + text + "' at " + std::to_string(pos));
          testing::expect_parse_into_agrees(*g, text, pos, o);
          FAIL();
        }
        if (o.ok) {
          ASSERT_EQ(o.end, m.end) << name << " on '" << text << "' at " << pos;
          if (o.end > pos) {
            ASSERT_TRUE(is_char_boundary(text, pos)) << name << " on '" << text << "' at " << pos;
            ASSERT_TRUE(is_char_boundary(text, o.end)) << name << " on '" << text << "' at " << pos;
          }
          for (const StrRef& t : o.tokens) ASSERT_TRUE(valid_utf8(t->view())) << name << " on '" << text << "'";
        }
        if (pos == 0) {
          StartOutcome s = g->parse_at_start(text);
          ASSERT_EQ(s.ok, o.ok) << name << " on '" << text << "'";
          ASSERT_EQ(texts_of(s.tokens), texts_of(o.tokens)) << name << " on '" << text << "'";
        }
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 100000u);
  EXPECT_FALSE(take_recursion_overflow());
}

// ---------------------------------------------------------------------------------------------------------------
// Forward: recursive grammars, and the ones that recurse without end.

// A recursive grammar is a reference cycle through its Forward; tests break it so the elements are freed.
struct Cycle {
  Ref<const ForwardElement> forward = make_element<ForwardElement>();
  ~Cycle() { forward_set_inner(*forward, nullptr); }
};

TEST(Recursion, NestedParentheses) {
  Cycle f;
  forward_set_inner(*f.forward, seq({lit("("), opt(f.forward), lit(")")}));
  const Case cases[] = {
      {"parens", f.forward, "((()))", 0, ok(6, {"(", "(", "(", ")", ")", ")"})},
      {"parens", f.forward, "(()", 0, fails("Expected ')'", 3)},
      {"parens", f.forward, "()x", 0, ok(2, {"(", ")"})},
      {"parens", f.forward, "x", 0, fails("Expected '('", 0)},
  };
  for (const Case& c : cases) verify(c);

  // Nested deeper than matching may go: the match fails, the overflow flag is set, and nothing is left held.
  std::string deep(1000000, '(');
  EXPECT_FALSE(f.forward->try_match_at(deep, 0).matched);
  EXPECT_TRUE(take_recursion_overflow());
  EXPECT_FALSE(f.forward->parse(deep, 0).ok);
  EXPECT_TRUE(take_recursion_overflow());
  EXPECT_FALSE(f.forward->parse_at_start(deep).ok);
  EXPECT_TRUE(take_recursion_overflow());
  EXPECT_EQ(recursion_state().depth, 0u);
  // Matching works again once the flag is taken.
  verify({"parens", f.forward, "(())", 0, ok(4, {"(", "(", ")", ")"})});
}

TEST(Recursion, GrammarsThatComeBackWithoutConsumingUnwind) {
  ElementRef x = lit("x");
  struct Shape {
    const char* name;
    std::function<ElementRef(ElementRef)> wrap;  // the inner element, given the Forward
  };
  const Shape shapes[] = {
      {"f = f + x",
       [&](ElementRef f) {
         return seq({f, x});
       }},
      {"f = f | x",
       [&](ElementRef f) {
         return alt({f, x});
       }},
      {"f = Optional(f) + x",
       [&](ElementRef f) {
         return seq({opt(f), x});
       }},
      {"f = ZeroOrMore(f)", [&](ElementRef f) { return zero_or_more(f); }},
      {"f = OneOrMore(f)", [&](ElementRef f) { return one_or_more(f); }},
      {"f = Exactly(f, 3)", [&](ElementRef f) { return exactly(f, 3); }},
      {"f = Group(f)", [&](ElementRef f) { return group(f); }},
      {"f = Suppress(f)", [&](ElementRef f) { return suppress(f); }},
      {"f = Combine(f)", [&](ElementRef f) { return combine(f); }},
      {"f = SkipTo(f)", [&](ElementRef f) { return skip_to(f); }},
      {"f = SkipTo(f) + x",
       [&](ElementRef f) {
         return seq({skip_to(f), x});
       }},
      {"f = f", [&](ElementRef f) { return f; }},
  };
  const std::string text = "xxxxxxxx" + std::string(1000, 'y');
  for (const Shape& s : shapes) {
    SCOPED_TRACE(s.name);
    Cycle f;
    forward_set_inner(*f.forward, s.wrap(f.forward));
    for (Pos pos : {Pos{0}, Pos{3}, Pos{text.size()}}) {
      EXPECT_FALSE(f.forward->try_match_at(text, pos).matched);
      EXPECT_TRUE(take_recursion_overflow());
      EXPECT_FALSE(f.forward->parse(text, pos).ok);
      EXPECT_TRUE(take_recursion_overflow());
    }
    EXPECT_FALSE(f.forward->parse_at_start(text).ok);
    EXPECT_TRUE(take_recursion_overflow());
    EXPECT_EQ(recursion_state().depth, 0u);
  }
}

TEST(Recursion, ForwardSeesTheInnerSetLater) {
  Ref<const ForwardElement> f = make_element<ForwardElement>();
  ElementRef g = seq({lit("x"), f});
  verify({"x + unset", g, "xa", 0, fails("Forward not initialized", 1)});
  forward_set_inner(*f, lit("a"));
  verify({"x + a", g, "xa", 0, ok(2, {"x", "a"})});
}

// A grammar nested a million levels deep by construction: deeper than matching may go, so it reports overflow;
// it is freed without deep recursion. Shallower nesting matches.
TEST(Recursion, MillionNestedWrappersOverflowAndAreFreed) {
  const std::size_t before = live_element_count();
  using Wrap = ElementRef (*)(ElementRef);
  const std::pair<const char*, Wrap> wraps[] = {
      {"Group", group},       {"Optional", opt},
      {"Suppress", suppress}, {"ZeroOrMore", zero_or_more},
      {"SkipTo", skip_to},    {"And", [](ElementRef e) { return seq({std::move(e)}); }},
  };
  for (const auto& [name, wrap] : wraps) {
    SCOPED_TRACE(name);
    {
      ElementRef g = lit("a");
      for (int i = 0; i < 1000000; ++i) g = wrap(std::move(g));
      EXPECT_FALSE(g->try_match_at("a", 0).matched);
      EXPECT_TRUE(take_recursion_overflow());
      EXPECT_FALSE(g->parse("a", 0).ok);
      EXPECT_TRUE(take_recursion_overflow());
      EXPECT_FALSE(g->parse_at_start("a").ok);
      EXPECT_TRUE(take_recursion_overflow());
      EXPECT_EQ(recursion_state().depth, 0u);
    }
    EXPECT_EQ(live_element_count(), before);
  }
  ElementRef g = lit("a");
  for (int i = 0; i < 10000; ++i) g = group(std::move(g));
  verify({"10000 Groups", g, "ab", 0, ok(1, {"a"})});
}

}  // namespace
}  // namespace quillex
