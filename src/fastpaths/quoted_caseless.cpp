// Methods of QuotedString, CaselessLiteral and CaselessKeyword: matches and search_string_count apply the
// element's rule in place (quoted_caseless.h); the other five methods are the common routines with the
// element's operations.
#include "fastpaths/quoted_caseless.h"

#include "engine/bodies.h"
#include "py/errors.h"

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

PyObject* quoted_matches(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return PyBool_FromLong(quoted_string_matches(as_quoted(e), text));
}
PyObject* quoted_count(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return py::new_count_or_die(count_quoted_strings(as_quoted(e), text));
}
PyObject* caseless_literal_matches_body(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return PyBool_FromLong(caseless_literal_matches(as_caseless_literal(e), text));
}
PyObject* caseless_literal_count(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return py::new_count_or_die(count_caseless_literal(as_caseless_literal(e), text));
}
PyObject* caseless_keyword_matches_body(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return PyBool_FromLong(caseless_keyword_matches(as_caseless_keyword(e), text));
}
PyObject* caseless_keyword_count(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return py::new_count_or_die(count_caseless_keyword(as_caseless_keyword(e), text));
}

constexpr MethodBodies bodies(TextBody matches, TextBody count) {
  return {common_parse_string, matches,          common_search_string,   count,
          common_parse_batch,  common_parse_batch_count, common_transform_string};
}

}  // namespace

const MethodBodies QUOTED_STRING_BODIES = bodies(quoted_matches, quoted_count);
const MethodBodies CASELESS_LITERAL_BODIES = bodies(caseless_literal_matches_body, caseless_literal_count);
const MethodBodies CASELESS_KEYWORD_BODIES = bodies(caseless_keyword_matches_body, caseless_keyword_count);

}  // namespace quillex::engine
