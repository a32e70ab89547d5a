// How the companion's failures reach Python: one call boundary that turns every C++
// outcome into an ordinary Python exception. Table inconsistencies (GraphFault) are
// ValueError, or IndexError for a start or target outside the node table; storage
// that cannot be had is MemoryError. Nothing here writes to standard error.
#pragma once

#include <cstddef>

#include <utility>

#include "boundary/call_boundary.hpp"
#include "boundary/refs.hpp"

namespace walkmesh::tools {

// Thrown by the companion's storage hooks: `bytes` could not be had (0: more than one
// allocation may span).
struct StorageFailure {
    std::size_t bytes;
};

// Raises the exception being handled as a Python exception. Must be called from
// inside a catch handler; ends with a Python exception set.
void raise_caught_exception() noexcept;

// The call boundary of every companion entry.
template <class Body>
PyObject* call_boundary(Body&& body) noexcept {
    return walkmesh::call_boundary<raise_caught_exception>(std::forward<Body>(body));
}

}  // namespace walkmesh::tools
