// The merged index the shortest-path search runs on. Its search makes a node for
// every polygon a cone of sight crosses, so fewer and larger convex polygons over the
// same free space make it faster (on triangulated game maps, about half the nodes).
// Polygons are merged across the sides the neighbour table joins, longest sides
// first (Hertel and Mehlhorn's greedy rule), where the union stays convex, decided by
// the exact orientation test: the free space, its vertices, walls and joins are the
// mesh's own, so the shortest paths are the same, exactly.
#include <algorithm>
#include <numeric>

#include "core/mesh.hpp"

namespace walkmesh {
namespace {

// A merged polygon stops growing at this many corners: each node of the search looks
// at every corner of its polygon.
constexpr std::int32_t most_corners = 16;

// Whether the boundary turns left or runs straight on at `here` (no fold back).
bool convex_corner(XY before, XY here, XY after) noexcept {
    const int turn = orientation(before, here, after);
    return turn > 0 || (turn == 0 && !same_direction(here, before, after));
}

}  // namespace

void MeshIndex::merge_polygons(std::span<const double> vertices) {
    const std::int32_t polygons = polygon_count();
    const std::int32_t corners = corner_count();
    // Each polygon's boundary as a cycle of the original corners; a corner's side is
    // the one ending at it, whose original corner `side_of` names (it changes where a
    // merge takes the other polygon's side on to a kept corner).
    std::vector<std::int32_t> next(next_), previous(previous_), side_of(static_cast<std::size_t>(corners));
    std::iota(side_of.begin(), side_of.end(), 0);
    // The kept corner each original side now ends at.
    std::vector<std::int32_t> ends_at(side_of);
    std::vector<std::int32_t> owner(static_cast<std::size_t>(polygons)), head(offsets_.begin(), offsets_.end() - 1),
        size(static_cast<std::size_t>(polygons));
    std::iota(owner.begin(), owner.end(), 0);
    for (std::int32_t p = 0; p < polygons; ++p) {
        size[p] = end(p) - first(p);
    }
    const auto find = [&](std::int32_t p) {
        while (owner[p] != p) {
            owner[p] = owner[owner[p]];
            p = owner[p];
        }
        return p;
    };

    std::vector<std::int32_t> sides;
    for (std::int32_t c = 0; c < corners; ++c) {
        if (neighbour(c) >= 0 && c < twin(c)) {
            sides.push_back(c);
        }
    }
    // Squared lengths order the sides as their lengths do.
    std::vector<double> length(static_cast<std::size_t>(corners));
    for (const std::int32_t c : sides) {
        const XY a = point(previous_[c]);
        const XY b = point(c);
        length[c] = (b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y);
    }
    // Longest first, equal lengths in side order: the sort is total, so it needs no
    // stable sort (and no scratch buffer).
    std::sort(sides.begin(), sides.end(), [&](std::int32_t a, std::int32_t b) {
        return length[a] != length[b] ? length[a] > length[b] : a < b;
    });

    bool merged_any = false;
    for (const std::int32_t side : sides) {
        const std::int32_t c = ends_at[side];
        const std::int32_t d = ends_at[twin(side)];
        const std::int32_t p = find(polygon_of_[c]);
        const std::int32_t q = find(polygon_of_[d]);
        if (p == q || size[p] + size[q] - 2 > most_corners) {
            continue;
        }
        // The side runs from u to c in p and from the corner before d (at c's vertex)
        // to d (at u's vertex) in q; the union's boundary runs round p from c to u,
        // then round q from the corner after d to the one before the corner before d.
        // Convex polygons on either side of the side's line can share another side
        // only on that line, next to it or beyond sides along it: the union's
        // boundary would fold back there, which the test at the ends refuses.
        const std::int32_t u = previous[c];
        const std::int32_t q_at_c = previous[d];
        if (!convex_corner(point(previous[u]), point(u), point(next[d])) ||
            !convex_corner(point(previous[q_at_c]), point(c), point(next[c]))) {
            continue;
        }
        next[u] = next[d];
        previous[next[d]] = u;
        next[previous[q_at_c]] = c;
        previous[c] = previous[q_at_c];
        side_of[c] = side_of[q_at_c];
        ends_at[side_of[c]] = c;
        owner[q] = p;
        size[p] += size[q] - 2;
        head[p] = c;
        merged_any = true;
    }
    if (!merged_any) {
        return;
    }

    // The merged description, polygons numbered in the order of their lowest original
    // polygon; then its index, checked and built as any mesh's.
    std::vector<std::int32_t> number(static_cast<std::size_t>(polygons), -1);
    std::int32_t count = 0;
    for (std::int32_t p = 0; p < polygons; ++p) {
        if (find(p) == p) {
            number[p] = count++;
        }
    }
    merged_of_.resize(static_cast<std::size_t>(polygons));
    for (std::int32_t p = 0; p < polygons; ++p) {
        merged_of_[p] = number[find(p)];
    }
    std::vector<std::int64_t> offsets{0}, merged_corners, neighbours;
    offsets.reserve(static_cast<std::size_t>(count) + 1);
    for (std::int32_t p = 0; p < polygons; ++p) {
        if (number[p] < 0) {
            continue;
        }
        const std::int32_t start = head[p];
        std::int32_t c = start;
        do {
            merged_corners.push_back(vertex_of_[c]);
            const std::int32_t across = neighbour(side_of[c]);
            neighbours.push_back(across < 0 ? -1 : merged_of_[across]);
            c = next[c];
        } while (c != start);
        offsets.push_back(static_cast<std::int64_t>(merged_corners.size()));
    }
    merged_ = std::unique_ptr<const MeshIndex>(
        new MeshIndex(MeshView{vertices, offsets, merged_corners, neighbours}, Unmerged{}));
}

}  // namespace walkmesh
