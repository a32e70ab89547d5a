// find_path's search: fresh tables for each call, the route as the midpoints of the
// portals it crosses.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "core/geometry.hpp"
#include "core/graph.hpp"
#include "core/memory.hpp"
#include "core/search.hpp"

namespace walkmesh {

// The route's portal midpoints from the start side to the target side; the caller
// appends the target point.
using PointList = GrowableArray<PointValue>;

// The route from `start` to `target`, or nothing when the target cannot be reached.
std::optional<PointList> search_path(const Graph& graph, std::uint32_t start, std::uint32_t target);

// Follows `came_from` (one entry per node) back from `target` to `start` and returns
// the portal midpoints in route order.
PointList walk_path(const Graph& graph, std::span<const Predecessor> came_from, std::uint32_t start,
                    std::uint32_t target);

}  // namespace walkmesh
