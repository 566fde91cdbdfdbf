#include "elements/regex_run.h"

#include <immintrin.h>

#include <cstring>

namespace quillex {

namespace {

// Membership of 16 bytes at once for members that form R ranges: byte x is in [lo, lo + span] exactly when
// (x - lo) mod 256 <= span, an unsigned byte comparison (min(d, span) == d). Example: "[0-9]" is lo '0', span
// 9; for 'a' d = 0x31, min(0x31, 9) = 9 != d, so 'a' is no member.
template <int R>
struct RangeTest {
  __m128i lo[R];
  __m128i span[R];

  RangeTest(const std::array<std::uint8_t, 4>& l, const std::array<std::uint8_t, 4>& s) noexcept {
    for (int k = 0; k < R; ++k) {
      lo[k] = _mm_set1_epi8(static_cast<char>(l[k]));
      span[k] = _mm_set1_epi8(static_cast<char>(s[k]));
    }
  }
  // 0xFF in each lane holding a member.
  __m128i members(__m128i x) const noexcept {
    __m128i in = _mm_setzero_si128();
    for (int k = 0; k < R; ++k) {
      const __m128i d = _mm_sub_epi8(x, lo[k]);
      in = _mm_or_si128(in, _mm_cmpeq_epi8(_mm_min_epu8(d, span[k]), d));
    }
    return in;
  }
};

inline __m128i load16(const unsigned char* p) noexcept {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The first i in [p, n) whose membership differs from `skip_members` (members skipped when true), or the
// position where fewer than 32 bytes remain: whole blocks only, so no byte past n is read.
template <int R>
Pos find_in_blocks(const RangeTest<R>& test, const unsigned char* t, Pos p, Pos n, bool skip_members) noexcept {
  const unsigned flip = skip_members ? 0xFFFFFFFFu : 0u;
  while (n - p >= 32) {
    const unsigned m0 = static_cast<unsigned>(_mm_movemask_epi8(test.members(load16(t + p))));
    const unsigned m1 = static_cast<unsigned>(_mm_movemask_epi8(test.members(load16(t + p + 16))));
    const unsigned m = (m0 | (m1 << 16)) ^ flip;
    if (m != 0) return p + static_cast<Pos>(__builtin_ctz(m));
    p += 32;
  }
  return p;
}

// The match count over whole 16-byte blocks from 0 (see ByteClass::count_run_matches). Per block, with `in` the
// member lanes and `prev` the same shifted by one byte (the previous block's last lane carried in): a run
// starts where in & ~prev; with '*' an empty match lies where ~in & ~prev on a character boundary. Each lane
// adds at most 1 per block to a byte counter, so the counters are summed (psadbw) every 255 blocks.
template <int R>
std::uint64_t count_in_blocks(const RangeTest<R>& test, const unsigned char* t, Pos n, bool star, Pos& done) noexcept {
  const __m128i zero = _mm_setzero_si128();
  const __m128i high2 = _mm_set1_epi8(static_cast<char>(0xC0));
  const __m128i continuation = _mm_set1_epi8(static_cast<char>(0x80));
  __m128i acc = zero;
  __m128i last_in = zero;
  std::uint64_t total = 0;
  unsigned blocks = 0;
  Pos p = 0;
  for (; n - p >= 16; p += 16) {
    const __m128i x = load16(t + p);
    const __m128i in = test.members(x);
    const __m128i prev = _mm_or_si128(_mm_slli_si128(in, 1), _mm_srli_si128(last_in, 15));
    acc = _mm_sub_epi8(acc, _mm_andnot_si128(prev, in));
    if (star) {
      const __m128i inside_char = _mm_cmpeq_epi8(_mm_and_si128(x, high2), continuation);
      acc = _mm_sub_epi8(acc, _mm_andnot_si128(_mm_or_si128(_mm_or_si128(in, prev), inside_char),
                                               _mm_cmpeq_epi8(zero, zero)));
    }
    last_in = in;
    if (++blocks == 255) {
      const __m128i sums = _mm_sad_epu8(acc, zero);
      total += static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
               static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
      acc = zero;
      blocks = 0;
    }
  }
  const __m128i sums = _mm_sad_epu8(acc, zero);
  total += static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
           static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
  done = p;
  return total;
}

// RangeTest over 32 bytes, for the 64-byte paths: bit i set when byte i of x is a member. Ranges cost fewer
// operations than the table lookups of NibbleLanes, which serve the sets of more than 4 ranges.
template <int R>
struct RangeLanes {
  __m256i lo[R];
  __m256i span[R];

  QUILLEX_AVX2 RangeLanes(const std::array<std::uint8_t, 4>& l, const std::array<std::uint8_t, 4>& s) noexcept {
    for (int k = 0; k < R; ++k) {
      lo[k] = _mm256_set1_epi8(static_cast<char>(l[k]));
      span[k] = _mm256_set1_epi8(static_cast<char>(s[k]));
    }
  }
  QUILLEX_AVX2 std::uint32_t members(__m256i x) const noexcept {
    __m256i in = _mm256_setzero_si256();
    for (int k = 0; k < R; ++k) {
      const __m256i d = _mm256_sub_epi8(x, lo[k]);
      in = _mm256_or_si256(in, _mm256_cmpeq_epi8(_mm256_min_epu8(d, span[k]), d));
    }
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(in));
  }
  QUILLEX_AVX2 std::uint64_t members64(const unsigned char* p) const noexcept {
    return members(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))) |
           static_cast<std::uint64_t>(members(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)))) << 32;
  }
};

// find_in_blocks and count_in_blocks with 32-byte loads, the membership of each byte one bit of a mask, for
// n >= 64. find_wide tests the 32 bytes at p first (a search for a run's end or the next candidate mostly
// ends there), then 64 a step; once fewer remain it tests the last 64 with the bits of those below p dropped,
// so it settles the search itself.
template <class Lanes>
[[gnu::always_inline]] QUILLEX_AVX2 inline Pos find_wide(const Lanes& lanes, const unsigned char* t, Pos p, Pos n, bool member) noexcept {
  const std::uint64_t flip = member ? 0 : ~std::uint64_t{0};
  if (n - p >= 32) {
    const std::uint32_t m =
        lanes.members(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + p))) ^ static_cast<std::uint32_t>(flip);
    if (m != 0) return p + static_cast<Pos>(__builtin_ctz(m));
    p += 32;
  }
  for (; n - p >= 64; p += 64) {
    if (const std::uint64_t m = lanes.members64(t + p) ^ flip; m != 0) return p + static_cast<Pos>(__builtin_ctzll(m));
  }
  if (p == n) return n;
  const Pos at = n - 64;
  const std::uint64_t m = (lanes.members64(t + at) ^ flip) & (~std::uint64_t{0} << (p - at));
  return m != 0 ? at + static_cast<Pos>(__builtin_ctzll(m)) : n;
}

// Per step, with `in` the member bits and `before` the same moved up by one (the previous step's last bit
// carried in): a run starts at in & ~before; with '*' an empty match lies at ~in & ~before on a character
// boundary (not a continuation byte 10xxxxxx). For n >= 64; counts all of [0, n).
template <class Lanes>
QUILLEX_AVX2 std::uint64_t count_wide(const Lanes& lanes, const unsigned char* t, Pos n, bool star,
                                      Pos& done) noexcept {
  const __m256i high2 = _mm256_set1_epi8(static_cast<char>(0xC0));
  const __m256i continuation = _mm256_set1_epi8(static_cast<char>(0x80));
  const auto inside_char = [&](const unsigned char* p) noexcept QUILLEX_AVX2 {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    return static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(x, high2), continuation)));
  };
  std::uint64_t total = 0;
  std::uint64_t last_in = 0;  // whether the byte before the step is a member, as bit 0
  Pos p = 0;
  for (; n - p >= 64; p += 64) {
    const std::uint64_t in = lanes.members64(t + p);
    const std::uint64_t before = in << 1 | last_in;
    total += static_cast<std::uint64_t>(__builtin_popcountll(in & ~before));
    if (star) {
      const std::uint64_t inside = inside_char(t + p) | static_cast<std::uint64_t>(inside_char(t + p + 32)) << 32;
      total += static_cast<std::uint64_t>(__builtin_popcountll(~(in | before | inside)));
    }
    last_in = in >> 63;
  }
  if (p < n) {
    // The last 64 bytes, the bits of those below p dropped: what counts at i >= p is told by bytes i and i - 1,
    // both inside that window.
    const Pos at = n - 64;
    const std::uint64_t keep = ~std::uint64_t{0} << (p - at);
    const std::uint64_t in = lanes.members64(t + at);
    const std::uint64_t before = in << 1;
    total += static_cast<std::uint64_t>(__builtin_popcountll(in & ~before & keep));
    if (star) {
      const std::uint64_t inside = inside_char(t + at) | static_cast<std::uint64_t>(inside_char(t + at + 32)) << 32;
      total += static_cast<std::uint64_t>(__builtin_popcountll(~(in | before | inside) & keep));
    }
    p = n;
  }
  done = p;
  return total;
}

// with_ranges for the 64-byte paths: f(RangeLanes<R>) for up to 4 ranges, else f(NibbleLanes). Inlined, so
// that a search costs one call.
template <class F>
[[gnu::always_inline]] QUILLEX_AVX2 inline auto with_lanes(std::uint8_t ranges, const std::array<std::uint8_t, 4>& lo,
                             const std::array<std::uint8_t, 4>& span, const NibbleSet& nibbles, F&& f) {
  switch (ranges) {
    case 1:
      return f(RangeLanes<1>(lo, span));
    case 2:
      return f(RangeLanes<2>(lo, span));
    case 3:
      return f(RangeLanes<3>(lo, span));
    case 4:
      return f(RangeLanes<4>(lo, span));
    default:
      return f(NibbleLanes(nibbles));
  }
}

QUILLEX_AVX2 Pos find_avx2(std::uint8_t ranges, const std::array<std::uint8_t, 4>& lo,
                           const std::array<std::uint8_t, 4>& span, const NibbleSet& nibbles, const unsigned char* t,
                           Pos p, Pos n, bool member) noexcept {
  return with_lanes(ranges, lo, span, nibbles,
                    [&](const auto& lanes) QUILLEX_AVX2 { return find_wide(lanes, t, p, n, member); });
}

QUILLEX_AVX2 std::uint64_t count_avx2(std::uint8_t ranges, const std::array<std::uint8_t, 4>& lo,
                                      const std::array<std::uint8_t, 4>& span, const NibbleSet& nibbles,
                                      const unsigned char* t, Pos n, bool star, Pos& done) noexcept {
  return with_lanes(ranges, lo, span, nibbles,
                    [&](const auto& lanes) QUILLEX_AVX2 { return count_wide(lanes, t, n, star, done); });
}

}  // namespace

ByteClass::ByteClass(const std::bitset<256>& members) noexcept {
  int count = 0;
  for (unsigned b = 0; b < 256; ++b) {
    table_[b] = members.test(b) ? 1 : 0;
    count += table_[b];
  }
  nibbles_ = NibbleSet(table_);
  if (count == 1 || count == 255) {
    for (unsigned b = 0; b < 256; ++b) {
      if (count == 1 && table_[b] != 0) only_member_ = static_cast<int>(b);
      if (count == 255 && table_[b] == 0) only_outsider_ = static_cast<int>(b);
    }
  }
  unsigned ranges = 0;
  for (unsigned b = 0; b < 256;) {
    if (table_[b] == 0) {
      ++b;
      continue;
    }
    unsigned end = b;
    while (end + 1 < 256 && table_[end + 1] != 0) ++end;
    if (ranges < 4) {
      lo_[ranges] = static_cast<std::uint8_t>(b);
      span_[ranges] = static_cast<std::uint8_t>(end - b);
    }
    ++ranges;
    b = end + 1;
  }
  ranges_ = ranges <= 4 ? static_cast<std::uint8_t>(ranges) : 0;
}

namespace {

// Calls f(RangeTest<R>) for the class's range count; nothing when it has no range form (the caller's byte
// loop then does all the work).
template <class F>
void with_ranges(std::uint8_t ranges, const std::array<std::uint8_t, 4>& lo, const std::array<std::uint8_t, 4>& span,
                 F&& f) {
  switch (ranges) {
    case 1:
      return f(RangeTest<1>(lo, span));
    case 2:
      return f(RangeTest<2>(lo, span));
    case 3:
      return f(RangeTest<3>(lo, span));
    case 4:
      return f(RangeTest<4>(lo, span));
    default:
      return;
  }
}

}  // namespace

Pos ByteClass::find(std::string_view text, Pos p, bool member, Simd simd) const noexcept {
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  const Pos n = text.size();
  if (p >= n) return n;
  if (const int lone = member ? only_member_ : only_outsider_; lone >= 0) {
    const void* hit = std::memchr(t + p, lone, n - p);
    return hit != nullptr ? static_cast<Pos>(static_cast<const unsigned char*>(hit) - t) : n;
  }
  if (simd == Simd::AVX2 && n >= 64) return find_avx2(ranges_, lo_, span_, nibbles_, t, p, n, member);
  with_ranges(ranges_, lo_, span_, [&](const auto& test) { p = find_in_blocks(test, t, p, n, !member); });
  while (p < n && (table_[t[p]] != 0) != member) ++p;
  return p;
}

std::uint64_t ByteClass::count_run_matches(std::string_view text, bool star, Simd simd) const noexcept {
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  const Pos n = text.size();
  std::uint64_t count = 0;
  Pos p = 0;
  if (simd == Simd::AVX2 && n >= 64) {
    count = count_avx2(ranges_, lo_, span_, nibbles_, t, n, star, p);
  } else {
    with_ranges(ranges_, lo_, span_, [&](const auto& test) { count = count_in_blocks(test, t, n, star, p); });
  }
  bool prev = p > 0 && table_[t[p - 1]] != 0;
  for (; p < n; ++p) {
    const bool in = table_[t[p]] != 0;
    count += in && !prev;
    count += star && !in && !prev && !is_continuation_byte(t[p]);
    prev = in;
  }
  if (star && !prev) ++count;  // the empty match at the end (prev is then "the last byte is a member")
  return count;
}

}  // namespace quillex
