// The occurrence counter of the Keyword methods. No Python here: the methods' bodies live in keyword.cpp.
#pragma once

#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "elements/literals.h"
#include "elements/simd.h"
#include "elements/substring_search.h"
#include "fastpaths/literal.h"
#include "py/code_units.h"

namespace quillex::fastpaths {

// Identifier bytes of 16 bytes at once: 0xFF in each lane whose byte IDENT_CHARS marks ('0'-'9', 'A'-'Z',
// 'a'-'z', '_'), 0 elsewhere. A range test lo <= b <= hi is b - lo <= hi - lo on unsigned bytes, that is
// min(b - lo, hi - lo) == b - lo. Letters are folded by OR 0x20 first, which maps exactly 'A'-'Z' and 'a'-'z'
// into 'a'-'z' ('@' becomes 0x60 and '[' 0x7B, both outside; bytes from 0x80 stay at 0x80 or above).
[[nodiscard]] inline __m128i ident_lanes(__m128i x) noexcept {
  const __m128i digit = _mm_sub_epi8(x, _mm_set1_epi8('0'));
  const __m128i letter = _mm_sub_epi8(_mm_or_si128(x, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
  const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(digit, _mm_set1_epi8(9)), digit);
  const __m128i is_letter = _mm_cmpeq_epi8(_mm_min_epu8(letter, _mm_set1_epi8(25)), letter);
  return _mm_or_si128(_mm_or_si128(is_digit, is_letter), _mm_cmpeq_epi8(x, _mm_set1_epi8('_')));
}

// The identifier bytes as the 32-byte paths test them.
inline const NibbleSet IDENT_NIBBLES{IDENT_CHARS};

// for_each_keyword_occurrence: every occurrence of `word` (non-empty) that starts at or after `from`, overlapping
// ones included, in order, as on_occurrence(start), by Knuth-Morris-Pratt matching: one pass over the text with
// fewer than two comparisons per text byte in all, whatever text and word hold, and a table of the word's
// length (the only memory a keyword scan takes, and only on this path). A search that resumes one byte after
// each occurrence the boundary refuses would compare the whole word again for each: the keyword 'a' * k over
// 'a' * L is refused at every start, at a cost of k bytes each. `border[i]` is the length of the longest proper
// prefix of word[0, i] that is also its suffix; after a mismatch at word[j] the match goes on with
// border[j - 1] bytes matched. false, having reported nothing, when the table's memory cannot be had. The same
// runs over a str's own units (`Unit` the unit's integer type, positions counted in units).
template <class Unit, class OnOccurrence>
[[nodiscard]] inline bool for_each_occurrence_kmp(const Unit* word, std::size_t n, const Unit* text,
                                                  std::size_t length, std::size_t from, OnOccurrence&& on_occurrence) {
  if (n > UINT32_MAX) return false;
  std::unique_ptr<std::uint32_t[]> border(new (std::nothrow) std::uint32_t[n]);
  if (!border) return false;
  border[0] = 0;
  for (std::size_t i = 1, k = 0; i < n; ++i) {
    while (k > 0 && word[i] != word[k]) k = border[k - 1];
    if (word[i] == word[k]) ++k;
    border[i] = static_cast<std::uint32_t>(k);
  }
  for (std::size_t i = from, j = 0; i < length; ++i) {
    while (j > 0 && text[i] != word[j]) j = border[j - 1];
    if (text[i] == word[j]) ++j;
    if (j == n) {
      on_occurrence(i + 1 - n);
      j = border[n - 1];
    }
  }
  return true;
}
template <class OnOccurrence>
[[nodiscard]] inline bool for_each_keyword_occurrence(std::string_view word, std::string_view text, std::size_t from,
                                                      OnOccurrence&& on_occurrence) {
  return for_each_occurrence_kmp(word.data(), word.size(), text.data(), text.size(), from, on_occurrence);
}

// The block scan of for_each_keyword_match: every start below h is settled; `resume` is the first start not
// inside a reported match; `wasted` counts the bytes compared at candidates whose keyword bytes turned out not
// to stand there. The 16- and 32-byte paths advance the same state.
struct KeywordScan {
  std::size_t h = 0;
  std::size_t resume = 0;
  std::size_t wasted = 0;

  // Whether the pair filter is no longer worth its comparisons (its worst case, see for_each_keyword_match).
  bool filter_ineffective() const noexcept { return wasted > 4 * h + 4096; }

  // Reports, lowest first, the starts at + b for the set bits b of `mask` (starts where the pair stands and
  // no identifier byte follows the keyword) that lie past the last match and hold the keyword's bytes (a
  // keyword of up to two bytes is settled by the pair).
  template <class OnMatch>
  [[gnu::always_inline]] void walk(std::uint64_t mask, std::size_t at, const char* data, std::string_view word,
                                   OnMatch& on_match) {
    const std::size_t n = word.size();
    for (; mask != 0; mask &= mask - 1) {
      const std::size_t start = at + static_cast<std::size_t>(__builtin_ctzll(mask));
      if (start < resume) continue;
      if (n > 2 && std::memcmp(data + start, word.data(), n) != 0) {
        wasted += n;
        continue;
      }
      on_match(start);
      resume = start + n;
    }
  }
};

// The block scan over 16 starts a step, while the bytes of a step lie in the text.
template <class OnMatch>
inline void scan_keyword_blocks_sse2(KeywordScan& scan, const SubstringFinder& finder, std::string_view text,
                                     OnMatch& on_match) {
  const std::string_view word = finder.needle();
  const std::size_t n = word.size();
  const std::size_t length = text.size();
  const char* data = text.data();
  const std::size_t o1 = finder.offset1();
  const std::size_t o2 = finder.offset2();
  const __m128i v1 = _mm_set1_epi8(word[o1]);
  const __m128i v2 = _mm_set1_epi8(word[o2]);
  const auto pair = [&](std::size_t at) noexcept {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + o1));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + o2));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(x, v1), _mm_cmpeq_epi8(y, v2))));
  };
  std::size_t& h = scan.h;
  // Starts h .. h + 15 load bytes up to h + 15 + n (the byte after the last one's keyword).
  while (h + 16 + n <= length) {
    while (h + 32 + n <= length && (pair(h) | pair(h + 16)) == 0) h += 32;
    if (h + 16 + n > length) break;
    unsigned mask = pair(h);
    if (mask != 0) {
      const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + h + n));
      mask &= ~static_cast<unsigned>(_mm_movemask_epi8(ident_lanes(after)));
      scan.walk(mask, h, data, word, on_match);
    }
    h += 16;
    if (scan.filter_ineffective()) return;
  }
}

// The same over 64 starts a step: the pair's bits of 64 starts in one mask, and the bytes after their keywords
// tested for identifier bytes by table lookups (NibbleLanes) only when a pair stands among them.
template <class OnMatch>
QUILLEX_AVX2 inline void scan_keyword_blocks_avx2(KeywordScan& scan, const SubstringFinder& finder,
                                                  std::string_view text, OnMatch& on_match) {
  const std::string_view word = finder.needle();
  const std::size_t n = word.size();
  const std::size_t length = text.size();
  const char* data = text.data();
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  const std::size_t o1 = finder.offset1();
  const std::size_t o2 = finder.offset2();
  const __m256i v1 = _mm256_set1_epi8(word[o1]);
  const __m256i v2 = _mm256_set1_epi8(word[o2]);
  const NibbleLanes ident(IDENT_NIBBLES);
  const auto pair = [&](std::size_t at) noexcept QUILLEX_AVX2 {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at + o1));
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at + o2));
    return static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(x, v1), _mm256_cmpeq_epi8(y, v2))));
  };
  std::size_t& h = scan.h;
  while (h + 64 + n <= length) {
    const std::size_t at = h;
    const std::uint64_t mask = pair(at) | static_cast<std::uint64_t>(pair(at + 32)) << 32;
    h += 64;
    if (mask == 0) continue;
    scan.walk(mask & ~ident.members64(bytes + at + n), at, data, word, on_match);
    if (scan.filter_ineffective()) return;
  }
}

// for_each_keyword_match: the matches of the scan rule over the keyword's try_match_at, in order, reported as
// on_match(start) (the end is start + length). A position passes when the keyword's bytes stand there and no
// identifier byte follows them (the byte before is never looked at); after a pass the scan resumes at the
// keyword's end, after a failure at the next byte. So 'if' passes in 'elif x' but not in 'ifx', and 'aa' in
// 'aaaa' passes once, at 2 (the pass at 0 is refused by the 'a' at 2). The empty keyword passes, with zero
// length, at each byte that is not an identifier byte (position length is never tried), every byte of a
// multi-byte character included.
//
// The scan rule in one forward pass: a position passes or not whatever came before it, and a pass hides only
// the positions inside it. So the passing positions of 16 starts (64 with AVX2) are found at once, two bytes
// of the keyword (the rarest, as SubstringFinder picks them) compared at their offsets and the byte after each
// start's keyword classified (ident_lanes), and only those bits are walked in order, skipping any inside the
// previous match. Example, 'if' over "elif x ifx": the pair gives starts 2 and 7; the bytes after them are ' '
// and 'x', so only bit 2 is walked. A keyword of up to two bytes is settled by the pair; a longer one compares
// its bytes at each bit, and a text that makes most of those comparisons fail (the filter's worst case) hands
// the rest of the scan to for_each_keyword_occurrence, linear in the text whatever it holds.
template <class OnMatch>
inline void for_each_keyword_match(const KeywordElement& keyword, std::string_view text, OnMatch&& on_match,
                                   Simd simd = best_simd()) {
  const ByteTable& ident = keyword.ident();
  const std::size_t length = text.size();
  const std::size_t n = keyword.length();
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  if (n == 0) {
    for (std::size_t i = 0; i < length; ++i) {
      if (ident[bytes[i]] == 0) on_match(i);
    }
    return;
  }
  if (length < n) return;
  SubstringFinder finder(keyword.text(), 1, simd);
  KeywordScan scan;
  if (simd == Simd::AVX2) scan_keyword_blocks_avx2(scan, finder, text, on_match);
  if (!scan.filter_ineffective()) scan_keyword_blocks_sse2(scan, finder, text, on_match);
  if (!scan.filter_ineffective()) {
    for (std::size_t h = std::max(scan.h, scan.resume); h + n <= length; ++h) {
      if (keyword.matches_at(text, h)) {
        on_match(h);
        h += n - 1;
      }
    }
    return;
  }
  std::size_t resume = std::max(scan.h, scan.resume);
  if (for_each_keyword_occurrence(keyword.text(), text, resume, [&](std::size_t start) {
        if (start < resume || !ident_boundary_after(ident, text, start + n)) return;
        on_match(start);
        resume = start + n;
      })) {
    return;
  }
  for (std::size_t i = resume;;) {  // no memory for the table: the searcher, candidate by candidate
    const std::size_t found = finder.find(text, i, length);
    if (found == NOT_FOUND) return;
    if (ident_boundary_after(ident, text, found + n)) {
      on_match(found);
      i = found + n;
    } else {
      i = found + 1;
    }
  }
}

// The passing positions of a keyword of one or two identifier bytes (see count_keyword_matches) among the
// starts from h on, 16 a step while the bytes of a step lie in the text; h is advanced past those counted.
[[nodiscard]] inline std::uint64_t count_short_keyword_sse2(std::string_view word, std::string_view text,
                                                            std::size_t& h) noexcept {
  const std::size_t n = word.size();
  const char* data = text.data();
  const __m128i v1 = _mm_set1_epi8(word[0]);
  const __m128i v2 = _mm_set1_epi8(word[n - 1]);
  const auto passing = [&](std::size_t at) noexcept {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + n - 1));
    const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + n));
    const __m128i pair = _mm_and_si128(_mm_cmpeq_epi8(x, v1), _mm_cmpeq_epi8(y, v2));
    const __m128i hit = _mm_andnot_si128(ident_lanes(after), pair);
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
  };
  std::uint64_t count = 0;
  for (; h + 16 + n <= text.size(); h += 16) count += static_cast<unsigned>(__builtin_popcount(passing(h)));
  return count;
}

// The same, 32 starts a step.
[[nodiscard]] QUILLEX_AVX2 inline std::uint64_t count_short_keyword_avx2(std::string_view word, std::string_view text,
                                                                         std::size_t& h) noexcept {
  const std::size_t n = word.size();
  const char* data = text.data();
  const __m256i v1 = _mm256_set1_epi8(word[0]);
  const __m256i v2 = _mm256_set1_epi8(word[n - 1]);
  const NibbleLanes ident(IDENT_NIBBLES);
  std::uint64_t count = 0;
  for (; h + 32 + n <= text.size(); h += 32) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + h));
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + h + n - 1));
    const __m256i after = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + h + n));
    const auto pair = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(x, v1), _mm256_cmpeq_epi8(y, v2))));
    count += static_cast<unsigned>(__builtin_popcount(pair & ~ident.members(after)));
  }
  return count;
}

// count_keyword_matches: the number of matches for_each_keyword_match reports.
//
// A keyword of one or two identifier bytes (if, in, or, x) is counted without walking bits: its passes never
// overlap (a pass at h followed by one at h + 1 would put the keyword's own identifier byte right after the
// first, which refuses it), so no pass hides another and the count is the number of passing positions, a
// population count per 16 starts (32 with AVX2).
[[nodiscard]] inline std::uint64_t count_keyword_matches(const KeywordElement& keyword, std::string_view text,
                                                         Simd simd = best_simd()) noexcept {
  const std::size_t n = keyword.length();
  const std::size_t length = text.size();
  const ByteTable& ident = keyword.ident();
  const std::string_view word = keyword.text();
  if (n >= 1 && n <= 2 && ident[static_cast<unsigned char>(word[0])] != 0 &&
      ident[static_cast<unsigned char>(word[n - 1])] != 0) {
    std::uint64_t count = 0;
    std::size_t h = 0;
    if (simd == Simd::AVX2) count += count_short_keyword_avx2(word, text, h);
    count += count_short_keyword_sse2(word, text, h);
    for (; h + n <= length; ++h) count += keyword.matches_at(text, h) ? 1 : 0;
    return count;
  }
  std::uint64_t count = 0;
  for_each_keyword_match(
      keyword, text, [&count](std::size_t) { ++count; }, simd);
  return count;
}

// for_each_unit_keyword_match: the matches of for_each_keyword_match over a str's own units (`Unit` bytes each,
// `text` their bytes), `word` being the non-empty keyword's code points in such units, reported as
// on_match(start, end) in units. The rule read per code point: the word's code points stand at the position
// and the one after them is no identifier character (IDENT_CHARS, all ASCII, as in UTF-8 every byte of the
// other code points is 0x80 and above). The candidates come from UnitFinder; after a refusal the scan resumes
// one unit on. As over bytes, a text whose candidates are mostly refused (the keyword 'a' * k over 'a' * L)
// hands the rest of the scan to for_each_occurrence_kmp over the units, once the bytes compared at refused
// candidates exceed four times the bytes passed (plus a fixed allowance). false when the finder gave up on
// straddling occurrences: the matches reported so far must then be dropped, and the UTF-8 form answers.
template <std::size_t Unit, class OnMatch>
[[nodiscard]] inline bool for_each_unit_keyword_match(std::string_view word, std::string_view text,
                                                      OnMatch&& on_match) {
  using U = py::unit_t<Unit>;
  const auto* t = reinterpret_cast<const U*>(text.data());
  const std::size_t length = text.size() / Unit;
  const std::size_t m = word.size() / Unit;
  const auto boundary_after = [t, length](std::size_t end) {
    return end >= length || t[end] >= 0x80 || IDENT_CHARS[t[end]] == 0;
  };
  UnitFinder<Unit> finder(word);
  std::size_t pos = 0;  // bytes
  std::size_t wasted = 0;
  bool kmp_tried = false;
  for (;;) {
    const std::size_t h = finder.find(text, pos, text.size());
    if (finder.gave_up()) return false;
    if (h == NOT_FOUND) return true;
    const std::size_t start = h / Unit;
    if (boundary_after(start + m)) {
      on_match(start, start + m);
      pos = h + word.size();
      continue;
    }
    pos = h + Unit;
    wasted += word.size();
    if (kmp_tried || wasted <= 4 * h + 4096) continue;
    kmp_tried = true;  // when the table cannot be had, the candidates go on one by one
    std::size_t resume = pos / Unit;
    if (for_each_occurrence_kmp(reinterpret_cast<const U*>(word.data()), m, t, length, resume,
                                [&](std::size_t found) {
                                  if (found < resume || !boundary_after(found + m)) return;
                                  on_match(found, found + m);
                                  resume = found + m;
                                })) {
      return true;
    }
  }
}

// count_short_unit_keyword_avx2: count_keyword_matches of a keyword of one or two identifier characters (`word`,
// n units) over a str's own units of 2 or 4 bytes, and whether any unit is a surrogate (U+D800..U+DFFF), in one
// pass over the units, 32 bytes of starts a step. The passes never overlap (see count_keyword_matches), so they
// are the passing positions: the keyword's first and last units compared at their offsets for every start of
// the step, the rare starts where both stand tested one by one for an identifier character after them, and the
// step's units tested for surrogates as py::holds_surrogate tests them. Example, 'if' over the 2-byte units
// "elif x": the compares give the start 2; the unit after it is ' ', so it counts.
struct UnitKeywordCount {
  std::uint64_t count;
  bool surrogate;
};
template <class U>
[[nodiscard]] QUILLEX_AVX2 inline UnitKeywordCount count_short_unit_keyword_avx2(const U* word, std::size_t n,
                                                                                 const U* t,
                                                                                 std::size_t length) noexcept {
  static_assert(sizeof(U) == 2 || sizeof(U) == 4);
  constexpr std::size_t PER_STEP = 32 / sizeof(U);
  const auto lanes = [&](std::uint32_t v) QUILLEX_AVX2 {
    return sizeof(U) == 2 ? _mm256_set1_epi16(static_cast<short>(v)) : _mm256_set1_epi32(static_cast<int>(v));
  };
  const auto equal = [&](__m256i a, __m256i b) QUILLEX_AVX2 {
    return sizeof(U) == 2 ? _mm256_cmpeq_epi16(a, b) : _mm256_cmpeq_epi32(a, b);
  };
  const auto load = [t](std::size_t at) QUILLEX_AVX2 {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + at));
  };
  // One bit per lane: the low byte's of each 2-byte lane, the sign bit of each 4-byte one. (The lambdas that take
  // or give vectors capture, so that none has a plain function of the base target's calling convention.)
  const auto lane_bits = [&](__m256i v) QUILLEX_AVX2 {
    if constexpr (sizeof(U) == 2) {
      return static_cast<std::uint32_t>(_mm256_movemask_epi8(v)) & 0x55555555u;
    } else {
      return static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(v)));
    }
  };
  const auto passes = [&](std::size_t q) {
    return t[q] == word[0] && t[q + n - 1] == word[n - 1] && (q + n == length || t[q + n] >= 0x80 ||
                                                              IDENT_CHARS[t[q + n]] == 0);
  };
  const __m256i first = lanes(word[0]);
  const __m256i last = lanes(word[n - 1]);
  const __m256i surrogate_mask = lanes(sizeof(U) == 2 ? 0xF800u : 0xFFFFF800u);
  const __m256i surrogate_bits = lanes(0xD800u);
  __m256i surrogates = _mm256_setzero_si256();
  UnitKeywordCount r{0, false};
  std::size_t p = 0;
  // The starts p .. p + PER_STEP - 1 read units up to p + PER_STEP - 1 + n, the one after the last's keyword.
  for (; length - p >= PER_STEP + n; p += PER_STEP) {
    const __m256i x = load(p);
    surrogates = _mm256_or_si256(surrogates, equal(_mm256_and_si256(x, surrogate_mask), surrogate_bits));
    for (std::uint32_t m = lane_bits(_mm256_and_si256(equal(x, first), equal(load(p + n - 1), last))); m != 0;
         m &= m - 1) {
      r.count += passes(p + static_cast<std::size_t>(__builtin_ctz(m)) / (sizeof(U) == 2 ? 2 : 1)) ? 1 : 0;
    }
  }
  r.surrogate = !_mm256_testz_si256(surrogates, surrogates);
  for (std::size_t q = p; q < length; ++q) {
    r.surrogate |= (t[q] & 0xFFFFF800u) == 0xD800u;
    if (length - q >= n && passes(q)) ++r.count;
  }
  return r;
}

}  // namespace quillex::fastpaths
