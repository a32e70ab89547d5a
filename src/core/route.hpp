// Routes for the companion package: the search of find_path run with tables kept from
// one query to the next, an expansion budget and partial routes, giving the route as
// its nodes and the edges it crosses; and the two ways of turning a route into points
// (portal midpoints, or the straight path). Faults go to the fault hook.
#pragma once

#include <cstdint>
#include <span>

#include "core/search.hpp"
#include "core/funnel.hpp"

namespace walkmesh {

struct RouteOptions {
    // Expansions the search may make; superseded queue entries do not count.
    std::uint64_t max_expansions = UINT64_MAX;
    // Without the target: the route to the expanded node closest to it by the
    // estimate (the first expanded of equals; the start when none was expanded).
    bool partial = false;
};

// Where a route ends.
enum class RouteEnd {
    target,   // the target was reached
    partial,  // the closest node (options.partial)
    none,     // no route
};

// Runs searches, reusing its tables from one query to the next: a query resets only
// the entries the previous one touched, unless that was most of them. Not shared
// between threads.
class RouteFinder {
public:
    // Searches from here on read `graph`; the tables grow when it has more nodes than
    // any graph before.
    void bind(const Graph& graph);

    // The route from `start` towards `target` in the bound graph; afterwards nodes()
    // and edges() hold it.
    RouteEnd find(std::uint32_t start, std::uint32_t target, const RouteOptions& options);

    // The route's nodes from the start on, and the edge crossed after each but the last.
    std::span<const std::uint32_t> nodes() const noexcept { return {route_nodes_.data(), route_nodes_.size()}; }
    std::span<const EdgeRef> edges() const noexcept { return {route_edges_.data(), route_edges_.size()}; }
    // Expansions of the last search.
    std::uint64_t expansions() const noexcept { return expansions_; }

    // The route's portal midpoints, each as find_path computes it, appended to `points`.
    void append_midpoints(GrowableArray<PointValue>& points) const;
    // The straight path of the route from `from` to `to`, appended to `points`.
    void append_straight_path(PointValue from, PointValue to, GrowableArray<PointValue>& points);
    // The centroid of a node of the route.
    PointValue centroid(std::uint32_t node) const noexcept { return graph_.centroid(node); }

private:
    void reset_tables() noexcept;
    template <bool Bounded>
    RouteEnd search(std::uint32_t start, std::uint32_t target, const RouteOptions& options);
    void record_route(std::uint32_t start, std::uint32_t end);

    Graph graph_{nullptr, 0, nullptr, 0};
    // Entries of the tables.
    std::size_t capacity_ = 0;
    Table<std::uint32_t> best_cost_;
    Table<Predecessor> came_from_;
    // The nodes whose best_cost the last search set.
    Table<std::uint32_t> touched_;
    std::size_t touched_count_ = 0;
    OpenQueue open_;
    GrowableArray<std::uint32_t> route_nodes_;
    GrowableArray<EdgeRef> route_edges_;
    GrowableArray<SidedPortal> portals_;
    std::uint64_t expansions_ = 0;
};

// Bytes a RouteFinder holds per node of its graph, besides its queue and route.
inline constexpr std::size_t route_finder_bytes_per_node =
    2 * sizeof(std::uint32_t) + sizeof(Predecessor);

}  // namespace walkmesh
