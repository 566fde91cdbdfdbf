// Where a match of an element can start, found once per method call by reading the grammar, so that a scan need
// not enter the element at positions where no match can start.
//
// The reading gives, for an element e, what every match of e at a position p begins with: a position rule
// (p is 0, or p follows a line break), fixed texts that stand at p (one of "def ", "GPL", "LGPL", ...), or the
// bytes a non-empty match can start with. Each kind's rule is what its own test checks first: a Literal or
// Keyword its text, a QuotedString its quote, a Word its initial characters (the ASCII ones as bytes, the
// characters U+0080..U+00FF as their lead bytes 0xC2 and 0xC3), a Regex the first bytes of its fast form when it
// cannot match empty, LineStart and StringStart their positions. An And joins its children's texts while each
// child's match is exactly its text ("def" + " " is "def "; a child that can match empty adds the texts of the
// children after it), a MatchFirst gathers its alternatives', and Optional and the repetitions add a zero-length
// match to their inner element's. Kinds that can match where their bytes say nothing (SkipTo, rest_of_line, a
// Regex that may match empty) leave every position open.
//
// Reading a Forward follows its inner element as it is set now; a method call holds the interpreter lock, so
// the inner element cannot change before the call ends. The reading is bounded (a depth of a few levels, a
// number of visited elements, a number of texts of a few bytes each); past a bound it knows less (texts are cut
// to their first bytes, many texts become their first bytes, and past the depth or the visits nothing is
// known), which also ends cycles through a Forward. Within those bounds, a position the reading excludes fails
// after a bounded nesting (at most the depth read), so skipping it cannot hide a failure of the recursion bound
// either. The reading allocates nothing.
#pragma once

#include <array>
#include <bitset>
#include <optional>
#include <string_view>

#include "elements/element.h"
#include "elements/regex_run.h"
#include "elements/substring_search.h"
#include "elements/text_set_search.h"

namespace quillex {

// StartBytes: a set of bytes, as a necessary condition on the byte at a match's start. Built once per method
// call, so building costs next to nothing: the block search it may need (a ByteClass, whose tables take longer
// to build than a short text takes to scan) is built on its first use.
class StartBytes {
 public:
  // Admits every byte: no position is skipped.
  static StartBytes any() noexcept { return StartBytes(); }
  // Admits the members of `bytes` alone (none: the element matches at no position below the length).
  static StartBytes of(const std::bitset<256>& bytes) noexcept { return StartBytes(bytes); }
  explicit StartBytes(const std::bitset<256>& bytes) noexcept;

  bool is_any() const noexcept { return any_; }
  bool admits(unsigned char b) const noexcept { return any_ || bytes_[b]; }

  // The first position at or after `pos` whose byte is admitted, or text.size() when there is none. The first
  // few bytes are tested one by one: a scan resumes at a match's end or after a failure, where the next
  // candidate is mostly a byte or two away, and a block search costs more to set up than those tests.
  [[nodiscard]] Pos next_candidate(std::string_view text, Pos pos) const noexcept {
    const Pos n = text.size();
    if (any_) return pos < n ? pos : n;
    for (const Pos near = pos + 8 < n ? pos + 8 : n; pos < near; ++pos) {
      if (bytes_[static_cast<unsigned char>(text[pos])]) return pos;
    }
    return pos < n ? next_in_blocks(text, pos) : n;
  }

 private:
  StartBytes() noexcept {}  // user-provided, so that StartBytes() does not zero the block search's storage first
  // The search past the first few bytes: memchr for one member, a compare per member for a few, a ByteClass
  // for more.
  Pos next_in_blocks(std::string_view text, Pos pos) const noexcept;

  static constexpr std::size_t FEW = 4;
  std::bitset<256> bytes_;
  std::array<unsigned char, FEW> few_{};
  std::size_t count_ = 0;  // members
  mutable std::optional<ByteClass> blocks_;
  bool any_ = true;
};

// The bytes at which a match of `element` (as its grammar stands now) can start, for positions below the length:
// whenever element.try_match_at(text, p) matches with p below the length, text[p] is admitted. A necessary
// condition only: admitted bytes still need the element's own test. Allocates nothing; bounded work.
[[nodiscard]] StartBytes start_bytes(const Element& element) noexcept;

// The bytes at which a match of `element` can start below the length, read without following a Forward, so that
// the answer holds whatever any Forward is set to later: nothing when a match may be empty (or start where its
// bytes say nothing), or the reading reaches a Forward or a bound. Meant for tables made once, at construction.
[[nodiscard]] std::optional<std::bitset<256>> lasting_first_bytes(const Element& element) noexcept;

// ScanStarts: the positions a scan for the matches of an element tries, found from the reading. The promise:
// whenever element.try_match_at(text, p) matches with p below the length, p is a candidate. Nothing is promised
// at p == length (no scan tries it). Built in place for one method call (it keeps the needle its substring
// search looks at), it allocates nothing.
class ScanStarts {
 public:
  // How the candidates are found.
  enum class Rule : std::uint8_t {
    Every,       // every position
    Bytes,       // the positions whose byte is admitted (StartBytes)
    Text,        // where the one leading text (a prefix of it) stands: a substring search
    Texts,       // where the first two bytes of one of several leading texts stand (PairFilter)
    LineStarts,  // 0 and every position after a line break
    LineBytes,   // those of them whose byte is admitted
    LineText,    // those of them where the one leading text stands: a search for a line break and the text
    TextStart,   // 0 alone
  };

  explicit ScanStarts(const Element& element) noexcept;
  ScanStarts(const ScanStarts&) = delete;
  ScanStarts& operator=(const ScanStarts&) = delete;

  Rule rule() const noexcept { return rule_; }
  // The text the substring search looks for (Text, LineText), else empty.
  std::string_view needle() const noexcept { return {needle_.data(), needle_size_}; }

  // The first candidate at or after `pos`, or text.size() when there is none.
  [[nodiscard]] Pos next_candidate(std::string_view text, Pos pos) noexcept {
    if (rule_ == Rule::Every) return pos < text.size() ? pos : text.size();
    if (rule_ == Rule::Bytes) return bytes_->next_candidate(text, pos);
    return next_by_rule(text, pos);
  }

 private:
  // Room for the needle: a leading text (the reading keeps at most 16 bytes of one), after a line break for
  // LineText.
  static constexpr std::size_t MAX_NEEDLE = 24;

  Pos next_by_rule(std::string_view text, Pos pos) noexcept;

  Rule rule_ = Rule::Every;
  std::optional<StartBytes> bytes_;  // Bytes, LineBytes
  PairFilter pairs_;
  std::array<char, MAX_NEEDLE> needle_{};
  std::size_t needle_size_ = 0;
  std::optional<SubstringFinder> finder_;  // looks at needle_
};

}  // namespace quillex
