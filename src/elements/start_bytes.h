// StartBytes: the bytes at which a match of an element can start, found once per method call by reading the
// grammar, so that a scan need not enter the element at positions that cannot start a match.
//
// The promise, for an element e that is not `any()`: whenever e.try_match_at(text, p) matches with p below the
// length, text[p] is admitted. Nothing is promised at p == length (no scan tries it). A set is a necessary
// condition only: admitted bytes still need the element's own test.
//
// Each kind's rule is what its own test checks first: a fixed text its first byte, a Word its initial
// characters (the ASCII ones as bytes, the characters U+0080..U+00FF as their lead bytes 0xC2 and 0xC3), an And
// its first child (every match of an And starts with a match of its first child at the same position), a
// MatchFirst the union of its alternatives. Kinds that can match where their first byte says nothing (a zero
// length match, a Regex, the positions tested by what precedes them) are `any`.
//
// Reading a Forward follows its inner element as it is set now; a method call holds the interpreter lock, so
// the inner element cannot change before the call ends. The reading is bounded (a depth of a few levels and a
// number of visited elements); past either bound the answer is `any`, which also ends cycles through a Forward.
// Within those bounds, a position whose byte is not admitted fails after a bounded nesting (at most the depth
// read), so skipping it cannot hide a failure of the recursion bound either.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "elements/element.h"

namespace quillex {

class StartBytes {
 public:
  // Admits every byte: no position is skipped.
  static StartBytes any() noexcept { return StartBytes(true); }
  // Admits none: the element matches at no position below the length.
  static StartBytes none() noexcept { return StartBytes(false); }

  bool is_any() const noexcept { return any_; }
  bool admits(unsigned char b) const noexcept { return any_ || table_[b] != 0; }
  std::size_t count() const noexcept { return any_ ? 256 : count_; }

  void add(unsigned char b) noexcept {
    if (any_ || table_[b] != 0) return;
    table_[b] = 1;
    ++count_;
    single_ = b;
  }
  void merge(const StartBytes& other) noexcept;

  // The first position at or after `pos` whose byte is admitted, or text.size() when there is none.
  [[nodiscard]] Pos next_candidate(std::string_view text, Pos pos) const noexcept;

 private:
  explicit StartBytes(bool any) noexcept : any_(any) {}
  std::array<std::uint8_t, 256> table_{};
  std::uint16_t count_ = 0;
  unsigned char single_ = 0;  // the member added last: the only one when count_ == 1
  bool any_;
};

// The start bytes of `element` as its grammar stands now. Allocates nothing; bounded work.
[[nodiscard]] StartBytes start_bytes(const Element& element) noexcept;

}  // namespace quillex
