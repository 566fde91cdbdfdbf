// Match sessions: the span over which an element may remember what it learnt about a text.
//
// A method call matches one text (or, for a batch, the strs of one list) while holding the interpreter lock and
// running no Python code, so for the length of its body every text it matches stays alive and unchanged and no
// Forward is re-set. The method frame opens a MatchSession around the body to say so. While one is open, an
// element may keep a memo in its own fields, keyed by the text's address and length and stamped with the
// session's stamp; it must not read a memo with another stamp. Stamps are unique in the process, and opening
// and closing each take a new one, so nothing outlives its session, not even across a call nested inside it (a
// finaliser that runs Python code, which may re-set a Forward or free a str whose memory the next text reuses):
// after the nested session closes, the outer one has a new stamp and starts afresh. Nor does a memo pass between
// threads. Element code runs no Python code, so under the interpreter lock no two threads are inside one
// element's matching at once; sessions are opened only under that lock. Outside every session (the C++ tests,
// any caller that promises nothing) the stamp is 0 and elements keep nothing.
#pragma once

#include <cstdint>

namespace quillex {

struct MatchSessionState {
  std::uint64_t epoch = 0;  // the stamp of the innermost open session; never 0
  std::uint64_t next = 0;   // this thread's stamps: [next, limit) of a block taken from the process's count
  std::uint64_t limit = 0;
  std::uint32_t open = 0;  // sessions open on this thread
};

// Constant-initialised, trivially destructible and initial-exec like the recursion state: the frame touches it
// twice per call, and a thread's first call needs no storage for it.
constinit inline thread_local MatchSessionState g_match_session __attribute__((tls_model("initial-exec")));

// Refills s's block of stamps from the process-wide count: one atomic addition per block, none per session.
void take_match_session_stamps(MatchSessionState& s) noexcept;

inline std::uint64_t new_match_session_stamp() noexcept {
  MatchSessionState& s = g_match_session;
  if (s.next == s.limit) [[unlikely]]
    take_match_session_stamps(s);
  return s.next++;
}

class [[nodiscard]] MatchSession {
 public:
  MatchSession() noexcept {
    ++g_match_session.open;
    g_match_session.epoch = new_match_session_stamp();
  }
  ~MatchSession() {
    --g_match_session.open;
    g_match_session.epoch = new_match_session_stamp();
  }
  MatchSession(const MatchSession&) = delete;
  MatchSession& operator=(const MatchSession&) = delete;
};

// The stamp of the innermost open session, or 0 when none is open (then nothing may be remembered).
inline std::uint64_t match_session_epoch() noexcept {
  return g_match_session.open != 0 ? g_match_session.epoch : 0;
}

}  // namespace quillex
