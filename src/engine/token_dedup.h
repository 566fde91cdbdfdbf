// One value per distinct text among the spans of a text: the walk that gives a search's equal tokens one str.
// engine/token_intern.h makes the strs; this part is Python-free, so that it is tested on its own.
//
// The caller's Interner holds one value per span, in span order (the list slots):
//   std::uint64_t make(std::size_t i)                  span i's text is met for the first time: make its value
//                                                      (never 0), store it for span i and return it;
//   bool same(std::uint64_t value, std::size_t i)      whether `value` was made for span i's text;
//   void reuse(std::uint64_t value, std::size_t i)     span i's text is `value`'s: store it for span i again;
//   bool same_span(std::size_t j, std::size_t i)       whether the value stored for span j (j < i) was made for
//                                                      span i's text;
//   void reuse_span(std::size_t j, std::size_t i)      span i's text is span j's (j < i): store j's value again;
//   void prefetch_slot(std::size_t j),                 hints: span j's value will be reused soon (where it is
//   void prefetch_value(std::size_t j)                 stored, and what it stands for).
//
// Two routes give every span the same value:
// - the table: the spans in order, each looked up in one open-addressing table of (hash, value) for the
//   distinct texts met so far. While the distinct texts are a few tens of thousands the table stays in the
//   cache and a repeated text costs a hit there and a look at its value; with a million, nearly every lookup
//   misses the cache.
// - the partitions: the spans' hashes are scattered by their top bits into partitions of about 2,048, each
//   looked up in a small table that stays in the cache, which gives every span the index of the first span with
//   its text; a pass in span order then makes or reuses the values. Three streaming passes and no cache miss
//   per new text, but a repeated text costs more than a hit in a table that fits the cache.
// A call starts on the table and moves to the partitions when the table has grown past PARTITIONS_FROM texts
// while most spans still bring a new one (checked after every window of DEDUP_WINDOW spans). The partitions then
// cover all spans, and the values stored so far stand: a later span whose text first came before the move
// reuses the value stored for that first span.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "absl/hash/hash.h"
#include "elements/element.h"

namespace quillex::engine {

struct TextSpan {
  Pos start;
  Pos end;
};

inline std::string_view span_text(std::string_view text, TextSpan s) noexcept {
  return {text.data() + s.start, static_cast<std::size_t>(s.end - s.start)};
}

// The hash of a token's text: Abseil's string hash, which reads 8 or 16 bytes a step. (Abseil as Debian builds
// it has a string_view type of its own and hashes std::string_view through std::hash, a byte loop; so the text
// is handed over as absl::string_view.)
struct TextHash {
  std::uint64_t operator()(std::string_view t) const noexcept {
    return absl::Hash<absl::string_view>{}(absl::string_view(t.data(), t.size()));
  }
};

// Memory for values of a trivial type, kept for the next call: `reserve(n)` gives room for n values, allocating
// only to grow (by half as much again at least, so that calls of slowly growing sizes reallocate rarely). The
// contents are neither initialised nor kept across a growth. std::bad_alloc when the room cannot be had.
template <class T>
class ScratchArray {
 public:
  ScratchArray() noexcept = default;
  ScratchArray(ScratchArray&& o) noexcept : data_(std::move(o.data_)), capacity_(std::exchange(o.capacity_, 0)) {}
  ScratchArray& operator=(ScratchArray&& o) noexcept {
    data_ = std::move(o.data_);
    capacity_ = std::exchange(o.capacity_, 0);
    return *this;
  }

  T* reserve(std::size_t n) {
    if (n > capacity_) {
      const std::size_t grown = capacity_ + capacity_ / 2;
      const std::size_t c = n > grown ? n : grown;
      data_.reset();
      capacity_ = 0;
      data_.reset(new T[c]);
      capacity_ = c;
    }
    return data_.get();
  }
  T* data() const noexcept { return data_.get(); }
  std::size_t bytes() const noexcept { return capacity_ * sizeof(T); }

 private:
  std::unique_ptr<T[]> data_;
  std::size_t capacity_ = 0;
};

// A slot of the table route: a text's hash and its value (0: empty).
struct HashedValue {
  std::uint64_t hash;
  std::uint64_t value;
};

// The working memory of intern_spans, kept by the caller between calls.
struct DedupScratch {
  ScratchArray<HashedValue> table;        // the table route's slots
  ScratchArray<HashedValue> spare_table;  // where they move when the table grows
  ScratchArray<std::uint64_t> records;    // the partition route's records in span order
  ScratchArray<std::uint64_t> parted;     // and by partition
  ScratchArray<std::uint64_t> bounds;     // partition starts
  ScratchArray<std::uint64_t> small;      // one partition's slots
  ScratchArray<std::uint32_t> first32;    // the first span of each span's text, for fewer than 2^32 spans
  ScratchArray<std::uint64_t> first64;    // the same for more

  std::size_t bytes() const noexcept {
    return table.bytes() + spare_table.bytes() + records.bytes() + parted.bytes() + bounds.bytes() +
           small.bytes() + first32.bytes() + first64.bytes();
  }
};

enum class DedupRoute { Auto, Table, Partitions };

// The move to the partitions: considered after every window of spans, once the table holds PARTITIONS_FROM
// texts (some 2 MB of slots, past what a core's own cache holds), when at least half of the window's spans
// brought a new text.
inline constexpr std::size_t DEDUP_WINDOW = 4096;
inline constexpr std::size_t PARTITIONS_FROM = std::size_t{1} << 16;

// Partitions of at most about this many spans each: a partition's table of 4,096 or 8,192 slots stays in the
// cache.
inline constexpr std::size_t PARTITION_TARGET = 2048;

namespace dedup_detail {

// The smallest number of bits whose table keeps `entries` at most half full (at least 16 slots).
inline unsigned table_bits(std::size_t entries) noexcept {
  const unsigned b = static_cast<unsigned>(std::bit_width(entries * 2));
  return b < 4 ? 4 : b;
}

// The home slot of a hash in a table of 2^bits slots (bits >= 1): the top bits of the hash times an odd
// constant, which every hash bit moves.
inline std::size_t home_slot(std::uint64_t hash, unsigned bits) noexcept {
  return static_cast<std::size_t>((hash * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

// The table route over spans [from, to), one table grown by doubling whenever it would pass half full.
template <class Interner, class Hash>
class TableRoute {
 public:
  TableRoute(std::string_view text, const TextSpan* spans, DedupScratch& scratch, Interner& interner,
             const Hash& hash)
      : text_(text), spans_(spans), scratch_(scratch), interner_(interner), hash_(hash) {}

  // Room for `entries` distinct texts without growing.
  void size_for(std::size_t entries) {
    const unsigned bits = table_bits(entries);
    if (bits > bits_) resize(bits);
  }

  void run(std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      if ((used_ + 1) * 2 > (std::size_t{1} << bits_)) resize(bits_ + 1);
      const std::uint64_t h = hash_(span_text(text_, spans_[i]));
      HashedValue* slots = scratch_.table.data();
      const std::size_t mask = (std::size_t{1} << bits_) - 1;
      for (std::size_t s = home_slot(h, bits_);; s = (s + 1) & mask) {
        if (slots[s].value == 0) {
          slots[s] = {h, interner_.make(i)};
          ++used_;
          break;
        }
        if (slots[s].hash == h && interner_.same(slots[s].value, i)) {
          interner_.reuse(slots[s].value, i);
          break;
        }
      }
    }
  }

  std::size_t distinct() const noexcept { return used_; }

 private:
  // Moves the stored entries into a table of 2^bits slots in the spare memory, which then becomes the table
  // (the entries are distinct: none needs comparing).
  void resize(unsigned bits) {
    const std::size_t old_size = bits_ == 0 ? 0 : std::size_t{1} << bits_;
    const std::size_t size = std::size_t{1} << bits;
    HashedValue* slots = scratch_.spare_table.reserve(size);
    std::memset(slots, 0, size * sizeof(HashedValue));
    const HashedValue* old = scratch_.table.data();
    const std::size_t mask = size - 1;
    for (std::size_t s = 0; s < old_size; ++s) {
      if (old[s].value == 0) continue;
      std::size_t t = home_slot(old[s].hash, bits);
      while (slots[t].value != 0) t = (t + 1) & mask;
      slots[t] = old[s];
    }
    std::swap(scratch_.table, scratch_.spare_table);
    bits_ = bits;
  }

  std::string_view text_;
  const TextSpan* spans_;
  DedupScratch& scratch_;
  Interner& interner_;
  const Hash& hash_;
  unsigned bits_ = 0;
  std::size_t used_ = 0;
};

// A span as one 64-bit record for the partitions: the hash's bits above the lowest k, and below them the span's
// index + 1, with 2^k > n, so that no record is 0 (the mark of an empty slot). Equal texts have equal keys; a key
// that matches is confirmed by comparing the texts.
// Example: n = 5 gives k = 3; span 4 with hash 0xABCD...1234 is the record 0xABCD...1230 | 5.
class Records {
 public:
  explicit Records(std::size_t n) noexcept
      : low_(std::bit_width(n) >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << std::bit_width(n)) - 1) {}
  std::uint64_t make(std::uint64_t hash, std::size_t i) const noexcept { return (hash & ~low_) | (i + 1); }
  std::uint64_t key(std::uint64_t r) const noexcept { return r & ~low_; }
  std::size_t index(std::uint64_t r) const noexcept { return static_cast<std::size_t>(r & low_) - 1; }

 private:
  std::uint64_t low_;
};

// The partitions of spans [0, n), n >= 1. Pass 1 hashes every span into its record and counts the partition
// sizes (the top `pbits` bits of the record); pass 2 copies each record into its partition, in span order; pass
// 3 walks each partition through a small table, comparing keys only, and gives every span a candidate: first[i]
// = i when no earlier span has its key (then none has its text), else the first earlier span with its key, whose
// text is the same but for a collision of keys, which the caller confirms (exact_first settles a collision).
// Within a partition the records are in span order, so the record a later equal key finds is its first
// occurrence. Only records and a cache-sized table are touched: no text, so no cache miss per repeated text.
template <class Index, class Hash>
class Partitions {
 public:
  Partitions(std::string_view text, const TextSpan* spans, std::size_t n, DedupScratch& scratch, const Hash& hash)
      : text_(text), spans_(spans), n_(n), scratch_(scratch), hash_(hash), records_(n) {
    // The partition bits must lie above the index bits, so that equal texts share a partition.
    const auto index_bits = static_cast<unsigned>(std::bit_width(n));
    while ((n >> pbits_) > PARTITION_TARGET && pbits_ + index_bits < 64) ++pbits_;
  }

  void candidates(Index* first) {
    const std::size_t parts = std::size_t{1} << pbits_;
    std::uint64_t* bounds = scratch_.bounds.reserve(parts + 1);
    std::memset(bounds, 0, (parts + 1) * sizeof(std::uint64_t));
    std::uint64_t* in_order = scratch_.records.reserve(n_);
    for (std::size_t i = 0; i < n_; ++i) {
      in_order[i] = records_.make(hash_(span_text(text_, spans_[i])), i);
      ++bounds[part_of(in_order[i]) + 1];
      first[i] = static_cast<Index>(i);
    }
    std::size_t largest = 0;
    for (std::size_t p = 0; p < parts; ++p) {
      if (bounds[p + 1] > largest) largest = static_cast<std::size_t>(bounds[p + 1]);
      bounds[p + 1] += bounds[p];
    }
    // bounds[p] is where partition p starts; writing its records moves it to where p + 1 starts, so that
    // afterwards partition p spans bounds[p - 1] .. bounds[p] (from 0 for p = 0).
    std::uint64_t* parted = scratch_.parted.reserve(n_);
    for (std::size_t i = 0; i < n_; ++i) parted[bounds[part_of(in_order[i])]++] = in_order[i];
    std::uint64_t* slots = scratch_.small.reserve(std::size_t{1} << table_bits(largest));
    std::size_t begin = 0;
    for (std::size_t p = 0; p < parts; ++p) {
      const auto end = static_cast<std::size_t>(bounds[p]);
      if (end == begin) continue;
      const unsigned bits = table_bits(end - begin);
      const std::size_t mask = (std::size_t{1} << bits) - 1;
      std::memset(slots, 0, (mask + 1) * sizeof(std::uint64_t));
      for (std::size_t x = begin; x < end; ++x) {
        const std::uint64_t r = parted[x];
        const std::uint64_t key = records_.key(r);
        for (std::size_t s = home_slot(key, bits);; s = (s + 1) & mask) {
          const std::uint64_t v = slots[s];
          if (v == 0) {
            slots[s] = r;
            break;
          }
          if (records_.key(v) == key) {
            first[records_.index(r)] = static_cast<Index>(records_.index(v));
            break;
          }
        }
      }
      begin = end;
    }
  }

  // The smallest j <= i whose text is span i's, from i's partition (after `candidates`).
  std::size_t exact_first(std::size_t i) const {
    const std::uint64_t r = scratch_.records.data()[i];
    const std::size_t p = part_of(r);
    const std::uint64_t* bounds = scratch_.bounds.data();
    const std::uint64_t* parted = scratch_.parted.data();
    for (std::size_t x = p == 0 ? 0 : static_cast<std::size_t>(bounds[p - 1]); parted[x] != r; ++x) {
      const std::size_t j = records_.index(parted[x]);
      if (records_.key(parted[x]) == records_.key(r) && span_text(text_, spans_[j]) == span_text(text_, spans_[i])) {
        return j;
      }
    }
    return i;
  }

 private:
  std::size_t part_of(std::uint64_t r) const noexcept {
    return pbits_ == 0 ? std::size_t{0} : static_cast<std::size_t>(r >> (64 - pbits_));
  }

  std::string_view text_;
  const TextSpan* spans_;
  std::size_t n_;
  DedupScratch& scratch_;
  const Hash& hash_;
  Records records_;
  unsigned pbits_ = 0;
};

// The partition route for spans [from, n) once the spans before `from` have their values. A candidate is
// confirmed by the interner against the value stored for it (which the reuse reads anyway); a collision of keys
// is settled by exact_first.
template <class Index, class Interner, class Hash>
void partition_route(std::string_view text, const TextSpan* spans, std::size_t from, std::size_t n,
                     ScratchArray<Index>& first_storage, DedupScratch& scratch, Interner& interner,
                     const Hash& hash) {
  Index* first = first_storage.reserve(n);
  Partitions<Index, Hash> partitions(text, spans, n, scratch, hash);
  partitions.candidates(first);
  // A repeated text's earlier value lies anywhere behind: its slot is fetched 16 spans ahead and what the slot
  // holds 8 spans ahead, so that those cache misses overlap instead of stalling one after the other.
  constexpr std::size_t AHEAD = 8;
  for (std::size_t i = from; i < n; ++i) {
    if (i + 2 * AHEAD < n && first[i + 2 * AHEAD] != i + 2 * AHEAD) {
      interner.prefetch_slot(static_cast<std::size_t>(first[i + 2 * AHEAD]));
    }
    if (i + AHEAD < n && first[i + AHEAD] != i + AHEAD) {
      interner.prefetch_value(static_cast<std::size_t>(first[i + AHEAD]));
    }
    auto j = static_cast<std::size_t>(first[i]);
    if (j != i && !interner.same_span(j, i)) j = partitions.exact_first(i);
    if (j == i) {
      (void)interner.make(i);
    } else {
      interner.reuse_span(j, i);
    }
  }
}

}  // namespace dedup_detail

// Gives each of spans [0, n) of `text` its value through `interner` (above), in span order: one value per
// distinct text, made at its first occurrence. `route` forces a route (for tests); Auto chooses as the header
// says. std::bad_alloc when the working memory cannot be had; what the interner throws passes through. Either
// way the spans before the failing one have their values, and no later span has one.
template <class Interner, class Hash = TextHash>
void intern_spans(std::string_view text, const TextSpan* spans, std::size_t n, DedupScratch& scratch,
                  Interner& interner, DedupRoute route = DedupRoute::Auto, const Hash& hash = Hash{}) {
  if (n == 0) return;
  std::size_t done = 0;
  if (route != DedupRoute::Partitions) {
    dedup_detail::TableRoute<Interner, Hash> table(text, spans, scratch, interner, hash);
    table.size_for(n < DEDUP_WINDOW ? n : DEDUP_WINDOW);
    while (done < n) {
      const std::size_t to = n - done < DEDUP_WINDOW ? n : done + DEDUP_WINDOW;
      const std::size_t before = table.distinct();
      table.run(done, to);
      const std::size_t brought = table.distinct() - before;
      done = to;
      if (route == DedupRoute::Auto && table.distinct() >= PARTITIONS_FROM && brought * 2 >= DEDUP_WINDOW) break;
    }
    if (done == n) return;
  }
  if (n <= UINT32_MAX) {
    dedup_detail::partition_route(text, spans, done, n, scratch.first32, scratch, interner, hash);
  } else {
    dedup_detail::partition_route(text, spans, done, n, scratch.first64, scratch, interner, hash);
  }
}

}  // namespace quillex::engine
