// walkmesh_tools._native.Mesh (see mesh.hpp). The Python layer hands over its arrays
// already checked and C-contiguous; they are copied here (read with memcpy, as they
// may be unaligned), so the object never depends on them afterwards.
#include "tools/mesh.hpp"

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/locate.hpp"
#include "python/arguments.hpp"
#include "python/array_api.hpp"
#include "python/error_state.hpp"
#include "tools/failures.hpp"
#include "tools/results.hpp"

namespace walkmesh::tools {
namespace {

struct MeshObject {
    PyObject_HEAD
    PolygonLocator* locator;
};

PolygonLocator& locator_of(PyObject* self) { return *reinterpret_cast<MeshObject*>(self)->locator; }

// A C-contiguous array of `type_number` with `columns` columns (0: one dimension),
// copied out entry by entry.
template <class T>
std::vector<T> copied(const char* name, PyObject* object, int type_number, Py_ssize_t columns) {
    numpy::load_or_error();
    if (!numpy::is_array(object)) {
        throw_error(PyExc_TypeError, std::string(name) + " must be a numpy.ndarray");
    }
    const numpy::ArrayObject& fields = numpy::array_fields(object);
    OwnedRef expected = require(numpy::descr_from_type(type_number));
    const int nd = columns == 0 ? 1 : 2;
    if (fields.nd != nd || (nd == 2 && fields.dimensions[1] != columns) ||
        !numpy::equiv_types(fields.descr, expected.get()) || (fields.flags & numpy::kCContiguousFlag) == 0) {
        throw_error(PyExc_ValueError, std::string(name) + " must be a C-contiguous array of " +
                                          (type_number == numpy::kFloat64TypeNumber ? "float64" : "int64") +
                                          (nd == 2 ? " with 2 columns" : " of one dimension"));
    }
    const std::size_t count =
        static_cast<std::size_t>(fields.dimensions[0]) * static_cast<std::size_t>(nd == 2 ? columns : 1);
    std::vector<T> values(count);
    if (count != 0) {
        std::memcpy(values.data(), fields.data, count * sizeof(T));
    }
    return values;
}

double real_argument(const char* name, PyObject* object) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) {
        convert_argument(name, [] { throw_fetched(); });
    }
    return value;
}

PyObject* mesh_new(PyTypeObject* type, PyObject* arguments, PyObject* keywords) noexcept {
    return call_boundary([&] {
        static constexpr std::array<const char*, 3> parameters = {"vertices", "polygon_offsets", "polygon_corners"};
        static constexpr Signature signature{"Mesh()", parameters};
        std::array<PyObject*, 3> slots{};
        bind_tuple_and_dict(signature, arguments, keywords, slots);
        const std::vector<double> vertices = copied<double>("vertices", slots[0], numpy::kFloat64TypeNumber, 2);
        const std::vector<std::int64_t> offsets =
            copied<std::int64_t>("polygon_offsets", slots[1], numpy::kInt64TypeNumber, 0);
        const std::vector<std::int64_t> corners =
            copied<std::int64_t>("polygon_corners", slots[2], numpy::kInt64TypeNumber, 0);
        std::unique_ptr<PolygonLocator> locator;
        try {
            locator = std::make_unique<PolygonLocator>(PolygonsView{vertices, offsets, corners});
        } catch (const std::invalid_argument& problem) {
            throw_error(PyExc_ValueError, problem.what());
        }
        allocfunc allocate = type->tp_alloc != nullptr ? type->tp_alloc : PyType_GenericAlloc;
        OwnedRef self = require(allocate(type, 0));
        reinterpret_cast<MeshObject*>(self.get())->locator = locator.release();
        return self;
    });
}

void mesh_dealloc(PyObject* self) noexcept {
    delete reinterpret_cast<MeshObject*>(self)->locator;
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// locate(points): int64 (N,) of an (N, 2) float64 array.
OwnedRef locate(PyObject* self, PyObject* const* arguments, Py_ssize_t count, PyObject* keywords) {
    static constexpr std::array<const char*, 1> parameters = {"points"};
    static constexpr Signature signature{"Mesh.locate()", parameters};
    std::array<PyObject*, 1> slots{};
    bind_fastcall(signature, arguments, count, keywords, slots);
    const std::vector<double> points = copied<double>("points", slots[0], numpy::kFloat64TypeNumber, 2);
    const std::size_t n = points.size() / 2;
    OwnedRef result = new_array({static_cast<Py_ssize_t>(n)}, numpy::kInt64TypeNumber);
    char* out = static_cast<char*>(array_data(result.get()));
    const PolygonLocator& locator = locator_of(self);
    for (std::size_t i = 0; i < n; ++i) {
        const std::int64_t polygon = locator.locate({points[2 * i], points[2 * i + 1]});
        std::memcpy(out + i * sizeof(polygon), &polygon, sizeof(polygon));
    }
    return result;
}

// nearest(points, max_distance): (float64 (N, 2), int64 (N,), float64 (N,)).
OwnedRef nearest(PyObject* self, PyObject* const* arguments, Py_ssize_t count, PyObject* keywords) {
    static constexpr std::array<const char*, 2> parameters = {"points", "max_distance"};
    static constexpr Signature signature{"Mesh.nearest()", parameters};
    std::array<PyObject*, 2> slots{};
    bind_fastcall(signature, arguments, count, keywords, slots);
    const std::vector<double> points = copied<double>("points", slots[0], numpy::kFloat64TypeNumber, 2);
    const double max_distance = real_argument("max_distance", slots[1]);
    const std::size_t n = points.size() / 2;
    OwnedRef where = new_array({static_cast<Py_ssize_t>(n), 2}, numpy::kFloat64TypeNumber);
    OwnedRef polygons = new_array({static_cast<Py_ssize_t>(n)}, numpy::kInt64TypeNumber);
    OwnedRef distances = new_array({static_cast<Py_ssize_t>(n)}, numpy::kFloat64TypeNumber);
    char* where_out = static_cast<char*>(array_data(where.get()));
    char* polygon_out = static_cast<char*>(array_data(polygons.get()));
    char* distance_out = static_cast<char*>(array_data(distances.get()));
    const PolygonLocator& locator = locator_of(self);
    for (std::size_t i = 0; i < n; ++i) {
        const NearestPoint found = locator.nearest({points[2 * i], points[2 * i + 1]}, max_distance);
        std::memcpy(where_out + i * sizeof(found.point), &found.point, sizeof(found.point));
        std::memcpy(polygon_out + i * sizeof(found.polygon), &found.polygon, sizeof(found.polygon));
        std::memcpy(distance_out + i * sizeof(found.distance), &found.distance, sizeof(found.distance));
    }
    return OwnedRef::steal(require(PyTuple_Pack(3, where.get(), polygons.get(), distances.get())).release());
}

// place(point): the polygon of one point given as a pair of real numbers or any object
// with real `x` and `y`; -1 outside every polygon, -2 for anything not read that way
// (the Python layer then converts it and words the error).
OwnedRef place(PyObject* self, PyObject* const* arguments, Py_ssize_t count, PyObject* keywords) {
    static constexpr std::array<const char*, 1> parameters = {"point"};
    static constexpr Signature signature{"Mesh.place()", parameters};
    std::array<PyObject*, 1> slots{};
    bind_fastcall(signature, arguments, count, keywords, slots);
    PyObject* point = slots[0];
    std::array<OwnedRef, 2> items;
    if (PyTuple_Check(point) && PyTuple_GET_SIZE(point) == 2) {
        items = {OwnedRef::new_ref(PyTuple_GET_ITEM(point, 0)), OwnedRef::new_ref(PyTuple_GET_ITEM(point, 1))};
    } else if (PyList_Check(point) && PyList_GET_SIZE(point) == 2) {
        items = {OwnedRef::new_ref(PyList_GET_ITEM(point, 0)), OwnedRef::new_ref(PyList_GET_ITEM(point, 1))};
    } else {
        items = {OwnedRef::steal(PyObject_GetAttrString(point, "x")),
                 OwnedRef::steal(PyObject_GetAttrString(point, "y"))};
        if (!items[0] || !items[1]) {
            PyErr_Clear();
            return require(PyLong_FromLong(-2));
        }
    }
    double xy[2];
    for (int i = 0; i < 2; ++i) {
        // Floats and ints only: anything else (text, arrays) goes the slow way.
        if (!PyFloat_Check(items[i].get()) && !PyLong_Check(items[i].get())) {
            return require(PyLong_FromLong(-2));
        }
        xy[i] = PyFloat_AsDouble(items[i].get());
        if (xy[i] == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            return require(PyLong_FromLong(-2));
        }
    }
    if (!std::isfinite(xy[0]) || !std::isfinite(xy[1])) {
        return require(PyLong_FromLong(-2));
    }
    return require(PyLong_FromLongLong(locator_of(self).locate({xy[0], xy[1]})));
}

// first_overlap(tolerance): None, or the first pair (i, j) of overlapping polygons.
OwnedRef first_overlap(PyObject* self, PyObject* const* arguments, Py_ssize_t count, PyObject* keywords) {
    static constexpr std::array<const char*, 1> parameters = {"tolerance"};
    static constexpr Signature signature{"Mesh.first_overlap()", parameters};
    std::array<PyObject*, 1> slots{};
    bind_fastcall(signature, arguments, count, keywords, slots);
    const double tolerance = real_argument("tolerance", slots[0]);
    const auto pair = locator_of(self).first_overlap(tolerance);
    if (!pair) {
        return OwnedRef::new_ref(Py_None);
    }
    return require(Py_BuildValue("(LL)", static_cast<long long>(pair->first), static_cast<long long>(pair->second)));
}

OwnedRef locator_bytes(PyObject* self, PyObject* const*, Py_ssize_t count, PyObject* keywords) {
    static constexpr Signature signature{"Mesh.locator_bytes()", std::span<const char* const>()};
    std::array<PyObject*, 0> slots{};
    bind_fastcall(signature, nullptr, count, keywords, slots);
    return require(PyLong_FromSize_t(locator_of(self).bytes()));
}

template <OwnedRef (*Method)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)>
PyObject* method(PyObject* self, PyObject* const* arguments, Py_ssize_t count, PyObject* keywords) {
    return call_boundary([&] { return Method(self, arguments, count, keywords); });
}

PyCFunction fastcall(PyObject* (*function)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef mesh_methods[] = {
    {"locate", fastcall(method<locate>), METH_FASTCALL | METH_KEYWORDS, "locate($self, points)\n--\n\n"},
    {"nearest", fastcall(method<nearest>), METH_FASTCALL | METH_KEYWORDS, "nearest($self, points, max_distance)\n--\n\n"},
    {"place", fastcall(method<place>), METH_FASTCALL | METH_KEYWORDS, "place($self, point)\n--\n\n"},
    {"first_overlap", fastcall(method<first_overlap>), METH_FASTCALL | METH_KEYWORDS,
     "first_overlap($self, tolerance)\n--\n\n"},
    {"locator_bytes", fastcall(method<locator_bytes>), METH_FASTCALL | METH_KEYWORDS, "locator_bytes($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool add_mesh_type(PyObject* module) noexcept {
    PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>("Mesh(vertices, polygon_offsets, polygon_corners)\n--\n\n"
                                      "The native side of a NavMesh: point location and nearest points.")},
        {Py_tp_new, reinterpret_cast<void*>(mesh_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(mesh_dealloc)},
        {Py_tp_methods, mesh_methods},
        {0, nullptr},
    };
    PyType_Spec spec = {"walkmesh_tools._native.Mesh", static_cast<int>(sizeof(MeshObject)), 0, Py_TPFLAGS_DEFAULT,
                        slots};
    PyObject* type = PyType_FromSpec(&spec);
    if (type == nullptr) {
        return false;
    }
    if (PyModule_AddObject(module, "Mesh", type) == -1) {
        Py_DECREF(type);
        return false;
    }
    return true;
}

}  // namespace walkmesh::tools
