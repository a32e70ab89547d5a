// The one place that includes the interpreter's headers, so every file sees the same
// configuration. Only the interpreter's API of version 3.8 is used; newer calls are
// guarded by PY_VERSION_HEX.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
