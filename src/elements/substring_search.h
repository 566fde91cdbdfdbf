// The substring searcher of the fixed-text scans (the Literal and Keyword fast paths, the Regex sequence
// searches): the leftmost occurrence of a fixed needle in a window of a text. Built once per method call for
// one needle; holds a view of it, allocates nothing.
//
// Needles of two bytes or more are found by a byte-pair filter over 16 candidate starts at a time (SSE2, the
// x86-64 baseline; 32 with AVX2): two bytes of the needle, the rarest by a background rank of text bytes, are
// compared at their offsets for 16 consecutive starts at once, and only starts where both agree are compared in
// full. Example: needle "zqx" picks 'z' (offset 0) and 'q' (offset 1); a chunk of prose rarely holds a 'z'
// followed by a 'q', so most 16-byte steps cost two loads, two compares and one mask test.
// The filter's worst case (a text full of the two bytes in the right places, "aaaa..." for "aaab") would
// compare the needle at nearly every start; once the bytes compared for starts that turned out false exceed
// four times the bytes scanned (plus a fixed allowance), the finder switches for good to the C library's
// memmem, which does not depend on a filter (glibc: two-way matching, linear in the window, for needles over
// 256 bytes; a shift-table search for shorter ones). One-byte needles use memchr.
#pragma once

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "elements/simd.h"

namespace quillex {

inline constexpr std::size_t NOT_FOUND = static_cast<std::size_t>(-1);

// How common a byte is in ordinary text, higher being more common: space and the lowercase letters by English
// frequency, then uppercase, digits, punctuation, the bytes of multi-byte characters; control bytes other than
// tab and newline are the rarest. Only the filter's speed depends on it, never a result.
inline constexpr std::array<std::uint8_t, 256> BYTE_RANK = [] {
  std::array<std::uint8_t, 256> rank{};
  for (int b = 0x80; b < 0x100; ++b) rank[b] = 40;
  const auto set = [&rank](std::string_view bytes, int top) {
    for (std::size_t i = 0; i < bytes.size(); ++i) rank[static_cast<unsigned char>(bytes[i])] = static_cast<std::uint8_t>(top - i);
  };
  set(".,-'\"()/:;_=!?*&%$#@[]{}<>+|\\^`~", 120);
  set("0123456789", 150);
  set("ETAOINSRHLDCUMFPGWYBVKXJQZ", 190);
  set("\t\r", 200);
  set("etaoinsrhldcumfpgwybvkxjqz", 250);
  set("\n", 251);
  set(" ", 255);
  return rank;
}();

// Roughly how many of every 10,000 bytes of ordinary text (prose, code, data) are this byte: what a set of bytes
// is weighed by, its members' shares added, where BYTE_RANK only orders single bytes. Uppercase letters are a
// tenth of their lowercase partners; digits are weighed as the texts searched for digits hold them. Only the
// choice of a search's candidates depends on it, never a result.
inline constexpr std::array<std::uint16_t, 256> BYTE_SHARE = [] {
  std::array<std::uint16_t, 256> share{};
  for (int b = 0x80; b < 0x100; ++b) share[b] = 1;
  for (unsigned char c : std::string_view(".,-'\"()/:;_=!?*&%$#@[]{}<>+|\\^`~")) share[c] = 20;
  share['.'] = share[','] = 100;
  for (char c = '0'; c <= '9'; ++c) share[static_cast<unsigned char>(c)] = 50;
  constexpr std::string_view letters = "etaoinsrhldcumfpgwybvkxjqz";
  constexpr std::uint16_t lower[26] = {1000, 700, 650, 600, 600, 580, 550, 500, 450, 350, 330, 250, 230,
                                       200,  180, 160, 160, 150, 140, 120, 80,  60,  15,  10,  8,   7};
  for (std::size_t i = 0; i < letters.size(); ++i) {
    share[static_cast<unsigned char>(letters[i])] = lower[i];
    share[static_cast<unsigned char>(letters[i] - 'a' + 'A')] = static_cast<std::uint16_t>(lower[i] / 10 + 1);
  }
  share[' '] = 1500;
  share['\n'] = 200;
  share['\t'] = 50;
  share['\r'] = 20;
  return share;
}();

// The number of bytes equal to c in [data, data + n): _mm_cmpeq_epi8 marks them. Example: a block "e e e..."
// of 8 'e' adds 1 to 8 lanes.
[[nodiscard]] inline std::uint64_t count_byte_sse2(const char* data, std::size_t n, char c) noexcept {
  const __m128i v = _mm_set1_epi8(c);
  return count_passing_bytes_sse2(
      data, n, [v](__m128i x) { return _mm_cmpeq_epi8(x, v); },
      [c](unsigned char b) { return b == static_cast<unsigned char>(c); });
}

// The same over 64 bytes a step, in two 32-byte counters (two independent chains of subtractions, so that the
// two loads of a step need not wait for each other); the last 63 bytes or fewer go to the 16-byte path.
[[nodiscard]] QUILLEX_AVX2 inline std::uint64_t count_byte_avx2(const char* data, std::size_t n, char c) noexcept {
  std::uint64_t count = 0;
  std::size_t i = 0;
  const __m256i v = _mm256_set1_epi8(c);
  while (n - i >= 64) {
    const std::size_t steps = std::min<std::size_t>((n - i) / 64, 255);
    __m256i lanes0 = _mm256_setzero_si256();
    __m256i lanes1 = _mm256_setzero_si256();
    for (std::size_t b = 0; b < steps; ++b, i += 64) {
      const __m256i x0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
      const __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 32));
      lanes0 = _mm256_sub_epi8(lanes0, _mm256_cmpeq_epi8(x0, v));
      lanes1 = _mm256_sub_epi8(lanes1, _mm256_cmpeq_epi8(x1, v));
    }
    const __m256i zero = _mm256_setzero_si256();
    const __m256i sums = _mm256_add_epi64(_mm256_sad_epu8(lanes0, zero), _mm256_sad_epu8(lanes1, zero));
    const __m128i half = _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
    count +=
        static_cast<std::uint64_t>(_mm_cvtsi128_si64(half)) + static_cast<std::uint64_t>(_mm_extract_epi64(half, 1));
  }
  return count + count_byte_sse2(data + i, n - i, c);
}

[[nodiscard]] inline std::uint64_t count_byte(const char* data, std::size_t n, char c,
                                              Simd simd = best_simd()) noexcept {
  return simd == Simd::AVX2 ? count_byte_avx2(data, n, c) : count_byte_sse2(data, n, c);
}

class SubstringFinder {
 public:
  // `needle` must outlive the finder and be non-empty. `unit` (1, 2 or 4) is the size of the code units that
  // needle and text are made of (a str's own representation, little-endian): the filter's bytes are then
  // taken from the units' low bytes where the needle has two units, since in such texts the high bytes are
  // mostly zero, which the rank would call rare. `simd` is the filter's vector width.
  explicit SubstringFinder(std::string_view needle, std::size_t unit = 1, Simd simd = best_simd()) noexcept
      : needle_(needle), wide_(simd == Simd::AVX2) {
    const std::size_t n = needle.size();
    if (n < 2) return;
    const std::size_t step = n >= 2 * unit ? unit : 1;
    // The rarest byte, then the rarest at another offset; ties go to the earlier offset.
    std::size_t a = 0;
    for (std::size_t i = step; i < n; i += step) {
      if (rank(i) < rank(a)) a = i;
    }
    std::size_t b = a == 0 ? step : 0;
    for (std::size_t i = 0; i < n; i += step) {
      if (i != a && rank(i) < rank(b)) b = i;
    }
    offset1_ = a;
    offset2_ = b;
  }

  std::string_view needle() const noexcept { return needle_; }
  // The offsets of the filter's two bytes (both 0 for a one-byte needle).
  std::size_t offset1() const noexcept { return offset1_; }
  std::size_t offset2() const noexcept { return offset2_; }
  // True once the byte-pair filter has been given up for memmem.
  bool filter_given_up() const noexcept { return two_way_; }

  // The first h with from <= h and h + n <= to at which the needle stands in `text`, or NOT_FOUND.
  // Requires from <= to <= text.size(). Inlined into each caller's loop, so that the filter's state stays in
  // registers there (an out-of-line copy measured 15% slower on a 10 MB scan). The 32-byte filter cannot be
  // inlined into a caller compiled for plain x86-64; it serves searches of 64 starts or more, beside which its
  // call costs little.
  [[nodiscard]] [[gnu::always_inline]] std::size_t find(std::string_view text, std::size_t from,
                                                        std::size_t to) noexcept {
    const std::size_t n = needle_.size();
    if (to - from < n) return NOT_FOUND;
    const char* data = text.data();
    if (n == 1) {
      const void* hit = std::memchr(data + from, needle_[0], to - from);
      return hit == nullptr ? NOT_FOUND : static_cast<std::size_t>(static_cast<const char*>(hit) - data);
    }
    if (two_way_) return find_two_way(text, from, to);
    if (wide_ && to - from >= n + 63) return find_filtered_avx2(text, from, to);
    return find_filtered(text, from, to);
  }

 private:
  std::uint8_t rank(std::size_t i) const noexcept { return BYTE_RANK[static_cast<unsigned char>(needle_[i])]; }

  std::size_t find_two_way(std::string_view text, std::size_t from, std::size_t to) const noexcept {
    const void* hit = ::memmem(text.data() + from, to - from, needle_.data(), needle_.size());
    return hit == nullptr ? NOT_FOUND : static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
  }

  // Whether the needle stands at h; a false candidate is charged to the filter's allowance.
  bool verify(const char* data, std::size_t h) noexcept {
    if (std::memcmp(data + h, needle_.data(), needle_.size()) == 0) return true;
    wasted_ += needle_.size();
    return false;
  }

  // The first of the candidate starts at + b (b a set bit of `mask`, lowest first) at which the needle stands,
  // or NOT_FOUND; `from` is where the search in progress began.
  [[gnu::always_inline]] std::size_t first_verified(const char* data, std::uint64_t mask, std::size_t at,
                                                    std::size_t from) noexcept {
    for (; mask != 0; mask &= mask - 1) {
      const std::size_t start = at + static_cast<std::size_t>(__builtin_ctzll(mask));
      if (verify(data, start)) {
        scanned_ += start - from;
        return start;
      }
    }
    return NOT_FOUND;
  }

  // `pending` bytes stepped over by the search in progress, not yet in scanned_.
  bool filter_ineffective(std::size_t pending) const noexcept {
    return wasted_ > 4 * (scanned_ + pending) + FILTER_ALLOWANCE;
  }

  // The rest of a search whose filter has just proven ineffective at h.
  std::size_t give_up_filter(std::string_view text, std::size_t from, std::size_t h, std::size_t to) noexcept {
    scanned_ += h - from;
    two_way_ = true;
    return find_two_way(text, h, to);
  }

  [[gnu::always_inline]] std::size_t find_filtered(std::string_view text, std::size_t from, std::size_t to) noexcept {
    const char* data = text.data();
    const std::size_t last = to - needle_.size();  // the last possible start
    const char c1 = needle_[offset1_];
    const char c2 = needle_[offset2_];
    std::size_t h = from;
    if (from + 15 <= last) {
      const __m128i v1 = _mm_set1_epi8(c1);
      const __m128i v2 = _mm_set1_epi8(c2);
      // The bits of the starts at .. at + 15 (all at most `last`, so every byte loaded lies below `to`) at
      // which both chosen bytes stand.
      const auto candidates = [&](std::size_t at) noexcept {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + offset1_));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + offset2_));
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(x, v1), _mm_cmpeq_epi8(y, v2))));
      };
      // Starts below h are tested. Two chunks per step while neither holds a candidate (the common case: four
      // loads, four compares and one test per 32 starts); then one chunk at h, or, when fewer than 16 starts
      // remain, the chunk ending at `last` with its bits for the starts below h dropped.
      while (h <= last) {
        while (h + 31 <= last && (candidates(h) | candidates(h + 16)) == 0) h += 32;
        if (h > last) break;
        std::size_t at = h;
        unsigned mask;
        if (h + 15 <= last) {
          mask = candidates(h);
        } else {
          at = last - 15;
          mask = candidates(at) & (~0u << (h - at));
        }
        if (const std::size_t found = first_verified(data, mask, at, from); found != NOT_FOUND) return found;
        if (at != h) break;  // that was the last chunk
        h += 16;
        if (filter_ineffective(h - from)) return give_up_filter(text, from, h, to);
      }
      scanned_ += to - from;
      return NOT_FOUND;
    }
    // Fewer than 16 starts: one by one.
    for (; h <= last; ++h) {
      if (data[h + offset1_] == c1 && data[h + offset2_] == c2 && verify(data, h)) return h;
    }
    return NOT_FOUND;
  }

  // find_filtered over 64 starts a step, for at least 64 starts: the candidates of the 64 starts at h in one
  // mask, walked at once; then the 64 starts that end at `last`, with the bits of those below h dropped.
  QUILLEX_AVX2 std::size_t find_filtered_avx2(std::string_view text, std::size_t from, std::size_t to) noexcept {
    const char* data = text.data();
    const std::size_t last = to - needle_.size();
    const __m256i v1 = _mm256_set1_epi8(needle_[offset1_]);
    const __m256i v2 = _mm256_set1_epi8(needle_[offset2_]);
    const auto candidates = [&](std::size_t at) noexcept QUILLEX_AVX2 {
      const auto* p1 = reinterpret_cast<const __m256i*>(data + at + offset1_);
      const auto* p2 = reinterpret_cast<const __m256i*>(data + at + offset2_);
      const __m256i lo = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_loadu_si256(p1), v1),
                                          _mm256_cmpeq_epi8(_mm256_loadu_si256(p2), v2));
      const __m256i hi = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_loadu_si256(p1 + 1), v1),
                                          _mm256_cmpeq_epi8(_mm256_loadu_si256(p2 + 1), v2));
      return static_cast<std::uint32_t>(_mm256_movemask_epi8(lo)) |
             static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(hi))) << 32;
    };
    std::size_t h = from;
    for (; h + 63 <= last; h += 64) {
      if (const std::uint64_t mask = candidates(h); mask != 0) {
        if (const std::size_t found = first_verified(data, mask, h, from); found != NOT_FOUND) return found;
        if (filter_ineffective(h + 64 - from)) return give_up_filter(text, from, h + 64, to);
      }
    }
    if (h <= last) {
      const std::size_t at = last - 63;
      const std::uint64_t mask = candidates(at) & (~std::uint64_t{0} << (h - at));
      if (const std::size_t found = first_verified(data, mask, at, from); found != NOT_FOUND) return found;
    }
    scanned_ += to - from;
    return NOT_FOUND;
  }

  // Bytes of false candidates tolerated before the scanned bytes begin to count against them.
  static constexpr std::size_t FILTER_ALLOWANCE = 4096;

  std::string_view needle_;
  std::size_t offset1_ = 0;
  std::size_t offset2_ = 0;
  std::size_t scanned_ = 0;  // bytes the filter has stepped over, for its effectiveness
  std::size_t wasted_ = 0;   // bytes compared for candidates that were false
  bool two_way_ = false;
  bool wide_;  // the 32-byte filter serves searches of 64 starts or more
};

}  // namespace quillex
