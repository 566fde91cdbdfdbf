// The occurrence counter of the Keyword methods. No Python here: the methods' bodies live in keyword.cpp.
#pragma once

#include <cstdint>
#include <string_view>

#include "elements/literals.h"
#include "fastpaths/substring_search.h"

namespace quillex::fastpaths {

// count_keyword_matches: the count of the scan rule over the keyword's try_match_at. A position passes when the
// keyword's bytes stand there and no identifier byte follows them (the byte before is never looked at); after
// a pass the scan resumes at the keyword's end, after a failure at the next byte. So 'if' counts in 'elif x'
// but not in 'ifx', and 'aa' in 'aaaa' counts once, at 2 (the pass at 0 is refused by the 'a' at 2).
//
// Candidates are the occurrences of the keyword's bytes (SubstringFinder), each followed by one table lookup;
// a refused one resumes the search one byte on. The empty keyword passes, with zero length, at each byte that
// is not an identifier byte (position length is never tried): the count is the table summed over the bytes,
// every byte of a multi-byte character included.
[[nodiscard]] inline std::uint64_t count_keyword_matches(const KeywordElement& keyword, std::string_view text) noexcept {
  const ByteTable& ident = keyword.ident();
  std::uint64_t count = 0;
  if (keyword.length() == 0) {
    for (unsigned char b : text) count += ident[b] ^ 1u;
    return count;
  }
  SubstringFinder finder(keyword.text());
  const std::size_t n = keyword.length();
  for (std::size_t i = 0;;) {
    const std::size_t h = finder.find(text, i, text.size());
    if (h == NOT_FOUND) return count;
    if (ident_boundary_after(ident, text, h + n)) {
      ++count;
      i = h + n;
    } else {
      i = h + 1;
    }
  }
}

}  // namespace quillex::fastpaths
