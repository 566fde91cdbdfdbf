#include "elements/regex_sequence.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "elements/substring_search.h"

namespace quillex {

ByteSequence::ByteSequence(const std::vector<regex_syntax::SequenceItem>& items) {
  std::bitset<256> first;
  bool first_done = false;
  const std::bitset<256>* last_class = nullptr;  // the bytes of the last step, when it is a class
  for (const regex_syntax::SequenceItem& item : items) {
    if (!first_done) first |= item.cls.bytes;
    if (item.literal) {
      if (steps_.empty() || steps_.back().literal.empty()) steps_.emplace_back();
      regex_syntax::append_utf8(steps_.back().literal, *item.literal);
      first_done = true;
      last_class = nullptr;
      continue;
    }
    const std::uint32_t min = static_cast<std::uint32_t>(item.min);
    const std::uint32_t max = item.max < 0 ? UNBOUNDED : static_cast<std::uint32_t>(item.max);
    first_done = first_done || min > 0;
    // A class after a fixed count of the same class adds to that count: "\d\d+" walks as "\d{2,}", so a
    // failed walk may skip the whole run. (A variable count followed by its own class is no sequence.)
    if (last_class != nullptr && *last_class == item.cls.bytes && steps_.back().min == steps_.back().max) {
      Step& prev = steps_.back();
      prev.min += min;
      prev.max = max == UNBOUNDED ? UNBOUNDED : prev.max + max;
      continue;
    }
    Step& s = steps_.emplace_back();
    s.cls = ByteClass(item.cls.bytes);
    s.min = min;
    s.max = max;
    s.by_char = item.cls.wide == regex_syntax::CharClass::Wide::All;
    last_class = &item.cls.bytes;
  }
  may_be_empty_ = !first_done;
  for (unsigned b = 0x80; b < 0xC0; ++b) first.reset(b);
  first_ = ByteClass(first);
  first_is_run_ = !steps_.empty() && steps_[0].literal.empty() && steps_[0].max == UNBOUNDED;
  if (may_be_empty_) return;
  // How common a candidate source is: a literal by its rarest byte (the substring filter looks for it), a class
  // by all its members together.
  const auto& share = BYTE_SHARE;
  auto literal_rank = [&share](std::string_view literal) {
    std::uint32_t r = UINT32_MAX;
    for (char c : literal) r = std::min<std::uint32_t>(r, share[static_cast<unsigned char>(c)]);
    return r;
  };
  auto class_rank = [&share](const std::bitset<256>& members) {
    std::uint32_t r = 0;
    for (unsigned b = 0; b < 256; ++b) {
      if (members.test(b)) r += share[b];
    }
    return r;
  };
  auto first_bytes_of = [](const Step& s) {
    std::bitset<256> b;
    for (unsigned v = 0; v < 256; ++v) {
      b.set(v, s.cls.contains(static_cast<unsigned char>(v)) && !is_continuation_byte(static_cast<unsigned char>(v)));
    }
    return b;
  };
  std::uint32_t best = class_rank(first);
  // Takes step i as the anchor when it is rarer than the best source so far.
  auto consider = [&](std::size_t i, Search search, Pos offset) {
    const Step& s = steps_[i];
    const std::bitset<256> bytes = s.literal.empty() ? first_bytes_of(s) : std::bitset<256>();
    const std::uint32_t r = s.literal.empty() ? class_rank(bytes) : literal_rank(s.literal);
    if (r >= best && !(i == 0 && r == best)) return;
    best = r;
    search_ = search;
    anchor_ = s.literal;
    anchor_class_ = s.literal.empty() ? ByteClass(bytes) : ByteClass();
    anchor_offset_ = offset;
    anchor_step_ = i == 0 && !s.literal.empty() ? 1 : 0;
  };
  Pos offset = 0;
  for (std::size_t i = 0; i < steps_.size(); ++i) {
    const Step& s = steps_[i];
    if (!s.literal.empty() || (i > 0 && s.min > 0)) consider(i, Search::Fixed, offset);  // a first class is `first`
    if (!s.literal.empty()) {
      offset += s.literal.size();
    } else if (s.min == s.max && !s.by_char) {
      offset += s.min;
    } else {
      break;
    }
  }
  // After the first class's run, when runs also end at bytes commoner than the anchor: otherwise nearly every
  // run ends at an anchor, and the search would read each run twice ("[^\n]*\n" searches its first bytes).
  if (first_is_run_ && steps_.size() > 1 && (!steps_[1].literal.empty() || steps_[1].min > 0)) {
    const Step& next = steps_[1];
    const std::bitset<256> anchor = next.literal.empty()
                                        ? first_bytes_of(next)
                                        : std::bitset<256>().set(static_cast<unsigned char>(next.literal[0]));
    std::bitset<256> other_ends;
    for (unsigned b = 0; b < 256; ++b) {
      other_ends.set(b, !steps_[0].cls.contains(static_cast<unsigned char>(b)) && !anchor.test(b));
    }
    const std::uint32_t anchor_rank = next.literal.empty() ? class_rank(anchor) : literal_rank(next.literal);
    if (class_rank(other_ends) > anchor_rank) consider(1, Search::AfterRun, 0);
  }
}

ByteSequence::Walk ByteSequence::walk(std::string_view text, Pos pos, std::size_t from_step) const noexcept {
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  const Pos n = text.size();
  Pos p = pos;
  Pos first_end = pos;
  for (std::size_t i = from_step; i < steps_.size(); ++i) {
    const Step& s = steps_[i];
    if (!s.literal.empty()) {
      const std::size_t len = s.literal.size();
      if (n - p < len || t[p] != static_cast<unsigned char>(s.literal[0]) ||
          (len > 1 && std::memcmp(t + p + 1, s.literal.data() + 1, len - 1) != 0)) {
        return {false, p, first_end};
      }
      p += len;
    } else {
      // One time: a byte, or a whole character (its lead byte is the member; the text is valid UTF-8, the
      // bound only keeps a stray byte from stepping past the end).
      const auto take = [&](Pos q) { return s.by_char ? std::min<Pos>(q + utf8_char_len(t[q]), n) : q + 1; };
      std::uint32_t k = 0;
      for (; k < s.min; ++k) {
        if (p >= n || !s.cls.contains(t[p])) return {false, p, i == 0 ? p : first_end};
        p = take(p);
      }
      if (s.max == UNBOUNDED) {
        // Most runs are short: a few bytes one by one before the vector scan (byte steps serve a class of
        // characters too, all of whose non-ASCII bytes are members).
        const Pos stop = std::min<Pos>(n, p + 8);
        while (p < stop && s.cls.contains(t[p])) ++p;
        if (p == stop) p = s.cls.run_end(text, p);
      } else {
        for (; k < s.max && p < n && s.cls.contains(t[p]); ++k) p = take(p);
      }
    }
    if (i == 0) first_end = p;
  }
  return {true, p, first_end};
}

}  // namespace quillex
