#include "elements/element.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace quillex {

void fatal(const char* what) {
  std::fprintf(stderr, "quillex: fatal: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

// ---------------------------------------------------------------------------------------------------------------
// SharedStr

StrRef SharedStr::make(std::string_view bytes) {
  void* mem = ::operator new(sizeof(SharedStr) + bytes.size() + 1);
  auto* s = new (mem) SharedStr(bytes.size());
  char* out = reinterpret_cast<char*>(s + 1);
  if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
  out[bytes.size()] = '\0';
  return StrRef::adopt(s);
}

void SharedStr::decref() const noexcept {
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    this->~SharedStr();
    ::operator delete(const_cast<SharedStr*>(this));
  }
}

void append_tokens(TokenList& head, TokenList&& tail) {
  if (head.empty()) {
    head = std::move(tail);
    return;
  }
  head.reserve(head.size() + tail.size());
  for (StrRef& t : tail) head.push_back(std::move(t));
  tail.clear();
}

// ---------------------------------------------------------------------------------------------------------------
// Element lifetime

namespace {

std::atomic<std::size_t> g_live_elements{0};

// Elements whose last reference was released while another element was being destroyed on this thread, chained
// through the elements themselves (Element::dying_next): freeing a grammar of any width or depth allocates
// nothing, so it cannot fail for want of memory. Constant-initialised, trivially destructible and initial-exec:
// the first release on a thread needs no storage, no initialisation and no destructor registration.
struct Teardown {
  bool draining = false;
  const Element* pending = nullptr;  // the last one queued; each links to the one queued before it
};
constinit thread_local Teardown g_teardown __attribute__((tls_model("initial-exec")));

}  // namespace

std::size_t live_element_count() noexcept { return g_live_elements.load(std::memory_order_relaxed); }

// Every element is created by make_element (counted there) and destroyed here (uncounted).
void destroy_element(const Element* e) noexcept {
  Teardown& t = g_teardown;
  if (t.draining) {
    e->set_dying_next(t.pending);
    t.pending = e;
    return;
  }
  t.draining = true;
  delete e;
  g_live_elements.fetch_sub(1, std::memory_order_relaxed);
  while (const Element* next = t.pending) {
    t.pending = next->dying_next();
    delete next;
    g_live_elements.fetch_sub(1, std::memory_order_relaxed);
  }
  t.draining = false;
}

void Element::decref() const noexcept {
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) destroy_element(this);
}

StartOutcome Element::parse_at_start(std::string_view text) const { return StartOutcome::from(parse(text, 0)); }

void note_element_created() noexcept { g_live_elements.fetch_add(1, std::memory_order_relaxed); }

// ---------------------------------------------------------------------------------------------------------------
// Recursion guard

namespace {

// Stack that must stay free below the deepest guarded frame: room for the unguarded work of a terminal match
// and the frames between two guards (larger under sanitizers).
constexpr std::uintptr_t STACK_HEADROOM = 256 * 1024;

std::uintptr_t measure_stack_floor() noexcept {
  std::uintptr_t here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  pthread_attr_t attr;
  void* addr = nullptr;
  std::size_t size = 0;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getstack(&attr, &addr, &size);
    pthread_attr_destroy(&attr);
  }
  std::uintptr_t low = reinterpret_cast<std::uintptr_t>(addr);
  if (addr == nullptr || size == 0 || here <= low || here > low + size) {
    // Unknown stack: assume a conservative 1 MiB below the current frame.
    return here > (1u << 20) ? here - (1u << 20) + STACK_HEADROOM : 1;
  }
  std::uintptr_t headroom = STACK_HEADROOM;
  if (headroom > size / 4) headroom = size / 4;
  return low + headroom;
}

}  // namespace

bool guard_enter_slow(RecursionState& s) noexcept {
  if (s.overflowed) return false;
  if (s.stack_floor == 0) s.stack_floor = measure_stack_floor();
  if (s.depth >= MAX_MATCH_DEPTH || reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) <= s.stack_floor) {
    s.overflowed = true;
    return false;
  }
  ++s.depth;
  return true;
}

bool frame_above_stack_floor() noexcept {
  RecursionState& s = recursion_state();
  if (s.stack_floor == 0) s.stack_floor = measure_stack_floor();
  return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) > s.stack_floor;
}

bool take_recursion_overflow() noexcept {
  RecursionState& s = recursion_state();
  return std::exchange(s.overflowed, false);
}

ParseOutcome recursion_failure(Pos pos) {
  static const SharedStr* message = SharedStr::make(RECURSION_MESSAGE).release();
  return ParseOutcome::failure(StrRef::share(message), pos);
}

}  // namespace quillex
