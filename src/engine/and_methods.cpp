#include "engine/and_methods.h"

#include <vector>

#include "absl/container/inlined_vector.h"
#include "engine/batch.h"
#include "engine/scan.h"
#include "engine/token_intern.h"
#include "py/errors.h"

namespace quillex::engine {

using py::PyRef;

namespace {

const AndElement& as_and(const Element& element) { return static_cast<const AndElement&>(element); }

// Moves `strs` into a new list of their number; nullptr with the interpreter's exception when the list cannot be
// made (the strs are then released with the buffer).
template <class Buffer>
PyObject* move_into_list(Buffer& strs) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(strs.size()));
  if (list == nullptr) return py::pending_error();
  for (std::size_t i = 0; i < strs.size(); ++i) PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), strs[i].release());
  return list;
}

}  // namespace

// One str per slice, made as soon as its child has matched; the buffer is reserved for one entry per child, the
// most a walk can give, so it never grows. Equal slices give separate strs.
PyObject* and_parse_string(PyObject*, const Element& element, PyObject*, std::string_view text) {
  const AndElement& e = as_and(element);
  absl::InlinedVector<PyRef, 8> strs;
  strs.reserve(e.children().size());
  Pos end = 0;
  const bool matched = and_slice_walk(e, text, 0, end, [&](Pos from, Pos to) {
    strs.push_back(PyRef::steal(py::new_str_or_die(text.substr(from, to - from))));
  });
  if (!matched) return py::raise_value_error("Expected match");
  return move_into_list(strs);
}

// The scan tests each position without recording; only where the whole sequence matched is the walk run again
// to cut the slices, so a failing position makes no str. The result is flat (the slices of every match in text
// order) and equal texts share one str across the whole result.
PyObject* and_search_string(PyObject*, const Element& element, PyObject*, std::string_view text) {
  if (text.empty()) return py::new_empty_list_or_die();
  const AndElement& e = as_and(element);
  std::vector<PyRef> strs;
  strs.reserve(64);
  TokenInternMap interned;
  scan_matches(
      text, [&e](std::string_view t, Pos pos) { return e.try_match_at(t, pos); },
      [&](Pos start, Pos) {
        Pos end = 0;
        (void)and_slice_walk(e, text, start, end, [&](Pos from, Pos to) {
          strs.push_back(PyRef::steal(interned.get_or_create(text.substr(from, to - from))));
        });
      });
  if (strs.empty()) return py::new_empty_list_or_die();
  return move_into_list(strs);
}

// No uniform step: a list of one object n >= 2 times has input period 1 and is tested once; a single item goes
// through the verdict cache.
PyObject* and_parse_batch_count(PyObject*, const Element& element, PyObject* inputs) {
  const AndElement& e = as_and(element);
  auto test = [&e](std::string_view text) { return e.try_match_at(text, 0).matched; };
  const BatchItems b = batch_items(inputs);
  std::uint64_t count = 0;
  if (b.n == 0) return py::new_count_or_die(0);
  const std::size_t h = b.n >= 2 ? detect_input_period(b.items, b.n) : 0;
  const bool ok = h != 0 ? count_periodic(b, h, test, count) : count_with_verdict_cache(b, test, count);
  if (!ok) return nullptr;
  return py::new_count_or_die(count);
}

}  // namespace quillex::engine
