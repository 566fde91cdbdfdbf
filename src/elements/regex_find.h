// The search rule of the Regex methods that look at a whole text (search_string, search_string_count,
// transform_string): the successive matches of the unanchored expression, in the iteration the methods
// promise. The iteration asks a finder for the leftmost match from a position; RE2 is the plain finder, and a
// class run (elements/regex_run.h) finds the same matches by byte scans. Pure matching machinery, on the
// element floor because SkipTo's scan for a Regex target uses it too; the method bodies live in
// fastpaths/regex.cpp.
#pragma once

#include <algorithm>
#include <optional>
#include <string_view>

#include <re2/re2.h>

#include "elements/element.h"
#include "elements/regex.h"
#include "elements/substring_search.h"

namespace quillex {

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

// The leftmost match of a class run from `from` (a character boundary), as find_regex_match gives it for the
// run's pattern: with '*' a match (empty when the byte there is no member) at `from` itself; with '+' the run
// that starts at the first member. Every match lies on character boundaries (see ByteClass).
inline std::optional<RegexMatch> find_run_match(const ByteClass& run, bool star, std::string_view text,
                                                Pos from) noexcept {
  const Pos n = text.size();
  if (star) {
    if (from < n && run.contains(static_cast<unsigned char>(text[from]))) {
      return RegexMatch{from, run.run_end(text, from + 1)};
    }
    return RegexMatch{from, from};
  }
  const Pos start = run.next_member(text, from);
  if (start >= n) return std::nullopt;
  return RegexMatch{start, run.run_end(text, start + 1)};
}

// The iteration of the searches over the matches that `find(from)` (the leftmost match at or after `from`, a
// character boundary, or nullopt) gives over `text`, one match per `next`:
//  - the first search starts at 0; after a match (s, e) the next one starts at e;
//  - an empty match that ends where the previous match ended is not reported: the search starts again one
//    character further on (a whole character, so no empty match is cut out of one);
//  - empty matches are reported, the one at the end of the text included.
// Examples: 'x*' over 'abc' gives (0,0) (1,1) (2,2) (3,3); 'a*' over 'baaa' gives (0,0) (1,4), the empty match
// at 4 following 'aaa' directly; the empty pattern over 'é' gives (0,0) (2,2).
// Cost: one search per match, plus one per empty match that directly follows a match. A copy of a cursor
// resumes the iteration where the copy was made.
class MatchCursor {
 public:
  template <class Find>
  std::optional<RegexMatch> next(std::string_view text, Find&& find) {
    const Pos n = text.size();
    while (from_ <= n) {
      const std::optional<RegexMatch> m = find(from_);
      if (!m) break;
      if (m->start == m->end && matched_before_ && m->end == last_end_) {
        // Here m->start == from_: the search began at last_end_.
        if (from_ >= n) break;
        from_ = next_char(text, from_);
        continue;
      }
      matched_before_ = true;
      last_end_ = m->end;
      from_ = m->end;
      if (m->start == m->end) {
        // Searching again from an empty match would find it again and skip it: step over it at once.
        from_ = from_ >= n ? n + 1 : next_char(text, from_);
      }
      return m;
    }
    from_ = n + 1;
    return std::nullopt;
  }

 private:
  // The character after boundary p < text.size().
  static Pos next_char(std::string_view text, Pos p) {
    return p + utf8_char_len(static_cast<unsigned char>(text[p]));
  }
  Pos from_ = 0;
  bool matched_before_ = false;
  Pos last_end_ = 0;
};

// Calls `on_match(start, end)` for each match of the iteration, in order.
template <class Find, class OnMatch>
inline void iterate_matches(std::string_view text, Find&& find, OnMatch&& on_match) {
  MatchCursor cursor;
  while (const std::optional<RegexMatch> m = cursor.next(text, find)) on_match(m->start, m->end);
}

// The iteration with RE2 as the finder (`re` being an unanchored expression): the plain route. Allocates
// nothing once the expression's cache is warm.
template <class OnMatch>
inline void for_each_regex_match(const re2::RE2& re, std::string_view text, OnMatch&& on_match) {
  iterate_matches(text, [&](Pos from) { return find_regex_match(re, text, from); }, on_match);
}

// The leftmost match from `from` of a pattern that never matches empty, as find_regex_match gives it, with the
// positions whose byte cannot start a match skipped by a scan of the element's `first` class. The candidate is
// tried by one anchored RE2 search there, with the whole text as context (so '^', '\b' and '$' read as in the
// unanchored search); when it fails, the unanchored search from the next character gives the answer. A text
// whose candidates match costs one anchored search per match instead of an unanchored one (which also runs
// backwards to find the start). After a failed candidate the next searches are plain unanchored ones, 8 of
// them, twice as many after each further failure in a row (up to 4096), so a text whose candidates mostly
// fail pays little more than the plain iteration.
class SkippingFinder {
 public:
  static constexpr unsigned FIRST_BACKOFF = 8;
  static constexpr unsigned LAST_BACKOFF = 4096;

  SkippingFinder(const RegexElement& e, std::string_view text) noexcept : e_(e), text_(text) {}

  std::optional<RegexMatch> operator()(Pos from) noexcept {
    if (plain_searches_ != 0) {
      --plain_searches_;
      return find_regex_match(e_.unanchored(), text_, from);
    }
    const Pos n = text_.size();
    const Pos p = e_.fast().first.next_member(text_, from);
    if (p >= n) return std::nullopt;  // no match ahead: every match has a first byte
    const re2::StringPiece whole(text_.data(), n);
    re2::StringPiece m;
    if (e_.unanchored().Match(whole, p, n, re2::RE2::ANCHOR_START, &m, 1)) {
      const Pos end = p + m.size();
      if (is_char_boundary(text_, end)) {
        backoff_ = FIRST_BACKOFF;
        return RegexMatch{p, end};
      }
    }
    plain_searches_ = backoff_;
    backoff_ = std::min(backoff_ * 2, LAST_BACKOFF);
    return find_regex_match(e_.unanchored(), text_, p + utf8_char_len(static_cast<unsigned char>(text_[p])));
  }

 private:
  const RegexElement& e_;
  std::string_view text_;
  unsigned plain_searches_ = 0;
  unsigned backoff_ = FIRST_BACKOFF;
};

// The cost guard of the finders that walk one candidate start after another (SequenceFinder, AutomatonFinder).
// A failed walk may have read bytes past where the search goes on, which later walks read again, so walks that
// keep failing far past their start ("[a1]\d+x" over a long run of digits: each walk reads the rest of the run)
// could cost the square of the text: once the bytes read again exceed four times the distance searched (plus an
// allowance), or walks fail every few bytes, the finder hands the rest of the call to RE2's search, which is
// linear.
class WalkBudget {
 public:
  static constexpr Pos ALLOWANCE = 4096;

  // True once the rest of the call is RE2's.
  bool given_up() const noexcept { return given_up_; }

  // A search from `from` begins.
  void searching_from(Pos from) noexcept {
    if (origin_ > from) origin_ = from;
  }
  // A walk failed after reading up to `stop`, and the search goes on from `from`. False, and given up for the
  // rest of the call, once walking costs more than RE2's automaton over the text would.
  bool affords_failed_walk(Pos stop, Pos from) noexcept {
    if (stop >= from) wasted_ += stop - from + 1;  // read by this walk, and again by the next ones
    given_up_ = wasted_ > 4 * (from - origin_) + ALLOWANCE || ++failed_ > (from - origin_) / 32 + ALLOWANCE;
    return !given_up_;
  }

 private:
  Pos origin_ = static_cast<Pos>(-1);  // the first position searched from
  Pos wasted_ = 0;                     // bytes failed walks read past where the search went on
  Pos failed_ = 0;                     // walks that failed
  bool given_up_ = false;
};

// The leftmost match from `from` of a plain sequence (elements/regex_sequence.h), as find_regex_match gives it
// for the sequence's pattern (which has no assertion, so the text around a match does not matter). A sequence
// that may be empty matches at `from` itself. Otherwise candidate starts come from the sequence's search
// (ByteSequence::Search), and each is walked in turn:
//  - First: each byte of `first()`; after a failed walk the search goes on from the next character, or past
//    the run the first class took when it has no upper bound (every start inside that run fails alike);
//  - Fixed: each anchor found from `from` plus its offset, the candidate that offset before it; after a failed
//    walk, the next anchor from the one after;
//  - AfterRun: each anchor h found from `from` plus the first step's minimum, the candidate where the first
//    class's run ending at h begins (or `from`, whichever is later): every match that takes h's run starts
//    there, since leftmost-first takes the earliest start and every start in the run walks alike from h on.
//    An anchor before h ends no run long enough, else it would have been found first; so after a failed walk
//    the search goes on from h's next character.
// Walks that cost too much hand the rest of the call to RE2 (WalkBudget).
class SequenceFinder {
 public:
  SequenceFinder(const RegexElement& e, std::string_view text) noexcept
      : e_(e), seq_(*e.fast().sequence), text_(text) {
    if (!seq_.anchor().empty()) literal_.emplace(seq_.anchor());
  }

  // True once the rest of the call is RE2's.
  bool given_up() const noexcept { return budget_.given_up(); }

  std::optional<RegexMatch> operator()(Pos from) noexcept {
    if (budget_.given_up()) return find_regex_match(e_.unanchored(), text_, from);
    if (seq_.may_be_empty()) return RegexMatch{from, seq_.walk(text_, from).end};
    const Pos n = text_.size();
    const auto* t = reinterpret_cast<const unsigned char*>(text_.data());
    budget_.searching_from(from);
    for (;;) {
      Pos p;       // the candidate start
      Pos resume;  // where the search goes on when its walk fails
      ByteSequence::Walk w;
      if (seq_.search() == ByteSequence::Search::First) {
        p = from < n && seq_.first().contains(t[from]) ? from : seq_.first().next_member(text_, from);
        if (p >= n) return std::nullopt;
        w = seq_.walk(text_, p);
        resume = seq_.first_is_run() ? std::max(p + 1, w.first_end) : p + 1;
      } else {
        const bool after_run = seq_.search() == ByteSequence::Search::AfterRun;
        const Pos ahead = after_run ? seq_.steps()[0].min : seq_.anchor_offset();
        if (n - from < ahead) return std::nullopt;
        const Pos h = find_anchor(from + ahead);
        if (h >= n) return std::nullopt;
        if (after_run) {
          // The run from p ends at h (the anchor's bytes are no members), so the walk resumes there once the
          // run holds the first step's minimum.
          const ByteSequence::Step& run = seq_.steps()[0];
          for (p = h; p > from && run.cls.contains(t[p - 1]);) --p;
          resume = h + 1;
          w = ByteSequence::Walk{false, h, h};
          if (holds_at_least(p, h, run.min, run.by_char)) w = seq_.walk(text_, h, 1);
        } else {
          p = h - seq_.anchor_offset();
          resume = p + 1;
          w = seq_.anchor_step() != 0 ? seq_.walk(text_, h + seq_.anchor().size(), seq_.anchor_step())
                                      : seq_.walk(text_, p);
        }
      }
      if (w.matched) return RegexMatch{p, w.end};
      from = resume;
      while (from < n && is_continuation_byte(t[from])) ++from;
      if (!budget_.affords_failed_walk(w.end, from)) return find_regex_match(e_.unanchored(), text_, from);
    }
  }

 private:
  // Whether [p, h) holds at least `min` bytes, or characters when `by_char`.
  bool holds_at_least(Pos p, Pos h, std::uint32_t min, bool by_char) const noexcept {
    if (h - p < min) return false;
    if (!by_char) return true;
    std::uint32_t chars = 0;
    for (Pos q = p; q < h && chars < min; ++q) chars += !is_continuation_byte(static_cast<unsigned char>(text_[q]));
    return chars >= min;
  }

  // The first position at or after `at` where the anchor begins, or the length.
  Pos find_anchor(Pos at) noexcept {
    if (seq_.anchor().empty()) return seq_.anchor_class().next_member(text_, at);
    const Pos h = literal_->find(text_, at, text_.size());
    return h == NOT_FOUND ? text_.size() : h;
  }

  const RegexElement& e_;
  const ByteSequence& seq_;
  std::string_view text_;
  std::optional<SubstringFinder> literal_;  // when the anchor is a literal
  WalkBudget budget_;
};

// The leftmost match from `from` of a pattern with an automaton (elements/regex_automaton.h), as
// find_regex_match gives it for the pattern (which has no assertion, so the text around a match does not
// matter): the leftmost start where the anchored walk matches, and that walk's match. A pattern that may be
// empty matches at `from` itself. Otherwise candidate starts are the bytes of the automaton's `first`, each walked
// in turn; walks that cost too much hand the rest of the call to RE2 (WalkBudget).
class AutomatonFinder {
 public:
  AutomatonFinder(const RegexElement& e, std::string_view text) noexcept
      : e_(e), automaton_(*e.fast().automaton), text_(text) {}

  // True once the rest of the call is RE2's.
  bool given_up() const noexcept { return budget_.given_up(); }

  std::optional<RegexMatch> operator()(Pos from) noexcept {
    if (budget_.given_up()) return find_regex_match(e_.unanchored(), text_, from);
    if (automaton_.may_be_empty()) return RegexMatch{from, automaton_.walk(text_, from).end};
    const Pos n = text_.size();
    const auto* t = reinterpret_cast<const unsigned char*>(text_.data());
    budget_.searching_from(from);
    for (;;) {
      const ByteClass& first = automaton_.first();
      const Pos p = from < n && first.contains(t[from]) ? from : first.next_member(text_, from);
      if (p >= n) return std::nullopt;
      const CharAutomaton::Walk w = automaton_.walk(text_, p);
      if (w.matched) return RegexMatch{p, w.end};
      from = p + utf8_char_len(t[p]);
      if (!budget_.affords_failed_walk(w.stop, from)) return find_regex_match(e_.unanchored(), text_, from);
    }
  }

 private:
  const RegexElement& e_;
  const CharAutomaton& automaton_;
  std::string_view text_;
  WalkBudget budget_;
};

// Calls `body(find)` with the finder of the element's unanchored expression over `text`: its class run when it
// has one, its walk when it is a plain sequence or has an automaton, else RE2 skipping to the bytes a match may
// start with when the pattern never matches empty, else RE2 alone. Each finder gives exactly find_regex_match's
// result for every `from`.
template <class Body>
inline decltype(auto) with_regex_finder(const RegexElement& e, std::string_view text, Body&& body) {
  const RegexFastForm& fast = e.fast();
  if (fast.run) {
    return body([&fast, text](Pos from) { return find_run_match(*fast.run, fast.run_may_be_empty, text, from); });
  }
  if (fast.sequence) return body(SequenceFinder(e, text));
  if (fast.automaton) return body(AutomatonFinder(e, text));
  if (!fast.may_be_empty) return body(SkippingFinder(e, text));
  return body([&e, text](Pos from) { return find_regex_match(e.unanchored(), text, from); });
}

// The iteration of the element's unanchored expression.
template <class OnMatch>
inline void for_each_regex_match(const RegexElement& e, std::string_view text, OnMatch&& on_match) {
  with_regex_finder(e, text, [&](auto&& find) { iterate_matches(text, find, on_match); });
}

// The number of matches the plain iteration reports.
inline std::uint64_t count_regex_matches(const re2::RE2& re, std::string_view text) {
  std::uint64_t count = 0;
  for_each_regex_match(re, text, [&count](Pos, Pos) { ++count; });
  return count;
}

// The number of matches for_each_regex_match reports for the element; a class run counts them from its bytes.
inline std::uint64_t count_regex_matches(const RegexElement& e, std::string_view text) {
  const RegexFastForm& fast = e.fast();
  if (fast.run) return fast.run->count_run_matches(text, fast.run_may_be_empty);
  std::uint64_t count = 0;
  for_each_regex_match(e, text, [&count](Pos, Pos) { ++count; });
  return count;
}

}  // namespace quillex
