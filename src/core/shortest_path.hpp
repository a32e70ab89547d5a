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
    // entered only across sides the neighbour table joins. The points are checked
    // against the mesh's polygons; the search runs on its merged index (merged()).
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
    static Bound bound(XY root, XY point, bool reversed) noexcept {
        return reversed ? Bound{point, root} : Bound{root, point};
    }
    // What the root sees through an interval of the side it enters `polygon` by. The
    // side ends at corner `side`; seen from the root, the interval's right end lies
    // towards that corner, its left end towards the one before.
    // Its bounds pass through the root, so each is kept as its other point (64 bytes a
    // node): `right` and `left` stand for Bound{root, point}, or Bound{point, root}
    // where `ends` says the bound is reversed.
    struct Node {
        XY right;
        XY left;
        double g;
        double f;  // set by push(): a node expanded at once needs none
        std::int32_t root;
        std::int32_t polygon;  // -1: the target reached from this root at cost f
        std::int32_t side;
        std::uint8_t ends;  // right_is_corner, left_is_corner, right_reversed, left_reversed
        // On which side of the left bound the right end's corner lies, and of the right
        // bound the left end's, as expand() would find them: known when it is made.
        std::int8_t right_end_left;
        std::int8_t left_end_right;
    };
    // Roots from the start on, each with the root before it on its path.
    struct Root {
        XY point;
        double g;
        std::int32_t parent;
        std::int32_t fan;  // its vertex's fan among the turning fans (MeshIndex::turn_of), -1 for the start
    };
    // An open-list entry (16 bytes): the less f first, then a goal, then the greater g,
    // read from the node only on a tie of f. `side` is the node's (-1 for a goal), so
    // that the corners of the entry next in line can be fetched while a node expands.
    struct Queued {
        double f;
        std::int32_t node;
        std::int32_t side;
        bool goal() const noexcept { return side < 0; }
    };
    // The part of a side kept by one bound or two: each end a corner of the side or
    // where a bound crosses it.
    // Where an end is cut, the caller also says on which side of the other bound the
    // cut end's corner lies: the right end's of the left bound, the left end's of the
    // right bound (where an end is a corner, add_successor knows).
    struct Clip {
        bool right_is_corner;
        bool left_is_corner;
        Bound right;
        Bound left;
        std::int8_t right_end_left = 0;
        std::int8_t left_end_right = 0;
    };

    void reset(const MeshIndex& mesh);
    bool search(std::int32_t start_polygon, std::int32_t target_polygon);
    static std::int32_t holding_polygon(const MeshIndex& mesh, std::int32_t polygon, XY point) noexcept;
    std::int32_t mark_polygons(std::int32_t polygon, XY point, std::vector<std::uint8_t>& marks,
                               std::vector<std::int32_t>& marked);
    void expand(const Node& node);
    // A turn's walk round the new root's vertex: the new root, its cost, its point, the
    // old root's point, the kept side of the line through both, and the target's side.
    struct Sweep {
        std::int32_t root;
        double g;
        XY vertex;
        XY old_root;
        int side_sign;
        int target_side;
    };
    void turn(std::int32_t root, XY root_point, double g, std::int32_t corner, int side_sign);
    bool sweep_polygon(const Sweep& sweep, std::int32_t at, std::int32_t polygon, int& after_side, int& before_side);
    void graze(std::int32_t root, XY root_point, double g, std::int32_t from, std::int32_t to, bool at_from,
               bool at_to);
    bool leads_nowhere(std::int32_t corner) const noexcept;
    bool turns_at(std::int32_t corner) const noexcept {
        return (mesh_->corner(corner).flags & MeshIndex::turning_fan) != 0;
    }
    bool wraps_to_line(std::int32_t corner, XY root, int polygon_side) const noexcept;
    void turn_either_way(const Node& node, XY root, std::int32_t corner, int polygon_side);
    int obstacle_side(std::int32_t corner, XY root) const noexcept;
    bool add_successor(std::int32_t root, XY root_point, double g, std::int32_t side, const Clip& clip);
    void add_goal(std::int32_t root, double cost);
    // The side a successor enters by, from its right end's corner to its left's, as the
    // polygon it leaves has them: push() then need not read the new polygon's corners.
    struct Side {
        XY a;
        XY b;
    };
    void push(const Node& node, const Side& side);
    bool after(const Queued& a, const Queued& b) const noexcept {
        if (a.f != b.f) {
            return a.f > b.f;
        }
        if (a.goal() != b.goal()) {
            return b.goal();
        }
        return nodes_[a.node].g < nodes_[b.node].g;
    }
    void sift_up(std::size_t hole, Queued entry) noexcept;
    Queued pop_first() noexcept;
    void finish(std::int32_t root);

    const MeshIndex* mesh_ = nullptr;
    XY start_{};
    XY target_{};
    std::vector<Node> nodes_;
    std::vector<Queued> open_;
    std::vector<Root> roots_;
    std::vector<Node> pending_;
    std::vector<Side> pending_sides_;
    // Per turning fan (MeshIndex::turn_of): the least cost at which its vertex was
    // reached, and from which root it was turned at to the right and to the left at that
    // cost (the root's fan, -1 for the start, not_turned); reset through best_touched_.
    // 16 bytes.
    static constexpr std::int32_t not_turned = -2;
    struct FanState {
        double best;
        std::int32_t from[2];
    };
    std::vector<FanState> fans_;
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
