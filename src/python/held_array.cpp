// Holding a record array for one call (see held_array.hpp).
#include "python/held_array.hpp"

#include "python/borrow_registry.hpp"

namespace walkmesh::numpy {

RecordArrayProblem record_array_problem(PyObject* object, OwnedRef (*dtype)()) {
    if (!is_array(object)) {
        return RecordArrayProblem::not_an_array;
    }
    const ArrayObject& fields = array_fields(object);
    if (fields.nd != 1) {
        return RecordArrayProblem::not_one_dimensional;
    }
    const OwnedRef expected = dtype();
    if (fields.descr != expected.get() && !equiv_types(fields.descr, expected.get())) {
        return RecordArrayProblem::other_dtype;
    }
    return RecordArrayProblem::none;
}

std::optional<HeldArray> HeldArray::acquire(PyObject* array, bool (*borrow)(PyObject*)) {
    OwnedRef reference = OwnedRef::new_ref(array);
    OwnedRef descr = OwnedRef::new_ref(array_fields(array).descr);
    const ArrayLayout layout = array_layout(array);
    if (!borrow(array)) {
        return std::nullopt;
    }
    return HeldArray(std::move(reference), std::move(descr), layout);
}

void HeldArray::release() noexcept {
    if (array_) {
        release_read_borrow(array_.get(), taken_);
        array_.reset();
        descr_.reset();
    }
}

HeldArray::TableStatus HeldArray::table(RecordTable& records) const noexcept {
    if (array_layout(array_.get()) != taken_) {
        return TableStatus::changed;
    }
    const ArrayObject& fields = array_fields(array_.get());
    if ((fields.flags & (kCContiguousFlag | kFContiguousFlag)) == 0 || fields.data == nullptr) {
        return TableStatus::not_contiguous;
    }
    records = {reinterpret_cast<const std::byte*>(fields.data), static_cast<std::size_t>(taken_.length)};
    return TableStatus::readable;
}

}  // namespace walkmesh::numpy
