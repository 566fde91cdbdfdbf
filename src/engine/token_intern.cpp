#include "engine/token_intern.h"

#include <cstdint>
#include <utility>

#include "py/errors.h"
#include "py/str_units.h"

namespace quillex::engine {

namespace {

// The memory kept between calls, empty while a call holds it.
std::vector<TextSpan> kept_spans;
DedupScratch kept_dedup;

// The interner of interned_list_of_spans: a span's value is its str in the list slot of the span (the slot's
// reference). A text's first occurrence gets a new str; every later one that str again, one more reference.
class ListInterner {
 public:
  ListInterner(std::string_view text, const TextSpan* spans, PyObject* list) noexcept
      : text_(text), spans_(spans), items_(reinterpret_cast<PyListObject*>(list)->ob_item) {}

  std::uint64_t make(std::size_t i) {
    PyObject* s = py::new_str_or_throw(span_text(text_, spans_[i]));
    items_[i] = s;
    return reinterpret_cast<std::uintptr_t>(s);
  }
  bool same(std::uint64_t value, std::size_t i) const noexcept {
    return py::str_equals_utf8(as_str(value), span_text(text_, spans_[i]));
  }
  void reuse(std::uint64_t value, std::size_t i) noexcept { items_[i] = Py_NewRef(as_str(value)); }
  bool same_item(std::size_t j, std::size_t i) const noexcept {
    return py::str_equals_utf8(items_[j], span_text(text_, spans_[i]));
  }
  void reuse_item(std::size_t j, std::size_t i) noexcept { items_[i] = Py_NewRef(items_[j]); }
  void prefetch_slot(std::size_t j) const noexcept { __builtin_prefetch(&items_[j]); }
  // A slot not filled yet holds null, whose prefetch does nothing.
  void prefetch_value(std::size_t j) const noexcept { __builtin_prefetch(items_[j], 1); }

 private:
  static PyObject* as_str(std::uint64_t value) noexcept {
    return reinterpret_cast<PyObject*>(static_cast<std::uintptr_t>(value));
  }

  std::string_view text_;
  const TextSpan* spans_;
  PyObject** items_;
};

}  // namespace

DedupLease::DedupLease() noexcept : scratch_(std::exchange(kept_dedup, DedupScratch{})) {}

DedupLease::~DedupLease() {
  if (kept_dedup.bytes() == 0 && scratch_.bytes() <= KEPT_DEDUP_BYTES) kept_dedup = std::move(scratch_);
}

TokenSpans::TokenSpans() : spans_(std::exchange(kept_spans, {})) { spans_.clear(); }

TokenSpans::~TokenSpans() {
  if (kept_spans.capacity() == 0 && spans_.capacity() * sizeof(TextSpan) <= KEPT_SPAN_BYTES) {
    kept_spans = std::move(spans_);
  }
}

PyObject* interned_list_of_spans(std::string_view text, const TokenSpans& spans) {
  py::PyRef list = py::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(spans.size())));
  if (!list) return py::pending_error();
  DedupLease lease;
  ListInterner interner(text, spans.data(), list.get());
  // On a throw the slots from the failing span on are null, which the list's release skips.
  intern_keys(SpanKeys<>{text, spans.data()}, spans.size(), lease.scratch(), interner);
  return list.release();
}

}  // namespace quillex::engine
