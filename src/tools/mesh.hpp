// The companion's mesh: the checked index that the exact shortest-path search reads,
// built once from a NavMesh's arrays and kept (as a capsule) on the NavMesh, and the
// single shortest-path query over it.
#pragma once

#include "core/mesh.hpp"
#include "python/refs.hpp"

namespace walkmesh::tools {

// mesh(vertices, polygon_offsets, polygon_corners, neighbours) -> the mesh object: the
// arrays (float64 (V, 2), int64 (P + 1), int64 (C), int64 (C), C-contiguous and
// aligned) are checked and read once; ValueError names the first problem.
OwnedRef mesh(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// The index held by a mesh object; TypeError for anything else.
const MeshIndex& mesh_argument(const char* name, PyObject* object);

// shortest_path(mesh, start_polygon, start, target_polygon, target) -> (points,
// length, generated, pushed, popped): float64 (k, 2) points, (0, 2) when unreachable.
OwnedRef shortest_path(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

}  // namespace walkmesh::tools
