// Checking a mesh description and deriving the search's index from it: sides joined to
// their twins by vertex indices, and the fans around each vertex walked through the
// neighbour table, never found by coordinates, so that meshes whose polygons overlap
// in plan (layers) or touch at a vertex without a side (pinches) are read as the table
// joins them.
#include "core/mesh.hpp"

#include <cstddef>
#include <limits>

namespace walkmesh {
namespace {

constexpr std::int64_t index_limit = std::numeric_limits<std::int32_t>::max();

std::string polygon_name(std::int64_t polygon) { return "polygon " + std::to_string(polygon); }

// Which half of the circle a side's direction points into: the upper half holds the
// directions from +x (included) to -x (excluded).
bool points_down(XY from, XY to) noexcept { return to.y < from.y || (to.y == from.y && to.x < from.x); }

}  // namespace

MeshIndex::MeshIndex(const MeshView& mesh) : MeshIndex(mesh, Unmerged{}) { merge_polygons(mesh.vertices); }

MeshIndex::MeshIndex(const MeshView& mesh, Unmerged) {
    if (mesh.vertices.size() % 2 != 0) {
        throw MeshFault("vertices must hold an x and a y per vertex, not " + std::to_string(mesh.vertices.size()) +
                        " numbers");
    }
    const std::int64_t vertex_count = static_cast<std::int64_t>(mesh.vertices.size() / 2);
    if (mesh.polygon_offsets.empty()) {
        throw MeshFault("polygon_offsets must hold one more entry than there are polygons, and has none");
    }
    const std::int64_t polygon_count = static_cast<std::int64_t>(mesh.polygon_offsets.size()) - 1;
    const std::int64_t corner_count = static_cast<std::int64_t>(mesh.polygon_corners.size());
    if (vertex_count > index_limit || polygon_count >= index_limit || corner_count > index_limit) {
        throw MeshFault("the mesh is too large: at most 2147483647 vertices and corners");
    }
    if (mesh.neighbours.size() != mesh.polygon_corners.size()) {
        throw MeshFault("neighbours has " + std::to_string(mesh.neighbours.size()) + " entries, polygon_corners " +
                        std::to_string(corner_count));
    }
    if (mesh.polygon_offsets[0] != 0) {
        throw MeshFault("polygon_offsets must start at 0, not " + std::to_string(mesh.polygon_offsets[0]));
    }
    offsets_.resize(static_cast<std::size_t>(polygon_count) + 1);
    for (std::int64_t p = 0; p < polygon_count; ++p) {
        const std::int64_t begin = mesh.polygon_offsets[p];
        const std::int64_t end = mesh.polygon_offsets[p + 1];
        if (end < begin || end > corner_count) {
            throw MeshFault("polygon_offsets[" + std::to_string(p + 1) + "] = " + std::to_string(end) +
                                " is outside " + std::to_string(begin) + " .. " + std::to_string(corner_count),
                            p);
        }
        if (end - begin < 3) {
            throw MeshFault(polygon_name(p) + " has " + std::to_string(end - begin) +
                                " corners; a polygon needs at least 3",
                            p);
        }
        offsets_[p] = static_cast<std::int32_t>(begin);
        if (end - begin > max_polygon_size_) {
            max_polygon_size_ = static_cast<std::int32_t>(end - begin);
        }
    }
    if (mesh.polygon_offsets[polygon_count] != corner_count) {
        throw MeshFault("polygon_offsets ends at " + std::to_string(mesh.polygon_offsets[polygon_count]) +
                        ", but there are " + std::to_string(corner_count) + " corners");
    }
    offsets_[polygon_count] = static_cast<std::int32_t>(corner_count);

    const std::size_t corners = static_cast<std::size_t>(corner_count);
    points_.resize(corners);
    vertex_of_.resize(corners);
    polygon_of_.resize(corners);
    previous_.resize(corners);
    next_.resize(corners);
    neighbour_.resize(corners);
    for (std::int32_t p = 0; p < polygon_count; ++p) {
        for (std::int32_t c = first(p); c < end(p); ++c) {
            const std::int64_t vertex = mesh.polygon_corners[c];
            if (vertex < 0 || vertex >= vertex_count) {
                throw MeshFault(polygon_name(p) + " refers to vertex " + std::to_string(vertex) + ", but there are " +
                                    std::to_string(vertex_count) + " vertices",
                                p, c - first(p));
            }
            const XY point{mesh.vertices[2 * vertex], mesh.vertices[2 * vertex + 1]};
            if (!supported_coordinate(point.x) || !supported_coordinate(point.y)) {
                throw MeshFault("vertex " + std::to_string(vertex) + " of " + polygon_name(p) + " is at (" +
                                    std::to_string(point.x) + ", " + std::to_string(point.y) +
                                    "): coordinates must be finite and at most 2^480 in magnitude",
                                p, c - first(p));
            }
            const std::int64_t across = mesh.neighbours[c];
            if (across < -1 || across >= polygon_count || across == p) {
                throw MeshFault(polygon_name(p) + " has neighbour " + std::to_string(across) +
                                    (across == p ? ", itself" : ", outside -1 .. " + std::to_string(polygon_count - 1)),
                                p, c - first(p));
            }
            points_[c] = point;
            vertex_of_[c] = static_cast<std::int32_t>(vertex);
            polygon_of_[c] = p;
            previous_[c] = c == first(p) ? end(p) - 1 : c - 1;
            next_[c] = c + 1 == end(p) ? first(p) : c + 1;
            neighbour_[c] = static_cast<std::int32_t>(across);
        }
        check_polygon(p);
    }
    join_sides();
    build_fans();
    pack();
}

// The corners' points, neighbours, twins and turning fans move into one record each,
// with the flags the search reads beside them.
void MeshIndex::pack() {
    std::vector<std::int32_t> turn(fan_start_.size(), -1);
    for (std::size_t fan = 0; fan < turn.size(); ++fan) {
        if (turning_[fan] != 0) {
            turn[fan] = static_cast<std::int32_t>(turns_.size());
            turns_.push_back({points_[next_[fan_start_[fan]]], points_[previous_[fan_end_[fan]]], fan_start_[fan],
                              fan_end_[fan], polygon_of_[fan_start_[fan]], polygon_of_[fan_end_[fan]]});
        }
    }
    corners_.resize(points_.size());
    for (std::int32_t c = 0; c < corner_count(); ++c) {
        const std::int32_t fan = fan_[c];
        const std::int32_t across = neighbour_[c];
        std::uint32_t flags = turning_[fan] != 0 ? turning_fan : 0;
        flags |= turning_[fan] == 2 ? winding_fan : 0;
        flags |= across < 0 || open_sides_[across] == 1 ? leads_nowhere : 0;
        corners_[c] = {points_[c], across, twin_[c], turn[fan], flags};
    }
    std::vector<XY>().swap(points_);
    std::vector<std::int32_t>().swap(neighbour_);
    std::vector<std::int32_t>().swap(twin_);
}

void MeshIndex::check_polygon(std::int32_t polygon) const {
    int half_turns = 0;
    for (std::int32_t c = first(polygon); c < end(polygon); ++c) {
        const XY before = points_[previous_[c]];
        const XY here = points_[c];
        const XY after = points_[next_[c]];
        const std::int64_t position = c - first(polygon);
        if (here == after) {
            throw MeshFault(polygon_name(polygon) + " has two corners at the same point (" + std::to_string(here.x) +
                                ", " + std::to_string(here.y) + ")",
                            polygon, position);
        }
        const int turn = orientation(before, here, after);
        if (turn < 0) {
            throw MeshFault(polygon_name(polygon) + " is not convex and counter-clockwise: it turns clockwise at corner " +
                                std::to_string(position),
                            polygon, position);
        }
        if (turn == 0 && same_direction(here, before, after)) {
            throw MeshFault(polygon_name(polygon) + " folds back on itself at corner " + std::to_string(position),
                            polygon, position);
        }
        // Left turns of less than a straight angle: the sides' directions go once round
        // the circle, entering the upper half once, for a simple convex polygon.
        half_turns += points_down(before, here) && !points_down(here, after) ? 1 : 0;
    }
    if (half_turns != 1) {
        throw MeshFault(polygon_name(polygon) + (half_turns == 0 ? " has no area: its corners lie on one line"
                                                                 : " is not simple: its sides wind round more than once"),
                        polygon);
    }
}

void MeshIndex::join_sides() {
    twin_.assign(points_.size(), -1);
    open_sides_.assign(offsets_.size() - 1, 0);
    for (std::int32_t c = 0; c < corner_count(); ++c) {
        const std::int32_t across = neighbour_[c];
        if (across < 0) {
            continue;
        }
        ++open_sides_[polygon_of_[c]];
        // The same side runs the other way in the neighbour: from this corner's vertex
        // to the vertex before it.
        const std::int32_t from = vertex_of_[c];
        const std::int32_t to = vertex_of_[previous_[c]];
        for (std::int32_t d = first(across); d < end(across); ++d) {
            if (vertex_of_[d] == to && vertex_of_[previous_[d]] == from) {
                twin_[c] = d;
                break;
            }
        }
        const std::int32_t polygon = polygon_of_[c];
        const std::int64_t position = c - first(polygon);
        if (twin_[c] < 0) {
            throw MeshFault(polygon_name(polygon) + " has " + polygon_name(across) + " across its side " +
                                std::to_string(position) + " (vertices " + std::to_string(to) + " to " +
                                std::to_string(from) + "), but that polygon has no such side",
                            polygon, position);
        }
        if (neighbour_[twin_[c]] != polygon) {
            throw MeshFault(polygon_name(polygon) + " has " + polygon_name(across) + " across its side " +
                                std::to_string(position) + ", but that polygon has " +
                                (neighbour_[twin_[c]] < 0 ? std::string("a wall")
                                                          : polygon_name(neighbour_[twin_[c]])) +
                                " across it",
                            polygon, position);
        }
    }
}

// Fans are walked clockwise across the side that starts at the vertex (to the first
// wall, or round to the start), then counter-clockwise from there across the side
// that ends at it, so each fan is walked in one order from its clockwise wall. The
// angle it spans is followed in steps of at most a straight angle (each polygon's
// corner), against the direction of its clockwise wall.
void MeshIndex::build_fans() {
    fan_.assign(points_.size(), -1);
    turning_.clear();
    fan_start_.clear();
    fan_end_.clear();
    const std::int32_t limit = corner_count();
    for (std::int32_t start = 0; start < limit; ++start) {
        if (fan_[start] >= 0) {
            continue;
        }
        const std::int32_t id = static_cast<std::int32_t>(turning_.size());
        std::int32_t corner = start;
        bool closed = false;
        for (std::int32_t steps = 0; steps < limit; ++steps) {
            const std::int32_t side = next_[corner];
            if (neighbour_[side] < 0) {
                break;
            }
            corner = twin_[side];
            if (corner == start) {
                closed = true;
                break;
            }
        }
        if (closed) {
            for (std::int32_t c = start, steps = 0; steps < limit; ++steps) {
                fan_[c] = id;
                c = twin_[next_[c]];
                if (c == start) {
                    break;
                }
            }
            turning_.push_back(0);
            fan_start_.push_back(start);
            fan_end_.push_back(start);
            continue;
        }
        fan_start_.push_back(corner);
        const XY vertex = points_[corner];
        const XY wall = points_[next_[corner]];
        // 0: no angle yet, 1: less than straight, 2: straight, 3: more, 4: a full turn or more.
        int angle = 0;
        for (std::int32_t steps = 0; steps < limit; ++steps) {
            fan_[corner] = id;
            const XY ray = points_[previous_[corner]];
            const int side = orientation(vertex, wall, ray);
            const bool ahead = side == 0 && same_direction(vertex, wall, ray);
            if (side > 0) {
                angle = angle <= 1 ? 1 : 4;
            } else if (side < 0) {
                angle = angle == 4 ? 4 : 3;
            } else if (ahead) {
                angle = angle == 0 ? 0 : 4;
            } else {
                angle = angle <= 1 ? 2 : 4;
            }
            if (neighbour_[corner] < 0) {
                break;
            }
            corner = previous_[twin_[corner]];
        }
        fan_end_.push_back(corner);
        turning_.push_back(angle == 4 ? 2 : angle == 3 ? 1 : 0);
    }
}

bool MeshIndex::contains(std::int32_t polygon, XY point) const noexcept {
    for (std::int32_t c = first(polygon); c < end(polygon); ++c) {
        if (orientation(corners_[previous_[c]].point, corners_[c].point, point) < 0) {
            return false;
        }
    }
    return true;
}

}  // namespace walkmesh
