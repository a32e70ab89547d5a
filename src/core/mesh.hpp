// The polygon mesh the exact shortest-path search reads: a borrowed view of the
// description NavMesh keeps, and what the search derives from it once per mesh
// (twin sides, the fans of polygons around each vertex, which corners a shortest path
// may turn at), after checking the description so that a malformed one is refused
// before anything reads it out of bounds. Plain C++.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/orientation.hpp"

namespace walkmesh {

// NavMesh's arrays, read and never written. Side k of a polygon runs from the corner
// before k to corner k; neighbours[k] is the polygon across it, -1 for a wall.
struct MeshView {
    std::span<const double> vertices;  // x0, y0, x1, y1, ...
    std::span<const std::int64_t> polygon_offsets;
    std::span<const std::int64_t> polygon_corners;
    std::span<const std::int64_t> neighbours;
};

// What is wrong with a mesh description; `polygon` and `corner` (its position in the
// polygon) name where, -1 when the fault is not about one.
struct MeshFault : std::invalid_argument {
    MeshFault(const std::string& message, std::int64_t polygon_index = -1, std::int64_t corner_index = -1)
        : std::invalid_argument(message), polygon(polygon_index), corner(corner_index) {}
    std::int64_t polygon;
    std::int64_t corner;
};

// The checked mesh in the layout the search reads: corners are numbered across all
// polygons (polygon p holds corners first(p) .. end(p) - 1), each with its point, the
// polygon across the side ending at it, that side's twin in the other polygon, and
// the fan of the corner's vertex it belongs to. Indices are 32-bit: meshes of more
// than 2^31 - 1 corners are refused, the bound a 32-bit platform has anyway.
class MeshIndex {
public:
    // Checks the description and builds the index; MeshFault names the first problem:
    // array lengths and index ranges, coordinates the exact predicates do not support,
    // polygons that are not convex and counter-clockwise with at least three corners
    // (straight corners allowed), neighbours that do not share the side by its
    // vertices or do not name each other back.
    explicit MeshIndex(const MeshView& mesh);

    // The index the shortest-path search runs on: this mesh's polygons merged across
    // the sides the neighbour table joins into larger convex polygons (the same free
    // space, vertices, walls and joins, in fewer and larger pieces), or this index
    // where nothing merges; and the polygon of it that holds each polygon of this one.
    const MeshIndex& merged() const noexcept { return merged_ ? *merged_ : *this; }
    std::int32_t merged_polygon(std::int32_t polygon) const noexcept {
        return merged_ ? merged_of_[polygon] : polygon;
    }

    std::int32_t polygon_count() const noexcept { return static_cast<std::int32_t>(offsets_.size() - 1); }
    std::int32_t corner_count() const noexcept { return static_cast<std::int32_t>(previous_.size()); }
    std::int32_t first(std::int32_t polygon) const noexcept { return offsets_[polygon]; }
    std::int32_t end(std::int32_t polygon) const noexcept { return offsets_[polygon + 1]; }
    std::int32_t max_polygon_size() const noexcept { return max_polygon_size_; }

    // What the search reads of a corner, in one record.
    // `turn` numbers the corner's fan among the turning fans (turn_of), -1 where its
    // fan does not turn.
    struct Corner {
        XY point;
        std::int32_t neighbour;
        std::int32_t twin;
        std::int32_t turn;
        std::uint32_t flags;
    };
    // Corner flags: its fan turns; its fan winds round the vertex more than once; the
    // side ending at it is a wall or leads into a polygon with no other open side.
    static constexpr std::uint32_t turning_fan = 1;
    static constexpr std::uint32_t winding_fan = 2;
    static constexpr std::uint32_t leads_nowhere = 4;
    const Corner& corner(std::int32_t corner) const noexcept { return corners_[corner]; }

    XY point(std::int32_t corner) const noexcept { return corners_[corner].point; }
    std::int32_t polygon_of(std::int32_t corner) const noexcept { return polygon_of_[corner]; }
    // The corners before and after `corner` in its polygon.
    std::int32_t previous(std::int32_t corner) const noexcept { return previous_[corner]; }
    std::int32_t next(std::int32_t corner) const noexcept { return next_[corner]; }
    // The polygon across the side that ends at `corner`, -1 for a wall.
    std::int32_t neighbour(std::int32_t corner) const noexcept { return corners_[corner].neighbour; }
    // That side as the neighbour numbers it (the corner it ends at), -1 for a wall.
    std::int32_t twin(std::int32_t corner) const noexcept { return corners_[corner].twin; }
    // Sides of the polygon that are not walls.
    std::int32_t open_sides(std::int32_t polygon) const noexcept { return open_sides_[polygon]; }

    // The corners around one vertex that are joined through the neighbour table form a
    // fan; a vertex shared by polygons that are not so joined (a pinch, or layers
    // stacked in plan) has one fan per group.
    std::int32_t fan(std::int32_t corner) const noexcept { return fan_[corner]; }
    std::int32_t fan_count() const noexcept { return static_cast<std::int32_t>(turning_.size()); }
    // Whether a shortest path may turn at the fan's vertex: the fan is bounded by walls
    // and spans more than a straight angle, so obstacles press from outside.
    bool turning(std::int32_t fan) const noexcept { return turning_[fan] != 0; }
    // Whether the fan's polygons wind round its vertex a full turn or more (layers
    // stacked in plan): a turning fan that covers some directions twice.
    bool winds(std::int32_t fan) const noexcept { return turning_[fan] == 2; }
    // The corner of an open fan that comes first counter-clockwise: the side starting at
    // it is a wall. Walking previous(twin(corner)) from it visits the whole fan.
    std::int32_t fan_start(std::int32_t fan) const noexcept { return fan_start_[fan]; }
    // The corner of an open fan that comes last: the side ending at it is a wall.
    std::int32_t fan_end(std::int32_t fan) const noexcept { return fan_end_[fan]; }
    // What the search reads of a turning fan, numbered among the turning fans (a
    // search keeps its state for those only): the far ends of its walls, of the side
    // starting at fan_start and of the side ending at fan_end, those corners and their
    // polygons.
    struct Turn {
        XY first_wall;
        XY last_wall;
        std::int32_t start;
        std::int32_t end;
        std::int32_t start_polygon;
        std::int32_t end_polygon;
    };
    std::int32_t turn_count() const noexcept { return static_cast<std::int32_t>(turns_.size()); }
    const Turn& turn_of(std::int32_t turn) const noexcept { return turns_[turn]; }

    // Whether `point` lies in the polygon, its boundary included (exact).
    bool contains(std::int32_t polygon, XY point) const noexcept;

private:
    // Builds the index only, without merging (for the merged index itself).
    struct Unmerged {};
    MeshIndex(const MeshView& mesh, Unmerged);
    void check_polygon(std::int32_t polygon) const;
    void join_sides();
    void build_fans();
    void pack();
    void merge_polygons(std::span<const double> vertices);

    std::vector<std::int32_t> offsets_;
    std::vector<XY> points_;
    std::vector<std::int32_t> vertex_of_;
    std::vector<std::int32_t> polygon_of_;
    std::vector<std::int32_t> previous_;
    std::vector<std::int32_t> next_;
    std::vector<std::int32_t> neighbour_;
    std::vector<std::int32_t> twin_;
    std::vector<std::int32_t> open_sides_;
    std::vector<std::int32_t> fan_;
    std::vector<std::uint8_t> turning_;
    std::vector<std::int32_t> fan_start_;
    std::vector<std::int32_t> fan_end_;
    std::vector<Turn> turns_;
    std::vector<Corner> corners_;
    std::int32_t max_polygon_size_ = 0;
    std::unique_ptr<const MeshIndex> merged_;
    std::vector<std::int32_t> merged_of_;
};

}  // namespace walkmesh
