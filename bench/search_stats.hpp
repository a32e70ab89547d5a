// What the benchmarks measure of a search besides its time: expansions, the target's
// cost, and the cost of the route the walk emits. A counting twin of find_path's
// search, so that the counting costs find_path nothing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

#include "core/search.hpp"
#include "walkmesh/search.hpp"

namespace walkmesh::bench {

struct SearchStats {
    // Nodes whose runs were scanned.
    std::uint64_t expansions = 0;
    // When reached: best_cost of the target, and the sum along came_from of the
    // cheapest edge of each step.
    std::uint32_t target_cost = 0;
    std::uint64_t route_cost = 0;
};

struct CountingPolicy {
    static constexpr bool budgeted = false;
    static constexpr bool logs_reached = false;
    std::uint64_t expansions = 0;

    bool may_expand() noexcept { return true; }
    void expanded(std::uint32_t, std::uint32_t) noexcept { ++expansions; }
    void reached_node(std::uint32_t) noexcept {}
};

// find_path's search, also filling `stats`.
inline std::optional<PointList> search_path_with_stats(const Graph& graph, std::uint32_t start,
                                                       std::uint32_t target, SearchStats& stats) {
    stats = SearchStats{};
    auto best_cost = Table<std::uint32_t>::filled(graph.node_count(), unreached_cost, Site::search_tables);
    auto came_from = Table<Predecessor>::zeroed(graph.node_count(), Site::search_tables);
    OpenQueue open;
    CountingPolicy policy;
    const SearchEnd end = run_search(graph, start, target, best_cost.data(), came_from.data(), open, policy);
    stats.expansions = policy.expansions;
    if (end != SearchEnd::reached) {
        return std::nullopt;
    }
    PointList points = walk_path(graph, came_from.span(), start, target);
    stats.target_cost = best_cost[target];
    // The chain was walked already: every index on it is valid.
    for (std::uint32_t current = target; came_from[current].present && current != start;) {
        const std::uint32_t prev = came_from[current].node;
        std::uint32_t cheapest = UINT32_MAX;
        const EdgeRun run = graph.edges_of(prev, [](std::uint32_t, std::uint32_t) {});
        for (const EdgeRef edge : run) {
            if (edge.to() == current) {
                cheapest = std::min(cheapest, edge.cost());
            }
        }
        stats.route_cost += cheapest;
        current = prev;
    }
    return points;
}

}  // namespace walkmesh::bench
