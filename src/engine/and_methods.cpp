#include "engine/and_methods.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "absl/container/inlined_vector.h"
#include "elements/start_bytes.h"
#include "engine/batch.h"
#include "engine/grammar_scan.h"
#include "engine/routines.h"
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

// The walk from position 0 with one new str per slice, made as soon as its child has matched. The buffer is
// reserved for one entry per child, the most a walk can give, so it never grows. Equal slices give separate
// strs. False when a child fails; the strs made so far are released.
using SliceStrs = absl::InlinedVector<PyRef, 8>;

[[nodiscard]] bool walk_to_strs(const AndElement& e, std::string_view text, SliceStrs& strs) {
  strs.reserve(e.children().size());
  Pos end = 0;
  const bool matched = and_slice_walk(e, text, 0, end, [&](Pos from, Pos to) {
    strs.push_back(PyRef::steal(py::new_str_or_throw(text.substr(from, to - from))));
  });
  if (!matched) strs.clear();
  return matched;
}

}  // namespace

PyObject* and_parse_string(PyObject*, const Element& element, PyObject*, std::string_view text) {
  SliceStrs strs;
  if (!walk_to_strs(as_and(element), text, strs)) return py::raise_value_error("Expected match");
  return move_into_list(strs);
}

// ---------------------------------------------------------------------------------------------------------------
// search_string: one scan (grammar_scan.h, AndScanRule) recording the children's ends at each match; the slices
// are cut from those ends only where the whole sequence matched, so a failing position makes no str. The result
// is flat (the slices of every match in text order) and equal texts share one str across the whole result.
// search_string_count and transform_string are the common routines, which run the same scan.

PyObject* and_search_string(PyObject*, const Element& element, PyObject*, std::string_view text) {
  if (text.empty()) return py::new_empty_list_or_die();
  const AndElement& e = as_and(element);
  const AndScanRule rule(e);
  ScanStarts starts(e);
  absl::InlinedVector<Pos, 8> ends(rule.children());
  return search_list_of_scan(text, [&](auto&& on_slice) {
    scan_candidate_matches(
        text, starts, [&](std::string_view t, Pos pos, Pos& resume) { return rule(t, pos, resume, ends.data()); },
        [&](Pos start, Pos) {
          Pos p = start;
          for (const Pos end : ends) {
            if (end > p) on_slice(p, end);
            p = end;
          }
        });
  });
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

// ---------------------------------------------------------------------------------------------------------------
// parse_batch. Three steps, the first that applies serving the call: a uniform list (n == 1 included) is walked
// once and every slot holds that one list; a list with input period h walks the h inputs of one period and the
// n % h of the tail, slot j < n - n % h holding the list of input j % h and every tail input a list of its own;
// any other list walks each input in order, the first 31 distinct objects that may repeat once each
// (PointerSpanCache; an input held by its slot alone is walked without a probe), and every slot gets a list of
// its own. On the period and cache steps the token strs come from one TokenIndexTable, so equal token texts
// (the first 256 texts of the call) are one str in the whole result.

namespace {

// The token strs of one call of the period or the cache step, numbered by one byte in creation order, so that
// equal texts are one str and an input's tokens can be kept as a run of index bytes. An index is one byte:
// once 256 texts are numbered, a new text gets no index and each of its occurrences a str of its own, while the
// numbered texts keep their one str for the rest of the call.
//
// Item lists receive the numbered strs without a reference each: `take` counts the slots per index and `settle`
// raises each str's count once by its uses (256 additions at most, instead of one increment per slot). Until it
// settles, the lists that received strs hold references not yet counted, so they must not be released before the
// table settles: their holders are declared before the table. The keys are views into the inputs' texts, which
// the borrowed `inputs` list keeps alive for the call.
class TokenIndexTable {
 public:
  static constexpr std::size_t CAPACITY = 256;
  static constexpr std::uint16_t NO_INDEX = CAPACITY;

  TokenIndexTable() = default;
  TokenIndexTable(const TokenIndexTable&) = delete;
  TokenIndexTable& operator=(const TokenIndexTable&) = delete;
  ~TokenIndexTable() {
    settle();
    for (std::size_t k = 0; k < size_; ++k) Py_DECREF(tokens_[k]);
  }

  // The index of the str for `text`, made the first time the text is met while there is room; NO_INDEX for a
  // new text once the table is full.
  [[nodiscard]] std::uint16_t index_of(std::string_view text) {
    if (size_ < CAPACITY) {
      auto [it, inserted] = index_of_.try_emplace(text, static_cast<std::uint8_t>(size_));
      if (inserted) tokens_[size_++] = py::new_str_or_throw(text);  // on a throw the table dies with the call
      return it->second;
    }
    const auto it = index_of_.find(text);
    return it != index_of_.end() ? it->second : NO_INDEX;
  }

  // The str of `index` for one list slot; its reference is counted when the table settles.
  [[nodiscard]] PyObject* take(std::uint8_t index) noexcept {
    ++use_counts_[index];
    return tokens_[index];
  }
  // The str of `index` as a new reference, counted at once: for a list that may be released before the table
  // settles.
  [[nodiscard]] PyObject* share(std::uint8_t index) noexcept { return Py_NewRef(tokens_[index]); }

  // A new list holding the strs of `indices`, in order, or nullptr with the interpreter's exception.
  template <class Index>
  [[nodiscard]] PyObject* list_of(const Index* indices, std::size_t k) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(k));
    if (list == nullptr) return py::pending_error();
    for (std::size_t j = 0; j < k; ++j) {
      PyList_SET_ITEM(list, static_cast<Py_ssize_t>(j), take(static_cast<std::uint8_t>(indices[j])));
    }
    return list;
  }

  // Every list that received a str holds a counted reference from here on.
  void settle() noexcept {
    for (std::size_t k = 0; k < size_; ++k) {
      if (use_counts_[k] != 0) bulk_incref(tokens_[k], use_counts_[k]);
      use_counts_[k] = 0;
    }
  }

 private:
  std::array<PyObject*, CAPACITY> tokens_;  // [0, size_) are the table's own references
  std::size_t size_ = 0;
  absl::flat_hash_map<std::string_view, std::uint8_t, TextHash> index_of_;
  std::array<Py_ssize_t, CAPACITY> use_counts_{};
};

// The walk of one input on the period and the cache steps, and its item list with strs from the table. The
// slices are cut first and numbered only once the whole walk has succeeded, so an input that fails makes no str.
// After `evaluate`, `parsed()` tells whether the walk succeeded and, when `indexed()`, `indices()` are the
// input's index bytes (every token numbered).
class InputWalker {
 public:
  InputWalker(const AndElement& e, TokenIndexTable& table) : e_(e), table_(table) {
    slices_.reserve(e.children().size());
    indices_.reserve(e.children().size());
  }

  // The item list of input `index` (a new reference): the walk's tokens, or an empty list when it fails; nullptr
  // with an exception set when the item has no text, a list cannot be made or matching overflowed the recursion
  // bound.
  [[nodiscard]] PyObject* evaluate(PyObject* item, std::size_t index) {
    std::string_view text;
    if (!batch_item_text(item, index, text)) return nullptr;
    slices_.clear();
    indices_.clear();
    Pos end = 0;
    parsed_ = and_slice_walk(e_, text, 0, end,
                             [&](Pos from, Pos to) { slices_.push_back(text.substr(from, to - from)); });
    if (recursion_overflowed()) return py::raise_recursion_error();
    indexed_ = true;
    if (!parsed_) {
      PyObject* empty = PyList_New(0);
      return empty != nullptr ? empty : py::pending_error();
    }
    for (std::string_view slice : slices_) {
      const std::uint16_t k = table_.index_of(slice);
      indexed_ = indexed_ && k != TokenIndexTable::NO_INDEX;
      indices_.push_back(k);
    }
    if (indexed_) return table_.list_of(indices_.data(), indices_.size());
    // Strs are made between the stores, and a str that cannot be made releases this list at once, before the
    // table settles: its numbered strs are stored with their references counted.
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(slices_.size())));
    if (!list) return py::pending_error();
    for (std::size_t j = 0; j < slices_.size(); ++j) {
      const std::uint16_t k = indices_[j];
      PyObject* token = k != TokenIndexTable::NO_INDEX ? table_.share(static_cast<std::uint8_t>(k))
                                                       : py::new_str_or_throw(slices_[j]);
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(j), token);
    }
    return list.release();
  }

  bool parsed() const noexcept { return parsed_; }
  bool indexed() const noexcept { return indexed_; }
  const absl::InlinedVector<std::uint16_t, 8>& indices() const noexcept { return indices_; }

 private:
  const AndElement& e_;
  TokenIndexTable& table_;
  absl::InlinedVector<std::string_view, 8> slices_;
  absl::InlinedVector<std::uint16_t, 8> indices_;  // NO_INDEX for a token the full table could not number
  bool parsed_ = false;
  bool indexed_ = false;
};

// What the cache step knows of up to 31 input objects: whether the walk succeeded on it and, when it did, the
// run of index bytes that holds its tokens. Slot choice, probing and the 31-entry limit are PointerVerdictCache's
// (MATCHED stands for a walk that succeeded); this adds one span of `cached_bytes_` per slot. A span's length is
// one byte, so an input of more than 255 tokens is not stored (it is walked again at each occurrence), nor is
// one with a token the full table could not number.
class PointerSpanCache {
 public:
  using Lookup = PointerVerdictCache::Lookup;
  static constexpr std::size_t MAX_SPAN = 255;

  explicit PointerSpanCache(std::size_t children) {
    cached_bytes_.reserve(PointerVerdictCache::SLOTS * std::min(children, MAX_SPAN));
  }

  [[nodiscard]] Lookup lookup(std::uint64_t address) const noexcept { return verdicts_.lookup(address); }

  // The index bytes of a hit whose walk succeeded.
  const std::uint8_t* span_data(const Lookup& hit) const noexcept {
    return cached_bytes_.data() + spans_[hit.slot].offset;
  }
  std::size_t span_size(const Lookup& hit) const noexcept { return spans_[hit.slot].length; }

  // Stores the walker's outcome for `address` at the slot the miss reported (nothing when the table is full).
  void store(const Lookup& miss, std::uint64_t address, const InputWalker& walked) {
    if (miss.slot >= PointerVerdictCache::SLOTS) return;
    if (walked.parsed()) {
      if (!walked.indexed() || walked.indices().size() > MAX_SPAN) return;
      spans_[miss.slot] = {static_cast<std::uint32_t>(cached_bytes_.size()),
                           static_cast<std::uint8_t>(walked.indices().size())};
      for (const std::uint16_t k : walked.indices()) cached_bytes_.push_back(static_cast<std::uint8_t>(k));
    }
    verdicts_.insert(miss, address, walked.parsed());
  }

 private:
  struct Span {
    std::uint32_t offset;  // at most 31 * 255 bytes are ever stored
    std::uint8_t length;
  };
  PointerVerdictCache verdicts_;
  std::array<Span, PointerVerdictCache::SLOTS> spans_{};
  std::vector<std::uint8_t> cached_bytes_;
};

// The uniform step's one list: the walk's slices as separate new strs, or an empty list when it fails.
PyObject* walked_list(const AndElement& e, std::string_view text) {
  SliceStrs strs;
  if (!walk_to_strs(e, text, strs)) return PyList_New(0);
  return move_into_list(strs);
}

PyObject* periodic_parse_batch(const AndElement& e, const BatchItems& b, std::size_t h) {
  // Declared before the table: the lists are released, if at all, only after the table has settled.
  std::array<PyRef, INPUT_PERIOD_WINDOW - 1> period;
  std::array<PyRef, INPUT_PERIOD_WINDOW - 1> tail;
  const std::size_t v = b.n - b.n % h;
  {
    TokenIndexTable table;
    InputWalker walker(e, table);
    for (std::size_t k = 0; k < h; ++k) {
      period[k] = PyRef::steal(walker.evaluate(b.items[k], k));
      if (!period[k]) return nullptr;
    }
    for (std::size_t i = 0; v + i < b.n; ++i) {
      tail[i] = PyRef::steal(walker.evaluate(b.items[v + i], v + i));
      if (!tail[i]) return nullptr;
    }
  }
  return assemble_periodic_results(period.data(), h, tail.data(), b.n);
}

PyObject* cached_parse_batch(const AndElement& e, const BatchItems& b) {
  // Declared before the table: the item lists are released, if at all, only after the table has settled.
  PyRef result = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(b.n)));
  if (!result) return py::pending_error();
  PyObject** slots = reinterpret_cast<PyListObject*>(result.get())->ob_item;
  TokenIndexTable table;
  InputWalker walker(e, table);
  PointerSpanCache cache(e.children().size());
  for (std::size_t i = 0; i < b.n; ++i) {
    PyObject* item = b.items[i];
    PyObject* list = nullptr;
    if (held_by_slot_alone(item)) {
      // Cannot be in the cache nor occur again: walked without a probe, and no slot taken from an object that
      // may repeat.
      list = walker.evaluate(item, i);
      if (list == nullptr) return nullptr;
      slots[i] = list;
      continue;
    }
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(item));
    const PointerSpanCache::Lookup found = cache.lookup(address);
    if (found.verdict == PointerVerdictCache::MATCHED) {
      list = table.list_of(cache.span_data(found), cache.span_size(found));
    } else if (found.verdict == PointerVerdictCache::NOT_MATCHED) {
      list = PyList_New(0);
      if (list == nullptr) return py::pending_error();
    } else {
      list = walker.evaluate(item, i);
    }
    if (list == nullptr) return nullptr;  // the unfilled slots are null, which the list's release skips
    slots[i] = list;
    // Stored once the result holds the list: storing may allocate.
    if (found.verdict == 0) cache.store(found, address, walker);
  }
  return result.release();
}

}  // namespace

PyObject* and_parse_batch(PyObject*, const Element& element, PyObject* inputs) {
  const AndElement& e = as_and(element);
  const BatchItems b = batch_items(inputs);
  if (b.n == 0) return py::new_empty_list_or_die();
  if (detect_uniform_inputs(b.items, b.n)) {
    auto make = [&e](std::string_view text) { return walked_list(e, text); };
    return uniform_batch_result(b, make);
  }
  if (const std::size_t h = detect_input_period(b.items, b.n)) return periodic_parse_batch(e, b, h);
  return cached_parse_batch(e, b);
}

}  // namespace quillex::engine
