#include "elements/start_bytes.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "elements/chars.h"
#include "elements/forward.h"
#include "elements/literals.h"
#include "elements/regex.h"
#include "elements/structure.h"

namespace quillex {

namespace {

// Bounds of one reading: how deep it follows children, how many elements it visits in all (a MatchFirst of
// many alternatives, or shared children read again), how many texts it keeps and how many bytes of each.
constexpr int MAX_DEPTH = 8;
constexpr int MAX_VISITS = 1024;
constexpr std::size_t MAX_TEXTS = 16;
constexpr std::size_t MAX_TEXT = 16;

// Where a match may start, besides what stands there.
enum class At : std::uint8_t { Anywhere, LineStart, TextStart };

// Both rules at once: 0 is a line start, so TextStart and LineStart together are TextStart.
At both(At a, At b) noexcept {
  if (a == At::Anywhere) return b;
  if (b == At::Anywhere) return a;
  return a == At::TextStart || b == At::TextStart ? At::TextStart : At::LineStart;
}

struct LeadText {
  std::array<char, MAX_TEXT> bytes;
  std::uint8_t size;
  bool whole;  // the match is exactly these bytes, so what follows it starts right after them

  std::string_view view() const noexcept { return {bytes.data(), size}; }
};

// Lead: what every match of an element at a position p begins with, at every p up to the length (p == length
// included, where only a zero-length match can stand). Unless `unknown`, p satisfies `at`, and the match is one
// of these:
//  - a text of `texts` standing at p, the whole match when the text is `whole`;
//  - a non-empty match whose first byte is in `bytes`;
//  - when `at_end`, a zero-length match at the length.
// With none of them the element matches nowhere.
// Example: Keyword("def") + Literal(" ") + Word(alphas) reads as the text "def " (not whole: the Word follows);
// Optional(Literal("-")) + Word(nums) as the text "-" and the bytes '0'..'9'.
struct Lead {
  bool unknown = false;
  At at = At::Anywhere;
  bool at_end = false;
  bool many_texts = false;  // past MAX_TEXTS texts: every further text adds its first byte alone
  std::bitset<256> bytes;
  std::size_t count = 0;
  std::array<LeadText, MAX_TEXTS> texts;  // [0, count) in use

  Lead() noexcept = default;
  // A reading passes Leads up by value at every level: a copy takes the texts in use alone.
  Lead(const Lead& o) noexcept { *this = o; }
  Lead& operator=(const Lead& o) noexcept {
    unknown = o.unknown;
    at = o.at;
    at_end = o.at_end;
    many_texts = o.many_texts;
    bytes = o.bytes;
    count = o.count;
    std::copy_n(o.texts.begin(), o.count, texts.begin());
    return *this;
  }

  // Setting in place (a reading passes Leads down to be filled, so that a level's frame holds few of them).
  void reset() noexcept {
    unknown = false;
    at = At::Anywhere;
    at_end = false;
    many_texts = false;
    bytes.reset();
    count = 0;
  }
  void set_anything() noexcept {
    reset();
    unknown = true;
  }
  void set_text(std::string_view s, bool whole, At position = At::Anywhere) noexcept {
    reset();
    at = position;
    add_text(s, whole);
  }
  void set_bytes(const std::bitset<256>& b) noexcept {
    reset();
    bytes = b;
  }

  bool nothing() const noexcept { return !unknown && !at_end && bytes.none() && count == 0; }
  bool has_whole_text() const noexcept {
    for (std::size_t i = 0; i < count; ++i) {
      if (texts[i].whole) return true;
    }
    return false;
  }

  // A text cut to MAX_TEXT bytes is no longer whole. A text already kept whole and now added as a prefix only
  // is kept as a prefix (that promises less). Past MAX_TEXTS texts, the texts give way to their first bytes.
  void add_text(std::string_view s, bool whole) noexcept {
    if (unknown) return;
    if (many_texts) {
      if (s.empty()) {
        set_anything();
      } else {
        bytes.set(static_cast<unsigned char>(s[0]));
      }
      return;
    }
    if (s.size() > MAX_TEXT) {
      s = s.substr(0, MAX_TEXT);
      whole = false;
    }
    for (std::size_t i = 0; i < count; ++i) {
      if (texts[i].view() == s) {
        texts[i].whole = texts[i].whole && whole;
        return;
      }
    }
    if (count == MAX_TEXTS) {
      texts_to_bytes();
      if (unknown) return;
      many_texts = true;
      add_text(s, whole);
      return;
    }
    LeadText& t = texts[count++];
    std::memcpy(t.bytes.data(), s.data(), s.size());
    t.size = static_cast<std::uint8_t>(s.size());
    t.whole = whole;
  }

  // Each text becomes its first byte (a non-empty match starting with it); an empty text says nothing.
  void texts_to_bytes() noexcept {
    for (std::size_t i = 0; i < count; ++i) {
      if (texts[i].size == 0) {
        set_anything();
        return;
      }
      bytes.set(static_cast<unsigned char>(texts[i].bytes[0]));
    }
    count = 0;
  }

  // The texts become prefixes: more may follow them (a repetition's further iterations).
  void cut() noexcept {
    for (std::size_t i = 0; i < count; ++i) texts[i].whole = false;
  }

  // Either this or a zero-length match anywhere (Optional, ZeroOrMore).
  void add_empty() noexcept {
    if (unknown) return;
    if (nothing()) {
      set_text("", true);
      return;
    }
    at = At::Anywhere;
    add_text("", true);
  }

  // Either this or `o` (the alternatives of a MatchFirst).
  void merge(const Lead& o) noexcept {
    if (unknown || o.nothing()) return;
    if (o.unknown || nothing()) {
      *this = o;
      return;
    }
    if (at != o.at) at = At::Anywhere;
    bytes |= o.bytes;
    at_end = at_end || o.at_end;
    if (o.many_texts && !many_texts) {
      texts_to_bytes();
      if (unknown) return;
      many_texts = true;
    }
    for (std::size_t i = 0; i < o.count; ++i) add_text(o.texts[i].view(), o.texts[i].whole);
  }
};

// The match of `a` followed by the match of `b` at its end (two children of an And), into `r`. Only a whole
// text of `a` is extended by what `b` begins with; a zero-length whole text takes on `b`'s bytes, end and
// position rule.
void followed_by(const Lead& a, const Lead& b, Lead& r) noexcept {
  r.reset();
  if (a.unknown) {
    r.set_anything();
    return;
  }
  r.at = a.at;
  r.at_end = a.at_end;
  r.bytes = a.bytes;
  bool only_empty = a.count > 0 && a.bytes.none() && !a.at_end;
  for (std::size_t i = 0; i < a.count; ++i) only_empty = only_empty && a.texts[i].size == 0 && a.texts[i].whole;
  if (only_empty) r.at = both(a.at, b.at);
  for (std::size_t i = 0; i < a.count && !r.unknown; ++i) {
    const LeadText& t = a.texts[i];
    if (!t.whole) {
      r.add_text(t.view(), false);
      continue;
    }
    if (b.unknown) {
      if (t.size == 0) {
        r.set_anything();
      } else {
        r.add_text(t.view(), false);
      }
      continue;
    }
    for (std::size_t j = 0; j < b.count; ++j) {
      const LeadText& u = b.texts[j];
      std::array<char, 2 * MAX_TEXT> joined;
      std::memcpy(joined.data(), t.bytes.data(), t.size);
      std::memcpy(joined.data() + t.size, u.bytes.data(), u.size);
      r.add_text({joined.data(), static_cast<std::size_t>(t.size) + u.size}, u.whole);
    }
    if (b.bytes.any()) {
      if (t.size == 0) {
        r.bytes |= b.bytes;
      } else {
        r.add_text(t.view(), false);
      }
    }
    if (b.at_end) {
      if (t.size == 0) {
        r.at_end = true;
      } else {
        r.add_text(t.view(), false);
      }
    }
  }
}

// The reading recurses through the grammar without a guard: past the depth, the visits, or the stack a guard
// allows (on a thread with a small stack), it knows nothing.
struct Reader {
  int visits = 0;
  bool through_forwards = true;  // false: a Forward reads as unknown

  void read(const Element& e, int depth, Lead& out) noexcept {
    if (depth > MAX_DEPTH || ++visits > MAX_VISITS || !frame_above_stack_floor()) {
      out.set_anything();
      return;
    }
    switch (e.kind()) {
      case Kind::Literal:
        return out.set_text(static_cast<const LiteralElement&>(e).text(), true);
      case Kind::Keyword:
        return out.set_text(static_cast<const KeywordElement&>(e).text(), true);
      case Kind::CaselessLiteral:
      case Kind::CaselessKeyword: {
        // The text's byte matches when it folds to the first folded byte: that byte, or its capital.
        const std::string_view lower = e.kind() == Kind::CaselessLiteral
                                           ? static_cast<const CaselessLiteralElement&>(e).lower()
                                           : static_cast<const CaselessKeywordElement&>(e).lower();
        if (lower.empty()) return out.set_text("", true);
        const auto first = static_cast<unsigned char>(lower[0]);
        std::bitset<256> s;
        s.set(first);
        if (first >= 'a' && first <= 'z') s.set(first - 0x20);
        return out.set_bytes(s);
      }
      case Kind::Char: {
        const auto& k = static_cast<const CharElement&>(e);
        std::bitset<256> s;
        for (unsigned b = 0; b < 256; ++b) s[b] = k.members()[b] != 0;
        return out.set_bytes(s);
      }
      case Kind::Word: {
        // member_len: an ASCII byte by value; U+0080..U+00BF behind the lead 0xC2, U+00C0..U+00FF behind 0xC3.
        const ByteBitSet& init = static_cast<const WordElement&>(e).init();
        std::bitset<256> s;
        for (unsigned b = 0; b < 128; ++b) s[b] = init.contains(b);
        s[0xC2] = init.words[2] != 0;
        s[0xC3] = init.words[3] != 0;
        return out.set_bytes(s);
      }
      case Kind::QuotedString:
        return out.set_text(static_cast<const QuotedStringElement&>(e).quote(), false);
      case Kind::Regex: {
        // The element's own fast form: a class run that cannot be empty starts on a member, and a pattern that
        // cannot match empty starts on a member of its first bytes (and so never matches at the length).
        const RegexFastForm& fast = static_cast<const RegexElement&>(e).fast();
        const ByteClass* first = fast.run ? (fast.run_may_be_empty ? nullptr : &*fast.run)
                                          : (fast.may_be_empty ? nullptr : &fast.first);
        if (first == nullptr) return out.set_anything();
        std::bitset<256> s;
        for (unsigned b = 0; b < 256; ++b) s[b] = first->contains(static_cast<unsigned char>(b));
        return out.set_bytes(s);
      }
      case Kind::LineEnd:
        out.set_text("\n", true);  // below the length it matches only a line break, consumed
        out.at_end = true;
        return;
      case Kind::StringEnd:
        out.reset();
        out.at_end = true;
        return;
      case Kind::NoMatch:
        return out.reset();
      case Kind::LineStart:
        return out.set_text("", true, At::LineStart);
      case Kind::StringStart:
        return out.set_text("", true, At::TextStart);
      case Kind::Empty:
        return out.set_text("", true);
      case Kind::And: {
        out.set_text("", true);
        Lead child;
        Lead joined;
        for (const ElementRef& c : static_cast<const AndElement&>(e).children()) {
          if (out.unknown || !out.has_whole_text()) break;  // nothing more to extend
          read(*c, depth + 1, child);
          followed_by(out, child, joined);
          out = joined;
        }
        return;
      }
      case Kind::MatchFirst: {
        out.reset();
        Lead alt;
        for (const ElementRef& a : static_cast<const MatchFirstElement&>(e).alternatives()) {
          read(*a, depth + 1, alt);
          out.merge(alt);
          if (out.unknown) break;
        }
        return;
      }
      case Kind::Optional:
        read(*static_cast<const InnerElement&>(e).inner(), depth + 1, out);
        return out.add_empty();
      case Kind::ZeroOrMore:
        read(*static_cast<const InnerElement&>(e).inner(), depth + 1, out);
        out.cut();
        return out.add_empty();
      case Kind::Exactly:
        if (static_cast<const ExactlyElement&>(e).count() == 0) return out.set_text("", true);
        [[fallthrough]];
      case Kind::OneOrMore:  // its first iteration must match at the position, and more may follow
        read(*static_cast<const InnerElement&>(e).inner(), depth + 1, out);
        return out.cut();
      case Kind::Group:
      case Kind::Suppress:
      case Kind::Combine:
        return read(*static_cast<const InnerElement&>(e).inner(), depth + 1, out);
      case Kind::Forward: {
        if (!through_forwards) return out.set_anything();
        const ElementRef inner = static_cast<const ForwardElement&>(e).inner();
        if (!inner) return out.reset();  // unset: matches nowhere
        return read(*inner, depth + 1, out);
      }
      case Kind::RestOfLine:
      case Kind::SkipTo:
        return out.set_anything();
    }
    out.set_anything();
  }
};

void read_lead(const Element& element, Lead& out) noexcept {
  Reader reader;
  reader.read(element, 0, out);
}

// The first bytes of the non-empty matches below the length; nullopt when a match there may be empty or nothing
// is known.
std::optional<std::bitset<256>> first_bytes(const Lead& lead) noexcept {
  if (lead.unknown) return std::nullopt;
  std::bitset<256> s = lead.bytes;
  for (std::size_t i = 0; i < lead.count; ++i) {
    if (lead.texts[i].size == 0) return std::nullopt;
    s.set(static_cast<unsigned char>(lead.texts[i].bytes[0]));
  }
  return s;
}

}  // namespace

StartBytes::StartBytes(const std::bitset<256>& bytes) noexcept : bytes_(bytes), count_(bytes.count()), any_(false) {
  if (count_ > FEW) return;
  std::size_t k = 0;
  for (std::size_t b = bytes_._Find_first(); b < 256; b = bytes_._Find_next(b)) few_[k++] = static_cast<unsigned char>(b);
}

Pos StartBytes::next_in_blocks(std::string_view text, Pos pos) const noexcept {
  const Pos n = text.size();
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  if (count_ == 0) return n;
  if (count_ == 1) {
    const void* hit = std::memchr(t + pos, few_[0], n - pos);
    return hit == nullptr ? n : static_cast<Pos>(static_cast<const unsigned char*>(hit) - t);
  }
  if (count_ <= FEW) {
    // 16 bytes a step, one compare per member.
    __m128i member[FEW];
    for (std::size_t k = 0; k < count_; ++k) member[k] = _mm_set1_epi8(static_cast<char>(few_[k]));
    for (; pos + 16 <= n; pos += 16) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + pos));
      __m128i hit = _mm_cmpeq_epi8(x, member[0]);
      for (std::size_t k = 1; k < count_; ++k) hit = _mm_or_si128(hit, _mm_cmpeq_epi8(x, member[k]));
      if (const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit)); mask != 0) {
        return pos + static_cast<Pos>(__builtin_ctz(mask));
      }
    }
    for (; pos < n; ++pos) {
      if (bytes_[t[pos]]) return pos;
    }
    return n;
  }
  if (!blocks_) blocks_.emplace(bytes_);
  return blocks_->next_member(text, pos);
}

std::optional<std::bitset<256>> lasting_first_bytes(const Element& element) noexcept {
  Lead lead;
  Reader reader;
  reader.through_forwards = false;
  reader.read(element, 0, lead);
  return first_bytes(lead);
}

StartBytes start_bytes(const Element& element) noexcept {
  Lead lead;
  read_lead(element, lead);
  const std::optional<std::bitset<256>> bytes = first_bytes(lead);
  return bytes ? StartBytes::of(*bytes) : StartBytes::any();
}

ScanStarts::ScanStarts(const Element& element) noexcept {
  Lead lead;
  read_lead(element, lead);
  if (lead.unknown) return;
  const std::optional<std::bitset<256>> first = first_bytes(lead);
  if (!first || lead.at == At::TextStart) {
    // A zero-length match may stand wherever the position rule allows.
    rule_ = lead.at == At::TextStart ? Rule::TextStart : lead.at == At::LineStart ? Rule::LineStarts : Rule::Every;
    return;
  }
  const bool texts_only = lead.bytes.none() && lead.count > 0;
  if (lead.at == At::LineStart) {
    rule_ = Rule::LineBytes;
    bytes_.emplace(*first);
    if (texts_only && lead.count == 1) {
      const std::string_view t = lead.texts[0].view().substr(0, MAX_NEEDLE - 1);
      needle_[0] = '\n';
      std::memcpy(needle_.data() + 1, t.data(), t.size());
      needle_size_ = t.size() + 1;
      finder_.emplace(needle());
      rule_ = Rule::LineText;
    }
    return;
  }
  if (texts_only && lead.count == 1 && lead.texts[0].size >= 2) {
    const std::string_view t = lead.texts[0].view().substr(0, MAX_NEEDLE);
    std::memcpy(needle_.data(), t.data(), t.size());
    needle_size_ = t.size();
    finder_.emplace(needle());
    rule_ = Rule::Text;
    return;
  }
  if (texts_only && lead.count >= 2) {
    bool taken = true;
    for (std::size_t i = 0; i < lead.count && taken; ++i) taken = pairs_.add(lead.texts[i].view());
    if (taken && pairs_.filters_pairs()) {
      rule_ = Rule::Texts;
      return;
    }
  }
  rule_ = Rule::Bytes;
  bytes_.emplace(*first);
}

Pos ScanStarts::next_by_rule(std::string_view text, Pos pos) noexcept {
  const Pos n = text.size();
  if (pos >= n) return n;
  switch (rule_) {
    case Rule::Every:
      return pos;
    case Rule::Bytes:
      return bytes_->next_candidate(text, pos);
    case Rule::Text: {
      const std::size_t h = finder_->find(text, pos, n);
      return h == NOT_FOUND ? n : h;
    }
    case Rule::Texts:
      return pairs_.next_candidate(text, pos);
    case Rule::TextStart:
      return pos == 0 ? 0 : n;
    case Rule::LineStarts:
    case Rule::LineBytes: {
      const bool any_byte = rule_ == Rule::LineStarts;
      if (pos == 0) {
        if (any_byte || bytes_->admits(static_cast<unsigned char>(text[0]))) return 0;
        pos = 1;
      }
      // Each round: the first line break at or after pos - 1, and the position after it.
      while (pos < n) {
        const void* hit = std::memchr(text.data() + pos - 1, '\n', n - pos + 1);
        if (hit == nullptr) return n;
        pos = static_cast<Pos>(static_cast<const char*>(hit) - text.data()) + 1;
        if (pos < n && (any_byte || bytes_->admits(static_cast<unsigned char>(text[pos])))) return pos;
        ++pos;
      }
      return n;
    }
    case Rule::LineText: {
      const std::string_view line_text = needle().substr(1);
      if (pos == 0) {
        if (text.substr(0, line_text.size()) == line_text) return 0;
        pos = 1;
      }
      const std::size_t h = finder_->find(text, pos - 1, n);
      return h == NOT_FOUND ? n : h + 1;
    }
  }
  return pos;
}

}  // namespace quillex
