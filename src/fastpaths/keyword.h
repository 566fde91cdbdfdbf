// The occurrence counter of the Keyword methods. No Python here: the methods' bodies live in keyword.cpp.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "elements/literals.h"

namespace quillex::fastpaths {

// count_keyword_matches: the count of the scan rule over the keyword's try_match_at. A position passes when the
// keyword's bytes stand there and no identifier byte follows them (the byte before is never looked at); after
// a pass the scan resumes at the keyword's end, after a failure at the next byte. So 'if' counts in 'elif x'
// but not in 'ifx', and 'aa' in 'aaaa' counts once, at 2 (the pass at 0 is refused by the 'a' at 2).
//
// Candidates are the recurrences of the first byte (memchr), so the cost is one byte search over the text plus
// one comparison per candidate. The empty keyword passes, with zero length, at each byte that is not an
// identifier byte (position length is never tried): the count is the table summed over the bytes, every byte of
// a multi-byte character included.
[[nodiscard]] inline std::uint64_t count_keyword_matches(const KeywordElement& keyword, std::string_view text) noexcept {
  const ByteTable& ident = keyword.ident();
  const std::size_t length = text.size();
  const std::size_t n = keyword.length();
  std::uint64_t count = 0;
  if (n == 0) {
    for (unsigned char b : text) count += ident[b] ^ 1u;
    return count;
  }
  const char* data = text.data();
  const char first = static_cast<char>(keyword.first());
  std::size_t i = 0;
  while (length - i >= n) {
    const void* hit = std::memchr(data + i, first, length - i - n + 1);
    if (hit == nullptr) break;
    const auto h = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
    if (keyword.matches_at(text, h)) {
      ++count;
      i = h + n;
    } else {
      i = h + 1;
    }
  }
  return count;
}

}  // namespace quillex::fastpaths
