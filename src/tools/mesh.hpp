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

// layered_mesh(vertices, polygon_offsets, polygon_corners, neighbours, heights) -> the
// same with a float64 (V,) height per vertex (or None: as mesh()).
OwnedRef layered_mesh(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// The index held by a mesh object; TypeError for anything else.
const MeshIndex& mesh_argument(const char* name, PyObject* object);

// The locator held by a mesh object; TypeError for anything else.
const PolygonLocator& locator_argument(const char* name, PyObject* object);

// shortest_path(mesh, start_polygon, start, target_polygon, target) -> (points,
// length, generated, pushed, popped): float64 (k, 2) points, (0, 2) when unreachable.
OwnedRef shortest_path(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// locate(mesh, points, heights, max_climb) -> int64 (N,): the polygon of each row of a
// float64 (N, 2) array, -1 for none; with heights (None or float64 (N,)) on a mesh
// with heights, the surface nearest at or below each point; without, -2 where a point
// lies on two levels. A mesh without heights reads no heights.
OwnedRef locate(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// nearest(mesh, points, max_distance, heights, max_climb) -> (float64 (N, 2), int64
// (N,), float64 (N,), float64 (N,)): each point's nearest point of the mesh, its
// polygon, the distance and the nearest point's height (NaN without heights).
OwnedRef nearest(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// levels(mesh, point) -> list of float: the heights of the levels holding a point (x, y).
OwnedRef levels(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// stacked(mesh, agent_height) -> int64: the polygons to drop from a mesh with heights
// for want of headroom: the lower of every two that overlap in plan less than
// agent_height apart.
OwnedRef stacked(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// lift(mesh, offsets, points, polygons, starts, lasts) -> float64 (M,): the height of
// each point of a batch of paths (float64 (M, 2) points, path i from offsets[i] to
// offsets[i + 1]) reached from starts[i] in polygons[i], ending on polygon lasts[i]
// (-1: any); RuntimeError for a path that leaves the mesh.
OwnedRef lift(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// place(mesh, point) -> int: the polygon of one point given as a pair of real numbers
// or an object with real `x` and `y`; -1 outside every polygon, -2 for anything not
// read that way (the Python layer then converts it and words the error).
OwnedRef place(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// first_overlap(mesh, tolerance, agent_height) -> None or (i, j): the first pair of
// polygons whose insides overlap (on a mesh with heights, less than agent_height apart).
OwnedRef first_overlap(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// locator_bytes(mesh) -> int: what the locator holds, for the benchmarks.
OwnedRef locator_bytes(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

}  // namespace walkmesh::tools
