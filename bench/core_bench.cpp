// Benchmark of the search core against Boost.Graph's astar_search on real meshes:
// same tables, integer costs, estimate and queries. Checks that both find paths of
// equal cost for every query, then times both side by side.
//
// Usage: walkmesh_core_bench [NAVMESH_DIR] [--rounds N] [--only aurora|berlin]
#include <boost/graph/astar_search.hpp>
#include <boost/graph/compressed_sparse_row_graph.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "search_stats.hpp"
#include "walkmesh/search.hpp"
#include "mesh.hpp"

namespace walkmesh::bench {
namespace {

struct EdgeCost {
    std::uint32_t cost;
};

using BoostGraph =
    boost::compressed_sparse_row_graph<boost::directedS, boost::no_property, EdgeCost,
                                       boost::no_property, std::uint32_t, std::uint32_t>;
using BoostVertex = boost::graph_traits<BoostGraph>::vertex_descriptor;

struct GoalReached {};

class StraightLineEstimate : public boost::astar_heuristic<BoostGraph, std::uint32_t> {
public:
    StraightLineEstimate(const Graph& view, std::uint32_t goal)
        : view_(&view), goal_(view.centroid(goal)) {}
    std::uint32_t operator()(BoostVertex v) const { return heuristic(view_->centroid(v), goal_); }

private:
    const Graph* view_;
    PointValue goal_;
};

// Ends the search when the goal is taken out of the queue; optionally counts the
// vertices expanded before it.
class StopAtGoal : public boost::default_astar_visitor {
public:
    StopAtGoal(BoostVertex goal, std::uint64_t* expansions)
        : goal_(goal), expansions_(expansions) {}
    void examine_vertex(BoostVertex u, const BoostGraph&) {
        if (u == goal_) {
            throw GoalReached{};
        }
        if (expansions_ != nullptr) {
            ++*expansions_;
        }
    }

private:
    BoostVertex goal_;
    std::uint64_t* expansions_;
};

// Boost.Graph's A* over the same tables, with its property maps allocated once.
class BoostSearch {
public:
    explicit BoostSearch(const NavTables& tables) : view_(tables.graph()) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
        std::vector<EdgeCost> costs;
        for (std::uint32_t u = 0; u < view_.node_count(); ++u) {
            const EdgeRun run = view_.edges_of(u, [&](std::uint32_t start, std::uint32_t end) {
                raise_fault({.kind = Fault::Kind::walk_run, .node = u, .run_start = start, .run_end = end,
                             .table_size = view_.edge_count()});
            });
            for (const EdgeRef edge : run) {
                pairs.emplace_back(u, edge.to());
                costs.push_back({edge.cost()});
            }
        }
        graph_ = BoostGraph(boost::edges_are_sorted, pairs.begin(), pairs.end(), costs.begin(),
                            static_cast<std::uint32_t>(view_.node_count()));
        const std::size_t n = view_.node_count();
        predecessor_.resize(n);
        distance_.resize(n);
        rank_.resize(n);
        color_.resize(n);
    }

    // The cost of the path found, or nothing when the goal cannot be reached.
    std::optional<std::uint32_t> search(std::uint32_t start, std::uint32_t goal,
                                        std::uint64_t* expansions) {
        const auto index = boost::get(boost::vertex_index, graph_);
        try {
            boost::astar_search(
                graph_, start, StraightLineEstimate(view_, goal), StopAtGoal(goal, expansions),
                boost::make_iterator_property_map(predecessor_.begin(), index),
                boost::make_iterator_property_map(rank_.begin(), index),
                boost::make_iterator_property_map(distance_.begin(), index),
                boost::get(&EdgeCost::cost, graph_), index,
                boost::make_iterator_property_map(color_.begin(), index),
                std::less<std::uint32_t>(), boost::closed_plus<std::uint32_t>(UINT32_MAX),
                UINT32_MAX, std::uint32_t{0});
        } catch (const GoalReached&) {
            return distance_[goal];
        }
        return std::nullopt;
    }

private:
    Graph view_;
    BoostGraph graph_;
    std::vector<BoostVertex> predecessor_;
    std::vector<std::uint32_t> distance_;
    std::vector<std::uint32_t> rank_;
    std::vector<boost::default_color_type> color_;
};

struct Verification {
    std::size_t reached = 0;
    std::size_t unreachable = 0;
    std::size_t mismatches = 0;
    std::uint64_t walkmesh_expansions = 0;
    std::uint64_t boost_expansions = 0;
};

Verification verify(const NavTables& tables, BoostSearch& boost_search, const Workload& workload) {
    const Graph graph = tables.graph();
    Verification result;
    for (const Query& query : workload.queries) {
        SearchStats stats;
        const auto points = search_path_with_stats(graph, query.start, query.target, stats);
        std::uint64_t boost_expansions = 0;
        const auto boost_cost = boost_search.search(query.start, query.target, &boost_expansions);
        result.walkmesh_expansions += stats.expansions;
        result.boost_expansions += boost_expansions;
        const bool equal =
            points.has_value() == boost_cost.has_value() &&
            (!points || (stats.route_cost == *boost_cost && stats.target_cost == *boost_cost));
        if (!equal) {
            if (++result.mismatches <= 5) {
                std::printf(
                    "  MISMATCH %u -> %u: walkmesh %s cost %u (route %llu), boost %s cost %u\n",
                    query.start, query.target, points ? "reached" : "no path", stats.target_cost,
                    static_cast<unsigned long long>(stats.route_cost),
                    boost_cost ? "reached" : "no path", boost_cost.value_or(0));
            }
        } else if (points) {
            ++result.reached;
        } else {
            ++result.unreachable;
        }
    }
    return result;
}

// Keeps the timed results observable.
volatile std::uint64_t result_sink = 0;

// CPU time of this thread: on a shared machine wall time also counts the time
// other processes hold the core.
double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

template <class Body>
double seconds_of(Body&& body) {
    const double begin = thread_seconds();
    body();
    return thread_seconds() - begin;
}

double time_walkmesh(const NavTables& tables, const Workload& workload) {
    const Graph graph = tables.graph();
    std::size_t points = 0;
    const double seconds = seconds_of([&] {
        for (const Query& query : workload.queries) {
            const auto route = search_path(graph, query.start, query.target);
            points += route ? route->size() : 0;
        }
    });
    result_sink = points;
    return seconds;
}

double time_boost(BoostSearch& boost_search, const Workload& workload) {
    std::uint64_t total = 0;
    const double seconds = seconds_of([&] {
        for (const Query& query : workload.queries) {
            total += boost_search.search(query.start, query.target, nullptr).value_or(0);
        }
    });
    result_sink = total;
    return seconds;
}

struct Row {
    double us_per_query;
    double expansions_per_query;
    double ns_per_expansion;
};

Row row_of(double seconds, std::uint64_t expansions, std::size_t queries) {
    const double per_query = seconds * 1e6 / static_cast<double>(queries);
    const double expansions_per_query =
        static_cast<double>(expansions) / static_cast<double>(queries);
    return {per_query, expansions_per_query, per_query * 1e3 / expansions_per_query};
}

// Returns false when the two searches disagree on any query.
bool run_workload(const char* name, const NavTables& tables, const Workload& workload, int rounds) {
    BoostSearch boost_search(tables);
    std::printf("%s: %zu nodes, %zu edges, %zu queries (%zu skipped: a point in no polygon)\n",
                name, tables.node_count(), tables.edge_count(), workload.queries.size(),
                workload.skipped);
    const Verification check = verify(tables, boost_search, workload);
    std::printf("  equal path costs: %zu reached + %zu unreachable on both, %zu mismatches\n",
                check.reached, check.unreachable, check.mismatches);

    double best_walkmesh = 1e300;
    double best_boost = 1e300;
    for (int round = 0; round < rounds; ++round) {
        best_walkmesh = std::min(best_walkmesh, time_walkmesh(tables, workload));
        best_boost = std::min(best_boost, time_boost(boost_search, workload));
    }
    const std::size_t queries = workload.queries.size();
    const Row walkmesh = row_of(best_walkmesh, check.walkmesh_expansions, queries);
    const Row boost = row_of(best_boost, check.boost_expansions, queries);
    std::printf("  %-12s %12s %14s %12s\n", "", "us/query", "expansions/q", "ns/expansion");
    std::printf("  %-12s %12.1f %14.1f %12.1f\n", "walkmesh", walkmesh.us_per_query,
                walkmesh.expansions_per_query, walkmesh.ns_per_expansion);
    std::printf("  %-12s %12.1f %14.1f %12.1f\n", "Boost.Graph", boost.us_per_query,
                boost.expansions_per_query, boost.ns_per_expansion);
    std::printf("  time per query, walkmesh / Boost.Graph: %.2fx\n\n",
                walkmesh.us_per_query / boost.us_per_query);
    return check.mismatches == 0;
}

int run(int argc, char** argv) {
    std::string mesh_dir = WALKMESH_DEFAULT_NAVMESH_DIR;
    int rounds = 5;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--only" && i + 1 < argc) {
            only = argv[++i];
        } else {
            mesh_dir = arg;
        }
    }
    std::printf("walkmesh search core vs Boost.Graph astar_search\n");
    std::printf("times: thread CPU time, best of %d rounds, both interleaved in this run\n",
                rounds);
    std::printf("meshes: %s\n\n", mesh_dir.c_str());

    bool equal = true;
    if (only.empty() || only == "aurora") {
        const Mesh aurora = read_mesh(mesh_dir + "/aurora.mesh");
        const NavTables tables = build_tables(aurora);
        const Workload queries = scenario_workload(aurora, mesh_dir + "/aurora.scen");
        equal = run_workload("aurora (aurora.scen)", tables, queries, rounds) && equal;
    }
    if (only.empty() || only == "berlin") {
        const Mesh berlin = read_mesh(mesh_dir + "/Berlin_0_1024.mesh");
        const NavTables tables = build_tables(berlin);
        const Workload pairs = random_pairs_workload(tables, 1000, 20261207);
        equal = run_workload("Berlin_0_1024 (random pairs)", tables, pairs, rounds) && equal;
    }
    return equal ? 0 : 1;
}

}  // namespace
}  // namespace walkmesh::bench

int main(int argc, char** argv) {
    try {
        return walkmesh::bench::run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "walkmesh_core_bench: %s\n", error.what());
        return 2;
    }
}
