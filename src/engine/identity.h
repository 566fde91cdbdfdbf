// Batch shortcuts by object identity: a list holding one object throughout, a list repeating with a short
// period, a small table of verdicts keyed by address, and the previous item. Repeated inputs are recognised by
// address only, never by comparing texts: two distinct str objects with equal text are two inputs.
//
// These pieces know nothing of Python: items are any equality-comparable handle (the batch bodies pass the
// list's `PyObject*` item array), so they are tested on their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace quillex::engine {

// The input period is looked for among the first 128 items only, so it is at most 127.
inline constexpr std::size_t INPUT_PERIOD_WINDOW = 128;

// True when every item is items[0] (n >= 1; n == 1 is uniform). Four comparisons per step while a whole block
// of four fits below n, then one by one: a uniform million-item list is a streaming pass.
template <class T>
[[nodiscard]] inline bool detect_uniform_inputs(const T* items, std::size_t n) noexcept {
  const T first = items[0];
  std::size_t i = 1;
  if (n >= 5) {
    for (; i + 3 < n; i += 4) {
      if ((items[i] != first) | (items[i + 1] != first) | (items[i + 2] != first) | (items[i + 3] != first)) {
        return false;
      }
    }
  }
  for (; i < n; ++i) {
    if (items[i] != first) return false;
  }
  return true;
}

// The period h (1 <= h <= 127, 2h <= n) with which the items repeat, or 0 for none. The only candidate is the
// first recurrence of items[0] within the first 128 items; it holds when every item equals the one h before
// it, so that items[i] == items[i % h] for all i. n need not be a multiple of h.
// Example: a b a b a gives 2; a b c a gives 0 (2 * 3 > 4); a b a c a b a c gives 0 (h = 2 fails at index 3 and
// the recurrence at 4 is not tried).
template <class T>
[[nodiscard]] inline std::size_t detect_input_period(const T* items, std::size_t n) noexcept {
  const std::size_t lim = n < INPUT_PERIOD_WINDOW ? n : INPUT_PERIOD_WINDOW;
  std::size_t h = 0;
  for (std::size_t i = 1; i < lim; ++i) {
    if (items[i] == items[0]) {
      h = i;
      break;
    }
  }
  if (h == 0 || 2 * h > n) return 0;
  for (std::size_t i = h; i < n; ++i) {
    if (items[i] != items[i - h]) return 0;
  }
  return h;
}

// Verdicts of up to 31 distinct item addresses for one call. 32 slots, home slot
// ((a >> 4) ^ (a >> 12)) & 31 (the low 4 bits of an object address are alignment), linear probing. At most 31
// slots are ever filled, so while there is room every probe ends at an empty slot; once full, a new address
// probes all 32 slots and misses without being stored: it is evaluated at every occurrence, while the stored
// entries keep answering. Keys are never removed. 0 marks an empty slot (no object lives at address 0).
// 288 bytes, kept in the caller's frame: the counters allocate nothing.
class PointerVerdictCache {
 public:
  static constexpr unsigned SLOTS = 32;
  static constexpr unsigned CAPACITY = 31;
  static constexpr std::uint8_t MATCHED = 1;
  static constexpr std::uint8_t NOT_MATCHED = 2;

  // `verdict` is MATCHED or NOT_MATCHED on a hit, 0 on a miss; `slot` is where a missed address is to be
  // inserted, or SLOTS when the table is full.
  struct Lookup {
    std::uint8_t verdict;
    unsigned slot;
  };

  static unsigned home_slot(std::uint64_t a) noexcept { return static_cast<unsigned>(((a >> 4) ^ (a >> 12)) & 31); }

  [[nodiscard]] Lookup lookup(std::uint64_t a) const noexcept {
    unsigned s = home_slot(a);
    const bool room = stored_ < CAPACITY;
    for (unsigned probe = 0; probe < SLOTS; ++probe, s = (s + 1) & (SLOTS - 1)) {
      if (keys_[s] == a) return {verdicts_[s], s};
      if (keys_[s] == 0 && room) return {0, s};
    }
    return {0, SLOTS};
  }

  // Stores `a` at the slot a miss reported (ignored when the table was full).
  void insert(const Lookup& miss, std::uint64_t a, bool matched) noexcept {
    if (miss.slot >= SLOTS) return;
    keys_[miss.slot] = a;
    verdicts_[miss.slot] = matched ? MATCHED : NOT_MATCHED;
    ++stored_;
  }

  unsigned stored() const noexcept { return stored_; }

 private:
  std::uint64_t keys_[SLOTS] = {};
  std::uint8_t verdicts_[SLOTS] = {};
  unsigned stored_ = 0;
};

// The previous item and what was computed for it: a hit only when an item is the very object just before it.
// An object seen earlier but not just before is evaluated again. `V` is borrowed (a verdict, or a result that
// the output list owns).
template <class V>
class LastPointerCache {
 public:
  [[nodiscard]] bool hit(const void* item) const noexcept { return item != nullptr && item == previous_; }
  const V& value() const noexcept { return value_; }
  void remember(const void* item, V value) noexcept {
    previous_ = item;
    value_ = value;
  }

 private:
  const void* previous_ = nullptr;
  V value_{};
};

// Extends slots [0, m) (m >= 1) to [0, v) by repeating the filled prefix: each step copies
// min(filled, v - filled) slots as one block, so the filled part doubles until the last step, which copies only
// what is missing (3 -> 6 -> 12 -> 13 for m = 3, v = 13). Copies are raw: for object references the caller
// raises the counts afterwards (bulk_incref).
template <class T>
inline void fill_slots_by_doubling(T* slots, std::size_t m, std::size_t v) noexcept {
  static_assert(std::is_trivially_copyable_v<T>);
  while (m < v) {
    const std::size_t c = m < v - m ? m : v - m;
    std::memcpy(slots + m, slots, c * sizeof(T));
    m += c;
  }
}

}  // namespace quillex::engine
