// How the companion's failures reach Python: one call boundary that turns every C++
// outcome into an ordinary Python exception, and the one place that words the core's
// faults. A fault met by a query is walkmesh_tools.QueryError, carrying the query's
// position in a batch and the node and edge concerned; storage that cannot be had is
// MemoryError. Nothing here writes to standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "core/fault.hpp"
#include "python/call_boundary.hpp"
#include "python/refs.hpp"

namespace walkmesh::tools {

// A fault the core met, thrown by the companion's fault hook.
struct QueryFault {
    Fault fault;
};

// A node index of a query outside the node table: "{role} node {node} is outside the
// node table ({node_count} nodes)". `node` is the index as given (any Python int).
[[noreturn]] void throw_node_outside(const char* role, PyObject* node, std::size_t node_count,
                                     std::optional<std::size_t> query = std::nullopt);
[[noreturn]] void throw_node_outside(const char* role, std::int64_t node, std::size_t node_count,
                                     std::optional<std::size_t> query);

// The exception for `fault`, met by the query at `query` of a batch (or by a single
// call): QueryError, or MemoryError for storage. Needs the interpreter lock.
[[noreturn]] void throw_fault(const Fault& fault, std::optional<std::size_t> query = std::nullopt);

// QueryError(reason) for a query's point that the shortest-path search refuses.
[[noreturn]] void throw_point_fault(const std::string& reason, std::optional<std::size_t> query = std::nullopt);

// Raises the exception being handled as a Python exception. Must be called from
// inside a catch handler; ends with a Python exception set.
void raise_caught_exception() noexcept;

// The call boundary of every companion entry.
template <class Body>
PyObject* call_boundary(Body&& body) noexcept {
    return walkmesh::call_boundary<raise_caught_exception>(std::forward<Body>(body));
}

}  // namespace walkmesh::tools
