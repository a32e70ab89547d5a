// The call boundary: every entry point from the interpreter runs its body inside it.
// It is the only code that sets a Python error from a C++ outcome, and it catches
// everything, so no C++ exception ever unwinds into interpreter frames.
#pragma once

#include "python/error_state.hpp"
#include "python/panic.hpp"

namespace walkmesh {

// Raises the exception being handled as a Python exception: an ErrorState as itself,
// an internal failure as PanicException, anything else as an internal failure. Must
// be called from inside a catch handler; ends with a Python exception set.
void raise_caught_exception() noexcept;

// For entries that return an object: `body` returns an OwnedRef. `Raise` turns what
// was caught into a Python exception (the companion brings its own).
template <void (*Raise)() noexcept = raise_caught_exception, class Body>
PyObject* call_boundary(Body&& body) noexcept {
    try {
        return body().release();
    } catch (...) {
        Raise();
    }
    return nullptr;
}

// For entries that return a status (setters): `body` returns nothing; 0 or -1.
template <class Body>
int call_boundary_status(Body&& body) noexcept {
    try {
        body();
        return 0;
    } catch (...) {
        raise_caught_exception();
    }
    return -1;
}

}  // namespace walkmesh
