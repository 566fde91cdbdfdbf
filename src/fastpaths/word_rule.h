// The word rule of the Word fast paths, over bytes: per-call byte tables, the run of body bytes after an initial
// byte, the branch-free word counter and the word scan. No Python here, so the pieces are tested on their own.
//
// The byte rule serves a Word whose sets hold only ASCII members (and whose limits are the constructor's, min 1
// and max 0): a word is then [p, word_run_end(p)) with t[p] in `init`, exactly what WordElement::match gives.
// Every byte of such a word is ASCII and a byte of 0x80 and above is never a member, so a word starts and ends on
// character boundaries. A Word with members U+0080..U+00FF takes those characters whole; its methods run the
// element's rule (`WordElement::match`) over the text instead.
#pragma once

#include <cstdint>
#include <string_view>

#include "elements/chars.h"
#include "elements/literals.h"
#include "engine/scan.h"

namespace quillex::fastpaths {

// True when the byte rule gives what WordElement::match gives on every text (see above).
[[nodiscard]] inline bool word_uses_byte_rule(const WordElement& w) noexcept {
  return !w.init().has_wide() && !w.body().has_wide() && w.min() <= 1 && w.max() == 0;
}

// expand_byte_set: the 0/1 table of a ByteBitSet, entry b being bit (b % 64) of word (b / 64).
// Example: {'a'} (bit 33 of word 1) gives table['a'] = table[97] = (words[1] >> 33) & 1 = 1. The loop has no
// dependence between entries and compiles to vector shifts.
[[nodiscard]] inline ByteTable expand_byte_set(const ByteBitSet& set) noexcept {
  ByteTable table{};
  for (unsigned b = 0; b < 256; ++b) table[b] = static_cast<std::uint8_t>((set.words[b >> 6] >> (b & 63)) & 1);
  return table;
}

// The two tables of one call, rebuilt from the element's sets each time (512 bytes on the caller's stack), so a
// text byte costs one load instead of shift-and-mask arithmetic.
struct WordByteTables {
  ByteTable INIT;
  ByteTable BODY;
  explicit WordByteTables(const WordElement& w) noexcept
      : INIT(expand_byte_set(w.init())), BODY(expand_byte_set(w.body())) {}
};

inline bool member(const ByteBitSet& set, unsigned char b) noexcept { return set.contains(b); }
inline bool member(const ByteTable& table, unsigned char b) noexcept { return table[b] != 0; }

// word_run_end: for p < text.size() with t[p] an initial byte, the first i > p whose byte is not in `body`, or
// the text's end. Single bytes are tested; nothing is decoded. `Body` is a ByteBitSet (one-off tests) or a
// ByteTable (scans).
template <class Body>
[[nodiscard]] inline Pos word_run_end(const Body& body, std::string_view text, Pos p) noexcept {
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  const Pos n = text.size();
  Pos i = p + 1;
  while (i < n && member(body, t[i])) ++i;
  return i;
}

// count_words_branchless: the number of words the word scan finds in text[from, to), from a fresh state. Per
// byte c, with `in` = "the byte before belongs to a word":
//   cont  = in & BODY[c]          (c continues that word)
//   count += INIT[c] & !cont      (c starts a word)
//   in    = cont | INIT[c]
// Example with init {a, b}, body {a}: "ab" counts 2 ('b' is no body byte, so it starts a word); with init {a},
// body {a, b}: "ab" counts 1. Two loads and a few bit operations per byte, no branch on the text.
[[nodiscard]] inline std::uint64_t count_words_branchless(const WordByteTables& tables, std::string_view text, Pos from,
                                                          Pos to) noexcept {
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  const std::uint8_t* init = tables.INIT.data();
  const std::uint8_t* body = tables.BODY.data();
  unsigned in = 0;
  std::uint64_t count = 0;
  for (Pos i = from; i < to; ++i) {
    const unsigned starts = init[t[i]];
    const unsigned cont = in & body[t[i]];
    count += starts & (cont ^ 1u);
    in = cont | starts;
  }
  return count;
}

// The word scan of the byte rule: each word [start, end) of `text` in order, to `on_word(start, end)`. At an
// initial byte a word runs to word_run_end and the scan resumes at its end; any other byte is stepped over.
// This is scan_matches over the byte rule, so it finds exactly the matches the common routines find.
template <class OnWord>
inline void scan_words(const WordByteTables& tables, std::string_view text, OnWord&& on_word) {
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  engine::scan_matches<false>(
      text,
      [&tables, t](std::string_view s, Pos pos) -> MatchResult {
        if (tables.INIT[t[pos]] == 0) return {false, 0};
        return {true, word_run_end(tables.BODY, s, pos)};
      },
      on_word);
}

// The word scan of the element's rule, for sets with members U+0080..U+00FF (characters taken whole). Word
// matching never nests, so the scan has no recursion check.
template <class OnWord>
inline void scan_element_words(const WordElement& w, std::string_view text, OnWord&& on_word) {
  engine::scan_matches<false>(
      text, [&w](std::string_view s, Pos pos) { return w.match(s, pos); }, on_word);
}

}  // namespace quillex::fastpaths
