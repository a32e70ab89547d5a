// The mesh object, the single shortest-path query and the point queries (see mesh.hpp).
#include "tools/mesh.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/shortest_path.hpp"
#include "python/arguments.hpp"
#include "python/array_api.hpp"
#include "tools/buffer_view.hpp"
#include "tools/failures.hpp"
#include "tools/intake.hpp"
#include "tools/results.hpp"

namespace walkmesh::tools {
namespace {

constexpr const char* kCapsuleName = "walkmesh_tools._native.Mesh";

// What a capsule holds: both are built from the same arrays, once.
struct NativeMesh {
    MeshIndex index;
    PolygonLocator locator;
};

void release_mesh(PyObject* capsule) {
    delete static_cast<NativeMesh*>(PyCapsule_GetPointer(capsule, kCapsuleName));
}

const NativeMesh& native_mesh(const char* name, PyObject* object) {
    if (!PyCapsule_IsValid(object, kCapsuleName)) {
        throw_error(PyExc_TypeError,
                    std::string("argument '") + name + "': not a mesh made by walkmesh_tools._native.mesh");
    }
    return *static_cast<const NativeMesh*>(PyCapsule_GetPointer(object, kCapsuleName));
}

// The rows of a float64 (N, 2) array, each read with memcpy.
std::vector<PlanePoint> point_rows_argument(const char* name, PyObject* object) {
    const BufferView view(name, object, 'd', 8, 2);
    std::vector<PlanePoint> points(static_cast<std::size_t>(view.length()));
    if (!points.empty()) {
        std::memcpy(points.data(), view.data(), points.size() * sizeof(PlanePoint));
    }
    return points;
}

double real_argument(const char* name, PyObject* object) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) {
        convert_argument(name, [] { throw_fetched(); });
    }
    return value;
}

// The buffer's items in place; the arrays come from NavMesh, which keeps them aligned.
template <class T>
std::span<const T> items(const char* name, const BufferView& view, std::size_t count) {
    if (reinterpret_cast<std::uintptr_t>(view.data()) % alignof(T) != 0) {
        throw_error(PyExc_TypeError, std::string("argument '") + name + "': the array is not aligned");
    }
    return {static_cast<const T*>(view.data()), count};
}

// The calling thread's finder, kept between calls.
ShortestPathFinder& thread_finder() {
    thread_local ShortestPathFinder finder;
    return finder;
}

constexpr std::array<const char*, 4> kMeshParameters = {"vertices", "polygon_offsets", "polygon_corners",
                                                       "neighbours"};
constexpr Signature kMeshSignature{"mesh()", kMeshParameters};

constexpr std::array<const char*, 5> kShortestPathParameters = {"mesh", "start_polygon", "start", "target_polygon",
                                                               "target"};
constexpr Signature kShortestPathSignature{"shortest_path()", kShortestPathParameters};

}  // namespace

OwnedRef mesh(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 4> slots{};
    bind_fastcall(kMeshSignature, arguments, positional_count, keyword_names, slots);
    const BufferView vertices("vertices", slots[0], 'd', 8, 2);
    const BufferView offsets("polygon_offsets", slots[1], 'i', 8, 1);
    const BufferView corners("polygon_corners", slots[2], 'i', 8, 1);
    const BufferView neighbours("neighbours", slots[3], 'i', 8, 1);
    const MeshView view{items<double>("vertices", vertices, 2 * static_cast<std::size_t>(vertices.length())),
                        items<std::int64_t>("polygon_offsets", offsets, static_cast<std::size_t>(offsets.length())),
                        items<std::int64_t>("polygon_corners", corners, static_cast<std::size_t>(corners.length())),
                        items<std::int64_t>("neighbours", neighbours, static_cast<std::size_t>(neighbours.length()))};
    std::unique_ptr<NativeMesh> held;
    try {
        held.reset(new NativeMesh{MeshIndex(view), PolygonLocator(PolygonsView{view.vertices, view.polygon_offsets,
                                                                               view.polygon_corners})});
    } catch (const std::invalid_argument& fault) {
        // MeshFault and the locator's refusals alike.
        throw_error(PyExc_ValueError, fault.what());
    }
    OwnedRef capsule = require(PyCapsule_New(held.get(), kCapsuleName, release_mesh));
    held.release();
    return capsule;
}

const MeshIndex& mesh_argument(const char* name, PyObject* object) { return native_mesh(name, object).index; }

const PolygonLocator& locator_argument(const char* name, PyObject* object) {
    return native_mesh(name, object).locator;
}

OwnedRef shortest_path(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 5> slots{};
    bind_fastcall(kShortestPathSignature, arguments, positional_count, keyword_names, slots);
    const MeshIndex& index = mesh_argument("mesh", slots[0]);
    const std::int64_t last = index.polygon_count() - 1;
    const std::int64_t start_polygon = bounded_index_argument("start_polygon", slots[1], 0, last);
    const XY start = xy_argument("start", slots[2]);
    const std::int64_t target_polygon = bounded_index_argument("target_polygon", slots[3], 0, last);
    const XY target = xy_argument("target", slots[4]);

    ShortestPathFinder& finder = thread_finder();
    try {
        finder.find(index, start_polygon, start, target_polygon, target);
    } catch (const PointFault& fault) {
        throw_point_fault(fault.what());
    }
    const std::span<const XY> path = finder.path();
    OwnedRef points = new_array({static_cast<Py_ssize_t>(path.size()), 2}, numpy::kFloat64TypeNumber);
    if (!path.empty()) {
        std::memcpy(array_data(points.get()), path.data(), path.size_bytes());
    }
    const SearchCounts& counts = finder.counts();
    return require(Py_BuildValue("(NdKKK)", points.release(), finder.length(),
                                 static_cast<unsigned long long>(counts.generated),
                                 static_cast<unsigned long long>(counts.pushed),
                                 static_cast<unsigned long long>(counts.popped)));
}

namespace {

constexpr std::array<const char*, 2> kLocateParameters = {"mesh", "points"};
constexpr Signature kLocateSignature{"locate()", kLocateParameters};
constexpr std::array<const char*, 3> kNearestParameters = {"mesh", "points", "max_distance"};
constexpr Signature kNearestSignature{"nearest()", kNearestParameters};
constexpr std::array<const char*, 2> kPlaceParameters = {"mesh", "point"};
constexpr Signature kPlaceSignature{"place()", kPlaceParameters};
constexpr std::array<const char*, 2> kOverlapParameters = {"mesh", "tolerance"};
constexpr Signature kOverlapSignature{"first_overlap()", kOverlapParameters};
constexpr std::array<const char*, 1> kBytesParameters = {"mesh"};
constexpr Signature kBytesSignature{"locator_bytes()", kBytesParameters};

}  // namespace

OwnedRef locate(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 2> slots{};
    bind_fastcall(kLocateSignature, arguments, positional_count, keyword_names, slots);
    const PolygonLocator& locator = locator_argument("mesh", slots[0]);
    const std::vector<PlanePoint> points = point_rows_argument("points", slots[1]);
    OwnedRef result = new_array({static_cast<Py_ssize_t>(points.size())}, numpy::kInt64TypeNumber);
    char* out = static_cast<char*>(array_data(result.get()));
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::int64_t polygon = locator.locate(points[i]);
        std::memcpy(out + i * sizeof(polygon), &polygon, sizeof(polygon));
    }
    return result;
}

OwnedRef nearest(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 3> slots{};
    bind_fastcall(kNearestSignature, arguments, positional_count, keyword_names, slots);
    const PolygonLocator& locator = locator_argument("mesh", slots[0]);
    const std::vector<PlanePoint> points = point_rows_argument("points", slots[1]);
    const double max_distance = real_argument("max_distance", slots[2]);
    const auto count = static_cast<Py_ssize_t>(points.size());
    OwnedRef where = new_array({count, 2}, numpy::kFloat64TypeNumber);
    OwnedRef polygons = new_array({count}, numpy::kInt64TypeNumber);
    OwnedRef distances = new_array({count}, numpy::kFloat64TypeNumber);
    char* where_out = static_cast<char*>(array_data(where.get()));
    char* polygon_out = static_cast<char*>(array_data(polygons.get()));
    char* distance_out = static_cast<char*>(array_data(distances.get()));
    for (std::size_t i = 0; i < points.size(); ++i) {
        const NearestPoint found = locator.nearest(points[i], max_distance);
        std::memcpy(where_out + i * sizeof(found.point), &found.point, sizeof(found.point));
        std::memcpy(polygon_out + i * sizeof(found.polygon), &found.polygon, sizeof(found.polygon));
        std::memcpy(distance_out + i * sizeof(found.distance), &found.distance, sizeof(found.distance));
    }
    return require(PyTuple_Pack(3, where.get(), polygons.get(), distances.get()));
}

OwnedRef place(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 2> slots{};
    bind_fastcall(kPlaceSignature, arguments, positional_count, keyword_names, slots);
    const PolygonLocator& locator = locator_argument("mesh", slots[0]);
    PyObject* point = slots[1];
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
    return require(PyLong_FromLongLong(locator.locate({xy[0], xy[1]})));
}

OwnedRef first_overlap(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 2> slots{};
    bind_fastcall(kOverlapSignature, arguments, positional_count, keyword_names, slots);
    const PolygonLocator& locator = locator_argument("mesh", slots[0]);
    const auto pair = locator.first_overlap(real_argument("tolerance", slots[1]));
    if (!pair) {
        return OwnedRef::new_ref(Py_None);
    }
    return require(Py_BuildValue("(LL)", static_cast<long long>(pair->first), static_cast<long long>(pair->second)));
}

OwnedRef locator_bytes(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 1> slots{};
    bind_fastcall(kBytesSignature, arguments, positional_count, keyword_names, slots);
    return require(PyLong_FromSize_t(locator_argument("mesh", slots[0]).bytes()));
}

}  // namespace walkmesh::tools
