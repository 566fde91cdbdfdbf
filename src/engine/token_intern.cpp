#include "engine/token_intern.h"

#include <utility>

#include "py/errors.h"

namespace quillex::engine {

namespace {

// The memory kept between calls, empty while a call holds it.
std::vector<TextSpan> kept_spans;
DedupScratch kept_dedup;

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

std::uint64_t ListInterner::make(std::size_t i) {
  const std::string_view t = span_text(text_, spans_[i]);
  PyObject* s = unit_kind_ == 0 ? py::new_str_or_throw(t)
                                : py::new_str_of_units_or_throw(t.data(), unit_kind_, t.size() / unit_kind_);
  items_[i] = s;
  return as_value(s);
}

bool CountedTokenList::open(std::size_t count) {
  list_ = py::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(count)));
  if (!list_) {
    (void)py::pending_error();
    return false;
  }
  spans_.reserve(count);
  interner_.emplace(text_, unit_kind_, spans_.data(), list_.get());
  keys_.emplace(SpanKeys<>{text_, spans_.data()});
  interning_.emplace(*keys_, count, lease_.scratch(), *interner_);
  return true;
}

PyObject* CountedTokenList::finish() {
  interning_->finish();
  return list_.release();
}

PyObject* interned_list_of_spans(std::string_view text, const TokenSpans& spans) {
  py::PyRef list = py::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(spans.size())));
  if (!list) return py::pending_error();
  DedupLease lease;
  ListInterner interner(text, 0, spans.data(), list.get());
  // On a throw the slots from the failing span on are null, which the list's release skips.
  intern_keys(SpanKeys<>{text, spans.data()}, spans.size(), lease.scratch(), interner);
  return list.release();
}

}  // namespace quillex::engine
