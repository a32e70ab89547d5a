// find_path's search: tables made for each call and released with it, and the walk
// that turns the predecessor table into portal midpoints.
#include "walkmesh/search.hpp"

namespace walkmesh {
namespace {

struct SearchTables {
    Table<std::uint32_t> best_cost;
    Table<Predecessor> came_from;
};

// Both sizes are checked before either table is allocated, so an impossible node
// count fails with "capacity overflow" rather than an allocation failure.
SearchTables create_tables(std::size_t node_count) {
    checked_byte_size(node_count, sizeof(Predecessor), alignof(Predecessor), Site::search_tables);
    checked_byte_size(node_count, sizeof(std::uint32_t), alignof(std::uint32_t), Site::search_tables);
    return {Table<std::uint32_t>::filled(node_count, unreached_cost, Site::search_tables),
            Table<Predecessor>::zeroed(node_count, Site::search_tables)};
}

// Every expansion is allowed and nothing is logged.
struct PlainPolicy {
    static constexpr bool budgeted = false;
    static constexpr bool logs_reached = false;

    bool may_expand() noexcept { return true; }
    void expanded(std::uint32_t, std::uint32_t) noexcept {}
    void reached_node(std::uint32_t) noexcept {}
};

}  // namespace

// The tables are created before any index is tested, and released after the walk.
std::optional<PointList> search_path(const Graph& graph, std::uint32_t start, std::uint32_t target) {
    SearchTables tables = create_tables(graph.node_count());
    OpenQueue open;
    PlainPolicy policy;
    const SearchEnd end =
        run_search(graph, start, target, tables.best_cost.data(), tables.came_from.data(), open, policy);
    if (end != SearchEnd::reached) {
        return std::nullopt;
    }
    return walk_path(graph, tables.came_from.span(), start, target);
}

PointList walk_path(const Graph& graph, std::span<const Predecessor> came_from, std::uint32_t start,
                    std::uint32_t target) {
    PointList points;
    walk_back(graph, came_from, start, target, [&](std::uint32_t, std::uint32_t, EdgeRef edge) {
        points.push_back(midpoint(edge.left(), edge.right()), Site::route_points);
    });
    points.reverse();
    return points;
}

}  // namespace walkmesh
