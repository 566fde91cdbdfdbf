#include "elements/literals.h"

#include <algorithm>

namespace quillex {

namespace {

std::string format_quoted(std::string_view before, std::string_view s, std::string_view after) {
  std::string out;
  out.reserve(before.size() + s.size() + after.size());
  out.append(before).append(s).append(after);
  return out;
}

// Packs the n bytes at `p` big-endian into 32 bits (n <= 4): the key of a wide Char member.
std::uint32_t pack_char(const char* p, unsigned n) noexcept {
  std::uint32_t key = 0;
  for (unsigned i = 0; i < n; ++i) key = (key << 8) | static_cast<unsigned char>(p[i]);
  return key;
}

// The outcomes of a fixed-text kind: a copy of the prebuilt tokens (reference increments only), or the stored
// message at pos.
ParseOutcome fixed_outcome(bool matched, Pos pos, Pos end, const TokenList& tokens, const StrRef& message) {
  if (matched) return ParseOutcome::success(end, tokens);
  return ParseOutcome::failure(message, pos);
}

StartOutcome fixed_start_outcome(bool matched, const TokenList& tokens, const StrRef& message) {
  StartOutcome s;
  s.ok = matched;
  if (matched) {
    s.tokens = tokens;
  } else {
    s.error.message = message;
  }
  return s;
}

}  // namespace

std::string fold_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(fold_ascii(static_cast<unsigned char>(c)));
  return out;
}

TokenList single_token(std::string_view s) {
  TokenList t;
  t.push_back(SharedStr::make(s));
  return t;
}

std::string literal_message(std::string_view s) { return format_quoted("Expected '", s, "'"); }

// ---------------------------------------------------------------------------------------------------------------
// Literal

LiteralElement::LiteralElement(std::string_view text)
    : Element(Kind::Literal),
      tokens_(single_token(text)),
      text_(text),
      message_(SharedStr::make(literal_message(text))),
      first_(text.empty() ? 0 : static_cast<unsigned char>(text[0])) {}

Ref<const LiteralElement> make_literal_element(std::string_view s) { return make_element<LiteralElement>(s); }

ParseOutcome LiteralElement::parse(std::string_view text, Pos pos) const {
  return fixed_outcome(matches_at(text, pos), pos, pos + text_.size(), tokens_, message_);
}

MatchResult LiteralElement::try_match_at(std::string_view text, Pos pos) const {
  return {matches_at(text, pos), pos + text_.size()};
}

MatchResult LiteralElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  if (!matches_at(text, pos)) return out.fail(message_->view(), pos);
  out.push(tokens_.front()->view());
  return {true, pos + text_.size()};
}

StartOutcome LiteralElement::parse_at_start(std::string_view text) const {
  return fixed_start_outcome(matches_at(text, 0), tokens_, message_);
}

// ---------------------------------------------------------------------------------------------------------------
// Keyword

KeywordElement::KeywordElement(std::string_view text)
    : Element(Kind::Keyword),
      tokens_(single_token(text)),
      text_(text),
      ident_(IDENT_CHARS),
      message_(SharedStr::make(format_quoted("Expected keyword '", text, "'"))),
      length_(text.size()),
      first_(text.empty() ? 0 : static_cast<unsigned char>(text[0])) {}

ParseOutcome KeywordElement::parse(std::string_view text, Pos pos) const {
  return fixed_outcome(matches_at(text, pos), pos, pos + length_, tokens_, message_);
}

MatchResult KeywordElement::try_match_at(std::string_view text, Pos pos) const {
  return {matches_at(text, pos), pos + length_};
}

MatchResult KeywordElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  if (!matches_at(text, pos)) return out.fail(message_->view(), pos);
  out.push(tokens_.front()->view());
  return {true, pos + length_};
}

// ---------------------------------------------------------------------------------------------------------------
// CaselessLiteral

CaselessLiteralElement::CaselessLiteralElement(std::string_view text)
    : Element(Kind::CaselessLiteral),
      tokens_(single_token(text)),
      lower_(fold_ascii(text)),
      message_(SharedStr::make(format_quoted("Expected '", text, "' (caseless)"))) {}

ParseOutcome CaselessLiteralElement::parse(std::string_view text, Pos pos) const {
  return fixed_outcome(caseless_equal_at(lower_, text, pos), pos, pos + lower_.size(), tokens_, message_);
}

MatchResult CaselessLiteralElement::try_match_at(std::string_view text, Pos pos) const {
  return {caseless_equal_at(lower_, text, pos), pos + lower_.size()};
}

// The token is the constructor's text, whatever the case of the matched bytes.
MatchResult CaselessLiteralElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  if (!caseless_equal_at(lower_, text, pos)) return out.fail(message_->view(), pos);
  out.push(tokens_.front()->view());
  return {true, pos + lower_.size()};
}

StartOutcome CaselessLiteralElement::parse_at_start(std::string_view text) const {
  return fixed_start_outcome(caseless_equal_at(lower_, text, 0), tokens_, message_);
}

// ---------------------------------------------------------------------------------------------------------------
// CaselessKeyword

CaselessKeywordElement::CaselessKeywordElement(std::string_view text)
    : Element(Kind::CaselessKeyword),
      tokens_(single_token(text)),
      lower_(fold_ascii(text)),
      ident_(IDENT_CHARS),
      message_(SharedStr::make(format_quoted("Expected keyword '", text, "' (caseless)"))),
      length_(text.size()) {}

ParseOutcome CaselessKeywordElement::parse(std::string_view text, Pos pos) const {
  return fixed_outcome(matches_at(text, pos), pos, pos + length_, tokens_, message_);
}

MatchResult CaselessKeywordElement::try_match_at(std::string_view text, Pos pos) const {
  return {matches_at(text, pos), pos + length_};
}

MatchResult CaselessKeywordElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  if (!matches_at(text, pos)) return out.fail(message_->view(), pos);
  out.push(tokens_.front()->view());
  return {true, pos + length_};
}

// ---------------------------------------------------------------------------------------------------------------
// Char

CharElement::CharElement(std::string_view s)
    : Element(Kind::Char), members_{}, message_(SharedStr::make(format_quoted("Expected one of '", s, "'"))) {
  // `s` is UTF-8 from a str; a stray or cut-off byte (possible only from C++ callers) is no member.
  for (std::size_t i = 0; i < s.size();) {
    const auto lead = static_cast<unsigned char>(s[i]);
    const unsigned n = utf8_char_len(lead);
    if (lead < 0x80) {
      members_[lead] = CHAR_ASCII;
    } else if (n >= 2 && n <= s.size() - i) {
      members_[lead] = CHAR_WIDE;
      wide_.push_back(pack_char(s.data() + i, n));
    }
    i += std::min<std::size_t>(n, s.size() - i);
  }
  std::sort(wide_.begin(), wide_.end());
  wide_.erase(std::unique(wide_.begin(), wide_.end()), wide_.end());
}

unsigned CharElement::wide_match_len(std::string_view text, Pos pos) const noexcept {
  const unsigned n = utf8_char_len(static_cast<unsigned char>(text[pos]));
  if (n > text.size() - pos) return 0;
  return std::binary_search(wide_.begin(), wide_.end(), pack_char(text.data() + pos, n)) ? n : 0;
}

ParseOutcome CharElement::parse(std::string_view text, Pos pos) const {
  const unsigned n = match_len(text, pos);
  if (n == 0) return ParseOutcome::failure(message_, pos);
  return ParseOutcome::success(pos + n, single_token(text.substr(pos, n)));
}

MatchResult CharElement::try_match_at(std::string_view text, Pos pos) const {
  const unsigned n = match_len(text, pos);
  return {n != 0, pos + n};
}

MatchResult CharElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  const unsigned n = match_len(text, pos);
  if (n == 0) return out.fail(message_->view(), pos);
  out.push(text.substr(pos, n));
  return {true, pos + n};
}

}  // namespace quillex
