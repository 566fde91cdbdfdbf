#include "elements/match_session.h"

#include <atomic>

namespace quillex {

namespace {

constexpr std::uint64_t STAMP_BLOCK = std::uint64_t{1} << 20;
// The first stamp not yet handed to a thread; 0 is never handed out. 2^64 stamps outlast any process.
std::atomic<std::uint64_t> g_next_stamp_block{STAMP_BLOCK};

}  // namespace

void take_match_session_stamps(MatchSessionState& s) noexcept {
  s.next = g_next_stamp_block.fetch_add(STAMP_BLOCK, std::memory_order_relaxed);
  s.limit = s.next + STAMP_BLOCK;
}

}  // namespace quillex
