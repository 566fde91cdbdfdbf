// The in-place rules of QuotedString, CaselessLiteral and CaselessKeyword: `matches` (try_match_at at 0) and
// the count of the scan rule of scan_matches over try_match_at (positions 0 .. L-1, resume at max(p + 1, end),
// zero-length matches counted), written out over the bytes with the elements' own pieces (scan_quoted_string,
// caseless_equal_at, ident_boundary_after). They give exactly what the element's operations give, allocate
// nothing and build nothing. No Python here: the method bodies live in quoted_caseless.cpp.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "elements/chars.h"
#include "elements/literals.h"
#include "py/code_units.h"

namespace quillex::fastpaths {

// The first position at or after `from` whose byte folds to `first` (a byte of a folded text), or the length.
// A folded letter has two spellings, which differ only in bit 0x20: 'e' stands for 'e' (0x65) and 'E' (0x45),
// and (b | 0x20) == 'e' holds for exactly those two bytes. Any other byte has one spelling: memchr.
inline Pos find_folded_byte(std::string_view text, Pos from, unsigned char first) noexcept {
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  if (static_cast<unsigned char>(first - 'a') < 26) {
    for (Pos i = from; i < n; ++i) {
      if ((t[i] | 0x20) == first) return i;
    }
    return n;
  }
  if (from >= n) return n;
  const void* hit = std::memchr(t + from, first, n - from);
  return hit != nullptr ? static_cast<Pos>(static_cast<const unsigned char*>(hit) - t) : n;
}

// The scan rule over the positions whose byte folds to lower[0] (any other position cannot match a non-empty
// `lower`): `accept(p)` is the rule at p, and a match resumes the scan at its end, p + lower.size().
template <class Accept>
inline std::uint64_t count_folded_candidates(std::string_view text, std::string_view lower, Accept accept) noexcept {
  const std::size_t n = text.size();
  const auto first = static_cast<unsigned char>(lower[0]);
  std::uint64_t count = 0;
  for (Pos p = find_folded_byte(text, 0, first); p < n; p = find_folded_byte(text, p, first)) {
    if (accept(p)) {
      ++count;
      p += lower.size();
    } else {
      ++p;
    }
  }
  return count;
}

// CaselessLiteral: matches every `lower`-sized stretch that folds to `lower`. Non-empty matches never overlap:
// the scan resumes at their end. The empty literal matches with zero length at every byte position below L
// (inside characters too: zero-length matches keep their byte-position count), so it counts L.
inline bool caseless_literal_matches(const CaselessLiteralElement& e, std::string_view text) noexcept {
  return caseless_equal_at(e.lower(), text, 0);
}
inline std::uint64_t count_caseless_literal(const CaselessLiteralElement& e, std::string_view text) noexcept {
  const std::string_view lower = e.lower();
  if (lower.empty()) return text.size();
  return count_folded_candidates(text, lower, [&](Pos p) { return caseless_equal_at(lower, text, p); });
}

// CaselessKeyword: the caseless test, accepted only where no identifier byte follows. The byte before a match
// is never looked at, so 'backend end' holds two matches of 'end'. The empty keyword matches with zero length
// at every position below L whose byte is not an identifier byte.
inline bool caseless_keyword_matches(const CaselessKeywordElement& e, std::string_view text) noexcept {
  return e.matches_at(text, 0);
}
inline std::uint64_t count_caseless_keyword(const CaselessKeywordElement& e, std::string_view text) noexcept {
  if (e.lower().empty()) {
    std::uint64_t count = 0;
    for (unsigned char b : text) count += e.ident()[b] == 0;
    return count;
  }
  return count_folded_candidates(text, e.lower(), [&](Pos p) { return e.matches_at(text, p); });
}

// QuotedString. A scan that fails after opening at p gave up at f (a line break without multiline, or the
// end of the text), and every opening q with p < q < f fails the same way (QuotedScan), so the count resumes
// at f and reads each byte a bounded number of times.
inline bool quoted_string_matches(const QuotedStringElement& e, std::string_view text) noexcept {
  return scan_quoted_string_from(e, text, 0).closed;
}
inline std::uint64_t count_quoted_strings(const QuotedStringElement& e, std::string_view text) noexcept {
  const std::size_t n = text.size();
  const auto quote0 = static_cast<unsigned char>(e.quote()[0]);
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  std::uint64_t count = 0;
  Pos p = 0;
  while (p < n) {
    const void* hit = std::memchr(t + p, quote0, n - p);
    if (hit == nullptr) break;
    p = static_cast<Pos>(static_cast<const unsigned char*>(hit) - t);
    const QuotedScan r = scan_quoted_string_from(e, text, p);
    if (r.closed) {
      ++count;
      p = r.at + e.quote().size();
    } else {
      p = r.at > p ? r.at : p + 1;
    }
  }
  return count;
}

// ---------------------------------------------------------------------------------------------------------------
// The same rules over a str's own units (U the unit's integer type), positions in code points: each rule read per
// code point is the byte rule at character boundaries, where alone a non-empty match can start or end, so the
// matches are the same ones. The matches go to on_match(start, end).

// Caseless: `lower` (m units, m >= 1) is the element's folded text in the text's units; only 'A'-'Z' fold, so a
// code point from U+0080 matches only itself, as its UTF-8 bytes do. A keyword also wants no identifier
// character after the match (`keyword`). Candidates are the units that fold to lower[0] (find_unit).
template <class U, class OnMatch>
inline void for_each_unit_caseless_match(const U* lower, std::size_t m, bool keyword, const U* t, std::size_t n,
                                         OnMatch&& on_match) noexcept {
  const auto fold = [](std::uint32_t u) { return u - 'A' < 26 ? u + 0x20 : u; };
  const std::uint32_t first = lower[0];
  const std::uint32_t bits = first - 'a' < 26 ? 0x20 : 0;
  const auto accept = [&](std::size_t p) {
    if (m > n - p) return false;
    for (std::size_t i = 0; i < m; ++i) {
      if (fold(t[p + i]) != lower[i]) return false;
    }
    return !keyword || p + m == n || t[p + m] >= 0x80 || IDENT_CHARS[t[p + m]] == 0;
  };
  for (std::size_t p = py::find_unit(t, n, 0, first, bits); p < n; p = py::find_unit(t, n, p, first, bits)) {
    if (accept(p)) {
      on_match(p, p + m);
      p += m;
    } else {
      ++p;
    }
  }
}

// QuotedString: `quote` and `escape` are the element's characters as code points (escape: none when absent). The
// scan of scan_quoted_string_from: after the escape the one unit it skips is the whole character that the byte
// scan skips a byte of (the rest of that character's bytes are continuation bytes, which never equal a line
// break, a quote or an escape); one unit after the opening quote is needed as one byte is.
struct UnitQuotes {
  std::uint32_t quote;
  std::optional<std::uint32_t> escape;
  bool multiline;
};
template <class U>
inline QuotedScan scan_unit_quoted_string_from(const UnitQuotes& q, const U* t, std::size_t n, Pos pos) noexcept {
  if (pos >= n || n - pos < 2 || t[pos] != q.quote) return {false, pos};
  const std::uint64_t escape = q.escape ? *q.escape : ~std::uint64_t{0};  // no unit equals ~0
  Pos i = pos + 1;
  while (i < n) {
    const std::uint32_t u = t[i];
    if (u == '\n' && !q.multiline) return {false, i};
    if (u == escape) {
      i += 2;
    } else if (u == q.quote) {
      return {true, i};
    } else {
      ++i;
    }
  }
  return {false, n};
}

// The quoted strings of the scan rule, found as count_quoted_strings finds them (a failed scan resumes where it
// gave up).
template <class U, class OnMatch>
inline void for_each_unit_quoted_string(const UnitQuotes& q, const U* t, std::size_t n, OnMatch&& on_match) noexcept {
  Pos p = 0;
  while ((p = py::find_unit(t, n, p, q.quote)) < n) {
    const QuotedScan r = scan_unit_quoted_string_from(q, t, n, p);
    if (r.closed) {
      on_match(p, r.at + 1);
      p = r.at + 1;
    } else {
      p = r.at > p ? r.at : p + 1;
    }
  }
}

}  // namespace quillex::fastpaths
