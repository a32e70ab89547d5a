// The exact shortest-path search against a reference computed another way: a
// visibility graph over the free space's boundary vertices, searched with Dijkstra,
// where a segment is visible when the closed polygons cover it (exact integer
// clipping, on maps whose coordinates are multiples of 1/8). Also the exact
// orientation test, the mesh checks and the finder's query checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <queue>
#include <random>
#include <utility>
#include <vector>

#include "core/mesh.hpp"
#include "core/orientation.hpp"
#include "core/shortest_path.hpp"

namespace walkmesh {
namespace {

// ---- meshes made for the tests ----

struct TestMesh {
    std::vector<double> vertices;
    std::vector<std::vector<std::int64_t>> polygons;
    std::vector<std::int64_t> offsets, corners, neighbours;

    // Joins sides by their vertex indices, as NavMesh does.
    void finish() {
        offsets = {0};
        corners.clear();
        std::map<std::pair<std::int64_t, std::int64_t>, std::int64_t> owner;
        for (std::size_t p = 0; p < polygons.size(); ++p) {
            const auto& polygon = polygons[p];
            for (std::size_t k = 0; k < polygon.size(); ++k) {
                corners.push_back(polygon[k]);
                owner[{polygon[(k + polygon.size() - 1) % polygon.size()], polygon[k]}] = static_cast<std::int64_t>(p);
            }
            offsets.push_back(static_cast<std::int64_t>(corners.size()));
        }
        neighbours.clear();
        for (const auto& polygon : polygons) {
            for (std::size_t k = 0; k < polygon.size(); ++k) {
                const auto found = owner.find({polygon[k], polygon[(k + polygon.size() - 1) % polygon.size()]});
                neighbours.push_back(found == owner.end() ? -1 : found->second);
            }
        }
    }
    MeshView view() const { return {vertices, offsets, corners, neighbours}; }
    XY vertex(std::int64_t v) const { return {vertices[2 * v], vertices[2 * v + 1]}; }
};

// A grid of cells, some blocked (never two free cells meeting only at a corner), the
// free ones grouped into rectangles whose boundaries hold every lattice point on them:
// holes, and many straight corners.
TestMesh rectangle_map(unsigned seed, int width, int height) {
    std::mt19937 rng(seed);
    std::vector<int> blocked(static_cast<std::size_t>(width * height));
    const auto cell = [&](int x, int y) -> int& { return blocked[static_cast<std::size_t>(y * width + x)]; };
    for (int& b : blocked) {
        b = rng() % 100 < 22 ? 1 : 0;
    }
    for (bool changed = true; changed;) {
        changed = false;
        for (int y = 0; y + 1 < height; ++y) {
            for (int x = 0; x + 1 < width; ++x) {
                if (!cell(x, y) && !cell(x + 1, y + 1) && cell(x + 1, y) && cell(x, y + 1)) {
                    cell(x + 1, y) = 0;
                    changed = true;
                }
                if (cell(x, y) && cell(x + 1, y + 1) && !cell(x + 1, y) && !cell(x, y + 1)) {
                    cell(x, y) = 0;
                    changed = true;
                }
            }
        }
    }
    TestMesh mesh;
    const double unit = 4.0;
    for (int y = 0; y <= height; ++y) {
        for (int x = 0; x <= width; ++x) {
            mesh.vertices.push_back(x * unit);
            mesh.vertices.push_back(y * unit);
        }
    }
    const auto lattice = [&](int x, int y) { return static_cast<std::int64_t>(y * (width + 1) + x); };
    std::vector<int> taken(blocked.size());
    std::vector<int> order(blocked.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = static_cast<int>(i);
    }
    std::shuffle(order.begin(), order.end(), rng);
    for (const int index : order) {
        const int x0 = index % width;
        const int y0 = index / width;
        if (blocked[static_cast<std::size_t>(index)] || taken[static_cast<std::size_t>(index)]) {
            continue;
        }
        const auto fits = [&](int w, int h) {
            for (int y = y0; y < y0 + h; ++y) {
                for (int x = x0; x < x0 + w; ++x) {
                    if (x >= width || y >= height || cell(x, y) || taken[static_cast<std::size_t>(y * width + x)]) {
                        return false;
                    }
                }
            }
            return true;
        };
        int w = 1 + static_cast<int>(rng() % 3);
        int h = 1 + static_cast<int>(rng() % 3);
        while (!fits(w, h)) {
            (w >= h ? w : h) -= 1;
        }
        std::vector<std::int64_t> polygon;
        for (int x = x0; x < x0 + w; ++x) polygon.push_back(lattice(x, y0));
        for (int y = y0; y < y0 + h; ++y) polygon.push_back(lattice(x0 + w, y));
        for (int x = x0 + w; x > x0; --x) polygon.push_back(lattice(x, y0 + h));
        for (int y = y0 + h; y > y0; --y) polygon.push_back(lattice(x0, y));
        mesh.polygons.push_back(polygon);
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) {
                taken[static_cast<std::size_t>(y * width + x)] = 1;
            }
        }
    }
    mesh.finish();
    return mesh;
}

// A jittered grid cut into triangles, some taken out (no vertex left pinched between
// two holes), then random pairs of neighbours merged where the union stays convex.
TestMesh triangle_map(unsigned seed, int width, int height) {
    std::mt19937 rng(seed);
    TestMesh mesh;
    const auto lattice = [&](int x, int y) { return static_cast<std::int64_t>(y * (width + 1) + x); };
    for (int y = 0; y <= height; ++y) {
        for (int x = 0; x <= width; ++x) {
            // Every third map unjittered: lines of corners, and merges with straight corners.
            const int jitter = x > 0 && y > 0 && x < width && y < height && seed % 3 != 0 ? 3 : 0;
            mesh.vertices.push_back(16.0 * x + static_cast<int>(rng() % (2 * jitter + 1)) - jitter);
            mesh.vertices.push_back(16.0 * y + static_cast<int>(rng() % (2 * jitter + 1)) - jitter);
        }
    }
    std::vector<std::vector<std::int64_t>> triangles;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto a = lattice(x, y), b = lattice(x + 1, y), c = lattice(x + 1, y + 1), d = lattice(x, y + 1);
            if (rng() % 2) {
                triangles.push_back({a, b, c});
                triangles.push_back({a, c, d});
            } else {
                triangles.push_back({a, b, d});
                triangles.push_back({b, c, d});
            }
        }
    }
    std::vector<int> removed(triangles.size());
    for (int& r : removed) {
        r = rng() % 100 < 18 ? 1 : 0;
    }
    // A vertex with more than two walls meeting at it sits between two holes.
    for (bool pinched = true; pinched;) {
        pinched = false;
        std::map<std::pair<std::int64_t, std::int64_t>, int> sides;
        for (std::size_t t = 0; t < triangles.size(); ++t) {
            for (int k = 0; k < 3 && !removed[t]; ++k) {
                ++sides[{std::min(triangles[t][k], triangles[t][(k + 1) % 3]),
                         std::max(triangles[t][k], triangles[t][(k + 1) % 3])}];
            }
        }
        std::map<std::int64_t, int> walls;
        for (const auto& [side, count] : sides) {
            if (count == 1) {
                ++walls[side.first];
                ++walls[side.second];
            }
        }
        for (std::size_t t = 0; t < triangles.size() && !pinched; ++t) {
            for (int k = 0; k < 3; ++k) {
                if (removed[t] && walls[triangles[t][k]] > 2) {
                    removed[t] = 0;
                    pinched = true;
                    break;
                }
            }
        }
    }
    for (std::size_t t = 0; t < triangles.size(); ++t) {
        if (!removed[t]) {
            mesh.polygons.push_back(triangles[t]);
        }
    }
    for (int attempt = 0; attempt < static_cast<int>(mesh.polygons.size()); ++attempt) {
        auto& polygons = mesh.polygons;
        const std::size_t i = rng() % polygons.size();
        const auto& a = polygons[i];
        const std::size_t k = rng() % a.size();
        const std::int64_t u = a[(k + a.size() - 1) % a.size()], v = a[k];
        for (std::size_t j = 0; j < polygons.size(); ++j) {
            const auto& b = polygons[j];
            const auto at = std::find(b.begin(), b.end(), u);
            if (j == i || at == b.end() || b[(static_cast<std::size_t>(at - b.begin()) + b.size() - 1) % b.size()] != v) {
                continue;
            }
            std::vector<std::int64_t> merged;
            for (std::size_t n = k;; n = (n + 1) % a.size()) {
                merged.push_back(a[n]);
                if (a[n] == u) break;
            }
            for (std::size_t n = (static_cast<std::size_t>(at - b.begin()) + 1) % b.size(); b[n] != v; n = (n + 1) % b.size()) {
                merged.push_back(b[n]);
            }
            // Straight corners are kept; a fold back is not convex.
            bool convex = true;
            for (std::size_t n = 0; n < merged.size(); ++n) {
                const XY p = mesh.vertex(merged[(n + merged.size() - 1) % merged.size()]), q = mesh.vertex(merged[n]),
                         r = mesh.vertex(merged[(n + 1) % merged.size()]);
                const double turn = (q.x - p.x) * (r.y - q.y) - (q.y - p.y) * (r.x - q.x);
                convex = convex && (turn > 0 || (turn == 0 && (q.x - p.x) * (r.x - q.x) + (q.y - p.y) * (r.y - q.y) > 0));
            }
            if (convex) {
                polygons[i] = merged;
                polygons.erase(polygons.begin() + static_cast<std::ptrdiff_t>(j));
            }
            break;
        }
    }
    mesh.finish();
    return mesh;
}

// ---- the reference ----

struct Fraction {
    std::int64_t num, den;  // den > 0
};
bool less(Fraction a, Fraction b) { return a.num * b.den < b.num * a.den; }

class Reference {
public:
    explicit Reference(const TestMesh& mesh) : mesh_(mesh) {
        std::map<std::pair<std::int64_t, std::int64_t>, int> sides;
        for (const auto& polygon : mesh.polygons) {
            for (std::size_t k = 0; k < polygon.size(); ++k) {
                const auto u = polygon[k], v = polygon[(k + 1) % polygon.size()];
                ++sides[{std::min(u, v), std::max(u, v)}];
            }
        }
        for (const auto& [side, count] : sides) {
            if (count == 1) {
                corners_.push_back(mesh.vertex(side.first));
                corners_.push_back(mesh.vertex(side.second));
            }
        }
        std::sort(corners_.begin(), corners_.end(), [](XY a, XY b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
        corners_.erase(std::unique(corners_.begin(), corners_.end()), corners_.end());
        sees_.assign(corners_.size() * corners_.size(), 0);
        for (std::size_t i = 0; i < corners_.size(); ++i) {
            for (std::size_t j = i + 1; j < corners_.size(); ++j) {
                sees_[i * corners_.size() + j] = sees_[j * corners_.size() + i] = visible(corners_[i], corners_[j]);
            }
        }
    }

    // Whether the closed polygons cover the segment from p to q.
    bool visible(XY p, XY q) const {
        const auto ip = scaled(p), iq = scaled(q);
        std::vector<std::pair<Fraction, Fraction>> pieces;
        for (const auto& polygon : mesh_.polygons) {
            Fraction low{0, 1}, high{1, 1};
            bool empty = false;
            for (std::size_t k = 0; k < polygon.size() && !empty; ++k) {
                const auto a = scaled(mesh_.vertex(polygon[k])), b = scaled(mesh_.vertex(polygon[(k + 1) % polygon.size()]));
                const std::int64_t f0 = (b.first - a.first) * (ip.second - a.second) - (b.second - a.second) * (ip.first - a.first);
                const std::int64_t f1 = (b.first - a.first) * (iq.second - a.second) - (b.second - a.second) * (iq.first - a.first);
                if (f0 == f1) {
                    empty = f0 < 0;
                } else if (f1 > f0) {
                    if (less(low, Fraction{-f0, f1 - f0})) low = {-f0, f1 - f0};
                } else if (less(Fraction{f0, f0 - f1}, high)) {
                    high = {f0, f0 - f1};
                }
            }
            if (!empty && !less(high, low)) {
                pieces.push_back({low, high});
            }
        }
        std::sort(pieces.begin(), pieces.end(), [](const auto& a, const auto& b) { return less(a.first, b.first); });
        Fraction reached{0, 1};
        for (const auto& [low, high] : pieces) {
            if (less(reached, low)) {
                return false;
            }
            if (less(reached, high)) {
                reached = high;
            }
        }
        return !less(reached, Fraction{1, 1});
    }

    // Dijkstra over the boundary vertices; infinity when the target cannot be reached.
    double shortest(XY start, XY target) const {
        const std::size_t n = corners_.size();
        std::vector<double> cost(n + 1, std::numeric_limits<double>::infinity());
        std::vector<int> done(n + 1);
        using Entry = std::pair<double, std::size_t>;
        std::priority_queue<Entry, std::vector<Entry>, std::greater<>> open;
        const auto point = [&](std::size_t i) { return i < n ? corners_[i] : target; };
        const auto relax = [&](std::size_t i, double c) {
            if (c < cost[i]) {
                cost[i] = c;
                open.push({c, i});
            }
        };
        if (visible(start, target)) relax(n, length(start, target));
        for (std::size_t i = 0; i < n; ++i) {
            if (visible(start, corners_[i])) relax(i, length(start, corners_[i]));
        }
        while (!open.empty()) {
            const auto [c, i] = open.top();
            open.pop();
            if (done[i]) continue;
            done[i] = 1;
            if (i == n) return c;
            for (std::size_t j = 0; j < n; ++j) {
                if (sees_[i * n + j]) relax(j, c + length(point(i), point(j)));
            }
            if (visible(point(i), target)) relax(n, c + length(point(i), target));
        }
        return std::numeric_limits<double>::infinity();
    }

    static double length(XY a, XY b) { return std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y)); }

private:
    static std::pair<std::int64_t, std::int64_t> scaled(XY p) {
        return {static_cast<std::int64_t>(std::llround(p.x * 8)), static_cast<std::int64_t>(std::llround(p.y * 8))};
    }

    const TestMesh& mesh_;
    std::vector<XY> corners_;
    std::vector<char> sees_;
};

// The first polygon holding the point, found by the reference's own clipping.
std::int64_t polygon_holding(const TestMesh& mesh, const Reference& reference, XY point) {
    for (std::size_t p = 0; p < mesh.polygons.size(); ++p) {
        TestMesh single;
        single.vertices = mesh.vertices;
        single.polygons = {mesh.polygons[p]};
        if (Reference(single).visible(point, point)) return static_cast<std::int64_t>(p);
    }
    static_cast<void>(reference);
    return -1;
}

// Query points: vertices, points on sides, and points on the 1/8 lattice.
XY random_point(const TestMesh& mesh, std::mt19937& rng) {
    const auto& polygon = mesh.polygons[rng() % mesh.polygons.size()];
    const XY a = mesh.vertex(polygon[rng() % polygon.size()]);
    switch (rng() % 4) {
        case 0:
            return a;
        case 1: {
            const XY b = mesh.vertex(polygon[rng() % polygon.size()]);
            const double t = static_cast<double>(rng() % 5) / 4.0;
            return {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
        }
        default: {
            // A lattice point near the polygon's centre of corners.
            double x = 0, y = 0;
            for (const auto v : polygon) {
                x += mesh.vertex(v).x;
                y += mesh.vertex(v).y;
            }
            x = std::round(x / static_cast<double>(polygon.size()) * 8) / 8 + static_cast<int>(rng() % 9) / 8.0 - 0.5;
            y = std::round(y / static_cast<double>(polygon.size()) * 8) / 8 + static_cast<int>(rng() % 9) / 8.0 - 0.5;
            return {x, y};
        }
    }
}

// Runs queries on the map and compares every answer with the reference's.
void compare_with_reference(const TestMesh& mesh, unsigned seed, int queries, ShortestPathFinder& finder) {
    const MeshIndex index(mesh.view());
    const Reference reference(mesh);
    std::mt19937 rng(seed);
    for (int q = 0; q < queries; ++q) {
        const XY start = random_point(mesh, rng);
        const XY target = rng() % 8 == 0 ? start : random_point(mesh, rng);
        const std::int64_t from = polygon_holding(mesh, reference, start);
        const std::int64_t to = polygon_holding(mesh, reference, target);
        if (from < 0 || to < 0) {
            continue;
        }
        const bool found = finder.find(index, from, start, to, target);
        const double expected = reference.shortest(start, target);
        SCOPED_TRACE(testing::Message() << "seed " << seed << ": (" << start.x << ", " << start.y << ") to ("
                                        << target.x << ", " << target.y << ")");
        ASSERT_EQ(found, std::isfinite(expected));
        const auto path = finder.path();
        if (!found) {
            EXPECT_TRUE(path.empty());
            continue;
        }
        EXPECT_NEAR(finder.length(), expected, 1e-9 * std::max(1.0, expected));
        ASSERT_GE(path.size(), 2u);
        EXPECT_EQ(path.front(), start);
        EXPECT_EQ(path.back(), target);
        for (std::size_t i = 1; i < path.size(); ++i) {
            EXPECT_TRUE(reference.visible(path[i - 1], path[i])) << "segment " << i;
        }
        for (std::size_t i = 1; i + 1 < path.size(); ++i) {
            EXPECT_NE(orientation(path[i - 1], path[i], path[i + 1]), 0) << "corner " << i << " does not turn";
            bool vertex = false;
            for (const auto v : mesh.corners) vertex = vertex || mesh.vertex(v) == path[i];
            EXPECT_TRUE(vertex) << "corner " << i << " is no mesh vertex";
        }
        EXPECT_LE(finder.counts().popped, finder.counts().pushed);
        EXPECT_LE(finder.counts().pushed, finder.counts().generated);
    }
}

// Maps per generator; WALKMESH_SHORTEST_MAPS asks for more.
unsigned map_count() {
    const char* text = std::getenv("WALKMESH_SHORTEST_MAPS");
    return text != nullptr ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : 25;
}

TEST(ShortestPath, RectangleMapsWithHolesAndStraightCorners) {
    ShortestPathFinder finder;
    for (unsigned seed = 1; seed <= map_count(); ++seed) {
        compare_with_reference(rectangle_map(seed, 9 + seed % 5, 7 + seed % 3), seed, 30, finder);
    }
}

TEST(ShortestPath, MergedTriangleMapsWithHoles) {
    ShortestPathFinder finder;
    for (unsigned seed = 1; seed <= map_count(); ++seed) {
        compare_with_reference(triangle_map(seed, 7 + seed % 4, 6 + seed % 3), 1000 + seed, 30, finder);
    }
}

// A square room with a square pillar: known answers, and what a kept finder gives
// after other meshes.
TEST(ShortestPath, RoundAPillarAndDegenerateQueries) {
    TestMesh room;
    room.vertices = {0, 0, 12, 0, 12, 12, 0, 12, 4, 4, 8, 4, 8, 8, 4, 8};
    room.polygons = {{0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};
    room.finish();
    const MeshIndex index(room.view());
    for (int v = 4; v < 8; ++v) {
        EXPECT_TRUE(index.turning(index.fan(index.first(v - 4) + 3))) << "pillar corner";
    }
    EXPECT_FALSE(index.turning(index.fan(0))) << "room corner";
    ShortestPathFinder finder;
    ASSERT_TRUE(finder.find(index, 0, {2, 2}, 2, {10, 10}));
    EXPECT_NEAR(finder.length(), 2 * std::hypot(2.0, 6.0), 1e-12);
    ASSERT_EQ(finder.path().size(), 3u);
    const XY corner = finder.path()[1];
    EXPECT_TRUE((corner == XY{8, 4}) || (corner == XY{4, 8}));
    // A point given with the polygon next to its own is taken in its own.
    ASSERT_TRUE(finder.find(index, 1, {2, 2}, 2, {10, 10}));
    EXPECT_NEAR(finder.length(), 2 * std::hypot(2.0, 6.0), 1e-12);
    // Along the pillar's side, from corner to corner, and on to a vertex of the room.
    ASSERT_TRUE(finder.find(index, 0, {4, 4}, 1, {8, 8}));
    EXPECT_DOUBLE_EQ(finder.length(), 8.0);
    // The same point, a point on the side two polygons share, one polygon.
    ASSERT_TRUE(finder.find(index, 1, {10, 6}, 1, {10, 6}));
    EXPECT_EQ(finder.path().size(), 2u);
    EXPECT_EQ(finder.length(), 0.0);
    ASSERT_TRUE(finder.find(index, 0, {12, 0}, 2, {12, 12}));
    EXPECT_EQ(finder.path().size(), 2u);
    EXPECT_EQ(finder.length(), 12.0);
}

TEST(ShortestPath, UnreachableIsAnAnswerAndBadQueriesAreRefused) {
    TestMesh two;
    two.vertices = {0, 0, 1, 0, 1, 1, 0, 1, 2, 0, 3, 0, 3, 1, 2, 1};
    two.polygons = {{0, 1, 2, 3}, {4, 5, 6, 7}};
    two.finish();
    const MeshIndex index(two.view());
    ShortestPathFinder finder;
    EXPECT_FALSE(finder.find(index, 0, {0.5, 0.5}, 1, {2.5, 0.5}));
    EXPECT_TRUE(finder.path().empty());
    EXPECT_EQ(finder.length(), 0.0);
    EXPECT_THROW(finder.find(index, 2, {0.5, 0.5}, 1, {2.5, 0.5}), PointFault);
    EXPECT_THROW(finder.find(index, 0, {0.5, 0.5}, -1, {2.5, 0.5}), PointFault);
    EXPECT_THROW(finder.find(index, 0, {1.5, 0.5}, 1, {2.5, 0.5}), PointFault);
    EXPECT_THROW(finder.find(index, 0, {0.5, 0.5}, 1, {std::nan(""), 0.5}), PointFault);
    // The finder is still sound after a refused query.
    EXPECT_TRUE(finder.find(index, 0, {0.5, 0.5}, 0, {1, 1}));
}

TEST(MeshIndex, RefusesMalformedDescriptions) {
    const std::vector<double> square = {0, 0, 1, 0, 1, 1, 0, 1, 2, 0, 2, 1};
    struct Case {
        const char* what;
        std::vector<double> vertices;
        std::vector<std::int64_t> offsets, corners, neighbours;
    };
    const Case cases[] = {
        {"odd vertex array", {0, 0, 1}, {0}, {}, {}},
        {"no offsets", square, {}, {}, {}},
        {"two corners", square, {0, 2}, {0, 1}, {-1, -1}},
        {"offsets past the corners", square, {0, 5}, {0, 1, 2, 3}, {-1, -1, -1, -1}},
        {"neighbours of another length", square, {0, 4}, {0, 1, 2, 3}, {-1, -1, -1}},
        {"vertex out of range", square, {0, 4}, {0, 1, 2, 9}, {-1, -1, -1, -1}},
        {"clockwise", square, {0, 4}, {0, 3, 2, 1}, {-1, -1, -1, -1}},
        {"repeated point", square, {0, 4}, {0, 1, 1, 2}, {-1, -1, -1, -1}},
        {"no area", {0, 0, 1, 0, 2, 0}, {0, 3}, {0, 1, 2}, {-1, -1, -1}},
        {"wound twice", {0, 0, 1, 0, 1, 1, 0, 1}, {0, 8}, {0, 1, 2, 3, 0, 1, 2, 3}, std::vector<std::int64_t>(8, -1)},
        {"neighbour out of range", square, {0, 4}, {0, 1, 2, 3}, {-1, 5, -1, -1}},
        {"itself", square, {0, 4}, {0, 1, 2, 3}, {-1, 0, -1, -1}},
        {"not sharing the side", square, {0, 4, 8}, {0, 1, 2, 3, 1, 4, 5, 2}, {-1, 1, -1, -1, -1, -1, -1, -1}},
        {"not named back", square, {0, 4, 8}, {0, 1, 2, 3, 1, 4, 5, 2}, {-1, -1, 1, -1, -1, -1, -1, -1}},
        {"not finite", {0, 0, 1, 0, std::numeric_limits<double>::infinity(), 1}, {0, 3}, {0, 1, 2}, {-1, -1, -1}},
        {"beyond 2^480", {0, 0, 0x1p481, 0, 0, 1}, {0, 3}, {0, 1, 2}, {-1, -1, -1}},
    };
    for (const Case& c : cases) {
        EXPECT_THROW(MeshIndex({c.vertices, c.offsets, c.corners, c.neighbours}), MeshFault) << c.what;
    }
    const std::vector<std::int64_t> offsets = {0, 4, 8}, corners = {0, 1, 2, 3, 1, 4, 5, 2},
                                    neighbours = {-1, -1, 1, -1, 0, -1, -1, -1};
    const MeshIndex joined({square, offsets, corners, neighbours});
    EXPECT_EQ(joined.twin(2), 4);
    EXPECT_EQ(joined.twin(4), 2);
    EXPECT_EQ(joined.fan(2), joined.fan(7));
    EXPECT_NE(joined.fan(1), joined.fan(2));
}

// The merged index the search runs on: the same walls (so the same free space and
// vertices) in fewer convex polygons, each holding the polygons merged into it.
TEST(MeshIndex, MergedPolygonsKeepTheWallsAndHoldTheirParts) {
    const auto walls = [](const MeshIndex& index) {
        std::vector<std::pair<std::pair<double, double>, std::pair<double, double>>> found;
        for (std::int32_t c = 0; c < index.corner_count(); ++c) {
            if (index.neighbour(c) < 0) {
                const XY a = index.point(index.previous(c)), b = index.point(c);
                found.push_back({{a.x, a.y}, {b.x, b.y}});
            }
        }
        std::sort(found.begin(), found.end());
        return found;
    };
    for (unsigned seed = 1; seed <= 20; ++seed) {
        const TestMesh mesh = seed % 2 ? triangle_map(seed, 8, 7) : rectangle_map(seed, 10, 8);
        const MeshIndex index(mesh.view());
        const MeshIndex& merged = index.merged();
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        EXPECT_LT(merged.polygon_count(), index.polygon_count());
        EXPECT_LE(merged.max_polygon_size(), 16);
        EXPECT_EQ(walls(merged), walls(index));
        for (std::int32_t p = 0; p < index.polygon_count(); ++p) {
            for (std::int32_t c = index.first(p); c < index.end(p); ++c) {
                EXPECT_TRUE(merged.contains(index.merged_polygon(p), index.point(c))) << "polygon " << p;
            }
        }
    }
}

// What a turning fan's record says, in the mesh and in its merged index: its first
// and last corners belong to the fan, the sides beyond them are walls, whose far ends
// are its walls' points, and the polygons are those the corners lie in.
TEST(MeshIndex, TurningFansRecordTheirWallsAndPolygons) {
    for (unsigned seed = 1; seed <= 10; ++seed) {
        const TestMesh mesh = seed % 2 ? triangle_map(seed, 8, 7) : rectangle_map(seed, 10, 8);
        const MeshIndex unmerged(mesh.view());
        for (const MeshIndex* index : {&unmerged, &unmerged.merged()}) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << (index == &unmerged ? "" : ", merged"));
            std::int32_t turning_corners = 0;
            for (std::int32_t c = 0; c < index->corner_count(); ++c) {
                const std::int32_t turn = index->corner(c).turn;
                EXPECT_EQ(turn >= 0, index->turning(index->fan(c))) << "corner " << c;
                if (turn < 0) {
                    continue;
                }
                ++turning_corners;
                const MeshIndex::Turn& record = index->turn_of(turn);
                EXPECT_EQ(index->fan(record.start), index->fan(c));
                EXPECT_EQ(index->fan(record.end), index->fan(c));
                EXPECT_LT(index->neighbour(index->next(record.start)), 0);
                EXPECT_LT(index->neighbour(record.end), 0);
                EXPECT_TRUE(record.first_wall == index->point(index->next(record.start)));
                EXPECT_TRUE(record.last_wall == index->point(index->previous(record.end)));
                EXPECT_EQ(record.start_polygon, index->polygon_of(record.start));
                EXPECT_EQ(record.end_polygon, index->polygon_of(record.end));
            }
            EXPECT_GT(turning_corners, 0);
        }
    }
}

// Two polygons joined by two collinear sides (each with a straight corner where the
// sides meet) are left apart: their union would hold a side inside it.
TEST(MeshIndex, PolygonsJoinedTwiceAreNotMerged) {
    TestMesh slab;
    slab.vertices = {0, 0, 1, 0, 2, 0, 2, 1, 0, 1, 0, -1, 2, -1};
    slab.polygons = {{0, 1, 2, 3, 4}, {0, 5, 6, 2, 1}};
    slab.finish();
    const MeshIndex index(slab.view());
    EXPECT_EQ(index.merged().polygon_count(), 2);
    ShortestPathFinder finder;
    ASSERT_TRUE(finder.find(index, 0, {0.5, 0.75}, 1, {1.5, -0.75}));
    EXPECT_DOUBLE_EQ(finder.length(), std::hypot(1.0, 1.5));
}

// Points within a few units in the last place of the line y = x through (12, 12)
// and (24, 24): their side is the sign of y - x, which rounding in a plain
// evaluation of the determinant gets wrong.
TEST(Orientation, ExactNearALine) {
    const XY b{12, 12}, c{24, 24};
    int wrong_if_rounded = 0;
    double x = 0.5;
    for (int i = 0; i < 64; ++i, x = std::nextafter(x, 1.0)) {
        double y = 0.5;
        for (int j = 0; j < 64; ++j, y = std::nextafter(y, 1.0)) {
            const XY a{x, y};
            const int expected = (y > x) - (y < x);
            EXPECT_EQ(orientation(b, c, a), expected);
            EXPECT_EQ(orientation(a, b, c), expected);
            EXPECT_EQ(orientation(c, a, b), expected);
            EXPECT_EQ(orientation(b, a, c), -expected);
            const double rounded = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
            wrong_if_rounded += ((rounded > 0) - (rounded < 0)) != expected;
        }
    }
    EXPECT_GT(wrong_if_rounded, 0) << "the cases should defeat a plain evaluation";
    // The same line scaled down near the bottom of the exponent range, where products
    // of coordinates are no longer normal numbers.
    const double tiny = 0x1p-1000;
    EXPECT_EQ(orientation({12 * tiny, 12 * tiny}, {24 * tiny, 24 * tiny}, {0.5 * tiny, std::nextafter(0.5 * tiny, 1.0)}),
              1);
    EXPECT_EQ(orientation({12 * tiny, 12 * tiny}, {24 * tiny, 24 * tiny}, {3 * tiny, 3 * tiny}), 0);
    EXPECT_EQ(orientation({0, 0}, {1, 0x1p-1070}, {2, 0x1p-1069}), 0);
    EXPECT_EQ(orientation({0, 0}, {1, 0x1p-1070}, {2, 0x1p-1068}), 1);
}

}  // namespace
}  // namespace walkmesh
