// The one place that includes the interpreter's headers, so every file sees the same
// configuration. Only the interpreter's API of version 3.8 is used; newer calls are
// guarded by PY_VERSION_HEX.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// A module's init function, exported whatever the headers declare: CPython 3.8's
// PyMODINIT_FUNC carries no visibility, and the build hides every symbol by default
// (a hidden symbol stays local whatever the linker's version script says).
#define WALKMESH_MODULE_INIT extern "C" __attribute__((visibility("default"))) PyObject*
