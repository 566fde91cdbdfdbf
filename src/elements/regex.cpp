#include "elements/regex.h"

#include "elements/chars.h"

namespace quillex {

const re2::RE2::Options& regex_options() {
  static const re2::RE2::Options options = [] {
    re2::RE2::Options o;
    o.set_encoding(re2::RE2::Options::EncodingUTF8);
    o.set_longest_match(false);
    o.set_log_errors(false);
    o.set_max_mem(REGEX_SIZE_LIMIT);
    return o;
  }();
  return options;
}

std::string regex_anchored_text(std::string_view pattern) {
  if (!pattern.empty() && pattern[0] == '^') return std::string(pattern);
  std::string out = "^(?:";
  out.append(pattern).append(")");
  return out;
}

std::string regex_unanchored_text(std::string_view pattern) {
  std::string out = "(?:";
  out.append(pattern).append(")");
  return out;
}

namespace {

// Compiles `source`; on failure gives nullptr and sets `error` to the ValueError text.
std::unique_ptr<const re2::RE2> compile(const std::string& source, std::string& error) {
  auto re = std::make_unique<const re2::RE2>(re2::StringPiece(source.data(), source.size()), regex_options());
  if (re->ok()) return re;
  if (re->error_code() == re2::RE2::ErrorPatternTooLarge) {
    error = "Compiled regex exceeds size limit of " + std::to_string(REGEX_SIZE_LIMIT) + " bytes.";
  } else {
    error = "regex parse error:\n    " + source + "\nerror: " + re->error();
  }
  return nullptr;
}

}  // namespace

RegexBuild make_regex_element(std::string_view pattern) {
  RegexBuild build;
  std::unique_ptr<const re2::RE2> anchored = compile(regex_anchored_text(pattern), build.error);
  if (!anchored) return build;
  std::unique_ptr<const re2::RE2> unanchored = compile(regex_unanchored_text(pattern), build.error);
  if (!unanchored) return build;
  build.element = make_element<RegexElement>(std::move(anchored), std::move(unanchored), pattern);
  return build;
}

RegexElement::RegexElement(std::unique_ptr<const re2::RE2> anchored, std::unique_ptr<const re2::RE2> unanchored,
                           std::string_view pattern)
    : Element(Kind::Regex), anchored_(std::move(anchored)), unanchored_(std::move(unanchored)) {
  std::string message = "Expected match for /";
  message.append(pattern).append("/");
  message_ = SharedStr::make(message);
}

MatchResult RegexElement::try_match_at(std::string_view text, Pos pos) const { return match_at(text, pos); }

MatchResult RegexElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  const MatchResult m = try_match_at(text, pos);
  if (!m.matched) return out.fail(message_->view(), pos);
  out.push(text.substr(pos, m.end - pos));
  return m;
}

ParseOutcome RegexElement::parse(std::string_view text, Pos pos) const {
  return slice_outcome(try_match_at(text, pos), text, pos, message_);
}

}  // namespace quillex
