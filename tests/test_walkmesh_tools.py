"""The mesh tools that the demo, the tests and the benchmarks share: the tables must
follow the mesh rules exactly, since the C++ benchmark builds the same ones."""
import math

import numpy as np
from hypothesis import given, settings
from hypothesis import strategies as st

import walkmesh_tools as tools

MESH = tools.load_mesh(tools.small_mesh_path())
NODES, EDGES = tools.build_tables(MESH)
LOCATOR = tools.PolygonLocator(MESH)


def test_tables_follow_the_mesh_rules():
    assert len(NODES) == len(MESH.polygons) and NODES.dtype.itemsize == 16 and EDGES.dtype.itemsize == 28
    assert list(NODES["edge_start"]) == list(np.cumsum(NODES["edge_count"]) - NODES["edge_count"])
    portals = {}
    for a, (corners, neighbours) in enumerate(MESH.polygons):
        xs, ys = zip(*(MESH.vertices[v] for v in corners))
        assert tuple(NODES[a]["centroid"]) == (np.float32(sum(xs) / len(xs)), np.float32(sum(ys) / len(ys)))
        run = EDGES[NODES[a]["edge_start"]:][:NODES[a]["edge_count"]]
        assert list(run["to"]) == [p for p in neighbours if p != -1]
        for edge in run:
            b = int(edge["to"])
            distance = math.dist(tuple(map(float, NODES[a]["centroid"])), tuple(map(float, NODES[b]["centroid"])))
            assert edge["cost"] == math.ceil(distance) and edge["padding"] == 0
            portals[a, b] = (tuple(edge["left"]), tuple(edge["right"]))
    # Every portal is the same side seen from both polygons, in opposite directions.
    for (a, b), (left, right) in portals.items():
        assert portals[b, a] == (right, left)


def brute_force_locate(x, y):
    for index, (corners, _) in enumerate(MESH.polygons):
        points = [MESH.vertices[v] for v in corners]
        if all((bx - ax) * (y - ay) - (by - ay) * (x - ax) >= 0
               for (ax, ay), (bx, by) in zip(points[-1:] + points[:-1], points)):
            return index
    return None


@settings(max_examples=300, deadline=None)
@given(st.one_of(st.floats(-1, 13), st.integers(-1, 13).map(float)),
       st.one_of(st.floats(-1, 9), st.integers(-1, 9).map(float)))
def test_locator_finds_the_lowest_index_polygon(x, y):
    assert LOCATOR.locate(x, y) == brute_force_locate(x, y)


def test_scenario_queries_skip_points_in_no_polygon():
    scenarios = [((1, 1), (11, 1)), ((13, 1), (1, 1)), ((1, 1), (5, 3)), ((0, 0), (12, 8))]
    queries = tools.scenario_queries(MESH, scenarios)
    assert [(q.start, q.target) for q in queries] == [(0, brute_force_locate(11, 1)), (0, len(NODES) - 1)]
    assert queries[1].target_point == (12.0, 8.0)


def test_splitmix64_and_random_node_queries():
    numbers = tools.splitmix64(0)
    assert [next(numbers) for _ in range(2)] == [0xE220A8397B1DCDAF, 0x6E789E6AA1B965F4]
    queries = tools.random_node_queries(NODES, count=3, seed=20261207)
    numbers = tools.splitmix64(20261207)
    for q in queries:
        assert (q.start, q.target) == (next(numbers) % len(NODES), next(numbers) % len(NODES))
        assert q.target_point == tuple(map(float, NODES[q.target]["centroid"]))
