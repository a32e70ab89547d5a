// The graph view: record fields at any address and the run check.
#include <gtest/gtest.h>

#include <vector>

#include "core_testing.hpp"
#include "graph.hpp"

namespace walkmesh {
namespace {

using testing_support::expect_internal_failure;
using testing_support::failed_with;
using testing_support::RecordTables;

constexpr SourceLocation run_site{"src/graph", 32, 27};

TEST(GraphView, ReadsEveryFieldAtAnyAddress) {
    RecordTables tables;
    tables.add_node({1.5f, -2.25f}, 0, 2);
    tables.add_node({3e38f, 1e-40f}, 2, 0);
    tables.add_edge(1, 77, {0.5f, 1.5f}, {2.5f, 3.5f}, 0xDEADBEEF);
    tables.add_edge(4000000000u, 4294967295u, {-1, -2}, {-3, -4});
    for (std::size_t offset : {0u, 1u, 3u}) {
        const Graph graph = tables.graph(offset);
        ASSERT_EQ(graph.node_count(), 2u);
        ASSERT_EQ(graph.edge_count(), 2u);
        const NodeRecord second = graph.node(1);
        EXPECT_EQ(second.centroid.x, 3e38f);
        EXPECT_EQ(second.centroid.y, 1e-40f);
        EXPECT_EQ(second.edge_start, 2u);
        EXPECT_EQ(second.edge_count, 0u);
        EXPECT_EQ(graph.centroid(0).y, -2.25f);

        const EdgeRun run = graph.edges_of(0, run_site);
        ASSERT_EQ(run.size(), 2u);
        EXPECT_EQ(run[0].to(), 1u);
        EXPECT_EQ(run[0].cost(), 77u);
        EXPECT_EQ(run[0].left().y, 1.5f);
        EXPECT_EQ(run[0].right().x, 2.5f);
        EXPECT_EQ(run[1].to(), 4000000000u);
        EXPECT_EQ(run[1].cost(), 4294967295u);
        EXPECT_EQ(run[1].right().y, -4.0f);
    }
}

TEST(GraphView, OverlappingRunsSeeTheSameRecordsInTableOrder) {
    RecordTables tables;
    tables.add_node({0, 0}, 0, 3);
    tables.add_node({0, 0}, 1, 2);
    for (std::uint32_t to : {10u, 11u, 12u}) {
        tables.add_edge(to, 1, {0, 0}, {0, 0});
    }
    const Graph graph = tables.graph();
    std::vector<std::uint32_t> first, second;
    for (EdgeRef edge : graph.edges_of(0, run_site)) {
        first.push_back(edge.to());
    }
    for (EdgeRef edge : graph.edges_of(1, run_site)) {
        second.push_back(edge.to());
    }
    EXPECT_EQ(first, (std::vector<std::uint32_t>{10, 11, 12}));
    EXPECT_EQ(second, (std::vector<std::uint32_t>{11, 12}));
}

TEST(GraphView, EmptyRunAtTheEndOfTheTable) {
    RecordTables tables;
    tables.add_node({0, 0}, 1, 0);
    tables.add_edge(0, 1, {0, 0}, {0, 0});
    EXPECT_EQ(tables.graph().edges_of(0, run_site).size(), 0u);
}

TEST(GraphView, RunFailuresNameStartWrappedEndAndLength) {
    struct Case {
        std::uint32_t edge_start;
        std::uint32_t edge_count;
        const char* message;
    };
    const Case cases[] = {
        {11, 0, "range start index 11 out of range for slice of length 10"},
        {10, 1, "range end index 11 out of range for slice of length 10"},
        {0, 11, "range end index 11 out of range for slice of length 10"},
        {5, 4294967295u, "slice index starts at 5 but ends at 4"},
        {1, 4294967295u, "slice index starts at 1 but ends at 0"},
    };
    for (const Case& run : cases) {
        RecordTables tables;
        tables.add_node({0, 0}, run.edge_start, run.edge_count);
        for (int i = 0; i < 10; ++i) {
            tables.add_edge(0, 1, {0, 0}, {0, 0});
        }
        const Graph graph = tables.graph();
        const InternalFailure failure =
            expect_internal_failure([&] { graph.edges_of(0, run_site); });
        EXPECT_TRUE(failed_with(failure, run.message, "src/graph", 32, 27));
    }
}

}  // namespace
}  // namespace walkmesh
