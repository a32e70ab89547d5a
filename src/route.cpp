// The companion's routes: the shared search and walk under a policy that reuses the
// tables, counts expansions against a budget, keeps the closest expanded node and
// reports table inconsistencies as GraphFault.
#include "route.hpp"

#include <algorithm>

namespace walkmesh {
namespace {

constexpr SourceLocation route_site{"src/route", 0, 0};

[[noreturn]] void fault(GraphFault::Kind kind, std::string message) {
    throw GraphFault{kind, std::move(message)};
}

std::string outside_nodes(std::uint64_t node_count) {
    return "outside the node table (" + std::to_string(node_count) + " nodes)";
}

[[noreturn]] void broken_run(std::uint32_t node, std::uint32_t run_start, std::uint32_t run_end,
                             std::size_t edge_count) {
    const std::uint32_t run_count = run_end - run_start;
    fault(GraphFault::Kind::graph, "node " + std::to_string(node) + " has edge_start " +
                                       std::to_string(run_start) + " and edge_count " +
                                       std::to_string(run_count) + ", a run outside the edge table (" +
                                       std::to_string(edge_count) + " edges)");
}

}  // namespace

// `Bounded`: with an expansion budget or a partial route to find; the plain search
// neither asks before each expansion nor keeps the closest node.
template <bool Bounded>
struct RoutePolicy {
    static constexpr bool budgeted = Bounded;
    static constexpr bool logs_reached = true;

    // The finder's touched list, written back by the finder after the search.
    std::uint32_t* touched;
    std::size_t touched_count;
    std::uint64_t budget;
    std::uint64_t expansions = 0;
    std::uint32_t closest;
    std::uint64_t closest_estimate = UINT64_MAX;

    bool may_expand() noexcept { return expansions < budget; }
    void expanded(std::uint32_t node, std::uint32_t estimate) noexcept {
        ++expansions;
        if (Bounded && estimate < closest_estimate) {
            closest_estimate = estimate;
            closest = node;
        }
    }
    void reached_node(std::uint32_t node) noexcept { touched[touched_count++] = node; }

    [[noreturn, gnu::cold, gnu::noinline]] void bad_start(std::uint32_t start, std::size_t node_count) {
        fault(GraphFault::Kind::start_index, "start node " + std::to_string(start) + " is " + outside_nodes(node_count));
    }
    [[noreturn, gnu::cold, gnu::noinline]] void bad_target(std::uint32_t target, std::size_t node_count) {
        fault(GraphFault::Kind::target_index,
              "target node " + std::to_string(target) + " is " + outside_nodes(node_count));
    }
    [[noreturn, gnu::cold, gnu::noinline]] void bad_expanded(std::uint32_t node, std::size_t node_count) {
        fault(GraphFault::Kind::graph, "node " + std::to_string(node) + " is " + outside_nodes(node_count));
    }
    [[noreturn, gnu::cold, gnu::noinline]] void bad_run(std::uint32_t node, std::uint32_t run_start, std::uint32_t run_end,
                              std::size_t edge_count) {
        broken_run(node, run_start, run_end, edge_count);
    }
    [[noreturn, gnu::cold, gnu::noinline]] void bad_edge_target(std::uint32_t node, std::size_t edge, std::uint32_t to,
                                      std::size_t node_count) {
        fault(GraphFault::Kind::graph, "edge " + std::to_string(edge) + " of node " + std::to_string(node) +
                                           " leads to node " + std::to_string(to) + ", " +
                                           outside_nodes(node_count));
    }

    // After a completed search the walk meets none of these but the broken chain.
    [[noreturn, gnu::cold, gnu::noinline]] void bad_walk_node(std::uint32_t index, std::size_t node_count) {
        bad_expanded(index, node_count);
    }
    [[noreturn, gnu::cold, gnu::noinline]] void bad_walk_predecessor(std::uint32_t index, std::size_t node_count) {
        bad_expanded(index, node_count);
    }
    [[noreturn, gnu::cold, gnu::noinline]] void bad_walk_run(std::uint32_t node, std::uint32_t run_start, std::uint32_t run_end,
                                   std::size_t edge_count) {
        broken_run(node, run_start, run_end, edge_count);
    }
    [[noreturn, gnu::cold, gnu::noinline]] void missing_walk_edge(std::uint32_t prev, std::uint32_t current) {
        fault(GraphFault::Kind::graph, "node " + std::to_string(prev) + " has no edge to node " +
                                           std::to_string(current) + " any more");
    }
    [[noreturn, gnu::cold, gnu::noinline]] void broken_chain(std::uint32_t end) {
        fault(GraphFault::Kind::graph,
              "the route to node " + std::to_string(end) +
                  " does not lead back to the start: path costs plus estimates exceed 4294967295");
    }
};

void RouteFinder::bind(const Graph& graph) {
    graph_ = graph;
    const std::size_t node_count = graph.node_count();
    if (node_count <= capacity_) {
        return;
    }
    // Sized before anything is allocated, so that an impossible size is refused whole.
    checked_byte_size(node_count, route_finder_bytes_per_node, alignof(Predecessor), route_site);
    best_cost_ = Table<std::uint32_t>();
    came_from_ = Table<Predecessor>();
    touched_ = Table<std::uint32_t>();
    capacity_ = 0;
    touched_count_ = 0;
    best_cost_ = Table<std::uint32_t>::filled(node_count, unreached_cost, route_site);
    came_from_ = Table<Predecessor>::zeroed(node_count, route_site);
    touched_ = Table<std::uint32_t>::uninitialised(node_count, route_site);
    capacity_ = node_count;
}

// Only best_cost is reset. came_from is never read by the search, and the walk reads
// only entries this search wrote: it follows predecessors from a node the search
// reached, each set when the search last lowered that node's cost, and it stops at the
// start without reading the start's entry (a route that ends at the start is not
// walked at all).
void RouteFinder::reset_tables() noexcept {
    // Touching most entries one by one costs more than refilling the table.
    if (touched_count_ > capacity_ / 8) {
        std::fill_n(best_cost_.data(), capacity_, unreached_cost);
    } else {
        for (std::size_t i = 0; i < touched_count_; ++i) {
            best_cost_[touched_[i]] = unreached_cost;
        }
    }
    touched_count_ = 0;
    open_.clear();
    route_nodes_.clear();
    route_edges_.clear();
}

RouteEnd RouteFinder::find(std::uint32_t start, std::uint32_t target, const RouteOptions& options) {
    if (options.max_expansions == UINT64_MAX && !options.partial) {
        return search<false>(start, target, options);
    }
    return search<true>(start, target, options);
}

template <bool Bounded>
RouteEnd RouteFinder::search(std::uint32_t start, std::uint32_t target, const RouteOptions& options) {
    reset_tables();
    RoutePolicy<Bounded> policy{touched_.data(), 0, options.max_expansions, 0, start};
    SearchEnd end = SearchEnd::exhausted;
    try {
        end = run_search(graph_, start, target, best_cost_.data(), came_from_.data(), open_, policy);
    } catch (...) {
        // The next query resets what this one touched.
        touched_count_ = policy.touched_count;
        throw;
    }
    touched_count_ = policy.touched_count;
    expansions_ = policy.expansions;
    if (end == SearchEnd::reached) {
        record_route(start, target);
        return RouteEnd::target;
    }
    if (options.partial) {
        record_route(start, policy.closest);
        return RouteEnd::partial;
    }
    return RouteEnd::none;
}

void RouteFinder::record_route(std::uint32_t start, std::uint32_t end) {
    if (end == start) {
        route_nodes_.push_back(start, route_site);
        return;
    }
    RoutePolicy<false> policy{nullptr, 0, 0, 0, start};
    walk_back(graph_, came_from_.span(), start, end, policy, [&](std::uint32_t, std::uint32_t current, EdgeRef edge) {
        route_nodes_.push_back(current, route_site);
        route_edges_.push_back(edge, route_site);
    });
    route_nodes_.push_back(start, route_site);
    route_nodes_.reverse();
    route_edges_.reverse();
}

void RouteFinder::append_midpoints(GrowableArray<PointValue>& points) const {
    for (const EdgeRef edge : edges()) {
        points.push_back(midpoint(edge.left(), edge.right()), route_site);
    }
}

void RouteFinder::append_straight_path(PointValue from, PointValue to, GrowableArray<PointValue>& points) {
    portals_.clear();
    const std::span<const std::uint32_t> route = nodes();
    for (std::size_t k = 0; k < route_edges_.size(); ++k) {
        const EdgeRef edge = route_edges_[k];
        portals_.push_back(orient_portal(edge.left(), edge.right(), graph_.centroid(route[k]),
                                         graph_.centroid(route[k + 1])),
                           route_site);
    }
    pull_taut(from, {portals_.data(), portals_.size()}, to, points, route_site);
}

}  // namespace walkmesh
