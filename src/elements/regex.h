// Regex: a regular expression (RE2's dialect: \d, \w, \s and \b are ASCII) matched at a position. The pattern
// is compiled twice at construction: `anchored` tests a position, `unanchored` is kept for the methods that
// search a whole text. Matching never compiles. What the pattern's text tells (regex_syntax.h) is kept beside
// them, so that a position no match can start at, and the whole of a class run, are settled without RE2.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <re2/re2.h>

#include "elements/element.h"
#include "elements/literals.h"
#include "elements/regex_automaton.h"
#include "elements/regex_run.h"
#include "elements/regex_sequence.h"

namespace quillex {

// The options of every compiled pattern: UTF-8 input, leftmost-first alternation, no logging to stderr, and
// max_mem equal to the size limit the compile error names, so that limit is RE2's real budget for the
// expression.
inline constexpr long long REGEX_SIZE_LIMIT = 10485760;
const re2::RE2::Options& regex_options();

// The deepest nesting of groups and repetitions a pattern may have (regex_syntax::nesting_depth); a deeper one
// is refused before it is compiled.
inline constexpr int REGEX_NESTING_LIMIT = 250;

// What the element knows of its matches beside RE2, settled at construction (see regex_syntax::Shape):
//  - `run`: the pattern is a class run ('*' when `run_may_be_empty`), and every match is a byte scan (RE2 is
//    never entered);
//  - else `sequence`: the pattern is a plain sequence, and every match is a walk over the bytes (RE2 is never
//    entered either);
//  - else `automaton`: the pattern is characters, classes, groups, alternations and counts, and every match is
//    a walk of its automaton (no RE2 either);
//  - else, when `may_be_empty` is false, a match can start only at a member of `first` (a superset of the
//    bytes matches start with; continuation bytes, where no match may start, are no members);
//  - a pattern the reader does not vouch for has `may_be_empty` true and no run: every test goes to RE2.
struct RegexFastForm {
  std::optional<ByteClass> run;
  bool run_may_be_empty = false;
  std::optional<ByteSequence> sequence;
  std::optional<CharAutomaton> automaton;
  bool may_be_empty = true;
  ByteClass first;
};

// Matches the anchored expression against the text from `pos`: the expression sees only that slice, so '^',
// '\A' and '\b' treat pos as the start of the text, and the match is anchored as a whole (a match always
// starts at pos, even for a pattern like '^a|b' whose later branches carry no '^'). A match may be empty. No
// match, not even an empty one, at a position inside a multi-byte character, and none whose end would fall
// inside one (possible only through '\C'). Fails with "Expected match for /{pattern}/".
class RegexElement final : public Element {
 public:
  RegexElement(std::unique_ptr<const re2::RE2> anchored, std::unique_ptr<const re2::RE2> unanchored,
               std::string_view pattern, RegexFastForm fast);
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;

  // The rule of try_match_at, for the methods that apply it in place. A class run, a plain sequence and an
  // automaton answer from the bytes, and a byte no match starts with refuses at once; otherwise a search
  // borrows RE2's per-expression cache (built on first use), and a repeated search allocates nothing.
  MatchResult match_at(std::string_view text, Pos pos) const noexcept {
    if (!is_char_boundary(text, pos)) return {false, 0};
    if (fast_.run) {
      if (pos < text.size() && fast_.run->contains(static_cast<unsigned char>(text[pos]))) {
        return {true, fast_.run->run_end(text, pos + 1)};
      }
      return {fast_.run_may_be_empty, pos};
    }
    if (fast_.sequence) return fast_.sequence->match(text, pos);
    if (fast_.automaton) return fast_.automaton->match(text, pos);
    if (!fast_.may_be_empty && (pos >= text.size() || !fast_.first.contains(static_cast<unsigned char>(text[pos])))) {
      return {false, 0};
    }
    return anchored_match(text, pos);
  }

  // The rule of match_at through RE2 alone: the plain route every fast form must agree with.
  MatchResult re2_match_at(std::string_view text, Pos pos) const noexcept {
    if (!is_char_boundary(text, pos)) return {false, 0};
    return anchored_match(text, pos);
  }

  const re2::RE2& anchored() const noexcept { return *anchored_; }
  const re2::RE2& unanchored() const noexcept { return *unanchored_; }
  const StrRef& message() const noexcept { return message_; }
  const RegexFastForm& fast() const noexcept { return fast_; }

 private:
  ~RegexElement() override = default;
  // RE2's anchored search of text[pos, ...) from a character boundary; an end inside a character is no match.
  MatchResult anchored_match(std::string_view text, Pos pos) const noexcept {
    const re2::StringPiece slice(text.data() + pos, text.size() - pos);
    re2::StringPiece match;
    if (!anchored_->Match(slice, 0, slice.size(), re2::RE2::ANCHOR_START, &match, 1)) return {false, 0};
    const Pos end = pos + match.size();
    if (!is_char_boundary(text, end)) return {false, 0};
    return {true, end};
  }

  std::unique_ptr<const re2::RE2> anchored_;
  std::unique_ptr<const re2::RE2> unanchored_;
  StrRef message_;
  RegexFastForm fast_;
};

// The two source texts: the pattern unchanged when it begins with '^', else "^(?:{pattern})"; and
// "(?:{pattern})".
std::string regex_anchored_text(std::string_view pattern);
std::string regex_unanchored_text(std::string_view pattern);

// The one way to build a RegexElement. On a compile error `element` is empty and `error` holds the ValueError
// text: "regex parse error:\n    {compiled text}\nerror: {RE2's description}", or, for a program over the
// budget, "Compiled regex exceeds size limit of 10485760 bytes.". The anchored text is compiled first. A
// pattern nested deeper than REGEX_NESTING_LIMIT is refused before RE2 reads it, in the first form with the
// anchored text and the description REGEX_NESTING_ERROR.
inline constexpr std::string_view REGEX_NESTING_ERROR =
    "nesting too deep: more than 250 levels of groups and repetitions";
struct RegexBuild {
  Ref<const RegexElement> element;
  std::string error;
};
RegexBuild make_regex_element(std::string_view pattern);

}  // namespace quillex
