// Word and QuotedString elements: runs of text whose length depends on the text (Regex, the third of this
// family, has regex.h). With ByteBitSet (the character sets of a Word) and scan_quoted_string (the
// closing-quote scan), the rules that the specialised methods apply in place over a text; they must give
// exactly what the kinds' operations give.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "elements/element.h"

namespace quillex {

// The parse of the kinds whose one token is the matched slice (Word, Regex): success with a new string of
// text[pos, m.end), else `message` at pos.
ParseOutcome slice_outcome(const MatchResult& m, std::string_view text, Pos pos, const StrRef& message);

// A set of the values 0-255 as four 64-bit words: v is a member when bit (v % 64) of word (v / 64) is set.
// Built from the code points below 256 of a str and tested with bytes of the text, which are the same numbers
// for ASCII. Members 0x80-0xFF stand for the characters U+0080..U+00FF, never for bytes (see `member_len`).
// Example: "a_" sets bit 0x61 % 64 = 33 and bit 0x5F = 95 % 64 = 31 of word 1.
struct ByteBitSet {
  std::array<std::uint64_t, 4> words{};

  // The set of the code points below 256 of the UTF-8 string `s`; U+0100 and above are dropped.
  static ByteBitSet from_utf8(std::string_view s) noexcept;

  constexpr void insert(unsigned v) noexcept { words[(v >> 6) & 3] |= std::uint64_t{1} << (v & 63); }
  constexpr bool contains(unsigned v) const noexcept { return (words[(v >> 6) & 3] >> (v & 63)) & 1; }
  // True when some member is U+0080..U+00FF: only then must a text be decoded to test it.
  constexpr bool has_wide() const noexcept { return (words[2] | words[3]) != 0; }
  bool operator==(const ByteBitSet&) const = default;
};

// Byte length of the member character of `set` that starts at `i` (i < text.size()), or 0. An ASCII byte is
// tested by value. A two-byte character U+0080..U+00FF (lead byte 0xC2 or 0xC3) is tested by its code point;
// every other byte (a continuation byte, a lead byte of U+0100 and above) is no member. For a set without
// wide members this is exactly `set.contains(byte)`, so ASCII sets may test bytes alone.
inline unsigned member_len(const ByteBitSet& set, std::string_view text, Pos i) noexcept {
  const auto b = static_cast<unsigned char>(text[i]);
  if (b < 0x80) return set.contains(b);
  if ((b & 0xFE) != 0xC2 || i + 1 >= text.size()) return 0;
  const auto c = static_cast<unsigned char>(text[i + 1]);
  if (!is_continuation_byte(c)) return 0;
  return set.contains(((b & 0x1Fu) << 6) | (c & 0x3Fu)) ? 2 : 0;
}

// "Expected W:({prefix}...)", the prefix being the first 8 bytes of `init_chars` cut back to the last
// character boundary at or before byte 8.
std::string word_message(std::string_view init_chars);

// Word: one initial character of `init`, then as many body characters of `body` as follow (within `max`).
// Characters are taken whole (`member_len`), so a match starts and ends on character boundaries and `parse`
// and `try_match_at` agree on every text. `min` counts characters, `max` bytes (0: none); a body character
// taken while under `max` is taken whole. Fails with `message`.
class WordElement final : public Element {
 public:
  // `body` absent: a copy of `init`. `min` and `max` are 1 and 0 for every Word the module builds.
  WordElement(std::string_view init_chars, std::optional<std::string_view> body_chars, Pos min = 1, Pos max = 0);
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;

  // The match rule both operations share. Allocation-free; ASCII sets test bytes without decoding. Inline: the
  // scans test a leading Word at every candidate.
  MatchResult match(std::string_view text, Pos pos) const noexcept;

  const StrRef& message() const noexcept { return message_; }
  const ByteBitSet& init() const noexcept { return init_; }
  const ByteBitSet& body() const noexcept { return body_; }
  Pos min() const noexcept { return min_; }
  Pos max() const noexcept { return max_; }

 private:
  ~WordElement() override = default;
  StrRef message_;
  ByteBitSet init_;
  ByteBitSet body_;
  Pos min_;
  Pos max_;
};

inline MatchResult WordElement::match(std::string_view text, Pos pos) const noexcept {
  const std::size_t n = text.size();
  if (pos >= n) return {false, 0};
  const unsigned first = member_len(init_, text, pos);
  if (first == 0) return {false, 0};
  Pos end = pos + first;
  Pos chars = 1;
  if (!body_.has_wide()) {
    // ASCII body: one bit test per byte; a byte of 0x80 and above is never a member.
    const Pos limit = max_ != 0 && max_ < n - pos ? pos + std::max<Pos>(max_, first) : n;
    const auto* t = reinterpret_cast<const unsigned char*>(text.data());
    const Pos start = end;
    while (end < limit && body_.contains(t[end])) ++end;
    chars += end - start;
  } else {
    while (end < n && (max_ == 0 || end - pos < max_)) {
      const unsigned k = member_len(body_, text, end);
      if (k == 0) break;
      end += k;
      ++chars;
    }
  }
  return {chars >= min_, end};
}

// QuotedString: a quoted string opened and closed by `quote`, with an optional escape that skips the byte after
// it (a line break included). Without `multiline` a line break before the closing quote is no match. The token
// is the text between the quotes (`unquote`) or with them, escapes kept as they stand. `quote` and `escape` are
// the whole first character of the constructor's strings (the first byte for ASCII); an empty quote string
// means '"'. Fails with "Expected quoted string starting with '{quote_char}'", quote_char as received.
class QuotedStringElement final : public Element {
 public:
  QuotedStringElement(std::string_view quote_char, std::optional<std::string_view> esc_char, bool multiline,
                      bool unquote);
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;

  const StrRef& message() const noexcept { return message_; }
  // The opening and closing character's UTF-8 bytes (1 to 4).
  std::string_view quote() const noexcept { return {quote_.data(), quote_len_}; }
  bool has_escape() const noexcept { return escape_len_ != 0; }
  // The escape character's UTF-8 bytes; empty when there is none.
  std::string_view escape() const noexcept { return {escape_.data(), escape_len_}; }
  bool multiline() const noexcept { return multiline_; }
  bool unquote() const noexcept { return unquote_; }

 private:
  ~QuotedStringElement() override = default;
  StrRef message_;
  std::array<char, 4> quote_{};
  std::array<char, 4> escape_{};
  std::uint8_t quote_len_ = 0;
  std::uint8_t escape_len_ = 0;
  bool multiline_;
  bool unquote_;
};

// One closing-quote scan from `pos`: `closed` with the closing quote at `at` (the match ends at
// at + q.quote().size()), or not closed. A scan that opened and then met a line break (without multiline) or
// ran off the end gives up with `at` = that line break's position or the length; a scan that could not open
// (no quote at pos, or nothing after it) gives `at` = pos. Needs at least one byte after the opening quote.
// One forward pass; every byte is tested in this order: a line break (no match unless multiline), the escape
// (skip it and the byte after it), the quote (closed). Multi-byte quote and escape characters are compared
// whole, and a continuation byte never equals their first byte, so the scan can stop only on a character
// boundary. The quote and escape are compared in place, their first byte first: a scan is tried at every
// quote byte of a text.
//
// A scan that gave up after opening at p settles the openings before where it gave up: with f = `at`, every
// opening q with p < q < f fails the same way, so a scan for all matches may resume at f and reads each byte a
// bounded number of times. Why: a closing quote byte that the scan from p examined would have closed it, so
// every quote byte q in (p, f) was skipped as the byte after an escape (or the escape is the quote itself, and
// then nothing ever closes); the scan from p examines the byte after the quote at q, which is where the scan
// from q begins. From a shared position both scans take the same steps and give up at f. Example, escape '\',
// the 7 bytes  " \ " \ " \ "  (an opening quote, then three escaped quotes): the scan from 0 skips the three
// pairs and runs off the end, so the openings at 2, 4 and 6 need no scan of their own.
struct QuotedScan {
  bool closed;
  Pos at;
};
// Whether the bytes of `what` (1 to 4, the first already known to stand at i) stand at i, i < n.
inline bool quote_char_at(const unsigned char* t, Pos i, std::size_t n, std::string_view what) noexcept {
  if (what.size() > n - i) return false;
  for (std::size_t k = 1; k < what.size(); ++k) {
    if (t[i + k] != static_cast<unsigned char>(what[k])) return false;
  }
  return true;
}
inline QuotedScan scan_quoted_string_from(const QuotedStringElement& q, std::string_view text, Pos pos) noexcept {
  const std::string_view quote = q.quote();
  const std::string_view escape = q.escape();
  const std::size_t n = text.size();
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  const auto quote0 = static_cast<unsigned char>(quote[0]);
  if (pos >= n || quote.size() >= n - pos || t[pos] != quote0 || !quote_char_at(t, pos, n, quote)) {
    return {false, pos};
  }
  const int escape0 = escape.empty() ? -1 : static_cast<unsigned char>(escape[0]);
  const bool multiline = q.multiline();
  Pos i = pos + quote.size();
  while (i < n) {
    const unsigned char b = t[i];
    if (b == '\n' && !multiline) return {false, i};
    if (b == escape0 && quote_char_at(t, i, n, escape)) {
      i += escape.size() + 1;
    } else if (b == quote0 && quote_char_at(t, i, n, quote)) {
      return {true, i};
    } else {
      ++i;
    }
  }
  return {false, n};
}

// Whether a quoted string of `q` starts at `pos` and, if so, the position of its closing quote.
inline std::optional<Pos> scan_quoted_string(const QuotedStringElement& q, std::string_view text, Pos pos) noexcept {
  const QuotedScan r = scan_quoted_string_from(q, text, pos);
  if (!r.closed) return std::nullopt;
  return r.at;
}

}  // namespace quillex
