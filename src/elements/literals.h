// Literal, keyword and character-set elements: kinds that match a fixed text or one character of a fixed set.
// All compare bytes of the UTF-8 text. A fixed text made of whole characters, tried at a character boundary,
// can only match whole characters, so only Char needs a UTF-8 rule of its own (see CharElement).
//
// The pieces below the kinds (IDENT_CHARS, ident_boundary_after, caseless_equal_at) are the element rules that
// the specialised methods apply in place over a text; they must give exactly what the kinds' operations give.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "elements/element.h"

namespace quillex {

// A table indexed by byte value.
using ByteTable = std::array<std::uint8_t, 256>;

// 1 for the identifier bytes '0'-'9', 'A'-'Z', 'a'-'z' and '_', 0 for every other byte (0x80 and above
// included, so a keyword followed by a non-ASCII character ends at a boundary).
inline constexpr ByteTable IDENT_CHARS = [] {
  ByteTable t{};
  for (int b = '0'; b <= '9'; ++b) t[b] = 1;
  for (int b = 'A'; b <= 'Z'; ++b) t[b] = 1;
  for (int b = 'a'; b <= 'z'; ++b) t[b] = 1;
  t['_'] = 1;
  return t;
}();

// The keyword end test: a match ending at `end` is accepted when no identifier byte follows it (end is the
// length, or ident[text[end]] == 0). The byte before the match is never tested. Requires end <= text.size().
inline bool ident_boundary_after(const ByteTable& ident, std::string_view text, Pos end) noexcept {
  return end >= text.size() || ident[static_cast<unsigned char>(text[end])] == 0;
}

// Folds 'A'-'Z' to 'a'-'z'; every other byte, non-ASCII ones included, is unchanged.
inline constexpr unsigned char fold_ascii(unsigned char b) noexcept {
  return static_cast<unsigned char>(b - 'A') < 26 ? static_cast<unsigned char>(b + 0x20) : b;
}

// `s` with every byte folded (the `lower` field of the caseless kinds).
std::string fold_ascii(std::string_view s);

// True when the n = lower.size() bytes of `text` at `pos` exist and, folded, equal `lower` (which is folded
// already). Stops at the first difference. Requires pos <= text.size().
inline bool caseless_equal_at(std::string_view lower, std::string_view text, Pos pos) noexcept {
  const std::size_t n = lower.size();
  if (n > text.size() - pos) return false;
  const auto* t = reinterpret_cast<const unsigned char*>(text.data() + pos);
  const auto* l = reinterpret_cast<const unsigned char*>(lower.data());
  for (std::size_t i = 0; i < n; ++i) {
    if (fold_ascii(t[i]) != l[i]) return false;
  }
  return true;
}

// Whether the bytes of `want` (whose first byte is `first`) stand in `text` at `pos`. Rejects most positions on
// the first byte before comparing the rest; the empty `want` stands everywhere.
inline bool fixed_bytes_at(std::string_view want, unsigned char first, std::string_view text, Pos pos) noexcept {
  const std::size_t n = want.size();
  if (n > text.size() - pos) return false;
  if (n == 0) return true;
  return static_cast<unsigned char>(text[pos]) == first &&
         (n == 1 || std::memcmp(text.data() + pos + 1, want.data() + 1, n - 1) == 0);
}

// A TokenList of one new shared string equal to `s`: the prebuilt result of the fixed-text kinds.
TokenList single_token(std::string_view s);

// ---------------------------------------------------------------------------------------------------------------
// Literal: matches its text exactly; the empty literal matches with zero length everywhere. Success hands out
// a copy of the prebuilt token list (one reference increment, no allocation). Fails with "Expected '{text}'".
class LiteralElement final : public Element {
 public:
  explicit LiteralElement(std::string_view text);
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;
  StartOutcome parse_at_start(std::string_view text) const override;

  // Whether the literal's bytes stand at `pos` (the match then ends at pos + text().size()).
  bool matches_at(std::string_view text, Pos pos) const noexcept { return fixed_bytes_at(text_, first_, text, pos); }

  const TokenList& tokens() const noexcept { return tokens_; }
  std::string_view text() const noexcept { return text_; }
  const StrRef& message() const noexcept { return message_; }
  unsigned char first() const noexcept { return first_; }

 private:
  ~LiteralElement() override = default;
  TokenList tokens_;
  std::string text_;
  StrRef message_;
  unsigned char first_;
};

// "Expected '{s}'": the failure text of a literal (the element's message, and the Literal object's own copy).
std::string literal_message(std::string_view s);

// The one way to build a LiteralElement (the Literal constructor and one_of): `s` is the literal's UTF-8.
Ref<const LiteralElement> make_literal_element(std::string_view s);

// Keyword: the literal test, accepted only where no identifier byte follows the match. An empty keyword
// matches with zero length exactly where pos is the length or text[pos] is not an identifier byte. Fails with
// "Expected keyword '{text}'".
class KeywordElement final : public Element {
 public:
  explicit KeywordElement(std::string_view text);
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;

  bool matches_at(std::string_view text, Pos pos) const noexcept {
    return fixed_bytes_at(text_, first_, text, pos) && ident_boundary_after(ident_, text, pos + length_);
  }

  const TokenList& tokens() const noexcept { return tokens_; }
  std::string_view text() const noexcept { return text_; }
  const ByteTable& ident() const noexcept { return ident_; }
  const StrRef& message() const noexcept { return message_; }
  Pos length() const noexcept { return length_; }
  unsigned char first() const noexcept { return first_; }

 private:
  ~KeywordElement() override = default;
  TokenList tokens_;
  std::string text_;
  ByteTable ident_;
  StrRef message_;
  Pos length_;
  unsigned char first_;
};

// CaselessLiteral: matches where the text, with 'A'-'Z' folded, equals its folded text; only ASCII letters
// fold. The token is the constructor's text as received, whatever the case of the matched bytes. Fails with
// "Expected '{text}' (caseless)".
class CaselessLiteralElement final : public Element {
 public:
  explicit CaselessLiteralElement(std::string_view text);
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;
  StartOutcome parse_at_start(std::string_view text) const override;

  const TokenList& tokens() const noexcept { return tokens_; }
  std::string_view lower() const noexcept { return lower_; }
  const StrRef& message() const noexcept { return message_; }

 private:
  ~CaselessLiteralElement() override = default;
  TokenList tokens_;
  std::string lower_;
  StrRef message_;
};

// CaselessKeyword: the caseless test, then the keyword end test. Fails with
// "Expected keyword '{text}' (caseless)".
class CaselessKeywordElement final : public Element {
 public:
  explicit CaselessKeywordElement(std::string_view text);
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;

  bool matches_at(std::string_view text, Pos pos) const noexcept {
    return caseless_equal_at(lower_, text, pos) && ident_boundary_after(ident_, text, pos + length_);
  }

  const TokenList& tokens() const noexcept { return tokens_; }
  std::string_view lower() const noexcept { return lower_; }
  const ByteTable& ident() const noexcept { return ident_; }
  const StrRef& message() const noexcept { return message_; }
  Pos length() const noexcept { return length_; }

 private:
  ~CaselessKeywordElement() override = default;
  TokenList tokens_;
  std::string lower_;
  ByteTable ident_;
  StrRef message_;
  Pos length_;
};

// Char: matches one character of its string and consumes it; the token is that character (a new string per
// match). ASCII members are one table lookup. A non-ASCII member matches its whole character: `members` marks
// its lead byte with CHAR_WIDE, and the character at the position is then looked up among the wide members, so
// Char('éa') matches 'é' whole and never matches 'ã' (which shares the lead byte 0xC3). A continuation byte
// never matches. A Char of the empty string matches nothing. Fails with "Expected one of '{s}'".
class CharElement final : public Element {
 public:
  // `members` values.
  static constexpr std::uint8_t CHAR_ASCII = 1;  // an ASCII member: matches this byte
  static constexpr std::uint8_t CHAR_WIDE = 2;   // lead byte of at least one non-ASCII member

  explicit CharElement(std::string_view s);
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;

  // Byte length of the member character at `pos`, or 0 when there is none (pos == length included).
  unsigned match_len(std::string_view text, Pos pos) const noexcept {
    if (pos >= text.size()) return 0;
    const std::uint8_t m = members_[static_cast<unsigned char>(text[pos])];
    if (m == CHAR_ASCII) return 1;
    if (m == 0) return 0;
    return wide_match_len(text, pos);
  }

  // True when every member is ASCII: then a match is exactly a byte b with members()[b] == CHAR_ASCII, and
  // in-place counts may sum the table over the bytes.
  bool ascii_only() const noexcept { return wide_.empty(); }
  const ByteTable& members() const noexcept { return members_; }
  // The non-ASCII members, each as its UTF-8 bytes packed big-endian into 32 bits, sorted.
  const std::vector<std::uint32_t>& wide_members() const noexcept { return wide_; }
  const StrRef& message() const noexcept { return message_; }

 private:
  ~CharElement() override = default;
  unsigned wide_match_len(std::string_view text, Pos pos) const noexcept;
  ByteTable members_;
  // The non-ASCII members, each as its UTF-8 bytes packed big-endian into 32 bits, sorted.
  std::vector<std::uint32_t> wide_;
  StrRef message_;
};

}  // namespace quillex
