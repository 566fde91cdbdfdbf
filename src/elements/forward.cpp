#include "elements/forward.h"

#include <cstdint>
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

// The read locks this thread holds, innermost last, each with the number of guards that hold it. A recursive
// grammar takes the same Forward's read lock once per nesting level; only the outermost guard of a lock on a
// thread touches its shared state, and the nested ones count here, on the thread alone. That is sound because
// the outermost hold keeps the lock read-held (no writer can enter) until it ends, and guards nest strictly, so
// the entry whose count drops to zero is always the innermost one. Past SLOTS distinct locks a guard takes its
// lock's shared state itself, as every guard would without this table.
struct HeldReadLocks {
  static constexpr int SLOTS = 8;
  const ReentrantReadLock* locks[SLOTS] = {};
  std::uint64_t holds[SLOTS] = {};
  int size = 0;
};

// Constant-initialised and initial-exec: a guard reads it without a TLS lookup call or an initialisation check.
constinit thread_local HeldReadLocks g_held_read_locks __attribute__((tls_model("initial-exec")));

// Takes `l` for reading on this thread: counted in g_held_read_locks when this thread holds it already, else
// taken on its shared state. Gives the entry's slot, or -1 when the shared state was taken without an entry.
int hold_read_lock(ReentrantReadLock& l) noexcept {
  HeldReadLocks& held = g_held_read_locks;
  for (int i = held.size - 1; i >= 0; --i) {
    if (held.locks[i] == &l) {
      ++held.holds[i];
      return i;
    }
  }
  l.lock_shared();
  if (held.size == HeldReadLocks::SLOTS) return -1;
  const int slot = held.size++;
  held.locks[slot] = &l;
  held.holds[slot] = 1;
  return slot;
}

void release_read_lock(ReentrantReadLock& l, int slot) noexcept {
  if (slot < 0) {
    l.unlock_shared();
    return;
  }
  HeldReadLocks& held = g_held_read_locks;
  if (--held.holds[slot] != 0) return;
  if (slot != held.size - 1) fatal("Forward read locks released out of order");
  --held.size;
  l.unlock_shared();
}

class SharedLockGuard {
 public:
  explicit SharedLockGuard(ReentrantReadLock& l) noexcept : l_(l), slot_(hold_read_lock(l)) {}
  ~SharedLockGuard() { release_read_lock(l_, slot_); }
  SharedLockGuard(const SharedLockGuard&) = delete;
  SharedLockGuard& operator=(const SharedLockGuard&) = delete;

 private:
  ReentrantReadLock& l_;
  int slot_;  // this lock's entry in g_held_read_locks, or -1 when the guard holds the shared state itself
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

MatchResult ForwardElement::parse_into(std::string_view text, Pos pos, TokenBuffer& out) const {
  DepthGuard guard;
  if (!guard.ok()) return out.fail(RECURSION_MESSAGE, pos);
  SharedLockGuard hold(lock_);
  if (!inner_) return out.fail(FORWARD_EMPTY_MESSAGE, pos);
  return inner_->parse_into(text, pos, out);
}

ForwardHold::ForwardHold(const ForwardElement& forward) noexcept
    : forward_(forward), slot_(hold_read_lock(forward.lock_)) {}

ForwardHold::~ForwardHold() { release_read_lock(forward_.lock_, slot_); }

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
