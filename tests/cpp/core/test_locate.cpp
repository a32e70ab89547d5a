// Point location, nearest points and overlaps against brute force over every polygon.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "core/locate.hpp"

namespace walkmesh {
namespace {

struct Polygons {
    std::vector<double> vertices;
    std::vector<std::int64_t> offsets{0};
    std::vector<std::int64_t> corners;

    std::int64_t vertex(double x, double y) {
        vertices.push_back(x);
        vertices.push_back(y);
        return static_cast<std::int64_t>(vertices.size() / 2 - 1);
    }
    void polygon(std::initializer_list<std::int64_t> indices) {
        corners.insert(corners.end(), indices);
        offsets.push_back(static_cast<std::int64_t>(corners.size()));
    }
    PolygonsView view() const { return {vertices, offsets, corners}; }
    PlanePoint at(std::int64_t corner) const {
        const std::int64_t v = corners[corner];
        return {vertices[2 * v], vertices[2 * v + 1]};
    }
};

// A jittered grid of squares, each cut into two triangles along one diagonal or the
// other, some left whole: sides at many angles, shared corners.
Polygons jittered_grid(int size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> jitter(-0.3, 0.3);
    Polygons mesh;
    for (int j = 0; j <= size; ++j) {
        for (int i = 0; i <= size; ++i) {
            const bool border = i == 0 || j == 0 || i == size || j == size;
            mesh.vertex(i + (border ? 0 : jitter(random)), j + (border ? 0 : jitter(random)));
        }
    }
    for (int j = 0; j < size; ++j) {
        for (int i = 0; i < size; ++i) {
            const std::int64_t a = j * (size + 1) + i, b = a + 1, c = a + size + 2, d = a + size + 1;
            switch (random() % 3) {
            case 0:
                mesh.polygon({a, b, c});
                mesh.polygon({a, c, d});
                break;
            case 1:
                mesh.polygon({a, b, d});
                mesh.polygon({b, c, d});
                break;
            default: {
                // A whole square when the jitter left it convex.
                const auto turn = [&](std::int64_t p, std::int64_t q, std::int64_t r) {
                    const double* v = mesh.vertices.data();
                    return (v[2 * q] - v[2 * p]) * (v[2 * r + 1] - v[2 * p + 1]) -
                           (v[2 * q + 1] - v[2 * p + 1]) * (v[2 * r] - v[2 * p]);
                };
                if (turn(a, b, c) > 0 && turn(b, c, d) > 0 && turn(c, d, a) > 0 && turn(d, a, b) > 0) {
                    mesh.polygon({a, b, c, d});
                } else {
                    mesh.polygon({a, b, d});
                    mesh.polygon({b, c, d});
                }
                break;
            }
            }
        }
    }
    return mesh;
}

std::int64_t brute_locate(const Polygons& mesh, PlanePoint p) {
    for (std::size_t polygon = 0; polygon + 1 < mesh.offsets.size(); ++polygon) {
        bool inside = true;
        for (std::int64_t k = mesh.offsets[polygon]; k < mesh.offsets[polygon + 1]; ++k) {
            const std::int64_t before = k == mesh.offsets[polygon] ? mesh.offsets[polygon + 1] - 1 : k - 1;
            const PlanePoint a = mesh.at(before), b = mesh.at(k);
            const double first = (b.x - a.x) * (p.y - a.y);
            const double second = (b.y - a.y) * (p.x - a.x);
            inside = inside && first - second >= 0;
        }
        if (inside) {
            return static_cast<std::int64_t>(polygon);
        }
    }
    return -1;
}

double segment_distance(PlanePoint a, PlanePoint b, PlanePoint p) {
    const double ex = b.x - a.x, ey = b.y - a.y;
    const double t = std::clamp(((p.x - a.x) * ex + (p.y - a.y) * ey) / (ex * ex + ey * ey), 0.0, 1.0);
    return std::hypot(p.x - (a.x + t * ex), p.y - (a.y + t * ey));
}

double brute_distance(const Polygons& mesh, PlanePoint p) {
    if (brute_locate(mesh, p) >= 0) {
        return 0.0;
    }
    double best = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < mesh.corners.size(); ++k) {
        const std::size_t polygon = std::upper_bound(mesh.offsets.begin(), mesh.offsets.end(),
                                                     static_cast<std::int64_t>(k)) - mesh.offsets.begin() - 1;
        const std::int64_t before =
            static_cast<std::int64_t>(k) == mesh.offsets[polygon] ? mesh.offsets[polygon + 1] - 1 : k - 1;
        best = std::min(best, segment_distance(mesh.at(before), mesh.at(k), p));
    }
    return best;
}

TEST(PolygonLocator, LocatesAsBruteForceDoes) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        const Polygons mesh = jittered_grid(12, seed);
        const PolygonLocator locator(mesh.view());
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> coordinate(-1.0, 13.0);
        std::uniform_int_distribution<int> grid(-1, 13);
        for (int n = 0; n < 4000; ++n) {
            // Half the points on integer coordinates: on the border's sides and corners.
            const PlanePoint p = n % 2 == 0 ? PlanePoint{coordinate(random), coordinate(random)}
                                            : PlanePoint{double(grid(random)), double(grid(random))};
            ASSERT_EQ(locator.locate(p), brute_locate(mesh, p)) << p.x << ", " << p.y;
        }
        // Every corner of every polygon: the lowest-index polygon around it.
        for (std::size_t k = 0; k < mesh.corners.size(); ++k) {
            ASSERT_EQ(locator.locate(mesh.at(k)), brute_locate(mesh, mesh.at(k)));
        }
    }
}

TEST(PolygonLocator, NearestPointIsAsNearAsBruteForceFinds) {
    const Polygons mesh = jittered_grid(8, 7);
    const PolygonLocator locator(mesh.view());
    std::mt19937 random(7);
    std::uniform_real_distribution<double> coordinate(-5.0, 13.0);
    for (int n = 0; n < 2000; ++n) {
        const PlanePoint p{coordinate(random), coordinate(random)};
        const NearestPoint found = locator.nearest(p, std::numeric_limits<double>::infinity());
        ASSERT_GE(found.polygon, 0);
        const double expected = brute_distance(mesh, p);
        ASSERT_NEAR(found.distance, expected, 1e-12 * (1 + expected));
        ASSERT_NEAR(std::hypot(found.point.x - p.x, found.point.y - p.y), found.distance, 1e-12);
        if (expected > 0) {
            // On the polygon's boundary: at most rounding away from some side.
            double on_boundary = std::numeric_limits<double>::infinity();
            for (std::int64_t k = mesh.offsets[found.polygon]; k < mesh.offsets[found.polygon + 1]; ++k) {
                const std::int64_t before =
                    k == mesh.offsets[found.polygon] ? mesh.offsets[found.polygon + 1] - 1 : k - 1;
                on_boundary = std::min(on_boundary, segment_distance(mesh.at(before), mesh.at(k), found.point));
            }
            ASSERT_LT(on_boundary, 1e-12);
        }
        // Beyond max_distance: nothing.
        if (expected > 0.5) {
            ASSERT_EQ(locator.nearest(p, expected * 0.99).polygon, -1);
            ASSERT_GE(locator.nearest(p, expected * 1.01).polygon, 0);
        }
    }
}

TEST(PolygonLocator, TiesGoToTheLowestIndexAndInsidePointsStay) {
    Polygons mesh;
    // Two unit squares side by side: (1, 2) is equally near both, at their shared corner.
    const auto a = mesh.vertex(0, 0), b = mesh.vertex(1, 0), c = mesh.vertex(1, 1), d = mesh.vertex(0, 1);
    const auto e = mesh.vertex(2, 0), f = mesh.vertex(2, 1);
    mesh.polygon({b, e, f, c});
    mesh.polygon({a, b, c, d});
    const PolygonLocator locator(mesh.view());
    const NearestPoint corner = locator.nearest({1, 2}, 5.0);
    EXPECT_EQ(corner.polygon, 0);
    EXPECT_EQ(corner.point.x, 1.0);
    EXPECT_EQ(corner.point.y, 1.0);
    EXPECT_EQ(corner.distance, 1.0);
    // Exactly at max_distance counts.
    EXPECT_EQ(locator.nearest({1, 2}, 1.0).polygon, 0);
    const NearestPoint inside = locator.nearest({0.25, 0.5}, 0.0);
    EXPECT_EQ(inside.polygon, 1);
    EXPECT_EQ(inside.distance, 0.0);
    EXPECT_EQ(locator.locate({1, 0.5}), 0);
    EXPECT_EQ(locator.nearest({std::nan(""), 0}, 10.0).polygon, -1);
}

TEST(PolygonLocator, FindsTheFirstOverlappingPair) {
    Polygons mesh;
    const auto a = mesh.vertex(0, 0), b = mesh.vertex(2, 0), c = mesh.vertex(2, 2), d = mesh.vertex(0, 2);
    const auto e = mesh.vertex(4, 0), f = mesh.vertex(4, 2);
    mesh.polygon({a, b, c, d});
    mesh.polygon({b, e, f, c});
    EXPECT_FALSE(PolygonLocator(mesh.view()).first_overlap(0.0));
    // A triangle inside the first square, sharing no vertex with it.
    const auto g = mesh.vertex(0.5, 0.5), h = mesh.vertex(1.5, 0.5), i = mesh.vertex(1, 1.5);
    mesh.polygon({g, h, i});
    // A square touching the second only at its corner (4, 2).
    const auto j = mesh.vertex(5, 2), k = mesh.vertex(5, 3), l = mesh.vertex(4, 3);
    mesh.polygon({f, j, k, l});
    const auto overlap = PolygonLocator(mesh.view()).first_overlap(0.0);
    ASSERT_TRUE(overlap);
    EXPECT_EQ(overlap->first, 0);
    EXPECT_EQ(overlap->second, 2);
}

TEST(PolygonLocator, OverlapsWithinTheToleranceAreNone) {
    Polygons mesh;
    const auto a = mesh.vertex(0, 0), b = mesh.vertex(1, 0), c = mesh.vertex(1, 1), d = mesh.vertex(0, 1);
    // Its left side 1e-7 inside the first square.
    const auto e = mesh.vertex(1 - 1e-7, 0), f = mesh.vertex(2, 0), g = mesh.vertex(2, 1), h = mesh.vertex(1 - 1e-7, 1);
    mesh.polygon({a, b, c, d});
    mesh.polygon({e, f, g, h});
    const PolygonLocator locator(mesh.view());
    EXPECT_TRUE(locator.first_overlap(0.0));
    EXPECT_FALSE(locator.first_overlap(1e-6));
}

TEST(PolygonLocator, SizedByThePolygonsNotTheirExtent) {
    Polygons mesh;
    // A sliver 1e9 long and 1e-9 high.
    const auto a = mesh.vertex(0, 0), b = mesh.vertex(1e9, 0), c = mesh.vertex(1e9, 1e-9), d = mesh.vertex(0, 1e-9);
    mesh.polygon({a, b, c, d});
    const PolygonLocator locator(mesh.view());
    EXPECT_LT(locator.bytes(), 1024u);
    EXPECT_EQ(locator.locate({5e8, 5e-10}), 0);
    EXPECT_EQ(locator.locate({5e8, 2e-9}), -1);
    // The same polygons stretched a million times along x stay within the same bound.
    const Polygons grid = jittered_grid(40, 5);
    Polygons stretched = grid;
    for (std::size_t v = 0; v < stretched.vertices.size(); v += 2) {
        stretched.vertices[v] *= 1e6;
    }
    EXPECT_LT(PolygonLocator(grid.view()).bytes(), 400u * (grid.offsets.size() - 1));
    EXPECT_LT(PolygonLocator(stretched.view()).bytes(), 400u * (grid.offsets.size() - 1));
}

TEST(PolygonLocator, LocatesAmongLongCrossingSlivers) {
    // A fan of thin triangles from one corner to points along the opposite sides: each
    // reaches across many cells, the case where location falls back to the hierarchy;
    // and a fan of few, where the grid answers.
    for (int count : {300, 12}) {
        Polygons mesh;
        const auto centre = mesh.vertex(0, 0);
        std::vector<std::int64_t> rim;
        for (int i = 0; i <= count; ++i) {
            const double t = static_cast<double>(i) / count;
            rim.push_back(t <= 0.5 ? mesh.vertex(100, 200 * t) : mesh.vertex(100 - 200 * (t - 0.5), 100));
        }
        for (int i = 0; i < count; ++i) {
            mesh.polygon({centre, rim[i], rim[i + 1]});
        }
        const PolygonLocator locator(mesh.view());
        std::mt19937 random(count);
        std::uniform_real_distribution<double> coordinate(-5.0, 105.0);
        for (int n = 0; n < 3000; ++n) {
            const PlanePoint p{coordinate(random), coordinate(random)};
            ASSERT_EQ(locator.locate(p), brute_locate(mesh, p)) << p.x << ", " << p.y;
        }
        for (std::size_t k = 0; k < mesh.corners.size(); ++k) {
            ASSERT_EQ(locator.locate(mesh.at(k)), brute_locate(mesh, mesh.at(k)));
        }
    }
}

TEST(PolygonLocator, RefusesCornersOutsideTheVertices) {
    Polygons mesh;
    mesh.vertex(0, 0);
    mesh.vertex(1, 0);
    mesh.polygon({0, 1, 2});
    EXPECT_THROW(PolygonLocator{mesh.view()}, std::invalid_argument);
    const std::vector<std::int64_t> bad_offsets{0, 2};
    EXPECT_THROW(PolygonLocator(PolygonsView{mesh.vertices, bad_offsets, mesh.corners}), std::invalid_argument);
    const std::vector<std::int64_t> none{0};
    const std::vector<std::int64_t> no_corners;
    const PolygonLocator empty(PolygonsView{mesh.vertices, none, no_corners});
    EXPECT_EQ(empty.locate({0, 0}), -1);
    EXPECT_EQ(empty.nearest({0, 0}, 1e300).polygon, -1);
}

}  // namespace
}  // namespace walkmesh
