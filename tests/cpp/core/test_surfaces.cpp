// Heights over stacked polygons: location at a height, the gap between layers, and
// paths lifted through the neighbour table, on a small level: a floor of three
// squares in a row, a deck over the middle one, a ramp from the floor's east square
// up to the deck's east side.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/lift.hpp"
#include "core/locate.hpp"
#include "core/mesh.hpp"
#include "core/surfaces.hpp"

namespace walkmesh {
namespace {

struct Level {
    // Floor: west [0,1]x[0,1], middle [1,2]x[0,1], east [3,4]x[0,1] at height 0; the
    // deck [1,2]x[0,1] at height 2; the ramp [2,3]x[0,1] from the deck (x = 2, height
    // 2) down to the east floor (x = 3, height 0). The middle floor and the ramp meet
    // in plan along x = 2 only.
    std::vector<double> plan{0, 0, 1, 0, 1, 1, 0, 1, 2, 0, 2, 1, 3, 0, 3, 1, 4, 0, 4, 1,
                             1, 0, 2, 0, 2, 1, 1, 1};
    std::vector<double> heights{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 2, 2};
    std::vector<std::int64_t> offsets{0, 4, 8, 12, 16, 20};
    std::vector<std::int64_t> corners{0, 1, 2, 3,  1, 4, 5, 2,  6, 8, 9, 7,  10, 11, 12, 13,  11, 6, 7, 12};
    // Polygons: 0 west, 1 middle, 2 east, 3 deck, 4 ramp.
    std::vector<std::int64_t> neighbours{-1, -1, 1, -1,  0, -1, -1, -1,  4, -1, -1, -1,
                                         -1, -1, 4, -1,  3, -1, 2, -1};
    MeshIndex index{MeshView{plan, offsets, corners, neighbours}};
    PolygonLocator locator{PolygonsView{plan, offsets, corners}};
    Surfaces surfaces{locator, corners, heights};
    PathLifter lifter{index, surfaces};
};

TEST(Surfaces, PointsStandOnTheSurfaceNearestAtOrBelowThem) {
    const Level level;
    EXPECT_EQ(level.surfaces.locate(SpacePoint{1.5, 0.5, 0.0}, 0.5), 1);
    EXPECT_EQ(level.surfaces.locate(SpacePoint{1.5, 0.5, 1.9}, 0.5), 3);
    EXPECT_EQ(level.surfaces.locate(SpacePoint{1.5, 0.5, 1.4}, 0.5), 1);
    EXPECT_EQ(level.surfaces.locate(SpacePoint{1.5, 0.5, -1.0}, 0.5), -1);
    EXPECT_EQ(level.surfaces.locate(SpacePoint{2.5, 0.5, 1.0}, 0.5), 4);
    EXPECT_DOUBLE_EQ(level.surfaces.height(4, {2.25, 0.5}), 1.5);
    // Without a height: one level, or -2 where two stack.
    EXPECT_EQ(level.surfaces.locate(PlanePoint{0.5, 0.5}), 0);
    EXPECT_EQ(level.surfaces.locate(PlanePoint{1.5, 0.5}), -2);
    EXPECT_EQ(level.surfaces.levels({1.5, 0.5}), (std::vector<double>{0.0, 2.0}));
    // The ramp's top meets the middle floor in plan, two apart in height there.
    EXPECT_EQ(level.surfaces.locate(PlanePoint{2.0, 0.5}), -2);
    EXPECT_EQ(level.surfaces.locate(PlanePoint{3.0, 0.5}), 2);
}

TEST(Surfaces, GapsBetweenStackedPolygons) {
    const Level level;
    const Gap gap = level.surfaces.gap(1, 3);
    EXPECT_DOUBLE_EQ(gap.least, 2.0);
    EXPECT_DOUBLE_EQ(gap.most, 2.0);
    // Touching in plan only: no common ground.
    EXPECT_EQ(level.surfaces.gap(0, 1).least, 0.0);
}

TEST(PathLifter, PathsClimbByTheRampAndNeverJumpBetweenLayers) {
    const Level level;
    LiftWork work;
    // From the middle floor to the deck above it, in plan a step: no walk gets there.
    const std::vector<XY> jump{{1.5, 0.25}};
    std::vector<double> heights(1);
    EXPECT_THROW(level.lifter.lift(1, {1.5, 0.75}, jump, 3, heights, work), LiftFault);
    level.lifter.lift(1, {1.5, 0.75}, jump, 1, heights, work);
    EXPECT_EQ(heights[0], 0.0);
    // East across x = 2, which joins nothing on the floor.
    const std::vector<XY> across_x2{{2.5, 0.5}};
    EXPECT_THROW(level.lifter.lift(1, {1.5, 0.5}, across_x2, -1, heights, work), LiftFault);
    // From the east floor up the ramp onto the deck.
    const std::vector<XY> climb{{3.0, 0.5}, {2.0, 0.5}, {1.5, 0.5}};
    std::vector<double> climbed(3);
    level.lifter.lift(2, {3.5, 0.5}, climb, 3, climbed, work);
    EXPECT_EQ(climbed, (std::vector<double>{0.0, 2.0, 2.0}));
    // Ending on the deck, a point above the middle floor is on the deck.
    const std::vector<XY> onto{{2.5, 0.5}, {1.5, 0.5}};
    std::vector<double> onto_heights(2);
    level.lifter.lift(2, {3.5, 0.5}, onto, -1, onto_heights, work);
    EXPECT_EQ(onto_heights, (std::vector<double>{1.0, 2.0}));
}

}  // namespace
}  // namespace walkmesh
