// Pulling a route taut: the shortest polyline from a start point to an end point
// that crosses a sequence of portals in order (the funnel algorithm). Every corner is
// a portal end, copied exactly.
#pragma once

#include <span>

#include "core/memory.hpp"
#include "core/geometry.hpp"

namespace walkmesh {

// A portal with its ends named as seen by someone crossing it.
struct SidedPortal {
    PointValue left;
    PointValue right;
};

// Names the ends of the portal {a, b} as seen when crossing it from the region whose
// centroid is `behind` into the region whose centroid is `ahead`. Decided from the
// geometry alone, so the order of a and b, the handedness a table was made with and
// the direction of the y axis make no difference.
SidedPortal orient_portal(PointValue a, PointValue b, PointValue behind, PointValue ahead) noexcept;

// Appends the shortest polyline from `from` to `to` through `portals` in order:
// `from`, the corners, `to`. Corners are portal ends where the path turns: none
// equals its predecessor or `to`, and none lies on the straight line between its
// neighbours. `where` names what the polyline is for, should it outgrow one allocation.
void pull_taut(PointValue from, std::span<const SidedPortal> portals, PointValue to,
               GrowableArray<PointValue>& polyline, Site where);

}  // namespace walkmesh
