// Word and QuotedString elements, ByteBitSet and scan_quoted_string.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "elements/chars.h"
#include "routes.h"

namespace quillex {
namespace {

using testing::RouteCase;
using testing::verify_case;

const std::nullopt_t FAIL = std::nullopt;

// UTF-8 of the code point `cp` (below 0x10000 is all these tests need).
std::string utf8(unsigned cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

// The code points of a UTF-8 string, with the byte offset of each.
struct Decoded {
  std::vector<unsigned> cps;
  std::vector<Pos> offsets;
};
Decoded decode(const std::string& s) {
  Decoded d;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const unsigned n = utf8_char_len(b);
    unsigned cp = n == 1 ? b : b & (0x7F >> n);
    for (unsigned k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    d.cps.push_back(cp);
    d.offsets.push_back(i);
    i += n;
  }
  d.offsets.push_back(s.size());
  return d;
}

const std::string E_ACUTE = utf8(0xE9), E_CIRC = utf8(0xEA), A_TILDE_UPPER = utf8(0xC3), COPYRIGHT = utf8(0xA9),
                  A_MACRON = utf8(0x100), EURO = utf8(0x20AC);

TEST(ByteBitSetRules, BuiltFromCodePointsBelow256) {
  ByteBitSet s = ByteBitSet::from_utf8("a_" + E_ACUTE + A_MACRON + EURO);
  EXPECT_TRUE(s.contains('a'));
  EXPECT_TRUE(s.contains('_'));
  EXPECT_TRUE(s.contains(0xE9));
  EXPECT_FALSE(s.contains(0xC3));  // é's lead byte is not a member: members are code points
  EXPECT_FALSE(s.contains(0x00));
  EXPECT_FALSE(s.contains(0x01));  // U+0100 and above are dropped, not wrapped
  EXPECT_TRUE(s.has_wide());
  EXPECT_EQ(s.words[1], (std::uint64_t{1} << 33) | (std::uint64_t{1} << 31));
  EXPECT_FALSE(ByteBitSet::from_utf8("abc").has_wide());
  EXPECT_EQ(ByteBitSet::from_utf8(""), ByteBitSet{});
  int members = 0;
  for (unsigned v = 0; v < 256; ++v) members += ByteBitSet::from_utf8(utf8(v)).contains(v);
  EXPECT_EQ(members, 256);
}

TEST(WordKind, AllRoutesAgreeWithTheTable) {
  auto word = [](std::string_view init, std::optional<std::string_view> body = std::nullopt, Pos min = 1,
                 Pos max = 0) -> ElementRef { return make_element<WordElement>(init, body, min, max); };
  ElementRef abc = word("abc");
  ElementRef a_b = word("a", "b");
  ElementRef abc_bc = word("abc", "bc");
  ElementRef ab_empty = word("ab", "");
  ElementRef a_macron = word("a" + A_MACRON);
  ElementRef e_word = word(E_ACUTE);
  ElementRef a_e = word("a", E_ACUTE);
  ElementRef a_tilde = word(A_TILDE_UPPER);
  ElementRef a_tilde_a = word(A_TILDE_UPPER, "a");
  ElementRef copyright = word(COPYRIGHT);
  ElementRef a_copy = word("a", COPYRIGHT);
  ElementRef empty = word("");
  ElementRef max3 = word("a", "ab", 1, 3);
  ElementRef max2_wide = word("a", E_ACUTE, 1, 2);
  ElementRef min3 = word("a", "b", 3, 0);
  ElementRef min3_wide = word("a", E_ACUTE, 3, 0);
  const std::string abc_m = "Expected W:(abc...)";
  const std::string e2 = E_ACUTE + E_ACUTE;
  const RouteCase cases[] = {
      {"Word('abc')", abc, "abcabd", 0, 5, {"abcab"}, ""},
      {"Word('abc')", abc, "dab", 0, FAIL, {}, abc_m},
      {"Word('abc')", abc, "dab", 1, 3, {"ab"}, ""},
      {"Word('abc')", abc, "", 0, FAIL, {}, abc_m},
      {"Word('abc')", abc, "abc", 3, FAIL, {}, abc_m},
      {"Word('a','b')", a_b, "abbbc", 0, 4, {"abbb"}, ""},
      {"Word('a','b')", a_b, "ba", 0, FAIL, {}, "Expected W:(a...)"},
      {"Word('abc','bc')", abc_bc, "aab", 0, 1, {"a"}, ""},
      {"Word('ab','')", ab_empty, "abab", 0, 1, {"a"}, ""},
      {"Word('aĀ')", a_macron, A_MACRON, 0, FAIL, {}, "Expected W:(a" + A_MACRON + "...)"},
      {"Word('aĀ')", a_macron, "a" + A_MACRON, 0, 1, {"a"}, ""},
      {"Word('é')", e_word, e2 + "x", 0, 4, {e2}, ""},
      {"Word('é')", e_word, E_CIRC, 0, FAIL, {}, "Expected W:(" + E_ACUTE + "...)"},
      {"Word('é')", e_word, e2, 1, FAIL, {}, "Expected W:(" + E_ACUTE + "...)"},
      {"Word('é')", e_word, e2, 2, 4, {E_ACUTE}, ""},
      {"Word('a','é')", a_e, "a" + e2, 0, 5, {"a" + e2}, ""},
      {"Word('a','é')", a_e, "a" + E_CIRC, 0, 1, {"a"}, ""},
      {"Word('a','é')", a_e, "a" + EURO, 0, 1, {"a"}, ""},
      // Ã is U+00C3, whose number is é's lead byte; © is U+00A9, é's continuation byte.
      {"Word('Ã')", a_tilde, E_ACUTE, 0, FAIL, {}, "Expected W:(" + A_TILDE_UPPER + "...)"},
      {"Word('Ã','a')", a_tilde_a, A_TILDE_UPPER + "aa", 0, 4, {A_TILDE_UPPER + "aa"}, ""},
      {"Word('©')", copyright, E_ACUTE, 1, FAIL, {}, "Expected W:(" + COPYRIGHT + "...)"},
      {"Word('©')", copyright, COPYRIGHT, 0, 2, {COPYRIGHT}, ""},
      {"Word('a','©')", a_copy, "a" + E_ACUTE, 0, 1, {"a"}, ""},
      {"Word('')", empty, "abc", 0, FAIL, {}, "Expected W:(...)"},
      {"Word max 3", max3, "abbbb", 0, 3, {"abb"}, ""},
      {"Word max 3", max3, "ab", 0, 2, {"ab"}, ""},
      {"Word max 2 wide", max2_wide, "a" + e2, 0, 3, {"a" + E_ACUTE}, ""},
      {"Word min 3", min3, "ab", 0, FAIL, {}, "Expected W:(a...)"},
      {"Word min 3", min3, "abbc", 0, 3, {"abb"}, ""},
      {"Word min 3 wide", min3_wide, "a" + E_ACUTE, 0, FAIL, {}, "Expected W:(a...)"},
      {"Word min 3 wide", min3_wide, "a" + e2, 0, 5, {"a" + e2}, ""},
  };
  for (const RouteCase& c : cases) verify_case(c);
}

TEST(WordKind, MessagePrefixKeepsWholeCharactersOfTheFirstEightBytes) {
  const struct {
    std::string init;
    std::string prefix;
  } cases[] = {
      {"abcdefghij", "abcdefgh"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", "ABCDEFGH"},
      {"abcdefg" + E_ACUTE, "abcdefg"},           // é spans bytes 7 and 8
      {"abcdef" + E_ACUTE + "x", "abcdef" + E_ACUTE},  // é ends at byte 8
      {"abcdefg" + EURO, "abcdefg"},
      {"a" + EURO + EURO + EURO, "a" + EURO + EURO},  // bytes 7.. belong to the third €
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(word_message(c.init), "Expected W:(" + c.prefix + "...)") << c.init;
    auto w = make_element<WordElement>(c.init, std::nullopt);
    EXPECT_EQ(w->message()->view(), "Expected W:(" + c.prefix + "...)");
  }
}

TEST(WordKind, BodyDefaultsToACopyOfInit) {
  auto w = make_element<WordElement>("ab", std::nullopt);
  EXPECT_EQ(w->body(), w->init());
  EXPECT_EQ(w->min(), 1u);
  EXPECT_EQ(w->max(), 0u);
  auto empty_body = make_element<WordElement>("ab", std::string_view(""));
  EXPECT_EQ(empty_body->body(), ByteBitSet{});
}

// Every text of up to three characters over {a, é, ©, Ã, Ā} at every byte position, for Words whose sets mix
// ASCII, U+0080..U+00FF members whose numbers equal bytes of other characters, and dropped code points: the
// routes agree, and the match is the model's over decoded characters.
TEST(WordKind, SmallWorld) {
  const std::vector<std::string> alphabet = {"a", E_ACUTE, COPYRIGHT, A_TILDE_UPPER, A_MACRON};
  const std::vector<std::string> texts = testing::small_world_texts(alphabet, 3);
  const std::vector<std::string> inits = {"a", E_ACUTE, A_TILDE_UPPER, COPYRIGHT, "a" + A_MACRON, ""};
  const std::vector<std::optional<std::string>> bodies = {std::nullopt, "", "a", E_ACUTE + COPYRIGHT,
                                                          A_TILDE_UPPER, A_MACRON};
  for (const std::string& init : inits) {
    for (const auto& body : bodies) {
      auto w = make_element<WordElement>(init, body ? std::optional<std::string_view>(*body) : std::nullopt);
      const Decoded init_d = decode(init);
      const Decoded body_d = decode(body.value_or(init));
      auto in = [](const Decoded& set, unsigned cp) {
        for (unsigned m : set.cps) {
          if (m == cp && m < 256) return true;
        }
        return false;
      };
      for (const std::string& t : texts) {
        const Decoded d = decode(t);
        for (Pos pos = 0; pos <= t.size(); ++pos) {
          SCOPED_TRACE("Word('" + init + "', '" + body.value_or("None") + "') on '" + t + "' at " +
                       std::to_string(pos));
          std::optional<Pos> expected;
          for (std::size_t c = 0; c < d.cps.size(); ++c) {
            if (d.offsets[c] != pos || !in(init_d, d.cps[c])) continue;
            std::size_t k = c + 1;
            while (k < d.cps.size() && in(body_d, d.cps[k])) ++k;
            expected = d.offsets[k];
          }
          ParseOutcome o = testing::parse_by_every_route(*w, t, pos);
          ASSERT_EQ(o.ok, expected.has_value());
          if (o.ok) {
            EXPECT_EQ(o.end, *expected);
            EXPECT_EQ(testing::token_texts(o.tokens), std::vector<std::string>{t.substr(pos, o.end - pos)});
          }
        }
      }
    }
  }
}

TEST(QuotedStringKind, AllRoutesAgreeWithTheTable) {
  auto qs = [](std::string_view quote = "\"", std::optional<std::string_view> esc = std::nullopt,
               bool multiline = false, bool unquote = true) -> ElementRef {
    return make_element<QuotedStringElement>(quote, esc, multiline, unquote);
  };
  ElementRef plain = qs();
  ElementRef kept = qs("\"", std::nullopt, false, false);
  ElementRef multi = qs("\"", std::nullopt, true);
  ElementRef esc = qs("\"", "\\");
  ElementRef esc_is_quote = qs("\"", "\"");
  ElementRef empty_quote = qs("");
  ElementRef single = qs("'");
  ElementRef several = qs("ab");
  ElementRef empty_esc = qs("\"", "");
  ElementRef euro = qs(EURO);
  ElementRef euro_kept = qs(EURO, std::nullopt, false, false);
  ElementRef euro_esc = qs("\"", EURO);
  ElementRef e_acute = qs(E_ACUTE);
  const std::string dq_m = "Expected quoted string starting with '\"'";
  const std::string euro_m = "Expected quoted string starting with '" + EURO + "'";
  const RouteCase cases[] = {
      {"QuotedString()", plain, "\"abc\" rest", 0, 5, {"abc"}, ""},
      {"QuotedString(unquote=False)", kept, "\"abc\" rest", 0, 5, {"\"abc\""}, ""},
      {"QuotedString()", plain, "\"", 0, FAIL, {}, dq_m},
      {"QuotedString()", plain, "\"abc", 0, FAIL, {}, dq_m},
      {"QuotedString()", plain, "", 0, FAIL, {}, dq_m},
      {"QuotedString()", plain, "x\"a\"", 0, FAIL, {}, dq_m},
      {"QuotedString()", plain, "x\"a\"", 1, 4, {"a"}, ""},
      {"QuotedString()", plain, "\"\"", 0, 2, {""}, ""},
      {"QuotedString()", plain, "\"a\nb\"", 0, FAIL, {}, dq_m},
      {"QuotedString(multiline)", multi, "\"a\nb\"", 0, 5, {"a\nb"}, ""},
      {"QuotedString(esc='\\')", esc, "\"a\\\"b\"", 0, 6, {"a\\\"b"}, ""},
      {"QuotedString(esc='\\')", esc, "\"a\\", 0, FAIL, {}, dq_m},
      {"QuotedString(esc='\\')", esc, "\"a\\\nb\"", 0, 6, {"a\\\nb"}, ""},  // an escaped line break
      {"QuotedString(esc='\\')", esc, "\"a\\\\\"", 0, 5, {"a\\\\"}, ""},
      {"QuotedString(esc=quote)", esc_is_quote, "\"ab\"", 0, FAIL, {}, dq_m},
      {"QuotedString(esc=quote)", esc_is_quote, "\"\"", 0, FAIL, {}, dq_m},
      {"QuotedString('')", empty_quote, "\"x\"", 0, 3, {"x"}, ""},
      {"QuotedString('')", empty_quote, "x", 0, FAIL, {}, "Expected quoted string starting with ''"},
      {"QuotedString(\"'\")", single, "\"a\"", 0, FAIL, {}, "Expected quoted string starting with '''"},
      {"QuotedString(\"'\")", single, "'a'", 0, 3, {"a"}, ""},
      {"QuotedString('ab')", several, "axa", 0, 3, {"x"}, ""},
      {"QuotedString('ab')", several, "b", 0, FAIL, {}, "Expected quoted string starting with 'ab'"},
      {"QuotedString(esc='')", empty_esc, "\"a\\\"", 0, 4, {"a\\"}, ""},
      {"QuotedString('€')", euro, EURO + "a" + EURO, 0, 7, {"a"}, ""},
      {"QuotedString('€', unquote=False)", euro_kept, EURO + "a" + EURO, 0, 7, {EURO + "a" + EURO}, ""},
      {"QuotedString('€')", euro, EURO + EURO, 0, 6, {""}, ""},
      {"QuotedString('€')", euro, EURO, 0, FAIL, {}, euro_m},
      {"QuotedString('€')", euro, EURO + "a" + EURO, 1, FAIL, {}, euro_m},
      {"QuotedString(esc='€')", euro_esc, "\"a" + EURO + "\"b\"", 0, 8, {"a" + EURO + "\"b"}, ""},
      // é and ê share their lead byte; the quote is the whole character.
      {"QuotedString('é')", e_acute, E_CIRC + "a" + E_CIRC, 0, FAIL, {},
       "Expected quoted string starting with '" + E_ACUTE + "'"},
      {"QuotedString('é')", e_acute, E_ACUTE + "a" + E_CIRC + E_ACUTE, 0, 7, {"a" + E_CIRC}, ""},
  };
  for (const RouteCase& c : cases) verify_case(c);
}

TEST(QuotedStringKind, ScanReportsTheClosingQuote) {
  auto q = make_element<QuotedStringElement>("\"", std::string_view("\\"), false, true);
  EXPECT_EQ(scan_quoted_string(*q, "x\"ab\\\"c\"d", 1), std::optional<Pos>(7));
  EXPECT_EQ(scan_quoted_string(*q, "\"ab", 0), std::nullopt);
  EXPECT_EQ(scan_quoted_string(*q, "\"\"", 2), std::nullopt);
  auto euro = make_element<QuotedStringElement>(EURO, std::nullopt, false, true);
  EXPECT_EQ(scan_quoted_string(*euro, EURO + "ab" + EURO, 0), std::optional<Pos>(5));
  EXPECT_EQ(euro->quote(), EURO);
  EXPECT_FALSE(euro->has_escape());
  EXPECT_EQ(q->escape(), "\\");
}

// Every text of up to four characters over {", a, \, line break, é}, quote and escape characters of one and
// several bytes: the routes agree, and the scan equals a model that walks whole characters.
TEST(QuotedStringKind, SmallWorld) {
  const std::vector<std::string> texts = testing::small_world_texts({"\"", "a", "\\", "\n", E_ACUTE}, 4);
  struct Config {
    std::string quote;
    std::optional<std::string> esc;
    bool multiline, unquote;
  };
  const std::vector<Config> configs = {
      {"\"", std::nullopt, false, true}, {"\"", "\\", false, true},   {"\"", "\\", true, false},
      {E_ACUTE, "\\", false, true},      {"\"", E_ACUTE, true, true}, {E_ACUTE, "\"", false, false},
      {"a", "a", true, true},
  };
  for (const Config& c : configs) {
    auto q = make_element<QuotedStringElement>(c.quote, c.esc ? std::optional<std::string_view>(*c.esc) : std::nullopt,
                                               c.multiline, c.unquote);
    for (const std::string& t : texts) {
      const Decoded d = decode(t);
      std::vector<std::string> chars;
      for (std::size_t k = 0; k < d.cps.size(); ++k) chars.push_back(utf8(d.cps[k]));
      for (Pos pos = 0; pos <= t.size(); ++pos) {
        SCOPED_TRACE("QuotedString('" + c.quote + "', '" + c.esc.value_or("None") + "') on '" + t + "' at " +
                     std::to_string(pos));
        std::optional<Pos> close;
        for (std::size_t k = 0; k < chars.size(); ++k) {
          if (d.offsets[k] != pos || chars[k] != c.quote || k + 1 >= chars.size()) continue;
          for (std::size_t i = k + 1; i < chars.size(); ++i) {
            if (chars[i] == "\n" && !c.multiline) break;
            if (c.esc && chars[i] == *c.esc) {
              ++i;
            } else if (chars[i] == c.quote) {
              close = d.offsets[i];
              break;
            }
          }
        }
        EXPECT_EQ(scan_quoted_string(*q, t, pos), close);
        ParseOutcome o = testing::parse_by_every_route(*q, t, pos);
        ASSERT_EQ(o.ok, close.has_value());
        if (o.ok) {
          const Pos end = *close + c.quote.size();
          EXPECT_EQ(o.end, end);
          const std::string token = c.unquote ? t.substr(pos + c.quote.size(), *close - pos - c.quote.size())
                                               : t.substr(pos, end - pos);
          EXPECT_EQ(testing::token_texts(o.tokens), std::vector<std::string>{token});
        }
      }
    }
  }
}

}  // namespace
}  // namespace quillex
