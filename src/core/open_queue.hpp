// The open queue of the A* search: a binary min-heap of {f, node} entries in a
// growable array.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/memory.hpp"

namespace walkmesh {

struct OpenEntry {
    std::uint32_t f;
    std::uint32_t node;
};

// Smaller f first; on equal f the higher node first. One 64-bit key orders both.
inline std::uint64_t priority_key(OpenEntry entry) noexcept {
    return (std::uint64_t{entry.f} << 32) | std::uint32_t{~entry.node};
}

inline bool goes_before(OpenEntry a, OpenEntry b) noexcept {
    return priority_key(a) < priority_key(b);
}

// The entry a priority key stands for.
inline OpenEntry entry_of(std::uint64_t key) noexcept {
    return {static_cast<std::uint32_t>(key >> 32), ~static_cast<std::uint32_t>(key)};
}

// Entries leave only from the front. The children of position i are 2i+1 and 2i+2.
// The heap holds each entry as its priority key, so that one comparison orders two.
class OpenQueue {
public:
    bool empty() const noexcept { return heap_.empty(); }
    std::size_t size() const noexcept { return heap_.size(); }
    std::size_t capacity() const noexcept { return heap_.capacity(); }
    // Empties the queue and keeps its storage for the next search.
    void clear() noexcept { heap_.clear(); }

    // `where` names what the queue is for, should it outgrow one allocation.
    void insert(OpenEntry entry, Site where) {
        const std::uint64_t key = priority_key(entry);
        heap_.push_back(key, where);
        sift_up(heap_.size() - 1, key);
    }

    // The entry that leaves next; the queue must not be empty.
    OpenEntry first() const noexcept { return entry_of(heap_[0]); }

    // Takes out the first entry and inserts `entry` in one pass down from the root:
    // no growth, and no climb back up for an entry that belongs near the front. The
    // queue must not be empty.
    void replace_first(OpenEntry entry) noexcept {
        std::uint64_t* const heap = heap_.data();
        const std::uint64_t key = priority_key(entry);
        const std::size_t size = heap_.size();
        std::size_t hole = 0;
        // Levels with two children first, so that each asks one bound question.
        std::size_t child = 1;
        while (child + 1 < size) {
            child += heap[child + 1] < heap[child] ? 1 : 0;
            if (key < heap[child]) {
                heap[hole] = key;
                return;
            }
            heap[hole] = heap[child];
            hole = child;
            child = 2 * hole + 1;
        }
        if (child < size && heap[child] < key) {
            heap[hole] = heap[child];
            hole = child;
        }
        heap[hole] = key;
    }

    // Takes out the first entry; the queue must not be empty.
    void remove_first() noexcept { static_cast<void>(take_first()); }

    // The queue must not be empty.
    OpenEntry take_first() noexcept {
        const OpenEntry first = entry_of(heap_[0]);
        const std::uint64_t last = heap_.back();
        heap_.pop_back();
        if (!heap_.empty()) {
            sift_down(last);
        }
        return first;
    }

private:
    // Moves the hole at `hole` up past every parent that `key` goes before.
    void sift_up(std::size_t hole, std::uint64_t key) noexcept {
        std::uint64_t* const heap = heap_.data();
        while (hole > 0) {
            const std::size_t parent = (hole - 1) / 2;
            if (key >= heap[parent]) {
                break;
            }
            heap[hole] = heap[parent];
            hole = parent;
        }
        heap[hole] = key;
    }

    // Moves the hole at the root down to a leaf along the better children, then
    // fills it with `key` moved up from there: the last entry usually belongs
    // near the bottom, so this saves a comparison on every level.
    void sift_down(std::uint64_t key) noexcept {
        std::uint64_t* const heap = heap_.data();
        const std::size_t size = heap_.size();
        std::size_t hole = 0;
        std::size_t child = 1;
        while (child + 1 < size) {
            child += heap[child + 1] < heap[child] ? 1 : 0;
            heap[hole] = heap[child];
            hole = child;
            child = 2 * hole + 1;
        }
        if (child < size) {
            heap[hole] = heap[child];
            hole = child;
        }
        sift_up(hole, key);
    }

    GrowableArray<std::uint64_t> heap_;
};

// The entries one expansion queues, while the expanded entry is still the first: the
// queue is not read meanwhile, so the entry can stay in place until a new entry takes
// its place. The smallest new entry does so when the expansion ends, in one pass down
// from the root (it usually belongs near the front); the others are inserted from the
// bottom (they usually belong further back). Only an entry that goes before the
// expanded one could climb past it: that takes the expanded entry out at once.
class FrontRefill {
public:
    // `where` names what the queue is for, should it outgrow one allocation.
    FrontRefill(OpenQueue& queue, OpenEntry first, Site where) noexcept
        : queue_(queue), first_(first), where_(where) {}

    void add(OpenEntry entry) {
        if (first_taken_) {
            queue_.insert(entry, where_);
            return;
        }
        if (!holding_) {
            held_ = entry;
            holding_ = true;
            return;
        }
        const bool entry_before = goes_before(entry, held_);
        const OpenEntry smaller = entry_before ? entry : held_;
        const OpenEntry larger = entry_before ? held_ : entry;
        if (goes_before(larger, first_)) {
            queue_.replace_first(smaller);
            first_taken_ = true;
            holding_ = false;
        } else {
            held_ = smaller;
        }
        queue_.insert(larger, where_);
    }

    // Ends the expansion: the first entry leaves, replaced by the smallest one held.
    void finish() noexcept {
        if (holding_) {
            queue_.replace_first(held_);
        } else if (!first_taken_) {
            queue_.remove_first();
        }
    }

private:
    OpenQueue& queue_;
    const OpenEntry first_;
    const Site where_;
    OpenEntry held_{};
    bool holding_ = false;
    bool first_taken_ = false;
};

}  // namespace walkmesh
