// The companion's argument intake: record tables held for the call (a reference and a
// read borrow each, as find_path holds them), node indices, points and the search
// options. Every error is an ordinary Python exception whose message names the
// argument: TypeError for a wrong kind of object, ValueError for a wrong value,
// QueryError for a node outside the table.
#pragma once

#include <cstdint>
#include <optional>

#include "core/geometry.hpp"
#include "core/graph.hpp"
#include "core/orientation.hpp"
#include "python/held_array.hpp"
#include "core/route.hpp"

namespace walkmesh::tools {

// The node and edge arrays of one call, held until it returns.
class HeldTables {
public:
    // Checks both arrays (ndarray, one dimension, the record dtype) and takes their
    // borrows, nodes first. Loads NumPy's interface first.
    HeldTables(PyObject* nodes, PyObject* edges);

    std::size_t node_count() const noexcept;

    // The graph in place. Call once every other argument is converted: conversions can
    // run Python code, and an array changed in place meanwhile is refused here.
    Graph graph() const;

    // The same refusal after a call that let Python code run (a batch, whose signal
    // handlers and other threads run while the lock is released).
    void require_unchanged() const;

private:
    // Declared in acquisition order, so that the edges are released first.
    numpy::HeldArray nodes_;
    numpy::HeldArray edges_;
};

// A node index of `node_count` nodes; QueryError outside the table.
std::uint32_t node_argument(const char* name, PyObject* object, std::size_t node_count);

// A walkmesh.Point, a pair of real numbers or an array of two, as 32-bit floats
// rounded the way Point rounds; ValueError unless both are finite.
PointValue point_argument(const char* name, PyObject* object);

// A pair of real numbers (or an array of two, or a walkmesh.Point) as doubles,
// unrounded; the search checks their range.
XY xy_argument(const char* name, PyObject* object);

// None (no limit) or a non-negative integer.
std::uint64_t budget_argument(const char* name, PyObject* object);

// An integer from `low` to `high` (anything operator.index takes); ValueError "must be
// {also}from {low} to {high}, got {value}" outside.
std::int64_t bounded_index_argument(const char* name, PyObject* object, std::int64_t low, std::int64_t high,
                                    const char* also = "");

// Truth value.
bool flag_argument(const char* name, PyObject* object);

// max_expansions and partial.
RouteOptions route_options(PyObject* max_expansions, PyObject* partial);

}  // namespace walkmesh::tools
