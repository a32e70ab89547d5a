// find_paths: many queries over one pair of tables, on worker threads with the
// interpreter lock released.
#pragma once

#include "python/refs.hpp"

namespace walkmesh::tools {

// find_paths(nodes, edges, starts, targets, target_points, start_points, straight,
// threads, max_expansions, partial, progress) -> (offsets, points, reached). The
// Python layer hands over starts and targets as int64 vectors and the points as
// float32 (n, 2) arrays, all C-contiguous; their layout is checked again here, so that
// no call reads outside them. `progress` is None or called as progress(done, total).
OwnedRef find_paths(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

// shortest_paths(mesh, start_polygons, starts, target_polygons, targets, threads,
// progress) -> (offsets, points, reached, lengths): the exact shortest path of every
// query, float64 points. The Python layer hands over int64 polygons and float64 (n, 2)
// points, C-contiguous.
OwnedRef shortest_paths(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names);

}  // namespace walkmesh::tools
