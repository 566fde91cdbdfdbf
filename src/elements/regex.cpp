#include "elements/regex.h"

#include <algorithm>

#include "elements/chars.h"
#include "elements/regex_syntax.h"

namespace quillex {

const re2::RE2::Options& regex_options() {
  static const re2::RE2::Options options = [] {
    re2::RE2::Options o;
    o.set_encoding(re2::RE2::Options::EncodingUTF8);
    o.set_longest_match(false);
    o.set_log_errors(false);
    o.set_max_mem(REGEX_SIZE_LIMIT);
    return o;
  }();
  return options;
}

std::string regex_anchored_text(std::string_view pattern) {
  if (!pattern.empty() && pattern[0] == '^') return std::string(pattern);
  std::string out = "^(?:";
  out.append(pattern).append(")");
  return out;
}

std::string regex_unanchored_text(std::string_view pattern) {
  std::string out = "(?:";
  out.append(pattern).append(")");
  return out;
}

namespace {

// Compiles `source`; on failure gives nullptr and sets `error` to the ValueError text.
std::unique_ptr<const re2::RE2> compile(const std::string& source, std::string& error) {
  auto re = std::make_unique<const re2::RE2>(re2::StringPiece(source.data(), source.size()), regex_options());
  if (re->ok()) return re;
  if (re->error_code() == re2::RE2::ErrorPatternTooLarge) {
    error = "Compiled regex exceeds size limit of " + std::to_string(REGEX_SIZE_LIMIT) + " bytes.";
  } else {
    error = "regex parse error:\n    " + source + "\nerror: " + re->error();
  }
  return nullptr;
}

// The characters RE2 is asked about when a reading of a class or a character is checked: every ASCII byte
// (one-byte texts), and characters of each UTF-8 length.
constexpr std::string_view WIDE_SAMPLES[] = {"\u0080", "\u00e9", "\u017f", "\u07ff", "\u0800",
                                             "\u212a", "\uffff", "\U00010000", "\U0010ffff"};

// Whether `re` matches the whole of a one-character text exactly when `member(text)` says so, for each sample
// character and for `extra` (when not empty).
template <class Member>
bool re2_confirms_members(const re2::RE2& re, const Member& member, std::string_view extra = {}) {
  auto matches_whole = [&re](std::string_view s) {
    return re.Match(re2::StringPiece(s.data(), s.size()), 0, s.size(), re2::RE2::ANCHOR_BOTH, nullptr, 0);
  };
  for (unsigned b = 0; b < 0x80; ++b) {
    const char c = static_cast<char>(b);
    if (matches_whole(std::string_view(&c, 1)) != member(std::string_view(&c, 1))) return false;
  }
  for (std::string_view w : WIDE_SAMPLES) {
    if (matches_whole(w) != member(w)) return false;
  }
  return extra.empty() || matches_whole(extra) == member(extra);
}

// Whether RE2 agrees with a class run read from the text: the anchored expression matches the one-character
// text exactly when the character is a member. A reading RE2 contradicts is dropped, and the element then
// asks RE2 for everything.
bool re2_confirms_run(const re2::RE2& anchored, const std::bitset<256>& members) {
  return re2_confirms_members(anchored, [&members](std::string_view s) {
    return members.test(static_cast<unsigned char>(s[0]));
  });
}

// At most this many distinct items written as escapes, classes or '.' are each compiled alone to check their
// reading; a pattern with more gets no sequence form or automaton (its compile already costs more than the
// walk saves).
constexpr std::size_t MAX_CHECKED_ITEMS = 64;

// Whether RE2 reads each item written as an escape, a class or '.' as `items` say: each such item is compiled
// alone and must match exactly the characters its reading says.
bool re2_confirms_items(const std::vector<const regex_syntax::SequenceItem*>& items) {
  std::vector<std::string_view> checked;
  for (const regex_syntax::SequenceItem* item : items) {
    if (item->source.empty() || std::find(checked.begin(), checked.end(), item->source) != checked.end()) continue;
    if (checked.size() == MAX_CHECKED_ITEMS) return false;
    checked.push_back(item->source);
    std::string error;
    const std::unique_ptr<const re2::RE2> alone = compile(regex_unanchored_text(item->source), error);
    if (!alone) return false;
    if (item->literal) {
      const std::string own = regex_syntax::utf8_of(*item->literal);
      if (!re2_confirms_members(*alone, [&own](std::string_view s) { return s == own; }, own)) return false;
    } else if (!re2_confirms_members(*alone, [item](std::string_view s) {
                 return item->cls.bytes.test(static_cast<unsigned char>(s[0]));
               })) {
      return false;
    }
  }
  return true;
}

// Whether `anchored` and `walk` give the same outcome and end over `text`.
bool re2_agrees_with_walk(const re2::RE2& anchored, std::string_view text, MatchResult walked) {
  re2::StringPiece match;
  const bool matched =
      anchored.Match(re2::StringPiece(text.data(), text.size()), 0, text.size(), re2::RE2::ANCHOR_START, &match, 1);
  return walked.matched == matched && (!matched || walked.end == match.size());
}

// Whether RE2 agrees with a sequence read from the text: its items (re2_confirms_items), and two texts built
// from the reading, each item taken its fewest and its most times (unbounded: two more), give the anchored
// expression's outcome and end.
bool re2_confirms_sequence(const re2::RE2& anchored, const std::vector<regex_syntax::SequenceItem>& items,
                           const ByteSequence& sequence) {
  std::vector<const regex_syntax::SequenceItem*> each;
  for (const regex_syntax::SequenceItem& item : items) each.push_back(&item);
  if (!re2_confirms_items(each)) return false;
  for (const bool most : {false, true}) {
    std::string sample;
    for (const regex_syntax::SequenceItem& item : items) {
      if (item.literal) {
        sample += regex_syntax::utf8_of(*item.literal);
        continue;
      }
      std::string member;
      for (unsigned b = 0; b < 0x80 && member.empty(); ++b) {
        if (item.cls.bytes.test(b)) member = std::string(1, static_cast<char>(b));
      }
      if (item.cls.wide == regex_syntax::CharClass::Wide::All && (most || member.empty())) member = "\u00e9";
      const int times = !most ? item.min : item.max >= 0 ? item.max : item.min + 2;
      for (int k = 0; k < times; ++k) sample += member;
    }
    if (!re2_agrees_with_walk(anchored, sample, sequence.match(sample, 0))) return false;
  }
  return true;
}

void collect_items(const regex_syntax::PatternNode& node, std::vector<const regex_syntax::SequenceItem*>& out) {
  if (node.type == regex_syntax::PatternNode::Type::Item) out.push_back(&node.item);
  for (const regex_syntax::PatternNode& part : node.parts) collect_items(part, out);
}

// The texts an automaton is checked on: into each of its states, and out of each by every way.
constexpr std::size_t MAX_AUTOMATON_SAMPLES = 512;

// Whether RE2 agrees with an automaton built from a tree read from the text: its items as for a sequence, and
// the anchored expression's outcome and end on texts that reach every state and leave it by every way.
bool re2_confirms_automaton(const re2::RE2& anchored, const regex_syntax::PatternNode& tree,
                            const CharAutomaton& automaton) {
  std::vector<const regex_syntax::SequenceItem*> items;
  collect_items(tree, items);
  if (!re2_confirms_items(items)) return false;
  for (const std::string& sample : automaton.sample_texts(MAX_AUTOMATON_SAMPLES)) {
    if (!re2_agrees_with_walk(anchored, sample, automaton.match(sample, 0))) return false;
  }
  return true;
}

RegexFastForm fast_form(std::string_view pattern, const re2::RE2& anchored) {
  RegexFastForm fast;
  const std::optional<regex_syntax::Shape> shape = regex_syntax::read_shape(pattern);
  if (!shape) return fast;
  if (shape->run_class) {
    if (!re2_confirms_run(anchored, shape->run_class->bytes)) return fast;
    fast.run.emplace(shape->run_class->bytes);
    fast.run_may_be_empty = shape->run_may_be_empty;
  } else if (const std::optional<std::vector<regex_syntax::SequenceItem>> items =
                 regex_syntax::read_sequence(pattern)) {
    ByteSequence sequence(*items);
    if (re2_confirms_sequence(anchored, *items, sequence)) fast.sequence.emplace(std::move(sequence));
  } else if (const std::optional<regex_syntax::PatternNode> tree = regex_syntax::read_tree(pattern)) {
    std::optional<CharAutomaton> automaton = CharAutomaton::build(*tree);
    if (automaton && re2_confirms_automaton(anchored, *tree, *automaton)) fast.automaton = std::move(automaton);
  }
  fast.may_be_empty = shape->may_be_empty;
  std::bitset<256> first = shape->first_bytes;
  for (unsigned b = 0x80; b < 0xC0; ++b) first.reset(b);
  fast.first = ByteClass(first);
  return fast;
}

}  // namespace

RegexBuild make_regex_element(std::string_view pattern) {
  RegexBuild build;
  if (regex_syntax::nesting_depth(pattern, REGEX_NESTING_LIMIT) > REGEX_NESTING_LIMIT) {
    build.error = "regex parse error:\n    " + regex_anchored_text(pattern) + "\nerror: ";
    build.error.append(REGEX_NESTING_ERROR);
    return build;
  }
  std::unique_ptr<const re2::RE2> anchored = compile(regex_anchored_text(pattern), build.error);
  if (!anchored) return build;
  std::unique_ptr<const re2::RE2> unanchored = compile(regex_unanchored_text(pattern), build.error);
  if (!unanchored) return build;
  RegexFastForm fast = fast_form(pattern, *anchored);
  build.element = make_element<RegexElement>(std::move(anchored), std::move(unanchored), pattern, std::move(fast));
  return build;
}

RegexElement::RegexElement(std::unique_ptr<const re2::RE2> anchored, std::unique_ptr<const re2::RE2> unanchored,
                           std::string_view pattern, RegexFastForm fast)
    : Element(Kind::Regex), anchored_(std::move(anchored)), unanchored_(std::move(unanchored)), fast_(std::move(fast)) {
  std::string message = "Expected match for /";
  message.append(pattern).append("/");
  message_ = SharedStr::make(message);
}

MatchResult RegexElement::try_match_at(std::string_view text, Pos pos) const { return match_at(text, pos); }

MatchResult RegexElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  const MatchResult m = try_match_at(text, pos);
  if (!m.matched) return out.fail(message_->view(), pos);
  out.push(text.substr(pos, m.end - pos));
  return m;
}

ParseOutcome RegexElement::parse(std::string_view text, Pos pos) const {
  return slice_outcome(try_match_at(text, pos), text, pos, message_);
}

}  // namespace quillex
