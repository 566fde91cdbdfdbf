// The occurrence search of the Literal methods. No Python here: the methods' bodies live in literal.cpp.
//
// An occurrence of a literal of n bytes is a position h with text[h, h + n) equal to it. Both are valid UTF-8
// (the literal is whole characters), so an occurrence can only begin and end at character boundaries.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "engine/text_period.h"
#include "elements/substring_search.h"

namespace quillex::fastpaths {

// The substring searcher over a text of `Unit`-byte code units (a str's own representation; Unit 1 also serves
// UTF-8 bytes), needle and text both seen as bytes. An occurrence of the needle's code points starts at a
// multiple of Unit; a byte occurrence elsewhere straddles two units and is passed over, the search resuming
// one byte on. Example (Unit 2, little-endian): the needle U+0061 U+0062 is the bytes 61 00 62 00; in the text
// U+6100 U+0062 U+0062, bytes 00 61 62 00 62 00, the byte occurrence at 1 is not one of code points.
//
// Each straddling occurrence costs a comparison of the whole needle, and a text can hold one at every other
// byte: the needle U+0061 repeated k times (bytes 61 00 61 00 ...) stands at every odd offset of U+6100
// repeated (00 61 00 61 ...), and at none that is whole, so passing them over one by one would cost the text's
// length times k. Once the bytes of the needle compared at straddling occurrences exceed four times the text's
// bytes (plus a fixed allowance), the finder gives up: from then on it reports no occurrence, and gave_up()
// tells its caller to search the text's UTF-8 form, in which every byte occurrence is a whole one.
template <std::size_t Unit>
class UnitFinder {
 public:
  explicit UnitFinder(std::string_view needle, Simd simd = best_simd()) noexcept : finder_(needle, Unit, simd) {}
  std::string_view needle() const noexcept { return finder_.needle(); }
  bool filter_given_up() const noexcept { return finder_.filter_given_up(); }
  // True once straddling occurrences made the search give up (never for Unit 1).
  bool gave_up() const noexcept { return gave_up_; }

  // As SubstringFinder::find, for starts that are multiples of Unit (`from` is one); NOT_FOUND once given up.
  [[nodiscard]] std::size_t find(std::string_view text, std::size_t from, std::size_t to) noexcept {
    if (gave_up_) return NOT_FOUND;
    for (;;) {
      const std::size_t h = finder_.find(text, from, to);
      if (Unit == 1 || h == NOT_FOUND || h % Unit == 0) return h;
      straddled_ += finder_.needle().size();
      if (straddled_ > 4 * text.size() + STRADDLE_ALLOWANCE) {
        gave_up_ = true;
        return NOT_FOUND;
      }
      from = h + 1;
    }
  }

 private:
  static constexpr std::size_t STRADDLE_ALLOWANCE = 1 << 16;

  SubstringFinder finder_;
  std::size_t straddled_ = 0;  // needle bytes compared at straddling occurrences
  bool gave_up_ = false;
};

// find_literal_occurrences: the occurrences inside text[from, to), left to right, as the scan rule finds them:
// from pos = from, the first occurrence h >= pos with h + n <= to, reported as on_occurrence(h), and the search
// continues at h + n (occurrences never overlap). For a non-empty literal this is exactly the non-empty matches
// of scan_matches over the literal's try_match_at. Returns the end of the last occurrence, or `from` when
// there is none. `Finder` is a SubstringFinder or a UnitFinder.
template <class Finder, class OnOccurrence>
inline std::size_t find_literal_occurrences(Finder& finder, std::string_view text, std::size_t from,
                                            std::size_t to, OnOccurrence&& on_occurrence) {
  const std::size_t n = finder.needle().size();
  std::size_t pos = from;
  for (;;) {
    const std::size_t h = finder.find(text, pos, to);
    if (h == NOT_FOUND) return pos;
    on_occurrence(h);
    pos = h + n;
  }
}

// The number of occurrences in text[from, to) and the end of the last of them (`from` when there is none).
// A one-byte literal's occurrences are simply its bytes, counted in one vectorised pass.
struct OccurrenceCount {
  std::uint64_t count;
  std::size_t end;
};
template <class Finder>
[[nodiscard]] inline OccurrenceCount count_occurrences(Finder& finder, std::string_view text, std::size_t from,
                                                       std::size_t to) noexcept {
  if (finder.needle().size() == 1) {
    const char c = finder.needle()[0];
    const auto* bytes = text.data();
    const std::uint64_t count = count_byte(bytes + from, to - from, c);
    if (count == 0) return {0, from};
    const void* last = ::memrchr(bytes + from, c, to - from);
    return {count, static_cast<std::size_t>(static_cast<const char*>(last) - bytes) + 1};
  }
  std::uint64_t count = 0;
  const std::size_t end = find_literal_occurrences(finder, text, from, to, [&count](std::size_t) { ++count; });
  return {count, end};
}

// count_literal_matches: the number of non-overlapping occurrences of `literal` in `text` (the count of the
// scan rule over the literal's try_match_at); for the empty literal the length, one zero-length match at each
// byte position below it.
//
// A text that is its first p bytes repeated (p >= n, checked in whole: detect_text_period compares only the
// first 2p bytes) is counted from its first two periods. The scan is the same in every period after the
// first: c1 occurrences end within [0, p), c2 within [0, 2p), so each later full period adds c2 - c1; the part
// after the last full period is scanned from where the last occurrence inside the full periods ended, which is
// e2 (the end of the last within [0, 2p)) shifted by reps - 2 periods. Example: 'bb' in 'babb' 'babb' 'b'
// (p = 4, reps = 2): c1 = 1 (at 2), c2 = 2 (at 2 and 6), e2 = 8, the tail [8, 9) holds none: 2.
// Cost on such a text: one comparison of text[p, L) with text[0, L - p), then searches of 2p bytes and the
// tail, instead of a search of the whole text. Over units (`unit` > 1) the period must be whole units
// (p % unit == 0), or the periods would not start at the same place within a unit.
template <class Finder>
[[nodiscard]] inline std::uint64_t count_with_finder(Finder& finder, std::string_view text,
                                                     std::size_t unit) noexcept {
  const std::size_t n = finder.needle().size();
  const std::size_t length = text.size();
  const std::uint64_t p = engine::detect_text_period(text, length);
  if (p < n || p % unit != 0 || !engine::repeats_with_period(text, p)) {
    return count_occurrences(finder, text, 0, length).count;
  }
  const std::uint64_t c1 = count_occurrences(finder, text, 0, p).count;
  const OccurrenceCount second = count_occurrences(finder, text, 0, 2 * p);
  const std::uint64_t c2 = second.count;
  const std::uint64_t reps = length / p;
  std::uint64_t total = c1 + (reps - 1) * (c2 - c1);
  if (length > reps * p && c2 > 0) {
    total += count_occurrences(finder, text, second.end + (reps - 2) * p, length).count;
  }
  return total;
}

[[nodiscard]] inline std::uint64_t count_literal_matches(std::string_view literal, std::string_view text) noexcept {
  if (literal.empty()) return text.size();
  SubstringFinder finder(literal);
  return count_with_finder(finder, text, 1);
}

// count_literal_matches over a text of `Unit`-byte code units, `literal` being non-empty and in such units:
// the number of occurrences of its code points, or nothing when the finder gave up (the UTF-8 form then
// gives the count).
template <std::size_t Unit>
[[nodiscard]] inline std::optional<std::uint64_t> count_unit_literal_matches(std::string_view literal,
                                                                          std::string_view text) noexcept {
  UnitFinder<Unit> finder(literal);
  const std::uint64_t count = count_with_finder(finder, text, Unit);
  if (finder.gave_up()) return std::nullopt;
  return count;
}

}  // namespace quillex::fastpaths
