// The word rule of the Word fast paths, over bytes: per-call byte tables, the run of body bytes after an initial
// byte, the branch-free word counter and the word scan. No Python here, so the pieces are tested on their own.
//
// The byte rule serves a Word whose sets hold only ASCII members (and whose limits are the constructor's, min 1
// and max 0): a word is then [p, word_run_end(p)) with t[p] in `init`, exactly what WordElement::match gives.
// Every byte of such a word is ASCII and a byte of 0x80 and above is never a member, so a word starts and ends on
// character boundaries. A Word with members U+0080..U+00FF takes those characters whole; its methods run the
// element's rule (`WordElement::match`) over the text instead.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "elements/chars.h"
#include "elements/literals.h"
#include "elements/simd.h"
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

// The words of a text and the bytes they cover, from one branch-free pass.
struct WordCoverage {
  std::uint64_t words;
  std::uint64_t bytes;
};

// The branch-free pass below over 64 bytes a step, for texts of the byte rule's tables; the bytes after the
// last whole step go to the byte-by-byte pass. Per step, with I the bits of the initial bytes and B those of
// the body bytes (NibbleLanes), the word bytes `in` are the bits of each run of I | B from its first initial
// byte on, found by one addition: adding I to M = I | B sends a carry from the run's first I bit through the
// rest of the run, which clears those bits of M + I except the later I bits (1 + 1 + carry keeps a 1); so
// in = (M & ~(M + I)) | I. The state carried from the step before enters as the addition's carry (a run that
// goes on from the last step is then already in a word). A byte starts a word where I & ~(B & before), with
// `before` the bits of `in` moved up by one.
// Example, "ab ba" with init {a}, body {a, b}: I = {0, 4}, M = {0, 1, 3, 4}; M + I = {2, 3, 5} (the carry
// from bit 0 runs through bit 1, the one from bit 4 out of the run), so in = {0, 1, 4}: the 'b' at 3 is in no
// word, as no initial byte leads its run; the words start at {0, 4}.
// `carry`, when given, holds the state before `from` (whether the byte before belongs to a word) and receives
// the state after `to`, so that a text can be covered in pieces.
[[nodiscard]] QUILLEX_AVX2 inline WordCoverage cover_words_avx2(const WordByteTables& tables, std::string_view text,
                                                                Pos from, Pos to, unsigned* carry = nullptr) noexcept;

// Ranges of fewer bytes than this take the byte-by-byte pass (the 32-byte one would do no whole step).
inline constexpr Pos WIDE_WORD_SCAN_MIN = 64;

// count_words_branchless: the number of words the word scan finds in text[from, to), from a fresh state. Per
// byte c, with `in` = "the byte before belongs to a word":
//   cont  = in & BODY[c]          (c continues that word)
//   count += INIT[c] & !cont      (c starts a word)
//   in    = cont | INIT[c]
// Example with init {a, b}, body {a}: "ab" counts 2 ('b' is no body byte, so it starts a word); with init {a},
// body {a, b}: "ab" counts 1. Two loads and a few bit operations per byte, no branch on the text.
[[nodiscard]] inline std::uint64_t count_words_branchless(const WordByteTables& tables, std::string_view text, Pos from,
                                                          Pos to, Simd simd = best_simd()) noexcept {
  if (simd == Simd::AVX2 && to - from >= WIDE_WORD_SCAN_MIN) return cover_words_avx2(tables, text, from, to).words;
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

// True when the branch-free rule below gives the element's words: the constructor's limits (min 1, max 0),
// whatever the sets hold.
[[nodiscard]] inline bool word_uses_branch_free_rule(const WordElement& w) noexcept {
  return w.min() <= 1 && w.max() == 0;
}

// WordStepper: the branch-free counter's step, also for sets with members U+0080..U+00FF (`Wide`), whose
// characters are two bytes (lead 0xC2 or 0xC3, then one continuation byte) and are tested whole by code point,
// as member_len does. Such a character's first byte carries the step (its code point read from both bytes,
// tested in the tables, which hold the code points 0x80-0xFF as entries 0x80-0xFF) and its second byte, the
// `tail`, keeps the state; any other byte of 0x80 and above is no member. The text is valid UTF-8, so a lead
// byte 0xC2 or 0xC3 is always followed by its continuation byte.
// Example with init {a, é}: "aé" (61 C3 A9): 'a' starts a word; C3 A9 is é (0xE9), a body member, so the word
// goes on; A9 is the tail and keeps it: one word covering 3 bytes.
template <bool Wide>
class WordStepper {
 public:
  // `in`: whether the byte before the first one stepped belongs to a word (a byte rule's state only).
  explicit WordStepper(const WordByteTables& tables, unsigned in = 0) noexcept
      : init_(tables.INIT.data()), body_(tables.BODY.data()), in_(in) {}

  // Byte b, with `next` the byte after it (0 at the text's end; read only when Wide). 1 when b starts a word;
  // in() then tells whether b belongs to a word.
  unsigned step(unsigned char b, [[maybe_unused]] unsigned char next) noexcept {
    if constexpr (!Wide) {
      const unsigned starts = init_[b];
      const unsigned cont = in_ & body_[b];
      in_ = cont | starts;
      return starts & (cont ^ 1u);
    } else {
      const unsigned lead = (b & 0xFEu) == 0xC2u;
      const unsigned unit = lead | (b < 0x80u);
      const unsigned code = lead != 0 ? ((b & 0x1Fu) << 6) | (next & 0x3Fu) : b;
      const unsigned starts = init_[code] & unit;
      const unsigned cont = in_ & body_[code] & unit;
      const unsigned first = starts & (cont ^ 1u) & (tail_ ^ 1u);
      in_ = tail_ != 0 ? in_ : cont | starts;
      tail_ = lead;
      return first;
    }
  }
  unsigned in() const noexcept { return in_; }

 private:
  const std::uint8_t* init_;
  const std::uint8_t* body_;
  unsigned in_;
  unsigned tail_ = 0;
};

// The byte after i, or 0 at the end.
inline unsigned char byte_after(const unsigned char* t, Pos n, Pos i) noexcept { return i + 1 < n ? t[i + 1] : 0; }

QUILLEX_AVX2 inline WordCoverage cover_words_avx2(const WordByteTables& tables, std::string_view text, Pos from,
                                                  Pos to, unsigned* carry) noexcept {
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  const NibbleLanes init{NibbleSet(tables.INIT)};
  const NibbleLanes body{NibbleSet(tables.BODY)};
  std::uint64_t words = 0;
  std::uint64_t covered = 0;
  // Whether the byte before the step belongs to a word, as bit 0.
  std::uint64_t last_in = carry != nullptr ? *carry : 0;
  Pos i = from;
  for (; to - i >= 64; i += 64) {
    const std::uint64_t starts = init.members64(t + i);
    const std::uint64_t cont = body.members64(t + i);
    const std::uint64_t runs = starts | cont;
    const std::uint64_t in = (runs & ~(runs + starts + last_in)) | starts;
    const std::uint64_t before = in << 1 | last_in;
    words += static_cast<std::uint64_t>(__builtin_popcountll(starts & ~(cont & before)));
    covered += static_cast<std::uint64_t>(__builtin_popcountll(in));
    last_in = in >> 63;
  }
  WordStepper<false> stepper(tables, static_cast<unsigned>(last_in));
  for (; i < to; ++i) {
    words += stepper.step(t[i], 0);
    covered += stepper.in();
  }
  if (carry != nullptr) *carry = stepper.in();
  return {words, covered};
}

// The words of a text and the bytes they cover, from one branch-free pass.
template <bool Wide>
[[nodiscard]] inline WordCoverage cover_words_branch_free(const WordByteTables& tables, std::string_view text,
                                                          Simd simd = best_simd()) noexcept {
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  const Pos n = text.size();
  if constexpr (!Wide) {
    if (simd == Simd::AVX2 && n >= WIDE_WORD_SCAN_MIN) return cover_words_avx2(tables, text, 0, n);
  }
  WordStepper<Wide> words(tables);
  std::uint64_t count = 0;
  std::uint64_t covered = 0;
  for (Pos i = 0; i < n; ++i) {
    count += words.step(t[i], Wide ? byte_after(t, n, i) : 0);
    covered += words.in();
  }
  return {count, covered};
}

// replace_words_branch_free: the text with every word replaced by `replacement` (at most 8 bytes), written
// into out[0, size), size being the result's exact size (from cover_words_branch_free). A byte outside words is
// copied, a word's first byte writes the replacement, its other bytes write nothing. Each byte stores 8 bytes
// at the output position j (the replacement, or the byte followed by zeros) and j advances by the part meant
// (r, 1 or 0); the next store overwrites the rest, so no byte depends on a branch. Example, init {a}, body
// {a, b}, replacement "#": "ab c" stores "#" at 0 (j = 1), "b" at 1 (j stays), " " at 1 (j = 2), "c" at 2
// (j = 3): "# c". The 8-byte stores stop where fewer than 8 output bytes remain; the rest is written exactly.
// Returns the number of bytes written: size when the sizes agree, size + 1 when the text asked for more or
// the replacement is longer (nothing is ever written past out[size)).
template <bool Wide>
[[nodiscard]] inline std::size_t replace_words_branch_free(const WordByteTables& tables, std::string_view text,
                                                           std::string_view replacement, char* out,
                                                           std::size_t size) noexcept {
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  const Pos n = text.size();
  const std::size_t r = replacement.size();
  if (r > 8) return size + 1;
  std::uint64_t packed = 0;  // the replacement's bytes in memory order (x86-64: little-endian)
  std::memcpy(&packed, replacement.data(), r);
  WordStepper<Wide> words(tables);
  std::size_t j = 0;
  Pos i = 0;
  for (; i < n && size - j >= 8; ++i) {
    const unsigned first = words.step(t[i], Wide ? byte_after(t, n, i) : 0);
    const std::uint64_t stored = first != 0 ? packed : t[i];
    std::memcpy(out + j, &stored, 8);
    j += first * r + (words.in() ^ 1u);
  }
  for (; i < n; ++i) {
    const unsigned first = words.step(t[i], Wide ? byte_after(t, n, i) : 0);
    const std::size_t k = first != 0 ? r : words.in() ^ 1u;
    if (k > size - j) return size + 1;
    if (first != 0) {
      std::memcpy(out + j, replacement.data(), r);
    } else if (k != 0) {
      out[j] = static_cast<char>(t[i]);
    }
    j += k;
  }
  return j;
}

// The branch-free rule over a str's own units (1, 2 or 4 bytes a code point) rather than its UTF-8 form. The
// tables hold the code points below 256 as their entries (the byte rule's sets are ASCII; the wide rule's
// members U+0080..U+00FF sit at 0x80-0xFF), so a code point below 256 is looked up as itself and any other as
// `outside`, an entry in neither table: a unit is then exactly one step of the rule, and words, their lengths
// and the text around them are counted in code points.
template <class U>
[[nodiscard]] inline unsigned char table_entry(U unit, unsigned char outside) noexcept {
  return unit < 256 ? static_cast<unsigned char>(unit) : outside;
}

// The words of `n` units and the code points they cover. The units are narrowed to their table entries a block
// at a time, into a buffer on the stack that the byte rule's pass covers, the state carried from one block to
// the next: a unit costs a compare and a store more than a byte of a UTF-8 text.
template <class U>
[[nodiscard]] inline WordCoverage cover_word_units(const WordByteTables& tables, const U* t, std::size_t n,
                                                   unsigned char outside, Simd simd = best_simd()) noexcept {
  constexpr std::size_t BLOCK = 4096;
  unsigned char entries[BLOCK];
  WordCoverage total{0, 0};
  unsigned in = 0;
  for (std::size_t at = 0; at < n; at += BLOCK) {
    const std::size_t k = std::min(BLOCK, n - at);
    for (std::size_t i = 0; i < k; ++i) entries[i] = table_entry(t[at + i], outside);
    WordCoverage block{0, 0};
    if (simd == Simd::AVX2 && k >= WIDE_WORD_SCAN_MIN) {
      block = cover_words_avx2(tables, {reinterpret_cast<const char*>(entries), k}, 0, k, &in);
    } else {
      WordStepper<false> words(tables, in);
      for (std::size_t i = 0; i < k; ++i) {
        block.words += words.step(entries[i], 0);
        block.bytes += words.in();
      }
      in = words.in();
    }
    total.words += block.words;
    total.bytes += block.bytes;
  }
  return total;
}

// The words of `n` units, in order, to on_word(start, end) in code points: the word scan (scan_words) with
// each unit tested in the tables as its code point, any code point above U+00FF being a member of neither set.
template <class U, class OnWord>
inline void scan_word_units(const WordByteTables& tables, const U* t, std::size_t n, OnWord&& on_word) {
  const auto in = [](const ByteTable& table, std::uint32_t u) { return u < 256 && table[u] != 0; };
  for (std::size_t p = 0; p < n;) {
    if (!in(tables.INIT, t[p])) {
      ++p;
      continue;
    }
    std::size_t end = p + 1;
    while (end < n && in(tables.BODY, t[end])) ++end;
    on_word(p, end);
    p = end;
  }
}

// As replace_words_branch_free, in units of 2 or 4 bytes: a unit outside words stores itself at j, a word's
// first unit the replacement (up to 8 units); j advances by r, 1 or 0. Returns the units written (size + 1 when the text
// asked for more).
template <class U>
[[nodiscard]] inline std::size_t replace_word_units(const WordByteTables& tables, const U* t, std::size_t n,
                                                    const U* replacement, std::size_t r, unsigned char outside,
                                                    U* out, std::size_t size) noexcept {
  if (r > 8) return size + 1;
  U packed[8] = {};
  std::memcpy(packed, replacement, r * sizeof(U));
  WordStepper<false> words(tables);
  std::size_t j = 0;
  std::size_t i = 0;
  // The 8 units stored are chosen in registers, by a mask of the step's `first`: the replacement's, or the
  // unit followed by zeros (which the next store overwrites).
  static_assert(sizeof(U) == 2 || sizeof(U) == 4);
  __m128i lo_packed;
  __m128i hi_packed = _mm_setzero_si128();
  std::memcpy(&lo_packed, packed, 16);
  if constexpr (sizeof(U) == 4) std::memcpy(&hi_packed, reinterpret_cast<const char*>(packed) + 16, 16);
  for (; i < n && size - j >= 8; ++i) {
    const unsigned first = words.step(table_entry(t[i], outside), 0);
    const __m128i mask = _mm_set1_epi32(-static_cast<int>(first));
    const __m128i single = _mm_cvtsi32_si128(static_cast<int>(t[i]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j),
                     _mm_or_si128(_mm_and_si128(mask, lo_packed), _mm_andnot_si128(mask, single)));
    if constexpr (sizeof(U) == 4) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j + 4), _mm_and_si128(mask, hi_packed));
    }
    j += first * r + (words.in() ^ 1u);
  }
  for (; i < n; ++i) {
    const unsigned first = words.step(table_entry(t[i], outside), 0);
    const std::size_t k = first != 0 ? r : words.in() ^ 1u;
    if (k > size - j) return size + 1;
    if (first != 0) {
      std::memcpy(out + j, replacement, r * sizeof(U));
    } else if (k != 0) {
      out[j] = t[i];
    }
    j += k;
  }
  return j;
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
