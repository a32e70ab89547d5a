// The A* search over the graph view and the walk back along the predecessor table.
// Plain C++, nothing here knows Python. One search loop and one walk serve every
// caller: find_path (fresh tables, failures as internal failures) and the companion's
// routes (reused tables, an expansion budget, the closest node for partial routes,
// failures as GraphFault), which differ only in the policy they run them with.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <span>

#include "boundary/memory.hpp"
#include "geometry.hpp"
#include "graph.hpp"
#include "open_queue.hpp"

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

inline constexpr std::uint32_t unreached_cost = UINT32_MAX;

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

// ---- the search and the walk, for every policy ----

// How a search ended.
enum class SearchEnd {
    reached,    // the target left the queue
    exhausted,  // the queue ran empty
    stopped,    // the policy refused the next expansion
};

// The search with wrapping 32-bit path costs over `best_cost` and `came_from` (one
// entry per node, all unreached and absent) and an empty `open` queue.
//
// `Policy` supplies, besides its failures (each [[noreturn]]):
// - `static constexpr bool budgeted`: whether may_expand() is asked before each
//   expansion; `static constexpr bool logs_reached`: whether reached_node() is told
//   of every node whose best_cost leaves unreached_cost (the start included);
// - `bool may_expand()`, `void expanded(std::uint32_t node, std::uint32_t estimate)`,
//   `void reached_node(std::uint32_t node)`;
// - failures: `bad_start(start, node_count)`, `bad_target(target, node_count)`,
//   `bad_expanded(node, node_count)`, `bad_run(node, run_start, run_end, edge_count)`,
//   `bad_edge_target(node, edge_index, to, node_count)`.
// Every index is tested before the access it guards.
template <class Policy>
SearchEnd run_search(const Graph& graph, std::uint32_t start, std::uint32_t target,
                     std::uint32_t* const best_cost, Predecessor* const came_from, OpenQueue& open,
                     Policy& policy) {
    const std::size_t node_count = graph.node_count();
    if (start >= node_count) {
        policy.bad_start(start, node_count);
    }
    best_cost[start] = 0;
    if constexpr (Policy::logs_reached) {
        policy.reached_node(start);
    }
    if (target >= node_count) {
        policy.bad_target(target, node_count);
    }
    const PointValue goal = graph.centroid(target);

    open.insert({heuristic(graph.centroid(start), goal), start}, astar_site::queue_capacity);
    while (!open.empty()) {
        const OpenEntry entry = open.first();
        const std::uint32_t u = entry.node;
        // Tested as the target leaves the queue, before any check on it.
        if (u == target) {
            return SearchEnd::reached;
        }
        if (u >= node_count) {
            policy.bad_expanded(u, node_count);
        }
        const std::uint32_t estimate = heuristic(graph.centroid(u), goal);
        // A cheaper entry for u superseded this one: skip it without a scan.
        if (entry.f > best_cost[u] + estimate) {
            open.remove_first();
            continue;
        }
        if constexpr (Policy::budgeted) {
            if (!policy.may_expand()) {
                return SearchEnd::stopped;
            }
        }
        policy.expanded(u, estimate);
        // The entry is taken out as its expansion queues new ones (see FrontRefill).
        FrontRefill refill(open, entry, astar_site::queue_capacity);
        const EdgeRun run = graph.edges_of(u, [&](std::uint32_t run_start, std::uint32_t run_end) {
            policy.bad_run(u, run_start, run_end, graph.edge_count());
        });
        // The neighbours' records and costs lie anywhere in their tables: ask for all
        // of them before the first is needed, so that their loads overlap.
        for (const EdgeRef edge : run) {
            const std::uint32_t to = edge.to();
            if (to < node_count) {
                graph.prefetch_node(to);
                __builtin_prefetch(best_cost + to);
            }
        }
        for (const EdgeRef edge : run) {
            const std::uint32_t to = edge.to();
            if (to >= node_count) {
                policy.bad_edge_target(u, graph.edge_index(edge), to, node_count);
            }
            // best_cost[u] is read anew: a wrapping self-loop may just have lowered it.
            const std::uint32_t candidate = best_cost[u] + edge.cost();
            if (candidate < best_cost[to]) {
                if constexpr (Policy::logs_reached) {
                    if (best_cost[to] == unreached_cost) {
                        policy.reached_node(to);
                    }
                }
                best_cost[to] = candidate;
                came_from[to] = {1, u};
                graph.prefetch_edges_of(to);
                refill.add({candidate + heuristic(graph.centroid(to), goal), to});
            }
        }
        refill.finish();
    }
    return SearchEnd::exhausted;
}

// Follows `came_from` back from `end` to `start`, calling `step(prev, current, edge)`
// for each step, from the end side: `edge` is the first edge of prev's run that leads
// to current. Stops without a step when `end` has no predecessor (it is the start).
//
// `Policy` supplies the walk's failures (each [[noreturn]]): `bad_walk_node(index,
// node_count)`, `bad_walk_predecessor(index, node_count)`, `bad_walk_run(prev,
// run_start, run_end, edge_count)`, `missing_walk_edge(prev, current)` and
// `broken_chain(end)` for a chain that does not reach the start within as many steps
// as there are nodes (path costs that wrapped can make a cycle).
template <class Policy, class Step>
void walk_back(const Graph& graph, std::span<const Predecessor> came_from, std::uint32_t start,
               std::uint32_t end, Policy& policy, Step&& step) {
    const std::size_t node_count = came_from.size();
    std::size_t steps = 0;
    for (std::uint32_t current = end;;) {
        if (current >= node_count) {
            policy.bad_walk_node(current, node_count);
        }
        const Predecessor entry = came_from[current];
        if (!entry.present) {
            return;
        }
        const std::uint32_t prev = entry.node;
        if (prev >= node_count) {
            policy.bad_walk_predecessor(prev, node_count);
        }
        // A route visits each node once; more steps than nodes means a cycle.
        if (steps == node_count) {
            policy.broken_chain(end);
        }
        const EdgeRun run = graph.edges_of(prev, [&](std::uint32_t run_start, std::uint32_t run_end) {
            policy.bad_walk_run(prev, run_start, run_end, graph.edge_count());
        });
        const std::optional<EdgeRef> edge = run.first_to(current);
        if (!edge) {
            policy.missing_walk_edge(prev, current);
        }
        step(prev, current, *edge);
        ++steps;
        if (prev == start) {
            return;
        }
        current = prev;
    }
}

}  // namespace walkmesh
