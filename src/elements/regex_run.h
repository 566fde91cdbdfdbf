// ByteClass: a set of bytes with its scans, 16 bytes at a time where the set allows (64 with AVX2, for any set). It
// serves the Regex element twice: as the bytes that may start a match (the next candidate position), and as the class
// of a pattern that is one character class repeated ("[0-9]+", "\w*", "[^\n]*", ".*"), whose matches it finds and
// counts as byte runs. Over valid UTF-8 such a pattern's matches are runs of member bytes: a class whose
// non-ASCII part is none or all (regex_syntax's `run_class`) is a set of bytes in which every byte of a
// character is a member exactly when its first byte is (all of 0x80-0xFF are members, or none is). So a run
// that starts on a character boundary ends on one, and the greedy repetition ends exactly where the run does.
// No RE2 here.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <string_view>

#include "elements/element.h"
#include "elements/literals.h"
#include "elements/simd.h"

namespace quillex {

class ByteClass {
 public:
  ByteClass() noexcept = default;  // no member
  explicit ByteClass(const std::bitset<256>& members) noexcept;

  bool contains(unsigned char b) const noexcept { return table_[b] != 0; }

  // The first i >= p whose byte is not a member, or the length.
  Pos run_end(std::string_view text, Pos p, Simd simd = best_simd()) const noexcept {
    return find(text, p, false, simd);
  }
  // The first i >= p whose byte is a member, or the length.
  Pos next_member(std::string_view text, Pos p, Simd simd = best_simd()) const noexcept {
    return find(text, p, true, simd);
  }

  // For a class run (`members` having 0x80-0xFF all set or all clear; `star`: '*' rather than '+'), the number
  // of matches of the unanchored iteration (for_each_regex_match) over `text`, from the match ends
  // alone:
  //  - '+': one per maximal run of members;
  //  - '*': one per run, and one empty match at every character boundary p in [0, length] that neither holds
  //    a member nor directly follows one (the empty match at a run's end follows that match, so it is
  //    skipped; the iteration then steps a whole character on).
  // Example, "[0-9]*" over "ab1": runs {2}; empty at 0 and 1, not at 3 (it follows '1'): 3.
  std::uint64_t count_run_matches(std::string_view text, bool star, Simd simd = best_simd()) const noexcept;

 private:
  // The first i >= p whose membership is `member`, or the length.
  Pos find(std::string_view text, Pos p, bool member, Simd simd) const noexcept;

  ByteTable table_{};
  NibbleSet nibbles_;  // the members as the 32-byte paths test them
  // The members as at most 4 ranges [lo, lo + span] tested 16 bytes at a time; 0 when they need more (the
  // table is then read byte by byte).
  std::uint8_t ranges_ = 0;
  std::array<std::uint8_t, 4> lo_{};
  std::array<std::uint8_t, 4> span_{};
  // The one member byte, or the one byte that is no member (a line break for "[^\n]*"), when there is one:
  // memchr then finds the next member or a run's end.
  int only_member_ = -1;
  int only_outsider_ = -1;
};

}  // namespace quillex
