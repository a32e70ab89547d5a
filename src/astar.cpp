// The A* search with wrapping 32-bit path costs, and the path walk.
#include "astar.hpp"

#include <algorithm>

#include "open_queue.hpp"

namespace walkmesh {
namespace {

constexpr std::uint32_t unreached = UINT32_MAX;

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
    return {Table<std::uint32_t>::filled(node_count, unreached, astar_site::tables_capacity),
            Table<Predecessor>::zeroed(node_count, astar_site::tables_capacity)};
}

// The first edge of `run` that leads to `to`.
EdgeRef first_edge_to(const EdgeRun& run, std::uint32_t to) {
    const auto found =
        std::find_if(run.begin(), run.end(), [to](EdgeRef edge) { return edge.to() == to; });
    if (found == run.end()) {
        panic_unwrap_none(astar_site::walk_missing_edge);
    }
    return *found;
}

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

struct NoObserver {
    void expanded() noexcept {}
    void reached(const Graph&, const SearchTables&, std::uint32_t, std::uint32_t) noexcept {}
};

struct StatsObserver {
    SearchStats& stats;
    void expanded() noexcept { ++stats.expansions; }
    void reached(const Graph& graph, const SearchTables& tables, std::uint32_t start,
                 std::uint32_t target) {
        stats.target_cost = tables.best_cost[target];
        stats.route_cost = route_cost(graph, tables.came_from.span(), start, target);
    }
};

template <class Observer>
std::optional<PointList> run_search(const Graph& graph, std::uint32_t start, std::uint32_t target,
                                    Observer& observer) {
    const std::size_t node_count = graph.node_count();
    SearchTables tables = create_tables(node_count);
    std::uint32_t* const best_cost = tables.best_cost.data();
    Predecessor* const came_from = tables.came_from.data();

    if (start >= node_count) {
        panic_index(start, node_count, astar_site::start_index);
    }
    best_cost[start] = 0;
    if (target >= node_count) {
        panic_index(target, node_count, astar_site::target_index);
    }
    const PointValue goal = graph.centroid(target);

    OpenQueue open;
    open.insert({heuristic(graph.centroid(start), goal), start}, astar_site::queue_capacity);
    while (!open.empty()) {
        const OpenEntry entry = open.first();
        const std::uint32_t u = entry.node;
        // Tested as the target leaves the queue, before any check on it.
        if (u == target) {
            PointList points = walk_path(graph, tables.came_from.span(), start, target);
            observer.reached(graph, tables, start, target);
            return points;
        }
        if (u >= node_count) {
            panic_index(u, node_count, astar_site::expanded_index);
        }
        // A cheaper entry for u superseded this one: skip it without a scan.
        if (entry.f > best_cost[u] + heuristic(graph.centroid(u), goal)) {
            open.remove_first();
            continue;
        }
        observer.expanded();
        // The entry is taken out as its expansion queues new ones (see FrontRefill).
        FrontRefill refill(open, entry, astar_site::queue_capacity);
        const EdgeRun run = graph.edges_of(u, astar_site::expanded_run);
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
                panic_index(to, node_count, astar_site::edge_to_index);
            }
            // best_cost[u] is read anew: a wrapping self-loop may just have lowered it.
            const std::uint32_t candidate = best_cost[u] + edge.cost();
            if (candidate < best_cost[to]) {
                best_cost[to] = candidate;
                came_from[to] = {1, u};
                graph.prefetch_edges_of(to);
                refill.add({candidate + heuristic(graph.centroid(to), goal), to});
            }
        }
        refill.finish();
    }
    return std::nullopt;
}

}  // namespace

std::optional<PointList> search_path(const Graph& graph, std::uint32_t start,
                                     std::uint32_t target) {
    NoObserver observer;
    return run_search(graph, start, target, observer);
}

std::optional<PointList> search_path_with_stats(const Graph& graph, std::uint32_t start,
                                                std::uint32_t target, SearchStats& stats) {
    stats = SearchStats{};
    StatsObserver observer{stats};
    return run_search(graph, start, target, observer);
}

PointList walk_path(const Graph& graph, std::span<const Predecessor> came_from, std::uint32_t start,
                    std::uint32_t target) {
    const std::size_t node_count = came_from.size();
    PointList points;
    std::uint32_t current = target;
    for (;;) {
        if (current >= node_count) {
            panic_index(current, node_count, astar_site::walk_current_index);
        }
        const Predecessor entry = came_from[current];
        if (!entry.present) {
            break;
        }
        const std::uint32_t prev = entry.node;
        if (prev >= node_count) {
            panic_index(prev, node_count, astar_site::walk_predecessor_index);
        }
        // A route visits each node once; more steps than nodes means a cycle.
        if (points.size() == node_count) {
            panic(chain_misses_start_message, astar_site::walk_chain_guard);
        }
        const EdgeRun run = graph.edges_of(prev, astar_site::walk_predecessor_run);
        const EdgeRef edge = first_edge_to(run, current);
        points.push_back(midpoint(edge.left(), edge.right()), astar_site::walk_points_capacity);
        if (prev == start) {
            break;
        }
        current = prev;
    }
    points.reverse();
    return points;
}

}  // namespace walkmesh
