// The route verifier of the element suites: `parse`, `try_match_at`, `parse_into` and (at 0) `parse_at_start`
// must agree, `try_match_at` must allocate nothing, and a non-empty match must start and end on character
// boundaries.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "elements/element.h"

namespace quillex::testing {

inline std::vector<std::string> token_texts(const TokenList& tokens) {
  std::vector<std::string> out;
  for (const StrRef& t : tokens) out.emplace_back(t->view());
  return out;
}

// The engine's parse path against `parse`'s outcome `o` at the same position: the same success, end and token
// texts appended after what the buffer already held, or the same failure text and position with the buffer as
// it was. `parse_into_agrees` answers quietly (for loops over many cases), `expect_parse_into_agrees` reports.
inline bool parse_into_agrees(const Element& e, std::string_view text, Pos pos, const ParseOutcome& o) {
  TokenBuffer buffer;
  buffer.push("held before");
  const MatchResult m = e.parse_into(text, pos, buffer);
  if (m.matched != o.ok || buffer.size() < 1 || buffer[0] != "held before") return false;
  if (!o.ok) {
    return buffer.size() == 1 && buffer.error_message() == o.error.message->view() &&
           buffer.error_position() == o.error.position;
  }
  if (m.end != o.end || buffer.size() != o.tokens.size() + 1) return false;
  for (std::size_t i = 0; i < o.tokens.size(); ++i) {
    if (buffer[i + 1] != o.tokens[i]->view()) return false;
  }
  return true;
}

inline void expect_parse_into_agrees(const Element& e, std::string_view text, Pos pos, const ParseOutcome& o) {
  TokenBuffer buffer;
  buffer.push("held before");
  const MatchResult m = e.parse_into(text, pos, buffer);
  ASSERT_EQ(m.matched, o.ok) << "parse_into and parse disagree";
  ASSERT_GE(buffer.size(), 1u);
  EXPECT_EQ(buffer[0], "held before");
  if (o.ok) {
    EXPECT_EQ(m.end, o.end) << "parse_into and parse end apart";
    std::vector<std::string> appended;
    for (std::size_t i = 1; i < buffer.size(); ++i) appended.emplace_back(buffer[i]);
    EXPECT_EQ(appended, token_texts(o.tokens)) << "parse_into and parse give other tokens";
  } else {
    EXPECT_EQ(buffer.size(), 1u) << "a failed parse_into left tokens behind";
    EXPECT_EQ(buffer.error_message(), o.error.message->view());
    EXPECT_EQ(buffer.error_position(), o.error.position);
  }
}

// The kind the tests' own elements claim. Readings and scans look inside an element by its kind (a Char's
// members, a SkipTo's target), so an element of the tests must claim one whose reading looks at nothing and
// whose scans only call its operations: rest_of_line's.
inline constexpr Kind TEST_ELEMENT_KIND = Kind::RestOfLine;

// A zero-width test of the next byte (`byte` at pos): the one kind of the tests that matches inside a character.
class BeforeByte final : public Element {
 public:
  explicit BeforeByte(char b) : Element(TEST_ELEMENT_KIND), byte_(b) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override {
    if (try_match_at(text, pos).matched) return ParseOutcome::success(pos);
    return ParseOutcome::failure(SharedStr::make("no byte"), pos);
  }
  MatchResult try_match_at(std::string_view text, Pos pos) const override {
    return {pos < text.size() && text[pos] == byte_, pos};
  }
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override {
    if (try_match_at(text, pos).matched) return {true, pos};
    return out.fail("no byte", pos);
  }

 private:
  ~BeforeByte() override = default;
  char byte_;
};

// Runs every route at `pos` and checks that they agree with each other; gives parse's outcome. `warm` runs
// try_match_at once before the measured call (a regex builds its search cache on first use). A terminal fails
// at the position it was tried; a combinator may hand on a child's failure from further on, so the caller checks
// the error position of combinators itself (`error_at_pos` false).
inline ParseOutcome parse_by_every_route(const Element& e, std::string_view text, Pos pos, bool warm = false,
                                         bool error_at_pos = true) {
  ParseOutcome o = e.parse(text, pos);
  if (warm) (void)e.try_match_at(text, pos);
  MatchResult m;
  {
    AllocationScope scope;
    m = e.try_match_at(text, pos);
    EXPECT_EQ(scope.count(), 0u) << "try_match_at allocated";
  }
  EXPECT_EQ(m.matched, o.ok) << "try_match_at and parse disagree";
  expect_parse_into_agrees(e, text, pos, o);
  if (o.ok && m.matched) {
    EXPECT_EQ(m.end, o.end) << "try_match_at and parse end apart";
    EXPECT_GE(o.end, pos);
    EXPECT_LE(o.end, text.size());
    if (o.end > pos) {
      EXPECT_TRUE(is_char_boundary(text, pos)) << "non-empty match starts inside a character";
      EXPECT_TRUE(is_char_boundary(text, o.end)) << "non-empty match ends inside a character";
    }
  }
  if (!o.ok) {
    if (error_at_pos) {
      EXPECT_EQ(o.error.position, pos);
    }
    EXPECT_TRUE(o.error.message);
  }
  if (pos == 0) {
    StartOutcome s = e.parse_at_start(text);
    EXPECT_EQ(s.ok, o.ok) << "parse_at_start and parse disagree";
    if (s.ok && o.ok) {
      EXPECT_EQ(token_texts(s.tokens), token_texts(o.tokens));
    }
    if (!s.ok && !o.ok) {
      EXPECT_EQ(s.error.position, o.error.position);
      EXPECT_EQ(s.error.message->view(), o.error.message->view());
    }
  }
  return o;
}

// One row of a table: an element, a text and a position, and the expected end and tokens, or failure and its
// message.
struct RouteCase {
  const char* name;
  ElementRef element;
  std::string text;
  Pos pos;
  std::optional<Pos> end;            // nullopt: failure
  std::vector<std::string> tokens;   // on success
  std::string message;               // on failure
  std::optional<Pos> error_pos = {};  // on failure; default: pos
};

inline void verify_case(const RouteCase& c, bool warm = false) {
  SCOPED_TRACE(std::string(c.name) + " on '" + c.text + "' at " + std::to_string(c.pos));
  ParseOutcome o = parse_by_every_route(*c.element, c.text, c.pos, warm, !c.error_pos);
  ASSERT_EQ(o.ok, c.end.has_value());
  if (o.ok) {
    EXPECT_EQ(o.end, *c.end);
    EXPECT_EQ(token_texts(o.tokens), c.tokens);
  } else {
    EXPECT_EQ(o.error.message->view(), c.message);
    EXPECT_EQ(o.error.position, c.error_pos.value_or(c.pos));
  }
  EXPECT_FALSE(take_recursion_overflow());
}

// Every text of up to `max_chars` characters over `alphabet` (each entry one character, of any byte length).
inline std::vector<std::string> small_world_texts(const std::vector<std::string>& alphabet, int max_chars) {
  std::vector<std::string> out{""};
  std::size_t from = 0;
  for (int len = 1; len <= max_chars; ++len) {
    const std::size_t to = out.size();
    for (std::size_t i = from; i < to; ++i) {
      for (const std::string& c : alphabet) out.push_back(out[i] + c);
    }
    from = to;
  }
  return out;
}

}  // namespace quillex::testing
