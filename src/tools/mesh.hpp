// walkmesh_tools._native.Mesh: the native side of one NavMesh, built once with it and
// kept on it privately. It holds what the point queries read (the polygons' corner
// points and the hierarchy of their boxes) and answers location, nearest points and
// the overlap check.
#pragma once

#include "python/refs.hpp"

namespace walkmesh::tools {

// Adds the Mesh type to the module; false with a Python error set on failure.
bool add_mesh_type(PyObject* module) noexcept;

}  // namespace walkmesh::tools
