// Structure elements: the constant kinds Empty and NoMatch, and the combinators that hold other elements.
//
// A combinator holds one reference to each child for its whole life and never changes them. `parse` builds
// tokens by moving the children's tokens into one list (no token is copied) and releases every outcome it does
// not return at once; `try_match_at` calls only the children's `try_match_at` and allocates nothing. Every
// combinator enters a DepthGuard before it matches a child, and the loops (repetitions, SkipTo's scan) also stop
// once the thread's overflow flag is set, so an overflowing match unwinds in time proportional to its depth.
//
// A repetition's iteration advances when it ends at another position than it started; the first one that does
// not advance ends the loop, so every loop runs at most length + 1 iterations whatever its count says.
//
// UTF-8: the combinators cut the text only at their children's ends and at their own start, and a child's
// non-empty match never starts or ends inside a character, so neither does theirs. SkipTo, which chooses its own
// end, passes over positions inside a character.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "elements/element.h"
#include "elements/start_bytes.h"

namespace quillex {

class LiteralElement;
class RegexElement;

// Empty: matches with zero length at every position, on every text, with no tokens.
class EmptyElement final : public Element {
 public:
  EmptyElement() noexcept : Element(Kind::Empty) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;
  StartOutcome parse_at_start(std::string_view text) const override;

 private:
  ~EmptyElement() override = default;
};

// NoMatch: fails everywhere with "NoMatch will never match" (a new string per failure: the kind stores nothing).
class NoMatchElement final : public Element {
 public:
  NoMatchElement() noexcept : Element(Kind::NoMatch) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;
  StartOutcome parse_at_start(std::string_view text) const override;

 private:
  ~NoMatchElement() override = default;
};

using ElementList = std::vector<ElementRef>;

// And: each child from the previous child's end; the tokens of all children in order. Fails with the first
// failing child's error, unchanged. No children: a zero-length match.
//
// try_match_at tests each child through a step made at construction: the child with its Group, Suppress,
// Combine and Optional wrappers taken off (they only pass their inner element's test on, Optional turning a
// failure into a zero-length match), and a Literal, Word or Regex tested in place instead of through a virtual
// call. The steps decide exactly what the children's own tests decide.
class AndElement final : public Element {
 public:
  explicit AndElement(ElementList children) noexcept;
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;

  const ElementList& children() const noexcept { return children_; }

  struct TestStep;

 private:
  ~AndElement() override;
  ElementList children_;
  // One step per child; null when their memory could not be had (the children are then tested as they stand).
  std::unique_ptr<const TestStep[]> steps_;
};

// MatchFirst: the first alternative, in order, that matches; its outcome unchanged. All fail: the last
// alternative's error; no alternatives: "No match found" at pos.
//
// try_match_at below the length tries only the alternatives that can start with the byte at the position, in
// order: a table made at construction from each alternative's first bytes, read without crossing a Forward (whose
// inner element may change later), so an alternative it leaves out cannot match there. parse and parse_into try
// every alternative, since the error they report is the last alternative's.
class MatchFirstElement final : public Element {
 public:
  explicit MatchFirstElement(ElementList alternatives) noexcept;
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;

  const ElementList& alternatives() const noexcept { return alternatives_; }
  // Test hook: whether try_match_at goes by the first-byte table.
  bool dispatches_by_first_byte() const noexcept { return dispatch_ != nullptr; }

 private:
  ~MatchFirstElement() override;
  ElementList alternatives_;
  // The first-byte table: by byte, the alternatives that may match at a position holding it (bit i: alternative
  // i), in entries of 1 << entry_shift_ bytes, the fewest that hold a bit per alternative. Null when no
  // alternative's first bytes are known, there are more than 64, or the memory could not be had.
  std::unique_ptr<const unsigned char[]> dispatch_;
  std::uint8_t entry_shift_ = 0;
};

// The kinds with one child. Not a kind itself: the final classes below derive from it.
class InnerElement : public Element {
 public:
  const ElementRef& inner() const noexcept { return inner_; }

 protected:
  InnerElement(Kind kind, ElementRef inner) noexcept : Element(kind), inner_(std::move(inner)) {}
  ~InnerElement() override = default;

 private:
  ElementRef inner_;
};

// Optional: the child's match unchanged, or a zero-length match without tokens where the child fails. Never
// fails.
class OptionalElement final : public InnerElement {
 public:
  explicit OptionalElement(ElementRef inner) noexcept : InnerElement(Kind::Optional, std::move(inner)) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;
  StartOutcome parse_at_start(std::string_view text) const override;

 private:
  ~OptionalElement() override = default;
};

// ZeroOrMore: the child repeated while it advances; the advancing iterations' tokens. Never fails.
class ZeroOrMoreElement final : public InnerElement {
 public:
  explicit ZeroOrMoreElement(ElementRef inner) noexcept : InnerElement(Kind::ZeroOrMore, std::move(inner)) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;

 private:
  ~ZeroOrMoreElement() override = default;
};

// OneOrMore: as ZeroOrMore with at least one advancing iteration, else "Expected at least one match" at pos.
// `try_match_at` accepts a first iteration that does not advance (a zero-length match where `parse` fails), so
// that it answers with the child's first test alone.
class OneOrMoreElement final : public InnerElement {
 public:
  explicit OneOrMoreElement(ElementRef inner) noexcept : InnerElement(Kind::OneOrMore, std::move(inner)) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;

 private:
  ~OneOrMoreElement() override = default;
};

// Exactly: `count` iterations of the child, each advancing; 0 is a zero-length match. A failing iteration
// reports the child's error; one that does not advance, "No progress in Exactly" at its start.
class ExactlyElement final : public InnerElement {
 public:
  ExactlyElement(ElementRef inner, std::uint64_t count) noexcept
      : InnerElement(Kind::Exactly, std::move(inner)), count_(count) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;

  std::uint64_t count() const noexcept { return count_; }

 private:
  ~ExactlyElement() override = default;
  std::uint64_t count_;
};

// Group: the child's outcome unchanged (the tokens stay flat).
class GroupElement final : public InnerElement {
 public:
  explicit GroupElement(ElementRef inner) noexcept : InnerElement(Kind::Group, std::move(inner)) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;
  StartOutcome parse_at_start(std::string_view text) const override;

 private:
  ~GroupElement() override = default;
};

// Suppress: the child's match without tokens (the child is only tested, its tokens never built); fails with
// "Suppress: no match" at pos.
class SuppressElement final : public InnerElement {
 public:
  explicit SuppressElement(ElementRef inner) noexcept : InnerElement(Kind::Suppress, std::move(inner)) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;
  StartOutcome parse_at_start(std::string_view text) const override;

 private:
  ~SuppressElement() override = default;
};

// Combine: the child's match as one token, the matched text; the child's own tokens are dropped. The child is
// parsed (not only tested) so that a failure carries its message and position.
class CombineElement final : public InnerElement {
 public:
  explicit CombineElement(ElementRef inner) noexcept : InnerElement(Kind::Combine, std::move(inner)) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;

 private:
  ~CombineElement() override = default;
};

// SkipTo: ends at the first position i from pos to the length (both included) at which the target matches; the
// one token is the text from pos to i. The target is only tested, never consumed. Positions inside a character
// are passed over, and from a start inside a character only i == pos can be taken, so the token never splits a
// character. Fails with "SkipTo: target not found" at pos.
//
// Cost. The first target position at or after a boundary p is the same for every start from p up to it, and
// when there is none, there is none from any later start either. Inside a match session (match_session.h) each
// SkipTo remembers the answer of its last search, so a scan that tries SkipTo at every position (a search, a
// count, `a + SkipTo(b)` over a long text) searches each stretch of the text once instead of once per start,
// however many SkipTos a grammar holds. A search tests the target at each boundary its reading admits
// (ScanStarts), except for two kinds of target: a Literal is looked for as a substring, and a Regex whose match
// at a position depends only on the text from there on is tested at the start, then found by one unanchored
// search of the rest of the text.
class SkipToElement final : public InnerElement {
 public:
  explicit SkipToElement(ElementRef target) noexcept;
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;

  const ElementRef& target() const noexcept { return inner(); }
  // The target when it is a Regex found by an unanchored search, else null.
  const RegexElement* target_regex() const noexcept { return target_regex_; }

  // The first boundary at or after `from` (itself a boundary) at which the target matches: the end of the match
  // at `from`. Remembered inside a match session. Nothing when a nested match overflowed the recursion bound.
  std::optional<Pos> first_target_from(std::string_view text, Pos from) const;

 private:
  ~SkipToElement() override = default;
  std::optional<Pos> search_target(std::string_view text, Pos from, std::optional<Pos> stop) const;

  // Owned by the target; at most one is set.
  const RegexElement* target_regex_;
  const LiteralElement* target_literal_;

  // The answer of the last target search of a match session: the first boundary at or after `from` at which the
  // target matches over the text (`data`, `size`) is `found`, or NOT_FOUND. The same answer holds for every
  // start in [from, found], and with none, for every start at or after `from`. Written and read by
  // first_target_from alone, inside the session whose stamp it carries.
  struct TargetScan {
    const char* data = nullptr;
    std::size_t size = 0;
    std::uint64_t stamp = 0;  // 0: none
    Pos from = 0;
    Pos found = 0;
  };
  mutable TargetScan memo_;
  // The candidate starts of a target that is neither Literal nor Regex, read once per match session (no Forward
  // the reading follows is re-set inside one) and stamped like memo_. Every search of the session uses it, one
  // made back into this SkipTo through the target included: a search keeps no position of its own in it.
  mutable std::optional<ScanStarts> starts_;
  mutable std::uint64_t starts_stamp_ = 0;
};

// The success body shared by the kinds that always match at position 0 with no tokens (Empty, LineStart,
// StringStart).
StartOutcome start_success_without_tokens();

}  // namespace quillex
