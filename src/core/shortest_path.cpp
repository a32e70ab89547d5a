// The interval search. A node is a root (a point the path has reached, with its
// cost) and the part of a polygon side it sees, bounded by two lines through the
// root; expanding it into the polygon behind that side gives the parts of the
// polygon's other sides the root sees (same root), and, where an end of the interval
// is a corner the path may turn at, what lies beyond the bounding line as seen from
// that corner, which becomes the new root. Every decision of which side of a line a
// point lies on is an exact orientation test on input points (mesh vertices, the
// start, the target): bounding lines are kept as two such points, never as computed
// crossings, which are used only for the estimates. Sides that lie on a line through
// the root are never searched across: nothing is seen through them, and what lies
// beyond is reached round the corners at their ends.
#include "core/shortest_path.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace walkmesh {
namespace {

constexpr std::uint8_t right_is_corner = 1;
constexpr std::uint8_t left_is_corner = 2;
constexpr double unreached = std::numeric_limits<double>::infinity();

double distance(XY a, XY b) noexcept {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    return std::sqrt(dx * dx + dy * dy);
}

double cross(XY origin, XY a, XY b) noexcept {
    return (a.x - origin.x) * (b.y - origin.y) - (a.y - origin.y) * (b.x - origin.x);
}

// Where the line through `from` and `to` meets the side from a to b (rounded).
XY crossing(XY from, XY to, XY a, XY b) noexcept {
    const double at_a = cross(from, to, a);
    const double at_b = cross(from, to, b);
    double t = at_a / (at_a - at_b);
    if (!(t > 0.0)) {
        t = 0.0;
    } else if (t > 1.0) {
        t = 1.0;
    }
    return {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
}

// A lower bound on the length of a path from `root` through the interval from `right`
// to `left` of the side from a to b (the root lies to the side's left) to `target`:
// the straight line where that passes through the interval, else the way round its
// nearer end. A target on the root's side of the side's line is first mirrored across
// it: such a path crosses the line and comes back, and the mirror image of the part
// after the crossing has the same length.
double estimate(XY root, XY right, XY left, XY a, XY b, XY target) noexcept {
    XY goal = target;
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    if (dx * (target.y - a.y) - dy * (target.x - a.x) > 0.0) {
        const double along = (dx * (target.x - a.x) + dy * (target.y - a.y)) / (dx * dx + dy * dy);
        const XY foot{a.x + along * dx, a.y + along * dy};
        goal = {2.0 * foot.x - target.x, 2.0 * foot.y - target.y};
    }
    if (cross(root, right, goal) < 0.0) {
        return distance(root, right) + distance(right, goal);
    }
    if (cross(root, left, goal) > 0.0) {
        return distance(root, left) + distance(left, goal);
    }
    return distance(root, goal);
}

// Whether `point`, on the line from `root` through `vertex`, lies beyond the vertex
// (exact: it compares coordinates).
bool continues(XY root, XY vertex, XY point) noexcept {
    const auto sign = [](double from, double to) { return (to > from) - (to < from); };
    return sign(vertex.x, point.x) == sign(root.x, vertex.x) && sign(vertex.y, point.y) == sign(root.y, vertex.y);
}

bool on_segment(XY point, XY a, XY b) noexcept {
    return orientation(a, b, point) == 0 && std::min(a.x, b.x) <= point.x && point.x <= std::max(a.x, b.x) &&
           std::min(a.y, b.y) <= point.y && point.y <= std::max(a.y, b.y);
}

std::string point_text(XY point) {
    std::string text = "(";
    text += std::to_string(point.x);
    text += ", ";
    text += std::to_string(point.y);
    text += ")";
    return text;
}

}  // namespace

void ShortestPathFinder::reset(const MeshIndex& mesh) {
    // Every entry a query set is listed, so the tables are clean for any mesh after this.
    for (const std::int32_t fan : best_touched_) {
        if (static_cast<std::size_t>(fan) < best_.size()) {
            best_[fan] = unreached;
        }
    }
    for (const std::int32_t polygon : target_marked_) {
        if (static_cast<std::size_t>(polygon) < target_polygons_.size()) {
            target_polygons_[polygon] = 0;
        }
    }
    for (const std::int32_t polygon : start_marked_) {
        if (static_cast<std::size_t>(polygon) < start_polygons_.size()) {
            start_polygons_[polygon] = 0;
        }
    }
    best_touched_.clear();
    target_marked_.clear();
    start_marked_.clear();
    best_.resize(static_cast<std::size_t>(mesh.fan_count()), unreached);
    turns_made_.resize(static_cast<std::size_t>(mesh.fan_count()));
    target_polygons_.resize(static_cast<std::size_t>(mesh.polygon_count()), 0);
    start_polygons_.resize(static_cast<std::size_t>(mesh.polygon_count()), 0);
    const std::size_t corners = static_cast<std::size_t>(mesh.max_polygon_size());
    if (chain_.size() < corners) {
        chain_.resize(corners);
        right_side_.resize(corners);
        left_side_.resize(corners);
    }
    nodes_.clear();
    open_.clear();
    roots_.clear();
    pending_.clear();
    path_.clear();
    length_ = 0.0;
    counts_ = {};
    mesh_ = &mesh;
}

std::int32_t ShortestPathFinder::holding_polygon(std::int32_t polygon, XY point) const noexcept {
    const MeshIndex& mesh = *mesh_;
    if (mesh.contains(polygon, point)) {
        return polygon;
    }
    for (std::int32_t c = mesh.first(polygon); c < mesh.end(polygon); ++c) {
        const std::int32_t near = mesh.neighbour(c);
        if (near < 0) {
            continue;
        }
        if (mesh.contains(near, point)) {
            return near;
        }
        for (std::int32_t d = mesh.first(near); d < mesh.end(near); ++d) {
            if (mesh.neighbour(d) >= 0 && mesh.contains(mesh.neighbour(d), point)) {
                return mesh.neighbour(d);
            }
        }
    }
    return -1;
}

// Marks the polygons that hold `point`, reached from `polygon` across the sides the
// point lies on; returns how many.
std::int32_t ShortestPathFinder::mark_polygons(std::int32_t polygon, XY point, std::vector<std::uint8_t>& marks,
                                               std::vector<std::int32_t>& marked) {
    const MeshIndex& mesh = *mesh_;
    marks[polygon] = 1;
    marked.push_back(polygon);
    for (std::size_t i = 0; i < marked.size(); ++i) {
        const std::int32_t holder = marked[i];
        for (std::int32_t c = mesh.first(holder); c < mesh.end(holder); ++c) {
            const std::int32_t across = mesh.neighbour(c);
            if (across >= 0 && !marks[across] && on_segment(point, mesh.point(mesh.previous(c)), mesh.point(c))) {
                marks[across] = 1;
                marked.push_back(across);
            }
        }
    }
    return static_cast<std::int32_t>(marked.size());
}

bool ShortestPathFinder::find(const MeshIndex& mesh, std::int64_t start_polygon, XY start,
                              std::int64_t target_polygon, XY target) {
    reset(mesh);
    const auto check = [&](std::int64_t polygon, XY point, const char* role) -> std::int32_t {
        std::string message = "the ";
        message += role;
        if (polygon < 0 || polygon >= mesh.polygon_count()) {
            message += " polygon " + std::to_string(polygon) + " is outside the mesh (" +
                       std::to_string(mesh.polygon_count()) + " polygons)";
            throw PointFault(message, role);
        }
        message += " point " + point_text(point);
        if (!supported_coordinate(point.x) || !supported_coordinate(point.y)) {
            message += " must be finite, with coordinates at most 2^480 in magnitude";
            throw PointFault(message, role);
        }
        const std::int32_t holder = holding_polygon(static_cast<std::int32_t>(polygon), point);
        if (holder < 0) {
            message += " is not in polygon " + std::to_string(polygon);
            throw PointFault(message, role);
        }
        return holder;
    };
    start_polygon = check(start_polygon, start, "start");
    target_polygon = check(target_polygon, target, "target");
    start_ = start;
    target_ = target;
    mark_polygons(static_cast<std::int32_t>(target_polygon), target, target_polygons_, target_marked_);
    mark_polygons(static_cast<std::int32_t>(start_polygon), start, start_polygons_, start_marked_);
    for (const std::int32_t polygon : start_marked_) {
        // One convex polygon holds both: the straight segment.
        if (target_polygons_[polygon]) {
            path_ = {start, target};
            length_ = distance(start, target);
            return true;
        }
    }

    roots_.push_back({start, 0.0, -1, -1});
    // The start sees every side of every polygon holding it, but those it lies on.
    for (const std::int32_t polygon : start_marked_) {
        for (std::int32_t c = mesh.first(polygon); c < mesh.end(polygon); ++c) {
            const XY a = mesh.point(mesh.previous(c));
            const XY b = mesh.point(c);
            if (orientation(a, b, start) == 0) {
                // Sides through the start join polygons that hold it; the others on a
                // line through it are seen edge-on.
                if (!on_segment(start, a, b)) {
                    graze(0, start, 0.0, mesh.previous(c), c, true, true);
                }
                continue;
            }
            if (!dead_end(mesh.neighbour(c))) {
                add_successor(0, start, 0.0, c, {true, true, {start, a}, {start, b}});
            }
        }
    }
    for (const Node& node : pending_) {
        push(node);
    }

    while (!open_.empty()) {
        std::pop_heap(open_.begin(), open_.end(), [](const Queued& a, const Queued& b) {
            if (a.f != b.f) {
                return a.f > b.f;
            }
            if (a.goal != b.goal) {
                return b.goal;
            }
            return a.g < b.g;
        });
        const Queued entry = open_.back();
        open_.pop_back();
        ++counts_.popped;
        Node node = nodes_[entry.node];
        if (entry.goal) {
            finish(node.root);
            return true;
        }
        // Root-level pruning: the root was since reached at less cost.
        const Root& root = roots_[node.root];
        if (root.fan >= 0 && root.g > best_[root.fan]) {
            continue;
        }
        // A node with one successor that keeps its root is expanded at once.
        for (;;) {
            pending_.clear();
            expand(node);
            if (pending_.size() == 1 && pending_[0].polygon >= 0 && pending_[0].root == node.root) {
                node = pending_[0];
                continue;
            }
            break;
        }
        for (const Node& successor : pending_) {
            push(successor);
        }
    }
    return false;
}

void ShortestPathFinder::push(const Node& node) {
    const std::int32_t index = static_cast<std::int32_t>(nodes_.size());
    nodes_.push_back(node);
    open_.push_back({node.f, node.g, index, node.polygon < 0});
    std::push_heap(open_.begin(), open_.end(), [](const Queued& a, const Queued& b) {
        if (a.f != b.f) {
            return a.f > b.f;
        }
        if (a.goal != b.goal) {
            return b.goal;
        }
        return a.g < b.g;
    });
    ++counts_.pushed;
}

void ShortestPathFinder::add_goal(std::int32_t root, double cost) {
    pending_.push_back({{}, {}, cost, cost, root, -1, -1, 0});
    ++counts_.generated;
}

// The successor through the part `clip` of the side ending at corner `side`, whose
// neighbour is known to be there; false when the root lies on the side's line.
bool ShortestPathFinder::add_successor(std::int32_t root, XY root_point, double g, std::int32_t side,
                                       const Clip& clip) {
    const MeshIndex& mesh = *mesh_;
    const XY a = mesh.point(mesh.previous(side));
    const XY b = mesh.point(side);
    if (orientation(a, b, root_point) == 0) {
        return false;
    }
    const XY right = clip.right_is_corner ? a : crossing(clip.right.from, clip.right.to, a, b);
    const XY left = clip.left_is_corner ? b : crossing(clip.left.from, clip.left.to, a, b);
    const std::uint8_t ends = static_cast<std::uint8_t>((clip.right_is_corner ? right_is_corner : 0) |
                                                        (clip.left_is_corner ? left_is_corner : 0));
    pending_.push_back({clip.right, clip.left, g, g + estimate(root_point, right, left, a, b, target_), root,
                        mesh.neighbour(side), mesh.twin(side), ends});
    ++counts_.generated;
    return true;
}

bool ShortestPathFinder::dead_end(std::int32_t polygon) const noexcept {
    return polygon < 0 || (mesh_->open_sides(polygon) == 1 && !target_polygons_[polygon]);
}

void ShortestPathFinder::expand(const Node& node) {
    const MeshIndex& mesh = *mesh_;
    const XY root = roots_[node.root].point;
    const std::int32_t polygon = node.polygon;
    const std::int32_t size = mesh.end(polygon) - mesh.first(polygon);
    // The polygon's corners from the entry side's end (the right end's side) round
    // to its start, with the side of each bounding line they lie on.
    std::int32_t corner = node.side;
    for (std::int32_t i = 0; i < size; ++i) {
        chain_[i] = corner;
        const XY point = mesh.point(corner);
        right_side_[i] = static_cast<std::int8_t>(
            i == 0 && (node.ends & right_is_corner) ? 0 : orientation(node.right.from, node.right.to, point));
        left_side_[i] = static_cast<std::int8_t>(
            i == size - 1 && (node.ends & left_is_corner) ? 0 : orientation(node.left.from, node.left.to, point));
        corner = mesh.next(corner);
    }
    if (target_polygons_[polygon] && orientation(node.right.from, node.right.to, target_) >= 0 &&
        orientation(node.left.from, node.left.to, target_) <= 0) {
        // Every other way on from here is at least this long.
        add_goal(node.root, node.g + distance(root, target_));
        return;
    }

    bool grazed = false;
    for (std::int32_t i = 0; i + 1 < size; ++i) {
        const std::int32_t side = chain_[i + 1];
        const int right_a = right_side_[i];
        const int right_b = right_side_[i + 1];
        const int left_a = left_side_[i];
        const int left_b = left_side_[i + 1];
        // A side along a bounding line, seen edge-on: the path may run along it and
        // turn at its corners, away from this polygon.
        if ((right_a == 0 && right_b == 0 && left_a <= 0 && left_b <= 0) ||
            (left_a == 0 && left_b == 0 && right_a >= 0 && right_b >= 0)) {
            // The interval's own corners turn below.
            graze(node.root, root, node.g, chain_[i], side, !grazed && !(i == 0 && (node.ends & right_is_corner)),
                  !(i + 2 == size && (node.ends & left_is_corner)));
            grazed = true;
            continue;
        }
        grazed = false;
        if (dead_end(mesh.neighbour(side))) {
            continue;
        }
        // Wholly outside a bound, or touching it at one end only.
        if ((right_a < 0 && right_b <= 0) || (right_a <= 0 && right_b < 0) || (left_a > 0 && left_b >= 0) ||
            (left_a >= 0 && left_b > 0)) {
            continue;
        }
        // Seen from beyond the entry side, the far sides of a convex polygon run from
        // the right bound's side to the left bound's: the right bound can only cut a
        // side's right end, the left bound its left end.
        if (left_a > 0 || right_b < 0) {
            continue;
        }
        const bool right_corner = right_a >= 0;
        const bool left_corner = left_b <= 0;
        add_successor(node.root, root, node.g, side,
                      {right_corner, left_corner, right_corner ? Bound{root, mesh.point(chain_[i])} : node.right,
                       left_corner ? Bound{root, mesh.point(side)} : node.left});
    }

    // At an end of the interval that is a corner, the path turns away from what the
    // root sees, where this polygon holds the line's continuation beyond the corner
    // (else a successor carries the corner on round it). Where instead this polygon's
    // next side round the corner leads nowhere, short of the continuation, and the
    // fan comes round to it the other way, an obstacle separates the two: the path
    // may turn there to either side.
    const std::int32_t right_corner = chain_[0];
    if ((node.ends & right_is_corner) && mesh.turning(mesh.fan(right_corner))) {
        if (right_side_[1] <= 0) {
            turn(node.root, root, node.g, right_corner, -1);
        } else if (dead_end(mesh.neighbour(chain_[1])) && wraps_to_line(right_corner, root, 1)) {
            turn(node.root, root, node.g, right_corner, -1);
            turn(node.root, root, node.g, right_corner, 1);
        }
    }
    const std::int32_t left_corner = chain_[size - 1];
    if ((node.ends & left_is_corner) && mesh.turning(mesh.fan(left_corner))) {
        if (left_side_[size - 2] >= 0) {
            turn(node.root, root, node.g, left_corner, 1);
        } else if (dead_end(mesh.neighbour(left_corner)) && wraps_to_line(left_corner, root, -1)) {
            turn(node.root, root, node.g, left_corner, 1);
            turn(node.root, root, node.g, left_corner, -1);
        }
    }
    // Corners where a bounding line touches the polygon from inside and leaves it.
    for (std::int32_t i = 1; i + 1 < size; ++i) {
        const std::int32_t touched = chain_[i];
        if (right_side_[i] == 0 && right_side_[i - 1] < 0 && right_side_[i + 1] > 0 && left_side_[i] <= 0 &&
            dead_end(mesh.neighbour(chain_[i + 1])) && mesh.turning(mesh.fan(touched)) &&
            wraps_to_line(touched, root, 1)) {
            turn(node.root, root, node.g, touched, -1);
            turn(node.root, root, node.g, touched, 1);
        }
        if (left_side_[i] == 0 && left_side_[i + 1] > 0 && left_side_[i - 1] < 0 && right_side_[i] >= 0 &&
            dead_end(mesh.neighbour(touched)) && mesh.turning(mesh.fan(touched)) && wraps_to_line(touched, root, -1)) {
            turn(node.root, root, node.g, touched, 1);
            turn(node.root, root, node.g, touched, -1);
        }
    }
}

// Whether the fan of `corner`'s vertex, walked from its polygon away from the line
// from `root` through the vertex (counter-clockwise when the polygon lies to the
// line's left, `polygon_side` 1, clockwise when to its right), comes round to a
// polygon holding the line's continuation beyond the vertex: then an obstacle
// separates the polygon from that part of the fan.
bool ShortestPathFinder::wraps_to_line(std::int32_t corner, XY root, int polygon_side) const noexcept {
    const MeshIndex& mesh = *mesh_;
    const XY vertex = mesh.point(corner);
    std::int32_t at = corner;
    for (std::int32_t steps = 0; steps < mesh.corner_count(); ++steps) {
        const std::int32_t crossed = polygon_side > 0 ? at : mesh.next(at);
        if (mesh.neighbour(crossed) < 0) {
            return false;
        }
        at = polygon_side > 0 ? mesh.previous(mesh.twin(crossed)) : mesh.twin(crossed);
        if (at == corner) {
            return false;
        }
        // The continuation lies in this polygon's corner, boundary included.
        if (orientation(root, vertex, mesh.point(mesh.next(at))) <= 0 &&
            orientation(root, vertex, mesh.point(mesh.previous(at))) >= 0) {
            return true;
        }
    }
    return false;
}

// The root sees the side from corner `from` to corner `to` edge-on (its line passes
// through the root): the path may run along it and turn at either corner (at `from`
// only when `at_from`, at `to` only when `at_to`) to the side away from the side's
// polygon; and at the far corner also towards it, when the polygon's next side there
// leads nowhere, so that no successor carries that corner on.
void ShortestPathFinder::graze(std::int32_t root, XY root_point, double g, std::int32_t from, std::int32_t to,
                               bool at_from, bool at_to) {
    const MeshIndex& mesh = *mesh_;
    // The polygon lies to the left of from -> to: to the left of the path's direction
    // when the root lies before `from`, to its right when beyond `to`.
    const bool beyond = same_direction(mesh.point(from), mesh.point(to), root_point);
    const int away = beyond ? 1 : -1;
    if (at_from && mesh.turning(mesh.fan(from))) {
        turn(root, root_point, g, from, away);
    }
    if (at_to && mesh.turning(mesh.fan(to))) {
        turn(root, root_point, g, to, away);
    }
    const std::int32_t far = beyond ? from : to;
    const std::int32_t next_side = beyond ? from : mesh.next(to);
    if ((beyond ? at_from : at_to) && mesh.turning(mesh.fan(far)) && dead_end(mesh.neighbour(next_side)) &&
        orientation(mesh.point(mesh.previous(next_side)), mesh.point(next_side), root_point) != 0 &&
        wraps_to_line(far, root_point, -away)) {
        turn(root, root_point, g, far, -away);
    }
}

// The path turns at `corner`: the new root sees what lies beyond the line from the
// old root through it, on the right of that line for `side_sign` -1, on its left for
// 1. That half-plane is searched polygon by polygon round the vertex, through the
// neighbour table, from the line's continuation towards the kept side.
void ShortestPathFinder::turn(std::int32_t root, XY root_point, double root_g, std::int32_t corner, int side_sign) {
    const MeshIndex& mesh = *mesh_;
    const XY vertex = mesh.point(corner);
    const double g = root_g + distance(root_point, vertex);
    const std::int32_t fan = mesh.fan(corner);
    // Root-level pruning: ties are kept, as they may turn the other way or come from
    // another root, but the same turn from the same root is made once.
    if (g > best_[fan]) {
        return;
    }
    if (best_[fan] == unreached) {
        best_touched_.push_back(fan);
    }
    const std::size_t side = side_sign < 0 ? 0 : 1;
    TurnsMade& made = turns_made_[fan];
    if (g < best_[fan]) {
        best_[fan] = g;
        made.sides = 0;
    } else if ((made.sides >> side & 1) && made.from[side] == root_point) {
        return;
    }
    made.sides = static_cast<std::uint8_t>(made.sides | 1 << side);
    made.from[side] = root_point;
    const std::int32_t new_root = static_cast<std::int32_t>(roots_.size());
    roots_.push_back({vertex, g, root, fan});
    const int target_side = side_sign * orientation(root_point, vertex, target_);
    // Where a side's end is cut by the line, the bound that the successor keeps: its
    // right bound has the kept part on its left, its left bound on its right.
    const Bound right_cut = side_sign < 0 ? Bound{vertex, root_point} : Bound{root_point, vertex};
    const Bound left_cut = side_sign < 0 ? Bound{root_point, vertex} : Bound{vertex, root_point};

    // The walk starts in the polygon of the fan that holds the line's continuation
    // beyond the vertex; where an obstacle holds it instead, in the polygon that meets
    // the obstacle on the kept side.
    std::int32_t at = -1;
    std::int32_t last = mesh.fan_start(fan);
    for (std::int32_t c = last, steps = 0; steps < mesh.corner_count(); ++steps) {
        last = c;
        if (orientation(root_point, vertex, mesh.point(mesh.next(c))) <= 0 &&
            orientation(root_point, vertex, mesh.point(mesh.previous(c))) >= 0) {
            at = c;
            break;
        }
        if (mesh.neighbour(c) < 0) {
            break;
        }
        c = mesh.previous(mesh.twin(c));
        if (c == mesh.fan_start(fan)) {
            break;
        }
    }
    if (at < 0) {
        at = side_sign < 0 ? last : mesh.fan_start(fan);
    }
    for (std::int32_t steps = 0; steps < mesh.corner_count(); ++steps) {
        const std::int32_t polygon = mesh.polygon_of(at);
        if (target_polygons_[polygon] && target_side >= 0) {
            add_goal(new_root, g + distance(vertex, target_));
            return;
        }
        // The sides that do not touch the vertex, from the one after it round to the
        // one before it.
        std::int32_t a = mesh.next(at);
        int side_a = side_sign * orientation(root_point, vertex, mesh.point(a));
        const int side_after = side_a;
        bool grazed = false;
        while (a != mesh.previous(at)) {
            const std::int32_t b = mesh.next(a);
            const int side_b = side_sign * orientation(root_point, vertex, mesh.point(b));
            if (side_a >= 0 && side_b >= 0 && orientation(mesh.point(a), mesh.point(b), vertex) == 0) {
                graze(new_root, vertex, g, a, b, !grazed, true);
                grazed = true;
            } else {
                grazed = false;
                if (!dead_end(mesh.neighbour(b)) && !((side_a < 0 && side_b <= 0) || (side_a <= 0 && side_b < 0))) {
                    add_successor(new_root, vertex, g, b,
                                  {side_a >= 0, side_b >= 0, side_a >= 0 ? Bound{vertex, mesh.point(a)} : right_cut,
                                   side_b >= 0 ? Bound{vertex, mesh.point(b)} : left_cut});
                }
            }
            a = b;
            side_a = side_b;
        }
        // On round the vertex towards the kept side (clockwise for the right), while
        // the side crossed still lies on it: on the line, it lies along the
        // continuation only where the walk starts; later it points back.
        const std::int32_t crossed = side_sign < 0 ? mesh.next(at) : at;
        const std::int32_t far = side_sign < 0 ? mesh.next(at) : mesh.previous(at);
        const int far_side = far == mesh.next(at) ? side_after : side_a;
        const bool along = far_side == 0 && steps == 0 && continues(root_point, vertex, mesh.point(far));
        if ((far_side <= 0 && !along) || mesh.neighbour(crossed) < 0) {
            return;
        }
        at = side_sign < 0 ? mesh.twin(crossed) : mesh.previous(mesh.twin(crossed));
    }
}

void ShortestPathFinder::finish(std::int32_t root) {
    path_.push_back(target_);
    for (std::int32_t r = root; r >= 0; r = roots_[r].parent) {
        path_.push_back(roots_[r].point);
    }
    std::reverse(path_.begin(), path_.end());
    // A corner turned at by a zero angle (met along a line of corners) is dropped: the
    // path lists only the corners where it turns.
    std::size_t kept = 1;
    for (std::size_t i = 1; i < path_.size(); ++i) {
        if (kept >= 2 && orientation(path_[kept - 2], path_[kept - 1], path_[i]) == 0) {
            --kept;
        }
        path_[kept++] = path_[i];
    }
    path_.resize(kept);
    length_ = 0.0;
    for (std::size_t i = 1; i < path_.size(); ++i) {
        length_ += distance(path_[i - 1], path_[i]);
    }
}

}  // namespace walkmesh
