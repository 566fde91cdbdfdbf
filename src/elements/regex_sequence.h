// ByteSequence: a Regex pattern that is a plain sequence of literal bytes and counted byte classes
// (regex_syntax::read_sequence), matched by a walk over the bytes instead of RE2. The reader admits only
// sequences in which no repetition ever has to give a character back, so the greedy walk is RE2's
// leftmost-first match at a position, and fails exactly where RE2 finds none. The walk keeps to character
// boundaries: a literal is whole characters, an ASCII class takes ASCII bytes, and a class holding every
// non-ASCII character counts whole characters and, unbounded, ends its run on a boundary (see regex_run.h).
// The searches find candidate starts by a literal (the leading one, or one at a fixed distance from the start
// whose bytes are rarer than the first class's), or else by a class of the bytes a match may start with. No
// RE2 and no Python here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "elements/element.h"
#include "elements/regex_run.h"
#include "elements/regex_syntax.h"

namespace quillex {

class ByteSequence {
 public:
  static constexpr std::uint32_t UNBOUNDED = UINT32_MAX;

  // A run of literal bytes (`literal` non-empty), or a class taken `min` to `max` times, a time being one byte
  // or, when `by_char`, one character (the class then holds every non-ASCII character).
  struct Step {
    std::string literal;
    ByteClass cls;
    std::uint32_t min = 0;
    std::uint32_t max = 0;
    bool by_char = false;
  };

  // The outcome of a walk: on success the match's end; on failure the position where it stopped. `first_end`
  // is where the first step's run ended (meaningful when the walk began at the first step).
  struct Walk {
    bool matched;
    Pos end;
    Pos first_end;
  };

  // Items as regex_syntax::read_sequence gives them; consecutive literals become one step.
  explicit ByteSequence(const std::vector<regex_syntax::SequenceItem>& items);

  // The walk from `pos` (a character boundary) over the steps from `from_step` on.
  Walk walk(std::string_view text, Pos pos, std::size_t from_step = 0) const noexcept;

  // The anchored match at `pos`, a character boundary.
  MatchResult match(std::string_view text, Pos pos) const noexcept {
    const Walk w = walk(text, pos);
    return {w.matched, w.matched ? w.end : 0};
  }

  // Every step may take nothing: the walk never fails, and a search's match starts where it starts.
  bool may_be_empty() const noexcept { return may_be_empty_; }
  // A literal step every match holds at `anchor_offset()` bytes from its start (the steps before it take a
  // fixed number of bytes), by which the searches find candidates: the leading literal when there is one
  // (offset 0), else one whose rarest byte is rarer than the first class's commonest. Empty: none.
  std::string_view anchor() const noexcept { return anchor_; }
  Pos anchor_offset() const noexcept { return anchor_offset_; }
  // Without an anchor: the bytes a non-empty match may start with (those of the classes up to the first step
  // that takes at least one character), continuation bytes left out.
  const ByteClass& first() const noexcept { return first_; }
  // The first step is a class with no upper bound: a walk that failed from p fails from every position of the
  // run it took there, since each such walk ends that run at the same place and goes on from there alike (or
  // takes fewer than its minimum).
  bool first_is_run() const noexcept { return first_is_run_; }
  const std::vector<Step>& steps() const noexcept { return steps_; }

 private:
  std::vector<Step> steps_;
  std::string anchor_;
  Pos anchor_offset_ = 0;
  ByteClass first_;
  bool may_be_empty_ = true;
  bool first_is_run_ = false;
};

}  // namespace quillex
