// Locating NumPy's native API table through its `_ARRAY_API` capsule, the slots this
// module calls, and the descriptor layouts of NumPy 1 and NumPy 2.
#include "python/array_api.hpp"

#include <cstring>
#include <string>

#include "python/arguments.hpp"
#include "python/error_state.hpp"
#include "python/once_cell.hpp"

namespace walkmesh::numpy {
namespace {

using ApiTable = void* const*;

constexpr int kArrayTypeSlot = 2;
constexpr int kDescrFromTypeSlot = 45;
constexpr int kNewSlot = 93;
constexpr int kDescrConverter2Slot = 175;
constexpr int kEquivTypesSlot = 182;
constexpr int kFeatureVersionSlot = 211;

// Feature versions from here on use the NumPy 2 descriptor layout.
constexpr std::uint32_t kNumpy2FeatureVersion = 0x12;

// The descriptor's leading fields up to `elsize`, NumPy 1.x layout.
struct DescriptorV1 {
    PyObject head;
    PyTypeObject* typeobj;
    char kind;
    char type;
    char byteorder;
    char flags;
    int type_num;
    int elsize;
};

// The same in the NumPy 2.x layout: 64-bit flags, pointer-sized elsize.
struct DescriptorV2 {
    PyObject head;
    PyTypeObject* typeobj;
    char kind;
    char type;
    char byteorder;
    char former_flags;
    int type_num;
    std::uint64_t flags;
    Py_ssize_t elsize;
};

OnceCell<const char*> core_module_cell;
// The table and the `_ARRAY_API` capsule that keeps it valid. The capsule's reference
// is held here for the rest of the process, where leak checkers can still see it.
struct LoadedTable {
    PyObject* capsule;
    ApiTable table;
};
OnceCell<LoadedTable> table_cell;
OnceCell<std::uint32_t> feature_version_cell;

OwnedRef import_module(const char* name) { return require(PyImport_ImportModule(name)); }

OwnedRef attribute(PyObject* object, const char* name) {
    return require(PyObject_GetAttrString(object, name));
}

const char* find_core_module_name() {
    OwnedRef numpy = import_module("numpy");
    OwnedRef version = attribute(numpy.get(), "__version__");
    OwnedRef lib = import_module("numpy.lib");
    OwnedRef numpy_version = attribute(lib.get(), "NumpyVersion");
    OwnedRef parsed = require(PyObject_CallFunctionObjArgs(numpy_version.get(), version.get(), nullptr));
    OwnedRef major = attribute(parsed.get(), "major");
    return to_u8(major.get()) >= 2 ? "numpy._core" : "numpy.core";
}

LoadedTable load_table() {
    OwnedRef multiarray = import_module(multiarray_module_name());
    OwnedRef capsule = attribute(multiarray.get(), "_ARRAY_API");
    void* table = capsule_pointer(capsule.get(), nullptr);
    return {capsule.release(), static_cast<ApiTable>(table)};
}

ApiTable table() {
    if (const LoadedTable* filled = table_cell.get()) {
        return filled->table;
    }
    try {
        return table_cell.get_or_fill(load_table).table;
    } catch (PythonError& error) {
        panic("Failed to access NumPy array API capsule: " + error.state.render(), here());
    }
}

// The function in slot `index`, as the function pointer type `Function`.
template <class Function>
Function slot(int index) {
    static_assert(sizeof(Function) == sizeof(void*));
    Function function;
    std::memcpy(&function, &table()[index], sizeof function);
    return function;
}

}  // namespace

const char* core_module_name() { return core_module_cell.get_or_fill(find_core_module_name); }

const char* multiarray_module_name() {
    return std::strcmp(core_module_name(), "numpy._core") == 0 ? "numpy._core.multiarray"
                                                                : "numpy.core.multiarray";
}

void* capsule_pointer(PyObject* object, const char* name) {
    if (!PyCapsule_CheckExact(object)) {
        throw_error(ErrorState::cast_failure(object, reinterpret_cast<PyObject*>(&PyCapsule_Type)));
    }
    void* pointer = PyCapsule_GetPointer(object, name);
    if (pointer == nullptr) {
        throw_fetched();
    }
    return pointer;
}

PyTypeObject* array_type() { return static_cast<PyTypeObject*>(table()[kArrayTypeSlot]); }

PyObject* descr_from_type(int type_number) {
    return slot<PyObject* (*)(int)>(kDescrFromTypeSlot)(type_number);
}

int descr_converter2(PyObject* object, PyObject** descriptor) {
    return slot<int (*)(PyObject*, PyObject**)>(kDescrConverter2Slot)(object, descriptor);
}

bool equiv_types(PyObject* first, PyObject* second) {
    return slot<unsigned char (*)(PyObject*, PyObject*)>(kEquivTypesSlot)(first, second) != 0;
}

std::uint32_t feature_version() {
    if (const std::uint32_t* filled = feature_version_cell.get()) {
        return *filled;
    }
    return feature_version_cell.get_or_fill(
        [] { return static_cast<std::uint32_t>(slot<unsigned int (*)()>(kFeatureVersionSlot)()); });
}

PyObject* new_array(int nd, const Py_ssize_t* dimensions, int type_number) {
    using New = PyObject* (*)(PyTypeObject*, int, const Py_ssize_t*, int, const Py_ssize_t*, void*, int, int,
                              PyObject*);
    return slot<New>(kNewSlot)(array_type(), nd, dimensions, type_number, nullptr, nullptr, 0, 0, nullptr);
}

void load_or_error() {
    if (table_cell.get() == nullptr) {
        table_cell.get_or_fill(load_table);
    }
}

bool is_array(PyObject* object) { return PyObject_TypeCheck(object, array_type()); }

Py_ssize_t element_size(PyObject* descriptor) {
    if (feature_version() < kNumpy2FeatureVersion) {
        return reinterpret_cast<const DescriptorV1*>(descriptor)->elsize;
    }
    return reinterpret_cast<const DescriptorV2*>(descriptor)->elsize;
}

}  // namespace walkmesh::numpy
