// The list of a search's tokens, equal texts sharing one str (engine/token_dedup.h finds the first occurrence of
// every text; one str is made for each, in text order, straight into the list). Two ways in: a search that knows
// its number of tokens first makes a CountedTokenList of that length and adds each span as it finds it, so that the
// common case (texts that repeat) is settled while the text is still in the cache; one that does not records its
// spans (TokenSpans) and hands them to interned_list_of_spans.
//
// The working memory (the spans, the dedup tables) is kept between calls: a search over a large text would
// otherwise map fresh memory for it every time, and touching a fresh page costs far more than reusing a warm
// one. A call takes the kept memory for itself and gives it back when it ends, so a call that starts while
// another holds it (a finaliser run by an allocation, another thread while the interpreter lock is let go) gets
// memory of its own; what comes back larger than the limits below is freed instead of kept. Everything runs
// under the interpreter lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/token_dedup.h"
#include "py/pyref.h"
#include "py/str_units.h"

namespace quillex::engine {

// The most memory kept for the next call: a span buffer up to KEPT_SPAN_BYTES (some 2 million spans), and dedup
// tables up to KEPT_DEDUP_BYTES together (enough for about as many tokens, or a million batch inputs).
inline constexpr std::size_t KEPT_SPAN_BYTES = std::size_t{32} << 20;
inline constexpr std::size_t KEPT_DEDUP_BYTES = std::size_t{48} << 20;

// The working memory of one call that finds repeated keys (engine/token_dedup.h): the kept memory when no other
// call holds it, else memory of its own. Given back (or freed) when the lease ends.
class DedupLease {
 public:
  DedupLease() noexcept;
  ~DedupLease();
  DedupLease(const DedupLease&) = delete;
  DedupLease& operator=(const DedupLease&) = delete;

  DedupScratch& scratch() noexcept { return scratch_; }

 private:
  DedupScratch scratch_;
};

// The spans of a search's tokens in text order, in a buffer kept between calls. `push` and `reserve` throw
// std::bad_alloc when the buffer cannot grow.
class TokenSpans {
 public:
  TokenSpans();
  ~TokenSpans();
  TokenSpans(const TokenSpans&) = delete;
  TokenSpans& operator=(const TokenSpans&) = delete;

  void reserve(std::size_t n) { spans_.reserve(n); }
  void push(Pos start, Pos end) { spans_.push_back({start, end}); }
  std::size_t size() const noexcept { return spans_.size(); }
  bool empty() const noexcept { return spans_.empty(); }
  const TextSpan* data() const noexcept { return spans_.data(); }

 private:
  std::vector<TextSpan> spans_;
};

// The interner of a token list (engine/token_dedup.h): a span's value is its str in the list slot of the span
// (the slot's reference). A text's first occurrence gets a new str; every later one that str again, one more
// reference. Slots not filled yet are null. The text is UTF-8 (unit kind 0), or a str's own units of 1, 2 or 4
// bytes seen as bytes (py/str_units.h), the spans then cut at unit boundaries.
class ListInterner {
 public:
  ListInterner(std::string_view text, unsigned unit_kind, const TextSpan* spans, PyObject* list) noexcept
      : text_(text), unit_kind_(unit_kind), spans_(spans), items_(reinterpret_cast<PyListObject*>(list)->ob_item) {}

  std::uint64_t make(std::size_t i);
  bool same(std::uint64_t value, std::size_t i) const noexcept {
    const std::string_view t = span_text(text_, spans_[i]);
    if (unit_kind_ == 0) return py::str_equals_utf8(as_str(value), t);
    return py::str_equals_units(as_str(value), t.data(), unit_kind_, t.size() / unit_kind_);
  }
  void reuse(std::uint64_t value, std::size_t i) noexcept { items_[i] = Py_NewRef(as_str(value)); }
  bool same_item(std::size_t j, std::size_t i) const noexcept { return same(as_value(items_[j]), i); }
  void reuse_item(std::size_t j, std::size_t i) noexcept { items_[i] = Py_NewRef(items_[j]); }
  void prefetch_slot(std::size_t j) const noexcept { __builtin_prefetch(&items_[j]); }
  // A slot not filled yet holds null, whose prefetch does nothing.
  void prefetch_value(std::size_t j) const noexcept { __builtin_prefetch(items_[j], 1); }

 private:
  static PyObject* as_str(std::uint64_t value) noexcept {
    return reinterpret_cast<PyObject*>(static_cast<std::uintptr_t>(value));
  }
  static std::uint64_t as_value(PyObject* s) noexcept {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(s));
  }

  std::string_view text_;
  unsigned unit_kind_;
  const TextSpan* spans_;
  PyObject** items_;
};

// A token list made at the length the search counted: `open(count)` (count >= 1), then `add` for each of the
// count spans in text order (the tokens of repeated texts are settled at once), then `finish`. Equal slices
// share one str. The text and the spans' offsets are in bytes, of UTF-8 or of units (ListInterner).
// `add` and `finish` throw std::bad_alloc when a str or the working memory cannot be had; the list made so far
// is then released with the CountedTokenList.
class CountedTokenList {
 public:
  explicit CountedTokenList(std::string_view text, unsigned unit_kind = 0) noexcept
      : text_(text), unit_kind_(unit_kind) {}
  CountedTokenList(const CountedTokenList&) = delete;
  CountedTokenList& operator=(const CountedTokenList&) = delete;

  // False with the interpreter's error when the list cannot be made.
  [[nodiscard]] bool open(std::size_t count);
  std::size_t size() const noexcept { return spans_.size(); }
  void add(Pos start, Pos end) {
    spans_.push(start, end);
    interning_->next();
  }
  // The list (a new reference).
  [[nodiscard]] PyObject* finish();

 private:
  std::string_view text_;
  unsigned unit_kind_;
  py::PyRef list_;
  TokenSpans spans_;  // room for every span from open() on, so that their address holds
  DedupLease lease_;
  std::optional<ListInterner> interner_;
  std::optional<SpanKeys<>> keys_;
  std::optional<KeyInterning<SpanKeys<>, ListInterner>> interning_;
};

// The list of the slices [start, end) of `text` for `spans` (non-empty, in text order), made at its final
// length, equal slices sharing one str. nullptr with the interpreter's error when the list cannot be made;
// std::bad_alloc when a str or the working memory cannot be had (the list made so far is released).
[[nodiscard]] PyObject* interned_list_of_spans(std::string_view text, const TokenSpans& spans);

}  // namespace quillex::engine
