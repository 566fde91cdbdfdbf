// Forward: a placeholder bound to its grammar later, so that a grammar can refer to itself. The only element
// whose content changes after construction. Grammars hold the ForwardElement itself, never its inner element,
// so a later `forward_set_inner` is seen by every grammar built before it. A grammar that reaches the Forward
// from its own inner element is a reference cycle and lives until the inner element is replaced.
#pragma once

#include <atomic>

#include "elements/element.h"

namespace quillex {

// Reader-writer lock over the inner handle. Readers may re-enter while they hold it (a recursive grammar takes
// the same Forward's read lock again on the same thread), so readers never wait for a waiting writer. Under the
// interpreter lock it is never contended; it keeps the handle consistent under any threading.
class ReentrantReadLock {
 public:
  void lock_shared() noexcept;
  void unlock_shared() noexcept { state_.fetch_sub(1, std::memory_order_release); }
  void lock() noexcept;
  void unlock() noexcept { state_.store(0, std::memory_order_release); }

 private:
  std::atomic<long> state_{0};  // readers in progress, or -1 while a writer holds it
};

// Matches through the inner element, unchanged; empty: fails with "Forward not initialized" (a new string per
// failure) and try_match_at is false.
class ForwardElement final : public Element {
 public:
  ForwardElement() noexcept : Element(Kind::Forward) {}
  ParseOutcome parse(std::string_view text, Pos pos) const override;
  MatchResult try_match_at(std::string_view text, Pos pos) const override;
  MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const override;

  // Test hook: the inner element currently set, as a new handle (empty when unset).
  ElementRef inner() const;

 private:
  friend void forward_set_inner(const ForwardElement& forward, ElementRef inner) noexcept;
  friend class ForwardHold;
  ~ForwardElement() override = default;
  mutable ReentrantReadLock lock_;
  mutable ElementRef inner_;
};

// ForwardHold: a Forward's read lock held for a scope, as a match through the Forward holds it, and the inner
// element it keeps alive meanwhile. A scan that matches through a Forward at every candidate holds it once
// around the whole scan: each match then takes the lock again as a nested match does, counted on this thread
// alone, where taking it afresh costs two atomic operations on its shared state. Holds nest strictly (the last
// one taken is released first), as matches do.
class ForwardHold {
 public:
  explicit ForwardHold(const ForwardElement& forward) noexcept;
  ~ForwardHold();
  ForwardHold(const ForwardHold&) = delete;
  ForwardHold& operator=(const ForwardHold&) = delete;

  // The inner element (null when unset), unchanged while the hold lasts.
  const Element* inner() const noexcept { return forward_.inner_.get(); }

 private:
  const ForwardElement& forward_;
  int slot_;
};

// Replaces the inner element under the write lock (the previous one is released). Any element may be stored,
// the Forward itself included.
void forward_set_inner(const ForwardElement& forward, ElementRef inner) noexcept;

}  // namespace quillex
