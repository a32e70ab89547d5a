// How the core reports what stops a search: one value that says what went wrong and
// with which node, edge and counts, handed to one hook. Each extension module defines
// the hook once and words the fault in its own terms (walkmesh as a failure report at
// a fixed location, the companion as an exception naming the node or edge); the core
// itself never words a fault.
#pragma once

#include <cstddef>
#include <cstdint>

namespace walkmesh {

// Where storage was asked for, for the modules that say so.
enum class Site : std::uint8_t {
    unknown,
    search_tables,  // the per-node tables of one search
    open_queue,     // the search's open queue
    route_points,   // the points of a route as a walk emits them
    result_points,  // a result's points after the route
    route,          // a route finder's kept tables and route
    batch,          // a batch's per-query slots and points
};

struct Fault {
    enum class Kind : std::uint8_t {
        start_index,        // node: start, table_size: node count
        target_index,       // node: target, table_size: node count
        expanded_index,     // node: a node taken out of the queue, table_size: node count
        expanded_run,       // node, run_start, run_end (wrapped), table_size: edge count
        edge_target,        // node: the expanded node, edge, other: the edge's `to`, table_size: node count
        walk_index,         // node: the walk's current node, table_size: node count
        predecessor_index,  // node: a predecessor, table_size: node count
        walk_run,           // node: a predecessor, run_start, run_end, table_size: edge count
        missing_edge,       // node: a predecessor without an edge to `other`
        broken_chain,       // node: the end of a predecessor chain that misses the start
        too_large,          // site: storage whose size exceeds one allocation
        out_of_memory,      // table_size: the bytes that could not be had
    };

    Kind kind;
    std::uint32_t node = 0;
    std::uint32_t other = 0;
    std::uint64_t edge = 0;
    std::uint32_t run_start = 0;
    std::uint32_t run_end = 0;
    std::uint64_t table_size = 0;
    Site site = Site::unknown;
};

// The hook: defined once by each program that links the core, and never returns.
// Called from the function that found the fault, so that a backtrace taken in the
// hook starts there.
[[noreturn]] void raise_fault(const Fault& fault);

}  // namespace walkmesh
