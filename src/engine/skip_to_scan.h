// SkipTo's own scan: the matches scan_matches reports with SkipTo's rule, found without a test at every start.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "elements/structure.h"

namespace quillex::engine {

// The first position at or after `pos` inside a character (a continuation byte, 10xxxxxx), or the length.
// Eight bytes at a time: in w & ~(w << 1), bit 7 of each byte is that byte's bit 7 and not its bit 6 (the shift
// moves bit 6 up to bit 7; the bit shifted in from the byte below lands on bit 0, which the mask drops), so it
// is set exactly for continuation bytes. Example: 'é' is C3 A9; C3 = 11000011 gives 0, A9 = 10101001 gives 1.
// On a little-endian machine the lowest set bit belongs to the first such byte.
inline Pos next_inside_char(std::string_view text, Pos pos) noexcept {
  static_assert(std::endian::native == std::endian::little);
  constexpr std::uint64_t HIGH_BITS = 0x8080808080808080;
  const Pos n = text.size();
  for (; n - pos >= 8; pos += 8) {
    std::uint64_t w;
    std::memcpy(&w, text.data() + pos, 8);
    const std::uint64_t inside = w & ~(w << 1) & HIGH_BITS;
    if (inside != 0) return pos + static_cast<Pos>(std::countr_zero(inside) / 8);
  }
  while (pos < n && !is_continuation_byte(static_cast<unsigned char>(text[pos]))) ++pos;
  return pos;
}

// A start on a boundary ends at the first target position at or after it, one search (remembered inside a
// match session, so the starts up to that position cost nothing more). Once none is found from a boundary, no
// later boundary start matches either, and only the starts inside a character, where the target is tested at
// the start itself, can still match, with zero length. Stops at once when a nested match overflows the
// recursion bound (see scan_matches).
// `from` as for scan_candidate_matches.
template <class OnMatch>
void scan_skip_to_matches(const SkipToElement& skip, std::string_view text, OnMatch&& on_match, Pos from = 0) {
  const Element& target = *skip.target();
  const Pos n = text.size();
  // A start inside a character: the target at the start, or no match.
  auto try_inside = [&](Pos pos) {
    const bool matched = target.try_match_at(text, pos).matched;
    if (recursion_overflowed()) return false;
    if (matched) on_match(pos, pos);
    return true;
  };
  for (Pos pos = from; pos < n;) {
    if (!is_char_boundary(text, pos)) {
      if (!try_inside(pos)) return;
      ++pos;
      continue;
    }
    const std::optional<Pos> end = skip.first_target_from(text, pos);
    if (recursion_overflowed()) return;
    if (end) {
      on_match(pos, *end);
      pos = *end > pos ? *end : pos + 1;
      continue;
    }
    for (pos = next_inside_char(text, pos); pos < n; pos = next_inside_char(text, pos + 1)) {
      if (!try_inside(pos)) return;
    }
  }
}

}  // namespace quillex::engine
