// A counting allocator for the replay harness: it replaces malloc, calloc, realloc
// and free in the harness process and, while a count is open, records what each
// search allocates. Outside a count every call goes straight to the C library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace walkmesh::bench {

struct AllocationCount {
    // Blocks taken with malloc or calloc (the per-node tables) and their bytes.
    std::uint64_t fixed_blocks = 0;
    std::uint64_t fixed_bytes = 0;
    // Growths by realloc (the open queue and the point list) and the bytes asked for.
    std::uint64_t growths = 0;
    std::uint64_t growth_bytes = 0;
    // The largest block any growth asked for: the queue's final capacity in bytes.
    std::uint64_t largest_growth = 0;
    // Most bytes held at once by blocks allocated during the count.
    std::uint64_t peak_live_bytes = 0;
};

// Counts the allocations of everything that runs between the two calls. Counts do
// not nest; the harness is single-threaded.
void open_allocation_count();
AllocationCount close_allocation_count();

}  // namespace walkmesh::bench
