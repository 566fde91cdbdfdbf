// The results of the bodies that read a str's own units (py/str_units.h) because its UTF-8 form is not at hand:
// search_string's list and transform_string's str, from matches found as spans of code points [start, end).
//
// Such a body finds the matches the UTF-8 route finds: each rule, read per code point, is the byte rule at
// character boundaries, and no non-empty match starts or ends anywhere else. Neither result reports a position
// (search_string gives strs, transform_string a str), so no UTF-8 byte offset is ever needed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "elements/literals.h"
#include "engine/bodies.h"
#include "engine/token_intern.h"
#include "engine/transform_result.h"
#include "py/errors.h"
#include "py/str_units.h"

namespace quillex::engine {

// What a transform needs to know of its spans before it makes its result: how many, the code points they
// cover, and the class (py::max_char_of_class) of the widest code point the result keeps of the text.
struct UnitSpanTally {
  std::uint64_t count = 0;
  std::uint64_t removed = 0;
  Py_UCS4 kept_max = 0;
};

// Tallies the spans that `scan(on_span) -> bool` reports over `text`, whose widest class is `text_max`; no span
// holds a code point above the class `span_max`. The kept code points are read only when the spans could take
// away every code point of the text's widest class (span_max >= text_max, the text not ASCII), and only until
// one of that class is met: the literal 'é' taken out of a latin-1 text may leave it ASCII. false when the
// scan gave up (it returned false).
template <class Scan>
[[nodiscard]] bool tally_unit_spans(const py::StrUnits& text, Py_UCS4 text_max, Py_UCS4 span_max, Scan&& scan,
                                    UnitSpanTally& tally) {
  const bool read_gaps = span_max >= text_max && text_max != 0x7F;
  std::uint32_t kept = 0;  // OR of the kept code points read so far
  std::size_t copied = 0;  // first code point of the current gap
  const auto read_gap = [&](std::size_t to) {
    if (py::max_char_of_class(kept) < text_max) kept |= py::or_of_units(text, copied, to - copied);
  };
  const bool complete = scan([&](std::size_t start, std::size_t end) {
    ++tally.count;
    tally.removed += end - start;
    if (read_gaps) read_gap(start);
    copied = end;
  });
  if (!complete) return false;
  tally.kept_max = text_max;
  if (read_gaps) {
    read_gap(text.length);
    tally.kept_max = py::max_char_of_class(kept);
  }
  return true;
}

// transform_string of `s`, whose units `text` views: the tallied spans, which `scan` reports again (the same
// ones), replaced by `replacement_obj`, written once into a str made at its exact length and of the kind of
// its widest code point. No span: a new str equal to `s`. nullptr with MemoryError when the result does not fit.
template <class Scan>
[[nodiscard]] PyObject* write_unit_transform(PyObject* s, const py::StrUnits& text, PyObject* replacement_obj,
                                             const UnitSpanTally& tally, Scan&& scan) {
  if (tally.count == 0) return new_str_copy(s);
  const py::StrUnits replacement = py::str_units(replacement_obj);
  TransformOutput out;
  if (!out.open_units(text.length, tally.count, tally.removed, replacement.length,
                      std::max(tally.kept_max, PyUnicode_MAX_CHAR_VALUE(replacement_obj)))) {
    return nullptr;
  }
  std::vector<std::uint32_t> converted;  // the replacement in the result's units, when its own differ
  const char* replacement_units = replacement.data;
  if (replacement.kind != out.kind()) {
    converted.resize((replacement.length * out.kind() + 3) / 4);
    replacement_units = reinterpret_cast<const char*>(converted.data());
    py::copy_units(replacement.data, replacement.kind, replacement.length, reinterpret_cast<char*>(converted.data()),
                   out.kind());
  }
  // One copy of the loop per unit size of the text: the many short gaps are then copied by code compiled for it
  // (a run-time unit size measured 10-20% slower over prose with a match every few dozen bytes).
  py::by_unit(text.kind, [&](auto unit) {
    std::size_t copied = 0;  // first code point not yet copied
    (void)scan([&](std::size_t start, std::size_t end) {
      out.append_units(text.data + copied * unit(), unit(), start - copied);
      out.append_units(replacement_units, out.kind(), replacement.length);
      copied = end;
    });
    out.append_units(text.data + copied * unit(), unit(), text.length - copied);
  });
  return out.finish();
}

// Both steps, for a scan that can be run twice with the same spans; nothing when the scan gave up.
template <class Scan>
[[nodiscard]] std::optional<PyObject*> transform_unit_spans(PyObject* s, const py::StrUnits& text,
                                                            PyObject* replacement_obj, Py_UCS4 span_max, Scan&& scan) {
  UnitSpanTally tally;
  if (!tally_unit_spans(text, PyUnicode_MAX_CHAR_VALUE(s), span_max, scan, tally)) return std::nullopt;
  return write_unit_transform(s, text, replacement_obj, tally, scan);
}

// search_string's list of the `count` spans that `scan(on_span)` reports over `text` (non-empty, in text
// order): made at that length and filled in one scan with the slices as strs, equal slices sharing one str.
// A scan that reports another number of spans than counted is a fault of the body: it stops the process.
template <class Scan>
[[nodiscard]] PyObject* unit_search_list(const py::StrUnits& text, std::uint64_t count, Scan&& scan) {
  if (count == 0) return py::new_empty_list_or_die();
  CountedTokenList list(text.as_bytes(), text.kind);
  if (!list.open(count)) return nullptr;
  (void)scan([&](std::size_t start, std::size_t end) {
    if (list.size() == count) fatal("search_string: the scan found more matches than it counted");
    list.add(start * text.kind, end * text.kind);
  });
  if (list.size() != count) fatal("search_string: the scan found fewer matches than it counted");
  return list.finish();
}

// search_string_count, search_string and transform_string over the units of `s` from `with_scan(units, body)`,
// which calls body(scan) with a scan of the class's non-empty matches that never gives up (compiled once per unit
// size); `span_max` as for tally_unit_spans.
template <class WithScan>
[[nodiscard]] PyObject* unit_count(PyObject* s, WithScan&& with_scan) {
  return with_scan(py::str_units(s), [](auto&& scan) {
    std::uint64_t count = 0;
    (void)scan([&count](std::size_t, std::size_t) { ++count; });
    return py::new_count_or_die(count);
  });
}
template <class WithScan>
[[nodiscard]] PyObject* unit_search(PyObject* s, WithScan&& with_scan) {
  const py::StrUnits units = py::str_units(s);
  return with_scan(units, [&units](auto&& scan) {
    std::uint64_t count = 0;
    (void)scan([&count](std::size_t, std::size_t) { ++count; });
    return unit_search_list(units, count, scan);
  });
}
template <class WithScan>
[[nodiscard]] PyObject* unit_transform(PyObject* s, PyObject* replacement_obj, Py_UCS4 span_max, WithScan&& with_scan) {
  const py::StrUnits units = py::str_units(s);
  return with_scan(units, [&](auto&& scan) {
    UnitSpanTally tally;
    (void)tally_unit_spans(units, PyUnicode_MAX_CHAR_VALUE(s), span_max, scan, tally);
    return write_unit_transform(s, units, replacement_obj, tally, scan);
  });
}

// The search_string and transform_string bodies (engine/bodies.h) of a class whose matches over units `Units`
// gives: Units::scan(element, units, body), a with_scan as above, and Units::span_max(element). Over a UTF-8
// view they are the common routines; a str handed over unviewed gets the results of the unit scan.
template <class Units>
PyObject* unit_search_body(PyObject* self, const Element& e, PyObject* s, std::string_view text) {
  if (!unviewed(text)) return common_search_string(self, e, s, text);
  return unit_search(s, [&e](const py::StrUnits& units, auto&& body) { return Units::scan(e, units, body); });
}
template <class Units>
PyObject* unit_transform_body(PyObject* self, const Element& e, PyObject* s, std::string_view text,
                              PyObject* replacement_obj, std::string_view replacement) {
  if (!unviewed(text)) return common_transform_string(self, e, s, text, replacement_obj, replacement);
  return unit_transform(s, replacement_obj, Units::span_max(e),
                        [&e](const py::StrUnits& units, auto&& body) { return Units::scan(e, units, body); });
}

// The number of units of `text` that are identifier characters (IDENT_CHARS): as many as the str's UTF-8 form
// has identifier bytes, since every other code point's bytes are 0x80 and above.
[[nodiscard]] inline std::uint64_t count_ident_units(const py::StrUnits& text) noexcept {
  return py::by_unit(text.kind, [&text](auto unit) {
    const auto* t = reinterpret_cast<const py::unit_t<unit()>*>(text.data);
    std::uint64_t count = 0;
    for (std::size_t i = 0; i < text.length; ++i) {
      count += static_cast<unsigned>(t[i] < 0x80) & IDENT_CHARS[t[i] & 0x7F];
    }
    return count;
  });
}

}  // namespace quillex::engine
