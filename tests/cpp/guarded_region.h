// Texts placed against an inaccessible page, for the tests of the in-place scans: a load past the end of a text
// (a vector load included) or before its start faults, in the optimised build as well as under the sanitizer.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>

namespace quillex::testing {

// A readable stretch of whole pages between two PROT_NONE pages.
class GuardedRegion {
 public:
  explicit GuardedRegion(std::size_t pages) : page_(static_cast<std::size_t>(sysconf(_SC_PAGESIZE))) {
    size_ = pages * page_;
    void* p = mmap(nullptr, size_ + 2 * page_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return;
    base_ = static_cast<char*>(p);
    if (mprotect(base_ + page_, size_, PROT_READ | PROT_WRITE) != 0) {
      munmap(base_, size_ + 2 * page_);
      base_ = nullptr;
    }
    const std::string poison = "ab\"\\a_b \xC3\xA9\n";  // quotes, escapes, letters and 'é'
    for (std::size_t i = 0; i < size_; ++i) poison_ += poison[i % poison.size()];
  }
  GuardedRegion(const GuardedRegion&) = delete;
  GuardedRegion& operator=(const GuardedRegion&) = delete;
  ~GuardedRegion() {
    if (base_ != nullptr) munmap(base_, size_ + 2 * page_);
  }

  bool ok() const noexcept { return base_ != nullptr; }
  std::size_t capacity() const noexcept { return size_; }

  // `text` copied to end at the last readable byte (at_end) or to begin at the first (!at_end); the other
  // readable bytes are poison. The view stays valid until the next placement.
  std::string_view place(std::string_view text, bool at_end) {
    char* data = base_ + page_;
    std::memcpy(data, poison_.data(), size_);
    char* start = at_end ? data + size_ - text.size() : data;
    if (!text.empty()) std::memcpy(start, text.data(), text.size());
    return {start, text.size()};
  }

 private:
  std::size_t page_;
  std::size_t size_ = 0;
  char* base_ = nullptr;
  std::string poison_;
};

}  // namespace quillex::testing
