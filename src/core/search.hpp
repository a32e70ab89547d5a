// The A* search over the graph view and the walk back along the predecessor table.
// One search loop and one walk serve every caller: find_path (fresh tables) and the
// companion's routes (reused tables, an expansion budget, the closest node for partial
// routes), which differ only in the policy they run them with. Every fault goes to the
// fault hook, called from the loop itself.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <span>

#include "core/fault.hpp"
#include "core/memory.hpp"
#include "core/geometry.hpp"
#include "core/graph.hpp"
#include "core/open_queue.hpp"

namespace walkmesh {

// One came_from entry. All bytes zero means absent, so the table starts all-absent
// from one zero-filled allocation.
struct Predecessor {
    std::uint32_t present;
    std::uint32_t node;
};

inline constexpr std::uint32_t unreached_cost = UINT32_MAX;

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
// `Policy` supplies:
// - `static constexpr bool budgeted`: whether may_expand() is asked before each
//   expansion; `static constexpr bool logs_reached`: whether reached_node() is told
//   of every node whose best_cost leaves unreached_cost (the start included);
// - `bool may_expand()`, `void expanded(std::uint32_t node, std::uint32_t estimate)`,
//   `void reached_node(std::uint32_t node)`.
// Every index is tested before the access it guards; a failed test is a fault.
template <class Policy>
SearchEnd run_search(const Graph& graph, std::uint32_t start, std::uint32_t target,
                     std::uint32_t* const best_cost, Predecessor* const came_from, OpenQueue& open,
                     Policy& policy) {
    const std::size_t node_count = graph.node_count();
    if (start >= node_count) {
        raise_fault({.kind = Fault::Kind::start_index, .node = start, .table_size = node_count});
    }
    best_cost[start] = 0;
    if constexpr (Policy::logs_reached) {
        policy.reached_node(start);
    }
    if (target >= node_count) {
        raise_fault({.kind = Fault::Kind::target_index, .node = target, .table_size = node_count});
    }
    const PointValue goal = graph.centroid(target);

    open.insert({heuristic(graph.centroid(start), goal), start}, Site::open_queue);
    while (!open.empty()) {
        const OpenEntry entry = open.first();
        const std::uint32_t u = entry.node;
        // Tested as the target leaves the queue, before any check on it.
        if (u == target) {
            return SearchEnd::reached;
        }
        if (u >= node_count) {
            raise_fault({.kind = Fault::Kind::expanded_index, .node = u, .table_size = node_count});
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
        FrontRefill refill(open, entry, Site::open_queue);
        const EdgeRun run = graph.edges_of(u, [&](std::uint32_t run_start, std::uint32_t run_end) {
            raise_fault({.kind = Fault::Kind::expanded_run, .node = u, .run_start = run_start,
                         .run_end = run_end, .table_size = graph.edge_count()});
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
                raise_fault({.kind = Fault::Kind::edge_target, .node = u, .other = to,
                             .edge = graph.edge_index(edge), .table_size = node_count});
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
// A chain that does not reach the start within as many steps as there are nodes is
// the fault broken_chain (path costs that wrapped can make a cycle).
template <class Step>
void walk_back(const Graph& graph, std::span<const Predecessor> came_from, std::uint32_t start,
               std::uint32_t end, Step&& step) {
    const std::size_t node_count = came_from.size();
    std::size_t steps = 0;
    for (std::uint32_t current = end;;) {
        if (current >= node_count) {
            raise_fault({.kind = Fault::Kind::walk_index, .node = current, .table_size = node_count});
        }
        const Predecessor entry = came_from[current];
        if (!entry.present) {
            return;
        }
        const std::uint32_t prev = entry.node;
        if (prev >= node_count) {
            raise_fault({.kind = Fault::Kind::predecessor_index, .node = prev, .table_size = node_count});
        }
        // A route visits each node once; more steps than nodes means a cycle.
        if (steps == node_count) {
            raise_fault({.kind = Fault::Kind::broken_chain, .node = end});
        }
        const EdgeRun run = graph.edges_of(prev, [&](std::uint32_t run_start, std::uint32_t run_end) {
            raise_fault({.kind = Fault::Kind::walk_run, .node = prev, .run_start = run_start,
                         .run_end = run_end, .table_size = graph.edge_count()});
        });
        const std::optional<EdgeRef> edge = run.first_to(current);
        if (!edge) {
            raise_fault({.kind = Fault::Kind::missing_edge, .node = prev, .other = current});
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
