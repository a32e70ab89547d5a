// The process-wide array-borrow registry that extension modules share through the
// capsule "_RUST_NUMPY_BORROW_CHECKING_API" on NumPy's multiarray module: found there,
// or installed by this module when no other module installed it first.
#pragma once

#include <cstdint>

#include "python/python.hpp"
#include "python/array_api.hpp"

namespace walkmesh::numpy {

// The capsule's record, in the native layout every module of the process reads.
struct BorrowApi {
    std::uint64_t version;
    void* state;
    int (*acquire_shared)(void* state, PyObject* array);
    int (*acquire_exclusive)(void* state, PyObject* array);
    void (*release_shared)(void* state, PyObject* array);
    void (*release_exclusive)(void* state, PyObject* array);
};

// The registry record, found or installed at first use; a failure is thrown as its
// PythonError. For callers whose errors are Python exceptions. Needs the GIL.
const BorrowApi& registry_or_error();

// Registers a read-only borrow of `array`: true when granted, false when an
// exclusive borrow held elsewhere refuses it. Needs the GIL.
bool acquire_read_borrow(PyObject* array);

// Ends a read-only borrow taken by acquire_read_borrow when the array had the
// one-dimensional layout `taken`. If code run since has changed the array in place,
// a registry of this module's own is released under the key the borrow was taken
// with; another module's registry gets the array as it is now. Needs the GIL.
void release_read_borrow(PyObject* array, const ArrayLayout& taken) noexcept;

}  // namespace walkmesh::numpy
