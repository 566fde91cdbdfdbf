// The flat batch parse of the single-token terminals (Word; Regex has the same shape): one result list holding,
// in input order, the token of every input that matches at 0, nothing for an input that does not. Repeated
// inputs are recognised by identity only: a list repeating with a short period goes through PeriodTokenTable,
// any other list through PointerTokenMap. Both evaluate each distinct object once (the first period excepted,
// whose every slot is evaluated) and give every occurrence of one object the same token object.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

#include "absl/container/inlined_vector.h"
#include "engine/batch.h"
#include "engine/token_intern.h"
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

// The general path's result: a list with room for one token per input, reserved but not written (a batch of
// which a third matches writes a third of the room, and fresh pages past it are never faulted in). Its length
// stays 0 while tokens are stored and becomes their number when it is finished or released, so that releasing
// it on a failure releases exactly those. `finish` gives back the room past the last token, leaving the list
// PyList_New would have made at that length. The slots own the tokens' references.
class FlatTokenList {
 public:
  FlatTokenList() = default;
  FlatTokenList(const FlatTokenList&) = delete;
  FlatTokenList& operator=(const FlatTokenList&) = delete;
  ~FlatTokenList() {
    if (list_ == nullptr) return;
    Py_SET_SIZE(list_, static_cast<Py_ssize_t>(size_));
    Py_DECREF(list_);
  }

  // Room for n >= 1 tokens; false with the interpreter's error (MemoryError) when it cannot be had. n is a
  // list's length, so n slots never overflow a size.
  [[nodiscard]] bool open(std::size_t n) {
    list_ = PyList_New(0);
    if (list_ == nullptr) {
      (void)py::pending_error();
      return false;
    }
    auto* slots = static_cast<PyObject**>(PyMem_Malloc(n * sizeof(PyObject*)));
    if (slots == nullptr) {
      (void)PyErr_NoMemory();
      return false;
    }
    as_list()->ob_item = slots;
    as_list()->allocated = static_cast<Py_ssize_t>(n);
    return true;
  }

  // Stores a new reference, taken over; at most n in all.
  void push(PyObject* token) noexcept { as_list()->ob_item[size_++] = token; }

  // The list at the length of its tokens (a new reference).
  [[nodiscard]] PyObject* finish() noexcept {
    PyListObject* l = as_list();
    if (size_ == 0) {
      PyMem_Free(l->ob_item);
      l->ob_item = nullptr;
      l->allocated = 0;
    } else if (static_cast<Py_ssize_t>(size_) < l->allocated) {
      // A smaller block never fails to be had in practice; if it did, the larger one stays valid.
      if (auto* shrunk = static_cast<PyObject**>(PyMem_Realloc(l->ob_item, size_ * sizeof(PyObject*)))) {
        l->ob_item = shrunk;
        l->allocated = static_cast<Py_ssize_t>(size_);
      }
    }
    Py_SET_SIZE(list_, static_cast<Py_ssize_t>(size_));
    return std::exchange(list_, nullptr);
  }

 private:
  PyListObject* as_list() const noexcept { return reinterpret_cast<PyListObject*>(list_); }

  PyObject* list_ = nullptr;
  std::size_t size_ = 0;
};

// The general path's identity table: per input object that may occur again, its token (borrowed from the
// result slot that owns it, which lives as long as the call) or NO_TOKEN for no match. Inputs held by their
// slot alone never enter it (engine::held_by_slot_alone), so a list of distinct objects builds no table at all.
// Keys are addresses, valid while the caller holds the list. The slots are the dedup table's (engine/
// token_dedup.h: an address and its token each, linear probing, grown by doubling at half full) in the kept
// dedup memory (engine::DedupLease): a list of a million distinct objects held elsewhere too costs a lookup per
// input without mapping fresh memory, and the caller fetches the home slot of an input some places ahead so
// that the lookups' cache misses overlap.
class PointerTokenMap {
 public:
  static constexpr std::uint64_t NO_TOKEN = 1;  // no object lives at address 1

  explicit PointerTokenMap(engine::DedupScratch& scratch) : scratch_(scratch) { resize(4); }

  // The entry of `item`, added empty when the item was not yet met: `found` tells which, and `token` is where
  // its result stands or is to be written (a token, or NO_TOKEN; valid until the next call).
  struct Entry {
    std::uint64_t* token;
    bool found;
  };
  [[nodiscard]] Entry entry(PyObject* item) {
    if ((used_ + 1) * 2 > (std::size_t{1} << bits_)) resize(bits_ + 1);
    engine::HashedValue* slots = scratch_.table.data();
    const std::uint64_t key = address(item);
    const std::size_t mask = (std::size_t{1} << bits_) - 1;
    for (std::size_t s = engine::dedup_detail::home_slot(key, bits_);; s = (s + 1) & mask) {
      if (slots[s].value == 0) {
        slots[s] = {key, NO_TOKEN};
        ++used_;
        return {&slots[s].value, false};
      }
      if (slots[s].hash == key) return {&slots[s].value, true};
    }
  }

  bool empty() const noexcept { return used_ == 0; }

  void prefetch(PyObject* item) const noexcept {
    __builtin_prefetch(scratch_.table.data() + engine::dedup_detail::home_slot(address(item), bits_));
  }

 private:
  static std::uint64_t address(PyObject* item) noexcept {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(item));
  }

  void resize(unsigned bits) {
    engine::dedup_detail::grow_table(scratch_, bits_, bits);
    bits_ = bits;
  }

  engine::DedupScratch& scratch_;
  unsigned bits_ = 0;
  std::size_t used_ = 0;
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

// General path (n == 1 included): each distinct object evaluated once, in list order. The input AHEAD places on
// is looked at early: its object (read for its count) and, when it may occur again, its home slot in the table.
template <class Token>
[[nodiscard]] PyObject* flat_batch_by_pointer(const engine::BatchItems& b, Token& token) {
  FlatTokenList result;
  if (!result.open(b.n)) return nullptr;
  engine::DedupLease lease;
  PointerTokenMap seen(lease.scratch());
  constexpr std::size_t AHEAD = 8;
  for (std::size_t i = 0; i < b.n; ++i) {
    // Only once the table holds an input: a list of objects held by their slots alone never looks ahead.
    if (!seen.empty() && i + AHEAD < b.n && !engine::held_by_slot_alone(b.items[i + AHEAD])) {
      seen.prefetch(b.items[i + AHEAD]);
    }
    PyObject* item = b.items[i];
    std::uint64_t* stored = nullptr;  // the identity entry of an item that may occur again
    if (!engine::held_by_slot_alone(item)) {
      const PointerTokenMap::Entry e = seen.entry(item);
      if (e.found) {
        if (*e.token != PointerTokenMap::NO_TOKEN) {
          result.push(Py_NewRef(reinterpret_cast<PyObject*>(static_cast<std::uintptr_t>(*e.token))));
        }
        continue;
      }
      stored = e.token;
    }
    std::string_view text;
    if (!engine::batch_item_text(item, i, text)) return nullptr;
    PyObject* t = token(item, text);
    if (t == nullptr) continue;  // the entry keeps NO_TOKEN
    if (stored != nullptr) *stored = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(t));
    result.push(t);
  }
  return result.finish();
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
