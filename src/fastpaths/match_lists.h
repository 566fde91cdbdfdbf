// Result lists shared by the Keyword and Literal methods. Their token is always the object's own cached str
// (the very object the constructor stored), so a successful match makes no str. Several results hand out one
// list object many times: a caller that changes one such list changes every item that holds it.
#pragma once

#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>

#include "engine/batch.h"
#include "py/errors.h"
#include "py/pyref.h"

namespace quillex::fastpaths {

// A new one-item list holding a new reference to `cached_text`, or nullptr with the interpreter's error.
[[nodiscard]] inline PyObject* new_cached_token_list(PyObject* cached_text) {
  PyObject* list = PyList_New(1);
  if (list == nullptr) return py::pending_error();
  PyList_SET_ITEM(list, 0, Py_NewRef(cached_text));
  return list;
}

// search_string of a fixed text with c occurrences (c is at most the text's length): c items that are one list
// [cached_text], made by one repetition of a one-item list of it, however large c is.
[[nodiscard]] inline PyObject* repeated_token_list(PyObject* cached_text, std::uint64_t c) {
  if (c == 0) return py::new_empty_list_or_die();
  py::PyRef inner = py::PyRef::steal(new_cached_token_list(cached_text));
  if (!inner) return nullptr;
  return engine::one_item_repeated(std::move(inner), static_cast<std::size_t>(c));
}

// MatchListPair: the two results that parse_batch hands out, for one call. `matched` is [cached_text],
// `failed` is []; every slot of the result holds one reference of its own to one of them, and the pair's own
// references go when the call ends.
struct MatchListPair {
  py::PyRef matched;
  py::PyRef failed;

  // false with the interpreter's error set when a list cannot be made.
  [[nodiscard]] bool make(PyObject* cached_text) {
    matched = py::PyRef::steal(new_cached_token_list(cached_text));
    if (!matched) return false;
    failed = py::PyRef::steal(PyList_New(0));
    if (failed) return true;
    (void)py::pending_error();
    return false;
  }
};

// parse_batch of a fixed text: item i is `matched` when input i passes `test` (a verdict on its text at 0),
// else `failed`. Empty: a new empty list. Uniform (one item included): one test, and a one-item list of the
// chosen list repeated. Otherwise a walk in list order in which an item that is the very object just before
// it takes that item's verdict (LastPointerCache); the references of the slots are raised in bulk at the end.
template <class Test>
[[nodiscard]] inline PyObject* parse_batch_match_lists(PyObject* inputs, PyObject* cached_text, Test&& test) {
  using py::PyRef;
  const engine::BatchItems b = engine::batch_items(inputs);
  if (b.n == 0) return py::new_empty_list_or_die();

  if (engine::detect_uniform_inputs(b.items, b.n)) {
    std::string_view text;
    if (!engine::batch_item_text(b.items[0], 0, text)) return nullptr;
    PyRef chosen = PyRef::steal(test(text) ? new_cached_token_list(cached_text) : PyList_New(0));
    if (!chosen) return py::pending_error();
    return engine::one_item_repeated(std::move(chosen), b.n);
  }

  MatchListPair pair;
  if (!pair.make(cached_text)) return nullptr;
  PyRef result = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(b.n)));
  if (!result) return py::pending_error();
  PyObject** slots = reinterpret_cast<PyListObject*>(result.get())->ob_item;
  PyObject* const matched = pair.matched.get();
  PyObject* const failed = pair.failed.get();
  // Slots take raw pointers; `taken` references are added to each list once the walk ends or stops. On a bad
  // item the filled prefix is counted in and the rest is null, which the list's release skips. Nothing in the
  // walk may throw: the result would be released with slots not yet counted.
  static_assert(std::is_nothrow_invocable_v<Test&, std::string_view>, "the verdict must not throw");
  Py_ssize_t matched_taken = 0;
  Py_ssize_t failed_taken = 0;
  engine::LastPointerCache<bool> last;
  bool ok = true;
  for (std::size_t i = 0; i < b.n; ++i) {
    PyObject* item = b.items[i];
    bool verdict;
    if (last.hit(item)) {
      verdict = last.value();
    } else {
      std::string_view text;
      if (!engine::batch_item_text(item, i, text)) {
        ok = false;
        break;
      }
      verdict = test(text);
      last.remember(item, verdict);
    }
    slots[i] = verdict ? matched : failed;
    ++(verdict ? matched_taken : failed_taken);
  }
  engine::bulk_incref(matched, matched_taken);
  engine::bulk_incref(failed, failed_taken);
  return ok ? result.release() : nullptr;
}

// parse_batch_count of a fixed text: an empty list gives 0, a uniform one (one item included) one test counted
// n times, any other `walk(items, test, count)`, the class's own step (engine/batch.h).
template <class Test, class Walk>
[[nodiscard]] inline PyObject* count_match_lists_batch(PyObject* inputs, Test test, Walk&& walk) {
  const engine::BatchItems b = engine::batch_items(inputs);
  std::uint64_t count = 0;
  if (b.n != 0) {
    const bool ok = engine::detect_uniform_inputs(b.items, b.n) ? engine::count_uniform(b, test, count)
                                                                : walk(b, test, count);
    if (!ok) return nullptr;
  }
  return py::new_count_or_die(count);
}

}  // namespace quillex::fastpaths
