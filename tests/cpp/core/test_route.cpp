// The companion's routes and straight paths in the core: a finder that keeps its
// tables from query to query answers as a fresh one does, and the funnel's corners.
#include <gtest/gtest.h>

#include <vector>

#include "core_testing.hpp"
#include "core/funnel.hpp"
#include "core/route.hpp"

namespace walkmesh {
namespace {

using testing_support::RecordTables;

// Nodes 0..k on a line, edges both ways between neighbours, portals x = i + 0.5.
RecordTables ladder(std::uint32_t k) {
    RecordTables tables;
    std::uint32_t next = 0;
    for (std::uint32_t i = 0; i <= k; ++i) {
        const std::uint32_t count = (i > 0 ? 1 : 0) + (i < k ? 1 : 0);
        tables.add_node({static_cast<float>(i), 0.5f}, next, count);
        next += count;
    }
    for (std::uint32_t i = 0; i <= k; ++i) {
        if (i > 0) {
            tables.add_edge(i - 1, 1, {i - 0.5f, 0.0f}, {i - 0.5f, 1.0f});
        }
        if (i < k) {
            tables.add_edge(i + 1, 1, {i + 0.5f, 1.0f}, {i + 0.5f, 0.0f});
        }
    }
    return tables;
}

std::vector<std::uint32_t> nodes_of(const RouteFinder& finder) {
    return {finder.nodes().begin(), finder.nodes().end()};
}

TEST(RouteFinder, KeptTablesAnswerAsFreshOnes) {
    RecordTables small = ladder(6);
    RecordTables large = ladder(300);
    RouteFinder kept;
    // Few entries touched, then most of them, then a smaller graph: both resets.
    const struct {
        RecordTables* tables;
        std::uint32_t start, target;
    } queries[] = {{&small, 2, 4}, {&large, 0, 300}, {&large, 150, 152}, {&small, 6, 0}, {&large, 299, 1}};
    for (const auto& query : queries) {
        const Graph graph = query.tables->graph();
        RouteFinder fresh;
        fresh.bind(graph);
        kept.bind(graph);
        ASSERT_EQ(kept.find(query.start, query.target, {}), RouteEnd::target);
        ASSERT_EQ(fresh.find(query.start, query.target, {}), RouteEnd::target);
        EXPECT_EQ(nodes_of(kept), nodes_of(fresh));
        EXPECT_EQ(kept.expansions(), fresh.expansions());
    }
}

TEST(RouteFinder, BudgetAndPartialRoutes) {
    RecordTables tables = ladder(10);
    RouteFinder finder;
    finder.bind(tables.graph());
    ASSERT_EQ(finder.find(0, 10, {}), RouteEnd::target);
    const std::uint64_t needed = finder.expansions();
    EXPECT_EQ(finder.find(0, 10, {needed, false}), RouteEnd::target);
    EXPECT_EQ(finder.find(0, 10, {needed - 1, false}), RouteEnd::none);
    EXPECT_EQ(finder.find(0, 10, {3, true}), RouteEnd::partial);
    EXPECT_EQ(nodes_of(finder), (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_EQ(finder.edges().size(), 2u);
    EXPECT_EQ(finder.find(0, 10, {0, true}), RouteEnd::partial);
    EXPECT_EQ(nodes_of(finder), (std::vector<std::uint32_t>{0}));
}

TEST(RouteFinder, FaultsNameTheNodeAndEdge) {
    RecordTables tables = ladder(4);
    RecordTables broken;
    broken.add_node({0, 0}, 0, 1);
    broken.add_node({1, 0}, 1, 1);
    broken.add_edge(1, 1, {0.5f, 0}, {0.5f, 1});
    broken.add_edge(7, 1, {1.5f, 0}, {1.5f, 1});
    RouteFinder finder;
    finder.bind(broken.graph());
    ASSERT_EQ(finder.find(0, 1, {}), RouteEnd::target);
    const Fault fault = testing_support::expect_fault([&] { finder.find(1, 0, {}); });
    EXPECT_EQ(fault.kind, Fault::Kind::edge_target);
    EXPECT_EQ(fault.node, 1u);
    EXPECT_EQ(fault.edge, 1u);
    EXPECT_EQ(fault.other, 7u);
    EXPECT_EQ(fault.table_size, 2u);
    // The next query starts from clean tables.
    finder.bind(tables.graph());
    EXPECT_EQ(finder.find(0, 4, {}), RouteEnd::target);
    EXPECT_EQ(nodes_of(finder), (std::vector<std::uint32_t>{0, 1, 2, 3, 4}));
}

std::vector<std::pair<float, float>> taut(PointValue from, std::vector<SidedPortal> portals, PointValue to) {
    GrowableArray<PointValue> polyline;
    pull_taut(from, portals, to, polyline, Site::route);
    std::vector<std::pair<float, float>> points;
    for (const PointValue point : polyline) {
        points.emplace_back(point.x, point.y);
    }
    return points;
}

using Points = std::vector<std::pair<float, float>>;

TEST(Funnel, StraightThroughAndAroundACorner) {
    const std::vector<SidedPortal> open = {{{1, 2}, {1, -2}}, {{2, 2}, {2, -2}}};
    EXPECT_EQ(taut({0, 0}, open, {3, 0}), (Points{{0, 0}, {3, 0}}));
    // The second portal lies high up: the path bends around the first one's upper end.
    const std::vector<SidedPortal> bend = {{{1, 1}, {1, -1}}, {{2, 5}, {2, 3}}};
    EXPECT_EQ(taut({0, 0}, bend, {3, 8}), (Points{{0, 0}, {1, 1}, {3, 8}}));
    // Zero-length portals and equal end points.
    const std::vector<SidedPortal> pinched = {{{1, 0.5f}, {1, 0.5f}}};
    EXPECT_EQ(taut({0, 0}, pinched, {2, 0}), (Points{{0, 0}, {1, 0.5f}, {2, 0}}));
    EXPECT_EQ(taut({1, 1}, {}, {1, 1}), (Points{{1, 1}, {1, 1}}));
    // A corner on the end point is the end point, not a repeat of it.
    EXPECT_EQ(taut({0, 0}, bend, {2, 5}), (Points{{0, 0}, {1, 1}, {2, 5}}));
}

TEST(Funnel, PortalSidesComeFromTheGeometry) {
    const PointValue a{1, 2}, b{1, -2};
    for (const PointValue behind : {PointValue{0, 0}, PointValue{0, 9}}) {
        const SidedPortal forward = orient_portal(a, b, behind, {2, 0});
        const SidedPortal swapped = orient_portal(b, a, behind, {2, 0});
        EXPECT_EQ(forward.left.y, swapped.left.y);
        EXPECT_EQ(forward.left.y, 2.0f);  // y up, heading +x: the left end is the upper one
        const SidedPortal back = orient_portal(a, b, {2, 0}, behind);
        EXPECT_EQ(back.left.y, -2.0f);
    }
    // Centroids on the portal's line: the portal's midpoint gives the direction.
    EXPECT_EQ(orient_portal(a, b, {1, 5}, {2, 0}).left.y, 2.0f);
}

}  // namespace
}  // namespace walkmesh
