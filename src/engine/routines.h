// The common method routines: every class's methods that have no body of their own run the receiver's element
// through these. Each takes borrowed arguments and gives a new reference, or nullptr with an exception set.
#pragma once

#include <string_view>

#include "elements/element.h"
#include "engine/token_intern.h"
#include "py/errors.h"
#include "py/pyref.h"

namespace quillex::engine {

// parse_string: the element's parse_at_start; a list of the token strs, or ValueError
// "ParseException at position {}: {}".
[[nodiscard]] PyObject* run_parse_string(const Element& element, std::string_view text);
// search_string: the scan rule over try_match_at; a list of the non-empty matched slices.
[[nodiscard]] PyObject* run_search_string(const Element& element, std::string_view text);

// search_string's list over the matches that `scan(on_match)` reports in text order: the non-empty matched
// slices, equal slices sharing one str. The spans are gathered before any Python object is made, and a scan
// that the recursion bound stopped makes no list (see scan_matches).
template <class Scan>
[[nodiscard]] PyObject* search_list_of_scan(std::string_view text, Scan&& scan) {
  TokenSpans spans;
  scan([&spans](Pos start, Pos end) {
    if (end > start) spans.push(start, end);
  });
  if (recursion_overflowed()) return nullptr;
  if (spans.empty()) return py::new_empty_list_or_die();
  return interned_list_of_spans(text, spans);
}

// transform_string: the non-empty matches replaced by `replacement`, always a new str. `s` is the str object
// `text` views, `replacement_obj` the str `replacement` views.
[[nodiscard]] PyObject* run_transform_string(const Element& element, PyObject* s, std::string_view text,
                                             PyObject* replacement_obj, std::string_view replacement);
// matches and search_string_count of the classes without a specialised body: try_match_at at 0 (a bool), and
// the count of the scan rule (zero-length matches counted). They build no tokens.
[[nodiscard]] PyObject* run_matches(const Element& element, std::string_view text);
[[nodiscard]] PyObject* run_search_string_count(const Element& element, std::string_view text);
// parse_batch / parse_batch_count over a list of str (borrowed, already checked to be a list).
[[nodiscard]] PyObject* run_parse_batch(const Element& element, PyObject* inputs);
[[nodiscard]] PyObject* run_parse_batch_count(const Element& element, PyObject* inputs);
// parse_batch_count of Group, Combine and Suppress: counted with the inner element's try_match_at.
[[nodiscard]] PyObject* run_parse_batch_count_inner(const Element& inner, PyObject* inputs);

}  // namespace quillex::engine
