// Allocation for the module's own tables and lists (see memory.hpp).
#include "boundary/memory.hpp"

#include <cstdlib>

namespace walkmesh {

std::size_t checked_byte_size(std::size_t count, std::size_t entry_size, std::size_t alignment,
                              SourceLocation where) {
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(count, entry_size, &bytes) ||
        bytes > max_allocation_bytes(alignment)) {
        panic_capacity_overflow(where);
    }
    return bytes;
}

void* allocate_bytes(std::size_t bytes) noexcept {
    void* storage = std::malloc(bytes);
    if (storage == nullptr) {
        allocation_failed(bytes);
    }
    return storage;
}

void* allocate_zeroed_bytes(std::size_t bytes) noexcept {
    void* storage = std::calloc(1, bytes);
    if (storage == nullptr) {
        allocation_failed(bytes);
    }
    return storage;
}

void* reallocate_bytes(void* storage, std::size_t bytes) noexcept {
    void* moved = std::realloc(storage, bytes);
    if (moved == nullptr) {
        allocation_failed(bytes);
    }
    return moved;
}

void release_bytes(void* storage) noexcept { std::free(storage); }

}  // namespace walkmesh
