// find_path's search: fresh tables for each call, failures reported as internal
// failures at their fixed locations; the benchmark's counting twin.
#include "astar.hpp"

#include <algorithm>

namespace walkmesh {
namespace {

struct SearchTables {
    Table<std::uint32_t> best_cost;
    Table<Predecessor> came_from;
};

// Both sizes are checked before either table is allocated, so an impossible node
// count fails with "capacity overflow" rather than an allocation failure.
SearchTables create_tables(std::size_t node_count) {
    checked_byte_size(node_count, sizeof(Predecessor), alignof(Predecessor),
                      astar_site::tables_capacity);
    checked_byte_size(node_count, sizeof(std::uint32_t), alignof(std::uint32_t),
                      astar_site::tables_capacity);
    return {Table<std::uint32_t>::filled(node_count, unreached_cost, astar_site::tables_capacity),
            Table<Predecessor>::zeroed(node_count, astar_site::tables_capacity)};
}

// Every failure is an internal failure with its fixed message and location. Inlined,
// so that a failure report's backtrace starts in the search or the walk itself.
#define WALKMESH_FAILURE [[noreturn, gnu::always_inline]] inline

struct PanicPolicy {
    static constexpr bool budgeted = false;
    static constexpr bool logs_reached = false;

    bool may_expand() noexcept { return true; }
    void expanded(std::uint32_t, std::uint32_t) noexcept {}
    void reached_node(std::uint32_t) noexcept {}

    WALKMESH_FAILURE void bad_start(std::uint32_t start, std::size_t node_count) {
        panic_index(start, node_count, astar_site::start_index);
    }
    WALKMESH_FAILURE void bad_target(std::uint32_t target, std::size_t node_count) {
        panic_index(target, node_count, astar_site::target_index);
    }
    WALKMESH_FAILURE void bad_expanded(std::uint32_t node, std::size_t node_count) {
        panic_index(node, node_count, astar_site::expanded_index);
    }
    WALKMESH_FAILURE void bad_run(std::uint32_t, std::uint32_t start, std::uint32_t end, std::size_t edge_count) {
        panic_slice(start, end, edge_count, astar_site::expanded_run);
    }
    WALKMESH_FAILURE void bad_edge_target(std::uint32_t, std::size_t, std::uint32_t to, std::size_t node_count) {
        panic_index(to, node_count, astar_site::edge_to_index);
    }

    WALKMESH_FAILURE void bad_walk_node(std::uint32_t index, std::size_t node_count) {
        panic_index(index, node_count, astar_site::walk_current_index);
    }
    WALKMESH_FAILURE void bad_walk_predecessor(std::uint32_t index, std::size_t node_count) {
        panic_index(index, node_count, astar_site::walk_predecessor_index);
    }
    WALKMESH_FAILURE void bad_walk_run(std::uint32_t, std::uint32_t start, std::uint32_t end, std::size_t edge_count) {
        panic_slice(start, end, edge_count, astar_site::walk_predecessor_run);
    }
    WALKMESH_FAILURE void missing_walk_edge(std::uint32_t, std::uint32_t) {
        panic_unwrap_none(astar_site::walk_missing_edge);
    }
    WALKMESH_FAILURE void broken_chain(std::uint32_t) { panic(chain_misses_start_message, astar_site::walk_chain_guard); }
};

#undef WALKMESH_FAILURE

struct CountingPolicy : PanicPolicy {
    std::uint64_t expansions = 0;
    void expanded(std::uint32_t, std::uint32_t) noexcept { ++expansions; }
};

// Sum along the chain of the cheapest edge of each step; the chain was walked already.
std::uint64_t route_cost(const Graph& graph, std::span<const Predecessor> came_from,
                         std::uint32_t start, std::uint32_t target) {
    std::uint64_t total = 0;
    for (std::uint32_t current = target; came_from[current].present && current != start;) {
        const std::uint32_t prev = came_from[current].node;
        std::uint32_t cheapest = UINT32_MAX;
        for (const EdgeRef edge : graph.edges_of(prev, astar_site::walk_predecessor_run)) {
            if (edge.to() == current) {
                cheapest = std::min(cheapest, edge.cost());
            }
        }
        total += cheapest;
        current = prev;
    }
    return total;
}

template <class Policy>
PointList walk_midpoints(const Graph& graph, std::span<const Predecessor> came_from, std::uint32_t start,
                         std::uint32_t target, Policy& policy) {
    PointList points;
    walk_back(graph, came_from, start, target, policy, [&](std::uint32_t, std::uint32_t, EdgeRef edge) {
        points.push_back(midpoint(edge.left(), edge.right()), astar_site::walk_points_capacity);
    });
    points.reverse();
    return points;
}

// The tables are created before any index is tested, and released after the walk.
template <class Policy>
std::optional<PointList> search_with(const Graph& graph, std::uint32_t start, std::uint32_t target,
                                     Policy& policy, SearchStats* stats) {
    SearchTables tables = create_tables(graph.node_count());
    OpenQueue open;
    const SearchEnd end =
        run_search(graph, start, target, tables.best_cost.data(), tables.came_from.data(), open, policy);
    if (end != SearchEnd::reached) {
        return std::nullopt;
    }
    PointList points = walk_midpoints(graph, tables.came_from.span(), start, target, policy);
    if (stats != nullptr) {
        stats->target_cost = tables.best_cost[target];
        stats->route_cost = route_cost(graph, tables.came_from.span(), start, target);
    }
    return points;
}

}  // namespace

std::optional<PointList> search_path(const Graph& graph, std::uint32_t start,
                                     std::uint32_t target) {
    PanicPolicy policy;
    return search_with(graph, start, target, policy, nullptr);
}

std::optional<PointList> search_path_with_stats(const Graph& graph, std::uint32_t start,
                                                std::uint32_t target, SearchStats& stats) {
    stats = SearchStats{};
    CountingPolicy policy;
    std::optional<PointList> points = search_with(graph, start, target, policy, &stats);
    stats.expansions = policy.expansions;
    return points;
}

PointList walk_path(const Graph& graph, std::span<const Predecessor> came_from, std::uint32_t start,
                    std::uint32_t target) {
    PanicPolicy policy;
    return walk_midpoints(graph, came_from, start, target, policy);
}

}  // namespace walkmesh
