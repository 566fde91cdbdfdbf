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
// The matches over a str's own units, for the bodies of engine/unit_results.h.

// CaselessLiteral and CaselessKeyword: a folded text wider than the str's kind stands nowhere in it, and the
// empty one has only zero-length matches, which search_string leaves out and transform_string leaves as they are.
template <class CaselessElement, bool KEYWORD>
struct CaselessUnits {
  static PyObject* scan(const Element& e, const py::StrUnits& units, auto&& body) {
    std::vector<std::uint32_t> storage;
    std::string_view lower;
    const bool stands = py::utf8_as_units(as_element(e).lower(), units.kind, storage, lower) && !lower.empty();
    return py::by_unit(units.kind, [&](auto unit) {
      using U = py::unit_t<unit()>;
      const auto* t = reinterpret_cast<const U*>(units.data);
      const auto* l = reinterpret_cast<const U*>(lower.data());
      return body([&](auto&& on_span) {
        if (stands) {
          fastpaths::for_each_unit_caseless_match(l, lower.size() / unit(), KEYWORD, t, units.length, on_span);
        }
        return true;
      });
    });
  }
  static Py_UCS4 span_max(const Element& e) { return py::utf8_max_class(as_element(e).lower()); }
  static const CaselessElement& as_element(const Element& e) { return static_cast<const CaselessElement&>(e); }
};
using CaselessLiteralUnits = CaselessUnits<CaselessLiteralElement, false>;
using CaselessKeywordUnits = CaselessUnits<CaselessKeywordElement, true>;

struct QuotedStringUnits {
  static PyObject* scan(const Element& e, const py::StrUnits& units, auto&& body) {
    const QuotedStringElement& q = as_quoted(e);
    std::size_t at = 0;
    fastpaths::UnitQuotes quotes{py::next_code_point(q.quote(), at), std::nullopt, q.multiline()};
    if (q.has_escape()) {
      at = 0;
      quotes.escape = py::next_code_point(q.escape(), at);
    }
    return py::by_unit(units.kind, [&](auto unit) {
      const auto* t = reinterpret_cast<const py::unit_t<unit()>*>(units.data);
      return body([&](auto&& on_span) {
        fastpaths::for_each_unit_quoted_string(quotes, t, units.length, on_span);
        return true;
      });
    });
  }
  static Py_UCS4 span_max(const Element&) { return 0x10FFFF; }
};

template <class Units>
PyObject* count_in_units(const Element& e, PyObject* s) {
  return unit_count(s, [&e](const py::StrUnits& units, auto&& body) { return Units::scan(e, units, body); });
}

// ---------------------------------------------------------------------------------------------------------------
// matches and search_string_count. The empty caseless texts match with zero length at every UTF-8 byte position
// (CaselessLiteral), or at every one whose byte is not an identifier byte (CaselessKeyword).

PyObject* quoted_matches(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return PyBool_FromLong(quoted_string_matches(as_quoted(e), text));
}
PyObject* quoted_count(PyObject*, const Element& e, PyObject* s, std::string_view text) {
  if (unviewed(text)) return count_in_units<QuotedStringUnits>(e, s);
  return py::new_count_or_die(count_quoted_strings(as_quoted(e), text));
}
PyObject* caseless_literal_matches_body(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return PyBool_FromLong(caseless_literal_matches(as_caseless_literal(e), text));
}
PyObject* caseless_literal_count(PyObject*, const Element& e, PyObject* s, std::string_view text) {
  if (!unviewed(text)) return py::new_count_or_die(count_caseless_literal(as_caseless_literal(e), text));
  if (as_caseless_literal(e).lower().empty()) return py::new_count_or_die(py::utf8_length(py::str_units(s)));
  return count_in_units<CaselessLiteralUnits>(e, s);
}
PyObject* caseless_keyword_matches_body(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return PyBool_FromLong(caseless_keyword_matches(as_caseless_keyword(e), text));
}
PyObject* caseless_keyword_count(PyObject*, const Element& e, PyObject* s, std::string_view text) {
  if (!unviewed(text)) return py::new_count_or_die(count_caseless_keyword(as_caseless_keyword(e), text));
  if (as_caseless_keyword(e).lower().empty()) {
    const py::StrUnits units = py::str_units(s);
    return py::new_count_or_die(py::utf8_length(units) - count_ident_units(units));
  }
  return count_in_units<CaselessKeywordUnits>(e, s);
}

template <class Units>
constexpr MethodBodies bodies(TextBody matches, TextBody count) {
  return {common_parse_string,
          matches,
          unit_search_body<Units>,
          count,
          common_parse_batch,
          common_parse_batch_count,
          unit_transform_body<Units>,
          method_bit(Method::SearchString) | method_bit(Method::SearchStringCount) |
              method_bit(Method::TransformString)};
}

}  // namespace

const MethodBodies QUOTED_STRING_BODIES = bodies<QuotedStringUnits>(quoted_matches, quoted_count);
const MethodBodies CASELESS_LITERAL_BODIES =
    bodies<CaselessLiteralUnits>(caseless_literal_matches_body, caseless_literal_count);
const MethodBodies CASELESS_KEYWORD_BODIES =
    bodies<CaselessKeywordUnits>(caseless_keyword_matches_body, caseless_keyword_count);

}  // namespace quillex::engine
