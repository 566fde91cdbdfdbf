#include "elements/structure.h"

namespace quillex {

StartOutcome start_success_without_tokens() {
  StartOutcome s;
  s.ok = true;
  return s;
}

ParseOutcome EmptyElement::parse(std::string_view, Pos pos) const { return ParseOutcome::success(pos); }
MatchResult EmptyElement::try_match_at(std::string_view, Pos pos) const { return {true, pos}; }
StartOutcome EmptyElement::parse_at_start(std::string_view) const { return start_success_without_tokens(); }

namespace {
constexpr std::string_view NO_MATCH_MESSAGE = "NoMatch will never match";
}

ParseOutcome NoMatchElement::parse(std::string_view, Pos pos) const {
  return ParseOutcome::failure(SharedStr::make(NO_MATCH_MESSAGE), pos);
}
MatchResult NoMatchElement::try_match_at(std::string_view, Pos) const { return {false, 0}; }
StartOutcome NoMatchElement::parse_at_start(std::string_view) const {
  StartOutcome s;
  s.error.message = SharedStr::make(NO_MATCH_MESSAGE);
  s.error.position = 0;
  return s;
}

}  // namespace quillex
