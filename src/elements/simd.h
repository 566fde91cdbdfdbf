// The vector width of the byte scans, chosen once per process, and the byte-set test of the 32-byte paths.
//
// The module is built for plain x86-64, whose vectors are SSE2's 16 bytes, and a built module may be copied to
// any x86-64 machine. The scans bound by their own arithmetic rather than by memory also have a 32-byte path for
// processors with AVX2, compiled for that target alone (QUILLEX_AVX2 on the function, and on each lambda in it:
// a lambda does not take the target of the function around it). A scan takes a `Simd` argument that defaults
// to best_simd(), the answer of one processor check made when the library loads, so choosing costs one read
// where the scan starts. Both paths give the same results; the tests run them side by side.
#pragma once

#include <immintrin.h>

#include <array>
#include <cstdint>

namespace quillex {

// AVX2 with the bit instructions every AVX2 processor has (BMI1 and BMI2: tzcnt, blsr; POPCNT).
#define QUILLEX_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))

enum class Simd : unsigned char { SSE2, AVX2 };

// Whether this processor runs the QUILLEX_AVX2 paths, checked once at load.
extern const bool CPU_RUNS_AVX2;

[[nodiscard]] inline Simd best_simd() noexcept { return CPU_RUNS_AVX2 ? Simd::AVX2 : Simd::SSE2; }

// The number of bytes of [data, data + n) that pass a test, 16 bytes a block: `lanes(x)` gives 0xFF (-1) in each
// passing lane of the block x, and subtracting it adds 1 to that lane's 8-bit counter; after at most 255 blocks
// the counters are summed by _mm_sad_epu8 (the sum of absolute differences with zero adds each half's 8 bytes
// into a 64-bit lane) before they could overflow. The last 15 bytes or fewer are tested by `byte`.
template <class Lanes, class Byte>
[[nodiscard]] inline std::uint64_t count_passing_bytes_sse2(const char* data, std::size_t n, Lanes lanes_of,
                                                           Byte byte) noexcept {
  std::uint64_t count = 0;
  std::size_t i = 0;
  while (n - i >= 16) {
    const std::size_t blocks = (n - i) / 16 < 255 ? (n - i) / 16 : 255;
    __m128i lanes = _mm_setzero_si128();
    for (std::size_t b = 0; b < blocks; ++b, i += 16) {
      lanes = _mm_sub_epi8(lanes, lanes_of(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i))));
    }
    const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
    count += static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
             static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
  }
  for (; i < n; ++i) count += byte(static_cast<unsigned char>(data[i]));
  return count;
}

// NibbleSet: any set of bytes as two 16-entry tables, so that the 32-byte paths test 32 bytes at once by table
// lookups (vpshufb looks up a 16-byte table by the low four bits of each byte). Byte b has the row r = b >> 4
// and the column c = b & 15; LOW[c] has bit r set when byte (r << 4 | c) is a member and r < 8, HIGH[c] has
// bit r - 8 set when it is a member and r >= 8; a second lookup by the row gives the row's bit.
// Example, the set {'a', 'q'} (0x61, 0x71): LOW[1] = bits 6 and 7 = 0xC0; 'Q' (0x51, row 5) finds
// 0xC0 & (1 << 5) = 0 in column 1: no member.
struct NibbleSet {
  std::array<std::uint8_t, 16> low{};
  std::array<std::uint8_t, 16> high{};
  bool has_high = false;  // a member of 0x80 or above (otherwise HIGH is not looked at)

  NibbleSet() noexcept = default;  // no member
  // `table[b] != 0` for the members.
  // `table` holds 256 bytes, nonzero for the members. A row of 16 bytes at a time: its members' lanes get the
  // row's bit.
  explicit NibbleSet(const std::array<std::uint8_t, 256>& table) noexcept {
    __m128i rows[2] = {_mm_setzero_si128(), _mm_setzero_si128()};
    for (unsigned row = 0; row < 16; ++row) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table.data() + 16 * row));
      const __m128i bit = _mm_set1_epi8(static_cast<char>(1u << (row & 7)));
      rows[row / 8] = _mm_or_si128(rows[row / 8], _mm_andnot_si128(_mm_cmpeq_epi8(bytes, _mm_setzero_si128()), bit));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(low.data()), rows[0]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(high.data()), rows[1]);
    has_high = _mm_movemask_epi8(_mm_cmpeq_epi8(rows[1], _mm_setzero_si128())) != 0xFFFF;
  }
};

// The tables of a NibbleSet in registers, for the 32-byte paths only (built and used in QUILLEX_AVX2 code).
class NibbleLanes {
 public:
  QUILLEX_AVX2 explicit NibbleLanes(const NibbleSet& set) noexcept
      : low_(_mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(set.low.data())))),
        high_(_mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(set.high.data())))),
        has_high_(set.has_high) {}

  // Bit i set when byte i of x is a member.
  QUILLEX_AVX2 std::uint32_t members(__m256i x) const noexcept {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i column = _mm256_and_si256(x, nibble);
    const __m256i row = _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble);
    // The bit of rows 0-7 in the first table, of rows 8-15 in the second (0 for the other rows).
    const __m256i low_bit = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                             1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0);
    __m256i hit = _mm256_and_si256(_mm256_shuffle_epi8(low_, column), _mm256_shuffle_epi8(low_bit, row));
    if (has_high_) {
      const __m256i high_bit = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 4, 8, 16, 32, 64, -128,  //
                                                0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 4, 8, 16, 32, 64, -128);
      hit = _mm256_or_si256(hit,
                            _mm256_and_si256(_mm256_shuffle_epi8(high_, column), _mm256_shuffle_epi8(high_bit, row)));
    }
    return ~static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(hit, _mm256_setzero_si256())));
  }
  // Bit i set when byte p[i] is a member, for the 64 bytes at p.
  QUILLEX_AVX2 std::uint64_t members64(const unsigned char* p) const noexcept {
    return members(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))) |
           static_cast<std::uint64_t>(members(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)))) << 32;
  }

 private:
  __m256i low_;
  __m256i high_;
  bool has_high_;
};

}  // namespace quillex
