// The counting allocator: malloc, calloc, realloc and free of the harness process,
// forwarding to the C library's own entry points (glibc exports them as __libc_*).
#include "counting_allocator.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>

extern "C" {
void* __libc_malloc(std::size_t size) noexcept;
void* __libc_calloc(std::size_t count, std::size_t size) noexcept;
void* __libc_realloc(void* block, std::size_t size) noexcept;
void __libc_free(void* block) noexcept;
}

namespace walkmesh::bench {
namespace {

// The blocks allocated during the open count and their sizes. A search holds a
// handful at once; a fixed table keeps the allocator itself free of allocation.
struct LiveBlock {
    void* block;
    std::size_t size;
};

struct Counter {
    bool open = false;
    AllocationCount count;
    std::uint64_t live_bytes = 0;
    std::array<LiveBlock, 64> live{};
    std::size_t live_used = 0;

    void add(void* block, std::size_t size) noexcept {
        if (block == nullptr || live_used == live.size()) {
            return;
        }
        live[live_used++] = {block, size};
        live_bytes += size;
        count.peak_live_bytes = std::max(count.peak_live_bytes, live_bytes);
    }

    // Forgets `block` if this count allocated it.
    void remove(void* block) noexcept {
        for (std::size_t i = 0; i < live_used; ++i) {
            if (live[i].block == block) {
                live_bytes -= live[i].size;
                live[i] = live[--live_used];
                return;
            }
        }
    }
};

Counter counter;

}  // namespace

void open_allocation_count() {
    counter.count = AllocationCount{};
    counter.live_bytes = 0;
    counter.live_used = 0;
    counter.open = true;
}

AllocationCount close_allocation_count() {
    counter.open = false;
    return counter.count;
}

}  // namespace walkmesh::bench

using walkmesh::bench::counter;

extern "C" void* malloc(std::size_t size) noexcept {
    void* block = __libc_malloc(size);
    if (counter.open) {
        ++counter.count.fixed_blocks;
        counter.count.fixed_bytes += size;
        counter.add(block, size);
    }
    return block;
}

extern "C" void* calloc(std::size_t count, std::size_t size) noexcept {
    void* block = __libc_calloc(count, size);
    if (counter.open) {
        ++counter.count.fixed_blocks;
        counter.count.fixed_bytes += count * size;
        counter.add(block, count * size);
    }
    return block;
}

extern "C" void* realloc(void* block, std::size_t size) noexcept {
    void* moved = __libc_realloc(block, size);
    if (counter.open && moved != nullptr) {
        ++counter.count.growths;
        counter.count.growth_bytes += size;
        counter.count.largest_growth = std::max<std::uint64_t>(counter.count.largest_growth, size);
        counter.remove(block);
        counter.add(moved, size);
    }
    return moved;
}

extern "C" void free(void* block) noexcept {
    if (counter.open) {
        counter.remove(block);
    }
    __libc_free(block);
}
