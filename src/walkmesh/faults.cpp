// walkmesh's words for the core's faults: each is an internal failure with the fixed
// message and location of its kind, reported from the function that met it; storage
// too large to size is "capacity overflow", and memory running out ends the process.
#include "core/fault.hpp"
#include "python/panic.hpp"

namespace walkmesh {
namespace {

constexpr SourceLocation kStartIndex{"src/astar", 33, 12};
constexpr SourceLocation kTargetIndex{"src/astar", 35, 50};
constexpr SourceLocation kExpandedIndex{"src/astar", 44, 28};
constexpr SourceLocation kExpandedRun{"src/astar", 53, 27};
constexpr SourceLocation kEdgeTarget{"src/astar", 57, 23};
constexpr SourceLocation kWalkIndex{"src/astar", 82, 30};
constexpr SourceLocation kPredecessorIndex{"src/astar", 83, 20};
constexpr SourceLocation kWalkRun{"src/graph", 32, 27};
// Sites of this implementation's own choosing.
constexpr SourceLocation kBrokenChain{"src/astar", 81, 13};
constexpr SourceLocation kMissingEdge{"src/astar", 85, 14};
constexpr SourceLocation kSearchTables{"src/astar", 30, 25};
constexpr SourceLocation kOpenQueue{"src/astar", 61, 28};
constexpr SourceLocation kRoutePoints{"src/astar", 86, 16};
constexpr SourceLocation kResultPoints{"src/lib", 104, 36};
constexpr SourceLocation kElsewhere{"src/lib", 0, 0};

constexpr const char* kBrokenChainMessage = "predecessor chain does not reach the start node";

SourceLocation storage_location(Site site) noexcept {
    switch (site) {
    case Site::search_tables:
        return kSearchTables;
    case Site::open_queue:
        return kOpenQueue;
    case Site::route_points:
        return kRoutePoints;
    case Site::result_points:
        return kResultPoints;
    case Site::unknown:
    case Site::route:
    case Site::batch:
        break;
    }
    return kElsewhere;
}

}  // namespace

// Not inlined, so that its return address lies in the function that met the fault,
// where a brief backtrace starts.
[[gnu::noinline]] void raise_fault(const Fault& fault) {
    const void* caller = __builtin_return_address(0);
    const std::uint64_t node = fault.node;
    switch (fault.kind) {
    case Fault::Kind::start_index:
        panic_index(node, fault.table_size, kStartIndex, caller);
    case Fault::Kind::target_index:
        panic_index(node, fault.table_size, kTargetIndex, caller);
    case Fault::Kind::expanded_index:
        panic_index(node, fault.table_size, kExpandedIndex, caller);
    case Fault::Kind::expanded_run:
        panic_slice(fault.run_start, fault.run_end, fault.table_size, kExpandedRun, caller);
    case Fault::Kind::edge_target:
        panic_index(fault.other, fault.table_size, kEdgeTarget, caller);
    case Fault::Kind::walk_index:
        panic_index(node, fault.table_size, kWalkIndex, caller);
    case Fault::Kind::predecessor_index:
        panic_index(node, fault.table_size, kPredecessorIndex, caller);
    case Fault::Kind::walk_run:
        panic_slice(fault.run_start, fault.run_end, fault.table_size, kWalkRun, caller);
    case Fault::Kind::missing_edge:
        panic_unwrap_none(kMissingEdge, caller);
    case Fault::Kind::broken_chain:
        panic_from(kBrokenChainMessage, kBrokenChain, caller);
    case Fault::Kind::too_large:
        panic_capacity_overflow(storage_location(fault.site), caller);
    case Fault::Kind::out_of_memory:
        allocation_failed(fault.table_size);
    }
    panic_from("unknown fault", kElsewhere, caller);
}

}  // namespace walkmesh
