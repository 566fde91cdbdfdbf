// Regex: a regular expression (RE2's dialect: \d, \w, \s and \b are ASCII) matched at a position. The pattern
// is compiled twice at construction: `anchored` tests a position, `unanchored` is kept for the methods that
// search a whole text. Matching never compiles.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <re2/re2.h>

#include "elements/element.h"

namespace quillex {

// The options of every compiled pattern: UTF-8 input, leftmost-first alternation, no logging to stderr, and
// max_mem equal to the size limit the compile error names, so that limit is RE2's real budget for the
// expression.
inline constexpr long long REGEX_SIZE_LIMIT = 10485760;
const re2::RE2::Options& regex_options();

// Matches the anchored expression against the text from `pos`: the expression sees only that slice, so '^',
// '\A' and '\b' treat pos as the start of the text, and the match is anchored as a whole (a match always
// starts at pos, even for a pattern like '^a|b' whose later branches carry no '^'). A match may be empty. No
// match, not even an empty one, at a position inside a multi-byte character, and none whose end would fall
// inside one (possible only through '\C'). Fails with "Expected match for /{pattern}/".
class RegexElement final : public Element {
 public:
  RegexElement(std::unique_ptr<const re2::RE2> anchored, std::unique_ptr<const re2::RE2> unanchored,
               std::string_view pattern);
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;

  // The rule of try_match_at, for the methods that apply it in place. A search borrows RE2's per-expression
  // cache (built on first use); a repeated search allocates nothing.
  MatchResult match_at(std::string_view text, Pos pos) const noexcept {
    if (!is_char_boundary(text, pos)) return {false, 0};
    const re2::StringPiece slice(text.data() + pos, text.size() - pos);
    re2::StringPiece match;
    if (!anchored_->Match(slice, 0, slice.size(), re2::RE2::ANCHOR_START, &match, 1)) return {false, 0};
    const Pos end = pos + match.size();
    if (!is_char_boundary(text, end)) return {false, 0};
    return {true, end};
  }

  const re2::RE2& anchored() const noexcept { return *anchored_; }
  const re2::RE2& unanchored() const noexcept { return *unanchored_; }
  const StrRef& message() const noexcept { return message_; }

 private:
  ~RegexElement() override = default;
  std::unique_ptr<const re2::RE2> anchored_;
  std::unique_ptr<const re2::RE2> unanchored_;
  StrRef message_;
};

// The two source texts: the pattern unchanged when it begins with '^', else "^(?:{pattern})"; and
// "(?:{pattern})".
std::string regex_anchored_text(std::string_view pattern);
std::string regex_unanchored_text(std::string_view pattern);

// The one way to build a RegexElement. On a compile error `element` is empty and `error` holds the ValueError
// text: "regex parse error:\n    {compiled text}\nerror: {RE2's description}", or, for a program over the
// budget, "Compiled regex exceeds size limit of 10485760 bytes.". The anchored text is compiled first.
struct RegexBuild {
  Ref<const RegexElement> element;
  std::string error;
};
RegexBuild make_regex_element(std::string_view pattern);

}  // namespace quillex
