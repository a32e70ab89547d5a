"""The checks that bench/compare.py relies on to call the tools equal: the peers'
estimate is walkmesh's, find_path's points lead back to the route's nodes, and the
route costs what the cheapest path costs."""
import heapq
import math
import sys
from pathlib import Path

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

import reference
import walkmesh_tools as tools
from graphs import make_edges, make_nodes
from walkmesh import Point, find_path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "bench"))
import compare  # noqa: E402
import peers  # noqa: E402
import workloads  # noqa: E402

MESH = tools.NavMesh.load(workloads.small_mesh_path())
NODES, EDGES = MESH.nodes, MESH.edges


def cheapest_costs(graph, start):
    """Dijkstra over the merged edges: the cost of the cheapest path to every node."""
    costs = {start: 0}
    queue = [(0, start)]
    while queue:
        cost, u = heapq.heappop(queue)
        if cost > costs[u]:
            continue
        for (a, b), step in graph.pair_cost.items():
            if a == u and cost + step < costs.get(b, math.inf):
                costs[b] = cost + step
                heapq.heappush(queue, (cost + step, b))
    return costs


def case_of(nodes, edges, pairs):
    queries = [workloads.Query(s, t, (0.0, 0.0), (0.0, 0.0)) for s, t in pairs]
    return compare.Case("test", nodes, edges, queries, graph=peers.Graph.from_tables(nodes, edges))


def routes_of(case):
    reader = compare.RouteReader(case.nodes, case.edges)
    for index, query in enumerate(case.queries):
        points = find_path(case.nodes, case.edges, query.start, query.target, Point(0.0, 0.0))
        compare.check_find_path(case, index, points, reader)
    return case.costs


finite = st.floats(-1e4, 1e4, width=32)


@settings(max_examples=60, deadline=None)
@given(st.lists(st.tuples(finite, finite), min_size=1, max_size=40), st.integers(0, 39))
# A square root just below an integer, where NumPy's float32 loop on 32-bit ARM rounds wrongly.
@example([(-5309.572265625, -1378.05517578125), (2039.461181640625, -10000.0)], 0)
def test_the_peers_estimate_is_walkmeshs(centroids, target):
    nodes = make_nodes([((x, y), 0, 0) for x, y in centroids])
    graph = peers.Graph.from_tables(nodes, make_edges([]))
    target %= len(centroids)
    goal = centroids[target]
    expected = [reference.estimate(point, goal) for point in centroids]
    assert graph.estimates(target) == expected


def test_find_path_routes_on_the_mesh_cost_the_cheapest_path():
    n = len(NODES)
    case = case_of(NODES, EDGES, [(s, t) for s in range(n) for t in range(n)])
    costs = routes_of(case)
    assert case.mismatches == []
    for index, query in enumerate(case.queries):
        assert costs[index] == cheapest_costs(case.graph, query.start).get(query.target), query


def test_unreachable_targets_and_broken_routes_are_told_apart():
    # 0 -> 1 -> 2, and node 3 with no way in.
    nodes = make_nodes([((0.0, 0.0), 0, 1), ((1.0, 0.0), 1, 1), ((2.0, 0.0), 2, 0), ((9.0, 9.0), 2, 0)])
    edges = make_edges([(1, 1, (0.5, -1.0), (0.5, 1.0)), (2, 1, (1.5, -1.0), (1.5, 1.0))])
    case = case_of(nodes, edges, [(0, 2), (0, 3), (2, 2)])
    assert routes_of(case) == {0: 2, 1: None, 2: 0}
    assert case.mismatches == []
    # Points that follow no edge are reported, not costed.
    bad = compare.RouteReader(nodes, edges)
    compare.check_find_path(case, 0, [Point(7.0, 7.0), Point(0.0, 0.0)], bad)
    assert case.costs[0] == -1 and len(case.mismatches) == 1


def test_parallel_edges_cost_their_cheapest():
    nodes = make_nodes([((0.0, 0.0), 0, 2), ((1.0, 0.0), 2, 0)])
    edges = make_edges([(1, 7, (0.5, 0.0), (0.5, 1.0)), (1, 3, (0.5, 2.0), (0.5, 3.0))])
    graph = peers.Graph.from_tables(nodes, edges)
    assert graph.pair_cost == {(0, 1): 3}
    assert list(graph.costs) == [3]
    # find_path walks the first edge's portal but pays the cheaper one.
    assert routes_of(case_of(nodes, edges, [(0, 1)])) == {0: 3}


@pytest.mark.parametrize("count, expected", [(None, [0, 1, 2, 3, 4]), (2, [0, 2]), (9, [0, 1, 2, 3, 4])])
def test_workload_samples_spread_over_the_queries(count, expected):
    assert compare.every(list(range(5)), count) == expected
