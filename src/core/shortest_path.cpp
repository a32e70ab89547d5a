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
constexpr std::uint8_t right_reversed = 4;
constexpr std::uint8_t left_reversed = 8;
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
        if (static_cast<std::size_t>(fan) < fans_.size()) {
            fans_[fan].best = unreached;
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
    fans_.resize(static_cast<std::size_t>(mesh.turn_count()), FanState{unreached, {not_turned, not_turned}});
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
    pending_sides_.clear();
    path_.clear();
    length_ = 0.0;
    counts_ = {};
    mesh_ = &mesh;
}

std::int32_t ShortestPathFinder::holding_polygon(const MeshIndex& mesh, std::int32_t polygon, XY point) noexcept {
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
    // The search runs on the merged polygons; the points are checked against the
    // mesh's own.
    reset(mesh.merged());
    // Messages are made only for a query that is refused.
    const auto check = [&](std::int64_t polygon, XY point, const char* role) -> std::int32_t {
        const auto refuse = [&](const std::string& why) {
            throw PointFault(std::string("the ") + role + why, role);
        };
        if (polygon < 0 || polygon >= mesh.polygon_count()) {
            refuse(" polygon " + std::to_string(polygon) + " is outside the mesh (" +
                   std::to_string(mesh.polygon_count()) + " polygons)");
        }
        if (!supported_coordinate(point.x) || !supported_coordinate(point.y)) {
            refuse(" point " + point_text(point) + " must be finite, with coordinates at most 2^480 in magnitude");
        }
        const std::int32_t holder = holding_polygon(mesh, static_cast<std::int32_t>(polygon), point);
        if (holder < 0) {
            refuse(" point " + point_text(point) + " is not in polygon " + std::to_string(polygon));
        }
        return mesh.merged_polygon(holder);
    };
    const std::int32_t start_in = check(start_polygon, start, "start");
    const std::int32_t target_in = check(target_polygon, target, "target");
    start_ = start;
    target_ = target;
    return search(start_in, target_in);
}

bool ShortestPathFinder::search(std::int32_t start_polygon, std::int32_t target_polygon) {
    const MeshIndex& mesh = *mesh_;
    const XY start = start_;
    const XY target = target_;
    mark_polygons(target_polygon, target, target_polygons_, target_marked_);
    mark_polygons(start_polygon, start, start_polygons_, start_marked_);
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
            if (!leads_nowhere(c)) {
                add_successor(0, start, 0.0, c, {true, true, {start, a}, {start, b}});
            }
        }
    }
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        push(pending_[i], pending_sides_[i]);
    }

    while (!open_.empty()) {
        const Queued entry = pop_first();
        ++counts_.popped;
        Node node = nodes_[entry.node];
        if (!open_.empty() && open_[0].side >= 0) {
            // Most often the next node to expand: its record and its polygon's corners
            // arrive while this one expands.
            __builtin_prefetch(&nodes_[open_[0].node]);
            __builtin_prefetch(&mesh_->corner(open_[0].side));
        }
        if (entry.goal()) {
            finish(node.root);
            return true;
        }
        // Root-level pruning: the root was since reached at less cost.
        const Root& root = roots_[node.root];
        if (root.fan >= 0 && root.g > fans_[root.fan].best) {
            continue;
        }
        // A node with one successor that keeps its root is expanded at once.
        for (;;) {
            pending_.clear();
            pending_sides_.clear();
            expand(node);
            if (pending_.size() == 1 && pending_[0].polygon >= 0 && pending_[0].root == node.root) {
                node = pending_[0];
                continue;
            }
            break;
        }
        for (std::size_t i = 0; i < pending_.size(); ++i) {
            push(pending_[i], pending_sides_[i]);
        }
    }
    return false;
}

void ShortestPathFinder::push(const Node& node, const Side& side) {
    const std::int32_t index = static_cast<std::int32_t>(nodes_.size());
    nodes_.push_back(node);
    if (node.polygon >= 0) {
        // The side it enters by runs from its right end's corner to its left's.
        const XY a = side.a;
        const XY b = side.b;
        const XY root = roots_[node.root].point;
        const Bound right_bound = bound(root, node.right, node.ends & right_reversed);
        const Bound left_bound = bound(root, node.left, node.ends & left_reversed);
        const XY right = node.ends & right_is_corner ? a : crossing(right_bound.from, right_bound.to, a, b);
        const XY left = node.ends & left_is_corner ? b : crossing(left_bound.from, left_bound.to, a, b);
        nodes_.back().f = node.g + estimate(root, right, left, a, b, target_);
    }
    open_.push_back({nodes_.back().f, index, node.polygon < 0 ? -1 : node.side});
    sift_up(open_.size() - 1, open_.back());
    ++counts_.pushed;
}

// The open list is a binary heap whose entries move exactly as the standard library's
// heap moves them, so that entries that tie on every key leave in the same order
// whichever way it is kept, and so do the paths chosen among equal ones.
void ShortestPathFinder::sift_up(std::size_t hole, Queued entry) noexcept {
    Queued* const heap = open_.data();
    while (hole > 0) {
        const std::size_t parent = (hole - 1) / 2;
        if (!after(heap[parent], entry)) {
            break;
        }
        heap[hole] = heap[parent];
        hole = parent;
    }
    heap[hole] = entry;
}

// Takes out the first entry: the hole it leaves goes down to a leaf by the earlier of
// each two children (the right one on a tie), and the last entry climbs back from there.
ShortestPathFinder::Queued ShortestPathFinder::pop_first() noexcept {
    Queued* const heap = open_.data();
    const Queued first = heap[0];
    const Queued last = open_.back();
    open_.pop_back();
    const std::size_t size = open_.size();
    if (size == 0) {
        return first;
    }
    std::size_t hole = 0;
    std::size_t child = 0;
    while (child < (size - 1) / 2) {
        child = 2 * (child + 1);
        if (after(heap[child], heap[child - 1])) {
            --child;
        }
        heap[hole] = heap[child];
        hole = child;
    }
    if ((size & 1) == 0 && child == (size - 2) / 2) {
        child = 2 * (child + 1);
        heap[hole] = heap[child - 1];
        hole = child - 1;
    }
    sift_up(hole, last);
    return first;
}

void ShortestPathFinder::add_goal(std::int32_t root, double cost) {
    pending_.push_back({{}, {}, cost, cost, root, -1, -1, 0, 0, 0});
    pending_sides_.push_back({});
    ++counts_.generated;
}

// The successor through the part `clip` of the side ending at corner `side`, whose
// neighbour is known to be there; false when the root lies on the side's line.
bool ShortestPathFinder::add_successor(std::int32_t root, XY root_point, double g, std::int32_t side,
                                       const Clip& clip) {
    const MeshIndex& mesh = *mesh_;
    const XY a = mesh.point(mesh.previous(side));
    const XY b = mesh.point(side);
    const int root_side = orientation(a, b, root_point);
    if (root_side == 0) {
        return false;
    }
    // A bound through the other end's corner: the root lies to the left of a -> b, so
    // a lies to the right of root -> b, and b to the left of root -> a.
    const auto right_end_left = static_cast<std::int8_t>(clip.left_is_corner ? -root_side : clip.right_end_left);
    const auto left_end_right = static_cast<std::int8_t>(clip.right_is_corner ? root_side : clip.left_end_right);
    // Each bound keeps its point other than the root.
    const bool right_back = !(clip.right.from == root_point);
    const bool left_back = !(clip.left.from == root_point);
    const std::uint8_t ends =
        static_cast<std::uint8_t>((clip.right_is_corner ? right_is_corner : 0) | (clip.left_is_corner ? left_is_corner : 0) |
                                  (right_back ? right_reversed : 0) | (left_back ? left_reversed : 0));
    // The estimate waits for push(): a node expanded at once never needs it.
    pending_.push_back({right_back ? clip.right.from : clip.right.to, left_back ? clip.left.from : clip.left.to, g, 0.0,
                        root, mesh.neighbour(side), mesh.twin(side), ends, right_end_left, left_end_right});
    pending_sides_.push_back({a, b});
    ++counts_.generated;
    return true;
}

// Whether the side ending at `corner` leads nowhere: it is a wall, or the polygon
// across it has no other open side and does not hold the target.
bool ShortestPathFinder::leads_nowhere(std::int32_t corner) const noexcept {
    const MeshIndex::Corner& record = mesh_->corner(corner);
    return (record.flags & MeshIndex::leads_nowhere) != 0 && (record.neighbour < 0 || !target_polygons_[record.neighbour]);
}

void ShortestPathFinder::expand(const Node& node) {
    const MeshIndex& mesh = *mesh_;
    const XY root = roots_[node.root].point;
    const Bound right_bound = bound(root, node.right, node.ends & right_reversed);
    const Bound left_bound = bound(root, node.left, node.ends & left_reversed);
    const std::int32_t polygon = node.polygon;
    const std::int32_t first = mesh.first(polygon);
    const std::int32_t end = mesh.end(polygon);
    const std::int32_t size = end - first;
    // The polygon's corners from the entry side's end (the right end's side) round
    // to its start, with the side of each bounding line they lie on.
    // Those of the entry side's corners are known: a cut end's corner lies outside its
    // bound.
    std::int32_t corner = node.side;
    chain_[0] = corner;
    right_side_[0] = static_cast<std::int8_t>(node.ends & right_is_corner ? 0 : -1);
    left_side_[0] = node.right_end_left;
    for (std::int32_t i = 1; i + 1 < size; ++i) {
        corner = corner + 1 == end ? first : corner + 1;
        chain_[i] = corner;
        const XY point = mesh.point(corner);
        right_side_[i] = static_cast<std::int8_t>(orientation(right_bound.from, right_bound.to, point));
        left_side_[i] = static_cast<std::int8_t>(orientation(left_bound.from, left_bound.to, point));
    }
    chain_[size - 1] = corner + 1 == end ? first : corner + 1;
    right_side_[size - 1] = node.left_end_right;
    left_side_[size - 1] = static_cast<std::int8_t>(node.ends & left_is_corner ? 0 : 1);
    // The turns at the interval's corner ends, below, read their fans' state and walls.
    for (const std::int32_t end_corner : {node.ends & right_is_corner ? chain_[0] : -1,
                                          node.ends & left_is_corner ? chain_[size - 1] : -1}) {
        if (end_corner >= 0 && turns_at(end_corner)) {
            __builtin_prefetch(&fans_[mesh.corner(end_corner).turn]);
            __builtin_prefetch(&mesh.turn_of(mesh.corner(end_corner).turn));
        }
    }
    if (target_polygons_[polygon] && orientation(right_bound.from, right_bound.to, target_) >= 0 &&
        orientation(left_bound.from, left_bound.to, target_) <= 0) {
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
        if (leads_nowhere(side)) {
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
                      {right_corner, left_corner, right_corner ? Bound{root, mesh.point(chain_[i])} : right_bound,
                       left_corner ? Bound{root, mesh.point(side)} : left_bound, static_cast<std::int8_t>(left_a),
                       static_cast<std::int8_t>(right_b)});
    }

    // At an end of the interval that is a corner, the path turns away from what the
    // root sees, where this polygon holds the line's continuation beyond the corner
    // (else a successor carries the corner on round it). Where instead this polygon's
    // next side round the corner leads nowhere, short of the continuation, and the
    // fan comes round to it the other way, an obstacle separates the two: the path
    // may turn there to either side.
    const std::int32_t right_corner = chain_[0];
    if ((node.ends & right_is_corner) && turns_at(right_corner)) {
        if (right_side_[1] <= 0) {
            turn(node.root, root, node.g, right_corner, -1);
        } else if (leads_nowhere(chain_[1])) {
            turn_either_way(node, root, right_corner, 1);
        }
    }
    const std::int32_t left_corner = chain_[size - 1];
    if ((node.ends & left_is_corner) && turns_at(left_corner)) {
        if (left_side_[size - 2] >= 0) {
            turn(node.root, root, node.g, left_corner, 1);
        } else if (leads_nowhere(left_corner)) {
            turn_either_way(node, root, left_corner, -1);
        }
    }
    // Corners where a bounding line touches the polygon from inside and leaves it.
    for (std::int32_t i = 1; i + 1 < size; ++i) {
        const std::int32_t touched = chain_[i];
        if (right_side_[i] == 0 && right_side_[i - 1] < 0 && right_side_[i + 1] > 0 && left_side_[i] <= 0 &&
            leads_nowhere(chain_[i + 1]) && turns_at(touched)) {
            turn_either_way(node, root, touched, 1);
        }
        if (left_side_[i] == 0 && left_side_[i + 1] > 0 && left_side_[i - 1] < 0 && right_side_[i] >= 0 &&
            leads_nowhere(touched) && turns_at(touched)) {
            turn_either_way(node, root, touched, -1);
        }
    }
}

// At a corner where the polygon's next side round it leads nowhere and the line from
// the root leaves the polygon, the path may turn to either side: to the one the
// obstacle outside the fan lies on, found in constant time, or, in a fan that winds
// round its vertex more than once, to both, where the fan comes round to the line
// (`polygon_side`: the polygon's side of the line).
void ShortestPathFinder::turn_either_way(const Node& node, XY root, std::int32_t corner, int polygon_side) {
    if (!(mesh_->corner(corner).flags & MeshIndex::winding_fan)) {
        turn(node.root, root, node.g, corner, 0);
    } else if (wraps_to_line(corner, root, polygon_side)) {
        turn(node.root, root, node.g, corner, -polygon_side);
        turn(node.root, root, node.g, corner, polygon_side);
    }
}

// The side of the line from `root` through the vertex of `corner` (in a turning fan
// that does not wind round it) on which the obstacle outside the fan lies: 1 left, -1
// right. It spans less than a straight angle, from the fan's last wall round to its
// first, and the line runs inside the fan (the way the root came in by, on to the
// vertex, lies in it), so it lies wholly on one side, and a path that turns round it
// turns to that side. 0 where neither wall points into an open half-plane: the
// obstacle then lies ahead, and no path from the root turns there.
int ShortestPathFinder::obstacle_side(std::int32_t corner, XY root) const noexcept {
    const MeshIndex::Corner& record = mesh_->corner(corner);
    const MeshIndex::Turn& walls = mesh_->turn_of(record.turn);
    if (orientation(root, record.point, walls.last_wall) > 0) {
        return 1;
    }
    if (orientation(root, record.point, walls.first_wall) < 0) {
        return -1;
    }
    return 0;
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
    if (at_from && turns_at(from)) {
        turn(root, root_point, g, from, away);
    }
    if (at_to && turns_at(to)) {
        turn(root, root_point, g, to, away);
    }
    const std::int32_t far = beyond ? from : to;
    const std::int32_t next_side = beyond ? from : mesh.next(to);
    if ((beyond ? at_from : at_to) && turns_at(far) && leads_nowhere(next_side) &&
        orientation(mesh.point(mesh.previous(next_side)), mesh.point(next_side), root_point) != 0 &&
        (!(mesh.corner(far).flags & MeshIndex::winding_fan) || wraps_to_line(far, root_point, -away))) {
        turn(root, root_point, g, far, -away);
    }
}

// The path turns at `corner`: the new root sees what lies beyond the line from the
// old root through it, on the right of that line for `side_sign` -1, on its left for
// 1, on the side the obstacle lies on for 0 (in a fan that does not wind round its
// vertex). That half-plane is searched polygon by polygon round the vertex, through the
// neighbour table, between the line's continuation and the obstacle that the path
// turns round. Where no obstacle presses from the kept side, the old root sees that
// side of the vertex itself, and no turn is made.
void ShortestPathFinder::turn(std::int32_t root, XY root_point, double root_g, std::int32_t corner, int side_sign) {
    const MeshIndex& mesh = *mesh_;
    const XY vertex = mesh.point(corner);
    const double g = root_g + distance(root_point, vertex);
    // The state is kept per turning fan.
    const std::int32_t fan = mesh.corner(corner).turn;
    // The fan's walls are read below unless the pruning ends the turn: their load then
    // overlaps the wait for its state.
    __builtin_prefetch(&mesh.turn_of(fan));
    // Root-level pruning: ties are kept, as they may turn the other way or come from
    // another root, but the same turn from the same root is made once. The vertex is
    // reached at cost g even where it is not turned at, so every way on through it at
    // a higher cost is a longer way to the same places.
    FanState& made = fans_[fan];
    if (g > made.best) {
        return;
    }
    if (made.best == unreached) {
        best_touched_.push_back(fan);
    }
    if (g < made.best) {
        made.best = g;
        made.from[0] = made.from[1] = not_turned;
    }
    const bool winds = (mesh.corner(corner).flags & MeshIndex::winding_fan) != 0;
    if (!winds) {
        const int obstacle = obstacle_side(corner, root_point);
        if (obstacle == 0 || (side_sign != 0 && obstacle != side_sign)) {
            return;
        }
        side_sign = obstacle;
    }
    const std::size_t side = side_sign < 0 ? 0 : 1;
    const std::int32_t from = roots_[root].fan;
    if (made.from[side] == from) {
        return;
    }
    made.from[side] = from;
    const std::int32_t new_root = static_cast<std::int32_t>(roots_.size());
    roots_.push_back({vertex, g, root, fan});
    const int target_side = side_sign * orientation(root_point, vertex, target_);
    const Sweep sweep{new_root, g, vertex, root_point, side_sign, target_side};
    if (!winds) {
        // From the fan's wall on the kept side (its first, clockwise, for the right),
        // which bounds what the new root sees there, back to the polygon that holds
        // the continuation.
        const MeshIndex::Turn& walls = mesh.turn_of(fan);
        const std::int32_t wall_end = side_sign < 0 ? walls.start : walls.end;
        std::int32_t polygon = side_sign < 0 ? walls.start_polygon : walls.end_polygon;
        for (std::int32_t at = wall_end, steps = 0; steps < mesh.corner_count(); ++steps) {
            int after_side, before_side;
            if (sweep_polygon(sweep, at, polygon, after_side, before_side)) {
                return;
            }
            // The continuation lies in this polygon's corner, boundary included.
            if (side_sign * after_side <= 0 && side_sign * before_side >= 0) {
                return;
            }
            const std::int32_t crossed = side_sign < 0 ? at : mesh.next(at);
            polygon = mesh.neighbour(crossed);
            if (polygon < 0) {
                return;
            }
            at = side_sign < 0 ? mesh.previous(mesh.twin(crossed)) : mesh.twin(crossed);
        }
        return;
    }

    // A fan that winds round its vertex more than once (layers stacked in plan) is
    // walked from the polygon that holds the line's continuation, found from the
    // fan's start, or, where an obstacle holds it, the polygon that meets the
    // obstacle on the kept side; on towards the kept side while the side crossed
    // still lies on it.
    std::int32_t at = -1;
    const std::int32_t fan_start = mesh.turn_of(fan).start;
    std::int32_t last = fan_start;
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
        if (c == fan_start) {
            break;
        }
    }
    if (at < 0) {
        at = side_sign < 0 ? last : fan_start;
    }
    std::int32_t polygon = mesh.polygon_of(at);
    for (std::int32_t steps = 0; steps < mesh.corner_count(); ++steps) {
        int after_side, before_side;
        if (sweep_polygon(sweep, at, polygon, after_side, before_side)) {
            return;
        }
        // On the line, the side crossed lies along the continuation only where the
        // walk starts; later it points back.
        const std::int32_t crossed = side_sign < 0 ? mesh.next(at) : at;
        const std::int32_t far = side_sign < 0 ? mesh.next(at) : mesh.previous(at);
        const int far_side = side_sign < 0 ? after_side : before_side;
        const bool along = far_side == 0 && steps == 0 && continues(root_point, vertex, mesh.point(far));
        polygon = mesh.neighbour(crossed);
        if ((far_side <= 0 && !along) || polygon < 0) {
            return;
        }
        at = side_sign < 0 ? mesh.twin(crossed) : mesh.previous(mesh.twin(crossed));
    }
}

// One polygon of a turn's walk, through its corner `at` at the new root: the goal
// where it holds the target on the kept side or the line (then true: nothing from
// the new root is shorter), else the successors across its sides that do not touch
// the vertex, clipped to the kept side. `polygon` is the one `at` belongs to (the walk
// knows it from the side it crossed). `after_side` and `before_side` are the sides
// of the line (kept: 1) on which the corners after and before `at` lie.
bool ShortestPathFinder::sweep_polygon(const Sweep& sweep, std::int32_t at, std::int32_t polygon, int& after_side,
                                       int& before_side) {
    const MeshIndex& mesh = *mesh_;
    const XY vertex = sweep.vertex;
    const int side_sign = sweep.side_sign;
    if (target_polygons_[polygon] && sweep.target_side >= 0) {
        add_goal(sweep.root, sweep.g + distance(vertex, target_));
        return true;
    }
    // Where a side's end is cut by the line, the bound that the successor keeps: its
    // right bound has the kept part on its left, its left bound on its right.
    const Bound right_cut = side_sign < 0 ? Bound{vertex, sweep.old_root} : Bound{sweep.old_root, vertex};
    const Bound left_cut = side_sign < 0 ? Bound{sweep.old_root, vertex} : Bound{vertex, sweep.old_root};
    // The sides that do not touch the vertex, from the one after it round to the one
    // before it.
    const std::int32_t first = mesh.first(polygon);
    const std::int32_t end = mesh.end(polygon);
    const auto next = [&](std::int32_t corner) { return corner + 1 == end ? first : corner + 1; };
    const std::int32_t last = at == first ? end - 1 : at - 1;
    std::int32_t a = next(at);
    int side_a = side_sign * orientation(sweep.old_root, vertex, mesh.point(a));
    after_side = side_a;
    bool grazed = false;
    while (a != last) {
        const std::int32_t b = next(a);
        const int side_b = side_sign * orientation(sweep.old_root, vertex, mesh.point(b));
        if (side_a >= 0 && side_b >= 0 && orientation(mesh.point(a), mesh.point(b), vertex) == 0) {
            graze(sweep.root, vertex, sweep.g, a, b, !grazed, true);
            grazed = true;
        } else {
            grazed = false;
            if (!leads_nowhere(b) && !((side_a < 0 && side_b <= 0) || (side_a <= 0 && side_b < 0))) {
                // A cut end's corner lies on the line: on the left cut's side opposite to
                // its own, on the right cut's on its own.
                add_successor(sweep.root, vertex, sweep.g, b,
                              {side_a >= 0, side_b >= 0, side_a >= 0 ? Bound{vertex, mesh.point(a)} : right_cut,
                               side_b >= 0 ? Bound{vertex, mesh.point(b)} : left_cut, static_cast<std::int8_t>(-side_a),
                               static_cast<std::int8_t>(side_b)});
            }
        }
        a = b;
        side_a = side_b;
    }
    before_side = side_a;
    return false;
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
