// The module: its definition and one-time initialisation, and the find_path entry.
#include <array>

#include "boundary/arguments.hpp"
#include "boundary/call_boundary.hpp"
#include "boundary/once_cell.hpp"
#include "geometry_py.hpp"
#include "graph_py.hpp"

namespace walkmesh {
namespace {

constexpr int kInterfaceVersion = 1013;
constexpr const char* kAlreadyInitialized =
    "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per interpreter process";

constexpr std::array<const char*, 5> kFindPathParameters = {"nodes", "edges", "start", "target",
                                                           "target_point"};
constexpr Signature kFindPathSignature{"find_path()", kFindPathParameters};

OwnedRef find_path(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 5> slots{};
    bind_fastcall(kFindPathSignature, arguments, positional_count, keyword_names, slots);
    throw_error(PyExc_NotImplementedError, "find_path is not available yet");
}

PyObject* find_path_entry(PyObject*, PyObject* const* arguments, Py_ssize_t positional_count,
                          PyObject* keyword_names) {
    return call_boundary([&] { return find_path(arguments, positional_count, keyword_names); });
}

PyMethodDef find_path_definition = {
    "find_path",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(find_path_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    "find_path(nodes, edges, start, target, target_point)\n--\n\n",
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "walkmesh",
    "",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

OnceCell<PyObject*> module_cell;

// Lists `name` in the module's `__all__` and sets the attribute.
void add_member(PyObject* module, PyObject* name, PyObject* value) {
    OwnedRef all = OwnedRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        ErrorState error = ErrorState::fetch();
        if (!PyErr_GivenExceptionMatches(error.type(), PyExc_AttributeError)) {
            throw_error(std::move(error));
        }
        all = require(PyList_New(0));
        require_status(PyObject_SetAttrString(module, "__all__", all.get()));
    } else if (!PyList_Check(all.get())) {
        throw_error(ErrorState::cast_failure(all.get(), reinterpret_cast<PyObject*>(&PyList_Type)));
    }
    if (PyList_Append(all.get(), name) == -1) {
        panic("could not append __name__ to __all__: " + ErrorState::fetch().render(), here());
    }
    require_status(PyObject_SetAttr(module, name, value));
}

void register_class(PyObject* module, const char* name, PyTypeObject* type) {
    OwnedRef name_object = expect_object(PyUnicode_FromString(name));
    add_member(module, name_object.get(), reinterpret_cast<PyObject*>(type));
}

void register_find_path(PyObject* module) {
    OwnedRef module_name = require(PyModule_GetNameObject(module));
    OwnedRef function = require(PyCFunction_NewEx(&find_path_definition, module, module_name.get()));
    OwnedRef name = require(PyObject_GetAttrString(function.get(), "__name__"));
    if (!PyUnicode_Check(name.get())) {
        throw_error(ErrorState::cast_failure(name.get(), reinterpret_cast<PyObject*>(&PyUnicode_Type)));
    }
    add_member(module, name.get(), function.get());
}

PyObject* create_module() {
    OwnedRef module = require(PyModule_Create2(&module_definition, kInterfaceVersion));
    register_class(module.get(), "Point", point_type_or_error());
    register_class(module.get(), "Node", node_type_or_error());
    register_class(module.get(), "Edge", edge_type_or_error());
    register_find_path(module.get());
    return module.release();
}

OwnedRef initialize_module() {
    // Checked before the guard: only a call that overlaps a running initialisation waits.
    if (module_cell.get() != nullptr) {
        throw_error(PyExc_ImportError, kAlreadyInitialized);
    }
    return OwnedRef::new_ref(module_cell.get_or_fill(create_module));
}

}  // namespace
}  // namespace walkmesh

PyMODINIT_FUNC PyInit_walkmesh() {
    return walkmesh::call_boundary([] { return walkmesh::initialize_module(); });
}
