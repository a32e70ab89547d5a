// The record dtypes are built anew on each use from [(name, descriptor), ...], which
// NumPy turns into consecutive fields without alignment.
#include "python/record_dtype.hpp"

#include <cstring>

#include "python/error_state.hpp"
#include "python/array_api.hpp"

namespace walkmesh {
namespace {

OwnedRef scalar_descriptor(int type_number) {
    return expect_object(numpy::descr_from_type(type_number));
}

OwnedRef field_entry(const DtypeField& field) {
    OwnedRef name = expect_object(PyUnicode_FromStringAndSize(field.name, static_cast<Py_ssize_t>(std::strlen(field.name))));
    OwnedRef descriptor = field.descriptor();
    OwnedRef entry = expect_object(PyTuple_New(2));
    PyTuple_SET_ITEM(entry.get(), 0, name.release());
    PyTuple_SET_ITEM(entry.get(), 1, descriptor.release());
    return entry;
}

}  // namespace

OwnedRef build_record_dtype(std::span<const DtypeField> fields) {
    OwnedRef list = expect_object(PyList_New(static_cast<Py_ssize_t>(fields.size())));
    for (std::size_t i = 0; i < fields.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), field_entry(fields[i]).release());
    }
    PyObject* dtype = nullptr;
    if (numpy::descr_converter2(list.get(), &dtype) != 1 || dtype == nullptr) {
        panic_unwrap_err(ErrorState::fetch().render(), here());
    }
    return OwnedRef::steal(dtype);
}

OwnedRef float32_descriptor() { return scalar_descriptor(numpy::kFloat32TypeNumber); }

OwnedRef unsigned32_descriptor() { return scalar_descriptor(numpy::kUnsigned32TypeNumber); }

}  // namespace walkmesh
