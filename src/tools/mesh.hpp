// The companion's mesh: what the queries of one NavMesh read, built once from its
// arrays and kept (as a capsule) on the NavMesh: the checked index that the exact
// shortest-path search reads, and the point locator (location, nearest points, the
// overlap check). Here too the single shortest-path query and the point queries.
#pragma once

#include "core/locate.hpp"
#include "core/mesh.hpp"
#include "python/refs.hpp"

namespace walkmesh::tools {

// mesh(vertices, polygon_offsets, polygon_corners, neighbours) -> the mesh object: the
// arrays (float64 (V, 2), int64 (P + 1), int64 (C), int64 (C), C-contiguous and
// aligned) are checked and read once; ValueError names the first problem.
OwnedRef mesh(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// The index held by a mesh object; TypeError for anything else.
const MeshIndex& mesh_argument(const char* name, PyObject* object);

// The locator held by a mesh object; TypeError for anything else.
const PolygonLocator& locator_argument(const char* name, PyObject* object);

// shortest_path(mesh, start_polygon, start, target_polygon, target) -> (points,
// length, generated, pushed, popped): float64 (k, 2) points, (0, 2) when unreachable.
OwnedRef shortest_path(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// locate(mesh, points) -> int64 (N,): the polygon of each row of a float64 (N, 2)
// array, -1 for none.
OwnedRef locate(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// nearest(mesh, points, max_distance) -> (float64 (N, 2), int64 (N,), float64 (N,)):
// each point's nearest point of the mesh, its polygon and the distance.
OwnedRef nearest(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// place(mesh, point) -> int: the polygon of one point given as a pair of real numbers
// or an object with real `x` and `y`; -1 outside every polygon, -2 for anything not
// read that way (the Python layer then converts it and words the error).
OwnedRef place(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// first_overlap(mesh, tolerance) -> None or (i, j): the first pair of polygons whose
// insides overlap.
OwnedRef first_overlap(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// locator_bytes(mesh) -> int: what the locator holds, for the benchmarks.
OwnedRef locator_bytes(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

}  // namespace walkmesh::tools
