#include "elements/regex_sequence.h"

#include <algorithm>
#include <cstring>

#include "fastpaths/substring_search.h"

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
  if (steps_.empty()) return;
  if (!steps_[0].literal.empty()) {
    anchor_ = steps_[0].literal;
    return;
  }
  // A literal after steps of fixed width, rarer than the first class: "[a-z]=\d+" is searched by its '='.
  auto rarest = [](std::string_view literal) {
    std::uint8_t r = 255;
    for (char c : literal) r = std::min(r, fastpaths::BYTE_RANK[static_cast<unsigned char>(c)]);
    return r;
  };
  std::uint8_t first_rank = 0;
  for (unsigned b = 0; b < 256; ++b) {
    if (first.test(b)) first_rank = std::max(first_rank, fastpaths::BYTE_RANK[b]);
  }
  Pos offset = 0;
  for (const Step& s : steps_) {
    if (!s.literal.empty()) {
      if (rarest(s.literal) < (anchor_.empty() ? first_rank : rarest(anchor_))) {
        anchor_ = s.literal;
        anchor_offset_ = offset;
      }
      offset += s.literal.size();
    } else if (s.min == s.max && !s.by_char) {
      offset += s.min;
    } else {
      break;
    }
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
