// The graph view: record fields at any address and the run check.
#include <gtest/gtest.h>

#include <vector>

#include "core_testing.hpp"
#include "core/graph.hpp"

namespace walkmesh {
namespace {

using testing_support::expect_fault;
using testing_support::RecordTables;

// Node i's run; a run outside the edge table is the walk's fault.
EdgeRun run_of(const Graph& graph, std::uint32_t i) {
    return graph.edges_of(i, [&](std::uint32_t start, std::uint32_t end) {
        raise_fault({.kind = Fault::Kind::walk_run, .node = i, .run_start = start, .run_end = end,
                     .table_size = graph.edge_count()});
    });
}

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

        const EdgeRun run = run_of(graph, 0);
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
    for (EdgeRef edge : run_of(graph, 0)) {
        first.push_back(edge.to());
    }
    for (EdgeRef edge : run_of(graph, 1)) {
        second.push_back(edge.to());
    }
    EXPECT_EQ(first, (std::vector<std::uint32_t>{10, 11, 12}));
    EXPECT_EQ(second, (std::vector<std::uint32_t>{11, 12}));
}

TEST(GraphView, EmptyRunAtTheEndOfTheTable) {
    RecordTables tables;
    tables.add_node({0, 0}, 1, 0);
    tables.add_edge(0, 1, {0, 0}, {0, 0});
    EXPECT_EQ(run_of(tables.graph(), 0).size(), 0u);
}

TEST(GraphView, RunFailuresNameStartWrappedEndAndLength) {
    struct Case {
        std::uint32_t edge_start;
        std::uint32_t edge_count;
        std::uint32_t wrapped_end;
    };
    const Case cases[] = {{11, 0, 11}, {10, 1, 11}, {0, 11, 11}, {5, 4294967295u, 4}, {1, 4294967295u, 0}};
    for (const Case& run : cases) {
        RecordTables tables;
        tables.add_node({0, 0}, run.edge_start, run.edge_count);
        for (int i = 0; i < 10; ++i) {
            tables.add_edge(0, 1, {0, 0}, {0, 0});
        }
        const Graph graph = tables.graph();
        const Fault fault = expect_fault([&] { run_of(graph, 0); });
        EXPECT_EQ(fault.kind, Fault::Kind::walk_run);
        EXPECT_EQ(fault.run_start, run.edge_start);
        EXPECT_EQ(fault.run_end, run.wrapped_end);
        EXPECT_EQ(fault.table_size, 10u);
    }
}

}  // namespace
}  // namespace walkmesh
