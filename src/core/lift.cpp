// Heights for paths over a layered mesh (see lift.hpp). A segment is walked from the
// polygon holding its start: while the polygon does not hold its end, it is left
// across the side the segment meets (by exact orientation tests; distances only to
// forgive float32 roundings), into the neighbour the table names. A segment that
// starts at a corner first goes round that corner's vertex, through the neighbour
// table, to the polygon that opens towards its end.
#include "core/lift.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace walkmesh {
namespace {

double cross(XY origin, XY a, XY b) noexcept {
    return (a.x - origin.x) * (b.y - origin.y) - (a.y - origin.y) * (b.x - origin.x);
}

double point_to_segment(XY p, XY a, XY b) noexcept {
    const double ex = b.x - a.x, ey = b.y - a.y;
    const double length = ex * ex + ey * ey;
    double t = length > 0.0 ? ((p.x - a.x) * ex + (p.y - a.y) * ey) / length : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(p.x - (a.x + t * ex), p.y - (a.y + t * ey));
}

// The distance between the segments p-q and a-b: 0 where they meet.
double segments_apart(XY p, XY q, XY a, XY b) noexcept {
    const int pq_a = orientation(p, q, a), pq_b = orientation(p, q, b);
    const int ab_p = orientation(a, b, p), ab_q = orientation(a, b, q);
    const bool collinear = pq_a == 0 && pq_b == 0;
    if (!collinear && pq_a * pq_b <= 0 && ab_p * ab_q <= 0) {
        return 0.0;
    }
    return std::min({point_to_segment(p, a, b), point_to_segment(q, a, b), point_to_segment(a, p, q),
                     point_to_segment(b, p, q)});
}

std::string text(XY point) { return "(" + std::to_string(point.x) + ", " + std::to_string(point.y) + ")"; }

}  // namespace

PathLifter::PathLifter(const MeshIndex& mesh, const Surfaces& surfaces) noexcept : mesh_(mesh), surfaces_(surfaces) {
    double scale = 0.0;
    for (std::int32_t c = 0; c < mesh.corner_count(); ++c) {
        scale = std::max({scale, std::fabs(mesh.point(c).x), std::fabs(mesh.point(c).y)});
    }
    // Four roundings to float32 of the largest coordinate: what a float32 path's
    // corners and the segments between them may stray from the mesh's own.
    tolerance_ = 0x1p-22 * scale;
}

bool PathLifter::holds(std::int32_t polygon, XY point) const noexcept {
    for (std::int32_t c = mesh_.first(polygon); c < mesh_.end(polygon); ++c) {
        const XY a = mesh_.point(mesh_.previous(c));
        const XY b = mesh_.point(c);
        if (orientation(a, b, point) < 0 && -cross(a, b, point) > tolerance_ * std::hypot(b.x - a.x, b.y - a.y)) {
            return false;
        }
    }
    return true;
}

// At a corner of `polygon` (within the tolerance), the polygon round its vertex whose
// corner there opens towards `to`; `polygon` itself otherwise.
std::int32_t PathLifter::round_corner(std::int32_t polygon, XY from, XY to) const noexcept {
    std::int32_t corner = -1;
    double nearest = tolerance_;
    for (std::int32_t c = mesh_.first(polygon); c < mesh_.end(polygon); ++c) {
        const double d = std::hypot(mesh_.point(c).x - from.x, mesh_.point(c).y - from.y);
        if (d <= nearest) {
            nearest = d;
            corner = c;
        }
    }
    if (corner < 0) {
        return polygon;
    }
    const XY vertex = mesh_.point(corner);
    const auto opens_towards = [&](std::int32_t c) {
        return orientation(vertex, mesh_.point(mesh_.next(c)), to) >= 0 &&
               orientation(vertex, mesh_.point(mesh_.previous(c)), to) <= 0;
    };
    if (opens_towards(corner)) {
        return polygon;
    }
    // Both ways round the vertex: across the side that starts at it, and across the
    // side that ends at it.
    for (const bool forward : {true, false}) {
        std::int32_t c = corner;
        for (std::int32_t steps = 0; steps < mesh_.corner_count(); ++steps) {
            const std::int32_t side = forward ? mesh_.next(c) : c;
            if (mesh_.neighbour(side) < 0) {
                break;
            }
            c = forward ? mesh_.twin(side) : mesh_.previous(mesh_.twin(side));
            if (c == corner) {
                break;
            }
            if (opens_towards(c)) {
                return mesh_.polygon_of(c);
            }
        }
    }
    return polygon;
}

std::int32_t PathLifter::follow(std::int32_t polygon, XY from, XY to) const noexcept {
    std::int32_t current = polygon;
    for (std::int32_t steps = 0; steps <= mesh_.corner_count(); ++steps) {
        if (holds(current, to)) {
            return current;
        }
        // The side the segment leaves by: among the open sides `to` lies beyond, the one
        // the segment meets, the first along it where two do (at a vertex).
        std::int32_t exit = -1;
        double exit_apart = std::numeric_limits<double>::infinity();
        double exit_at = std::numeric_limits<double>::infinity();
        for (std::int32_t c = mesh_.first(current); c < mesh_.end(current); ++c) {
            const XY a = mesh_.point(mesh_.previous(c));
            const XY b = mesh_.point(c);
            if (mesh_.neighbour(c) < 0 || orientation(a, b, to) >= 0) {
                continue;
            }
            const double apart = segments_apart(from, to, a, b);
            const double at_from = cross(a, b, from);
            const double at = at_from <= 0.0 ? 0.0 : at_from / (at_from - cross(a, b, to));
            if (apart < exit_apart || (apart == exit_apart && at < exit_at)) {
                exit = c;
                exit_apart = apart;
                exit_at = at;
            }
        }
        if (exit < 0 || exit_apart > tolerance_) {
            return -1;
        }
        current = mesh_.neighbour(exit);
    }
    return -1;
}

std::int32_t PathLifter::walk(std::int32_t polygon, XY from, XY to) const {
    const std::int32_t turned = round_corner(polygon, from, to);
    std::int32_t found = follow(turned, from, to);
    // A segment that runs along a side from its start (a route through portal
    // midpoints) may have to start in the polygon across that side.
    for (std::int32_t c = mesh_.first(polygon); found < 0 && c < mesh_.end(polygon); ++c) {
        const std::int32_t across = mesh_.neighbour(c);
        if (across >= 0 && across != turned &&
            segments_apart(from, from, mesh_.point(mesh_.previous(c)), mesh_.point(c)) <= tolerance_) {
            found = follow(across, from, to);
        }
    }
    if (found < 0) {
        throw LiftFault("the path from " + text(from) + " to " + text(to) + " leaves the mesh from polygon " +
                        std::to_string(polygon));
    }
    return found;
}

void PathLifter::lift(std::int64_t polygon, XY from, std::span<const XY> points, std::span<double> heights) const {
    std::int32_t current = static_cast<std::int32_t>(polygon);
    XY at = from;
    for (std::size_t i = 0; i < points.size(); ++i) {
        current = walk(current, at, points[i]);
        heights[i] = surfaces_.height(current, {points[i].x, points[i].y});
        at = points[i];
    }
}

}  // namespace walkmesh
