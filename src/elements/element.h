// The element core: the interface every grammar node implements, the values matching produces, and the
// ownership rules they share.
//
// An element is an immutable grammar node shared by reference count between the Python objects and the
// combinator elements that refer to it. The count is atomic and is the only thing that decides an element's
// life; an element dies through `release()` only (destructors are protected). A grammar that reaches itself
// through a Forward forms a cycle of references and lives as long as that cycle stands.
//
// Positions are byte offsets into the UTF-8 text; callers pass 0 <= pos <= text.size().
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "absl/container/inlined_vector.h"

namespace quillex {

using Pos = std::uint64_t;

// Impossible states, memory exhaustion among them where ordinary input cannot cause it: write `what` to stderr
// and abort. Never returns.
[[noreturn]] void fatal(const char* what);

// ---------------------------------------------------------------------------------------------------------------
// Intrusive shared handle. `T` provides incref() and decref(). A handle owns exactly one reference when non-empty.

template <class T>
class Ref {
 public:
  Ref() noexcept = default;
  Ref(std::nullptr_t) noexcept {}
  // Takes over a reference the caller already owns (for example the creation reference of `new`).
  static Ref adopt(T* p) noexcept { return Ref(p); }
  // Adds a reference to an object someone else keeps alive.
  static Ref share(T* p) noexcept {
    if (p) p->incref();
    return Ref(p);
  }
  Ref(const Ref& o) noexcept : p_(o.p_) {
    if (p_) p_->incref();
  }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
  Ref(Ref<U>&& o) noexcept : p_(o.release()) {}
  template <class U>
  Ref(const Ref<U>& o) noexcept : p_(o.get()) {
    if (p_) p_->incref();
  }
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ref() {
    if (p_) p_->decref();
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Hands the reference to the caller; the handle becomes empty.
  [[nodiscard]] T* release() noexcept { return std::exchange(p_, nullptr); }

 private:
  explicit Ref(T* p) noexcept : p_(p) {}
  T* p_ = nullptr;
};

// ---------------------------------------------------------------------------------------------------------------
// SharedStr: an immutable byte string with an atomic reference count, the storage of tokens and messages.
// One allocation holds the header and the bytes; the bytes are followed by a NUL for C callers.

class SharedStr {
 public:
  // New string with one reference (held by the returned handle). Throws std::bad_alloc when its memory cannot
  // be had: tokens are made as the text asks, so that is ordinary input (the method frame reports MemoryError).
  static Ref<const SharedStr> make(std::string_view bytes);

  std::string_view view() const noexcept { return {data(), size_}; }
  const char* data() const noexcept { return reinterpret_cast<const char*>(this + 1); }
  std::size_t size() const noexcept { return size_; }

  void incref() const noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
  void decref() const noexcept;
  // Test hook: current count (racy by nature, exact under the interpreter lock).
  std::size_t use_count() const noexcept { return refs_.load(std::memory_order_relaxed); }

 private:
  explicit SharedStr(std::size_t n) noexcept : size_(n) {}
  ~SharedStr() = default;
  mutable std::atomic<std::size_t> refs_{1};
  std::size_t size_;
};

using StrRef = Ref<const SharedStr>;

// ---------------------------------------------------------------------------------------------------------------
// UTF-8. Texts come from Python str objects, so they are valid UTF-8: a byte is inside a character exactly when
// it is a continuation byte (10xxxxxx). A non-empty match must start and end on a boundary.

inline bool is_continuation_byte(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }
// True when `pos` is 0, the length, or the first byte of a character.
inline bool is_char_boundary(std::string_view text, Pos pos) noexcept {
  return pos >= text.size() || !is_continuation_byte(static_cast<unsigned char>(text[pos]));
}
// Byte length of the character whose lead byte is `lead` (1 for ASCII and, defensively, for a stray byte).
inline unsigned utf8_char_len(unsigned char lead) noexcept {
  return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}
// The code point at `i` of valid UTF-8 (the text of a str) and its byte length.
inline char32_t decode_utf8_at(std::string_view s, std::size_t i, unsigned& len) noexcept {
  const auto b = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(s[i + k])); };
  len = utf8_char_len(static_cast<unsigned char>(s[i]));
  switch (len) {
    case 1: return b(0);
    case 2: return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
    case 3: return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    default: return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
  }
}

// ---------------------------------------------------------------------------------------------------------------
// Match values. A failed match is a value, never an exception.

// The tokens of one match, in text order. Two inline slots: terminals and short sequences never touch the heap.
using TokenList = absl::InlinedVector<StrRef, 2>;

// Appends `tail`'s tokens to `head` by moving them (no reference traffic).
void append_tokens(TokenList& head, TokenList&& tail);

struct ParseError {
  StrRef message;
  Pos position = 0;
};

// Result of `try_match_at`: `end` is meaningful only when `matched`.
struct MatchResult {
  bool matched = false;
  Pos end = 0;
};

// Result of `parse`: success (end, tokens) or failure (error). The unused half is empty.
struct [[nodiscard]] ParseOutcome {
  bool ok = false;
  Pos end = 0;
  TokenList tokens;
  ParseError error;

  static ParseOutcome success(Pos end, TokenList tokens = {}) {
    ParseOutcome o;
    o.ok = true;
    o.end = end;
    o.tokens = std::move(tokens);
    return o;
  }
  static ParseOutcome failure(StrRef message, Pos position) {
    ParseOutcome o;
    o.error.message = std::move(message);
    o.error.position = position;
    return o;
  }
  static ParseOutcome failure(ParseError error) { return failure(std::move(error.message), error.position); }
};

// Result of `parse_at_start`: `parse` at 0 without the end position.
struct [[nodiscard]] StartOutcome {
  bool ok = false;
  TokenList tokens;
  ParseError error;

  static StartOutcome from(ParseOutcome&& o) {
    StartOutcome s;
    s.ok = o.ok;
    s.tokens = std::move(o.tokens);
    s.error = std::move(o.error);
    return s;
  }
};

// TokenBuffer: the tokens of a parse for the engine's own parse path (`parse_into`), kept as views in one buffer
// per method call, and the failure of the parse_into that failed last. A token view points into the text or into
// an element's own storage (a literal's prebuilt token, a static "\n"), and a failure's message view into an
// element's stored message or a static text; so they stay valid while the grammar is neither changed nor freed,
// and the caller must make its strs from them before any Python code can run (a collection's finalisers could
// rebind a Forward and free the elements they point into). Making the message only when the error is raised,
// and cutting the buffer back instead of releasing token lists, is what the path saves over `parse`.
class TokenBuffer {
 public:
  std::size_t size() const noexcept { return tokens_.size(); }
  std::string_view operator[](std::size_t i) const noexcept { return tokens_[i]; }
  void push(std::string_view token) { tokens_.push_back(token); }
  // Drops the tokens from index n on.
  void truncate(std::size_t n) noexcept { tokens_.resize(n); }

  // Records a failure and gives the failed match result.
  MatchResult fail(std::string_view message, Pos position) noexcept {
    error_message_ = message;
    error_position_ = position;
    return {false, 0};
  }
  std::string_view error_message() const noexcept { return error_message_; }
  Pos error_position() const noexcept { return error_position_; }

 private:
  absl::InlinedVector<std::string_view, 32> tokens_;
  std::string_view error_message_;
  Pos error_position_ = 0;
};

// The text of the failure that a guard-refused match reports (see DepthGuard).
inline constexpr std::string_view RECURSION_MESSAGE = "maximum grammar recursion depth exceeded";

// ---------------------------------------------------------------------------------------------------------------
// Element: the interface of every grammar node. Each kind is a small final class; `kind()` lets the module
// flatten sequences and pick specialised method bodies without RTTI.

enum class Kind : std::uint8_t {
  Literal,
  Keyword,
  CaselessLiteral,
  CaselessKeyword,
  Char,
  Word,
  QuotedString,
  Regex,
  LineStart,
  LineEnd,
  StringStart,
  StringEnd,
  RestOfLine,
  And,
  MatchFirst,
  Optional,
  ZeroOrMore,
  OneOrMore,
  Exactly,
  Group,
  Suppress,
  Combine,
  SkipTo,
  Forward,
  Empty,
  NoMatch,
};

class Element {
 public:
  Element(const Element&) = delete;
  Element& operator=(const Element&) = delete;

  Kind kind() const noexcept { return kind_; }

  // Matches at `pos` and builds the tokens of the match.
  [[nodiscard]] virtual ParseOutcome parse(std::string_view text, Pos pos) const = 0;
  // Whether the element matches at `pos` and where the match ends. Builds no tokens, allocates nothing.
  [[nodiscard]] virtual MatchResult try_match_at(std::string_view text, Pos pos) const = 0;
  // `parse` at 0 without the end. Combinators never call it.
  [[nodiscard]] virtual StartOutcome parse_at_start(std::string_view text) const;
  // The engine's parse path: `parse` with the tokens appended to `out` as views and a failure recorded in it
  // instead of returned. Gives what `parse` gives: success with the same end and tokens (in order, with the same
  // texts), or failure, with the same message text and position in `out`. On failure `out` holds exactly the
  // tokens it held before the call. Combinators call their children's parse_into.
  [[nodiscard]] virtual MatchResult parse_into(std::string_view text, Pos pos, TokenBuffer& out) const = 0;

  void incref() const noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
  // Releases one reference; the last one destroys the element. Destruction never recurses and never allocates:
  // children released by a dying element are queued, linked through their own dead counts, and destroyed by the
  // outermost release, so a chain of a million nested elements is torn down in constant stack and a grammar
  // of any size is freed even when no memory is left.
  void decref() const noexcept;
  std::size_t use_count() const noexcept { return refs_.load(std::memory_order_relaxed); }

 protected:
  explicit Element(Kind kind) noexcept : kind_(kind) {}
  virtual ~Element() = default;

 private:
  friend void destroy_element(const Element*) noexcept;
  // Once the count has reached zero nothing reads it again; the teardown queue keeps its link there.
  static_assert(sizeof(std::size_t) == sizeof(std::uintptr_t));
  const Element* dying_next() const noexcept {
    return reinterpret_cast<const Element*>(refs_.load(std::memory_order_relaxed));
  }
  void set_dying_next(const Element* next) const noexcept {
    refs_.store(reinterpret_cast<std::uintptr_t>(next), std::memory_order_relaxed);
  }
  mutable std::atomic<std::size_t> refs_{1};
  Kind kind_;
};

using ElementRef = Ref<const Element>;

// Creates an element of kind T with one reference, owned by the returned handle.
void note_element_created() noexcept;
template <class T, class... Args>
Ref<const T> make_element(Args&&... args) {
  auto* e = new T(std::forward<Args>(args)...);
  note_element_created();
  return Ref<const T>::adopt(e);
}

// Test hook: number of elements alive in this process (constructed and not yet destroyed).
std::size_t live_element_count() noexcept;

// ---------------------------------------------------------------------------------------------------------------
// Recursion guard. Matching nests once per combinator or Forward level; a left-recursive rule, a Forward set to
// itself or a deeply nested text would otherwise overflow the C stack. Every element that matches a child
// enters a DepthGuard first. Past the bound (a nesting count, or too little stack left on this thread) the guard
// fails, the match reports failure, and the thread's `overflowed` flag stays set: from then on every guard
// fails at once, so the whole match unwinds quickly. The method frame turns the flag into RecursionError.

struct RecursionState {
  std::uint64_t depth = 0;
  std::uintptr_t stack_floor = 0;  // lowest frame address we allow; 0 = not yet measured
  bool overflowed = false;
};

// initial-exec: the module is loaded once, and a guard must not pay for a TLS lookup call. Constant-initialised
// and trivially destructible, as all the module's thread-local state: a thread's first call needs no storage,
// no initialisation and no destructor registration for it, none of which could report a failure.
constinit inline thread_local RecursionState g_recursion_state __attribute__((tls_model("initial-exec")));
inline RecursionState& recursion_state() noexcept { return g_recursion_state; }
bool guard_enter_slow(RecursionState& s) noexcept;

inline constexpr std::uint64_t MAX_MATCH_DEPTH = 200000;

class [[nodiscard]] DepthGuard {
 public:
  DepthGuard() noexcept : state_(recursion_state()) {
    RecursionState& s = state_;
    ok_ = !s.overflowed && s.depth < MAX_MATCH_DEPTH && s.stack_floor != 0 &&
          reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) > s.stack_floor;
    if (ok_) {
      ++s.depth;
    } else {
      ok_ = guard_enter_slow(s);
    }
  }
  ~DepthGuard() {
    if (ok_) --state_.depth;
  }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

  bool ok() const noexcept { return ok_; }

 private:
  RecursionState& state_;
  bool ok_;
};

// Whether the calling frame lies above the lowest frame a guard allows on this thread (the thread's stack is
// measured first, as by the first guard). Recursive work that enters no guard (a reading of a grammar) stops
// where this fails, instead of running off the end of a small stack; it sets no flag.
bool frame_above_stack_floor() noexcept;

// True once a guard has failed on this thread since the last `take_recursion_overflow`.
inline bool recursion_overflowed() noexcept { return recursion_state().overflowed; }
// Reads and clears the flag; the method frame calls it after every body.
bool take_recursion_overflow() noexcept;

// The failure a guard-refused match reports. Its text is never shown: the frame raises RecursionError instead.
ParseOutcome recursion_failure(Pos pos);

}  // namespace quillex
