// Heights for paths over a layered mesh (see lift.hpp). Each segment is followed by a
// breadth-first walk over the polygons, across the open sides the segment meets (by
// exact orientation tests; distances only to forgive float32 roundings), from all the
// polygons that may hold its start at once; the polygons the walk reaches that hold
// its end are kept for that end, with the polygon the walk set out from. Going back from the
// last point's polygon gives one polygon per point.
#include "core/lift.hpp"

#include <algorithm>
#include <cmath>
#include <string>

namespace walkmesh {
namespace {

double cross(XY origin, XY a, XY b) noexcept {
    return (a.x - origin.x) * (b.y - origin.y) - (a.y - origin.y) * (b.x - origin.x);
}

double squared_to_segment(XY p, XY a, XY b) noexcept {
    const double ex = b.x - a.x, ey = b.y - a.y;
    const double length = ex * ex + ey * ey;
    double t = length > 0.0 ? ((p.x - a.x) * ex + (p.y - a.y) * ey) / length : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    const double dx = p.x - (a.x + t * ex), dy = p.y - (a.y + t * ey);
    return dx * dx + dy * dy;
}

// Whether the segments p-q and a-b meet, or come within `tolerance` of each other.
bool meets(XY p, XY q, XY a, XY b, double tolerance) noexcept {
    if (std::max(a.x, b.x) < std::min(p.x, q.x) - tolerance || std::min(a.x, b.x) > std::max(p.x, q.x) + tolerance ||
        std::max(a.y, b.y) < std::min(p.y, q.y) - tolerance || std::min(a.y, b.y) > std::max(p.y, q.y) + tolerance) {
        return false;
    }
    const int pq_a = orientation(p, q, a), pq_b = orientation(p, q, b);
    const int ab_p = orientation(a, b, p), ab_q = orientation(a, b, q);
    const bool collinear = pq_a == 0 && pq_b == 0;
    if (!collinear && pq_a * pq_b <= 0 && ab_p * ab_q <= 0) {
        return true;
    }
    const double reach = tolerance * tolerance;
    return squared_to_segment(p, a, b) <= reach || squared_to_segment(q, a, b) <= reach ||
           squared_to_segment(a, p, q) <= reach || squared_to_segment(b, p, q) <= reach;
}

std::string text(XY point) { return "(" + std::to_string(point.x) + ", " + std::to_string(point.y) + ")"; }

}  // namespace

std::uint32_t LiftWork::next_stamp(std::size_t polygons) {
    if (seen.size() < polygons) {
        seen.resize(polygons, 0);
    }
    if (++stamp == 0) {
        std::fill(seen.begin(), seen.end(), 0);
        stamp = 1;
    }
    return stamp;
}

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

void PathLifter::reach(std::int32_t begin, std::int32_t end, XY from, XY to, LiftWork& work) const {
    const std::uint32_t walk = work.next_stamp(static_cast<std::size_t>(mesh_.polygon_count()));
    work.queue.clear();
    work.origin.clear();
    for (std::int32_t k = begin; k < end; ++k) {
        const std::int32_t polygon = work.candidates[k].polygon;
        if (work.seen[polygon] != walk) {
            work.seen[polygon] = walk;
            work.queue.push_back(polygon);
            work.origin.push_back(k);
        }
    }
    for (std::size_t i = 0; i < work.queue.size(); ++i) {
        const std::int32_t current = work.queue[i];
        if (holds(current, to)) {
            work.candidates.push_back({current, work.origin[i]});
        }
        for (std::int32_t c = mesh_.first(current); c < mesh_.end(current); ++c) {
            const std::int32_t across = mesh_.neighbour(c);
            if (across < 0 || work.seen[across] == walk ||
                !meets(from, to, mesh_.point(mesh_.previous(c)), mesh_.point(c), tolerance_)) {
                continue;
            }
            work.seen[across] = walk;
            work.queue.push_back(across);
            work.origin.push_back(work.origin[i]);
        }
    }
}

void PathLifter::lift(std::int64_t polygon, XY from, std::span<const XY> points, std::int64_t last,
                      std::span<double> heights, LiftWork& work) const {
    if (points.empty()) {
        return;
    }
    work.candidates.clear();
    work.layer_start.clear();
    work.candidates.push_back({static_cast<std::int32_t>(polygon), -1});
    work.layer_start.push_back(0);
    XY at = from;
    for (const XY point : points) {
        const std::int32_t begin = work.layer_start.back();
        const std::int32_t end = static_cast<std::int32_t>(work.candidates.size());
        work.layer_start.push_back(end);
        reach(begin, end, at, point, work);
        if (static_cast<std::int32_t>(work.candidates.size()) == end) {
            throw LiftFault("the path from " + text(at) + " to " + text(point) + " leaves the mesh");
        }
        at = point;
    }
    // The last point's polygon: `last`, which the walk must reach, or the first reached.
    std::int32_t k = work.layer_start.back();
    if (last >= 0) {
        while (k < static_cast<std::int32_t>(work.candidates.size()) && work.candidates[k].polygon != last) {
            ++k;
        }
        if (k == static_cast<std::int32_t>(work.candidates.size())) {
            throw LiftFault("the path to " + text(points.back()) + " does not reach polygon " + std::to_string(last));
        }
    }
    for (std::size_t i = points.size(); i-- > 0;) {
        heights[i] = surfaces_.height(work.candidates[k].polygon, {points[i].x, points[i].y});
        k = work.candidates[k].parent;
    }
}

}  // namespace walkmesh
