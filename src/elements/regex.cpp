#include "elements/regex.h"

#include "elements/chars.h"
#include "elements/regex_syntax.h"

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

// Whether RE2 agrees with a class run read from the text, on every ASCII byte and on characters of each UTF-8
// length: the anchored expression matches the one-character text exactly when the character is a member. A
// reading RE2 contradicts is dropped, and the element then asks RE2 for everything.
bool re2_confirms_run(const re2::RE2& anchored, const std::bitset<256>& members) {
  auto matches_whole = [&anchored](std::string_view s) {
    return anchored.Match(re2::StringPiece(s.data(), s.size()), 0, s.size(), re2::RE2::ANCHOR_BOTH, nullptr, 0);
  };
  for (unsigned b = 0; b < 0x80; ++b) {
    const char c = static_cast<char>(b);
    if (matches_whole(std::string_view(&c, 1)) != members.test(b)) return false;
  }
  static constexpr std::string_view WIDE[] = {"\u0080", "\u00e9", "\u017f", "\u07ff", "\u0800",
                                              "\u212a", "\uffff", "\U00010000", "\U0010ffff"};
  for (std::string_view w : WIDE) {
    if (matches_whole(w) != members.test(0x80)) return false;
  }
  return true;
}

RegexFastForm fast_form(std::string_view pattern, const re2::RE2& anchored) {
  RegexFastForm fast;
  const std::optional<regex_syntax::Shape> shape = regex_syntax::read_shape(pattern);
  if (!shape) return fast;
  if (shape->run_class) {
    if (!re2_confirms_run(anchored, shape->run_class->bytes)) return fast;
    fast.run.emplace(shape->run_class->bytes);
    fast.run_may_be_empty = shape->run_may_be_empty;
  }
  fast.may_be_empty = shape->may_be_empty;
  std::bitset<256> first = shape->first_bytes;
  for (unsigned b = 0x80; b < 0xC0; ++b) first.reset(b);
  fast.first = ByteClass(first);
  return fast;
}

}  // namespace

RegexBuild make_regex_element(std::string_view pattern) {
  RegexBuild build;
  if (regex_syntax::nesting_depth(pattern, REGEX_NESTING_LIMIT) > REGEX_NESTING_LIMIT) {
    build.error = "regex parse error:\n    " + regex_anchored_text(pattern) + "\nerror: ";
    build.error.append(REGEX_NESTING_ERROR);
    return build;
  }
  std::unique_ptr<const re2::RE2> anchored = compile(regex_anchored_text(pattern), build.error);
  if (!anchored) return build;
  std::unique_ptr<const re2::RE2> unanchored = compile(regex_unanchored_text(pattern), build.error);
  if (!unanchored) return build;
  RegexFastForm fast = fast_form(pattern, *anchored);
  build.element = make_element<RegexElement>(std::move(anchored), std::move(unanchored), pattern, std::move(fast));
  return build;
}

RegexElement::RegexElement(std::unique_ptr<const re2::RE2> anchored, std::unique_ptr<const re2::RE2> unanchored,
                           std::string_view pattern, RegexFastForm fast)
    : Element(Kind::Regex), anchored_(std::move(anchored)), unanchored_(std::move(unanchored)), fast_(std::move(fast)) {
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
