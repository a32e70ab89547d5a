// The Node and Edge classes and their record dtypes: the Python side of the graph.
#pragma once

#include "python/refs.hpp"

namespace walkmesh {

// The classes, created on first demand; a failure to create one is thrown as its error.
PyTypeObject* node_type_or_error();
PyTypeObject* edge_type_or_error();

// Fresh packed record dtypes: Node is 16 bytes, Edge 28 bytes.
OwnedRef build_node_dtype();
OwnedRef build_edge_dtype();

}  // namespace walkmesh
