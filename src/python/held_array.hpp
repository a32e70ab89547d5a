// A record array checked and held for the length of one call: a strong reference,
// then a read borrow in the shared registry. Both go on every way out, the borrow
// before the reference. The callers decide what a wrong array, a refused borrow or an
// unreadable buffer is.
#pragma once

#include <cstddef>
#include <optional>

#include "python/refs.hpp"
#include "python/array_api.hpp"

namespace walkmesh::numpy {

// An array's buffer read as consecutive records.
struct RecordTable {
    const std::byte* data;
    std::size_t count;
};

// What keeps `object` from being a table of records of the dtype that `dtype` gives,
// tested in this order (the dtype is asked for only when the dimensions pass); each
// module words it in its own terms.
enum class RecordArrayProblem { none, not_an_array, not_one_dimensional, other_dtype };
RecordArrayProblem record_array_problem(PyObject* object, OwnedRef (*dtype)());

class HeldArray {
public:
    // Nothing when the registry refuses the borrow (the array is exclusively borrowed
    // elsewhere); the reference taken is dropped before this returns. `borrow` is the
    // registry's acquire: acquire_read_borrow, or a caller's wrapper of it.
    static std::optional<HeldArray> acquire(PyObject* array, bool (*borrow)(PyObject*));

    HeldArray(HeldArray&&) noexcept = default;
    HeldArray& operator=(HeldArray&&) = delete;
    ~HeldArray() { release(); }

    // Ends the borrow, then drops the reference; idempotent.
    void release() noexcept;

    enum class TableStatus { readable, changed, not_contiguous };
    // The records in place. Not readable when the array is neither C- nor
    // Fortran-contiguous or has no data, or when Python code run during the call has
    // changed it in place since it was acquired: its records would no longer be the
    // checked ones.
    TableStatus table(RecordTable& records) const noexcept;

    PyObject* array() const noexcept { return array_.get(); }

private:
    HeldArray(OwnedRef array, OwnedRef descr, ArrayLayout taken) noexcept
        : array_(std::move(array)), descr_(std::move(descr)), taken_(taken) {}

    OwnedRef array_;
    // The descriptor too, so that the layout's descriptor stays the checked one.
    OwnedRef descr_;
    ArrayLayout taken_;
};

}  // namespace walkmesh::numpy
