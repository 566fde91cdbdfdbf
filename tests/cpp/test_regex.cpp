// Regex element: matching at a position of the text, and the factory's compile errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "elements/regex.h"
#include "routes.h"

namespace quillex {
namespace {

using testing::RouteCase;
using testing::verify_case;

const std::nullopt_t FAIL = std::nullopt;
const std::string E_ACUTE = "\xC3\xA9";

ElementRef regex(std::string_view pattern) {
  RegexBuild b = make_regex_element(pattern);
  EXPECT_TRUE(b.element) << pattern << ": " << b.error;
  return b.element;
}

TEST(RegexKind, AllRoutesAgreeWithTheTable) {
  const struct {
    const char* pattern;
    std::string text;
    Pos pos;
    std::optional<Pos> end;
  } rows[] = {
      {"[a-z]+", "abc1", 0, 3},
      {"[a-z]+", "1abc", 0, FAIL},
      {"[a-z]+", "1abc", 1, 4},
      {"a|ab", "ab", 0, 1},  // leftmost-first: the first alternative wins
      {"\\s*", "x", 0, 0},
      {"", "abc", 2, 2},
      {"", "", 0, 0},
      {"\\bfoo", "xfoo", 1, 4},  // the search starts at the slice
      {"[a-z]", "b", 0, 1},
      {"[^a]", "a", 0, FAIL},
      {"[^a]", "b", 0, 1},
      {"[\\d]", "7", 0, 1},
      {"x$", "abx", 2, 3},
      {"x$", "xab", 0, FAIL},
      {"^a", "ba", 1, 2},        // '^' holds at pos
      {"^a|b", "xb", 0, FAIL},   // anchored as a whole: a match never starts after pos
      {"^a|b", "b", 0, 1},
      {"^a|b", "xb", 1, 2},
      {"a*?", "aaa", 0, 0},
      {"(?i)abc", "xABC", 1, 4},
      {"(?m)^b", "a\nb", 2, 3},
      {"a.c", "a\nc", 0, FAIL},  // '.' does not match a line break
      {"\\w+", "a" + E_ACUTE, 0, 1},  // ASCII classes
      {".", E_ACUTE, 0, 2},
      {".", E_ACUTE, 1, FAIL},   // inside a character: no match
      {"", E_ACUTE, 1, FAIL},    // not even an empty one
      {"", E_ACUTE, 2, 2},
      {"\\C", "a", 0, 1},
      {"\\C", E_ACUTE, 0, FAIL},  // its end would split é
      {"\\C\\C", E_ACUTE, 0, 2},
      {"\\x{e9}+", E_ACUTE + E_ACUTE, 0, 4},
      {"[^a]", E_ACUTE, 0, 2},
  };
  for (const auto& r : rows) {
    ElementRef e = regex(r.pattern);
    const std::string message = std::string("Expected match for /") + r.pattern + "/";
    std::vector<std::string> tokens;
    if (r.end) tokens.push_back(r.text.substr(r.pos, *r.end - r.pos));
    verify_case(RouteCase{r.pattern, e, r.text, r.pos, r.end, tokens, r.end ? "" : message}, /*warm=*/true);
  }
}

TEST(RegexKind, CompilesBothTexts) {
  auto check = [](std::string_view pattern, std::string_view anchored, std::string_view unanchored) {
    SCOPED_TRACE(std::string(pattern));
    EXPECT_EQ(regex_anchored_text(pattern), anchored);
    EXPECT_EQ(regex_unanchored_text(pattern), unanchored);
    RegexBuild b = make_regex_element(pattern);
    ASSERT_TRUE(b.element);
    EXPECT_EQ(b.element->anchored().pattern(), anchored);
    EXPECT_EQ(b.element->unanchored().pattern(), unanchored);
    EXPECT_TRUE(b.error.empty());
  };
  check("a", "^(?:a)", "(?:a)");
  check("^a", "^a", "(?:^a)");
  check("", "^(?:)", "(?:)");
  const re2::RE2::Options& o = regex_options();
  EXPECT_EQ(o.max_mem(), REGEX_SIZE_LIMIT);
  EXPECT_FALSE(o.log_errors());
  EXPECT_FALSE(o.longest_match());
  EXPECT_EQ(o.encoding(), re2::RE2::Options::EncodingUTF8);
}

TEST(RegexKind, CompileErrorsNameTheCompiledText) {
  const struct {
    const char* pattern;
    const char* error;
  } rows[] = {
      {"(", "regex parse error:\n    ^(?:()\nerror: missing ): ^(?:()"},
      {"^(", "regex parse error:\n    ^(\nerror: missing ): ^("},
      {"a**", "regex parse error:\n    ^(?:a**)\nerror: bad repetition operator: **"},
      {"\\q", "regex parse error:\n    ^(?:\\q)\nerror: invalid escape sequence: \\q"},
      {"(?<n>a)", "regex parse error:\n    ^(?:(?<n>a))\nerror: invalid perl operator: (?<"},
  };
  for (const auto& r : rows) {
    RegexBuild b = make_regex_element(r.pattern);
    EXPECT_FALSE(b.element) << r.pattern;
    EXPECT_EQ(b.error, r.error) << r.pattern;
  }
  // A program past the budget (each \pL is hundreds of instructions in UTF-8).
  const std::size_t before = live_element_count();
  RegexBuild big = make_regex_element("\\pL{1000}");
  EXPECT_FALSE(big.element);
  EXPECT_EQ(big.error, "Compiled regex exceeds size limit of 10485760 bytes.");
  EXPECT_EQ(live_element_count(), before);
}

TEST(RegexKind, FailuresShareTheStoredMessage) {
  RegexBuild b = make_regex_element("a");
  ParseOutcome o = b.element->parse("b", 0);
  ASSERT_FALSE(o.ok);
  EXPECT_EQ(o.error.message.get(), b.element->message().get());
  StartOutcome s = b.element->parse_at_start("b");
  EXPECT_EQ(s.error.message.get(), b.element->message().get());
}

// Every text of up to four characters over {a, b, é, line break} at every byte position, for patterns with
// classes, alternations, anchors, boundaries, empty matches and single bytes: the routes agree and no match
// starts or ends inside a character (no match at all starts inside one).
TEST(RegexKind, SmallWorld) {
  const std::vector<std::string> texts = testing::small_world_texts({"a", "b", E_ACUTE, "\n"}, 4);
  const char* patterns[] = {"a",    "a*",     "a|ab",  ".",      "\\C",     "[^a]",   "^b|a",
                            "",     "b$",     "\\bb",  "(?m)^a", "\\x{e9}", "(a|b)+", "[\\x{e0}-\\x{ff}]b?",
                            "\\B.", "\\s|\\w"};
  for (const char* p : patterns) {
    ElementRef e = regex(p);
    for (const std::string& t : texts) {
      for (Pos pos = 0; pos <= t.size(); ++pos) {
        SCOPED_TRACE(std::string("/") + p + "/ on '" + t + "' at " + std::to_string(pos));
        ParseOutcome o = testing::parse_by_every_route(*e, t, pos, /*warm=*/true);
        if (!is_char_boundary(t, pos)) {
          EXPECT_FALSE(o.ok);
        }
        if (o.ok) {
          EXPECT_EQ(testing::token_texts(o.tokens), std::vector<std::string>{t.substr(pos, o.end - pos)});
        }
      }
    }
  }
}

}  // namespace
}  // namespace quillex
