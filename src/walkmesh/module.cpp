// The module: its definition and one-time initialisation, and the find_path entry.
#include <array>
#include <cstddef>
#include <optional>

#include "core/graph.hpp"
#include "python/arguments.hpp"
#include "python/array_api.hpp"
#include "python/borrow_registry.hpp"
#include "python/call_boundary.hpp"
#include "python/graph_classes.hpp"
#include "python/held_array.hpp"
#include "python/once_cell.hpp"
#include "python/point_class.hpp"
#include "walkmesh/search.hpp"

namespace walkmesh {
namespace {

constexpr int kInterfaceVersion = 1013;
constexpr const char* kAlreadyInitialized =
    "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per interpreter process";

constexpr std::array<const char*, 5> kFindPathParameters = {"nodes", "edges", "start", "target",
                                                           "target_point"};
constexpr Signature kFindPathSignature{"find_path()", kFindPathParameters};

constexpr const char* kChangedArray = "array changed in place while find_path held it";

// Where a record array that cannot be read as a table is reported.
constexpr SourceLocation kNodesTableSite{"src/lib", 21, 40};
constexpr SourceLocation kEdgesTableSite{"src/lib", 22, 40};

// A record array held for the call. A borrow refused because the array is
// exclusively borrowed elsewhere is an internal failure.
numpy::HeldArray hold_array(PyObject* array) {
    std::optional<numpy::HeldArray> held = numpy::HeldArray::acquire(array, numpy::acquire_read_borrow);
    if (!held) {
        panic_unwrap_err("AlreadyBorrowed", here());
    }
    return std::move(*held);
}

// The records in place; an array that cannot be read as a table fails at `where`.
numpy::RecordTable record_table(const numpy::HeldArray& held, SourceLocation where) {
    numpy::RecordTable records{};
    switch (held.table(records)) {
    case numpy::HeldArray::TableStatus::readable:
        break;
    case numpy::HeldArray::TableStatus::changed:
        panic(kChangedArray, where);
    case numpy::HeldArray::TableStatus::not_contiguous:
        panic_unwrap_err("NotContiguousError", where);
    }
    return records;
}

// A one-dimensional ndarray (or subclass) whose dtype is equivalent to the record
// dtype, built anew for each call; anything else is the one cast failure to 'ndarray'.
void check_record_array(PyObject* object, OwnedRef (*build_dtype)()) {
    if (numpy::record_array_problem(object, build_dtype) != numpy::RecordArrayProblem::none) {
        throw_error(ErrorState::cast_failure(object, reinterpret_cast<PyObject*>(numpy::array_type())));
    }
}

numpy::HeldArray convert_record_array(const char* name, PyObject* object, OwnedRef (*build_dtype)()) {
    convert_argument(name, [&] { check_record_array(object, build_dtype); });
    return hold_array(object);
}

// A new list of new Points; a Point that cannot be allocated releases the list built so far.
OwnedRef point_list(const PointList& points) {
    OwnedRef list = expect_object(PyList_New(static_cast<Py_ssize_t>(points.size())));
    for (std::size_t i = 0; i < points.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), make_point(points[i]).release());
    }
    return list;
}

OwnedRef find_path(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 5> slots{};
    bind_fastcall(kFindPathSignature, arguments, positional_count, keyword_names, slots);
    // Declared in acquisition order, so unwinding releases edges before nodes.
    numpy::HeldArray nodes = convert_record_array("nodes", slots[0], build_node_dtype);
    numpy::HeldArray edges = convert_record_array("edges", slots[1], build_edge_dtype);
    const std::uint32_t start = convert_argument("start", [&] { return to_u32(slots[2]); });
    const std::uint32_t target = convert_argument("target", [&] { return to_u32(slots[3]); });
    const PointValue target_point = convert_argument("target_point", [&] { return to_point_value(slots[4]); });

    const numpy::RecordTable node_table = record_table(nodes, kNodesTableSite);
    const numpy::RecordTable edge_table = record_table(edges, kEdgesTableSite);
    std::optional<PointList> route =
        search_path(Graph(node_table.data, node_table.count, edge_table.data, edge_table.count), start, target);

    PointList points = route ? std::move(*route) : PointList();
    points.push_back(target_point, Site::result_points);
    edges.release();
    nodes.release();
    return point_list(points);
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

WALKMESH_MODULE_INIT PyInit_walkmesh() {
    return walkmesh::call_boundary([] { return walkmesh::initialize_module(); });
}
