// The one scan of the methods (scan_grammar_matches) against the plain scan, which tries the element at every
// position (scan_element_matches): generated grammars of every kind, recursion through Forwards included, over
// generated texts with multi-byte characters. Also the candidates the scan tries (ScanStarts): what each
// grammar's reading gives, the promise that every matching position is a candidate, the pair filter of
// several leading texts beside its byte-by-byte rule, QuotedString's scan over unclosed runs, and Forward holds
// under a writer on another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "elements/chars.h"
#include "elements/forward.h"
#include "elements/literals.h"
#include "elements/match_session.h"
#include "elements/positional.h"
#include "elements/regex.h"
#include "elements/start_bytes.h"
#include "elements/structure.h"
#include "engine/grammar_scan.h"
#include "engine/scan.h"
#include "generated_grammars.h"
#include "routes.h"

namespace quillex {
namespace {

using namespace quillex::testing;

using Spans = std::vector<std::pair<Pos, Pos>>;

// The matches of both scans and whether each stopped on the recursion bound.
struct Scanned {
  Spans spans;
  bool overflowed;
  bool operator==(const Scanned&) const = default;
};

Scanned plain_scan(const Element& e, std::string_view text) {
  Scanned s;
  engine::scan_element_matches(e, text, [&s](Pos a, Pos b) { s.spans.emplace_back(a, b); });
  s.overflowed = take_recursion_overflow();
  return s;
}

// As a method runs it: inside a match session.
Scanned grammar_scan(const Element& e, std::string_view text) {
  Scanned s;
  {
    MatchSession session;
    engine::scan_grammar_matches(e, text, [&s](Pos a, Pos b) { s.spans.emplace_back(a, b); });
  }
  s.overflowed = take_recursion_overflow();
  return s;
}

std::string show(const Spans& spans) {
  std::string out;
  for (const auto& [a, b] : spans) {
    out.append("(").append(std::to_string(a)).append(",").append(std::to_string(b)).append(")");
  }
  return out;
}

// Every position below the length at which `e` matches is a candidate of its ScanStarts, from wherever the
// search starts (next_candidate(p) == p).
void expect_candidates_cover_matches(const Element& e, std::string_view text, const std::string& name) {
  ScanStarts starts(e);
  for (Pos p = 0; p < text.size(); ++p) {
    const bool matched = e.try_match_at(text, p).matched;
    ASSERT_FALSE(take_recursion_overflow()) << name;
    if (matched) {
      ASSERT_EQ(starts.next_candidate(text, p), p) << name << " on '" << text << "' at " << p;
    }
  }
}

TEST(GrammarScan, AgreesWithThePlainScanOnGeneratedGrammars) {
  GrammarMaker maker(17);
  std::size_t skipping = 0;
  for (int g = 0; g < 1500; ++g) {
    const ElementRef grammar = maker.make(3);
    {
      ScanStarts starts(*grammar);
      skipping += starts.rule() != ScanStarts::Rule::Every;
    }
    for (int t = 0; t < 12; ++t) {
      const std::string text = maker.text(16);
      const Scanned plain = plain_scan(*grammar, text);
      const Scanned fast = grammar_scan(*grammar, text);
      ASSERT_EQ(fast, plain) << "grammar " << g << " on '" << text << "': " << show(fast.spans) << " vs "
                             << show(plain.spans);
      if (!plain.overflowed) expect_candidates_cover_matches(*grammar, text, "grammar " + std::to_string(g));
    }
  }
  EXPECT_GT(skipping, 500u);  // most grammars are tried at some positions only
  EXPECT_EQ(recursion_state().depth, 0u);
}

// Every text of up to three characters over a small alphabet, against grammars of two levels over atoms whose
// readings differ in kind (texts, bytes, positions, zero-length matches).
TEST(GrammarScan, AgreesWithThePlainScanOnEveryShortText) {
  Cycle parens;  // f = '(' + Optional(f) + ')'
  forward_set_inner(*parens.forward, seq({lit("("), opt(parens.forward), lit(")")}));
  const std::vector<ElementRef> atoms = {
      lit("ab"),        lit(E_ACUTE),       kw("a"),
      word("a", std::string_view("(")),     quoted("(", std::nullopt),
      make_element<LineStartElement>(),     make_element<LineEndElement>(),
      make_element<StringStartElement>(),   make_element<EmptyElement>(),
      regex("[^a]+"),   parens.forward,     make_element<SkipToElement>(lit(")")),
      make_element<testing::BeforeByte>('\xA9'),
  };
  const std::vector<std::function<ElementRef(ElementRef, ElementRef)>> pairs = {
      [](ElementRef x, ElementRef y) { return seq({x, y}); },
      [](ElementRef x, ElementRef y) { return alt({x, y}); },
      [](ElementRef x, ElementRef y) { return seq({opt(x), y}); },
      [](ElementRef x, ElementRef y) { return seq({make_element<ZeroOrMoreElement>(x), y}); },
      [](ElementRef x, ElementRef y) { return make_element<CombineElement>(seq({x, y})); },
      [](ElementRef x, ElementRef y) { return make_element<SkipToElement>(alt({x, y})); },
      [](ElementRef x, ElementRef) { return opt(x); },
  };
  std::vector<ElementRef> grammars = atoms;
  for (const auto& make : pairs) {
    for (const ElementRef& x : atoms) {
      for (const ElementRef& y : atoms) grammars.push_back(make(x, y));
    }
  }
  const std::vector<std::string> texts = testing::small_world_texts({"a", "b", "(", ")", "\n", E_ACUTE, A_TILDE}, 3);
  for (std::size_t g = 0; g < grammars.size(); ++g) {
    for (const std::string& text : texts) {
      const Scanned plain = plain_scan(*grammars[g], text);
      ASSERT_EQ(grammar_scan(*grammars[g], text), plain) << "grammar " << g << " on '" << text << "'";
      ASSERT_FALSE(plain.overflowed);
      expect_candidates_cover_matches(*grammars[g], text, "grammar " + std::to_string(g));
    }
  }
}

// A grammar that starts with itself overflows at the first position it is tried at, and nesting deeper than the
// stack allows overflows where it starts: both scans stop there with the same matches before it.
TEST(GrammarScan, StopsWhereThePlainScanOverflows) {
  Cycle left;  // f = f + 'a'
  forward_set_inner(*left.forward, seq({left.forward, lit("a")}));
  Cycle parens;  // f = '(' + Optional(f) + ')'
  forward_set_inner(*parens.forward, seq({lit("("), opt(parens.forward), lit(")")}));
  const std::string deep = "(x)(" + std::string(300000, '(');
  const struct {
    const char* name;
    ElementRef grammar;
    std::string text;
  } cases[] = {
      {"left recursion", left.forward, "xab"},
      {"left recursion after a literal", seq({lit("x"), left.forward}), "axxa"},
      {"left recursion as an alternative", alt({lit("x"), left.forward}), "yx"},
      {"deep nesting", parens.forward, deep},
      {"deep nesting in a Group", groups(parens.forward, 3), deep},
      {"deep nesting after a Word", seq({word("x"), parens.forward}), "x()x" + std::string(300000, '(')},
      {"deep nesting in an Optional", opt(parens.forward), deep},
      {"deep nesting as a SkipTo target", make_element<SkipToElement>(parens.forward), deep},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Scanned plain = plain_scan(*c.grammar, c.text);
    EXPECT_TRUE(plain.overflowed);
    EXPECT_EQ(grammar_scan(*c.grammar, c.text), plain);
    EXPECT_EQ(recursion_state().depth, 0u);
  }
}

// ---------------------------------------------------------------------------------------------------------------
// ScanStarts

TEST(ScanStarts, WhatEachGrammarIsSearchedBy) {
  using Rule = ScanStarts::Rule;
  Cycle parens;
  forward_set_inner(*parens.forward, seq({lit("("), make_element<ZeroOrMoreElement>(alt({regex("[^()]+"), parens.forward})),
                                          lit(")")}));
  ElementList many;
  for (int i = 0; i < 2000; ++i) many.push_back(lit(std::string(1, static_cast<char>('a' + i % 3))));
  ElementList pairs;
  for (char c = 'a'; c < 'a' + 20; ++c) pairs.push_back(lit(std::string{c, 'z'}));
  const ElementRef line_start = make_element<LineStartElement>();
  const struct {
    const char* name;
    ElementRef grammar;
    Rule rule;
    std::string needle;
  } cases[] = {
      {"Literal", lit("ab"), Rule::Text, "ab"},
      {"Literal of one byte", lit("a"), Rule::Bytes, ""},
      {"Literal('')", lit(""), Rule::Every, ""},
      {"non-ASCII Literal", lit(E_ACUTE), Rule::Text, E_ACUTE},
      {"Keyword + Literal + Word", seq({kw("def"), lit(" "), word("ab")}), Rule::Text, "def "},
      {"texts joined, cut to 16 bytes", seq({lit("0123456789abc"), lit("defghijklmnop")}), Rule::Text,
       "0123456789abcdef"},
      {"one_of", alt({lit("LGPL"), lit("GPL"), lit("MIT")}), Rule::Texts, ""},
      {"one_of of single bytes", alt({lit("a"), lit("b")}), Rule::Bytes, ""},
      {"a text and its first byte", alt({lit("ab"), lit("a")}), Rule::Bytes, ""},
      {"20 texts", alt(pairs), Rule::Bytes, ""},
      {"2000 alternatives", alt(many), Rule::Every, ""},
      {"Combine(Literal + rest_of_line)", make_element<CombineElement>(seq({lit("#"), make_element<RestOfLineElement>()})),
       Rule::Bytes, ""},
      {"QuotedString", quoted("'", std::string_view("\\")), Rule::Bytes, ""},
      {"QuotedString of a multi-byte quote", quoted(EURO, std::nullopt), Rule::Text, EURO},
      {"Forward of nested brackets", parens.forward, Rule::Bytes, ""},
      {"Optional first", seq({opt(lit("-")), word("0123456789")}), Rule::Bytes, ""},
      {"ZeroOrMore first", seq({make_element<ZeroOrMoreElement>(lit("ab")), lit("c")}), Rule::Texts, ""},
      {"Exactly", make_element<ExactlyElement>(lit("ab"), 2), Rule::Text, "ab"},
      {"caseless first", seq({make_element<CaselessLiteralElement>("ab"), lit("x")}), Rule::Bytes, ""},
      {"empty Keyword first", seq({kw(""), lit("xy")}), Rule::Text, "xy"},
      {"LineEnd between texts", seq({lit("a"), make_element<LineEndElement>(), lit("b")}), Rule::Bytes, ""},
      {"LineStart + Literal + Word", seq({line_start, lit("."), word("ab")}), Rule::LineText, "\n."},
      {"Empty + LineStart + Literal", seq({make_element<EmptyElement>(), line_start, lit("xy")}), Rule::LineText,
       "\nxy"},
      {"LineStart + Word", seq({line_start, word("ab")}), Rule::LineBytes, ""},
      {"LineStart", line_start, Rule::LineStarts, ""},
      {"LineStart or a Literal", alt({seq({line_start, lit("x")}), lit("yz")}), Rule::Texts, ""},
      {"StringStart + Literal", seq({make_element<StringStartElement>(), lit("a")}), Rule::TextStart, ""},
      {"Optional", opt(lit("x")), Rule::Every, ""},
      {"SkipTo", make_element<SkipToElement>(lit("x")), Rule::Every, ""},
      {"SkipTo first", seq({make_element<SkipToElement>(lit("x")), lit("y")}), Rule::Every, ""},
      {"rest_of_line", make_element<RestOfLineElement>(), Rule::Every, ""},
      {"StringEnd", make_element<StringEndElement>(), Rule::Bytes, ""},
      {"Literal + NoMatch", seq({lit("ab"), make_element<NoMatchElement>()}), Rule::Bytes, ""},
      {"unset Forward", make_element<ForwardElement>(), Rule::Bytes, ""},
      {"deeper than the reading", groups(lit("ab"), 20), Rule::Every, ""},
  };
  for (const auto& c : cases) {
    ScanStarts starts(*c.grammar);
    EXPECT_EQ(starts.rule(), c.rule) << c.name;
    EXPECT_EQ(starts.needle(), c.needle) << c.name;
  }
}

// The candidates of each rule from every position of a text, against the positions where the grammar matches
// and the rule's own definition written out.
TEST(ScanStarts, NextCandidateOfEachRule) {
  const ElementRef line_start = make_element<LineStartElement>();
  const std::string text = ".a\n.b\nx.\n\n.";
  const struct {
    const char* name;
    ElementRef grammar;
    std::vector<Pos> candidates;
  } cases[] = {
      {"LineText", seq({line_start, lit("."), word("ab")}), {0, 3, 10}},
      {"LineBytes", seq({line_start, word(".")}), {0, 3, 10}},
      {"LineStarts", line_start, {0, 3, 6, 9, 10}},
      {"TextStart", seq({make_element<StringStartElement>(), lit(".")}), {0}},
      {"Text", lit(".b"), {3}},
      {"Texts", alt({lit(".a"), lit("x."), lit("\n\n")}), {0, 6, 8}},
      {"Bytes", lit("."), {0, 3, 7, 10}},
  };
  for (const auto& c : cases) {
    ScanStarts starts(*c.grammar);
    for (Pos from = 0; from <= text.size(); ++from) {
      Pos expected = text.size();
      for (const Pos p : c.candidates) {
        if (p >= from) {
          expected = p;
          break;
        }
      }
      EXPECT_EQ(starts.next_candidate(text, from), expected) << c.name << " from " << from;
    }
  }
}

// The pair filter beside its rule written out, over generated sets of texts and texts long enough for both block
// widths, at every start.
TEST(PairFilter, PassesExactlyThePositionsWhereAPairStands) {
  std::mt19937 rng(23);
  const std::string bytes = "abcAB\n\xC3\xA9";
  auto pick = [&rng](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> texts(1 + pick(5));
    for (std::string& t : texts) {
      for (std::size_t k = 1 + pick(3); k > 0; --k) t.push_back(bytes[pick(bytes.size())]);
    }
    PairFilter filter;
    bool taken = true;
    for (const std::string& t : texts) taken = taken && filter.add(t);
    ASSERT_TRUE(taken);
    std::string text;
    for (std::size_t k = pick(200); k > 0; --k) text.push_back(bytes[pick(bytes.size())]);
    auto stands = [&](Pos p) {
      for (const std::string& t : texts) {
        if (text[p] == t[0] && (t.size() == 1 || (p + 1 < text.size() && text[p + 1] == t[1]))) return true;
      }
      return false;
    };
    for (Pos from = 0; from <= text.size(); ++from) {
      Pos expected = from;
      while (expected < text.size() && !stands(expected)) ++expected;
      ASSERT_EQ(filter.next_candidate(text, from, Simd::SSE2), expected) << round << " from " << from;
      if (CPU_RUNS_AVX2) {
        ASSERT_EQ(filter.next_candidate(text, from, Simd::AVX2), expected) << round << " from " << from;
      }
    }
  }
}

TEST(PairFilter, RefusesMoreGroupsOrSecondBytesThanItHolds) {
  PairFilter groups;
  for (std::size_t i = 0; i < PairFilter::MAX_GROUPS; ++i) EXPECT_TRUE(groups.add(std::string{static_cast<char>('a' + i), 'x'}));
  EXPECT_TRUE(groups.add("ay"));  // a known group
  EXPECT_FALSE(groups.add("zx"));
  PairFilter seconds;
  for (std::size_t i = 0; i < PairFilter::MAX_SECONDS; ++i) {
    EXPECT_TRUE(seconds.add(std::string{static_cast<char>('a' + i % 2), static_cast<char>('A' + i)}));
  }
  EXPECT_TRUE(seconds.add("aA"));  // a known pair
  EXPECT_FALSE(seconds.add("bz"));
}

// ---------------------------------------------------------------------------------------------------------------
// QuotedString over unclosed runs: the scan reads each byte a bounded number of times. The work of a scan is the
// bytes its tries cover (from each start to where the try matched or gave up); it grows with the text, not
// with its square.

std::uint64_t quoted_scan_work(const QuotedStringElement& q, std::string_view text, std::uint64_t& matches) {
  ScanStarts starts(q);
  const engine::QuotedStringRule rule(q);
  std::uint64_t covered = 0;
  engine::scan_candidate_matches(
      text, starts,
      [&](std::string_view t, Pos pos, Pos& resume) {
        const MatchResult m = rule(t, pos, resume);
        covered += (m.matched ? m.end : resume) - pos;
        return m;
      },
      [&matches](Pos, Pos) { ++matches; });
  return covered;
}

TEST(QuotedStringScan, UnclosedRunsAreReadOnce) {
  const Ref<const QuotedStringElement> backslash = make_element<QuotedStringElement>("\"", "\\", false, false);
  const Ref<const QuotedStringElement> doubled = make_element<QuotedStringElement>("\"", "\"", false, false);
  const struct {
    const char* name;
    const QuotedStringElement& q;
    std::function<std::string(std::size_t)> text;
  } cases[] = {
      {"escaped quotes", *backslash, [](std::size_t n) { std::string s = "\""; for (std::size_t i = 0; i < n; ++i) s += "\\\""; return s; }},
      {"doubled quotes", *doubled, [](std::size_t n) { return std::string(2 * n, '"'); }},
      {"runs per line", *backslash, [](std::size_t n) { std::string s; for (std::size_t i = 0; i < n / 8; ++i) s += "\"\\\"\\\"\\\"\\\"\n"; return s; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string small = c.text(20000), large = c.text(80000);
    std::uint64_t small_matches = 0, large_matches = 0;
    const std::uint64_t small_work = quoted_scan_work(c.q, small, small_matches);
    const std::uint64_t large_work = quoted_scan_work(c.q, large, large_matches);
    EXPECT_LE(large_work, 5 * small_work);
    EXPECT_LE(large_work, 2 * large.size());
    EXPECT_EQ(grammar_scan(c.q, small).spans.size(), small_matches);
    // The rule's matches are the plain scan's (which reads such texts once per start: a short one).
    const std::string short_text = c.text(300) + "\"x\"";
    EXPECT_EQ(grammar_scan(c.q, short_text), plain_scan(c.q, short_text));
  }
}

// ---------------------------------------------------------------------------------------------------------------
// Forward holds

// A scan through a Forward holds its read lock for the whole scan, and nested holds of the same lock on the
// thread count without touching its shared state; a writer on another thread swaps the Forward's element
// between two equal ones meanwhile, and every scan sees one of them whole.
TEST(ForwardHold, ScansUnderAWriterOnAnotherThread) {
  Cycle f;  // f = '(' + Optional(f) + ')' or 'x', in two equal copies
  auto body = [&f] { return alt({seq({lit("("), opt(f.forward), lit(")")}), lit("x")}); };
  const ElementRef a = body(), b = body();
  forward_set_inner(*f.forward, a);
  const ElementRef grammar = make_element<GroupElement>(f.forward);
  const std::string text = "((x)) (x( x) ((()))";
  const Scanned expected = plain_scan(*grammar, text);
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int k = 0; !stop.load(); ++k) forward_set_inner(*f.forward, k % 2 ? a : b);
  });
  for (int round = 0; round < 2000; ++round) ASSERT_EQ(grammar_scan(*grammar, text), expected);
  stop.store(true);
  writer.join();
  {
    const ForwardHold outer(*f.forward);
    const ForwardHold inner(*f.forward);
    EXPECT_NE(outer.inner(), nullptr);
    EXPECT_EQ(inner.inner(), outer.inner());
  }
  EXPECT_EQ(recursion_state().depth, 0u);
}

}  // namespace
}  // namespace quillex
