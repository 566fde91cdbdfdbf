// SpanBuffer: the spans a search's scan reports, in text order, kept until the result list is made at its
// final length. The spans live in blocks that never move: appending never copies what is kept, so the memory a
// search touches is the spans' own, once. The first spans fit in the buffer itself (a search of a few matches
// allocates nothing for them); then blocks double up to 2 MiB, and those of 2 MiB are huge pages
// (fresh_memory.h), since a dense search of a large text keeps tens of megabytes of spans.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <new>

#include "absl/container/inlined_vector.h"
#include "elements/element.h"
#include "engine/fresh_memory.h"

namespace quillex::engine {

class SpanBuffer {
 public:
  struct Span {
    Pos start;
    Pos end;
  };

  SpanBuffer() noexcept = default;
  SpanBuffer(const SpanBuffer&) = delete;
  SpanBuffer& operator=(const SpanBuffer&) = delete;
  ~SpanBuffer() {
    for (const Block& b : blocks_) release(b);
  }

  // Appends a span. std::bad_alloc when a new block cannot be had.
  void push(Pos start, Pos end) {
    if (free_ == 0) grow();
    *next_++ = {start, end};
    --free_;
    ++size_;
  }

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }

  // The spans in order (a forward range, for interned_list_of_spans).
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Span;
    using difference_type = std::ptrdiff_t;
    using pointer = const Span*;
    using reference = const Span&;

    const_iterator(const SpanBuffer* b, std::size_t index) noexcept : buffer_(b), index_(index) { settle(); }
    reference operator*() const noexcept { return block_[offset_]; }
    pointer operator->() const noexcept { return &block_[offset_]; }
    const_iterator& operator++() noexcept {
      ++index_;
      if (++offset_ == count_) {
        ++block_index_;
        offset_ = 0;
        settle();
      }
      return *this;
    }
    const_iterator operator++(int) noexcept {
      const_iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const const_iterator& o) const noexcept { return index_ == o.index_; }

   private:
    // Points block_ at the block of block_index_: the inline spans first, then the allocated blocks.
    void settle() noexcept {
      if (block_index_ == 0) {
        block_ = buffer_->inline_.data();
        count_ = INLINE_SPANS;
      } else if (block_index_ <= buffer_->blocks_.size()) {
        block_ = buffer_->blocks_[block_index_ - 1].spans;
        count_ = buffer_->blocks_[block_index_ - 1].count;
      }
    }
    const SpanBuffer* buffer_;
    std::size_t index_;  // spans before this one
    std::size_t block_index_ = 0;
    std::size_t offset_ = 0;
    const Span* block_ = nullptr;
    std::size_t count_ = 0;
  };
  const_iterator begin() const noexcept { return const_iterator(this, 0); }
  const_iterator end() const noexcept { return const_iterator(this, size_); }

 private:
  static constexpr std::size_t INLINE_SPANS = 64;
  static constexpr std::size_t FIRST_BLOCK = 1024;                      // spans
  static constexpr std::size_t LAST_BLOCK = HUGE_PAGE / sizeof(Span);  // spans: 2 MiB

  struct Block {
    Span* spans;
    std::size_t count;
  };

  void grow() {
    const std::size_t count = blocks_.empty() ? FIRST_BLOCK : std::min(2 * blocks_.back().count, LAST_BLOCK);
    blocks_.reserve(blocks_.size() + 1);  // before the block: a throw here leaves nothing unowned
    Block b{nullptr, count};
    if (count == LAST_BLOCK) {
      b.spans = static_cast<Span*>(::operator new(count * sizeof(Span), std::align_val_t{HUGE_PAGE}));
      advise_huge_pages(b.spans, count * sizeof(Span));
    } else {
      b.spans = static_cast<Span*>(::operator new(count * sizeof(Span)));
    }
    blocks_.push_back(b);
    next_ = b.spans;
    free_ = count;
  }

  static void release(const Block& b) noexcept {
    if (b.count == LAST_BLOCK) {
      ::operator delete(b.spans, std::align_val_t{HUGE_PAGE});
    } else {
      ::operator delete(b.spans);
    }
  }

  std::array<Span, INLINE_SPANS> inline_;
  absl::InlinedVector<Block, 16> blocks_;
  Span* next_ = inline_.data();
  std::size_t free_ = INLINE_SPANS;
  std::size_t size_ = 0;
};

}  // namespace quillex::engine
