// A str read in its own representation: code points stored as units of 1, 2 or 4 bytes (its kind), in place.
//
// The interpreter makes a str's UTF-8 form the first time something asks for it (a new block the size of the
// text, kept with the str). A body that can work on code points reads the units instead and never makes it.
// A str that holds a lone surrogate (U+D800..U+DFFF) has no UTF-8 form: asking for one raises
// UnicodeEncodeError, so a body that skips the form must still refuse such a str the same way.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "elements/simd.h"
#include "py/pyref.h"

namespace quillex::py {

struct StrUnits {
  const char* data;    // `length` units of `kind` bytes, native byte order
  std::size_t length;  // code points
  unsigned kind;       // 1 (latin-1), 2 (UCS-2) or 4 (UCS-4)

  std::size_t bytes() const noexcept { return length * kind; }
  std::string_view as_bytes() const noexcept { return {data, bytes()}; }
};

// `s` is a str (or subclass) that is ready, as every str made by Python code is.
[[nodiscard]] inline StrUnits str_units(PyObject* s) noexcept {
  return {static_cast<const char*>(PyUnicode_DATA(s)), static_cast<std::size_t>(PyUnicode_GET_LENGTH(s)),
          static_cast<unsigned>(PyUnicode_KIND(s))};
}

// Whether reading `s` as UTF-8 costs nothing: an ASCII str is its own UTF-8 form, any other has one once it was
// made. A str that is not ready (made through the legacy wide-char interface) counts as having one, so that it
// takes the UTF-8 route, which readies it.
[[nodiscard]] inline bool utf8_form_at_hand(PyObject* s) noexcept {
  if (!PyUnicode_IS_READY(s) || PyUnicode_IS_ASCII(s)) return true;
  return reinterpret_cast<PyCompactUnicodeObject*>(s)->utf8 != nullptr;
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
  const __m256i mask = u.kind == 2 ? _mm256_set1_epi16(static_cast<short>(0xF800))
                                   : _mm256_set1_epi32(static_cast<int>(0xFFFFF800));
  const __m256i want = u.kind == 2 ? _mm256_set1_epi16(static_cast<short>(0xD800)) : _mm256_set1_epi32(0xD800);
  const auto hits = [&](std::size_t at) noexcept QUILLEX_AVX2 {
    const __m256i x = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(u.data + at)), mask);
    return u.kind == 2 ? _mm256_cmpeq_epi16(x, want) : _mm256_cmpeq_epi32(x, want);
  };
  std::size_t i = 0;
  for (; i + 128 <= n; i += 128) {
    const __m256i any = _mm256_or_si256(_mm256_or_si256(hits(i), hits(i + 32)), _mm256_or_si256(hits(i + 64), hits(i + 96)));
    if (!_mm256_testz_si256(any, any)) return true;
  }
  return holds_surrogate_sse2({u.data + i, (n - i) / u.kind, u.kind});
}

[[nodiscard]] inline bool holds_surrogate(const StrUnits& u, Simd simd = best_simd()) noexcept {
  return simd == Simd::AVX2 ? holds_surrogate_avx2(u) : holds_surrogate_sse2(u);
}

// The byte length of the UTF-8 form of a str without surrogates: one byte per code point, one more from U+0080,
// one more from U+0800, one more from U+10000.
[[nodiscard]] inline std::size_t utf8_length(const StrUnits& u) noexcept {
  std::size_t extra = 0;
  if (u.kind == 1) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(u.data);
    for (std::size_t i = 0; i < u.length; ++i) extra += p[i] >> 7;
  } else if (u.kind == 2) {
    const auto* p = reinterpret_cast<const std::uint16_t*>(u.data);
    for (std::size_t i = 0; i < u.length; ++i) extra += (p[i] >= 0x80) + (p[i] >= 0x800);
  } else {
    const auto* p = reinterpret_cast<const std::uint32_t*>(u.data);
    for (std::size_t i = 0; i < u.length; ++i) extra += (p[i] >= 0x80) + (p[i] >= 0x800) + (p[i] >= 0x10000);
  }
  return u.length + extra;
}

// The widest code point a canonical str of `v`'s class may hold, for v the OR of some code points: 127, 255,
// 0xFFFF or 0x10FFFF. The class limits are powers of two less one, so the OR passes a limit exactly when one of
// the code points does (0x41 | 0xE9 = 0xE9: latin-1; 0x41 | 0x62 = 0x63: ASCII).
[[nodiscard]] constexpr Py_UCS4 max_char_of_class(std::uint32_t v) noexcept {
  return v < 0x80 ? 0x7F : v < 0x100 ? 0xFF : v < 0x10000 ? 0xFFFF : 0x10FFFF;
}

// The OR of units [start, start + count) of `u`.
[[nodiscard]] inline std::uint32_t or_of_units(const StrUnits& u, std::size_t start, std::size_t count) noexcept {
  std::uint32_t v = 0;
  if (u.kind == 1) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(u.data) + start;
    for (std::size_t i = 0; i < count; ++i) v |= p[i];
  } else if (u.kind == 2) {
    const auto* p = reinterpret_cast<const std::uint16_t*>(u.data) + start;
    for (std::size_t i = 0; i < count; ++i) v |= p[i];
  } else {
    const auto* p = reinterpret_cast<const std::uint32_t*>(u.data) + start;
    for (std::size_t i = 0; i < count; ++i) v |= p[i];
  }
  return v;
}

namespace detail {
template <class From, class To>
inline void convert_units(const char* from, std::size_t count, char* to) noexcept {
  const auto* f = reinterpret_cast<const From*>(from);
  auto* t = reinterpret_cast<To*>(to);
  for (std::size_t i = 0; i < count; ++i) t[i] = static_cast<To>(f[i]);
}
}  // namespace detail

// Copies `count` code points stored as units of `from_kind` bytes into units of `to_kind` bytes. Narrowing is
// only for code points that fit the narrower kind (the caller knows the widest one). The units of `to` are
// aligned to their size, as a str's data is.
inline void copy_units(const char* from, unsigned from_kind, std::size_t count, char* to, unsigned to_kind) noexcept {
  using detail::convert_units;
  if (count == 0) return;  // `from` may then be null (an empty buffer), which memcpy must not be given
  if (from_kind == to_kind) {
    __builtin_memcpy(to, from, count * from_kind);
    return;
  }
  switch (from_kind * 8 + to_kind) {
    case 1 * 8 + 2: return convert_units<std::uint8_t, std::uint16_t>(from, count, to);
    case 1 * 8 + 4: return convert_units<std::uint8_t, std::uint32_t>(from, count, to);
    case 2 * 8 + 1: return convert_units<std::uint16_t, std::uint8_t>(from, count, to);
    case 2 * 8 + 4: return convert_units<std::uint16_t, std::uint32_t>(from, count, to);
    case 4 * 8 + 1: return convert_units<std::uint32_t, std::uint8_t>(from, count, to);
    case 4 * 8 + 2: return convert_units<std::uint32_t, std::uint16_t>(from, count, to);
    default: __builtin_unreachable();
  }
}

}  // namespace quillex::py
