#include "elements/forward.h"

#include <thread>

namespace quillex {

void ReentrantReadLock::lock_shared() noexcept {
  long s = state_.load(std::memory_order_relaxed);
  for (;;) {
    if (s >= 0 && state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire, std::memory_order_relaxed)) return;
    if (s < 0) {
      std::this_thread::yield();
      s = state_.load(std::memory_order_relaxed);
    }
  }
}

void ReentrantReadLock::lock() noexcept {
  long expected = 0;
  while (!state_.compare_exchange_weak(expected, -1, std::memory_order_acquire, std::memory_order_relaxed)) {
    expected = 0;
    std::this_thread::yield();
  }
}

namespace {

constexpr std::string_view FORWARD_EMPTY_MESSAGE = "Forward not initialized";

class SharedLockGuard {
 public:
  explicit SharedLockGuard(ReentrantReadLock& l) noexcept : l_(l) { l_.lock_shared(); }
  ~SharedLockGuard() { l_.unlock_shared(); }
  SharedLockGuard(const SharedLockGuard&) = delete;
  SharedLockGuard& operator=(const SharedLockGuard&) = delete;

 private:
  ReentrantReadLock& l_;
};

}  // namespace

ParseOutcome ForwardElement::parse(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return recursion_failure(pos);
  SharedLockGuard hold(lock_);
  if (!inner_) return ParseOutcome::failure(SharedStr::make(FORWARD_EMPTY_MESSAGE), pos);
  return inner_->parse(text, pos);
}

MatchResult ForwardElement::try_match_at(std::string_view text, Pos pos) const {
  DepthGuard guard;
  if (!guard.ok()) return {false, 0};
  SharedLockGuard hold(lock_);
  if (!inner_) return {false, 0};
  return inner_->try_match_at(text, pos);
}

ElementRef ForwardElement::inner() const {
  SharedLockGuard hold(lock_);
  return inner_;
}

void forward_set_inner(const ForwardElement& forward, ElementRef inner) noexcept {
  ElementRef previous;
  forward.lock_.lock();
  previous = std::exchange(forward.inner_, std::move(inner));
  forward.lock_.unlock();
  // `previous` is released here, outside the lock: its destruction may reach this very Forward.
}

}  // namespace quillex
