// Heights over a mesh's polygons (see surfaces.hpp).
#include "core/surfaces.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace walkmesh {
namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

// The side test of the locator: not negative on the inner side of a -> b.
double side_cross(PlanePoint a, PlanePoint b, PlanePoint p) noexcept {
    return (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
}

}  // namespace

Surfaces::Surfaces(const PolygonLocator& locator, std::span<const std::int64_t> corners,
                   std::span<const double> heights)
    : locator_(locator) {
    const std::int64_t count = locator.polygon_count();
    planes_.resize(static_cast<std::size_t>(count));
    corner_heights_.resize(corners.size());
    double scale = 0.0;
    for (std::size_t k = 0; k < corners.size(); ++k) {
        const std::int64_t vertex = corners[k];
        if (vertex < 0 || static_cast<std::size_t>(vertex) >= heights.size()) {
            throw std::invalid_argument("corner " + std::to_string(k) + " names vertex " + std::to_string(vertex) +
                                        ", which has no height");
        }
        const double z = heights[vertex];
        if (!std::isfinite(z)) {
            throw std::invalid_argument("vertex " + std::to_string(vertex) + " has height " + std::to_string(z) +
                                        ", not a finite number");
        }
        corner_heights_[k] = z;
        const PlanePoint p = locator.corner(static_cast<std::int64_t>(k));
        scale = std::max({scale, std::fabs(p.x), std::fabs(p.y), std::fabs(z)});
    }
    level_tolerance_ = 0x1p-30 * scale;
    for (std::int64_t p = 0; p < count; ++p) {
        const std::int64_t begin = locator.corners_begin(p);
        const std::int64_t end = locator.corners_end(p);
        const double n = static_cast<double>(end - begin);
        double cx = 0.0, cy = 0.0, cz = 0.0;
        for (std::int64_t k = begin; k < end; ++k) {
            cx += locator.corner(k).x;
            cy += locator.corner(k).y;
            cz += corner_heights_[k];
        }
        cx /= n, cy /= n, cz /= n;
        // Newell's normal, about the centre so that large coordinates cost no precision.
        double nx = 0.0, ny = 0.0, nz = 0.0;
        for (std::int64_t k = begin; k < end; ++k) {
            const std::int64_t j = k + 1 == end ? begin : k + 1;
            const double xi = locator.corner(k).x - cx, yi = locator.corner(k).y - cy, zi = corner_heights_[k] - cz;
            const double xj = locator.corner(j).x - cx, yj = locator.corner(j).y - cy, zj = corner_heights_[j] - cz;
            nx += (yi - yj) * (zi + zj);
            ny += (zi - zj) * (xi + xj);
            nz += (xi - xj) * (yi + yj);
        }
        const bool upright = nz > 0.0 && std::isfinite(nx / nz) && std::isfinite(ny / nz);
        planes_[p] = {cx, cy, cz, upright ? -nx / nz : 0.0, upright ? -ny / nz : 0.0};
    }
}

double Surfaces::height(std::int64_t polygon, PlanePoint point) const noexcept {
    for (std::int64_t k = locator_.corners_begin(polygon); k < locator_.corners_end(polygon); ++k) {
        const PlanePoint corner = locator_.corner(k);
        if (corner.x == point.x && corner.y == point.y) {
            return corner_heights_[k];
        }
    }
    return planes_[polygon].at(point);
}

std::int64_t Surfaces::locate(SpacePoint point, double max_climb) const noexcept {
    const PlanePoint plan{point.x, point.y};
    const double ceiling = point.z + max_climb;
    std::int64_t best = -1;
    double best_height = -infinity;
    locator_.each_holder(plan, [&](std::int64_t p) {
        const double h = height(p, plan);
        if (!(h <= ceiling)) {
            return;
        }
        if (best < 0 || h > best_height + level_tolerance_) {
            best = p;
            best_height = h;
        } else if (h >= best_height - level_tolerance_ && p < best) {
            best = p;
        }
    });
    return best;
}

std::int64_t Surfaces::locate(PlanePoint point) const noexcept {
    std::int64_t lowest = -1;
    double low = infinity, high = -infinity;
    locator_.each_holder(point, [&](std::int64_t p) {
        const double h = height(p, point);
        low = std::min(low, h);
        high = std::max(high, h);
        if (lowest < 0 || p < lowest) {
            lowest = p;
        }
    });
    return lowest >= 0 && high - low > level_tolerance_ ? -2 : lowest;
}

std::vector<double> Surfaces::levels(PlanePoint point) const {
    std::vector<double> found;
    locator_.each_holder(point, [&](std::int64_t p) { found.push_back(height(p, point)); });
    std::sort(found.begin(), found.end());
    std::vector<double> distinct;
    for (const double h : found) {
        if (distinct.empty() || h - distinct.back() > level_tolerance_) {
            distinct.push_back(h);
        }
    }
    return distinct;
}

double Surfaces::squared_distance(std::int64_t polygon, SpacePoint point, SpacePoint& nearest) const noexcept {
    const Plane& plane = planes_[polygon];
    const PlanePoint plan{point.x, point.y};
    const double above = point.z - plane.at(plan);
    const double slope = 1.0 + plane.dx * plane.dx + plane.dy * plane.dy;
    // The foot of the perpendicular onto the plane, where the polygon holds it.
    const double s = above / slope;
    const PlanePoint foot{point.x + s * plane.dx, point.y + s * plane.dy};
    if (locator_.contains(polygon, foot)) {
        nearest = {foot.x, foot.y, plane.at(foot)};
        return above * above / slope;
    }
    const std::int64_t begin = locator_.corners_begin(polygon);
    const std::int64_t end = locator_.corners_end(polygon);
    double best = infinity;
    std::int64_t previous = end - 1;
    for (std::int64_t k = begin; k < end; previous = k++) {
        const PlanePoint a = locator_.corner(previous), b = locator_.corner(k);
        const double az = corner_heights_[previous], bz = corner_heights_[k];
        const double ex = b.x - a.x, ey = b.y - a.y, ez = bz - az;
        const double length = ex * ex + ey * ey + ez * ez;
        double t = length > 0.0 ? ((point.x - a.x) * ex + (point.y - a.y) * ey + (point.z - az) * ez) / length : 0.0;
        t = std::clamp(t, 0.0, 1.0);
        // The ends exactly, so that a corner nearest to the point is that corner.
        const SpacePoint on = t == 0.0   ? SpacePoint{a.x, a.y, az}
                              : t == 1.0 ? SpacePoint{b.x, b.y, bz}
                                         : SpacePoint{a.x + t * ex, a.y + t * ey, az + t * ez};
        const double dx = point.x - on.x, dy = point.y - on.y, dz = point.z - on.z;
        const double squared = dx * dx + dy * dy + dz * dz;
        if (squared < best) {
            best = squared;
            nearest = on;
        }
    }
    return best;
}

NearestSurfacePoint Surfaces::nearest(SpacePoint point, double max_distance, double max_climb) const noexcept {
    const std::int64_t inside = locate(point, max_climb);
    if (inside >= 0) {
        return {{point.x, point.y, height(inside, {point.x, point.y})}, inside, 0.0};
    }
    NearestSurfacePoint found{{not_a_number, not_a_number, not_a_number}, -1, infinity};
    if (!std::isfinite(point.x) || !std::isfinite(point.y) || !std::isfinite(point.z) || !(max_distance >= 0.0)) {
        return found;
    }
    double bound = max_distance * max_distance;
    locator_.each_near({point.x, point.y}, bound, [&](std::int64_t p) {
        SpacePoint on{};
        const double squared = squared_distance(p, point, on);
        if (squared < bound || (squared == bound && (found.polygon < 0 || p < found.polygon))) {
            bound = squared;
            found.point = on;
            found.polygon = p;
        }
    });
    if (found.polygon >= 0) {
        found.distance = std::sqrt(bound);
    }
    return found;
}

NearestSurfacePoint Surfaces::nearest(PlanePoint point, double max_distance) const noexcept {
    const NearestPoint plan = locator_.nearest(point, max_distance);
    if (plan.polygon < 0) {
        return {{not_a_number, not_a_number, not_a_number}, -1, plan.distance};
    }
    const bool several = locate(plan.point) == -2;
    return {{plan.point.x, plan.point.y, height(plan.polygon, plan.point)}, several ? -2 : plan.polygon,
            plan.distance};
}

Gap Surfaces::gap(std::int64_t a, std::int64_t b) const {
    // Polygon a clipped by each side of b in turn (both convex, counter-clockwise).
    std::vector<PlanePoint> clipped, next;
    for (std::int64_t k = locator_.corners_begin(a); k < locator_.corners_end(a); ++k) {
        clipped.push_back(locator_.corner(k));
    }
    const std::int64_t begin = locator_.corners_begin(b);
    const std::int64_t end = locator_.corners_end(b);
    for (std::int64_t k = begin; k < end && clipped.size() >= 3; ++k) {
        const PlanePoint from = locator_.corner(k == begin ? end - 1 : k - 1);
        const PlanePoint to = locator_.corner(k);
        next.clear();
        for (std::size_t i = 0; i < clipped.size(); ++i) {
            const PlanePoint p = clipped[i];
            const PlanePoint q = clipped[(i + 1) % clipped.size()];
            const double at_p = side_cross(from, to, p);
            const double at_q = side_cross(from, to, q);
            if (at_p >= 0.0) {
                next.push_back(p);
            }
            if ((at_p >= 0.0) != (at_q >= 0.0)) {
                const double t = at_p / (at_p - at_q);
                next.push_back({p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)});
            }
        }
        clipped.swap(next);
    }
    if (clipped.size() < 3) {
        return {0.0, 0.0};
    }
    Gap gap{infinity, -infinity};
    for (const PlanePoint p : clipped) {
        const double g = planes_[b].at(p) - planes_[a].at(p);
        gap.least = std::min(gap.least, g);
        gap.most = std::max(gap.most, g);
    }
    return gap;
}

}  // namespace walkmesh
