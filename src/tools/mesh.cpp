// The mesh object, the single shortest-path query and the point queries (see mesh.hpp).
#include "tools/mesh.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/graph.hpp"
#include "core/lift.hpp"
#include "core/shortest_path.hpp"
#include "core/surfaces.hpp"
#include "python/arguments.hpp"
#include "python/array_api.hpp"
#include "tools/buffer_view.hpp"
#include "tools/failures.hpp"
#include "tools/intake.hpp"
#include "tools/results.hpp"

namespace walkmesh::tools {
namespace {

constexpr const char* kCapsuleName = "walkmesh_tools._native.Mesh";

// What a capsule holds: all built from the same arrays, once. Held by pointer and
// never moved: the surfaces refer to the locator, the lifter to both.
struct NativeMesh {
    MeshIndex index;
    PolygonLocator locator;
    std::optional<Surfaces> surfaces;  // only for vertices with heights
    std::optional<PathLifter> lifter;
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
constexpr std::array<const char*, 5> kLayeredMeshParameters = {"vertices", "polygon_offsets", "polygon_corners",
                                                              "neighbours", "heights"};
constexpr Signature kLayeredMeshSignature{"layered_mesh()", kLayeredMeshParameters};

constexpr std::array<const char*, 5> kShortestPathParameters = {"mesh", "start_polygon", "start", "target_polygon",
                                                               "target"};
constexpr Signature kShortestPathSignature{"shortest_path()", kShortestPathParameters};

// The mesh object of the arrays in `slots`: vertices, offsets, corners, neighbours,
// and heights (None, or one per vertex).
OwnedRef build_mesh(std::span<PyObject* const> slots) {
    const BufferView vertices("vertices", slots[0], 'd', 8, 2);
    const BufferView offsets("polygon_offsets", slots[1], 'i', 8, 1);
    const BufferView corners("polygon_corners", slots[2], 'i', 8, 1);
    const BufferView neighbours("neighbours", slots[3], 'i', 8, 1);
    const MeshView view{items<double>("vertices", vertices, 2 * static_cast<std::size_t>(vertices.length())),
                        items<std::int64_t>("polygon_offsets", offsets, static_cast<std::size_t>(offsets.length())),
                        items<std::int64_t>("polygon_corners", corners, static_cast<std::size_t>(corners.length())),
                        items<std::int64_t>("neighbours", neighbours, static_cast<std::size_t>(neighbours.length()))};
    std::optional<BufferView> heights;
    if (slots.size() > 4 && slots[4] != Py_None) {
        heights.emplace("heights", slots[4], 'd', 8, 1);
        if (heights->length() != vertices.length()) {
            throw_error(PyExc_ValueError, "heights has " + std::to_string(heights->length()) + " entries, vertices " +
                                              std::to_string(vertices.length()));
        }
    }
    std::unique_ptr<NativeMesh> held;
    try {
        held.reset(new NativeMesh{MeshIndex(view),
                                  PolygonLocator(PolygonsView{view.vertices, view.polygon_offsets, view.polygon_corners}),
                                  std::nullopt, std::nullopt});
        if (heights) {
            held->surfaces.emplace(held->locator, view.polygon_corners,
                                   items<double>("heights", *heights, static_cast<std::size_t>(heights->length())));
            held->lifter.emplace(held->index, *held->surfaces);
        }
    } catch (const std::invalid_argument& fault) {
        // MeshFault and the locator's refusals alike.
        throw_error(PyExc_ValueError, fault.what());
    }
    OwnedRef capsule = require(PyCapsule_New(held.get(), kCapsuleName, release_mesh));
    held.release();
    return capsule;
}

}  // namespace

OwnedRef mesh(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 4> slots{};
    bind_fastcall(kMeshSignature, arguments, positional_count, keyword_names, slots);
    return build_mesh(slots);
}

OwnedRef layered_mesh(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 5> slots{};
    bind_fastcall(kLayeredMeshSignature, arguments, positional_count, keyword_names, slots);
    return build_mesh(slots);
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

constexpr std::array<const char*, 4> kLocateParameters = {"mesh", "points", "heights", "max_climb"};
constexpr Signature kLocateSignature{"locate()", kLocateParameters};
constexpr std::array<const char*, 5> kNearestParameters = {"mesh", "points", "max_distance", "heights", "max_climb"};
constexpr Signature kNearestSignature{"nearest()", kNearestParameters};
constexpr std::array<const char*, 2> kLevelsParameters = {"mesh", "point"};
constexpr Signature kLevelsSignature{"levels()", kLevelsParameters};
constexpr std::array<const char*, 2> kPlaceParameters = {"mesh", "point"};
constexpr Signature kPlaceSignature{"place()", kPlaceParameters};
constexpr std::array<const char*, 3> kOverlapParameters = {"mesh", "tolerance", "agent_height"};
constexpr Signature kOverlapSignature{"first_overlap()", kOverlapParameters};
constexpr std::array<const char*, 2> kStackedParameters = {"mesh", "agent_height"};
constexpr Signature kStackedSignature{"stacked()", kStackedParameters};
constexpr std::array<const char*, 6> kLiftParameters = {"mesh", "offsets", "points", "polygons", "starts", "lasts"};
constexpr Signature kLiftSignature{"lift()", kLiftParameters};
constexpr std::array<const char*, 1> kBytesParameters = {"mesh"};
constexpr Signature kBytesSignature{"locator_bytes()", kBytesParameters};

// The heights of the query points: None, or a float64 vector of one per point.
std::optional<std::vector<double>> heights_argument(const char* name, PyObject* object, std::size_t count) {
    if (object == Py_None) {
        return std::nullopt;
    }
    const BufferView view(name, object, 'd', 8, 1);
    if (static_cast<std::size_t>(view.length()) != count) {
        throw_error(PyExc_ValueError, std::string("argument '") + name + "': one height per point is needed");
    }
    std::vector<double> heights(count);
    if (count != 0) {
        std::memcpy(heights.data(), view.data(), count * sizeof(double));
    }
    return heights;
}

template <class T>
void write_at(char* out, std::size_t i, T value) noexcept {
    std::memcpy(out + i * sizeof(T), &value, sizeof(T));
}

const Surfaces& surfaces_argument(const char* name, PyObject* object) {
    const NativeMesh& mesh = native_mesh(name, object);
    if (!mesh.surfaces) {
        throw_error(PyExc_ValueError, std::string("argument '") + name + "': the mesh has no heights");
    }
    return *mesh.surfaces;
}

}  // namespace

OwnedRef locate(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 4> slots{};
    bind_fastcall(kLocateSignature, arguments, positional_count, keyword_names, slots);
    const NativeMesh& mesh = native_mesh("mesh", slots[0]);
    const std::vector<PlanePoint> points = point_rows_argument("points", slots[1]);
    const std::optional<std::vector<double>> heights = heights_argument("heights", slots[2], points.size());
    const double max_climb = real_argument("max_climb", slots[3]);
    OwnedRef result = new_array({static_cast<Py_ssize_t>(points.size())}, numpy::kInt64TypeNumber);
    char* out = static_cast<char*>(array_data(result.get()));
    for (std::size_t i = 0; i < points.size(); ++i) {
        std::int64_t polygon = -1;
        if (!mesh.surfaces) {
            polygon = mesh.locator.locate(points[i]);
        } else if (heights) {
            polygon = mesh.surfaces->locate(SpacePoint{points[i].x, points[i].y, (*heights)[i]}, max_climb);
        } else {
            polygon = mesh.surfaces->locate(points[i]);
        }
        write_at(out, i, polygon);
    }
    return result;
}

OwnedRef nearest(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 5> slots{};
    bind_fastcall(kNearestSignature, arguments, positional_count, keyword_names, slots);
    const NativeMesh& mesh = native_mesh("mesh", slots[0]);
    const std::vector<PlanePoint> points = point_rows_argument("points", slots[1]);
    const double max_distance = real_argument("max_distance", slots[2]);
    const std::optional<std::vector<double>> heights = heights_argument("heights", slots[3], points.size());
    const double max_climb = real_argument("max_climb", slots[4]);
    const auto count = static_cast<Py_ssize_t>(points.size());
    OwnedRef where = new_array({count, 2}, numpy::kFloat64TypeNumber);
    OwnedRef polygons = new_array({count}, numpy::kInt64TypeNumber);
    OwnedRef distances = new_array({count}, numpy::kFloat64TypeNumber);
    OwnedRef where_heights = new_array({count}, numpy::kFloat64TypeNumber);
    char* where_out = static_cast<char*>(array_data(where.get()));
    char* polygon_out = static_cast<char*>(array_data(polygons.get()));
    char* distance_out = static_cast<char*>(array_data(distances.get()));
    char* height_out = static_cast<char*>(array_data(where_heights.get()));
    for (std::size_t i = 0; i < points.size(); ++i) {
        NearestSurfacePoint found{};
        if (!mesh.surfaces) {
            const NearestPoint plan = mesh.locator.nearest(points[i], max_distance);
            found = {{plan.point.x, plan.point.y, std::numeric_limits<double>::quiet_NaN()}, plan.polygon,
                     plan.distance};
        } else if (heights) {
            found = mesh.surfaces->nearest(SpacePoint{points[i].x, points[i].y, (*heights)[i]}, max_distance,
                                           max_climb);
        } else {
            found = mesh.surfaces->nearest(points[i], max_distance);
        }
        write_at(where_out, 2 * i, found.point.x);
        write_at(where_out, 2 * i + 1, found.point.y);
        write_at(polygon_out, i, found.polygon);
        write_at(distance_out, i, found.distance);
        write_at(height_out, i, found.point.z);
    }
    return require(PyTuple_Pack(4, where.get(), polygons.get(), distances.get(), where_heights.get()));
}

OwnedRef levels(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 2> slots{};
    bind_fastcall(kLevelsSignature, arguments, positional_count, keyword_names, slots);
    const Surfaces& surfaces = surfaces_argument("mesh", slots[0]);
    const XY point = xy_argument("point", slots[1]);
    const std::vector<double> found = surfaces.levels({point.x, point.y});
    OwnedRef list = require(PyList_New(static_cast<Py_ssize_t>(found.size())));
    for (std::size_t i = 0; i < found.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), require(PyFloat_FromDouble(found[i])).release());
    }
    return list;
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
    std::array<PyObject*, 3> slots{};
    bind_fastcall(kOverlapSignature, arguments, positional_count, keyword_names, slots);
    const NativeMesh& mesh = native_mesh("mesh", slots[0]);
    const double tolerance = real_argument("tolerance", slots[1]);
    const double agent_height = real_argument("agent_height", slots[2]);
    std::optional<std::pair<std::int64_t, std::int64_t>> pair;
    if (mesh.surfaces) {
        const Surfaces& surfaces = *mesh.surfaces;
        // Polygons whose surfaces keep at least agent_height apart over their common
        // ground are layers, not an overlap.
        const double clearance = agent_height - surfaces.level_tolerance();
        pair = mesh.locator.first_overlap(tolerance, [&](std::int64_t i, std::int64_t j) {
            const Gap gap = surfaces.gap(i, j);
            return !(gap.least >= clearance || gap.most <= -clearance);
        });
    } else {
        pair = mesh.locator.first_overlap(tolerance);
    }
    if (!pair) {
        return OwnedRef::new_ref(Py_None);
    }
    return require(Py_BuildValue("(LL)", static_cast<long long>(pair->first), static_cast<long long>(pair->second)));
}

OwnedRef stacked(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 2> slots{};
    bind_fastcall(kStackedSignature, arguments, positional_count, keyword_names, slots);
    const NativeMesh& mesh = native_mesh("mesh", slots[0]);
    const Surfaces& surfaces = surfaces_argument("mesh", slots[0]);
    const double clearance = real_argument("agent_height", slots[1]) - surfaces.level_tolerance();
    std::vector<std::uint8_t> dropped(static_cast<std::size_t>(mesh.locator.polygon_count()), 0);
    for (const auto& [i, j] : mesh.locator.overlapping_pairs(0.0)) {
        const Gap gap = surfaces.gap(i, j);
        if (gap.least >= clearance || gap.most <= -clearance) {
            continue;
        }
        // The lower of the two, on average over their common ground; of two at one
        // height, the later.
        const double middle = gap.least + gap.most;
        dropped[middle > 0.0 ? i : (middle < 0.0 ? j : std::max(i, j))] = 1;
    }
    std::int64_t count = 0;
    for (const std::uint8_t d : dropped) {
        count += d;
    }
    OwnedRef result = new_array({static_cast<Py_ssize_t>(count)}, numpy::kInt64TypeNumber);
    char* out = static_cast<char*>(array_data(result.get()));
    std::size_t at = 0;
    for (std::size_t p = 0; p < dropped.size(); ++p) {
        if (dropped[p]) {
            write_at(out, at++, static_cast<std::int64_t>(p));
        }
    }
    return result;
}

OwnedRef lift(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 6> slots{};
    bind_fastcall(kLiftSignature, arguments, positional_count, keyword_names, slots);
    const NativeMesh& mesh = native_mesh("mesh", slots[0]);
    surfaces_argument("mesh", slots[0]);
    const BufferView offsets("offsets", slots[1], 'i', 8, 1);
    const std::vector<PlanePoint> points = point_rows_argument("points", slots[2]);
    const BufferView polygons("polygons", slots[3], 'i', 8, 1);
    const std::vector<PlanePoint> starts = point_rows_argument("starts", slots[4]);
    const BufferView lasts("lasts", slots[5], 'i', 8, 1);
    const std::size_t count = static_cast<std::size_t>(polygons.length());
    if (static_cast<std::size_t>(offsets.length()) != count + 1 || starts.size() != count ||
        static_cast<std::size_t>(lasts.length()) != count) {
        throw_error(PyExc_ValueError, "offsets, polygons and starts do not describe one batch of paths");
    }
    const auto at = [](const BufferView& view, std::size_t i) {
        return record::read<std::int64_t>(static_cast<const std::byte*>(view.data()) + i * sizeof(std::int64_t));
    };
    LiftWork work;
    OwnedRef result = new_array({static_cast<Py_ssize_t>(points.size())}, numpy::kFloat64TypeNumber);
    std::vector<double> heights(points.size());
    static_assert(sizeof(PlanePoint) == sizeof(XY));
    const std::span<const XY> rows(reinterpret_cast<const XY*>(points.data()), points.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t begin = at(offsets, i), end = at(offsets, i + 1);
        const std::int64_t polygon = at(polygons, i);
        if (begin < 0 || end < begin || static_cast<std::size_t>(end) > points.size() || polygon < 0 ||
            polygon >= mesh.index.polygon_count()) {
            throw_error(PyExc_ValueError, "path " + std::to_string(i) + " lies outside the points or the mesh");
        }
        try {
            mesh.lifter->lift(polygon, {starts[i].x, starts[i].y},
                              rows.subspan(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)),
                              at(lasts, i),
                              std::span<double>(heights).subspan(static_cast<std::size_t>(begin),
                                                                 static_cast<std::size_t>(end - begin)),
                              work);
        } catch (const LiftFault& fault) {
            throw_error(PyExc_RuntimeError, "path " + std::to_string(i) + ": " + fault.what());
        }
    }
    if (!heights.empty()) {
        std::memcpy(array_data(result.get()), heights.data(), heights.size() * sizeof(double));
    }
    return result;
}

OwnedRef locator_bytes(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 1> slots{};
    bind_fastcall(kBytesSignature, arguments, positional_count, keyword_names, slots);
    return require(PyLong_FromSize_t(locator_argument("mesh", slots[0]).bytes()));
}

}  // namespace walkmesh::tools
