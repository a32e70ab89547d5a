// NumPy's native API, reached at run time through the `_ARRAY_API` capsule of its
// multiarray module; NumPy is never linked and its headers are not used.
#pragma once

#include <cstdint>

#include "boundary/refs.hpp"

namespace walkmesh::numpy {

// NumPy type numbers of the record fields.
constexpr int kFloat32TypeNumber = 11;  // NPY_FLOAT
// The unsigned 32-bit integer: NPY_ULONG (8) where unsigned long is 32 bits wide,
// NPY_UINT (6) otherwise.
constexpr int kUnsigned32TypeNumber = sizeof(unsigned long) == 4 ? 8 : 6;

// Each of these loads the table at first use; a failure to load it is the internal
// failure "Failed to access NumPy array API capsule: {error}".
PyTypeObject* array_type();                                         // slot 2
PyObject* descr_from_type(int type_number);                         // slot 45: new reference or null
int descr_converter2(PyObject* object, PyObject** descriptor);      // slot 175: 1 on success
bool equiv_types(PyObject* first, PyObject* second);                // slot 182
std::uint32_t feature_version();                                    // slot 211, called once

}  // namespace walkmesh::numpy
