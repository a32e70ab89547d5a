// Heights for a path found in plan over a layered mesh. The path is followed from
// polygon to polygon across the sides the neighbour table joins, never by where
// polygons lie in plan: a path under a bridge stays under it. Where a segment runs
// along a boundary that layers share in plan (a road's edge under a bridge's edge),
// more than one polygon may hold its next point; every polygon reachable so is kept,
// and the one chosen for each point is the one on a walk that ends on the path's last
// polygon (the target's). Each point then gets the height of that polygon's surface.
// Plain C++.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "core/mesh.hpp"
#include "core/surfaces.hpp"

namespace walkmesh {

// A path that cannot be followed across the mesh: it leaves it through a wall.
struct LiftFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What lifting keeps between paths: a mark per polygon, reset by a stamp rather than
// cleared, the walk's queue and the polygons that hold each point. One per thread.
class LiftWork {
public:
    std::vector<std::uint32_t> seen;  // per polygon: the stamp of the last walk that reached it
    std::uint32_t stamp = 0;
    std::vector<std::int32_t> queue;
    std::vector<std::int32_t> origin;       // per queued polygon: the candidate its walk set out from
    std::vector<std::int32_t> layer_start;  // per point, into candidates
    struct Candidate {
        std::int32_t polygon;
        std::int32_t parent;  // index into candidates of the point before, -1 for the start
    };
    std::vector<Candidate> candidates;

    // A fresh stamp; the marks are cleared only when the stamps wrap round.
    std::uint32_t next_stamp(std::size_t polygons);
};

class PathLifter {
public:
    // `mesh` and `surfaces` describe the same polygons, numbered alike.
    PathLifter(const MeshIndex& mesh, const Surfaces& surfaces) noexcept;

    // Writes the height of each of `points` to `heights`: the path runs from `from`,
    // which `polygon` holds, through the points in order, and ends on `last` (-1:
    // anywhere). Points may lie off the mesh by a few roundings of 32-bit floats
    // (paths pulled taut through float32 portals). LiftFault for a path that leaves
    // the mesh or cannot reach `last`.
    void lift(std::int64_t polygon, XY from, std::span<const XY> points, std::int64_t last,
              std::span<double> heights, LiftWork& work) const;

private:
    // Appends to work.candidates the polygons holding `to` that are reached from the
    // candidates begin .. end - 1 (those holding `from`) across sides the segment from
    // `from` meets, each with the candidate it was reached from.
    void reach(std::int32_t begin, std::int32_t end, XY from, XY to, LiftWork& work) const;
    bool holds(std::int32_t polygon, XY point) const noexcept;

    const MeshIndex& mesh_;
    const Surfaces& surfaces_;
    double tolerance_ = 0.0;
};

}  // namespace walkmesh
