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
  ~ForwardElement() override = default;
  mutable ReentrantReadLock lock_;
  mutable ElementRef inner_;
};

// Replaces the inner element under the write lock (the previous one is released). Any element may be stored,
// the Forward itself included.
void forward_set_inner(const ForwardElement& forward, ElementRef inner) noexcept;

}  // namespace quillex
