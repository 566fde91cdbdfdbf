// One value per distinct key among a call's items, in item order: the walk that gives a search's equal tokens one
// str (items: the spans of a text, keyed by their text) and a batch's repeated inputs one token (items: the
// objects of a list, keyed by identity). engine/token_intern.h and fastpaths/word_batch.h make the values; this
// part is Python-free, so that it is tested on its own.
//
// The caller's Keys say what makes two items the same:
//   std::uint64_t hash(std::size_t i) const            equal keys have equal hashes;
//   bool equal(std::size_t i, std::size_t j) const     whether items i and j have one key.
// The caller's Interner holds one value per item, in item order:
//   std::uint64_t make(std::size_t i)                  item i's key is met for the first time: make its value
//                                                      (never 0), store it for item i and return it;
//   bool same(std::uint64_t value, std::size_t i)      whether `value` was made for item i's key (asked only
//                                                      when their hashes agree);
//   void reuse(std::uint64_t value, std::size_t i)     item i's key is `value`'s: store it for item i again;
//   bool same_item(std::size_t j, std::size_t i)       whether the value stored for item j (j < i) was made for
//                                                      item i's key;
//   void reuse_item(std::size_t j, std::size_t i)      item i's key is item j's (j < i): store j's value again;
//   void prefetch_slot(std::size_t j),                 hints: item j's value will be reused soon (where it is
//   void prefetch_value(std::size_t j)                 stored, and what it stands for).
//
// Two routes give every item the same value:
// - the table: the items in order, each looked up in one open-addressing table of (hash, value) for the
//   distinct keys met so far. While the distinct keys are a few tens of thousands the table stays in the cache
//   and a repeated key costs a hit there and a look at its value; with a million, nearly every lookup misses the
//   cache.
// - the partitions: the items' hashes are scattered by their top bits into partitions of about 2,048, each
//   looked up in a small table that stays in the cache, which gives every item the index of the first item with
//   its key; a pass in item order then makes or reuses the values. Three streaming passes and no cache miss per
//   new key, but a repeated key costs more than a hit in a table that fits the cache.
// A call starts on the table and moves to the partitions when the table has grown past PARTITIONS_FROM keys
// while many items still bring a new one (checked after every window of DEDUP_WINDOW items). From then on the
// items are only gathered; at the end the partitions cover all items, and the values stored before the move
// stand: a later item whose key first came before the move reuses the value stored for that first item.
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

// A slot of the table route: a key's hash and its value (0: empty).
struct HashedValue {
  std::uint64_t hash;
  std::uint64_t value;
};

// The working memory of intern_keys, kept by the caller between calls.
struct DedupScratch {
  ScratchArray<HashedValue> table;        // the table route's slots
  ScratchArray<HashedValue> spare_table;  // where they move when the table grows
  ScratchArray<std::uint64_t> records;    // the partition route's records in item order
  ScratchArray<std::uint64_t> parted;     // and by partition
  ScratchArray<std::uint64_t> bounds;     // partition starts
  ScratchArray<std::uint64_t> small;      // one partition's slots
  ScratchArray<std::uint32_t> first32;    // the first item with each item's key, for fewer than 2^32 items
  ScratchArray<std::uint64_t> first64;    // the same for more

  std::size_t bytes() const noexcept {
    return table.bytes() + spare_table.bytes() + records.bytes() + parted.bytes() + bounds.bytes() +
           small.bytes() + first32.bytes() + first64.bytes();
  }
};

enum class DedupRoute { Auto, Table, Partitions };

// The move to the partitions: considered after every window of items, once the table holds PARTITIONS_FROM
// keys (some 2 MB of slots, past what a core's own cache holds), when at least a quarter of the window's items
// brought a new key (a text drawn from a vocabulary of some 90,000 words or more; with less, the table stays
// within a few MB and serves the repeats faster).
inline constexpr std::size_t DEDUP_WINDOW = 4096;
inline constexpr std::size_t PARTITIONS_FROM = std::size_t{1} << 16;

// Partitions of at most about this many items each: a partition's table of 4,096 or 8,192 slots stays in the
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

// Moves the entries of the table (2^old_bits slots, 0 for none) into 2^bits slots of the spare memory, which
// then becomes the table. An entry's slot is its hash's home or the first free one after it; the entries are
// distinct, so none needs comparing. An empty slot has value 0.
inline void grow_table(DedupScratch& scratch, unsigned old_bits, unsigned bits) {
  const std::size_t old_size = old_bits == 0 ? 0 : std::size_t{1} << old_bits;
  const std::size_t size = std::size_t{1} << bits;
  HashedValue* slots = scratch.spare_table.reserve(size);
  std::memset(slots, 0, size * sizeof(HashedValue));
  const HashedValue* old = scratch.table.data();
  for (std::size_t s = 0; s < old_size; ++s) {
    if (old[s].value == 0) continue;
    std::size_t t = home_slot(old[s].hash, bits);
    while (slots[t].value != 0) t = (t + 1) & (size - 1);
    slots[t] = old[s];
  }
  std::swap(scratch.table, scratch.spare_table);
}

// The table route, an item at a time: one table grown by doubling whenever it would pass half full.
template <class Keys, class Interner>
class TableRoute {
 public:
  TableRoute(const Keys& keys, DedupScratch& scratch, Interner& interner)
      : keys_(keys), scratch_(scratch), interner_(interner) {}

  // Room for `entries` distinct keys without growing.
  void size_for(std::size_t entries) {
    const unsigned bits = table_bits(entries);
    if (bits > bits_) resize(bits);
  }

  void item(std::size_t i) {
    if ((used_ + 1) * 2 > (std::size_t{1} << bits_)) resize(bits_ + 1);
    const std::uint64_t h = keys_.hash(i);
    HashedValue* slots = scratch_.table.data();
    const std::size_t mask = (std::size_t{1} << bits_) - 1;
    for (std::size_t s = home_slot(h, bits_);; s = (s + 1) & mask) {
      if (slots[s].value == 0) {
        slots[s] = {h, interner_.make(i)};
        ++used_;
        return;
      }
      if (slots[s].hash == h && interner_.same(slots[s].value, i)) {
        interner_.reuse(slots[s].value, i);
        return;
      }
    }
  }

  std::size_t distinct() const noexcept { return used_; }

 private:
  void resize(unsigned bits) {
    grow_table(scratch_, bits_, bits);
    bits_ = bits;
  }

  const Keys& keys_;
  DedupScratch& scratch_;
  Interner& interner_;
  unsigned bits_ = 0;
  std::size_t used_ = 0;
};

// An item as one 64-bit record for the partitions: the hash's bits above the lowest k (the record's key), and
// below them the item's index + 1, with 2^k > n, so that no record is 0 (the mark of an empty slot). Equal keys
// have equal record keys; record keys that match are confirmed against the keys.
// Example: n = 5 gives k = 3; item 4 with hash 0xABCD...1234 is the record 0xABCD...1230 | 5.
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

// The partitions of items [0, n), n >= 1. Pass 1 hashes every item into its record and counts the partition
// sizes (the top `pbits` bits of the record); pass 2 copies each record into its partition, in item order; pass
// 3 walks each partition through a small table, comparing record keys only, and gives every item a candidate:
// first[i] = i when no earlier item has its record key (then none has its key), else the first earlier item with
// its record key, which has its key too but for a collision, which the caller confirms (exact_first settles a
// collision). Within a partition the records are in item order, so the record a later equal key finds is its
// first occurrence. Only records and a cache-sized table are touched, not the keys: no cache miss per repeat.
template <class Index, class Keys>
class Partitions {
 public:
  Partitions(const Keys& keys, std::size_t n, DedupScratch& scratch) : keys_(keys), n_(n), scratch_(scratch), records_(n) {
    // The partition bits must lie above the index bits, so that equal keys share a partition.
    const auto index_bits = static_cast<unsigned>(std::bit_width(n));
    while ((n >> pbits_) > PARTITION_TARGET && pbits_ + index_bits < 64) ++pbits_;
  }

  void candidates(Index* first) {
    const std::size_t parts = std::size_t{1} << pbits_;
    std::uint64_t* bounds = scratch_.bounds.reserve(parts + 1);
    std::memset(bounds, 0, (parts + 1) * sizeof(std::uint64_t));
    std::uint64_t* in_order = scratch_.records.reserve(n_);
    for (std::size_t i = 0; i < n_; ++i) {
      in_order[i] = records_.make(keys_.hash(i), i);
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

  // The smallest j <= i whose key is item i's, from i's partition (after `candidates`).
  std::size_t exact_first(std::size_t i) const {
    const std::uint64_t r = scratch_.records.data()[i];
    const std::uint64_t* bounds = scratch_.bounds.data();
    const std::uint64_t* parted = scratch_.parted.data();
    const std::size_t p = part_of(r);
    for (std::size_t x = p == 0 ? 0 : static_cast<std::size_t>(bounds[p - 1]); parted[x] != r; ++x) {
      const std::size_t j = records_.index(parted[x]);
      if (records_.key(parted[x]) == records_.key(r) && keys_.equal(j, i)) return j;
    }
    return i;
  }

 private:
  std::size_t part_of(std::uint64_t r) const noexcept {
    return pbits_ == 0 ? std::size_t{0} : static_cast<std::size_t>(r >> (64 - pbits_));
  }

  const Keys& keys_;
  std::size_t n_;
  DedupScratch& scratch_;
  Records records_;
  unsigned pbits_ = 0;
};

// The partition route for items [from, n) once the items before `from` have their values. A candidate is
// confirmed by the interner against the value stored for it (which the reuse reads anyway); a collision of
// record keys is settled by exact_first.
template <class Index, class Keys, class Interner>
void partition_route(const Keys& keys, std::size_t from, std::size_t n, ScratchArray<Index>& first_storage,
                     DedupScratch& scratch, Interner& interner) {
  Index* first = first_storage.reserve(n);
  Partitions<Index, Keys> partitions(keys, n, scratch);
  partitions.candidates(first);
  // A repeated key's earlier value lies anywhere behind: its slot is fetched 16 items ahead and what the slot
  // holds 8 items ahead, so that those cache misses overlap instead of stalling one after the other.
  constexpr std::size_t AHEAD = 8;
  for (std::size_t i = from; i < n; ++i) {
    if (i + 2 * AHEAD < n && first[i + 2 * AHEAD] != i + 2 * AHEAD) {
      interner.prefetch_slot(static_cast<std::size_t>(first[i + 2 * AHEAD]));
    }
    if (i + AHEAD < n && first[i + AHEAD] != i + AHEAD) {
      interner.prefetch_value(static_cast<std::size_t>(first[i + AHEAD]));
    }
    auto j = static_cast<std::size_t>(first[i]);
    if (j != i && !interner.same_item(j, i)) j = partitions.exact_first(i);
    if (j == i) {
      (void)interner.make(i);
    } else {
      interner.reuse_item(j, i);
    }
  }
}

}  // namespace dedup_detail

// Gives the items their values through `interner` (above), in item order, as they come: one value per distinct
// key, made at its first occurrence. `next()` takes the next item, whose key must be readable from then on;
// `finish()` settles the items not settled yet (once the call has moved to the partitions, which need every
// key). `route` forces a route (for tests); Auto chooses as the header says. std::bad_alloc when the working
// memory cannot be had; what the interner throws passes through. Either way the items before the failing one
// have their values, and no later item has one.
template <class Keys, class Interner>
class KeyInterning {
 public:
  // `expected`: how many items the caller expects, which sizes the first table (any number is correct).
  KeyInterning(const Keys& keys, std::size_t expected, DedupScratch& scratch, Interner& interner,
               DedupRoute route = DedupRoute::Auto)
      : keys_(keys), scratch_(scratch), interner_(interner), route_(route), table_(keys, scratch, interner),
        moved_(route == DedupRoute::Partitions) {
    if (!moved_) table_.size_for(expected < DEDUP_WINDOW ? expected : DEDUP_WINDOW);
  }

  void next() {
    const std::size_t i = items_++;
    if (moved_) return;
    table_.item(i);
    if (items_ % DEDUP_WINDOW != 0) return;
    const std::size_t brought = table_.distinct() - distinct_before_;
    distinct_before_ = table_.distinct();
    if (route_ == DedupRoute::Auto && table_.distinct() >= PARTITIONS_FROM && brought * 4 >= DEDUP_WINDOW) {
      moved_ = true;
      settled_ = items_;
    }
  }

  void finish() {
    if (!moved_ || settled_ == items_) return;
    if (items_ <= UINT32_MAX) {
      dedup_detail::partition_route(keys_, settled_, items_, scratch_.first32, scratch_, interner_);
    } else {
      dedup_detail::partition_route(keys_, settled_, items_, scratch_.first64, scratch_, interner_);
    }
    settled_ = items_;
  }

 private:
  const Keys& keys_;
  DedupScratch& scratch_;
  Interner& interner_;
  DedupRoute route_;
  dedup_detail::TableRoute<Keys, Interner> table_;
  bool moved_;
  std::size_t items_ = 0;            // items taken
  std::size_t settled_ = 0;          // once moved: the items that have their values
  std::size_t distinct_before_ = 0;  // the table's keys at the start of the window
};

// All of items [0, n) at once.
template <class Keys, class Interner>
void intern_keys(const Keys& keys, std::size_t n, DedupScratch& scratch, Interner& interner,
                 DedupRoute route = DedupRoute::Auto) {
  KeyInterning<Keys, Interner> interning(keys, n, scratch, interner, route);
  for (std::size_t i = 0; i < n; ++i) interning.next();
  interning.finish();
}

// The keys of the spans of a text: their texts.
template <class Hash = TextHash>
struct SpanKeys {
  std::string_view text;
  const TextSpan* spans;
  Hash hasher{};

  std::uint64_t hash(std::size_t i) const { return hasher(span_text(text, spans[i])); }
  bool equal(std::size_t i, std::size_t j) const { return span_text(text, spans[i]) == span_text(text, spans[j]); }
};

}  // namespace quillex::engine
