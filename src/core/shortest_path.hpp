// The exact Euclidean shortest path between two points of a polygon mesh: a search
// over intervals of polygon sides seen from a root point (the start or a corner the
// path turns at), after Cui, Harabor and Grastien, "Compromise-free Pathfinding on a
// Navigation Mesh" (IJCAI 2017). Plain C++.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/mesh.hpp"

namespace walkmesh {

// A query the finder refuses: a polygon outside the mesh, a point whose coordinates
// the exact predicates do not support, or a point in neither its polygon nor one near
// it. `role` is "start" or "target".
struct PointFault : std::invalid_argument {
    PointFault(const std::string& message, const char* point_role)
        : std::invalid_argument(message), role(point_role) {}
    const char* role;
};

struct SearchCounts {
    // Search nodes made (those taken on at once included), put on the open list, and
    // taken off it.
    std::uint64_t generated = 0;
    std::uint64_t pushed = 0;
    std::uint64_t popped = 0;
};

// Finds shortest paths in one mesh after another, keeping its buffers: once they have
// grown, a query allocates nothing, and it resets only the entries the last one
// touched. Not shared between threads.
class ShortestPathFinder {
public:
    // The shortest path from `start` (in `start_polygon`) to `target` (in
    // `target_polygon`); the caller locates the points. A point that rounding put just
    // outside its polygon is taken in the neighbour across a side, or the next one,
    // that holds it exactly. Returns whether the target can
    // be reached; path() then holds the start, the corners the path turns at (mesh
    // vertices, exactly) and the target, or nothing when it cannot. Polygons are
    // entered only across sides the neighbour table joins.
    bool find(const MeshIndex& mesh, std::int64_t start_polygon, XY start, std::int64_t target_polygon, XY target);

    std::span<const XY> path() const noexcept { return {path_.data(), path_.size()}; }
    // The sum of the lengths of the path's segments; 0 when there is no path.
    double length() const noexcept { return length_; }
    const SearchCounts& counts() const noexcept { return counts_; }

private:
    // A line through the root that bounds what a node sees: x lies on its inner side
    // when orientation(from, to, x) >= 0 for a right bound, <= 0 for a left one.
    struct Bound {
        XY from;
        XY to;
    };
    // What the root sees through an interval of the side it enters `polygon` by. The
    // side ends at corner `side`; seen from the root, the interval's right end lies
    // towards that corner, its left end towards the one before.
    struct Node {
        Bound right;
        Bound left;
        double g;
        double f;
        std::int32_t root;
        std::int32_t polygon;  // -1: the target reached from this root at cost f
        std::int32_t side;
        std::uint8_t ends;  // right_is_corner, left_is_corner
    };
    // Roots from the start on, each with the root before it on its path.
    struct Root {
        XY point;
        double g;
        std::int32_t parent;
        std::int32_t fan;  // -1 for the start
    };
    struct Queued {
        double f;
        double g;
        std::int32_t node;
        bool goal;
    };
    // The part of a side kept by one bound or two: each end a corner of the side or
    // where a bound crosses it.
    struct Clip {
        bool right_is_corner;
        bool left_is_corner;
        Bound right;
        Bound left;
    };

    void reset(const MeshIndex& mesh);
    std::int32_t holding_polygon(std::int32_t polygon, XY point) const noexcept;
    std::int32_t mark_polygons(std::int32_t polygon, XY point, std::vector<std::uint8_t>& marks,
                               std::vector<std::int32_t>& marked);
    void expand(const Node& node);
    void turn(std::int32_t root, XY root_point, double g, std::int32_t corner, int side_sign);
    void graze(std::int32_t root, XY root_point, double g, std::int32_t from, std::int32_t to, bool at_from,
               bool at_to);
    bool dead_end(std::int32_t polygon) const noexcept;
    bool wraps_to_line(std::int32_t corner, XY root, int polygon_side) const noexcept;
    bool add_successor(std::int32_t root, XY root_point, double g, std::int32_t side, const Clip& clip);
    void add_goal(std::int32_t root, double cost);
    void push(const Node& node);
    void finish(std::int32_t root);

    const MeshIndex* mesh_ = nullptr;
    XY start_{};
    XY target_{};
    std::vector<Node> nodes_;
    std::vector<Queued> open_;
    std::vector<Root> roots_;
    std::vector<Node> pending_;
    // Per fan: the least cost at which it was made a root; reset through best_touched_.
    std::vector<double> best_;
    // Per fan: the sides turned to at that least cost, and from which root each.
    struct TurnsMade {
        std::uint8_t sides;
        XY from[2];
    };
    std::vector<TurnsMade> turns_made_;
    std::vector<std::int32_t> best_touched_;
    // Per polygon: whether it holds the target, or the start.
    std::vector<std::uint8_t> target_polygons_;
    std::vector<std::int32_t> target_marked_;
    std::vector<std::uint8_t> start_polygons_;
    std::vector<std::int32_t> start_marked_;
    // Per corner of the polygon being expanded, in order from the entry side's end.
    std::vector<std::int32_t> chain_;
    std::vector<std::int8_t> right_side_;
    std::vector<std::int8_t> left_side_;
    std::vector<XY> path_;
    double length_ = 0.0;
    SearchCounts counts_;
};

}  // namespace walkmesh
