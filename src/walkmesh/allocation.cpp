// The module's global operator new and delete. A failed allocation of the module's own
// ends the process with the allocation-failure message instead of throwing
// std::bad_alloc; the nothrow forms still answer null. The shared object binds these
// locally, so the interpreter and other modules keep their own.
#include <cstddef>
#include <cstdlib>
#include <new>

#include "python/panic.hpp"

namespace {

void* allocate(std::size_t bytes) noexcept {
    // malloc(0) may answer null; operator new must answer a unique pointer.
    return std::malloc(bytes != 0 ? bytes : 1);
}

void* allocate_aligned(std::size_t bytes, std::align_val_t alignment) noexcept {
    auto align = static_cast<std::size_t>(alignment);
    if (align < sizeof(void*)) {
        align = sizeof(void*);
    }
    void* memory = nullptr;
    return posix_memalign(&memory, align, bytes != 0 ? bytes : 1) == 0 ? memory : nullptr;
}

void* allocate_or_abort(std::size_t bytes) noexcept {
    void* memory = allocate(bytes);
    if (memory == nullptr) {
        walkmesh::allocation_failed(bytes);
    }
    return memory;
}

void* allocate_aligned_or_abort(std::size_t bytes, std::align_val_t alignment) noexcept {
    void* memory = allocate_aligned(bytes, alignment);
    if (memory == nullptr) {
        walkmesh::allocation_failed(bytes);
    }
    return memory;
}

}  // namespace

void* operator new(std::size_t bytes) { return allocate_or_abort(bytes); }
void* operator new[](std::size_t bytes) { return allocate_or_abort(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return allocate(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return allocate(bytes); }

void* operator new(std::size_t bytes, std::align_val_t alignment) {
    return allocate_aligned_or_abort(bytes, alignment);
}
void* operator new[](std::size_t bytes, std::align_val_t alignment) {
    return allocate_aligned_or_abort(bytes, alignment);
}
void* operator new(std::size_t bytes, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate_aligned(bytes, alignment);
}
void* operator new[](std::size_t bytes, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate_aligned(bytes, alignment);
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

void operator delete(void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept { std::free(memory); }
