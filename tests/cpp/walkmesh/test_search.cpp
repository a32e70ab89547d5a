// find_path's search and path walk: routes, expansion order, cost arithmetic, and
// every failure with the message and location walkmesh reports it at.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/search.hpp"
#include "core_testing.hpp"
#include "find_path_testing.hpp"
#include "walkmesh/search.hpp"

namespace walkmesh {
namespace {

using testing_support::coordinates_of;
using testing_support::expect_internal_failure;
using testing_support::failed_with;
using testing_support::GraphSketch;
using testing_support::portals_of;
using testing_support::RecordTables;

using Portals = std::vector<std::uint32_t>;

constexpr float nan_f = std::numeric_limits<float>::quiet_NaN();

// Route found from start to target, as portal numbers; fails the test when none.
Portals route(RecordTables& tables, std::uint32_t start, std::uint32_t target) {
    const std::optional<PointList> points = search_path(tables.graph(), start, target);
    if (!points) {
        ADD_FAILURE() << "no route";
        return {};
    }
    return portals_of(*points);
}

// What a search did besides its route: expansions, and the target's best cost.
struct SearchStats {
    std::uint64_t expansions = 0;
    std::uint32_t target_cost = 0;
};

struct CountingPolicy {
    static constexpr bool budgeted = false;
    static constexpr bool logs_reached = false;
    std::uint64_t expansions = 0;

    bool may_expand() noexcept { return true; }
    void expanded(std::uint32_t, std::uint32_t) noexcept { ++expansions; }
    void reached_node(std::uint32_t) noexcept {}
};

// The search find_path runs, counted: the route must be reached.
SearchStats stats_of(RecordTables& tables, std::uint32_t start, std::uint32_t target) {
    const Graph graph = tables.graph();
    std::vector<std::uint32_t> best_cost(graph.node_count(), unreached_cost);
    std::vector<Predecessor> came_from(graph.node_count(), Predecessor{0, 0});
    OpenQueue open;
    CountingPolicy policy;
    const SearchEnd end = run_search(graph, start, target, best_cost.data(), came_from.data(), open, policy);
    EXPECT_EQ(end, SearchEnd::reached);
    return {policy.expansions, best_cost.at(target)};
}

// ---- routes ----

TEST(Route, MidpointsOfCrossedPortalsInRouteOrder) {
    GraphSketch sketch;
    const auto start = sketch.node(), a = sketch.node(), target = sketch.node();
    sketch.edge(start, a, 1, 11);
    sketch.edge(a, target, 1, 12);
    RecordTables tables = sketch.tables();
    EXPECT_EQ(route(tables, start, target), (Portals{11, 12}));
}

TEST(Route, PointsAreThePortalMidpoints) {
    RecordTables tables;
    tables.add_node({0, 0}, 0, 2);
    tables.add_node({5, 5}, 2, 1);
    tables.add_node({9, 9}, 3, 0);
    tables.add_edge(1, 1, {0, 0}, {2, 4});
    tables.add_edge(2, 50, {3, 3}, {3, 3});
    tables.add_edge(2, 1, {1, 1}, {1, 1});
    const auto points = search_path(tables.graph(), 0, 2);
    ASSERT_TRUE(points);
    const std::vector<std::pair<float, float>> expected{{1, 2}, {1, 1}};
    EXPECT_EQ(coordinates_of(*points), expected);
}

TEST(Route, StartEqualToTargetYieldsNoPointsEvenWithABrokenRun) {
    RecordTables tables;
    // The run lies beyond the edge table, but the target leaves the queue unexpanded.
    tables.add_node({0, 0}, 7, 1);
    const auto points = search_path(tables.graph(), 0, 0);
    ASSERT_TRUE(points);
    EXPECT_EQ(points->size(), 0u);
}

TEST(Route, UnreachableTargetGivesNothing) {
    GraphSketch sketch;
    const auto start = sketch.node(), a = sketch.node(), target = sketch.node();
    sketch.edge(start, a, 1, 1);
    sketch.edge(a, start, 1, 2);
    sketch.edge(target, start, 1, 3);
    RecordTables tables = sketch.tables();
    EXPECT_FALSE(search_path(tables.graph(), start, target).has_value());
}

TEST(Route, SameRouteFromRecordsAtOddAddresses) {
    GraphSketch sketch;
    const auto start = sketch.node({0, 0}), a = sketch.node({4, 1}), b = sketch.node({4, -1}),
               target = sketch.node({8, 0});
    sketch.edge(start, a, 5, 1);
    sketch.edge(start, b, 4, 2);
    sketch.edge(a, target, 4, 3);
    sketch.edge(b, target, 6, 4);
    RecordTables tables = sketch.tables();
    for (std::size_t offset : {0u, 1u, 2u, 3u, 5u}) {
        const auto points = search_path(tables.graph(offset), start, target);
        ASSERT_TRUE(points) << "offset " << offset;
        EXPECT_EQ(portals_of(*points), (Portals{1, 3})) << "offset " << offset;
    }
}

// ---- order of expansion ----

TEST(Order, EqualFExpandsHigherNodeFirst) {
    // Nodes 3 and 5 both reach the target at cost 2; the first expanded sets came_from.
    for (bool five_listed_first : {false, true}) {
        GraphSketch sketch;
        for (int i = 0; i < 7; ++i) {
            sketch.node();
        }
        if (five_listed_first) {
            sketch.edge(0, 5, 1, 5);
            sketch.edge(0, 3, 1, 3);
        } else {
            sketch.edge(0, 3, 1, 3);
            sketch.edge(0, 5, 1, 5);
        }
        sketch.edge(3, 6, 1, 30);
        sketch.edge(5, 6, 1, 50);
        RecordTables tables = sketch.tables();
        EXPECT_EQ(route(tables, 0, 6), (Portals{5, 50}))
            << "five listed first: " << five_listed_first;
    }
}

TEST(Order, SmallerFFirstWhateverTheNode) {
    GraphSketch sketch;
    for (int i = 0; i < 7; ++i) {
        sketch.node();
    }
    sketch.edge(0, 5, 2, 5);
    sketch.edge(0, 3, 1, 3);
    sketch.edge(3, 6, 2, 30);
    sketch.edge(5, 6, 1, 50);
    RecordTables tables = sketch.tables();
    EXPECT_EQ(route(tables, 0, 6), (Portals{3, 30}));
}

TEST(Order, EqualCandidateCostKeepsTheFirstPredecessor) {
    GraphSketch sketch;
    const auto start = sketch.node(), a = sketch.node(), b = sketch.node(), target = sketch.node();
    sketch.edge(start, b, 1, 1);
    sketch.edge(start, a, 2, 2);
    sketch.edge(b, target, 2, 3);
    sketch.edge(a, target, 1, 4);
    RecordTables tables = sketch.tables();
    EXPECT_EQ(route(tables, start, target), (Portals{1, 3}));
}

TEST(Order, SupersededEntryIsSkippedWithoutAScan) {
    // X is queued at cost 10, then at cost 2 through Y. The estimate of X is 5, so a
    // staleness test that forgot it would skip the fresh entry as well.
    GraphSketch sketch;
    const auto start = sketch.node({0, 0}), target = sketch.node({0, 0}), x = sketch.node({3, 4}),
               y = sketch.node({0, 0});
    sketch.edge(start, x, 10, 1);
    sketch.edge(start, y, 1, 2);
    sketch.edge(y, x, 1, 3);
    sketch.edge(x, target, 100, 4);
    RecordTables tables = sketch.tables();
    EXPECT_EQ(route(tables, start, target), (Portals{2, 3, 4}));
    // start, Y and X once; the entry {15, X} comes out after X was expanded and is skipped.
    const SearchStats stats = stats_of(tables, start, target);
    EXPECT_EQ(stats.expansions, 3u);
    EXPECT_EQ(stats.target_cost, 102u);
}

TEST(Order, InconsistentEstimateReExpandsANode) {
    // Far-off A hides the cheap way to C until C was expanded through B; C is then
    // expanded again and the target is reached through A.
    GraphSketch sketch;
    const auto start = sketch.node({0, 0}), a = sketch.node({100, 0}), b = sketch.node({0, 0}),
               c = sketch.node({0, 0}), target = sketch.node({0, 0});
    sketch.edge(start, a, 1, 1);
    sketch.edge(start, b, 5, 2);
    sketch.edge(a, c, 1, 3);
    sketch.edge(b, c, 5, 4);
    sketch.edge(c, target, 200, 5);
    RecordTables tables = sketch.tables();
    EXPECT_EQ(route(tables, start, target), (Portals{1, 3, 5}));
    const SearchStats stats = stats_of(tables, start, target);
    // start, B, C, A, C again.
    EXPECT_EQ(stats.expansions, 5u);
    EXPECT_EQ(stats.target_cost, 202u);
}

TEST(Order, SearchStopsWhenTheTargetFirstLeavesTheQueue) {
    // With costs below the distances the estimate overestimates, and the first
    // route to the target wins although a cheaper one exists.
    GraphSketch sketch;
    const auto start = sketch.node({0, 0}), a = sketch.node({50, 0}), target = sketch.node({0, 0});
    sketch.edge(start, target, 10, 1);
    sketch.edge(start, a, 1, 2);
    sketch.edge(a, target, 1, 3);
    RecordTables tables = sketch.tables();
    EXPECT_EQ(route(tables, start, target), (Portals{1}));
}

// ---- costs ----

TEST(Costs, ParallelEdgesCostTheCheapestButTheWalkTakesTheFirst) {
    // a -> b costs 7 (portal 7), then 3 (portal 3). Through c the target costs 6:
    // only the cost of 3 makes the route through a (cost 4) the cheaper one.
    for (bool cheap_first : {false, true}) {
        GraphSketch sketch;
        const auto start = sketch.node(), a = sketch.node(), c = sketch.node(), b = sketch.node();
        sketch.edge(start, a, 1, 1);
        sketch.edge(start, c, 1, 2);
        sketch.edge(c, b, 5, 4);
        if (cheap_first) {
            sketch.edge(a, b, 3, 3);
            sketch.edge(a, b, 7, 7);
        } else {
            sketch.edge(a, b, 7, 7);
            sketch.edge(a, b, 3, 3);
        }
        RecordTables tables = sketch.tables();
        const Portals expected{1, cheap_first ? 3u : 7u};
        EXPECT_EQ(route(tables, start, b), expected);
        const SearchStats stats = stats_of(tables, start, b);
        EXPECT_EQ(stats.target_cost, 4u);
    }
}

TEST(Costs, ZeroCostEdgesAddNothingAndZeroCostCyclesEnd) {
    GraphSketch sketch;
    const auto start = sketch.node(), a = sketch.node(), target = sketch.node();
    sketch.edge(start, a, 0, 1);
    sketch.edge(a, start, 0, 2);
    sketch.edge(a, a, 0, 3);
    sketch.edge(a, target, 0, 4);
    RecordTables tables = sketch.tables();
    EXPECT_EQ(route(tables, start, target), (Portals{1, 4}));
    EXPECT_EQ(stats_of(tables, start, target).target_cost, 0u);
}

TEST(Costs, AnEdgeCostingAllOnesFromTheStartReachesNothing) {
    // 0 + 4294967295 is not below the unreached mark 4294967295.
    GraphSketch sketch;
    const auto start = sketch.node(), target = sketch.node();
    sketch.edge(start, target, 4294967295u, 1);
    RecordTables tables = sketch.tables();
    EXPECT_FALSE(search_path(tables.graph(), start, target).has_value());
}

TEST(Costs, SumsWrapModulo2To32) {
    // a costs 4294967294 and lies 3 from the target: its f wraps to 1, so it goes
    // before b (f = 2), and through a the target's cost wraps to 1.
    GraphSketch sketch;
    const auto start = sketch.node({0, 0}), a = sketch.node({3, 0}), b = sketch.node({0, 0}),
               target = sketch.node({0, 0});
    sketch.edge(start, a, 4294967294u, 1);
    sketch.edge(start, b, 2, 2);
    sketch.edge(a, target, 3, 3);
    sketch.edge(b, target, 5, 4);
    RecordTables tables = sketch.tables();
    EXPECT_EQ(route(tables, start, target), (Portals{1, 3}));
    EXPECT_EQ(stats_of(tables, start, target).target_cost, 1u);
}

TEST(Costs, SaturatedEstimateWrapsTheQueuedF) {
    // a lies 1e30 away: its estimate saturates to 4294967295 and f = 1 + that wraps
    // to 0, so a goes before b (f = 1) although b has the higher index.
    GraphSketch sketch;
    const auto start = sketch.node({0, 0}), target = sketch.node({0, 0}),
               a = sketch.node({1e30f, 0}), b = sketch.node({0, 0});
    sketch.edge(start, a, 1, 1);
    sketch.edge(start, b, 1, 2);
    sketch.edge(a, target, 1, 3);
    sketch.edge(b, target, 1, 4);
    RecordTables tables = sketch.tables();
    EXPECT_EQ(route(tables, start, target), (Portals{1, 3}));
}

TEST(Costs, NaNCentroidsEstimateZeroAndStayExpandable) {
    GraphSketch sketch;
    const auto start = sketch.node({nan_f, 0}), a = sketch.node({0, nan_f}),
               target = sketch.node({30, 40});
    sketch.edge(start, a, 1, 1);
    sketch.edge(a, target, 1, 2);
    RecordTables tables = sketch.tables();
    EXPECT_EQ(route(tables, start, target), (Portals{1, 2}));
    EXPECT_EQ(stats_of(tables, start, target).expansions, 2u);
}

// ---- the estimate ----

TEST(Estimate, TruncatedStraightLineDistance) {
    EXPECT_EQ(heuristic({1, 2}, {4, 6}), 5u);
    EXPECT_EQ(heuristic({4, 6}, {1, 2}), 5u);
    EXPECT_EQ(heuristic({0, 0}, {0.3f, 0.4f}), 0u);
    EXPECT_EQ(heuristic({0, 0}, {2.9f, 0}), 2u);
    EXPECT_EQ(heuristic({7, 7}, {7, 7}), 0u);
}

TEST(Estimate, RoundsEachProductAndTheSum) {
    // Here a fused multiply-add gives s just above 152^2 instead of just below it.
    EXPECT_EQ(heuristic({0, 0}, {0x1.8e8feap+6f, 0x1.cb2492p+6f}), 151u);
}

TEST(Estimate, NaNGivesZero) {
    EXPECT_EQ(heuristic({nan_f, 0}, {3, 4}), 0u);
    EXPECT_EQ(heuristic({0, 0}, {3, nan_f}), 0u);
}

TEST(Estimate, HugeDistancesSaturate) {
    EXPECT_EQ(heuristic({0, 0}, {1e30f, 0}), 4294967295u);
    EXPECT_EQ(heuristic({0, 0}, {std::numeric_limits<float>::infinity(), 0}), 4294967295u);
    EXPECT_EQ(heuristic({0, 0}, {4294967296.0f, 0}), 4294967295u);
    EXPECT_EQ(heuristic({0, 0}, {4294967040.0f, 0}), 4294967040u);
    EXPECT_EQ(heuristic({-2147483648.0f, 0}, {2147483648.0f, 0}), 4294967295u);
}

TEST(Estimate, SaturatingConversion) {
    EXPECT_EQ(saturating_u32(nan_f), 0u);
    EXPECT_EQ(saturating_u32(-1.0f), 0u);
    EXPECT_EQ(saturating_u32(-0.0f), 0u);
    EXPECT_EQ(saturating_u32(-std::numeric_limits<float>::infinity()), 0u);
    EXPECT_EQ(saturating_u32(2.99f), 2u);
    EXPECT_EQ(saturating_u32(4294967040.0f), 4294967040u);
    EXPECT_EQ(saturating_u32(4294967296.0f), 4294967295u);
    EXPECT_EQ(saturating_u32(std::numeric_limits<float>::infinity()), 4294967295u);
}

// ---- failures of the search ----

TEST(SearchFailure, EmptyNodeTableFailsOnTheStart) {
    const Graph empty(nullptr, 0, nullptr, 0);
    for (std::uint32_t target : {0u, 7u}) {
        const InternalFailure failure =
            expect_internal_failure([&] { search_path(empty, 0, target); });
        EXPECT_TRUE(failed_with(failure, "index out of bounds: the len is 0 but the index is 0",
                                "src/astar", 33, 12));
    }
}

TEST(SearchFailure, StartIsTestedBeforeTarget) {
    GraphSketch sketch;
    sketch.node();
    sketch.node();
    sketch.node();
    RecordTables tables = sketch.tables();
    const InternalFailure both =
        expect_internal_failure([&] { search_path(tables.graph(), 9, 7); });
    EXPECT_TRUE(failed_with(both, "index out of bounds: the len is 3 but the index is 9",
                            "src/astar", 33, 12));
    const InternalFailure target =
        expect_internal_failure([&] { search_path(tables.graph(), 2, 3); });
    EXPECT_TRUE(failed_with(target, "index out of bounds: the len is 3 but the index is 3",
                            "src/astar", 35, 50));
}

TEST(SearchFailure, EdgeToOutOfRangeFailsOnlyWhenItsNodeIsExpanded) {
    GraphSketch sketch;
    const auto start = sketch.node(), a = sketch.node(), target = sketch.node();
    sketch.edge(start, target, 1, 1);
    sketch.edge(start, a, 5, 2);
    sketch.edge(a, 99, 1, 3);
    RecordTables tables = sketch.tables();
    // a is queued but the target leaves the queue first.
    EXPECT_EQ(route(tables, start, target), (Portals{1}));

    const InternalFailure failure =
        expect_internal_failure([&] { search_path(tables.graph(), a, target); });
    EXPECT_TRUE(failed_with(failure, "index out of bounds: the len is 3 but the index is 99",
                            "src/astar", 57, 23));
}

TEST(SearchFailure, EdgeToIsTestedInTableOrderBeforeLaterEdges) {
    GraphSketch sketch;
    const auto start = sketch.node(), target = sketch.node();
    sketch.edge(start, target, 1, 1);
    sketch.edge(start, 4000000000u, 1, 2);
    RecordTables tables = sketch.tables();
    const InternalFailure failure =
        expect_internal_failure([&] { search_path(tables.graph(), start, target); });
    EXPECT_TRUE(failed_with(failure,
                            "index out of bounds: the len is 2 but the index is 4000000000",
                            "src/astar", 57, 23));
}

TEST(SearchFailure, ExpandedRunOutsideTheEdgeTable) {
    // The messages for each kind of bad run are covered with the graph view.
    RecordTables tables;
    tables.add_node({0, 0}, 5, 4294967295u);
    tables.add_node({0, 0}, 0, 0);
    for (int i = 0; i < 10; ++i) {
        tables.add_edge(1, 1, {0, 0}, {0, 0});
    }
    const InternalFailure failure =
        expect_internal_failure([&] { search_path(tables.graph(), 0, 1); });
    EXPECT_TRUE(failed_with(failure, "slice index starts at 5 but ends at 4", "src/astar", 53, 27));
}

TEST(SearchFailure, EmptyRunAtTheEndOfTheEdgeTableExpandsToNothing) {
    RecordTables tables;
    tables.add_node({0, 0}, 3, 0);
    tables.add_node({0, 0}, 0, 0);
    for (int i = 0; i < 3; ++i) {
        tables.add_edge(1, 1, {0, 0}, {0, 0});
    }
    EXPECT_FALSE(search_path(tables.graph(), 0, 1).has_value());
}

TEST(SearchFailure, BrokenRunOfANodeNeverExpandedGoesUnnoticed) {
    RecordTables tables;
    tables.add_node({0, 0}, 0, 2);
    tables.add_node({0, 0}, 0, 0);
    tables.add_node({0, 0}, 5, 4294967295u);
    tables.add_edge(1, 1, {0, 0}, {0, 0});
    tables.add_edge(2, 9, {0, 0}, {0, 0});
    EXPECT_TRUE(search_path(tables.graph(), 0, 1).has_value());
}

TEST(SearchFailure, TablesTooLargeToSizeAreACapacityOverflow) {
    // No buffer lies behind these counts: the check comes before any record is read.
    const std::size_t overflowing = SIZE_MAX / sizeof(Predecessor) + 1;
    const std::size_t above_limit =
        max_allocation_bytes(alignof(Predecessor)) / sizeof(Predecessor) + 1;
    for (std::size_t node_count : {overflowing, above_limit}) {
        const Graph huge(nullptr, node_count, nullptr, 0);
        const InternalFailure failure = expect_internal_failure([&] { search_path(huge, 0, 1); });
        EXPECT_TRUE(failed_with(failure, "capacity overflow", "src/astar", 30, 25)) << node_count;
    }
}

TEST(SearchFailure, WrappedCostsThatCloseAPredecessorCycleStopTheWalk) {
    // a is first reached at 4294967294; from there b costs 3 and the target 8 (both
    // wrapped). b then lowers a to 4, so came_from holds a <- b <- a, and the target's
    // chain t <- a <- b <- a ... never reaches the start.
    GraphSketch sketch;
    const auto start = sketch.node(), a = sketch.node(), b = sketch.node(), target = sketch.node();
    sketch.edge(start, a, 4294967294u, 1);
    sketch.edge(a, b, 5, 2);
    sketch.edge(a, target, 10, 3);
    sketch.edge(b, a, 1, 4);
    RecordTables tables = sketch.tables();
    const InternalFailure failure =
        expect_internal_failure([&] { search_path(tables.graph(), start, target); });
    EXPECT_TRUE(failed_with(failure, "predecessor chain does not reach the start node", "src/astar",
                            81, 13));
}

// ---- failures of the walk, from crafted predecessor tables ----

std::vector<Predecessor> chain(
    std::size_t node_count, std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> links) {
    std::vector<Predecessor> came_from(node_count, Predecessor{0, 0});
    for (const auto& [node, prev] : links) {
        came_from.at(node) = {1, prev};
    }
    return came_from;
}

class Walk : public ::testing::Test {
protected:
    Walk() {
        tables_.add_node({0, 0}, 0, 1);
        tables_.add_node({0, 0}, 1, 1);
        tables_.add_node({0, 0}, 9, 0);
        tables_.add_edge(1, 1, testing_support::portal_left(1), testing_support::portal_right(1));
        tables_.add_edge(2, 1, testing_support::portal_left(2), testing_support::portal_right(2));
    }
    RecordTables tables_;
};

TEST_F(Walk, FollowsTheChainAndReverses) {
    const auto came_from = chain(3, {{1, 0}, {2, 1}});
    EXPECT_EQ(portals_of(walk_path(tables_.graph(), came_from, 0, 2)), (Portals{1, 2}));
}

TEST_F(Walk, TargetOutOfRange) {
    const auto came_from = chain(3, {});
    const InternalFailure failure =
        expect_internal_failure([&] { walk_path(tables_.graph(), came_from, 0, 5); });
    EXPECT_TRUE(failed_with(failure, "index out of bounds: the len is 3 but the index is 5",
                            "src/astar", 82, 30));
}

TEST_F(Walk, PredecessorOutOfRange) {
    const auto came_from = chain(3, {{2, 8}});
    const InternalFailure failure =
        expect_internal_failure([&] { walk_path(tables_.graph(), came_from, 0, 2); });
    EXPECT_TRUE(failed_with(failure, "index out of bounds: the len is 3 but the index is 8",
                            "src/astar", 83, 20));
}

TEST_F(Walk, PredecessorRunOutsideTheEdgeTable) {
    const auto came_from = chain(3, {{1, 2}});
    const InternalFailure failure =
        expect_internal_failure([&] { walk_path(tables_.graph(), came_from, 0, 1); });
    EXPECT_TRUE(failed_with(failure, "range start index 9 out of range for slice of length 2",
                            "src/graph", 32, 27));
}

TEST_F(Walk, PredecessorWithoutAnEdgeToTheNode) {
    const auto came_from = chain(3, {{2, 0}});
    const InternalFailure failure =
        expect_internal_failure([&] { walk_path(tables_.graph(), came_from, 0, 2); });
    EXPECT_TRUE(
        failed_with(failure, "called `Option::unwrap()` on a `None` value", "src/astar", 85, 14));
}

TEST_F(Walk, CycleThatMissesTheStartStops) {
    RecordTables cycle;
    cycle.add_node({0, 0}, 0, 0);
    cycle.add_node({0, 0}, 0, 1);
    cycle.add_node({0, 0}, 1, 1);
    cycle.add_edge(2, 1, {0, 0}, {0, 0});
    cycle.add_edge(1, 1, {0, 0}, {0, 0});
    const auto came_from = chain(3, {{1, 2}, {2, 1}});
    const InternalFailure failure =
        expect_internal_failure([&] { walk_path(cycle.graph(), came_from, 0, 2); });
    EXPECT_TRUE(failed_with(failure, "predecessor chain does not reach the start node", "src/astar",
                            81, 13));
}

TEST_F(Walk, RouteThroughEveryNodeIsNoCycle) {
    // The longest possible route, N - 1 steps, stays within the guard.
    const auto came_from = chain(3, {{1, 0}, {2, 1}});
    EXPECT_EQ(walk_path(tables_.graph(), came_from, 0, 2).size(), 2u);
}

// ---- size limits in the figures of 32-bit ARM (armhf) ----

TEST(ThirtyTwoBitSizes, NodeCountsWhoseTablesCannotBeSizedFailTheSearch) {
    if (sizeof(std::size_t) != 4) {
        GTEST_SKIP() << "size_t is 64 bits wide here; these are the figures of armhf";
    }
    // No buffer lies behind these counts: the tables are sized before any record is read.
    // 268435456 nodes need 2^31 bytes of predecessors; 536870912 wrap to 0 bytes.
    for (std::size_t node_count : {std::size_t{268435456}, std::size_t{536870912}, std::size_t{4294967295}}) {
        const Graph huge(nullptr, node_count, nullptr, 0);
        const InternalFailure failure = expect_internal_failure([&] { search_path(huge, 0, 1); });
        EXPECT_TRUE(failed_with(failure, "capacity overflow", "src/astar", 30, 25)) << node_count;
    }
}

}  // namespace
}  // namespace walkmesh
