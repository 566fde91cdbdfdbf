// The seven methods of Literal. None calls an operation of the element: the tests at 0 apply the literal rule
// (LiteralElement::matches_at) in place, and the searches run the substring searcher over the text. The token
// of a match is the object's cached str itself, so no str is made but transform_string's result.
#include "fastpaths/literal.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "classes.h"
#include "elements/literals.h"
#include "engine/batch.h"
#include "engine/bodies.h"
#include "engine/transform_result.h"
#include "engine/unit_results.h"
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

// count_literal_matches of the text's UTF-8 bytes, or, for a str handed over unviewed, of its own units: a
// literal's occurrences among code points and among UTF-8 bytes are the same occurrences (UTF-8 maps each code
// point to its own bytes, and no character's bytes start inside another's), so the counts are equal. The empty
// literal's count is the UTF-8 length. A unit search that gave up counts the UTF-8 form, made then. false with
// the interpreter's error when that form cannot be made.
bool literal_count(const Element& element, PyObject* s, std::string_view text, std::uint64_t& count) {
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
  if (!py::utf8_as_units(literal, units.kind, storage, needle)) {
    count = 0;
    return true;
  }
  const std::optional<std::uint64_t> in_units = py::by_unit(units.kind, [&](auto unit) -> std::optional<std::uint64_t> {
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
  if (!literal_count(element, s, text, count)) return nullptr;
  return fastpaths::repeated_token_list(literal_object(self).cached_text.get(), count);
}

PyObject* literal_search_string_count(PyObject*, const Element& element, PyObject* s, std::string_view text) {
  std::uint64_t count = 0;
  if (!literal_count(element, s, text, count)) return nullptr;
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

// transform_string over the text's own units (Unit bytes each), `needle` being the literal in such units and
// `literal_max` the class of its widest code point: the occurrences tallied, then written once into the result
// (engine/unit_results.h). Both passes make the same finder calls, so the writing pass meets exactly the
// occurrences the tally met, and a tally that gave up (straddling occurrences, see UnitFinder) hands the
// transform to the UTF-8 form, `literal` and `replacement_text` being the UTF-8 views.
template <std::size_t Unit>
PyObject* transform_in_units(PyObject* s, const py::StrUnits& text, std::string_view needle, Py_UCS4 literal_max,
                             PyObject* replacement_obj, std::string_view literal, std::string_view replacement_text) {
  const std::string_view bytes = text.as_bytes();
  const std::size_t m = needle.size() / Unit;
  const auto scan = [&](auto&& on_span) {
    fastpaths::UnitFinder<Unit> finder(needle);
    (void)fastpaths::find_literal_occurrences(finder, bytes, 0, bytes.size(),
                                              [&](std::size_t h) { on_span(h / Unit, h / Unit + m); });
    return !finder.gave_up();
  };
  const Py_UCS4 text_max = PyUnicode_MAX_CHAR_VALUE(s);
  UnitSpanTally tally;
  if (Unit == 1 && (literal_max < text_max || text_max == 0x7F)) {
    // Latin-1 units with nothing to read in the gaps: the count alone, by count_literal_matches' shortcuts.
    tally.count = count_literal_matches(needle, bytes);
    tally.removed = tally.count * m;
    tally.kept_max = text_max;
  } else if (!tally_unit_spans(text, text_max, literal_max, scan, tally)) {
    return transform_utf8(s, literal, replacement_obj, replacement_text);
  }
  return write_unit_transform(s, text, replacement_obj, tally, scan);
}

// Every occurrence replaced, read and written in the strs' own units whether or not a UTF-8 form is at hand:
// the result is a str of code points in any case, so no UTF-8 bytes are made or decoded (a text the unit search
// gives up on aside, which is transformed in UTF-8). Nothing replaced (the empty literal, which only matches
// with zero length, or no occurrence) gives a new str equal to `s`.
PyObject* literal_transform_string(PyObject* self, const Element& element, PyObject* s, std::string_view,
                                   PyObject* replacement_obj, std::string_view replacement) {
  const std::string_view literal = as_literal(element).text();
  if (literal.empty()) return new_str_copy(s);
  const py::StrUnits text = py::str_units(s);
  std::vector<std::uint32_t> storage;
  std::string_view needle;
  if (!py::utf8_as_units(literal, text.kind, storage, needle)) return new_str_copy(s);
  const Py_UCS4 literal_max = PyUnicode_MAX_CHAR_VALUE(literal_object(self).cached_text.get());
  return py::by_unit(text.kind, [&](auto unit) {
    return transform_in_units<unit()>(s, text, needle, literal_max, replacement_obj, literal, replacement);
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
