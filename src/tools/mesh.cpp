// The mesh object and the single shortest-path query (see mesh.hpp).
#include "tools/mesh.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

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

void release_mesh(PyObject* capsule) {
    delete static_cast<MeshIndex*>(PyCapsule_GetPointer(capsule, kCapsuleName));
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
    std::unique_ptr<MeshIndex> index;
    try {
        index = std::make_unique<MeshIndex>(view);
    } catch (const MeshFault& fault) {
        throw_error(PyExc_ValueError, fault.what());
    }
    OwnedRef capsule = require(PyCapsule_New(index.get(), kCapsuleName, release_mesh));
    index.release();
    return capsule;
}

const MeshIndex& mesh_argument(const char* name, PyObject* object) {
    if (!PyCapsule_IsValid(object, kCapsuleName)) {
        throw_error(PyExc_TypeError,
                    std::string("argument '") + name + "': not a mesh made by walkmesh_tools._native.mesh");
    }
    return *static_cast<const MeshIndex*>(PyCapsule_GetPointer(object, kCapsuleName));
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

}  // namespace walkmesh::tools
