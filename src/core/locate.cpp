// Point location over convex polygons (see locate.hpp).
#include "core/locate.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace walkmesh {
namespace {

constexpr std::int32_t leaf_size = 4;
// Cells of the grid per polygon, and the most list entries per polygon it may hold.
constexpr double cells_per_polygon = 4.0;
constexpr std::int64_t entries_per_polygon = 32;
// Deeper than any hierarchy of median splits over 2^63 polygons.
constexpr int stack_depth = 128;

// The side test of locate(): not negative when `p` lies on the inner side of a -> b
// or on it. Written out so that every product and difference rounds as NumPy's would.
inline double side_cross(PlanePoint a, PlanePoint b, PlanePoint p) noexcept {
    const double first = (b.x - a.x) * (p.y - a.y);
    const double second = (b.y - a.y) * (p.x - a.x);
    return first - second;
}

}  // namespace

double PolygonLocator::Box::squared_distance(PlanePoint p) const noexcept {
    const double dx = p.x < min_x ? min_x - p.x : (p.x > max_x ? p.x - max_x : 0.0);
    const double dy = p.y < min_y ? min_y - p.y : (p.y > max_y ? p.y - max_y : 0.0);
    return dx * dx + dy * dy;
}

PolygonLocator::PolygonLocator(const PolygonsView& polygons) {
    if (polygons.vertices.size() % 2 != 0) {
        throw std::invalid_argument("vertices must hold an x and a y per vertex");
    }
    if (polygons.offsets.empty() || polygons.offsets.front() != 0 ||
        polygons.offsets.back() != static_cast<std::int64_t>(polygons.corners.size())) {
        throw std::invalid_argument("polygon offsets must run from 0 to the number of corners");
    }
    const std::int64_t vertex_count = static_cast<std::int64_t>(polygons.vertices.size() / 2);
    const std::int64_t count = static_cast<std::int64_t>(polygons.offsets.size()) - 1;
    offsets_.assign(polygons.offsets.begin(), polygons.offsets.end());
    points_.resize(polygons.corners.size());
    boxes_.resize(static_cast<std::size_t>(count));
    exact_boxes_.resize(static_cast<std::size_t>(count));
    std::vector<PlanePoint> centres(static_cast<std::size_t>(count));
    for (std::int64_t p = 0; p < count; ++p) {
        const std::int64_t begin = offsets_[p];
        const std::int64_t end = offsets_[p + 1];
        if (end <= begin) {
            throw std::invalid_argument("polygon " + std::to_string(p) + " has no corners");
        }
        Box box{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
                -std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
        for (std::int64_t k = begin; k < end; ++k) {
            const std::int64_t vertex = polygons.corners[k];
            if (vertex < 0 || vertex >= vertex_count) {
                throw std::invalid_argument("polygon " + std::to_string(p) + " refers to vertex " +
                                            std::to_string(vertex) + ", outside the vertices");
            }
            const PlanePoint point{polygons.vertices[2 * vertex], polygons.vertices[2 * vertex + 1]};
            points_[k] = point;
            box.min_x = std::min(box.min_x, point.x);
            box.min_y = std::min(box.min_y, point.y);
            box.max_x = std::max(box.max_x, point.x);
            box.max_y = std::max(box.max_y, point.y);
        }
        exact_boxes_[p] = box;
        // Near a very sharp corner the rounded side tests may hold a point a little
        // outside the box; widen it by far more than that, relative to its own size.
        const double slack = 1e-9 * ((box.max_x - box.min_x) + (box.max_y - box.min_y)) +
                             std::numeric_limits<double>::denorm_min();
        boxes_[p] = {box.min_x - slack, box.min_y - slack, box.max_x + slack, box.max_y + slack};
        centres[p] = {0.5 * (box.min_x + box.max_x), 0.5 * (box.min_y + box.max_y)};
    }
    order_.resize(static_cast<std::size_t>(count));
    for (std::int64_t p = 0; p < count; ++p) {
        order_[p] = p;
    }
    if (count > 0) {
        nodes_.reserve(static_cast<std::size_t>(2 * (count / leaf_size) + 1));
        build(0, count, centres);
        build_grid();
    }
}

void PolygonLocator::build_grid() {
    const std::int64_t count = polygon_count();
    if (count >= std::numeric_limits<std::int32_t>::max()) {
        return;
    }
    grid_box_ = nodes_[0].box;
    const double width = grid_box_.max_x - grid_box_.min_x;
    const double height = grid_box_.max_y - grid_box_.min_y;
    const double cells = cells_per_polygon * static_cast<double>(count);
    // Square cells where the extent allows, never more than `cells` of them: a sliver
    // gets one row.
    const double side = std::sqrt(width * height / cells);
    const double wanted_columns = side > 0 ? std::ceil(width / side) : cells;
    columns_ = static_cast<std::int64_t>(std::clamp(wanted_columns, 1.0, cells));
    const double wanted_rows = side > 0 ? std::ceil(height / side) : 1.0;
    rows_ = static_cast<std::int64_t>(std::clamp(wanted_rows, 1.0, std::max(1.0, std::floor(cells / columns_))));
    cell_width_ = width > 0 ? width / static_cast<double>(columns_) : 1.0;
    cell_height_ = height > 0 ? height / static_cast<double>(rows_) : 1.0;
    if (!std::isfinite(cell_width_) || !std::isfinite(cell_height_) || cell_width_ <= 0 || cell_height_ <= 0) {
        columns_ = rows_ = 0;
        return;
    }
    const std::int64_t limit = entries_per_polygon * count + 1024;
    // Counted, then filled: each polygon goes to the cells its box meets, unless one of
    // its sides has the whole cell (widened past what rounding may stray) outside.
    const auto each_cell = [&](std::int64_t p, auto&& visit) {
        const Box& box = boxes_[p];
        PlanePoint low_point{box.min_x, box.min_y}, high_point{box.max_x, box.max_y};
        std::int64_t c0 = 0, r0 = 0, c1 = 0, r1 = 0, cell = 0;
        grid_cell(low_point, cell);
        c0 = cell % columns_, r0 = cell / columns_;
        grid_cell(high_point, cell);
        c1 = cell % columns_, r1 = cell / columns_;
        const double slack_x = 1e-9 * cell_width_, slack_y = 1e-9 * cell_height_;
        for (std::int64_t r = r0; r <= r1; ++r) {
            for (std::int64_t c = c0; c <= c1; ++c) {
                const double x0 = grid_box_.min_x + static_cast<double>(c) * cell_width_ - slack_x;
                const double y0 = grid_box_.min_y + static_cast<double>(r) * cell_height_ - slack_y;
                const double x1 = x0 + cell_width_ + 2 * slack_x, y1 = y0 + cell_height_ + 2 * slack_y;
                bool apart = false;
                PlanePoint a = points_[offsets_[p + 1] - 1];
                for (std::int64_t k = offsets_[p]; k < offsets_[p + 1] && !apart; ++k) {
                    const PlanePoint b = points_[k];
                    const double margin = 1e-9 * (std::fabs(b.x - a.x) + std::fabs(b.y - a.y)) *
                                          (cell_width_ + cell_height_);
                    apart = side_cross(a, b, {x0, y0}) < -margin && side_cross(a, b, {x1, y0}) < -margin &&
                            side_cross(a, b, {x0, y1}) < -margin && side_cross(a, b, {x1, y1}) < -margin;
                    a = b;
                }
                if (!apart) {
                    visit(r * columns_ + c);
                }
            }
        }
    };
    std::vector<std::int64_t> starts(static_cast<std::size_t>(columns_ * rows_ + 1), 0);
    std::int64_t total = 0;
    for (std::int64_t p = 0; p < count && total <= limit; ++p) {
        each_cell(p, [&](std::int64_t cell) {
            ++starts[cell + 1];
            ++total;
        });
    }
    if (total > limit) {
        // Polygons that reach across many cells each: the hierarchy alone answers.
        columns_ = rows_ = 0;
        return;
    }
    for (std::size_t c = 1; c < starts.size(); ++c) {
        starts[c] += starts[c - 1];
    }
    cell_polygons_.resize(static_cast<std::size_t>(total));
    std::vector<std::int64_t> fill(starts.begin(), starts.end() - 1);
    // Polygons in ascending order, so each cell's list ascends.
    for (std::int64_t p = 0; p < count; ++p) {
        each_cell(p, [&](std::int64_t cell) { cell_polygons_[fill[cell]++] = static_cast<std::int32_t>(p); });
    }
    cell_start_ = std::move(starts);
    // A cell wholly inside its lowest-index candidate, with a margin rounding cannot
    // cross, answers that candidate for every point it can receive.
    cell_answer_.assign(static_cast<std::size_t>(columns_ * rows_), -2);
    const double slack_x = 1e-9 * cell_width_, slack_y = 1e-9 * cell_height_;
    for (std::int64_t cell = 0; cell < columns_ * rows_; ++cell) {
        if (cell_start_[cell] == cell_start_[cell + 1]) {
            cell_answer_[cell] = -1;
            continue;
        }
        const std::int64_t p = cell_polygons_[cell_start_[cell]];
        const double x0 = grid_box_.min_x + static_cast<double>(cell % columns_) * cell_width_ - slack_x;
        const double y0 = grid_box_.min_y + static_cast<double>(cell / columns_) * cell_height_ - slack_y;
        const double x1 = x0 + cell_width_ + 2 * slack_x, y1 = y0 + cell_height_ + 2 * slack_y;
        bool inside = true;
        PlanePoint a = points_[offsets_[p + 1] - 1];
        for (std::int64_t k = offsets_[p]; k < offsets_[p + 1] && inside; ++k) {
            const PlanePoint b = points_[k];
            const double margin = 1e-9 * (std::fabs(b.x - a.x) + std::fabs(b.y - a.y)) * (cell_width_ + cell_height_);
            inside = side_cross(a, b, {x0, y0}) > margin && side_cross(a, b, {x1, y0}) > margin &&
                     side_cross(a, b, {x0, y1}) > margin && side_cross(a, b, {x1, y1}) > margin;
            a = b;
        }
        if (inside) {
            cell_answer_[cell] = static_cast<std::int32_t>(p);
        }
    }
}

bool PolygonLocator::grid_cell(PlanePoint point, std::int64_t& cell) const noexcept {
    if (!grid_box_.holds(point)) {
        return false;
    }
    // One expression for boxes and points: a point inside a box falls in one of its cells.
    const double column = std::floor((point.x - grid_box_.min_x) / cell_width_);
    const double row = std::floor((point.y - grid_box_.min_y) / cell_height_);
    const std::int64_t c = std::clamp(static_cast<std::int64_t>(column), std::int64_t{0}, columns_ - 1);
    const std::int64_t r = std::clamp(static_cast<std::int64_t>(row), std::int64_t{0}, rows_ - 1);
    cell = r * columns_ + c;
    return true;
}

// Splits order_[begin .. end) at the median of the box centres along the wider
// spread; returns the new node's index.
std::int64_t PolygonLocator::build(std::int64_t begin, std::int64_t end, std::vector<PlanePoint>& centres) {
    const std::int64_t index = static_cast<std::int64_t>(nodes_.size());
    nodes_.push_back({});
    Box box = boxes_[order_[begin]];
    std::int64_t lowest = order_[begin];
    double low_x = centres[order_[begin]].x, high_x = low_x;
    double low_y = centres[order_[begin]].y, high_y = low_y;
    for (std::int64_t k = begin; k < end; ++k) {
        const std::int64_t p = order_[k];
        const Box& b = boxes_[p];
        box = {std::min(box.min_x, b.min_x), std::min(box.min_y, b.min_y), std::max(box.max_x, b.max_x),
               std::max(box.max_y, b.max_y)};
        lowest = std::min(lowest, p);
        low_x = std::min(low_x, centres[p].x);
        high_x = std::max(high_x, centres[p].x);
        low_y = std::min(low_y, centres[p].y);
        high_y = std::max(high_y, centres[p].y);
    }
    if (end - begin <= leaf_size) {
        nodes_[index] = {box, lowest, begin, static_cast<std::int32_t>(end - begin)};
        return index;
    }
    const bool by_x = high_x - low_x >= high_y - low_y;
    const std::int64_t middle = begin + (end - begin) / 2;
    std::nth_element(order_.begin() + begin, order_.begin() + middle, order_.begin() + end,
                     [&](std::int64_t a, std::int64_t b) {
                         return by_x ? centres[a].x < centres[b].x : centres[a].y < centres[b].y;
                     });
    build(begin, middle, centres);
    const std::int64_t second = build(middle, end, centres);
    nodes_[index] = {box, lowest, second, 0};
    return index;
}

bool PolygonLocator::contains(std::int64_t polygon, PlanePoint point) const noexcept {
    const std::int64_t begin = offsets_[polygon];
    const std::int64_t end = offsets_[polygon + 1];
    PlanePoint a = points_[end - 1];
    for (std::int64_t k = begin; k < end; ++k) {
        const PlanePoint b = points_[k];
        if (!(side_cross(a, b, point) >= 0.0)) {
            return false;
        }
        a = b;
    }
    return true;
}

std::int64_t PolygonLocator::locate(PlanePoint point) const noexcept {
    if (columns_ == 0) {
        return locate_in_tree(point);
    }
    std::int64_t cell = 0;
    if (!grid_cell(point, cell)) {
        return -1;
    }
    if (cell_answer_[cell] != -2) {
        return cell_answer_[cell];
    }
    for (std::int64_t k = cell_start_[cell]; k < cell_start_[cell + 1]; ++k) {
        const std::int64_t p = cell_polygons_[k];
        if (boxes_[p].holds(point) && contains(p, point)) {
            return p;
        }
    }
    return -1;
}

std::int64_t PolygonLocator::locate_in_tree(PlanePoint point) const noexcept {
    std::int64_t best = -1;
    if (nodes_.empty()) {
        return best;
    }
    std::int64_t stack[stack_depth];
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const Node& node = nodes_[stack[--top]];
        if ((best >= 0 && node.lowest >= best) || !node.box.holds(point)) {
            continue;
        }
        if (node.count == 0) {
            stack[top++] = node.first;
            stack[top++] = &node - nodes_.data() + 1;
            continue;
        }
        for (std::int64_t k = node.first; k < node.first + node.count; ++k) {
            const std::int64_t p = order_[k];
            if ((best < 0 || p < best) && boxes_[p].holds(point) && contains(p, point)) {
                best = p;
            }
        }
    }
    return best;
}

double PolygonLocator::nearest_on_boundary(std::int64_t polygon, PlanePoint point,
                                           PlanePoint& nearest) const noexcept {
    const std::int64_t begin = offsets_[polygon];
    const std::int64_t end = offsets_[polygon + 1];
    double best = std::numeric_limits<double>::infinity();
    PlanePoint a = points_[end - 1];
    for (std::int64_t k = begin; k < end; ++k) {
        const PlanePoint b = points_[k];
        const double ex = b.x - a.x, ey = b.y - a.y;
        const double length = ex * ex + ey * ey;
        double t = length > 0.0 ? ((point.x - a.x) * ex + (point.y - a.y) * ey) / length : 0.0;
        t = std::clamp(t, 0.0, 1.0);
        // The ends exactly, so that a corner nearest to the point is that corner.
        const PlanePoint on = t == 0.0 ? a : (t == 1.0 ? b : PlanePoint{a.x + t * ex, a.y + t * ey});
        const double dx = point.x - on.x, dy = point.y - on.y;
        const double squared = dx * dx + dy * dy;
        if (squared < best) {
            best = squared;
            nearest = on;
        }
        a = b;
    }
    return best;
}

NearestPoint PolygonLocator::nearest(PlanePoint point, double max_distance) const noexcept {
    const std::int64_t inside = locate(point);
    if (inside >= 0) {
        return {point, inside, 0.0};
    }
    NearestPoint found{{std::nan(""), std::nan("")}, -1, std::numeric_limits<double>::infinity()};
    if (nodes_.empty() || !std::isfinite(point.x) || !std::isfinite(point.y) || !(max_distance >= 0.0)) {
        return found;
    }
    // Squared distances decide; a candidate at most this far is taken.
    double bound = max_distance * max_distance;
    each_near(point, bound, [&](std::int64_t p) {
        PlanePoint on{};
        const double squared = nearest_on_boundary(p, point, on);
        if (squared < bound || (squared == bound && (found.polygon < 0 || p < found.polygon))) {
            bound = squared;
            found.point = on;
            found.polygon = p;
        }
    });
    if (found.polygon >= 0) {
        found.distance = std::hypot(point.x - found.point.x, point.y - found.point.y);
    }
    return found;
}

bool PolygonLocator::separated(std::int64_t a, std::int64_t b, double tolerance) const noexcept {
    constexpr double rounding = 8 * std::numeric_limits<double>::epsilon();
    for (int pass = 0; pass < 2; ++pass) {
        const std::int64_t sides = pass == 0 ? a : b;
        const std::int64_t others = pass == 0 ? b : a;
        PlanePoint from = points_[offsets_[sides + 1] - 1];
        for (std::int64_t k = offsets_[sides]; k < offsets_[sides + 1]; ++k) {
            const PlanePoint to = points_[k];
            const double length = std::hypot(to.x - from.x, to.y - from.y);
            bool all_outside = true;
            for (std::int64_t m = offsets_[others]; m < offsets_[others + 1] && all_outside; ++m) {
                const PlanePoint q = points_[m];
                const double reach = std::fabs(q.x - from.x) + std::fabs(q.y - from.y);
                all_outside = side_cross(from, to, q) <= length * (tolerance + rounding * reach);
            }
            if (all_outside) {
                return true;
            }
            from = to;
        }
    }
    return false;
}

// Calls visit(j) for every polygon j > polygon whose box meets polygon's.
template <class Visit>
void PolygonLocator::each_pair_candidate(std::int64_t polygon, Visit&& visit) const {
    const Box& box = exact_boxes_[polygon];
    std::int64_t stack[stack_depth];
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const Node& node = nodes_[stack[--top]];
        if (!node.box.meets(box)) {
            continue;
        }
        if (node.count == 0) {
            stack[top++] = node.first;
            stack[top++] = &node - nodes_.data() + 1;
            continue;
        }
        for (std::int64_t k = node.first; k < node.first + node.count; ++k) {
            const std::int64_t j = order_[k];
            if (j > polygon && exact_boxes_[j].meets(box)) {
                visit(j);
            }
        }
    }
}

std::optional<std::pair<std::int64_t, std::int64_t>> PolygonLocator::first_overlap(double tolerance) const {
    return first_overlap(tolerance, [](std::int64_t, std::int64_t) { return true; });
}

std::optional<std::pair<std::int64_t, std::int64_t>> PolygonLocator::first_overlap(
    double tolerance, const std::function<bool(std::int64_t, std::int64_t)>& counts) const {
    const std::int64_t count = polygon_count();
    for (std::int64_t i = 0; i < count; ++i) {
        std::int64_t best = -1;
        each_pair_candidate(i, [&](std::int64_t j) {
            if ((best < 0 || j < best) && !separated(i, j, tolerance) && counts(i, j)) {
                best = j;
            }
        });
        if (best >= 0) {
            return std::pair{i, best};
        }
    }
    return std::nullopt;
}

std::vector<std::pair<std::int64_t, std::int64_t>> PolygonLocator::overlapping_pairs(double tolerance) const {
    std::vector<std::pair<std::int64_t, std::int64_t>> pairs;
    for (std::int64_t i = 0; i < polygon_count(); ++i) {
        each_pair_candidate(i, [&](std::int64_t j) {
            if (!separated(i, j, tolerance)) {
                pairs.emplace_back(i, j);
            }
        });
    }
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

std::size_t PolygonLocator::bytes() const noexcept {
    return points_.capacity() * sizeof(PlanePoint) + offsets_.capacity() * sizeof(std::int64_t) +
           (boxes_.capacity() + exact_boxes_.capacity()) * sizeof(Box) + order_.capacity() * sizeof(std::int64_t) +
           nodes_.capacity() * sizeof(Node) + cell_start_.capacity() * sizeof(std::int64_t) +
           (cell_polygons_.capacity() + cell_answer_.capacity()) * sizeof(std::int32_t);
}

}  // namespace walkmesh
