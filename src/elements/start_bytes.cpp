#include "elements/start_bytes.h"

#include <optional>

#include "elements/chars.h"
#include "elements/forward.h"
#include "elements/literals.h"
#include "elements/regex.h"
#include "elements/structure.h"

namespace quillex {

namespace {

// Bounds of one reading: how deep it follows first children, and how many elements it visits in all (a
// MatchFirst of many alternatives, or shared children read again).
constexpr int MAX_DEPTH = 8;
constexpr int MAX_VISITS = 1024;

// A reading's answer: the admitted bytes, or nullopt for any byte.
using Bytes = std::optional<std::bitset<256>>;

struct Reader {
  int visits = 0;

  Bytes read(const Element& e, int depth) noexcept {
    if (depth > MAX_DEPTH || ++visits > MAX_VISITS) return std::nullopt;
    std::bitset<256> s;
    switch (e.kind()) {
      case Kind::Literal: {
        const auto& k = static_cast<const LiteralElement&>(e);
        if (k.text().empty()) return std::nullopt;
        return s.set(k.first());
      }
      case Kind::Keyword: {
        const auto& k = static_cast<const KeywordElement&>(e);
        if (k.text().empty()) return std::nullopt;
        return s.set(k.first());
      }
      case Kind::CaselessLiteral:
      case Kind::CaselessKeyword: {
        // The text's byte matches when it folds to the first folded byte: that byte, or its capital.
        const std::string_view lower = e.kind() == Kind::CaselessLiteral
                                           ? static_cast<const CaselessLiteralElement&>(e).lower()
                                           : static_cast<const CaselessKeywordElement&>(e).lower();
        if (lower.empty()) return std::nullopt;
        const auto first = static_cast<unsigned char>(lower[0]);
        s.set(first);
        if (first >= 'a' && first <= 'z') s.set(first - 0x20);
        return s;
      }
      case Kind::Char: {
        const auto& k = static_cast<const CharElement&>(e);
        for (unsigned b = 0; b < 256; ++b) s[b] = k.members()[b] != 0;
        return s;
      }
      case Kind::Word: {
        // member_len: an ASCII byte by value; U+0080..U+00BF behind the lead 0xC2, U+00C0..U+00FF behind 0xC3.
        const ByteBitSet& init = static_cast<const WordElement&>(e).init();
        for (unsigned b = 0; b < 128; ++b) s[b] = init.contains(b);
        s[0xC2] = init.words[2] != 0;
        s[0xC3] = init.words[3] != 0;
        return s;
      }
      case Kind::QuotedString:
        return s.set(static_cast<unsigned char>(static_cast<const QuotedStringElement&>(e).quote()[0]));
      case Kind::Regex: {
        // The element's own fast form: a class run that cannot be empty starts on a member, and a pattern that
        // cannot match empty starts on a member of its first bytes.
        const RegexFastForm& fast = static_cast<const RegexElement&>(e).fast();
        const ByteClass* first = fast.run ? (fast.run_may_be_empty ? nullptr : &*fast.run)
                                          : (fast.may_be_empty ? nullptr : &fast.first);
        if (first == nullptr) return std::nullopt;
        for (unsigned b = 0; b < 256; ++b) s[b] = first->contains(static_cast<unsigned char>(b));
        return s;
      }
      case Kind::LineEnd:
        return s.set('\n');  // below the length it matches only a newline
      case Kind::StringEnd:
      case Kind::NoMatch:
        return s;
      case Kind::And: {
        const ElementList& children = static_cast<const AndElement&>(e).children();
        if (children.empty()) return std::nullopt;
        return read(*children.front(), depth + 1);
      }
      case Kind::MatchFirst:
        for (const ElementRef& alt : static_cast<const MatchFirstElement&>(e).alternatives()) {
          const Bytes b = read(*alt, depth + 1);
          if (!b) return std::nullopt;
          s |= *b;
        }
        return s;
      case Kind::Exactly:
        if (static_cast<const ExactlyElement&>(e).count() == 0) return std::nullopt;
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
      case Kind::LineStart:
      case Kind::StringStart:
      case Kind::RestOfLine:
      case Kind::Optional:
      case Kind::ZeroOrMore:
      case Kind::SkipTo:
      case Kind::Empty:
        return std::nullopt;
    }
    return std::nullopt;
  }
};

}  // namespace

StartBytes start_bytes(const Element& element) noexcept {
  Reader reader;
  const Bytes bytes = reader.read(element, 0);
  return bytes ? StartBytes::of(*bytes) : StartBytes::any();
}

}  // namespace quillex
