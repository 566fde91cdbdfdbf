// Literal, Keyword, CaselessLiteral, CaselessKeyword and Char elements, and the shared rules beneath them.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "elements/literals.h"
#include "routes.h"

namespace quillex {
namespace {

using testing::RouteCase;
using testing::verify_case;

const std::nullopt_t FAIL = std::nullopt;

TEST(FixedTextKinds, AllRoutesAgreeWithTheTable) {
  ElementRef ab = make_literal_element("ab");
  ElementRef empty_lit = make_literal_element("");
  ElementRef e_acute = make_literal_element("\xC3\xA9");
  ElementRef kw_if = make_element<KeywordElement>("if");
  ElementRef kw_dash = make_element<KeywordElement>("a-b");
  ElementRef kw_empty = make_element<KeywordElement>("");
  ElementRef kw_e = make_element<KeywordElement>("\xC3\xA9");
  ElementRef hello = make_element<CaselessLiteralElement>("Hello");
  ElementRef cl_upper_e = make_element<CaselessLiteralElement>("\xC3\x89");  // É
  ElementRef cl_bracket = make_element<CaselessLiteralElement>("[");
  ElementRef cl_empty = make_element<CaselessLiteralElement>("");
  ElementRef cl_abc = make_element<CaselessLiteralElement>("AbC");
  ElementRef ck_end = make_element<CaselessKeywordElement>("end");
  ElementRef ck_empty = make_element<CaselessKeywordElement>("");
  const std::string lit_ab = "Expected 'ab'", kw = "Expected keyword 'if'", kw_d = "Expected keyword 'a-b'";
  const std::string hello_m = "Expected 'Hello' (caseless)", end_m = "Expected keyword 'end' (caseless)";
  const RouteCase cases[] = {
      {"Literal('ab')", ab, "a", 0, FAIL, {}, lit_ab},
      {"Literal('ab')", ab, "abc", 0, 2, {"ab"}, ""},
      {"Literal('ab')", ab, "xab", 1, 3, {"ab"}, ""},
      {"Literal('ab')", ab, "xab", 2, FAIL, {}, lit_ab},
      {"Literal('ab')", ab, "aB", 0, FAIL, {}, lit_ab},
      {"Literal('ab')", ab, "bb", 0, FAIL, {}, lit_ab},
      {"Literal('ab')", ab, "", 0, FAIL, {}, lit_ab},
      {"Literal('')", empty_lit, "", 0, 0, {""}, ""},
      {"Literal('')", empty_lit, "xy", 1, 1, {""}, ""},
      {"Literal('')", empty_lit, "xy", 2, 2, {""}, ""},
      {"Literal('é')", e_acute, "a\xC3\xA9", 1, 3, {"\xC3\xA9"}, ""},
      {"Literal('é')", e_acute, "\xC3\xAA", 0, FAIL, {}, "Expected '\xC3\xA9'"},
      {"Keyword('if')", kw_if, "if(x)", 0, 2, {"if"}, ""},
      {"Keyword('if')", kw_if, "if", 0, 2, {"if"}, ""},
      {"Keyword('if')", kw_if, "ifx", 0, FAIL, {}, kw},
      {"Keyword('if')", kw_if, "if_", 0, FAIL, {}, kw},
      {"Keyword('if')", kw_if, "if9", 0, FAIL, {}, kw},
      {"Keyword('if')", kw_if, "elif x", 2, 4, {"if"}, ""},
      {"Keyword('if')", kw_if, "if\xC3\xA9", 0, 2, {"if"}, ""},  // bytes of 0x80 and above end a keyword
      {"Keyword('if')", kw_if, "i", 0, FAIL, {}, kw},
      {"Keyword('a-b')", kw_dash, "a-bc", 0, FAIL, {}, kw_d},
      {"Keyword('a-b')", kw_dash, "a-b c", 0, 3, {"a-b"}, ""},
      {"Keyword('a-b')", kw_dash, "a-b$", 0, 3, {"a-b"}, ""},
      {"Keyword('')", kw_empty, "", 0, 0, {""}, ""},
      {"Keyword('')", kw_empty, "x", 0, FAIL, {}, "Expected keyword ''"},
      {"Keyword('')", kw_empty, "-x", 0, 0, {""}, ""},
      {"Keyword('')", kw_empty, "ab", 2, 2, {""}, ""},
      {"Keyword('é')", kw_e, "\xC3\xA9" "a", 0, FAIL, {}, "Expected keyword '\xC3\xA9'"},
      {"Keyword('é')", kw_e, "\xC3\xA9!", 0, 2, {"\xC3\xA9"}, ""},
      {"CaselessLiteral('Hello')", hello, "hELLO world", 0, 5, {"Hello"}, ""},
      {"CaselessLiteral('Hello')", hello, "HELL", 0, FAIL, {}, hello_m},
      {"CaselessLiteral('Hello')", hello, "xhello", 1, 6, {"Hello"}, ""},
      {"CaselessLiteral('É')", cl_upper_e, "\xC3\x89", 0, 2, {"\xC3\x89"}, ""},
      {"CaselessLiteral('É')", cl_upper_e, "\xC3\xA9", 0, FAIL, {}, "Expected '\xC3\x89' (caseless)"},
      {"CaselessLiteral('[')", cl_bracket, "[", 0, 1, {"["}, ""},
      {"CaselessLiteral('[')", cl_bracket, "{", 0, FAIL, {}, "Expected '[' (caseless)"},
      {"CaselessLiteral('')", cl_empty, "abc", 3, 3, {""}, ""},
      {"CaselessLiteral('')", cl_empty, "", 0, 0, {""}, ""},
      {"CaselessLiteral('AbC')", cl_abc, "aBc", 0, 3, {"AbC"}, ""},
      {"CaselessLiteral('AbC')", cl_abc, "ABD", 0, FAIL, {}, "Expected 'AbC' (caseless)"},
      {"CaselessKeyword('end')", ck_end, "END;", 0, 3, {"end"}, ""},
      {"CaselessKeyword('end')", ck_end, "End", 0, 3, {"end"}, ""},
      {"CaselessKeyword('end')", ck_end, "END_x", 0, FAIL, {}, end_m},
      {"CaselessKeyword('end')", ck_end, "ENDx", 0, FAIL, {}, end_m},
      {"CaselessKeyword('end')", ck_end, "xend", 1, 4, {"end"}, ""},
      {"CaselessKeyword('')", ck_empty, "a", 0, FAIL, {}, "Expected keyword '' (caseless)"},
      {"CaselessKeyword('')", ck_empty, "a", 1, 1, {""}, ""},
  };
  for (const RouteCase& c : cases) verify_case(c);
}

TEST(CharKind, AllRoutesAgreeWithTheTable) {
  ElementRef abc = make_element<CharElement>("abc");
  ElementRef none = make_element<CharElement>("");
  ElementRef ea = make_element<CharElement>("\xC3\xA9" "a");  // 'éa'
  ElementRef euro = make_element<CharElement>("x\xE2\x82\xAC");  // 'x€'
  const std::string abc_m = "Expected one of 'abc'", ea_m = "Expected one of '\xC3\xA9" "a'";
  const RouteCase cases[] = {
      {"Char('abc')", abc, "b", 0, 1, {"b"}, ""},
      {"Char('abc')", abc, "", 0, FAIL, {}, abc_m},
      {"Char('abc')", abc, "zb", 0, FAIL, {}, abc_m},
      {"Char('abc')", abc, "zb", 1, 2, {"b"}, ""},
      {"Char('abc')", abc, "zb", 2, FAIL, {}, abc_m},
      {"Char('abc')", abc, "\xC3\xA9", 0, FAIL, {}, abc_m},
      {"Char('')", none, "a", 0, FAIL, {}, "Expected one of ''"},
      {"Char('')", none, "", 0, FAIL, {}, "Expected one of ''"},
      {"Char('éa')", ea, "\xC3\xA9" "a", 0, 2, {"\xC3\xA9"}, ""},
      {"Char('éa')", ea, "\xC3\xA9" "a", 1, FAIL, {}, ea_m},  // inside é
      {"Char('éa')", ea, "\xC3\xA9" "a", 2, 3, {"a"}, ""},
      {"Char('éa')", ea, "\xC3\xA3", 0, FAIL, {}, ea_m},  // ã shares é's lead byte
      {"Char('éa')", ea, "\xC3", 0, FAIL, {}, ea_m},      // a lead byte cut off by the text's end
      {"Char('x€')", euro, "\xE2\x82\xAC", 0, 3, {"\xE2\x82\xAC"}, ""},
      {"Char('x€')", euro, "\xE2\x82\xAD", 0, FAIL, {}, "Expected one of 'x\xE2\x82\xAC'"},
      {"Char('x€')", euro, "\xE2\x82\xAC", 2, FAIL, {}, "Expected one of 'x\xE2\x82\xAC'"},
  };
  for (const RouteCase& c : cases) verify_case(c);
}

TEST(CharKind, MembersTableMarksAsciiBytesAndWideLeadBytes) {
  auto ascii = make_element<CharElement>("abca");
  EXPECT_TRUE(ascii->ascii_only());
  int members = 0;
  for (int b = 0; b < 256; ++b) members += ascii->members()[b];
  EXPECT_EQ(members, 3);
  auto wide = make_element<CharElement>("\xC3\xA9z");
  EXPECT_FALSE(wide->ascii_only());
  EXPECT_EQ(wide->members()['z'], CharElement::CHAR_ASCII);
  EXPECT_EQ(wide->members()[0xC3], CharElement::CHAR_WIDE);
  EXPECT_EQ(wide->members()[0xA9], 0);  // continuation bytes never match
}

TEST(FixedTextKinds, SuccessSharesThePrebuiltTokenWithoutAllocating) {
  auto lit = make_literal_element("ab");
  auto kw = make_element<KeywordElement>("ab");
  auto cl = make_element<CaselessLiteralElement>("Ab");
  auto ck = make_element<CaselessKeywordElement>("Ab");
  struct Shared {
    const char* name;
    ElementRef element;
    const TokenList& tokens;
  };
  const Shared kinds[] = {{"Literal", lit, lit->tokens()},
                          {"Keyword", kw, kw->tokens()},
                          {"CaselessLiteral", cl, cl->tokens()},
                          {"CaselessKeyword", ck, ck->tokens()}};
  for (const Shared& k : kinds) {
    SCOPED_TRACE(k.name);
    const SharedStr* token = k.tokens[0].get();
    const std::size_t before = token->use_count();
    {
      testing::AllocationScope scope;
      ParseOutcome o = k.element->parse("ab ", 0);
      ASSERT_TRUE(o.ok);
      ASSERT_EQ(o.tokens.size(), 1u);
      EXPECT_EQ(o.tokens[0].get(), token);
      EXPECT_EQ(token->use_count(), before + 1);
      ParseOutcome f = k.element->parse("x", 0);
      ASSERT_FALSE(f.ok);
      EXPECT_EQ(scope.count(), 0u) << "a fixed-text success or failure allocated";
    }
    EXPECT_EQ(token->use_count(), before);
  }
  testing::AllocationScope scope;
  StartOutcome s = lit->parse_at_start("abc");
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.tokens[0].get(), lit->tokens()[0].get());
  EXPECT_EQ(scope.count(), 0u);
}

TEST(FixedTextKinds, FailuresShareTheStoredMessage) {
  auto lit = make_literal_element("ab");
  auto kw = make_element<KeywordElement>("ab");
  auto cl = make_element<CaselessLiteralElement>("ab");
  auto ck = make_element<CaselessKeywordElement>("ab");
  auto ch = make_element<CharElement>("ab");
  EXPECT_EQ(lit->parse("x", 0).error.message.get(), lit->message().get());
  EXPECT_EQ(lit->parse_at_start("x").error.message.get(), lit->message().get());
  EXPECT_EQ(kw->parse("abc", 0).error.message.get(), kw->message().get());
  EXPECT_EQ(cl->parse("x", 0).error.message.get(), cl->message().get());
  EXPECT_EQ(cl->parse_at_start("x").error.message.get(), cl->message().get());
  EXPECT_EQ(ck->parse("abc", 0).error.message.get(), ck->message().get());
  EXPECT_EQ(ch->parse("x", 0).error.message.get(), ch->message().get());
  EXPECT_EQ(literal_message("if"), "Expected 'if'");
}

TEST(SharedRules, IdentCharsAreExactlyTheAsciiIdentifierBytes) {
  int count = 0;
  for (int b = 0; b < 256; ++b) {
    const bool ident = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_';
    EXPECT_EQ(IDENT_CHARS[b], ident ? 1 : 0) << "byte " << b;
    count += IDENT_CHARS[b];
  }
  EXPECT_EQ(count, 63);
  EXPECT_TRUE(ident_boundary_after(IDENT_CHARS, "ab", 2));
  EXPECT_TRUE(ident_boundary_after(IDENT_CHARS, "ab-", 2));
  EXPECT_FALSE(ident_boundary_after(IDENT_CHARS, "ab", 1));
  EXPECT_TRUE(ident_boundary_after(IDENT_CHARS, "a\xC3\xA9", 1));
}

TEST(SharedRules, CaselessEqualFoldsOnlyAsciiLetters) {
  EXPECT_EQ(fold_ascii("AbZ@[`{\xC3\x89"), "abz@[`{\xC3\x89");
  EXPECT_TRUE(caseless_equal_at("abc", "xABC", 1));
  EXPECT_FALSE(caseless_equal_at("abc", "xAB", 1));  // runs off the end
  EXPECT_TRUE(caseless_equal_at("", "", 0));
  // Every byte pair: equal under folding exactly when both are the same letter or the same byte.
  for (int a = 0; a < 256; ++a) {
    for (int t = 0; t < 256; ++t) {
      const std::string lower(1, static_cast<char>(fold_ascii(static_cast<unsigned char>(a))));
      const std::string text(1, static_cast<char>(t));
      const bool expected = a == t || (std::tolower(a) == std::tolower(t) && std::isalpha(a) && a < 128 &&
                                       t < 128);
      ASSERT_EQ(caseless_equal_at(lower, text, 0), expected) << a << " vs " << t;
    }
  }
}

// Every text of up to four characters over {a, B, é, -}, every byte position (inside é too): the routes agree,
// no non-empty match starts or ends inside a character, and each kind matches what its rule says, tested
// against a model over whole characters.
TEST(FixedTextKinds, SmallWorld) {
  const std::string e = "\xC3\xA9";
  const std::vector<std::string> texts = testing::small_world_texts({"a", "B", e, "-"}, 4);
  const std::vector<std::string> words = {"", "a", "aB", "B", e, "a" + e, e + "a", "-a"};
  for (const std::string& w : words) {
    auto lit = make_literal_element(w);
    auto kw = make_element<KeywordElement>(w);
    auto cl = make_element<CaselessLiteralElement>(w);
    auto ck = make_element<CaselessKeywordElement>(w);
    const std::string lower = fold_ascii(w);
    for (const std::string& t : texts) {
      const std::string folded = fold_ascii(t);
      for (Pos pos = 0; pos <= t.size(); ++pos) {
        SCOPED_TRACE("'" + w + "' on '" + t + "' at " + std::to_string(pos));
        const bool exact = t.compare(pos, w.size(), w) == 0 && pos + w.size() <= t.size();
        const bool caseless = folded.compare(pos, w.size(), lower) == 0 && pos + w.size() <= t.size();
        const Pos end = pos + w.size();
        const bool boundary = end >= t.size() || IDENT_CHARS[static_cast<unsigned char>(t[end])] == 0;
        struct Expect {
          const Element& element;
          bool matched;
        };
        for (const Expect& x : {Expect{*lit, exact}, Expect{*kw, exact && boundary}, Expect{*cl, caseless},
                                Expect{*ck, caseless && boundary}}) {
          ParseOutcome o = testing::parse_by_every_route(x.element, t, pos);
          ASSERT_EQ(o.ok, x.matched);
          if (o.ok) {
            EXPECT_EQ(o.end, end);
            EXPECT_EQ(testing::token_texts(o.tokens), std::vector<std::string>{w});
          }
        }
      }
    }
  }
}

TEST(CharKind, SmallWorld) {
  const std::string e = "\xC3\xA9", a_tilde = "\xC3\xA3", euro = "\xE2\x82\xAC";
  const std::vector<std::string> alphabet = {"a", "b", e, a_tilde, euro};
  const std::vector<std::string> texts = testing::small_world_texts(alphabet, 3);
  const std::vector<std::vector<std::string>> sets = {{}, {"a"}, {"a", "b"}, {e}, {e, "a"}, {a_tilde, euro}, {euro}};
  for (const auto& members : sets) {
    std::string s;
    for (const std::string& m : members) s += m;
    auto ch = make_element<CharElement>(s);
    const std::set<std::string> member_set(members.begin(), members.end());
    for (const std::string& t : texts) {
      std::size_t count = 0;
      for (Pos pos = 0; pos <= t.size(); ++pos) {
        SCOPED_TRACE("Char('" + s + "') on '" + t + "' at " + std::to_string(pos));
        std::string here;
        if (pos < t.size() && is_char_boundary(t, pos)) {
          here = t.substr(pos, utf8_char_len(static_cast<unsigned char>(t[pos])));
        }
        const bool expected = !here.empty() && member_set.count(here) == 1;
        ParseOutcome o = testing::parse_by_every_route(*ch, t, pos);
        ASSERT_EQ(o.ok, expected);
        if (o.ok) {
          EXPECT_EQ(o.end, pos + here.size());
          EXPECT_EQ(testing::token_texts(o.tokens), std::vector<std::string>{here});
          ++count;
        }
        EXPECT_EQ(ch->match_len(t, pos), o.ok ? here.size() : 0u);
      }
      // The in-place count of ASCII-only sets sums the table over the bytes; it must equal the match count.
      if (ch->ascii_only()) {
        std::size_t summed = 0;
        for (unsigned char b : t) summed += ch->members()[b];
        EXPECT_EQ(summed, count) << "Char('" << s << "') on '" << t << "'";
      }
    }
  }
}

}  // namespace
}  // namespace quillex
