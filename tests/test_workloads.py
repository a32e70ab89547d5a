"""The workloads that the demo, the tests and the benchmarks share, and the examples
in walkmesh_tools' docstrings."""
import doctest
import importlib
import pkgutil

import numpy as np
import pytest

import walkmesh_tools as tools

MESH = tools.NavMesh.load(tools.small_mesh_path())


def test_scenario_queries_skip_points_in_no_polygon():
    scenarios = [((1, 1), (11, 1)), ((13, 1), (1, 1)), ((1, 1), (5, 3)), ((0, 0), (12, 8)), ((1, 1), (0.1, 0.3))]
    queries = tools.scenario_queries(MESH, scenarios)
    assert [(q.start, q.target) for q in queries] == [(0, MESH.locate((11, 1))), (0, len(MESH) - 1), (0, 0)]
    assert queries[1].target_point == (12.0, 8.0) and queries[1].start_point == (0, 0)
    # The target point is rounded to float32 once, as the search sees it.
    assert queries[2].target_point == (float(np.float32(0.1)), float(np.float32(0.3)))
    assert tools.scenario_queries(MESH, []) == []


def test_splitmix64_and_random_node_queries():
    numbers = tools.splitmix64(0)
    assert [next(numbers) for _ in range(2)] == [0xE220A8397B1DCDAF, 0x6E789E6AA1B965F4]
    queries = tools.random_node_queries(MESH.nodes, count=3, seed=20261207)
    numbers = tools.splitmix64(20261207)
    for q in queries:
        assert (q.start, q.target) == (next(numbers) % len(MESH), next(numbers) % len(MESH))
        assert q.target_point == tuple(map(float, MESH.nodes[q.target]["centroid"]))


def test_random_obstacle_maps_are_convex_and_repeatable():
    walkable, obstacles = tools.random_obstacle_map(200, 100, count=50, seed=3)
    again = tools.random_obstacle_map(200, 100, count=50, seed=3)[1]
    assert all(np.array_equal(a, b) for a, b in zip(obstacles, again))
    assert walkable.tolist() == [[0, 0], [200, 0], [200, 100], [0, 100]]
    for ring in obstacles:
        assert 3 <= len(ring) <= 7
        # Counter-clockwise and convex: every turn goes left.
        u, v = np.roll(ring, -1, axis=0) - ring, np.roll(ring, -2, axis=0) - np.roll(ring, -1, axis=0)
        turn = u[:, 0] * v[:, 1] - u[:, 1] * v[:, 0]
        assert (turn > 0).all()
    centres = np.array([ring.mean(axis=0) for ring in obstacles])
    assert (centres.min(axis=0) > -12).all() and (centres.max(axis=0) < (212, 112)).all()
    assert not np.array_equal(obstacles[0], tools.random_obstacle_map(200, 100, count=1, seed=4)[1][0])


def needs(example):
    """The optional package an example needs, if any."""
    if "from_shapes" in example.name or example.name.startswith("walkmesh_tools.shapes"):
        return "shapely"
    return None


def docstring_examples():
    names = [m.name for m in pkgutil.iter_modules(tools.__path__) if m.name != "demo"]
    modules = [tools] + [importlib.import_module(f"walkmesh_tools.{name}") for name in names]
    finder = doctest.DocTestFinder()
    return [test for module in modules for test in finder.find(module) if test.examples]


@pytest.mark.parametrize("example", docstring_examples(), ids=lambda t: t.name)
def test_docstring_examples_run(example):
    if needs(example):
        pytest.importorskip(needs(example))
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(example)
    assert runner.failures == 0
