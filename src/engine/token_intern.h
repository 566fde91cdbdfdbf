// The list of a search's tokens, equal texts sharing one str: the spans are recorded first (TokenSpans), then
// interned_list_of_spans finds the first occurrence of every text (engine/token_dedup.h) and makes one str for
// each, in text order, straight into the list.
//
// The working memory (the spans, the dedup tables) is kept between calls: a search over a large text would
// otherwise map fresh memory for it every time, and touching a fresh page costs far more than reusing a warm
// one. A call takes the kept memory for itself and gives it back when it ends, so a call that starts while
// another holds it (a finaliser run by an allocation, another thread while the interpreter lock is let go) gets
// memory of its own; what comes back larger than the limits below is freed instead of kept. Everything runs
// under the interpreter lock.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "engine/token_dedup.h"
#include "py/pyref.h"

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

// The list of the slices of `text` for `spans` (non-empty, in text order), made at its final length, equal
// slices sharing one str. nullptr with the interpreter's error when the list cannot be made; std::bad_alloc
// when a str or the working memory cannot be had (the list made so far is released).
[[nodiscard]] PyObject* interned_list_of_spans(std::string_view text, const TokenSpans& spans);

}  // namespace quillex::engine
