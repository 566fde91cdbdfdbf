// TokenInternMap: within one call, equal matched texts share one str object.
#pragma once

#include <string_view>

#include "absl/container/flat_hash_map.h"
#include "engine/batch.h"
#include "py/errors.h"
#include "py/pyref.h"

namespace quillex::engine {

// Keys are views into the call's text (never copied), so the map must not outlive the text it was fed. It holds
// one reference to each str it made and releases them when it dies. Starts without storage; the first text
// entered allocates. Hash and iteration order are never visible.
//
// Two ways to hand out a str: `get_or_create` gives a counted reference at once; `take_uncounted` gives the str
// for a slot that is counted later, when the map settles (at `settle()` or at its end), with one addition per
// distinct str instead of one increment per slot. A result filled by take_uncounted holds references not yet
// counted, so it must not be released before the map settles: declare its holder before the map.
//
// The texts are UTF-8, or, for a map made with a unit kind (1, 2 or 4), slices of a str's own units
// (py/str_units.h) seen as bytes: then each str is made from those units.
class TokenInternMap {
 public:
  TokenInternMap() = default;
  explicit TokenInternMap(unsigned unit_kind) noexcept : unit_kind_(unit_kind) {}
  TokenInternMap(const TokenInternMap&) = delete;
  TokenInternMap& operator=(const TokenInternMap&) = delete;
  ~TokenInternMap() {
    for (auto& entry : map_) {
      if (entry.second.pending != 0) bulk_incref(entry.second.str, entry.second.pending);
      Py_XDECREF(entry.second.str);  // null: its str could not be made (and none was handed out)
    }
  }

  // A new reference to the one str for `text`, made the first time this text is asked for. std::bad_alloc when
  // the entry or the str cannot be had (the texts come from a valid str and are cut on character boundaries,
  // so nothing else can fail).
  [[nodiscard]] PyObject* get_or_create(std::string_view text) {
    PyObject* str = entry(text).str;
    Py_INCREF(str);
    return str;
  }

  // The one str for `text`, with one reference owed to the caller's slot and counted when the map settles.
  // Touches only the map's own entry, not the str. Throws as get_or_create does.
  [[nodiscard]] PyObject* take_uncounted(std::string_view text) {
    Entry& e = entry(text);
    ++e.pending;
    return e.str;
  }

  // Counts every reference handed out by take_uncounted so far.
  void settle() noexcept {
    for (auto& entry : map_) {
      if (entry.second.pending != 0) bulk_incref(entry.second.str, entry.second.pending);
      entry.second.pending = 0;
    }
  }

  std::size_t size() const noexcept { return map_.size(); }

  // How many texts the call will ask for in all, when it knows: a map that is still mostly distinct after
  // some thousands of texts is then grown once to the size it is heading for, instead of doubling (and
  // rehashing into fresh memory) at every step on the way.
  void expect(std::uint64_t texts) noexcept { expected_ = texts; }

 private:
  struct Entry {
    PyObject* str = nullptr;  // the map's own reference
    Py_ssize_t pending = 0;   // references handed out by take_uncounted, not yet counted
  };

  Entry& entry(std::string_view text) {
    ++asked_;
    if (map_.size() >= next_check_) grow_ahead();  // before the lookup: growing moves the entries
    auto [it, inserted] = map_.try_emplace(text);
    if (inserted) it->second.str = make_str(text);
    return it->second;
  }

  PyObject* make_str(std::string_view text) const {
    if (unit_kind_ == 0) return py::new_str_or_throw(text);
    return py::new_str_of_units_or_throw(text.data(), unit_kind_, text.size() / unit_kind_);
  }

  // At 4096, 8192, ... distinct texts: when at least half the texts asked for so far were new, reserves for the
  // distinct texts the rest of the call should bring at that rate. Any size is correct; this only saves growth.
  void grow_ahead() {
    next_check_ *= 2;
    if (expected_ <= asked_ || map_.size() * 2 < asked_) return;
    const double rate = static_cast<double>(map_.size()) / static_cast<double>(asked_);
    const auto heading = static_cast<std::size_t>(static_cast<double>(expected_) * rate * 1.1);
    if (heading > map_.size() * 2) {
      map_.reserve(heading);
      while (next_check_ <= heading) next_check_ *= 2;
    }
  }

  absl::flat_hash_map<std::string_view, Entry> map_;
  unsigned unit_kind_ = 0;  // 0: the texts are UTF-8
  std::uint64_t expected_ = 0;  // texts the call will ask for, 0 when unknown
  std::uint64_t asked_ = 0;
  std::size_t next_check_ = 4096;
};

// The list of the slices [start, end) of `text` for `spans` (a non-empty sequence of values with `start` and
// `end`, in text order), made at its final length, equal slices sharing one str. nullptr with the
// interpreter's error when the list cannot be made; std::bad_alloc as get_or_create.
template <class Spans>
[[nodiscard]] PyObject* interned_list_of_spans(std::string_view text, const Spans& spans) {
  py::PyRef list = py::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(spans.size())));
  if (!list) return py::pending_error();
  TokenInternMap interned;
  interned.expect(spans.size());
  Py_ssize_t i = 0;
  for (const auto& span : spans) {
    PyList_SET_ITEM(list.get(), i++, interned.get_or_create(text.substr(span.start, span.end - span.start)));
  }
  return list.release();
}

}  // namespace quillex::engine
