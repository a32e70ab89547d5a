// The open queue of the A* search: a binary min-heap of {f, node} entries in a
// growable array. No Python here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "boundary/memory.hpp"

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

// Entries leave only from the front. The children of position i are 2i+1 and 2i+2.
class OpenQueue {
public:
    bool empty() const noexcept { return heap_.empty(); }
    std::size_t size() const noexcept { return heap_.size(); }
    std::size_t capacity() const noexcept { return heap_.capacity(); }

    // `where` names the caller in the "capacity overflow" failure of a growth.
    void insert(OpenEntry entry, SourceLocation where) {
        heap_.push_back(entry, where);
        sift_up(heap_.size() - 1, entry);
    }

    // The queue must not be empty.
    OpenEntry take_first() noexcept {
        const OpenEntry first = heap_[0];
        const OpenEntry last = heap_.back();
        heap_.pop_back();
        if (!heap_.empty()) {
            sift_down(last);
        }
        return first;
    }

private:
    // Moves the hole at `hole` up past every parent that `entry` goes before.
    void sift_up(std::size_t hole, OpenEntry entry) noexcept {
        OpenEntry* const heap = heap_.data();
        const std::uint64_t key = priority_key(entry);
        while (hole > 0) {
            const std::size_t parent = (hole - 1) / 2;
            if (key >= priority_key(heap[parent])) {
                break;
            }
            heap[hole] = heap[parent];
            hole = parent;
        }
        heap[hole] = entry;
    }

    // Moves the hole at the root down to a leaf along the better children, then
    // fills it with `entry` moved up from there: the last entry usually belongs
    // near the bottom, so this saves a comparison on every level.
    void sift_down(OpenEntry entry) noexcept {
        OpenEntry* const heap = heap_.data();
        const std::size_t size = heap_.size();
        std::size_t hole = 0;
        std::size_t child = 1;
        while (child + 1 < size) {
            child += goes_before(heap[child + 1], heap[child]) ? 1 : 0;
            heap[hole] = heap[child];
            hole = child;
            child = 2 * hole + 1;
        }
        if (child < size) {
            heap[hole] = heap[child];
            hole = child;
        }
        sift_up(hole, entry);
    }

    GrowableArray<OpenEntry> heap_;
};

}  // namespace walkmesh
