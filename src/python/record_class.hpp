// What the three record classes share: the instance layout (header, inline payload,
// borrow flag), the borrow flag itself, heap-type creation, allocation, deallocation,
// and the getter and setter bodies for each field kind.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "python/arguments.hpp"
#include "python/call_boundary.hpp"
#include "core/geometry.hpp"

namespace walkmesh {

// 0: free; 1 to all-ones minus one: that many readers; all-ones: one writer.
class BorrowFlag {
public:
    bool try_acquire_shared() noexcept {
        std::uintptr_t seen = flag_.load(std::memory_order_relaxed);
        while (seen != kExclusive) {
            if (flag_.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire, std::memory_order_relaxed)) {
                return true;
            }
        }
        return false;
    }
    void release_shared() noexcept { flag_.fetch_sub(1, std::memory_order_release); }
    bool try_acquire_exclusive() noexcept {
        std::uintptr_t expected = 0;
        return flag_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire,
                                             std::memory_order_relaxed);
    }
    void release_exclusive() noexcept { flag_.store(0, std::memory_order_release); }

private:
    static constexpr std::uintptr_t kExclusive = ~std::uintptr_t{0};
    std::atomic<std::uintptr_t> flag_{0};
};

// A shared borrow for one read; "Already mutably borrowed" while a write is in progress.
class SharedBorrow {
public:
    explicit SharedBorrow(BorrowFlag& flag);
    ~SharedBorrow() { flag_.release_shared(); }
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;

private:
    BorrowFlag& flag_;
};

// An exclusive borrow for one write; "Already borrowed" while any borrow is in progress.
class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(BorrowFlag& flag);
    ~ExclusiveBorrow() { flag_.release_exclusive(); }
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;

private:
    BorrowFlag& flag_;
};

template <class Payload>
struct RecordObject {
    PyObject header;
    Payload payload;
    BorrowFlag borrow;
};

template <class Payload>
RecordObject<Payload>* as_record(PyObject* object) noexcept {
    return reinterpret_cast<RecordObject<Payload>*>(object);
}

// A heap type "builtins.<name>" with default flags only: not subclassable, no dict,
// no weak references, not tracked by the collector.
struct RecordTypeSpec {
    const char* qualified_name;  // "builtins.Point"
    const char* doc;             // text signature, e.g. "Point(x, y)\n--\n\n"
    int basic_size;
    newfunc constructor;
    PyGetSetDef* attributes;
};
// A new type object, or the creation error thrown.
PyTypeObject* create_record_type(const RecordTypeSpec& spec);

// Allocates through the type's allocation slot; the interpreter's error is thrown.
PyObject* allocate_record(PyTypeObject* type);

void deallocate_record(PyObject* self) noexcept;

template <class Payload>
OwnedRef new_record(PyTypeObject* type, const Payload& payload) {
    OwnedRef object = OwnedRef::steal(allocate_record(type));
    RecordObject<Payload>* record = as_record<Payload>(object.get());
    record->payload = payload;
    new (&record->borrow) BorrowFlag();
    return object;
}

// A class's type object that registration needs, or that other code needs: for the
// latter a creation failure goes to the unraisable-exception hook and then is the
// internal failure "failed to create type object for `{name}`".
PyTypeObject* type_or_internal_failure(PyTypeObject* (*type_or_error)(), const char* name);

// Field access: one get-set descriptor per field. The closure carries the attribute
// name, which a conversion's TypeError names.
[[noreturn]] void refuse_deletion();
OwnedRef float_object(float value);
OwnedRef u32_object(std::uint32_t value);

// A read holds a shared borrow while the result is built (a point-valued read
// allocates its new Point under it).
template <class Payload, class T, T Payload::*Field, OwnedRef (*ToPython)(T)>
PyObject* get_field(PyObject* self, void*) {
    return call_boundary([&] {
        RecordObject<Payload>* record = as_record<Payload>(self);
        SharedBorrow borrow(record->borrow);
        return ToPython(record->payload.*Field);
    });
}

// The value is converted before the exclusive borrow is taken, so a bad value is
// reported even on a borrowed instance and a failed write changes nothing.
template <class Payload, class T, T Payload::*Field, T (*FromPython)(PyObject*)>
int set_field(PyObject* self, PyObject* value, void* name) {
    return call_boundary_status([&] {
        if (value == nullptr) {
            refuse_deletion();
        }
        const T converted = convert_argument(static_cast<const char*>(name), [&] { return FromPython(value); });
        RecordObject<Payload>* record = as_record<Payload>(self);
        ExclusiveBorrow borrow(record->borrow);
        record->payload.*Field = converted;
    });
}

template <class Payload, class T, T Payload::*Field, OwnedRef (*ToPython)(T), T (*FromPython)(PyObject*)>
constexpr PyGetSetDef field_attribute(const char* name) {
    return {name, get_field<Payload, T, Field, ToPython>, set_field<Payload, T, Field, FromPython>, nullptr,
            const_cast<char*>(name)};
}

template <class Payload, float Payload::*Field>
constexpr PyGetSetDef f32_attribute(const char* name) {
    return field_attribute<Payload, float, Field, float_object, to_f32>(name);
}

template <class Payload, std::uint32_t Payload::*Field>
constexpr PyGetSetDef u32_attribute(const char* name) {
    return field_attribute<Payload, std::uint32_t, Field, u32_object, to_u32>(name);
}

}  // namespace walkmesh
