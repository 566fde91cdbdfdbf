// The flat batch parse of the single-token terminals (Word; Regex has the same shape): one result list holding,
// in input order, the token of every input that matches at 0, nothing for an input that does not. Repeated
// inputs are recognised by identity only: a list repeating with a short period goes through PeriodTokenTable,
// any other list through PointerTokenMap. Both evaluate each distinct object once (the first period excepted,
// whose every slot is evaluated) and give every occurrence of one object the same token object.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "absl/container/inlined_vector.h"
#include "engine/batch.h"
#include "py/errors.h"
#include "py/pyref.h"

namespace quillex::fastpaths {

// The period path's table for a list with input period h (h < 128): the tokens of the matching inputs among the
// first h, in order (each entry owning one reference), and per input of the first period the position of its
// token or NO_TOKEN. At most 127 tokens, so NO_TOKEN (0xFF) never names one.
class PeriodTokenTable {
 public:
  static constexpr std::uint8_t NO_TOKEN = 0xFF;

  PeriodTokenTable() = default;
  PeriodTokenTable(const PeriodTokenTable&) = delete;
  PeriodTokenTable& operator=(const PeriodTokenTable&) = delete;
  ~PeriodTokenTable() {
    for (PyObject* t : tokens_) Py_DECREF(t);
  }

  // Input k's token (a new reference, taken over, also when storing it throws) or nullptr for no match.
  void set(std::size_t k, PyObject* token) {
    if (token == nullptr) {
      index_[k] = NO_TOKEN;
      return;
    }
    py::PyRef owned = py::PyRef::steal(token);
    tokens_.push_back(token);
    (void)owned.release();
    index_[k] = static_cast<std::uint8_t>(tokens_.size() - 1);
  }

  std::size_t token_count() const noexcept { return tokens_.size(); }
  PyObject* token(std::size_t j) const noexcept { return tokens_[j]; }
  std::uint8_t index(std::size_t k) const noexcept { return index_[k]; }

 private:
  absl::InlinedVector<PyObject*, 8> tokens_;
  std::array<std::uint8_t, engine::INPUT_PERIOD_WINDOW - 1> index_{};
};

// The general path's state: per distinct input object its result (a token, or nullptr for no match), every token
// made (owned once by `holder`), and the result items in order (each owning one reference until they move into
// the result list). Keys are addresses, valid while the caller holds the list.
class PointerTokenMap {
 public:
  explicit PointerTokenMap(std::size_t n) { output_.reserve(n); }
  PointerTokenMap(const PointerTokenMap&) = delete;
  PointerTokenMap& operator=(const PointerTokenMap&) = delete;
  ~PointerTokenMap() {
    for (PyObject* t : holder_) Py_DECREF(t);
    for (PyObject* t : output_) Py_DECREF(t);
  }

  // The stored result of `item`: found, and its token (nullptr for no match).
  bool find(PyObject* item, PyObject*& token) const {
    const auto it = map_.find(item);
    if (it == map_.end()) return false;
    token = it->second;
    return true;
  }
  // Records `item`'s result (a new reference taken over, also when storing it throws, or nullptr) and appends
  // it to the output.
  void insert(PyObject* item, PyObject* token) {
    if (token != nullptr) {
      py::PyRef owned = py::PyRef::steal(token);
      holder_.push_back(token);
      (void)owned.release();
    }
    map_.emplace(item, token);
    if (token != nullptr) append(token);
  }
  // Appends a further occurrence of a stored token.
  void append(PyObject* token) {
    output_.push_back(token);
    Py_INCREF(token);  // counted once it is stored: the output releases exactly what it holds
  }

  // The result list, the output's references moved into it; nullptr with the interpreter's error when the list
  // cannot be created.
  [[nodiscard]] PyObject* take_list() {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(output_.size()));
    if (list == nullptr) return py::pending_error();
    for (std::size_t i = 0; i < output_.size(); ++i) PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), output_[i]);
    output_.clear();
    return list;
  }

 private:
  absl::flat_hash_map<PyObject*, PyObject*> map_;
  std::vector<PyObject*> holder_;
  std::vector<PyObject*> output_;
};

// Period path. The inputs r*h .. n-1 (r = n / h) are the objects 0 .. o-1 (o = n % h) and take their tokens.
// Reference counts: the table's one reference per token is released at the end; each token is raised once, by
// the number of result slots that hold it.
template <class Token>
[[nodiscard]] PyObject* flat_batch_periodic(const engine::BatchItems& b, std::size_t h, Token& token) {
  PeriodTokenTable table;
  for (std::size_t k = 0; k < h; ++k) {
    std::string_view text;
    if (!engine::batch_item_text(b.items[k], k, text)) return nullptr;
    table.set(k, token(b.items[k], text));
  }
  const std::size_t c = table.token_count();
  const std::size_t r = b.n / h;
  const std::size_t o = b.n % h;
  if (o == 0) {
    if (c == 0) return py::new_empty_list_or_die();
    py::PyRef block = py::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(c)));
    if (!block) return py::pending_error();
    for (std::size_t j = 0; j < c; ++j) {
      PyList_SET_ITEM(block.get(), static_cast<Py_ssize_t>(j), Py_NewRef(table.token(j)));
    }
    PyObject* repeated = PySequence_Repeat(block.get(), static_cast<Py_ssize_t>(r));
    return repeated != nullptr ? repeated : py::pending_error();
  }
  std::array<Py_ssize_t, engine::INPUT_PERIOD_WINDOW - 1> uses;  // result slots per token
  uses.fill(static_cast<Py_ssize_t>(r));
  std::size_t tail = 0;
  for (std::size_t k = 0; k < o; ++k) {
    const std::uint8_t j = table.index(k);
    if (j == PeriodTokenTable::NO_TOKEN) continue;
    ++uses[j];
    ++tail;
  }
  const std::size_t full = c * r;
  py::PyRef result = py::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(full + tail)));
  if (!result) return py::pending_error();
  PyObject** slots = reinterpret_cast<PyListObject*>(result.get())->ob_item;
  for (std::size_t j = 0; j < c; ++j) slots[j] = table.token(j);
  engine::fill_by_doubling(result.get(), c, full);
  std::size_t at = full;
  for (std::size_t k = 0; k < o; ++k) {
    const std::uint8_t j = table.index(k);
    if (j != PeriodTokenTable::NO_TOKEN) slots[at++] = table.token(j);
  }
  for (std::size_t j = 0; j < c; ++j) engine::bulk_incref(table.token(j), uses[j]);
  return result.release();
}

// General path (n == 1 included): each distinct object evaluated once, in list order.
template <class Token>
[[nodiscard]] PyObject* flat_batch_by_pointer(const engine::BatchItems& b, Token& token) {
  PointerTokenMap map(b.n);
  for (std::size_t i = 0; i < b.n; ++i) {
    PyObject* item = b.items[i];
    PyObject* known = nullptr;
    if (map.find(item, known)) {
      if (known != nullptr) map.append(known);
      continue;
    }
    std::string_view text;
    if (!engine::batch_item_text(item, i, text)) return nullptr;
    map.insert(item, token(item, text));
  }
  return map.take_list();
}

// The flat batch parse. `token(PyObject* item, std::string_view text) -> PyObject*` gives a new reference to the
// token of an input that matches at 0, or nullptr when it does not; it raises nothing (a token str that cannot
// be made throws std::bad_alloc, and the tables release what they hold). A non-str item raises the batch item
// TypeError, the first such in list order.
template <class Token>
[[nodiscard]] PyObject* build_flat_batch(PyObject* inputs, Token&& token) {
  const engine::BatchItems b = engine::batch_items(inputs);
  if (b.n == 0) return py::new_empty_list_or_die();
  // A list of one object throughout has period 1; no separate uniform step.
  if (b.n >= 2) {
    if (const std::size_t h = engine::detect_input_period(b.items, b.n)) return flat_batch_periodic(b, h, token);
  }
  return flat_batch_by_pointer(b, token);
}

}  // namespace quillex::fastpaths
