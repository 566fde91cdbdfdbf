// StartBytes: the bytes at which a match of an element can start, found once per method call by reading the
// grammar, so that a scan need not enter the element at positions that cannot start a match.
//
// The promise, for an element e that is not `any()`: whenever e.try_match_at(text, p) matches with p below the
// length, text[p] is admitted. Nothing is promised at p == length (no scan tries it). A set is a necessary
// condition only: admitted bytes still need the element's own test.
//
// Each kind's rule is what its own test checks first: a fixed text its first byte, a Word its initial
// characters (the ASCII ones as bytes, the characters U+0080..U+00FF as their lead bytes 0xC2 and 0xC3), a Regex
// the first bytes of its fast form when it cannot match empty, an And its first child (every match of an And
// starts with a match of its first child at the same position), a MatchFirst the union of its alternatives.
// Kinds that can match where their first byte says nothing (a zero-length match, the positions tested by what
// precedes them) are `any`.
//
// Reading a Forward follows its inner element as it is set now; a method call holds the interpreter lock, so
// the inner element cannot change before the call ends. The reading is bounded (a depth of a few levels and a
// number of visited elements); past either bound the answer is `any`, which also ends cycles through a Forward.
// Within those bounds, a position whose byte is not admitted fails after a bounded nesting (at most the depth
// read), so skipping it cannot hide a failure of the recursion bound either.
#pragma once

#include <bitset>
#include <string_view>

#include "elements/element.h"
#include "elements/regex_run.h"

namespace quillex {

class StartBytes {
 public:
  // Admits every byte: no position is skipped.
  static StartBytes any() noexcept { return StartBytes(); }
  // Admits the members of `bytes` alone (none: the element matches at no position below the length).
  static StartBytes of(const std::bitset<256>& bytes) noexcept { return StartBytes(bytes); }

  bool is_any() const noexcept { return any_; }
  bool admits(unsigned char b) const noexcept { return any_ || bytes_.contains(b); }

  // The first position at or after `pos` whose byte is admitted, or text.size() when there is none. The first
  // few bytes are tested one by one: a scan resumes at a match's end or after a failure, where the next
  // candidate is mostly a byte or two away, and the block scan costs more to set up than those tests.
  [[nodiscard]] Pos next_candidate(std::string_view text, Pos pos) const noexcept {
    const Pos n = text.size();
    if (any_) return pos < n ? pos : n;
    for (const Pos near = pos + 8 < n ? pos + 8 : n; pos < near; ++pos) {
      if (bytes_.contains(static_cast<unsigned char>(text[pos]))) return pos;
    }
    return pos < n ? bytes_.next_member(text, pos) : n;
  }

 private:
  StartBytes() noexcept = default;
  explicit StartBytes(const std::bitset<256>& bytes) noexcept : bytes_(bytes), any_(false) {}
  ByteClass bytes_;
  bool any_ = true;
};

// The start bytes of `element` as its grammar stands now. Allocates nothing; bounded work.
[[nodiscard]] StartBytes start_bytes(const Element& element) noexcept;

}  // namespace quillex
