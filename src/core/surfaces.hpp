// Heights over a mesh's polygons, for levels whose walkable surfaces lie above one
// another (a bridge over a road): each polygon is flat, its plane given by the heights
// of its corners, and the polygons that hold a point in plan are told apart by the
// heights of their surfaces there. Point location at a height, nearest points in
// space, and how far apart two polygons that overlap in plan are in height. Plain C++.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/locate.hpp"

namespace walkmesh {

struct SpacePoint {
    double x;
    double y;
    double z;
};

// A flat surface: height z at (x, y), rising dx per unit of x and dy per unit of y.
struct Plane {
    double x, y, z, dx, dy;
    double at(PlanePoint p) const noexcept { return z + dx * (p.x - x) + dy * (p.y - y); }
};

struct NearestSurfacePoint {
    SpacePoint point;      // the nearest point of the surfaces
    std::int64_t polygon;  // its polygon; -1 when none lies within the distance asked, -2 for a
                           // point without height that lies on more than one level
    double distance;
};

// How far the surface of polygon b lies above that of polygon a over the ground both
// cover in plan: the least and the most (negative where b lies below).
struct Gap {
    double least;
    double most;
};

class Surfaces {
public:
    // The polygons of `locator`, with `heights` one per vertex of the vertex array the
    // locator was built from (`corners` are the polygons' vertex indices, as given to
    // it). Planes come from Newell's normal of each polygon's corners.
    Surfaces(const PolygonLocator& locator, std::span<const std::int64_t> corners, std::span<const double> heights);

    // The height of polygon's surface at `point`: a corner's own height at a corner,
    // elsewhere its plane's.
    double height(std::int64_t polygon, PlanePoint point) const noexcept;
    const Plane& plane(std::int64_t polygon) const noexcept { return planes_[polygon]; }
    double corner_height(std::int64_t corner) const noexcept { return corner_heights_[corner]; }
    // Heights closer than this are one level: a few roundings of the largest coordinate.
    double level_tolerance() const noexcept { return level_tolerance_; }

    // The polygon holding (x, y) whose surface there is the highest at most
    // `max_climb` above z (a point stands on the surface nearest at or below it, or a
    // little under one); the lowest-index one among surfaces at one level; -1 for none.
    std::int64_t locate(SpacePoint point, double max_climb) const noexcept;

    // For a point without height: the lowest-index polygon holding it when every
    // polygon holding it has its surface there at one level, -2 when they differ, -1
    // when none holds it.
    std::int64_t locate(PlanePoint point) const noexcept;

    // The heights of the levels of the polygons holding `point`, lowest first.
    std::vector<double> levels(PlanePoint point) const;

    // A located point stands on its surface (distance 0, the point on the surface
    // under it); any other is taken to the nearest point of any polygon in space.
    NearestSurfacePoint nearest(SpacePoint point, double max_distance, double max_climb) const noexcept;

    // For a point without height: the nearest point in plan, as the locator finds it,
    // at the height of its surface; polygon -2 when that point lies on two levels.
    NearestSurfacePoint nearest(PlanePoint point, double max_distance) const noexcept;

    // The gap between the surfaces of a and b over the ground both cover in plan
    // (their intersection, clipped in doubles); {0, 0} when that has no area.
    Gap gap(std::int64_t a, std::int64_t b) const;

private:
    double squared_distance(std::int64_t polygon, SpacePoint point, SpacePoint& nearest) const noexcept;

    const PolygonLocator& locator_;
    std::vector<Plane> planes_;
    std::vector<double> corner_heights_;
    double level_tolerance_ = 0.0;
};

}  // namespace walkmesh
