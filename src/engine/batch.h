// The batch drivers shared by the common batch routines and the classes' own batch bodies: reading the items of
// a list, the reference-count helpers for repeated results, the counting steps and the result-sharing steps.
//
// Items are read straight from the list's item array, without references: no Python code runs while a batch
// body works (element operations call none, and the interpreter lock is held), so the list cannot change. Its
// length is read once.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>

#include "elements/element.h"
#include "engine/identity.h"
#include "py/binder.h"
#include "py/errors.h"
#include "py/pyref.h"

namespace quillex::engine {

struct BatchItems {
  PyObject* const* items;  // borrowed from the list
  std::size_t n;
};

// `inputs` is a list or a subclass of list.
inline BatchItems batch_items(PyObject* inputs) noexcept {
  return {reinterpret_cast<PyListObject*>(inputs)->ob_item, static_cast<std::size_t>(PyList_GET_SIZE(inputs))};
}

// The UTF-8 view of batch item `index`, or false with the item's error raised (py::extract_batch_item). Every
// path that evaluates an item reads it through here, and a shortcut settles an item only by identity with one
// read earlier in list order, so every path reports the first bad item in list order, as a plain loop would.
[[nodiscard]] inline bool batch_item_text(PyObject* item, std::size_t index, std::string_view& text) {
  return py::extract_batch_item(item, static_cast<Py_ssize_t>(index), text);
}

// True when `item` is held by its list slot alone, so that it occurs nowhere else in the list: it needs no
// identity table, neither to be looked up (no earlier slot held it) nor to be entered (no later slot will).
// Sound because every list slot owns one counted reference to its item, so an object in k slots has a count
// of at least k, and because the count of an item not yet read cannot rise while a body works: the interpreter
// lock is held, the collector is paused around every batch body (CollectorPause), no element operation runs
// Python code, and a body takes references only to items it has already read (a token that is its input). A
// str subclass instance is no exception: anything else that refers to it (its `__dict__`, a cycle through it)
// holds a counted reference too, which sends it down the identity path. Items with a count above 1 (repeated,
// or also held elsewhere) take that path as before, so every route gives the same answers, token objects and
// counts.
[[nodiscard]] inline bool held_by_slot_alone(PyObject* item) noexcept { return Py_REFCNT(item) == 1; }

// Raises `object`'s reference count by k in one plain addition (interpreter lock held), for an object stored
// into k more slots by raw copies.
inline void bulk_incref(PyObject* object, Py_ssize_t k) noexcept { Py_SET_REFCNT(object, Py_REFCNT(object) + k); }

// Extends `list`'s filled slots [0, m) to [0, v) by block copies of the prefix (fill_slots_by_doubling); no
// count changes: the caller raises them with bulk_incref.
inline void fill_by_doubling(PyObject* list, std::size_t m, std::size_t v) noexcept {
  fill_slots_by_doubling(reinterpret_cast<PyListObject*>(list)->ob_item, m, v);
}

// ---------------------------------------------------------------------------------------------------------------
// Counting. `test(std::string_view text) -> bool` is the verdict of one item. Each step returns false with an
// exception set when an evaluated item has no text, or when matching overflowed the recursion bound (the scan
// stops there; RecursionError is raised).

[[nodiscard]] inline bool overflow_stop() {
  (void)py::raise_recursion_error();
  return false;
}

// Evaluates item `index` and adds 1 to `count` when it passes.
template <class Test>
[[nodiscard]] inline bool count_item(PyObject* item, std::size_t index, Test& test, std::uint64_t& count) {
  std::string_view text;
  if (!batch_item_text(item, index, text)) return false;
  const bool passed = test(text);
  if (recursion_overflowed()) return overflow_stop();
  count += passed ? 1 : 0;
  return true;
}

// Items [from, to), each evaluated, in order.
template <class Test>
[[nodiscard]] inline bool count_each(const BatchItems& b, std::size_t from, std::size_t to, Test& test,
                                     std::uint64_t& count) {
  for (std::size_t i = from; i < to; ++i) {
    if (!count_item(b.items[i], i, test, count)) return false;
  }
  return true;
}

// A list with input period h: items 0..h-1 evaluated once each and counted n / h times, then the items of the
// incomplete last period evaluated on their own.
template <class Test>
[[nodiscard]] inline bool count_periodic(const BatchItems& b, std::size_t h, Test& test, std::uint64_t& count) {
  std::uint64_t c = 0;
  if (!count_each(b, 0, h, test, c)) return false;
  const std::size_t t = b.n / h;
  count += c * t;
  return count_each(b, t * h, b.n, test, count);
}

// Every item in order through a PointerVerdictCache: the first 31 distinct objects that may repeat are
// evaluated once, any further one at each occurrence. An item held by its slot alone is evaluated without a
// probe: it cannot be in the cache, and storing it would only take a slot from an object that can repeat
// (once the cache is full, a probe reads all 32 slots).
template <class Test>
[[nodiscard]] inline bool count_with_verdict_cache(const BatchItems& b, Test& test, std::uint64_t& count) {
  PointerVerdictCache cache;
  for (std::size_t i = 0; i < b.n; ++i) {
    PyObject* item = b.items[i];
    if (held_by_slot_alone(item)) {
      if (!count_item(item, i, test, count)) return false;
      continue;
    }
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(item));
    const PointerVerdictCache::Lookup found = cache.lookup(address);
    if (found.verdict != 0) {
      count += found.verdict == PointerVerdictCache::MATCHED ? 1 : 0;
      continue;
    }
    std::uint64_t c = 0;
    if (!count_item(item, i, test, c)) return false;
    count += c;
    cache.insert(found, address, c != 0);
  }
  return true;
}

// Every item in order, an item that is the very object just before it counting as that item did
// (LastPointerCache): a run of one object is evaluated once.
template <class Test>
[[nodiscard]] inline bool count_with_last_verdict(const BatchItems& b, Test& test, std::uint64_t& count) {
  LastPointerCache<bool> last;
  for (std::size_t i = 0; i < b.n; ++i) {
    PyObject* item = b.items[i];
    if (!last.hit(item)) {
      std::uint64_t c = 0;
      if (!count_item(item, i, test, c)) return false;
      last.remember(item, c != 0);
    }
    count += last.value() ? 1 : 0;
  }
  return true;
}

// A uniform list (n >= 1): one evaluation counted n times.
template <class Test>
[[nodiscard]] inline bool count_uniform(const BatchItems& b, Test& test, std::uint64_t& count) {
  std::uint64_t c = 0;
  if (!count_item(b.items[0], 0, test, c)) return false;
  count += c != 0 ? b.n : 0;
  return true;
}

// The common count: an empty list gives 0 with nothing evaluated; a uniform list (n == 1 included) one
// evaluation; a list with an input period h evaluations plus the tail; any other the verdict cache.
template <class Test>
[[nodiscard]] inline bool count_batch_matches(PyObject* inputs, Test&& test, std::uint64_t& count) {
  count = 0;
  const BatchItems b = batch_items(inputs);
  if (b.n == 0) return true;
  if (detect_uniform_inputs(b.items, b.n)) return count_uniform(b, test, count);
  if (const std::size_t h = detect_input_period(b.items, b.n)) return count_periodic(b, h, test, count);
  return count_with_verdict_cache(b, test, count);
}

// count_batch_matches as a method result: a new int, or nullptr with the exception set.
template <class Test>
[[nodiscard]] inline PyObject* run_count_batch(PyObject* inputs, Test&& test) {
  std::uint64_t count = 0;
  if (!count_batch_matches(inputs, test, count)) return nullptr;
  return py::new_count_or_die(count);
}

// ---------------------------------------------------------------------------------------------------------------
// Result sharing. `make(std::string_view text) -> PyObject*` gives a new reference to one item's result, or
// nullptr with an exception set. Which slots share one result object:
//   empty list: a new empty list, nothing evaluated;
//   uniform (n == 1 included): one result in every slot (a one-slot list repeated by PySequence_Repeat);
//   input period h: h results, slot i holding result i % h (the h-slot list repeated when h divides n, else
//     filled by doubling with the tail stored after it and the counts raised in bulk);
//   otherwise: a run of consecutive slots whose items are one object shares one result (LastPointerCache);
//     every other slot gets its own, also for an object seen earlier but not just before.
// A failed creation (of the result list, a repetition, or `make`) releases everything made and returns nullptr
// with the interpreter's exception.

// A new list of n slots that all hold `item` (n >= 1): a one-slot list of it, repeated by PySequence_Repeat
// when n > 1. Takes over the reference `item`; nullptr with the interpreter's error when a list cannot be made.
[[nodiscard]] inline PyObject* one_item_repeated(py::PyRef item, std::size_t n) {
  py::PyRef one = py::PyRef::steal(PyList_New(1));
  if (!one) return py::pending_error();
  PyList_SET_ITEM(one.get(), 0, item.release());
  if (n == 1) return one.release();
  PyObject* repeated = PySequence_Repeat(one.get(), static_cast<Py_ssize_t>(n));
  return repeated != nullptr ? repeated : py::pending_error();
}

// The result of item `index`, or nullptr with an exception set (no text, make failed, recursion overflow).
template <class Make>
[[nodiscard]] inline PyObject* make_item_result(PyObject* item, std::size_t index, Make& make) {
  std::string_view text;
  if (!batch_item_text(item, index, text)) return nullptr;
  py::PyRef r = py::PyRef::steal(make(text));
  if (recursion_overflowed()) return py::raise_recursion_error();
  if (!r) return py::pending_error();
  return r.release();
}

// The uniform step (n == 1 included): item 0's result in every one of the n slots, through a one-slot list
// repeated by PySequence_Repeat when n > 1, so that the result's only references are the n slots.
template <class Make>
[[nodiscard]] inline PyObject* uniform_batch_result(const BatchItems& b, Make& make) {
  py::PyRef r = py::PyRef::steal(make_item_result(b.items[0], 0, make));
  if (!r) return nullptr;
  return one_item_repeated(std::move(r), b.n);
}

// The results of a list of n items with input period h, from the h results of the first period and the
// n % h results of the tail, in the caller's owning holders (each reference passes to the result, or stays with
// its holder when the assembly fails). With v = n - n % h, slot j < v holds
// period[j % h] and slot v + i holds tail[i]. A whole number of periods is the h-slot list repeated; otherwise
// the prefix is filled by doubling, the tail stored after it and each period result's count raised once
// (bulk_incref).
[[nodiscard]] inline PyObject* assemble_periodic_results(py::PyRef* period, std::size_t h, py::PyRef* tail,
                                                         std::size_t n) {
  using py::PyRef;
  const std::size_t t = n / h;
  const std::size_t v = t * h;
  const std::size_t w = n - v;
  if (w == 0) {
    PyRef block = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(h)));
    if (!block) return py::pending_error();
    for (std::size_t k = 0; k < h; ++k) PyList_SET_ITEM(block.get(), static_cast<Py_ssize_t>(k), period[k].release());
    PyObject* repeated = PySequence_Repeat(block.get(), static_cast<Py_ssize_t>(t));
    return repeated != nullptr ? repeated : py::pending_error();
  }
  PyRef result = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!result) return py::pending_error();
  PyObject** slots = reinterpret_cast<PyListObject*>(result.get())->ob_item;
  for (std::size_t k = 0; k < h; ++k) slots[k] = period[k].release();
  fill_by_doubling(result.get(), h, v);
  for (std::size_t i = 0; i < w; ++i) slots[v + i] = tail[i].release();
  if (t >= 2) {
    for (std::size_t k = 0; k < h; ++k) bulk_incref(slots[k], static_cast<Py_ssize_t>(t - 1));
  }
  return result.release();
}

template <class Make>
[[nodiscard]] inline PyObject* build_batch_results(PyObject* inputs, Make&& make) {
  using py::PyRef;
  const BatchItems b = batch_items(inputs);
  if (b.n == 0) return py::new_empty_list_or_die();

  if (detect_uniform_inputs(b.items, b.n)) return uniform_batch_result(b, make);

  if (const std::size_t h = detect_input_period(b.items, b.n)) {
    // The routine's references to results 0..h-1; the tail reuses them, slot v + i taking result i.
    std::array<PyRef, INPUT_PERIOD_WINDOW - 1> period;
    std::array<PyRef, INPUT_PERIOD_WINDOW - 1> tail;
    for (std::size_t k = 0; k < h; ++k) {
      period[k] = PyRef::steal(make_item_result(b.items[k], k, make));
      if (!period[k]) return nullptr;
    }
    for (std::size_t i = 0; i < b.n % h; ++i) tail[i] = PyRef::borrow(period[i].get());
    return assemble_periodic_results(period.data(), h, tail.data(), b.n);
  }

  PyRef result = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(b.n)));
  if (!result) return py::pending_error();
  PyObject** slots = reinterpret_cast<PyListObject*>(result.get())->ob_item;
  LastPointerCache<PyObject*> last;  // its value is owned by the slot that took it
  for (std::size_t i = 0; i < b.n; ++i) {
    PyObject* item = b.items[i];
    if (last.hit(item)) {
      slots[i] = Py_NewRef(last.value());
      continue;
    }
    PyObject* r = make_item_result(item, i, make);
    if (r == nullptr) return nullptr;  // the unfilled slots are null, which the list's release skips
    slots[i] = r;
    last.remember(item, r);
  }
  return result.release();
}

}  // namespace quillex::engine
