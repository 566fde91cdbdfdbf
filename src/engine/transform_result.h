// The result str of every transform_string body: the text with its replaced spans swapped for the replacement,
// always a new str (never the argument object), written once into a str of its final size.
//
// A body sizes the result first (how many spans it replaces and how many bytes they cover), opens a
// TransformOutput at that size, appends the kept gaps and the replacements in order, and finishes. When the text
// and the replacement are ASCII the bytes go straight into the result str; otherwise the code points go
// straight into it, copied from the str's and the replacement's own units. Either way the result str is the only
// block the size of the text that the call touches. A result whose size does not fit (the size arithmetic
// overflows, or the memory cannot be had)
// raises MemoryError: a caller's input can ask for a result of any size, so this is ordinary input, not an
// impossible state.
//
// A body that works on a str's own representation (py/str_units.h) sizes the result in code points instead and
// writes units straight into the result str, of the kind of its widest code point (open_units).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "elements/element.h"
#include "elements/simd.h"
#include "engine/fresh_memory.h"
#include "engine/span_buffer.h"
#include "py/errors.h"
#include "py/pyref.h"
#include "py/str_units.h"

namespace quillex::engine {

// A new str of `length` code points of the class of `max_char` (PyUnicode_New), whose units the caller writes
// next, front to back: a large one in huge pages (fresh_memory.h).
[[nodiscard]] inline PyObject* new_result_str(Py_ssize_t length, Py_UCS4 max_char) noexcept {
  PyObject* s = PyUnicode_New(length, max_char);
  if (s != nullptr) advise_huge_pages(PyUnicode_DATA(s), static_cast<std::size_t>(length) * PyUnicode_KIND(s));
  return s;
}

// A new exact str equal to `s` (a str or a subclass): its code points copied in its own representation, so the
// copy is as canonical as `s`. nullptr with MemoryError when it cannot be made.
[[nodiscard]] inline PyObject* new_str_copy(PyObject* s) {
  const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
  PyObject* copy = new_result_str(n, PyUnicode_MAX_CHAR_VALUE(s));
  if (copy == nullptr) return py::pending_error();
  if (n != 0) {
    std::memcpy(PyUnicode_DATA(copy), PyUnicode_DATA(s), static_cast<std::size_t>(n) * PyUnicode_KIND(s));
  }
  return copy;
}

// The UTF-8 length of a result that keeps text_size - removed bytes and inserts `count` replacements of
// replacement_size bytes, or false when it overflows or exceeds what a str can hold. `removed` <= text_size.
[[nodiscard]] inline bool transform_result_size(std::uint64_t text_size, std::uint64_t count, std::uint64_t removed,
                                                std::uint64_t replacement_size, std::uint64_t& size) noexcept {
  std::uint64_t inserted = 0;
  if (__builtin_mul_overflow(count, replacement_size, &inserted)) return false;
  if (__builtin_add_overflow(text_size - removed, inserted, &size)) return false;
  return size <= static_cast<std::uint64_t>(PY_SSIZE_T_MAX);
}

// Copies n bytes. Most pieces of a transform are a few bytes (a replacement, the gap between two words), for
// which a call of memcpy costs more than the copy: up to 16 bytes are moved by two fixed-size copies that
// overlap in the middle (n = 6: bytes [0, 4) and [2, 6)), each compiled to one load and one store.
inline void copy_bytes(char* to, const char* from, std::size_t n) noexcept {
  if (n > 16) {
    std::memcpy(to, from, n);
  } else if (n >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else if (n >= 2) {
    std::memcpy(to, from, 2);
    std::memcpy(to + n - 2, from + n - 2, 2);
  } else if (n == 1) {
    *to = *from;
  }
}

// The number of code points in n bytes of UTF-8 that start and end on character boundaries: the bytes that are
// not continuation bytes (0x80..0xBF, the signed bytes below -64).
[[nodiscard]] inline std::size_t count_code_points(const char* data, std::size_t n) noexcept {
  if (n < 16) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) count += !is_continuation_byte(static_cast<unsigned char>(data[i]));
    return count;
  }
  const __m128i below = _mm_set1_epi8(-65);
  return count_passing_bytes_sse2(
      data, n, [below](__m128i x) { return _mm_cmpgt_epi8(x, below); },
      [](unsigned char b) { return !is_continuation_byte(b); });
}

class TransformOutput {
 public:
  TransformOutput() = default;
  TransformOutput(const TransformOutput&) = delete;
  TransformOutput& operator=(const TransformOutput&) = delete;

  // Prepares a result of the exact size given by transform_result_size for `text` (the UTF-8 view of the str
  // `s`) with `count` spans covering `removed` bytes replaced by `replacement` (the view of `replacement_obj`).
  // false with MemoryError set when the size does not fit or its memory cannot be had.
  [[nodiscard]] bool open(PyObject* s, std::string_view text, PyObject* replacement_obj,
                          std::string_view replacement, std::uint64_t count, std::uint64_t removed) {
    std::uint64_t size = 0;
    if (!transform_result_size(text.size(), count, removed, replacement.size(), size)) {
      (void)PyErr_NoMemory();
      return false;
    }
    size_ = static_cast<std::size_t>(size);
    // ASCII in, ASCII out: the result's bytes are its code points.
    if (PyUnicode_IS_ASCII(s) && (count == 0 || PyUnicode_IS_ASCII(replacement_obj))) return make_result(127);
    // Otherwise code points, as units of the widest kind the result can hold. Its length is at most its UTF-8
    // size, so the str is made at that length and shrunk by finish: the pages past what is written are never
    // touched, and shrinking hands them back without a copy.
    Py_UCS4 max_char = PyUnicode_MAX_CHAR_VALUE(s);
    if (count != 0) max_char = std::max(max_char, PyUnicode_MAX_CHAR_VALUE(replacement_obj));
    if (!make_result(max_char)) return false;
    source_ = s;
    text_ = text;
    replacement_obj_ = replacement_obj;
    code_points_ = true;
    return true;
  }

  // As `open`, with every length in code points: a result whose widest code point is of the class of
  // `max_char` (py::max_char_of_class), written as units of that class's kind straight into the result str,
  // which is canonical when some written code point is of that class.
  [[nodiscard]] bool open_units(std::uint64_t text_length, std::uint64_t count, std::uint64_t removed,
                                std::uint64_t replacement_length, Py_UCS4 max_char) {
    std::uint64_t length = 0;
    if (!transform_result_size(text_length, count, removed, replacement_length, length)) {
      (void)PyErr_NoMemory();
      return false;
    }
    size_ = static_cast<std::size_t>(length);
    return make_result(max_char);
  }
  unsigned kind() const noexcept { return kind_; }

  // Appends `count` code points stored as units of `kind` bytes (after open_units), converted to the result's
  // kind; each must fit it. Past the opened length it stops the process, as `append` does.
  void append_units(const char* units, unsigned kind, std::size_t count) noexcept {
    if (count > size_ - written_) [[unlikely]]
      fatal("transform_string: the result was sized wrongly");
    py::copy_units(units, kind, count, out_ + written_ * kind_, kind_);
    written_ += count;
  }

  // Appends a kept gap of the text (a view into the `text` given to open, after the gaps appended before it)
  // and the replacement; the caller appends exactly the size it opened with, in order. Appending past that size
  // is a fault of the body (its sizing and its writing disagree): it stops the process before anything is
  // written outside the result.
  void append_gap(std::string_view gap) noexcept {
    if (!code_points_) return append(gap);
    claim(gap.size());
    const auto at = static_cast<std::size_t>(gap.data() - text_.data());
    if (at < source_byte_ || at + gap.size() > text_.size()) [[unlikely]]
      fatal("transform_string: a gap outside the text");
    source_index_ += count_code_points(text_.data() + source_byte_, at - source_byte_);
    const std::size_t n = count_code_points(gap.data(), gap.size());
    const auto source_kind = static_cast<unsigned>(PyUnicode_KIND(source_));
    const char* from = static_cast<const char*>(PyUnicode_DATA(source_)) + source_index_ * source_kind;
    if (source_kind == kind_) {
      copy_bytes(out_ + written_ * kind_, from, n * kind_);  // most gaps are a few characters
    } else {
      py::copy_units(from, source_kind, n, out_ + written_ * kind_, kind_);
    }
    written_ += n;
    source_index_ += n;
    source_byte_ = at + gap.size();
  }
  void append_replacement(std::string_view replacement) noexcept {
    if (!code_points_) return append(replacement);
    claim(replacement.size());
    const auto n = static_cast<std::size_t>(PyUnicode_GET_LENGTH(replacement_obj_));
    py::copy_units(static_cast<const char*>(PyUnicode_DATA(replacement_obj_)),
                   static_cast<unsigned>(PyUnicode_KIND(replacement_obj_)), n, out_ + written_ * kind_, kind_);
    written_ += n;
  }

  // For a writer that fills the result itself (with stores that run ahead of what they keep, so not through
  // append): an ASCII result's bytes, or the units of one opened with open_units; its exact size in those; and
  // how many the writer wrote in the end.
  char* bytes() noexcept {
    if (code_points_) [[unlikely]]
      fatal("transform_string: bytes of a result written in code points");
    return out_;
  }
  std::size_t size() const noexcept { return size_; }
  void set_written(std::size_t n) noexcept { written_ = n; }

  // The result (a new reference), or nullptr with the interpreter's error. A writer that appended another size
  // than it opened with is a fault of the body, not of the input: it stops the process.
  [[nodiscard]] PyObject* finish() {
    if (!code_points_) {
      if (written_ != size_) fatal("transform_string: the result was sized wrongly");
      return result_.release();
    }
    if (claimed_ != size_) fatal("transform_string: the result was sized wrongly");
    // The str is canonical only when some code point needs its kind. The replacement's widest one does when the
    // replacement is of the result's kind; otherwise one of the text's widest must be left in a gap, and when
    // all of them were replaced the result is made again at its own kind.
    if (PyUnicode_MAX_CHAR_VALUE(replacement_obj_) < PyUnicode_MAX_CHAR_VALUE(result_.get()) &&
        !holds_char_of_kind()) {
      PyObject* made = PyUnicode_FromKindAndData(static_cast<int>(kind_), out_, static_cast<Py_ssize_t>(written_));
      return made != nullptr ? made : py::pending_error();
    }
    if (written_ == size_) return result_.release();
    PyObject* result = result_.release();
    if (PyUnicode_Resize(&result, static_cast<Py_ssize_t>(written_)) != 0) {
      Py_XDECREF(result);  // a failed resize leaves the str as it was
      return py::pending_error();
    }
    return result;
  }

 private:
  // Makes the result str of size_ code points of the class of `max_char`; false with MemoryError.
  bool make_result(Py_UCS4 max_char) {
    result_ = py::PyRef::steal(new_result_str(static_cast<Py_ssize_t>(size_), max_char));
    if (!result_) {
      (void)py::pending_error();
      return false;
    }
    kind_ = static_cast<unsigned>(PyUnicode_KIND(result_.get()));
    out_ = static_cast<char*>(PyUnicode_DATA(result_.get()));
    return true;
  }

  // Appends bytes of an ASCII result.
  void append(std::string_view bytes) noexcept {
    if (bytes.size() > size_ - written_) [[unlikely]]
      fatal("transform_string: the result was sized wrongly");
    copy_bytes(out_ + written_, bytes.data(), bytes.size());
    written_ += bytes.size();
  }

  // Counts `utf8_size` more bytes of the result's UTF-8 size against the size it was opened with; the code
  // points written never outnumber these bytes, so they stay inside the str.
  void claim(std::size_t utf8_size) noexcept {
    if (utf8_size > size_ - claimed_) [[unlikely]]
      fatal("transform_string: the result was sized wrongly");
    claimed_ += utf8_size;
  }

  // Whether a written code point needs the result's kind (for 1-byte units: is not ASCII).
  // The units are tested 64 at a time (a loop the compiler turns into vector compares), stopping at the first
  // block that holds one: the text's widest characters are usually met early.
  bool holds_char_of_kind() const noexcept {
    const auto any_at_least = [this](auto unit, std::uint32_t low) {
      const auto* units = reinterpret_cast<const decltype(unit)*>(out_);
      std::size_t i = 0;
      for (; written_ - i >= 64; i += 64) {
        bool hit = false;
        for (std::size_t j = 0; j < 64; ++j) hit |= units[i + j] >= low;
        if (hit) return true;
      }
      for (; i < written_; ++i) {
        if (units[i] >= low) return true;
      }
      return false;
    };
    switch (kind_) {
      case 1: return any_at_least(std::uint8_t{}, 0x80);
      case 2: return any_at_least(std::uint16_t{}, 0x100);
      default: return any_at_least(std::uint32_t{}, 0x10000);
    }
  }

  py::PyRef result_;  // the result being written in place
  char* out_ = nullptr;
  std::size_t size_ = 0;     // bytes, or code points after open_units
  std::size_t written_ = 0;  // bytes, or code points after open_units or of a result written in code points
  unsigned kind_ = 1;        // unit size of the result
  // A result written in code points: its UTF-8 size so far, the str the gaps come from (with its UTF-8 view)
  // and where the last gap ended there, in bytes and in code points, and the replacement str.
  bool code_points_ = false;
  std::size_t claimed_ = 0;
  PyObject* source_ = nullptr;
  std::string_view text_;
  std::size_t source_byte_ = 0;
  std::size_t source_index_ = 0;
  PyObject* replacement_obj_ = nullptr;
};

// A transform whose replaced spans are already counted: `count` spans covering `removed` bytes, which
// `scan(on_span) -> bool` reports (start, end) in text order (start < end, non-overlapping), exactly those. The
// scan returns false when it stopped early (matching overflowed the recursion bound: the result is then nullptr
// with no error set, and the method frame raises RecursionError). No span gives a copy of `s`.
template <class Scan>
[[nodiscard]] PyObject* transform_counted(PyObject* s, std::string_view text, PyObject* replacement_obj,
                                          std::string_view replacement, std::uint64_t count, std::uint64_t removed,
                                          Scan&& scan) {
  if (count == 0) return new_str_copy(s);
  TransformOutput out;
  if (!out.open(s, text, replacement_obj, replacement, count, removed)) return nullptr;
  std::uint64_t copied = 0;
  const bool written = scan([&](std::uint64_t start, std::uint64_t end) {
    out.append_gap(text.substr(copied, start - copied));
    out.append_replacement(replacement);
    copied = end;
  });
  if (!written) return nullptr;
  out.append_gap(text.substr(copied));
  return out.finish();
}

// A transform from a scan that can be run twice with the same matches (the scan as for transform_counted): the
// first run sizes the result, the second writes it.
template <class Scan>
[[nodiscard]] PyObject* transform_by_two_scans(PyObject* s, std::string_view text, PyObject* replacement_obj,
                                               std::string_view replacement, Scan&& scan) {
  std::uint64_t count = 0;
  std::uint64_t removed = 0;
  const bool sized = scan([&](std::uint64_t start, std::uint64_t end) {
    ++count;
    removed += end - start;
  });
  if (!sized) return nullptr;
  return transform_counted(s, text, replacement_obj, replacement, count, removed, scan);
}

// A transform from one scan that keeps the spans it reports while it sizes the result, so that writing it
// needs no second scan. `run(on_span, from) -> bool` is a scan as for transform_counted that starts at `from`:
// 0, or the end of a span it reported (where the scan resumes, so from there it reports the same spans as
// before). The spans kept take at most about as many bytes as the text (one span per 16 bytes, and 64Ki
// spans in any case); past them the sizing scan goes on counting, and the writing scan starts again after the
// last span kept.
template <class Run>
[[nodiscard]] PyObject* transform_by_one_scan(PyObject* s, std::string_view text, PyObject* replacement_obj,
                                              std::string_view replacement, Run&& run) {
  SpanBuffer kept;
  const std::size_t most = std::max<std::size_t>(text.size() / sizeof(SpanBuffer::Span), std::size_t{1} << 16);
  std::uint64_t count = 0;
  std::uint64_t removed = 0;
  bool all_kept = true;
  Pos rest = 0;  // the end of the last span kept
  const bool sized = run(
      [&](Pos start, Pos end) {
        ++count;
        removed += end - start;
        if (!all_kept) return;
        if (kept.size() == most) {
          all_kept = false;
          return;
        }
        kept.push(start, end);
        rest = end;
      },
      0);
  if (!sized) return nullptr;
  return transform_counted(s, text, replacement_obj, replacement, count, removed, [&](auto&& on_span) {
    for (const SpanBuffer::Span& span : kept) on_span(span.start, span.end);
    return all_kept || run(on_span, rest);
  });
}

}  // namespace quillex::engine
