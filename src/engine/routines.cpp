#include "engine/routines.h"

#include <string>

#include "engine/grammar_scan.h"
#include "engine/transform_result.h"
#include "engine/tokens.h"
#include "py/collector.h"
#include "py/errors.h"

namespace quillex::engine {

// A match that hit the recursion bound fails, and the scans stop at once (scan_matches); the method frame then
// raises RecursionError in place of the result. A routine that makes a list returns before making it instead.

using py::PyRef;

namespace {

// A new list of n new strs, the i-th made from text_at(i), created at its final length; see new_token_list.
template <class TextAt>
PyObject* new_str_list(std::size_t n, TextAt&& text_at) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) return py::pending_error();
  for (std::size_t i = 0; i < n; ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), py::new_str_or_throw(text_at(i)));
  }
  return list.release();
}

}  // namespace

PyObject* new_token_list(const TokenList& tokens) {
  return new_str_list(tokens.size(), [&tokens](std::size_t i) { return tokens[i]->view(); });
}

PyObject* new_token_list(const TokenBuffer& tokens) {
  py::CollectorPause pause;
  return new_str_list(tokens.size(), [&tokens](std::size_t i) { return tokens[i]; });
}

// The element's parse at 0 on the parse path, which gives what its parse_at_start gives. The failure's message
// is copied into the error text before anything of Python is made.
PyObject* run_parse_string(const Element& element, std::string_view text) {
  TokenBuffer tokens;
  const MatchResult m = element.parse_into(text, 0, tokens);
  if (recursion_overflowed()) return nullptr;  // the frame raises RecursionError; no object is made first
  if (m.matched) return new_token_list(tokens);
  std::string formatted = "ParseException at position " + std::to_string(tokens.error_position()) + ": ";
  formatted.append(tokens.error_message());
  return py::raise_value_error(formatted);
}

PyObject* run_search_string(const Element& element, std::string_view text) {
  return search_list_of_scan(text, [&](auto&& on_match) { scan_grammar_matches(element, text, on_match); });
}

PyObject* run_transform_string(const Element& element, PyObject* s, std::string_view text, PyObject* replacement_obj,
                               std::string_view replacement) {
  GrammarScanner scanner(element);
  return transform_by_one_scan(s, text, replacement_obj, replacement, [&](auto&& on_span, Pos from) {
    scanner.run(
        text,
        [&](Pos start, Pos end) {
          if (end > start) on_span(start, end);  // zero-length matches leave their bytes as they are
        },
        from);
    return !recursion_overflowed();
  });
}

PyObject* run_matches(const Element& element, std::string_view text) {
  const bool matched = element.try_match_at(text, 0).matched;
  return Py_NewRef(matched ? Py_True : Py_False);
}

PyObject* run_search_string_count(const Element& element, std::string_view text) {
  std::uint64_t count = 0;
  scan_grammar_matches(element, text, [&count](Pos, Pos) { ++count; });
  return py::new_count_or_die(count);
}

}  // namespace quillex::engine
