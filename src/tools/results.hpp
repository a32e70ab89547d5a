// The companion's results: new NumPy arrays, C-contiguous, filled from C++ buffers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

#include "python/refs.hpp"
#include "core/geometry.hpp"

namespace walkmesh::tools {

// A new array of the given shape and NumPy type number; its data is uninitialised.
OwnedRef new_array(std::initializer_list<Py_ssize_t> shape, int type_number);

// Where a new array's data starts.
void* array_data(PyObject* array) noexcept;

// A one-dimensional uint32 array of node indices.
OwnedRef node_array(std::span<const std::uint32_t> nodes);

// A (k, 2) float32 array, one row per point.
OwnedRef point_rows(std::span<const PointValue> points);

}  // namespace walkmesh::tools
