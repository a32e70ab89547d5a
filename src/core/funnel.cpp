// The funnel algorithm over oriented portals, in double precision: the inputs are
// 32-bit floats, so their differences and the products of two differences are exact
// and every side test is decided exactly.
#include "core/funnel.hpp"

#include <algorithm>

namespace walkmesh {
namespace {

struct Vec {
    double x;
    double y;
};

Vec operator-(PointValue a, PointValue b) noexcept {
    return {static_cast<double>(a.x) - static_cast<double>(b.x),
            static_cast<double>(a.y) - static_cast<double>(b.y)};
}

// Positive when `b` turns counter-clockwise from `a` (y up).
double cross(Vec a, Vec b) noexcept { return a.x * b.y - a.y * b.x; }

bool same_point(PointValue a, PointValue b) noexcept { return a.x == b.x && a.y == b.y; }

// `point` lies on the segment from a to b, ends included.
bool on_segment(PointValue point, PointValue a, PointValue b) noexcept {
    const Vec to_a = a - point;
    const Vec to_b = b - point;
    return cross(to_a, to_b) == 0 && to_a.x * to_b.x + to_a.y * to_b.y <= 0;
}

PointValue portal_midpoint(PointValue a, PointValue b) noexcept { return midpoint(a, b); }

// The order of a and b when no direction of travel decides it.
bool lexicographically_before(PointValue a, PointValue b) noexcept {
    return a.x < b.x || (a.x == b.x && a.y < b.y);
}

// The polyline under construction, from index `first` on: no point repeats its
// predecessor, and no corner lies on the straight line between its neighbours (which
// of two collinear portal ends the funnel meets first depends on the portals'
// handedness; dropping such corners gives every handedness the same path).
class Corners {
public:
    Corners(GrowableArray<PointValue>& polyline, std::size_t first, Site where) noexcept
        : polyline_(polyline), first_(first), where_(where) {}

    void add(PointValue point) {
        if (!same_point(point, polyline_.back())) {
            drop_straight_corner(point);
            polyline_.push_back(point, where_);
        }
    }

    // The end point always closes the polyline; a corner on it would repeat it.
    void close(PointValue to) {
        if (polyline_.size() > first_ + 1 && same_point(polyline_.back(), to)) {
            polyline_.pop_back();
        }
        drop_straight_corner(to);
        polyline_.push_back(to, where_);
    }

private:
    // One drop is enough: the corner before keeps its turn, as the line it turns
    // onto keeps its direction.
    void drop_straight_corner(PointValue next) noexcept {
        const std::size_t size = polyline_.size();
        if (size >= first_ + 2 && on_segment(polyline_[size - 1], polyline_[size - 2], next)) {
            polyline_.pop_back();
        }
    }

    GrowableArray<PointValue>& polyline_;
    std::size_t first_;
    Site where_;
};

}  // namespace

SidedPortal orient_portal(PointValue a, PointValue b, PointValue behind, PointValue ahead) noexcept {
    const Vec across = a - b;
    const PointValue middle = portal_midpoint(a, b);
    // The direction of travel from centroid to centroid; when it runs along the
    // portal (or a centroid is missing), from the region behind to the portal, then
    // from the portal to the region ahead.
    for (const Vec travel : {ahead - behind, middle - behind, ahead - middle}) {
        const double side = cross(travel, across);
        if (side > 0) {
            return {a, b};
        }
        if (side < 0) {
            return {b, a};
        }
    }
    return lexicographically_before(a, b) ? SidedPortal{a, b} : SidedPortal{b, a};
}

void pull_taut(PointValue from, std::span<const SidedPortal> portals, PointValue to,
               GrowableArray<PointValue>& polyline, Site where) {
    const std::size_t first = polyline.size();
    polyline.push_back(from, where);
    Corners corners(polyline, first, where);

    // Portal 0 is the start point itself and the last one the end point itself.
    const std::size_t count = portals.size() + 2;
    const auto left_of = [&](std::size_t i) {
        return i == 0 ? from : i <= portals.size() ? portals[i - 1].left : to;
    };
    const auto right_of = [&](std::size_t i) {
        return i == 0 ? from : i <= portals.size() ? portals[i - 1].right : to;
    };

    PointValue apex = from;
    PointValue left = from;
    PointValue right = from;
    std::size_t apex_index = 0;
    std::size_t left_index = 0;
    std::size_t right_index = 0;
    // Each restart moves the apex to a later portal, so the loop ends. The side that
    // becomes the corner has moved since the last restart, except where coordinates
    // that are not numbers (or infinite) made every side test fail: the apex still
    // moves on then.
    const auto restart_at = [&](PointValue corner, std::size_t index, std::size_t& i) {
        index = std::max(index, apex_index + 1);
        corners.add(corner);
        apex = left = right = corner;
        apex_index = left_index = right_index = index;
        i = index;
    };
    for (std::size_t i = 1; i < count; ++i) {
        const PointValue next_left = left_of(i);
        const PointValue next_right = right_of(i);
        // A portal through the apex itself (a start point on the first portal, a
        // corner where portals meet) is crossed there. Taken as the funnel's sides,
        // its ends would open it to a straight angle that no side test can read.
        if (left_index == apex_index && right_index == apex_index && on_segment(apex, next_left, next_right)) {
            apex_index = left_index = right_index = i;
            continue;
        }
        // The right side narrows when the new right end is not to its right.
        if (cross(right - apex, next_right - apex) >= 0) {
            if (same_point(apex, right) || cross(left - apex, next_right - apex) < 0) {
                right = next_right;
                right_index = i;
            } else {
                // It crossed the left side: the left end is a corner of the path.
                restart_at(left, left_index, i);
                continue;
            }
        }
        if (cross(left - apex, next_left - apex) <= 0) {
            if (same_point(apex, left) || cross(right - apex, next_left - apex) > 0) {
                left = next_left;
                left_index = i;
            } else {
                restart_at(right, right_index, i);
                continue;
            }
        }
    }
    corners.close(to);
}

}  // namespace walkmesh
