// The substring searcher of the Literal fast paths: the leftmost occurrence of a fixed needle in a window of a
// text. Built once per method call for one needle; holds a view of it, allocates nothing.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace quillex::fastpaths {

inline constexpr std::size_t NOT_FOUND = static_cast<std::size_t>(-1);

class SubstringFinder {
 public:
  // `needle` must outlive the finder and be non-empty.
  explicit SubstringFinder(std::string_view needle) noexcept : needle_(needle) {}

  std::string_view needle() const noexcept { return needle_; }

  // The first h with from <= h and h + n <= to at which the needle stands in `text`, or NOT_FOUND.
  // Requires from <= to <= text.size(). The C library's memmem: linear in the window whatever the needle
  // (two-way matching), with a byte-pair shift table for short needles.
  [[nodiscard]] std::size_t find(std::string_view text, std::size_t from, std::size_t to) const noexcept {
    if (to - from < needle_.size()) return NOT_FOUND;
    const void* hit = ::memmem(text.data() + from, to - from, needle_.data(), needle_.size());
    return hit == nullptr ? NOT_FOUND : static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
  }

 private:
  std::string_view needle_;
};

}  // namespace quillex::fastpaths
