// Point location over convex polygons: which polygon holds a point, the nearest point
// of the polygons to a point, and whether two polygons overlap. A bounding-volume
// hierarchy over the polygons' boxes answers all three, and a grid of cells listing
// the polygons that reach into each answers location faster. Both are sized by the
// polygon count whatever the polygons' extent (the grid has at most four cells a
// polygon, and is left out when its lists would outgrow a fixed multiple of the
// polygon count), and are built once per mesh. Plain C++.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace walkmesh {

struct PlanePoint {
    double x;
    double y;
};

// Convex counter-clockwise polygons over a vertex array, read while the locator is
// built and never kept: polygon p has the corners corners[offsets[p]] ..
// corners[offsets[p + 1] - 1], vertex v lies at (vertices[2v], vertices[2v + 1]).
struct PolygonsView {
    std::span<const double> vertices;
    std::span<const std::int64_t> offsets;
    std::span<const std::int64_t> corners;
};

struct NearestPoint {
    PlanePoint point;      // the nearest point of the polygons
    std::int64_t polygon;  // its polygon, -1 when none lies within the distance asked
    double distance;
};

class PolygonLocator {
public:
    // Copies the corner points and builds the hierarchy. std::invalid_argument for
    // offsets that do not ascend from 0 to the corner count or a corner outside the
    // vertices; the polygons' shape is the caller's to check.
    explicit PolygonLocator(const PolygonsView& polygons);

    std::int64_t polygon_count() const noexcept { return static_cast<std::int64_t>(offsets_.size()) - 1; }

    // The lowest-index polygon holding `point`, its boundary included, -1 for none.
    // Holding means: for every side from a to b,
    // (b.x - a.x)(p.y - a.y) - (b.y - a.y)(p.x - a.x) >= 0 in double precision.
    std::int64_t locate(PlanePoint point) const noexcept;

    // The point itself when a polygon holds it (distance 0, that polygon); otherwise
    // the nearest point of any polygon's boundary within `max_distance`, of the
    // lowest-index polygon among equally near ones.
    NearestPoint nearest(PlanePoint point, double max_distance) const noexcept;

    // The first pair (i, j), i < j, in order of i then j, of polygons whose insides
    // overlap: no side of either has the other on its outer side. A corner counts as
    // on a side within `tolerance` of its line, and within the rounding of the cross
    // product that decides it.
    std::optional<std::pair<std::int64_t, std::int64_t>> first_overlap(double tolerance) const;

    // The same, among the pairs `counts` accepts (pairs apart in height are not an
    // overlap of a layered mesh).
    std::optional<std::pair<std::int64_t, std::int64_t>> first_overlap(
        double tolerance, const std::function<bool(std::int64_t, std::int64_t)>& counts) const;

    // Every pair (i, j), i < j, whose insides overlap by the rule of first_overlap.
    std::vector<std::pair<std::int64_t, std::int64_t>> overlapping_pairs(double tolerance) const;

    // Calls visit(polygon) for every polygon that holds `point` by the rule of
    // locate(), in no set order.
    template <class Visit>
    void each_holder(PlanePoint point, Visit&& visit) const;

    // Calls visit(polygon) for the polygons whose boxes lie within sqrt(bound) of
    // `point` (nearer branches first); visit may lower `bound` as it finds nearer ones.
    template <class Visit>
    void each_near(PlanePoint point, double& bound, Visit&& visit) const;

    // Polygon p's corners are corner(corners_begin(p)) .. corner(corners_end(p) - 1),
    // counter-clockwise, numbered as the corners of the polygons given.
    std::int64_t corners_begin(std::int64_t polygon) const noexcept { return offsets_[polygon]; }
    std::int64_t corners_end(std::int64_t polygon) const noexcept { return offsets_[polygon + 1]; }
    PlanePoint corner(std::int64_t k) const noexcept { return points_[k]; }

    // Whether `polygon` holds `point` by the rule of locate().
    bool contains(std::int64_t polygon, PlanePoint point) const noexcept;

    // Bytes the locator holds, for the benchmarks.
    std::size_t bytes() const noexcept;

private:
    struct Box {
        double min_x, min_y, max_x, max_y;
        bool holds(PlanePoint p) const noexcept {
            return p.x >= min_x && p.x <= max_x && p.y >= min_y && p.y <= max_y;
        }
        bool meets(const Box& other) const noexcept {
            return min_x <= other.max_x && other.min_x <= max_x && min_y <= other.max_y && other.min_y <= max_y;
        }
        double squared_distance(PlanePoint p) const noexcept;
    };
    struct Node {
        Box box;
        // The lowest polygon index below this node: a search that already holds a
        // lower one skips it.
        std::int64_t lowest;
        // A leaf holds polygons order_[first .. first + count - 1]; an inner node has
        // its first child right after it and its second at `first`.
        std::int64_t first;
        std::int32_t count;
    };

    template <class Visit>
    void each_pair_candidate(std::int64_t polygon, Visit&& visit) const;
    std::int64_t build(std::int64_t begin, std::int64_t end, std::vector<PlanePoint>& centres);
    void build_grid();
    std::int64_t locate_in_tree(PlanePoint point) const noexcept;
    bool grid_cell(PlanePoint point, std::int64_t& cell) const noexcept;
    bool separated(std::int64_t a, std::int64_t b, double tolerance) const noexcept;
    double nearest_on_boundary(std::int64_t polygon, PlanePoint point, PlanePoint& nearest) const noexcept;

    std::vector<PlanePoint> points_;     // corner points, polygon after polygon
    std::vector<std::int64_t> offsets_;  // into points_
    std::vector<Box> boxes_;             // per polygon, widened by what rounding may stray
    std::vector<Box> exact_boxes_;       // per polygon
    std::vector<std::int64_t> order_;    // polygon indices, leaf after leaf
    std::vector<Node> nodes_;
    // The grid: cell (column, row) lists cell_polygons_[cell_start_[c] .. cell_start_[c + 1]),
    // ascending, with c = row * columns_ + column. Empty when left out.
    Box grid_box_{};
    double cell_width_ = 1.0, cell_height_ = 1.0;
    std::int64_t columns_ = 0, rows_ = 0;
    std::vector<std::int64_t> cell_start_;
    std::vector<std::int32_t> cell_polygons_;
    // Per cell: the polygon that holds all of it and is its lowest-index candidate,
    // -1 for a cell without candidates, -2 where the candidates must be tested.
    std::vector<std::int32_t> cell_answer_;
};

template <class Visit>
void PolygonLocator::each_holder(PlanePoint point, Visit&& visit) const {
    if (columns_ != 0) {
        std::int64_t cell = 0;
        if (!grid_cell(point, cell)) {
            return;
        }
        for (std::int64_t k = cell_start_[cell]; k < cell_start_[cell + 1]; ++k) {
            const std::int64_t p = cell_polygons_[k];
            if (boxes_[p].holds(point) && contains(p, point)) {
                visit(p);
            }
        }
        return;
    }
    if (nodes_.empty()) {
        return;
    }
    std::int64_t stack[128];
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const Node& node = nodes_[stack[--top]];
        if (!node.box.holds(point)) {
            continue;
        }
        if (node.count == 0) {
            stack[top++] = node.first;
            stack[top++] = &node - nodes_.data() + 1;
            continue;
        }
        for (std::int64_t k = node.first; k < node.first + node.count; ++k) {
            const std::int64_t p = order_[k];
            if (boxes_[p].holds(point) && contains(p, point)) {
                visit(p);
            }
        }
    }
}

template <class Visit>
void PolygonLocator::each_near(PlanePoint point, double& bound, Visit&& visit) const {
    if (nodes_.empty()) {
        return;
    }
    std::int64_t stack[128];
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const Node& node = nodes_[stack[--top]];
        if (node.box.squared_distance(point) > bound) {
            continue;
        }
        if (node.count == 0) {
            const std::int64_t first = &node - nodes_.data() + 1;
            const std::int64_t second = node.first;
            const bool first_nearer =
                nodes_[first].box.squared_distance(point) <= nodes_[second].box.squared_distance(point);
            stack[top++] = first_nearer ? second : first;
            stack[top++] = first_nearer ? first : second;
            continue;
        }
        for (std::int64_t k = node.first; k < node.first + node.count; ++k) {
            const std::int64_t p = order_[k];
            if (boxes_[p].squared_distance(point) <= bound) {
                visit(p);
            }
        }
    }
}

}  // namespace walkmesh
