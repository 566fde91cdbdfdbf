// Grammars for the element suites: short makers of each kind, and generated grammars of every kind combined to a
// few levels (recursion through Forwards included) with texts that hold multi-byte characters.
#pragma once

#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "elements/chars.h"
#include "elements/forward.h"
#include "elements/literals.h"
#include "elements/positional.h"
#include "elements/regex.h"
#include "elements/structure.h"
#include "routes.h"

namespace quillex::testing {

inline const std::string E_ACUTE = "\xC3\xA9";  // shares its lead byte 0xC3 with A_TILDE
inline const std::string A_TILDE = "\xC3\xA3";
inline const std::string EURO = "\xE2\x82\xAC";

inline ElementRef lit(std::string_view s) { return make_literal_element(s); }
inline ElementRef kw(std::string_view s) { return make_element<KeywordElement>(s); }
inline ElementRef seq(ElementList c) { return make_element<AndElement>(std::move(c)); }
inline ElementRef alt(ElementList c) { return make_element<MatchFirstElement>(std::move(c)); }
inline ElementRef opt(ElementRef e) { return make_element<OptionalElement>(std::move(e)); }
inline ElementRef word(std::string_view init, std::optional<std::string_view> body = std::nullopt) {
  return make_element<WordElement>(init, body);
}
inline ElementRef regex(std::string_view pattern) { return make_regex_element(pattern).element; }
inline ElementRef quoted(std::string_view quote, std::optional<std::string_view> escape) {
  return make_element<QuotedStringElement>(quote, escape, false, false);
}
inline ElementRef groups(ElementRef e, int levels) {
  for (int i = 0; i < levels; ++i) e = make_element<GroupElement>(e);
  return e;
}

// A recursive grammar is a reference cycle through its Forward; tests break it so the elements are freed.
struct Cycle {
  Ref<const ForwardElement> forward = make_element<ForwardElement>();
  ~Cycle() { forward_set_inner(*forward, nullptr); }
};

// ---------------------------------------------------------------------------------------------------------------
// Generated grammars: atoms of every kind, combined to a few levels, some through a Forward that recurses.

class GrammarMaker {
 public:
  explicit GrammarMaker(unsigned seed) : rng_(seed) {
    atoms_ = {
        lit("a"),
        lit("ab"),
        lit(E_ACUTE),
        lit("\n"),
        lit(""),
        kw("ab"),
        make_element<CaselessLiteralElement>("A"),
        make_element<CaselessKeywordElement>("b"),
        make_element<CharElement>("a" + E_ACUTE),
        word("a" + E_ACUTE, std::string_view("b")),
        word("ab"),
        quoted("'", std::string_view("\\")),
        quoted("'", std::string_view("'")),
        quoted(EURO, std::nullopt),
        regex("a+"),
        regex("[^\n]*"),
        regex("b|" + E_ACUTE),
        regex("x?"),
        make_element<LineStartElement>(),
        make_element<LineEndElement>(),
        make_element<StringStartElement>(),
        make_element<StringEndElement>(),
        make_element<RestOfLineElement>(),
        make_element<EmptyElement>(),
        make_element<NoMatchElement>(),
        make_element<ForwardElement>(),
        make_element<BeforeByte>('\xA9'),  // true only inside an é
    };
  }
  ~GrammarMaker() {
    for (const auto& f : forwards_) forward_set_inner(*f, nullptr);
  }

  ElementRef make(int depth) {
    if (depth == 0 || pick(4) == 0) return atoms_[pick(atoms_.size())];
    switch (pick(13)) {
      case 0: return seq({make(depth - 1), make(depth - 1)});
      case 1: return seq({make(depth - 1), make(depth - 1), make(depth - 1)});
      case 2: return alt({make(depth - 1), make(depth - 1)});
      case 3: return alt({make(depth - 1), make(depth - 1), make(depth - 1)});
      case 4: return opt(make(depth - 1));
      case 5: return make_element<ZeroOrMoreElement>(make(depth - 1));
      case 6: return make_element<OneOrMoreElement>(make(depth - 1));
      case 7: return make_element<ExactlyElement>(make(depth - 1), pick(3));
      case 8: return make_element<GroupElement>(make(depth - 1));
      case 9: return make_element<CombineElement>(make(depth - 1));
      case 10: return make_element<SuppressElement>(make(depth - 1));
      case 11: return make_element<SkipToElement>(make(depth - 1));
      default: {
        // A Forward: set to a grammar, or recursing through itself (nested brackets around a grammar, or a
        // grammar that may start with itself, which overflows).
        const Ref<const ForwardElement> f = make_element<ForwardElement>();
        forwards_.push_back(f);
        const ElementRef body = make(depth - 1);
        switch (pick(3)) {
          case 0: forward_set_inner(*f, body); break;
          case 1: forward_set_inner(*f, alt({seq({lit("("), opt(f), lit(")")}), body})); break;
          default: forward_set_inner(*f, seq({alt({body, f}), lit("a")})); break;
        }
        return f;
      }
    }
  }

  std::string text(std::size_t max_chars) {
    static const std::vector<std::string> alphabet = {"a", "b", "A", "'", "\\", "\n", " ", "(", ")", "x",
                                                      E_ACUTE, A_TILDE, EURO};
    std::string out;
    for (std::size_t n = pick(max_chars + 1); n > 0; --n) out += alphabet[pick(alphabet.size())];
    return out;
  }

 private:
  std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

  std::mt19937 rng_;
  std::vector<ElementRef> atoms_;
  std::vector<Ref<const ForwardElement>> forwards_;
};

}  // namespace quillex::testing
