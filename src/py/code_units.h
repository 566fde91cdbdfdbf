// A str's code units as plain memory, and the scans over them that need no interpreter, so that they are
// tested on their own; py/str_units.h reads a str into this form.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "elements/simd.h"

namespace quillex::py {

struct StrUnits {
  const char* data;    // `length` units of `kind` bytes, native byte order
  std::size_t length;  // code points
  unsigned kind;       // 1 (latin-1), 2 (UCS-2) or 4 (UCS-4)

  std::size_t bytes() const noexcept { return length * kind; }
  std::string_view as_bytes() const noexcept { return {data, bytes()}; }
};

// Whether any unit is a surrogate. Latin-1 holds none. A UCS-2 unit u is one when u & 0xF800 == 0xD800
// (0xD800..0xDFFF share their top five bits 11011); a UCS-4 unit likewise with the mask 0xFFFFF800. Eight or
// four units a step; the lanes' verdicts are OR-ed and tested once per 64 bytes.
[[nodiscard]] inline bool holds_surrogate_sse2(const StrUnits& u) noexcept {
  if (u.kind == 1) return false;
  const std::size_t n = u.bytes();
  const __m128i mask =
      u.kind == 2 ? _mm_set1_epi16(static_cast<short>(0xF800)) : _mm_set1_epi32(static_cast<int>(0xFFFFF800));
  const __m128i want = u.kind == 2 ? _mm_set1_epi16(static_cast<short>(0xD800)) : _mm_set1_epi32(0xD800);
  const auto hits = [&](std::size_t at) noexcept {
    const __m128i x = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u.data + at)), mask);
    return u.kind == 2 ? _mm_cmpeq_epi16(x, want) : _mm_cmpeq_epi32(x, want);
  };
  std::size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    const __m128i any = _mm_or_si128(_mm_or_si128(hits(i), hits(i + 16)), _mm_or_si128(hits(i + 32), hits(i + 48)));
    if (_mm_movemask_epi8(any) != 0) return true;
  }
  for (; i + 16 <= n; i += 16) {
    if (_mm_movemask_epi8(hits(i)) != 0) return true;
  }
  for (; i < n; i += u.kind) {
    std::uint32_t unit;
    if (u.kind == 2) {
      std::uint16_t v;
      __builtin_memcpy(&v, u.data + i, 2);
      unit = v;
    } else {
      __builtin_memcpy(&unit, u.data + i, 4);
    }
    if ((unit & 0xFFFFF800u) == 0xD800u) return true;
  }
  return false;
}

// The same over 128 bytes a step; the rest goes to the 16-byte path.
[[nodiscard]] QUILLEX_AVX2 inline bool holds_surrogate_avx2(const StrUnits& u) noexcept {
  if (u.kind == 1) return false;
  const std::size_t n = u.bytes();
  const __m256i mask =
      u.kind == 2 ? _mm256_set1_epi16(static_cast<short>(0xF800)) : _mm256_set1_epi32(static_cast<int>(0xFFFFF800));
  const __m256i want = u.kind == 2 ? _mm256_set1_epi16(static_cast<short>(0xD800)) : _mm256_set1_epi32(0xD800);
  const auto hits = [&](std::size_t at) noexcept QUILLEX_AVX2 {
    const __m256i x = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(u.data + at)), mask);
    return u.kind == 2 ? _mm256_cmpeq_epi16(x, want) : _mm256_cmpeq_epi32(x, want);
  };
  std::size_t i = 0;
  for (; i + 128 <= n; i += 128) {
    const __m256i any =
        _mm256_or_si256(_mm256_or_si256(hits(i), hits(i + 32)), _mm256_or_si256(hits(i + 64), hits(i + 96)));
    if (!_mm256_testz_si256(any, any)) return true;
  }
  return holds_surrogate_sse2({u.data + i, (n - i) / u.kind, u.kind});
}

[[nodiscard]] inline bool holds_surrogate(const StrUnits& u, Simd simd = best_simd()) noexcept {
  return simd == Simd::AVX2 ? holds_surrogate_avx2(u) : holds_surrogate_sse2(u);
}

}  // namespace quillex::py
