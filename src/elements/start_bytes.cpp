#include "elements/start_bytes.h"

#include <cstring>

#include "elements/chars.h"
#include "elements/forward.h"
#include "elements/literals.h"
#include "elements/structure.h"

namespace quillex {

void StartBytes::merge(const StartBytes& other) noexcept {
  if (any_) return;
  if (other.any_) {
    any_ = true;
    return;
  }
  for (unsigned b = 0; b < 256; ++b) {
    if (other.table_[b] != 0) add(static_cast<unsigned char>(b));
  }
}

Pos StartBytes::next_candidate(std::string_view text, Pos pos) const noexcept {
  const Pos n = text.size();
  if (any_ || pos >= n) return pos < n ? pos : n;
  if (count_ == 1) {
    const void* hit = std::memchr(text.data() + pos, single_, n - pos);
    return hit != nullptr ? static_cast<Pos>(static_cast<const char*>(hit) - text.data()) : n;
  }
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  while (pos < n && table_[t[pos]] == 0) ++pos;
  return pos;
}

namespace {

// Bounds of one reading: how deep it follows first children, and how many elements it visits in all (a
// MatchFirst of many alternatives, or shared children read again).
constexpr int MAX_DEPTH = 8;
constexpr int MAX_VISITS = 1024;

struct Reader {
  int visits = 0;

  StartBytes read(const Element& e, int depth) noexcept {
    if (depth > MAX_DEPTH || ++visits > MAX_VISITS) return StartBytes::any();
    StartBytes s = StartBytes::none();
    switch (e.kind()) {
      case Kind::Literal: {
        const auto& k = static_cast<const LiteralElement&>(e);
        if (k.text().empty()) return StartBytes::any();
        s.add(k.first());
        return s;
      }
      case Kind::Keyword: {
        const auto& k = static_cast<const KeywordElement&>(e);
        if (k.text().empty()) return StartBytes::any();
        s.add(k.first());
        return s;
      }
      case Kind::CaselessLiteral:
      case Kind::CaselessKeyword: {
        // The text's byte matches when it folds to the first folded byte: that byte, or its capital.
        const std::string_view lower = e.kind() == Kind::CaselessLiteral
                                           ? static_cast<const CaselessLiteralElement&>(e).lower()
                                           : static_cast<const CaselessKeywordElement&>(e).lower();
        if (lower.empty()) return StartBytes::any();
        const auto first = static_cast<unsigned char>(lower[0]);
        s.add(first);
        if (first >= 'a' && first <= 'z') s.add(static_cast<unsigned char>(first - 0x20));
        return s;
      }
      case Kind::Char: {
        const auto& k = static_cast<const CharElement&>(e);
        for (unsigned b = 0; b < 256; ++b) {
          if (k.members()[b] != 0) s.add(static_cast<unsigned char>(b));
        }
        return s;
      }
      case Kind::Word: {
        // member_len: an ASCII byte by value; U+0080..U+00BF behind the lead 0xC2, U+00C0..U+00FF behind 0xC3.
        const ByteBitSet& init = static_cast<const WordElement&>(e).init();
        for (unsigned b = 0; b < 128; ++b) {
          if (init.contains(b)) s.add(static_cast<unsigned char>(b));
        }
        if (init.words[2] != 0) s.add(0xC2);
        if (init.words[3] != 0) s.add(0xC3);
        return s;
      }
      case Kind::QuotedString:
        s.add(static_cast<unsigned char>(static_cast<const QuotedStringElement&>(e).quote()[0]));
        return s;
      case Kind::LineEnd:
        s.add('\n');  // below the length it matches only a newline
        return s;
      case Kind::StringEnd:
      case Kind::NoMatch:
        return s;
      case Kind::And: {
        const ElementList& children = static_cast<const AndElement&>(e).children();
        if (children.empty()) return StartBytes::any();
        return read(*children.front(), depth + 1);
      }
      case Kind::MatchFirst:
        for (const ElementRef& alt : static_cast<const MatchFirstElement&>(e).alternatives()) {
          s.merge(read(*alt, depth + 1));
          if (s.is_any()) break;
        }
        return s;
      case Kind::Exactly:
        if (static_cast<const ExactlyElement&>(e).count() == 0) return StartBytes::any();
        return read(*static_cast<const InnerElement&>(e).inner(), depth + 1);
      case Kind::OneOrMore:  // its first iteration must match at the position
      case Kind::Group:
      case Kind::Suppress:
      case Kind::Combine:
        return read(*static_cast<const InnerElement&>(e).inner(), depth + 1);
      case Kind::Forward: {
        const ElementRef inner = static_cast<const ForwardElement&>(e).inner();
        if (!inner) return s;  // unset: matches nowhere
        return read(*inner, depth + 1);
      }
      case Kind::Regex:
      case Kind::LineStart:
      case Kind::StringStart:
      case Kind::RestOfLine:
      case Kind::Optional:
      case Kind::ZeroOrMore:
      case Kind::SkipTo:
      case Kind::Empty:
        return StartBytes::any();
    }
    return StartBytes::any();
  }
};

}  // namespace

StartBytes start_bytes(const Element& element) noexcept {
  Reader reader;
  return reader.read(element, 0);
}

}  // namespace quillex
