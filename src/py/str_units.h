// A str read in its own representation: code points stored as units of 1, 2 or 4 bytes (its kind), in place.
//
// The interpreter makes a str's UTF-8 form the first time something asks for it (a new block the size of the
// text, kept with the str). A body that can work on code points reads the units instead and never makes it.
// A str that holds a lone surrogate (U+D800..U+DFFF) has no UTF-8 form: asking for one raises
// UnicodeEncodeError, so a body that skips the form must still refuse such a str the same way.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "elements/element.h"
#include "py/code_units.h"
#include "py/pyref.h"

namespace quillex::py {

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

// Whether the n bytes at a and at b are the same. Up to 16 bytes in two loads a side that may overlap, as most
// tokens are, instead of a call; longer through memcmp.
[[nodiscard]] inline bool same_bytes(const char* a, const char* b, std::size_t n) noexcept {
  const auto load = [](const char* p, auto word) {
    std::memcpy(&word, p, sizeof word);
    return word;
  };
  if (n >= 8 && n <= 16) {
    return ((load(a, std::uint64_t{}) ^ load(b, std::uint64_t{})) |
            (load(a + n - 8, std::uint64_t{}) ^ load(b + n - 8, std::uint64_t{}))) == 0;
  }
  if (n >= 4 && n < 8) {
    return ((load(a, std::uint32_t{}) ^ load(b, std::uint32_t{})) |
            (load(a + n - 4, std::uint32_t{}) ^ load(b + n - 4, std::uint32_t{}))) == 0;
  }
  if (n < 4) {
    for (std::size_t i = 0; i < n; ++i) {
      if (a[i] != b[i]) return false;
    }
    return true;
  }
  return std::memcmp(a, b, n) == 0;
}

// Whether `s` (a ready str) holds exactly the text `utf8` (valid UTF-8). An ASCII str is its own UTF-8 form;
// any other str's form is longer than its length, one byte more at least for each code point from U+0080.
[[nodiscard]] inline bool str_equals_utf8(PyObject* s, std::string_view utf8) noexcept {
  const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(s));
  if (PyUnicode_IS_ASCII(s)) {
    return length == utf8.size() && same_bytes(static_cast<const char*>(PyUnicode_DATA(s)), utf8.data(), length);
  }
  if (length >= utf8.size()) return false;
  const int kind = PyUnicode_KIND(s);
  const void* data = PyUnicode_DATA(s);
  std::size_t k = 0;
  for (std::size_t i = 0; i < utf8.size(); ++k) {
    unsigned len;
    if (k == length || PyUnicode_READ(kind, data, k) != decode_utf8_at(utf8, i, len)) return false;
    i += len;
  }
  return k == length;
}

// Whether `s` (a ready str) holds exactly the `length` code points stored as units of `kind` bytes at `units`
// (a slice of a str's own units). A str of the same kind compares its units as bytes; one of another kind (the
// units' str may be narrower than their source's) code point by code point.
[[nodiscard]] inline bool str_equals_units(PyObject* s, const char* units, unsigned kind, std::size_t length) noexcept {
  if (static_cast<std::size_t>(PyUnicode_GET_LENGTH(s)) != length) return false;
  const auto skind = static_cast<unsigned>(PyUnicode_KIND(s));
  const void* data = PyUnicode_DATA(s);
  if (skind == kind) return same_bytes(static_cast<const char*>(data), units, length * kind);
  for (std::size_t i = 0; i < length; ++i) {
    if (PyUnicode_READ(skind, data, i) != PyUnicode_READ(kind, units, i)) return false;
  }
  return true;
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

// The class (max_char_of_class) of the widest code point of the valid UTF-8 `s`, read from its lead bytes: 0xC2
// and 0xC3 lead U+0080..U+00FF, up to 0xEF the rest of U+0100..U+FFFF, from 0xF0 the code points beyond.
[[nodiscard]] inline Py_UCS4 utf8_max_class(std::string_view s) noexcept {
  unsigned lead = 0;
  for (const char c : s) lead = std::max(lead, static_cast<unsigned>(static_cast<unsigned char>(c)));
  return lead < 0x80 ? 0x7F : lead < 0xC4 ? 0xFF : lead < 0xF0 ? 0xFFFF : 0x10FFFF;
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
