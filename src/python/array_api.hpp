// NumPy's native API, reached at run time through the `_ARRAY_API` capsule of its
// multiarray module; NumPy is never linked and its headers are not used.
#pragma once

#include <cstdint>

#include "python/refs.hpp"

namespace walkmesh::numpy {

// NumPy type numbers of the record fields.
constexpr int kFloat32TypeNumber = 11;  // NPY_FLOAT
constexpr int kFloat64TypeNumber = 12;  // NPY_DOUBLE
// The unsigned 32-bit integer: NPY_ULONG (8) where unsigned long is 32 bits wide,
// NPY_UINT (6) otherwise.
constexpr int kUnsigned32TypeNumber = sizeof(unsigned long) == 4 ? 8 : 6;
// Type numbers of the companion's results.
constexpr int kBoolTypeNumber = 0;  // NPY_BOOL
// The signed 64-bit integer: NPY_LONG (7) where long is 64 bits wide, NPY_LONGLONG (9) otherwise.
constexpr int kInt64TypeNumber = sizeof(long) == 8 ? 7 : 9;

// Array flags read by this module.
constexpr int kCContiguousFlag = 0x1;  // NPY_ARRAY_C_CONTIGUOUS
constexpr int kFContiguousFlag = 0x2;  // NPY_ARRAY_F_CONTIGUOUS

// The leading fields of NumPy's public array object layout; the same in NumPy 1 and 2.
struct ArrayObject {
    PyObject head;
    char* data;
    int nd;
    Py_ssize_t* dimensions;
    Py_ssize_t* strides;
    PyObject* base;
    PyObject* descr;
    int flags;
};

inline const ArrayObject& array_fields(PyObject* array) noexcept {
    return *reinterpret_cast<const ArrayObject*>(array);
}

// What a record table and a borrow key of an array depend on. Python code can change
// an array in place (its dtype, shape or strides) while find_path holds it, so the
// layout seen when the array was checked is kept and compared later.
struct ArrayLayout {
    const char* data;
    int nd;
    Py_ssize_t length;  // of the first dimension; 0 without dimensions
    Py_ssize_t stride;  // likewise
    const PyObject* descr;

    bool operator==(const ArrayLayout&) const = default;
};

inline ArrayLayout array_layout(PyObject* array) noexcept {
    const ArrayObject& fields = array_fields(array);
    const bool has_axis = fields.nd > 0;
    return {fields.data, fields.nd, has_axis ? fields.dimensions[0] : 0, has_axis ? fields.strides[0] : 0,
            fields.descr};
}

// Each of these loads the table at first use; a failure to load it is the internal
// failure "Failed to access NumPy array API capsule: {error}".
PyTypeObject* array_type();                                         // slot 2
PyObject* descr_from_type(int type_number);                         // slot 45: new reference or null
int descr_converter2(PyObject* object, PyObject** descriptor);      // slot 175: 1 on success
bool equiv_types(PyObject* first, PyObject* second);                // slot 182
std::uint32_t feature_version();                                    // slot 211, called once
// slot 93: a new C-contiguous array of `nd` dimensions and a scalar type, its data
// uninitialised; a new reference, or null with the interpreter's error set.
PyObject* new_array(int nd, const Py_ssize_t* dimensions, int type_number);

// Loads the table now; a failure is thrown as its PythonError, so that the calls
// above cannot fail afterwards. For callers whose errors are Python exceptions.
void load_or_error();

// NumPy's core package, "numpy._core" for NumPy 2 and later, else "numpy.core", and
// its multiarray module. Looked up once; a failure is thrown as its PythonError.
const char* core_module_name();
const char* multiarray_module_name();

// The pointer of a capsule named `name` (null for an unnamed one). An object that is
// not exactly a capsule is the cast failure to 'PyCapsule'. Throws PythonError.
void* capsule_pointer(PyObject* object, const char* name);

// `object` is an ndarray or an instance of a subclass.
bool is_array(PyObject* object);

// The item size of a dtype descriptor, read in the layout of the loaded NumPy.
Py_ssize_t element_size(PyObject* descriptor);

}  // namespace walkmesh::numpy
