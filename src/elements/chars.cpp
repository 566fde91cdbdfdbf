#include "elements/chars.h"

#include <algorithm>

namespace quillex {

ParseOutcome slice_outcome(const MatchResult& m, std::string_view text, Pos pos, const StrRef& message) {
  if (!m.matched) return ParseOutcome::failure(message, pos);
  TokenList t;
  t.push_back(SharedStr::make(text.substr(pos, m.end - pos)));
  return ParseOutcome::success(m.end, std::move(t));
}

// ---------------------------------------------------------------------------------------------------------------
// ByteBitSet

ByteBitSet ByteBitSet::from_utf8(std::string_view s) noexcept {
  ByteBitSet set;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      set.insert(b);
      ++i;
      continue;
    }
    // Only the two-byte characters with lead 0xC2 or 0xC3 are below U+0100.
    if ((b & 0xFE) == 0xC2 && i + 1 < s.size() && is_continuation_byte(static_cast<unsigned char>(s[i + 1]))) {
      set.insert(((b & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu));
    }
    i += std::min<std::size_t>(utf8_char_len(b), s.size() - i);
  }
  return set;
}

// ---------------------------------------------------------------------------------------------------------------
// Word

std::string word_message(std::string_view init_chars) {
  std::size_t cut = std::min<std::size_t>(8, init_chars.size());
  while (!is_char_boundary(init_chars, cut)) --cut;
  std::string out = "Expected W:(";
  out.append(init_chars.substr(0, cut)).append("...)");
  return out;
}

WordElement::WordElement(std::string_view init_chars, std::optional<std::string_view> body_chars, Pos min, Pos max)
    : Element(Kind::Word),
      message_(SharedStr::make(word_message(init_chars))),
      init_(ByteBitSet::from_utf8(init_chars)),
      body_(body_chars ? ByteBitSet::from_utf8(*body_chars) : init_),
      min_(min),
      max_(max) {}

MatchResult WordElement::try_match_at(std::string_view text, Pos pos) const { return match(text, pos); }

MatchResult WordElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  const MatchResult m = match(text, pos);
  if (!m.matched) return out.fail(message_->view(), pos);
  out.push(text.substr(pos, m.end - pos));
  return m;
}

ParseOutcome WordElement::parse(std::string_view text, Pos pos) const {
  return slice_outcome(match(text, pos), text, pos, message_);
}

// ---------------------------------------------------------------------------------------------------------------
// QuotedString

namespace {

// The first character of `s` into `out`; its byte length (0 for the empty string).
std::uint8_t first_char(std::string_view s, std::array<char, 4>& out) noexcept {
  if (s.empty()) return 0;
  const auto len = static_cast<std::uint8_t>(
      std::min<std::size_t>(utf8_char_len(static_cast<unsigned char>(s[0])), s.size()));
  std::memcpy(out.data(), s.data(), len);
  return len;
}

}  // namespace

QuotedStringElement::QuotedStringElement(std::string_view quote_char, std::optional<std::string_view> esc_char,
                                         bool multiline, bool unquote)
    : Element(Kind::QuotedString), multiline_(multiline), unquote_(unquote) {
  std::string message = "Expected quoted string starting with '";
  message.append(quote_char).append("'");
  message_ = SharedStr::make(message);
  quote_len_ = first_char(quote_char.empty() ? std::string_view("\"") : quote_char, quote_);
  if (esc_char) escape_len_ = first_char(*esc_char, escape_);
}

ParseOutcome QuotedStringElement::parse(std::string_view text, Pos pos) const {
  const std::optional<Pos> close = scan_quoted_string(*this, text, pos);
  if (!close) return ParseOutcome::failure(message_, pos);
  const Pos end = *close + quote_len_;
  TokenList t;
  t.push_back(unquote_ ? SharedStr::make(text.substr(pos + quote_len_, *close - pos - quote_len_))
                       : SharedStr::make(text.substr(pos, end - pos)));
  return ParseOutcome::success(end, std::move(t));
}

MatchResult QuotedStringElement::try_match_at(std::string_view text, Pos pos) const {
  const std::optional<Pos> close = scan_quoted_string(*this, text, pos);
  return {close.has_value(), close.value_or(0) + quote_len_};
}

MatchResult QuotedStringElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  const std::optional<Pos> close = scan_quoted_string(*this, text, pos);
  if (!close) return out.fail(message_->view(), pos);
  const Pos end = *close + quote_len_;
  out.push(unquote_ ? text.substr(pos + quote_len_, *close - pos - quote_len_) : text.substr(pos, end - pos));
  return {true, end};
}

}  // namespace quillex
