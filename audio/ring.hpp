// SPDX-License-Identifier: GPL-3.0-or-later
// A fixed-size single-producer/single-consumer ring of trivially copyable items. One thread
// writes, one other thread reads; neither ever waits, locks or allocates. The storage is
// allocated once by the constructor.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>
#include <type_traits>

namespace tarvik::audio {

template <typename T> class SpscRing {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    // capacity is rounded up to a power of two (at least 2).
    explicit SpscRing(size_t capacity) {
        size_t c = 2;
        while (c < capacity)
            c *= 2;
        capacity_ = c;
        items_ = std::make_unique<T[]>(c);
    }

    size_t capacity() const { return capacity_; }

    // Producer side: copies as many items as fit; returns how many.
    size_t write(const T* items, size_t count) {
        const size_t head = head_.load(std::memory_order_relaxed);
        const size_t tail = tail_.load(std::memory_order_acquire);
        const size_t n = std::min(count, capacity_ - (head - tail));
        copy_in(head, items, n);
        head_.store(head + n, std::memory_order_release);
        return n;
    }

    // Consumer side: copies up to count items out; returns how many.
    size_t read(T* items, size_t count) {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        const size_t head = head_.load(std::memory_order_acquire);
        const size_t n = std::min(count, head - tail);
        copy_out(tail, items, n);
        tail_.store(tail + n, std::memory_order_release);
        return n;
    }

    // Items waiting to be read (exact for the consumer, a lower bound for the producer).
    size_t size() const {
        return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_acquire);
    }

  private:
    void copy_in(size_t pos, const T* items, size_t n) {
        const size_t at = pos & (capacity_ - 1);
        const size_t first = std::min(n, capacity_ - at);
        std::memcpy(&items_[at], items, first * sizeof(T));
        std::memcpy(&items_[0], items + first, (n - first) * sizeof(T));
    }
    void copy_out(size_t pos, T* items, size_t n) const {
        const size_t at = pos & (capacity_ - 1);
        const size_t first = std::min(n, capacity_ - at);
        std::memcpy(items, &items_[at], first * sizeof(T));
        std::memcpy(items + first, &items_[0], (n - first) * sizeof(T));
    }

    size_t capacity_ = 0;
    std::unique_ptr<T[]> items_;
    // Free-running counters; their difference is the fill level. Kept on separate cache
    // lines so that the two threads do not slow each other down.
    alignas(64) std::atomic<size_t> head_{0};
    alignas(64) std::atomic<size_t> tail_{0};
};

} // namespace tarvik::audio
