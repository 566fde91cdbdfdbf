// The one search loop of every method that looks for all matches in a text (searching, counting, replacing).
#pragma once

#include <string_view>

#include "elements/element.h"
#include "elements/start_bytes.h"

namespace quillex::engine {

// scan_matches: tries positions 0 .. size-1 with `try_match(text, pos) -> MatchResult` and reports each match to
// `on_match(start, end)`; after a match the scan resumes at max(start + 1, end), after a failure at start + 1.
// Consequences the methods rely on: position size() is never tried (a zero-length match only at the end is never
// seen); a zero-length match is reported once and the scan steps one byte; non-empty matches never overlap.
// Cost: one test per position not covered by a non-empty match.
//
// A test that can nest (any element matched through a DepthGuard) may set the recursion flag; the scan then
// stops at once, since every further test would fail and the frame discards the result. The caller then returns
// without making its result (nobody would see it; the method frame keeps the flag from any call that a
// collection started meanwhile could make into this module). Tests that cannot nest (a terminal's byte test
// inlined by a fast path) pass MayOverflow = false and skip that check.
template <bool MayOverflow = true, class TryMatch, class OnMatch>
inline void scan_matches(std::string_view text, TryMatch&& try_match, OnMatch&& on_match) {
  const Pos n = text.size();
  Pos pos = 0;
  while (pos < n) {
    const MatchResult m = try_match(text, pos);
    if constexpr (MayOverflow) {
      if (recursion_overflowed()) return;
    }
    if (m.matched) {
      on_match(pos, m.end);
      pos = m.end > pos ? m.end : pos + 1;
    } else {
      ++pos;
    }
  }
}

// The same scan over only the candidates of `starts` (a StartBytes or a ScanStarts: `next_candidate(text, pos)`
// gives the first position at or after pos that can start a match, or the length), with a rule that may vouch
// for more positions: `try_match(text, pos, resume) -> MatchResult` gets `resume` set to pos + 1 and, when it
// fails, may raise it to a later q (at most the length) once it has proven that no position in (pos, q)
// matches either. Reports exactly the matches of scan_matches over the same rule. A scan from `from` reports the
// matches scan_matches reports after it has reached `from` (a position it resumes at: 0, or the end of a
// non-empty match it reported), since where the scan goes from a position depends on that position alone.
template <class Starts, class TryMatch, class OnMatch>
inline void scan_candidate_matches(std::string_view text, Starts& starts, TryMatch&& try_match, OnMatch&& on_match,
                                   Pos from = 0) {
  const Pos n = text.size();
  Pos pos = starts.next_candidate(text, from);
  while (pos < n) {
    Pos resume = pos + 1;
    const MatchResult m = try_match(text, pos, resume);
    if (recursion_overflowed()) return;
    if (m.matched) {
      on_match(pos, m.end);
      resume = m.end > pos ? m.end : pos + 1;
    }
    pos = starts.next_candidate(text, resume);
  }
}

// The scan over an element's own try_match_at at every position: the plain route, which the methods' scans
// (grammar_scan.h) must agree with.
template <class OnMatch>
inline void scan_element_matches(const Element& element, std::string_view text, OnMatch&& on_match) {
  scan_matches(
      text, [&element](std::string_view t, Pos pos) { return element.try_match_at(t, pos); }, on_match);
}

}  // namespace quillex::engine
