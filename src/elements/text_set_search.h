// PairFilter: the candidate search for a few fixed texts at once (the alternatives of a MatchFirst of literals):
// the positions at which the first two bytes of one of the texts stand. A position it passes over holds none
// of the texts; a position it reports may still hold none (only two bytes were compared).
//
// The texts are kept as their first byte and, for texts of two bytes or more, their second byte, grouped by the
// first byte. A block of 16 starts (32 with AVX2) costs one compare per group and one per second byte: the
// lanes where a group's first byte stands, ANDed with the lanes where one of its second bytes stands one byte
// further on, ORed over the groups. Example, the texts "GPL", "LGPL" and "GFDL": the group 'G' with the second
// bytes 'P' and 'F', the group 'L' with 'G'; in "a GNU GPL" only the start of "GP" passes (the 'G' of "GN" has
// no second byte of its group after it).
#pragma once

#include <immintrin.h>

#include <array>
#include <cstdint>
#include <string_view>

#include "elements/element.h"
#include "elements/simd.h"

namespace quillex {

class PairFilter {
 public:
  // The most groups and second bytes a filter takes: beyond them a block costs more compares than a byte-set
  // search of the first bytes with a test of each (ByteClass).
  static constexpr std::size_t MAX_GROUPS = 6;
  static constexpr std::size_t MAX_SECONDS = 12;

  PairFilter() noexcept = default;

  // Adds a text (non-empty). false when the filter cannot take it (too many groups or second bytes); the filter
  // must then not be used.
  [[nodiscard]] bool add(std::string_view text) noexcept {
    const auto first = static_cast<unsigned char>(text[0]);
    std::size_t g = 0;
    while (g < group_count_ && firsts_[g] != first) ++g;
    if (g == group_count_) {
      if (group_count_ == MAX_GROUPS) return false;
      firsts_[group_count_] = first;
      any_second_[group_count_] = false;
      seconds_begin_[group_count_] = seconds_begin_[group_count_ + 1] = static_cast<std::uint8_t>(second_count_);
      ++group_count_;
    }
    if (text.size() == 1) {
      any_second_[g] = true;
      return true;
    }
    const auto second = static_cast<unsigned char>(text[1]);
    for (std::size_t k = seconds_begin_[g]; k < seconds_begin_[g + 1]; ++k) {
      if (seconds_[k] == second) return true;
    }
    if (second_count_ == MAX_SECONDS) return false;
    // Second bytes are kept grouped: the later groups' bytes move up by one.
    for (std::size_t k = second_count_; k > seconds_begin_[g + 1]; --k) seconds_[k] = seconds_[k - 1];
    seconds_[seconds_begin_[g + 1]] = second;
    ++second_count_;
    for (std::size_t h = g + 1; h <= group_count_; ++h) ++seconds_begin_[h];
    return true;
  }

  // Whether the filter is worth running: some group needs its second byte (else a search of the first bytes
  // alone does the same with fewer compares).
  bool filters_pairs() const noexcept {
    for (std::size_t g = 0; g < group_count_; ++g) {
      if (!any_second_[g]) return true;
    }
    return false;
  }

  // The first position at or after `pos` that passes, or text.size().
  [[nodiscard]] Pos next_candidate(std::string_view text, Pos pos, Simd simd = best_simd()) const noexcept {
    const Pos n = text.size();
    const auto* t = reinterpret_cast<const unsigned char*>(text.data());
    // The first few starts one by one: a scan resumes where the next candidate is mostly near, and setting up
    // the block compares costs more than those tests.
    for (const Pos near = pos + 8 < n ? pos + 8 : n; pos < near; ++pos) {
      if (passes(t, pos, n)) return pos;
    }
    if (simd == Simd::AVX2) {
      pos = skip_blocks_avx2(t, pos, n);
    } else {
      pos = skip_blocks_sse2(t, pos, n);
    }
    for (; pos < n; ++pos) {
      if (passes(t, pos, n)) return pos;
    }
    return n;
  }

  // Whether position `pos` (below n) passes.
  bool passes(const unsigned char* t, Pos pos, Pos n) const noexcept {
    for (std::size_t g = 0; g < group_count_; ++g) {
      if (t[pos] != firsts_[g]) continue;
      if (any_second_[g]) return true;
      if (pos + 1 >= n) return false;
      for (std::size_t k = seconds_begin_[g]; k < seconds_begin_[g + 1]; ++k) {
        if (t[pos + 1] == seconds_[k]) return true;
      }
      return false;
    }
    return false;
  }

 private:
  // Steps over whole blocks of 16 starts that hold no passing position, while a block's second bytes lie in the
  // text (pos + 17 <= n); gives the first start of the block that holds one, or where the blocks stopped.
  Pos skip_blocks_sse2(const unsigned char* t, Pos pos, Pos n) const noexcept {
    __m128i first[MAX_GROUPS];
    __m128i second[MAX_SECONDS];
    for (std::size_t g = 0; g < group_count_; ++g) first[g] = _mm_set1_epi8(static_cast<char>(firsts_[g]));
    for (std::size_t k = 0; k < second_count_; ++k) second[k] = _mm_set1_epi8(static_cast<char>(seconds_[k]));
    for (; pos + 17 <= n; pos += 16) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + pos));
      const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + pos + 1));
      __m128i hit = _mm_setzero_si128();
      for (std::size_t g = 0; g < group_count_; ++g) {
        __m128i lanes = _mm_cmpeq_epi8(x, first[g]);
        if (!any_second_[g]) {
          __m128i seconds = _mm_setzero_si128();
          for (std::size_t k = seconds_begin_[g]; k < seconds_begin_[g + 1]; ++k) {
            seconds = _mm_or_si128(seconds, _mm_cmpeq_epi8(y, second[k]));
          }
          lanes = _mm_and_si128(lanes, seconds);
        }
        hit = _mm_or_si128(hit, lanes);
      }
      if (const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit)); mask != 0) {
        return pos + static_cast<Pos>(__builtin_ctz(mask));
      }
    }
    return pos;
  }

  QUILLEX_AVX2 Pos skip_blocks_avx2(const unsigned char* t, Pos pos, Pos n) const noexcept {
    __m256i first[MAX_GROUPS];
    __m256i second[MAX_SECONDS];
    for (std::size_t g = 0; g < group_count_; ++g) first[g] = _mm256_set1_epi8(static_cast<char>(firsts_[g]));
    for (std::size_t k = 0; k < second_count_; ++k) second[k] = _mm256_set1_epi8(static_cast<char>(seconds_[k]));
    for (; pos + 33 <= n; pos += 32) {
      const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + pos));
      const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + pos + 1));
      __m256i hit = _mm256_setzero_si256();
      for (std::size_t g = 0; g < group_count_; ++g) {
        __m256i lanes = _mm256_cmpeq_epi8(x, first[g]);
        if (!any_second_[g]) {
          __m256i seconds = _mm256_setzero_si256();
          for (std::size_t k = seconds_begin_[g]; k < seconds_begin_[g + 1]; ++k) {
            seconds = _mm256_or_si256(seconds, _mm256_cmpeq_epi8(y, second[k]));
          }
          lanes = _mm256_and_si256(lanes, seconds);
        }
        hit = _mm256_or_si256(hit, lanes);
      }
      if (const auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(hit)); mask != 0) {
        return pos + static_cast<Pos>(__builtin_ctz(mask));
      }
    }
    return pos;
  }

  std::array<unsigned char, MAX_GROUPS> firsts_{};
  std::array<bool, MAX_GROUPS> any_second_{};  // a one-byte text in the group: its first byte alone passes
  // The second bytes of group g are seconds_[seconds_begin_[g] .. seconds_begin_[g + 1]).
  std::array<std::uint8_t, MAX_GROUPS + 1> seconds_begin_{};
  std::array<unsigned char, MAX_SECONDS> seconds_{};
  std::size_t group_count_ = 0;
  std::size_t second_count_ = 0;
};

}  // namespace quillex
