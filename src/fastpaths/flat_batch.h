// The flat batch parse of the terminal classes whose parse_batch gives one token per matching input (Regex;
// meant for Word too): one list holding, in input order, the token of every input that matches at position 0.
// An input without a match leaves no trace in it, so item k belongs to the k-th matching input.
//
// Each distinct input object is evaluated once, by identity (never by text):
//   n == 0: a new empty list;
//   n >= 2 with an input period h (detect_input_period; a uniform list is period 1): the first h inputs are
//     evaluated, each on its own, into a PeriodTokenTable; the result repeats their tokens n / h times (by
//     PySequence_Repeat, or by fill_by_doubling plus the tokens of the incomplete last period, with each
//     token's count raised once by its use count);
//   otherwise (n == 1 included): a PointerTokenMap from input address to its token or none.
// Every occurrence of one input object yields the same token object.
//
// `token(PyObject* item, std::string_view text) -> PyObject*` gives a new reference to the token of an input
// that matches, or nullptr when it does not; it cannot fail (token strs are made or the process stops) and
// cannot nest (no recursion guard is consulted). An item that is not a str raises the binder's item TypeError
// at its first evaluation, which is in list order on every path.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "engine/batch.h"
#include "engine/identity.h"
#include "py/errors.h"
#include "py/pyref.h"

namespace quillex::fastpaths {

// The token of a match that covers its whole input: the input object itself when it is an exact str, else a
// new str of its text (a subclass instance would carry its type and attributes into the result).
inline PyObject* whole_input_token(PyObject* item, std::string_view text) {
  return PyUnicode_CheckExact(item) ? Py_NewRef(item) : py::new_str_or_die(text);
}

// The first period's results. `tokens` holds the tokens made, in input order, one reference each; `index[k]`
// is the position in `tokens` of input k's token, or NO_TOKEN. h <= 127, so positions fit below 0xFF.
class PeriodTokenTable {
 public:
  static constexpr std::size_t CAPACITY = engine::INPUT_PERIOD_WINDOW - 1;
  static constexpr std::uint8_t NO_TOKEN = 0xFF;

  PeriodTokenTable() = default;
  PeriodTokenTable(const PeriodTokenTable&) = delete;
  PeriodTokenTable& operator=(const PeriodTokenTable&) = delete;
  ~PeriodTokenTable() {
    for (std::size_t t = 0; t < count_; ++t) Py_DECREF(tokens_[t]);
  }

  // Evaluates inputs 0..h-1 in order; false with the item's error set.
  template <class Token>
  [[nodiscard]] bool fill(const engine::BatchItems& b, std::size_t h, Token& token) {
    h_ = h;
    for (std::size_t k = 0; k < h; ++k) {
      std::string_view text;
      if (!engine::batch_item_text(b.items[k], k, text)) return false;
      PyObject* t = token(b.items[k], text);
      if (t == nullptr) {
        index_[k] = NO_TOKEN;
        continue;
      }
      index_[k] = static_cast<std::uint8_t>(count_);
      tokens_[count_++] = t;
    }
    return true;
  }

  // The result for n items (n >= 2h): a new list, or nullptr with the interpreter's error.
  [[nodiscard]] PyObject* build(std::size_t n) {
    using py::PyRef;
    const std::size_t reps = n / h_;
    const std::size_t rest = n - reps * h_;
    if (count_ == 0) return py::new_empty_list_or_die();  // no input of the period matches, the rest included
    if (rest == 0) {
      PyRef block = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(count_)));
      if (!block) return py::pending_error();
      for (std::size_t t = 0; t < count_; ++t) PyList_SET_ITEM(block.get(), static_cast<Py_ssize_t>(t), Py_NewRef(tokens_[t]));
      PyObject* repeated = PySequence_Repeat(block.get(), static_cast<Py_ssize_t>(reps));
      return repeated != nullptr ? repeated : py::pending_error();
    }
    // use_counts[t]: the slots of the result that will hold token t.
    std::array<Py_ssize_t, CAPACITY> use_counts;
    for (std::size_t t = 0; t < count_; ++t) use_counts[t] = static_cast<Py_ssize_t>(reps);
    std::size_t tail = 0;
    for (std::size_t k = 0; k < rest; ++k) {
      if (index_[k] == NO_TOKEN) continue;
      ++use_counts[index_[k]];
      ++tail;
    }
    const std::size_t full = count_ * reps;
    PyObject* result = PyList_New(static_cast<Py_ssize_t>(full + tail));
    if (result == nullptr) return py::pending_error();
    PyObject** slots = reinterpret_cast<PyListObject*>(result)->ob_item;
    for (std::size_t t = 0; t < count_; ++t) slots[t] = tokens_[t];
    engine::fill_by_doubling(result, count_, full);
    std::size_t at = full;
    for (std::size_t k = 0; k < rest; ++k) {
      if (index_[k] != NO_TOKEN) slots[at++] = tokens_[index_[k]];
    }
    for (std::size_t t = 0; t < count_; ++t) engine::bulk_incref(tokens_[t], use_counts[t]);
    return result;  // the table's own references are released with it
  }

 private:
  std::array<PyObject*, CAPACITY> tokens_;
  std::array<std::uint8_t, CAPACITY> index_;
  std::size_t count_ = 0;
  std::size_t h_ = 0;
};

// Results by input identity for a list without a period: `map` from input address to its token (borrowed
// from `holder`) or nullptr for no match; `holder` owns one reference to every token made; `output` owns one
// reference per result item, moved into the result list at the end.
class PointerTokenMap {
 public:
  explicit PointerTokenMap(std::size_t n) { output_.reserve(n); }
  PointerTokenMap(const PointerTokenMap&) = delete;
  PointerTokenMap& operator=(const PointerTokenMap&) = delete;
  ~PointerTokenMap() {
    for (PyObject* t : holder_) Py_DECREF(t);
    for (PyObject* t : output_) Py_DECREF(t);
  }

  // Walks the inputs in order; false with the item's error set.
  template <class Token>
  [[nodiscard]] bool walk(const engine::BatchItems& b, Token& token) {
    for (std::size_t i = 0; i < b.n; ++i) {
      PyObject* item = b.items[i];
      auto [it, first_time] = map_.try_emplace(item, nullptr);
      if (!first_time) {
        if (it->second != nullptr) output_.push_back(Py_NewRef(it->second));
        continue;
      }
      std::string_view text;
      if (!engine::batch_item_text(item, i, text)) return false;
      PyObject* t = token(item, text);
      if (t == nullptr) continue;
      it->second = t;
      holder_.push_back(t);
      output_.push_back(Py_NewRef(t));
    }
    return true;
  }

  // The result list, taking over `output`'s references; nullptr with the interpreter's error.
  [[nodiscard]] PyObject* build() {
    PyObject* result = PyList_New(static_cast<Py_ssize_t>(output_.size()));
    if (result == nullptr) return py::pending_error();
    PyObject** slots = reinterpret_cast<PyListObject*>(result)->ob_item;
    for (std::size_t i = 0; i < output_.size(); ++i) slots[i] = output_[i];
    output_.clear();
    return result;
  }

 private:
  absl::flat_hash_map<const PyObject*, PyObject*> map_;
  std::vector<PyObject*> holder_;
  std::vector<PyObject*> output_;
};

// The flat batch parse: a new list, or nullptr with an exception set.
template <class Token>
[[nodiscard]] PyObject* build_flat_batch(PyObject* inputs, Token&& token) {
  const engine::BatchItems b = engine::batch_items(inputs);
  if (b.n == 0) return py::new_empty_list_or_die();
  if (b.n >= 2) {
    if (const std::size_t h = engine::detect_input_period(b.items, b.n)) {
      PeriodTokenTable table;
      if (!table.fill(b, h, token)) return nullptr;
      return table.build(b.n);
    }
  }
  PointerTokenMap map(b.n);
  if (!map.walk(b, token)) return nullptr;
  return map.build();
}

}  // namespace quillex::fastpaths
