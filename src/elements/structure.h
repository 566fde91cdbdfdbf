// Structure elements: the constant kinds Empty and NoMatch, and the combinators that hold other elements.
#pragma once

#include "elements/element.h"

namespace quillex {

// Empty: matches with zero length at every position, on every text, with no tokens.
class EmptyElement final : public Element {
 public:
  EmptyElement() noexcept : Element(Kind::Empty) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  StartOutcome parse_at_start(std::string_view text) const override;

 private:
  ~EmptyElement() override = default;
};

// NoMatch: fails everywhere with "NoMatch will never match" (a new string per failure: the kind stores nothing).
class NoMatchElement final : public Element {
 public:
  NoMatchElement() noexcept : Element(Kind::NoMatch) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  StartOutcome parse_at_start(std::string_view text) const override;

 private:
  ~NoMatchElement() override = default;
};

// The success body shared by the kinds that always match at position 0 with no tokens (Empty, LineStart,
// StringStart).
StartOutcome start_success_without_tokens();

}  // namespace quillex
