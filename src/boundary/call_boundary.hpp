// The call boundary: every entry point from the interpreter runs its body inside it.
// It is the only code that sets a Python error from a C++ outcome, and it catches
// everything, so no C++ exception ever unwinds into interpreter frames.
#pragma once

#include "boundary/error_state.hpp"
#include "boundary/panic.hpp"

namespace walkmesh {

// Raise what reached the boundary; both end with a Python exception set.
void raise_error(ErrorState& state) noexcept;
void raise_internal_failure(const InternalFailure& failure) noexcept;
// Must be called from inside a catch handler.
void raise_unexpected_exception() noexcept;

// For entries that return an object: `body` returns an OwnedRef.
template <class Body>
PyObject* call_boundary(Body&& body) noexcept {
    try {
        return body().release();
    } catch (PythonError& error) {
        raise_error(error.state);
    } catch (const InternalFailure& failure) {
        raise_internal_failure(failure);
    } catch (...) {
        raise_unexpected_exception();
    }
    return nullptr;
}

// For entries that return a status (setters): `body` returns nothing; 0 or -1.
template <class Body>
int call_boundary_status(Body&& body) noexcept {
    try {
        body();
        return 0;
    } catch (PythonError& error) {
        raise_error(error.state);
    } catch (const InternalFailure& failure) {
        raise_internal_failure(failure);
    } catch (...) {
        raise_unexpected_exception();
    }
    return -1;
}

}  // namespace walkmesh
