// The companion's routes: the shared search and walk under a policy that reuses the
// tables, counts expansions against a budget and keeps the closest expanded node.
#include "core/route.hpp"
#include <algorithm>
namespace walkmesh {

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
};

void RouteFinder::bind(const Graph& graph) {
    graph_ = graph;
    const std::size_t node_count = graph.node_count();
    if (node_count <= capacity_) {
        return;
    }
    // Sized before anything is allocated, so that an impossible size is refused whole.
    checked_byte_size(node_count, route_finder_bytes_per_node, alignof(Predecessor), Site::route);
    best_cost_ = Table<std::uint32_t>();
    came_from_ = Table<Predecessor>();
    touched_ = Table<std::uint32_t>();
    capacity_ = 0;
    touched_count_ = 0;
    best_cost_ = Table<std::uint32_t>::filled(node_count, unreached_cost, Site::route);
    came_from_ = Table<Predecessor>::zeroed(node_count, Site::route);
    touched_ = Table<std::uint32_t>::uninitialised(node_count, Site::route);
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
        route_nodes_.push_back(start, Site::route);
        return;
    }
    walk_back(graph_, came_from_.span(), start, end, [&](std::uint32_t, std::uint32_t current, EdgeRef edge) {
        route_nodes_.push_back(current, Site::route);
        route_edges_.push_back(edge, Site::route);
    });
    route_nodes_.push_back(start, Site::route);
    route_nodes_.reverse();
    route_edges_.reverse();
}

void RouteFinder::append_midpoints(GrowableArray<PointValue>& points) const {
    for (const EdgeRef edge : edges()) {
        points.push_back(midpoint(edge.left(), edge.right()), Site::route);
    }
}

void RouteFinder::append_straight_path(PointValue from, PointValue to, GrowableArray<PointValue>& points) {
    portals_.clear();
    const std::span<const std::uint32_t> route = nodes();
    for (std::size_t k = 0; k < route_edges_.size(); ++k) {
        const EdgeRef edge = route_edges_[k];
        portals_.push_back(orient_portal(edge.left(), edge.right(), graph_.centroid(route[k]),
                                         graph_.centroid(route[k + 1])),
                           Site::route);
    }
    pull_taut(from, {portals_.data(), portals_.size()}, to, points, Site::route);
}

}  // namespace walkmesh
