#include "elements/structure.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "elements/chars.h"
#include "elements/literals.h"
#include "elements/match_session.h"
#include "elements/regex.h"
#include "elements/regex_syntax.h"
#include "elements/regex_find.h"
#include "elements/start_bytes.h"

namespace quillex {

StartOutcome start_success_without_tokens() {
  StartOutcome s;
  s.ok = true;
  return s;
}

ParseOutcome EmptyElement::parse(std::string_view, Pos pos) const { return ParseOutcome::success(pos); }
MatchResult EmptyElement::try_match_at(std::string_view, Pos pos) const { return {true, pos}; }
StartOutcome EmptyElement::parse_at_start(std::string_view) const { return start_success_without_tokens(); }
MatchResult EmptyElement::parse_into(std::string_view, Pos pos, TokenBuffer&) const { return {true, pos}; }

namespace {
constexpr std::string_view NO_MATCH_MESSAGE = "NoMatch will never match";
}

ParseOutcome NoMatchElement::parse(std::string_view, Pos pos) const {
  return ParseOutcome::failure(SharedStr::make(NO_MATCH_MESSAGE), pos);
}
MatchResult NoMatchElement::try_match_at(std::string_view, Pos) const { return {false, 0}; }
MatchResult NoMatchElement::parse_into(std::string_view, Pos pos, TokenBuffer& out) const {
  return out.fail(NO_MATCH_MESSAGE, pos);
}
StartOutcome NoMatchElement::parse_at_start(std::string_view) const {
  StartOutcome s;
  s.error.message = SharedStr::make(NO_MATCH_MESSAGE);
  s.error.position = 0;
  return s;
}

// ---------------------------------------------------------------------------------------------------------------
// Combinators

namespace {

constexpr std::string_view MATCH_FIRST_MESSAGE = "No match found";
constexpr std::string_view ONE_OR_MORE_MESSAGE = "Expected at least one match";
constexpr std::string_view EXACTLY_MESSAGE = "No progress in Exactly";
constexpr std::string_view SUPPRESS_MESSAGE = "Suppress: no match";
constexpr std::string_view SKIP_TO_MESSAGE = "SkipTo: target not found";

// The combinators store no message: each failure that reports one of their own makes a new string.
ParseOutcome fail_with(std::string_view message, Pos pos) {
  return ParseOutcome::failure(SharedStr::make(message), pos);
}

TokenList one_token(std::string_view text, Pos from, Pos to) {
  TokenList t;
  t.push_back(SharedStr::make(text.substr(from, to - from)));
  return t;
}

constexpr MatchResult NO_MATCH{false, 0};

}  // namespace

// And

struct AndElement::TestStep {
  enum class Op : std::uint8_t { Call, Literal, Word, Regex };
  const Element* element;  // the child with its wrappers taken off; owned through the child
  Op op;
  bool optional;  // a failure that did not overflow is a zero-length match
};

namespace {

// At most this many wrappers are taken off a child: the guards they would have entered are what bounds the
// nesting of a deep chain of wrappers, so a chain stays nested about as deep as before.
constexpr int MAX_UNWRAPPED = 4;

AndElement::TestStep test_step(const Element* e) noexcept {
  bool optional = false;
  for (int k = 0; k < MAX_UNWRAPPED; ++k) {
    const Kind kind = e->kind();
    if (kind == Kind::Optional) {
      optional = true;
    } else if (kind != Kind::Group && kind != Kind::Suppress && kind != Kind::Combine) {
      break;
    }
    e = static_cast<const InnerElement*>(e)->inner().get();
  }
  using Op = AndElement::TestStep::Op;
  const Op op = e->kind() == Kind::Literal ? Op::Literal
                : e->kind() == Kind::Word  ? Op::Word
                : e->kind() == Kind::Regex ? Op::Regex
                                           : Op::Call;
  return {e, op, optional};
}

}  // namespace

AndElement::AndElement(ElementList children) noexcept : Element(Kind::And), children_(std::move(children)) {
  if (children_.empty()) return;
  auto* steps = new (std::nothrow) TestStep[children_.size()];
  if (steps == nullptr) return;
  for (std::size_t i = 0; i < children_.size(); ++i) steps[i] = test_step(children_[i].get());
  steps_.reset(steps);
}

AndElement::~AndElement() = default;

ParseOutcome AndElement::parse(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return recursion_failure(pos);
  TokenList tokens;
  Pos p = pos;
  for (const ElementRef& child : children_) {
    ParseOutcome o = child->parse(text, p);
    if (!o.ok) return o;
    append_tokens(tokens, std::move(o.tokens));
    p = o.end;
  }
  return ParseOutcome::success(p, std::move(tokens));
}

MatchResult AndElement::try_match_at(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return NO_MATCH;
  Pos p = pos;
  if (!steps_) {
    for (const ElementRef& child : children_) {
      MatchResult m = child->try_match_at(text, p);
      if (!m.matched) return NO_MATCH;
      p = m.end;
    }
    return {true, p};
  }
  using Op = TestStep::Op;
  const TestStep* const last = steps_.get() + children_.size();
  for (const TestStep* step = steps_.get(); step != last; ++step) {
    MatchResult m;
    switch (step->op) {
      case Op::Literal: {
        const auto& literal = static_cast<const LiteralElement&>(*step->element);
        m = {literal.matches_at(text, p), p + literal.text().size()};
        break;
      }
      case Op::Word:
        m = static_cast<const WordElement&>(*step->element).match(text, p);
        break;
      case Op::Regex:
        m = static_cast<const RegexElement&>(*step->element).match_at(text, p);
        break;
      case Op::Call:
        m = step->element->try_match_at(text, p);
        break;
    }
    if (m.matched) {
      p = m.end;
    } else if (!step->optional || recursion_overflowed()) {
      return NO_MATCH;
    }
  }
  return {true, p};
}

MatchResult AndElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  DepthGuard guard;
  if (!guard.ok()) return out.fail(RECURSION_MESSAGE, pos);
  const std::size_t entry = out.size();
  Pos p = pos;
  for (const ElementRef& child : children_) {
    const MatchResult m = child->parse_into(text, p, out);
    if (!m.matched) {
      out.truncate(entry);
      return m;
    }
    p = m.end;
  }
  return {true, p};
}

// MatchFirst

namespace {

// The first-byte table's entries, read and written through memcpy: the table is bytes, whatever its entry width.
template <class Entry>
void store_entry(unsigned char* table, unsigned b, Entry value) noexcept {
  std::memcpy(table + b * sizeof(Entry), &value, sizeof(Entry));
}
template <class Entry>
Entry load_entry(const unsigned char* table, unsigned b) noexcept {
  Entry value;
  std::memcpy(&value, table + b * sizeof(Entry), sizeof(Entry));
  return value;
}

}  // namespace

MatchFirstElement::MatchFirstElement(ElementList alternatives) noexcept
    : Element(Kind::MatchFirst), alternatives_(std::move(alternatives)) {
  const std::size_t n = alternatives_.size();
  if (n == 0 || n > 64) return;
  std::uint64_t everywhere = 0;  // alternatives whose first bytes are not known
  std::uint64_t admitted[256] = {};
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t bit = std::uint64_t{1} << i;
    const std::optional<std::bitset<256>> bytes = lasting_first_bytes(*alternatives_[i]);
    if (!bytes) {
      everywhere |= bit;
      continue;
    }
    for (std::size_t b = bytes->_Find_first(); b < 256; b = bytes->_Find_next(b)) admitted[b] |= bit;
  }
  if (everywhere == (n == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1)) return;
  // Entries of 1, 2, 4 or 8 bytes, the fewest that hold a bit per alternative.
  const unsigned shift = n <= 8 ? 0 : n <= 16 ? 1 : n <= 32 ? 2 : 3;
  auto* table = new (std::nothrow) unsigned char[256u << shift];
  if (table == nullptr) return;
  for (unsigned b = 0; b < 256; ++b) {
    const std::uint64_t mask = admitted[b] | everywhere;
    switch (shift) {
      case 0: table[b] = static_cast<std::uint8_t>(mask); break;
      case 1: store_entry(table, b, static_cast<std::uint16_t>(mask)); break;
      case 2: store_entry(table, b, static_cast<std::uint32_t>(mask)); break;
      default: store_entry(table, b, mask); break;
    }
  }
  dispatch_.reset(table);
  entry_shift_ = static_cast<std::uint8_t>(shift);
}

MatchFirstElement::~MatchFirstElement() = default;

ParseOutcome MatchFirstElement::parse(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return recursion_failure(pos);
  if (alternatives_.empty()) return fail_with(MATCH_FIRST_MESSAGE, pos);
  ParseOutcome last;
  for (const ElementRef& alt : alternatives_) {
    // Assigning releases the failure remembered from the alternative before.
    last = alt->parse(text, pos);
    if (last.ok || recursion_overflowed()) return last;
  }
  return last;
}

MatchResult MatchFirstElement::try_match_at(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return NO_MATCH;
  if (dispatch_ && pos < text.size()) {
    const unsigned char* const table = dispatch_.get();
    const auto b = static_cast<unsigned char>(text[pos]);
    std::uint64_t left;
    switch (entry_shift_) {
      case 0: left = table[b]; break;
      case 1: left = load_entry<std::uint16_t>(table, b); break;
      case 2: left = load_entry<std::uint32_t>(table, b); break;
      default: left = load_entry<std::uint64_t>(table, b); break;
    }
    for (; left != 0; left &= left - 1) {
      MatchResult m = alternatives_[static_cast<std::size_t>(__builtin_ctzll(left))]->try_match_at(text, pos);
      if (m.matched) return m;
      if (recursion_overflowed()) return NO_MATCH;
    }
    return NO_MATCH;
  }
  for (const ElementRef& alt : alternatives_) {
    MatchResult m = alt->try_match_at(text, pos);
    if (m.matched) return m;
    if (recursion_overflowed()) return NO_MATCH;
  }
  return NO_MATCH;
}

// Each failing alternative leaves `out` as it found it, with its own failure recorded over the one before.
MatchResult MatchFirstElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  DepthGuard guard;
  if (!guard.ok()) return out.fail(RECURSION_MESSAGE, pos);
  if (alternatives_.empty()) return out.fail(MATCH_FIRST_MESSAGE, pos);
  MatchResult m;
  for (const ElementRef& alt : alternatives_) {
    m = alt->parse_into(text, pos, out);
    if (m.matched || recursion_overflowed()) return m;
  }
  return m;
}

// Optional. When the child fails only because matching overflowed, the failure is passed up instead of
// succeeding empty, so that the parents stop at once.

ParseOutcome OptionalElement::parse(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return recursion_failure(pos);
  ParseOutcome o = inner()->parse(text, pos);
  if (o.ok || recursion_overflowed()) return o;
  return ParseOutcome::success(pos);
}

MatchResult OptionalElement::try_match_at(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return NO_MATCH;
  MatchResult m = inner()->try_match_at(text, pos);
  if (m.matched) return m;
  if (recursion_overflowed()) return NO_MATCH;
  return {true, pos};
}

MatchResult OptionalElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  DepthGuard guard;
  if (!guard.ok()) return out.fail(RECURSION_MESSAGE, pos);
  const MatchResult m = inner()->parse_into(text, pos, out);
  if (m.matched || recursion_overflowed()) return m;
  return {true, pos};
}

StartOutcome OptionalElement::parse_at_start(std::string_view text) const {
  DepthGuard guard;
  if (!guard.ok()) return StartOutcome::from(recursion_failure(0));
  StartOutcome s = StartOutcome::from(inner()->parse(text, 0));
  if (!s.ok && !recursion_overflowed()) {
    s.ok = true;
    s.error = {};
  }
  return s;
}

// ZeroOrMore and OneOrMore share the token loop; they differ only in what zero advancing iterations give.

namespace {

struct RepeatResult {
  Pos end;
  std::uint64_t iterations;
  TokenList tokens;
};

RepeatResult parse_repeated(const Element& inner, std::string_view text, Pos pos) {
  RepeatResult r{pos, 0, {}};
  while (!recursion_overflowed()) {
    ParseOutcome o = inner.parse(text, r.end);
    if (!o.ok || o.end == r.end) break;
    append_tokens(r.tokens, std::move(o.tokens));
    r.end = o.end;
    ++r.iterations;
  }
  return r;
}

// End after the advancing iterations of `inner` from `pos`.
Pos match_repeated(const Element& inner, std::string_view text, Pos pos) {
  Pos p = pos;
  while (!recursion_overflowed()) {
    MatchResult m = inner.try_match_at(text, p);
    if (!m.matched || m.end == p) break;
    p = m.end;
  }
  return p;
}

// parse_repeated on the parse path: the advancing iterations' tokens stay in `out`, the last iteration's go.
// False when matching overflowed: `out` is then cut back to where it was and the failure recorded.
bool parse_repeated_into(const Element& inner, std::string_view text, Pos pos, TokenBuffer& out, Pos& end,
                         std::uint64_t& iterations) {
  const std::size_t entry = out.size();
  end = pos;
  while (!recursion_overflowed()) {
    const std::size_t mark = out.size();
    const MatchResult m = inner.parse_into(text, end, out);
    if (!m.matched) break;
    if (m.end == end) {
      out.truncate(mark);
      break;
    }
    end = m.end;
    ++iterations;
  }
  if (!recursion_overflowed()) return true;
  out.truncate(entry);
  (void)out.fail(RECURSION_MESSAGE, pos);
  return false;
}

}  // namespace

ParseOutcome ZeroOrMoreElement::parse(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return recursion_failure(pos);
  RepeatResult r = parse_repeated(*inner(), text, pos);
  if (recursion_overflowed()) return recursion_failure(pos);
  return ParseOutcome::success(r.end, std::move(r.tokens));
}

MatchResult ZeroOrMoreElement::try_match_at(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return NO_MATCH;
  Pos end = match_repeated(*inner(), text, pos);
  if (recursion_overflowed()) return NO_MATCH;
  return {true, end};
}

MatchResult ZeroOrMoreElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  DepthGuard guard;
  if (!guard.ok()) return out.fail(RECURSION_MESSAGE, pos);
  Pos end = pos;
  std::uint64_t iterations = 0;
  if (!parse_repeated_into(*inner(), text, pos, out, end, iterations)) return NO_MATCH;
  return {true, end};
}

ParseOutcome OneOrMoreElement::parse(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return recursion_failure(pos);
  RepeatResult r = parse_repeated(*inner(), text, pos);
  if (recursion_overflowed()) return recursion_failure(pos);
  if (r.iterations == 0) return fail_with(ONE_OR_MORE_MESSAGE, pos);
  return ParseOutcome::success(r.end, std::move(r.tokens));
}

MatchResult OneOrMoreElement::try_match_at(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return NO_MATCH;
  MatchResult first = inner()->try_match_at(text, pos);
  if (!first.matched) return NO_MATCH;
  Pos end = match_repeated(*inner(), text, first.end);
  if (recursion_overflowed()) return NO_MATCH;
  return {true, end};
}

MatchResult OneOrMoreElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  DepthGuard guard;
  if (!guard.ok()) return out.fail(RECURSION_MESSAGE, pos);
  Pos end = pos;
  std::uint64_t iterations = 0;
  if (!parse_repeated_into(*inner(), text, pos, out, end, iterations)) return NO_MATCH;
  if (iterations == 0) return out.fail(ONE_OR_MORE_MESSAGE, pos);
  return {true, end};
}

// Exactly

ParseOutcome ExactlyElement::parse(std::string_view text, Pos pos) const {
  if (count_ == 0) return ParseOutcome::success(pos);
  DepthGuard guard;
  if (!guard.ok()) return recursion_failure(pos);
  TokenList tokens;
  Pos p = pos;
  for (std::uint64_t k = count_; k > 0; --k) {
    ParseOutcome o = inner()->parse(text, p);
    if (!o.ok) return o;
    if (o.end == p) return fail_with(EXACTLY_MESSAGE, p);
    append_tokens(tokens, std::move(o.tokens));
    p = o.end;
  }
  return ParseOutcome::success(p, std::move(tokens));
}

MatchResult ExactlyElement::try_match_at(std::string_view text, Pos pos) const {
  if (count_ == 0) return {true, pos};
  DepthGuard guard;
  if (!guard.ok()) return NO_MATCH;
  Pos p = pos;
  for (std::uint64_t k = count_; k > 0; --k) {
    MatchResult m = inner()->try_match_at(text, p);
    if (!m.matched || m.end == p) return NO_MATCH;
    p = m.end;
  }
  return {true, p};
}

MatchResult ExactlyElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  if (count_ == 0) return {true, pos};
  DepthGuard guard;
  if (!guard.ok()) return out.fail(RECURSION_MESSAGE, pos);
  const std::size_t entry = out.size();
  Pos p = pos;
  for (std::uint64_t k = count_; k > 0; --k) {
    const MatchResult m = inner()->parse_into(text, p, out);
    if (!m.matched) {
      out.truncate(entry);
      return m;
    }
    if (m.end == p) {
      out.truncate(entry);
      return out.fail(EXACTLY_MESSAGE, p);
    }
    p = m.end;
  }
  return {true, p};
}

// Group

ParseOutcome GroupElement::parse(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return recursion_failure(pos);
  return inner()->parse(text, pos);
}

MatchResult GroupElement::try_match_at(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return NO_MATCH;
  return inner()->try_match_at(text, pos);
}

MatchResult GroupElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  DepthGuard guard;
  if (!guard.ok()) return out.fail(RECURSION_MESSAGE, pos);
  return inner()->parse_into(text, pos, out);
}

StartOutcome GroupElement::parse_at_start(std::string_view text) const {
  DepthGuard guard;
  if (!guard.ok()) return StartOutcome::from(recursion_failure(0));
  return StartOutcome::from(inner()->parse(text, 0));
}

// Suppress

ParseOutcome SuppressElement::parse(std::string_view text, Pos pos) const {
  MatchResult m = try_match_at(text, pos);
  if (m.matched) return ParseOutcome::success(m.end);
  if (recursion_overflowed()) return recursion_failure(pos);
  return fail_with(SUPPRESS_MESSAGE, pos);
}

MatchResult SuppressElement::try_match_at(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return NO_MATCH;
  return inner()->try_match_at(text, pos);
}

StartOutcome SuppressElement::parse_at_start(std::string_view text) const { return StartOutcome::from(parse(text, 0)); }

MatchResult SuppressElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  const MatchResult m = try_match_at(text, pos);
  if (m.matched) return m;
  if (recursion_overflowed()) return out.fail(RECURSION_MESSAGE, pos);
  return out.fail(SUPPRESS_MESSAGE, pos);
}

// Combine

ParseOutcome CombineElement::parse(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return recursion_failure(pos);
  ParseOutcome o = inner()->parse(text, pos);
  if (!o.ok) return o;
  return ParseOutcome::success(o.end, one_token(text, pos, o.end));
}

MatchResult CombineElement::try_match_at(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return NO_MATCH;
  return inner()->try_match_at(text, pos);
}

// The child's tokens are cut back and the matched text stands in for them.
MatchResult CombineElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  DepthGuard guard;
  if (!guard.ok()) return out.fail(RECURSION_MESSAGE, pos);
  const std::size_t entry = out.size();
  const MatchResult m = inner()->parse_into(text, pos, out);
  if (!m.matched) return m;
  out.truncate(entry);
  out.push(text.substr(pos, m.end - pos));
  return m;
}

// SkipTo

namespace {

// A Regex target whose match at a boundary depends only on the text from there on and ends on a boundary
// (regex_syntax::reads_only_forward): the first boundary at or after a position where it matches anchored is
// where the leftmost match of an unanchored search from there starts.
const RegexElement* forward_only_regex(const Element& target) noexcept {
  if (target.kind() != Kind::Regex) return nullptr;
  const auto& regex = static_cast<const RegexElement&>(target);
  return regex_syntax::reads_only_forward(regex.unanchored().pattern()) ? &regex : nullptr;
}

// The first boundary i with from <= i < stop at which the target matches: one test per candidate of the target
// below the length (`starts`, the target's ScanStarts: no other position can hold a match there), and one at the
// length itself when stop is past it.
std::optional<Pos> test_each_candidate(const Element& target, ScanStarts& starts, std::string_view text, Pos from,
                                       Pos stop) {
  const Pos n = text.size();
  for (Pos i = starts.next_candidate(text, from); i < n && i < stop; i = starts.next_candidate(text, i + 1)) {
    if (recursion_overflowed()) return std::nullopt;
    if (is_char_boundary(text, i) && target.try_match_at(text, i).matched) return i;
  }
  if (recursion_overflowed()) return std::nullopt;
  if (from <= n && n < stop && target.try_match_at(text, n).matched) return n;
  return std::nullopt;
}

// The first boundary i with from <= i < stop (or up to the length) at which the bytes of `want` stand: where a
// Literal of `want` matches. A literal made of whole characters only stands at boundaries; the test keeps the
// rule exact for any bytes.
std::optional<Pos> find_literal(std::string_view want, std::string_view text, Pos from, std::optional<Pos> stop) {
  // Starts below `stop` only: the occurrence must end by stop - 1 + want.size().
  const std::string_view window =
      stop ? text.substr(0, std::min<Pos>(text.size(), *stop - 1 + want.size())) : text;
  for (std::size_t i = window.find(want, from); i != std::string_view::npos; i = window.find(want, i + 1)) {
    if (is_char_boundary(text, i)) return i;
  }
  return std::nullopt;
}

}  // namespace

SkipToElement::SkipToElement(ElementRef target) noexcept
    : InnerElement(Kind::SkipTo, std::move(target)),
      target_regex_(forward_only_regex(*inner())),
      target_literal_(inner()->kind() == Kind::Literal ? &static_cast<const LiteralElement&>(*inner()) : nullptr) {}

std::optional<Pos> SkipToElement::search_target(std::string_view text, Pos from, std::optional<Pos> stop) const {
  const Element& target = *inner();
  if (target_literal_ != nullptr) return find_literal(target_literal_->text(), text, from, stop);
  if (target_regex_ == nullptr) {
    const Pos before = stop.value_or(text.size() + 1);
    const std::uint64_t stamp = match_session_epoch();
    if (stamp == 0) {
      ScanStarts starts(target);
      return test_each_candidate(target, starts, text, from, before);
    }
    // A scan makes a search at each target it passes: the grammar is read once for all of them.
    if (starts_stamp_ != stamp) {
      starts_.emplace(target);
      starts_stamp_ = stamp;
    }
    return test_each_candidate(target, *starts_, text, from, before);
  }
  // A target right at `from` is the common case in a scan through text the target covers, and the anchored
  // test settles it without the unanchored search's second, backward pass over the match.
  if (target.try_match_at(text, from).matched) return from;
  if (from == text.size()) return std::nullopt;
  const Pos next = from + utf8_char_len(static_cast<unsigned char>(text[from]));
  const std::optional<RegexMatch> m =
      with_regex_finder(*target_regex_, text, [next](auto&& find) { return find(next); });
  if (!m) return std::nullopt;
  return m->start;
}

std::optional<Pos> SkipToElement::first_target_from(std::string_view text, Pos from) const {
  const std::uint64_t stamp = match_session_epoch();
  if (stamp == 0) return search_target(text, from, std::nullopt);
  std::optional<Pos> stop;
  Pos beyond = NOT_FOUND;
  // A copy: the search below may come back to this SkipTo through its target and replace the memo.
  const TargetScan known = memo_;
  if (known.stamp == stamp && known.data == text.data() && known.size == text.size()) {
    // found is NOT_FOUND, the largest Pos, when there is none.
    if (known.from <= from && from <= known.found) {
      return known.found == NOT_FOUND ? std::nullopt : std::optional<Pos>(known.found);
    }
    // Only the stretch before the remembered start is new.
    if (from < known.from) {
      stop = known.from;
      beyond = known.found;
    }
  }
  const std::optional<Pos> found = search_target(text, from, stop);
  // A search cut short by the recursion bound found nothing that holds.
  if (recursion_overflowed()) return std::nullopt;
  const Pos answer = found ? *found : beyond;
  memo_ = {text.data(), text.size(), stamp, from, answer};
  return answer == NOT_FOUND ? std::nullopt : std::optional<Pos>(answer);
}

MatchResult SkipToElement::try_match_at(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return NO_MATCH;
  // Every candidate after pos gives a non-empty token starting at pos, so from inside a character only pos is.
  if (!is_char_boundary(text, pos)) {
    return inner()->try_match_at(text, pos).matched ? MatchResult{true, pos} : NO_MATCH;
  }
  const std::optional<Pos> found = first_target_from(text, pos);
  if (!found) return NO_MATCH;
  return {true, *found};
}

ParseOutcome SkipToElement::parse(std::string_view text, Pos pos) const {
  MatchResult m = try_match_at(text, pos);
  if (m.matched) return ParseOutcome::success(m.end, one_token(text, pos, m.end));
  if (recursion_overflowed()) return recursion_failure(pos);
  return fail_with(SKIP_TO_MESSAGE, pos);
}

MatchResult SkipToElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  const MatchResult m = try_match_at(text, pos);
  if (m.matched) {
    out.push(text.substr(pos, m.end - pos));
    return m;
  }
  if (recursion_overflowed()) return out.fail(RECURSION_MESSAGE, pos);
  return out.fail(SKIP_TO_MESSAGE, pos);
}

}  // namespace quillex
