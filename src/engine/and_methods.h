// The methods of And and their token rule, the slice walk.
#pragma once

#include <string_view>

#include "elements/structure.h"
#include "py/pyref.h"

namespace quillex::engine {

// and_slice_walk: the token rule of every And method that returns tokens. The children are tested in turn with
// try_match_at, each from where the one before ended; a child that consumed text contributes exactly the bytes
// it consumed, `on_slice(start, end)` with start < end, and a child that consumed nothing contributes nothing.
// The children's own token rules play no part: a Suppress child's text is a slice, a repetition's iterations are
// one slice, a caseless child gives the text's own bytes. The slices are adjacent, the first starting at `start`
// and the last ending at `end`; at most one per child. False when a child fails (the rest are not tried).
template <class OnSlice>
[[nodiscard]] inline bool and_slice_walk(const AndElement& element, std::string_view text, Pos start, Pos& end,
                                         OnSlice&& on_slice) {
  Pos p = start;
  for (const ElementRef& child : element.children()) {
    const MatchResult m = child->try_match_at(text, p);
    if (!m.matched) return false;
    if (m.end > p) on_slice(p, m.end);
    p = m.end;
  }
  end = p;
  return true;
}

// Bodies of the And class-method table (the element is an AndElement).
PyObject* and_parse_string(PyObject* self, const Element& element, PyObject* s, std::string_view text);
PyObject* and_search_string(PyObject* self, const Element& element, PyObject* s, std::string_view text);
PyObject* and_parse_batch(PyObject* self, const Element& element, PyObject* inputs);
PyObject* and_parse_batch_count(PyObject* self, const Element& element, PyObject* inputs);

}  // namespace quillex::engine
