// Allocation for the core's tables and lists (see memory.hpp).
#include "core/memory.hpp"

#include <cstdlib>

namespace walkmesh {

bool fits_one_allocation(std::size_t count, std::size_t entry_size, std::size_t alignment,
                         std::size_t& bytes) noexcept {
    return !__builtin_mul_overflow(count, entry_size, &bytes) && bytes <= max_allocation_bytes(alignment);
}

std::size_t checked_byte_size(std::size_t count, std::size_t entry_size, std::size_t alignment,
                              Site where) {
    std::size_t bytes = 0;
    if (!fits_one_allocation(count, entry_size, alignment, bytes)) {
        storage_too_large(where);
    }
    return bytes;
}

void* allocate_bytes(std::size_t bytes) {
    void* storage = std::malloc(bytes);
    if (storage == nullptr) {
        storage_unavailable(bytes);
    }
    return storage;
}

void* allocate_zeroed_bytes(std::size_t bytes) {
    void* storage = std::calloc(1, bytes);
    if (storage == nullptr) {
        storage_unavailable(bytes);
    }
    return storage;
}

void* reallocate_bytes(void* storage, std::size_t bytes) {
    void* moved = std::realloc(storage, bytes);
    if (moved == nullptr) {
        storage_unavailable(bytes);
    }
    return moved;
}

void release_bytes(void* storage) noexcept { std::free(storage); }

void storage_too_large(Site where) {
    Fault fault{Fault::Kind::too_large};
    fault.site = where;
    raise_fault(fault);
}

void storage_unavailable(std::size_t bytes) {
    Fault fault{Fault::Kind::out_of_memory};
    fault.table_size = bytes;
    raise_fault(fault);
}

}  // namespace walkmesh
