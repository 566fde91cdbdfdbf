// Counts heap allocations made through operator new / malloc-backed new on this thread, for tests that prove a
// path allocates nothing. The counting operator new lives in alloc_counter.cpp (linked into element_tests).
#pragma once

#include <cstddef>

namespace quillex::testing {

std::size_t allocations_on_this_thread() noexcept;

// Allocations made during the scope's life.
class AllocationScope {
 public:
  AllocationScope() noexcept : start_(allocations_on_this_thread()) {}
  std::size_t count() const noexcept { return allocations_on_this_thread() - start_; }

 private:
  std::size_t start_;
};

}  // namespace quillex::testing
