// The A* search over the graph view and the path walk back along the predecessor
// table. Plain C++: failures leave as InternalFailure, nothing here knows Python.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <span>

#include "boundary/memory.hpp"
#include "geometry.hpp"
#include "graph.hpp"

namespace walkmesh {

// The route's portal midpoints from the start side to the target side; the caller
// appends the target point.
using PointList = GrowableArray<PointValue>;

// One came_from entry. All bytes zero means absent, so the table starts all-absent
// from one zero-filled allocation.
struct Predecessor {
    std::uint32_t present;
    std::uint32_t node;
};

// Where the search and the walk report their failures.
namespace astar_site {
inline constexpr SourceLocation start_index{"src/astar", 33, 12};
inline constexpr SourceLocation target_index{"src/astar", 35, 50};
inline constexpr SourceLocation expanded_index{"src/astar", 44, 28};
inline constexpr SourceLocation expanded_run{"src/astar", 53, 27};
inline constexpr SourceLocation edge_to_index{"src/astar", 57, 23};
inline constexpr SourceLocation walk_current_index{"src/astar", 82, 30};
inline constexpr SourceLocation walk_predecessor_index{"src/astar", 83, 20};
inline constexpr SourceLocation walk_predecessor_run{"src/graph", 32, 27};
// Sites of this implementation's own choosing.
inline constexpr SourceLocation tables_capacity{"src/astar", 30, 25};
inline constexpr SourceLocation queue_capacity{"src/astar", 61, 28};
inline constexpr SourceLocation walk_chain_guard{"src/astar", 81, 13};
inline constexpr SourceLocation walk_missing_edge{"src/astar", 85, 14};
inline constexpr SourceLocation walk_points_capacity{"src/astar", 86, 16};
}  // namespace astar_site

inline constexpr const char* chain_misses_start_message =
    "predecessor chain does not reach the start node";

// Truncation toward zero that saturates: NaN and negative values give 0, values
// of 2^32 and above give 4294967295.
inline std::uint32_t saturating_u32(float value) noexcept {
    if (!(value >= 0.0f)) {
        return 0;
    }
    if (value >= 4294967296.0f) {
        return UINT32_MAX;
    }
    return static_cast<std::uint32_t>(value);
}

// Straight-line distance from `centroid` to `goal` in 32-bit float, truncated.
// Every product and the sum round separately: the build forbids contraction.
inline std::uint32_t heuristic(PointValue centroid, PointValue goal) noexcept {
    const float dx = goal.x - centroid.x;
    const float dy = goal.y - centroid.y;
    const float squared = dy * dy + dx * dx;
    return saturating_u32(std::sqrt(squared));
}

// The route from `start` to `target`, or nothing when the target cannot be reached.
std::optional<PointList> search_path(const Graph& graph, std::uint32_t start, std::uint32_t target);

// Follows `came_from` (one entry per node) back from `target` to `start` and returns
// the portal midpoints in route order. A chain that does not reach the start within
// as many steps as there are nodes fails with chain_misses_start_message.
PointList walk_path(const Graph& graph, std::span<const Predecessor> came_from, std::uint32_t start,
                    std::uint32_t target);

// What the benchmark measures besides time.
struct SearchStats {
    // Nodes whose runs were scanned.
    std::uint64_t expansions = 0;
    // When reached: best_cost of the target, and the sum along came_from of the
    // cheapest edge of each step.
    std::uint32_t target_cost = 0;
    std::uint64_t route_cost = 0;
};

// search_path, also filling `stats`. A separate instance of the same search, so
// that the counting costs search_path nothing.
std::optional<PointList> search_path_with_stats(const Graph& graph, std::uint32_t start,
                                                std::uint32_t target, SearchStats& stats);

}  // namespace walkmesh
