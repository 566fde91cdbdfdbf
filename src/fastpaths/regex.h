// The search rule of the Regex methods that look at a whole text (search_string, search_string_count,
// transform_string): the successive matches of the unanchored expression, in the iteration the methods
// promise. No Python here: the method bodies live in regex.cpp.
#pragma once

#include <optional>
#include <string_view>

#include <re2/re2.h>

#include "elements/element.h"

namespace quillex::fastpaths {

struct RegexMatch {
  Pos start;
  Pos end;
};

// The leftmost-first match of `re` that starts at or after `from` (a character boundary, at most the length),
// searched with the whole text as context: '^' and '\A' hold only at 0, '\b' sees the character before
// `from`, '$' the real end. A match that starts inside a character (RE2 tries every byte position), or whose
// end falls inside one (only '\C' can cut a character), is no match at its start: the search goes on from
// the next character. So every match found lies on character boundaries, empty ones included.
inline std::optional<RegexMatch> find_regex_match(const re2::RE2& re, std::string_view text, Pos from) noexcept {
  const re2::StringPiece whole(text.data(), text.size());
  const Pos n = text.size();
  while (from <= n) {
    re2::StringPiece m;
    if (!re.Match(whole, from, n, re2::RE2::UNANCHORED, &m, 1)) return std::nullopt;
    // An empty match over an empty text may report no data pointer; it lies at `from` then.
    const Pos start = m.data() != nullptr ? static_cast<Pos>(m.data() - text.data()) : from;
    const Pos end = start + m.size();
    if (is_char_boundary(text, start) && is_char_boundary(text, end)) return RegexMatch{start, end};
    from = start + 1;
    while (from < n && is_continuation_byte(static_cast<unsigned char>(text[from]))) ++from;
  }
  return std::nullopt;
}

// Calls `on_match(start, end)` for each match of `re` in `text`, in order:
//  - the first search starts at 0; after a match (s, e) the next one starts at e;
//  - an empty match that ends where the previous match ended is not reported: the search starts again one
//    character further on (a whole character, so no empty match is cut out of one);
//  - empty matches are reported, the one at the end of the text included.
// Examples: 'x*' over 'abc' gives (0,0) (1,1) (2,2) (3,3); 'a*' over 'baaa' gives (0,0) (1,4), the empty match
// at 4 following 'aaa' directly; the empty pattern over 'é' gives (0,0) (2,2).
// Cost: one RE2 search per match, plus one per empty match that directly follows a match. Allocates nothing
// once the expression's cache is warm.
template <class OnMatch>
inline void for_each_regex_match(const re2::RE2& re, std::string_view text, OnMatch&& on_match) {
  const Pos n = text.size();
  // The character after boundary p; only called with p < n.
  auto next_char = [&text](Pos p) { return p + utf8_char_len(static_cast<unsigned char>(text[p])); };
  Pos from = 0;
  bool matched_before = false;
  Pos last_end = 0;
  while (from <= n) {
    const std::optional<RegexMatch> m = find_regex_match(re, text, from);
    if (!m) return;
    if (m->start == m->end && matched_before && m->end == last_end) {
      // Here m->start == from: the search began at last_end.
      if (from >= n) return;
      from = next_char(from);
      continue;
    }
    on_match(m->start, m->end);
    matched_before = true;
    last_end = m->end;
    from = m->end;
    if (m->start == m->end) {
      // Searching again from an empty match would find it again and skip it: step over it at once.
      if (from >= n) return;
      from = next_char(from);
    }
  }
}

// The number of matches for_each_regex_match reports.
inline std::uint64_t count_regex_matches(const re2::RE2& re, std::string_view text) {
  std::uint64_t count = 0;
  for_each_regex_match(re, text, [&count](Pos, Pos) { ++count; });
  return count;
}

}  // namespace quillex::fastpaths
