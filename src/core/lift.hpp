// Heights for a path found in plan over a layered mesh: each segment is followed from
// polygon to polygon across the sides the neighbour table joins (never by where
// polygons lie in plan, so a path under a bridge stays under it), and each point gets
// the height of the surface it is reached on. Plain C++.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

#include "core/mesh.hpp"
#include "core/surfaces.hpp"

namespace walkmesh {

// A segment that cannot be followed across the mesh: it leaves it through a wall.
struct LiftFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class PathLifter {
public:
    // `mesh` and `surfaces` describe the same polygons, numbered alike.
    PathLifter(const MeshIndex& mesh, const Surfaces& surfaces) noexcept;

    // Writes the height of each of `points` to `heights`: the path runs from `from`,
    // which `polygon` holds, through the points in order. Points may lie off the mesh
    // by a few roundings of 32-bit floats (paths pulled taut through float32 portals).
    void lift(std::int64_t polygon, XY from, std::span<const XY> points, std::span<double> heights) const;

private:
    std::int32_t walk(std::int32_t polygon, XY from, XY to) const;
    // The polygon holding `to`, reached from `polygon` along the segment; -1 if the
    // segment leaves the mesh.
    std::int32_t follow(std::int32_t polygon, XY from, XY to) const noexcept;
    std::int32_t round_corner(std::int32_t polygon, XY from, XY to) const noexcept;
    bool holds(std::int32_t polygon, XY point) const noexcept;

    const MeshIndex& mesh_;
    const Surfaces& surfaces_;
    double tolerance_ = 0.0;
};

}  // namespace walkmesh
