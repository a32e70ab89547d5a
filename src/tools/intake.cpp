// Argument intake of the companion's functions (see intake.hpp).
#include "tools/intake.hpp"

#include <cmath>
#include <string>

#include "python/arguments.hpp"
#include "python/once_cell.hpp"
#include "python/text.hpp"
#include "python/graph_classes.hpp"
#include "python/borrow_registry.hpp"
#include "python/record_class.hpp"
#include "tools/failures.hpp"

namespace walkmesh::tools {
namespace {

std::string type_name(PyObject* object) {
    return type_qualname(reinterpret_cast<PyObject*>(Py_TYPE(object))).value_or("?");
}

std::string repr_text(PyObject* object) { return utf8_lossy(repr_or_unprintable(object).get()); }

[[noreturn]] void argument_error(PyObject* type, const char* name, const std::string& text) {
    throw_error(type, std::string("argument '") + name + "': " + text);
}

// The record dtypes, built once and kept: the companion compares, it never changes them.
OnceCell<PyObject*> node_dtype_cell;
OnceCell<PyObject*> edge_dtype_cell;

PyObject* node_dtype() { return node_dtype_cell.get_or_fill([] { return build_node_dtype().release(); }); }
PyObject* edge_dtype() { return edge_dtype_cell.get_or_fill([] { return build_edge_dtype().release(); }); }

OwnedRef node_dtype_ref() { return OwnedRef::new_ref(node_dtype()); }
OwnedRef edge_dtype_ref() { return OwnedRef::new_ref(edge_dtype()); }

void check_record_array(const char* name, const char* records, PyObject* object, OwnedRef (*expected)()) {
    switch (numpy::record_array_problem(object, expected)) {
    case numpy::RecordArrayProblem::none:
        return;
    case numpy::RecordArrayProblem::not_an_array:
        argument_error(PyExc_TypeError, name,
                       std::string("expected a numpy.ndarray of ") + records + " records, got " + type_name(object));
    case numpy::RecordArrayProblem::not_one_dimensional:
        argument_error(PyExc_ValueError, name,
                       "expected a one-dimensional array, got " + std::to_string(numpy::array_fields(object).nd) +
                           " dimensions");
    case numpy::RecordArrayProblem::other_dtype:
        argument_error(PyExc_TypeError, name,
                       "dtype " + repr_text(numpy::array_fields(object).descr) + " is not the " + records +
                           " record dtype " + repr_text(expected().get()));
    }
}

bool acquire_borrow(PyObject* array) {
    const numpy::BorrowApi& api = numpy::registry_or_error();
    const int code = api.acquire_shared(api.state, array);
    if (code != 0 && code != -1) {
        throw_error(PyExc_RuntimeError,
                    "the array-borrow registry answered " + std::to_string(code) + " to a read borrow");
    }
    return code == 0;
}

numpy::HeldArray hold(const char* name, PyObject* array) {
    std::optional<numpy::HeldArray> held = numpy::HeldArray::acquire(array, acquire_borrow);
    if (!held) {
        argument_error(PyExc_ValueError, name, "the array is borrowed for writing by other code");
    }
    return std::move(*held);
}

numpy::HeldArray checked_and_held(const char* name, const char* records, PyObject* object,
                                  OwnedRef (*expected)()) {
    check_record_array(name, records, object, expected);
    return hold(name, object);
}

numpy::RecordTable records_of(const char* name, const numpy::HeldArray& held) {
    numpy::RecordTable records{};
    switch (held.table(records)) {
    case numpy::HeldArray::TableStatus::readable:
        break;
    case numpy::HeldArray::TableStatus::changed:
        argument_error(PyExc_ValueError, name, "the array was changed in place during the call");
    case numpy::HeldArray::TableStatus::not_contiguous:
        argument_error(PyExc_ValueError, name,
                       "the array is not contiguous; pass numpy.ascontiguousarray(" + std::string(name) + ")");
    }
    return records;
}

// walkmesh's Point class, looked up once in the walkmesh module.
OnceCell<PyTypeObject*> point_type_cell;

PyTypeObject* walkmesh_point_type() {
    return point_type_cell.get_or_fill([] {
        OwnedRef module = require(PyImport_ImportModule("walkmesh"));
        OwnedRef type = require(PyObject_GetAttrString(module.get(), "Point"));
        if (!PyType_Check(type.get())) {
            throw_error(PyExc_TypeError, "walkmesh.Point is not a class");
        }
        return reinterpret_cast<PyTypeObject*>(type.release());
    });
}

PointValue pair_of_numbers(const char* name, PyObject* object) {
    const bool text = PyUnicode_Check(object) || PyBytes_Check(object) || PyByteArray_Check(object);
    if (text || !PySequence_Check(object)) {
        argument_error(PyExc_TypeError, name, "expected a walkmesh.Point or a pair of numbers, got " + type_name(object));
    }
    const Py_ssize_t length = PySequence_Size(object);
    if (length == -1) {
        throw_fetched();
    }
    if (length != 2) {
        argument_error(PyExc_ValueError, name, "expected a pair of numbers, got " + std::to_string(length) + " items");
    }
    float coordinates[2];
    for (Py_ssize_t i = 0; i < 2; ++i) {
        OwnedRef item = require(PySequence_GetItem(object, i));
        coordinates[i] = convert_argument(name, [&] { return to_f32(item.get()); });
    }
    return {coordinates[0], coordinates[1]};
}

}  // namespace

HeldTables::HeldTables(PyObject* nodes, PyObject* edges)
    : nodes_((numpy::load_or_error(), checked_and_held("nodes", "node", nodes, node_dtype_ref))),
      edges_(checked_and_held("edges", "edge", edges, edge_dtype_ref)) {}

std::size_t HeldTables::node_count() const noexcept {
    const numpy::ArrayObject& fields = numpy::array_fields(nodes_.array());
    return static_cast<std::size_t>(fields.dimensions[0]);
}

Graph HeldTables::graph() const {
    const numpy::RecordTable nodes = records_of("nodes", nodes_);
    const numpy::RecordTable edges = records_of("edges", edges_);
    return Graph(nodes.data, nodes.count, edges.data, edges.count);
}

void HeldTables::require_unchanged() const {
    static_cast<void>(records_of("nodes", nodes_));
    static_cast<void>(records_of("edges", edges_));
}

std::uint32_t node_argument(const char* name, PyObject* object, std::size_t node_count) {
    OwnedRef index = convert_argument(name, [&] { return require(PyNumber_Index(object)); });
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (value == -1 && overflow == 0 && PyErr_Occurred()) {
        throw_fetched();
    }
    if (overflow != 0 || value < 0 || static_cast<unsigned long long>(value) >= node_count) {
        throw_node_outside(name, index.get(), node_count);
    }
    return static_cast<std::uint32_t>(value);
}

PointValue point_argument(const char* name, PyObject* object) {
    PyTypeObject* point_type = walkmesh_point_type();
    PointValue point{};
    if (PyObject_TypeCheck(object, point_type)) {
        RecordObject<PointValue>* record = as_record<PointValue>(object);
        SharedBorrow borrow(record->borrow);
        point = record->payload;
    } else {
        point = pair_of_numbers(name, object);
    }
    if (!std::isfinite(point.x) || !std::isfinite(point.y)) {
        argument_error(PyExc_ValueError, name,
                       "coordinates must be finite, got (" + std::to_string(point.x) + ", " +
                           std::to_string(point.y) + ")");
    }
    return point;
}

XY xy_argument(const char* name, PyObject* object) {
    const bool text = PyUnicode_Check(object) || PyBytes_Check(object) || PyByteArray_Check(object);
    if (text || !PySequence_Check(object)) {
        argument_error(PyExc_TypeError, name, "expected a pair of numbers, got " + type_name(object));
    }
    const Py_ssize_t length = PySequence_Size(object);
    if (length == -1) {
        throw_fetched();
    }
    if (length != 2) {
        argument_error(PyExc_ValueError, name, "expected a pair of numbers, got " + std::to_string(length) + " items");
    }
    double coordinates[2];
    for (Py_ssize_t i = 0; i < 2; ++i) {
        OwnedRef item = require(PySequence_GetItem(object, i));
        coordinates[i] = convert_argument(name, [&] {
            const double value = PyFloat_AsDouble(item.get());
            if (value == -1.0 && PyErr_Occurred()) {
                throw_fetched();
            }
            return value;
        });
    }
    return {coordinates[0], coordinates[1]};
}

std::uint64_t budget_argument(const char* name, PyObject* object) {
    if (object == Py_None) {
        return UINT64_MAX;
    }
    OwnedRef index = convert_argument(name, [&] { return require(PyNumber_Index(object)); });
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (value == -1 && overflow == 0 && PyErr_Occurred()) {
        throw_fetched();
    }
    if (overflow < 0 || (overflow == 0 && value < 0)) {
        argument_error(PyExc_ValueError, name, "must be None or at least 0, got " + repr_text(index.get()));
    }
    // Beyond what any search can expand: no limit.
    return overflow > 0 ? UINT64_MAX : static_cast<std::uint64_t>(value);
}

std::int64_t bounded_index_argument(const char* name, PyObject* object, std::int64_t low, std::int64_t high,
                                    const char* also) {
    OwnedRef index = convert_argument(name, [&] { return require(PyNumber_Index(object)); });
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (value == -1 && overflow == 0 && PyErr_Occurred()) {
        throw_fetched();
    }
    if (overflow != 0 || value < low || value > high) {
        argument_error(PyExc_ValueError, name,
                       std::string("must be ") + also + "from " + std::to_string(low) + " to " + std::to_string(high) +
                           ", got " + repr_text(index.get()));
    }
    return value;
}

bool flag_argument(const char* name, PyObject* object) {
    const int truth = PyObject_IsTrue(object);
    if (truth == -1) {
        convert_argument(name, [] { throw_fetched(); });
    }
    return truth == 1;
}

RouteOptions route_options(PyObject* max_expansions, PyObject* partial) {
    return {budget_argument("max_expansions", max_expansions), flag_argument("partial", partial)};
}

}  // namespace walkmesh::tools
