// Allocation for the core's tables and lists: the capacity check, allocation that
// hands a failure to the fault hook, an owning fixed-size table and a growable array.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>
#include <utility>

#include "core/fault.hpp"

namespace walkmesh {

// The most bytes one allocation of entries with this alignment may span.
constexpr std::size_t max_allocation_bytes(std::size_t alignment) noexcept {
    return static_cast<std::size_t>(PTRDIFF_MAX) - alignment + 1;
}

// Storage that cannot be had is a fault: too_large when the size exceeds one
// allocation (`where` says what it was for), out_of_memory when the allocator refuses.
[[noreturn]] void storage_too_large(Site where);
[[noreturn]] void storage_unavailable(std::size_t bytes);

// The byte size of `count` entries, or false when the product overflows or exceeds
// max_allocation_bytes(alignment).
bool fits_one_allocation(std::size_t count, std::size_t entry_size, std::size_t alignment,
                         std::size_t& bytes) noexcept;

// Byte size of `count` entries, or storage_too_large(where) when they do not fit.
std::size_t checked_byte_size(std::size_t count, std::size_t entry_size, std::size_t alignment,
                              Site where);

// Each returns storage for `bytes` > 0 bytes, or calls storage_unavailable(bytes).
// The storage is aligned for any entry type.
void* allocate_bytes(std::size_t bytes);
void* allocate_zeroed_bytes(std::size_t bytes);
void* reallocate_bytes(void* storage, std::size_t bytes);
void release_bytes(void* storage) noexcept;

template <class T>
concept TableEntry = std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T> &&
                     alignof(T) <= alignof(std::max_align_t);

// A table of exactly `size` entries in one allocation, released with it.
template <TableEntry T>
class Table {
public:
    Table() noexcept = default;
    Table(Table&& other) noexcept
        : entries_(std::exchange(other.entries_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    Table& operator=(Table&& other) noexcept {
        Table taken(std::move(other));
        std::swap(entries_, taken.entries_);
        std::swap(size_, taken.size_);
        return *this;
    }
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;
    ~Table() { release_bytes(entries_); }

    // Every entry a copy of `value`.
    static Table filled(std::size_t size, const T& value, Site where) {
        Table table = uninitialised(size, where);
        std::fill_n(table.entries_, size, value);
        return table;
    }

    // Every byte zero, from one zero-filled allocation.
    static Table zeroed(std::size_t size, Site where) {
        const std::size_t bytes = checked_byte_size(size, sizeof(T), alignof(T), where);
        return Table(bytes == 0 ? nullptr : static_cast<T*>(allocate_zeroed_bytes(bytes)), size);
    }

    std::size_t size() const noexcept { return size_; }
    T* data() noexcept { return entries_; }
    const T* data() const noexcept { return entries_; }
    T& operator[](std::size_t index) noexcept { return entries_[index]; }
    const T& operator[](std::size_t index) const noexcept { return entries_[index]; }
    std::span<T> span() noexcept { return {entries_, size_}; }
    std::span<const T> span() const noexcept { return {entries_, size_}; }

    // Entries left as the allocation found them, for tables written before read.
    static Table uninitialised(std::size_t size, Site where) {
        const std::size_t bytes = checked_byte_size(size, sizeof(T), alignof(T), where);
        return Table(bytes == 0 ? nullptr : static_cast<T*>(allocate_bytes(bytes)), size);
    }

private:
    Table(T* entries, std::size_t size) noexcept : entries_(entries), size_(size) {}

    T* entries_ = nullptr;
    std::size_t size_ = 0;
};

// A sequence that starts without storage, takes room for 4 entries at the first
// insertion and doubles its capacity whenever it is full.
template <TableEntry T>
class GrowableArray {
public:
    static constexpr std::size_t first_capacity = 4;

    GrowableArray() noexcept = default;
    GrowableArray(GrowableArray&& other) noexcept
        : entries_(std::exchange(other.entries_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    GrowableArray& operator=(GrowableArray&& other) noexcept {
        GrowableArray taken(std::move(other));
        std::swap(entries_, taken.entries_);
        std::swap(size_, taken.size_);
        std::swap(capacity_, taken.capacity_);
        return *this;
    }
    GrowableArray(const GrowableArray&) = delete;
    GrowableArray& operator=(const GrowableArray&) = delete;
    ~GrowableArray() { release_bytes(entries_); }

    // `where` names what the entries are for, should the array outgrow one allocation.
    void push_back(const T& value, Site where) {
        if (size_ == capacity_) {
            grow(where);
        }
        entries_[size_++] = value;
    }
    void pop_back() noexcept { --size_; }
    // Keeps the storage for the next use.
    void clear() noexcept { size_ = 0; }

    std::size_t size() const noexcept { return size_; }
    std::size_t capacity() const noexcept { return capacity_; }
    bool empty() const noexcept { return size_ == 0; }
    T* data() noexcept { return entries_; }
    const T* data() const noexcept { return entries_; }
    T& operator[](std::size_t index) noexcept { return entries_[index]; }
    const T& operator[](std::size_t index) const noexcept { return entries_[index]; }
    T& back() noexcept { return entries_[size_ - 1]; }
    T* begin() noexcept { return entries_; }
    T* end() noexcept { return entries_ + size_; }
    const T* begin() const noexcept { return entries_; }
    const T* end() const noexcept { return entries_ + size_; }

    void reverse() noexcept { std::reverse(begin(), end()); }

private:
    [[gnu::noinline]] void grow(Site where) {
        if (capacity_ > SIZE_MAX / 2) {
            storage_too_large(where);
        }
        const std::size_t new_capacity = capacity_ == 0 ? first_capacity : capacity_ * 2;
        const std::size_t bytes = checked_byte_size(new_capacity, sizeof(T), alignof(T), where);
        entries_ = static_cast<T*>(reallocate_bytes(entries_, bytes));
        capacity_ = new_capacity;
    }

    T* entries_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace walkmesh
