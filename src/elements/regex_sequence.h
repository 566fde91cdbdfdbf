// ByteSequence: a Regex pattern that is a plain sequence of literal bytes and counted byte classes
// (regex_syntax::read_sequence), matched by a walk over the bytes instead of RE2. The reader admits only
// sequences in which no repetition ever has to give a character back, so the greedy walk is RE2's
// leftmost-first match at a position, and fails exactly where RE2 finds none. The walk keeps to character
// boundaries: a literal is whole characters, an ASCII class takes ASCII bytes, and a class holding every
// non-ASCII character counts whole characters and, unbounded, ends its run on a boundary (see regex_run.h).
// The searches find candidate starts by the rarest of the items they may be found by: the bytes a match may
// start with, or an anchor, a literal or class that stands at a fixed distance from the start or right after
// the run of an unbounded first class. No RE2 and no Python here.
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

  // Items as regex_syntax::read_sequence gives them. Consecutive literals become one step, and a class after
  // a fixed count of the same class adds to that count ("\d\d+" is "\d{2,}").
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
  // How the searches of a sequence that is never empty find candidate starts (SequenceFinder):
  //  - First: at the bytes of `first()`;
  //  - Fixed: by the anchor, which stands `anchor_offset()` bytes after the start of every match (the steps
  //    before it take a fixed number of bytes);
  //  - AfterRun: by the anchor, which stands where the run of the first step (a class with no upper bound)
  //    ends; a match starts where that run begins. Taken only when runs also end at bytes commoner than the
  //    anchor: were nearly every run to end at one, each would be read twice.
  // The anchor is a step that takes at least one character: a literal (`anchor()`), or else a class whose
  // members' bytes, continuation bytes left out, are `anchor_class()` (the first bytes of that step). Of the
  // candidate sources the rarest is taken, by the rank of bytes in ordinary text: a literal's rarest byte
  // against a class's commonest; the first bytes on a tie, then the earlier step. Examples: "end" and
  // "\"[^\"\n]*\"" search their first literal, "[a-z]=\d+" its '=' one byte on, "[a-z]{3}\d" its digit
  // three bytes on, "\w+@\w+" its '@' after the run, "[xz] e" the bytes x and z.
  enum class Search : std::uint8_t { First, Fixed, AfterRun };
  Search search() const noexcept { return search_; }
  std::string_view anchor() const noexcept { return anchor_; }
  const ByteClass& anchor_class() const noexcept { return anchor_class_; }
  Pos anchor_offset() const noexcept { return anchor_offset_; }
  // The step after the anchor, when the anchor is the first step (a walk then starts after it).
  std::size_t anchor_step() const noexcept { return anchor_step_; }
  // The bytes a non-empty match may start with (those of the classes up to the first step that takes at
  // least one character), continuation bytes left out.
  const ByteClass& first() const noexcept { return first_; }
  // The first step is a class with no upper bound: a walk that failed from p fails from every position of the
  // run it took there, since each such walk ends that run at the same place and goes on from there alike (or
  // takes fewer than its minimum).
  bool first_is_run() const noexcept { return first_is_run_; }
  const std::vector<Step>& steps() const noexcept { return steps_; }

 private:
  std::vector<Step> steps_;
  Search search_ = Search::First;
  std::string anchor_;
  ByteClass anchor_class_;
  Pos anchor_offset_ = 0;
  std::size_t anchor_step_ = 0;
  ByteClass first_;
  bool may_be_empty_ = true;
  bool first_is_run_ = false;
};

}  // namespace quillex
