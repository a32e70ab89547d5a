// Interim until the NumPy access lands: every use fails.
#include "numpy_access/array_api.hpp"

#include "boundary/panic.hpp"

namespace walkmesh::numpy {

PyTypeObject* array_type() { panic("NumPy access is not available yet", here()); }
PyObject* descr_from_type(int) { panic("NumPy access is not available yet", here()); }
int descr_converter2(PyObject*, PyObject**) { panic("NumPy access is not available yet", here()); }
bool equiv_types(PyObject*, PyObject*) { panic("NumPy access is not available yet", here()); }
std::uint32_t feature_version() { panic("NumPy access is not available yet", here()); }

}  // namespace walkmesh::numpy
