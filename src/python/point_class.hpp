// The Point class and the Point record dtype: the Python side of the point value.
#pragma once

#include "python/refs.hpp"
#include "core/geometry.hpp"

namespace walkmesh {

// The class, created on first demand; a failure to create it is thrown as its error.
PyTypeObject* point_type_or_error();
// The same for getters, conversions and results, where failing to create the class
// is an internal failure (the creation error goes to the unraisable-exception hook).
PyTypeObject* point_type();

// A new Point holding `value`, allocated without calling the constructor.
OwnedRef make_point(PointValue value);

// The point conversion: a Point (or subclass) instance's x and y, copied out.
PointValue to_point_value(PyObject* object);

// A fresh packed record dtype {x: float32, y: float32}.
OwnedRef build_point_dtype();

}  // namespace walkmesh
