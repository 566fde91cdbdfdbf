#include "engine/routines.h"

#include <string>

#include "engine/scan.h"
#include "engine/transform_result.h"
#include "engine/tokens.h"
#include "py/errors.h"

namespace quillex::engine {

// A match that hit the recursion bound fails, and the scans stop at once (scan_matches); the method frame then
// raises RecursionError in place of the result. A routine that makes a list returns before making it instead.

using py::PyRef;

PyObject* new_token_list(const TokenList& tokens) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(tokens.size())));
  if (!list) return py::pending_error();
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), py::new_str_or_throw(tokens[i]->view()));
  }
  return list.release();
}

PyObject* run_parse_string(const Element& element, std::string_view text) {
  const StartOutcome outcome = element.parse_at_start(text);
  if (outcome.ok) return new_token_list(outcome.tokens);
  const std::string_view message = outcome.error.message ? outcome.error.message->view() : std::string_view();
  std::string formatted = "ParseException at position " + std::to_string(outcome.error.position) + ": ";
  formatted.append(message);
  return py::raise_value_error(formatted);
}

PyObject* run_search_string(const Element& element, std::string_view text) {
  return search_list_of_scan(text, [&](auto&& on_match) { scan_element_matches(element, text, on_match); });
}

PyObject* run_transform_string(const Element& element, PyObject* s, std::string_view text, PyObject* replacement_obj,
                               std::string_view replacement) {
  // Two scans with the same matches: the first sizes the result, the second writes it, so the only block the
  // size of the text is the result itself.
  return transform_by_two_scans(s, text, replacement_obj, replacement, [&](auto&& on_span) {
    scan_element_matches(element, text, [&](Pos start, Pos end) {
      if (end > start) on_span(start, end);  // zero-length matches leave their bytes as they are
    });
    return !recursion_overflowed();
  });
}

PyObject* run_matches(const Element& element, std::string_view text) {
  const bool matched = element.try_match_at(text, 0).matched;
  return Py_NewRef(matched ? Py_True : Py_False);
}

PyObject* run_search_string_count(const Element& element, std::string_view text) {
  std::uint64_t count = 0;
  scan_element_matches(element, text, [&count](Pos, Pos) { ++count; });
  return py::new_count_or_die(count);
}

}  // namespace quillex::engine
