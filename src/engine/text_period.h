// Period detection at the start of a text, for the search and count fast paths that treat a long text as one
// block repeated.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace quillex::engine {

// Longest block the detection considers.
inline constexpr std::uint64_t TEXT_PERIOD_LIMIT = 1024;

// detect_text_period: the smallest c in 1 .. min(1024, limit / 2) such that bytes [0, c) equal bytes [c, 2c),
// or 0 when there is none or limit < 4. Only the first 2c bytes are compared: a caller that treats the whole
// text as repetitions of its first c bytes must check the rest (repeats_with_period). `limit` is the number of
// leading bytes the search may use (callers pass text.size(); a larger value is clamped).
//
// A block followed by its copy starts again with byte 0 at offset c, so only the recurrences of byte 0 in the
// 1025-byte window are candidates (memchr), each checked with one memcmp of c bytes. Work is bounded by the
// window: at most 1025 bytes searched and 2048 compared per candidate.
// Example: "abacabac" gives 4: the candidate 2 fails ("ab" against "ac"), the next 'a' at 4 holds.
// "aabaabaab" gives 1, not 3: the shortest block whose copy follows wins.
[[nodiscard]] inline std::uint64_t detect_text_period(std::string_view text, std::uint64_t limit) noexcept {
  if (limit > text.size()) limit = text.size();
  if (limit < 4) return 0;
  const std::uint64_t window = limit < TEXT_PERIOD_LIMIT + 1 ? limit : TEXT_PERIOD_LIMIT + 1;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char first = bytes[0];
  std::uint64_t pos = 1;
  while (pos < window) {
    const void* hit = std::memchr(bytes + pos, first, window - pos);
    if (hit == nullptr) return 0;
    const std::uint64_t c = static_cast<std::uint64_t>(static_cast<const unsigned char*>(hit) - bytes);
    // Candidates only grow: once two copies no longer fit, none will.
    if (2 * c > limit) return 0;
    if (std::memcmp(bytes, bytes + c, c) == 0) return c;
    pos = c + 1;
  }
  return 0;
}

[[nodiscard]] inline std::uint64_t detect_text_period(std::string_view text) noexcept {
  return detect_text_period(text, text.size());
}

// True when every byte i with p <= i < size equals byte i - p (p >= 1), that is the whole text is its first p
// bytes repeated, the last repetition possibly cut short. One overlapping memcmp over the bytes from p on.
[[nodiscard]] inline bool repeats_with_period(std::string_view text, std::uint64_t p) noexcept {
  if (p == 0) return false;
  if (p >= text.size()) return true;
  return std::memcmp(text.data() + p, text.data(), text.size() - p) == 0;
}

}  // namespace quillex::engine
