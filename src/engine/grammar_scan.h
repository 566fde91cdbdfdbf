// The one scan of every method that looks for all matches of a grammar in a text (search_string,
// search_string_count and transform_string of every class but the terminals with fast paths of their own): the
// matches scan_element_matches reports, found by trying the element only at the candidates of its ScanStarts,
// with a rule per kind that may vouch for more positions at once.
#pragma once

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "elements/chars.h"
#include "elements/forward.h"
#include "elements/literals.h"
#include "elements/regex.h"
#include "elements/start_bytes.h"
#include "elements/structure.h"
#include "engine/scan.h"
#include "engine/skip_to_scan.h"

namespace quillex::engine {

// ---------------------------------------------------------------------------------------------------------------
// A child's try_match_at, called directly for the kinds a sequence most often holds (their tests are inline),
// through the element's table for the others.
inline MatchResult try_child(const Element& child, std::string_view text, Pos pos) {
  switch (child.kind()) {
    case Kind::Literal: {
      const auto& literal = static_cast<const LiteralElement&>(child);
      return {literal.matches_at(text, pos), pos + literal.text().size()};
    }
    case Kind::Word:
      return static_cast<const WordElement&>(child).match(text, pos);
    case Kind::Regex:
      return static_cast<const RegexElement&>(child).match_at(text, pos);
    default:
      return child.try_match_at(text, pos);
  }
}

// AndScanRule: AndElement::try_match_at at a position (its guard included), with shortcuts that raise the
// scan's resume position after a failure without changing its matches:
// - when the first child is a Word without a byte limit, or a Regex that is a class run, and it matched [pos, e)
//   and a later child then failed, the scan goes on at e. At a later character boundary q inside [pos, e) the
//   characters from q to e are the run's (a Word's body characters, the class's members) and e holds none, so
//   the first child at q either fails (a Word: q's character is not initial, or fewer than `min` remain) or
//   ends at e again, where the later children see the same text and position and fail again; at a position
//   inside a character it fails at once (no Word member starts with a continuation byte, and a Regex never
//   matches there). A Word's body set without its initial set changes nothing in this: a later start is tested
//   against the initial set anyway.
// - when the first child is a SkipTo tried at a character boundary: it ends at the first target position q
//   from there, and from every later boundary up to q as well, where the later children see the same text and
//   position; and when it finds none, none is found from any later boundary either. So after a failure the
//   scan goes on at the next position inside a character (where SkipTo only tests its target at the position
//   itself), or past q when that comes first.
class AndScanRule {
 public:
  explicit AndScanRule(const AndElement& e) noexcept : children_(e.children()) {
    if (children_.empty()) return;
    const Element& first = *children_.front();
    if (first.kind() == Kind::Word && static_cast<const WordElement&>(first).max() == 0) {
      lead_word_ = &static_cast<const WordElement&>(first);
    } else if (first.kind() == Kind::Regex && static_cast<const RegexElement&>(first).fast().run) {
      lead_run_ = &static_cast<const RegexElement&>(first);
    } else if (first.kind() == Kind::SkipTo) {
      lead_skip_ = &static_cast<const SkipToElement&>(first);
    }
  }

  std::size_t children() const noexcept { return children_.size(); }
  // Whether the first child lets a failure raise the resume position.
  bool has_lead_rule() const noexcept { return lead_word_ != nullptr || lead_run_ != nullptr || lead_skip_ != nullptr; }

  // `ends`, when given, has room for one position per child and receives each child's end (read only after a
  // match). On failure `resume` may be raised (above).
  [[nodiscard]] MatchResult operator()(std::string_view text, Pos pos, Pos& resume, Pos* ends = nullptr) const {
    DepthGuard guard;
    if (!guard.ok()) return {false, 0};
    std::size_t i = 0;
    Pos p = pos;
    Pos settled = pos;  // where the scan may resume when a later child fails
    if (lead_word_ != nullptr || lead_run_ != nullptr) {
      const MatchResult m = lead_word_ != nullptr ? lead_word_->match(text, pos) : lead_run_->match_at(text, pos);
      if (!m.matched) return {false, 0};
      p = settled = m.end;  // pos itself when a '*' run matched empty
      if (ends != nullptr) ends[0] = p;
      i = 1;
    } else if (lead_skip_ != nullptr) {
      const MatchResult m = lead_skip_->try_match_at(text, pos);
      if (is_char_boundary(text, pos)) {
        const Pos inside = next_inside_char(text, pos + 1);
        if (!m.matched) {
          if (inside > resume) resume = inside;
          return {false, 0};
        }
        settled = std::min({inside, m.end + 1, static_cast<Pos>(text.size())});
      }
      if (!m.matched) return {false, 0};
      p = m.end;
      if (ends != nullptr) ends[0] = p;
      i = 1;
    }
    for (; i < children_.size(); ++i) {
      const MatchResult m = try_child(*children_[i], text, p);
      if (!m.matched) {
        if (settled > resume) resume = settled;
        return {false, 0};
      }
      p = m.end;
      if (ends != nullptr) ends[i] = p;
    }
    return {true, p};
  }

 private:
  const ElementList& children_;
  // The first child, when its later starts can be settled by its match (above).
  const WordElement* lead_word_ = nullptr;
  const RegexElement* lead_run_ = nullptr;
  const SkipToElement* lead_skip_ = nullptr;
};

// ---------------------------------------------------------------------------------------------------------------
// GrammarRoot: the element a scan tries, found under the wrappers whose test is their inner element's (Group,
// Combine and Suppress: their own level only enters a guard) and under Forwards, whose read locks it holds for
// the scan (a few levels: a Forward set to itself ends the descent, and its own test then overflows as it
// would). Skipping the wrappers' guards lets a match nest a few levels deeper before the recursion bound.
class GrammarRoot {
 public:
  explicit GrammarRoot(const Element& element) noexcept : root_(&element) {
    for (std::size_t level = 0; level < MAX_LEVELS; ++level) {
      const Kind k = root_->kind();
      if (k == Kind::Group || k == Kind::Combine || k == Kind::Suppress) {
        root_ = static_cast<const InnerElement&>(*root_).inner().get();
      } else if (k == Kind::Forward && held_ < MAX_HOLDS) {
        const ForwardHold& hold = holds_[held_++].emplace(static_cast<const ForwardElement&>(*root_));
        if (hold.inner() == nullptr) return;  // unset: the Forward itself, which matches nowhere
        root_ = hold.inner();
      } else {
        return;
      }
    }
  }
  GrammarRoot(const GrammarRoot&) = delete;
  GrammarRoot& operator=(const GrammarRoot&) = delete;

  const Element& element() const noexcept { return *root_; }

 private:
  static constexpr std::size_t MAX_LEVELS = 8;
  static constexpr std::size_t MAX_HOLDS = 4;
  // Released in the reverse order of their taking (an array's elements are destroyed last first).
  std::array<std::optional<ForwardHold>, MAX_HOLDS> holds_;
  std::size_t held_ = 0;
  const Element* root_;
};

// QuotedString's rule: a scan that opened at pos and gave up at f settles every opening before f (QuotedScan), so
// the scan resumes at f and reads each byte a bounded number of times.
class QuotedStringRule {
 public:
  explicit QuotedStringRule(const QuotedStringElement& q) noexcept : q_(q) {}

  [[nodiscard]] MatchResult operator()(std::string_view text, Pos pos, Pos& resume) const noexcept {
    const QuotedScan r = scan_quoted_string_from(q_, text, pos);
    if (r.closed) return {true, r.at + q_.quote().size()};
    if (r.at > resume) resume = r.at;
    return {false, 0};
  }

 private:
  const QuotedStringElement& q_;
};

// Optional(X) and ZeroOrMore(X) match at every position, with zero length where X fails. X is tried at its own
// candidates (`starts`, X's) only: at every other position it fails within a bounded nesting (start_bytes.h), so
// the match there is zero-length.
template <class OnMatch>
inline void scan_always_matching(const InnerElement& element, ScanStarts& starts, std::string_view text,
                                 OnMatch&& on_match, Pos from = 0) {
  const Pos n = text.size();
  Pos pos = from;
  while (pos < n) {
    const Pos next = starts.next_candidate(text, pos);
    for (; pos < next; ++pos) on_match(pos, pos);
    if (pos == n) return;
    const MatchResult m = element.try_match_at(text, pos);
    if (recursion_overflowed()) return;
    if (m.matched) on_match(pos, m.end);
    pos = m.matched && m.end > pos ? m.end : pos + 1;
  }
}

// GrammarScanner: the scan of every match of an element over a text, as scan_element_matches reports them (in
// order, zero-length ones included; see scan_matches for the rule and for the recursion flag, which stops the
// scan). Built once per method call (it reads the grammar and holds its root Forwards), it may run several
// scans of the call's text (a transform sizes its result with one and writes it with another).
class GrammarScanner {
 public:
  explicit GrammarScanner(const Element& element) noexcept : root_(element) {
    const Element& e = root_.element();
    switch (e.kind()) {
      case Kind::SkipTo:
        return;  // its own scan
      case Kind::Optional:
      case Kind::ZeroOrMore:
        starts_.emplace(*static_cast<const InnerElement&>(e).inner());
        return;
      case Kind::And:
        and_rule_.emplace(static_cast<const AndElement&>(e));
        starts_.emplace(e);
        return;
      default:
        starts_.emplace(e);
        return;
    }
  }

  // The scan from `from` (see scan_candidate_matches).
  template <class OnMatch>
  void run(std::string_view text, OnMatch&& on_match, Pos from = 0) {
    const Element& e = root_.element();
    switch (e.kind()) {
      case Kind::And:
        if (!and_rule_->has_lead_rule()) break;  // the And's own test (its steps) is the rule
        scan_candidate_matches(text, *starts_, *and_rule_, on_match, from);
        return;
      case Kind::QuotedString:
        scan_candidate_matches(text, *starts_, QuotedStringRule(static_cast<const QuotedStringElement&>(e)),
                               on_match, from);
        return;
      case Kind::SkipTo:
        scan_skip_to_matches(static_cast<const SkipToElement&>(e), text, on_match, from);
        return;
      case Kind::Optional:
      case Kind::ZeroOrMore:
        scan_always_matching(static_cast<const InnerElement&>(e), *starts_, text, on_match, from);
        return;
      default:
        break;
    }
    scan_candidate_matches(
        text, *starts_, [&e](std::string_view t, Pos pos, Pos&) { return e.try_match_at(t, pos); }, on_match, from);
  }

 private:
  const GrammarRoot root_;  // first: the rest read through the Forwards it holds
  std::optional<ScanStarts> starts_;
  std::optional<AndScanRule> and_rule_;
};

// One scan with a scanner of its own.
template <class OnMatch>
inline void scan_grammar_matches(const Element& element, std::string_view text, OnMatch&& on_match) {
  GrammarScanner(element).run(text, on_match);
}

}  // namespace quillex::engine
