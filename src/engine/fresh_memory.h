// Large blocks of fresh memory that a call fills at once (a transform's result str, the spans of a dense
// search). Touching fresh memory costs one page fault per 4 KiB page, which can cost more than the work that
// fills the block: about 10 us a page on some virtual machines, where filling 40 MB took 200 ms, and 15 ms in
// huge pages. So the whole 2 MiB pages inside such a block are offered to the system as huge pages before they
// are touched (Linux honours it when transparent huge pages are enabled "always" or "madvise"); the contents are
// the same either way.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace quillex::engine {

inline constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;

// Offers the whole 2 MiB pages inside [data, data + bytes) as huge pages.
inline void advise_huge_pages(void* data, std::size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
  if (bytes < HUGE_PAGE) return;
  const auto from = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t begin = (from + HUGE_PAGE - 1) & ~std::uintptr_t{HUGE_PAGE - 1};
  const std::uintptr_t end = (from + bytes) & ~std::uintptr_t{HUGE_PAGE - 1};
  if (end > begin) (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace quillex::engine
