// Match sessions: the span over which an element may remember what it learnt about a text.
//
// A method call matches one text (or, for a batch, the strs of one list) while holding the interpreter lock and
// running no Python code, so for the length of its body every text it matches stays alive and unchanged and no
// Forward is re-set. The method frame opens a MatchSession around the body to say so. While one is open, an
// element may keep a memo keyed by the text's address and length, stamped with the session's epoch; it must not
// read a memo with another stamp. Opening and closing each start a new epoch, so nothing outlives its session,
// not even across a call nested inside it (a finaliser that runs Python code, which may re-set a Forward or free
// a str whose memory the next text reuses): after the nested session closes, the outer one sees a new epoch and
// starts afresh. Outside every session (the C++ tests, any caller that promises nothing) the epoch is 0 and
// elements keep nothing.
#pragma once

#include <cstdint>

namespace quillex {

struct MatchSessionState {
  std::uint64_t epoch = 0;  // bumped by every opening and closing; never 0 while a session is open
  std::uint32_t open = 0;   // sessions open on this thread
};

// initial-exec like the recursion state: the frame touches it twice per call.
inline thread_local MatchSessionState g_match_session __attribute__((tls_model("initial-exec")));

class [[nodiscard]] MatchSession {
 public:
  MatchSession() noexcept {
    ++g_match_session.open;
    ++g_match_session.epoch;
  }
  ~MatchSession() {
    --g_match_session.open;
    ++g_match_session.epoch;
  }
  MatchSession(const MatchSession&) = delete;
  MatchSession& operator=(const MatchSession&) = delete;
};

// The stamp of the innermost open session, or 0 when none is open (then nothing may be remembered).
inline std::uint64_t match_session_epoch() noexcept {
  return g_match_session.open != 0 ? g_match_session.epoch : 0;
}

}  // namespace quillex
