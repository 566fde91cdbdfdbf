#include "elements/regex_automaton.h"

#include <algorithm>
#include <bitset>
#include <map>
#include <utility>

namespace quillex {

namespace {

using regex_syntax::PatternNode;

// In a list of positions: the end of the part being built; once the whole pattern is built, the match.
constexpr int END = -1;
using List = std::vector<int>;

struct Position {
  std::optional<char32_t> literal;  // a character; else a class:
  std::bitset<128> ascii;           // its ASCII members
  bool wide = false;                // and whether it holds every non-ASCII character
};

// Symbols of the automaton's alphabet: 0-127 the ASCII characters, then one per non-ASCII character the pattern
// writes literally (wide[k] is 128 + k), then one for every other non-ASCII character.
bool takes(const Position& p, unsigned symbol, const std::vector<char32_t>& wide) {
  if (symbol < 128) return p.literal ? *p.literal == symbol : p.ascii.test(symbol);
  if (symbol - 128 < wide.size()) return p.literal ? *p.literal == wide[symbol - 128] : p.wide;
  return !p.literal && p.wide;
}

// The positions of a pattern and, for each, the ordered list of what may come after it (see regex_automaton.h).
class Builder {
 public:
  struct Part {
    List first;  // what may take the part's first character, END when the part may match empty
    List lasts;  // the positions whose lists hold END: those that may take the part's last character
  };

  bool ok = true;
  std::vector<Position> positions;
  std::vector<List> follow;

  Part build(const PatternNode& n) {
    if (!ok) return empty();
    switch (n.type) {
      case PatternNode::Type::Item:
        return item(n.item);
      case PatternNode::Type::Concat: {
        Part acc = empty();
        for (const PatternNode& part : n.parts) {
          acc = concat(std::move(acc), build(part));
          if (!ok) break;
        }
        return acc;
      }
      case PatternNode::Type::Alternation: {
        Part acc;
        for (const PatternNode& part : n.parts) {
          Part branch = build(part);
          acc.first.insert(acc.first.end(), branch.first.begin(), branch.first.end());
          acc.lasts.insert(acc.lasts.end(), branch.lasts.begin(), branch.lasts.end());
          if (!ok) break;
        }
        acc.first = unique(acc.first);
        return acc;
      }
      case PatternNode::Type::Repeat:
        return repeat(n);
    }
    return empty();
  }

  // `list` with each entry listed once, at its first (highest priority) place.
  static List unique(const List& list) {
    std::bitset<MAX_ENTRIES> seen;
    List out;
    for (int x : list) {
      const std::size_t k = static_cast<std::size_t>(x + 1);
      if (seen.test(k)) continue;
      seen.set(k);
      out.push_back(x);
    }
    return out;
  }

  // `list` with END replaced by `with`.
  static List substitute(const List& list, const List& with) {
    List out;
    for (int x : list) {
      if (x == END) {
        out.insert(out.end(), with.begin(), with.end());
      } else {
        out.push_back(x);
      }
    }
    return unique(out);
  }

 private:
  static constexpr std::size_t MAX_ENTRIES = CharAutomaton::MAX_POSITIONS + 1;

  static Part empty() { return {{END}, {}}; }
  static bool may_be_empty(const Part& p) { return std::find(p.first.begin(), p.first.end(), END) != p.first.end(); }

  Part item(const regex_syntax::SequenceItem& it) {
    if (positions.size() == CharAutomaton::MAX_POSITIONS) {
      ok = false;
      return empty();
    }
    Position p;
    if (it.literal) {
      p.literal = it.literal;
    } else {
      for (unsigned b = 0; b < 128; ++b) p.ascii.set(b, it.cls.bytes.test(b));
      p.wide = it.cls.wide == regex_syntax::CharClass::Wide::All;
    }
    const int id = static_cast<int>(positions.size());
    positions.push_back(p);
    follow.push_back({END});
    return {{id}, {id}};
  }

  // What may come after each of `lasts` once its part has ended: `with`.
  void continue_after(const List& lasts, const List& with) {
    for (int p : lasts) follow[static_cast<std::size_t>(p)] = substitute(follow[static_cast<std::size_t>(p)], with);
  }

  // `a` then `b`.
  Part concat(Part a, Part b) {
    continue_after(a.lasts, b.first);
    Part out;
    out.first = substitute(a.first, b.first);
    out.lasts = std::move(b.lasts);
    if (may_be_empty(b)) out.lasts.insert(out.lasts.end(), a.lasts.begin(), a.lasts.end());
    return out;
  }

  // One more round of a repeated part, which must not match empty: a repetition of such a part is where RE2's
  // handling of empty rounds differs from plain priorities, so the pattern is left to RE2.
  Part round(const PatternNode& body) {
    Part p = build(body);
    if (may_be_empty(p)) ok = false;
    return p;
  }

  // The choice between taking `part` and going on without it, `part` first unless `lazy`: what may come first
  // in an optional round, and after a round of a count with no upper bound.
  static List take_or_go_on(const Part& part, bool lazy) {
    List l = lazy ? List{END} : List{};
    l.insert(l.end(), part.first.begin(), part.first.end());
    if (!lazy) l.push_back(END);
    return l;
  }

  // x{n,m} as n rounds, then m - n nested optional rounds (x{2,4} is xx(?:x(?:x)?)?); x{n,} as n - 1 rounds and
  // x+ (x* when n is 0). Greedy or lazy alike: the optional rounds and the open one take that priority.
  Part repeat(const PatternNode& n) {
    const PatternNode& body = n.parts[0];
    Part acc = empty();
    if (n.max < 0) {
      for (int k = 1; k < n.min && ok; ++k) acc = concat(std::move(acc), round(body));
      if (!ok) return acc;
      Part last = round(body);
      if (!ok) return acc;
      const List loop = take_or_go_on(last, n.lazy);
      continue_after(last.lasts, loop);
      if (n.min == 0) last.first = loop;
      return concat(std::move(acc), std::move(last));
    }
    for (int k = 0; k < n.min && ok; ++k) acc = concat(std::move(acc), round(body));
    Part tail = empty();
    for (int k = n.min; k < n.max && ok; ++k) {
      Part once = concat(round(body), std::move(tail));
      tail.first = take_or_go_on(once, n.lazy);
      tail.lasts = std::move(once.lasts);
    }
    return concat(std::move(acc), std::move(tail));
  }
};

// A state's list as kept: the threads up to the first END (the match), END included when there is one.
List cut_at_match(const List& list) {
  const auto end = std::find(list.begin(), list.end(), END);
  return end == list.end() ? list : List(list.begin(), end + 1);
}

}  // namespace

std::optional<CharAutomaton> CharAutomaton::build(const PatternNode& tree) {
  Builder b;
  const Builder::Part root = b.build(tree);
  if (!b.ok) return std::nullopt;

  CharAutomaton a;
  for (const Position& p : b.positions) {
    if (p.literal && *p.literal >= 0x80 && std::find(a.wide_.begin(), a.wide_.end(), *p.literal) == a.wide_.end()) {
      a.wide_.push_back(*p.literal);
    }
  }
  std::bitset<256> by_char;  // lead bytes some literal character begins with
  for (char32_t c : a.wide_) by_char.set(static_cast<unsigned char>(regex_syntax::utf8_of(c)[0]));
  const unsigned other = 128 + static_cast<unsigned>(a.wide_.size());

  // The states in the order they are found, numbered from 1 (0 is the dead state).
  std::map<List, std::size_t> ids;
  std::vector<List> lists;
  bool ok = true;
  auto id_of = [&](const List& list) -> std::size_t {
    if (list.empty()) return 0;
    const auto found = ids.find(list);
    if (found != ids.end()) return found->second;
    if (lists.size() == MAX_STATES) {
      ok = false;
      return 0;
    }
    lists.push_back(list);
    ids.emplace(list, lists.size());
    return lists.size();
  };
  auto step = [&](const List& list, unsigned symbol) {
    List out;
    for (int p : list) {
      if (p == END) break;
      if (takes(b.positions[static_cast<std::size_t>(p)], symbol, a.wide_)) {
        const List& f = b.follow[static_cast<std::size_t>(p)];
        out.insert(out.end(), f.begin(), f.end());
      }
    }
    return cut_at_match(Builder::unique(out));
  };

  // ASCII characters that every position takes or refuses alike lead every state to the same next state:
  // same_as[c] is the first of c's kind.
  std::array<unsigned, 128> same_as{};
  {
    std::map<std::vector<bool>, unsigned> kinds;
    for (unsigned c = 0; c < 128; ++c) {
      std::vector<bool> taken_by;
      for (const Position& p : b.positions) taken_by.push_back(takes(p, c, a.wide_));
      same_as[c] = kinds.emplace(std::move(taken_by), c).first->second;
    }
  }

  // The table with next states by number first (BY_CHAR for the lead bytes the character decides), the flags
  // added once every state is known. Numbers stay below 0x100, so no number is BY_CHAR.
  const std::size_t start = id_of(cut_at_match(root.first));
  std::vector<Entry>& table = a.table_;
  table.assign(256, DEAD);  // the dead state's row
  std::vector<std::vector<Entry>> wide_next(1);
  for (std::size_t i = 0; i < lists.size() && ok; ++i) {
    const List list = lists[i];  // a copy: id_of may grow `lists`
    const std::size_t row = table.size();
    table.resize(row + 256, DEAD);
    for (unsigned c = 0; c < 128; ++c) {
      table[row + c] = c == same_as[c] ? static_cast<Entry>(id_of(step(list, c))) : table[row + same_as[c]];
    }
    const auto to_other = static_cast<Entry>(id_of(step(list, other)));
    for (unsigned lead = 0xC0; lead < 0x100; ++lead) table[row + lead] = by_char.test(lead) ? BY_CHAR : to_other;
    std::vector<Entry>& wide = wide_next.emplace_back();
    if (!a.wide_.empty()) {
      for (unsigned k = 0; k < a.wide_.size(); ++k) wide.push_back(static_cast<Entry>(id_of(step(list, 128 + k))));
      wide.push_back(to_other);
    }
  }
  if (!ok || start == 0) return std::nullopt;

  const std::size_t count = lists.size() + 1;
  std::vector<Entry> flags(count, 0);
  a.states_.resize(count);
  for (std::size_t i = 1; i < count; ++i) {
    const List& list = lists[i - 1];
    if (list.back() == END) flags[i] |= list.size() == 1 ? ACCEPTS | FINAL : ACCEPTS;
    const Entry* row = &table[i * 256];
    std::bitset<256> loop;
    for (unsigned c = 0; c < 128; ++c) loop.set(c, row[c] == i);
    bool wide_loop = true;
    for (unsigned lead = 0xC0; lead < 0x100; ++lead) wide_loop = wide_loop && row[lead] == i;
    if (wide_loop) {
      for (unsigned v = 0x80; v < 0x100; ++v) loop.set(v);
    }
    if (loop.none()) continue;
    flags[i] |= LOOPS;
    State& s = a.states_[i];
    s.loop = ByteClass(loop);
    std::vector<std::pair<unsigned, unsigned>> ranges;  // [lo, hi]
    for (unsigned v = 0; v < 256; ++v) {
      if (!loop.test(v)) continue;
      if (ranges.empty() || ranges.back().second + 1 != v) ranges.emplace_back(v, v);
      ranges.back().second = v;
    }
    if (ranges.size() <= 4) {
      s.loop_ranges = true;
      for (std::size_t k = 0; k < 4; ++k) {
        const auto [lo, hi] = ranges[k < ranges.size() ? k : 0];
        s.lo[k] = _mm_set1_epi8(static_cast<char>(lo));
        s.span[k] = _mm_set1_epi8(static_cast<char>(hi - lo));
      }
    }
  }
  auto entry_of = [&flags](Entry id) -> Entry { return id == DEAD ? DEAD : static_cast<Entry>(id | flags[id]); };
  for (Entry& e : table) {
    if (e != BY_CHAR) e = entry_of(e);
  }
  for (std::size_t i = 1; i < count; ++i) {
    for (Entry id : wide_next[i]) a.states_[i].wide_next.push_back(entry_of(id));
  }
  a.start_ = entry_of(static_cast<Entry>(start));
  std::bitset<256> first;
  for (unsigned v = 0; v < 256; ++v) first.set(v, a.entry(start, static_cast<unsigned char>(v)) != DEAD);
  a.first_ = ByteClass(first);
  return a;
}

std::size_t CharAutomaton::wide_symbol(std::string_view text, Pos pos) const noexcept {
  unsigned len;
  const char32_t c = decode_utf8_at(text, pos, len);
  for (std::size_t k = 0; k < wide_.size(); ++k) {
    if (wide_[k] == c) return k;
  }
  return wide_.size();
}

std::vector<std::string> CharAutomaton::sample_texts(std::size_t limit) const {
  // One character for each symbol: the ASCII ones, the pattern's own non-ASCII ones, and one of none of those.
  std::vector<std::string> chars;
  for (unsigned c = 0; c < 128; ++c) chars.emplace_back(1, static_cast<char>(c));
  for (char32_t c : wide_) chars.push_back(regex_syntax::utf8_of(c));
  for (char32_t c : {U'\u00e9', U'\u20ac', U'\U0001F600', U'\u0100', U'\u0800', U'\U00010000', U'\u00ff'}) {
    if (std::find(wide_.begin(), wide_.end(), c) == wide_.end()) {
      chars.push_back(regex_syntax::utf8_of(c));
      break;
    }
  }
  auto next_of = [this](std::size_t state, const std::string& ch) -> std::size_t {
    Entry next = entry(state, static_cast<unsigned char>(ch[0]));
    if (next == BY_CHAR) next = states_[state].wide_next[wide_symbol(ch, 0)];
    return next & 0xFF;
  };
  // The shortest text into each state, breadth first.
  std::vector<std::optional<std::string>> path(states_.size());
  std::vector<std::size_t> queue{start_ & 0xFFu};
  path[queue[0]] = "";
  std::vector<std::string> out;
  for (std::size_t i = 0; i < queue.size() && out.size() < limit; ++i) {
    const std::string here = *path[queue[i]];
    out.push_back(here);
    std::bitset<MAX_STATES + 1> tried;
    for (const std::string& ch : chars) {
      const std::size_t next = next_of(queue[i], ch);
      if (!path[next] && next != 0) {
        path[next] = here + ch;
        queue.push_back(next);
      }
      if (tried.test(next) || out.size() >= limit) continue;
      tried.set(next);
      out.push_back(here + ch);
    }
  }
  return out;
}

}  // namespace quillex
