// A str's code units as plain memory, and the scans over them that need no interpreter, so that they are
// tested on their own; py/str_units.h reads a str into this form.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <vector>

#include "elements/element.h"
#include "elements/simd.h"
#include "elements/substring_search.h"

namespace quillex::py {

struct StrUnits {
  const char* data;    // `length` units of `kind` bytes, native byte order
  std::size_t length;  // code points
  unsigned kind;       // 1 (latin-1), 2 (UCS-2) or 4 (UCS-4)

  std::size_t bytes() const noexcept { return length * kind; }
  std::string_view as_bytes() const noexcept { return {data, bytes()}; }
};

// The integer type of a unit of `Unit` bytes.
template <std::size_t Unit>
using unit_t = std::conditional_t<Unit == 1, std::uint8_t, std::conditional_t<Unit == 2, std::uint16_t, std::uint32_t>>;

// Calls body(std::integral_constant<std::size_t, Unit>{}) for the unit size `kind` (1, 2 or 4), so that a body
// is compiled once per kind.
template <class Body>
decltype(auto) by_unit(unsigned kind, Body&& body) {
  switch (kind) {
    case 1: return body(std::integral_constant<std::size_t, 1>{});
    case 2: return body(std::integral_constant<std::size_t, 2>{});
    default: return body(std::integral_constant<std::size_t, 4>{});
  }
}

// The code point whose UTF-8 bytes start at utf8[i] (valid UTF-8, i < utf8.size()); i moves past them.
[[nodiscard]] inline std::uint32_t next_code_point(std::string_view utf8, std::size_t& i) noexcept {
  unsigned len = 0;
  const char32_t c = decode_utf8_at(utf8, i, len);
  i += len;
  return c;
}

// The code points of `utf8` (valid UTF-8: an element's fixed text) as units of `kind` bytes, written into
// `storage`, whose bytes `out` then views. false when a code point is wider than the kind holds: such a text
// stands nowhere in a str of that kind.
// Example: "café" (63 61 66 C3 A9) is the units 63 61 66 E9 of kind 1, and 63 00 61 00 66 00 E9 00 of kind 2.
[[nodiscard]] inline bool utf8_as_units(std::string_view utf8, unsigned kind, std::vector<std::uint32_t>& storage,
                                        std::string_view& out) {
  storage.assign((utf8.size() * kind + 3) / 4, 0);
  char* units = reinterpret_cast<char*>(storage.data());
  const std::uint32_t limit = kind == 1 ? 0xFF : kind == 2 ? 0xFFFF : 0x10FFFF;
  std::size_t count = 0;
  for (std::size_t i = 0; i < utf8.size(); ++count) {
    const std::uint32_t c = next_code_point(utf8, i);
    if (c > limit) return false;
    switch (kind) {
      case 1: units[count] = static_cast<char>(c); break;
      case 2: reinterpret_cast<std::uint16_t*>(units)[count] = static_cast<std::uint16_t>(c); break;
      default: reinterpret_cast<std::uint32_t*>(units)[count] = c; break;
    }
  }
  out = {units, count * kind};
  return true;
}

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

// find_unit: the first i in [from, n) with (t[i] | bits) == value, or n: with bits 0 the unit `value`, with
// bits 0x20 and a lowercase ASCII letter either case of it ('e' | 0x20 == 'E' | 0x20 == 'e', and no other unit
// gives 'e'). 16 bytes a step; latin-1 units without bits go to memchr.
template <class U>
[[nodiscard]] inline std::size_t find_unit(const U* t, std::size_t n, std::size_t from, std::uint32_t value,
                                           std::uint32_t bits = 0) noexcept {
  if (from >= n || value > static_cast<U>(~U{0})) return n;
  if constexpr (sizeof(U) == 1) {
    if (bits == 0) {
      const void* hit = std::memchr(t + from, static_cast<int>(value), n - from);
      return hit == nullptr ? n : static_cast<std::size_t>(static_cast<const U*>(hit) - t);
    }
  }
  constexpr std::size_t PER_STEP = 16 / sizeof(U);
  const auto lanes = [](std::uint32_t v) {
    if constexpr (sizeof(U) == 1) return _mm_set1_epi8(static_cast<char>(v));
    if constexpr (sizeof(U) == 2) return _mm_set1_epi16(static_cast<short>(v));
    return _mm_set1_epi32(static_cast<int>(v));
  };
  const __m128i want = lanes(value);
  const __m128i set = lanes(bits);
  std::size_t i = from;
  for (; n - i >= PER_STEP; i += PER_STEP) {
    const __m128i x = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i)), set);
    __m128i eq;
    if constexpr (sizeof(U) == 1) {
      eq = _mm_cmpeq_epi8(x, want);
    } else if constexpr (sizeof(U) == 2) {
      eq = _mm_cmpeq_epi16(x, want);
    } else {
      eq = _mm_cmpeq_epi32(x, want);
    }
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(eq));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask)) / sizeof(U);
  }
  for (; i < n; ++i) {
    if ((t[i] | bits) == value) return i;
  }
  return n;
}

// The number of units of t[0, n) equal to `value`: latin-1 units through count_byte, wider ones 16 bytes a
// step, the lanes that agree counted from the compare's mask.
template <class U>
[[nodiscard]] inline std::uint64_t count_unit(const U* t, std::size_t n, std::uint32_t value) noexcept {
  if (value > static_cast<U>(~U{0})) return 0;
  if constexpr (sizeof(U) == 1) {
    return count_byte(reinterpret_cast<const char*>(t), n, static_cast<char>(value));
  } else {
    constexpr std::size_t PER_STEP = 16 / sizeof(U);
    const __m128i want =
        sizeof(U) == 2 ? _mm_set1_epi16(static_cast<short>(value)) : _mm_set1_epi32(static_cast<int>(value));
    std::uint64_t bits = 0;
    std::size_t i = 0;
    for (; n - i >= PER_STEP; i += PER_STEP) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
      const __m128i eq = sizeof(U) == 2 ? _mm_cmpeq_epi16(x, want) : _mm_cmpeq_epi32(x, want);
      bits += static_cast<unsigned>(__builtin_popcount(static_cast<unsigned>(_mm_movemask_epi8(eq))));
    }
    std::uint64_t count = bits / sizeof(U);
    for (; i < n; ++i) count += t[i] == value;
    return count;
  }
}

}  // namespace quillex::py
