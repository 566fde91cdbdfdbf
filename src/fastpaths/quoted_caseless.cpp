// Methods of QuotedString, CaselessLiteral and CaselessKeyword: matches and search_string_count apply the
// element's rule in place (quoted_caseless.h); parse_string and the batch methods are the common routines with
// the element's operations, and so are search_string and transform_string over a UTF-8 view. A non-ASCII str
// whose UTF-8 form is not at hand is counted, searched and transformed in its own units instead.
#include "fastpaths/quoted_caseless.h"

#include <vector>

#include "engine/bodies.h"
#include "engine/unit_results.h"
#include "py/errors.h"
#include "py/str_units.h"

namespace quillex::engine {

namespace {

using fastpaths::caseless_keyword_matches;
using fastpaths::caseless_literal_matches;
using fastpaths::count_caseless_keyword;
using fastpaths::count_caseless_literal;
using fastpaths::count_quoted_strings;
using fastpaths::quoted_string_matches;

const QuotedStringElement& as_quoted(const Element& e) noexcept { return static_cast<const QuotedStringElement&>(e); }
const CaselessLiteralElement& as_caseless_literal(const Element& e) noexcept {
  return static_cast<const CaselessLiteralElement&>(e);
}
const CaselessKeywordElement& as_caseless_keyword(const Element& e) noexcept {
  return static_cast<const CaselessKeywordElement&>(e);
}

// ---------------------------------------------------------------------------------------------------------------
// The matches over a str's own units, as a scan(on_span) -> true (engine/unit_results.h) handed to `body`, which
// is compiled once per unit size.

// CaselessLiteral and CaselessKeyword, non-empty: a folded text wider than the str's kind stands nowhere in it.
template <class Body>
PyObject* with_caseless_unit_scan(std::string_view lower_utf8, bool keyword, const py::StrUnits& units, Body&& body) {
  std::vector<std::uint32_t> storage;
  std::string_view lower;
  const bool stands = py::utf8_as_units(lower_utf8, units.kind, storage, lower);
  return py::by_unit(units.kind, [&](auto unit) {
    using U = py::unit_t<unit()>;
    const auto* t = reinterpret_cast<const U*>(units.data);
    const auto* l = reinterpret_cast<const U*>(lower.data());
    return body([&](auto&& on_span) {
      if (stands) fastpaths::for_each_unit_caseless_match(l, lower.size() / unit(), keyword, t, units.length, on_span);
      return true;
    });
  });
}

template <class Body>
PyObject* with_quoted_unit_scan(const QuotedStringElement& e, const py::StrUnits& units, Body&& body) {
  std::size_t at = 0;
  fastpaths::UnitQuotes quotes{py::next_code_point(e.quote(), at), std::nullopt, e.multiline()};
  if (e.has_escape()) {
    at = 0;
    quotes.escape = py::next_code_point(e.escape(), at);
  }
  return py::by_unit(units.kind, [&](auto unit) {
    const auto* t = reinterpret_cast<const py::unit_t<unit()>*>(units.data);
    return body([&](auto&& on_span) {
      fastpaths::for_each_unit_quoted_string(quotes, t, units.length, on_span);
      return true;
    });
  });
}

// The three methods over units from a class's with_*_unit_scan; `span_max` bounds the class of the code points
// a match can hold.
template <class WithScan>
PyObject* count_over_units(PyObject* s, WithScan&& with_scan) {
  return with_scan(py::str_units(s), [](auto&& scan) { return unit_count_of_scan(scan); });
}
template <class WithScan>
PyObject* search_over_units(PyObject* s, WithScan&& with_scan) {
  const py::StrUnits units = py::str_units(s);
  return with_scan(units, [&units](auto&& scan) { return unit_search_of_scan(units, scan); });
}
template <class WithScan>
PyObject* transform_over_units(PyObject* s, PyObject* replacement_obj, Py_UCS4 span_max, WithScan&& with_scan) {
  const py::StrUnits units = py::str_units(s);
  return with_scan(units, [&](auto&& scan) {
    return unit_transform_of_scan(s, units, replacement_obj, span_max, scan);
  });
}

// ---------------------------------------------------------------------------------------------------------------
// QuotedString

auto quoted_scan(const Element& e) {
  return [&e](const py::StrUnits& units, auto&& body) { return with_quoted_unit_scan(as_quoted(e), units, body); };
}

PyObject* quoted_matches(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return PyBool_FromLong(quoted_string_matches(as_quoted(e), text));
}
PyObject* quoted_count(PyObject*, const Element& e, PyObject* s, std::string_view text) {
  if (unviewed(text)) return count_over_units(s, quoted_scan(e));
  return py::new_count_or_die(count_quoted_strings(as_quoted(e), text));
}
PyObject* quoted_search(PyObject* self, const Element& e, PyObject* s, std::string_view text) {
  if (unviewed(text)) return search_over_units(s, quoted_scan(e));
  return common_search_string(self, e, s, text);
}
PyObject* quoted_transform(PyObject* self, const Element& e, PyObject* s, std::string_view text,
                           PyObject* replacement_obj, std::string_view replacement) {
  if (unviewed(text)) return transform_over_units(s, replacement_obj, 0x10FFFF, quoted_scan(e));
  return common_transform_string(self, e, s, text, replacement_obj, replacement);
}

// ---------------------------------------------------------------------------------------------------------------
// CaselessLiteral and CaselessKeyword. Their empty texts match only with zero length: at every UTF-8 byte
// position (CaselessLiteral), or at every one whose byte is not an identifier byte (CaselessKeyword), which
// search_string leaves out and transform_string leaves as they are.

auto caseless_scan(std::string_view lower, bool keyword) {
  return [lower, keyword](const py::StrUnits& units, auto&& body) {
    return with_caseless_unit_scan(lower, keyword, units, body);
  };
}

PyObject* caseless_literal_matches_body(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return PyBool_FromLong(caseless_literal_matches(as_caseless_literal(e), text));
}
PyObject* caseless_literal_count(PyObject*, const Element& e, PyObject* s, std::string_view text) {
  const std::string_view lower = as_caseless_literal(e).lower();
  if (!unviewed(text)) return py::new_count_or_die(count_caseless_literal(as_caseless_literal(e), text));
  if (lower.empty()) return py::new_count_or_die(py::utf8_length(py::str_units(s)));
  return count_over_units(s, caseless_scan(lower, false));
}
PyObject* caseless_literal_search(PyObject* self, const Element& e, PyObject* s, std::string_view text) {
  const std::string_view lower = as_caseless_literal(e).lower();
  if (!unviewed(text)) return common_search_string(self, e, s, text);
  if (lower.empty()) return py::new_empty_list_or_die();
  return search_over_units(s, caseless_scan(lower, false));
}
PyObject* caseless_literal_transform(PyObject* self, const Element& e, PyObject* s, std::string_view text,
                                     PyObject* replacement_obj, std::string_view replacement) {
  const std::string_view lower = as_caseless_literal(e).lower();
  if (!unviewed(text)) return common_transform_string(self, e, s, text, replacement_obj, replacement);
  if (lower.empty()) return new_str_copy(s);
  return transform_over_units(s, replacement_obj, py::utf8_max_class(lower), caseless_scan(lower, false));
}

PyObject* caseless_keyword_matches_body(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return PyBool_FromLong(caseless_keyword_matches(as_caseless_keyword(e), text));
}
PyObject* caseless_keyword_count(PyObject*, const Element& e, PyObject* s, std::string_view text) {
  const std::string_view lower = as_caseless_keyword(e).lower();
  if (!unviewed(text)) return py::new_count_or_die(count_caseless_keyword(as_caseless_keyword(e), text));
  if (lower.empty()) {
    const py::StrUnits units = py::str_units(s);
    return py::new_count_or_die(py::utf8_length(units) - count_ident_units(units));
  }
  return count_over_units(s, caseless_scan(lower, true));
}
PyObject* caseless_keyword_search(PyObject* self, const Element& e, PyObject* s, std::string_view text) {
  const std::string_view lower = as_caseless_keyword(e).lower();
  if (!unviewed(text)) return common_search_string(self, e, s, text);
  if (lower.empty()) return py::new_empty_list_or_die();
  return search_over_units(s, caseless_scan(lower, true));
}
PyObject* caseless_keyword_transform(PyObject* self, const Element& e, PyObject* s, std::string_view text,
                                     PyObject* replacement_obj, std::string_view replacement) {
  const std::string_view lower = as_caseless_keyword(e).lower();
  if (!unviewed(text)) return common_transform_string(self, e, s, text, replacement_obj, replacement);
  if (lower.empty()) return new_str_copy(s);
  return transform_over_units(s, replacement_obj, py::utf8_max_class(lower), caseless_scan(lower, true));
}

constexpr MethodBodies bodies(TextBody matches, TextBody search, TextBody count, TransformBody transform) {
  return {common_parse_string,
          matches,
          search,
          count,
          common_parse_batch,
          common_parse_batch_count,
          transform,
          method_bit(Method::SearchString) | method_bit(Method::SearchStringCount) |
              method_bit(Method::TransformString)};
}

}  // namespace

const MethodBodies QUOTED_STRING_BODIES = bodies(quoted_matches, quoted_search, quoted_count, quoted_transform);
const MethodBodies CASELESS_LITERAL_BODIES =
    bodies(caseless_literal_matches_body, caseless_literal_search, caseless_literal_count, caseless_literal_transform);
const MethodBodies CASELESS_KEYWORD_BODIES =
    bodies(caseless_keyword_matches_body, caseless_keyword_search, caseless_keyword_count, caseless_keyword_transform);

}  // namespace quillex::engine
