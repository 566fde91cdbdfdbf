// The in-place rules of QuotedString, CaselessLiteral and CaselessKeyword: `matches` (try_match_at at 0) and
// the count of the scan rule of scan_matches over try_match_at (positions 0 .. L-1, resume at max(p + 1, end),
// zero-length matches counted), written out over the bytes with the elements' own pieces (scan_quoted_string,
// caseless_equal_at, ident_boundary_after). They give exactly what the element's operations give, allocate
// nothing and build nothing. No Python here: the method bodies live in quoted_caseless.cpp.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "elements/chars.h"
#include "elements/literals.h"

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

}  // namespace quillex::fastpaths
