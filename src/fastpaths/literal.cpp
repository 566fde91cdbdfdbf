// The seven methods of Literal. None calls an operation of the element: the tests at 0 apply the literal rule
// (LiteralElement::matches_at) in place, and the searches run the substring searcher over the text. The token
// of a match is the object's cached str itself, so no str is made but transform_string's result.
#include "fastpaths/literal.h"

#include <algorithm>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "classes.h"
#include "elements/literals.h"
#include "engine/batch.h"
#include "engine/bodies.h"
#include "engine/transform_result.h"
#include "fastpaths/match_lists.h"
#include "py/binder.h"
#include "py/errors.h"

namespace quillex::engine {

namespace {

using fastpaths::count_literal_matches;

const LiteralElement& as_literal(const Element& e) noexcept { return static_cast<const LiteralElement&>(e); }

LiteralObject& literal_object(PyObject* self) noexcept { return object_layout<ClassId::Literal>(self); }

struct LiteralAtStart {
  const LiteralElement& literal;
  bool operator()(std::string_view text) const noexcept { return literal.matches_at(text, 0); }
};

PyObject* literal_parse_string(PyObject* self, const Element& element, PyObject*, std::string_view text) {
  LiteralObject& o = literal_object(self);
  if (!as_literal(element).matches_at(text, 0)) return py::raise_value_error(o.message);
  return fastpaths::new_cached_token_list(o.cached_text.get());
}

PyObject* literal_matches(PyObject*, const Element& element, PyObject*, std::string_view text) {
  return Py_NewRef(as_literal(element).matches_at(text, 0) ? Py_True : Py_False);
}

// The literal in the units of a str of `kind` bytes: the cached str's own units when they are of that kind,
// else widened into `storage`. false when the literal holds a code point wider than the kind holds: it then
// occurs nowhere in such a str.
bool literal_units(PyObject* cached_text, unsigned kind, std::vector<std::uint32_t>& storage, std::string_view& out) {
  const py::StrUnits literal = py::str_units(cached_text);
  if (literal.kind > kind) return false;
  if (literal.kind == kind) {
    out = literal.as_bytes();
    return true;
  }
  storage.resize((literal.length * kind + 3) / 4);
  char* units = reinterpret_cast<char*>(storage.data());
  py::copy_units(literal.data, literal.kind, literal.length, units, kind);
  out = {units, literal.length * kind};
  return true;
}

template <class Body>
decltype(auto) by_kind(unsigned kind, Body&& body) {
  switch (kind) {
    case 1: return body(std::integral_constant<std::size_t, 1>{});
    case 2: return body(std::integral_constant<std::size_t, 2>{});
    default: return body(std::integral_constant<std::size_t, 4>{});
  }
}

// count_literal_matches of the text's UTF-8 bytes, or, for a str handed over unviewed, of its own units: a
// literal's occurrences among code points and among UTF-8 bytes are the same occurrences (UTF-8 maps each code
// point to its own bytes, and no character's bytes start inside another's), so the counts are equal. The empty
// literal's count is the UTF-8 length. A unit search that gave up counts the UTF-8 form, made then. false with
// the interpreter's error when that form cannot be made.
bool literal_count(PyObject* self, const Element& element, PyObject* s, std::string_view text, std::uint64_t& count) {
  const std::string_view literal = as_literal(element).text();
  if (!unviewed(text)) {
    count = count_literal_matches(literal, text);
    return true;
  }
  const py::StrUnits units = py::str_units(s);
  if (literal.empty()) {
    count = py::utf8_length(units);
    return true;
  }
  std::vector<std::uint32_t> storage;
  std::string_view needle;
  if (!literal_units(literal_object(self).cached_text.get(), units.kind, storage, needle)) {
    count = 0;
    return true;
  }
  const std::optional<std::uint64_t> in_units = by_kind(units.kind, [&](auto unit) -> std::optional<std::uint64_t> {
    if constexpr (unit() == 1) {
      return count_literal_matches(needle, units.as_bytes());
    } else {
      return fastpaths::count_unit_literal_matches<unit()>(needle, units.as_bytes());
    }
  });
  if (in_units) {
    count = *in_units;
    return true;
  }
  if (!py::extract_str_argument(s, text)) return false;
  count = count_literal_matches(literal, text);
  return true;
}

PyObject* literal_search_string(PyObject* self, const Element& element, PyObject* s, std::string_view text) {
  std::uint64_t count = 0;
  if (!literal_count(self, element, s, text, count)) return nullptr;
  return fastpaths::repeated_token_list(literal_object(self).cached_text.get(), count);
}

PyObject* literal_search_string_count(PyObject* self, const Element& element, PyObject* s, std::string_view text) {
  std::uint64_t count = 0;
  if (!literal_count(self, element, s, text, count)) return nullptr;
  return py::new_count_or_die(count);
}

PyObject* literal_parse_batch(PyObject* self, const Element& element, PyObject* inputs) {
  return fastpaths::parse_batch_match_lists(inputs, literal_object(self).cached_text.get(),
                                            LiteralAtStart{as_literal(element)});
}

// Empty, uniform, then the previous-item cache; no input-period step and no verdict cache.
PyObject* literal_parse_batch_count(PyObject*, const Element& element, PyObject* inputs) {
  return fastpaths::count_match_lists_batch(inputs, LiteralAtStart{as_literal(element)},
                                            [](const BatchItems& b, LiteralAtStart& test, std::uint64_t& count) {
                                              return count_with_last_verdict(b, test, count);
                                            });
}

// transform_string over the UTF-8 form of `s`, made now: for a text whose units the unit search gave up on.
PyObject* transform_utf8(PyObject* s, std::string_view literal, PyObject* replacement_obj,
                         std::string_view replacement) {
  std::string_view text;
  if (!py::extract_str_argument(s, text)) return nullptr;
  const std::size_t n = literal.size();
  return transform_by_two_scans(s, text, replacement_obj, replacement, [&](auto&& on_span) {
    SubstringFinder finder(literal);
    (void)fastpaths::find_literal_occurrences(finder, text, 0, text.size(),
                                              [&](std::size_t h) { on_span(h, h + n); });
    return true;
  });
}

// transform_string over the text's own units (Unit bytes each), `needle` being the literal in such units:
// count first, then write once into the result str, made at its exact length and of the kind of its widest
// code point. That is the text's widest class when no occurrence can hold a code point of it (the literal's
// widest is narrower, or the text is ASCII); otherwise the kept gaps are read for it while counting (the
// literal 'é' taken out of a latin-1 text may leave it ASCII). The replacement joins it once anything is
// replaced. Over units of 2 or 4 bytes both passes make the same finder calls, so the writing pass meets
// exactly the occurrences the counting pass met, and a counting pass that gave up (straddling occurrences, see
// UnitFinder) hands the transform to the UTF-8 form, `literal` and `replacement_text` being the UTF-8 views.
template <std::size_t Unit>
PyObject* transform_in_units(PyObject* s, const py::StrUnits& text, std::string_view needle, Py_UCS4 literal_max,
                             PyObject* replacement_obj, std::string_view literal, std::string_view replacement_text) {
  const std::string_view bytes = text.as_bytes();
  const Py_UCS4 text_max = PyUnicode_MAX_CHAR_VALUE(s);
  const bool read_gaps = literal_max >= text_max && text_max != 0x7F;
  std::uint64_t count = 0;
  Py_UCS4 kept_max = text_max;
  if (Unit == 1 && !read_gaps) {
    count = count_literal_matches(needle, bytes);
  } else {
    fastpaths::UnitFinder<Unit> finder(needle);
    std::uint32_t kept = 0;  // OR of the kept code points read so far
    std::size_t copied = 0;  // first byte of the current gap
    const auto read_gap = [&](std::size_t to) {
      if (py::max_char_of_class(kept) < text_max) kept |= py::or_of_units(text, copied / Unit, (to - copied) / Unit);
    };
    (void)fastpaths::find_literal_occurrences(finder, bytes, 0, bytes.size(), [&](std::size_t h) {
      ++count;
      if (read_gaps) read_gap(h);
      copied = h + needle.size();
    });
    if (finder.gave_up()) return transform_utf8(s, literal, replacement_obj, replacement_text);
    if (read_gaps) {
      read_gap(bytes.size());
      kept_max = py::max_char_of_class(kept);
    }
  }
  if (count == 0) return new_str_copy(s);

  const py::StrUnits replacement = py::str_units(replacement_obj);
  TransformOutput out;
  if (!out.open_units(text.length, count, count * (needle.size() / Unit), replacement.length,
                      std::max(kept_max, PyUnicode_MAX_CHAR_VALUE(replacement_obj)))) {
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
  fastpaths::UnitFinder<Unit> finder(needle);
  std::size_t copied = 0;  // first byte not yet copied
  (void)fastpaths::find_literal_occurrences(finder, bytes, 0, bytes.size(), [&](std::size_t h) {
    out.append_units(text.data + copied, Unit, (h - copied) / Unit);
    out.append_units(replacement_units, out.kind(), replacement.length);
    copied = h + needle.size();
  });
  out.append_units(text.data + copied, Unit, (bytes.size() - copied) / Unit);
  return out.finish();
}

// Every occurrence replaced, read and written in the strs' own units whether or not a UTF-8 form is at hand:
// the result is a str of code points in any case, so no UTF-8 bytes are made or decoded (a text the unit search
// gives up on aside, which is transformed in UTF-8). Nothing replaced (the empty literal, which only matches
// with zero length, or no occurrence) gives a new str equal to `s`.
PyObject* literal_transform_string(PyObject* self, const Element& element, PyObject* s, std::string_view,
                                   PyObject* replacement_obj, std::string_view replacement) {
  const std::string_view literal = as_literal(element).text();
  if (literal.empty()) return new_str_copy(s);
  PyObject* cached_text = literal_object(self).cached_text.get();
  const py::StrUnits text = py::str_units(s);
  std::vector<std::uint32_t> storage;
  std::string_view needle;
  if (!literal_units(cached_text, text.kind, storage, needle)) return new_str_copy(s);
  return by_kind(text.kind, [&](auto unit) {
    return transform_in_units<unit()>(s, text, needle, PyUnicode_MAX_CHAR_VALUE(cached_text), replacement_obj, literal,
                                      replacement);
  });
}

}  // namespace

const MethodBodies LITERAL_BODIES = {literal_parse_string,      literal_matches,
                                     literal_search_string,     literal_search_string_count,
                                     literal_parse_batch,       literal_parse_batch_count,
                                     literal_transform_string,
                                     method_bit(Method::SearchString) | method_bit(Method::SearchStringCount) |
                                         method_bit(Method::TransformString)};

}  // namespace quillex::engine
