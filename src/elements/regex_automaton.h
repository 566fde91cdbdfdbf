// CharAutomaton: a Regex pattern read as a tree (regex_syntax::read_tree) turned into a deterministic automaton
// over characters that finds RE2's leftmost-first match at a position without RE2. It serves the patterns a plain
// sequence cannot hold: alternations ("true|false|null"), optional and repeated groups
// ("-?\d+(\.\d+)?([eE][+-]?\d+)?", "\"(?:[^\"\\]|\\.)*\""), counts that may give characters back ("a*a").
//
// How it keeps RE2's priorities. Each character or class of the pattern is a position. For every position the
// build lists, in priority order, the positions that may take the next character after it, and the end of the
// pattern (a match) where the pattern may end there; the list for the start says the same before the first
// character. Priority is leftmost-first's: an alternation's branches in order, a greedy count's next round
// before what follows it, a lazy count's the other way round. A state of the automaton is such a list: the
// threads alive at a point of the text, highest priority first, each a position about to take a character. A
// character moves every thread whose position takes it, in order, to that position's list; a position already
// listed by a thread of higher priority is dropped (both would match alike, and the higher one would win), and
// so is everything after the match (a match reached first is the answer of every thread below it). So a state
// that holds the match is a match of higher priority than any found before, and the walk goes on while threads
// of still higher priority live: RE2's answer is the match of the last such state, or none when no state held
// one. This is how RE2's own automaton keeps leftmost-first; with no assertion and no flag in the pattern, the
// state is all there is to the future of a match. Example: "a|ab" has the positions a1, a2 and b, and starts in
// [a1, a2]; 'a' leads to [match, b], cut to [match], so the match is "a" even in "ab". "ab|a" leads to
// [b, match]: the walk goes on, "ab" matches "ab", and "ax" falls back to the "a" of the last match seen.
//
// Characters: ASCII bytes, each non-ASCII character the pattern writes literally, and every other non-ASCII
// character as one more symbol. The walk takes whole characters, so a match ends on a character boundary. A
// repetition of a part that may match empty, and a pattern with more positions or states than the limits, get
// no automaton (RE2 keeps such patterns). No RE2 and no Python here.
#pragma once

#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "elements/element.h"
#include "elements/regex_run.h"
#include "elements/regex_syntax.h"

namespace quillex {

class CharAutomaton {
 public:
  static constexpr std::size_t MAX_POSITIONS = 128;
  static constexpr std::size_t MAX_STATES = 64;

  // The automaton of `tree`, or nullopt (a repeated part that may match empty, or past the limits).
  static std::optional<CharAutomaton> build(const regex_syntax::PatternNode& tree);

  // The outcome of a walk from a character boundary: whether a match was found and its end, and the position
  // where the walk stopped (its last character read ends there, or the walk read the byte there and found no
  // way on).
  struct Walk {
    bool matched;
    Pos end;
    Pos stop;
  };
  inline Walk walk(std::string_view text, Pos pos) const noexcept;

  MatchResult match(std::string_view text, Pos pos) const noexcept {
    const Walk w = walk(text, pos);
    return {w.matched, w.matched ? w.end : 0};
  }

  // The pattern matches empty at every position: a search's match starts where it starts.
  bool may_be_empty() const noexcept { return (start_ & ACCEPTS) != 0; }
  // The bytes a non-empty match may start with (lead bytes for non-ASCII characters).
  const ByteClass& first() const noexcept { return first_; }
  std::size_t state_count() const noexcept { return states_.size() - 1; }

  // Texts that lead the walk into every state, each alone and followed by one character of every way out of
  // the state (to each next state, and to none): for checking a reading against RE2. At most `limit` texts.
  std::vector<std::string> sample_texts(std::size_t limit) const;

 private:
  // An entry of the transition table: the next state's number (1 to MAX_STATES) in the low byte, and above it
  // what the walk does there, so that the walk has those bits with the number and reads a state's record only
  // for a run.
  using Entry = std::uint16_t;
  static constexpr Entry DEAD = 0;          // no way on
  static constexpr Entry ACCEPTS = 0x100;   // the state holds the match
  static constexpr Entry FINAL = 0x200;     // and nothing else: no character leads on from it
  static constexpr Entry LOOPS = 0x400;     // some characters lead back into the state (State::loop)
  // Instead of a state: the byte begins a non-ASCII character that the pattern writes literally, or another with
  // the same first byte; the character decides (State::wide_next).
  static constexpr Entry BY_CHAR = 0x800;

  struct State {
    // The bytes whose characters lead back into this state, when there are any: a run of them is one scan.
    // Non-ASCII bytes are members all together or not at all (regex_run.h), so a run ends on a boundary.
    ByteClass loop;
    // The loop's members as at most 4 ranges [lo, lo + span] (unused ones repeat the first), when they form so
    // few: the 16 bytes after a position are then tested at once, most runs ending among them.
    bool loop_ranges = false;
    __m128i lo[4];
    __m128i span[4];
    // By the index of a character in `wide_` (the last entry: any other non-ASCII character), the next state.
    std::vector<Entry> wide_next;
  };

  Entry entry(std::size_t state, unsigned char byte) const noexcept { return table_[state * 256 + byte]; }
  // The index in wide_ of the non-ASCII character at `pos` (wide_.size() when none).
  std::size_t wide_symbol(std::string_view text, Pos pos) const noexcept;

  // By state and by the byte a character begins with, the entry of the next state. Continuation bytes, which
  // begin no character, are DEAD. State 0 is the dead state.
  std::vector<Entry> table_;
  std::vector<State> states_;
  Entry start_ = DEAD;
  ByteClass first_;
  std::vector<char32_t> wide_;  // the non-ASCII characters the pattern writes literally
};

// Inline: a token's walk is a few steps, and it runs once per token of a grammar.
inline CharAutomaton::Walk CharAutomaton::walk(std::string_view text, Pos pos) const noexcept {
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  const Pos n = text.size();
  Entry e = start_;
  bool matched = false;
  Pos end = 0;
  for (;;) {
    const std::size_t state = e & 0xFF;
    if ((e & LOOPS) != 0) {
      const State& s = states_[state];
      // Most runs are short: the 16 bytes at pos at once (or one by one near the end) before the long scan.
      Pos stop;
      if (s.loop_ranges && n - pos >= 16) {
        // Byte x is in [lo, lo + span] exactly when (x - lo) mod 256 <= span (see regex_run.cpp).
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + pos));
        __m128i in = _mm_setzero_si128();
        for (int k = 0; k < 4; ++k) {
          const __m128i d = _mm_sub_epi8(x, s.lo[k]);
          in = _mm_or_si128(in, _mm_cmpeq_epi8(_mm_min_epu8(d, s.span[k]), d));
        }
        const unsigned out = ~static_cast<unsigned>(_mm_movemask_epi8(in)) & 0xFFFF;
        stop = pos + 16;
        pos = out != 0 ? pos + static_cast<Pos>(__builtin_ctz(out)) : stop;
      } else {
        stop = std::min<Pos>(n, pos + 16);
        while (pos < stop && s.loop.contains(t[pos])) ++pos;
      }
      if (pos == stop) pos = s.loop.run_end(text, pos);
    }
    if ((e & ACCEPTS) != 0) {
      matched = true;
      end = pos;
      if ((e & FINAL) != 0) break;
    }
    if (pos >= n) break;
    const unsigned char b = t[pos];
    Entry next = entry(state, b);
    if (next == DEAD) break;
    if (b < 0x80) {
      ++pos;
    } else {
      const unsigned len = utf8_char_len(b);
      if (n - pos < len) break;  // a stray lead byte at the end (never in a str's UTF-8)
      if (next == BY_CHAR) {
        next = states_[state].wide_next[wide_symbol(text, pos)];
        if (next == DEAD) break;
      }
      pos += len;
    }
    e = next;
  }
  return {matched, end, pos};
}

}  // namespace quillex
