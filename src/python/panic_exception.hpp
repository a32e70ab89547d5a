// The exception class that carries internal failures into Python. Created on first
// need, once per process, and never exported from the module.
#pragma once

#include "python/python.hpp"

namespace walkmesh {

// Borrowed; lives for the rest of the process. Failing to create it ends the process.
PyObject* panic_exception_type();

}  // namespace walkmesh
